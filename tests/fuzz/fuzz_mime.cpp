// The address check and the header, file-name and body encoders on arbitrary text. Nothing they
// produce may carry a line break that starts a new header or SMTP command, and every encoding
// decodes back to exactly what was given.

#include "fuzzcheck.h"
#include "mail/mimeencode.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

using namespace quorvale;

namespace {

bool isPrintableAscii(char c)
{
    return c >= 0x20 && c < 0x7f;
}

enum class Bytes
{
    Any,
    Ascii,
    AsciiFolded
};

// CR only as part of CR LF and LF only after CR. With Ascii, every other byte is printable ASCII
// or a tab; with AsciiFolded, printable ASCII only and each CR LF followed by a blank (a
// continuation of the same header).
void checkLines(const QByteArray &out, Bytes allowed)
{
    const bool folded = allowed == Bytes::AsciiFolded;
    for (qsizetype i = 0; i < out.size(); ++i) {
        const char c = out[i];
        if (c == '\r') {
            FUZZ_CHECK(i + 1 < out.size() && out[i + 1] == '\n');
            if (folded)
                FUZZ_CHECK(i + 2 < out.size() && out[i + 2] == ' ');
        } else if (c == '\n') {
            FUZZ_CHECK(i > 0 && out[i - 1] == '\r');
        } else if (allowed != Bytes::Any) {
            FUZZ_CHECK(isPrintableAscii(c) || (!folded && c == '\t'));
        }
    }
}

void checkAddress(const QString &text)
{
    if (!mime::addressProblem(text).isEmpty())
        return;
    for (QChar c : text)
        FUZZ_CHECK(c.unicode() >= 0x20 && c != u'\x7f' && c != u'<' && c != u'>');
}

void checkHeader(const QString &text)
{
    const QByteArray header = mime::encodeHeaderText(text);
    checkLines(header, Bytes::AsciiFolded);
    if (!header.startsWith("=?UTF-8?B?")) {
        FUZZ_CHECK(header == text.toLatin1() && QString::fromLatin1(header) == text);
        return;
    }
    static const QRegularExpression word(u"^=\\?UTF-8\\?B\\?([A-Za-z0-9+/=]*)\\?=$"_s);
    QByteArray decoded;
    for (const QByteArray &line : header.split('\n')) {
        const QString piece =
            QString::fromLatin1(line.startsWith(' ') ? line.mid(1) : line).chopped(line.endsWith('\r') ? 1 : 0);
        FUZZ_CHECK(piece.size() <= 75);
        const QRegularExpressionMatch match = word.match(piece);
        FUZZ_CHECK(match.hasMatch());
        const QByteArray part = QByteArray::fromBase64(match.captured(1).toLatin1());
        FUZZ_CHECK(QString::fromUtf8(part).toUtf8() == part); // each word decodes on its own
        decoded += part;
    }
    FUZZ_CHECK(decoded == text.toUtf8());
}

void checkDisposition(const QString &fileName)
{
    const QByteArray line = mime::attachmentDisposition(fileName);
    checkLines(line, Bytes::AsciiFolded);
    FUZZ_CHECK(!line.contains('\r') && !line.contains('\n'));
    static const QByteArray quoted = "Content-Disposition: attachment; filename=\"";
    static const QByteArray extended = "Content-Disposition: attachment; filename*=UTF-8''";
    if (line.startsWith(quoted)) {
        const QByteArray name = line.mid(quoted.size()).chopped(1);
        FUZZ_CHECK(line.endsWith('"') && !name.contains('"') && !name.contains('\\'));
        FUZZ_CHECK(QString::fromLatin1(name) == fileName);
    } else {
        FUZZ_CHECK(line.startsWith(extended));
        const QByteArray value = line.mid(extended.size());
        FUZZ_CHECK(!value.contains('"') && !value.contains(' ') && !value.contains('\''));
        FUZZ_CHECK(QByteArray::fromPercentEncoding(value) == fileName.toUtf8());
    }
}

QByteArray decodeQuotedPrintable(const QByteArray &encoded)
{
    QByteArray out;
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        if (encoded[i] != '=') {
            out += encoded[i];
        } else if (encoded.mid(i + 1, 2) == "\r\n") {
            i += 2; // soft line break
        } else {
            bool ok = false;
            out += char(encoded.mid(i + 1, 2).toInt(&ok, 16));
            FUZZ_CHECK(ok && encoded.mid(i + 1, 2).toUpper() == encoded.mid(i + 1, 2));
            i += 2;
        }
    }
    return out;
}

void checkBody(const QString &text)
{
    const QByteArray lines = mime::crlfLines(text);
    checkLines(lines, Bytes::Any);
    const QByteArray encoded = mime::quotedPrintable(lines);
    checkLines(encoded, Bytes::Ascii);
    for (const QByteArray &line : encoded.split('\n'))
        FUZZ_CHECK(line.size() <= 77); // 76 characters and the CR
    FUZZ_CHECK(decodeQuotedPrintable(encoded) == lines);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);
    const QString text = QString::fromUtf8(bytes);
    checkAddress(text);
    checkAddress(fuzz::utf16Of(data, size));
    checkHeader(text);
    checkDisposition(text);
    checkBody(text);
    // Raw bytes straight into the body encoder: bare CR and LF, NUL, bytes above 0x7F.
    FUZZ_CHECK(decodeQuotedPrintable(mime::quotedPrintable(bytes)) == bytes);
    checkLines(mime::quotedPrintable(bytes), Bytes::Ascii);
    return 0;
}
