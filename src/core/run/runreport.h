#pragma once

// What a run tells the user besides its status lines: what it is about to do (under the
// confirmation), where it is while it goes on, and what it did once it ends. The window and the
// command line show the same texts, built here.

#include "clients/attachmentmode.h"
#include "settings/appsettings.h"
#include "text/counted.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace quorvale {

/// The subject a fresh install starts with.
inline constexpr QLatin1StringView kDefaultSubject{"Subject Line Text"};

/// What a run is about to do once the user says Yes.
struct StartSummary
{
    qint64 emails = 0;    ///< clients that get an e-mail (or, in client mode, a try at one)
    bool print = false;   ///< documents of clients without an address are printed
    qint64 printouts = 0; ///< clients whose document is printed
    QString subject;
    bool bodyEmpty = false;
    AttachmentMode mode = AttachmentMode::None;
    QString commonFile;         ///< common mode: the file's path
    qint64 commonSize = -1;     ///< its size in bytes; -1 when it cannot be read
    qint64 withoutDocument = 0; ///< client mode: clients to e-mail that no document of their own names
    QString documentPatterns{}; ///< named mode: the names of each client's documents
    qint64 skipped = 0;         ///< clients a resume passes over as reached
    qint64 skippedUnknown = 0;  ///< clients a resume passes over whose message may have been sent
    qint64 listClients = 0;     ///< with some clients chosen: the clients of the list; 0 without a choice
    qint64 leftOut = 0;         ///< clients of the list that were not chosen: the run leaves them out
    /// With a daily sending limit that the e-mails do not fit: how many go now, and from when the
    /// rest can (invalid: they all fit).
    qint64 withinDailyLimit = 0;
    QDateTime restFrom;
    QStringList warnings; ///< what else deserves a look before Yes (the client list's mistakes)
    bool queued = false;  ///< the messages go to this computer's mail queue, not straight to the server
};

/// The summary as lines, warnings last ("Warning: ...").
QStringList startSummaryLines(const StartSummary &summary);

/// "Your email server setup is not complete." and, on the next line, what is missing.
QString incompleteSetupMessage(const AppSettings &settings);

/// One client that got neither its message nor its printout, and why.
struct ClientFailure
{
    QString clientId;
    QString address; ///< empty for a printout
    QString what;    ///< "Refused", "Outcome unknown", "No document", "Print error", ...
    QString reason;  ///< the server's or the printer's words, or the run's own
};

/// "Refused - ann@example.com (client 1001): 550 no such user".
QString clientFailureText(const ClientFailure &failure);

/// What a run did, client by client.
struct RunTally
{
    qint64 sent = 0;
    qint64 refused = 0; ///< also a message the run would not send as the window had it
    qint64 unknown = 0; ///< the connection broke after the message was handed over
    qint64 noDocument = 0;
    qint64 printed = 0;
    qint64 printErrors = 0;
    qint64 skipped = 0;        ///< passed over because an earlier run of the mailing reached them, or may have
    qint64 skippedUnknown = 0; ///< of `skipped`: the earlier run may or may not have reached them
    qint64 copyFailures = 0;   ///< clients sent to whose copy in the Sent folder failed, also when tried again
    qint64 leftOut = 0;        ///< clients of the list that were not chosen (no failure)
    qint64 bounced = 0;        ///< clients of the mailing whose message bounced and who were not sent to since
    QList<ClientFailure> failures;
    QString stopReason; ///< why the run stopped before its end; empty when it did not
    /// The messages went to this computer's mail queue: `sent` counts those it took, which it
    /// delivers from there.
    bool queued = false;
};

/// The counts as one line: "Sent 2, refused 1, outcome unknown 0, ...".
QString runTallyLine(const RunTally &tally);
/// "Copies in Sent failed for 2 clients".
QString sentCopyFailuresLine(qint64 clients);

/// Where a run is while it goes on.
struct RunProgress
{
    qint64 client = 0;  ///< the client being handled (print steps and e-mails), from 1; 0 before the first
    qint64 clients = 0; ///< the clients the run handles
    qint64 sent = 0;
    qint64 failed = 0; ///< refused, unknown, no document, print errors
    bool queued = false; ///< `sent` counts messages the computer's mail queue took
    std::optional<std::chrono::milliseconds> timeLeft;
};

/// "Client 3 of 10 - sent 2, failed 0 - about 4 min left".
QString runProgressText(const RunProgress &progress);

/// What is left of a run, as the pacing makes it.
struct RemainingWork
{
    qint64 emails = 0;                     ///< clients with an address not yet handled, the current one included
    qint64 groupCount = 0;                 ///< clients handled in the current group so far
    qint64 printSteps = 0;                 ///< print steps not yet taken
    std::chrono::milliseconds sendTime{0}; ///< what one send took so far, on average
    std::chrono::milliseconds waiting{0};  ///< a wait ahead before the current client is tried again
};

/// The time the rest of a run takes with `settings`' pacing: every client's send and the pause
/// after it, every group delay still to come, and the one-second pause after every print step.
std::chrono::milliseconds estimateTimeLeft(const AppSettings &settings, const RemainingWork &work);

/// "about 2 h 5 min", "about 3 min", "less than a minute".
QString timeLeftText(std::chrono::milliseconds time);

} // namespace quorvale
