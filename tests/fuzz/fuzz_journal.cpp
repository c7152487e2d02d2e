// Reading a run journal on arbitrary bytes: the text may have been cut by a crash, edited by hand
// or planted. Whatever it holds, reading it in pieces gives what reading it whole gives, and what
// it reads writes back to text that reads the same.

#include "fuzzcheck.h"
#include "run/journal.h"

using namespace quorvale;

namespace {

QByteArray formatted(const QList<JournalEntry> &entries)
{
    QByteArray text = "\xEF\xBB\xBF" + journalColumns().join(u',').toUtf8() + "\r\n";
    for (const JournalEntry &entry : entries)
        text += formatJournalLine(entry);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);
    JournalParser whole;
    const bool clean = whole.feed(bytes);
    FUZZ_CHECK(clean == whole.problem().isEmpty());

    // Fed in pieces of every few bytes, as a file is read in chunks.
    JournalParser pieces;
    const qsizetype step = 1 + (size > 0 ? data[0] % 7 : 0);
    for (qsizetype at = 0; at < bytes.size(); at += step)
        pieces.feed(bytes.mid(at, step));
    FUZZ_CHECK(pieces.problem() == whole.problem());
    FUZZ_CHECK(formatted(pieces.entries()) == formatted(whole.entries()));

    if (clean) {
        // What was read writes back to text that reads cleanly as the same entries.
        const QByteArray text = formatted(whole.entries());
        JournalParser again;
        FUZZ_CHECK(again.feed(text));
        FUZZ_CHECK(formatted(again.entries()) == text);
    }
    return 0;
}
