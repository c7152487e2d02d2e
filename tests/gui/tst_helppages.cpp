// The help names the program's controls as the program shows them: every name the help pages set
// in bold (a button, a box, a menu entry, a menu path such as "Journal -> Open Journal Folder")
// is a caption the program's sources hold, so that a renamed or removed control fails here until
// the help follows.

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString sourceDir() { return qEnvironmentVariable("QUORVALE_TEST_SOURCE_DIR"); }

/// Every ordinary string literal of the program's sources, joined, without the "&" of shortcut keys.
QString programTexts()
{
    static const QRegularExpression raw(uR"re(R"([^(\s]*)\(.*?\)\1")re"_s,
                                        QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression literal(u"'(?:[^'\\\\\\n]|\\\\.)*'|\"((?:[^\"\\\\\\n]|\\\\.)*)\""_s);
    QStringList found;
    QDirIterator files(sourceDir() + u"/src"_s, {u"*.cpp"_s, u"*.h"_s}, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString source = readText(files.next()).remove(raw);
        for (auto it = literal.globalMatch(source); it.hasNext();) {
            const QRegularExpressionMatch match = it.next();
            if (match.capturedStart(1) >= 0)
                found.append(match.captured(1));
        }
    }
    return found.join(u'\n').remove(u'&');
}

} // namespace

class TestHelpPages : public QObject
{
    Q_OBJECT

    QString m_program;

private Q_SLOTS:
    void initTestCase()
    {
        m_program = programTexts();
        QVERIFY(m_program.contains(u"Start Processing"_s));
    }

    // The pages about the program's own windows; the sign-in and refusal pages also name the
    // provider's web pages, which the program cannot know.
    void namesInBoldAreCaptionsOfTheProgram_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("name");
        static const QRegularExpression bold(u"<b>(.*?)</b>"_s, QRegularExpression::DotMatchesEverythingOption);
        for (const QString &page : {u"main.html"_s, u"run.html"_s, u"setup.html"_s, u"fields.html"_s}) {
            const QString html = readText(sourceDir() + u"/help/"_s + page);
            QVERIFY2(!html.isEmpty(), qPrintable(page));
            for (auto it = bold.globalMatch(html); it.hasNext();) {
                QString text = it.next().captured(1).simplified();
                text.replace(u"&amp;"_s, u"&"_s).replace(u"&gt;"_s, u">"_s).replace(u"&lt;"_s, u"<"_s);
                for (const QString &part : text.split(u"&rarr;"_s)) {
                    const QString name = part.trimmed();
                    QTest::addRow("%s: %s", qPrintable(page), qPrintable(name)) << page << name;
                }
            }
        }
    }
    void namesInBoldAreCaptionsOfTheProgram()
    {
        QFETCH(QString, page);
        QFETCH(QString, name);
        QVERIFY2(m_program.contains(QString(name).remove(u'&')),
                 qPrintable(page + u" names \""_s + name + u"\", which the program does not show"_s));
    }
};

QTEST_GUILESS_MAIN(TestHelpPages)
#include "tst_helppages.moc"
