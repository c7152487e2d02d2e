// The reply table on arbitrary bytes as a server's reply (the first byte chooses the stage and the
// login): every reply gets a class and a reason that names the stage on one printable line, and a
// time to send again only for a mailbox-wide refusal, never in the past.

#include "fuzzcheck.h"
#include "mail/replytable.h"

#include <QTimeZone>

using namespace quorvale;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const int selector = size > 0 ? data[0] : 0;
    const auto stage = SmtpStage(selector % 8);
    const LoginKind login = selector & 0x80 ? LoginKind::Token : LoginKind::Password;
    const QByteArray reply = size > 0 ? fuzz::bytesOf(data + 1, size - 1) : QByteArray();
    const QDateTime now(QDate(2026, 1, 2), QTime(3, 4, 5), QTimeZone::utc());

    const ReplyVerdict verdict = classifyReply(stage, reply, login, now);
    FUZZ_CHECK(verdict.kind == ReplyClass::ClientOnly || verdict.kind == ReplyClass::Temporary ||
               verdict.kind == ReplyClass::MailboxWide || verdict.kind == ReplyClass::LoginOrConnection);
    FUZZ_CHECK(!verdict.reason.isEmpty() && verdict.reason.contains(stageWords(stage)));
    FUZZ_CHECK(!verdict.reply.isEmpty() && verdict.reply.size() <= 300);
    for (QChar c : verdict.reason)
        FUZZ_CHECK(c.unicode() >= 0x20 && c.category() != QChar::Other_Control);
    FUZZ_CHECK(verdict.code == 0 || (verdict.code >= 200 && verdict.code <= 599));
    FUZZ_CHECK(!verdict.sendableAfter || (verdict.kind == ReplyClass::MailboxWide && *verdict.sendableAfter > now));
    return 0;
}
