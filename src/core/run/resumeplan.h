#pragma once

// What the earlier runs of a mailing mean for the run about to start: which clients it goes over,
// which it skips, which it asks about, and what the user must be told first. Decided from the
// journals and the client list alone; the run asks the questions.

#include "clients/clientlist.h"
#include "run/journal.h"
#include "run/sentrecord.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

namespace quorvale {

/// What to do when an earlier run on the same client file did not finish.
enum class ResumeChoice
{
    Ask,         ///< ask the user (through the Prompter)
    Resume,      ///< skip the clients it already sent to, without asking
    StartAfresh, ///< go over every client again, without asking
    Refuse       ///< start nothing: the caller could not ask and was not told what to do
};

/// What the user asked of the earlier runs, and the mailing's choices now.
struct ResumeRequest
{
    ResumeChoice resume = ResumeChoice::Ask;
    bool retryFailed = false; ///< go over only the clients whose last send failed
    bool print = false;       ///< clients without an address are printed (and so count as reached)
    MailingChoices choices;   ///< the attachment and print choices of this run
    QString subject;
    /// What the client on a row would get now; none: not compared.
    std::function<SentMessage(qsizetype row)> fingerprint;
    /// Whether the client on a row is one the mailing goes to; unset: every client is.
    std::function<bool(qsizetype row)> chosen{};
    /// Go over only the clients whose message bounced and whose address changed since.
    bool resendBounced = false;
    /// What runs from other data folders sent of this mailing; none: not known.
    const SendsElsewhere *elsewhere = nullptr;
};

/// The detail of a client in ResumePlan::unknown whose message a run from another data folder
/// may have sent.
inline constexpr QStringView kSentElsewhere = u"sent from another data folder";

struct ResumePlan
{
    RunKind kind = RunKind::AllClients;
    /// Not empty: nothing may start, and this says why.
    QString refusal;
    /// Not empty: said to the user, and the run goes on.
    QString notice;
    /// The mailing already reached every client: the sentence the question before Yes opens with.
    QString alreadySent;
    /// An earlier run of the mailing did not finish and reached some clients: a resume has
    /// something to skip.
    bool resumable = false;
    /// The interrupted run had other choices: they, and the sentence naming them.
    std::optional<MailingChoices> earlierChoices;
    QString otherChoices;
    /// Not empty: ask whether to skip the clients the unfinished run reached (No: go over all).
    QString resumeQuestion;
    /// What changed in the client list since the unfinished run; empty when nothing or unknown.
    QString changes;
    /// Resuming: the clients to skip (already sent or printed), by journalClientKey.
    QSet<QString> skip;
    /// Resuming: the clients whose message may or may not have arrived, in file order; skipped
    /// unless the user says to send to them again.
    QList<JournalEntry> unknown;
    /// Resending to failed clients: the only clients gone over, and how many of the list they are.
    QSet<QString> only;
    qint64 resendCount = 0;
    /// Resending to bounced clients: those whose address in the client file is still the one
    /// that bounced, "ann@x.org (client 1001)", in file order; they are skipped.
    QStringList unchangedBounced;
    /// Clients reached before whose message would differ now: they are not skipped.
    qint64 changedSince = 0;
    /// Clients with an address that the unfinished mailing has not sent to yet, nor tried to.
    qint64 notReached = 0;
};

ResumePlan makeResumePlan(const ClientList &clients, const JournalHistory &history, const ResumeRequest &request);

/// How `choices` read in a sentence where they differ from `against`: "sending each client's
/// own document" (`earlier`: they are the interrupted run's), "no attachment and no printing".
QString describeChoices(const MailingChoices &choices, const MailingChoices &against, bool earlier);

} // namespace quorvale
