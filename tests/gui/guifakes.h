#pragma once

// The window's own fake for the window tests, the screenshots and the benchmark: dialogs answered
// from a script (the fakes of the other seams are in tests/support/testfakes.h).

#include "gui/userdialogs.h"
#include <QList>

#include <QStringList>
#include <QUrl>

#include <functional>


namespace quorvale::test {

using namespace Qt::StringLiterals;

/// Message boxes and file dialogs that never block: warnings and questions are recorded, the
/// question gets `answer`, the file dialog returns the next of `files` (empty text: cancel).
class ScriptedDialogs final : public UserDialogs
{
public:
    void warn(QWidget *, const QString &message) override { warnings.append(message); }
    bool askYesNo(QWidget *, const QString &question) override
    {
        questions.append(question);
        return answer;
    }
    QString chooseOpenFile(QWidget *, const QString &title, const QString &filters, const QString &folder,
                           const QString &fileName) override
    {
        fileDialogs.append({title, filters, folder, fileName});
        return files.isEmpty() ? QString() : files.takeFirst();
    }
    void openUrl(const QUrl &url) override { openedUrls.append(url); }
    bool tryOpenUrl(const QUrl &url) override
    {
        openedUrls.append(url);
        return urlsOpen;
    }
    bool confirm(QWidget *parent, const QString &question, const QString &details, bool defaultNo) override
    {
        confirmDetails.append(details);
        confirmDefaultNo.append(defaultNo);
        if (onConfirm)
            onConfirm(parent, question, details);
        return askYesNo(parent, question);
    }
    int choose(QWidget *parent, const QString &question, const QStringList &, int defaultChoice) override
    {
        chooseDefaults.append(defaultChoice);
        if (choices.isEmpty())
            return askYesNo(parent, question) ? 0 : -1;
        questions.append(question);
        return choices.takeFirst();
    }
    bool warnOffering(QWidget *parent, const QString &message, const QString &action) override
    {
        offered.append(action);
        warn(parent, message);
        return takeOffer;
    }

    struct FileDialog
    {
        QString title, filters, folder, fileName;
    };
    bool answer = true;
    QStringList files;
    QStringList warnings;
    QStringList questions;
    QList<FileDialog> fileDialogs;
    QList<QUrl> openedUrls;
    bool urlsOpen = true;         ///< what tryOpenUrl answers
    QStringList confirmDetails;   ///< what each run's confirmation showed under its question
    QList<bool> confirmDefaultNo; ///< whether each run's confirmation had No as its default
    QStringList offered;          ///< the extra button of each warning that had one
    bool takeOffer = false;       ///< a warning's extra button is chosen
    QList<int> choices;           ///< answers to the next questions with several answers, in order
    QList<int> chooseDefaults;    ///< the default answer of each question with several answers
    /// Called with each run's confirmation before it is answered (to photograph it, say).
    std::function<void(QWidget *parent, const QString &question, const QString &details)> onConfirm;
};

} // namespace quorvale::test
