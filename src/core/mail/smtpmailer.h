#pragma once

#include "mail/attachmentcache.h"
#include "mail/mailer.h"
#include "mail/transferwatch.h"

#include <QString>

#include <memory>

namespace quorvale {

struct BuiltMessage;
class SignInAccount;
struct SmtpLogin;

/// The real Mailer: SMTP over libcurl, one new connection per message, TLS as the server says
/// with certificates always verified, the login's secret taken afresh for every send (see
/// SmtpLoginSource) and never in an error text. Only one send is in
/// flight in the whole program: a send from another thread waits its turn (asking whether to
/// abort meanwhile), and a send from inside a send's callbacks is refused.
class SmtpMailer final : public Mailer
{
public:
    /// `dataFolder` keeps the encoded copy of an attachment sent again and again (see
    /// AttachmentCache); empty: none is kept. `account` is the program's sign-in, shared with
    /// whatever signs in; empty: one of this mailer's own. `options` say which certificates to
    /// trust and where "SSL" means implicit TLS.
    explicit SmtpMailer(const QString &dataFolder = {}, std::shared_ptr<SignInAccount> account = {},
                        MailerOptions options = {});
    ~SmtpMailer() override;
    SmtpMailer(const SmtpMailer &) = delete;
    SmtpMailer &operator=(const SmtpMailer &) = delete;

    SendResult send(const MailMessage &message, const MailServer &server, const SendCallbacks &callbacks = {}) override;
    /// The SIZE the server's EHLO advertises (see probeSizeLimit).
    std::optional<qint64> sizeLimit(const MailServer &server, const AbortPredicate &aborted) override;

private:
    struct Transfer;
    struct Attempt;
    /// One connection: the message sent with `login`.
    Attempt attempt(const MailMessage &message, const MailServer &server, const SmtpLogin &login,
                    const SendCallbacks &callbacks);
    /// The stages of a send, as curl's own SMTP examples read.
    QString configureTransfer(Transfer &transfer, const BuiltMessage &built, const MailMessage &message,
                              const MailServer &server, const SmtpLogin &login);
    QString addAttachment(Transfer &transfer, const QString &path, const QByteArray &type,
                          const QByteArray &disposition, const platform::FileIdentity &expected);
    void setConnection(Transfer &transfer, const BuiltMessage &built, const MailServer &server, const SmtpLogin &login);
    CURLcode driveTransfer(Transfer &transfer, const SendCallbacks &callbacks);
    SendResult readResult(Transfer &transfer, CURLcode code, const MailServer &server);

    MailerOptions m_options;
    AttachmentCache m_cache;
    std::shared_ptr<SignInAccount> m_account;
    std::unique_ptr<CURL, void (*)(CURL *)> m_easy;
    std::unique_ptr<CURLM, CURLMcode (*)(CURLM *)> m_multi;
    TransferWatch m_watch;
};

} // namespace quorvale
