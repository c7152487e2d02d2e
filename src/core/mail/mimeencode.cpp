#include "mail/mimeencode.h"

#include <QRandomGenerator>
#include <QUuid>

using namespace Qt::StringLiterals;

namespace quorvale::mime {

namespace {

bool isPrintableAscii(char32_t c)
{
    return c >= 0x20 && c < 0x7f;
}

bool isPlainAsciiText(const QString &text)
{
    for (QChar c : text) {
        if (!isPrintableAscii(c.unicode()))
            return false;
    }
    return true;
}

} // namespace

bool hasLineBreak(const QString &text)
{
    return text.contains(u'\r') || text.contains(u'\n');
}

QString addressProblem(const QString &address)
{
    if (hasLineBreak(address))
        return u"contains a line break"_s;
    for (QChar c : address) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.category() == QChar::Other_Control)
            return u"contains a control character"_s;
        if (c == u'<' || c == u'>')
            return u"contains an angle bracket"_s;
    }
    return {};
}

QByteArray encodeHeaderText(const QString &text)
{
    // A mail parser strips blanks around the value, collapses folding and decodes anything that
    // looks like an encoded word; only text that none of that changes may go out as it is. The
    // length limit keeps the header line well under SMTP's 998 characters.
    const bool asIs = isPlainAsciiText(text) && !text.startsWith(u' ') && !text.endsWith(u' ') &&
                      !text.contains(u"=?") && !text.contains(u"  ") && text.size() <= 900;
    if (asIs)
        return text.toLatin1();

    // Encoded words of at most 75 characters: 45 bytes of UTF-8 give 60 base64 characters.
    // Words are cut between code points so each one decodes on its own.
    QByteArray result;
    QByteArray chunk;
    const auto flush = [&] {
        if (chunk.isEmpty())
            return;
        if (!result.isEmpty())
            result += "\r\n ";
        result += "=?UTF-8?B?" + chunk.toBase64() + "?=";
        chunk.clear();
    };
    for (char32_t codePoint : text.toUcs4()) {
        const QByteArray bytes = QString::fromUcs4(&codePoint, 1).toUtf8();
        if (chunk.size() + bytes.size() > 45)
            flush();
        chunk += bytes;
    }
    flush();
    return result;
}

QByteArray namedAddress(const QString &name, const QByteArray &address)
{
    // Inside quotes every printable ASCII character stands for itself but the quote and the
    // backslash; a mail parser would still decode "=?" there, so such a name is encoded like one
    // beyond ASCII.
    if (isPlainAsciiText(name) && !name.contains(u"=?") && name.size() <= 900) {
        QByteArray quoted = name.toLatin1();
        quoted.replace('\\', "\\\\").replace('"', "\\\"");
        return '"' + quoted + "\" <" + address + '>';
    }
    return encodeHeaderText(name) + " <" + address + '>';
}

QByteArray attachmentDisposition(const QString &fileName)
{
    // Mail parsers decode encoded words even inside quoted parameters, so "=?" needs RFC 2231 too.
    if (isPlainAsciiText(fileName) && !fileName.contains(u'"') && !fileName.contains(u'\\') &&
        !fileName.contains(u"=?"))
        return "Content-Disposition: attachment; filename=\"" + fileName.toLatin1() + '"';
    // RFC 2231 attr-chars stay as they are; every other byte is percent-encoded.
    return "Content-Disposition: attachment; filename*=UTF-8''" + fileName.toUtf8().toPercentEncoding("!#$&+^`|~");
}

QByteArray crlfLines(const QString &text)
{
    QString normal = text;
    normal.replace(u"\r\n"_s, u"\n"_s);
    normal.replace(u'\r', u'\n');
    normal.replace(u"\n"_s, u"\r\n"_s);
    return normal.toUtf8();
}

QByteArray quotedPrintable(const QByteArray &data)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(data.size() + data.size() / 8 + 16);
    int lineLength = 0;
    const auto append = [&](const QByteArray &token) {
        // Leave room for the "=" of a soft line break.
        if (lineLength + token.size() > 75) {
            out += "=\r\n";
            lineLength = 0;
        }
        out += token;
        lineLength += int(token.size());
    };
    for (qsizetype i = 0; i < data.size(); ++i) {
        const auto c = static_cast<unsigned char>(data[i]);
        if (c == '\r' && i + 1 < data.size() && data[i + 1] == '\n') {
            out += "\r\n";
            lineLength = 0;
            ++i;
            continue;
        }
        const bool lineEndsHere =
            i + 1 == data.size() || (data[i + 1] == '\r' && i + 2 < data.size() && data[i + 2] == '\n');
        const bool blank = c == ' ' || c == '\t';
        if ((c >= 33 && c <= 126 && c != '=') || (blank && !lineEndsHere))
            append(QByteArray(1, char(c)));
        else {
            const char escaped[] = {'=', hex[c >> 4], hex[c & 15]};
            append(QByteArray(escaped, 3));
        }
    }
    return out;
}

QByteArray rfc2822Date(const QDateTime &when)
{
    static const char *const days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDate date = when.date();
    const QTime time = when.time();
    const int offsetMinutes = when.offsetFromUtc() / 60;
    const int absMinutes = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    return u"%1, %2 %3 %4 %5 %6%7%8"_s.arg(QLatin1String(days[date.dayOfWeek() - 1]))
        .arg(date.day(), 2, 10, QChar(u'0'))
        .arg(QLatin1String(months[date.month() - 1]))
        .arg(date.year())
        .arg(time.toString(u"hh:mm:ss"))
        .arg(QChar(offsetMinutes < 0 ? u'-' : u'+'))
        .arg(absMinutes / 60, 2, 10, QChar(u'0'))
        .arg(absMinutes % 60, 2, 10, QChar(u'0'))
        .toLatin1();
}

namespace {

/// The domain of `fromAddress` when it can stand in a Message-ID, else one of the program's own.
QByteArray messageIdDomain(const QString &fromAddress)
{
    const QString domain = fromAddress.trimmed().section(u'@', -1);
    const bool usable = fromAddress.contains(u'@') && !domain.isEmpty() && isPlainAsciiText(domain) &&
                        isMessageIdText(domain.toLatin1());
    return usable ? domain.toLatin1() : "quorvale.localhost"_ba;
}

} // namespace

bool isMessageIdText(QByteArrayView text)
{
    // Printable ASCII without the characters that would end or split the <left@right> form.
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        if (c <= ' ' || c >= 127 || c == '<' || c == '>' || c == '@' || c == '"' || c == '\\' || c == '(' ||
            c == ')' || c == ',' || c == ';' || c == ':' || c == '[' || c == ']')
            return false;
    }
    return true;
}

bool isMessageId(QByteArrayView id)
{
    if (id.size() < 5 || !id.startsWith('<') || !id.endsWith('>'))
        return false;
    const QByteArrayView inner = id.sliced(1, id.size() - 2);
    const qsizetype at = inner.indexOf('@');
    return at > 0 && isMessageIdText(inner.first(at)) && isMessageIdText(inner.sliced(at + 1));
}

QByteArray newMessageId(const QString &fromAddress)
{
    return '<' + QUuid::createUuid().toByteArray(QUuid::WithoutBraces) + '@' + messageIdDomain(fromAddress) + '>';
}

QByteArray runMessageId(const QDateTime &runStart, qint64 sequence, qint64 clientLine, const QString &fromAddress)
{
    // The run and the client make it readable and unique between runs and clients; the random
    // part keeps two computers (or two runs started in the same second) apart.
    const quint64 random = QRandomGenerator::system()->generate64();
    return '<' + runStart.toUTC().toString(u"yyyyMMddHHmmsszzz"_s).toLatin1() + '.' + QByteArray::number(sequence) +
           '.' + QByteArray::number(clientLine) + '.' + QByteArray::number(random, 36) + '@' +
           messageIdDomain(fromAddress) + '>';
}

} // namespace quorvale::mime
