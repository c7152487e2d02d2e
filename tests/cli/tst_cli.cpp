// Tests of the quorvale program's command line. Where the user meets the mail server, the program
// itself runs against a real SMTP server on 127.0.0.1; the rest (options, exit statuses, resume,
// printing, settings) runs the same commands in this process over a fake mailer and a fake clock,
// with the settings file and the data folder in a temporary home.

#include "support/inprocesscli.h"
#include "support/programwait.h"
#include "support/silentlistener.h"
#include "support/smtpfixture.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>

#include <sys/resource.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

using namespace quorvale;
using quorvale::test::InProcessCli;
using quorvale::test::SilentListener;
using quorvale::test::SmtpServer;

namespace {

struct Result
{
    int exitCode = -1;
    QStringList out; ///< standard output, one entry per line
    QString err;
};

QStringList lines(const QByteArray &bytes)
{
    QStringList result = QString::fromUtf8(bytes).split(u'\n');
    if (!result.isEmpty() && result.last().isEmpty())
        result.removeLast();
    return result;
}

const QString kLoginInClear = u"quorvale: warning: the authentication type is Simple (AuthType 0): the user name "
                              "and password go to the server unencrypted.\n"_s;

QString normalized(QString text)
{
    return text.replace(u"\r\n"_s, u"\n"_s);
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_home;
    QStringList m_serverEnv;
    QStringList m_extraEnv;               ///< NAME=value entries on top of the usual ones
    std::function<void()> m_childSetup{}; ///< runs in the program's process before it starts

    std::unique_ptr<InProcessCli> m_fake; ///< for commands run in this process
    QString m_hung;                       ///< why the program was stopped in this test; empty while it never hung

    QString path(const QString &name) const { return m_home->filePath(name); }
    QString printCommand() const { return u"/bin/sh \""_s + path(u"print.sh"_s) + u"\" -P office"_s; }

    void writeFile(const QString &name, const QByteArray &content)
    {
        QDir().mkpath(QFileInfo(path(name)).path());
        QFile file(path(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    QByteArray readFile(const QString &name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    void setUp(QProcess &process) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_CONFIG_HOME"_s, path(u"config"_s));
        env.insert(u"XDG_DATA_HOME"_s, path(u"data"_s));
        env.insert(u"QUORVALE_PRINT_COMMAND"_s, printCommand());
        for (const QString &entry : m_serverEnv + m_extraEnv)
            env.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
        process.setProcessEnvironment(env);
        if (m_childSetup)
            process.setChildProcessModifier(m_childSetup);
        process.setProgram(qEnvironmentVariable("QUORVALE_BINARY"));
    }

    Result quorvale(const QStringList &args, const QByteArray &input = QByteArray())
    {
        QProcess process;
        setUp(process);
        process.setArguments(args);
        Result result;
        // Once the program hung in this test, its later calls fail at once: one wait per test.
        if (!m_hung.isEmpty()) {
            result.err = m_hung;
            return result;
        }
        process.start();
        process.write(input);
        process.closeWriteChannel();
        const test::ProgramEnd end = test::waitForProgram(process);
        result.out = lines(end.out);
        result.err = QString::fromUtf8(end.err);
        if (!end.finished) {
            m_hung = u"quorvale "_s + args.join(u' ') + u": "_s + end.why;
            result.err = m_hung + u"; it wrote:\n"_s + QString::fromUtf8(end.out) + result.err;
            return result;
        }
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        return result;
    }

    /// Runs one command in this process, over m_fake, as the program would run it.
    Result inProcess(const QStringList &args, const QByteArray &input = QByteArray())
    {
        const InProcessCli::Result r = m_fake->run(args, input);
        return {r.exitCode, r.out, r.err};
    }

    /// Saves a complete mail server setup for the fake mailer through `config set`, as a user would.
    void configureInProcess() { QVERIFY(m_fake->configure()); }

    /// Saves the server's settings through `config set`, as a user would: in this process (the same
    /// settings file), or with `byProgram` through the program itself.
    void configure(const SmtpServer &server, bool byProgram = false)
    {
        const auto command = [this, byProgram](const QStringList &args, const QByteArray &input = {}) {
            return byProgram ? quorvale(args, input) : inProcess(args, input);
        };
        m_serverEnv = server.environment();
        const AppSettings s = server.settings();
        const QList<QStringList> sets = {{u"SMPTServer"_s, s.SMTPServer},
                                         {u"SSLport"_s, s.SSLport},
                                         {u"AuthType"_s, QString::number(s.AuthType)},
                                         {u"UserName"_s, s.UserName},
                                         {u"EmailFrom"_s, s.EmailFrom}};
        for (const QStringList &set : sets)
            QCOMPARE(command(QStringList{u"config"_s, u"set"_s} + set).exitCode, 0);
        QCOMPARE(command({u"config"_s, u"set"_s, u"PW"_s, u"-"_s}, s.Password.toUtf8() + "\n").exitCode, 0);
    }

    /// The newest run journal.
    QString journalText() const
    {
        const QDir runs(path(u"data/Quorvale/runs"_s));
        const QStringList names = runs.entryList({u"run-*.csv"_s}, QDir::Files, QDir::Name);
        QFile file(runs.filePath(names.value(names.size() - 1)));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    static QByteArray thirtyClients()
    {
        QByteArray csv;
        for (int i = 1; i <= 30; ++i)
            csv += QByteArray::number(i) + ",c" + QByteArray::number(i) + "@example.org\r\n";
        return csv;
    }

    QStringList runArgs(const QString &csv) const
    {
        return {u"run"_s,
                u"--csv"_s,
                path(csv),
                u"--subject"_s,
                u"Your documents"_s,
                u"--body"_s,
                u"Dear client,\nplease find them attached."_s,
                u"--yes"_s};
    }

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        m_serverEnv.clear();
        m_extraEnv.clear();
        m_childSetup = nullptr;
        m_hung.clear();
        m_fake = std::make_unique<InProcessCli>(m_home->path(), printCommand());
        writeFile(u"print.sh"_s, "#!/bin/sh\nprintf '%s|' \"$@\" >> \"$(dirname \"$0\")/printed.txt\"\n"
                                 "echo >> \"$(dirname \"$0\")/printed.txt\"\n"
                                 "case \"$*\" in *fail*) echo 'no such printer' >&2; exit 1;; esac\n");
    }

    void sendsInEachAttachmentMode_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QStringList>("attached"); // per message, "" for none
        QTest::addColumn<QString>("lastLine");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("none") << u"none"_s << QStringList{QString(), QString()} << u"Processing Complete"_s << 0;
        QTest::newRow("common") << u"common"_s << QStringList{u"letter.pdf"_s, u"letter.pdf"_s}
                                << u"Processing Complete"_s << 0;
        // Client 7 has no document of its own ("1007.pdf" is another client's).
        QTest::newRow("client") << u"client"_s << QStringList{u"Invoice_42.pdf"_s}
                                << u"Processing Complete with 1 errors!"_s << 1;
    }
    void sendsInEachAttachmentMode()
    {
        QFETCH(QString, mode);
        QFETCH(QStringList, attached);
        QFETCH(QString, lastLine);
        QFETCH(int, exitCode);
        SmtpServer server;
        QVERIFY(server.isRunning());
        configure(server);
        writeFile(u"clients/list.csv"_s, "42,anna@example.org\r\n8,\r\n7,bert@example.org\r\n");
        writeFile(u"clients/Invoice_42.pdf"_s, "%PDF-1.4 anna's invoice");
        writeFile(u"clients/1007.pdf"_s, "%PDF-1.4 someone else's");
        writeFile(u"letter.pdf"_s, "%PDF-1.4 the common letter");
        QStringList args = runArgs(u"clients/list.csv"_s) << u"--mode"_s << mode;
        if (mode == u"common"_s)
            args << u"--attachment"_s << path(u"letter.pdf"_s);

        const Result r = quorvale(args);
        QVERIFY2(r.exitCode == exitCode, qPrintable(r.err));
        QCOMPARE(r.err.count(kLoginInClear), 1);
        QCOMPARE(r.out.mid(0, 6),
                 QStringList({u"Parsing CSV file..."_s, u"Clients found - 3"_s, u"Parsing CSV file complete"_s,
                              u"Client count - 3"_s, u"Emails to be sent - 2"_s, u"Start processing..."_s}));
        QCOMPARE(r.out.value(r.out.size() - 1), lastLine);

        const QList<test::ReceivedMessage> messages = server.messages();
        QCOMPARE(messages.size(), attached.size());
        for (int i = 0; i < messages.size(); ++i) {
            const test::ReceivedMessage &m = messages.at(i);
            QCOMPARE(m.rcptTo, QStringList{i == 0 ? u"anna@example.org"_s : u"bert@example.org"_s});
            QCOMPARE(m.subject, u"Your documents"_s);
            QCOMPARE(normalized(m.body).trimmed(), u"Dear client,\nplease find them attached."_s);
            // A message without a file is one text part, as every mail program sends it.
            const QByteArray headers = "\r\n" + m.raw.left(m.raw.indexOf("\r\n\r\n") + 2);
            if (attached.at(i).isEmpty()) {
                QVERIFY2(headers.contains("\r\nContent-Type: text/plain; charset=UTF-8\r\n"), headers.constData());
                QVERIFY(!m.raw.contains("multipart"));
                QVERIFY(m.attachments.isEmpty());
            } else {
                QVERIFY2(headers.contains("\r\nContent-Type: multipart/mixed"), headers.constData());
                QCOMPARE(m.attachments.size(), 1);
                QCOMPARE(m.attachments.first().fileName, attached.at(i));
                const QString file = mode == u"common"_s ? attached.at(i) : u"clients/"_s + attached.at(i);
                QCOMPARE(m.attachments.first().data, readFile(file));
            }
        }
        // The saved inputs are the ones this run used; the body keeps the window's CR LF line breaks.
        QCOMPARE(readFile(u"data/Quorvale/Body.txt"_s).trimmed(),
                 QByteArray("Dear client,\r\nplease find them attached."));
        QCOMPARE(quorvale({u"config"_s, u"get"_s, u"CSVpath"_s}).out, QStringList{path(u"clients/list.csv"_s)});
        QCOMPARE(quorvale({u"config"_s, u"get"_s, u"SubjectLine"_s}).out, QStringList{u"Your documents"_s});
    }

    void printsDocumentsOfClientsWithoutAddress()
    {
        configureInProcess();
        writeFile(u"c/list.csv"_s, "A1,\r\nfail-B2,\r\nC3,\r\n");
        writeFile(u"c/A1.pdf"_s, "a");
        writeFile(u"c/fail-B2.pdf"_s, "b");
        const Result r = inProcess(runArgs(u"c/list.csv"_s) << u"--print"_s);
        QCOMPARE(r.exitCode, 1); // the print error and the missing document
        QCOMPARE(r.out.mid(4),
                 QStringList({u"Emails to be sent - 0"_s, u"Documents to be printed - 3"_s, u"Start processing..."_s,
                              u"Printing document - 1"_s, u"Printing document - 2"_s, u"Print Error - fail-B2"_s,
                              u"Printing document - 3"_s, u"No document found to print for Client ID - C3"_s,
                              u"Processing Complete with 1 errors!"_s}));
        QVERIFY(journalText().contains(u",no document,3,C3,"_s));
        QVERIFY2(r.err.contains(u"E-mails to send: 0\nDocuments to print: 3\n"_s), qPrintable(r.err));
        QVERIFY2(r.err.contains(u"\nPrint error - client fail-B2: "_s), qPrintable(r.err));
        QVERIFY2(r.err.endsWith(u"\nNo document - client C3: no file in the client list's folder names the client\n"
                                "Sent 0, refused 0, outcome unknown 0, no document 1, printed 1, print errors 1, "
                                "skipped on resume 0\n"_s),
                 qPrintable(r.err));
        QCOMPARE(QString::fromUtf8(readFile(u"printed.txt"_s)),
                 u"-P|office|"_s + path(u"c/A1.pdf"_s) + u"|\n-P|office|"_s + path(u"c/fail-B2.pdf"_s) + u"|\n"_s);
        QVERIFY(m_fake->mailer.attempts().isEmpty());
    }

    void refusedSendIsLoggedAndTheRunGoesOn()
    {
        configureInProcess();
        m_fake->mailer.refused = QStringList{u"a@example.org"_s};
        m_fake->mailer.failure = u"550 5.1.1 <a@example.org>: Recipient address rejected"_s;
        writeFile(u"list.csv"_s, "1,a@example.org\r\n");
        const Result r = inProcess(runArgs(u"list.csv"_s));
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.out.mid(5), QStringList({u"Start processing..."_s, u"Sending email - 1"_s,
                                            u"Send Error - a@example.org"_s, u"Processing Complete"_s}));
        // Standard error: what the run will do, before it starts; the server's reason as it
        // happens; the counts at the end.
        const QStringList err = r.err.split(u'\n', Qt::SkipEmptyParts);
        QVERIFY2(err.size() >= 5, qPrintable(r.err));
        QCOMPARE(err.mid(err.size() - 5, 3),
                 QStringList({u"E-mails to send: 1"_s, u"Subject: Your documents"_s, u"Attachment: none"_s}));
        QVERIFY2(err.at(err.size() - 2).startsWith(u"Refused - a@example.org (client 1): "_s) &&
                     err.at(err.size() - 2).contains(u"550 5.1.1 <a@example.org>: Recipient address rejected"_s),
                 qPrintable(r.err));
        QCOMPARE(err.last(), u"Sent 0, refused 1, outcome unknown 0, no document 0, printed 0, print errors 0, "
                             "skipped on resume 0"_s);
    }

    void questionCheckAndPreviewTellOfMessagesLargerThanTheServerTakes()
    {
        // The command line asks the server before its question, its check and its preview, which
        // tell of the messages it would refuse.
        configureInProcess();
        m_fake->mailer.maxSize = 1000000;
        writeFile(u"list.csv"_s, "1,a@example.org\r\n2,b@example.org\r\n");
        writeFile(u"letter.pdf"_s, QByteArray(1000000, 'x'));
        QStringList args =
            runArgs(u"list.csv"_s) + QStringList{u"--mode"_s, u"common"_s, u"--attachment"_s, path(u"letter.pdf"_s)};
        args.removeAll(u"--yes"_s);
        const Result r = inProcess(args, "n\n");
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(u"\nWarning: 2 messages are larger than the server takes (at most 1 MB)\n"_s),
                 qPrintable(r.err));
        QVERIFY(m_fake->mailer.attempts().isEmpty());
        const Result check = inProcess({u"check"_s, u"--csv"_s, path(u"list.csv"_s), u"--mode"_s, u"common"_s,
                                        u"--attachment"_s, path(u"letter.pdf"_s)});
        QCOMPARE(check.exitCode, 1);
        const QStringList rows = check.out.filter(u"@example.org"_s);
        QCOMPARE(rows.size(), 2);
        for (const QString &row : rows)
            QVERIFY2(row.startsWith(u"! "_s) && row.endsWith(u"\ttoo large (the message is 1.4 MB)"_s), qPrintable(row));
        const Result preview = inProcess({u"preview"_s, u"--csv"_s, path(u"list.csv"_s), u"--mode"_s, u"common"_s,
                                          u"--attachment"_s, path(u"letter.pdf"_s), u"--client"_s, u"2"_s});
        QCOMPARE(preview.exitCode, 0);
        QVERIFY2(preview.err.contains(u"quorvale: a run would not send this message: The message is 1.4 MB; the server "
                                      "takes at most 1 MB.\n"_s),
                 qPrintable(preview.err));
        QVERIFY(m_fake->mailer.attempts().isEmpty());
    }

    void nothingIsSentWhenTheRunCannotStart_data()
    {
        QTest::addColumn<QStringList>("extraArgs");
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("warning");
        QTest::addColumn<QStringList>("out");
        QTest::newRow("missing CSV file")
            << QStringList() << QByteArray() << QByteArray() << u"There was a problem reading the CSV file"_s
            << QStringList{u"Parsing CSV file..."_s};
        QTest::newRow("line without a second field")
            << QStringList() << QByteArray("1,a@example.org\r\n2\r\n") << QByteArray() << QString()
            << QStringList{u"Parsing CSV file..."_s};
        QTest::newRow("unreadable common attachment")
            << QStringList{u"--mode"_s, u"common"_s, u"--attachment"_s, u"/nonexistent/letter.pdf"_s}
            << QByteArray("1,a@example.org\r\n") << QByteArray()
            << u"The common attachment file cannot be read. File name= /nonexistent/letter.pdf"_s << QStringList();
        QTest::newRow("answer no") << QStringList() << QByteArray("1,a@example.org\r\n") << QByteArray("n\n")
                                   << u"Are you sure your ready to start processing?"_s
                                   << QStringList({u"Parsing CSV file..."_s, u"Clients found - 1"_s,
                                                   u"Parsing CSV file complete"_s, u"Client count - 1"_s,
                                                   u"Emails to be sent - 1"_s, u"Nothing was started."_s});
        QTest::newRow("no answer") << QStringList() << QByteArray("1,a@example.org\r\n") << QByteArray()
                                   << u"Are you sure your ready to start processing?"_s << QStringList();
        QTest::newRow("unknown option") << QStringList{u"--colour"_s} << QByteArray("1,a@example.org\r\n")
                                        << QByteArray() << u"--colour"_s << QStringList();
        // The client list as everybody's attachment would give every client every address.
        const QString clientList = u"The common attachment is the client CSV file, which holds every client's "
                                   "address. Select a different file. File name= "_s;
        QTest::newRow("client list as the common attachment")
            << QStringList{u"--mode"_s, u"common"_s, u"--attachment"_s, u"%HOME%/list.csv"_s}
            << QByteArray("1,a@example.org\r\n") << QByteArray() << clientList + u"%HOME%/list.csv"_s << QStringList();
        QTest::newRow("a link to the client list")
            << QStringList{u"--mode"_s, u"common"_s, u"--attachment"_s, u"%HOME%/link.pdf"_s}
            << QByteArray("1,a@example.org\r\n") << QByteArray() << clientList + u"%HOME%/link.pdf"_s << QStringList();
    }
    void nothingIsSentWhenTheRunCannotStart()
    {
        QFETCH(QStringList, extraArgs);
        QFETCH(QByteArray, csv);
        QFETCH(QByteArray, answer);
        QFETCH(QString, warning);
        QFETCH(QStringList, out);
        configureInProcess();
        if (!csv.isEmpty()) {
            writeFile(u"list.csv"_s, csv);
            QVERIFY(QFile::link(path(u"list.csv"_s), path(u"link.pdf"_s)));
        }
        for (QString &arg : extraArgs)
            arg.replace(u"%HOME%"_s, m_home->path());
        warning.replace(u"%HOME%"_s, m_home->path());
        QStringList args = runArgs(u"list.csv"_s);
        if (QTest::currentDataTag() == QByteArray("answer no") || QTest::currentDataTag() == QByteArray("no answer"))
            args.removeAll(u"--yes"_s);
        const Result r = inProcess(args + extraArgs, answer);
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(warning), qPrintable(r.err));
        // The question comes after what the run would do.
        if (warning.startsWith(u"Are you sure"_s))
            QVERIFY2(r.err.contains(u"E-mails to send: 1\nSubject: Your documents\nAttachment: none\n"_s + warning),
                     qPrintable(r.err));
        if (!out.isEmpty())
            QCOMPARE(r.out, out);
        QVERIFY(m_fake->mailer.attempts().isEmpty());
        QVERIFY(!QFile::exists(path(u"data/Quorvale/Body.txt"_s)));
        QCOMPARE(inProcess({u"config"_s, u"get"_s, u"CSVpath"_s}).out, QStringList{QString()});
    }

    // A run that stops after the confirmation tells by its exit status whether anything went out.
    void stoppedRunSaysWhetherAnythingWasSent_data()
    {
        QTest::addColumn<QString>("blocked"); // made a file (a folder when it ends in "/"), or a fault
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("reason");
        QTest::newRow("data folder cannot be created") << u"data"_s << 2 << u"data"_s;
        QTest::newRow("body file cannot be written") << u"data/Quorvale/Body.txt/"_s << 2 << u"Body.txt"_s;
        QTest::newRow("journal cannot be opened") << u"data/Quorvale/runs"_s << 2 << u"journal"_s;
        QTest::newRow("port unusable at the first send") << u"port"_s << 2 << u"SMTP port"_s;
        QTest::newRow("login refused after some sends") << u"server"_s << 1 << u"refused the user name"_s;
    }
    void stoppedRunSaysWhetherAnythingWasSent()
    {
        QFETCH(QString, blocked);
        QFETCH(int, exitCode);
        QFETCH(QString, reason);
        configureInProcess();
        writeFile(u"list.csv"_s, thirtyClients());
        if (blocked == u"port"_s) {
            QByteArray ini = readFile(u"config/Quorvale/Quorvale.ini"_s);
            writeFile(u"config/Quorvale/Quorvale.ini"_s, ini.replace("\nSSLport=", "\nSSLport=x"));
        } else if (blocked == u"server"_s) {
            m_fake->mailer.statuses = {SendStatus::Sent, SendStatus::Sent, SendStatus::ServerUnusable};
        } else if (blocked.endsWith(u'/')) {
            QVERIFY(QDir().mkpath(path(blocked)));
        } else {
            writeFile(blocked, "a file where a folder should be");
        }

        const Result r = inProcess(runArgs(u"list.csv"_s));
        QVERIFY2(r.exitCode == exitCode, qPrintable(r.out.join(u'\n') + r.err));
        const QString last = r.out.value(r.out.size() - 1);
        QVERIFY2(last.startsWith(u"Processing stopped - "_s) && last.contains(reason), qPrintable(last));
        QCOMPARE(m_fake->mailer.messages().isEmpty(), exitCode == 2);
    }

    // The same when the journal cannot grow: the program's own writes fail, as on a full disk.
    void runStopsWhenTheJournalIsFull()
    {
        SmtpServer server;
        QVERIFY(server.isRunning());
        configure(server);
        writeFile(u"list.csv"_s, thirtyClients());
        for (const auto &[name, value] :
             {std::pair{u"EnableSchedule"_s, u"1"_s}, std::pair{u"DelayBetweenSends"_s, u"0"_s}})
            QCOMPARE(quorvale({u"config"_s, u"set"_s, name, value}).exitCode, 0);
        // Files cannot grow past a few kilobytes: the journal fills up after some clients.
        m_childSetup = [] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit small{4096, 4096};
            ::setrlimit(RLIMIT_FSIZE, &small);
        };
        const Result r = quorvale(runArgs(u"list.csv"_s));
        QVERIFY2(r.exitCode == 1, qPrintable(r.out.join(u'\n') + r.err));
        const QString last = r.out.value(r.out.size() - 1);
        QVERIFY2(last.startsWith(u"Processing stopped - "_s) && last.contains(u"journal"_s), qPrintable(last));
        QVERIFY(!server.messages().isEmpty());
    }

    // A finished mailing is not sent again by a second --yes, with or without --resume.
    void finishedMailingIsNotSentAgainWithoutSendAgain()
    {
        configureInProcess();
        writeFile(u"list.csv"_s, "1,a@example.org\r\n2,b@example.org\r\n");
        QCOMPARE(inProcess(runArgs(u"list.csv"_s)).exitCode, 0);
        for (const QStringList &extra : {QStringList(), QStringList{u"--resume"_s}}) {
            const Result r = inProcess(runArgs(u"list.csv"_s) + extra);
            QCOMPARE(r.exitCode, 2);
            QVERIFY2(r.err.contains(u"This mailing was already sent to all 2 clients on "_s), qPrintable(r.err));
            QVERIFY2(r.err.contains(u"--send-again"_s), qPrintable(r.err));
        }
        QCOMPARE(m_fake->mailer.messages().size(), 2);
        QCOMPARE(inProcess(runArgs(u"list.csv"_s) + QStringList{u"--send-again"_s}).exitCode, 0);
        QCOMPARE(m_fake->mailer.messages().size(), 4);
    }

    // Check Client List flags the client list as the common attachment; another CSV file is allowed.
    void checkFlagsTheClientListAsCommonAttachment_data()
    {
        QTest::addColumn<QString>("attachment");
        QTest::addColumn<bool>("flagged");
        QTest::newRow("another CSV file") << u"prices.csv"_s << false;
        QTest::newRow("the client list") << u"list.csv"_s << true;
        QTest::newRow("a link to the client list") << u"link.pdf"_s << true;
    }
    void checkFlagsTheClientListAsCommonAttachment()
    {
        QFETCH(QString, attachment);
        QFETCH(bool, flagged);
        writeFile(u"list.csv"_s, "1,a@example.org\r\n2,b@example.org\r\n");
        writeFile(u"prices.csv"_s, "item,price\r\n");
        QVERIFY(QFile::link(path(u"list.csv"_s), path(u"link.pdf"_s)));
        const Result r = inProcess({u"check"_s, u"--csv"_s, path(u"list.csv"_s), u"--mode"_s, u"common"_s,
                                    u"--attachment"_s, path(attachment)});
        QCOMPARE(r.exitCode, flagged ? 1 : 0);
        const QStringList rows = r.out.filter(u"@example.org"_s);
        QCOMPARE(rows.size(), 2);
        for (const QString &row : rows) {
            QCOMPARE(row.startsWith(u"! "_s), flagged);
            QCOMPARE(row.endsWith(u"\tcommon attachment is the client list"_s), flagged);
        }
        QCOMPARE(r.out.contains(u"The common attachment is the client CSV file, which holds every client's address. "
                                "Select a different file. File name= "_s +
                                path(attachment)),
                 flagged);
    }

    // Ctrl-C, a logout (SIGHUP) or a shutdown (SIGTERM) abort the run as the Abort button does: the
    // journal gets its closing line and the encoded copy of the common attachment is removed. A copy
    // that a crashed run left is removed when the program starts.
    void terminationSignalsAbortTheRun_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void terminationSignalsAbortTheRun()
    {
        QFETCH(int, signal);
        SmtpServer server;
        QVERIFY(server.isRunning());
        configure(server);
        for (const auto &[name, value] :
             {std::pair{u"EnableSchedule"_s, u"1"_s}, std::pair{u"DelayBetweenSends"_s, u"0"_s},
              std::pair{u"GroupDelay"_s, u"10"_s}, std::pair{u"GroupSize"_s, u"2"_s}})
            QCOMPARE(quorvale({u"config"_s, u"set"_s, name, value}).exitCode, 0);
        writeFile(u"list.csv"_s, "1,a@example.org\r\n2,b@example.org\r\n3,c@example.org\r\n");
        writeFile(u"letter.pdf"_s, QByteArray(100000, 'L'));
        // What a killed run left: its process is gone. A live process's copy is left alone.
        QProcess gone;
        gone.start(u"/bin/true"_s);
        QVERIFY(gone.waitForFinished());
        const QString cache = path(u"data/Quorvale/attachments"_s);
        const QString leftover = cache + u"/%1-abcdef"_s.arg(gone.processId());
        const QString alive = cache + u"/%1-ghijkl"_s.arg(QCoreApplication::applicationPid());
        writeFile(leftover.mid(m_home->path().size() + 1) + u"/attachment.b64"_s, "old");
        writeFile(alive.mid(m_home->path().size() + 1) + u"/attachment.b64"_s, "in use");

        QProcess process;
        setUp(process);
        process.setArguments(runArgs(u"list.csv"_s)
                             << u"--mode"_s << u"common"_s << u"--attachment"_s << path(u"letter.pdf"_s));
        process.start();
        QByteArray out;
        QVERIFY2(test::waitForOutput(process, "Will resume at", &out), out.constData());
        QVERIFY(!QFileInfo::exists(leftover));
        QVERIFY(QFileInfo::exists(alive));
        // The second message of the same file was sent from its encoded copy, which is there now.
        const QStringList copies = QDir(cache).entryList({u"%1-*"_s.arg(process.processId())}, QDir::Dirs);
        QCOMPARE(copies.size(), 1);
        QVERIFY(QFileInfo::exists(cache + u'/' + copies.first() + u"/attachment.b64"_s));

        ::kill(pid_t(process.processId()), signal);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 130);
        const QStringList all = lines(out + process.readAllStandardOutput());
        const QStringList tail = all.mid(all.size() - 2);
        QCOMPARE(tail, QStringList({u"Aborting email sends"_s, u"Processing Complete"_s}));
        QCOMPARE(server.messages().size(), 2);
        QVERIFY(journalText().endsWith(u",aborted,,,,,,,\r\n"_s));
        QVERIFY(!QFileInfo::exists(cache + u'/' + copies.first()));
        QVERIFY(QFileInfo::exists(alive));
    }

    // One Ctrl-C while a message is being handed over lets it finish and journals its outcome; a
    // second one cuts it off, and the run still ends as aborted, journal closed.
    void ctrlCLetsTheMessageBeingSentFinish_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("interrupts");
        QTest::addColumn<QString>("event"); // the client's outcome in the journal
        QTest::addColumn<int>("received");  // messages the server accepted
        QTest::newRow("once, a slow server") << u"slow:DATA:2"_s << 1 << u"sent"_s << 1;
        QTest::newRow("twice, a server that never answers") << u"stall:DATA"_s << 2 << u"unknown"_s << 0;
    }
    void ctrlCLetsTheMessageBeingSentFinish()
    {
        QFETCH(QString, fault);
        QFETCH(int, interrupts);
        QFETCH(QString, event);
        QFETCH(int, received);
        SmtpServer server({.fault = fault});
        QVERIFY(server.isRunning());
        configure(server);
        writeFile(u"list.csv"_s, "1,a@example.org\r\n2,b@example.org\r\n");
        QProcess process;
        setUp(process);
        process.setArguments(runArgs(u"list.csv"_s));
        process.start();
        QVERIFY(process.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(server.commands().contains(u"DATA"_s), 20000);
        QByteArray out;
        for (int i = 0; i < interrupts; ++i) {
            ::kill(pid_t(process.processId()), SIGINT);
            if (i == 0) {
                QDeadlineTimer deadline(10000);
                while (!out.contains("Abort - letting") && process.waitForReadyRead(int(deadline.remainingTime())))
                    out += process.readAllStandardOutput();
                QVERIFY2(out.contains("Abort - letting"), out.constData());
            }
        }
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 130);
        const QStringList all = lines(out + process.readAllStandardOutput());
        QCOMPARE(all.mid(all.size() - 2), QStringList({u"Processing Aborted"_s, u"Processing Complete"_s}));
        QVERIFY(!all.contains(u"Sending email - 2"_s));
        QCOMPARE(server.messages().size(), received);
        const QString journal = journalText();
        QVERIFY2(journal.contains(u","_s + event + u",1,1,a@example.org,"_s), qPrintable(journal));
        QVERIFY(journal.endsWith(u",aborted,,,,,,,\r\n"_s));
    }

    // Whatever the umask, what Quorvale creates is the user's alone: folders 0700, files 0600.
    void everythingCreatedIsPrivate_data()
    {
        QTest::addColumn<int>("umask");
        QTest::newRow("umask 022") << 022;
        QTest::newRow("umask 000") << 0;
    }
    void everythingCreatedIsPrivate()
    {
        QFETCH(int, umask);
        m_childSetup = [umask] { ::umask(mode_t(umask)); };
        SmtpServer server;
        QVERIFY(server.isRunning());
        configure(server, true);
        writeFile(u"list.csv"_s, "1,a@example.org\r\n2,b@example.org\r\n");
        writeFile(u"letter.pdf"_s, "%PDF-1.4 the common letter");
        const Result run = quorvale(runArgs(u"list.csv"_s)
                                    << u"--mode"_s << u"common"_s << u"--attachment"_s << path(u"letter.pdf"_s));
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        const Result check = quorvale({u"check"_s, u"--csv"_s, path(u"list.csv"_s), u"--save"_s, path(u"table.csv"_s)});
        QVERIFY2(check.exitCode == 0, qPrintable(check.err));

        QStringList made{path(u"config"_s), path(u"data"_s), path(u"table.csv"_s)};
        for (const QString &root : {path(u"config"_s), path(u"data"_s)}) {
            QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                            QDirIterator::Subdirectories);
            while (it.hasNext())
                made.append(it.next());
        }
        for (const QString &file : {u"config/Quorvale/Quorvale.ini"_s, u"data/Quorvale/Body.txt"_s,
                                    u"data/Quorvale/runs"_s, u"data/Quorvale/attachments"_s})
            QVERIFY2(made.contains(path(file)), qPrintable(file));
        for (const QString &entry : std::as_const(made)) {
            struct stat info = {};
            QCOMPARE(::lstat(QFile::encodeName(entry).constData(), &info), 0);
            const mode_t expected = S_ISDIR(info.st_mode) ? 0700 : 0600;
            QVERIFY2((info.st_mode & 07777) == expected,
                     qPrintable(u"%1 has mode %2"_s.arg(entry).arg(info.st_mode & 07777, 0, 8)));
        }
    }

    // The window ends as Exit does when the session ends, and removes a crashed run's copy at start.
    void windowEndsWithTheSession_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void windowEndsWithTheSession()
    {
        QFETCH(int, signal);
        QProcess gone;
        gone.start(u"/bin/true"_s);
        QVERIFY(gone.waitForFinished());
        const QString leftover = u"data/Quorvale/attachments/%1-abcdef"_s.arg(gone.processId());
        writeFile(leftover + u"/attachment.b64"_s, "old");

        QProcess window;
        setUp(window);
        window.start();
        QVERIFY(window.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(path(leftover)), 20000);
        ::kill(pid_t(window.processId()), signal);
        QVERIFY(window.waitForFinished(20000));
        QCOMPARE(window.exitStatus(), QProcess::NormalExit);
        QCOMPARE(window.exitCode(), 0);
    }

    void testEmail_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("security");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("accepted") << QString() << int(SmtpServer::Security::Plain) << 0;
        QTest::newRow("refused") << u"RCPT:550"_s << int(SmtpServer::Security::Plain) << 1;
        QTest::newRow("accepted over TLS") << QString() << int(SmtpServer::Security::StartTls) << 0;
    }
    void testEmail()
    {
        QFETCH(QString, fault);
        QFETCH(int, security);
        QFETCH(int, exitCode);
        SmtpServer server({.security = SmtpServer::Security(security), .fault = fault});
        QVERIFY(server.isRunning());
        configure(server);
        const Result r = quorvale({u"test-email"_s, u"me@example.org"_s});
        QCOMPARE(r.exitCode, exitCode);
        // "Simple" with a login: one line says that the login goes unencrypted.
        QCOMPARE(r.err.count(kLoginInClear), security == int(SmtpServer::Security::Plain) ? 1 : 0);
        QCOMPARE(r.out.value(0), u"Testing Email..."_s);
        QCOMPARE(r.out.value(r.out.size() - 1), u"Email testing complete"_s);
        if (exitCode == 0) {
            QCOMPARE(r.out.size(), 2);
            QVERIFY(server.waitForMessages(1, 10000));
            const test::ReceivedMessage m = server.messages().last();
            QCOMPARE(m.rcptTo, QStringList{u"me@example.org"_s});
            QCOMPARE(m.subject, u"Test subject line text"_s);
            QCOMPARE(normalized(m.body).trimmed(), u"Test email body text"_s);
            QVERIFY(m.attachments.isEmpty());
        } else {
            QVERIFY(r.out.size() >= 4);
            QCOMPARE(r.out.at(r.out.size() - 2), u"Email test bad or had problems!"_s);
            QVERIFY(server.messages().isEmpty());
        }
    }

    void testEmailChecksFirst()
    {
        Result r = inProcess({u"test-email"_s, u"me@example.org"_s});
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.err.trimmed(), u"Your email server setup is not complete.\nMissing in Setup: SMTP Server, SSL Port, "
                                  "Username, Password."_s);
        QVERIFY(r.out.isEmpty());
        configureInProcess();
        r = inProcess({u"test-email"_s, QString()});
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.err.trimmed(), u"You need enter a send email address for testing."_s);
        QVERIFY(m_fake->mailer.attempts().isEmpty());
    }

    void configSetGetShow()
    {
        // Defaults before anything is saved.
        QCOMPARE(inProcess({u"config"_s, u"get"_s, u"GroupSize"_s}).out, QStringList{u"100"_s});
        QCOMPARE(inProcess({u"config"_s, u"get"_s, u"SubjectLine"_s}).out, QStringList{u"Subject Line Text"_s});

        QCOMPARE(inProcess({u"config"_s, u"set"_s, u"PW"_s, u"s3cret pass"_s}).exitCode, 0);
        QCOMPARE(inProcess({u"config"_s, u"set"_s, u"SMTPServer"_s, u"mail.example.org"_s}).exitCode, 0);
        QCOMPARE(inProcess({u"config"_s, u"set"_s, u"GroupDelay"_s, u"-"_s}, "15\n").exitCode, 0);
        QCOMPARE(inProcess({u"config"_s, u"get"_s, u"PW"_s}).out, QStringList{u"s3cret pass"_s});
        QCOMPARE(inProcess({u"config"_s, u"get"_s, u"GroupDelay"_s}).out, QStringList{u"15"_s});
        const QByteArray ini = readFile(u"config/Quorvale/Quorvale.ini"_s);
        QVERIFY(!ini.isEmpty());
        QVERIFY(!ini.contains("s3cret"));

        const Result show = inProcess({u"config"_s, u"show"_s});
        QCOMPARE(show.exitCode, 0);
        QCOMPARE(show.out.size(), 39);
        QVERIFY(show.out.contains(u"SendMethod=smtp"_s));
        // The copy in Sent is off until chosen; IMAP defaults to implicit TLS on 993.
        QVERIFY(show.out.contains(u"SentCopy=0"_s));
        QVERIFY(show.out.contains(u"IMAPPort=993"_s));
        QVERIFY(inProcess({u"config"_s, u"set"_s, u"SentCopy"_s, u"2"_s}).exitCode != 0);
        QVERIFY(inProcess({u"config"_s, u"set"_s, u"SentFolder"_s, u"Sent\nBcc"_s}).exitCode != 0);
        QVERIFY(show.out.contains(u"SignInMethod=password"_s));
        QVERIFY(show.out.contains(u"OAuthRefreshToken=not stored"_s));
        QVERIFY(show.out.contains(u"SMPTServer=mail.example.org"_s));
        QVERIFY(show.out.contains(u"GroupDelay=15"_s));
        QVERIFY(show.out.contains(u"DailyLimit=0"_s));
        QVERIFY(show.out.contains(u"MinuteLimit=0"_s));
        QVERIFY(show.out.contains(u"PW=********"_s));
        QVERIFY(!show.out.join(u'\n').contains(u"s3cret"_s));
    }

    void configSetRefusesWhatCannotBeStored_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("said"); // part of the message, besides the setting and the value
        QTest::newRow("letters for a delay") << u"DelayBetweenSends"_s << u"ten"_s << u"seconds from 0 to 2147483"_s;
        QTest::newRow("delay beyond 32-bit milliseconds")
            << u"DelayBetweenSends"_s << u"2147484"_s << u"seconds from 0 to 2147483"_s;
        QTest::newRow("empty group size") << u"GroupSize"_s << QString() << u"from 0 to 2147483647"_s;
        QTest::newRow("negative group size") << u"GroupSize"_s << u"-5"_s << u"from 0 to 2147483647"_s;
        QTest::newRow("beyond 32 bits") << u"GroupDelay"_s << u"99999999999"_s << u"minutes from 0 to 35791"_s;
        QTest::newRow("group delay beyond 32-bit milliseconds")
            << u"GroupDelay"_s << u"35792"_s << u"minutes from 0 to 35791"_s;
        QTest::newRow("authentication type 7") << u"AuthType"_s << u"7"_s << u"0 for Simple or 1 for SSL"_s;
        QTest::newRow("no authentication type") << u"AuthType"_s << u"-1"_s << u"0 for Simple or 1 for SSL"_s;
        QTest::newRow("scheduling 3") << u"EnableSchedule"_s << u"3"_s << u"0 for off or 1 for on"_s;
        QTest::newRow("fraction of a second") << u"DelayBetweenSends"_s << u"1.5"_s << u"seconds from 0 to 2147483"_s;
        QTest::newRow("scheduling 0.6") << u"EnableSchedule"_s << u"0.6"_s << u"0 for off or 1 for on"_s;
        QTest::newRow("fraction of a group") << u"GroupSize"_s << u"20.0"_s << u"from 0 to 2147483647"_s;
        QTest::newRow("port beyond 65535")
            << u"SSLport"_s << u"99999"_s << u"empty or a whole number from 1 to 65535"_s;
        QTest::newRow("port with letters") << u"SSLport"_s << u"smtp"_s << u"empty or a whole number from 1 to 65535"_s;
        QTest::newRow("one-character password") << u"PW"_s << u"x"_s << u"This password cannot be stored"_s;
        QTest::newRow("password beyond Latin-1") << u"PW"_s << u"pa\u20ACss"_s << u"This password cannot be stored"_s;
        QTest::newRow("separator not offered") << u"CSVDelimiter"_s << u"|"_s << u"must be one of: , (a comma)"_s;
        QTest::newRow("unknown setting") << u"Colour"_s << u"red"_s << u"unknown setting Colour"_s;
        QTest::newRow("daily limit with a thousands separator")
            << u"DailyLimit"_s << u"2,000"_s
            << u"The daily sending limit (DailyLimit) must be a whole number of messages from 0 (no limit) to 1000000."_s;
        QTest::newRow("negative minute limit")
            << u"MinuteLimit"_s << u"-30"_s
            << u"The sending limit per minute (MinuteLimit) must be a whole number of messages from 0 (no limit) to 10000."_s;
        QTest::newRow("sender name of two lines")
            << u"EmailFromName"_s << u"Smith\nBcc: x@example.org"_s << u"must be one line of text"_s;
        QTest::newRow("Reply-To of two addresses")
            << u"ReplyTo"_s << u"a@example.org, b@example.org"_s << u"must be empty or one e-mail address"_s;
        QTest::newRow("archive copy with a name")
            << u"ArchiveCopyTo"_s << u"Archive <a@example.org>"_s << u"must be empty or one e-mail address"_s;
    }
    void configSetRefusesWhatCannotBeStored()
    {
        QFETCH(QString, name);
        QFETCH(QString, value);
        QFETCH(QString, said);
        const Result r = inProcess({u"config"_s, u"set"_s, name, value});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(said), qPrintable(r.err));
        // The message names the setting and the value refused; a password is never shown.
        if (name == u"PW"_s)
            QVERIFY2(r.err.startsWith(u"quorvale: PW: "_s) && !r.err.contains(value), qPrintable(r.err));
        else if (name != u"Colour"_s)
            QVERIFY2(r.err.startsWith(u"quorvale: %1 cannot be \"%2\": "_s.arg(name, value)), qPrintable(r.err));
        QVERIFY(!QFile::exists(path(u"config/Quorvale/Quorvale.ini"_s)));
    }

    void configSetTakesTheLimits()
    {
        for (const auto &[name, value] :
             {std::pair{u"DelayBetweenSends"_s, u"2147483"_s}, std::pair{u"GroupDelay"_s, u"35791"_s},
              std::pair{u"GroupSize"_s, u"0"_s}, std::pair{u"SSLport"_s, u"65535"_s},
              std::pair{u"SSLport"_s, QString()}, std::pair{u"AuthType"_s, u"0"_s},
              std::pair{u"EnableSchedule"_s, u"1"_s}, std::pair{u"CSVDelimiter"_s, u";"_s},
              std::pair{u"CSVDelimiter"_s, u"tab"_s}, std::pair{u"DailyLimit"_s, u"1000000"_s},
              std::pair{u"MinuteLimit"_s, u"10000"_s}}) {
            const Result r = inProcess({u"config"_s, u"set"_s, name, value});
            QVERIFY2(r.exitCode == 0, qPrintable(name + u": "_s + r.err));
            QCOMPARE(inProcess({u"config"_s, u"get"_s, name}).out, QStringList{value});
        }
    }

    // A hand-edited authentication type that is neither Simple nor SSL loads as SSL everywhere: the
    // mail goes over TLS to the configured port, never in clear, never to port 25.
    void unusableAuthTypeNeverGoesInClear_data()
    {
        QTest::addColumn<QByteArray>("authType");
        QTest::addColumn<int>("security");
        QTest::newRow("2, STARTTLS") << QByteArray("2") << int(SmtpServer::Security::StartTls);
        QTest::newRow("-1, implicit TLS") << QByteArray("-1") << int(SmtpServer::Security::ImplicitTls);
        QTest::newRow("7.2, STARTTLS") << QByteArray("7.2") << int(SmtpServer::Security::StartTls);
    }
    void unusableAuthTypeNeverGoesInClear()
    {
        QFETCH(QByteArray, authType);
        QFETCH(int, security);
        SmtpServer server({.security = SmtpServer::Security(security)});
        QVERIFY(server.isRunning());
        configure(server);
        QByteArray ini = readFile(u"config/Quorvale/Quorvale.ini"_s);
        QVERIFY(ini.contains("\nAuthType=1\n"));
        writeFile(u"config/Quorvale/Quorvale.ini"_s,
                  ini.replace("\nAuthType=1\n", QByteArray("\nAuthType=" + authType + '\n')));
        SilentListener port25(25);

        QCOMPARE(quorvale({u"config"_s, u"get"_s, u"AuthType"_s}).out, QStringList{u"1"_s});
        const Result test = quorvale({u"test-email"_s, u"me@example.org"_s});
        QVERIFY2(test.exitCode == 0, qPrintable(test.out.join(u'\n')));
        writeFile(u"list.csv"_s, "1,a@example.org\r\n");
        const Result run = quorvale(runArgs(u"list.csv"_s));
        QVERIFY2(run.exitCode == 0, qPrintable(run.out.join(u'\n') + run.err));
        QVERIFY(server.waitForMessages(2, 10000));
        for (const QString &verb : server.clearCommands())
            QVERIFY2(verb == u"EHLO"_s || verb == u"STARTTLS"_s, qPrintable(server.clearCommands().join(u' ')));
        QVERIFY(server.commands().contains(u"AUTH"_s));
        if (port25.port() == 0)
            QSKIP("port 25 cannot be bound here (it needs root and must be free), so no trap was set on it");
        QVERIFY(!port25.wasConnected());
    }

    void helpAndUsage()
    {
        const Result help = inProcess({u"--help"_s});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.join(u'\n').contains(u"quorvale run --csv FILE"_s));
        QCOMPARE(inProcess({u"frobnicate"_s}).exitCode, 2);
        QCOMPARE(inProcess({u"run"_s}).exitCode, 2);
        QCOMPARE(inProcess({u"run"_s, u"--csv"_s, u"x.csv"_s, u"--mode"_s, u"all"_s}).exitCode, 2);
    }

    void usageErrorsOfRunAndCheck_data()
    {
        // run, check and preview read one table of options: what each takes, and what each refuses.
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("message");
        const auto row = [](const char *args, const char *message) {
            QTest::newRow(args) << QString::fromUtf8(args) << QString::fromUtf8(message);
        };
        row("run", "run needs --csv FILE, the client CSV file");
        row("run --csv", "--csv needs a value");
        row("run --csv= --print", "run needs --csv FILE, the client CSV file");
        row("run --csv x.csv --print=1", "--print takes no value");
        row("run --csv x.csv --bogus", "unknown option for run: --bogus");
        row("run --csv x.csv --bogus=1", "--bogus takes no value");
        row("run --csv x.csv -y=1", "unknown option for run: -y=1");
        row("run --csv x.csv --save out.csv", "unknown option for run: --save");
        row("run --csv x.csv --no-resume --resume", "give either --resume or --no-resume, not both");
        row("run --csv x.csv --resume --resume --no-resume", "give either --resume or --no-resume, not both");
        row("run --csv x.csv --body a --body-file b", "give either --body or --body-file, not both");
        row("run --csv x.csv --include-unknown", "--include-unknown is only used with --resume");
        row("run --csv x.csv --include-unknown --no-resume", "--include-unknown is only used with --resume");
        row("run --csv x.csv --retry-failed --no-resume", "--retry-failed takes neither --resume nor --no-resume");
        row("run --csv x.csv --mode some", "--mode must be none, common, client or named, not some");
        row("run --csv x.csv --attachment a.pdf", "--attachment is only used with --mode common");
        row("run --csv x.csv --body-file /nonexistent/body.txt",
            "the body file cannot be read: /nonexistent/body.txt (No such file or directory)");
        row("check", "check needs --csv FILE, the client CSV file");
        row("check --csv x.csv --resume", "unknown option for check: --resume");
        row("check --csv x.csv --save", "--save needs a value");
        row("check --csv x.csv --yes=1", "--yes takes no value");
        row("check --csv x.csv --mode client --attachment a.pdf", "--attachment is only used with --mode common");
        row("check --csv x.csv --mode some", "--mode must be none, common, client or named, not some");
        row("preview --client 1", "preview needs --csv FILE, the client CSV file");
        row("preview --csv x.csv", "preview needs --client ID or --line N, the client whose message to show");
        row("preview --csv x.csv --client 1 --line 2", "give either --client or --line, not both");
        row("preview --csv x.csv --line 0", "--line must be a line number from 1 up, not 0");
        row("preview --csv x.csv --client 1 --yes", "unknown option for preview: --yes");
        row("preview --csv x.csv --client 1 --body b --body-file f", "give either --body or --body-file, not both");
        row("run --csv x.csv --client 1", "unknown option for run: --client");
        row("check --csv x.csv --allow-empty-fields", "unknown option for check: --allow-empty-fields");
        row("run --csv x.csv --delimiter |", "--delimiter must be \",\", \";\" or tab, not |");
        row("check --csv x.csv --delimiter TAB", "--delimiter must be \",\", \";\" or tab, not TAB");
        row("preview --csv x.csv --client 1 --delimiter", "--delimiter needs a value");
    }
    void usageErrorsOfRunAndCheck()
    {
        QFETCH(QString, args);
        QFETCH(QString, message);
        const Result r = inProcess(args.split(u' '));
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.err, u"quorvale: "_s + message + u"\nTry \"quorvale --help\".\n"_s);
        QVERIFY(r.out.isEmpty());
    }

    void checkTakesRunsMessageOptionsAndIgnoresYes()
    {
        writeFile(u"list.csv"_s, "1,a@example.org\r\n");
        const Result r = inProcess({u"check"_s, u"--csv"_s, path(u"list.csv"_s), u"--subject"_s, u"s"_s, u"--body"_s,
                                    u"b"_s, u"-y"_s, u"--yes"_s});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.contains(u"  1\t1\ta@example.org\tSend"_s), qPrintable(r.out.join(u'|')));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
