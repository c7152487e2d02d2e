// The cleaning of a formatted body on arbitrary text. Rules, checked on what the cleaner writes,
// read by a scanner of its own here:
// - no "<script" anywhere, in any letter case;
// - no tag carries an event-handler attribute (on...=);
// - no src, background or poster that names a remote picture (http:, https:, "//"), entities and
//   blanks in it notwithstanding;
// - no iframe, object or embed tag, and no link tag (style sheets);
// - cleaning what was cleaned changes nothing;
// - the plain text and the picture list are made without a crash from any text.

#include "fuzzcheck.h"
#include "mail/htmlbody.h"

using namespace Qt::StringLiterals;
using namespace quorvale;

namespace {

bool isSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

/// Checks every tag of `html`: its name and its attributes, values quoted or not.
void checkTags(const QString &html)
{
    FUZZ_CHECK(!html.contains(u"<script"_s, Qt::CaseInsensitive));
    for (qsizetype at = html.indexOf(u'<'); at >= 0 && at < html.size(); at = html.indexOf(u'<', at + 1)) {
        qsizetype i = at + 1;
        if (i < html.size() && html[i] == u'/')
            ++i;
        const qsizetype nameStart = i;
        while (i < html.size() && !isSpace(html[i]) && html[i] != u'>' && html[i] != u'/')
            ++i;
        const QString name = html.sliced(nameStart, i - nameStart).toLower();
        for (const QString &banned : {u"iframe"_s, u"object"_s, u"embed"_s, u"link"_s, u"script"_s})
            FUZZ_CHECK(name != banned);
        while (i < html.size() && html[i] != u'>') {
            while (i < html.size() && (isSpace(html[i]) || html[i] == u'/'))
                ++i;
            const qsizetype keyStart = i;
            while (i < html.size() && !isSpace(html[i]) && html[i] != u'>' && html[i] != u'=' && html[i] != u'/')
                ++i;
            const QString key = html.sliced(keyStart, i - keyStart).toLower();
            QString value;
            if (i < html.size() && html[i] == u'=') {
                ++i;
                if (i < html.size() && (html[i] == u'"' || html[i] == u'\'')) {
                    const qsizetype close = html.indexOf(html[i], i + 1);
                    FUZZ_CHECK(close > i);
                    value = html.sliced(i + 1, close - i - 1);
                    i = close + 1;
                } else {
                    const qsizetype valueStart = i;
                    while (i < html.size() && !isSpace(html[i]) && html[i] != u'>')
                        ++i;
                    value = html.sliced(valueStart, i - valueStart);
                }
            }
            FUZZ_CHECK(!key.startsWith(u"on"_s));
            if (key == u"src"_s || key == u"background"_s || key == u"poster"_s) {
                QString url;
                for (QChar c : decodeHtmlEntities(value))
                    if (c.unicode() > 0x20)
                        url += c.toLower();
                FUZZ_CHECK(!url.startsWith(u"http:"_s) && !url.startsWith(u"https:"_s) && !url.startsWith(u"//"_s));
            }
            if (keyStart == i && i < html.size() && html[i] != u'>')
                ++i; // a stray character: go on
        }
        at = i;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    for (const QString &html : {QString::fromUtf8(fuzz::bytesOf(data, size)), fuzz::utf16Of(data, size)}) {
        const QString cleaned = cleanHtmlBody(html);
        checkTags(cleaned);
        FUZZ_CHECK(cleanHtmlBody(cleaned) == cleaned);
        (void)plainTextOfHtml(cleaned);
        (void)htmlPicturePaths(cleaned);
    }
    return 0;
}
