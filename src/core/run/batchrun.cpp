#include "run/batchrun.h"

#include "clients/csvreader.h"
#include "mail/sendmail.h"
#include "run/clock.h"
#include "run/pause.h"
#include "run/printer.h"
#include "run/prompter.h"
#include "run/statuslog.h"
#include "settings/settingsstore.h"

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

BatchRun::BatchRun(RunDependencies deps) : m_deps(std::move(deps)) {}

bool BatchRun::prepare(const RunRequest &request)
{
    m_outcome = RunOutcome::NotStarted;
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
    return true;
}

RunOutcome BatchRun::execute()
{
    StatusLog &log = m_deps.log;
    log.LogStatus(QStringLiteral("Start processing..."));
    if (m_deps.observer)
        m_deps.observer->runningChanged(true);

    PassEnd end = m_request.print ? printPass() : PassEnd::Finished;
    if (end == PassEnd::Finished)
        end = emailPass();
    if (end == PassEnd::Stopped) {
        stop(m_stopReason);
        return m_outcome;
    }

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
        if (m_clients.hasEmailAddress(i))
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
        if (!document.isEmpty() && !m_deps.printer.printDocument(document)) {
            log.LogStatus(QStringLiteral("Print Error - ") + clientId);
            ++m_failureCount;
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
        if (!m_clients.hasEmailAddress(i))
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
        bool documentFound = true;
        switch (m_deps.control.attachmentMode()) {
        case AttachmentMode::None:
            break;
        case AttachmentMode::Common:
            attachment = m_deps.control.commonAttachmentPath();
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
        if (documentFound) {
            log.LogStatus(QStringLiteral("Sending email - ") + number(sendIndex + 1));
            if (!send(address, attachment))
                return PassEnd::Stopped;
        } else {
            log.LogStatus(QStringLiteral("No attachment found for Client ID - ") + m_clients.ClientId(i));
            ++m_errorCount;
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

bool BatchRun::send(const QString &address, const QString &attachment)
{
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
    if (!m_deps.mailer.sendMail(message, status, errors, &error, percentDone, abortCheck)) {
        m_stopReason = error;
        return false;
    }
    if (status == QLatin1String("Bad")) {
        m_deps.log.LogStatus(QStringLiteral("Send Error - ") + address);
        ++m_failureCount;
    }
    return true;
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
