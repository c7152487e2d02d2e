#include "mail/bouncereport.h"

#include "text/windows1252.h"

#include <QRegularExpression>
#include <QStringDecoder>

#include <optional>
#include <utility>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

// Bounds that keep a hostile message from costing more than a real report ever needs.
constexpr int kMaxDepth = 8;
constexpr int kMaxParts = 200;
constexpr qsizetype kMaxDiagnostic = 400;

using Header = std::pair<QByteArray, QByteArray>; // lower-case name, unfolded value

struct Entity
{
    QList<Header> headers;
    QByteArrayView body;

    QByteArray header(QByteArrayView name) const
    {
        for (const Header &h : headers) {
            if (h.first == name)
                return h.second;
        }
        return {};
    }
};

/// The next line of `text` from `at` without its line end; moves `at` past the line end.
QByteArrayView nextLine(QByteArrayView text, qsizetype &at)
{
    qsizetype end = text.indexOf('\n', at);
    const qsizetype next = end < 0 ? text.size() : end + 1;
    if (end < 0)
        end = text.size();
    QByteArrayView line = text.sliced(at, end - at);
    if (line.endsWith('\r'))
        line.chop(1);
    at = next;
    return line;
}

/// Reads a header block up to its empty line; the rest is the body. Lines that are no header
/// ("name: value" or a continuation) are passed over.
Entity parseEntity(QByteArrayView text)
{
    Entity entity;
    qsizetype at = 0;
    while (at < text.size()) {
        const QByteArrayView line = nextLine(text, at);
        if (line.trimmed().isEmpty())
            break;
        if ((line.front() == ' ' || line.front() == '\t')) {
            if (!entity.headers.isEmpty())
                entity.headers.last().second += ' ' + line.trimmed().toByteArray();
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArrayView name = line.first(colon).trimmed();
        if (name.isEmpty() || name.contains(' '))
            continue;
        entity.headers.append({name.toByteArray().toLower(), line.sliced(colon + 1).trimmed().toByteArray()});
    }
    entity.body = text.sliced(at);
    return entity;
}

/// A Content-Type value: the lower-case type and its parameters (names lower-case).
struct ContentType
{
    QByteArray type;
    QList<std::pair<QByteArray, QByteArray>> params;

    QByteArray param(QByteArrayView name) const
    {
        for (const auto &[key, value] : params) {
            if (key == name)
                return value;
        }
        return {};
    }
};

ContentType parseContentType(QByteArrayView value)
{
    ContentType result;
    qsizetype at = value.indexOf(';');
    result.type = (at < 0 ? value : value.first(at)).trimmed().toByteArray().toLower();
    while (at >= 0 && at < value.size()) {
        ++at; // past ';'
        const qsizetype eq = value.indexOf('=', at);
        if (eq < 0)
            break;
        const QByteArray name = value.sliced(at, eq - at).trimmed().toByteArray().toLower();
        at = eq + 1;
        while (at < value.size() && (value[at] == ' ' || value[at] == '\t'))
            ++at;
        QByteArray param;
        if (at < value.size() && value[at] == '"') {
            ++at;
            while (at < value.size() && value[at] != '"') {
                if (value[at] == '\\' && at + 1 < value.size())
                    ++at;
                param += value[at++];
            }
            at = value.indexOf(';', at);
        } else {
            const qsizetype end = value.indexOf(';', at);
            param = value.sliced(at, (end < 0 ? value.size() : end) - at).trimmed().toByteArray();
            at = end;
        }
        result.params.append({name, param});
    }
    return result;
}

QByteArray decodeTransfer(QByteArrayView body, const QByteArray &encoding)
{
    const QByteArray how = encoding.trimmed().toLower();
    if (how == "base64")
        return QByteArray::fromBase64(body.toByteArray());
    if (how == "quoted-printable") {
        QByteArray joined = body.toByteArray();
        joined.replace("=\r\n", "").replace("=\n", "");
        return QByteArray::fromPercentEncoding(joined, '=');
    }
    return body.toByteArray();
}

/// The parts of a multipart body; a missing closing delimiter (a message cut short) ends the last
/// part at the end of the text.
QList<QByteArrayView> splitMultipart(QByteArrayView body, const QByteArray &boundary)
{
    QList<QByteArrayView> parts;
    if (boundary.isEmpty() || boundary.size() > 200)
        return parts;
    const QByteArray delimiter = "--" + boundary;
    qsizetype partStart = -1;
    qsizetype at = 0;
    while (at < body.size() && parts.size() < kMaxParts) {
        const qsizetype lineStart = at;
        const QByteArrayView line = nextLine(body, at);
        if (!line.startsWith(delimiter))
            continue;
        const QByteArrayView rest = line.sliced(delimiter.size()).trimmed();
        const bool closing = rest == "--";
        if (!rest.isEmpty() && !closing)
            continue;
        if (partStart >= 0) {
            // The line end before the delimiter belongs to the delimiter.
            qsizetype end = lineStart;
            if (end > partStart && body[end - 1] == '\n')
                --end;
            if (end > partStart && body[end - 1] == '\r')
                --end;
            parts.append(body.sliced(partStart, end - partStart));
        }
        if (closing)
            return parts;
        partStart = at;
    }
    if (partStart >= 0 && partStart < body.size() && parts.size() < kMaxParts)
        parts.append(body.sliced(partStart));
    return parts;
}

/// What the parts of a message hold, gathered over its whole tree.
struct Parts
{
    QList<QByteArray> statusParts;   ///< bodies of message/delivery-status parts
    std::optional<Entity> original;  ///< the first quoted original's headers
    QByteArray originalText;         ///< the text those headers were read from (Entity points into it)
    QList<QByteArray> texts;         ///< text/plain parts, decoded
    int count = 0;
};

void collect(QByteArrayView text, int depth, Parts &parts)
{
    if (depth > kMaxDepth || ++parts.count > kMaxParts)
        return;
    const Entity entity = parseEntity(text);
    const ContentType type = parseContentType(entity.header("content-type"));
    const QByteArray encoding = entity.header("content-transfer-encoding");
    if (type.type.startsWith("multipart/")) {
        for (QByteArrayView part : splitMultipart(entity.body, type.param("boundary")))
            collect(part, depth + 1, parts);
        return;
    }
    if (type.type == "message/delivery-status" || type.type == "message/global-delivery-status") {
        parts.statusParts.append(decodeTransfer(entity.body, encoding));
        return;
    }
    if (type.type == "message/rfc822" || type.type == "message/global" || type.type == "text/rfc822-headers" ||
        type.type == "message/global-headers") {
        if (!parts.original) {
            parts.originalText = decodeTransfer(entity.body, encoding);
            parts.original = parseEntity(parts.originalText);
        }
        return;
    }
    if (type.type.isEmpty() || type.type == "text/plain")
        parts.texts.append(decodeTransfer(entity.body, encoding));
}

/// "rfc822; ann@example.com" as "ann@example.com"; "smtp; 550 ..." as "550 ...".
QString withoutType(const QByteArray &value)
{
    const qsizetype semicolon = value.indexOf(';');
    QByteArray rest = value;
    if (semicolon > 0 && !value.first(semicolon).trimmed().contains(' '))
        rest = value.sliced(semicolon + 1);
    return QString::fromUtf8(rest).simplified();
}

QString bareAddress(QString address)
{
    const qsizetype open = address.lastIndexOf(u'<');
    const qsizetype close = address.lastIndexOf(u'>');
    if (open >= 0 && close > open)
        address = address.mid(open + 1, close - open - 1);
    address = address.trimmed();
    if (!address.contains(u'@') || address.contains(u' ') || address.size() > 320)
        return {};
    return address;
}

/// The Message-ID in a header value, with its angle brackets; empty when there is none.
QByteArray messageIdIn(const QByteArray &value)
{
    const qsizetype open = value.indexOf('<');
    const qsizetype close = value.indexOf('>', open + 1);
    if (open < 0 || close < 0 || close - open > 998)
        return {};
    const QByteArray id = value.sliced(open, close - open + 1);
    for (char c : id) {
        if (c <= ' ' || c >= 127)
            return {};
    }
    return id.indexOf('@') > 1 ? id : QByteArray();
}

QString firstToken(const QByteArray &value)
{
    const QString text = QString::fromUtf8(value).simplified();
    return text.section(u' ', 0, 0);
}

/// The per-recipient blocks of a delivery-status part that report a failure.
QList<Bounce> failedRecipients(const QByteArray &status)
{
    QList<Bounce> bounces;
    QByteArrayView rest = status;
    // The fields come in blocks divided by empty lines: the message's, then one per recipient.
    for (int blocks = 0; !rest.isEmpty() && blocks < kMaxParts; ++blocks) {
        const Entity block = parseEntity(rest);
        if (block.body.size() >= rest.size())
            break;
        rest = block.body;
        QByteArray recipient = block.header("final-recipient");
        if (recipient.isEmpty())
            recipient = block.header("original-recipient");
        if (recipient.isEmpty())
            continue;
        const QByteArray action = block.header("action").trimmed().toLower();
        const QString code = firstToken(block.header("status"));
        // A delay, a delivery or a relay is no failure; a report without an action counts by its
        // status class.
        const bool failed = action.startsWith("failed") || (action.isEmpty() && code.startsWith(u'5'));
        if (!failed)
            continue;
        Bounce bounce;
        bounce.recipient = bareAddress(withoutType(recipient));
        bounce.status = code.isEmpty() ? u"5.0.0"_s : code;
        bounce.diagnostic = withoutType(block.header("diagnostic-code")).left(kMaxDiagnostic);
        if (!bounce.recipient.isEmpty())
            bounces.append(bounce);
    }
    return bounces;
}

bool containsAny(const QString &text, std::initializer_list<QLatin1StringView> words)
{
    for (QLatin1StringView word : words) {
        if (text.contains(word, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

/// Whether a message without a delivery-status part looks like a bounce by its sender or subject.
bool looksLikeBounce(const Entity &top)
{
    const QString subject = decodeHeaderText(top.header("subject"));
    if (containsAny(subject, {"delay"_L1, "warning"_L1, "auto-reply"_L1, "autoreply"_L1, "out of office"_L1}))
        return false;
    const QString from = QString::fromUtf8(top.header("from"));
    return containsAny(from, {"mailer-daemon"_L1, "postmaster"_L1, "mail delivery"_L1}) ||
           containsAny(subject, {"undeliver"_L1, "undelivered"_L1, "delivery failure"_L1, "delivery failed"_L1,
                                 "delivery has failed"_L1, "failure notice"_L1, "returned mail"_L1,
                                 "could not be delivered"_L1, "delivery status notification (failure)"_L1,
                                 "nondeliverable"_L1, "non-deliverable"_L1});
}

const QRegularExpression &messageIdLine()
{
    static const QRegularExpression re(u"^([ \\t>]*)message-id[ \\t]*:"_s,
                                       QRegularExpression::CaseInsensitiveOption |
                                           QRegularExpression::MultilineOption);
    return re;
}

/// A header block quoted inside a text part (lines that may be indented or marked with ">"), found
/// by its Message-ID line; `before` gets the text in front of it.
std::optional<QByteArray> quotedHeaders(const QByteArray &text, QByteArray *before)
{
    const QString decoded = QString::fromUtf8(text);
    const QRegularExpressionMatch match = messageIdLine().match(decoded);
    if (!match.hasMatch())
        return std::nullopt;
    const QString prefix = match.captured(1);
    QStringList lines = decoded.left(match.capturedStart()).split(u'\n');
    if (!lines.isEmpty())
        lines.removeLast(); // the part of the Message-ID line in front of the match: empty
    // Back to the start of the block: the line after an empty one.
    qsizetype first = lines.size();
    while (first > 0 && !lines.at(first - 1).mid(prefix.size()).trimmed().isEmpty() &&
           lines.at(first - 1).startsWith(prefix))
        --first;
    QByteArray block;
    for (qsizetype i = first; i < lines.size(); ++i)
        block += lines.at(i).mid(prefix.size()).toUtf8() + '\n';
    *before = QStringList(lines.mid(0, first)).join(u'\n').toUtf8();
    const QStringList after = decoded.mid(match.capturedStart()).split(u'\n');
    for (const QString &line : after) {
        if (!line.startsWith(prefix) || line.mid(prefix.size()).trimmed().isEmpty())
            break;
        block += line.mid(prefix.size()).toUtf8() + '\n';
    }
    return block;
}

const QRegularExpression &statusCode()
{
    static const QRegularExpression re(u"(?<![\\d.])([245]\\.\\d{1,3}\\.\\d{1,3})(?![\\d.])"_s);
    return re;
}

const QRegularExpression &smtpReplyLine()
{
    static const QRegularExpression re(u"^(?:.*?[^\\w.])?([45]\\d\\d)[ -].*$"_s, QRegularExpression::MultilineOption);
    return re;
}

const QRegularExpression &anyAddress()
{
    static const QRegularExpression re(u"[^\\s<>\"'(),:;@]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,}"_s);
    return re;
}

QList<Bounce> quotedOriginalBounce(const Entity &top, Parts &parts)
{
    if (!looksLikeBounce(top))
        return {};
    // The words of the report: every text part, up to the quoted original when it is quoted there.
    QString words;
    std::optional<Entity> original = parts.original;
    QByteArray quotedText;
    for (const QByteArray &text : std::as_const(parts.texts)) {
        QByteArray before;
        if (!original) {
            if (const std::optional<QByteArray> block = quotedHeaders(text, &before)) {
                quotedText = *block;
                original = parseEntity(quotedText);
                words += QString::fromUtf8(before) + u'\n';
                break;
            }
        }
        words += QString::fromUtf8(text) + u'\n';
    }
    if (!original)
        return {};
    Bounce bounce;
    bounce.originalId = messageIdIn(original->header("message-id"));
    bounce.originalSubject = decodeHeaderText(original->header("subject"));
    bounce.recipient = bareAddress(QString::fromUtf8(original->header("to")));
    if (bounce.recipient.isEmpty()) {
        const QRegularExpressionMatch address = anyAddress().match(words);
        if (address.hasMatch())
            bounce.recipient = address.captured(0);
    }
    if (bounce.recipient.isEmpty() || (bounce.originalId.isEmpty() && bounce.originalSubject.isEmpty()))
        return {};
    const QRegularExpressionMatch reply = smtpReplyLine().match(words);
    if (reply.hasMatch())
        bounce.diagnostic = reply.captured(0).simplified().left(kMaxDiagnostic);
    const QRegularExpressionMatch code = statusCode().match(words);
    if (code.hasMatch())
        bounce.status = code.captured(1);
    else
        bounce.status = reply.hasMatch() && reply.captured(1).startsWith(u'4') ? u"4.0.0"_s : u"5.0.0"_s;
    return {bounce};
}

QString decodeCharset(const QByteArray &bytes, const QByteArray &charset)
{
    const QByteArray name = charset.toLower();
    if (name == "utf-8" || name == "utf8" || name == "us-ascii")
        return QString::fromUtf8(bytes);
    if (name == "iso-8859-1" || name == "latin1" || name == "iso-8859-15")
        return QString::fromLatin1(bytes);
    if (name == "windows-1252" || name == "cp1252")
        return QString::fromUtf8(windows1252ToUtf8(bytes));
    return QString::fromUtf8(bytes);
}

/// The failed recipients of a report: from its delivery-status parts, else from the original it quotes.
QList<Bounce> bouncesIn(const Entity &top, Parts &parts)
{
    if (parts.statusParts.isEmpty())
        return quotedOriginalBounce(top, parts);
    QByteArray id;
    QString subject;
    if (parts.original) {
        id = messageIdIn(parts.original->header("message-id"));
        subject = decodeHeaderText(parts.original->header("subject"));
    }
    QList<Bounce> bounces;
    for (const QByteArray &status : std::as_const(parts.statusParts)) {
        for (Bounce bounce : failedRecipients(status)) {
            bounce.originalId = id;
            bounce.originalSubject = subject;
            bounces.append(bounce);
        }
    }
    return bounces;
}

/// A Date header's time; invalid when there is none. A comment after the zone ("(CET)") is left
/// aside: the numeric offset before it is what counts.
QDateTime reportDate(const QByteArray &value)
{
    QString text = QString::fromLatin1(value);
    const qsizetype comment = text.indexOf(u'(');
    if (comment >= 0)
        text.truncate(comment);
    return QDateTime::fromString(text.simplified(), Qt::RFC2822Date);
}

} // namespace

QString decodeHeaderText(QByteArrayView value)
{
    static const QRegularExpression word(u"=\\?([A-Za-z0-9_.:-]+)(?:\\*[^?]*)?\\?([BbQq])\\?([^?\\s]*)\\?="_s);
    const QString text = QString::fromLatin1(value);
    QString result;
    qsizetype at = 0;
    bool lastWasWord = false;
    QRegularExpressionMatchIterator it = word.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const QString between = text.mid(at, m.capturedStart() - at);
        // Blanks between two encoded words are not part of the text.
        if (!(lastWasWord && between.trimmed().isEmpty()))
            result += QString::fromUtf8(value.sliced(at, m.capturedStart() - at));
        const QByteArray payload = m.captured(3).toLatin1();
        QByteArray bytes;
        if (m.captured(2).compare(u"B"_s, Qt::CaseInsensitive) == 0) {
            bytes = QByteArray::fromBase64(payload);
        } else {
            QByteArray q = payload;
            q.replace('_', ' ');
            bytes = QByteArray::fromPercentEncoding(q, '=');
        }
        result += decodeCharset(bytes, m.captured(1).toLatin1());
        at = m.capturedEnd();
        lastWasWord = true;
    }
    result += QString::fromUtf8(value.sliced(at));
    return result.simplified();
}

bool mayBeBounce(QByteArrayView headers)
{
    const Entity top = parseEntity(headers);
    return parseContentType(top.header("content-type")).type == "multipart/report" || looksLikeBounce(top);
}

QList<Bounce> readBounce(QByteArrayView message)
{
    Parts parts;
    collect(message, 0, parts);
    const Entity top = parseEntity(message);
    QList<Bounce> bounces = bouncesIn(top, parts);
    const QDateTime reported = reportDate(top.header("date"));
    for (Bounce &bounce : bounces)
        bounce.reported = reported;
    return bounces;
}

} // namespace quorvale
