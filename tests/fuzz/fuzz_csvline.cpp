// The CSV line splitter on arbitrary text: it always yields at least one field, every field is a
// piece of the line, and a line without quotes comes back whole when its fields are joined.

#include "clients/csvreader.h"
#include "fuzzcheck.h"

using namespace quorvale;

namespace {

void checkSplit(const QString &line)
{
    const QStringList fields = ParseCSVLine(line);
    // The empty list means "too long to split"; no line that short can be.
    FUZZ_CHECK(!fields.isEmpty() || line.size() > 32766);
    for (const QString &field : fields)
        FUZZ_CHECK(line.contains(field));
    if (!fields.isEmpty() && !line.contains(u'"'))
        FUZZ_CHECK(fields.join(u',') == line);
    if (!fields.isEmpty())
        FUZZ_CHECK(fields.size() <= line.count(u',') + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    checkSplit(QString::fromUtf8(fuzz::bytesOf(data, size)));
    checkSplit(fuzz::utf16Of(data, size));
    return 0;
}
