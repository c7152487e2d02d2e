#include "run/batchrun.h"

#include "clients/csvreader.h"
#include "mail/sendmail.h"
#include "platform/platform.h"
#include "run/clock.h"
#include "run/pause.h"
#include "run/printer.h"
#include "run/prompter.h"
#include "run/statuslog.h"
#include "settings/settingsstore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QMutexLocker>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <system_error>

namespace quorvale {

namespace {

QString number(qint64 value)
{
    return QString::number(value);
}

/// The kinds of character that decide where an identifier may start inside a file name.
enum class CharKind
{
    Digit,
    Letter,
    Other
};

CharKind kindOf(QChar c)
{
    if (c.isDigit())
        return CharKind::Digit;
    if (c.isLetter())
        return CharKind::Letter;
    return CharKind::Other;
}

} // namespace

void RunControl::setAttachmentMode(AttachmentMode mode)
{
    QMutexLocker lock(&m_mutex);
    m_mode = mode;
}

AttachmentMode RunControl::attachmentMode() const
{
    QMutexLocker lock(&m_mutex);
    return m_mode;
}

void RunControl::setCommonAttachmentPath(const QString &path)
{
    QMutexLocker lock(&m_mutex);
    m_commonPath = path;
}

QString RunControl::commonAttachmentPath() const
{
    QMutexLocker lock(&m_mutex);
    return m_commonPath;
}

bool isClientDocumentName(const QString &fileName, const QString &clientId)
{
    if (clientId.trimmed().isEmpty())
        return false;
    const QString target = clientId + QLatin1Char('.');
    const CharKind firstKind = kindOf(clientId.front());
    // "42." inside "1042.pdf" names client 1042, not 42: a match counts only at the start of
    // the name or right after a character that cannot continue the identifier.
    for (qsizetype at = fileName.indexOf(target, 0, Qt::CaseInsensitive); at >= 0;
         at = fileName.indexOf(target, at + 1, Qt::CaseInsensitive)) {
        if (at == 0 || kindOf(fileName.at(at - 1)) != firstKind)
            return true;
    }
    return false;
}

QStringList ListDocumentFolder(const QString &folder, QString *error, const QString &skipName)
{
    namespace fs = std::filesystem;
    const QDir base(folder.isEmpty() ? QStringLiteral(".") : folder);
    const fs::path dir(QFile::encodeName(base.path()).toStdString());
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    QStringList names;
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError))
            continue;
        // Hidden files are never documents: an office program's lock file for "Invoice_42.odt"
        // is ".~lock.Invoice_42.odt#", and it sorts before the document itself.
        const QString name = QFile::decodeName(QByteArray::fromStdString(it->path().filename().native()));
        if (!name.startsWith(QLatin1Char('.')) && name != skipName)
            names.append(name);
    }
    if (ec) {
        if (error)
            *error = QStringLiteral("The folder cannot be listed: ") + folder + QStringLiteral(" (") +
                     QString::fromLocal8Bit(ec.message().c_str()) + QLatin1Char(')');
        return {};
    }
    // Listing order differs between file systems; sorting makes the first match the same everywhere.
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int c = QString::compare(a, b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

QString FindClientDocument(const QString &folder, const QString &clientId, QString *error, const QString &skipName)
{
    if (clientId.trimmed().isEmpty())
        return {};
    const QStringList names = ListDocumentFolder(folder, error, skipName);
    for (const QString &name : names) {
        if (isClientDocumentName(name, clientId))
            return QDir(folder.isEmpty() ? QStringLiteral(".") : folder).filePath(name);
    }
    return {};
}

bool isClientListFile(const QString &path, const QString &csvPath)
{
    if (path.isEmpty() || csvPath.isEmpty())
        return false;
    return platform::isSameFile(path, csvPath) ||
           QFileInfo(path).absoluteFilePath() == QFileInfo(csvPath).absoluteFilePath();
}

QString clientListAsAttachmentMessage(const QString &path)
{
    return QStringLiteral("The common attachment is the client CSV file, which holds every client's address. "
                          "Select a different file. File name= ") +
           path;
}

BatchRun::BatchRun(RunDependencies deps) : m_deps(std::move(deps)) {}

bool BatchRun::prepare(const RunRequest &request)
{
    m_outcome = RunOutcome::NotStarted;
    m_handedOver = false;
    m_request = request;
    // The pacing is taken here, once: a change saved in the setup dialog applies to the next run.
    m_settings = m_deps.settings();
    StatusLog &log = m_deps.log;
    Prompter &prompter = m_deps.prompter;

    const AttachmentMode mode = m_deps.control.attachmentMode();
    const QString commonPath = m_deps.control.commonAttachmentPath();
    if (m_settings.SMTPServer.isEmpty() || m_settings.SSLport.isEmpty() || m_settings.UserName.isEmpty() ||
        m_settings.Password.isEmpty()) {
        prompter.warn(QStringLiteral("Your email server setup is not complete."));
        return false;
    }
    if (mode == AttachmentMode::Common && commonPath.isEmpty()) {
        prompter.warn(QStringLiteral("You need to set the path for the client Common file."));
        return false;
    }
    if (request.csvPath.isEmpty()) {
        prompter.warn(QStringLiteral("You need to set the path for the client CSV file."));
        return false;
    }
    if (mode == AttachmentMode::Common && isClientListFile(commonPath, request.csvPath)) {
        prompter.warn(clientListAsAttachmentMessage(commonPath));
        return false;
    }
    if (mode == AttachmentMode::Common) {
        const QFileInfo common(commonPath);
        if (!common.isFile() || !common.isReadable()) {
            prompter.warn(QStringLiteral("The common attachment file cannot be read. File name= ") + commonPath);
            return false;
        }
    }

    log.clearStatus();
    m_errorCount = 0;
    m_failureCount = 0;
    m_stopReason.clear();
    m_deps.control.abort().clear();
    if (m_deps.observer) {
        m_deps.observer->emailProgress(0);
        m_deps.observer->printProgress(0, 0);
    }

    log.LogStatus(QStringLiteral("Parsing CSV file..."));
    CsvReadResult read = GetCSVFile(request.csvPath, log, prompter);
    // A list that could not be read whole must never be used: the reader has said why, and
    // nothing is counted, asked, saved or sent.
    if (read.outcome != CsvReadOutcome::Read)
        return false;
    log.LogStatus(QStringLiteral("Parsing CSV file complete"));
    m_clients = std::move(read.clients);
    const QFileInfo csvFile(request.csvPath);
    m_csvFolder = csvFile.absolutePath();
    m_csvName = csvFile.fileName();

    const qsizetype total = m_clients.Count();
    m_emailCount = 0;
    for (qsizetype i = 0; i < total; ++i)
        m_emailCount += m_clients.hasEmailAddress(i) ? 1 : 0;
    m_printCount = total - m_emailCount;

    log.LogStatus(QStringLiteral("Client count - ") + number(total));
    log.LogStatus(QStringLiteral("Emails to be sent - ") + number(m_emailCount));
    if (request.print) {
        log.LogStatus(QStringLiteral("Documents to be printed - ") + number(m_printCount));
        if (m_deps.observer)
            m_deps.observer->printProgress(0, int(std::min<qsizetype>(m_printCount, INT_MAX)));
    }

    m_csvAbsolutePath = csvFile.absoluteFilePath();
    QString hashError;
    const QString csvSha256 = fileSha256(request.csvPath, &hashError);
    if (csvSha256.isEmpty()) {
        prompter.warn(QStringLiteral("The client CSV file cannot be read: ") + request.csvPath + QStringLiteral(" (") +
                      hashError + QLatin1Char(')'));
        log.clearStatus();
        return false;
    }
    if (!chooseClients(csvSha256)) {
        log.clearStatus();
        return false;
    }

    if (!prompter.askYesNo(QStringLiteral("Are you sure your ready to start processing?"))) {
        log.clearStatus();
        return false;
    }

    QString error;
    if (!m_deps.store.RegWriteValue(QStringLiteral("CSVpath"), ValueKind::Text, request.csvPath, &error) ||
        !m_deps.store.RegWriteValue(QStringLiteral("SubjectLine"), ValueKind::Text, request.subject, &error) ||
        !WriteBodyFile(m_settings.DataFolder, request.body, &error)) {
        stop(error);
        return false;
    }
    // Nothing is sent that cannot be journalled.
    if (!openJournal(csvSha256)) {
        closeJournal(QString::fromUtf16(journal::kStopped), m_stopReason);
        stop(m_stopReason);
        return false;
    }
    return true;
}

bool BatchRun::chooseClients(const QString &csvSha256)
{
    m_skip.clear();
    m_only.clear();
    m_onlyListed = false;
    m_earlierRunUnfinished = false;
    m_runKind = QString::fromUtf16(journal::kKindFull);
    const JournalHistory history =
        readJournalHistory(runJournalFolder(m_settings.DataFolder), m_csvAbsolutePath, csvSha256);
    using Last = JournalHistory::Last;

    if (m_request.retryFailed) {
        for (auto it = history.last.cbegin(); it != history.last.cend(); ++it) {
            if (it.value() == Last::Failed || it.value() == Last::Unknown)
                m_only.insert(it.key());
        }
        qint64 count = 0;
        for (qsizetype i = 0; i < m_clients.Count(); ++i) {
            const ClientRecord client = m_clients.at(i);
            if (!client.EmailAddress.isEmpty() &&
                m_only.contains(journalClientKey(client.LineNumber, client.ClientId, client.EmailAddress)))
                ++count;
        }
        if (count == 0) {
            m_deps.prompter.warn(QStringLiteral("There are no failed clients to resend to in this client file."));
            return false;
        }
        m_onlyListed = true;
        m_runKind = QString::fromUtf16(journal::kKindRetry);
        m_deps.log.LogStatus(QStringLiteral("Clients to resend to - ") + number(count));
        return true;
    }

    qint64 done = 0;
    for (auto it = history.last.cbegin(); it != history.last.cend(); ++it)
        done += it.value() == Last::Sent ? 1 : 0;
    // An earlier run that reached nobody leaves nothing to skip and nothing to ask about.
    if (!history.unfinished || (done == 0 && history.unknownClients.isEmpty()))
        return true;
    m_earlierRunUnfinished = true;
    const ResumeChoice choice = m_request.resume;
    if (choice == ResumeChoice::Refuse) {
        m_deps.prompter.warn(QStringLiteral("An earlier run on this client file did not finish. Nothing was sent: "
                                            "say whether to skip the clients it already sent to."));
        return false;
    }
    if (choice == ResumeChoice::StartAfresh)
        return true;
    if (choice == ResumeChoice::Ask &&
        !m_deps.prompter.askYesNo(QStringLiteral("An earlier run on this client file did not finish. Skip the %1 "
                                                 "clients it already sent to?")
                                      .arg(done)))
        return true;

    m_runKind = QString::fromUtf16(journal::kKindResume);
    for (auto it = history.last.cbegin(); it != history.last.cend(); ++it) {
        if (it.value() == Last::Sent)
            m_skip.insert(it.key(), Last::Sent);
    }
    if (history.unknownClients.isEmpty())
        return true;
    bool includeUnknown = m_request.includeUnknown;
    if (choice == ResumeChoice::Ask) {
        QStringList names;
        for (const JournalEntry &client : history.unknownClients) {
            names.append(QStringLiteral("  line %1: %2 %3").arg(client.line).arg(client.clientId, client.address));
            if (names.size() == 20 && history.unknownClients.size() > 21) {
                names.append(QStringLiteral("  ... and %1 more").arg(history.unknownClients.size() - 20));
                break;
            }
        }
        includeUnknown = m_deps.prompter.askYesNo(
            QStringLiteral("The earlier run lost the connection while sending to these clients, so their message "
                           "may or may not have arrived:\n") +
            names.join(u'\n') + QStringLiteral("\nSend to them again?"));
    }
    if (!includeUnknown) {
        for (const JournalEntry &client : history.unknownClients)
            m_skip.insert(journalClientKey(client.line, client.clientId, client.address), Last::Unknown);
    }
    return true;
}

bool BatchRun::skipClient(qsizetype index)
{
    if (!m_onlyListed && m_skip.isEmpty())
        return false;
    const ClientRecord client = m_clients.at(index);
    const QString key = journalClientKey(client.LineNumber, client.ClientId, client.EmailAddress);
    if (m_onlyListed)
        return !m_only.contains(key);
    const auto it = m_skip.constFind(key);
    if (it == m_skip.cend())
        return false;
    // A client without an address was printed; the line names it by its identifier.
    const bool done = it.value() == JournalHistory::Last::Sent;
    if (client.EmailAddress.isEmpty())
        m_deps.log.LogStatus((done ? QStringLiteral("Skipped (already printed) - ")
                                   : QStringLiteral("Skipped (may have been printed) - ")) +
                             client.ClientId);
    else
        m_deps.log.LogStatus(
            (done ? QStringLiteral("Skipped (already sent) - ") : QStringLiteral("Skipped (may have been sent) - ")) +
            client.EmailAddress);
    return true;
}

QString BatchRun::fileHash(const QString &path, qint64 size, const QDateTime &modified)
{
    if (m_lastHash.path != path || m_lastHash.size != size || m_lastHash.modified != modified)
        m_lastHash = {path, size, modified, fileSha256(path)};
    return m_lastHash.sha256;
}

JournalEntry BatchRun::clientEntry(const QString &event, qsizetype index, const QString &file)
{
    const ClientRecord client = m_clients.at(index);
    JournalEntry entry;
    entry.time = m_deps.clock.currentDateTime();
    entry.event = event;
    entry.line = client.LineNumber;
    entry.clientId = client.ClientId;
    entry.address = client.EmailAddress;
    if (!file.isEmpty()) {
        const QFileInfo info(file);
        entry.file = info.absoluteFilePath();
        if (info.isFile()) {
            entry.size = info.size();
            entry.sha256 = fileHash(entry.file, entry.size, info.lastModified());
        }
    }
    return entry;
}

bool BatchRun::journal(const JournalEntry &entry, bool sync)
{
    QString error;
    if (m_journal && m_journal->append(entry, &error, sync))
        return true;
    m_stopReason = m_journal ? error : QStringLiteral("the run journal is not open");
    return false;
}

bool BatchRun::openJournal(const QString &csvSha256)
{
    QString error;
    const QDateTime now = m_deps.clock.currentDateTime();
    m_journal = Journal::create(runJournalFolder(m_settings.DataFolder), now, &error);
    if (!m_journal) {
        m_stopReason = error;
        return false;
    }
    m_journalPath = m_journal->path();
    const auto line = [now](const char16_t *event) {
        JournalEntry entry;
        entry.time = now;
        entry.event = QString::fromUtf16(event);
        return entry;
    };
    JournalEntry run = line(journal::kRun);
    run.detail = m_runKind;
    JournalEntry clientFile = line(journal::kClientFile);
    clientFile.file = m_csvAbsolutePath;
    clientFile.size = QFileInfo(m_csvAbsolutePath).size();
    clientFile.sha256 = csvSha256;
    JournalEntry subject = line(journal::kSubject);
    subject.detail = m_request.subject;
    JournalEntry body = line(journal::kBody);
    body.sha256 =
        QString::fromLatin1(QCryptographicHash::hash(m_request.body.toUtf8(), QCryptographicHash::Sha256).toHex());
    JournalEntry common = line(journal::kCommonAttachment);
    if (m_deps.control.attachmentMode() == AttachmentMode::Common) {
        const QFileInfo info(m_deps.control.commonAttachmentPath());
        common.file = info.absoluteFilePath();
        common.size = info.size();
        common.sha256 = fileHash(common.file, common.size, info.lastModified());
    }
    return journal(run, false) && journal(clientFile, false) && journal(subject, false) && journal(body, false) &&
           journal(common);
}

void BatchRun::closeJournal(const QString &event, const QString &detail)
{
    if (!m_journal)
        return;
    JournalEntry end;
    end.time = m_deps.clock.currentDateTime();
    end.event = event;
    end.detail = detail;
    // A run whose last line cannot be written counts as unfinished next time, which is the safe side.
    QString error;
    m_journal->append(end, &error);
    m_journal.reset();
}

RunOutcome BatchRun::execute()
{
    StatusLog &log = m_deps.log;
    log.LogStatus(QStringLiteral("Start processing..."));
    if (m_deps.observer)
        m_deps.observer->runningChanged(true);

    // A resend goes over failed sends only; the documents were printed before.
    PassEnd end = m_request.print && !m_onlyListed ? printPass() : PassEnd::Finished;
    if (end == PassEnd::Finished)
        end = emailPass();
    if (end == PassEnd::Stopped) {
        closeJournal(QString::fromUtf16(journal::kStopped), m_stopReason);
        stop(m_stopReason);
        return m_outcome;
    }
    closeJournal(QString::fromUtf16(end == PassEnd::Aborted ? journal::kAborted : journal::kCompleted));

    m_deps.control.abort().clear();
    resetFrontEnd();
    if (m_errorCount == 0)
        log.LogStatus(QStringLiteral("Processing Complete"));
    else
        log.LogStatus(QStringLiteral("Processing Complete with ") + number(m_errorCount) + QStringLiteral(" errors!"));

    if (end == PassEnd::Aborted)
        m_outcome = RunOutcome::Aborted;
    else if (m_errorCount > 0 || m_failureCount > 0)
        m_outcome = RunOutcome::CompletedWithErrors;
    else
        m_outcome = RunOutcome::Completed;
    return m_outcome;
}

BatchRun::PassEnd BatchRun::printPass()
{
    StatusLog &log = m_deps.log;
    const AbortRequest &abort = m_deps.control.abort();
    const int maximum = int(std::min<qsizetype>(m_printCount, INT_MAX));
    qint64 printIndex = 0;
    for (qsizetype i = 0; i < m_clients.Count(); ++i) {
        if (m_clients.hasEmailAddress(i) || skipClient(i))
            continue;
        const QString clientId = m_clients.ClientId(i);
        QString error;
        const QString document = FindClientDocument(m_csvFolder, clientId, &error, m_csvName);
        if (!error.isEmpty()) {
            m_stopReason = error;
            return PassEnd::Stopped;
        }
        ++printIndex;
        log.LogStatus(QStringLiteral("Printing document - ") + number(printIndex));
        if (document.isEmpty()) {
            // The client gets neither a message nor a printout: that is an error the user must see.
            log.LogStatus(QStringLiteral("No document found to print for Client ID - ") + clientId);
            ++m_errorCount;
            if (!journal(clientEntry(QString::fromUtf16(journal::kNoDocument), i)))
                return PassEnd::Stopped;
        } else {
            if (!journal(clientEntry(QString::fromUtf16(journal::kAttempting), i, document)))
                return PassEnd::Stopped;
            QString printError;
            const bool printed = m_deps.printer.printDocument(document, &printError);
            m_handedOver = m_handedOver || printed;
            JournalEntry outcome =
                clientEntry(QString::fromUtf16(printed ? journal::kPrinted : journal::kPrintError), i);
            outcome.detail = printError;
            if (!printed) {
                log.LogStatus(QStringLiteral("Print Error - ") + clientId);
                ++m_failureCount;
            }
            if (!journal(outcome))
                return PassEnd::Stopped;
        }
        if (m_deps.observer)
            m_deps.observer->printProgress(int(std::min<qint64>(printIndex, INT_MAX)), maximum);
        PauseFor(1000, m_deps.clock, abort);
        if (abort.isRequested()) {
            log.LogStatus(QStringLiteral("Processing Aborted"));
            return PassEnd::Aborted;
        }
    }
    return PassEnd::Finished;
}

BatchRun::PassEnd BatchRun::emailPass()
{
    StatusLog &log = m_deps.log;
    const AbortRequest &abort = m_deps.control.abort();
    const bool scheduled = m_settings.EnableSchedule == 1;
    // 64-bit products: the largest settings must neither overflow nor wrap into short waits.
    const double sendDelayMs = double(qint64(m_settings.DelayBetweenSends) * 1000);
    const double groupDelayMs = double(qint64(m_settings.GroupDelay) * 60000);
    if (scheduled) {
        log.LogStatus(QStringLiteral("Email scheduling enabled:"));
        log.LogStatus(QStringLiteral("  Delay between email sends - ") + number(m_settings.DelayBetweenSends) +
                      QStringLiteral("secs"));
        log.LogStatus(QStringLiteral("  Delay between email groups - ") + number(m_settings.GroupDelay) +
                      QStringLiteral("mins"));
        log.LogStatus(QStringLiteral("  Email group size - ") + number(m_settings.GroupSize));
    }

    qint64 sendIndex = 0;
    qint64 groupCount = 0;
    for (qsizetype i = 0; i < m_clients.Count(); ++i) {
        if (!m_clients.hasEmailAddress(i) || skipClient(i))
            continue;
        if (scheduled && groupCount >= m_settings.GroupSize) {
            log.LogStatus(QStringLiteral("Starting email group delay..."));
            const QDateTime resume = m_deps.clock.currentDateTime().addSecs(qint64(m_settings.GroupDelay) * 60);
            log.LogStatus(QStringLiteral("  Will resume at ") +
                          QLocale::c().toString(resume.time(), QStringLiteral("hh:mm:ss AP")));
            PauseFor(groupDelayMs, m_deps.clock, abort);
            if (abort.isRequested()) {
                log.LogStatus(QStringLiteral("Aborting email sends"));
                return PassEnd::Aborted;
            }
            log.LogStatus(QStringLiteral("Continuing email sends"));
            groupCount = 0;
        }

        const QString address = m_clients.EmailAddress(i);
        QString attachment;
        QString notSent; // why this client's message must not go out as the window has it now
        bool documentFound = true;
        switch (m_deps.control.attachmentMode()) {
        case AttachmentMode::None:
            break;
        case AttachmentMode::Common:
            // Read afresh for every client: the box may have been cleared or changed since Start.
            attachment = m_deps.control.commonAttachmentPath();
            if (attachment.isEmpty())
                notSent = QStringLiteral("The common attachment path is empty; the message was not sent without it.");
            else if (isClientListFile(attachment, m_csvAbsolutePath))
                notSent = clientListAsAttachmentMessage(attachment);
            break;
        case AttachmentMode::ClientSpecific: {
            QString error;
            attachment = FindClientDocument(m_csvFolder, m_clients.ClientId(i), &error, m_csvName);
            if (!error.isEmpty()) {
                m_stopReason = error;
                return PassEnd::Stopped;
            }
            documentFound = !attachment.isEmpty();
            break;
        }
        }
        if (!notSent.isEmpty()) {
            log.LogStatus(QStringLiteral("Sending email - ") + number(sendIndex + 1));
            log.LogStatus(QStringLiteral("Send Error - ") + address);
            ++m_failureCount;
            JournalEntry refused = clientEntry(QString::fromUtf16(journal::kRefused), i);
            refused.detail = notSent;
            if (!journal(refused))
                return PassEnd::Stopped;
        } else if (documentFound) {
            log.LogStatus(QStringLiteral("Sending email - ") + number(sendIndex + 1));
            if (!journal(clientEntry(QString::fromUtf16(journal::kAttempting), i, attachment)) || !send(i, attachment))
                return PassEnd::Stopped;
        } else {
            log.LogStatus(QStringLiteral("No attachment found for Client ID - ") + m_clients.ClientId(i));
            ++m_errorCount;
            if (!journal(clientEntry(QString::fromUtf16(journal::kNoDocument), i)))
                return PassEnd::Stopped;
        }
        ++sendIndex;
        if (abort.isRequested()) {
            log.LogStatus(QStringLiteral("Processing Aborted"));
            return PassEnd::Aborted;
        }
        if (scheduled) {
            ++groupCount;
            PauseFor(sendDelayMs, m_deps.clock, abort);
        } else {
            PauseFor(1000, m_deps.clock, abort);
        }
    }
    return PassEnd::Finished;
}

bool BatchRun::send(qsizetype index, const QString &attachment)
{
    const QString address = m_clients.EmailAddress(index);
    const MailMessage message{address, attachment, m_request.subject, m_request.body};
    QString status;
    QString errors;
    QString error;
    RunObserver *observer = m_deps.observer;
    const AbortRequest &abort = m_deps.control.abort();
    const auto percentDone = [observer](int percent) {
        if (observer)
            observer->emailProgress(percent);
    };
    const auto abortCheck = [&abort] { return abort.isRequested(); };
    SendReport report;
    if (!m_deps.mailer.sendMailReported(message, status, errors, &error, percentDone, abortCheck, report)) {
        JournalEntry refused = clientEntry(QString::fromUtf16(journal::kRefused), index);
        refused.detail = error;
        journal(refused);
        m_stopReason = error;
        return false;
    }
    const bool failed = status == QLatin1String("Bad");
    m_handedOver = m_handedOver || !failed || report.maybeDelivered;
    if (failed) {
        m_deps.log.LogStatus(QStringLiteral("Send Error - ") + address);
        ++m_failureCount;
    }
    JournalEntry outcome = clientEntry(QString::fromUtf16(!failed                 ? journal::kSent
                                                          : report.maybeDelivered ? journal::kUnknown
                                                                                  : journal::kRefused),
                                       index);
    outcome.detail = failed ? errors : report.serverReply;
    return journal(outcome);
}

void BatchRun::stop(const QString &reason)
{
    m_deps.log.LogStatus(QStringLiteral("Processing stopped - ") +
                         (reason.isEmpty() ? QStringLiteral("an unexpected error") : reason));
    resetFrontEnd();
    m_outcome = RunOutcome::Stopped;
}

void BatchRun::resetFrontEnd()
{
    if (!m_deps.observer)
        return;
    m_deps.observer->runningChanged(false);
    m_deps.observer->emailProgress(0);
    m_deps.observer->printProgress(0, m_request.print ? int(std::min<qsizetype>(m_printCount, INT_MAX)) : 0);
}

} // namespace quorvale
