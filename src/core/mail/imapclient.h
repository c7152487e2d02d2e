#pragma once

// A small IMAP client over libcurl: list the folders, create one, append a message. Always
// encrypted: implicit TLS on the implicit-TLS port (993), STARTTLS required on any other, with the
// server's certificate verified; never plain.

#include <QByteArray>
#include <QByteArrayView>
#include <QDate>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

namespace quorvale {

/// Where and as whom an IMAP session logs in.
struct ImapServer
{
    QString host;
    qint32 port = 993;
    bool implicitTls = true; ///< false: STARTTLS, required
    QByteArray user;
    QByteArray secret;   ///< the password, or with `bearer` an access token
    bool bearer = false; ///< log in with XOAUTH2
    QByteArray caBundle; ///< the CA file to verify the server with; empty: the system's
    int timeoutSeconds = 30;
};

/// One folder of a LIST reply.
struct ImapFolder
{
    QByteArray name;         ///< as the server gives it (modified UTF-7), unquoted
    QList<QByteArray> flags; ///< "\\Sent", "\\HasNoChildren", ...
    bool hasFlag(QByteArrayView flag) const;
};

/// The folders of the untagged LIST lines in `reply` (any other line is passed over). A line
/// that is not a well-formed LIST reply is passed over too: a server's reply is outside input.
QList<ImapFolder> parseImapList(QByteArrayView reply);

/// The UID the server gave an appended message ("[APPENDUID validity uid]" in `reply`), or 0.
quint32 parseAppendUid(QByteArrayView reply);

/// Whether `name` can be used as a folder name: one line of printable text, not empty, and no
/// wildcard or quote that would change the command it is sent in.
bool isUsableFolderName(const QString &name);

/// Whether `messageId` can be searched for: "<left@right>" of printable ASCII without blanks, quotes
/// or backslashes, so that it goes into a search command as one quoted string.
bool isSearchableMessageId(QByteArrayView messageId);

/// Asked while a command runs whether to stop it.
using ImapAbort = std::function<bool()>;

/// One IMAP command per connection; blocking, for a worker thread. Every function returns why it
/// failed (in the user's words, never the secret), or empty.
class ImapClient
{
public:
    explicit ImapClient(ImapServer server, ImapAbort aborted = {});

    /// Every folder, with its special-use flags.
    QString list(QList<ImapFolder> *folders);
    /// Creates the folder `name`.
    QString create(const QString &name);
    /// Appends `message` to `folder` with the \Seen flag.
    QString append(const QString &folder, const QByteArray &message);
    /// Whether `folder` holds a message whose Message-ID header is `messageId` (see
    /// isSearchableMessageId()): `*found`. Read only: the folder is examined, never selected.
    QString hasMessageId(const QString &folder, const QByteArray &messageId, bool *found);
    /// The messages of `folder` that arrived on or after `since` and whose From, Subject and
    /// Content-Type headers `wanted` accepts, oldest first, each at most its first `maxBytes`.
    /// Read only: the folder is examined (never selected) and every message fetched with
    /// BODY.PEEK, so nothing is deleted, moved or marked read.
    QString readSince(const QString &folder, const QDate &since, qsizetype maxBytes,
                      const std::function<bool(QByteArrayView headers)> &wanted, QList<QByteArray> *messages);

private:
    QString perform(const QString &folder, const QByteArray &command, const QByteArray *upload, QByteArray *reply);
    QByteArray url(const QString &folder) const;
    void *configured(void *handle, const QByteArray &url, char *curlError, QByteArray *replies) const;
    QString failure(int code, const QByteArray &replies, const char *curlError, const QString &aborted) const;
    /// Makes `easy` a libcurl handle that has connected and logged in, its connection left to raw
    /// commands; empty, or why not.
    QString connectOnly(std::unique_ptr<void, void (*)(void *)> *easy, const QString &aborted) const;

    ImapServer m_server;
    ImapAbort m_aborted;
};

} // namespace quorvale
