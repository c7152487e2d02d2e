#include "mail/replytable.h"

#include "auth/tokenreply.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTimeZone>

#include <array>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

/// Stages as bits, so that a row can name several.
constexpr unsigned bit(SmtpStage stage)
{
    return 1u << unsigned(stage);
}

constexpr unsigned kAnyStage = 0xffu;
constexpr unsigned kBeforeMail =
    bit(SmtpStage::Greeting) | bit(SmtpStage::Hello) | bit(SmtpStage::StartTls) | bit(SmtpStage::Login);
constexpr unsigned kMessage = bit(SmtpStage::MailFrom) | bit(SmtpStage::RcptTo) | bit(SmtpStage::Data) |
                              bit(SmtpStage::AfterMessage);
constexpr unsigned kRecipientOrContent =
    bit(SmtpStage::RcptTo) | bit(SmtpStage::Data) | bit(SmtpStage::AfterMessage);

/// What to tell the user to do about a refusal that stops every send.
enum class Fix
{
    None,
    TenantSmtpAuthOff,
    MailboxSmtpAuthOff,
    SecurityDefaults,
    PasswordLoginOff,
    SignInPolicy,
    LoginRefused, ///< "Sign in again" after a token, check the password after one
    GoogleAppPassword,
    GoogleBrowserSignIn,
    GoogleLoginRefused,
    NotLoggedIn,
    SendAsDenied,
    SenderRefused,
};

/// One kind of reply. A row matches when the stage is one of `stages`, the code is within
/// [codeFrom, codeTo] (a reply without a code counts as 0), the enhanced status code matches
/// `enhanced` whole (none: any, also none) and the reply's text contains `text` (letter case aside).
/// The first matching row decides.
struct Row
{
    unsigned stages;
    int codeFrom;
    int codeTo;
    const char *enhanced;
    const char *text;
    ReplyClass kind;
    Fix fix = Fix::None;
};

constexpr ReplyClass kClient = ReplyClass::ClientOnly;
constexpr ReplyClass kLater = ReplyClass::Temporary;
constexpr ReplyClass kMailbox = ReplyClass::MailboxWide;
constexpr ReplyClass kStop = ReplyClass::LoginOrConnection;

// clang-format off
const std::array kRows{
    // Exchange Online (Microsoft 365 documentation: sending limits, NDR and SMTP error codes,
    // SMTP AUTH client submission).
    // Past the recipients a mailbox may send to in 24 hours.
    Row{kAnyStage, 500, 599, R"(5\.2\.0)", "SubmissionQuotaExceeded", kMailbox},
    Row{kAnyStage, 500, 599, R"(5\.1\.90)", nullptr, kMailbox},
    // A mailbox that keeps producing errors, or sends too fast, is throttled.
    Row{kAnyStage, 500, 599, R"(5\.2\.25\d)", nullptr, kMailbox},
    // The sending mailbox is full (at RCPT TO, 5.2.2 is the recipient's mailbox: see below).
    Row{kAnyStage & ~bit(SmtpStage::RcptTo), 554, 554, R"(5\.2\.2)", nullptr, kMailbox},
    // The account was blocked for sending spam, or the organisation is over its outbound limits.
    Row{kAnyStage, 500, 599, R"(5\.1\.8)", nullptr, kMailbox},
    Row{kAnyStage, 500, 599, R"(5\.7\.50[123])", nullptr, kMailbox},
    Row{kAnyStage, 500, 599, R"(5\.7\.70[58])", nullptr, kMailbox},
    // More than 3 connections at once.
    Row{kAnyStage, 432, 432, R"(4\.3\.2)", nullptr, kLater},
    // 5.7.139 carries the reason in its text, each with its own fix.
    Row{kAnyStage, 500, 599, R"(5\.7\.139)", "disabled for the Tenant", kStop, Fix::TenantSmtpAuthOff},
    Row{kAnyStage, 500, 599, R"(5\.7\.139)", "disabled for the Mailbox", kStop, Fix::MailboxSmtpAuthOff},
    Row{kAnyStage, 500, 599, R"(5\.7\.139)", "security defaults", kStop, Fix::SecurityDefaults},
    Row{kAnyStage, 500, 599, R"(5\.7\.139)", "basic authentication is disabled", kStop, Fix::PasswordLoginOff},
    Row{kAnyStage, 500, 599, R"(5\.7\.139)", nullptr, kStop, Fix::SignInPolicy},
    Row{kAnyStage, 500, 599, R"(5\.7\.30)", nullptr, kStop, Fix::PasswordLoginOff},
    // "535 5.7.3 Authentication unsuccessful", for many causes.
    Row{bit(SmtpStage::Login), 500, 599, R"(5\.7\.3)", nullptr, kStop, Fix::LoginRefused},
    // Sending without a login, and a sender the mailbox may not send as.
    Row{kAnyStage, 500, 599, R"(5\.7\.57)", nullptr, kStop, Fix::NotLoggedIn},
    Row{kAnyStage, 500, 599, R"(5\.7\.60)", nullptr, kStop, Fix::SendAsDenied},

    // Google Workspace admin help (Gmail sending limits, SMTP errors and codes).
    // "550 5.4.5 Daily user sending limit exceeded" (also the SMTP relay's daily limit).
    Row{kAnyStage, 500, 599, R"(5\.4\.5)", nullptr, kMailbox},
    // "534 5.7.9 Application-specific password required", "534 5.7.14 Please log in with your web
    // browser", "535 5.7.8 Username and Password not accepted".
    Row{kAnyStage, 500, 599, R"(5\.7\.9)", nullptr, kStop, Fix::GoogleAppPassword},
    Row{kAnyStage, 500, 599, R"(5\.7\.14)", nullptr, kStop, Fix::GoogleBrowserSignIn},
    Row{bit(SmtpStage::Login), 500, 599, R"(5\.7\.8)", nullptr, kStop, Fix::GoogleLoginRefused},
    // "552 5.2.3 Your message exceeded Google's message size limits".
    Row{kMessage, 500, 599, R"(5\.2\.3)", nullptr, kClient},

    // RFC 5321 and RFC 3463: what every server's codes mean.
    // A transient negative reply, at any stage: try the same again later.
    Row{kAnyStage, 400, 499, nullptr, nullptr, kLater},
    Row{kAnyStage, 0, 0, R"(4\.\d{1,3}\.\d{1,3})", nullptr, kLater},
    // The message is too large: 552, or 5.3.4 with any code.
    Row{kMessage, 552, 552, nullptr, nullptr, kClient},
    Row{kMessage, 500, 599, R"(5\.3\.4)", nullptr, kClient},
    // A refused recipient (5.1.x) or content (5.6.x), and any other refusal of one message.
    Row{kRecipientOrContent, 500, 599, R"(5\.1\.\d{1,3})", nullptr, kClient},
    Row{kRecipientOrContent, 500, 599, R"(5\.6\.\d{1,3})", nullptr, kClient},
    Row{kRecipientOrContent, 500, 599, nullptr, nullptr, kClient},
    // Authentication required (RFC 4954): no message goes without a login.
    Row{kAnyStage, 530, 530, nullptr, nullptr, kStop, Fix::NotLoggedIn},
    // The sender is the same for every client: refused once, refused for all.
    Row{bit(SmtpStage::MailFrom), 500, 599, nullptr, nullptr, kStop, Fix::SenderRefused},
    // A permanent refusal before any message: the settings must change.
    Row{kBeforeMail, 500, 599, nullptr, nullptr, kStop, Fix::LoginRefused},
    // Anything else (no reply code, a code that is no refusal) is read as the stage implies.
    Row{kRecipientOrContent, 0, 999, nullptr, nullptr, kClient},
    Row{kAnyStage, 0, 999, nullptr, nullptr, kStop},
};
// clang-format on

QString fixText(Fix fix, SmtpStage stage, LoginKind login)
{
    const QString enableSmtpAuth =
        u"in the Microsoft 365 admin center, Users > Active users > the user > Mail > Manage email apps, tick "
        "\"Authenticated SMTP\" and save (or in Exchange Online PowerShell: Set-CASMailbox -Identity <mailbox> "
        "-SmtpClientAuthenticationDisabled $false); it can take an hour to apply."_s;
    const QString useMicrosoftSignIn =
        u"in Setup, choose the sign-in method \"OAuth sign-in\" with the provider \"Microsoft 365\", click "
        "\"Sign in...\" and save (on the command line: quorvale config set SignInMethod oauth, then quorvale "
        "sign-in)."_s;
    const QString helpPage = u" See the help page \"When the mail provider says no\"."_s;
    switch (fix) {
    case Fix::None:
        return {};
    case Fix::TenantSmtpAuthOff:
        return u"SMTP AUTH is turned off for the whole organisation. An administrator turns it on for this "
               "mailbox alone, which overrides the organisation's setting: "_s +
               enableSmtpAuth;
    case Fix::MailboxSmtpAuthOff:
        return u"SMTP AUTH is turned off for this mailbox. An administrator turns it on: "_s + enableSmtpAuth;
    case Fix::SecurityDefaults:
        return u"The organisation's security defaults refuse logins with a password. Use the Microsoft 365 "
               "sign-in: "_s +
               useMicrosoftSignIn;
    case Fix::PasswordLoginOff:
        return u"This mail provider requires the Microsoft 365 sign-in and no longer takes a password: "_s +
               useMicrosoftSignIn;
    case Fix::SignInPolicy:
        return u"A sign-in policy of the organisation refused this login. Ask the administrator to allow "
               "this mailbox to send over SMTP from this computer."_s;
    case Fix::LoginRefused:
        if (stage != SmtpStage::Login)
            return {};
        return login == LoginKind::Token
                   ? u"Sign in again in Setup; if that does not help, the mailbox may not be allowed to send "
                     "over SMTP (an administrator turns on \"Authenticated SMTP\" for it)."_s
                   : u"Check the user name and password in Setup."_s;
    case Fix::GoogleAppPassword:
        return u"Google does not take the account's own password here: use the Google sign-in (in Setup, "
               "\"OAuth sign-in\" with the provider \"Google\") or an app password."_s +
               helpPage;
    case Fix::GoogleBrowserSignIn:
        return u"Google wants this account to sign in through a web browser first: sign in to it at "
               "accounts.google.com, then try again, or use the Google sign-in in Setup."_s +
               helpPage;
    case Fix::GoogleLoginRefused:
        return login == LoginKind::Token
                   ? u"Sign in again in Setup."_s
                   : u"Check the user name and password in Setup; a Google account with 2-Step Verification "
                     "needs an app password or the Google sign-in."_s;
    case Fix::NotLoggedIn:
        return u"The server sends only for a mailbox that logged in: enter the user name and the sign-in in "
               "Setup."_s;
    case Fix::SendAsDenied:
        return u"The mailbox you log in with may not send as the sender address: make the Email From "
               "address in Setup the mailbox's own address, or have an administrator give the mailbox the Send As permission."_s;
    case Fix::SenderRefused:
        return u"Check the Email From address in Setup."_s;
    }
    return {};
}

/// One reply, taken apart: the code and enhanced code of its first line, and the text of every line.
struct ParsedReply
{
    int code = 0;
    QString enhanced;
    QString text;    ///< every line's text, without codes, joined by spaces
    QString display; ///< the reply on one line, as shown
};

ParsedReply parse(const QByteArray &reply)
{
    static const QRegularExpression codeLine(u"^([2-5][0-9][0-9])(?:[ -]|$)"_s);
    static const QRegularExpression enhancedForm(u"^([245]\\.[0-9]{1,3}\\.[0-9]{1,3})(?:\\s|$)"_s);
    ParsedReply parsed;
    QStringList texts;
    bool first = true;
    for (QByteArray line : reply.split('\n')) {
        while (line.endsWith('\r'))
            line.chop(1);
        QString text = QString::fromUtf8(line);
        if (const auto code = codeLine.match(text); code.hasMatch()) {
            if (first)
                parsed.code = code.captured(1).toInt();
            text = text.mid(code.capturedLength());
        }
        if (const auto enhanced = enhancedForm.match(text); enhanced.hasMatch()) {
            if (first)
                parsed.enhanced = enhanced.captured(1);
            else if (enhanced.captured(1) != parsed.enhanced)
                texts.append(enhanced.captured(1));
            text = text.mid(enhanced.capturedLength());
        }
        first = false;
        texts.append(text);
    }
    parsed.text = printableText(texts.join(u' '), 1000);
    QStringList shown;
    if (parsed.code != 0)
        shown.append(QString::number(parsed.code));
    if (!parsed.enhanced.isEmpty())
        shown.append(parsed.enhanced);
    shown.append(parsed.text);
    parsed.display = printableText(shown.join(u' '), 300);
    return parsed;
}

bool matches(const Row &row, SmtpStage stage, const ParsedReply &reply)
{
    if (!(row.stages & bit(stage)) || reply.code < row.codeFrom || reply.code > row.codeTo)
        return false;
    if (row.enhanced) {
        // Each row's pattern is compiled once, on first use.
        static const auto forms = [] {
            std::array<QRegularExpression, kRows.size()> compiled;
            for (size_t i = 0; i < kRows.size(); ++i) {
                if (kRows[i].enhanced)
                    compiled[i].setPattern(u"^(?:"_s + QLatin1StringView(kRows[i].enhanced) + u")$"_s);
            }
            return compiled;
        }();
        if (!forms[size_t(&row - kRows.data())].match(reply.enhanced).hasMatch())
            return false;
    }
    return !row.text || reply.text.contains(QLatin1StringView(row.text), Qt::CaseInsensitive);
}

/// The time a reply names for trying again ("try again in 2 hours", "retry after
/// 2026-03-01T10:00:00Z"), or none.
std::optional<QDateTime> namedWait(const QString &text, const QDateTime &now)
{
    static const QRegularExpression after(
        u"\\b(?:after|until|from)\\s+([0-9]{4}-[0-9]{2}-[0-9]{2}[T ][0-9]{2}:[0-9]{2}(?::[0-9]{2})?(?:Z|[+-][0-9]{2}:?[0-9]{2})?)"_s,
        QRegularExpression::CaseInsensitiveOption);
    if (const auto m = after.match(text); m.hasMatch()) {
        QString stamp = m.captured(1);
        stamp[10] = u'T';
        QDateTime at = QDateTime::fromString(stamp, Qt::ISODate);
        if (at.isValid() && !stamp.contains(u'Z') && stamp.indexOf(u'+', 10) < 0 && stamp.indexOf(u'-', 10) < 0)
            at.setTimeZone(QTimeZone::utc());
        if (at.isValid() && at > now)
            return at;
    }
    static const QRegularExpression in(
        u"\\b(?:try again|retry|resend|resume|wait|sending again|blocked for|in)\\s+(?:in\\s+|after\\s+|for\\s+)?"
        "([0-9]{1,4})\\s*(seconds?|secs?|minutes?|mins?|hours?|hrs?|days?)\\b"_s,
        QRegularExpression::CaseInsensitiveOption);
    if (const auto m = in.match(text); m.hasMatch()) {
        const qint64 count = m.captured(1).toLongLong();
        const QString unit = m.captured(2).toLower();
        const qint64 seconds = unit.startsWith(u's')   ? 1
                               : unit.startsWith(u'm') ? 60
                               : unit.startsWith(u'h') ? 3600
                                                       : 86400;
        if (count > 0)
            return now.addSecs(count * seconds);
    }
    return std::nullopt;
}

/// Google's answer to a refused XOAUTH2 token: 334 with a base64 JSON error ({"status":"400",...}),
/// as text; empty when `parsed` is no such answer.
QString xoauth2Error(const ParsedReply &parsed)
{
    if (parsed.code != 334 || parsed.text.isEmpty())
        return {};
    const auto decoded = QByteArray::fromBase64Encoding(parsed.text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return {};
    const QJsonDocument json = QJsonDocument::fromJson(*decoded);
    if (!json.isObject() || !json.object().contains(u"status"))
        return {};
    return printableText(QString::fromUtf8(json.toJson(QJsonDocument::Compact)), 200);
}

} // namespace

QString stageWords(SmtpStage stage)
{
    switch (stage) {
    case SmtpStage::Greeting:
        return u"the connection"_s;
    case SmtpStage::Hello:
        return u"the greeting (EHLO)"_s;
    case SmtpStage::StartTls:
        return u"the encryption (STARTTLS)"_s;
    case SmtpStage::Login:
        return u"the login"_s;
    case SmtpStage::MailFrom:
        return u"the sender"_s;
    case SmtpStage::RcptTo:
        return u"the recipient"_s;
    case SmtpStage::Data:
        return u"the message"_s;
    case SmtpStage::AfterMessage:
        return u"the end of the session"_s;
    }
    return u"the connection"_s;
}

ReplyVerdict classifyReply(SmtpStage stage, const QByteArray &reply, LoginKind login, const QDateTime &now)
{
    ParsedReply parsed = parse(reply);
    if (stage == SmtpStage::Login) {
        // A refused token, told before the final 535 (which a client that hangs up never reads).
        if (const QString error = xoauth2Error(parsed); !error.isEmpty()) {
            ReplyVerdict verdict;
            verdict.kind = ReplyClass::LoginOrConnection;
            verdict.stage = stage;
            verdict.code = parsed.code;
            verdict.reply = u"334 "_s + error;
            verdict.reason = u"the server refused "_s + stageWords(stage) + u": "_s + verdict.reply;
            verdict.fix = fixText(Fix::LoginRefused, stage, login);
            return verdict;
        }
    }
    ReplyVerdict verdict;
    verdict.stage = stage;
    verdict.code = parsed.code;
    verdict.enhanced = parsed.enhanced;
    verdict.reply = parsed.display.isEmpty() ? u"(no reply)"_s : parsed.display;
    Fix fix = Fix::None;
    for (const Row &row : kRows) {
        if (matches(row, stage, parsed)) {
            verdict.kind = row.kind;
            fix = row.fix;
            break;
        }
    }
    const QString refused = stage == SmtpStage::AfterMessage ? u"the server answered at "_s : u"the server refused "_s;
    if (parsed.code == 0)
        verdict.reason = u"the server's answer to "_s + stageWords(stage) + u" is no SMTP reply: "_s + verdict.reply;
    else if (parsed.code < 400)
        verdict.reason = u"the server gave an unexpected answer to "_s + stageWords(stage) + u": "_s + verdict.reply;
    else if (verdict.kind == ReplyClass::Temporary)
        verdict.reason = refused + stageWords(stage) + u" for now: "_s + verdict.reply;
    else
        verdict.reason = refused + stageWords(stage) + u": "_s + verdict.reply;
    verdict.fix = fixText(fix, stage, login);
    if (verdict.kind == ReplyClass::MailboxWide)
        verdict.sendableAfter = namedWait(parsed.text, now);
    return verdict;
}

} // namespace quorvale
