// Reading the lock file beside a client list on arbitrary bytes: it sits in a shared folder, so
// anyone who can write there can put anything in it. Whatever it holds, reading it never fails
// badly, and a holder it names writes back to a lock file that names the same holder.

#include "fuzzcheck.h"
#include "run/clientfilelock.h"

using namespace quorvale;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::optional<LockHolder> holder = parseLockFile(fuzz::bytesOf(data, size));
    if (!holder)
        return 0;
    FUZZ_CHECK(holder->pid > 0 && !holder->host.isEmpty());
    FUZZ_CHECK(!lockHolderText(*holder).isEmpty());
    // Only the first few kilobytes of a lock file are read: a longer one need not read back whole.
    const QByteArray written = lockFileContent(*holder);
    if (written.size() > 4096)
        return 0;
    const std::optional<LockHolder> again = parseLockFile(written);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(again->pid == holder->pid);
    // Values are kept on one line and without the blanks around them.
    FUZZ_CHECK(again->host == QString(holder->host).replace(u'\r', u' ').trimmed());
    FUZZ_CHECK(again->account == QString(holder->account).replace(u'\r', u' ').trimmed());
    return 0;
}
