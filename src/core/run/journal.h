#pragma once

#include "clients/clientlist.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <memory>

namespace quorvale {

/// One line of a run journal. Events: "run" (detail: the kind of run), "client file", "subject",
/// "body", "common attachment", "attempting", "sent", "refused", "unknown", "no document",
/// "printed", "print error", and last "completed", "aborted" or "stopped".
struct JournalEntry
{
    QDateTime time;
    QString event;
    qint64 line = 0; ///< the client's line in the client file; 0 when not about a client
    QString clientId;
    QString address;
    QString file;
    qint64 size = -1; ///< -1: none
    QString sha256;   ///< lower-case hex
    QString detail;   ///< server reply, error text, subject, kind of run
};

namespace journal {
inline constexpr char16_t kRun[] = u"run";
inline constexpr char16_t kClientFile[] = u"client file";
inline constexpr char16_t kSubject[] = u"subject";
inline constexpr char16_t kBody[] = u"body";
inline constexpr char16_t kCommonAttachment[] = u"common attachment";
inline constexpr char16_t kAttempting[] = u"attempting";
inline constexpr char16_t kSent[] = u"sent";
inline constexpr char16_t kRefused[] = u"refused";
inline constexpr char16_t kUnknown[] = u"unknown";
inline constexpr char16_t kNoDocument[] = u"no document";
inline constexpr char16_t kPrinted[] = u"printed";
inline constexpr char16_t kPrintError[] = u"print error";
inline constexpr char16_t kCompleted[] = u"completed";
inline constexpr char16_t kAborted[] = u"aborted";
inline constexpr char16_t kStopped[] = u"stopped";
/// Kinds of run (the detail of the "run" line).
inline constexpr char16_t kKindFull[] = u"all clients";
inline constexpr char16_t kKindResume[] = u"resume";
inline constexpr char16_t kKindRetry[] = u"resend to failed";
} // namespace journal

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
    QString path() const { return m_path; }
    /// How many times the file was flushed to the disk.
    int syncCount() const { return m_syncs; }

private:
    Journal(int fd, QString path);
    int m_fd = -1;
    QString m_path;
    int m_syncs = 0;
    bool m_failed = false;
};

/// The folder of the run journals inside the data folder.
QString runJournalFolder(const QString &dataFolder);

/// The column names, in order, of the journal's header line.
QStringList journalColumns();
/// One entry as a CSV line (with its CR LF end).
QByteArray formatJournalLine(const JournalEntry &entry);
/// Reads a journal back. Lines cut short by a crash at the end are dropped. False with `error`
/// when the file cannot be read.
bool readJournal(const QString &path, QList<JournalEntry> *entries, QString *error);

/// The lower-case hex SHA-256 of a file; empty (with `error`) when it cannot be read.
QString fileSha256(const QString &path, QString *error = nullptr);

/// A client as the journal names it: line number, identifier and address together.
QString journalClientKey(qint64 line, const QString &clientId, const QString &address);

/// What earlier runs on one client file (same absolute path, same SHA-256) left behind: the runs
/// from the newest one that went over all clients up to the newest run.
struct JournalHistory
{
    enum class Last
    {
        Sent,    ///< sent, or printed
        Failed,  ///< refused
        Unknown, ///< the connection broke after the message was handed over, or the run died during the send
        NoDocument,
        PrintError
    };
    bool found = false;                 ///< some earlier run used this client file
    bool unfinished = false;            ///< the newest of them did not complete (aborted, stopped, or killed)
    QHash<QString, Last> last;          ///< each client's last outcome, by journalClientKey
    QList<JournalEntry> unknownClients; ///< the clients whose last outcome is Unknown, in file order
};

/// Reads the journals in `folder` that belong to the client file `csvPath` with `csvSha256`.
JournalHistory readJournalHistory(const QString &folder, const QString &csvPath, const QString &csvSha256);

} // namespace quorvale
