#pragma once

// One client's message exactly as a run would send it now: the run and the preview take it from
// clientMessage(), so what is shown is what goes out.

#include "clients/attachmentmode.h"
#include "clients/clientlist.h"
#include "clients/documentmatch.h"
#include "clients/messagetemplate.h"
#include "mail/mailer.h"
#include "mailing/mailingplan.h"
#include "platform/files.h"
#include "settings/appsettings.h"

#include <QString>

#include <optional>

namespace quorvale {

/// The message client `row` of `clients` gets: to its address, the subject and the body filled
/// from its line, with `attachment` (empty: none).
MailMessage clientMessage(const MessageTemplate &message, const ClientList &clients, qsizetype row,
                          const QString &attachment = QString(), const platform::FileIdentity &identity = {});

/// The message of client `row` of `plan`'s mailing, formatted and signed as the mailing says. When
/// `attachment` is the client's planned document, the client's further documents come after it.
MailMessage clientMessage(const MailingPlan &plan, qsizetype row, const QString &attachment = QString(),
                          const platform::FileIdentity &identity = {});

/// What a preview is built from: the window's inputs or the command line's options.
struct PreviewRequest
{
    QString csvPath;
    bool header = false; ///< the first line of the client file holds column names
    QString subject;
    QString body;
    AttachmentMode mode = AttachmentMode::None;
    QString commonPath;
    QString sender;       ///< the saved sender address ("EmailFrom")
    QString senderName{}; ///< the saved sender's name ("EmailFromName"), for the message's size
    QString replyTo{};    ///< the saved "ReplyTo", for the message's size
    char delimiter = ','; ///< what separates the fields of the client file's lines
    /// The program's own files besides the client list: never a document or the attachment.
    ProgramFiles programFiles{};
    bool formatted = false; ///< `body` is HTML
    QString htmlFolder{};   ///< where a formatted body's relative picture paths start
    QString signature{};    ///< the signature (HTML); empty: none
    QString signatureFolder{};
    QString documentPatterns{}; ///< named mode: the names of each client's documents
    /// The largest message the server takes, when known: a larger message is a problem.
    std::optional<qint64> serverSizeLimit{};
    /// The clients a run would go to, by client identifier; empty: every client.
    QStringList clients{};
};

/// One client's message as it would be sent now.
struct MessagePreview
{
    qint64 lineNumber = 0;
    QString clientId;
    MailMessage message;       ///< sender, recipient, subject, body and attachment as sent
    qint64 attachmentSize = -1; ///< bytes; -1 when there is no attachment or it cannot be read
    /// Why the client's message goes without its document or not at all ("no document found",
    /// several documents, a document that names another client, no common attachment set);
    /// empty when it goes as shown.
    QString attachmentNote;
    /// Why the message as shown would not be sent (no address: the client is printed; a subject
    /// with a line break; an attachment that cannot be read); empty when it would.
    QString problem;

    /// "Invoice_42.pdf (12345 bytes)" (several, one after the other: "Invoice_42.pdf (12345 bytes),
    /// Statement_42.pdf (678 bytes)"), "none", or the attachment note.
    QString attachmentText() const;
};

/// The client list and the message of a mailing, read once, to show any client's message.
class MailingPreview
{
public:
    /// Reads the client list and parses the subject and body against it. False with `error` (the
    /// list cannot be read, or the message uses a placeholder that names no column).
    bool load(const PreviewRequest &request, QString *error);

    const ClientList &clients() const { return m_plan.clients(); }
    /// The row of the first client with the identifier `clientId` (blanks around it aside), or -1.
    qsizetype rowOfClient(const QString &clientId) const;
    /// The row of the client on line `line` of the file, or -1.
    qsizetype rowOfLine(qint64 line) const;
    /// The message of client `row`, as the mailing's plan decides it.
    MessagePreview preview(qsizetype row) const;
    /// The largest message the server takes, learned after load(); none: sizes are not judged.
    void setServerSizeLimit(std::optional<qint64> limit) { m_request.serverSizeLimit = limit; }

private:
    PreviewRequest m_request;
    MailingPlan m_plan;
};

/// "Send to me": the message of `shown`, fields filled and the client's document attached, sent
/// to `address` instead of the client, from the sender and server of `settings`. A test: nothing
/// is journalled. Not attempted when a run would not send the client's message either (no
/// document, an ambiguous one), nor without an address.
SendResult sendPreviewTo(Mailer &mailer, const MessagePreview &shown, const QString &address,
                         const AppSettings &settings);

} // namespace quorvale
