// Hostile input met where a user meets it, through the quorvale program: malformed and huge client
// files, a settings file edited by hand into garbage, and folders that cannot be written. Each must
// end in a clear message or a predictable result: no crash, nothing sent by mistake, no setting lost.

#include "support/smtpfixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace quorvale;
using quorvale::test::SmtpServer;

namespace {

struct Result
{
    int exitCode = -1; ///< -1 when the program crashed or hung
    QString out;
    QString err;
};

QByteArray repeated(const QByteArray &piece, int times)
{
    QByteArray bytes;
    bytes.reserve(piece.size() * times);
    for (int i = 0; i < times; ++i)
        bytes += piece;
    return bytes;
}

} // namespace

class TestHostile : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_home;
    QStringList m_env; ///< NAME=value entries on top of the test's own environment

    QString path(const QString &name) const { return m_home->filePath(name); }

    bool writeFile(const QString &name, const QByteArray &content)
    {
        QDir().mkpath(QFileInfo(path(name)).path());
        QFile file(path(name));
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    }

    Result quorvale(const QStringList &args, const QByteArray &input = QByteArray())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_CONFIG_HOME"_qs, path(u"config"_qs));
        env.insert(u"XDG_DATA_HOME"_qs, path(u"data"_qs));
        env.insert(u"QUORVALE_PRINT_COMMAND"_qs, u"/bin/true"_qs);
        for (const QString &entry : std::as_const(m_env))
            env.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(qEnvironmentVariable("QUORVALE_BINARY"), args);
        process.write(input);
        process.closeWriteChannel();
        Result result;
        if (!process.waitForFinished(240000)) {
            process.kill();
            process.waitForFinished();
            return result;
        }
        if (process.exitStatus() == QProcess::NormalExit)
            result.exitCode = process.exitCode();
        result.out = QString::fromUtf8(process.readAllStandardOutput());
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    /// Points the saved settings at `server` (or at a port where nothing listens), as a user would.
    void configure(const SmtpServer *server)
    {
        AppSettings s;
        if (server) {
            m_env = server->environment();
            s = server->settings();
        } else {
            s.SMTPServer = u"127.0.0.1"_qs;
            s.SSLport = u"1"_qs;
            s.AuthType = 0;
            s.UserName = u"user"_qs;
            s.Password = u"secret"_qs;
            s.EmailFrom = u"sender@example.com"_qs;
        }
        const QList<QStringList> sets = {{u"SMPTServer"_qs, s.SMTPServer},
                                         {u"SSLport"_qs, s.SSLport},
                                         {u"AuthType"_qs, QString::number(s.AuthType)},
                                         {u"UserName"_qs, s.UserName},
                                         {u"EmailFrom"_qs, s.EmailFrom}};
        for (const QStringList &set : sets)
            QCOMPARE(quorvale(QStringList{u"config"_qs, u"set"_qs} + set).exitCode, 0);
        QCOMPARE(quorvale({u"config"_qs, u"set"_qs, u"PW"_qs, u"-"_qs}, s.Password.toUtf8()).exitCode, 0);
    }

    QStringList runArgs(const QString &csv) const
    {
        return {u"run"_qs,       u"--csv"_qs, path(csv),    u"--mode"_qs,     u"none"_qs,
                u"--subject"_qs, u"Hello"_qs, u"--body"_qs, u"Dear client"_qs};
    }

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        m_env.clear();
    }

    // The run reads the file, tells what it found and asks before sending; the answer is no, so
    // only the reading is under test (and nothing is ever sent).
    void malformedClientFiles_data()
    {
        QTest::addColumn<QByteArray>("csv");
        static const char withNul[] = "1\0x,a@example.org\r\n\0,\0\r\n";
        QTest::addColumn<QString>("expected"); // on standard output, or on standard error for a refused file
        QTest::newRow("empty") << QByteArray() << u"Clients found - 0\n"_qs;
        QTest::newRow("byte-order mark only") << QByteArray("\xEF\xBB\xBF") << u"Clients found - 0\n"_qs;
        QTest::newRow("NUL bytes") << QByteArray::fromRawData(withNul, sizeof withNul - 1) << u"Clients found - 2\n"_qs;
        QTest::newRow("invalid UTF-8") << QByteArray("M\xFCller,a@example.org\n\xC3\x28,b@example.org\n")
                                       << u"Clients found - 2\n"_qs;
        QTest::newRow("mixed line ends") << QByteArray("1,a@example.org\r\n2,b@example.org\n3,c\r4,d\r\n")
                                         << u"Clients found - 3\n"_qs;
        QTest::newRow("unterminated quote") << QByteArray("1,\"a@example.org\r\n\"2,b@example.org")
                                            << u"There was a problem reading the CSV file at line 2."_qs;
        QTest::newRow("duplicate identifiers")
            << QByteArray("7,a@example.org\r\n7,a@example.org\r\n7,\r\n") << u"Clients found - 3\n"_qs;
        QTest::newRow("1 MiB line") << QByteArray("1,a@example.org\r\n") + repeated("x", 1 << 20) + ",b\r\n"
                                    << u"There was a problem reading the CSV file at line 2."_qs;
        QTest::newRow("1,000,000 rows") << repeated("123456,client@example.org\r\n", 1'000'000)
                                        << u"Clients found - 1000000\n"_qs;
    }
    void malformedClientFiles()
    {
        QFETCH(QByteArray, csv);
        QFETCH(QString, expected);
        configure(nullptr);
        QVERIFY(writeFile(u"list.csv"_qs, csv));
        const Result r = quorvale(runArgs(u"list.csv"_qs), "n\n");
        QCOMPARE(r.exitCode, 2); // not started
        QVERIFY2(QString(r.out + r.err).contains(expected), qPrintable(r.out + r.err));
        QVERIFY(!r.out.contains(u"Start processing"_qs));
    }

    // A lone LF inside a line of a CR LF file stays in the line, so an address field can carry a
    // line break (and with it an SMTP command). That client must fail on its own; the command
    // must never reach the server, and the other clients are still sent.
    void lineBreakInAnAddressNeverReachesTheServer()
    {
        SmtpServer server;
        QVERIFY(server.isRunning());
        configure(&server);
        QVERIFY(writeFile(u"list.csv"_qs, "1,a@example.org\r\n2,b@example.org\nRCPT TO:<evil@example.org>\r\n"
                                          "3,c@example.org> RCPT TO:<evil@example.org\r\n4,d@example.org\r\n"));
        const Result r = quorvale(runArgs(u"list.csv"_qs) << u"--yes"_qs);
        QVERIFY2(r.exitCode != -1 && r.exitCode != 0, qPrintable(r.err));
        QStringList recipients;
        for (const test::ReceivedMessage &m : server.messages())
            recipients += m.rcptTo;
        QVERIFY2(recipients == QStringList({u"a@example.org"_qs, u"d@example.org"_qs}), qPrintable(r.out + r.err));
        QCOMPARE(server.commands().count(u"RCPT"_qs), 2);
    }

    // Garbage in every value of a hand-edited settings file: the program still starts, shows
    // what it could read, stops the run on the unusable port, and saving one setting changes no
    // other.
    void handEditedSettingsFileFullOfGarbage()
    {
        QVERIFY(writeFile(u"config/Quorvale/Quorvale.ini"_qs,
                          "[General]\nEmailFrom=@Invalid(\nSMPTServer=@ByteArray(\\0\\xff)\n"
                          "AuthType=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x1)\nSSLport=-1e999\nPW=\\x1\\0\\xffz\n"
                          "SubjectLine=@Rect(1 2 3)\nCSVpath=\\\\\\\\\nEnableSchedule=nan\n"
                          "DelayBetweenSends=99999999999999999999\nGroupDelay=-5\nGroupSize=0x10\n"
                          "UserName=\\q\\x\\\n[Other]\nkey\n=\n\xFF\xFE garbage\n"));
        QVERIFY(writeFile(u"list.csv"_qs, "1,a@example.org\r\n"));
        const Result run = quorvale(runArgs(u"list.csv"_qs) << u"--yes"_qs);
        QVERIFY2(run.exitCode > 0, qPrintable(run.out + run.err));
        QVERIFY2(run.out.contains(u"The SMTP port \"-1e999\" is not a number from 1 to 65535."_qs),
                 qPrintable(run.out + run.err));

        // The run saved its subject and file; every other value is as it was read.
        const Result before = quorvale({u"config"_qs, u"show"_qs});
        QCOMPARE(before.exitCode, 0);
        QVERIFY(before.out.contains(u"GroupSize=100\n"_qs)); // defaults where the value makes no sense
        QVERIFY(before.out.contains(u"DelayBetweenSends=1\n"_qs));

        QCOMPARE(quorvale({u"config"_qs, u"set"_qs, u"GroupSize"_qs, u"3"_qs}).exitCode, 0);
        const Result after = quorvale({u"config"_qs, u"show"_qs});
        QCOMPARE(after.out, QString(before.out).replace(u"GroupSize=100\n"_qs, u"GroupSize=3\n"_qs));

        // A value whose quote is never closed swallows the lines after it: saving is refused and
        // the file left as the user wrote it.
        const QByteArray unclosed = "SubjectLine=\"Quarterly\nUserName=me\nGroupSize=12\n";
        QVERIFY(writeFile(u"config/Quorvale/Quorvale.ini"_qs, unclosed));
        const Result refused = quorvale({u"config"_qs, u"set"_qs, u"GroupSize"_qs, u"3"_qs});
        QVERIFY2(refused.exitCode > 0 && refused.err.contains(u"nothing was saved"_qs), qPrintable(refused.err));
        QFile file(path(u"config/Quorvale/Quorvale.ini"_qs));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), unclosed);
    }

    // A file where the data folder or the settings folder should be: the run stops before sending
    // anything and says why; a setting that cannot be saved is reported, not silently dropped.
    void foldersThatCannotBeWritten()
    {
        SmtpServer server;
        QVERIFY(server.isRunning());
        configure(&server);
        QVERIFY(writeFile(u"list.csv"_qs, "1,a@example.org\r\n"));
        QVERIFY(writeFile(u"blocked"_qs, "a file, not a folder"));

        m_env << u"XDG_DATA_HOME="_qs + path(u"blocked"_qs);
        const Result run = quorvale(runArgs(u"list.csv"_qs) << u"--yes"_qs);
        QVERIFY2(run.exitCode > 0, qPrintable(run.err));
        QVERIFY2(QString(run.out + run.err).contains(u"blocked"_qs), qPrintable(run.out + run.err));
        QVERIFY(server.messages().isEmpty());

        m_env << u"XDG_CONFIG_HOME="_qs + path(u"blocked"_qs);
        const Result set = quorvale({u"config"_qs, u"set"_qs, u"GroupSize"_qs, u"3"_qs});
        QVERIFY2(set.exitCode > 0, qPrintable(set.err));
        QVERIFY2(set.err.contains(u"GroupSize could not be saved"_qs), qPrintable(set.err));
    }
};

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
