#pragma once

#include "clients/attachmentmode.h"
#include "clients/clientlist.h"
#include "platform/files.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

namespace quorvale {

/// What a line of a run journal records, written as its word ("run", "client file", ... "stopped").
enum class JournalEvent
{
    // The run and the mailing it belongs to, in this order.
    Run,              ///< detail: the kind of run
    ClientFile,       ///< the client list, with its size and SHA-256
    Subject,          ///< detail: the subject
    Body,             ///< the body's SHA-256
    Mode,             ///< detail: the attachment mode
    Print,            ///< detail: "yes" when documents of clients without an address are printed
    ChosenClients,    ///< detail: the chosen client identifiers as a JSON array; only when some are chosen
    CommonAttachment, ///< the common attachment, in common mode
                      // Mode, print and common attachment lines come again after the client list
                      // when the choice changes during the run. One per client of the list the
                      // run started with.
    Client,
    // What happened to each client.
    Message, ///< a message filled from the client's line: detail its subject, sha256 its body's, as sent
    Attempting,
    Sent,
    Refused,
    Unknown,        ///< the connection broke after the message was handed over
    NotSentAborted, ///< "not sent (aborted)"
    NoDocument,
    SeveralDocuments,
    SharedDocument,
    Printed,
    PrintError,
    CopyFailed, ///< the copy of a sent message in the Sent folder failed; detail: why
    Copied,     ///< the copy of a sent message is in the Sent folder; detail: its Message-ID (empty in
                ///< older journals, which wrote this line only for a copy made when tried again)
    CopyNotMade, ///< the copy of a message sent by an earlier run will not be made (its message changed
                 ///< since); detail: its Message-ID, then why
    Bounced,    ///< a delivery report said the message did not arrive; detail: its Message-ID, status and diagnostic
    // The end, at most one.
    Completed,
    Aborted,
    Stopped,
};

/// The word a journal writes for `event`.
QString journalEventName(JournalEvent event);
/// The event a word of journalEventName() names; empty for any other text.
std::optional<JournalEvent> journalEventNamed(QStringView name);

/// The kind of run, written as the detail of its "run" line.
enum class RunKind
{
    AllClients,     ///< "all clients": every client of the list
    Resume,         ///< "resume": the clients an unfinished run did not reach
    ResendToFailed, ///< "resend to failed": the clients whose last send failed
    Bounces,        ///< "bounces": no run, the delivery reports a check for bounces found for the mailing
    ResendToBounced, ///< "resend to bounced": the bounced clients whose address was changed since
};
QString runKindName(RunKind kind);
std::optional<RunKind> runKindNamed(QStringView name);

/// One line of a run journal.
struct JournalEntry
{
    QDateTime time;
    JournalEvent event = JournalEvent::Run;
    qint64 line = 0; ///< the client's line in the client file; 0 when not about a client
    QString clientId;
    QString address;
    QString file;
    qint64 size = -1; ///< -1: none
    QString sha256;   ///< lower-case hex
    QString detail;   ///< server reply, error text, subject, kind of run, attachment mode, file names
};

/// An open journal file: every line is written and flushed to the disk (fdatasync) before
/// append() returns, so the file tells the truth up to the last step even after a kill or a
/// power cut. Mode 0600: it names clients.
class Journal
{
public:
    ~Journal();
    Journal(const Journal &) = delete;
    Journal &operator=(const Journal &) = delete;

    /// Creates a new journal in `folder` (made when missing), named after the next sequence
    /// number and `now`, and writes its header line. Null with `error` when that fails.
    static std::unique_ptr<Journal> create(const QString &folder, const QDateTime &now, QString *error);

    /// Writes one line. With `sync` false the line is only written; the next synced line (or
    /// close) brings it to the disk. False with `error` when it cannot be written or synced.
    bool append(const JournalEntry &entry, QString *error, bool sync = true);
    /// Brings the lines written so far to the disk; false with `error` when that fails.
    bool sync(QString *error);
    QString path() const { return m_path; }
    /// How many times the file was flushed to the disk.
    int syncCount() const { return m_syncs; }

private:
    Journal(std::unique_ptr<platform::AppendOnlyFile> file, QString path);
    bool write(QByteArrayView bytes, bool sync, QString *error);
    std::unique_ptr<platform::AppendOnlyFile> m_file;
    QString m_path;
    int m_syncs = 0;
    bool m_failed = false;
};

/// The folder of the run journals inside the data folder; empty when no data folder is given.
QString runJournalFolder(const QString &dataFolder);

/// The column names, in order, of the journal's header line.
QStringList journalColumns();
/// One entry as a CSV line (with its CR LF end).
QByteArray formatJournalLine(const JournalEntry &entry);

/// Reads journal text as the program writes it, fed in pieces of any size. Whatever follows the
/// last line end is a line cut short by a crash and is dropped. Any complete line that is not as
/// the program writes it (a stray quote, a missing field, an unknown event, lines out of order)
/// stops the reading: problem() then names its line, counted as an editor counts them.
class JournalParser
{
public:
    /// Reads more text; false once a problem was found.
    bool feed(QByteArrayView bytes);
    /// The entries read so far, in order.
    const QList<JournalEntry> &entries() const { return m_entries; }
    /// Empty, or "line N: what is wrong".
    QString problem() const { return m_problem; }

private:
    bool fail(qint64 line, const QString &what);
    void endField();
    bool endRecord();
    bool checkEntry(const JournalEntry &entry, qint64 line);

    enum class State
    {
        FieldStart,
        Unquoted,
        Quoted,
        QuoteInQuoted,
        AfterCarriageReturn
    };
    State m_state = State::FieldStart;
    QList<QByteArray> m_fields;
    QByteArray m_field;
    qint64 m_line = 1;       ///< the line being read
    qint64 m_recordLine = 1; ///< the line the record being read started on
    qint64 m_records = 0;
    bool m_started = false; ///< past a byte-order mark
    QList<JournalEntry> m_entries;
    QString m_problem;
};

/// The journal files of `folder`, newest first.
QStringList journalPaths(const QString &folder);

/// Reads a whole journal file. False with `error` (naming the file, and the line when it does not
/// read cleanly) otherwise.
bool readJournal(const QString &path, QList<JournalEntry> *entries, QString *error);

/// The lower-case hex SHA-256 of a text's UTF-8 bytes.
QString textSha256(const QString &text);
/// The lower-case hex SHA-256 of a file; empty (with `error`) when it cannot be read.
QString fileSha256(const QString &path, QString *error = nullptr);

/// A client as runs recognise it: its identifier and its address (blanks around the address and
/// its letter case aside), whatever line of the client file it is on.
QString journalClientKey(const QString &clientId, const QString &address);

/// The attachment and print choices a run sends with.
struct MailingChoices
{
    AttachmentMode mode = AttachmentMode::None;
    QString commonFile;   ///< common mode: the common attachment's path
    QString commonSha256; ///< common mode: what it holds
    QString documentPatterns{}; ///< named mode: the names of each client's documents
    bool print = false;
    bool printKnown = true; ///< false for journals written before they recorded the print choice
    /// The chosen client identifiers, blanks around them aside, sorted, each once; empty: every
    /// client of the list (also for journals written before clients could be chosen).
    QStringList clients{};

    /// Other choices than `other`: another mode, another common attachment, another print choice.
    bool differsFrom(const MailingChoices &other) const;
};

/// What makes runs one mailing: the same client file (its real path, links resolved), subject
/// and body. The choices are recorded with each run; a run with other choices still continues
/// the same mailing (the question before it says so).
struct MailingKey
{
    QString clientFile;       ///< canonical path
    QString clientFileSha256; ///< what the file holds now
    QString subject;
    QString bodySha256;
    QString bodyKeySha256; ///< similarText() of the body: the same text apart from letter case and blanks
    MailingChoices choices;
    /// When the mailing is made: a similar mailing (renamed list, subject or body differing in
    /// letter case or surrounding blanks) counts as this one for 30 days before.
    QDateTime asOf;
};

/// A text as a similar mailing may have it: blanks around it and its letter case aside.
QString similarText(const QString &text);

/// What a client got, or would get now: its subject, its body's SHA-256 as sent (and of its
/// similarText(), when known), and the SHA-256 of the attached or printed file (empty for none).
struct SentMessage
{
    QString subject;
    QString bodySha256;
    QString bodyKeySha256;
    QString fileSha256;

    /// The same message, apart from letter case and blanks around the subject and the body.
    bool sameAs(const SentMessage &other) const;
};

/// `ids` as MailingChoices keeps them: blanks around each aside, sorted, each once.
QStringList chosenClientKeys(const QStringList &ids);

/// The lines that say the choices changed during a run, from here on.
QList<JournalEntry> journalChoicesChanged(const QDateTime &time, const MailingChoices &choices);

/// The lines that open a run's journal: the run and its kind, and the mailing it belongs to.
QList<JournalEntry> journalHeader(const QDateTime &time, RunKind kind, const MailingKey &mailing);

/// What the runs of one mailing left behind: the newest run that went over every client and the
/// runs that continued it (resumes, resends to failed clients).
struct JournalHistory
{
    enum class Last
    {
        Sent,    ///< sent, or printed
        Failed,  ///< refused
        Unknown, ///< the connection broke after the message was handed over, or the run died during the send
        NotSent, ///< an abort stopped the send before the message was handed over
        NoDocument,
        PrintError
    };
    bool unfinished = false;   ///< no run of the mailing went over all its clients to the end
    QDateTime finished;        ///< when the newest run of the mailing completed; invalid when it did not
    QDateTime started;         ///< when the mailing's first run of these started
    QHash<QString, Last> last; ///< each client's last outcome, by journalClientKey
    /// What each client whose last outcome is Sent got, as journalled.
    QHash<QString, SentMessage> sent;
    QString subject;                       ///< the subject of the mailing's first run of these
    qint64 reached = 0;                    ///< clients whose last outcome is Sent
    QList<JournalEntry> unknownClients;    ///< the clients whose last outcome is Unknown, in file order
    std::optional<MailingChoices> choices; ///< the choices the newest run ended with
    bool clientListKnown = false;          ///< the newest run recorded the list it started with
    QList<JournalEntry> clientList;        ///< that list ("client" lines)
    QString problem; ///< not empty: a journal that may belong to the mailing does not read cleanly
    /// The clients whose message bounced and who were not sent to since (at any address), by
    /// journalClientKey: their "bounced" line.
    QHash<QString, JournalEntry> bounced;
    /// A message sent whose copy in the Sent folder no line shows made (or given up).
    struct MissingCopy
    {
        JournalEntry sent;     ///< its "sent" line
        QByteArray messageId;  ///< as its attempt journalled it
        QDateTime attempted;   ///< when it was built and sent
        SentMessage message;   ///< what it held, as journalled
    };
    /// The clients whose last outcome is Sent and whose message's copy is missing, by journalClientKey.
    QHash<QString, MissingCopy> missingCopies;
};

/// Whether the copy line `entry` ("copied to sent", "copy in sent not made") is about the message
/// with the Message-ID `messageId`: its detail starts with it, or is empty (older journals).
bool isCopyLineOf(const JournalEntry &entry, QByteArrayView messageId);

/// Reads the journals in `folder` that belong to `mailing`, newest first, back to its newest run
/// over all clients, whatever their choices. A journal written before journals recorded the
/// attachment mode counts only when the client file still holds the same bytes and the mode its
/// sends show is the mailing's.
JournalHistory readJournalHistory(const QString &folder, const MailingKey &mailing);

} // namespace quorvale
