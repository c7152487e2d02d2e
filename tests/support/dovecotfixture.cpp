#include "support/dovecotfixture.h"

#include "support/readyprocess.h"
#include "support/smtpfixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace quorvale::test {

DovecotServer::DovecotServer(Options options)
    : m_options(std::move(options)), m_dir(std::make_unique<QTemporaryDir>()),
      m_process(std::make_unique<ReadyProcess>())
{
    if (!m_dir->isValid() || testServerCertificate().isEmpty() || !QFileInfo::exists(u"/usr/sbin/dovecot"_s)) {
        qWarning("DovecotServer: no temporary folder, test certificate or /usr/sbin/dovecot (run scripts/setup.sh)");
        return;
    }
    // Dovecot reads the certificate as it starts; a copy in its own folder keeps it readable by
    // the user it runs as.
    const QString cert = m_dir->filePath(u"server.pem"_s);
    const QString key = m_dir->filePath(u"server.key"_s);
    QFile::copy(testServerCertificate(), cert);
    QFile::copy(testServerKey(), key);
    QStringList environment;
    if (!m_options.sentFolder)
        environment << u"QUORVALE_DOVECOT_NO_SENT=1"_s;
    if (m_options.lmtp)
        environment << u"QUORVALE_DOVECOT_LMTP=1"_s;
    if (!m_options.otherUsers.isEmpty())
        environment << u"QUORVALE_DOVECOT_USERS="_s + m_options.otherUsers.join(u' ');
    const QByteArray ports =
        m_process->start(u"/usr/bin/python3"_s,
                         {QStringLiteral(QUORVALE_DOVECOT_SERVER_SCRIPT), m_dir->filePath(u"dovecot"_s), cert, key,
                          m_options.user, m_options.password},
                         "LISTENING", environment);
    const QList<QByteArray> all = ports.split(' ');
    if (all.size() == (m_options.lmtp ? 4 : 2)) {
        m_tlsPort = quint16(all[0].toUInt());
        m_startTlsPort = quint16(all[1].toUInt());
        if (m_options.lmtp) {
            m_lmtpPort = quint16(all[2].toUInt());
            m_authPort = quint16(all[3].toUInt());
        }
    }
}

DovecotServer::~DovecotServer() = default;

bool DovecotServer::isRunning() const
{
    return m_tlsPort != 0 && m_process->isRunning();
}

QString DovecotServer::maildir(const QString &name, const QString &user) const
{
    const QString root = m_dir->filePath(u"dovecot/home/"_s + user + u"/Maildir"_s);
    return name.compare(u"INBOX"_s, Qt::CaseInsensitive) == 0 ? root : root + u"/."_s + name;
}

bool DovecotServer::hasFolder(const QString &name) const
{
    return QFileInfo(maildir(name, m_options.user)).isDir();
}

QList<StoredMessage> DovecotServer::folder(const QString &name, const QString &user) const
{
    QList<StoredMessage> messages;
    QStringList files;
    for (const char *sub : {"new", "cur"}) {
        const QDir dir(maildir(name, user) + u'/' + QLatin1StringView(sub));
        for (const QString &file : dir.entryList(QDir::Files))
            files << dir.filePath(file);
    }
    // Maildir names start with the time of delivery, then a counter: their order is the order of arrival.
    std::sort(files.begin(), files.end(), [](const QString &a, const QString &b) {
        return QFileInfo(a).fileName() < QFileInfo(b).fileName();
    });
    for (const QString &path : std::as_const(files)) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        StoredMessage message;
        message.bytes = file.readAll();
        // The flags follow ":2," in the file name; S is \Seen.
        const QString fileName = QFileInfo(path).fileName();
        const qsizetype info = fileName.lastIndexOf(u":2,"_s);
        message.seen = info >= 0 && fileName.sliced(info + 3).contains(u'S');
        messages.append(message);
    }
    return messages;
}

} // namespace quorvale::test
