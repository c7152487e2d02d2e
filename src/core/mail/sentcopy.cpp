#include "mail/sentcopy.h"

#include "mail/mailserver.h"
#include "mail/smtplogin.h"
#include "settings/settingstable.h"

using namespace Qt::StringLiterals;

namespace quorvale {

QByteArray smtpContentUnstuffed(QByteArrayView wire)
{
    // A stuffed message never has a line of one dot: one there is the end of the data.
    if (wire.endsWith("\r\n.\r\n"))
        wire.chop(3);
    else if (wire == ".\r\n")
        wire = {};
    QByteArray message;
    message.reserve(wire.size());
    bool lineStart = true;
    for (qsizetype i = 0; i < wire.size(); ++i) {
        const char c = wire[i];
        if (lineStart && c == '.' && i + 1 < wire.size() && wire[i + 1] == '.') {
            lineStart = false;
            continue;
        }
        message += c;
        lineStart = c == '\n' && i > 0 && wire[i - 1] == '\r';
    }
    return message;
}

QString sentCopyProblem(const AppSettings &settings)
{
    if (settings.IMAPServer.trimmed().isEmpty())
        return u"No IMAP Server is set in Setup for the copy in the Sent folder."_s;
    if (!smtpPortNumber(settings.IMAPPort.isEmpty() ? u"993"_s : settings.IMAPPort))
        return u"The IMAP Port in Setup is not a port number."_s;
    if (!settings.SentFolder.isEmpty() && !isUsableFolderName(settings.SentFolder))
        return u"The Sent folder \"%1\" cannot be used: use plain letters, digits and blanks."_s.arg(
            settings.SentFolder.simplified());
    return {};
}

std::optional<ImapServer> imapServerOf(const AppSettings &settings, SignInAccount *account, const QByteArray &caBundle,
                                       int implicitTlsPort, const AbortPredicate &aborted, QString *error)
{
    MailServer mail = mailServerFrom(settings);
    mail.security = MailServer::Security::Tls;
    SmtpLoginSource source(mail, account, aborted);
    const SmtpLogin login = source.first();
    if (!login.ok()) {
        *error = login.error;
        return std::nullopt;
    }
    ImapServer server;
    server.host = settings.IMAPServer.trimmed();
    server.port = *smtpPortNumber(settings.IMAPPort.isEmpty() ? u"993"_s : settings.IMAPPort);
    server.implicitTls = server.port == implicitTlsPort;
    server.user = settings.UserName.toUtf8();
    server.secret = login.secret.toUtf8();
    server.bearer = login.bearer;
    server.caBundle = caBundle;
    return server;
}

ImapSentCopier::ImapSentCopier(std::shared_ptr<SignInAccount> account, QByteArray caBundle, int implicitTlsPort)
    : m_account(std::move(account)), m_caBundle(std::move(caBundle)), m_implicitTlsPort(implicitTlsPort)
{
}

SentCopyResult ImapSentCopier::copy(const QByteArray &message, const AppSettings &settings,
                                    const AbortPredicate &aborted)
{
    return append(message, {}, settings, aborted);
}

SentCopyResult ImapSentCopier::copyOnce(const QByteArray &message, const QByteArray &messageId,
                                        const AppSettings &settings, const AbortPredicate &aborted)
{
    // Without a Message-ID to look for, the copy could be appended twice: none is made.
    if (messageId.isEmpty())
        return {u"The copy in the Sent folder failed: the message's Message-ID is not known."_s, {}};
    return append(message, messageId, settings, aborted);
}

SentCopyResult ImapSentCopier::append(const QByteArray &message, const QByteArray &messageId,
                                      const AppSettings &settings, const AbortPredicate &aborted)
{
    const std::lock_guard lock(m_mutex);
    SentCopyResult result;
    const auto failed = [&result](const QString &why) {
        result.error = u"The copy in the Sent folder failed: "_s + why;
        return result;
    };
    if (const QString problem = sentCopyProblem(settings); !problem.isEmpty())
        return failed(problem);
    QString loginError;
    const std::optional<ImapServer> server =
        imapServerOf(settings, m_account.get(), m_caBundle, m_implicitTlsPort, aborted, &loginError);
    if (!server)
        return failed(loginError);
    ImapClient client(*server, aborted);
    const QString folder = findFolder(client, settings, &result.note);
    if (folder.isEmpty())
        return failed(result.note);
    if (!messageId.isEmpty()) {
        bool found = false;
        if (const QString error = client.hasMessageId(folder, messageId, &found); !error.isEmpty()) {
            m_foundFor.clear();
            return failed(error);
        }
        if (found) {
            result.alreadyThere = true;
            return result;
        }
    }
    if (const QString error = client.append(folder, message); !error.isEmpty()) {
        // The folder may have gone since it was found: look again next time.
        m_foundFor.clear();
        return failed(error);
    }
    return result;
}

QString ImapSentCopier::findFolder(ImapClient &client, const AppSettings &settings, QString *note)
{
    if (!settings.SentFolder.isEmpty())
        return settings.SentFolder;
    const QString key = settings.IMAPServer.trimmed() + u'\n' + settings.IMAPPort + u'\n' + settings.UserName;
    if (m_foundFor == key)
        return m_folder;
    QList<ImapFolder> folders;
    if (const QString error = client.list(&folders); !error.isEmpty()) {
        *note = error;
        return {};
    }
    QString folder;
    for (const ImapFolder &found : std::as_const(folders)) {
        if (found.hasFlag("\\Sent") && isUsableFolderName(QString::fromLatin1(found.name))) {
            folder = QString::fromLatin1(found.name);
            break;
        }
    }
    if (folder.isEmpty()) {
        folder = u"Sent"_s;
        const bool exists =
            std::any_of(folders.cbegin(), folders.cend(), [](const ImapFolder &f) { return f.name == "Sent"; });
        if (!exists) {
            if (const QString error = client.create(folder); !error.isEmpty()) {
                *note = u"the folder \"Sent\" could not be created: "_s + error;
                return {};
            }
            *note = u"No folder of the mailbox is marked as its Sent folder: the folder \"Sent\" was created "
                    "for the copies of sent messages."_s;
        }
    }
    m_foundFor = key;
    m_folder = folder;
    return folder;
}

} // namespace quorvale
