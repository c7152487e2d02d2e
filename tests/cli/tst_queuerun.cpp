// Runs whose messages go to the computer's mail queue (SendMethod queue), through the command line
// in this process with the real hand-off to sendmail: a private Postfix delivers every message to
// its recipient's mailbox in a private Dovecot, a sendmail that fails fails the client, a missing
// one stops the run before anything is sent, and an unknown local recipient comes back as a
// delivery status notification in the sender's INBOX, whichever way the message left; that
// report, Postfix's own, is found by `quorvale bounces`, and the resend reaches the corrected address.

#include "mail/queuemailer.h"
#include "mail/smtpmailer.h"
#include "support/inprocesscli.h"
#include "support/postfixfixture.h"
#include "support/smtpfixture.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace quorvale;
using quorvale::test::InProcessCli;
using quorvale::test::PostfixServer;

namespace {

/// Every run journal's text, one after the other.
QString journals(const QString &dataFolder)
{
    QString text;
    const QDir runs(dataFolder + u"/runs"_s);
    for (const QString &name : runs.entryList({u"run-*.csv"_s}, QDir::Files, QDir::Name)) {
        QFile file(runs.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromUtf8(file.readAll());
    }
    return text;
}

bool configure(InProcessCli &cli, const QList<std::pair<QString, QString>> &sets)
{
    for (const auto &[name, value] : sets) {
        if (cli.run({u"config"_s, u"set"_s, name, value}).exitCode != 0)
            return false;
    }
    return true;
}

} // namespace

class TestQueueRun : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void queueRunHandsEveryMessageOver_data()
    {
        QTest::addColumn<QString>("sendmail"); // postfix: the fixture's; failing: exits 75; missing: none
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("outLines"); // among the status lines
        QTest::addColumn<QString>("err");          // in standard error
        QTest::newRow("postfix delivers every message and the archive copies")
            << u"postfix"_s << 0 << QStringList{u"Processing Complete"_s} << u"Queued on this computer 2, refused 0"_s;
        QTest::newRow("a failing sendmail fails each client with its words")
            << u"failing"_s << 1
            << QStringList{u"Send Error - anna@quorvale.test"_s, u"Send Error - bert@quorvale.test"_s}
            << u"queue file write error"_s;
        QTest::newRow("no sendmail: one message and nothing sent")
            << u"missing"_s << 2 << QStringList{} << u"is not there: install a mail server"_s;
    }

    void queueRunHandsEveryMessageOver()
    {
        QFETCH(QString, sendmail);
        QFETCH(int, exitCode);
        QFETCH(QStringList, outLines);
        QFETCH(QString, err);
        if (sendmail == u"postfix"_s && !PostfixServer::canRun())
            QSKIP(qPrintable(PostfixServer::whyNot()));
        QTemporaryDir home;
        QVERIFY(home.isValid());
        std::unique_ptr<PostfixServer> postfix;
        QueueOptions options;
        if (sendmail == u"postfix"_s) {
            postfix = std::make_unique<PostfixServer>(QStringList{u"anna"_s, u"bert"_s});
            QVERIFY(postfix->isRunning());
            options.environment = {postfix->sendmailEnvironment()};
        } else if (sendmail == u"failing"_s) {
            options.program = home.filePath(u"sendmail"_s);
            QFile script(options.program);
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\ncat >/dev/null\necho 'sendmail: fatal: queue file write error' >&2\nexit 75\n");
            script.close();
            QVERIFY(script.setPermissions(script.permissions() | QFile::ExeOwner));
        } else {
            options.program = home.filePath(u"no/sendmail"_s);
        }
        QueueMailer queue(options);
        InProcessCli cli(home.path());
        cli.realMailer = &queue;
        QVERIFY(configure(cli, {{u"SendMethod"_s, u"queue"_s},
                                {u"EmailFrom"_s, PostfixServer::address(u"user"_s)},
                                {u"ArchiveCopyTo"_s, PostfixServer::address(u"user"_s)}}));
        QFile list(home.filePath(u"list.csv"_s));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write("1,anna@quorvale.test\r\n2,bert@quorvale.test\r\n");
        list.close();
        QFile attachment(home.filePath(u"terms.txt"_s));
        QVERIFY(attachment.open(QIODevice::WriteOnly));
        attachment.write("Terms of business, 2027 edition.");
        attachment.close();

        const InProcessCli::Result r = cli.run({u"run"_s, u"--yes"_s, u"--csv"_s, list.fileName(), u"--subject"_s,
                                                u"Your documents"_s, u"--body"_s, u"Dear client"_s, u"--mode"_s,
                                                u"common"_s, u"--attachment"_s, attachment.fileName()});
        QVERIFY2(r.exitCode == exitCode, qPrintable(r.out.join(u'\n') + u'\n' + r.err));
        for (const QString &line : std::as_const(outLines))
            QVERIFY2(r.out.contains(line), qPrintable(r.out.join(u'\n')));
        QVERIFY2(r.err.contains(err), qPrintable(r.err));
        if (sendmail == u"missing"_s) {
            QVERIFY(!r.out.contains(u"Emails to be sent - 2"_s));
            return;
        }
        if (!postfix)
            return;
        QVERIFY(journals(cli.dataFolder).contains(QString(kQueuedReply)));
        for (const QString &name : {u"anna"_s, u"bert"_s}) {
            QVERIFY2(postfix->waitForMail(name, 1), postfix->log().constData());
            const QByteArray got = postfix->inbox(name).constFirst().bytes;
            QVERIFY(got.contains(QByteArray("\r\nTo: " + PostfixServer::address(name).toUtf8() + "\r\n")));
            QVERIFY(got.contains("Subject: Your documents"));
            QVERIFY(got.contains(QByteArray("Terms of business, 2027 edition.").toBase64()));
        }
        // The archive copies go to the sender's own mailbox, one per client.
        QVERIFY2(postfix->waitForMail(u"user"_s, 2), postfix->log().constData());
    }

    void unknownLocalRecipientGetsADeliveryReport_data()
    {
        QTest::addColumn<QString>("method");
        QTest::newRow("over SMTP submission with a login") << u"smtp"_s;
        QTest::newRow("through the queue's sendmail") << u"queue"_s;
    }

    void unknownLocalRecipientGetsADeliveryReport()
    {
        QFETCH(QString, method);
        if (!PostfixServer::canRun())
            QSKIP(qPrintable(PostfixServer::whyNot()));
        PostfixServer postfix;
        QVERIFY(postfix.isRunning());
        QTemporaryDir home;
        SmtpMailer smtp({}, {}, MailerOptions{.caBundle = test::testCaFile()});
        QueueMailer queue(QueueOptions{.environment = {postfix.sendmailEnvironment()}});
        SendMethodMailer mailer(smtp, queue);
        InProcessCli cli(home.path());
        cli.realMailer = &mailer;
        QVERIFY(configure(cli, {{u"SendMethod"_s, method},
                                {u"EmailFrom"_s, PostfixServer::address(u"user"_s)},
                                {u"SMPTServer"_s, u"127.0.0.1"_s},
                                {u"SSLport"_s, QString::number(postfix.submissionPort())},
                                {u"AuthType"_s, u"1"_s},
                                {u"UserName"_s, u"user"_s},
                                {u"PW"_s, u"secret"_s}}));
        const InProcessCli::Result r = cli.run({u"test-email"_s, PostfixServer::address(u"nobody"_s)});
        QVERIFY2(r.exitCode == 0, qPrintable(r.out.join(u'\n') + u'\n' + r.err));
        QCOMPARE(
            r.out.contains(u"The test message is queued on this computer; its mail server delivers it from there."_s),
            method == u"queue"_s);
        QVERIFY2(postfix.waitForMail(u"user"_s, 1), postfix.log().constData());
        const QByteArray report = postfix.inbox(u"user"_s).constFirst().bytes;
        QVERIFY(report.contains("report-type=delivery-status"));
        QVERIFY(report.contains("Final-Recipient: rfc822; nobody@quorvale.test"));
        QVERIFY(report.contains("Status: 5.1.1"));
        QVERIFY(report.contains("Subject: Test subject line text"));
    }
    void postfixBounceIsMatchedAndTheCorrectedAddressGetsItOnce()
    {
        if (!PostfixServer::canRun())
            QSKIP(qPrintable(PostfixServer::whyNot()));
        PostfixServer postfix({u"anna"_s, u"bert"_s});
        QVERIFY(postfix.isRunning());
        QTemporaryDir home;
        QueueMailer queue(QueueOptions{.environment = {postfix.sendmailEnvironment()}});
        InProcessCli cli(home.path());
        cli.realMailer = &queue;
        QVERIFY(configure(cli, {{u"SendMethod"_s, u"queue"_s},
                                {u"EmailFrom"_s, PostfixServer::address(u"user"_s)},
                                {u"UserName"_s, u"user"_s},
                                {u"PW"_s, u"secret"_s},
                                {u"IMAPServer"_s, u"127.0.0.1"_s},
                                {u"IMAPPort"_s, QString::number(postfix.dovecot().startTlsPort())}}));
        QFile list(home.filePath(u"list.csv"_s));
        const auto writeList = [&list](const QByteArray &lines) {
            return list.open(QIODevice::WriteOnly | QIODevice::Truncate) && list.write(lines) == lines.size() &&
                   (list.close(), true);
        };
        QVERIFY(writeList("1,anna@quorvale.test\r\n2,bret@quorvale.test\r\n"));
        const QStringList mailing{u"--csv"_s,          list.fileName(), u"--subject"_s,
                                  u"Your statement"_s, u"--body"_s,     u"Dear client"_s};
        InProcessCli::Result r = cli.run(QStringList{u"run"_s, u"--yes"_s} + mailing);
        QVERIFY2(r.exitCode == 0, qPrintable(r.out.join(u'\n') + u'\n' + r.err));
        QVERIFY2(postfix.waitForMail(u"user"_s, 1), postfix.log().constData());

        // Postfix's own report names the client with the dead address, and only that one.
        r = cli.run({u"bounces"_s});
        QVERIFY2(r.exitCode == 1, qPrintable(r.out.join(u'\n') + u'\n' + r.err));
        const QStringList bounced = r.out.filter(u"Bounced - "_s);
        QCOMPARE(bounced.size(), 1);
        QVERIFY2(bounced.constFirst().startsWith(u"Bounced - bret@quorvale.test (client 2): 5.1.1"_s),
                 qPrintable(bounced.constFirst()));
        QVERIFY(r.out.contains(u"Bounces found - 1"_s));

        // Unchanged, the address is named and nothing goes; corrected, it gets the message once.
        r = cli.run(QStringList{u"run"_s, u"--yes"_s, u"--resend-bounced"_s} + mailing);
        QVERIFY2(r.exitCode != 0 &&
                     (r.out + QStringList{r.err}).join(u'\n').contains(u"bret@quorvale.test (client 2)"_s),
                 qPrintable(r.out.join(u'\n') + u'\n' + r.err));
        QVERIFY(writeList("1,anna@quorvale.test\r\n2,bert@quorvale.test\r\n"));
        for (int attempt = 0; attempt < 2; ++attempt) {
            r = cli.run(QStringList{u"run"_s, u"--yes"_s, u"--resend-bounced"_s} + mailing);
            QVERIFY2(attempt == 1 || r.exitCode == 0, qPrintable(r.out.join(u'\n') + u'\n' + r.err));
        }
        QVERIFY2(postfix.waitForMail(u"bert"_s, 1), postfix.log().constData());
        QTest::qWait(2000); // a second message, were one sent, would have been delivered by now
        QCOMPARE(postfix.inbox(u"bert"_s).size(), 1);
        QCOMPARE(postfix.inbox(u"anna"_s).size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestQueueRun)
#include "tst_queuerun.moc"
