#include "settings/settingstable.h"

#include "settings/scramble.h"
#include "settings/settingsstore.h"
#include "text/documentname.h"
#include "text/mailaddress.h"

#include <algorithm>
#include <array>
#include <limits>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

constexpr qint64 kInt32Max = std::numeric_limits<qint32>::max();

// The pacing values a run can use: their millisecond products must fit in 32 bits.
constexpr qint64 kMaxDelaySeconds = kInt32Max / 1000;
constexpr qint64 kMaxGroupDelayMinutes = kInt32Max / 60000;
// Far above any provider's limits (a few thousand a day, a few dozen a minute), low enough that
// no count of them overflows.
constexpr qint64 kMaxDailyLimit = 1000000;
constexpr qint64 kMaxMinuteLimit = 10000;

const std::array<StoredSetting, 38> kSettings{{
    {.name = "EmailFrom"_L1, .key = &AppSettings::EmailFrom},
    {.name = "SMPTServer"_L1, .key = &AppSettings::SMTPServer},
    {.name = "AuthType"_L1,
     .key = &AppSettings::AuthType,
     .type = SettingType::Number,
     .defaultNumber = 1,
     .minimum = 0,
     .maximum = 1,
     .choice = true,
     .rule = "The authentication type (AuthType) must be 0 for Simple or 1 for SSL."_L1},
    {.name = "SSLport"_L1,
     .key = &AppSettings::SSLport,
     .type = SettingType::Port,
     .minimum = 1,
     .maximum = 65535,
     .rule = "The SSL port (SSLport) must be empty or a whole number from %1 to %2."_L1},
    {.name = "UserName"_L1, .key = &AppSettings::UserName},
    {.name = "PW"_L1, .key = &AppSettings::Password, .type = SettingType::Password, .masked = true},
    {.name = "SubjectLine"_L1, .key = &AppSettings::SubjectLine, .defaultText = "Subject Line Text"_L1},
    {.name = "CSVpath"_L1, .key = &AppSettings::CSVpath},
    {.name = "CSVHeader"_L1,
     .key = &AppSettings::CSVHeader,
     .type = SettingType::Number,
     .defaultNumber = 0,
     .minimum = 0,
     .maximum = 1,
     .choice = true,
     .rule = "The column names setting (CSVHeader) must be 0 when every line is a client or 1 when the first line holds column names."_L1},
    {.name = "AttachMode"_L1,
     .key = &AppSettings::AttachMode,
     .defaultText = "none"_L1,
     .choice = true,
     .words = "none common client named"_L1,
     .rule = "The attachment mode (AttachMode) must be one of: none, common, client, named."_L1},
    {.name = "AttachmentPath"_L1, .key = &AppSettings::AttachmentPath},
    {.name = "PrintDocuments"_L1,
     .key = &AppSettings::PrintDocuments,
     .type = SettingType::Number,
     .defaultNumber = 0,
     .minimum = 0,
     .maximum = 1,
     .choice = true,
     .rule = "Printing the documents of clients without an address (PrintDocuments) must be 0 for off or 1 for on."_L1},
    {.name = "CSVDelimiter"_L1,
     .key = &AppSettings::CSVDelimiter,
     .defaultText = ","_L1,
     .choice = true,
     .words = ", ; tab"_L1,
     .rule = "The field separator (CSVDelimiter) must be one of: , (a comma), ; (a semicolon), tab."_L1},
    {.name = "BodyFormat"_L1,
     .key = &AppSettings::BodyFormat,
     .defaultText = "plain"_L1,
     .choice = true,
     .words = "plain html"_L1,
     .rule = "The body format (BodyFormat) must be one of: plain, html."_L1},
    {.name = "EnableSchedule"_L1,
     .key = &AppSettings::EnableSchedule,
     .type = SettingType::Number,
     .defaultNumber = 0,
     .minimum = 0,
     .maximum = 1,
     .choice = true,
     .rule = "Email scheduling (EnableSchedule) must be 0 for off or 1 for on."_L1},
    {.name = "DelayBetweenSends"_L1,
     .key = &AppSettings::DelayBetweenSends,
     .type = SettingType::Number,
     .defaultNumber = 1,
     .minimum = 0,
     .maximum = kMaxDelaySeconds,
     .rule = "The delay between email sends must be a whole number of seconds from %1 to %2."_L1},
    {.name = "GroupDelay"_L1,
     .key = &AppSettings::GroupDelay,
     .type = SettingType::Number,
     .defaultNumber = 5,
     .minimum = 0,
     .maximum = kMaxGroupDelayMinutes,
     .rule = "The delay between email groups must be a whole number of minutes from %1 to %2."_L1},
    {.name = "GroupSize"_L1,
     .key = &AppSettings::GroupSize,
     .type = SettingType::Number,
     .defaultNumber = 100,
     .minimum = 0,
     .maximum = kInt32Max,
     .rule = "The email group size must be a whole number from %1 to %2."_L1},
    {.name = "SignInMethod"_L1,
     .key = &AppSettings::SignInMethod,
     .defaultText = "password"_L1,
     .choice = true,
     .words = "password oauth password-command token-command"_L1,
     .rule = "The sign-in method (SignInMethod) must be one of: password, oauth, password-command, token-command."_L1},
    {.name = "OAuthProvider"_L1,
     .key = &AppSettings::OAuthProvider,
     .defaultText = "microsoft"_L1,
     .choice = true,
     .words = "microsoft google custom"_L1,
     .rule = "The sign-in provider (OAuthProvider) must be one of: microsoft, google, custom."_L1},
    {.name = "OAuthClientId"_L1, .key = &AppSettings::OAuthClientId},
    {.name = "OAuthClientSecret"_L1, .key = &AppSettings::OAuthClientSecret, .masked = true},
    {.name = "OAuthTenant"_L1, .key = &AppSettings::OAuthTenant},
    {.name = "OAuthAuthorizeUrl"_L1, .key = &AppSettings::OAuthAuthorizeUrl},
    {.name = "OAuthTokenUrl"_L1, .key = &AppSettings::OAuthTokenUrl},
    {.name = "OAuthScope"_L1, .key = &AppSettings::OAuthScope},
    {.name = "PasswordCommand"_L1, .key = &AppSettings::PasswordCommand},
    {.name = "DailyLimit"_L1,
     .key = &AppSettings::DailyLimit,
     .type = SettingType::Number,
     .defaultNumber = 0,
     .minimum = 0,
     .maximum = kMaxDailyLimit,
     .rule = "The daily sending limit (DailyLimit) must be a whole number of messages from %1 (no limit) to %2."_L1},
    {.name = "MinuteLimit"_L1,
     .key = &AppSettings::MinuteLimit,
     .type = SettingType::Number,
     .defaultNumber = 0,
     .minimum = 0,
     .maximum = kMaxMinuteLimit,
     .rule = "The sending limit per minute (MinuteLimit) must be a whole number of messages from %1 (no limit) to %2."_L1},
    {.name = "EmailFromName"_L1,
     .key = &AppSettings::EmailFromName,
     .type = SettingType::Line,
     .rule = "The sender name (EmailFromName) must be one line of text."_L1},
    {.name = "ReplyTo"_L1,
     .key = &AppSettings::ReplyTo,
     .type = SettingType::Address,
     .rule = "The Reply-To address (ReplyTo) must be empty or one e-mail address, such as office@example.com."_L1},
    {.name = "ArchiveCopyTo"_L1,
     .key = &AppSettings::ArchiveCopyTo,
     .type = SettingType::Address,
     .rule = "The archive copy address (ArchiveCopyTo) must be empty or one e-mail address, such as archive@example.com."_L1},
    {.name = "DocumentPatterns"_L1,
     .key = &AppSettings::DocumentPatterns,
     .type = SettingType::DocumentNames,
     .rule = "The document names (DocumentPatterns) must be empty or file names of the client list's folder separated by \";\", such as Invoice_{{id}}.pdf;Statement_{{id}}.pdf."_L1},
    {.name = "SentCopy"_L1,
     .key = &AppSettings::SentCopy,
     .type = SettingType::Number,
     .defaultNumber = 0,
     .minimum = 0,
     .maximum = 1,
     .choice = true,
     .rule = "The copy in the Sent folder (SentCopy) must be 0 for off or 1 for on."_L1},
    {.name = "IMAPServer"_L1,
     .key = &AppSettings::IMAPServer,
     .type = SettingType::Line,
     .rule = "The IMAP server (IMAPServer) must be one line of text."_L1},
    {.name = "IMAPPort"_L1,
     .key = &AppSettings::IMAPPort,
     .type = SettingType::Port,
     .defaultText = "993"_L1,
     .minimum = 1,
     .maximum = 65535,
     .rule = "The IMAP port (IMAPPort) must be empty or a whole number from %1 to %2."_L1},
    {.name = "SentFolder"_L1,
     .key = &AppSettings::SentFolder,
     .type = SettingType::Line,
     .rule = "The Sent folder (SentFolder) must be one line of text."_L1},
    {.name = "SendMethod"_L1,
     .key = &AppSettings::SendMethod,
     .defaultText = "smtp"_L1,
     .choice = true,
     .words = "smtp queue"_L1,
     .rule = "The send method (SendMethod) must be one of: smtp (the mail server above), queue (this computer's mail queue)."_L1},
}};

void setError(QString *error, const QString &message)
{
    if (error)
        *error = message;
}

bool isOneOf(QLatin1StringView words, const QString &text)
{
    for (const auto word : QLatin1StringView(words).tokenize(u' ', Qt::SkipEmptyParts)) {
        if (text == word)
            return true;
    }
    return false;
}

/// A whole number as typed: digits, perhaps a sign, blanks around. A stored "2.5" still loads (by
/// rounding), but typing one is refused: the setting asks for a whole number.
bool isWholeNumeral(const QString &text)
{
    const QStringView numeral = QStringView(text).trimmed();
    const QStringView digits = numeral.startsWith(u'-') || numeral.startsWith(u'+') ? numeral.mid(1) : numeral;
    return !digits.isEmpty() && std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

/// The whole numbers the field of a number setting can hold.
std::pair<qint64, qint64> fieldRange(const StoredSetting &setting)
{
    if (setting.key.int16)
        return {std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max()};
    return {std::numeric_limits<qint32>::min(), kInt32Max};
}

} // namespace

void setSettingText(AppSettings &settings, const StoredSetting &setting, const QString &text)
{
    // A number that does not read, or a choice that is none of its values, gives the default.
    if (setting.key.text) {
        const bool known = !setting.choice || isOneOf(setting.words, text);
        settings.*setting.key.text = known ? text : QString(setting.defaultText);
        return;
    }
    const auto [fieldMin, fieldMax] = fieldRange(setting);
    const qint64 min = setting.choice ? setting.minimum : fieldMin;
    const qint64 max = setting.choice ? setting.maximum : fieldMax;
    const qint64 value = toWholeNumber(text, min, max).value_or(setting.defaultNumber);
    if (setting.key.int16)
        settings.*setting.key.int16 = qint16(value);
    else
        settings.*setting.key.int32 = qint32(value);
}

std::span<const StoredSetting> settingsTable()
{
    return kSettings;
}

const StoredSetting *findStoredSetting(QStringView name)
{
    for (const StoredSetting &setting : kSettings) {
        if (name.compare(setting.name, Qt::CaseInsensitive) == 0)
            return &setting;
    }
    return nullptr;
}

const StoredSetting &storedSetting(SettingKey key)
{
    for (const StoredSetting &setting : kSettings) {
        if (setting.key == key)
            return setting;
    }
    qFatal("A setting without a row in the settings table");
}

QString settingText(const AppSettings &settings, const StoredSetting &setting)
{
    if (setting.key.text)
        return settings.*setting.key.text;
    if (setting.key.int16)
        return QString::number(settings.*setting.key.int16);
    return QString::number(settings.*setting.key.int32);
}

QString settingTextProblem(const StoredSetting &setting, const QString &text)
{
    const auto refused = [&setting] {
        QString rule = setting.rule;
        return rule.contains("%1"_L1) ? rule.arg(setting.minimum).arg(setting.maximum) : rule;
    };
    switch (setting.type) {
    case SettingType::Text:
        return !setting.choice || isOneOf(setting.words, text) ? QString() : refused();
    case SettingType::Password:
        if (isStorablePassword(text))
            return QString();
        return u"This password cannot be stored. Use at least 2 characters, start with two plain "
               "letters, digits or symbols (ASCII) and use only Western European (Latin-1) "
               "characters other than \u00FE and \u00FF."_s;
    case SettingType::Port:
        return text.isEmpty() || smtpPortNumber(text) ? QString() : refused();
    case SettingType::Number:
        return isWholeNumeral(text) && toWholeNumber(text, setting.minimum, setting.maximum) ? QString() : refused();
    case SettingType::Line:
        return isOneLineText(text) ? QString() : refused();
    case SettingType::Address:
        return text.isEmpty() || isSingleMailAddress(text) ? QString() : refused();
    case SettingType::DocumentNames:
        if (text.isEmpty())
            return QString();
        if (const QString problem = documentPatternsProblem(text); !problem.isEmpty())
            return refused() + u' ' + problem;
        return QString();
    }
    return QString();
}

std::optional<qint32> smtpPortNumber(const QString &text)
{
    bool ok = false;
    const int port = text.trimmed().toInt(&ok);
    if (!ok || port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

void loadSetting(const SettingsStore &store, const StoredSetting &setting, AppSettings &settings)
{
    const QVariant stored = store.RegReadValue(setting.name, ValueKind::Text, QVariant());
    switch (setting.type) {
    case SettingType::Password:
        settings.*setting.key.text = ScrambleText(false, stored.toString(), false);
        return;
    case SettingType::Text:
    case SettingType::Port:
    case SettingType::Line:
    case SettingType::Address:
    case SettingType::DocumentNames:
        if (!stored.isValid()) {
            settings.*setting.key.text = setting.defaultText;
            return;
        }
        break;
    case SettingType::Number:
        break;
    }
    setSettingText(settings, setting, stored.toString()); // nothing stored reads as the default
}

void LoadSettings(const SettingsStore &store, AppSettings &settings)
{
    for (const StoredSetting &setting : kSettings)
        loadSetting(store, setting, settings);
}

bool saveSetting(SettingsStore &store, SettingKey key, const QString &text, QString *error)
{
    const StoredSetting &setting = storedSetting(key);
    if (const QString problem = settingTextProblem(setting, text); !problem.isEmpty()) {
        setError(error, problem);
        return false;
    }
    const QString stored = setting.type == SettingType::Password ? ScrambleText(false, text, true) : text;
    return store.RegWriteValue(setting.name, ValueKind::Text, stored, error);
}

bool saveSettings(SettingsStore &store, const QList<SettingEdit> &edits, AppSettings &settings, QString *error,
                  qsizetype *refused)
{
    if (refused)
        *refused = -1;
    // Everything is checked before the first value is written, so nothing is half-saved.
    for (qsizetype i = 0; i < edits.size(); ++i) {
        const QString problem = settingTextProblem(storedSetting(edits[i].key), edits[i].text);
        if (!problem.isEmpty()) {
            setError(error, problem);
            if (refused)
                *refused = i;
            return false;
        }
    }
    AppSettings saved = settings;
    for (const SettingEdit &edit : edits) {
        if (!saveSetting(store, edit.key, edit.text, error))
            return false;
        setSettingText(saved, storedSetting(edit.key), edit.text);
    }
    settings = saved;
    return true;
}

QList<SettingKey> missingMailServerSettings(const AppSettings &settings)
{
    // The computer's mail queue holds its own server and login.
    if (settings.SendMethod == "queue"_L1)
        return {};
    // The secret of the login: the password, none to set (the sign-in keeps its own), or the
    // command that prints it.
    QString AppSettings::*secret = &AppSettings::Password;
    if (settings.SignInMethod == "oauth"_L1)
        secret = nullptr;
    else if (settings.SignInMethod == "password-command"_L1 || settings.SignInMethod == "token-command"_L1)
        secret = &AppSettings::PasswordCommand;
    QList<SettingKey> missing;
    for (QString AppSettings::*field :
         {&AppSettings::SMTPServer, &AppSettings::SSLport, &AppSettings::UserName, secret}) {
        if (field && (settings.*field).isEmpty())
            missing.append(SettingKey(field));
    }
    return missing;
}

bool isMailServerComplete(const AppSettings &settings)
{
    return missingMailServerSettings(settings).isEmpty();
}

} // namespace quorvale
