#include "mail/htmlbody.h"

#include <QHash>
#include <QList>
#include <QSet>

#include <algorithm>
#include <functional>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

// --- reading HTML -----------------------------------------------------------------------------

struct Attribute
{
    QString name; ///< lower case
    QString value; ///< as written, entities not decoded
};

/// One piece of HTML: text, or a tag (start or end).
struct Token
{
    enum Kind
    {
        Text,
        StartTag,
        EndTag,
        Dropped, ///< a comment, a doctype, a processing instruction
    } kind = Text;
    QString text;  ///< Text: as written ("<" that starts no tag included)
    QString name;  ///< tags: lower case
    QList<Attribute> attributes;
};

bool isAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool isHtmlSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

/// Splits HTML into tokens as a browser's tokenizer would, closely enough that what the cleaner
/// writes back means to a browser what it means here: tags are written anew, so whatever this
/// reads as text stays text.
class Tokenizer
{
public:
    explicit Tokenizer(const QString &html) : m_html(html) {}

    bool atEnd() const { return m_at >= m_html.size(); }

    Token next()
    {
        const qsizetype start = m_at;
        const qsizetype open = m_html.indexOf(u'<', m_at);
        if (open != start) {
            m_at = open < 0 ? m_html.size() : open;
            return {Token::Text, m_html.sliced(start, m_at - start), {}, {}};
        }
        const QChar after = m_at + 1 < m_html.size() ? m_html[m_at + 1] : QChar();
        if (isAsciiLetter(after))
            return tag(Token::StartTag, m_at + 1);
        if (after == u'/' && m_at + 2 < m_html.size() && isAsciiLetter(m_html[m_at + 2]))
            return tag(Token::EndTag, m_at + 2);
        if (m_html.sliced(m_at).startsWith(u"<!--")) {
            const qsizetype end = m_html.indexOf(u"-->", m_at + 4);
            m_at = end < 0 ? m_html.size() : end + 3;
            return {Token::Dropped, {}, {}, {}};
        }
        if (after == u'!' || after == u'?' || after == u'/') {
            const qsizetype end = m_html.indexOf(u'>', m_at);
            m_at = end < 0 ? m_html.size() : end + 1;
            return {Token::Dropped, {}, {}, {}};
        }
        ++m_at;
        return {Token::Text, u"<"_s, {}, {}};
    }

    /// The raw text up to the end tag `name` (script, style, title, ...), which is then read too.
    QString rawTextUntilEndOf(const QString &name)
    {
        const qsizetype start = m_at;
        qsizetype at = m_at;
        while ((at = m_html.indexOf(u"</"_s + name, at, Qt::CaseInsensitive)) >= 0) {
            const qsizetype after = at + 2 + name.size();
            if (after >= m_html.size() || isHtmlSpace(m_html[after]) || m_html[after] == u'/' ||
                m_html[after] == u'>')
                break;
            at = after;
        }
        if (at < 0) {
            m_at = m_html.size();
            return m_html.sliced(start);
        }
        m_at = at;
        const QString raw = m_html.sliced(start, at - start);
        next(); // the end tag
        return raw;
    }

private:
    Token tag(Token::Kind kind, qsizetype nameFrom)
    {
        Token token{kind, {}, {}, {}};
        qsizetype at = nameFrom;
        const qsizetype end = m_html.size();
        while (at < end && !isHtmlSpace(m_html[at]) && m_html[at] != u'/' && m_html[at] != u'>')
            ++at;
        token.name = m_html.sliced(nameFrom, at - nameFrom).toLower();
        for (;;) {
            while (at < end && (isHtmlSpace(m_html[at]) || m_html[at] == u'/'))
                ++at;
            if (at >= end) {
                // A tag the text ends inside is no tag to a browser either: nothing of it is kept.
                m_at = end;
                return {Token::Dropped, {}, {}, {}};
            }
            if (m_html[at] == u'>') {
                m_at = at + 1;
                return token;
            }
            const qsizetype nameStart = at;
            ++at; // a name may start with '='
            while (at < end && !isHtmlSpace(m_html[at]) && m_html[at] != u'/' && m_html[at] != u'>' &&
                   m_html[at] != u'=')
                ++at;
            Attribute attribute{m_html.sliced(nameStart, at - nameStart).toLower(), {}};
            qsizetype look = at;
            while (look < end && isHtmlSpace(m_html[look]))
                ++look;
            if (look < end && m_html[look] == u'=') {
                at = look + 1;
                while (at < end && isHtmlSpace(m_html[at]))
                    ++at;
                if (at < end && (m_html[at] == u'"' || m_html[at] == u'\'')) {
                    const qsizetype close = m_html.indexOf(m_html[at], at + 1);
                    if (close < 0) {
                        m_at = end;
                        return {Token::Dropped, {}, {}, {}};
                    }
                    attribute.value = m_html.sliced(at + 1, close - at - 1);
                    at = close + 1;
                } else {
                    const qsizetype valueStart = at;
                    while (at < end && !isHtmlSpace(m_html[at]) && m_html[at] != u'>')
                        ++at;
                    attribute.value = m_html.sliced(valueStart, at - valueStart);
                }
            }
            if (kind == Token::StartTag)
                token.attributes.append(attribute);
        }
    }

    const QString &m_html;
    qsizetype m_at = 0;
};

// --- what is kept -----------------------------------------------------------------------------

bool isPlainName(const QString &name)
{
    if (name.isEmpty() || !isAsciiLetter(name[0]))
        return false;
    for (QChar c : name) {
        if (!isAsciiLetter(c) && !(c >= u'0' && c <= u'9') && c != u'-' && c != u':' && c != u'_' && c != u'.')
            return false;
    }
    return true;
}

/// Elements that go with everything inside them.
const QSet<QString> &droppedWithContent()
{
    static const QSet<QString> names{u"script"_s,   u"iframe"_s, u"object"_s, u"applet"_s,   u"frameset"_s,
                                     u"noframes"_s, u"noembed"_s, u"noscript"_s, u"svg"_s,    u"math"_s,
                                     u"template"_s, u"textarea"_s, u"select"_s, u"xmp"_s,     u"plaintext"_s};
    return names;
}

/// Elements whose tags go but whose content stays.
const QSet<QString> &droppedTags()
{
    static const QSet<QString> names{u"embed"_s, u"base"_s,  u"link"_s,  u"meta"_s, u"frame"_s,
                                     u"form"_s,  u"input"_s, u"button"_s, u"param"_s, u"portal"_s};
    return names;
}

/// A tag that may be written: a plain name, none whose tag goes, and none that even looks like a
/// script ("<scriptx>" is no script to a browser, but no reader of the message should have to know).
bool isKeptTagName(const QString &name)
{
    return isPlainName(name) && !name.startsWith(u"script"_s) && !droppedTags().contains(name);
}

/// Elements whose content a browser reads as raw text, up to their end tag.
bool isRawText(const QString &name)
{
    return name == u"script"_s || name == u"style"_s || name == u"xmp"_s || name == u"iframe"_s ||
           name == u"noembed"_s || name == u"noframes"_s || name == u"noscript"_s || name == u"textarea"_s ||
           name == u"title"_s || name == u"plaintext"_s;
}

/// A URL as a browser reads it: entities decoded, blanks and control characters gone, lower case.
QString normalisedUrl(const QString &value)
{
    QString url;
    for (QChar c : decodeHtmlEntities(value)) {
        if (c.unicode() > 0x20 && c.unicode() != 0x7f)
            url += c.toLower();
    }
    return url;
}

/// A picture source that needs nothing from elsewhere: a part of the message ("cid:") or a path
/// relative to the body's folder (which the message builder embeds).
bool isLocalSource(const QString &value)
{
    const QString url = normalisedUrl(value);
    if (url.startsWith(u"cid:"_s))
        return url.size() > 4;
    if (url.isEmpty() || url.startsWith(u'/') || url.startsWith(u'\\'))
        return false;
    // Anything with a scheme (http:, https:, data:, file:, ...) is not relative.
    for (QChar c : url) {
        if (c == u':')
            return false;
        if (!isAsciiLetter(c) && !(c >= u'0' && c <= u'9') && c != u'+' && c != u'-' && c != u'.')
            break;
    }
    return true;
}

bool isScriptLink(const QString &value)
{
    const QString url = normalisedUrl(value);
    return url.startsWith(u"javascript:"_s) || url.startsWith(u"vbscript:"_s) || url.startsWith(u"data:"_s) ||
           url.startsWith(u"livescript:"_s);
}

/// Style that loads or runs nothing: no url(), @import, expression() or behaviour, no escapes
/// that could spell them, and no "<" (so that style text can never end its element early).
bool isQuietStyle(const QString &style)
{
    const QString css = style.toLower();
    for (const QString &word : {u"url("_s, u"@import"_s, u"expression"_s, u"\\"_s, u"javascript:"_s,
                                u"behavior"_s, u"-moz-binding"_s, u"<"_s, u"image-set"_s, u"&"_s})
        if (css.contains(word))
            return false;
    return true;
}

QString quotedValue(const QString &value)
{
    QString quoted = value;
    quoted.replace(u'"', u"&quot;"_s).replace(u'<', u"&lt;"_s).replace(u'>', u"&gt;"_s);
    return quoted;
}

/// Cleans `html`; `pictureSource`, when given, gives the new src of an img whose src (decoded) it
/// is asked about, or an empty text to keep it.
QString clean(const QString &html, const std::function<QString(const QString &)> &pictureSource)
{
    QString out;
    out.reserve(html.size());
    Tokenizer tokens(html);
    QString droppedName; // the element being dropped with its content
    int droppedDepth = 0;
    while (!tokens.atEnd()) {
        const Token token = tokens.next();
        if (droppedDepth > 0) {
            if (token.kind == Token::StartTag && isRawText(token.name))
                tokens.rawTextUntilEndOf(token.name);
            if (token.kind == Token::StartTag && token.name == droppedName)
                ++droppedDepth;
            if (token.kind == Token::EndTag && token.name == droppedName)
                --droppedDepth;
            continue;
        }
        switch (token.kind) {
        case Token::Dropped:
            continue;
        case Token::Text:
            out += token.text == u"<"_s ? u"&lt;"_s : token.text;
            continue;
        case Token::EndTag:
            if (isKeptTagName(token.name) && !droppedWithContent().contains(token.name))
                out += u"</"_s + token.name + u'>';
            continue;
        case Token::StartTag:
            break;
        }
        const QString &name = token.name;
        if (droppedWithContent().contains(name)) {
            if (isRawText(name))
                tokens.rawTextUntilEndOf(name);
            else {
                droppedName = name;
                droppedDepth = 1;
            }
            continue;
        }
        if (!isKeptTagName(name))
            continue;
        if (name == u"style"_s) {
            const QString css = tokens.rawTextUntilEndOf(name);
            if (isQuietStyle(css))
                out += u"<style>"_s + css + u"</style>"_s;
            continue;
        }
        QString tag = u'<' + name;
        bool hasSource = false;
        QSet<QString> seen;
        for (const Attribute &attribute : token.attributes) {
            const QString &key = attribute.name;
            QString value = attribute.value;
            // A browser takes the first of two attributes of one name.
            if (!isPlainName(key) || key.startsWith(u"on"_s) || seen.contains(key))
                continue;
            seen.insert(key);
            if (key == u"src"_s || key == u"background"_s || key == u"poster"_s) {
                if (!isLocalSource(value))
                    continue;
                if (key == u"src"_s && name == u"img"_s) {
                    hasSource = true;
                    if (pictureSource) {
                        if (const QString replaced = pictureSource(decodeHtmlEntities(value)); !replaced.isEmpty())
                            value = replaced;
                    }
                }
            } else if (key == u"srcset"_s || key == u"lowsrc"_s || key == u"dynsrc"_s || key == u"data"_s ||
                       key == u"codebase"_s || key == u"action"_s || key == u"formaction"_s || key == u"ping"_s ||
                       key == u"xmlns"_s || key.startsWith(u"xlink:"_s) || key.startsWith(u"xmlns:"_s)) {
                continue;
            } else if (key == u"href"_s || key == u"longdesc"_s || key == u"cite"_s) {
                if (isScriptLink(value))
                    continue;
            } else if (key == u"style"_s) {
                if (!isQuietStyle(decodeHtmlEntities(value)))
                    continue;
            }
            tag += u' ' + key + u"=\""_s + quotedValue(value) + u'"';
        }
        // A picture without a usable source would show a broken image, or fetch one: it goes.
        if (name == u"img"_s && !hasSource)
            continue;
        out += tag + u'>';
        if (isRawText(name)) // title: its text, any "<" in it written so that it stays text
            out += tokens.rawTextUntilEndOf(name).replace(u'<', u"&lt;"_s) + u"</"_s + name + u'>';
    }
    return out;
}

} // namespace

QString cleanHtmlBody(const QString &html)
{
    return clean(html, {});
}

QStringList htmlPicturePaths(const QString &html)
{
    QStringList paths;
    clean(html, [&paths](const QString &source) {
        if (!source.trimmed().startsWith(u"cid:"_s, Qt::CaseInsensitive) && !paths.contains(source))
            paths.append(source);
        return QString();
    });
    return paths;
}

QString replacePictureSources(const QString &html, const QHash<QString, QString> &sources)
{
    return clean(html, [&sources](const QString &source) { return sources.value(source); });
}

QString decodeHtmlEntities(const QString &text)
{
    static const QHash<QString, char16_t> named{
        {u"amp"_s, u'&'},       {u"lt"_s, u'<'},        {u"gt"_s, u'>'},        {u"quot"_s, u'"'},
        {u"apos"_s, u'\''},     {u"nbsp"_s, 0x00A0},    {u"copy"_s, 0x00A9},    {u"reg"_s, 0x00AE},
        {u"euro"_s, 0x20AC},    {u"ndash"_s, 0x2013},   {u"mdash"_s, 0x2014},   {u"hellip"_s, 0x2026},
        {u"laquo"_s, 0x00AB},   {u"raquo"_s, 0x00BB},   {u"bull"_s, 0x2022},    {u"middot"_s, 0x00B7},
        {u"auml"_s, 0x00E4},    {u"ouml"_s, 0x00F6},    {u"uuml"_s, 0x00FC},    {u"Auml"_s, 0x00C4},
        {u"Ouml"_s, 0x00D6},    {u"Uuml"_s, 0x00DC},    {u"szlig"_s, 0x00DF},   {u"eacute"_s, 0x00E9},
        {u"egrave"_s, 0x00E8},  {u"agrave"_s, 0x00E0},  {u"ccedil"_s, 0x00E7},  {u"Eacute"_s, 0x00C9},
        {u"lsquo"_s, 0x2018},   {u"rsquo"_s, 0x2019},   {u"ldquo"_s, 0x201C},   {u"rdquo"_s, 0x201D},
        {u"tab"_s, u'\t'},      {u"newline"_s, u'\n'},  {u"colon"_s, u':'},     {u"sol"_s, u'/'},
    };
    if (!text.contains(u'&'))
        return text;
    QString out;
    out.reserve(text.size());
    qsizetype at = 0;
    while (at < text.size()) {
        const qsizetype amp = text.indexOf(u'&', at);
        if (amp < 0) {
            out += QStringView(text).sliced(at);
            break;
        }
        out += QStringView(text).sliced(at, amp - at);
        at = amp + 1;
        if (at < text.size() && text[at] == u'#') {
            const bool hex = at + 1 < text.size() && (text[at + 1] == u'x' || text[at + 1] == u'X');
            qsizetype digits = at + (hex ? 2 : 1);
            const qsizetype from = digits;
            char32_t value = 0;
            while (digits < text.size()) {
                const QChar c = text[digits].toLower();
                int d = -1;
                if (c >= u'0' && c <= u'9')
                    d = c.unicode() - u'0';
                else if (hex && c >= u'a' && c <= u'f')
                    d = c.unicode() - u'a' + 10;
                if (d < 0)
                    break;
                // Past the last code point the value stays out of range, however many digits follow.
                value = std::min<char32_t>(value * (hex ? 16 : 10) + char32_t(d), 0x110000);
                ++digits;
            }
            if (digits == from) {
                out += u'&';
                continue;
            }
            if (digits < text.size() && text[digits] == u';')
                ++digits;
            if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
                value = 0xFFFD;
            out += QString::fromUcs4(&value, 1);
            at = digits;
            continue;
        }
        qsizetype end = at;
        while (end < text.size() && end - at < 10 && (isAsciiLetter(text[end]) || text[end].isDigit()))
            ++end;
        if (end < text.size() && text[end] == u';') {
            if (const auto found = named.constFind(text.sliced(at, end - at)); found != named.cend()) {
                out += QChar(*found);
                at = end + 1;
                continue;
            }
        }
        out += u'&';
    }
    return out;
}

QString plainTextOfHtml(const QString &html)
{
    static const QSet<QString> paragraphs{u"p"_s,  u"h1"_s, u"h2"_s, u"h3"_s,         u"h4"_s,
                                          u"h5"_s, u"h6"_s, u"ul"_s, u"ol"_s,         u"table"_s,
                                          u"pre"_s, u"blockquote"_s, u"hr"_s};
    static const QSet<QString> lines{u"div"_s, u"li"_s,      u"tr"_s,     u"dt"_s,      u"dd"_s,
                                     u"section"_s, u"article"_s, u"header"_s, u"footer"_s, u"address"_s};
    QString text;
    int pre = 0;
    QString linkHref;
    qsizetype linkStart = -1;
    const auto breakLine = [&text](int count) {
        qsizetype ends = 0;
        while (text.size() > 0 && text.endsWith(u' '))
            text.chop(1);
        for (qsizetype i = text.size() - 1; i >= 0 && text[i] == u'\n'; --i)
            ++ends;
        if (text.isEmpty())
            return;
        for (; ends < count; ++ends)
            text += u'\n';
    };
    Tokenizer tokens(html);
    while (!tokens.atEnd()) {
        const Token token = tokens.next();
        if (token.kind == Token::Text) {
            QString piece = decodeHtmlEntities(token.text);
            if (pre == 0) {
                piece.replace(u'\r', u' ').replace(u'\n', u' ').replace(u'\t', u' ').replace(u'\f', u' ');
                while (piece.contains(u"  "_s))
                    piece.replace(u"  "_s, u" "_s);
                if (piece.startsWith(u' ') && (text.isEmpty() || text.endsWith(u' ') || text.endsWith(u'\n')))
                    piece.remove(0, 1);
            }
            text += piece;
            continue;
        }
        if (token.kind != Token::StartTag && token.kind != Token::EndTag)
            continue;
        const QString &name = token.name;
        const bool start = token.kind == Token::StartTag;
        if (start && (name == u"head"_s || name == u"style"_s || name == u"script"_s || name == u"title"_s)) {
            if (name == u"head"_s) {
                // Skip to the end of the head.
                while (!tokens.atEnd()) {
                    const Token inner = tokens.next();
                    if (inner.kind == Token::StartTag && isRawText(inner.name))
                        tokens.rawTextUntilEndOf(inner.name);
                    if (inner.kind == Token::EndTag && inner.name == u"head"_s)
                        break;
                }
            } else {
                tokens.rawTextUntilEndOf(name);
            }
            continue;
        }
        if (name == u"br"_s && start) {
            while (text.endsWith(u' '))
                text.chop(1);
            text += u'\n';
        } else if (paragraphs.contains(name)) {
            breakLine(2);
        } else if (lines.contains(name)) {
            breakLine(1);
        }
        if (name == u"pre"_s)
            pre = std::max(0, pre + (start ? 1 : -1));
        if (name == u"li"_s && start)
            text += u"- "_s;
        if (name == u"img"_s && start) {
            for (const Attribute &attribute : token.attributes) {
                if (attribute.name == u"alt"_s)
                    text += decodeHtmlEntities(attribute.value);
            }
        }
        if (name == u"a"_s && start) {
            linkHref.clear();
            for (const Attribute &attribute : token.attributes) {
                if (attribute.name == u"href"_s)
                    linkHref = decodeHtmlEntities(attribute.value).trimmed();
            }
            linkStart = text.size();
        } else if (name == u"a"_s && linkStart >= 0) {
            const QString linkText = text.sliced(std::min(linkStart, text.size())).trimmed();
            QString shown = linkHref;
            if (shown.startsWith(u"mailto:"_s, Qt::CaseInsensitive))
                shown.remove(0, 7);
            if (!linkHref.isEmpty() && !linkHref.startsWith(u'#') && shown != linkText)
                text += u" <"_s + linkHref + u'>';
            linkStart = -1;
        }
    }
    // Blanks at the ends of lines go, and no more than one empty line in a row.
    QStringList out;
    for (const QString &line : text.split(u'\n')) {
        QString trimmed = line;
        while (trimmed.endsWith(u' '))
            trimmed.chop(1);
        if (trimmed.isEmpty() && (out.isEmpty() || out.last().isEmpty()))
            continue;
        out.append(trimmed);
    }
    while (!out.isEmpty() && out.last().isEmpty())
        out.removeLast();
    return out.join(u"\r\n"_s);
}

QString unescapeFieldQuotes(const QString &html)
{
    static const QString kQuote = u"&quot;"_s;
    QString out;
    qsizetype done = 0;
    for (qsizetype open = html.indexOf(u"{{"_s); open >= 0; open = html.indexOf(u"{{"_s, done)) {
        const qsizetype close = html.indexOf(u"}}"_s, open + 2);
        const qsizetype lineEnd = html.indexOf(u'\n', open + 2);
        // Not closed on its line: no field, and nothing in it changes.
        if (close < 0 || (lineEnd >= 0 && lineEnd < close)) {
            out += QStringView(html).mid(done, open + 2 - done);
            done = open + 2;
            continue;
        }
        out += QStringView(html).mid(done, open - done);
        out += html.mid(open, close + 2 - open).replace(kQuote, u"\""_s);
        done = close + 2;
    }
    if (done == 0)
        return html;
    out += QStringView(html).mid(done);
    return out;
}

bool htmlShowsSomething(const QString &html)
{
    return !plainTextOfHtml(html).trimmed().isEmpty() || !htmlPicturePaths(html).isEmpty();
}

} // namespace quorvale
