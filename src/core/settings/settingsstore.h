#pragma once

#include "settings/appsettings.h"

#include <QLatin1String>
#include <QString>
#include <QVariant>

#include <memory>
#include <optional>
#include <span>

namespace quorvale {

using namespace Qt::StringLiterals;

/// Value kinds of the settings store (the registry's own type numbers). The program itself
/// reads and writes only Text.
enum class ValueKind : qint16
{
    Text = 1,
    Bytes = 3,
    Number = 4
};

/// The persisted settings: an INI file at $XDG_CONFIG_HOME/Quorvale/Quorvale.ini, every value
/// stored as text under its exact name in the file's [General] section (keys before any
/// section header count too; names match case-insensitively on reading). Created with its
/// folder on the first write, the file with mode 0600. Every call opens the file afresh, so one
/// store may be used from several threads.
class SettingsStore
{
public:
    virtual ~SettingsStore() = default;
    /// Reads one value; returns `defaultValue` unchanged whenever the read does not succeed.
    /// Text gives a QString, Bytes a QByteArray (the text's Latin-1 codes), Number a qint32 (the
    /// text as a whole numeral, see toWholeNumber).
    virtual QVariant RegReadValue(const QString &valueName, ValueKind kind, const QVariant &defaultValue) const = 0;
    /// Writes one value. Returns false (with a reason in `error`) when it could not be stored;
    /// the file then keeps its earlier content.
    virtual bool RegWriteValue(const QString &valueName, ValueKind kind, const QVariant &value,
                               QString *error = nullptr) = 0;
};

/// The store over the user's INI file (or the file at `path`, for tests and tools).
std::unique_ptr<SettingsStore> openSettingsStore(const QString &path = QString());

/// $XDG_CONFIG_HOME/Quorvale/Quorvale.ini (default ~/.config/Quorvale/Quorvale.ini).
QString defaultSettingsPath();
/// $XDG_DATA_HOME/Quorvale (default ~/.local/share/Quorvale); created when first needed.
QString defaultDataFolder();

/// How a persisted setting is held in AppSettings.
enum class SettingType
{
    Text,     ///< text, stored as is
    Password, ///< plain text in memory, stored scrambled
    Port,     ///< text, stored as typed: empty, or a port number (see smtpPortNumber)
    Int16,    ///< 16-bit whole number, stored as its decimal text
    Int32,    ///< 32-bit whole number, stored as its decimal text
};

/// One persisted setting: stored name, type, default, the AppSettings field it fills and the
/// values it accepts. Exactly one of the field pointers is set, matching the type.
struct StoredSetting
{
    QLatin1String name;
    SettingType type;
    QLatin1String defaultText = ""_L1; ///< the default of a text setting
    qint32 defaultNumber = 0;          ///< the default of a number setting
    QString AppSettings::*textField = nullptr;
    qint16 AppSettings::*int16Field = nullptr;
    qint32 AppSettings::*int32Field = nullptr;
    qint64 minimum = 0; ///< the smallest whole number a number setting accepts
    qint64 maximum = 0; ///< the largest
    /// A choice among a few values (AuthType, EnableSchedule): a stored value outside [minimum,
    /// maximum] loads as the default, because nothing could show or use it. Other numbers load
    /// whatever fits their type.
    bool choice = false;
    /// What the setting accepts, said as the sentence that refuses anything else ("%1" and "%2"
    /// stand for minimum and maximum); empty for text, which takes anything.
    QLatin1String rule = ""_L1;
};

/// The twelve persisted settings, in the order LoadSettings reads them.
std::span<const StoredSetting> settingsTable();
/// The setting called `name` (case-insensitive), or nullptr.
const StoredSetting *findStoredSetting(QStringView name);
/// The setting's value in `settings` as text: numbers in decimal, the password plain.
QString settingText(const AppSettings &settings, const StoredSetting &setting);
/// Why `text` cannot be saved as `setting` (a number that is not a whole number the setting
/// accepts, a port that is not one, a password that cannot be stored), in words that say what it
/// accepts; empty when it can. The one check of settings input: `config set`, the setup dialog's
/// OK and its Test Email all use it.
QString settingTextProblem(const StoredSetting &setting, const QString &text);
/// The port number in an SSLport text: blanks around it ignored; empty unless it is a whole
/// number from 1 to 65535.
std::optional<qint32> smtpPortNumber(const QString &text);
/// Saves `text` as `setting` exactly as given (the password scrambled), after the check of
/// settingTextProblem. False with `error` when refused or not stored.
bool SaveSettingText(SettingsStore &store, const StoredSetting &setting, const QString &text, QString *error = nullptr);

/// Fills every persisted field of `settings` from the store, unscrambling "PW". Values that
/// are not whole numerals (or out of range of their type) load as their defaults, and so does
/// an "AuthType" or "EnableSchedule" other than 0 or 1.
void LoadSettings(const SettingsStore &store, AppSettings &settings);

/// Converts a settings text to a whole number: blanks ignored, a fractional part rounded to the
/// nearest whole number, halves to the even neighbour ("2.5" -> 2, "3.5" -> 4, " 7 " -> 7).
/// Empty when the text is not a decimal numeral (no exponent, no separators) or the result
/// does not fit in [min, max].
std::optional<qint64> toWholeNumber(const QString &text, qint64 min, qint64 max);

/// The body file "Body.txt" in `dataFolder` (defaultDataFolder() when empty): UTF-8, lines ended by CR LF.
QString bodyFilePath(const QString &dataFolder);
/// Reads the body: every line (ended by CR LF or a lone CR; a lone LF stays in its line)
/// followed by CR LF. Text that is not valid UTF-8 is read as Windows-1252. A missing file (or
/// something other than an ordinary file there) gives empty text. Returns false with `error`,
/// and empty text, when the file exists but cannot be read.
bool ReadBodyFile(const QString &dataFolder, QString &body, QString *error = nullptr);
/// Writes the body with CR LF line ends (any CR LF, lone CR or lone LF becomes CR LF) and a
/// CR LF after a non-empty last line, so that a load and a save leave the file as it was.
/// Creates the data folder if needed; replaces the file atomically (mode 0600; a link in its place is
/// replaced, never written through). False with `error` on failure.
bool WriteBodyFile(const QString &dataFolder, const QString &body, QString *error = nullptr);

} // namespace quorvale
