// Hostile input met where a user meets it, through the quorvale program: malformed and huge client
// files, a settings file edited by hand into garbage, and folders that cannot be written. Each must
// end in a clear message or a predictable result: no crash, nothing sent by mistake, no setting lost.

#include "support/smtpfixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace Qt::StringLiterals;

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
        env.insert(u"XDG_CONFIG_HOME"_s, path(u"config"_s));
        env.insert(u"XDG_DATA_HOME"_s, path(u"data"_s));
        env.insert(u"QUORVALE_PRINT_COMMAND"_s, u"/bin/true"_s);
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
            s.SMTPServer = u"127.0.0.1"_s;
            s.SSLport = u"1"_s;
            s.AuthType = 0;
            s.UserName = u"user"_s;
            s.Password = u"secret"_s;
            s.EmailFrom = u"sender@example.com"_s;
        }
        const QList<QStringList> sets = {{u"SMPTServer"_s, s.SMTPServer},
                                         {u"SSLport"_s, s.SSLport},
                                         {u"AuthType"_s, QString::number(s.AuthType)},
                                         {u"UserName"_s, s.UserName},
                                         {u"EmailFrom"_s, s.EmailFrom}};
        for (const QStringList &set : sets)
            QCOMPARE(quorvale(QStringList{u"config"_s, u"set"_s} + set).exitCode, 0);
        QCOMPARE(quorvale({u"config"_s, u"set"_s, u"PW"_s, u"-"_s}, s.Password.toUtf8()).exitCode, 0);
    }

    QStringList runArgs(const QString &csv) const
    {
        return {u"run"_s,       u"--csv"_s, path(csv),   u"--mode"_s,     u"none"_s,
                u"--subject"_s, u"Hello"_s, u"--body"_s, u"Dear client"_s};
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
        QTest::newRow("empty") << QByteArray() << u"Clients found - 0\n"_s;
        QTest::newRow("byte-order mark only") << QByteArray("\xEF\xBB\xBF") << u"Clients found - 0\n"_s;
        QTest::newRow("NUL bytes") << QByteArray::fromRawData(withNul, sizeof withNul - 1) << u"Clients found - 2\n"_s;
        QTest::newRow("invalid UTF-8") << QByteArray("M\xFCller,a@example.org\n\xC3\x28,b@example.org\n")
                                       << u"Clients found - 2\n"_s;
        QTest::newRow("mixed line ends") << QByteArray("1,a@example.org\r\n2,b@example.org\n3,c\r4,d\r\n")
                                         << u"Clients found - 4\n"_s;
        QTest::newRow("unterminated quote") << QByteArray("1,\"a@example.org\r\n\"2,b@example.org")
                                            << u"There was a problem reading the CSV file at line 2."_s;
        QTest::newRow("duplicate identifiers")
            << QByteArray("7,a@example.org\r\n7,a@example.org\r\n7,\r\n") << u"Clients found - 3\n"_s;
        QTest::newRow("1 MiB line") << QByteArray("1,a@example.org\r\n") + repeated("x", 1 << 20) + ",b\r\n"
                                    << u"There was a problem reading the CSV file at line 2."_s;
        QTest::newRow("1,000,000 rows") << repeated("123456,client@example.org\r\n", 1'000'000)
                                        << u"Clients found - 1000000\n"_s;
    }
    void malformedClientFiles()
    {
        QFETCH(QByteArray, csv);
        QFETCH(QString, expected);
        configure(nullptr);
        QVERIFY(writeFile(u"list.csv"_s, csv));
        const Result r = quorvale(runArgs(u"list.csv"_s), "n\n");
        QCOMPARE(r.exitCode, 2); // not started
        QVERIFY2(QString(r.out + r.err).contains(expected), qPrintable(r.out + r.err));
        QVERIFY(!r.out.contains(u"Start processing"_s));
    }

    // A lone LF ends a line even in a CR LF file, so no field carries a line break (and with it an
    // SMTP command): the smuggled command is a line of its own, which no client list holds, and
    // nothing is sent. A command inside one address fails that client alone; the command never
    // reaches the server, and the other clients are still sent.
    void lineBreakInAnAddressNeverReachesTheServer()
    {
        SmtpServer server;
        QVERIFY(server.isRunning());
        configure(&server);
        QVERIFY(writeFile(u"list.csv"_s, "1,a@example.org\r\n2,b@example.org\nRCPT TO:<evil@example.org>\r\n"));
        const Result refused = quorvale(runArgs(u"list.csv"_s) << u"--yes"_s);
        QCOMPARE(refused.exitCode, 2);
        QVERIFY2(refused.err.contains(u"at line 3"_s), qPrintable(refused.err));
        QVERIFY(server.commands().filter(u"RCPT"_s).isEmpty());

        QVERIFY(writeFile(u"list.csv"_s,
                          "1,a@example.org\r\n3,c@example.org> RCPT TO:<evil@example.org\r\n4,d@example.org\r\n"));
        const Result r = quorvale(runArgs(u"list.csv"_s) << u"--yes"_s);
        QVERIFY2(r.exitCode != -1 && r.exitCode != 0, qPrintable(r.err));
        QStringList recipients;
        for (const test::ReceivedMessage &m : server.messages())
            recipients += m.rcptTo;
        QVERIFY2(recipients == QStringList({u"a@example.org"_s, u"d@example.org"_s}), qPrintable(r.out + r.err));
        QCOMPARE(server.commands().count(u"RCPT"_s), 2);
    }

    // Garbage in every value of a hand-edited settings file: the program still starts, shows
    // what it could read, stops the run on the unusable port, and saving one setting changes no
    // other.
    void handEditedSettingsFileFullOfGarbage()
    {
        QVERIFY(writeFile(u"config/Quorvale/Quorvale.ini"_s,
                          "[General]\nEmailFrom=@Invalid(\nSMPTServer=@ByteArray(\\0\\xff)\n"
                          "AuthType=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x1)\nSSLport=-1e999\nPW=\\x1\\0\\xffz\n"
                          "SubjectLine=@Rect(1 2 3)\nCSVpath=\\\\\\\\\nEnableSchedule=nan\n"
                          "DelayBetweenSends=99999999999999999999\nGroupDelay=-5\nGroupSize=0x10\n"
                          "UserName=\\q\\x\\\n[Other]\nkey\n=\n\xFF\xFE garbage\n"));
        QVERIFY(writeFile(u"list.csv"_s, "1,a@example.org\r\n"));
        const Result run = quorvale(runArgs(u"list.csv"_s) << u"--yes"_s);
        QVERIFY2(run.exitCode > 0, qPrintable(run.out + run.err));
        QVERIFY2(run.out.contains(u"The SMTP port \"-1e999\" is not a number from 1 to 65535."_s),
                 qPrintable(run.out + run.err));

        // The run saved its subject and file; every other value is as it was read.
        const Result before = quorvale({u"config"_s, u"show"_s});
        QCOMPARE(before.exitCode, 0);
        QVERIFY(before.out.contains(u"GroupSize=100\n"_s)); // defaults where the value makes no sense
        QVERIFY(before.out.contains(u"DelayBetweenSends=1\n"_s));

        QCOMPARE(quorvale({u"config"_s, u"set"_s, u"GroupSize"_s, u"3"_s}).exitCode, 0);
        const Result after = quorvale({u"config"_s, u"show"_s});
        QCOMPARE(after.out, QString(before.out).replace(u"GroupSize=100\n"_s, u"GroupSize=3\n"_s));

        // A value whose quote is never closed swallows the lines after it: saving is refused and
        // the file left as the user wrote it.
        const QByteArray unclosed = "SubjectLine=\"Quarterly\nUserName=me\nGroupSize=12\n";
        QVERIFY(writeFile(u"config/Quorvale/Quorvale.ini"_s, unclosed));
        const Result refused = quorvale({u"config"_s, u"set"_s, u"GroupSize"_s, u"3"_s});
        QVERIFY2(refused.exitCode > 0 && refused.err.contains(u"nothing was saved"_s), qPrintable(refused.err));
        QFile file(path(u"config/Quorvale/Quorvale.ini"_s));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), unclosed);
    }

    // A client's document, or the common attachment, that is one of the program's own files under
    // another name never goes out: the client gets nothing, and the reason names the file it is. A
    // file the run writes anew (the settings, the body) is not written while it has another name,
    // where its old content would stay behind as an ordinary file.
    void programFilesAreNeverSent_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("target"); // the program's file, under the home
        QTest::addColumn<QString>("name");   // its other name in the client list's folder
        QTest::addColumn<bool>("hardLink");  // else a symbolic link
        QTest::addColumn<QString>("reason"); // what the check (client mode) and the run say
        QTest::addColumn<int>("exitCode");
        const QString settings = u"config/Quorvale/Quorvale.ini"_s;
        QTest::newRow("hard link to the settings as a document")
            << "client" << settings << "Invoice_1.pdf" << true << "the settings file" << 2;
        QTest::newRow("hard link to the client list as a document")
            << "client" << "docs/list.csv" << "Invoice_1.pdf" << true << "the client list" << 1;
        QTest::newRow("hard link to the body file as a document")
            << "client" << "data/Quorvale/Body.txt" << "Invoice_1.pdf" << true << "the body file" << 2;
        QTest::newRow("hard link to a run journal as a document")
            << "client" << "data/Quorvale/runs/run-old.csv" << "Invoice_1.pdf" << true << "a run journal" << 1;
        QTest::newRow("hard link to the settings as the common attachment")
            << "common" << settings << "flyer.pdf" << true << "the settings file" << 2;
        QTest::newRow("link to the sign-in's token file as the common attachment")
            << "common" << "config/Quorvale/oauth-refresh-token" << "flyer.pdf" << false << "token file" << 2;
    }
    void programFilesAreNeverSent()
    {
        QFETCH(QString, mode);
        QFETCH(QString, target);
        QFETCH(QString, name);
        QFETCH(bool, hardLink);
        QFETCH(QString, reason);
        QFETCH(int, exitCode);
        SmtpServer server;
        QVERIFY(server.isRunning());
        configure(&server);
        QVERIFY(writeFile(u"docs/list.csv"_s, "1,a@example.org\r\n2,b@example.org\r\n"));
        QVERIFY(writeFile(u"docs/Invoice_2.pdf"_s, "client two's invoice"));
        QVERIFY(writeFile(u"data/Quorvale/Body.txt"_s, "Dear client"));
        QVERIFY(writeFile(u"data/Quorvale/runs/run-old.csv"_s, "an old journal"));
        QVERIFY(writeFile(u"config/Quorvale/oauth-refresh-token"_s, "refresh-secret"));
        const QByteArray from = QFile::encodeName(path(target));
        const QByteArray to = QFile::encodeName(path(u"docs/"_s + name));
        QCOMPARE(hardLink ? ::link(from.constData(), to.constData()) : ::symlink(from.constData(), to.constData()), 0);
        QFile own(path(target));
        QVERIFY(own.open(QIODevice::ReadOnly));
        const QByteArray secret = own.readAll().left(12);

        QStringList args = runArgs(u"docs/list.csv"_s);
        args[args.indexOf(u"none"_s)] = mode;
        if (mode == u"common"_s) {
            args << u"--attachment"_s << path(u"docs/"_s + name);
        } else {
            // The check says it before any run.
            const Result check =
                quorvale({u"check"_s, u"--csv"_s, path(u"docs/list.csv"_s), u"--mode"_s, u"client"_s});
            QVERIFY2(check.out.contains(u"Not a document: Invoice_1.pdf (the same file as "_s + reason),
                     qPrintable(check.out));
            // And the preview, which would otherwise send it to any address.
            const Result preview = quorvale({u"preview"_s, u"--csv"_s, path(u"docs/list.csv"_s), u"--mode"_s,
                                             u"client"_s, u"--client"_s, u"1"_s, u"--send-to"_s, u"me@example.org"_s});
            QCOMPARE(preview.exitCode, 2);
            QVERIFY2(preview.err.contains(u"Invoice_1.pdf is no document: the same file as "_s + reason),
                     qPrintable(preview.err));
            QVERIFY(server.messages().isEmpty());
        }
        const Result r = quorvale(args << u"--yes"_s);
        QCOMPARE(r.exitCode, exitCode);
        for (const test::ReceivedMessage &m : server.messages()) {
            for (const test::ReceivedAttachment &a : m.attachments)
                QVERIFY2(!a.data.contains(secret), a.data.constData());
        }
        if (exitCode == 1) {
            // Client 2 still gets its own invoice; client 1 gets nothing, and is told why.
            QCOMPARE(server.messages().size(), 1);
            QCOMPARE(server.messages().first().rcptTo, QStringList{u"b@example.org"_s});
            QVERIFY2(r.err.contains(u"Invoice_1.pdf is no document: the same file as "_s + reason), qPrintable(r.err));
        } else {
            QVERIFY(server.messages().isEmpty());
            const QString said = r.out + r.err;
            QVERIFY2(said.contains(mode == u"common"_s ? reason : u"other names (hard links)"_s), qPrintable(said));
        }
    }

    // The check's table is never saved over the client list or a file of the program's own, under
    // any name, and over another file only when --force says so; nothing is ever asked.
    void checkIsNeverSavedOverWhatItShouldNot_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("force");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message"); // on standard error
        QTest::newRow("the client list") << "docs/list.csv" << true << 2 << "the client list";
        QTest::newRow("the settings file") << "config/Quorvale/Quorvale.ini" << true << 2 << "the settings file";
        QTest::newRow("a hard link to the settings") << "docs/settings-link.csv" << true << 2 << "the settings file";
        QTest::newRow("a run journal") << "data/Quorvale/runs/old.csv" << true << 2 << "a run journal";
        QTest::newRow("another file that exists") << "docs/report.csv" << false << 2 << "give --force to replace it";
        QTest::newRow("another file, with --force") << "docs/report.csv" << true << 0 << "";
        QTest::newRow("a new file") << "docs/new.csv" << false << 0 << "";
    }
    void checkIsNeverSavedOverWhatItShouldNot()
    {
        QFETCH(QString, target);
        QFETCH(bool, force);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        configure(nullptr);
        const QByteArray list = "1,a@example.org\r\n";
        QVERIFY(writeFile(u"docs/list.csv"_s, list));
        QVERIFY(writeFile(u"docs/report.csv"_s, "last month's report"));
        QVERIFY(writeFile(u"data/Quorvale/runs/old.csv"_s, "a journal"));
        QCOMPARE(::link(QFile::encodeName(path(u"config/Quorvale/Quorvale.ini"_s)).constData(),
                        QFile::encodeName(path(u"docs/settings-link.csv"_s)).constData()),
                 0);
        QFile before(path(target));
        const QByteArray content = before.open(QIODevice::ReadOnly) ? before.readAll() : QByteArray();
        QStringList args{u"check"_s, u"--csv"_s, path(u"docs/list.csv"_s), u"--save"_s, path(target)};
        if (force)
            args << u"--force"_s;
        // Standard input stays open: an answer waited for would hang the test.
        const Result r = quorvale(args, "y\ny\n");
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QFile after(path(target));
        QVERIFY(after.open(QIODevice::ReadOnly));
        const QByteArray now = after.readAll();
        if (exitCode == 2)
            QCOMPARE(now, content);
        else
            QVERIFY(now.contains("\"Client ID\""));
        QFile listNow(path(u"docs/list.csv"_s));
        QVERIFY(listNow.open(QIODevice::ReadOnly));
        QCOMPARE(listNow.readAll(), list);
    }

    // A file where the data folder or the settings folder should be: the run stops before sending
    // anything and says why; a setting that cannot be saved is reported, not silently dropped.
    void foldersThatCannotBeWritten()
    {
        SmtpServer server;
        QVERIFY(server.isRunning());
        configure(&server);
        QVERIFY(writeFile(u"list.csv"_s, "1,a@example.org\r\n"));
        QVERIFY(writeFile(u"blocked"_s, "a file, not a folder"));

        m_env << u"XDG_DATA_HOME="_s + path(u"blocked"_s);
        const Result run = quorvale(runArgs(u"list.csv"_s) << u"--yes"_s);
        QVERIFY2(run.exitCode > 0, qPrintable(run.err));
        QVERIFY2(QString(run.out + run.err).contains(u"blocked"_s), qPrintable(run.out + run.err));
        QVERIFY(server.messages().isEmpty());

        m_env << u"XDG_CONFIG_HOME="_s + path(u"blocked"_s);
        const Result set = quorvale({u"config"_s, u"set"_s, u"GroupSize"_s, u"3"_s});
        QVERIFY2(set.exitCode > 0, qPrintable(set.err));
        QVERIFY2(set.err.contains(u"GroupSize could not be saved"_s), qPrintable(set.err));
    }
};

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
