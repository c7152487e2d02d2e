// Fields of the client's line in the subject and the body: what each client receives, the preview of
// a client's message and "send to me", through the quorvale program against a real SMTP server;
// what stops a run before its question, the check's flag and a resend, through the same commands in
// this process.

#include "mail/messagebuilder.h"
#include "support/inprocesscli.h"
#include "support/programhome.h"
#include "support/smtpfixture.h"

#include <QCryptographicHash>
#include <QHash>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace quorvale;
using quorvale::test::InProcessCli;
using quorvale::test::journalLines;
using quorvale::test::ProgramHome;
using quorvale::test::SmtpServer;

namespace {

QString normalized(QString text)
{
    return text.replace(u"\r\n"_s, u"\n"_s);
}

QString sha256(const QString &text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}

// Two clients; the third and fourth fields hold non-ASCII text.
const QByteArray kRows = "42,anna@example.org,Anna Sm\xc3\xb8rg\xc3\xa5s,M\xc3\xa4rz\r\n"
                         "7,bert@example.org,Bert,April\r\n";

} // namespace

class TestFields : public QObject
{
    Q_OBJECT

    std::unique_ptr<ProgramHome> m_home;
    std::unique_ptr<InProcessCli> m_cli; ///< the same home, for commands run in this process

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<ProgramHome>();
        m_cli = std::make_unique<InProcessCli>(m_home->root());
    }

    void eachClientGetsItsOwnFields_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("header");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("delimiter"); // empty: the default, a comma
        QTest::newRow("headerless file") << kRows << false << u"Rechnung {{4}} für {{3}}"_s
                                         << u"Liebe(r) {{3}},\nIhre Nummer {{id}} ({{email}}); {{\"{{\"}}x}} bleibt."_s
                                         << QString();
        QTest::newRow("header file") << QByteArray("ID, Email ,Name,Monat\r\n" + kRows) << true
                                     << u"Rechnung {{monat}} für {{ Name }}"_s
                                     << u"Liebe(r) {{NAME}},\nIhre Nummer {{id}} ({{Email}}); {{\"{{\"}}x}} bleibt."_s
                                     << QString();
        QTest::newRow("semicolons, LF line ends")
            << QByteArray("ID;Email;Name;Monat\n" + QByteArray(kRows).replace(',', ';').replace("\r\n", "\n")) << true
            << u"Rechnung {{monat}} für {{ Name }}"_s
            << u"Liebe(r) {{NAME}},\nIhre Nummer {{id}} ({{Email}}); {{\"{{\"}}x}} bleibt."_s << u";"_s;
    }
    void eachClientGetsItsOwnFields()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, header);
        QFETCH(QString, subject);
        QFETCH(QString, body);
        QFETCH(QString, delimiter);
        SmtpServer server;
        QVERIFY(server.isRunning());
        QVERIFY(m_home->configure(server));
        QVERIFY(m_home->writeFile(u"list.csv"_s, file));
        QStringList args{u"--csv"_s, m_home->path(u"list.csv"_s), u"--subject"_s, subject, u"--body"_s, body};
        if (header)
            args << u"--header"_s;
        if (!delimiter.isEmpty())
            args << u"--delimiter"_s << delimiter;

        const ProgramHome::Result r = m_home->run(QStringList{u"run"_s, u"--yes"_s} + args);
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(r.out.contains(u"Clients found - 2"_s));
        QCOMPARE(r.out.last(), u"Processing Complete"_s);

        const QStringList subjects{u"Rechnung März für Anna Smørgås"_s, u"Rechnung April für Bert"_s};
        const QStringList bodies{u"Liebe(r) Anna Smørgås,\nIhre Nummer 42 (anna@example.org); {{x}} bleibt.\n"_s,
                                 u"Liebe(r) Bert,\nIhre Nummer 7 (bert@example.org); {{x}} bleibt.\n"_s};
        QVERIFY(server.waitForMessages(2, 10000));
        const QList<test::ReceivedMessage> messages = server.messages();
        QCOMPARE(messages.size(), 2);
        const QList<QStringList> journalled = journalLines(m_home->journalFolder(), u"message"_s);
        QCOMPARE(journalled.size(), 2);
        // Each message carries its own Message-ID, recorded with the attempt that sent it.
        const QList<QStringList> attempts = journalLines(m_home->journalFolder(), u"attempting"_s);
        QCOMPARE(attempts.size(), 2);
        QCOMPARE(messages.at(0).messageId, attempts.at(0).value(8));
        QCOMPARE(messages.at(1).messageId, attempts.at(1).value(8));
        QVERIFY(messages.at(0).messageId != messages.at(1).messageId);
        for (int i = 0; i < 2; ++i) {
            const test::ReceivedMessage &m = messages.at(i);
            QCOMPARE(m.subject, subjects.at(i));
            QCOMPARE(normalized(m.body), bodies.at(i));
            QVERIFY(m.parseDefects.isEmpty());
            // Non-ASCII reaches the wire encoded: the subject as RFC 2047, the body quoted-printable.
            QVERIFY2(m.raw.contains("\r\nSubject: =?UTF-8?"), m.raw.constData());
            QVERIFY(m.raw.contains("Content-Transfer-Encoding: quoted-printable"));
            QCOMPARE(m.raw.contains("Sm=C3=B8rg=C3=A5s"), i == 0);
            // The journal holds the subject and the body's hash as sent (the body as the program
            // keeps it, with CR LF line breaks).
            QCOMPARE(journalled.at(i).value(4), m.rcptTo.value(0));
            QCOMPARE(journalled.at(i).value(8), subjects.at(i));
            QCOMPARE(journalled.at(i).value(7), sha256(QString(bodies.at(i)).chopped(1).replace(u"\n"_s, u"\r\n"_s)));
        }

        // The preview of a client is what that client received.
        const ProgramHome::Result shown = m_home->run(QStringList{u"preview"_s, u"--client"_s, u"42"_s} + args);
        QVERIFY2(shown.exitCode == 0, qPrintable(shown.err));
        QCOMPARE(shown.out, (QStringList{u"From: "_s + server.settings().EmailFrom, u"To: anna@example.org"_s,
                                         u"Subject: "_s + messages.at(0).subject, shown.out.value(3), QString()} +
                             normalized(messages.at(0).body).chopped(1).split(u'\n') +
                             QStringList{u"Attachment: none"_s}));
        // The form of the Message-ID a run gives the message, in the sender's domain.
        QVERIFY2(shown.out.value(3).startsWith(u"Message-ID: <"_s) &&
                     shown.out.value(3).endsWith(u"@example.com> (a new one for each run)"_s),
                 qPrintable(shown.out.value(3)));
        const ProgramHome::Result byLine =
            m_home->run(QStringList{u"preview"_s, u"--line"_s, header ? u"3"_s : u"2"_s} + args);
        QCOMPARE(byLine.out.value(2), u"Subject: "_s + messages.at(1).subject);
    }

    void somethingIsWrongWithTheFields_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("err");
        QTest::addColumn<int>("sent");
        const QString empty = u"1 client to be sent to has an empty field that the message uses ({{3}}): their "
                              "message has nothing where the field is."_s;
        // What the run says before its question and after its end.
        const QString summary = u"E-mails to send: 2\nSubject: {{3}}\nAttachment: none\nWarning: the message body is empty.\n"_s;
        const QString emptyWarning = u"Warning: 1 client has an empty field the message uses\n"_s;
        const QString counts = u"Sent 2, refused 0, outcome unknown 0, no document 0, printed 0, print errors 0, "
                               "skipped on resume 0\n"_s;
        // Line 2's third field is blank; line 3 has no address and is printed, never asked about.
        QTest::newRow("unknown column") << QStringList{u"--header"_s, u"--subject"_s, u"{{Nmae}}"_s, u"--yes"_s}
                                        << QByteArray() << 2
                                        << u"The message uses {{Nmae}}, which is not a column of the client file.\n"_s
                                        << 0;
        // The first line holds the name, but is not said to hold column names: say which box to tick.
        QTest::newRow("column name on a first line not said to hold them")
            << QStringList{u"--subject"_s, u"Dear {{ann}}"_s, u"--yes"_s} << QByteArray() << 2
            << u"The message uses {{ann}}, which is not a column of the client file. The first line of the file holds "
               "\"ann\": if that line holds the column names, tick \"First line holds column names\" (--header on "
               "the command line).\n"_s
            << 0;
        QTest::newRow("field beyond every line") << QStringList{u"--body"_s, u"x {{9}}"_s, u"--yes"_s} << QByteArray()
                                                 << 2
                                                 << u"The message uses {{9}}, which is not a column of the client file.\n"_s
                                                 << 0;
        QTest::newRow("empty field, --yes") << QStringList{u"--subject"_s, u"{{3}}"_s, u"--yes"_s} << QByteArray() << 2
                                            << empty + u" Nothing was sent.\n"_s << 0;
        QTest::newRow("empty field, answered no") << QStringList{u"--subject"_s, u"{{3}}"_s} << QByteArray("n\n") << 2
                                                  << empty + u"\n  2 b@example.org\nSend to them anyway? [y/N] "_s << 0;
        // Skipped: the others are sent to, and the clients passed over are counted.
        QTest::newRow("empty field skipped")
            << QStringList{u"--subject"_s, u"{{3}}"_s, u"--yes"_s, u"--skip-empty-fields"_s} << QByteArray() << 0
            << QString(summary).replace(u"E-mails to send: 2"_s, u"E-mails to send: 1"_s) +
                   u"Sent 1, refused 0, outcome unknown 0, no document 0, printed 0, print errors 0, skipped on resume 0\n"_s
            << 1;
        QTest::newRow("empty field, answered yes")
            << QStringList{u"--subject"_s, u"{{3}}"_s} << QByteArray("y\ny\n") << 0
            << empty + u"\n  2 b@example.org\nSend to them anyway? [y/N] "_s + summary + emptyWarning +
                   u"Are you sure your ready to start processing? [y/N] "_s + counts
            << 2;
        QTest::newRow("empty field allowed") << QStringList{u"--subject"_s, u"{{3}}"_s, u"--yes"_s,
                                                            u"--allow-empty-fields"_s}
                                             << QByteArray() << 0 << summary + emptyWarning + counts << 2;
    }
    void somethingIsWrongWithTheFields()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, input);
        QFETCH(int, exitCode);
        QFETCH(QString, err);
        QFETCH(int, sent);
        QVERIFY(m_cli->configure());
        QVERIFY(m_home->writeFile(u"list.csv"_s, "1,a@example.org,Ann\r\n2,b@example.org,  \r\n3,,Cy\r\n"));
        const InProcessCli::Result r =
            m_cli->run(QStringList{u"run"_s, u"--csv"_s, m_home->path(u"list.csv"_s)} + args, input);
        QCOMPARE(r.exitCode, exitCode);
        QCOMPARE(QString(r.err).remove(QRegularExpression(u"quorvale: warning: the authentication type[^\n]*\n"_s)), err);
        QCOMPARE(m_cli->mailer.messages().size(), sent);
        QCOMPARE(QDir(m_home->journalFolder()).entryList({u"run-*.csv"_s}).size(), sent > 0 ? 1 : 0);
    }

    void checkFlagsEmptyFieldsAndUnknownColumns()
    {
        QVERIFY(m_home->writeFile(u"list.csv"_s, "Id,Mail,Name\r\n1,a@example.org,Ann\r\n2,b@example.org,\r\n3,,\r\n"));
        const InProcessCli::Result r =
            m_cli->run({u"check"_s, u"--csv"_s, m_home->path(u"list.csv"_s), u"--header"_s, u"--subject"_s,
                        u"{{name}} {{Town}}"_s, u"--body"_s, u"Dear {{name}}"_s});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.out.contains(u"Flagged rows: 1 (empty field used by the message: 1)"_s), qPrintable(r.out.join(u'\n')));
        QVERIFY(r.out.contains(u"The message uses {{Town}}, which is not a column of the client file."_s));
        QVERIFY(r.out.contains(u"  2\t1\ta@example.org\tSend"_s));
        QVERIFY(r.out.contains(u"! 3\t2\tb@example.org\tSend\tempty field used by the message ({{name}})"_s));
        QVERIFY(r.out.contains(u"  4\t3\t\tNothing"_s));
    }

    void lineBreakInAFieldEndsTheLine()
    {
        // A lone LF ends a line in a file of CR LF too: the rest of the field is a line without a
        // second field, and the file is refused before anything is sent.
        QVERIFY(m_cli->configure());
        QVERIFY(m_home->writeFile(u"list.csv"_s, "1,a@example.org,one\r\n2,b@example.org,two\nlines\r\n"));
        const InProcessCli::Result r = m_cli->run({u"run"_s, u"--csv"_s, m_home->path(u"list.csv"_s), u"--subject"_s,
                                                   u"About {{3}}"_s, u"--body"_s, u"Text: {{3}}."_s, u"--yes"_s});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(u"at line 3"_s), qPrintable(r.err));
        QVERIFY(m_cli->mailer.attempts().isEmpty());
    }

    void messageWithoutFieldsIsByteIdentical()
    {
        // Text without a placeholder, however close it comes to one, goes out as it was typed.
        const QString subject = u"Ihre Unterlagen }} { { {x}"_s;
        const QString body = u"Grüße,\n{ {id} } und }}{ bleiben.\n.Punkt"_s;
        SmtpServer server;
        QVERIFY(m_home->configure(server));
        QVERIFY(m_home->writeFile(u"list.csv"_s, "1,a@example.org,Ann\r\n"));
        const ProgramHome::Result r = m_home->run({u"run"_s, u"--csv"_s, m_home->path(u"list.csv"_s), u"--subject"_s,
                                                   subject, u"--body"_s, body, u"--yes"_s});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(server.waitForMessages(1, 10000));
        MailMessage typed{u"a@example.org"_s, QString(), subject, QString(body).replace(u"\n"_s, u"\r\n"_s)};
        typed.EmailFrom = server.settings().EmailFrom;
        static const QRegularExpression stamps(u"^(Date|Message-ID): [^\\r]*\\r\\n"_s, QRegularExpression::MultilineOption);
        QCOMPARE(QString::fromLatin1(server.messages().first().raw).remove(stamps),
                 QString::fromLatin1(buildMessage(typed).singlePart()).remove(stamps));
        // Such a message adds no line to the journal.
        QVERIFY(journalLines(m_home->journalFolder(), u"message"_s).isEmpty());
    }

    void resendComparesTheMessageAsWritten()
    {
        // The filled subjects differ from client to client; the mailing is the one written.
        QVERIFY(m_cli->configure());
        m_cli->mailer.refused = QStringList{u"b@example.org"_s};
        QVERIFY(m_home->writeFile(u"list.csv"_s, "1,a@example.org,Ann\r\n2,b@example.org,Bob\r\n"));
        const QStringList args{u"run"_s, u"--csv"_s, m_home->path(u"list.csv"_s), u"--subject"_s, u"For {{3}}"_s,
                               u"--body"_s, u"Dear {{3}}"_s, u"--yes"_s};
        QCOMPARE(m_cli->run(args).exitCode, 1);
        m_cli->mailer.refused.clear();
        m_cli->mailer.clear();
        const InProcessCli::Result r = m_cli->run(args + QStringList{u"--retry-failed"_s});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(r.out.contains(u"Clients to resend to - 1"_s));
        QCOMPARE(m_cli->mailer.messages().size(), 1);
        QCOMPARE(m_cli->mailer.messages().first().SubjectLine, u"For Bob"_s);
    }

    void formattedBodyAndSignatureThroughTheProgram_data()
    {
        QTest::addColumn<bool>("formatted");
        QTest::addColumn<bool>("signature");
        QTest::newRow("formatted, signed") << true << true;
        QTest::newRow("formatted, unsigned") << true << false;
        QTest::newRow("plain, signed") << false << true;
    }
    void formattedBodyAndSignatureThroughTheProgram()
    {
        QFETCH(bool, formatted);
        QFETCH(bool, signature);
        SmtpServer server;
        QVERIFY(m_home->configure(server));
        QVERIFY(m_home->writeFile(u"list.csv"_s, "42,anna@example.org,Smith & <Co>\r\n"));
        // The body's picture and the signature's logo carry the same relative name in two folders.
        const QByteArray photo = QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(500, 'p');
        const QByteArray logo = QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(300, 'l');
        QVERIFY(m_home->writeFile(u"mail/pictures/a.png"_s, photo));
        QVERIFY(m_home->writeFile(u"mail/body.html"_s,
                                  "<html><body><p>Dear <b>{{3}}</b>,</p><p><img src=\"pictures/a.png\">"
                                  "<img src=\"https://track.example/t.gif?c={{id}}\"><script>x()</script></p>"
                                  "</body></html>"));
        if (signature) {
            QVERIFY(m_home->writeFile(u"data/Quorvale/pictures/a.png"_s, logo));
            QVERIFY(m_home->writeFile(u"data/Quorvale/Signature.html"_s,
                                      "<p><i>Smith &amp; Partners</i></p><img src=\"pictures/a.png\">"));
        }
        QStringList args{u"--csv"_s, m_home->path(u"list.csv"_s), u"--subject"_s, u"For {{3}}"_s};
        args += formatted ? QStringList{u"--html-file"_s, m_home->path(u"mail/body.html"_s)}
                          : QStringList{u"--body"_s, u"Dear {{3}},"_s};

        const ProgramHome::Result r = m_home->run(QStringList{u"run"_s, u"--yes"_s} + args);
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(server.waitForMessages(1, 10000));
        const test::ReceivedMessage m = server.messages().first();
        QVERIFY2(m.parseDefects.isEmpty(), qPrintable(m.parseDefects.join(u"; ")));
        if (!formatted) {
            QCOMPARE(m.parts.size(), 1);
            QCOMPARE(m.body, u"Dear Smith & <Co>,\r\n\r\nSmith & Partners\r\n"_s);
        } else {
            // Every cid the HTML names is a picture part with exactly the file it was made from.
            static const QRegularExpression cid(u"src=\"cid:([^\"]+)\""_s);
            QHash<QString, QByteArray> pictures;
            for (const test::ReceivedPart &part : m.parts) {
                if (part.contentType == u"image/png"_s)
                    pictures.insert(part.contentId.mid(1, part.contentId.size() - 2), part.data);
            }
            QList<QByteArray> shown;
            for (auto it = cid.globalMatch(m.html); it.hasNext();)
                shown.append(pictures.value(it.next().captured(1)));
            const QList<QByteArray> expected = signature ? QList<QByteArray>{photo, logo} : QList<QByteArray>{photo};
            QCOMPARE(shown, expected);
            QCOMPARE(pictures.size(), shown.size());
            QVERIFY(m.html.contains(u"Dear <b>Smith &amp; &lt;Co&gt;</b>,"_s));
            QVERIFY(!m.html.contains(u"track.example"_s) && !m.html.contains(u"script"_s));
            QCOMPARE(m.html.contains(u"<i>Smith &amp; Partners</i>"_s), signature);
            // The signature stays inside the body element.
            QVERIFY(m.html.indexOf(u"Partners"_s) < m.html.lastIndexOf(u"</body>"_s, -1, Qt::CaseInsensitive));
            QCOMPARE(m.body.contains(u"Smith & Partners"_s), signature);
            QVERIFY(m.body.startsWith(u"Dear Smith & <Co>,"_s));
        }

        // The preview shows the text a reader without formatting gets.
        const ProgramHome::Result shown = m_home->run(QStringList{u"preview"_s, u"--client"_s, u"42"_s} + args);
        QVERIFY2(shown.exitCode == 0, qPrintable(shown.err));
        const QString received = normalized(m.body);
        // From, To, Subject, Message-ID and an empty line come before the body.
        QCOMPARE(shown.out.mid(5, shown.out.size() - 6).join(u'\n') + u'\n',
                 received.endsWith(u'\n') ? received : received + u'\n');
    }

    void sendToMeReachesOnlyTheGivenAddress()
    {
        SmtpServer server;
        QVERIFY(m_home->configure(server));
        QVERIFY(m_home->writeFile(u"clients/list.csv"_s, "42,anna@example.org,Anna\r\n7,bert@example.org,Bert\r\n"));
        QVERIFY(m_home->writeFile(u"clients/Invoice_7.pdf"_s, "%PDF-1.4 bert's invoice"));
        const QStringList args{u"preview"_s, u"--csv"_s, m_home->path(u"clients/list.csv"_s), u"--mode"_s, u"client"_s,
                               u"--subject"_s, u"Invoice for {{3}}"_s, u"--body"_s, u"Dear {{3}}"_s};

        const ProgramHome::Result shown = m_home->run(args + QStringList{u"--client"_s, u"7"_s});
        QCOMPARE(shown.exitCode, 0);
        QCOMPARE(shown.out.last(), u"Attachment: Invoice_7.pdf (23 bytes)"_s);
        QCOMPARE(m_home->run(args + QStringList{u"--client"_s, u"42"_s}).out.last(),
                 u"Attachment: no document found"_s);

        const ProgramHome::Result r = m_home->run(args + QStringList{u"--client"_s, u"7"_s, u"--send-to"_s, u"me@example.net"_s});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QCOMPARE(r.out, QStringList{u"Sent to me@example.net"_s});
        QVERIFY(server.waitForMessages(1, 10000));
        const test::ReceivedMessage m = server.messages().first();
        QCOMPARE(m.rcptTo, QStringList{u"me@example.net"_s});
        QCOMPARE(m.to, u"me@example.net"_s);
        QCOMPARE(m.subject, u"Invoice for Bert"_s);
        QCOMPARE(m.attachments.size(), 1);
        QCOMPARE(m.attachments.first().data, QByteArray("%PDF-1.4 bert's invoice"));
        // A test: no run, no journal; and a client whose message a run would not send is not sent either.
        QVERIFY(!QDir(m_home->journalFolder()).exists() || QDir(m_home->journalFolder()).isEmpty());
        const ProgramHome::Result none =
            m_home->run(args + QStringList{u"--client"_s, u"42"_s, u"--send-to"_s, u"me@example.net"_s});
        QCOMPARE(none.exitCode, 2);
        QVERIFY(none.err.contains(u"not sent: a run would not send this client's message: no document found"_s));
        QCOMPARE(server.messages().size(), 1);

        const ProgramHome::Result missing = m_home->run(args + QStringList{u"--client"_s, u"99"_s});
        QCOMPARE(missing.exitCode, 2);
        QCOMPARE(missing.err, u"quorvale: no client with the ID \"99\" in "_s + m_home->path(u"clients/list.csv"_s) + u'\n');
    }
};

QTEST_GUILESS_MAIN(TestFields)
#include "tst_fields.moc"
