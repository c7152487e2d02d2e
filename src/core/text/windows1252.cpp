#include "text/windows1252.h"

namespace quorvale {

namespace {

// Windows-1252 is Latin-1 except for 0x80-0x9F; its five unassigned codes keep their C1 meaning.
constexpr char16_t kHighCodes[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

} // namespace

QByteArray windows1252ToUtf8(QByteArrayView bytes)
{
    QByteArray utf8;
    utf8.reserve(bytes.size() + bytes.size() / 2);
    for (const char byte : bytes) {
        const auto code =
            uchar(byte) >= 0x80 && uchar(byte) < 0xA0 ? kHighCodes[uchar(byte) - 0x80] : char16_t(uchar(byte));
        if (code < 0x80) {
            utf8.append(char(code));
        } else if (code < 0x800) {
            utf8.append(char(0xC0 | (code >> 6)));
            utf8.append(char(0x80 | (code & 0x3F)));
        } else {
            utf8.append(char(0xE0 | (code >> 12)));
            utf8.append(char(0x80 | ((code >> 6) & 0x3F)));
            utf8.append(char(0x80 | (code & 0x3F)));
        }
    }
    return utf8;
}

} // namespace quorvale
