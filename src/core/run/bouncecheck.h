#pragma once

// The check for bounces: the delivery reports in the mailbox matched to the clients of recent
// runs, through the Message-ID each run journalled (else the address and the subject), and the
// new ones journalled so that the next check, the summary and a resend know them.

#include "mail/bouncereport.h"
#include "mail/mailer.h"
#include "settings/appsettings.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

namespace quorvale {

class InboxReader;

/// A client whose message bounced.
struct BouncedClient
{
    QString clientId;
    QString address; ///< as the run journalled it
    qint64 line = 0; ///< the client's line in the client file of that run
    QString status;
    QString diagnostic;
    QByteArray messageId; ///< the Message-ID of the message that bounced
    bool isNew = false;   ///< journalled by this check (false: an earlier check did)

    /// "Bounced - ann@x.org (client 1001): 5.1.1 550 User unknown".
    QString statusLine() const;
};

/// What a check for bounces found.
struct BounceCheckResult
{
    QList<BouncedClient> bounced;
    QString error;   ///< the mailbox could not be read, or a journal not written; empty otherwise
    QString problem; ///< a journal that could not be read and was passed over; empty otherwise
    bool ok() const { return error.isEmpty(); }
};

/// The day the runs of a check start from without a date given: 30 days before `today`.
QDate defaultBounceSince(const QDate &today);

/// When the earliest run in `journalFolder` that started on or after `since` started; invalid
/// when there is none.
QDateTime earliestRunSince(const QString &journalFolder, const QDate &since);

/// Matches `bounces` to the clients of the runs in `journalFolder` that started on or after
/// `since` and journals those not journalled before (one journal per mailing, at `now`). A bounce
/// without one of our Message-IDs goes to the newest send of its subject to its address made
/// before the report was written. A bounce that matches no client of those runs is someone else's
/// and is passed over.
BounceCheckResult matchBounces(const QString &journalFolder, const QDate &since, const QList<Bounce> &bounces,
                               const QDateTime &now);

/// The status line of each client of `clients` (identifier and address) whose address is one
/// that bounced and that was not sent to again since, in the order of `clients`.
QStringList bouncedAddressesIn(const QString &journalFolder, const QList<std::pair<QString, QString>> &clients);

/// The whole check: reads the INBOX since the earliest run of the period, matches and journals.
BounceCheckResult checkForBounces(InboxReader &reader, const AppSettings &settings, const QString &dataFolder,
                                  const QDate &since, const QDateTime &now, const AbortPredicate &aborted = {});

} // namespace quorvale
