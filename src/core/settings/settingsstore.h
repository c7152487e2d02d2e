#pragma once

#include <QString>
#include <QVariant>

#include <memory>
#include <optional>

namespace quorvale {

/// Value kinds of the settings store (the registry's own type numbers). The program itself
/// reads and writes only Text.
enum class ValueKind : qint16
{
    Text = 1,
    Bytes = 3,
    Number = 4
};

/// The persisted settings: an INI file (the program's is $XDG_CONFIG_HOME/Quorvale/Quorvale.ini), every value
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
    /// The file the settings are kept in; empty when they are kept in no file.
    virtual QString filePath() const { return {}; }
};

/// The store over the INI file at `path`. Empty: no file; every read gives its default and no
/// write is stored.
std::unique_ptr<SettingsStore> openSettingsStore(const QString &path);

/// Converts a settings text to a whole number: blanks ignored, a fractional part rounded to the
/// nearest whole number, halves to the even neighbour ("2.5" -> 2, "3.5" -> 4, " 7 " -> 7).
/// Empty when the text is not a decimal numeral (no exponent, no separators) or the result
/// does not fit in [min, max].
std::optional<qint64> toWholeNumber(const QString &text, qint64 min, qint64 max);

} // namespace quorvale
