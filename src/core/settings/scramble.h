#pragma once

#include <QString>

namespace quorvale {

/// Scrambles (`Encode`) or unscrambles the stored form of the SMTP password; `Bypass` returns
/// the text unchanged. Works on character codes 0-255: an input character above 255 counts as
/// '?' (63), and an output code that would fall outside 0-255 is written as '?' instead. For
/// every password that isStorablePassword accepts, unscrambling gives back the password.
QString ScrambleText(bool Bypass, const QString &Text, bool Encode);

/// True when `password` can be stored: empty, or at least 2 characters whose codes lie in the
/// scrambling scheme's domain (first at most 126, second 2 to 129, all at most 253).
bool isStorablePassword(const QString &password);

} // namespace quorvale
