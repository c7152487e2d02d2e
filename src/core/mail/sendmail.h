#pragma once

#include "platform/files.h"
#include "settings/appsettings.h"

#include <QString>

#include <functional>
#include <memory>

namespace quorvale {

class MailMan;
class SendGate;

/// The inputs of one send, passed explicitly so that nothing else (a test e-mail, edits in
/// the window) can change what a run sends.
struct MailMessage
{
    QString RecipientAddress;
    QString AttachmentPath; ///< empty: no attachment
    QString SubjectLine;
    QString BodyText;
    /// When valid, the attachment must still be this file when it is read for sending; a file
    /// replaced, or a link re-pointed, since it was chosen is not sent.
    platform::FileIdentity AttachmentIdentity{};
};

/// What a send tells besides "OK" and "Bad".
struct SendReport
{
    QString serverReply;         ///< the server's answer to the message content ("250 OK queued", "554 ...")
    bool maybeDelivered = false; ///< "Bad", yet the whole message was handed over and no answer came
    bool abortedUnsent = false;  ///< "Bad" because an abort stopped the send before the message was handed over
};

/// Sends one message through `mailman` with the server settings of `settings`.
/// Sets `strStatus` to "OK" when sent, else "Bad" and `strErrors` to the reason; the
/// connection is closed after either. Returns false with `error` (and `strStatus` untouched,
/// nothing sent anywhere) when the send cannot be attempted at all: an AuthType other than 0
/// (Simple) or 1 (SSL), or an SSLport that is not a whole number from 1 to 65535, blanks around
/// it ignored. One attempt, never a retry.
bool SendMail(MailMan &mailman, const AppSettings &settings, const MailMessage &message, QString &strStatus,
              QString &strErrors, QString *error = nullptr, SendReport *report = nullptr);

/// The run's seam to mail delivery: the real one sends through SMTP, tests use a fake.
class Mailer
{
public:
    virtual ~Mailer() = default;
    /// As SendMail. `percentDone` receives the send's progress (0-100); `abortCheck` is polled
    /// during the send and stops it when it returns true (it may be polled from a helper thread
    /// of the send, so it must be thread-safe). Both may be empty.
    virtual bool sendMail(const MailMessage &message, QString &strStatus, QString &strErrors, QString *error,
                          const std::function<void(int)> &percentDone, const std::function<bool()> &abortCheck) = 0;
    /// As sendMail, and fills `report`. A Mailer that cannot tell more leaves it empty.
    virtual bool sendMailReported(const MailMessage &message, QString &strStatus, QString &strErrors, QString *error,
                                  const std::function<void(int)> &percentDone, const std::function<bool()> &abortCheck,
                                  SendReport &report)
    {
        report = {};
        return sendMail(message, strStatus, strErrors, error, percentDone, abortCheck);
    }
};

/// The real Mailer: one MailMan, and the server settings read afresh for every send from
/// `currentSettings` (so a change saved in the setup dialog applies to the next send).
class SmtpMailer final : public Mailer
{
public:
    explicit SmtpMailer(std::function<AppSettings()> currentSettings);
    ~SmtpMailer() override;
    bool sendMail(const MailMessage &message, QString &strStatus, QString &strErrors, QString *error,
                  const std::function<void(int)> &percentDone, const std::function<bool()> &abortCheck) override;
    bool sendMailReported(const MailMessage &message, QString &strStatus, QString &strErrors, QString *error,
                          const std::function<void(int)> &percentDone, const std::function<bool()> &abortCheck,
                          SendReport &report) override;

private:
    std::function<AppSettings()> m_currentSettings;
    std::unique_ptr<MailMan> m_mailman;
    std::unique_ptr<SendGate> m_gate; ///< callers on other threads take turns with the one MailMan
};

} // namespace quorvale
