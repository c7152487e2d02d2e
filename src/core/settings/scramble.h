#pragma once

#include <QString>

namespace quorvale {

/// Scrambles (`Encode`) or unscrambles the stored form of the SMTP password; `Bypass` returns
/// the text unchanged. Works on character codes 0-255; never yields a code outside that range.
QString ScrambleText(bool Bypass, const QString &Text, bool Encode);

/// True when `password` can be stored: empty, or at least 2 characters whose codes lie in the
/// scrambling scheme's domain (first at most 126, second 2 to 129, all at most 253).
bool isStorablePassword(const QString &password);

} // namespace quorvale
