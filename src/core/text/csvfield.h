#pragma once

#include <QByteArray>
#include <QStringView>

namespace quorvale {

/// How the files Quorvale writes (the run journal, the saved check table) quote a field.
struct CsvQuoting
{
    /// Quote every field; otherwise only one that holds a comma, a quote or a line break, or
    /// starts or ends with a blank.
    bool always = false;
    /// Lead a field that a spreadsheet would run as a formula ("=", "+", "-", "@", tab or carriage
    /// return first) with "'".
    bool guardFormulas = false;
};

/// `text` as one field of a CSV line (UTF-8): a quote inside a quoted field is doubled.
QByteArray csvField(QStringView text, CsvQuoting quoting = {});

} // namespace quorvale
