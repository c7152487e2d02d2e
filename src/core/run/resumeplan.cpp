#include "run/resumeplan.h"

#include "text/counted.h"

#include <QFileInfo>
#include <QLocale>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

using Last = JournalHistory::Last;

QString clientKey(const ClientList &clients, qsizetype index)
{
    return journalClientKey(clients.ClientId(index), clients.EmailAddress(index));
}

/// Whether the client on `row` is one the mailing goes to.
bool isChosen(const ResumeRequest &request, qsizetype row)
{
    return !request.chosen || request.chosen(row);
}

qint64 clientsNotReached(const ClientList &clients, const JournalHistory &history, const ResumeRequest &request)
{
    qint64 notReached = 0;
    if (history.unfinished) {
        for (qsizetype i = 0; i < clients.Count(); ++i) {
            const auto last = history.last.constFind(clientKey(clients, i));
            if (clients.hasEmailAddress(i) && isChosen(request, i) &&
                (last == history.last.cend() || last.value() == Last::NotSent))
                ++notReached;
        }
    }
    return notReached;
}

QString timeText(const QDateTime &time)
{
    return QLocale::c().toString(time.toLocalTime(), u"yyyy-MM-dd HH:mm"_s);
}

/// The clients runs from other data folders sent the message they would get now, and those they
/// may have: who did, and when last.
struct ReachedElsewhere
{
    QSet<QString> sent;
    QList<JournalEntry> unknown;
    QDateTime last;
    QStringList who;

    bool isEmpty() const { return sent.isEmpty() && unknown.isEmpty(); }
    /// "anna on office-2 (last on 2026-12-07 09:15)"
    QString byWhom() const { return who.join(u" and "_s) + u" (last on "_s + timeText(last) + u')'; }
};

/// The newest run of the mailing ended, or none ran from this data folder but others' did, and
/// every client of the list got its message (or printout) then or before: the sentence that says
/// so, or empty.
QString alreadySent(const ClientList &clients, const JournalHistory &history, const ResumeRequest &request,
                    const QSet<QString> &same, const ReachedElsewhere &elsewhere)
{
    if (elsewhere.sent.isEmpty() && (history.unfinished || !history.finished.isValid()))
        return {};
    qint64 clientsReached = 0;
    bool byOthers = false;
    for (qsizetype i = 0; i < clients.Count(); ++i) {
        if ((!clients.hasEmailAddress(i) && !request.print) || !isChosen(request, i))
            continue;
        const QString key = clientKey(clients, i);
        if (!same.contains(key) && !elsewhere.sent.contains(key))
            return {};
        byOthers = byOthers || !same.contains(key);
        ++clientsReached;
    }
    if (clientsReached == 0)
        return {};
    if (byOthers)
        return u"This mailing was already sent to all %1, by %2."_s.arg(counted(clientsReached, "client", "clients"),
                                                                        elsewhere.byWhom());
    return u"This mailing was already sent to all %1 on %2."_s.arg(counted(clientsReached, "client", "clients"),
                                                                   timeText(history.finished));
}

/// What the other data folders' records say of the chosen clients that this one's runs did not
/// reach with the message they would get now.
ReachedElsewhere reachedElsewhere(const ClientList &clients, const ResumeRequest &request, const QSet<QString> &same)
{
    ReachedElsewhere reached;
    if (!request.elsewhere || request.elsewhere->sends.isEmpty() || !request.fingerprint)
        return reached;
    for (qsizetype i = 0; i < clients.Count(); ++i) {
        const QString key = clientKey(clients, i);
        if (!isChosen(request, i) || same.contains(key))
            continue;
        const SendElsewhere send = request.elsewhere->of(key, request.fingerprint(i));
        if (send.what == RecordedSend::Failed)
            continue;
        if (send.what == RecordedSend::Sent) {
            reached.sent.insert(key);
        } else {
            JournalEntry client;
            client.time = send.time;
            client.event = JournalEvent::Unknown;
            client.line = clients.lineNumber(i);
            client.clientId = clients.ClientId(i);
            client.address = clients.EmailAddress(i);
            client.detail = kSentElsewhere.toString();
            reached.unknown.append(client);
        }
        reached.last = std::max(reached.last, send.time);
        if (!reached.who.contains(send.who))
            reached.who.append(send.who);
    }
    return reached;
}

QString changesSince(const ClientList &clients, const JournalHistory &history)
{
    if (!history.clientListKnown)
        return {};
    QSet<QString> before;
    QSet<QString> idsBefore;
    for (const JournalEntry &client : history.clientList) {
        before.insert(journalClientKey(client.clientId, client.address));
        idsBefore.insert(client.clientId);
    }
    qint64 added = 0;
    qint64 changed = 0;
    QSet<QString> idsNow;
    for (qsizetype i = 0; i < clients.Count(); ++i) {
        const QString id = clients.ClientId(i);
        idsNow.insert(id);
        if (!before.contains(clientKey(clients, i)))
            ++(idsBefore.contains(id) ? changed : added);
    }
    const qint64 removed = std::count_if(idsBefore.cbegin(), idsBefore.cend(),
                                         [&idsNow](const QString &id) { return !idsNow.contains(id); });
    QStringList parts;
    if (added > 0)
        parts.append(counted(added, "client added", "clients added"));
    if (changed > 0)
        parts.append(counted(changed, "address changed", "addresses changed"));
    if (removed > 0)
        parts.append(counted(removed, "client removed", "clients removed"));
    return parts.isEmpty() ? QString() : parts.join(u", "_s) + u" since the interrupted run"_s;
}

QString attachmentWords(const MailingChoices &choices, const MailingChoices &against, bool earlier)
{
    switch (choices.mode) {
    case AttachmentMode::None:
        return u"no attachment"_s;
    case AttachmentMode::Common: {
        const QString name = QFileInfo(choices.commonFile).fileName();
        // The same name with other contents: the file changed since.
        const bool changed = against.mode == AttachmentMode::Common && QFileInfo(against.commonFile).fileName() == name;
        return u"the common file "_s + (name.isEmpty() ? u"(none given)"_s : name) +
               (!changed  ? QString()
                : earlier ? u" as it was then"_s
                          : u" as it is now"_s);
    }
    case AttachmentMode::ClientSpecific:
        break;
    case AttachmentMode::Named:
        return u"the documents named "_s + choices.documentPatterns;
    }
    return u"each client's own document"_s;
}

bool attachmentDiffers(const MailingChoices &a, const MailingChoices &b)
{
    return a.mode != b.mode || (a.mode == AttachmentMode::Common && a.commonSha256 != b.commonSha256) ||
           (a.mode == AttachmentMode::Named && a.documentPatterns != b.documentPatterns);
}

/// Whom `choices` go to, beside `against`'s: "every client of the list", "3 chosen clients", "3 other clients".
QString clientWords(const MailingChoices &choices, const MailingChoices &against, bool earlier)
{
    if (choices.clients.isEmpty())
        return u"every client of the list"_s;
    const qint64 count = choices.clients.size();
    if (earlier || against.clients.size() != choices.clients.size())
        return counted(count, "chosen client", "chosen clients");
    return counted(count, "other client", "other clients");
}

} // namespace

QString describeChoices(const MailingChoices &choices, const MailingChoices &against, bool earlier)
{
    QStringList parts;
    if (attachmentDiffers(choices, against))
        parts.append((earlier ? u"sending "_s : QString()) + attachmentWords(choices, against, earlier));
    if (choices.clients != against.clients)
        parts.append((earlier ? u"sending to "_s : QString()) + clientWords(choices, against, earlier));
    if (choices.printKnown && against.printKnown && choices.print != against.print) {
        if (earlier)
            parts.append(choices.print ? u"printing the documents of clients without an address"_s
                                       : u"not printing documents"_s);
        else
            parts.append(choices.print ? u"printing"_s : u"no printing"_s);
    }
    return parts.join(u" and "_s);
}

ResumePlan makeResumePlan(const ClientList &clients, const JournalHistory &history, const ResumeRequest &request)
{
    ResumePlan plan;
    // The clients the earlier runs reached with exactly the message they would get now: only
    // these count as reached. One whose document or fields changed since gets the new message.
    // Only the chosen clients count: a client left out is neither skipped nor asked about.
    QSet<QString> same;
    QSet<QString> chosenKeys;
    for (qsizetype i = 0; i < clients.Count(); ++i) {
        if (!isChosen(request, i))
            continue;
        const QString key = clientKey(clients, i);
        chosenKeys.insert(key);
        if (history.last.value(key, Last::NotSent) != Last::Sent)
            continue;
        const auto was = history.sent.constFind(key);
        if (request.fingerprint && was != history.sent.cend() && !was->sameAs(request.fingerprint(i)))
            ++plan.changedSince;
        else
            same.insert(key);
    }
    const ReachedElsewhere elsewhere = reachedElsewhere(clients, request, same);
    // Told to go over every client again: what earlier runs did plays no part, but sending a
    // whole mailing a second time is still asked about.
    if (request.resume == ResumeChoice::StartAfresh && !request.retryFailed) {
        plan.alreadySent = alreadySent(clients, history, request, same, elsewhere);
        return plan;
    }
    if (request.elsewhere && !request.elsewhere->problem.isEmpty() && !request.resendBounced && !request.retryFailed) {
        plan.refusal = u"The record of another account's or computer's sends beside the client list does not read "
                       "cleanly: %1. It is not known which clients it reached, so nothing was sent. Mend the file or "
                       "move it away (on the command line, --no-resume goes over every client again)."_s.arg(
                           request.elsewhere->problem);
        return plan;
    }
    if (!history.problem.isEmpty()) {
        plan.refusal = u"A run journal does not read cleanly: %1. It is not known which clients that run reached, so "
                       "nothing was sent. Mend the file or move it out of the journal folder (on the command line, "
                       "--no-resume goes over every client again)."_s.arg(history.problem);
        return plan;
    }
    plan.notReached = clientsNotReached(clients, history, request);
    if (request.resendBounced) {
        // A bounced client is found by its identifier: its address is what may have changed.
        QHash<QString, QString> bouncedAddress;
        for (const JournalEntry &e : history.bounced)
            bouncedAddress.insert(e.clientId.trimmed(), e.address.trimmed().toCaseFolded());
        for (qsizetype i = 0; i < clients.Count(); ++i) {
            const auto it = bouncedAddress.constFind(clients.ClientId(i).trimmed());
            if (it == bouncedAddress.cend() || !clients.hasEmailAddress(i) || !isChosen(request, i))
                continue;
            if (clients.EmailAddress(i).trimmed().toCaseFolded() == *it) {
                plan.unchangedBounced.append(clients.EmailAddress(i).trimmed() + u" (client "_s +
                                             clients.ClientId(i).trimmed() + u')');
                continue;
            }
            plan.only.insert(clientKey(clients, i));
            ++plan.resendCount;
        }
        if (plan.resendCount == 0) {
            plan.refusal = u"There are no bounced clients with a changed address to resend to in this mailing."_s;
            if (!plan.unchangedBounced.isEmpty())
                plan.refusal += u" The address of these is still the one that bounced: "_s +
                                plan.unchangedBounced.join(u", "_s) + u". Correct it in the client file first."_s;
            return plan;
        }
        plan.kind = RunKind::ResendToBounced;
        return plan;
    }
    if (request.retryFailed) {
        for (auto it = history.last.cbegin(); it != history.last.cend(); ++it) {
            if (it.value() == Last::Failed || it.value() == Last::Unknown)
                plan.only.insert(it.key());
        }
        for (qsizetype i = 0; i < clients.Count(); ++i)
            plan.resendCount +=
                clients.hasEmailAddress(i) && isChosen(request, i) && plan.only.contains(clientKey(clients, i)) ? 1 : 0;
        if (plan.resendCount == 0) {
            plan.refusal =
                u"There are no failed clients to resend to in this mailing."_s +
                (plan.notReached > 0 ? u" Start Processing resumes the %1 the interrupted run did not reach."_s.arg(
                                           counted(plan.notReached, "client", "clients"))
                                     : QString());
            return plan;
        }
        plan.kind = RunKind::ResendToFailed;
        return plan;
    }
    plan.alreadySent = alreadySent(clients, history, request, same, elsewhere);
    if (!plan.alreadySent.isEmpty())
        return plan;
    // A mailing that finished without reaching every client of the list now (clients refused, or
    // added since) is resumed as an interrupted one is: Start never sends it again to everyone
    // without a word. An earlier run that reached nobody leaves nothing to skip or ask about.
    const bool finished = !history.unfinished && history.finished.isValid();
    QList<JournalEntry> unknown;
    for (const JournalEntry &client : history.unknownClients) {
        if (!request.chosen || chosenKeys.contains(journalClientKey(client.clientId, client.address)))
            unknown.append(client);
    }
    unknown.append(elsewhere.unknown);
    const bool ranHere = history.unfinished || finished;
    if ((!ranHere || same.isEmpty()) && unknown.isEmpty() && elsewhere.sent.isEmpty()) {
        if (request.resume == ResumeChoice::Resume)
            plan.notice = u"There is no unfinished run of this mailing to resume: every client is gone over."_s;
        return plan;
    }
    plan.resumable = true;
    // Other chosen clients than an interrupted run's would widen or narrow what it was doing; after
    // a finished one, whoever it reached is skipped as ever, whichever clients are chosen now.
    std::optional<MailingChoices> compared = history.choices;
    if (compared && finished)
        compared->clients = request.choices.clients;
    if (compared && compared->differsFrom(request.choices)) {
        plan.earlierChoices = compared;
        plan.otherChoices = u"The %1 of this mailing was %2; you chose %3."_s.arg(
            finished ? u"earlier run"_s : u"interrupted run"_s, describeChoices(*compared, request.choices, true),
            describeChoices(request.choices, *compared, false));
        // Without a user to ask, a resume with other choices is never guessed at.
        if (request.resume != ResumeChoice::Ask) {
            plan.refusal = plan.otherChoices +
                           u" Nothing was sent: give the earlier options again to resume it, or --no-resume to "
                           "send this mailing to every client afresh."_s;
            return plan;
        }
    }
    QString run;
    if (ranHere) {
        run = (finished ? u"This mailing was already sent on %1: "_s.arg(timeText(history.finished))
                        : u"An earlier run of this mailing did not finish: "_s) +
              u"it started %1 with the subject \"%2\" and reached %3"_s.arg(
                  QLocale::c().toString(history.started, u"yyyy-MM-dd HH:mm"_s),
                  history.subject.isEmpty() ? request.subject : history.subject,
                  counted(history.reached, "client", "clients")) +
              (plan.changedSince == 0
                   ? QString()
                   : u"; %1 would now get another message (a document or field changed), and get it"_s.arg(
                         plan.changedSince));
    }
    if (!elsewhere.isEmpty()) {
        const qint64 count = elsewhere.sent.size() + elsewhere.unknown.size();
        run += run.isEmpty()
                   ? u"This mailing was already sent to %1 of these clients by %2"_s.arg(count).arg(elsewhere.byWhom())
                   : u"; %1 got it from %2"_s.arg(counted(count, "client", "clients"), elsewhere.byWhom());
    }
    plan.changes = changesSince(clients, history);
    if (request.resume == ResumeChoice::Refuse) {
        plan.refusal = run + u". Nothing was sent: say whether to skip the clients it reached."_s;
        return plan;
    }
    if (request.resume == ResumeChoice::Ask)
        plan.resumeQuestion =
            run + u'.' + (plan.changes.isEmpty() ? QString() : u'\n' + plan.changes + u'.') +
            (elsewhere.isEmpty() ? u"\nSkip the clients it reached?"_s : u"\nSkip the clients already reached?"_s);
    plan.kind = RunKind::Resume;
    plan.skip = same + elsewhere.sent;
    plan.unknown = unknown;
    return plan;
}

} // namespace quorvale
