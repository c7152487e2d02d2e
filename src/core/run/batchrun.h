#pragma once

#include "clients/attachmentmode.h"
#include "clients/clientlist.h"
#include "clients/documentmatch.h"
#include "clients/messagetemplate.h"
#include "mail/mailer.h"
#include "mailing/mailingplan.h"
#include "platform/files.h"
#include "run/abortrequest.h"
#include "run/clientfilelock.h"
#include "run/journal.h"
#include "run/resumeplan.h"
#include "run/runreport.h"
#include "run/sendinglimits.h"
#include "run/sentrecord.h"
#include "settings/appsettings.h"

#include <QHash>
#include <QLockFile>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace quorvale {

class Clock;
class Mailer;
struct SendResult;
class Printer;
class Prompter;
class SettingsStore;
class StatusLog;

/// What the window may change while a run goes on: the run reads the attachment mode and the
/// common path afresh for every client, and the abort request at its check points. Thread-safe.
class RunControl
{
public:
    void setAttachmentMode(AttachmentMode mode);
    AttachmentMode attachmentMode() const;
    void setCommonAttachmentPath(const QString &path);
    QString commonAttachmentPath() const;
    AbortRequest &abort() { return m_abort; }
    const AbortRequest &abort() const { return m_abort; }

private:
    mutable QMutex m_mutex;
    AttachmentMode m_mode = AttachmentMode::None;
    QString m_commonPath;
    AbortRequest m_abort;
};

/// What a front end shows of a run besides its status lines. Called from the run's thread.
class RunObserver
{
public:
    virtual ~RunObserver() = default;
    /// progEmail: the current message's send progress, 0-100.
    virtual void emailProgress(int percent) = 0;
    /// progPrint: steps done out of `maximum` (maximum 0: the print pass has nothing to do).
    virtual void printProgress(int value, int maximum) = 0;
    /// true: the run is sending (cmdStart disabled, cmdAbort enabled); false: idle again.
    virtual void runningChanged(bool running) = 0;
    /// Where the run is: the client it handles, what it did so far and the time left.
    virtual void runProgress(const RunProgress &progress) { Q_UNUSED(progress); }
    /// A client got neither its message nor its printout; called as it happens.
    virtual void clientFailed(const ClientFailure &failure) { Q_UNUSED(failure); }
};

/// What to do when the message uses a field that is empty on some clients' lines.
enum class EmptyFieldChoice
{
    Ask,   ///< say how many clients and ask whether to send (through the Prompter)
    Send,  ///< send without asking: their message has nothing where the field is
    Skip,  ///< send to the other clients only, without asking
    Refuse ///< start nothing: the caller could not ask and was not told to send
};

/// The window's texts when Start is pressed.
struct RunRequest
{
    QString csvPath;
    QString subject;
    QString body;
    bool print = false; ///< chkPrint ticked
    ResumeChoice resume = ResumeChoice::Ask;
    /// With ResumeChoice::Resume: also send to the clients whose message may or may not have arrived.
    bool includeUnknown = false;
    /// Go over only the clients whose last send was refused or may not have arrived.
    bool retryFailed = false;
    /// Go over only the clients whose message bounced, at the address now in the client file
    /// once it was changed; those whose address is unchanged are named and skipped.
    bool resendBounced = false;
    bool header = false;  ///< the first line of the client file holds column names
    char delimiter = ','; ///< what separates the fields of the client file's lines
    EmptyFieldChoice emptyFields = EmptyFieldChoice::Ask;
    /// Send a mailing that already reached every client once more, without the question
    /// defaulting to No (the command line's --send-again).
    bool sendAgain = false;
    /// A formatted body (HTML): sent instead of `body` when not empty.
    QString html{};
    QString htmlFolder{}; ///< where the relative picture paths of `html` start
    /// Named mode: the names of each client's documents, ";" between them ("DocumentPatterns").
    QString documentPatterns{};
    /// The window's formatted body: kept as the data folder's Body.html when the run starts, as
    /// `body` is kept as Body.txt (a body read from another file is not).
    bool keepHtml = false;
    /// The clients to go to, by client identifier; empty: every client of the list.
    QStringList clients{};
    /// The largest message the server takes, asked before the question (serverSizeLimit()): the
    /// question warns of the clients whose message is larger. None: not known, nothing is said.
    std::optional<qint64> serverSizeLimit{};
};

/// How a run ended; the command line maps it to its exit status.
enum class RunOutcome
{
    NotStarted,          ///< a pre-check, the CSV file, or the answer No stopped it; nothing sent (exit 2)
    Completed,           ///< no missing document, send error or print error (exit 0)
    CompletedWithErrors, ///< missing documents, send errors or print errors (exit 1)
    Stopped,             ///< ended through "Processing stopped - ", also when saving failed (exit 1, or
                         ///< 2 when nothing was handed over: see BatchRun::anythingHandedOver)
    Aborted,             ///< an abort ended a pass early (exit 130); an abort that no check point
                         ///< saw (in the pause after the last client) leaves the run Completed
};

/// Everything a run talks to. Owned by the caller and alive for the whole run.
class SentCopier;

struct RunDependencies
{
    SettingsStore &store;
    StatusLog &log;
    Prompter &prompter;
    Mailer &mailer;
    Printer &printer;
    Clock &clock;
    RunControl &control;
    RunObserver *observer = nullptr;
    /// The current settings: read once by prepare() (pre-checks, pacing, data folder), and for
    /// every send (the server and the sender).
    std::function<AppSettings()> settings;
    /// The program's own files (settings, body file, journals, token file, run lock): never a
    /// client's document or the common attachment.
    ProgramFiles programFiles = {};
    /// Puts each accepted message into the Sent folder when "SentCopy" is 1; null: no copies.
    SentCopier *sentCopier = nullptr;
};

/// The largest message the server of `settings` takes, asked as a send would connect but without
/// logging in or sending, and without a status line. None when the server setup is incomplete, the
/// server sets no limit, or it cannot be asked. Blocks: never on the UI thread.
std::optional<qint64> serverSizeLimit(Mailer &mailer, const AppSettings &settings, const AbortPredicate &aborted = {});

/// One batch run over the client list. prepare() runs on the UI thread (it asks the one
/// question); execute() then runs the passes on a worker thread.
class BatchRun
{
public:
    explicit BatchRun(RunDependencies deps);

    /// Pre-checks, the run lock, parsing, counts, the confirmation and the saves. True when
    /// execute() should follow; otherwise the run is over (outcome() says why). From here to the
    /// end of execute() the run holds the lock that keeps any other run from starting.
    bool prepare(const RunRequest &request);
    /// The print pass, the e-mail pass and the end of the run.
    RunOutcome execute();
    RunOutcome outcome() const { return m_outcome; }
    /// True when prepare() found an earlier run of the same mailing that did not finish.
    bool earlierRunUnfinished() const { return m_earlierRunUnfinished; }
    /// The user chose to resume with the interrupted run's choices: they, for the window to show.
    std::optional<MailingChoices> choicesRestored() const
    {
        return m_restartedWithEarlierChoices ? std::optional(m_mailing.choices) : std::nullopt;
    }
    /// True when prepare() found that the mailing already reached every client.
    bool alreadySent() const { return !m_alreadySent.isEmpty(); }
    /// The journal of this run; empty until the run passed its confirmation.
    QString journalPath() const { return m_journalPath; }
    /// True once a message was sent (or may have arrived) or a document was handed to the
    /// printer: a run that stopped tells "stopped with nothing done" from "stopped after sending".
    bool anythingHandedOver() const { return m_handedOver; }
    /// The separator the user chose to read the client list with when it could not be read with
    /// the one asked for (saved as "CSVDelimiter"); none when nothing was chosen.
    std::optional<char> separatorChosen() const { return m_separatorChosen; }
    /// What the run did, client by client; complete once execute() returned.
    const RunTally &tally() const { return m_tally; }

private:
    enum class PassEnd
    {
        Finished,
        Aborted,
        Stopped
    };
    bool prepareRun(const RunRequest &request);
    /// Why the run cannot start with these inputs (the server, the client list, the common
    /// attachment), or empty.
    QString preCheckProblem(AttachmentMode mode, const QString &commonPath) const;
    /// Clears the status box after a question answered No, with one line that says so.
    void nothingStarted();
    /// False (having warned) when a picture of the formatted body or of the signature cannot be sent.
    bool checkFormattedPictures();
    /// Saves the window's body format and its formatted body (Body.html); false with `error`.
    bool keepFormattedBody(QString *error);
    /// Saves the attachment mode, the common file and the print choice; false with `error`.
    bool saveChoices(AttachmentMode mode, const QString &commonPath, QString *error);
    /// Reads the client list into the plan and logs its counts; false (having warned) when it
    /// cannot be read.
    bool readClients(AttachmentMode mode, const QString &commonPath);
    const ClientList &clients() const { return m_plan.clients(); }
    /// Parses the subject and body against the list's columns. False (having warned) when they use
    /// a placeholder that names no column, or when clients with an empty field used by the message
    /// are not to be sent to.
    bool checkMessageFields();
    /// What makes this run one mailing with earlier runs; false (having warned) when the client
    /// list cannot be hashed.
    bool describeMailing(AttachmentMode mode, const QString &commonPath);
    /// Takes the run lock, or says who holds it; false: the run does not start.
    bool lockRun();
    PassEnd printPass();
    PassEnd emailPass();
    /// The group delay; false when an abort ended it.
    bool groupDelay();
    /// Keeps the next send within the provider's sending limits: waits while the minute's are
    /// used up; Stopped (with m_stopReason) when the day's are, Aborted when an abort ended the wait.
    PassEnd keepWithinLimits();
    /// The provider's sending limits from the settings (0: none).
    SendingLimits sendingLimits() const;
    /// The message (or the lack of one) for client `index`, the `number`-th of the pass.
    PassEnd emailClient(qsizetype index, qint64 number);
    /// Appends client `index`'s sent message to the Sent folder; a failure is journalled and kept
    /// for retryFailedCopies(), never a failed send. False only when the journal fails.
    bool copyToSent(qsizetype index, const QByteArray &messageId, const QByteArray &message,
                    const AppSettings &settings);
    /// Tries each failed copy once more; what fails again is counted in the summary.
    bool retryFailedCopies();
    /// Makes the copies in the Sent folder that earlier runs of the mailing sent but did not make
    /// (a run stopped between a send and its copy), each once: a copy already there is not
    /// appended again, and none is made of a message that would differ now. Failures are told
    /// and counted, never a failed send. False only when the journal fails.
    bool makeMissingCopies();
    /// Client `index`'s message as the run would send it now, without its Message-ID.
    MailMessage messageNow(qsizetype index, const AppSettings &settings);
    /// Counts the mailing's bounced clients not sent to since into the tally, and lists them.
    void noteBouncedClients();
    /// A client that gets no document (none, several, or one naming another client): its status
    /// line, the error count and its journal line. False (with m_stopReason) when the journal fails.
    bool noDocument(const ClientPlan &plan, bool printing);
    /// False (with m_stopReason) when the common file no longer holds what the run took.
    bool commonFileUnchanged(const QString &path);
    /// False (with m_stopReason) when the documents' folder could not be listed or is gone.
    bool documentFolderReadable();
    /// Why `message` must not be uploaded for its size (the server's SIZE), or empty.
    QString sizeProblem(MailMessage message) const;
    /// `message` from the saved sender, as the server counts its size; -1 when it cannot be told.
    qint64 messageSize(MailMessage message) const;
    /// The clients this run e-mails whose message is larger than `limit`.
    qint64 tooLargeCount(qint64 limit);
    /// One send, tried again after waits while the server refuses it for now; false (with
    /// m_stopReason) when it could not be attempted at all or the run must stop after it.
    bool send(qsizetype index, const MailMessage &message);
    /// Why the run stops after a send that ended with `result`, or empty when it goes on.
    QString stopReasonAfter(const SendResult &result) const;
    /// Says why and waits `seconds` before the same client is tried again; false when an abort
    /// ended the wait.
    bool waitToTryAgain(int seconds, const QString &reply);
    void stop(const QString &reason);
    void resetFrontEnd();
    /// What the confirmation shows under its question; counts the clients this run handles.
    StartSummary startSummary();
    /// Records a client that got neither its message nor its printout, and tells the observer.
    void failed(qsizetype index, const QString &what, const QString &reason, bool printing);
    /// Tells the observer where the run is (client `client` of the run, from 1).
    void reportProgress(qint64 client);
    /// The e-mail bar: the pass's share done, with `percent` of the current message.
    void reportEmailProgress(int percent);
    /// One status line when the attachment read for this client differs from the last one.
    void noteAttachmentChange(AttachmentMode mode, const QString &commonPath);
    /// Decides, before the confirmation, which clients this run skips or goes over. False: the
    /// run does not start.
    bool chooseClients();
    /// The interrupted run had other choices: asks whether to resume with them. False when the
    /// run does not go on as it is (m_earlierChoices set: prepare() starts again with them).
    bool useEarlierChoices(const ResumePlan &plan);
    MailingChoices choicesOf(AttachmentMode mode, const QString &commonPath);
    /// What the client on `row` would get now, as the journal fingerprints what was sent.
    SentMessage fingerprintNow(qsizetype row);
    /// The mailing's own message, before any field is filled or document attached.
    SentMessage mailingMessage() const;
    /// Whether the clients whose message may or may not have arrived get it again.
    bool includeUnknownClients(const QList<JournalEntry> &unknownClients);
    /// Client `index` as the journals recognise it.
    QString clientKey(qsizetype index) const;
    /// True when client `index` is skipped (its one status line is written).
    bool skipClient(qsizetype index);
    /// True when client `index` is passed over by this run (no line written).
    bool isSkipped(qsizetype index) const;
    /// The journal line about client `index`; `file` with its size and SHA-256.
    JournalEntry clientEntry(JournalEvent event, qsizetype index, const QString &file = QString(),
                             const QList<MailAttachment> &more = {});
    /// Writes a journal line; false (with m_stopReason) when it cannot be written.
    bool journal(const JournalEntry &entry, bool sync = true);
    /// Writes what a client's journal line says of its send into this data folder's record beside
    /// the client list, for runs from other data folders to find.
    bool record(const JournalEntry &entry, bool sync, QString *error);
    bool openJournal();
    QString fileHash(const QString &path, qint64 size, const QDateTime &modified);
    void closeJournal(JournalEvent event, const QString &detail = QString());

    RunDependencies m_deps;
    RunRequest m_request;
    MailingPlan m_plan; ///< the clients, the message filled for each, and each client's documents
    AppSettings m_settings;
    QString m_csvFolder;
    QString m_csvPath; ///< absolute
    qsizetype m_emailCount = 0;
    qsizetype m_printCount = 0;
    qint64 m_errorCount = 0;   ///< clients whose own document was not found (to send or to print)
    qint64 m_failureCount = 0; ///< send errors and print errors
    QString m_stopReason;
    RunOutcome m_outcome = RunOutcome::NotStarted;
    bool m_handedOver = false;
    RunTally m_tally;
    /// The run's messages go to this computer's mail queue ("SendMethod" queue).
    bool queued() const;
    QString m_fileMistake; ///< what the client list looks like it got wrong, or empty
    qint64 m_emailsToHandle = 0;
    qint64 m_printsToHandle = 0;
    qint64 m_emailsDone = 0;
    qint64 m_printsDone = 0;
    qint64 m_groupCount = 0;
    qint64 m_sends = 0;
    QDateTime m_runStart;       ///< when the run's journal was opened; part of every Message-ID
    qint64 m_messageNumber = 0; ///< the messages of this run so far
    struct PendingCopy
    {
        qsizetype index = 0;
        QByteArray message;
        QByteArray messageId;
    };
    /// The copies earlier runs of the mailing left missing, by journalClientKey.
    QHash<QString, JournalHistory::MissingCopy> m_missingCopies;
    QList<PendingCopy> m_failedCopies;        ///< tried again once at the end of the run
    bool m_sentFolderTold = false;            ///< the Sent folder's note was logged
    qint64 m_keptCopyBytes = 0;               ///< the size of m_failedCopies' messages together
    std::chrono::milliseconds m_sendTime{0};  ///< all sends so far together
    std::chrono::milliseconds m_waitAhead{0}; ///< the wait before the current client is tried again
    std::optional<qint64> m_sizeLimit;        ///< the largest message the server takes, when it said
    QList<QDateTime> m_sentTimes;             ///< the messages sent in the last 24 hours, by every run (with limits)
    AttachmentMode m_lastMode = AttachmentMode::None;
    QString m_lastCommonPath;

    std::unique_ptr<Journal> m_journal;
    RunKind m_runKind = RunKind::AllClients;
    bool m_earlierRunUnfinished = false;
    QString m_alreadySent;     ///< "This mailing was already sent to all N clients on ...", or empty
    bool m_onlyListed = false; ///< only the clients in m_only take part
    QString m_journalPath;
    MailingKey m_mailing;
    std::optional<MailingChoices> m_earlierChoices; ///< chosen: resume with the interrupted run's choices
    bool m_restartedWithEarlierChoices = false;
    bool m_cancelled = false; ///< a question before the run was answered Cancel
    std::optional<char> m_separatorChosen;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<ClientFileLock> m_clientLock;
    /// This data folder's record beside the client list (none where no lock file could be made
    /// there either), and the message of the client being sent to, as the journal has it.
    std::unique_ptr<SentRecord> m_record;
    SentMessage m_recording;
    QSet<QString> m_only;                        ///< by journalClientKey
    QSet<qsizetype> m_emptySkipped;              ///< rows passed over for an empty field the message uses
    QHash<QString, JournalHistory::Last> m_skip; ///< by journalClientKey: skipped, and why
    struct FileHash
    {
        QString path;
        qint64 size = -1;
        QDateTime modified;
        QString sha256;
    } m_lastHash; ///< the common attachment is hashed once while it stays the same
};

} // namespace quorvale
