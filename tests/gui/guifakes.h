#pragma once

// Fakes for the window tests and the benchmark: dialogs answered from a script and a printer that
// records what it is asked to print (the mailer is tests/support/fakemailer.h).

#include "gui/userdialogs.h"
#include "run/printer.h"

#include <QMutex>
#include <QStringList>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

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
};

/// Records every document; each print takes `printTime`, and while the printer is held a print
/// waits for release() (at most ten seconds, so a print made on the wrong thread fails its test
/// instead of hanging it).
class RecordingPrinter final : public Printer
{
public:
    bool printDocument(const QString &path, QString *error = nullptr) override
    {
        {
            std::unique_lock lock(m_gateMutex);
            m_gate.wait_for(lock, std::chrono::seconds(10), [this] { return !m_held; });
        }
        std::this_thread::sleep_for(printTime);
        QMutexLocker lock(&m_mutex);
        m_printed.append(path);
        if (!failure.isEmpty() && error)
            *error = failure;
        return failure.isEmpty();
    }
    QStringList printed() const
    {
        QMutexLocker lock(&m_mutex);
        return m_printed;
    }
    void hold()
    {
        std::lock_guard lock(m_gateMutex);
        m_held = true;
    }
    void release()
    {
        {
            std::lock_guard lock(m_gateMutex);
            m_held = false;
        }
        m_gate.notify_all();
    }
    QString failure;
    std::chrono::milliseconds printTime{0};

private:
    mutable QMutex m_mutex;
    QStringList m_printed;
    std::mutex m_gateMutex;
    std::condition_variable m_gate;
    bool m_held = false;
};

} // namespace quorvale::test
