// Everything the command line accepts is explained in `quorvale --help` and in the manual page
// built from it, and every environment variable the program reads is in the manual's
// ENVIRONMENT section. What the program accepts is read from its source, so that a new command,
// option or variable fails this test until it is documented:
//   - commands and options: every string literal under src/cli that is an option ("--csv", "-y")
//     or a word the arguments are compared with ("run", "show", "client");
//   - settings: every name `quorvale config show` prints;
//   - environment variables: every string literal under src/ written like one ("XDG_DATA_HOME").

#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace {

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

/// The contents of the ordinary string literals of C++ sources; raw strings (the --help text
/// itself) and character literals are left out.
QStringList stringLiterals(const QString &folder)
{
    static const QRegularExpression raw(uR"re(R"([^(\s]*)\(.*?\)\1")re"_qs,
                                        QRegularExpression::DotMatchesEverythingOption);
    // Written without a raw string: moc cannot read this one as a raw string.
    static const QRegularExpression literal(u"'(?:[^'\\\\\\n]|\\\\.)*'|\"((?:[^\"\\\\\\n]|\\\\.)*)\""_qs);
    QStringList found;
    QDirIterator files(folder, {u"*.cpp"_qs, u"*.h"_qs}, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString source = readText(files.next()).remove(raw);
        for (auto it = literal.globalMatch(source); it.hasNext();) {
            const QRegularExpressionMatch match = it.next();
            if (match.capturedStart(1) >= 0)
                found.append(match.captured(1));
        }
    }
    found.removeDuplicates();
    found.sort();
    return found;
}

QStringList matching(const QStringList &literals, const QString &pattern)
{
    return literals.filter(QRegularExpression(u"^(?:"_qs + pattern + u")$"_qs));
}

/// The manual page as a reader sees its words: roff's font changes and escapes removed.
QString plainRoff(QString roff)
{
    static const QRegularExpression font(uR"(\\f[BIRP])"_qs);
    return roff.remove(font).replace(u"\\-"_qs, u"-"_qs).remove(u"\\&"_qs).replace(u"\\e"_qs, u"\\"_qs);
}

/// `token` as a word of its own: "-h" is not found inside "--help", nor "run" inside "running".
bool mentions(const QString &text, const QString &token)
{
    return text.contains(QRegularExpression(uR"((?<![\w-]))"_qs + QRegularExpression::escape(token) +
                                            uR"((?![\w-]))"_qs));
}

QString sourceDir() { return qEnvironmentVariable("QUORVALE_TEST_SOURCE_DIR"); }

/// What the program writes to standard output; it must succeed.
QString quorvale(const QStringList &args)
{
    QProcess program;
    program.start(qEnvironmentVariable("QUORVALE_BINARY"), args);
    if (!program.waitForFinished() || program.exitStatus() != QProcess::NormalExit || program.exitCode() != 0)
        qFatal("quorvale %s failed", qPrintable(args.join(u' ')));
    return QString::fromUtf8(program.readAllStandardOutput());
}

QStringList commandLineWords()
{
    return matching(stringLiterals(sourceDir() + u"/src/cli"_qs), uR"(-{1,2}[a-z][a-z0-9-]*|[a-z][a-z0-9-]*)"_qs);
}

QStringList environmentVariables()
{
    return matching(stringLiterals(sourceDir() + u"/src"_qs), uR"([A-Z][A-Z0-9]*(_[A-Z0-9]+)+)"_qs);
}

} // namespace

class TestCommandDocs : public QObject
{
    Q_OBJECT

    QString m_help;
    QString m_manual;

    QString manualSection(const QString &name) const
    {
        const qsizetype start = m_manual.indexOf(u"\n.SH "_qs + name + u'\n');
        if (start < 0)
            return {};
        return m_manual.mid(start, m_manual.indexOf(u"\n.SH "_qs, start + 1) - start);
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_help = quorvale({u"--help"_qs});
        m_manual = plainRoff(readText(qEnvironmentVariable("QUORVALE_MANPAGE")));
        QVERIFY2(!m_manual.isEmpty(), "the manual page has not been built");
    }

    // Guards the source reading above: when the command line is written another way, the lists
    // would silently become empty and every check below would pass.
    void sourceReadingFindsTheKnownCommandLine()
    {
        const QStringList words = commandLineWords();
        for (const QString &known : {u"run"_qs, u"check"_qs, u"test-email"_qs, u"config"_qs, u"show"_qs, u"--csv"_qs,
                                     u"--yes"_qs, u"-y"_qs, u"--help"_qs, u"--version"_qs})
            QVERIFY2(words.contains(known), qPrintable(known + u" is no longer found in src/cli"_qs));
        const QStringList variables = environmentVariables();
        for (const QString &known : {u"XDG_CONFIG_HOME"_qs, u"XDG_DATA_HOME"_qs, u"QUORVALE_PRINT_COMMAND"_qs})
            QVERIFY2(variables.contains(known), qPrintable(known + u" is no longer found in src"_qs));
    }

    void everyCommandAndOptionIsDocumented_data()
    {
        QTest::addColumn<QString>("word");
        for (const QString &word : commandLineWords())
            QTest::newRow(qPrintable(word)) << word;
    }
    void everyCommandAndOptionIsDocumented()
    {
        QFETCH(QString, word);
        QVERIFY2(mentions(m_help, word), qPrintable(word + u" is accepted but not explained by --help"_qs));
        QVERIFY2(mentions(m_manual, word), qPrintable(word + u" is accepted but missing from the manual page"_qs));
    }

    void everySettingIsDocumented()
    {
        const QStringList lines = quorvale({u"config"_qs, u"show"_qs}).split(u'\n', Qt::SkipEmptyParts);
        QVERIFY(lines.size() >= 12);
        for (const QString &line : lines) {
            const QString name = line.section(u'=', 0, 0);
            QVERIFY2(mentions(m_help, name), qPrintable(u"setting "_qs + name + u" is not named by --help"_qs));
            QVERIFY2(mentions(m_manual, name), qPrintable(u"setting "_qs + name + u" is not in the manual page"_qs));
        }
    }

    void everyEnvironmentVariableIsDocumented_data()
    {
        QTest::addColumn<QString>("variable");
        for (const QString &variable : environmentVariables())
            QTest::newRow(qPrintable(variable)) << variable;
    }
    void everyEnvironmentVariableIsDocumented()
    {
        QFETCH(QString, variable);
        QVERIFY2(mentions(manualSection(u"ENVIRONMENT"_qs), variable),
                 qPrintable(variable + u" is read but missing from the manual's ENVIRONMENT section"_qs));
    }

    void manualHasItsSectionsAndNamesTheInstalledHelp()
    {
        for (const QString &section : {u"NAME"_qs, u"SYNOPSIS"_qs, u"DESCRIPTION"_qs, u"COMMANDS"_qs, u"EXIT STATUS"_qs,
                                       u"ENVIRONMENT"_qs, u"FILES"_qs})
            QVERIFY2(!manualSection(section).isEmpty(), qPrintable(u"no section "_qs + section));
        // --help ends with the help folder; the manual names where the package puts it, never
        // the build machine's folder.
        QVERIFY(m_help.trimmed().section(u'\n', -1).startsWith(u"The help pages are in "_qs + sourceDir()));
        QVERIFY(!m_manual.contains(sourceDir()));
        QVERIFY(m_manual.contains(u"The help pages are in /"_qs));
        QVERIFY(manualSection(u"FILES"_qs).contains(u"/share/quorvale/help/"_qs));
    }

    void manualFormatsWithoutWarnings()
    {
        QProcess man;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"MANWIDTH"_qs, u"80"_qs);
        env.insert(u"LC_ALL"_qs, u"C.UTF-8"_qs);
        man.setProcessEnvironment(env);
        man.start(u"man"_qs, {u"--warnings"_qs, u"-E"_qs, u"UTF-8"_qs, u"-l"_qs, u"-Tutf8"_qs, u"-Z"_qs,
                              qEnvironmentVariable("QUORVALE_MANPAGE")});
        QVERIFY2(man.waitForFinished(), "man (package man-db) could not be run");
        QCOMPARE(man.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(man.readAllStandardError()), QString());
    }
};

QTEST_GUILESS_MAIN(TestCommandDocs)
#include "tst_commanddocs.moc"
