// The token endpoint's reply parser on arbitrary bytes (the first two bytes choose the HTTP status).
// A reply it accepts has a usable bearer token and a future expiry; one it refuses says why in one
// printable sentence.

#include "auth/tokenreply.h"
#include "fuzzcheck.h"

using namespace quorvale;

namespace {

bool isVisibleAscii(const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x21 || c.unicode() > 0x7e)
            return false;
    }
    return !text.isEmpty();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);
    const int status = size >= 2 ? 100 + (data[0] | data[1] << 8) % 500 : 200;
    const QByteArray body = size >= 2 ? bytes.mid(2) : bytes;
    const QDateTime now(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC);
    for (bool refreshRequired : {false, true}) {
        const TokenResult result = parseTokenReply(status, body, refreshRequired, now);
        if (result.ok()) {
            FUZZ_CHECK(status == 200 && result.error.isEmpty());
            FUZZ_CHECK(isVisibleAscii(result.grant.accessToken));
            FUZZ_CHECK(result.grant.refreshToken.isEmpty() ? !refreshRequired
                                                           : isVisibleAscii(result.grant.refreshToken));
            FUZZ_CHECK(result.grant.expiresAt.isValid() && result.grant.expiresAt > now);
        } else {
            FUZZ_CHECK(!result.error.isEmpty() && result.error.endsWith(u'.'));
            FUZZ_CHECK(result.error == printableText(result.error, result.error.size()));
            FUZZ_CHECK(result.error.size() < 600);
        }
    }
    return 0;
}
