#include "gui/runsummarypanel.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace quorvale {

RunSummaryPanel::RunSummaryPanel(QWidget *parent)
    : QFrame(parent), m_counts(new QLabel(this)), m_failures(new QPlainTextEdit(this)), m_journal(new QLabel(this))
{
    setObjectName(u"runSummary"_s);
    setFrameShape(QFrame::StyledPanel);
    m_counts->setObjectName(u"lblRunCounts"_s);
    m_counts->setWordWrap(true);
    m_counts->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_failures->setObjectName(u"txtRunFailures"_s);
    m_failures->setReadOnly(true);
    m_failures->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_failures->setTabChangesFocus(true);
    m_failures->setToolTip(u"The clients that got neither their message nor their printout, and why"_s);
    // Room for five failures where the window has it, three on a small screen; more scroll.
    const int line = QFontMetrics(m_failures->font()).lineSpacing();
    m_failures->setMinimumHeight(line * 3 + 12);
    m_failures->setMaximumHeight(line * 5 + 12);
    m_journal->setObjectName(u"lblRunJournal"_s);
    m_journal->setTextFormat(Qt::RichText);
    m_journal->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(m_journal, &QLabel::linkActivated, this, [this] { Q_EMIT journalRequested(m_journalPath); });

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->addWidget(m_counts);
    layout->addWidget(m_failures);
    layout->addWidget(m_journal);
    hide();
}

void RunSummaryPanel::showRun(const RunTally &tally, const QString &journalPath)
{
    m_counts->setText(u"Last run: "_s + runTallyLine(tally) +
                      (tally.stopReason.isEmpty() ? QString() : u"\nStopped: "_s + tally.stopReason));
    QStringList failures;
    for (const ClientFailure &failure : tally.failures)
        failures.append(clientFailureText(failure));
    m_failures->setPlainText(failures.join(u'\n'));
    m_failures->setVisible(!failures.isEmpty());
    m_journalPath = journalPath;
    m_journal->setText(journalPath.isEmpty() ? QString() : u"<a href=\"journal\">Open this run's journal</a>"_s);
    m_journal->setToolTip(journalPath);
    m_journal->setVisible(!journalPath.isEmpty());
    show();
}

void RunSummaryPanel::clear()
{
    hide();
    m_counts->clear();
    m_failures->clear();
    m_journalPath.clear();
}

} // namespace quorvale
