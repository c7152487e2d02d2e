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
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

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
    static const QRegularExpression raw(uR"re(R"([^(\s]*)\(.*?\)\1")re"_s,
                                        QRegularExpression::DotMatchesEverythingOption);
    // Written without a raw string: moc cannot read this one as a raw string.
    static const QRegularExpression literal(u"'(?:[^'\\\\\\n]|\\\\.)*'|\"((?:[^\"\\\\\\n]|\\\\.)*)\""_s);
    QStringList found;
    QDirIterator files(folder, {u"*.cpp"_s, u"*.h"_s}, QDir::Files, QDirIterator::Subdirectories);
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
    return literals.filter(QRegularExpression(u"^(?:"_s + pattern + u")$"_s));
}

/// The manual page as a reader sees its words: roff's font changes and escapes removed.
QString plainRoff(QString roff)
{
    static const QRegularExpression font(uR"(\\f[BIRP])"_s);
    return roff.remove(font).replace(u"\\-"_s, u"-"_s).remove(u"\\&"_s).replace(u"\\e"_s, u"\\"_s);
}

/// `token` as a word of its own: "-h" is not found inside "--help", nor "run" inside "running".
bool mentions(const QString &text, const QString &token)
{
    return text.contains(QRegularExpression(uR"((?<![\w-]))"_s + QRegularExpression::escape(token) +
                                            uR"((?![\w-]))"_s));
}

QString sourceDir() { return qEnvironmentVariable("QUORVALE_TEST_SOURCE_DIR"); }

/// What the program writes to standard output; it must succeed.
QString quorvale(const QStringList &args, const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(qEnvironmentVariable("QUORVALE_BINARY"), args);
    if (!program.waitForFinished() || program.exitStatus() != QProcess::NormalExit || program.exitCode() != 0)
        qFatal("quorvale %s failed", qPrintable(args.join(u' ')));
    return QString::fromUtf8(program.readAllStandardOutput());
}

QStringList commandLineWords()
{
    return matching(stringLiterals(sourceDir() + u"/src/cli"_s), uR"(-{1,2}[a-z][a-z0-9-]*|[a-z][a-z0-9-]*)"_s);
}

QStringList environmentVariables()
{
    return matching(stringLiterals(sourceDir() + u"/src"_s), uR"([A-Z][A-Z0-9]*(_[A-Z0-9]+)+)"_s);
}

} // namespace

class TestCommandDocs : public QObject
{
    Q_OBJECT

    QString m_help;
    QString m_manual;

    QString manualSection(const QString &name) const
    {
        const qsizetype start = m_manual.indexOf(u"\n.SH "_s + name + u'\n');
        if (start < 0)
            return {};
        return m_manual.mid(start, m_manual.indexOf(u"\n.SH "_s, start + 1) - start);
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_help = quorvale({u"--help"_s});
        m_manual = plainRoff(readText(qEnvironmentVariable("QUORVALE_MANPAGE")));
        QVERIFY2(!m_manual.isEmpty(), "the manual page has not been built");
    }

    // Guards the source reading above: when the command line is written another way, the lists
    // would silently become empty and every check below would pass.
    void sourceReadingFindsTheKnownCommandLine()
    {
        const QStringList words = commandLineWords();
        for (const QString &known : {u"run"_s, u"check"_s, u"test-email"_s, u"config"_s, u"show"_s, u"--csv"_s,
                                     u"--yes"_s, u"-y"_s, u"--help"_s, u"--version"_s})
            QVERIFY2(words.contains(known), qPrintable(known + u" is no longer found in src/cli"_s));
        const QStringList variables = environmentVariables();
        for (const QString &known : {u"XDG_CONFIG_HOME"_s, u"XDG_DATA_HOME"_s, u"QUORVALE_PRINT_COMMAND"_s})
            QVERIFY2(variables.contains(known), qPrintable(known + u" is no longer found in src"_s));
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
        QVERIFY2(mentions(m_help, word), qPrintable(word + u" is accepted but not explained by --help"_s));
        QVERIFY2(mentions(m_manual, word), qPrintable(word + u" is accepted but missing from the manual page"_s));
    }

    void everySettingIsDocumented()
    {
        const QStringList lines = quorvale({u"config"_s, u"show"_s}).split(u'\n', Qt::SkipEmptyParts);
        QVERIFY(lines.size() >= 12);
        for (const QString &line : lines) {
            const QString name = line.section(u'=', 0, 0);
            QVERIFY2(mentions(m_help, name), qPrintable(u"setting "_s + name + u" is not named by --help"_s));
            QVERIFY2(mentions(m_manual, name), qPrintable(u"setting "_s + name + u" is not in the manual page"_s));
        }
        // config's list of names says each once: a name given twice reads as two settings.
        const qsizetype from = m_help.indexOf(u"NAME is one of:"_s);
        const QString names = m_help.mid(from, m_help.indexOf(u"\n  show also says"_s, from) - from);
        QVERIFY(from >= 0 && !names.isEmpty());
        for (const QString &line : lines) {
            const QString name = line.section(u'=', 0, 0);
            // As an entry of the list: after ": ", ", ", "and " or a line's indent.
            const QRegularExpression word(uR"((?<=: |, |and |\n  ))"_s + QRegularExpression::escape(name) +
                                          uR"((?![\w-]))"_s);
            QVERIFY2(names.count(word) <= 1, qPrintable(u"config's list names "_s + name + u" twice"_s));
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
        QVERIFY2(mentions(manualSection(u"ENVIRONMENT"_s), variable),
                 qPrintable(variable + u" is read but missing from the manual's ENVIRONMENT section"_s));
    }

    void manualHasItsSectionsAndNamesTheInstalledHelp()
    {
        for (const QString &section : {u"NAME"_s, u"SYNOPSIS"_s, u"DESCRIPTION"_s, u"COMMANDS"_s, u"EXIT STATUS"_s,
                                       u"ENVIRONMENT"_s, u"FILES"_s})
            QVERIFY2(!manualSection(section).isEmpty(), qPrintable(u"no section "_s + section));
        // --help ends with the help folder; the manual names where the package puts it, never
        // the build machine's folder.
        QVERIFY(m_help.trimmed().section(u'\n', -1).startsWith(u"The help pages are in "_s + sourceDir()));
        QVERIFY(!m_manual.contains(sourceDir()));
        QVERIFY(m_manual.contains(u"The help pages are in /"_s));
        QVERIFY(manualSection(u"FILES"_s).contains(u"/share/quorvale/help/"_s));
    }

    // The folder named for the help pages is used when it holds them; the manual page, written by a
    // program that is not installed yet, names the installed folder rather than finding none.
    void helpFolderCanBeNamed()
    {
        QTemporaryDir named;
        QVERIFY(QFile(named.filePath(u"main.html"_s)).open(QIODevice::WriteOnly));
        QTemporaryDir empty;
        for (const auto &[folder, shown] : {std::pair{named.path(), named.path()}, std::pair{empty.path(), sourceDir()}}) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(u"QUORVALE_HELP_DIR"_s, folder);
            const QString last = quorvale({u"--help"_s}, env).trimmed().section(u'\n', -1);
            QVERIFY2(last.startsWith(u"The help pages are in "_s + shown), qPrintable(last));
        }
        QVERIFY(!m_manual.contains(u"No help pages"_s));
    }

    void manualFormatsWithoutWarnings()
    {
        QProcess man;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"MANWIDTH"_s, u"80"_s);
        env.insert(u"LC_ALL"_s, u"C.UTF-8"_s);
        man.setProcessEnvironment(env);
        man.start(u"man"_s, {u"--warnings"_s, u"-E"_s, u"UTF-8"_s, u"-l"_s, u"-Tutf8"_s, u"-Z"_s,
                              qEnvironmentVariable("QUORVALE_MANPAGE")});
        QVERIFY2(man.waitForFinished(), "man (package man-db) could not be run");
        QCOMPARE(man.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(man.readAllStandardError()), QString());
    }
};

QTEST_GUILESS_MAIN(TestCommandDocs)
#include "tst_commanddocs.moc"
