// What a server's refusal means: every reply the providers document, and the plain codes of any
// server, read at the stage where they come.

#include "mail/replytable.h"

#include <QTest>
#include <QTimeZone>

using namespace Qt::StringLiterals;
using namespace quorvale;

Q_DECLARE_METATYPE(quorvale::SmtpStage)
Q_DECLARE_METATYPE(quorvale::ReplyClass)
Q_DECLARE_METATYPE(quorvale::LoginKind)

namespace {

const QDateTime kNow(QDate(2026, 3, 2), QTime(9, 30), QTimeZone::utc());

} // namespace

class TestReplyTable : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsEveryDocumentedReply_data();
    void readsEveryDocumentedReply();
    void showsOneLineWithoutControlCharacters();
};

void TestReplyTable::readsEveryDocumentedReply_data()
{
    QTest::addColumn<SmtpStage>("stage");
    QTest::addColumn<LoginKind>("login");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<ReplyClass>("kind");
    QTest::addColumn<QString>("reason"); ///< the reason starts with this
    QTest::addColumn<QString>("fix");    ///< the fix contains this ("" : there is none)
    QTest::addColumn<qint64>("waitSeconds"); ///< -1: the reply names no time

    using S = SmtpStage;
    using C = ReplyClass;
    const auto pw = LoginKind::Password;
    const auto token = LoginKind::Token;
    const QString none;

    // Exchange Online.
    QTest::newRow("exchange: daily recipients quota")
        << S::Data << token << "554 5.2.0 STOREDRV.Submission.Exception:SubmissionQuotaExceededException; Failed to process message"_ba
        << C::MailboxWide << u"the server refused the message: 554 5.2.0 STOREDRV"_s << none << qint64(-1);
    QTest::newRow("exchange: daily recipients limit 5.1.90")
        << S::RcptTo << token << "550 5.1.90 Your message can't be sent because you've reached your daily limit for message recipients"_ba
        << C::MailboxWide << u"the server refused the recipient: 550 5.1.90"_s << none << qint64(-1);
    QTest::newRow("exchange: throttled mailbox")
        << S::MailFrom << token << "550 5.2.252 Sender is being throttled for sending too many messages"_ba
        << C::MailboxWide << u"the server refused the sender: 550 5.2.252"_s << none << qint64(-1);
    QTest::newRow("exchange: sending mailbox full")
        << S::Data << pw << "554 5.2.2 mailbox full; STOREDRV.Submission.Exception:QuotaExceededException"_ba
        << C::MailboxWide << u"the server refused the message: 554 5.2.2 mailbox full"_s << none << qint64(-1);
    QTest::newRow("recipient's mailbox full at RCPT")
        << S::RcptTo << pw << "554 5.2.2 mailbox full"_ba
        << C::ClientOnly << u"the server refused the recipient: 554 5.2.2"_s << none << qint64(-1);
    QTest::newRow("exchange: blocked for spam")
        << S::MailFrom << pw << "550 5.1.8 Access denied, bad outbound sender"_ba
        << C::MailboxWide << u"the server refused the sender: 550 5.1.8"_s << none << qint64(-1);
    QTest::newRow("exchange: more than 3 connections")
        << S::MailFrom << token << "432 4.3.2 STOREDRV.ClientSubmit; sender thread limit exceeded"_ba
        << C::Temporary << u"the server refused the sender for now: 432 4.3.2"_s << none << qint64(-1);
    QTest::newRow("exchange: token refused")
        << S::Login << token << "535 5.7.3 Authentication unsuccessful"_ba
        << C::LoginOrConnection << u"the server refused the login: 535 5.7.3 Authentication unsuccessful"_s
        << u"Sign in again"_s << qint64(-1);
    QTest::newRow("exchange: password refused")
        << S::Login << pw << "535 5.7.3 Authentication unsuccessful"_ba
        << C::LoginOrConnection << u"the server refused the login: 535 5.7.3"_s
        << u"Check the user name and password"_s << qint64(-1);
    QTest::newRow("exchange: SMTP AUTH off for the organisation")
        << S::Login << token << "535 5.7.139 Authentication unsuccessful, SmtpClientAuthentication is disabled for the Tenant. Visit https://aka.ms/smtp_auth_disabled for more information."_ba
        << C::LoginOrConnection << u"the server refused the login: 535 5.7.139"_s
        << u"overrides the organisation's setting"_s << qint64(-1);
    QTest::newRow("exchange: SMTP AUTH off for the mailbox")
        << S::Login << token << "535 5.7.139 Authentication unsuccessful, SmtpClientAuthentication is disabled for the Mailbox. Visit https://aka.ms/smtp_auth_disabled for more information."_ba
        << C::LoginOrConnection << u"the server refused the login: 535 5.7.139"_s
        << u"-SmtpClientAuthenticationDisabled $false"_s << qint64(-1);
    QTest::newRow("exchange: security defaults")
        << S::Login << pw << "535 5.7.139 Authentication unsuccessful, user is locked by your organization's security defaults policy. Contact your administrator."_ba
        << C::LoginOrConnection << u"the server refused the login: 535 5.7.139"_s
        << u"security defaults refuse logins with a password"_s << qint64(-1);
    QTest::newRow("exchange: basic authentication disabled")
        << S::Login << pw << "535 5.7.139 Authentication unsuccessful, basic authentication is disabled."_ba
        << C::LoginOrConnection << u"the server refused the login: 535 5.7.139"_s
        << u"requires the Microsoft 365 sign-in"_s << qint64(-1);
    QTest::newRow("exchange: sign-in policy")
        << S::Login << token << "535 5.7.139 Authentication unsuccessful, the request did not meet the criteria to be authenticated successfully. Contact your administrator."_ba
        << C::LoginOrConnection << u"the server refused the login: 535 5.7.139"_s
        << u"sign-in policy"_s << qint64(-1);
    QTest::newRow("exchange: no basic authentication for submission")
        << S::Login << pw << "550 5.7.30 Basic authentication is not supported for Client Submission."_ba
        << C::LoginOrConnection << u"the server refused the login: 550 5.7.30"_s
        << u"requires the Microsoft 365 sign-in"_s << qint64(-1);
    QTest::newRow("exchange: not logged in")
        << S::MailFrom << pw << "530 5.7.57 Client not authenticated to send mail."_ba
        << C::LoginOrConnection << u"the server refused the sender: 530 5.7.57"_s
        << u"logged in"_s << qint64(-1);
    QTest::newRow("exchange: send as denied")
        << S::Data << token << "550 5.7.60 SMTP; Client does not have permissions to send as this sender"_ba
        << C::LoginOrConnection << u"the server refused the message: 550 5.7.60"_s
        << u"Send As permission"_s << qint64(-1);

    // Google.
    QTest::newRow("google: daily sending limit")
        << S::Data << token << "550 5.4.5 Daily user sending limit exceeded. For more information on Gmail sending limits go to https://support.google.com/a/answer/166852"_ba
        << C::MailboxWide << u"the server refused the message: 550 5.4.5 Daily user sending limit"_s << none << qint64(-1);
    QTest::newRow("google: daily limit with a time")
        << S::MailFrom << token << "550-5.4.5 Daily user sending limit exceeded.\r\n550 5.4.5 Try again in 3 hours."_ba
        << C::MailboxWide << u"the server refused the sender: 550 5.4.5 Daily user sending limit exceeded. Try again in 3 hours."_s
        << none << qint64(3 * 3600);
    QTest::newRow("mailbox-wide with a date")
        << S::Data << pw << "554 5.2.0 SubmissionQuotaExceededException; sending resumes after 2026-03-03T08:00:00Z"_ba
        << C::MailboxWide << u"the server refused the message: 554 5.2.0"_s << none << qint64(22 * 3600 + 1800);
    QTest::newRow("google: app password required")
        << S::Login << pw << "534-5.7.9 Application-specific password required. Learn more at\r\n534 5.7.9  https://support.google.com/mail/?p=InvalidSecondFactor"_ba
        << C::LoginOrConnection << u"the server refused the login: 534 5.7.9 Application-specific password required. Learn more at https://support"_s
        << u"When the mail provider says no"_s << qint64(-1);
    QTest::newRow("google: web browser sign-in")
        << S::Login << pw << "534-5.7.14 <https://accounts.google.com/signin/continue?sarp=1> Please log in via\r\n534-5.7.14 your web browser and then try again.\r\n534 5.7.14  Learn more at https://support.google.com/mail/answer/78754"_ba
        << C::LoginOrConnection << u"the server refused the login: 534 5.7.14 <https://accounts.google.com"_s
        << u"When the mail provider says no"_s << qint64(-1);
    QTest::newRow("google: XOAUTH2 refused after the client's empty line")
        << S::Login << token << "535-5.7.8 Username and Password not accepted. For more information, go to\r\n535 5.7.8  https://support.google.com/mail/?p=BadCredentials"_ba
        << C::LoginOrConnection << u"the server refused the login: 535 5.7.8"_s << u"Sign in again"_s << qint64(-1);
    // The client may hang up at this 334 and never read the 535 that follows.
    QTest::newRow("google: XOAUTH2 error challenge")
        << S::Login << token << "334 eyJzdGF0dXMiOiI0MDAiLCJzY2hlbWVzIjoiQmVhcmVyIn0="_ba
        << C::LoginOrConnection << u"the server refused the login: 334 {\"schemes\":\"Bearer\",\"status\":\"400\"}"_s
        << u"Sign in again"_s << qint64(-1);
    QTest::newRow("a 334 that is no JSON error")
        << S::Login << token << "334 UGFzc3dvcmQ6"_ba
        << C::LoginOrConnection << u"the server gave an unexpected answer to the login: 334"_s << none << qint64(-1);
    QTest::newRow("google: message too large")
        << S::Data << token << "552-5.2.3 Your message exceeded Google's message size limits."_ba
        << C::ClientOnly << u"the server refused the message: 552 5.2.3"_s << none << qint64(-1);
    QTest::newRow("google: too many login attempts")
        << S::Login << pw << "454 4.7.0 Too many login attempts, please try again later."_ba
        << C::Temporary << u"the server refused the login for now: 454 4.7.0"_s << none << qint64(-1);
    QTest::newRow("google: try again later")
        << S::Greeting << pw << "421 4.7.0 Try again later, closing connection."_ba
        << C::Temporary << u"the server refused the connection for now: 421 4.7.0"_s << none << qint64(-1);
    QTest::newRow("google: recipient receiving too fast")
        << S::RcptTo << pw << "450 4.2.1 The user you are trying to contact is receiving mail at a rate that prevents additional messages from being delivered."_ba
        << C::Temporary << u"the server refused the recipient for now: 450 4.2.1"_s << none << qint64(-1);

    // Any server.
    QTest::newRow("unknown recipient")
        << S::RcptTo << pw << "550 5.1.1 <nobody@example.com>: Recipient address rejected"_ba
        << C::ClientOnly << u"the server refused the recipient: 550 5.1.1 <nobody@example.com>"_s << none << qint64(-1);
    QTest::newRow("content refused")
        << S::Data << pw << "554 5.6.0 Message content refused"_ba
        << C::ClientOnly << u"the server refused the message: 554 5.6.0"_s << none << qint64(-1);
    QTest::newRow("size after upload")
        << S::Data << pw << "552 Error: message too large"_ba
        << C::ClientOnly << u"the server refused the message: 552 Error"_s << none << qint64(-1);
    QTest::newRow("size 5.3.4")
        << S::Data << pw << "554 5.3.4 Message size exceeds fixed limit"_ba
        << C::ClientOnly << u"the server refused the message: 554 5.3.4"_s << none << qint64(-1);
    QTest::newRow("size at MAIL FROM")
        << S::MailFrom << pw << "552 5.3.4 Message size exceeds fixed maximum message size"_ba
        << C::ClientOnly << u"the server refused the sender: 552 5.3.4"_s << none << qint64(-1);
    QTest::newRow("sender refused")
        << S::MailFrom << pw << "553 5.1.7 Sender address rejected"_ba
        << C::LoginOrConnection << u"the server refused the sender: 553 5.1.7"_s
        << u"Check the Email From address in Setup."_s << qint64(-1);
    QTest::newRow("local error in processing")
        << S::Data << pw << "451 4.3.0 Local error in processing"_ba
        << C::Temporary << u"the server refused the message for now: 451 4.3.0"_s << none << qint64(-1);
    QTest::newRow("too many recipients for now")
        << S::RcptTo << pw << "452 4.5.3 Too many recipients"_ba
        << C::Temporary << u"the server refused the recipient for now: 452"_s << none << qint64(-1);
    // The edges of the transient codes: every 4xx is tried again, no 5xx is.
    QTest::newRow("lowest transient code")
        << S::RcptTo << pw << "400 try later"_ba
        << C::Temporary << u"the server refused the recipient for now: 400"_s << none << qint64(-1);
    QTest::newRow("highest transient code")
        << S::Data << pw << "499 try later"_ba
        << C::Temporary << u"the server refused the message for now: 499"_s << none << qint64(-1);
    QTest::newRow("lowest permanent code")
        << S::RcptTo << pw << "500 no"_ba
        << C::ClientOnly << u"the server refused the recipient: 500"_s << none << qint64(-1);
    QTest::newRow("policy 4.7 with a 5xx-less greeting")
        << S::Hello << pw << "4.7.1 slow down"_ba
        << C::Temporary << u"the server's answer to the greeting (EHLO) is no SMTP reply: 4.7.1 slow down"_s << none << qint64(-1);
    QTest::newRow("no service at the greeting")
        << S::Greeting << pw << "554 No SMTP service here"_ba
        << C::LoginOrConnection << u"the server refused the connection: 554 No SMTP service here"_s << none << qint64(-1);
    QTest::newRow("STARTTLS refused")
        << S::StartTls << pw << "502 5.5.1 Command not implemented"_ba
        << C::LoginOrConnection << u"the server refused the encryption (STARTTLS): 502 5.5.1"_s << none << qint64(-1);
    QTest::newRow("garbage after the message")
        << S::Data << pw << "\x00\xff garbage"_ba
        << C::ClientOnly << u"the server's answer to the message is no SMTP reply: "_s << none << qint64(-1);
    QTest::newRow("nothing at the greeting")
        << S::Greeting << pw << QByteArray()
        << C::LoginOrConnection << u"the server's answer to the connection is no SMTP reply: (no reply)"_s << none << qint64(-1);
}

void TestReplyTable::readsEveryDocumentedReply()
{
    QFETCH(SmtpStage, stage);
    QFETCH(LoginKind, login);
    QFETCH(QByteArray, reply);
    QFETCH(ReplyClass, kind);
    QFETCH(QString, reason);
    QFETCH(QString, fix);
    QFETCH(qint64, waitSeconds);

    const ReplyVerdict verdict = classifyReply(stage, reply, login, kNow);
    QCOMPARE(verdict.kind, kind);
    QVERIFY2(verdict.reason.startsWith(reason), qPrintable(verdict.reason));
    if (fix.isEmpty())
        QVERIFY2(verdict.fix.isEmpty(), qPrintable(verdict.fix));
    else
        QVERIFY2(verdict.fix.contains(fix), qPrintable(verdict.fix));
    if (waitSeconds < 0)
        QVERIFY(!verdict.sendableAfter);
    else
        QCOMPARE(verdict.sendableAfter, kNow.addSecs(waitSeconds));
}

void TestReplyTable::showsOneLineWithoutControlCharacters()
{
    const ReplyVerdict verdict =
        classifyReply(SmtpStage::RcptTo, "550-5.1.1 first\r\n550-5.1.1 second\x1b[31m\r\n550 5.1.1 third\r\n"_ba,
                      LoginKind::Password, kNow);
    QCOMPARE(verdict.reply, u"550 5.1.1 first second[31m third"_s);
    QCOMPARE(verdict.code, 550);
    QCOMPARE(verdict.enhanced, u"5.1.1"_s);
}

QTEST_GUILESS_MAIN(TestReplyTable)
#include "tst_replytable.moc"
