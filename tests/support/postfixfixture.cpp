#include "support/postfixfixture.h"

#include "support/readyprocess.h"
#include "support/smtpfixture.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace quorvale::test {

bool PostfixServer::canRun()
{
    return whyNot().isEmpty();
}

QString PostfixServer::whyNot()
{
    if (!QFileInfo::exists(u"/usr/sbin/postfix"_s))
        return u"Postfix is not installed (run scripts/setup.sh)"_s;
    if (::geteuid() != 0)
        return u"Postfix starts only as root, and this test does not run as root"_s;
    return {};
}

PostfixServer::PostfixServer(const QStringList &otherUsers)
    : m_dovecot(std::make_unique<DovecotServer>(DovecotServer::Options{.lmtp = true, .otherUsers = otherUsers})),
      m_dir(std::make_unique<QTemporaryDir>()), m_process(std::make_unique<ReadyProcess>())
{
    if (!canRun() || !m_dovecot->isRunning() || !m_dir->isValid())
        return;
    // Postfix reads the certificate as it starts; a copy in its own folder is reachable by it.
    const QString cert = m_dir->filePath(u"server.pem"_s);
    const QString key = m_dir->filePath(u"server.key"_s);
    QFile::copy(testServerCertificate(), cert);
    QFile::copy(testServerKey(), key);
    const QByteArray port = m_process->start(
        u"/usr/bin/python3"_s,
        {QStringLiteral(QUORVALE_POSTFIX_SERVER_SCRIPT), m_dir->filePath(u"postfix"_s), cert, key, domain(),
         QString::number(m_dovecot->lmtpPort()), QString::number(m_dovecot->authPort())},
        "LISTENING");
    m_submissionPort = quint16(port.trimmed().toUInt());
}

PostfixServer::~PostfixServer()
{
    // Postfix first: it must not deliver into a Dovecot that is gone.
    m_process.reset();
    m_dovecot.reset();
}

bool PostfixServer::isRunning() const
{
    return m_submissionPort != 0 && m_process->isRunning();
}

QString PostfixServer::configDirectory() const
{
    return m_dir->filePath(u"postfix/etc"_s);
}

bool PostfixServer::waitForMail(const QString &user, int count, int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    while (inbox(user).size() < count) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    return true;
}

QByteArray PostfixServer::log() const
{
    QFile file(m_dir->filePath(u"postfix/postfix.log"_s));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace quorvale::test
