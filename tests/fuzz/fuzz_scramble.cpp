// Unscrambling arbitrary stored text never fails and never yields a character the stored form could
// not hold; scrambling then unscrambling gives back every password that can be stored.

#include "fuzzcheck.h"
#include "settings/scramble.h"

using namespace quorvale;

namespace {

void checkText(const QString &text)
{
    const QString plain = ScrambleText(false, text, false);
    FUZZ_CHECK(plain.size() == (text.size() > 2 ? text.size() - 2 : 0));
    for (QChar c : plain)
        FUZZ_CHECK(c.unicode() <= 0xFF);
    FUZZ_CHECK(ScrambleText(true, text, false) == text);

    const QString stored = ScrambleText(false, text, true);
    for (QChar c : stored)
        FUZZ_CHECK(c.unicode() <= 0xFF);
    if (isStorablePassword(text))
        FUZZ_CHECK(ScrambleText(false, stored, false) == text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    checkText(QString::fromLatin1(fuzz::bytesOf(data, size)));
    checkText(fuzz::utf16Of(data, size));
    return 0;
}
