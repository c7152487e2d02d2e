// The reader of delivery reports on arbitrary bytes: every bounce it reports names one address
// with an "@" and no blank, a status code, and at most an original Message-ID in angle brackets
// without blanks or control characters.

#include "fuzzcheck.h"
#include "mail/bouncereport.h"

using namespace quorvale;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray message = fuzz::bytesOf(data, size);
    for (const Bounce &bounce : readBounce(message)) {
        FUZZ_CHECK(bounce.recipient.contains(u'@') && !bounce.recipient.contains(u' '));
        FUZZ_CHECK(!bounce.status.isEmpty());
        FUZZ_CHECK(bounce.diagnostic.size() <= 400);
        if (!bounce.originalId.isEmpty()) {
            FUZZ_CHECK(bounce.originalId.startsWith('<') && bounce.originalId.endsWith('>'));
            for (char c : bounce.originalId)
                FUZZ_CHECK(c > ' ' && c < 127);
        }
    }
    (void)decodeHeaderText(message);
    return 0;
}
