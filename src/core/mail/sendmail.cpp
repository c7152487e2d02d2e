#include "mail/sendmail.h"

#include "mail/mailman.h"
#include "mail/sendgate.h"
#include "settings/settingstable.h"

#include <optional>

using namespace Qt::StringLiterals;

namespace quorvale {

bool SendMail(MailMan &mailman, const AppSettings &settings, const MailMessage &message, QString &strStatus,
              QString &strErrors, QString *error, SendReport *report)
{
    // Only "Simple" (0) and "SSL" (1) say how to reach the server. Anything else must never fall
    // back to whatever the component used before, which could be plain SMTP with the login in
    // clear; it is refused before the component is touched.
    if (settings.AuthType != 0 && settings.AuthType != 1) {
        if (error)
            *error = u"The authentication type %1 is neither 0 (Simple) nor 1 (SSL); nothing was sent."_s.arg(
                settings.AuthType);
        return false;
    }
    const std::optional<qint32> port = smtpPortNumber(settings.SSLport);
    if (!port) {
        if (error)
            *error = u"The SMTP port \"%1\" is not a number from 1 to 65535."_s.arg(settings.SSLport.trimmed());
        return false;
    }
    mailman.put_SmtpHost(settings.SMTPServer);
    mailman.put_SmtpUsername(settings.UserName);
    mailman.put_SmtpPassword(settings.Password);
    mailman.put_HeartbeatMs(100);
    mailman.put_DataFolder(settings.DataFolder);
    mailman.put_SmtpSsl(settings.AuthType);
    mailman.put_SmtpPort(*port);

    Email email;
    email.put_Subject(message.SubjectLine);
    email.put_Body(message.BodyText);
    email.put_From(settings.EmailFrom);
    email.AddTo(QString(), message.RecipientAddress);
    email.AddFileAttachment(message.AttachmentPath);
    email.RequireAttachmentIdentity(message.AttachmentIdentity);

    if (mailman.SendEmail(email) == 1) {
        strStatus = u"OK"_s;
    } else {
        strStatus = u"Bad"_s;
        strErrors = mailman.LastErrorText();
    }
    if (report)
        *report = {mailman.LastServerReply(), mailman.LastSendMaybeDelivered(),
                   mailman.LastSendAborted() && !mailman.LastSendMaybeDelivered()};
    mailman.CloseSmtpConnection();
    return true;
}

SmtpMailer::SmtpMailer(std::function<AppSettings()> currentSettings)
    : m_currentSettings(std::move(currentSettings)), m_mailman(std::make_unique<MailMan>()),
      m_gate(std::make_unique<SendGate>())
{
}

SmtpMailer::~SmtpMailer() = default;

bool SmtpMailer::sendMail(const MailMessage &message, QString &strStatus, QString &strErrors, QString *error,
                          const std::function<void(int)> &percentDone, const std::function<bool()> &abortCheck)
{
    SendReport report;
    return sendMailReported(message, strStatus, strErrors, error, percentDone, abortCheck, report);
}

bool SmtpMailer::sendMailReported(const MailMessage &message, QString &strStatus, QString &strErrors, QString *error,
                                  const std::function<void(int)> &percentDone, const std::function<bool()> &abortCheck,
                                  SendReport &report)
{
    report = {};
    // The one MailMan keeps its settings between sends, so callers on other threads take turns.
    SendGateGuard turn(*m_gate, abortCheck, std::chrono::milliseconds(100));
    if (turn.entry() != SendGate::Entry::Entered) {
        strStatus = u"Bad"_s;
        strErrors = turn.entry() == SendGate::Entry::Nested
                        ? u"Another message is being sent; a send cannot start inside it."_s
                        : u"The send was aborted."_s;
        report.abortedUnsent = turn.entry() != SendGate::Entry::Nested;
        return true;
    }
    m_mailman->SendPercentDone = [&percentDone](int percent, int &) {
        if (percentDone)
            percentDone(percent);
    };
    m_mailman->AbortCheck = [&abortCheck](int &abort) {
        if (abortCheck && abortCheck())
            abort = 1;
    };
    const bool attempted = SendMail(*m_mailman, m_currentSettings(), message, strStatus, strErrors, error, &report);
    m_mailman->SendPercentDone = nullptr;
    m_mailman->AbortCheck = nullptr;
    return attempted;
}

} // namespace quorvale
