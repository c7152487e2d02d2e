// The IMAP replies a Sent copy reads (the LIST lines, the APPENDUID of an append) and the SMTP
// content it copies, on arbitrary bytes: every folder read has a name on one line and flags that
// are single atoms, and undoing the dot-stuffing never makes the message longer.

#include "fuzzcheck.h"
#include "mail/imapclient.h"
#include "mail/sentcopy.h"

using namespace quorvale;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray reply = fuzz::bytesOf(data, size);
    const QList<ImapFolder> folders = parseImapList(reply);
    FUZZ_CHECK(folders.size() <= reply.count('\n') + 1);
    for (const ImapFolder &folder : folders) {
        FUZZ_CHECK(!folder.name.isEmpty());
        FUZZ_CHECK(!folder.name.contains('\r') && !folder.name.contains('\n'));
        for (const QByteArray &flag : folder.flags) {
            FUZZ_CHECK(!flag.isEmpty());
            for (char c : flag)
                FUZZ_CHECK(c > ' ' && c < 127 && c != '(' && c != ')' && c != '"');
        }
        (void)folder.hasFlag("\\Sent");
    }
    (void)parseAppendUid(reply);
    FUZZ_CHECK(smtpContentUnstuffed(reply).size() <= reply.size());
    return 0;
}
