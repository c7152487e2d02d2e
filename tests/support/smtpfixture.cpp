#include "support/smtpfixture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QProcess>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QThread>

using namespace Qt::StringLiterals;

namespace quorvale::test {

namespace {

bool runOpenssl(const QString &folder, const QStringList &arguments)
{
    QProcess openssl;
    openssl.setWorkingDirectory(folder);
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(u"openssl"_s, arguments);
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        qWarning("openssl %s failed: %s", qPrintable(arguments.join(u' ')), openssl.readAll().constData());
        return false;
    }
    return true;
}

/// The CA and server certificate, made once per process and removed when it exits.
struct Certificates
{
    QTemporaryDir dir;
    bool ok = false;
    QString path(const char *name) const { return dir.filePath(QLatin1String(name)); }

    Certificates()
    {
        if (!dir.isValid())
            return;
        QFile ext(path("server.ext"));
        if (!ext.open(QIODevice::WriteOnly))
            return;
        ext.write("subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n"
                  "keyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n");
        ext.close();
        QFile wrongExt(path("wrong.ext"));
        if (!wrongExt.open(QIODevice::WriteOnly))
            return;
        wrongExt.write("subjectAltName=DNS:mail.example.net\nbasicConstraints=CA:FALSE\n"
                       "extendedKeyUsage=serverAuth\n");
        wrongExt.close();
        const QString curve = u"ec_paramgen_curve:prime256v1"_s;
        ok = runOpenssl(dir.path(), {u"req"_s, u"-x509"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s, curve,
                                     u"-nodes"_s, u"-keyout"_s, u"ca.key"_s, u"-out"_s, u"ca.pem"_s,
                                     u"-days"_s, u"30"_s, u"-subj"_s, u"/CN=Quorvale Test CA"_s,
                                     u"-addext"_s, u"basicConstraints=critical,CA:TRUE"_s, u"-addext"_s,
                                     u"keyUsage=critical,keyCertSign,cRLSign"_s})
             && runOpenssl(dir.path(), {u"req"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s, curve, u"-nodes"_s,
                                        u"-keyout"_s, u"server.key"_s, u"-out"_s, u"server.csr"_s, u"-subj"_s,
                                        u"/CN=localhost"_s})
             && runOpenssl(dir.path(), {u"x509"_s, u"-req"_s, u"-in"_s, u"server.csr"_s, u"-CA"_s,
                                        u"ca.pem"_s, u"-CAkey"_s, u"ca.key"_s, u"-CAcreateserial"_s,
                                        u"-out"_s, u"server.pem"_s, u"-days"_s, u"30"_s, u"-extfile"_s,
                                        u"server.ext"_s})
             // The same key for another host, and already expired (valid until yesterday).
             && runOpenssl(dir.path(), {u"x509"_s, u"-req"_s, u"-in"_s, u"server.csr"_s, u"-CA"_s, u"ca.pem"_s,
                                        u"-CAkey"_s, u"ca.key"_s, u"-out"_s, u"wronghost.pem"_s, u"-days"_s,
                                        u"30"_s, u"-extfile"_s, u"wrong.ext"_s})
             && runOpenssl(dir.path(), {u"x509"_s, u"-req"_s, u"-in"_s, u"server.csr"_s, u"-CA"_s, u"ca.pem"_s,
                                        u"-CAkey"_s, u"ca.key"_s, u"-out"_s, u"expired.pem"_s, u"-days"_s,
                                        u"-1"_s, u"-extfile"_s, u"server.ext"_s})
             && runOpenssl(dir.path(), {u"req"_s, u"-x509"_s, u"-key"_s, u"server.key"_s, u"-out"_s,
                                        u"selfsigned.pem"_s, u"-days"_s, u"30"_s, u"-subj"_s, u"/CN=localhost"_s,
                                        u"-addext"_s, u"subjectAltName=IP:127.0.0.1,DNS:localhost"_s});
    }

    QString certificate(SmtpCertificate which) const
    {
        switch (which) {
        case SmtpCertificate::WrongHost:
            return path("wronghost.pem");
        case SmtpCertificate::Expired:
            return path("expired.pem");
        case SmtpCertificate::SelfSigned:
            return path("selfsigned.pem");
        case SmtpCertificate::Trusted:
            break;
        }
        return path("server.pem");
    }
};

const Certificates &certificates()
{
    static Certificates certs;
    return certs;
}

ReceivedMessage parseMessage(const QJsonObject &json)
{
    ReceivedMessage m;
    m.mailFrom = json.value(u"mailFrom").toString();
    for (const QJsonValue &rcpt : json.value(u"rcptTo").toArray())
        m.rcptTo.append(rcpt.toString());
    m.raw = QByteArray::fromBase64(json.value(u"raw").toString().toLatin1());
    m.wire = QByteArray::fromBase64(json.value(u"wire").toString().toLatin1());
    m.from = json.value(u"from").toString();
    m.to = json.value(u"to").toString();
    m.subject = json.value(u"subject").toString();
    m.date = json.value(u"date").toString();
    m.messageId = json.value(u"message-id").toString();
    m.body = json.value(u"body").toString();
    m.replyTo = json.value(u"reply-to").toString();
    m.fromName = json.value(u"fromName").toString();
    m.fromAddress = json.value(u"fromAddress").toString();
    m.html = json.value(u"html").toString();
    for (const QJsonValue &value : json.value(u"parts").toArray()) {
        const QJsonObject p = value.toObject();
        m.parts.append({p.value(u"path").toString(), p.value(u"contentType").toString(),
                        p.value(u"contentId").toString(), p.value(u"disposition").toString(),
                        p.value(u"fileName").toString(),
                        QByteArray::fromBase64(p.value(u"data").toString().toLatin1())});
    }
    for (const QJsonValue &defect : json.value(u"parseDefects").toArray())
        m.parseDefects.append(defect.toString());
    for (const QJsonValue &value : json.value(u"attachments").toArray()) {
        const QJsonObject a = value.toObject();
        m.attachments.append({a.value(u"fileName").toString(), a.value(u"contentType").toString(),
                              QByteArray::fromBase64(a.value(u"data").toString().toLatin1())});
    }
    return m;
}

QStringList readLog(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

QStringList messageFiles(const QString &folder)
{
    return QDir(folder).entryList({u"*.json"_s}, QDir::Files, QDir::Name);
}

} // namespace

QString testCaFile()
{
    return certificates().ok ? certificates().path("ca.pem") : QString();
}

QString testServerCertificate(SmtpCertificate which)
{
    return certificates().ok ? certificates().certificate(which) : QString();
}

QString testServerKey()
{
    return certificates().ok ? certificates().path("server.key") : QString();
}

SmtpServer::SmtpServer(Options options)
    : m_options(std::move(options)), m_dir(std::make_unique<QTemporaryDir>()), m_process(std::make_unique<QProcess>())
{
    QStringList arguments{QString::fromUtf8(QUORVALE_SMTP_SERVER_SCRIPT), u"--dir"_s, m_dir->path(), u"--user"_s,
                          m_options.user, u"--password"_s, m_options.password, u"--fault"_s, m_options.fault};
    if (!m_options.xoauth2TokenFile.isEmpty())
        arguments << u"--xoauth2-token-file"_s << m_options.xoauth2TokenFile;
    if (m_options.security != Security::Plain) {
        if (!certificates().ok)
            return;
        arguments << u"--security"_s << (m_options.security == Security::StartTls ? u"starttls"_s : u"tls"_s)
                  << u"--cert"_s << certificates().certificate(m_options.certificate) << u"--key"_s
                  << certificates().path("server.key");
    }
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->start(u"/usr/bin/python3"_s, arguments);
    if (!m_process->waitForStarted(10000))
        return;
    QDeadlineTimer deadline(15000);
    QByteArray output;
    while (!output.contains('\n') && !deadline.hasExpired()
           && m_process->waitForReadyRead(int(deadline.remainingTime())))
        output += m_process->readAllStandardOutput();
    if (output.startsWith("LISTENING "))
        m_port = quint16(output.mid(10).trimmed().toUInt());
    if (m_port == 0)
        qWarning("SMTP test server did not start: %s", output.constData());
}

SmtpServer::~SmtpServer()
{
    if (m_process->state() != QProcess::NotRunning) {
        m_process->closeWriteChannel();
        if (!m_process->waitForFinished(3000)) {
            m_process->kill();
            m_process->waitForFinished(3000);
        }
    }
}

bool SmtpServer::isRunning() const
{
    return m_port != 0 && m_process->state() == QProcess::Running;
}

quint16 SmtpServer::port() const
{
    return m_port;
}

QString SmtpServer::caFile() const
{
    return certificates().path("ca.pem");
}

AppSettings SmtpServer::settings() const
{
    AppSettings s;
    s.EmailFrom = u"sender@example.com"_s;
    s.SMTPServer = u"127.0.0.1"_s;
    s.AuthType = m_options.security == Security::Plain ? 0 : 1;
    s.SSLport = QString::number(m_port);
    s.UserName = m_options.user;
    s.Password = m_options.password;
    return s;
}

QStringList SmtpServer::environment() const
{
    QStringList env;
    if (m_options.security != Security::Plain)
        env << u"CURL_CA_BUNDLE="_s + caFile();
    if (m_options.security == Security::ImplicitTls)
        env << u"QUORVALE_IMPLICIT_TLS_PORT="_s + QString::number(m_port);
    return env;
}

MailerOptions SmtpServer::mailerOptions() const
{
    MailerOptions options;
    if (m_options.security != Security::Plain)
        options.caBundle = caFile();
    if (m_options.security == Security::ImplicitTls)
        options.implicitTlsPort = m_port;
    return options;
}

QList<ReceivedMessage> SmtpServer::messages() const
{
    QList<ReceivedMessage> result;
    for (const QString &name : messageFiles(m_dir->path())) {
        QFile file(m_dir->filePath(name));
        if (file.open(QIODevice::ReadOnly))
            result.append(parseMessage(QJsonDocument::fromJson(file.readAll()).object()));
    }
    return result;
}

bool SmtpServer::waitForMessages(int count, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    while (messageFiles(m_dir->path()).size() < count) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

QStringList SmtpServer::commands() const
{
    return readLog(m_dir->filePath(u"commands.log"_s));
}

void SmtpServer::reset(const QString &fault)
{
    QSaveFile file(m_dir->filePath(u"fault"_s));
    if (!file.open(QIODevice::WriteOnly) || file.write(fault.toUtf8()) < 0 || !file.commit())
        qWarning("cannot set the SMTP test server's fault");
    QDir dir(m_dir->path());
    for (const QString &name : dir.entryList({u"*.json"_s, u"*.log"_s}, QDir::Files))
        dir.remove(name);
}

QStringList SmtpServer::clearCommands() const
{
    return readLog(m_dir->filePath(u"clear.log"_s));
}

QStringList SmtpServer::authAttempts() const
{
    return readLog(m_dir->filePath(u"auth.log"_s));
}

} // namespace quorvale::test
