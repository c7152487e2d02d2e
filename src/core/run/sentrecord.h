#pragma once

// What runs from other data folders (another account of this computer, another computer on a
// shared folder) sent of a mailing: each data folder that runs a client list keeps a small record
// beside it, ".NAME.quorvale-sent-HOME", saying for each client which message it was sent. The
// record holds hashes only (of the client's identifier and address, and of the message), never an
// address or a document, so that it tells others no more than the list beside it does.

#include "run/journal.h"

#include <QByteArrayView>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <memory>

namespace quorvale {

namespace platform {
class AppendOnlyFile;
}

/// What a line of a record says of a client and a message, in rising weight.
enum class RecordedSend
{
    Failed,     ///< tried, and it did not go out
    Attempting, ///< being handed over, or the outcome is unknown: it may have arrived
    Sent        ///< sent, or printed
};

/// One line of a record.
struct RecordLine
{
    QDateTime time;
    RecordedSend what = RecordedSend::Sent;
    QString client;  ///< recordClientHash()
    QString message; ///< recordMessageHash()
};

/// Reads a record's text as the program writes it. Whatever follows the last line end is a line
/// cut short by a kill and is dropped. False, with `problem` ("line N: what"), at the first line
/// that is not as the program writes it; `who` gets the account and computer the record is of.
bool parseSentRecord(QByteArrayView text, QString *who, QList<RecordLine> *lines, QString *problem);

/// One line as a record holds it (with its line end).
QByteArray formatRecordLine(const RecordLine &line);

/// The hash a record keeps of a client (journalClientKey()).
QString recordClientHash(const QString &clientKey);
/// The hash a record keeps of a message: its subject (letter case and blanks aside), its body
/// (the same apart from letter case and blanks, when known) and its documents.
QString recordMessageHash(const SentMessage &message);

/// This data folder's name for itself in records: the same for every run from it.
QString recordHome(const QString &dataFolder);

/// What the other data folders' records say of one client and message.
struct SendElsewhere
{
    RecordedSend what = RecordedSend::Failed;
    QDateTime time;
    QString who; ///< "anna on office-2"
};

/// What the records beside a client list, other than `ownHome`'s, say of the 30 days before `asOf`.
struct SendsElsewhere
{
    /// By recordClientHash() + ' ' + recordMessageHash(): sent beats may-have-arrived beats failed,
    /// whichever record says it; within one record the last line counts.
    QHash<QString, SendElsewhere> sends;
    /// Not empty: a record does not read cleanly ("FILE line N: what"), and it counts for nothing.
    QString problem;

    /// What the records say of `clientKey` getting `message`; Failed when they say nothing.
    SendElsewhere of(const QString &clientKey, const SentMessage &message) const;
};

SendsElsewhere readSendsElsewhere(const QString &clientFile, const QString &ownHome, const QDateTime &asOf);

/// This data folder's record beside one client list, open to write.
class SentRecord
{
public:
    ~SentRecord();
    SentRecord(const SentRecord &) = delete;
    SentRecord &operator=(const SentRecord &) = delete;

    /// Opens (or starts) `home`'s record beside `clientFile`; null with `error` when it cannot.
    static std::unique_ptr<SentRecord> open(const QString &clientFile, const QString &home, QString *error);

    /// Writes one line; with `sync` it reaches the disk before this returns.
    bool append(const QDateTime &time, RecordedSend what, const QString &clientKey, const SentMessage &message,
                bool sync, QString *error);
    QString path() const { return m_path; }

private:
    SentRecord(std::unique_ptr<platform::AppendOnlyFile> file, QString path);
    std::unique_ptr<platform::AppendOnlyFile> m_file;
    QString m_path;
};

/// The record of `home` beside `clientFile` (beside the file it reaches once links are followed).
QString sentRecordPath(const QString &clientFile, const QString &home);

} // namespace quorvale
