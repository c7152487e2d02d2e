// Reading another data folder's record of sends on arbitrary bytes: it lies in a shared folder,
// where a kill may have cut it and anyone who can write there may have edited it. Whatever it
// holds, it reads cleanly or not at all, a cut never makes a clean record unclean, and what it
// reads writes back to the same text.

#include "fuzzcheck.h"
#include "run/sentrecord.h"

using namespace quorvale;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);
    QString who;
    QList<RecordLine> lines;
    QString problem;
    const bool clean = parseSentRecord(bytes, &who, &lines, &problem);
    FUZZ_CHECK(clean == problem.isEmpty());
    if (!clean)
        return 0;

    // Cut anywhere, as a kill cuts it: it still reads, as the lines before the cut.
    const qsizetype cut = size > 0 ? data[0] % (bytes.size() + 1) : 0;
    QString cutWho;
    QList<RecordLine> cutLines;
    FUZZ_CHECK(parseSentRecord(bytes.left(cut), &cutWho, &cutLines, &problem));
    FUZZ_CHECK(cutLines.size() <= lines.size());
    for (qsizetype i = 0; i < cutLines.size(); ++i)
        FUZZ_CHECK(formatRecordLine(cutLines.at(i)) == formatRecordLine(lines.at(i)));

    // Every line writes back to the bytes it was read from.
    QByteArray lineText;
    for (const RecordLine &line : lines)
        lineText += formatRecordLine(line);
    FUZZ_CHECK(bytes.contains(lineText));
    return 0;
}
