// Faults of a real SMTP server on 127.0.0.1, one table run over plain SMTP, implicit TLS and required
// STARTTLS: refusals, lost connections, silent servers, bad certificates, tricky message content and
// injection attempts. Every case also checks the server's side: what it received, over one connection,
// with no command repeated, nothing sensitive in clear and the password in no error text.

#include "mail/smtpmailer.h"
#include "run/printer.h"
#include "support/silentlistener.h"
#include "support/smtpfixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <tuple>

using namespace Qt::StringLiterals;
using namespace quorvale;
using quorvale::test::ReceivedMessage;
using quorvale::test::SilentListener;
using quorvale::test::SmtpServer;

namespace {

const QString kPassword = u"Pa55-w0rd!xyz"_s;
const QString kRecipient = u"client@example.org"_s;
const QString kInjected = u"injected@example.net"_s;

enum class Expect
{
    Sent,
    Refused, ///< the server or the connection failed the send
    NotSent, ///< refused before the server was contacted at all
    Aborted,
};
const QString kMayHaveBeenDelivered = u"may have been delivered"_s;
const QString kNotListening = u"not-listening"_s;     ///< a fault: the server is gone before the send
const QString kSilentListener = u"silent-listener"_s; ///< a fault: a listener that never answers

/// One fault: how the server misbehaves, what the send must make of it, and what to send.
struct FaultCase
{
    QString fault{}; ///< as SmtpServer takes it, kNotListening or kSilentListener
    Expect expect = Expect::Refused;
    QString errorPart{}; ///< part of the error text (Refused, NotSent)
    QString user{};      ///< the user name sent when not the right one
    QString password{};  ///< the password sent when not the right one
    SmtpServer::Certificate certificate = SmtpServer::Certificate::Trusted;
    bool trustTestCa = true; ///< CURL_CA_BUNDLE names the test CA
    bool requireTls = false; ///< AuthType 1 whatever the server offers
    int timeoutSeconds = 30;
    int abortAfterMs = -1; ///< request an abort this long after the send starts
    QString recipient = kRecipient;
    QString sender = u"sender@example.com"_s;
    QString subject = u"Your documents"_s;
    QString body = u"Dear client,\r\nplease find your documents attached."_s;
    QString expectedBody{};   ///< when empty: body
    QString attachmentName{}; ///< empty: no attachment
    qsizetype attachmentSize = 64;
    bool injection = false; ///< an injection attempt: counted in the summary
};

enum Mode
{
    Plain = 1,
    Implicit = 2,
    StartTls = 4,
    AllModes = 7,
    TlsModes = 6
};

QByteArray attachmentBytes(qsizetype size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = char((i * 7919 + 13) & 0xff);
    return data;
}

/// Where `raw` has a header line starting with `name` (injected headers would show up so).
bool hasHeaderLine(const QByteArray &raw, const QByteArray &name)
{
    const QByteArray headers = raw.left(raw.indexOf("\r\n\r\n") + 2);
    return headers.startsWith(name) || headers.contains(QByteArray("\n" + name));
}

/// Every line end of `data` is CR LF: no bare CR, no bare LF.
bool onlyCrLf(const QByteArray &data)
{
    for (qsizetype i = 0; i < data.size(); ++i) {
        if (data[i] == '\r' && (i + 1 == data.size() || data[i + 1] != '\n'))
            return false;
        if (data[i] == '\n' && (i == 0 || data[i - 1] != '\r'))
            return false;
    }
    return true;
}

/// The password as it could leak: as typed, or in the base64 of an AUTH PLAIN or LOGIN exchange.
QStringList passwordForms(const QString &user, const QString &password)
{
    return {password, QString::fromLatin1(password.toUtf8().toBase64()),
            QString::fromLatin1(QByteArray('\0' + user.toUtf8() + '\0' + password.toUtf8()).toBase64())};
}

int injectionsTried = 0;
int injectionsReached = 0;
qint64 slowestAbortMs = 0;

} // namespace

Q_DECLARE_METATYPE(FaultCase)

class TestFaultMatrix : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void matrix_data();
    void matrix();
    void printFileStartingWithDash_data();
    void printFileStartingWithDash();
    void cleanupTestCase();

private:
    static void addRows(const char *name, const FaultCase &c, int modes);
    std::map<std::pair<int, int>, std::unique_ptr<SmtpServer>> m_servers; ///< by security and certificate
};

void TestFaultMatrix::addRows(const char *name, const FaultCase &c, int modes)
{
    const std::pair<Mode, const char *> all[] = {{Plain, "plain"}, {Implicit, "implicit TLS"}, {StartTls, "STARTTLS"}};
    for (const auto &[mode, modeName] : all) {
        if (modes & mode)
            QTest::addRow("%s / %s", name, modeName) << int(mode) << c;
    }
}

void TestFaultMatrix::matrix_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<FaultCase>("c");

    // Refusals at each step: nothing delivered, what was refused and the server's reply in the
    // error text (never a lost connection).
    const std::pair<const char *, const char *> steps[] = {
        {"MAIL", "the sender"}, {"RCPT", "the recipient"}, {"DATA", "the message"}};
    for (const auto &[verb, what] : steps) {
        for (const char *code : {"451", "554"}) {
            FaultCase c{.fault = u"%1:%2"_s.arg(QLatin1String(verb), QLatin1String(code)),
                        .errorPart = u"the server refused %1%2 %3"_s.arg(QLatin1String(what),
                                                                         code[0] == '4' ? u" for now:"_s : u":"_s,
                                                                         QLatin1String(code))};
            addRows(qPrintable(u"%1 refused with %2"_s.arg(QLatin1String(verb), QLatin1String(code))), c, AllModes);
        }
    }
    addRows("wrong password", {.errorPart = u"user name or password"_s, .password = u"Wr0ng-pa55"_s}, AllModes);
    addRows("nothing listening", {.fault = kNotListening, .errorPart = u"Could not connect"_s}, Plain);
    addRows("silent during the TLS handshake, timeout",
            {.fault = kSilentListener, .errorPart = u"did not answer in time"_s, .timeoutSeconds = 1}, Implicit);
    addRows("silent during the TLS handshake, abort",
            {.fault = kSilentListener, .expect = Expect::Aborted, .timeoutSeconds = 3600, .abortAfterMs = 300},
            Implicit);
    addRows("silent during the TLS handshake, timeout",
            {.fault = u"stall:handshake"_s, .errorPart = u"did not answer in time"_s, .timeoutSeconds = 1}, StartTls);
    addRows("silent during the TLS handshake, abort",
            {.fault = u"stall:handshake"_s, .expect = Expect::Aborted, .timeoutSeconds = 3600, .abortAfterMs = 300},
            StartTls);
    addRows("SIZE exceeded",
            {.fault = u"size:2000"_s, .errorPart = u"552"_s, .attachmentName = u"scan.pdf"_s, .attachmentSize = 4000},
            AllModes);

    // A lost connection, before and after the final ".": never reported as sent.
    addRows("closed during the content",
            {.fault = u"close:DATA"_s,
             .errorPart = u"connection"_s,
             .attachmentName = u"scan.pdf"_s,
             .attachmentSize = 16 * 1024 * 1024},
            AllModes);
    // After the final dot the server may have delivered the message: the error text says so.
    addRows("closed after the final dot", {.fault = u"close:DOT"_s, .errorPart = kMayHaveBeenDelivered}, AllModes);

    // Once the server accepted the message it was sent, whatever happens to the QUIT after it:
    // reporting a failure would make the user send it twice.
    addRows("closed at QUIT", {.fault = u"close:QUIT"_s, .expect = Expect::Sent}, AllModes);
    addRows("QUIT refused with 421", {.fault = u"QUIT:421"_s, .expect = Expect::Sent}, AllModes);
    addRows("silent at QUIT, timeout", {.fault = u"stall:QUIT"_s, .expect = Expect::Sent, .timeoutSeconds = 1},
            AllModes);
    addRows("silent at QUIT, abort",
            {.fault = u"stall:QUIT"_s, .expect = Expect::Sent, .timeoutSeconds = 3600, .abortAfterMs = 300}, AllModes);

    // A silent server: the per-step timeout ends the send; an abort ends it at once.
    // Silent after the final dot, the server may have delivered the message.
    const std::tuple<const char *, const char *, QString> silences[] = {
        {"stall:greeting", "greeting", u"did not answer in time"_s},
        {"stall:AUTH", "AUTH", u"did not answer in time"_s},
        {"stall:MAIL", "MAIL after AUTH", u"did not answer in time"_s},
        {"stall:DATA", "final dot", kMayHaveBeenDelivered}};
    for (const auto &[fault, phase, error] : silences) {
        addRows(qPrintable(u"silent at %1, timeout"_s.arg(QLatin1String(phase))),
                {.fault = QLatin1String(fault), .errorPart = error, .timeoutSeconds = 1}, AllModes);
        addRows(qPrintable(u"silent at %1, abort"_s.arg(QLatin1String(phase))),
                {.fault = QLatin1String(fault), .expect = Expect::Aborted, .timeoutSeconds = 3600, .abortAfterMs = 300},
                AllModes);
    }

    // Login failures; the refusal echoes the AUTH line, which carries the login in base64.
    addRows("AUTH refused with 535", {.fault = u"AUTH:535"_s, .errorPart = u"535"_s}, AllModes);
    addRows("AUTH answered with garbage",
            {.fault = u"garbage:AUTH"_s, .errorPart = u"did not answer in time"_s, .timeoutSeconds = 1}, AllModes);

    // TLS required but not to be had: nothing goes in clear.
    addRows("STARTTLS not offered", {.errorPart = u"STARTTLS"_s, .requireTls = true}, Plain);
    addRows("STARTTLS refused with 454", {.fault = u"STARTTLS:454"_s, .errorPart = u"secure"_s}, StartTls);
    // Replies that arrive in clear before the handshake are never taken as the server's answers.
    addRows("replies pipelined before the handshake", {.fault = u"pipeline:STARTTLS"_s, .errorPart = u"reply"_s},
            StartTls);
    addRows("certificate for another host",
            {.errorPart = u"certificate"_s, .certificate = SmtpServer::Certificate::WrongHost}, TlsModes);
    addRows("expired certificate", {.errorPart = u"certificate"_s, .certificate = SmtpServer::Certificate::Expired},
            TlsModes);
    addRows("self-signed certificate, no CA bundle",
            {.errorPart = u"certificate"_s, .certificate = SmtpServer::Certificate::SelfSigned, .trustTestCa = false},
            TlsModes);

    // Message content that must arrive intact: dot lines stuffed, every line end CR LF.
    addRows("lines starting with a dot", {.expect = Expect::Sent, .body = u".\r\n..\r\n.hidden\r\n. \r\nend\r\n."_s},
            AllModes);
    addRows(
        "bare LF",
        {.expect = Expect::Sent, .body = u"one\ntwo\n.\n\nfive"_s, .expectedBody = u"one\r\ntwo\r\n.\r\n\r\nfive"_s},
        AllModes);
    addRows(
        "bare CR",
        {.expect = Expect::Sent, .body = u"one\rtwo\r.\r\rfive"_s, .expectedBody = u"one\r\ntwo\r\n.\r\n\r\nfive"_s},
        AllModes);
    const std::pair<const char *, QString> smugglers[] = {{"smuggling CR LF . CR LF", u"\r\n.\r\n"_s},
                                                          {"smuggling LF . LF", u"\n.\n"_s},
                                                          {"smuggling LF . CR LF", u"\n.\r\n"_s},
                                                          {"smuggling CR . CR", u"\r.\r"_s}};
    for (const auto &[name, end] : smugglers) {
        const QString smuggled =
            u"MAIL FROM:<%1>\r\nRCPT TO:<%1>\r\nDATA\r\nX-Injected: 1\r\n\r\nsmuggled"_s.arg(kInjected);
        addRows(name,
                {.expect = Expect::Sent,
                 .body = u"hello"_s + end + smuggled,
                 .expectedBody = u"hello\r\n.\r\n"_s + smuggled,
                 .injection = true},
                Plain);
    }

    // Attachment names with characters that need quoting or encoding: the name arrives as it is.
    for (const QString &name :
         {u"say \"hi\".pdf"_s, u"back\\slash\\\".pdf"_s, u"a\";filename=\"evil.exe"_s, u"line\r\nX-Injected: 1.pdf"_s,
          u"line\nX-Injected: 1.pdf"_s, u"line\rX-Injected: 1.pdf"_s, u"Grüße 日本 \"Müller\".pdf"_s}) {
        FaultCase c{.expect = Expect::Sent, .attachmentName = name, .injection = true};
        addRows(qPrintable(u"attachment %1"_s.arg(QString(name).replace(u'\r', u"<CR>"_s).replace(u'\n', u"<LF>"_s))),
                c, Plain);
    }

    // Line breaks in envelope or header text are refused before anything is sent.
    const QString header = u"X-Injected: 1"_s;
    const QString recipient = u"recipient"_s, sender = u"sender"_s, subject = u"subject"_s;
    const std::pair<const char *, FaultCase> refused[] = {
        {"recipient with RCPT", {.errorPart = recipient, .recipient = kRecipient + u">\r\nRCPT TO:<"_s + kInjected}},
        {"recipient with header", {.errorPart = recipient, .recipient = kRecipient + u"\n"_s + header}},
        {"recipient with parameter", {.errorPart = recipient, .recipient = kRecipient + u"> NOTIFY=NEVER"_s}},
        {"sender with RCPT", {.errorPart = sender, .sender = u"sender@example.com\rRCPT TO:<%1>"_s.arg(kInjected)}},
        {"subject with CR LF", {.errorPart = subject, .subject = u"Hi\r\n"_s + header}},
        {"subject with LF", {.errorPart = subject, .subject = u"Hi\n"_s + header}},
        {"subject with CR", {.errorPart = subject, .subject = u"Hi\r"_s + header}},
    };
    // The login goes base64-encoded; line breaks in it only make it wrong.
    const QString rcpt = u"\r\nRCPT TO:<%1>"_s.arg(kInjected);
    addRows("user name with RCPT",
            {.errorPart = u"user name or password"_s, .user = u"user"_s + rcpt, .injection = true}, Plain);
    addRows("password with RCPT",
            {.errorPart = u"user name or password"_s, .password = kPassword + rcpt, .injection = true}, Plain);
    for (auto [name, c] : refused) {
        c.expect = Expect::NotSent;
        c.injection = true;
        addRows(name, c, Plain);
    }
}

void TestFaultMatrix::matrix()
{
    QFETCH(int, mode);
    QFETCH(FaultCase, c);
    const auto security = mode == Plain      ? SmtpServer::Security::Plain
                          : mode == Implicit ? SmtpServer::Security::ImplicitTls
                                             : SmtpServer::Security::StartTls;
    // Starting a server takes a while, so cases share one per security and certificate. The cases
    // without a working server get a stopped one: its port is free, nothing answers there; or a
    // listener that takes the connection and never says a word (nor does a TLS handshake).
    const bool listening = c.fault != kNotListening && c.fault != kSilentListener;
    std::unique_ptr<SmtpServer> own;
    auto &shared = m_servers[{int(security), int(c.certificate)}];
    if (listening && (!shared || !shared->isRunning())) {
        shared = std::make_unique<SmtpServer>(
            SmtpServer::Options{.security = security, .password = kPassword, .certificate = c.certificate});
    }
    if (!listening)
        own = std::make_unique<SmtpServer>(SmtpServer::Options{.security = security, .password = kPassword});
    SmtpServer &server = listening ? *shared : *own;
    QVERIFY(server.isRunning());
    server.reset(c.fault);
    AppSettings settings = server.settings();
    settings.EmailFrom = c.sender;
    if (!c.user.isEmpty())
        settings.UserName = c.user;
    if (!c.password.isEmpty())
        settings.Password = c.password;
    if (c.requireTls)
        settings.AuthType = 1;
    std::optional<SilentListener> silent;
    if (c.fault == kSilentListener) {
        QVERIFY(silent.emplace().port() != 0);
        settings.SSLport = QString::number(silent->port());
    }
    MailerOptions options;
    if (c.trustTestCa)
        options.caBundle = server.caFile();
    if (mode == Implicit)
        options.implicitTlsPort = settings.SSLport.toInt();
    if (!listening)
        own.reset();

    QTemporaryDir dir;
    QString path;
    const QByteArray attachment = attachmentBytes(c.attachmentSize);
    if (!c.attachmentName.isEmpty()) {
        path = dir.filePath(c.attachmentName);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(attachment) == attachment.size());
    }

    SmtpMailer mailer({}, {}, options);
    MailServer mailServer = mailServerFrom(settings);
    mailServer.timeoutSeconds = c.timeoutSeconds;
    QElapsedTimer clock;
    std::atomic<qint64> abortedAt{-1};
    SendCallbacks callbacks;
    callbacks.aborted = [&] {
        if (c.abortAfterMs < 0 || clock.elapsed() < c.abortAfterMs)
            return false;
        qint64 none = -1;
        abortedAt.compare_exchange_strong(none, clock.elapsed());
        return true;
    };
    clock.start();
    const SendResult result =
        mailer.send({c.recipient, path, c.subject, c.body, {}, settings.EmailFrom}, mailServer, callbacks);
    const qint64 returnedAt = clock.elapsed();
    const QString &errors = result.errorText;
    QVERIFY(result.status != SendStatus::NotAttempted);

    for (const QString &form : passwordForms(settings.UserName, settings.Password))
        QVERIFY2(!errors.contains(form), qPrintable(errors));
    if (!listening) {
        QVERIFY(!result.sent());
        QVERIFY2(errors.contains(c.expect == Expect::Aborted ? u"The send was aborted."_s : c.errorPart),
                 qPrintable(errors));
        if (c.expect == Expect::Aborted)
            slowestAbortMs = qMax(slowestAbortMs, returnedAt - abortedAt.load());
        return;
    }

    // The outcome as the user sees it.
    const QList<ReceivedMessage> messages = server.messages();
    switch (c.expect) {
    case Expect::Sent:
        QVERIFY2(result.sent(), qPrintable(errors));
        QCOMPARE(messages.size(), 1);
        break;
    case Expect::Refused:
    case Expect::NotSent: {
        // A failure before the message (no answer, no secure connection, a refused login) fails
        // every message alike: the run is told to stop rather than try the next client. A refused
        // password always is.
        if (c.errorPart == kMayHaveBeenDelivered)
            QCOMPARE(result.status, SendStatus::MaybeDelivered);
        else if (c.errorPart == u"user name or password"_s)
            QCOMPARE(result.status, SendStatus::ServerUnusable);
        else
            QVERIFY(result.status == SendStatus::Refused || result.status == SendStatus::ServerUnusable);
        if (result.status == SendStatus::ServerUnusable)
            QVERIFY2(server.commands().filter(u"MAIL FROM"_s, Qt::CaseInsensitive).isEmpty(),
                     qPrintable(server.commands().join(u' ')));
        QCOMPARE(result.stopReason.contains(u"Check Setup, then press Start"_s),
                 result.status == SendStatus::ServerUnusable);
        QVERIFY2(errors.contains(c.errorPart), qPrintable(errors));
        QVERIFY2(errors.contains(kMayHaveBeenDelivered) == (c.errorPart == kMayHaveBeenDelivered), qPrintable(errors));
        QVERIFY(messages.isEmpty());
        if (c.expect == Expect::NotSent)
            QVERIFY2(server.commands().isEmpty(), qPrintable(server.commands().join(u' ')));
        break;
    }
    case Expect::Aborted:
        // Aborted once the whole message was handed over, it may have arrived all the same.
        QCOMPARE(result.status, c.fault == u"stall:DATA"_s ? SendStatus::MaybeDelivered : SendStatus::NotSentAborted);
        QCOMPARE(errors, u"The send was aborted."_s);
        QVERIFY(abortedAt.load() >= 0);
        slowestAbortMs = qMax(slowestAbortMs, returnedAt - abortedAt.load());
        QVERIFY(messages.isEmpty());
        break;
    }

    // The server's side: one connection, no command twice, nothing sensitive in clear.
    const QStringList commands = server.commands();
    QVERIFY2(commands.count(u"CONNECT"_s) <= 1, qPrintable(commands.join(u' ')));
    for (const QString &verb : {u"AUTH"_s, u"MAIL"_s, u"RCPT"_s, u"DATA"_s, u"STARTTLS"_s})
        QVERIFY2(commands.count(verb) <= 1, qPrintable(commands.join(u' ')));
    for (const QString &verb : commands) {
        QVERIFY2(QStringList({u"CONNECT"_s, u"EHLO"_s, u"HELO"_s, u"STARTTLS"_s, u"AUTH"_s, u"MAIL"_s, u"RCPT"_s,
                              u"DATA"_s, u"QUIT"_s})
                     .contains(verb),
                 qPrintable(commands.join(u' ')));
    }
    if (mode != Plain || c.requireTls) {
        for (const QString &verb : server.clearCommands())
            QVERIFY2(verb == u"EHLO" || verb == u"STARTTLS" || verb == u"QUIT", qPrintable(verb));
    }

    bool reached = false;
    for (const ReceivedMessage &m : messages) {
        reached = reached || m.mailFrom.contains(kInjected) || m.rcptTo != QStringList{kRecipient} ||
                  hasHeaderLine(m.raw, "X-Injected");
        QCOMPARE(m.rcptTo, QStringList{kRecipient});
        QVERIFY(!hasHeaderLine(m.raw, "X-Injected"));
        QVERIFY2(m.parseDefects.isEmpty(), qPrintable(m.parseDefects.join(u"; ")));
        QCOMPARE(m.subject, c.subject);
        const QString body = c.expectedBody.isEmpty() ? c.body : c.expectedBody;
        QCOMPARE(m.body, c.attachmentName.isEmpty() ? test::asSingleTextPart(body) : body);
        // On the wire: CR LF only, every line starting with a dot stuffed.
        QVERIFY(onlyCrLf(m.wire));
        QCOMPARE(m.wire.count("\r\n.."), m.wire.count("\r\n."));
        QCOMPARE(QByteArray(m.wire).replace("\r\n..", "\r\n."), m.raw);
        // One text part on its own, or the text and the file as multipart/mixed.
        if (!c.attachmentName.isEmpty()) {
            QVERIFY(hasHeaderLine(m.raw, "Content-Type: multipart/mixed"));
            QCOMPARE(m.attachments.size(), 1);
            QCOMPARE(m.attachments.first().fileName, c.attachmentName);
            QVERIFY(m.attachments.first().data == attachment);
        } else {
            QVERIFY(hasHeaderLine(m.raw, "Content-Type: text/plain; charset=UTF-8\r\n"));
            QVERIFY(hasHeaderLine(m.raw, "Content-Transfer-Encoding: quoted-printable\r\n"));
            QVERIFY(!m.raw.contains("multipart"));
            QVERIFY(m.attachments.isEmpty());
        }
    }
    reached = reached || commands.count(u"MAIL"_s) > 1 || commands.count(u"RCPT"_s) > 1;
    if (c.injection) {
        ++injectionsTried;
        injectionsReached += reached ? 1 : 0;
    }
    QVERIFY(!reached);
}

void TestFaultMatrix::printFileStartingWithDash_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("dash") << u"-n 9 invoice.pdf"_s;
    QTest::newRow("double dash") << u"--help.pdf"_s;
    QTest::newRow("lone dash") << u"-"_s;
}

void TestFaultMatrix::printFileStartingWithDash()
{
    // The print command must get a path that no program takes for an option, naming the same file.
    QFETCH(QString, name);
    QTemporaryDir dir;
    const QString script = dir.filePath(u"record.sh"_s);
    const QString record = dir.filePath(u"args.txt"_s);
    QFile scriptFile(script);
    QVERIFY(scriptFile.open(QIODevice::WriteOnly));
    scriptFile.write("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$(dirname \"$0\")/args.txt\"\n");
    scriptFile.close();
    QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QFile document(dir.filePath(name));
    QVERIFY(document.open(QIODevice::WriteOnly));
    document.write("document");
    document.close();

    const QString cwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    CommandPrinter printer(u"'%1' -P office"_s.arg(script));
    QString error;
    const bool printed = printer.printDocument(name, &error);
    QVERIFY(QDir::setCurrent(cwd));
    QVERIFY2(printed, qPrintable(error));

    QFile args(record);
    QVERIFY(args.open(QIODevice::ReadOnly));
    const QStringList words = QString::fromUtf8(args.readAll()).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(words.size(), 3);
    QCOMPARE(words.mid(0, 2), (QStringList{u"-P"_s, u"office"_s}));
    QVERIFY2(!words.last().startsWith(u'-'), qPrintable(words.last()));
    QCOMPARE(QFileInfo(dir.filePath(words.last())).canonicalFilePath(), QFileInfo(document).canonicalFilePath());
}

void TestFaultMatrix::cleanupTestCase()
{
    m_servers.clear();
    qInfo("injection payloads tried: %d, reached the server: %d; slowest abort: %lld ms", injectionsTried,
          injectionsReached, slowestAbortMs);
}

QTEST_GUILESS_MAIN(TestFaultMatrix)
#include "tst_faultmatrix.moc"
