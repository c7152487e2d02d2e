#pragma once

// The persisted settings, one row each: the name a setting is stored under, the AppSettings field
// it fills, its default and the values it accepts. Loading and saving go through this table only,
// so a new setting is one more row.

#include "settings/appsettings.h"

#include <QLatin1StringView>
#include <QList>
#include <QString>

#include <optional>
#include <span>

namespace quorvale {

class SettingsStore;

/// A persisted setting, named by the AppSettings field that holds it: &AppSettings::GroupSize.
struct SettingKey
{
    constexpr SettingKey(QString AppSettings::*field) : text(field) {}
    constexpr SettingKey(qint16 AppSettings::*field) : int16(field) {}
    constexpr SettingKey(qint32 AppSettings::*field) : int32(field) {}
    friend constexpr bool operator==(const SettingKey &, const SettingKey &) = default;

    QString AppSettings::*text = nullptr; ///< exactly one of the three is set
    qint16 AppSettings::*int16 = nullptr;
    qint32 AppSettings::*int32 = nullptr;
};

/// How a setting's text is read and checked.
enum class SettingType
{
    Text,     ///< any text (or, with `words`, one of them), stored as is
    Password, ///< plain text in memory, stored scrambled
    Port,     ///< text, stored as typed: empty, or a port number (see smtpPortNumber)
    Number,   ///< a whole number, stored as its text; its field says whether 16 or 32 bits
    Line,     ///< text on one line: no line break or other control character
    Address,  ///< empty, or one bare mail address (see isSingleMailAddress)
    DocumentNames, ///< empty, or file names separated by ";" (see documentPatternsProblem)
};

/// One persisted setting.
struct StoredSetting
{
    QLatin1StringView name; ///< the value name in the settings file
    SettingKey key;         ///< the AppSettings field it fills
    SettingType type = SettingType::Text;
    QLatin1StringView defaultText = {}; ///< the default of a text setting
    qint32 defaultNumber = 0;           ///< the default of a number setting
    qint64 minimum = 0;                 ///< the smallest whole number a number setting accepts
    qint64 maximum = 0;                 ///< the largest
    /// A choice among a few values: a stored value outside [minimum, maximum] (or, for text, not
    /// one of `words`) loads as the default, because nothing could show or use it. Other numbers
    /// load whatever fits their field.
    bool choice = false;
    /// The words a text choice accepts, separated by blanks ("password oauth").
    QLatin1StringView words = {};
    /// What the setting accepts, said as the sentence that refuses anything else ("%1" and "%2"
    /// stand for minimum and maximum); empty for text, which takes anything.
    QLatin1StringView rule = {};
    /// Shown as "********" wherever settings are listed (a password, a client secret).
    bool masked = false;
};

/// The persisted settings, in the order LoadSettings reads them.
std::span<const StoredSetting> settingsTable();
/// The setting called `name` (case-insensitive), or nullptr.
const StoredSetting *findStoredSetting(QStringView name);
/// The row of the setting `key` (every AppSettings field that is persisted has one).
const StoredSetting &storedSetting(SettingKey key);

/// The setting's value in `settings` as text: numbers in decimal, the password plain.
QString settingText(const AppSettings &settings, const StoredSetting &setting);
/// Why `text` cannot be saved as `setting` (a number that is not a whole number the setting
/// accepts, a port that is not one, a password that cannot be stored, a word it does not know), in
/// words that say what it accepts; empty when it can. The one check of settings input.
QString settingTextProblem(const StoredSetting &setting, const QString &text);
/// The port number in an SSLport text: blanks around it ignored; empty unless it is a whole
/// number from 1 to 65535.
std::optional<qint32> smtpPortNumber(const QString &text);

/// Fills every persisted field of `settings` from the store, unscrambling "PW". Values that
/// are not whole numerals (or out of range of their field) load as their defaults, and so does a
/// choice ("AuthType", "EnableSchedule") that is none of its values.
void LoadSettings(const SettingsStore &store, AppSettings &settings);
/// Fills the one field of `setting` from the store, as LoadSettings does.
void loadSetting(const SettingsStore &store, const StoredSetting &setting, AppSettings &settings);

/// Puts `text` into the field of `setting` as LoadSettings would read it back from the store.
void setSettingText(AppSettings &settings, const StoredSetting &setting, const QString &text);

/// Saves `text` as the setting `key` exactly as given (the password scrambled), after the check
/// of settingTextProblem. False with `error` when refused or not stored. Nothing writes a setting
/// any other way.
bool saveSetting(SettingsStore &store, SettingKey key, const QString &text, QString *error = nullptr);

/// One value to save: the setting, and its text as typed.
struct SettingEdit
{
    SettingKey key;
    QString text;
};
/// Checks every edit, then saves them in order and puts each into `settings` as LoadSettings would
/// read it back. Nothing is saved when one is refused: false with the reason in `error` and its
/// index in `refused`; a store that fails gives false with `refused` -1 (the edits before it stay
/// saved, and `settings` unchanged).
bool saveSettings(SettingsStore &store, const QList<SettingEdit> &edits, AppSettings &settings, QString *error,
                  qsizetype *refused = nullptr);

/// The settings without which no message can be sent (server, port, login), those of them that
/// are empty in `settings`, in table order; none when the mail server is set up, or when messages
/// go to this computer's mail queue ("SendMethod" queue), which needs none of them.
QList<SettingKey> missingMailServerSettings(const AppSettings &settings);
/// True when the mail server is set up: missingMailServerSettings() finds nothing.
bool isMailServerComplete(const AppSettings &settings);

} // namespace quorvale
