#include "settings/settingsstore.h"

#include "platform/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

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

constexpr qint64 kInt32Min = std::numeric_limits<qint32>::min();
constexpr qint64 kInt32Max = std::numeric_limits<qint32>::max();

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
        if (m_path.isEmpty()) {
            setError(error, u"No settings file is set; nothing was saved."_s);
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

    QString filePath() const override { return m_path; }

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
        // Saved into, another user's file would become this user's, and what they wrote in it
        // would pass for the user's own (its password command would be run).
        if (platform::belongsToAnotherUser(m_path)) {
            setError(error, u"The settings file %1 belongs to another user, so nothing was saved to it. Replace it "
                            "with a copy of your own."_s.arg(QDir::toNativeSeparators(m_path)));
            return false;
        }
        // Replaced by the save, the file would leave the scrambled password under its other names.
        if (const QString problem = platform::otherNamesProblem(m_path); !problem.isEmpty()) {
            setError(error, u"Nothing was saved: "_s + problem);
            return false;
        }
        // For the same reason a file that others may change keeps its mode until the user mends it.
        if (!platform::othersCanChange(m_path).isEmpty())
            return true;
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

} // namespace

std::unique_ptr<SettingsStore> openSettingsStore(const QString &path)
{
    return std::make_unique<IniSettingsStore>(path);
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

} // namespace quorvale
