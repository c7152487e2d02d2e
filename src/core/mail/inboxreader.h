#pragma once

// Reads the mailbox's INBOX for the delivery reports of recent runs, without changing anything in
// it: nothing is deleted, moved or marked read.

#include "mail/mailer.h"
#include "settings/appsettings.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>

#include <memory>

namespace quorvale {

class SignInAccount;

/// Reads the messages of a mailbox's INBOX.
class InboxReader
{
public:
    virtual ~InboxReader() = default;
    /// The INBOX messages of the mailbox `settings` describe that arrived on or after `since` and
    /// may be delivery reports (each at most its first part, enough for a report and the
    /// original's headers); why they cannot be read, or empty.
    virtual QString readSince(const AppSettings &settings, const QDate &since, QList<QByteArray> *messages,
                              const AbortPredicate &aborted = {}) = 0;
};

/// Why the INBOX cannot be read with `settings` (no IMAP server, a port that is not one); empty
/// when it can.
QString inboxProblem(const AppSettings &settings);

/// The real InboxReader: IMAP over libcurl with the mail login, on "IMAPServer" and "IMAPPort"
/// whether or not the Sent copy is on.
class ImapInboxReader final : public InboxReader
{
public:
    /// `caBundle`: the CA file to verify servers with (empty: the system's). `implicitTlsPort`:
    /// the port on which IMAP is implicit TLS; STARTTLS is required on any other.
    explicit ImapInboxReader(std::shared_ptr<SignInAccount> account = {}, QByteArray caBundle = {},
                             int implicitTlsPort = 993);

    QString readSince(const AppSettings &settings, const QDate &since, QList<QByteArray> *messages,
                      const AbortPredicate &aborted = {}) override;

private:
    std::shared_ptr<SignInAccount> m_account;
    QByteArray m_caBundle;
    int m_implicitTlsPort;
};

} // namespace quorvale
