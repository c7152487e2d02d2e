#include "settings/settingsstore.h"

#include "platform/files.h"
#include "settings/scramble.h"
#include "text/windows1252.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringDecoder>

#include <array>
#include <limits>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

using Perm = QFileDevice::Permission;
constexpr QFileDevice::Permissions kOwnerReadWrite = Perm::ReadOwner | Perm::WriteOwner;
// The owner, group and other bits of a mode; QFile also reports the current user's bits.
constexpr QFileDevice::Permissions kModeBits = Perm::ReadOwner | Perm::WriteOwner | Perm::ExeOwner | Perm::ReadGroup |
                                               Perm::WriteGroup | Perm::ExeGroup | Perm::ReadOther | Perm::WriteOther |
                                               Perm::ExeOther;

constexpr qint64 kInt16Min = std::numeric_limits<qint16>::min();
constexpr qint64 kInt16Max = std::numeric_limits<qint16>::max();
constexpr qint64 kInt32Min = std::numeric_limits<qint32>::min();
constexpr qint64 kInt32Max = std::numeric_limits<qint32>::max();

// The pacing values a run can use: their millisecond products must fit in 32 bits.
constexpr qint64 kMaxDelaySeconds = kInt32Max / 1000;
constexpr qint64 kMaxGroupDelayMinutes = kInt32Max / 60000;

using L1 = QLatin1String;
const std::array<StoredSetting, 12> kSettings{{
    {.name = L1("EmailFrom"), .type = SettingType::Text, .textField = &AppSettings::EmailFrom},
    {.name = L1("SMPTServer"), .type = SettingType::Text, .textField = &AppSettings::SMTPServer},
    {.name = L1("AuthType"),
     .type = SettingType::Int16,
     .defaultNumber = 1,
     .int16Field = &AppSettings::AuthType,
     .minimum = 0,
     .maximum = 1,
     .choice = true,
     .rule = L1("The authentication type (AuthType) must be 0 for Simple or 1 for SSL.")},
    {.name = L1("SSLport"),
     .type = SettingType::Port,
     .textField = &AppSettings::SSLport,
     .minimum = 1,
     .maximum = 65535,
     .rule = L1("The SSL port (SSLport) must be empty or a whole number from %1 to %2.")},
    {.name = L1("UserName"), .type = SettingType::Text, .textField = &AppSettings::UserName},
    {.name = L1("PW"), .type = SettingType::Password, .textField = &AppSettings::Password},
    {.name = L1("SubjectLine"),
     .type = SettingType::Text,
     .defaultText = L1("Subject Line Text"),
     .textField = &AppSettings::SubjectLine},
    {.name = L1("CSVpath"), .type = SettingType::Text, .textField = &AppSettings::CSVpath},
    {.name = L1("EnableSchedule"),
     .type = SettingType::Int16,
     .defaultNumber = 0,
     .int16Field = &AppSettings::EnableSchedule,
     .minimum = 0,
     .maximum = 1,
     .choice = true,
     .rule = L1("Email scheduling (EnableSchedule) must be 0 for off or 1 for on.")},
    {.name = L1("DelayBetweenSends"),
     .type = SettingType::Int32,
     .defaultNumber = 1,
     .int32Field = &AppSettings::DelayBetweenSends,
     .minimum = 0,
     .maximum = kMaxDelaySeconds,
     .rule = L1("The delay between email sends must be a whole number of seconds from %1 to %2.")},
    {.name = L1("GroupDelay"),
     .type = SettingType::Int32,
     .defaultNumber = 5,
     .int32Field = &AppSettings::GroupDelay,
     .minimum = 0,
     .maximum = kMaxGroupDelayMinutes,
     .rule = L1("The delay between email groups must be a whole number of minutes from %1 to %2.")},
    {.name = L1("GroupSize"),
     .type = SettingType::Int32,
     .defaultNumber = 100,
     .int32Field = &AppSettings::GroupSize,
     .minimum = 0,
     .maximum = kInt32Max,
     .rule = L1("The email group size must be a whole number from %1 to %2.")},
}};

void setError(QString *error, const QString &message)
{
    if (error)
        *error = message;
}

// True when a line of the INI file at `path` opens a quoted value it never closes. QSettings then
// reads every following line, other settings included, as part of that value, and a save would
// write them back inside it: a hand edit that left out one quote would lose the rest of the file.
bool hasUnclosedQuote(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const qsizetype equals = line.indexOf('=');
        const QByteArray key = line.left(equals).trimmed();
        if (equals < 0 || key.startsWith(';') || key.startsWith('#'))
            continue;
        bool quoted = false;
        for (qsizetype i = equals + 1; i < line.size(); ++i) {
            if (line[i] == '\\')
                ++i; // an escaped character, a quote included
            else if (line[i] == '"')
                quoted = !quoted;
        }
        if (quoted)
            return true;
    }
    return false;
}

// QSettings would read '/' and '\' as group separators and so store the value elsewhere.
bool isUsableName(const QString &name)
{
    return !name.isEmpty() && !name.contains(u'/') && !name.contains(u'\\');
}

// The stored key `name` refers to: the exact name, else one that differs only in case (value
// names are case-insensitive, and a hand-edited file may spell them differently).
QString storedKey(const QSettings &settings, const QString &name)
{
    if (settings.contains(name))
        return name;
    const QStringList keys = settings.childKeys();
    for (const QString &key : keys) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return key;
    }
    return QString();
}

// The text of a stored value. An unquoted hand-written value with commas comes back from
// QSettings as a list; joining it again keeps the text a person meant.
std::optional<QString> storedText(const QVariant &raw)
{
    if (raw.typeId() == QMetaType::QStringList)
        return raw.toStringList().join(u", "_s);
    if (!raw.isValid() || !raw.canConvert<QString>())
        return std::nullopt;
    return raw.toString();
}

std::optional<QString> textToStore(ValueKind kind, const QVariant &value, QString *error)
{
    switch (kind) {
    case ValueKind::Text:
        if (value.isValid() && !value.canConvert<QString>()) {
            setError(error, u"The value cannot be stored as text."_s);
            return std::nullopt;
        }
        return value.toString();
    case ValueKind::Bytes:
        return QString::fromLatin1(value.toByteArray());
    case ValueKind::Number:
        if (const auto number = toWholeNumber(value.toString(), kInt32Min, kInt32Max))
            return QString::number(*number);
        setError(error, u"The value is not a 32-bit whole number."_s);
        return std::nullopt;
    }
    setError(error, u"Unsupported value type"_s);
    return std::nullopt;
}

class IniSettingsStore final : public SettingsStore
{
public:
    explicit IniSettingsStore(QString path) : m_path(std::move(path)) {}

    QVariant RegReadValue(const QString &valueName, ValueKind kind, const QVariant &defaultValue) const override
    {
        if (!isUsableName(valueName) || !QFileInfo(m_path).isFile())
            return defaultValue;
        const QSettings settings(m_path, QSettings::IniFormat);
        if (settings.status() == QSettings::AccessError)
            return defaultValue;
        const QString key = storedKey(settings, valueName);
        if (key.isEmpty())
            return defaultValue;
        const auto text = storedText(settings.value(key));
        if (!text)
            return defaultValue;

        switch (kind) {
        case ValueKind::Text:
            return *text;
        case ValueKind::Bytes:
            for (QChar c : *text) {
                if (c.unicode() > 0xFF)
                    return defaultValue;
            }
            return text->toLatin1();
        case ValueKind::Number:
            if (const auto number = toWholeNumber(*text, kInt32Min, kInt32Max))
                return QVariant::fromValue(static_cast<qint32>(*number));
            return defaultValue;
        }
        return defaultValue; // an unsupported kind reads nothing
    }

    bool RegWriteValue(const QString &valueName, ValueKind kind, const QVariant &value, QString *error) override
    {
        if (!isUsableName(valueName)) {
            setError(error, u"\"%1\" is not a usable setting name."_s.arg(valueName));
            return false;
        }
        const auto text = textToStore(kind, value, error);
        if (!text || !prepareFile(error))
            return false;

        QSettings settings(m_path, QSettings::IniFormat);
        if (settings.status() != QSettings::NoError || hasUnclosedQuote(m_path)) {
            // Writing now would drop whatever part of the file could not be read.
            setError(error, u"The settings file %1 could not be read, so nothing was saved."_s.arg(
                                QDir::toNativeSeparators(m_path)));
            return false;
        }

        // Every key this write touches, with its value before, to undo a failed write: QSettings
        // keeps unsaved changes in a process-wide cache that later reads and writes would see.
        QList<std::pair<QString, QVariant>> before{{valueName, settings.value(valueName)}};
        const QStringList keys = settings.childKeys();
        for (const QString &key : keys) {
            if (key != valueName && key.compare(valueName, Qt::CaseInsensitive) == 0) {
                before.append({key, settings.value(key)});
                settings.remove(key);
            }
        }
        settings.setValue(valueName, *text);
        settings.sync();
        if (settings.status() == QSettings::NoError)
            return true;

        for (const auto &[key, old] : std::as_const(before)) {
            if (old.isValid())
                settings.setValue(key, old);
            else
                settings.remove(key);
        }
        setError(error,
                 u"The setting \"%1\" could not be saved to %2."_s.arg(valueName, QDir::toNativeSeparators(m_path)));
        return false;
    }

private:
    // Creates the folder and an empty owner-only file before anything is written, so the
    // scrambled password is never readable by others, not even for a moment. QSettings
    // replaces the file atomically and keeps the mode of the file it replaces.
    bool prepareFile(QString *error) const
    {
        const QFileInfo info(m_path);
        const QString folder = info.absolutePath();
        if (!platform::makePrivateFolder(folder)) {
            setError(error, u"The settings folder %1 could not be created."_s.arg(QDir::toNativeSeparators(folder)));
            return false;
        }
        // QSettings would write to wherever a link there leads.
        if (platform::entryKind(m_path) == platform::EntryKind::Link) {
            setError(error, u"%1 is a symbolic link; the settings are not saved through it."_s.arg(
                                QDir::toNativeSeparators(m_path)));
            return false;
        }
        if (info.exists() && !info.isFile()) {
            setError(error, u"%1 is not a file, so the settings cannot be saved there."_s.arg(
                                QDir::toNativeSeparators(m_path)));
            return false;
        }
        QFile file(m_path);
        if (!info.exists() && !file.open(QIODevice::WriteOnly | QIODevice::NewOnly, kOwnerReadWrite) &&
            !file.exists()) {
            setError(error, u"The settings file %1 could not be created: %2"_s.arg(QDir::toNativeSeparators(m_path),
                                                                                   file.errorString()));
            return false;
        }
        file.close();
        if ((QFile::permissions(m_path) & kModeBits) != kOwnerReadWrite &&
            !QFile::setPermissions(m_path, kOwnerReadWrite)) {
            setError(error, u"The settings file %1 could not be made private to its owner."_s.arg(
                                QDir::toNativeSeparators(m_path)));
            return false;
        }
        return true;
    }

    QString m_path;
};

// A base folder from the environment; relative values are invalid and fall back to the default.
QString xdgFolder(const char *variable, const QString &fallbackUnderHome)
{
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::cleanPath(QDir::homePath() + u'/' + fallbackUnderHome);
}

// UTF-8 (without its byte-order mark) when valid, else Windows-1252, so that no byte is lost.
QString decodeText(QByteArray bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return QString::fromUtf8(windows1252ToUtf8(bytes));
}

} // namespace

std::unique_ptr<SettingsStore> openSettingsStore(const QString &path)
{
    return std::make_unique<IniSettingsStore>(path.isEmpty() ? defaultSettingsPath() : path);
}

QString defaultSettingsPath()
{
    return xdgFolder("XDG_CONFIG_HOME", u".config"_s) + u"/Quorvale/Quorvale.ini"_s;
}

QString defaultDataFolder()
{
    return xdgFolder("XDG_DATA_HOME", u".local/share"_s) + u"/Quorvale"_s;
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

QString settingText(const AppSettings &settings, const StoredSetting &setting)
{
    switch (setting.type) {
    case SettingType::Text:
    case SettingType::Password:
    case SettingType::Port:
        return settings.*setting.textField;
    case SettingType::Int16:
        return QString::number(settings.*setting.int16Field);
    case SettingType::Int32:
        return QString::number(settings.*setting.int32Field);
    }
    return QString();
}

QString settingTextProblem(const StoredSetting &setting, const QString &text)
{
    const auto refused = [&setting] {
        QString rule = setting.rule;
        return rule.contains("%1"_L1) ? rule.arg(setting.minimum).arg(setting.maximum) : rule;
    };
    switch (setting.type) {
    case SettingType::Text:
        return QString();
    case SettingType::Password:
        if (isStorablePassword(text))
            return QString();
        return u"This password cannot be stored. Use at least 2 characters, start with two plain "
               "letters, digits or symbols (ASCII) and use only Western European (Latin-1) "
               "characters other than \u00FE and \u00FF."_s;
    case SettingType::Port:
        return text.isEmpty() || smtpPortNumber(text) ? QString() : refused();
    case SettingType::Int16:
    case SettingType::Int32:
        return toWholeNumber(text, setting.minimum, setting.maximum) ? QString() : refused();
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

bool SaveSettingText(SettingsStore &store, const StoredSetting &setting, const QString &text, QString *error)
{
    if (const QString problem = settingTextProblem(setting, text); !problem.isEmpty()) {
        setError(error, problem);
        return false;
    }
    const QString stored = setting.type == SettingType::Password ? ScrambleText(false, text, true) : text;
    return store.RegWriteValue(setting.name, ValueKind::Text, stored, error);
}

void LoadSettings(const SettingsStore &store, AppSettings &settings)
{
    for (const StoredSetting &setting : kSettings) {
        const QString name = setting.name;
        switch (setting.type) {
        case SettingType::Text:
        case SettingType::Port:
            settings.*setting.textField = store.RegReadValue(name, ValueKind::Text, setting.defaultText).toString();
            break;
        case SettingType::Password:
            settings.*setting.textField =
                ScrambleText(false, store.RegReadValue(name, ValueKind::Text, QString()).toString(), false);
            break;
        case SettingType::Int16:
        case SettingType::Int32: {
            const bool narrow = setting.type == SettingType::Int16;
            const qint64 min = setting.choice ? setting.minimum : narrow ? kInt16Min : kInt32Min;
            const qint64 max = setting.choice ? setting.maximum : narrow ? kInt16Max : kInt32Max;
            const QVariant stored = store.RegReadValue(name, ValueKind::Text, QVariant());
            const auto number = stored.isValid() ? toWholeNumber(stored.toString(), min, max) : std::nullopt;
            const qint64 value = number.value_or(setting.defaultNumber);
            if (narrow)
                settings.*setting.int16Field = static_cast<qint16>(value);
            else
                settings.*setting.int32Field = static_cast<qint32>(value);
            break;
        }
        }
    }
}

std::optional<qint64> toWholeNumber(const QString &text, qint64 min, qint64 max)
{
    const QStringView numeral = QStringView(text).trimmed();
    qsizetype i = 0;
    const bool negative = i < numeral.size() && numeral[i] == u'-';
    if (i < numeral.size() && (numeral[i] == u'-' || numeral[i] == u'+'))
        ++i;
    const auto isDigit = [](QChar c) { return c >= u'0' && c <= u'9'; };

    // The magnitude's whole part, digit by digit, refusing anything that overflows.
    quint64 magnitude = 0;
    int digits = 0;
    for (; i < numeral.size() && isDigit(numeral[i]); ++i, ++digits) {
        const quint64 digit = numeral[i].unicode() - u'0';
        if (magnitude > (std::numeric_limits<quint64>::max() - digit) / 10)
            return std::nullopt;
        magnitude = magnitude * 10 + digit;
    }

    // The fraction decides the rounding: above a half rounds up, a half exactly to even.
    int firstFraction = 0;
    bool restNonZero = false;
    if (i < numeral.size() && numeral[i] == u'.') {
        const qsizetype firstAt = ++i;
        for (; i < numeral.size() && isDigit(numeral[i]); ++i, ++digits) {
            const int digit = numeral[i].unicode() - u'0';
            if (i == firstAt)
                firstFraction = digit;
            else if (digit != 0)
                restNonZero = true;
        }
    }
    if (i != numeral.size() || digits == 0)
        return std::nullopt;
    const bool roundUp = firstFraction > 5 || (firstFraction == 5 && (restNonZero || magnitude % 2 == 1));
    if (roundUp) {
        if (magnitude == std::numeric_limits<quint64>::max())
            return std::nullopt;
        ++magnitude;
    }

    const quint64 limit =
        negative ? quint64(std::numeric_limits<qint64>::max()) + 1 : quint64(std::numeric_limits<qint64>::max());
    if (magnitude > limit)
        return std::nullopt;
    const qint64 value = negative ? qint64(0 - magnitude) : qint64(magnitude);
    if (value < min || value > max)
        return std::nullopt;
    return value;
}

QString bodyFilePath(const QString &dataFolder)
{
    return QDir(dataFolder.isEmpty() ? defaultDataFolder() : dataFolder).filePath(u"Body.txt"_s);
}

bool ReadBodyFile(const QString &dataFolder, QString &body, QString *error)
{
    body.clear();
    const QString path = bodyFilePath(dataFolder);
    if (!QFileInfo(path).isFile())
        return true;

    QFile file(path);
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly))
        bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        setError(error, u"The message body could not be read from %1: %2"_s.arg(QDir::toNativeSeparators(path),
                                                                                file.errorString()));
        return false;
    }

    // Every line, whatever ended it (CR LF, lone CR, or the end of the file), is followed by
    // CR LF; a lone LF stays inside its line.
    const QString text = decodeText(bytes);
    const QLatin1String crlf("\r\n");
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) != u'\r')
            continue;
        body += QStringView(text).mid(start, i - start) + crlf;
        if (i + 1 < text.size() && text.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        body += QStringView(text).mid(start) + crlf;
    return true;
}

bool WriteBodyFile(const QString &dataFolder, const QString &body, QString *error)
{
    QString text;
    text.reserve(body.size() + 2);
    const QLatin1String crlf("\r\n");
    for (qsizetype i = 0; i < body.size(); ++i) {
        const QChar c = body.at(i);
        if (c == u'\r' && i + 1 < body.size() && body.at(i + 1) == u'\n')
            continue; // the LF that follows writes the line end
        if (c == u'\r' || c == u'\n')
            text += crlf;
        else
            text += c;
    }
    // The reader follows every line with CR LF, so a body that ends without one would grow by
    // one line end on every load and save.
    if (!text.isEmpty() && !text.endsWith(crlf))
        text += crlf;

    const QString path = bodyFilePath(dataFolder);
    const QString folder = QFileInfo(path).absolutePath();
    if (!platform::makePrivateFolder(folder)) {
        setError(error, u"The data folder %1 could not be created."_s.arg(QDir::toNativeSeparators(folder)));
        return false;
    }
    QString reason;
    if (!platform::writeFileReplacing(path, text.toUtf8(), kOwnerReadWrite, &reason)) {
        setError(error, u"The message body could not be saved to %1: %2"_s.arg(QDir::toNativeSeparators(path), reason));
        return false;
    }
    return true;
}

} // namespace quorvale
