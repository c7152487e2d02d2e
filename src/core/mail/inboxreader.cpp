#include "mail/inboxreader.h"

#include "mail/bouncereport.h"
#include "mail/imapclient.h"
#include "mail/mailserver.h"
#include "mail/smtplogin.h"
#include "settings/settingstable.h"

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

/// A delivery report's own parts and the original's headers come first; the rest (the original's
/// attachments) is not needed.
constexpr qsizetype kMessageStart = 256 * 1024;

} // namespace

QString inboxProblem(const AppSettings &settings)
{
    if (settings.IMAPServer.trimmed().isEmpty())
        return u"No IMAP server is set up (IMAPServer) to read the mailbox's delivery reports from."_s;
    if (!smtpPortNumber(settings.IMAPPort.isEmpty() ? u"993"_s : settings.IMAPPort))
        return u"The IMAP port (IMAPPort) is not a port number."_s;
    return {};
}

ImapInboxReader::ImapInboxReader(std::shared_ptr<SignInAccount> account, QByteArray caBundle, int implicitTlsPort)
    : m_account(std::move(account)), m_caBundle(std::move(caBundle)), m_implicitTlsPort(implicitTlsPort)
{
}

QString ImapInboxReader::readSince(const AppSettings &settings, const QDate &since, QList<QByteArray> *messages,
                                   const AbortPredicate &aborted)
{
    messages->clear();
    if (const QString problem = inboxProblem(settings); !problem.isEmpty())
        return problem;
    // The mail login, as a send gets it: the password, a command's output or the sign-in's token.
    MailServer mail = mailServerFrom(settings);
    mail.security = MailServer::Security::Tls; // IMAP is always encrypted
    SmtpLoginSource source(mail, m_account.get(), aborted);
    const SmtpLogin login = source.first();
    if (!login.ok())
        return login.error;

    ImapServer server;
    server.host = settings.IMAPServer.trimmed();
    server.port = *smtpPortNumber(settings.IMAPPort.isEmpty() ? u"993"_s : settings.IMAPPort);
    server.implicitTls = server.port == m_implicitTlsPort;
    server.user = settings.UserName.toUtf8();
    server.secret = login.secret.toUtf8();
    server.bearer = login.bearer;
    server.caBundle = m_caBundle;
    ImapClient client(server, aborted);
    // Only what may be a delivery report is read whole.
    return client.readSince(u"INBOX"_s, since, kMessageStart, &mayBeBounce, messages);
}

} // namespace quorvale
