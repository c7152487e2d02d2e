#include "mail/inboxreader.h"

#include "mail/bouncereport.h"
#include "mail/imapclient.h"
#include "mail/sentcopy.h"
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
        return u"No IMAP Server is set in Setup to read the mailbox's delivery reports from."_s;
    if (!smtpPortNumber(settings.IMAPPort.isEmpty() ? u"993"_s : settings.IMAPPort))
        return u"The IMAP Port set in Setup is not a port number."_s;
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
    QString loginError;
    const std::optional<ImapServer> server =
        imapServerOf(settings, m_account.get(), m_caBundle, m_implicitTlsPort, aborted, &loginError);
    if (!server)
        return loginError;
    ImapClient client(*server, aborted);
    // Only what may be a delivery report is read whole.
    return client.readSince(u"INBOX"_s, since, kMessageStart, &mayBeBounce, messages);
}

} // namespace quorvale
