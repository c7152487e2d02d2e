#pragma once

#include "settings/appsettings.h"

#include <QString>
#include <QVariant>

#include <memory>
#include <optional>

namespace quorvale {

/// Value kinds of the settings store (the registry's own type numbers). The program itself
/// reads and writes only Text.
enum class ValueKind : qint16 { Text = 1, Bytes = 3, Number = 4 };

/// The persisted settings: an INI file at $XDG_CONFIG_HOME/Quorvale/Quorvale.ini, every value
/// stored as text. Created with its folder on the first write, the file with mode 0600.
class SettingsStore
{
public:
    virtual ~SettingsStore() = default;
    /// Reads one value; returns `defaultValue` unchanged whenever the read does not succeed.
    virtual QVariant RegReadValue(const QString &valueName, ValueKind kind, const QVariant &defaultValue) const = 0;
    /// Writes one value. Returns false (with a reason in `error`) when it could not be stored.
    virtual bool RegWriteValue(const QString &valueName, ValueKind kind, const QVariant &value,
                               QString *error = nullptr) = 0;
};

/// The store over the user's INI file (or the file at `path`, for tests and tools).
std::unique_ptr<SettingsStore> openSettingsStore(const QString &path = QString());

/// $XDG_CONFIG_HOME/Quorvale/Quorvale.ini (default ~/.config/Quorvale/Quorvale.ini).
QString defaultSettingsPath();
/// $XDG_DATA_HOME/Quorvale (default ~/.local/share/Quorvale); created when first needed.
QString defaultDataFolder();

/// Fills every persisted field of `settings` from the store, unscrambling "PW". Values that
/// are not whole numerals (or out of range) load as their defaults.
void LoadSettings(const SettingsStore &store, AppSettings &settings);

/// Converts a settings text to a whole number: blanks ignored, halves to the even neighbour.
/// Empty when the text is not a number or does not fit in [min, max].
std::optional<qint64> toWholeNumber(const QString &text, qint64 min, qint64 max);

/// The body file "Body.txt" in `dataFolder`: UTF-8, lines joined by CR LF.
QString bodyFilePath(const QString &dataFolder);
/// Reads the body: every line (ended by CR LF or a lone CR) followed by CR LF. A missing file
/// gives empty text. Returns false with `error` when the file exists but cannot be read.
bool ReadBodyFile(const QString &dataFolder, QString &body, QString *error = nullptr);
/// Writes the body unchanged, creating the data folder if needed. False with `error` on failure.
bool WriteBodyFile(const QString &dataFolder, const QString &body, QString *error = nullptr);

} // namespace quorvale
