#include "run/bouncecheck.h"

#include "mail/inboxreader.h"
#include "run/journal.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <map>
#include <memory>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

/// A run's journal, as far as a check needs it.
struct RunJournal
{
    QList<JournalEntry> header; ///< its first lines: the run and the mailing
    QString path;
};

/// One message a run sent: the client's attempt line (its detail the Message-ID) and the subject.
struct JournalledSend
{
    qsizetype run = 0;
    JournalEntry attempt;
    QString subject;
};

/// A report's date comes from another computer's clock: a send up to this long after it may
/// still be the one it reports.
constexpr qint64 kReportClockAllowanceSeconds = 60 * 60;

bool isHeaderEvent(JournalEvent event)
{
    switch (event) {
    case JournalEvent::Run:
    case JournalEvent::ClientFile:
    case JournalEvent::Subject:
    case JournalEvent::Body:
    case JournalEvent::Mode:
    case JournalEvent::Print:
    case JournalEvent::CommonAttachment:
        return true;
    default:
        return false;
    }
}

QString bounceDetail(const BouncedClient &bounced)
{
    QString detail = QString::fromLatin1(bounced.messageId) + u' ' + bounced.status;
    if (!bounced.diagnostic.isEmpty())
        detail += u' ' + bounced.diagnostic;
    return detail;
}

QString seenKey(const QString &clientId, const QString &address, const QString &messageId)
{
    return journalClientKey(clientId, address) + QChar(0x1f) + messageId;
}

/// The runs of the period and what they sent, and the bounces journalled before.
struct Sends
{
    QList<RunJournal> runs;
    QHash<QString, JournalledSend> byMessageId;
    /// The sends of a subject to an address, newest journal first.
    QHash<QString, QList<JournalledSend>> byAddressAndSubject;
    QHash<QString, BouncedClient> journalled; ///< by seenKey
    QDateTime earliest;
    QString problem;
};

Sends readSends(const QString &folder, const QDate &since)
{
    Sends sends;
    for (const QString &path : journalPaths(folder)) {
        QList<JournalEntry> entries;
        QString error;
        if (!readJournal(path, &entries, &error)) {
            if (sends.problem.isEmpty())
                sends.problem = error;
            continue;
        }
        if (entries.isEmpty())
            continue;
        const JournalEntry &run = entries.first();
        if (run.detail == runKindName(RunKind::Bounces)) {
            for (const JournalEntry &e : std::as_const(entries)) {
                if (e.event != JournalEvent::Bounced)
                    continue;
                BouncedClient bounced;
                bounced.clientId = e.clientId;
                bounced.address = e.address;
                bounced.line = e.line;
                bounced.messageId = e.detail.section(u' ', 0, 0).toLatin1();
                bounced.status = e.detail.section(u' ', 1, 1);
                bounced.diagnostic = e.detail.section(u' ', 2);
                sends.journalled.insert(seenKey(e.clientId, e.address, QString::fromLatin1(bounced.messageId)),
                                        bounced);
            }
            continue;
        }
        if (!run.time.isValid() || run.time.date() < since)
            continue;
        if (!sends.earliest.isValid() || run.time < sends.earliest)
            sends.earliest = run.time;
        RunJournal journal{{}, path};
        QString mailingSubject;
        QString messageSubject;
        bool inHeader = true;
        for (const JournalEntry &e : std::as_const(entries)) {
            inHeader = inHeader && isHeaderEvent(e.event);
            if (inHeader) {
                journal.header.append(e);
                if (e.event == JournalEvent::Subject)
                    mailingSubject = e.detail;
                continue;
            }
            if (e.event == JournalEvent::Message) {
                messageSubject = e.detail;
                continue;
            }
            if (e.event != JournalEvent::Attempting || e.address.isEmpty())
                continue;
            const JournalledSend record{sends.runs.size(), e, messageSubject.isEmpty() ? mailingSubject : messageSubject};
            messageSubject.clear();
            if (!e.detail.isEmpty())
                sends.byMessageId.insert(e.detail, record);
            const QString key = e.address.trimmed().toCaseFolded() + QChar(0x1f) + similarText(record.subject);
            sends.byAddressAndSubject[key].append(record);
        }
        sends.runs.append(journal);
    }
    return sends;
}

/// The send a report without our Message-ID is about, among `sends` of its subject to its address
/// (newest journal first): the newest one made before the report was written (a send after it
/// cannot be the one that bounced), or the newest of all when the report has no date. Null when
/// every send came after the report.
const JournalledSend *sendReportedIn(const QList<JournalledSend> &sends, const QDateTime &reported)
{
    const QDateTime latest = reported.isValid() ? reported.addSecs(kReportClockAllowanceSeconds) : QDateTime();
    for (const JournalledSend &send : sends) {
        if (!latest.isValid() || send.attempt.time <= latest)
            return &send;
    }
    return nullptr;
}

} // namespace

QString BouncedClient::statusLine() const
{
    QString why = status;
    if (!diagnostic.isEmpty())
        why += (why.isEmpty() ? QString() : u" "_s) + diagnostic;
    return u"Bounced - "_s + address + u" (client "_s + clientId + u"): "_s + why;
}

QDate defaultBounceSince(const QDate &today)
{
    return today.addDays(-30);
}

QDateTime earliestRunSince(const QString &journalFolder, const QDate &since)
{
    return readSends(journalFolder, since).earliest;
}

BounceCheckResult matchBounces(const QString &journalFolder, const QDate &since, const QList<Bounce> &bounces,
                               const QDateTime &now)
{
    BounceCheckResult result;
    const Sends sends = readSends(journalFolder, since);
    result.problem = sends.problem;
    QSet<QString> reported;
    std::map<qsizetype, QList<BouncedClient>> fresh; // by run, in the order found
    for (const Bounce &bounce : bounces) {
        const JournalledSend *record = nullptr;
        if (!bounce.originalId.isEmpty()) {
            const auto it = sends.byMessageId.constFind(QString::fromLatin1(bounce.originalId));
            if (it != sends.byMessageId.cend())
                record = &*it;
        }
        if (!record) {
            const auto it = sends.byAddressAndSubject.constFind(bounce.recipient.trimmed().toCaseFolded() +
                                                                QChar(0x1f) + similarText(bounce.originalSubject));
            if (it != sends.byAddressAndSubject.cend())
                record = sendReportedIn(*it, bounce.reported);
        }
        if (!record)
            continue;
        BouncedClient bounced;
        bounced.clientId = record->attempt.clientId;
        bounced.address = record->attempt.address;
        bounced.line = record->attempt.line;
        bounced.messageId = record->attempt.detail.toLatin1();
        bounced.status = bounce.status;
        bounced.diagnostic = bounce.diagnostic;
        const QString key = seenKey(bounced.clientId, bounced.address, record->attempt.detail);
        if (reported.contains(key))
            continue;
        reported.insert(key);
        const auto earlier = sends.journalled.constFind(key);
        if (earlier != sends.journalled.cend()) {
            result.bounced.append(*earlier);
            continue;
        }
        bounced.isNew = true;
        result.bounced.append(bounced);
        fresh[record->run].append(bounced);
    }

    for (const auto &[run, clients] : fresh) {
        std::unique_ptr<Journal> journal = Journal::create(journalFolder, now, &result.error);
        if (!journal)
            return result;
        QList<JournalEntry> lines;
        for (JournalEntry header : sends.runs.at(run).header) {
            header.time = now;
            if (header.event == JournalEvent::Run)
                header.detail = runKindName(RunKind::Bounces);
            lines.append(header);
        }
        for (const BouncedClient &bounced : clients) {
            JournalEntry entry{now, JournalEvent::Bounced};
            entry.line = bounced.line;
            entry.clientId = bounced.clientId;
            entry.address = bounced.address;
            entry.detail = bounceDetail(bounced);
            lines.append(entry);
        }
        lines.append(JournalEntry{now, JournalEvent::Completed});
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (!journal->append(lines.at(i), &result.error, i + 1 == lines.size()))
                return result;
        }
    }
    return result;
}

QStringList bouncedAddressesIn(const QString &journalFolder, const QList<std::pair<QString, QString>> &clients)
{
    // Oldest journal first: a bounce counts until a later send to the same address.
    QHash<QString, BouncedClient> bounced;
    QStringList paths = journalPaths(journalFolder);
    std::reverse(paths.begin(), paths.end());
    for (const QString &path : std::as_const(paths)) {
        QList<JournalEntry> entries;
        if (!readJournal(path, &entries, nullptr))
            continue;
        for (const JournalEntry &e : std::as_const(entries)) {
            const QString key = journalClientKey(e.clientId, e.address);
            if (e.event == JournalEvent::Sent) {
                bounced.remove(key);
            } else if (e.event == JournalEvent::Bounced) {
                BouncedClient client;
                client.clientId = e.clientId;
                client.address = e.address;
                client.status = e.detail.section(u' ', 1, 1);
                client.diagnostic = e.detail.section(u' ', 2);
                bounced.insert(key, client);
            }
        }
    }
    QStringList lines;
    for (const auto &[id, address] : clients) {
        const auto it = bounced.constFind(journalClientKey(id, address));
        if (it != bounced.cend())
            lines.append(it->statusLine());
    }
    return lines;
}

BounceCheckResult checkForBounces(InboxReader &reader, const AppSettings &settings, const QString &dataFolder,
                                  const QDate &since, const QDateTime &now, const AbortPredicate &aborted)
{
    BounceCheckResult result;
    const QString folder = runJournalFolder(dataFolder);
    // The reports of a run arrive after it: the mailbox is read from the day its earliest run started.
    const QDateTime earliest = earliestRunSince(folder, since);
    if (!earliest.isValid())
        return result;
    QList<QByteArray> messages;
    result.error = reader.readSince(settings, earliest.date(), &messages, aborted);
    if (!result.ok())
        return result;
    QList<Bounce> bounces;
    for (const QByteArray &message : std::as_const(messages))
        bounces += readBounce(message);
    return matchBounces(folder, since, bounces, now);
}

} // namespace quorvale
