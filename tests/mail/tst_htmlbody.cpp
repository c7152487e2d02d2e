// A formatted body made safe to send, and the plain text made from it.

#include "mail/htmlbody.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace quorvale;

class TestHtmlBody : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleaningLeavesNothingThatRunsOrFetches_data();
    void cleaningLeavesNothingThatRunsOrFetches();
    void plainTextReadsLikeTheFormattedBody_data();
    void plainTextReadsLikeTheFormattedBody();
    void picturesAreFoundAndReplaced();
    void editorsQuotesInFieldsReadAsTyped_data();
    void editorsQuotesInFieldsReadAsTyped();
};

void TestHtmlBody::cleaningLeavesNothingThatRunsOrFetches_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("cleaned");
    QTest::newRow("formatting kept") << u"<p class=x><b>Bold</b>, <i>italic</i><br/><ul><li>one</ul></p>"_s
                                     << u"<p class=\"x\"><b>Bold</b>, <i>italic</i><br><ul><li>one</ul></p>"_s;
    QTest::newRow("script") << u"<p>Hi<script>alert('</p>')</script></p>"_s << u"<p>Hi</p>"_s;
    QTest::newRow("event handlers") << u"<p onclick=\"x()\" class=a ONMOUSEOVER=y>Hi</p>"_s
                                    << u"<p class=\"a\">Hi</p>"_s;
    QTest::newRow("remote pictures") << u"<img src=\"https://t.example/p.gif\" width=1><img src='logo.png' alt=\"Logo\">"
                                        "<img src=//t.example/x><img src=\"/etc/x.png\"><img>"_s
                                     << u"<img src=\"logo.png\" alt=\"Logo\">"_s;
    QTest::newRow("remote picture spelt with references")
        << u"<img src=\"&#104;ttps://t.example/p\"><img src=\" h&#x74;tp&colon;//x\"><img src=\"data:image/png;base64,AA\">"_s
        << QString();
    QTest::newRow("other remote sources") << u"<table background=\"http://t/x.png\"><td background=bg.png>"
                                             "<video poster=http://t/p src=\"https://t/v\"></video><img src=a.png srcset=\"http://t/b 2x\">"_s
                                          << u"<table><td background=\"bg.png\"><video></video><img src=\"a.png\">"_s;
    QTest::newRow("style sheets") << u"<link rel=stylesheet href=\"http://x/s.css\"><b>b</b>"_s << u"<b>b</b>"_s;
    QTest::newRow("frames and plug-ins") << u"<iframe src=x>in</iframe><object data=y><p>fallback</p></object>"
                                            "<embed src=z><applet><object></object>no</applet>ok"_s
                                         << u"ok"_s;
    QTest::newRow("script links") << u"<a href=\"java&#x09;script:alert(1)\">x</a><a href=\"https://ex.org\">y</a>"
                                     "<a href=' VBScript:x'>z</a>"_s
                                  << u"<a>x</a><a href=\"https://ex.org\">y</a><a>z</a>"_s;
    QTest::newRow("style that loads") << u"<p style=\"background:url(http://t/x)\">a</p><style>@import \"http://x\";</style>"
                                         "<style>p{color:red}</style><p style='color:blue'>b</p><style>p{x:\\75rl(y)}</style>"_s
                                      << u"<p>a</p><style>p{color:red}</style><p style=\"color:blue\">b</p>"_s;
    QTest::newRow("comments and stray brackets") << u"a < b <!-- <script>x</script> --> c <!x> <?php ?> </ d> <3"_s
                                                 << u"a &lt; b  c    &lt;3"_s;
    QTest::newRow("tag cut off at the end") << u"<p>x<img src=\"http://a"_s << u"<p>x"_s;
    QTest::newRow("svg and math") << u"<svg><script>x</script><a xlink:href=\"javascript:1\">s</a></svg>"
                                     "<math><mi>x</mi></math>done"_s
                                  << u"done"_s;
    QTest::newRow("upper case") << u"<SCRIPT SRC=x></SCRIPT><IMG SRC=LOGO.PNG ONERROR=x></P>"_s
                                << u"<img src=\"LOGO.PNG\"></p>"_s;
    QTest::newRow("pictures of the message") << u"<img src=\"cid:logo@example.com\">"_s
                                             << u"<img src=\"cid:logo@example.com\">"_s;
    QTest::newRow("values quoted anew") << u"<p title='say \"hi\" <script>' title=second>t</p>"_s
                                        << u"<p title=\"say &quot;hi&quot; &lt;script&gt;\">t</p>"_s;
    QTest::newRow("title text") << u"<title>a<b</title><textarea>x<script></textarea>"_s
                                << u"<title>a&lt;b</title>"_s;
    QTest::newRow("names like script") << u"<scriptx>a</scriptx><SCRIPT/x>b"_s << u"a"_s;
    QTest::newRow("forms") << u"<form action=\"https://t/x\"><input name=a><button>Go</button></form>"_s
                           << u"Go"_s;
}

void TestHtmlBody::cleaningLeavesNothingThatRunsOrFetches()
{
    QFETCH(QString, html);
    QFETCH(QString, cleaned);
    QCOMPARE(cleanHtmlBody(html), cleaned);
    QCOMPARE(cleanHtmlBody(cleaned), cleaned);
}

void TestHtmlBody::plainTextReadsLikeTheFormattedBody_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("text");
    QTest::newRow("paragraphs, list, line break")
        << u"<p>Dear <b>Anna</b>,</p><p>your\n   invoices:</p><ul><li>one</li><li>two</li></ul>"
           "<p>Regards<br>Smith &amp; Partners &#8211; Tax</p>"_s
        << u"Dear Anna,\r\n\r\nyour invoices:\r\n\r\n- one\r\n- two\r\n\r\nRegards\r\nSmith & Partners \u2013 Tax"_s;
    QTest::newRow("links") << u"<a href=\"https://ex.org/p\">our page</a> <a href=\"mailto:a@b.org\">a@b.org</a>"_s
                           << u"our page <https://ex.org/p> a@b.org"_s;
    QTest::newRow("head and style skipped")
        << u"<html><head><title>T</title><style>p{}</style></head><body>x\n  y<img src=logo.png alt=Logo></body></html>"_s
        << u"x yLogo"_s;
    QTest::newRow("preformatted") << u"<pre>a  b\n  c</pre>"_s << u"a  b\r\n  c"_s;
}

void TestHtmlBody::plainTextReadsLikeTheFormattedBody()
{
    QFETCH(QString, html);
    QFETCH(QString, text);
    QCOMPARE(plainTextOfHtml(html), text);
}

void TestHtmlBody::picturesAreFoundAndReplaced()
{
    const QString html = cleanHtmlBody(u"<img src=\"logo.png\"><img src=\"img/a%20b.png\"><img src=\"logo.png\">"
                                       "<img src=\"cid:x@y\"><img src=\"L&amp;P.png\">"_s);
    QCOMPARE(htmlPicturePaths(html), (QStringList{u"logo.png"_s, u"img/a%20b.png"_s, u"L&P.png"_s}));
    QCOMPARE(replacePictureSources(html, {{u"logo.png"_s, u"cid:1@x"_s}, {u"L&P.png"_s, u"cid:2@x"_s}}),
             u"<img src=\"cid:1@x\"><img src=\"img/a%20b.png\"><img src=\"cid:1@x\"><img src=\"cid:x@y\">"
             "<img src=\"cid:2@x\">"_s);
}

void TestHtmlBody::editorsQuotesInFieldsReadAsTyped_data()
{
    QTest::addColumn<QString>("saved");
    QTest::addColumn<QString>("fields");
    QTest::addColumn<bool>("showsSomething");
    QTest::newRow("quoted field") << u"<p>a {{&quot;{{&quot;}} b</p>"_s << u"<p>a {{\"{{\"}} b</p>"_s << true;
    QTest::newRow("two fields, quotes between them kept")
        << u"<p>{{&quot;x&quot;}} &quot;y&quot; {{Name|&quot;Sir&quot;}}</p>"_s
        << u"<p>{{\"x\"}} &quot;y&quot; {{Name|\"Sir\"}}</p>"_s << true;
    QTest::newRow("not closed on its line") << u"<p>{{&quot;\n&quot;}}</p>"_s << u"<p>{{&quot;\n&quot;}}</p>"_s
                                            << true;
    QTest::newRow("attribute quotes untouched")
        << u"<p style=\"a\">{{id}}</p>"_s << u"<p style=\"a\">{{id}}</p>"_s << true;
    QTest::newRow("a picture alone") << u"<p><img src=\"pictures/logo.png\"></p>"_s
                                     << u"<p><img src=\"pictures/logo.png\"></p>"_s << true;
    QTest::newRow("blanks alone") << u"<p>&nbsp; </p><br>"_s << u"<p>&nbsp; </p><br>"_s << false;
}

void TestHtmlBody::editorsQuotesInFieldsReadAsTyped()
{
    QFETCH(QString, saved);
    QFETCH(QString, fields);
    QFETCH(bool, showsSomething);
    QCOMPARE(unescapeFieldQuotes(saved), fields);
    QCOMPARE(htmlShowsSomething(cleanHtmlBody(saved)), showsSomething);
}

QTEST_GUILESS_MAIN(TestHtmlBody)
#include "tst_htmlbody.moc"
