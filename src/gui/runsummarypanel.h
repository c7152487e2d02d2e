#pragma once

#include "run/runreport.h"

#include <QFrame>

class QLabel;
class QPlainTextEdit;

namespace quorvale {

/// What the last run did, shown under the status box until the next run starts: the counts,
/// each failed client with its reason, and a link to the run's journal.
class RunSummaryPanel final : public QFrame
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RunSummaryPanel)

public:
    explicit RunSummaryPanel(QWidget *parent = nullptr);

    /// Shows what a run did; `journalPath` empty: the run kept no journal.
    void showRun(const RunTally &tally, const QString &journalPath);
    /// Hides the panel (a new run starts).
    void clear();

Q_SIGNALS:
    /// The user chose the journal link.
    void journalRequested(const QString &path);

private:
    QLabel *m_counts;
    QPlainTextEdit *m_failures;
    QLabel *m_journal;
    QString m_journalPath;
};

} // namespace quorvale
