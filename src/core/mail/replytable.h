#pragma once

// What an SMTP server's refusal means for a run: one table of the replies that servers and the big
// mail providers document, read by stage, reply code, enhanced status code and text.

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace quorvale {

/// Where in the SMTP conversation a reply came.
enum class SmtpStage
{
    Greeting,     ///< the server's first line, after connecting
    Hello,        ///< EHLO
    StartTls,     ///< STARTTLS
    Login,        ///< AUTH
    MailFrom,     ///< MAIL FROM (the sender)
    RcptTo,       ///< RCPT TO (the recipient)
    Data,         ///< DATA and the reply to the message content
    AfterMessage, ///< after the message content was answered (QUIT)
};

/// What a refusal costs.
enum class ReplyClass
{
    ClientOnly,        ///< permanent, for this client only: the next client can go
    Temporary,         ///< try the same again a little later
    MailboxWide,       ///< the mailbox may send nothing more for now (quota, throttling, full)
    LoginOrConnection, ///< no message can go with these settings until someone changes them
};

/// How the login was made, which tells some refusals apart.
enum class LoginKind
{
    Password,
    Token, ///< AUTH XOAUTH2 with an access token
};

/// One reply, read.
struct ReplyVerdict
{
    ReplyClass kind = ReplyClass::LoginOrConnection;
    SmtpStage stage = SmtpStage::Greeting; ///< where the reply came
    int code = 0;       ///< the three-digit reply code; 0 when the reply has none
    QString enhanced;   ///< the enhanced status code ("5.1.1"), or empty
    QString reply;      ///< the reply on one printable line
    QString reason;     ///< in the user's words, naming the stage, with the reply
    QString fix;        ///< for refused logins and setup faults: what to do; else empty
    /// For a mailbox-wide refusal: when the clients not reached can be sent, if the reply says so.
    std::optional<QDateTime> sendableAfter;
};

/// Reads `reply` (one or several lines, as the server sent it) given at `stage`. Never fails: bytes
/// that are no SMTP reply still get a class and a reason. `now` dates a wait the reply names.
ReplyVerdict classifyReply(SmtpStage stage, const QByteArray &reply, LoginKind login, const QDateTime &now);

/// The stage's name in the user's words ("the recipient"), as the reasons use it.
QString stageWords(SmtpStage stage);

} // namespace quorvale
