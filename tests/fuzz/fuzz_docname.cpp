// Matching a file name against a client identifier on arbitrary text. The input is the identifier,
// a NUL byte, then the file name.

#include "fuzzcheck.h"
#include "run/batchrun.h"

using namespace quorvale;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);
    const qsizetype split = bytes.indexOf('\0');
    if (split < 0)
        return 0;
    const QString clientId = QString::fromUtf8(bytes.left(split));
    const QString fileName = QString::fromUtf8(bytes.mid(split + 1));
    const QString target = clientId + u'.';

    const bool matches = isClientDocumentName(fileName, clientId);
    if (clientId.trimmed().isEmpty())
        FUZZ_CHECK(!matches); // a blank identifier would match nearly every file
    if (matches)
        FUZZ_CHECK(fileName.contains(target, Qt::CaseInsensitive));
    if (!clientId.trimmed().isEmpty() && fileName.startsWith(target, Qt::CaseInsensitive))
        FUZZ_CHECK(matches);
    return 0;
}
