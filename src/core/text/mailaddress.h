#pragma once

#include <QString>

namespace quorvale {

/// True for one bare mail address that can stand as it is in a header and an SMTP command:
/// exactly one '@' with something on both sides, and no blank, control or format character nor
/// any of < > ( ) [ ] , ; : " \ (which would make it a list, a comment or a display name).
bool isSingleMailAddress(const QString &address);

/// True when `text` fits on one header line: no line break and no other control character.
bool isOneLineText(const QString &text);

} // namespace quorvale
