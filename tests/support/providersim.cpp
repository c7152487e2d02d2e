#include "support/providersim.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace quorvale::test {

ProviderSim::ProviderSim(Options options)
    : m_options(std::move(options)), m_dir(std::make_unique<QTemporaryDir>()), m_process(std::make_unique<ReadyProcess>())
{
    QStringList arguments{QString::fromUtf8(QUORVALE_PROVIDER_SIM_SCRIPT), u"--dir"_s, m_dir->path(), u"--profile"_s,
                          m_options.profile};
    const auto number = [&](const QString &name, qint64 value) {
        if (value > 0)
            arguments << name << QString::number(value);
    };
    number(u"--per-minute"_s, m_options.perMinute);
    number(u"--per-day"_s, m_options.perDay);
    number(u"--quota-after"_s, m_options.quotaAfter);
    number(u"--size"_s, m_options.size);
    number(u"--max-connections"_s, m_options.maxConnections);
    number(u"--temporary-every"_s, m_options.temporaryEvery);
    if (m_options.ehloDelayMs > 0)
        arguments << u"--ehlo-delay"_s << QString::number(m_options.ehloDelayMs / 1000.0, 'f', 3);
    if (m_options.keepMessages)
        arguments << u"--keep-messages"_s;
    if (!m_options.temporaryStage.isEmpty())
        arguments << u"--temporary"_s << m_options.temporaryStage + u':' + QString::number(m_options.temporaryTries);
    if (!m_options.loginRefusal.isEmpty())
        arguments << u"--login-refusal"_s << m_options.loginRefusal;
    if (!m_options.xoauth2TokenFile.isEmpty())
        arguments << u"--xoauth2-token-file"_s << m_options.xoauth2TokenFile;
    if (m_options.security != SmtpSecurity::Plain) {
        if (testCaFile().isEmpty())
            return;
        arguments << u"--security"_s << (m_options.security == SmtpSecurity::StartTls ? u"starttls"_s : u"tls"_s)
                  << u"--cert"_s << testServerCertificate() << u"--key"_s << testServerKey();
    }
    const QByteArray listening = m_process->start(u"/usr/bin/python3"_s, arguments, "LISTENING");
    m_port = quint16(listening.trimmed().toUInt());
}

ProviderSim::~ProviderSim() = default;

bool ProviderSim::isRunning() const
{
    return m_port != 0 && m_process->isRunning();
}

quint16 ProviderSim::port() const
{
    return m_port;
}

AppSettings ProviderSim::settings() const
{
    AppSettings s;
    s.EmailFrom = u"sender@example.com"_s;
    s.SMTPServer = u"127.0.0.1"_s;
    s.AuthType = m_options.security == SmtpSecurity::Plain ? 0 : 1;
    s.SSLport = QString::number(m_port);
    s.UserName = u"user"_s;
    s.Password = u"secret"_s;
    return s;
}

QStringList ProviderSim::environment() const
{
    QStringList env;
    if (m_options.security != SmtpSecurity::Plain)
        env << u"CURL_CA_BUNDLE="_s + testCaFile();
    if (m_options.security == SmtpSecurity::ImplicitTls)
        env << u"QUORVALE_IMPLICIT_TLS_PORT="_s + QString::number(m_port);
    return env;
}

MailerOptions ProviderSim::mailerOptions() const
{
    MailerOptions options;
    if (m_options.security != SmtpSecurity::Plain)
        options.caBundle = testCaFile();
    if (m_options.security == SmtpSecurity::ImplicitTls)
        options.implicitTlsPort = m_port;
    return options;
}

QList<ProviderEvent> ProviderSim::events(const QString &kind) const
{
    QList<ProviderEvent> found;
    QFile file(m_dir->filePath(u"events.jsonl"_s));
    if (!file.open(QIODevice::ReadOnly))
        return found;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QJsonObject json = QJsonDocument::fromJson(line).object();
        if (json.value(u"event").toString() != kind)
            continue;
        ProviderEvent event;
        event.time = json.value(u"t").toDouble();
        event.stage = json.value(u"stage").toString();
        event.reply = json.value(u"reply").toString();
        for (const QJsonValue &rcpt : json.value(u"rcpt").toArray())
            event.rcpt.append(rcpt.toString());
        event.size = json.value(u"size").toInteger(-1);
        found.append(event);
    }
    return found;
}

QList<ProviderEvent> ProviderSim::accepted() const
{
    return events(u"accepted"_s);
}

QList<QByteArray> ProviderSim::acceptedMessages() const
{
    QList<QByteArray> messages;
    for (qsizetype i = 1;; ++i) {
        QFile file(m_dir->filePath(u"messages/%1.eml"_s.arg(i)));
        if (!file.open(QIODevice::ReadOnly))
            return messages;
        messages.append(file.readAll());
    }
}

QList<ProviderEvent> ProviderSim::refused() const
{
    return events(u"refused"_s);
}

QList<double> ProviderSim::connections() const
{
    QList<double> times;
    for (const ProviderEvent &event : events(u"connect"_s))
        times.append(event.time);
    return times;
}

void ProviderSim::advanceClock(double seconds)
{
    m_clockOffset += seconds;
    QSaveFile file(m_dir->filePath(u"clock"_s));
    if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray::number(m_clockOffset, 'f', 3)) < 0 ||
        !file.commit())
        qWarning("cannot move the provider simulator's clock");
}

} // namespace quorvale::test
