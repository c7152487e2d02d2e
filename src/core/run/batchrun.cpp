#include "run/batchrun.h"

#include "clients/csvreader.h"
#include "mail/htmlbody.h"
#include "mail/mailer.h"
#include "mail/messagebuilder.h"
#include "mail/mimeencode.h"
#include "mail/queuemailer.h"
#include "mail/sentcopy.h"
#include "mail/sizeprobe.h"
#include "mailing/mailingplan.h"
#include "platform/files.h"
#include "run/clientfilelock.h"
#include "run/clock.h"
#include "run/messagepreview.h"
#include "run/pause.h"
#include "run/printer.h"
#include "run/prompter.h"
#include "run/sendinglimits.h"
#include "run/statuslog.h"
#include "settings/bodyfile.h"
#include "settings/settingsstore.h"
#include "settings/settingstable.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QMutexLocker>
#include <QSet>

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <limits>
#include <memory>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

QString number(qint64 value)
{
    return QString::number(value);
}

/// The hash a journal records of a message filled from a client's line: of its formatted body
/// when it has one, else of its text. A resume compares it with what the client would get now.
QString filledBodySha256(const MailMessage &message)
{
    return textSha256(message.HtmlBody.isEmpty() ? message.BodyText : message.HtmlBody);
}

/// How long a first abort lets the message being handed over go on, so that its outcome is
/// known, before cutting it off.
constexpr std::chrono::milliseconds kAbortGrace{30'000};

/// The abort question of one send. An abort requested before the send began stops it before
/// anything goes out; one requested while it goes lets it finish for up to kAbortGrace on the
/// run's clock (said once on `log`), unless it is repeated. The mailer may ask from its watch
/// thread as well as from the sending thread.
AbortPredicate letSendFinish(const AbortRequest &abort, const Clock &clock, StatusLog &log)
{
    constexpr qint64 kNotSeen = std::numeric_limits<qint64>::min();
    struct State
    {
        bool before = false;
        std::atomic<qint64> seenAt{kNotSeen};
    };
    auto state = std::make_shared<State>();
    state->before = abort.isRequested();
    return [&abort, &clock, &log, state] {
        if (!abort.isRequested())
            return false;
        if (state->before || abort.isUrgent())
            return true;
        const qint64 now = clock.tick().count();
        qint64 seen = kNotSeen;
        if (state->seenAt.compare_exchange_strong(seen, now)) {
            log.LogStatus(u"Abort - letting the message being sent finish (up to 30 seconds); abort again to stop "
                          "it now"_s);
            return false;
        }
        return now - seen >= kAbortGrace.count();
    };
}

/// The waits, in seconds, before the same client is tried again after a refusal for now.
constexpr std::array<int, 3> kRetryWaits{10, 60, 300};

/// "10 secs, 60 secs and 300 secs".
QString retryWaitsText()
{
    QStringList waits;
    for (int seconds : kRetryWaits)
        waits.append(u"%1 secs"_s.arg(seconds));
    return waits.mid(0, waits.size() - 1).join(u", "_s) + u" and "_s + waits.last();
}

} // namespace

std::optional<qint64> serverSizeLimit(Mailer &mailer, const AppSettings &settings, const AbortPredicate &aborted)
{
    if (!isMailServerComplete(settings))
        return std::nullopt;
    return mailer.sizeLimit(mailServerFrom(settings), aborted);
}

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

BatchRun::BatchRun(RunDependencies deps) : m_deps(std::move(deps)) {}

bool BatchRun::prepare(const RunRequest &request)
{
    m_earlierChoices.reset();
    m_restartedWithEarlierChoices = false;
    m_cancelled = false;
    bool go = prepareRun(request);
    if (!go) {
        m_lock.reset();
        m_clientLock.reset();
    }
    // Told to resume with the interrupted run's choices: they are the run's from here on, and
    // everything is decided again with them.
    if (!go && m_earlierChoices) {
        const MailingChoices earlier = *std::exchange(m_earlierChoices, std::nullopt);
        m_deps.control.setAttachmentMode(earlier.mode);
        if (earlier.mode == AttachmentMode::Common)
            m_deps.control.setCommonAttachmentPath(earlier.commonFile);
        RunRequest again = request;
        again.print = earlier.printKnown ? earlier.print : request.print;
        again.clients = earlier.clients;
        again.delimiter = m_separatorChosen.value_or(request.delimiter);
        m_restartedWithEarlierChoices = true;
        go = prepareRun(again);
        if (!go) {
            m_lock.reset();
            m_clientLock.reset();
        }
    }
    return go;
}

bool BatchRun::lockRun()
{
    // One run at a time over all client files: two would send every client two messages, and a
    // resume must never be offered while the run it resumes is still going.
    // The data folder is the program's to give: without one there is nowhere to keep the lock,
    // the body or the journal, and the user's own folders are not guessed at.
    const QString folder = m_settings.DataFolder;
    if (folder.isEmpty()) {
        m_deps.prompter.warn(
            u"No data folder is set for the run journals and the message body; nothing was started."_s);
        return false;
    }
    platform::makePrivateFolder(folder);
    m_lock = std::make_unique<QLockFile>(QDir(folder).filePath(u"run.lock"_s));
    // A lock is stale only when the process holding it is gone, however long its run lasts.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) {
        // Private whatever the umask, like the rest of the data folder.
        QFile::setPermissions(m_lock->fileName(), QFile::ReadOwner | QFile::WriteOwner);
    } else if (m_lock->error() == QLockFile::LockFailedError) {
        m_deps.prompter.warn(runLockRefusal(*m_lock));
        m_lock.reset();
        return false;
    } else {
        // A data folder where no lock can be made cannot take the body file or a journal either:
        // the run stops there, before any send, saying why.
        m_lock.reset();
    }
    // And one run per client file, whichever account or computer runs it.
    if (lockClientFile(m_request.csvPath, m_clientLock, m_deps.prompter))
        return true;
    m_lock.reset();
    return false;
}

bool BatchRun::prepareRun(const RunRequest &request)
{
    m_outcome = RunOutcome::NotStarted;
    m_handedOver = false;
    m_request = request;
    // The pacing is taken here, once: a change saved in the setup dialog applies to the next run.
    m_settings = m_deps.settings();
    const AttachmentMode mode = m_deps.control.attachmentMode();
    const QString commonPath = m_deps.control.commonAttachmentPath();
    if (!isMailServerComplete(m_settings)) {
        m_deps.prompter.warnSetupIncomplete(incompleteSetupMessage(m_settings));
        return false;
    }
    if (const QString why = m_deps.mailer.unusable(mailServerFrom(m_settings)); !why.isEmpty()) {
        m_deps.prompter.warn(why);
        return false;
    }
    if (const QString problem = preCheckProblem(mode, commonPath); !problem.isEmpty()) {
        m_deps.prompter.warn(problem);
        return false;
    }
    if (!lockRun())
        return false;

    m_deps.log.clearStatus();
    m_errorCount = 0;
    m_failureCount = 0;
    m_tally = {};
    m_tally.queued = queued();
    m_emptySkipped.clear();
    m_emailsDone = m_printsDone = m_groupCount = m_sends = 0;
    m_sendTime = {};
    m_lastMode = mode;
    m_lastCommonPath = commonPath;
    m_stopReason.clear();
    m_deps.control.abort().clear();
    if (m_deps.observer) {
        m_deps.observer->emailProgress(0);
        m_deps.observer->printProgress(0, 0);
    }
    if (!readClients(mode, commonPath) || !checkMessageFields() || !checkFormattedPictures())
        return false;
    if (!describeMailing(mode, commonPath) || !chooseClients()) {
        if (m_cancelled)
            nothingStarted();
        else
            m_deps.log.clearStatus();
        return false;
    }
    const QString question = u"Are you sure your ready to start processing?"_s;
    if (!m_deps.prompter.confirmStart(m_alreadySent.isEmpty() ? question : m_alreadySent + u'\n' + question,
                                      startSummaryLines(startSummary()).join(u'\n'),
                                      !m_alreadySent.isEmpty() && !request.sendAgain)) {
        nothingStarted();
        return false;
    }

    QString error;
    if (!saveSetting(m_deps.store, &AppSettings::CSVpath, request.csvPath, &error) ||
        !saveSetting(m_deps.store, &AppSettings::CSVHeader, request.header ? u"1"_s : u"0"_s, &error) ||
        !saveSetting(m_deps.store, &AppSettings::SubjectLine, request.subject, &error) ||
        !saveChoices(mode, commonPath, &error) || !writeBodyFile(m_settings.DataFolder, request.body, &error) ||
        (request.keepHtml && !keepFormattedBody(&error))) {
        stop(error);
        return false;
    }
    // Nothing is sent that cannot be journalled.
    if (!openJournal()) {
        closeJournal(JournalEvent::Stopped, m_stopReason);
        stop(m_stopReason);
        return false;
    }
    return true;
}

bool BatchRun::checkFormattedPictures()
{
    // A picture that cannot go would fail every client's message the same way: said once, before
    // the question, rather than as one send error per client.
    if (!m_plan.mailing().formatted || clients().Count() == 0)
        return true;
    const QString problem = formattedBodyProblem(clientMessage(m_plan, 0));
    if (!problem.isEmpty())
        m_deps.prompter.warn(problem);
    return problem.isEmpty();
}

bool BatchRun::keepFormattedBody(QString *error)
{
    // A plain run keeps the formatted body the window holds besides, untouched.
    const bool formatted = !m_request.html.isEmpty();
    return saveSetting(m_deps.store, &AppSettings::BodyFormat, formatted ? u"html"_s : u"plain"_s, error) &&
           (!formatted || writeHtmlFile(htmlBodyFilePath(m_settings.DataFolder), m_request.html, error));
}

void BatchRun::nothingStarted()
{
    // The question's answer stopped the run: the box is cleared, and says so rather than nothing.
    m_deps.log.clearStatus();
    m_deps.log.LogStatus(u"Nothing was started."_s);
}

bool BatchRun::saveChoices(AttachmentMode mode, const QString &commonPath, QString *error)
{
    // Kept with the subject and the client file, so that the window opens on the same mailing and
    // a restart offers to resume it with the same attachment.
    if (mode == AttachmentMode::Common && !saveSetting(m_deps.store, &AppSettings::AttachmentPath, commonPath, error))
        return false;
    if (mode == AttachmentMode::Named &&
        !saveSetting(m_deps.store, &AppSettings::DocumentPatterns, m_request.documentPatterns, error))
        return false;
    return saveSetting(m_deps.store, &AppSettings::AttachMode, attachmentModeName(mode), error) &&
           saveSetting(m_deps.store, &AppSettings::PrintDocuments, m_request.print ? u"1"_s : u"0"_s, error);
}

QString BatchRun::preCheckProblem(AttachmentMode mode, const QString &commonPath) const
{
    const bool common = mode == AttachmentMode::Common;
    if (common && commonPath.isEmpty())
        return u"You need to set the path for the client Common file."_s;
    if (m_request.csvPath.isEmpty())
        return u"You need to set the path for the client CSV file."_s;
    if (mode == AttachmentMode::Named)
        return documentPatternsProblem(m_request.documentPatterns);
    const QString own =
        common ? programFileAttachmentProblem(commonPath, m_request.csvPath, m_deps.programFiles) : QString();
    if (!own.isEmpty())
        return own;
    if (common && !(QFileInfo(commonPath).isFile() && QFileInfo(commonPath).isReadable()))
        return u"The common attachment file cannot be read. File name= "_s + commonPath;
    return {};
}

bool BatchRun::readClients(AttachmentMode mode, const QString &commonPath)
{
    StatusLog &log = m_deps.log;
    log.LogStatus(u"Parsing CSV file..."_s);
    Mailing mailing{m_request.csvPath, m_request.header, m_request.subject,   m_request.body,     mode,
                    commonPath,        m_request.print,  m_request.delimiter, m_deps.programFiles};
    if (!m_request.html.isEmpty()) {
        mailing.formatted = true;
        mailing.body = m_request.html;
        mailing.htmlFolder = m_request.htmlFolder;
    }
    // The signature set up once ends every message; one that cannot be read stops the run rather
    // than send without it.
    QString signatureError;
    if (!readHtmlFile(signatureFilePath(m_settings.DataFolder), mailing.signature, &signatureError)) {
        m_deps.prompter.warn(signatureError);
        return false;
    }
    mailing.signatureFolder = m_settings.DataFolder;
    mailing.clients = m_request.clients;
    mailing.documentPatterns = m_request.documentPatterns;
    m_plan = MailingPlan::make(mailing);
    // A list that could not be read whole must never be used: nothing is counted, asked, saved
    // or sent.
    if (!m_plan.ok()) {
        const QString mistake = m_plan.readMistake();
        const QString message =
            m_plan.error() + u"\n\n"_s + clientFileFormat() + (mistake.isEmpty() ? QString() : u'\n' + mistake);
        // A file that looks separated otherwise is offered to be read that way, once; the choice
        // is kept for the next runs of the list.
        const std::optional<char> other = otherSeparatorOf(clientFileHead(m_request.csvPath), m_request.delimiter);
        if (!other || m_separatorChosen) {
            m_deps.prompter.warn(message);
            return false;
        }
        if (!m_deps.prompter.warnOffering(message, u"Read it with "_s + separatorName(*other)))
            return false;
        QString error;
        if (!saveSetting(m_deps.store, &AppSettings::CSVDelimiter, separatorName(*other).remove(u'"'), &error)) {
            m_deps.prompter.warn(error);
            return false;
        }
        m_separatorChosen = *other;
        m_request.delimiter = *other;
        log.clearStatus();
        return readClients(mode, commonPath);
    }
    // A chosen client that is not in the list is a mistake in the choice: nobody is sent to until
    // it is put right.
    if (const QString problem = m_plan.chosenProblem(); !problem.isEmpty()) {
        m_deps.prompter.warn(problem + u" Nothing was sent."_s);
        return false;
    }
    // With column names asked for, a first line of names is what the user said it is.
    if (!m_request.header)
        m_fileMistake = clientFileMistake(clientFileHead(m_request.csvPath), m_request.delimiter);
    log.LogStatus(u"Clients found - "_s + number(clients().Count()));
    log.LogStatus(u"Parsing CSV file complete"_s);
    const QFileInfo csvFile(m_request.csvPath);
    m_csvFolder = csvFile.absolutePath();
    m_csvPath = csvFile.absoluteFilePath();

    const qsizetype total = clients().Count();
    m_emailCount = 0;
    m_printCount = 0;
    for (qsizetype i = 0; i < total; ++i) {
        if (m_plan.isChosen(i))
            ++(clients().hasEmailAddress(i) ? m_emailCount : m_printCount);
    }

    log.LogStatus(u"Client count - "_s + number(total));
    if (m_plan.hasChoice())
        log.LogStatus(u"Clients chosen - "_s + number(m_plan.chosenCount()));
    log.LogStatus(u"Emails to be sent - "_s + number(m_emailCount));
    if (m_request.print) {
        log.LogStatus(u"Documents to be printed - "_s + number(m_printCount));
        if (m_deps.observer)
            m_deps.observer->printProgress(0, int(std::min<qsizetype>(m_printCount, INT_MAX)));
    }
    return true;
}

bool BatchRun::checkMessageFields()
{
    // Document names that use no column would leave every client without its documents.
    if (m_plan.mailing().mode == AttachmentMode::Named) {
        if (const QStringList unknown = m_plan.documentPatterns().unknownPlaceholders(); !unknown.isEmpty()) {
            m_deps.prompter.warn(unknownDocumentPlaceholderMessage(unknown.first()));
            return false;
        }
    }
    const MessageTemplate &message = m_plan.message();
    if (!message.hasPlaceholders())
        return true;
    if (const QStringList unknown = message.unknownPlaceholders(); !unknown.isEmpty()) {
        m_deps.prompter.warn(m_plan.unknownPlaceholderProblem(unknown.first()));
        return false;
    }
    // Only a message carries the fields: clients without an address are printed as they are.
    qint64 blank = 0;
    QStringList placeholders;
    QStringList named; // the first few, by id and address
    QList<qsizetype> rows;
    for (qsizetype i = 0; i < clients().Count(); ++i) {
        if (!clients().hasEmailAddress(i) || !m_plan.isChosen(i))
            continue;
        const QStringList &empty = m_plan.plan(i).emptyFields();
        if (empty.isEmpty())
            continue;
        ++blank;
        rows.append(i);
        if (named.size() < 5)
            named.append(u"  "_s + clients().ClientId(i) + u' ' + clients().EmailAddress(i));
        for (const QString &placeholder : empty) {
            if (!placeholders.contains(placeholder))
                placeholders.append(placeholder);
        }
    }
    if (blank > named.size())
        named.append(u"  and %1 more"_s.arg(blank - named.size()));
    if (blank == 0)
        return true;
    const QString what =
        u"%1 to be sent to %2 an empty field that the message uses (%3): their message has "
        "nothing where the field is."_s.arg(counted(blank, "client", "clients"), blank == 1 ? u"has"_s : u"have"_s,
                                            placeholders.join(u", "_s));
    const auto skipThem = [this, &rows, blank] {
        m_emptySkipped = QSet<qsizetype>(rows.cbegin(), rows.cend());
        m_deps.log.LogStatus(u"Clients skipped for an empty field - "_s + number(blank));
        return true;
    };
    switch (m_request.emptyFields) {
    case EmptyFieldChoice::Send:
        m_deps.log.LogStatus(what);
        return true;
    case EmptyFieldChoice::Skip:
        return skipThem();
    case EmptyFieldChoice::Refuse:
        m_deps.prompter.warn(what + u" Nothing was sent."_s);
        return false;
    case EmptyFieldChoice::Ask:
        break;
    }
    switch (m_deps.prompter.choose(what + u'\n' + named.join(u'\n') + u"\nSend to them anyway?"_s,
                                   {u"Send anyway"_s, u"Skip them"_s, u"Cancel"_s})) {
    case 0:
        return true;
    case 1:
        return skipThem();
    default:
        nothingStarted();
        return false;
    }
}

bool BatchRun::describeMailing(AttachmentMode mode, const QString &commonPath)
{
    QString hashError;
    m_mailing = {};
    m_mailing.clientFile = QFileInfo(m_request.csvPath).canonicalFilePath();
    m_mailing.clientFileSha256 = fileSha256(m_request.csvPath, &hashError);
    if (m_mailing.clientFileSha256.isEmpty() || m_mailing.clientFile.isEmpty()) {
        m_deps.prompter.warn(u"The client CSV file cannot be read: "_s + m_request.csvPath + u" ("_s + hashError +
                             u')');
        return false;
    }
    m_mailing.subject = m_request.subject;
    m_mailing.bodySha256 = textSha256(m_plan.mailing().messageKey());
    m_mailing.bodyKeySha256 = textSha256(similarText(m_plan.mailing().messageKey()));
    m_mailing.asOf = m_deps.clock.currentDateTime();
    m_mailing.choices = choicesOf(mode, commonPath);
    return true;
}

MailingChoices BatchRun::choicesOf(AttachmentMode mode, const QString &commonPath)
{
    MailingChoices choices;
    choices.mode = mode;
    choices.print = m_request.print;
    choices.clients = chosenClientKeys(m_request.clients);
    if (mode == AttachmentMode::Common) {
        const QFileInfo common(commonPath);
        choices.commonFile = common.absoluteFilePath();
        choices.commonSha256 = fileHash(choices.commonFile, common.size(), common.lastModified());
    }
    if (mode == AttachmentMode::Named)
        choices.documentPatterns = m_request.documentPatterns;
    return choices;
}

SentMessage BatchRun::mailingMessage() const
{
    return SentMessage{m_request.subject, m_mailing.bodySha256, m_mailing.bodyKeySha256, {}};
}

SentMessage BatchRun::fingerprintNow(qsizetype row)
{
    // As the journal records it: the message filled from the client's line when the mailing has
    // fields (the mailing's own otherwise), and the file it would attach or print.
    SentMessage now = mailingMessage();
    if (clients().hasEmailAddress(row) && m_plan.message().hasPlaceholders()) {
        const MailMessage message = clientMessage(m_plan, row);
        now = SentMessage{message.SubjectLine, filledBodySha256(message), {}, {}};
    }
    const ClientPlan &plan = m_plan.plan(row);
    if (plan.action == ClientAction::SendFile || plan.action == ClientAction::Print) {
        const QFileInfo file(plan.file);
        now.fileSha256 = fileHash(file.absoluteFilePath(), file.size(), file.lastModified());
        for (const PlannedFile &more : plan.moreFiles()) {
            const QFileInfo moreFile(more.path);
            now.fileSha256 += u'\n' + fileHash(moreFile.absoluteFilePath(), moreFile.size(), moreFile.lastModified());
        }
    }
    return now;
}

QString BatchRun::clientKey(qsizetype index) const
{
    return journalClientKey(clients().ClientId(index), clients().EmailAddress(index));
}

bool BatchRun::chooseClients()
{
    m_skip.clear();
    m_only.clear();
    m_onlyListed = false;
    m_earlierRunUnfinished = false;
    m_alreadySent.clear();
    m_missingCopies.clear();
    m_runKind = RunKind::AllClients;
    const JournalHistory history = readJournalHistory(runJournalFolder(m_settings.DataFolder), m_mailing);
    const SendsElsewhere elsewhere =
        readSendsElsewhere(m_request.csvPath, recordHome(m_settings.DataFolder), m_deps.clock.currentDateTime());
    const ResumePlan plan = makeResumePlan(
        clients(), history,
        ResumeRequest{m_request.resume, m_request.retryFailed, m_request.print, m_mailing.choices, m_request.subject,
                      [this](qsizetype row) { return fingerprintNow(row); },
                      [this](qsizetype row) { return m_plan.isChosen(row); }, m_request.resendBounced, &elsewhere});
    // The refusal to guess about an unfinished run is what the command line explains further.
    m_earlierRunUnfinished = plan.resumable && !plan.earlierChoices;
    if (!plan.refusal.isEmpty()) {
        m_deps.prompter.warn(plan.refusal);
        return false;
    }
    if (!plan.notice.isEmpty())
        m_deps.prompter.warn(plan.notice);
    m_alreadySent = plan.alreadySent;
    // A run that goes on from the earlier ones makes the copies they left missing; a run over every
    // client starts the mailing afresh.
    if (plan.kind != RunKind::AllClients)
        m_missingCopies = history.missingCopies;
    if (plan.kind == RunKind::ResendToBounced) {
        m_only = plan.only;
        m_onlyListed = true;
        m_runKind = RunKind::ResendToBounced;
        m_deps.log.LogStatus(u"Clients to resend to - "_s + number(plan.resendCount));
        for (const QString &unchanged : plan.unchangedBounced)
            m_deps.log.LogStatus(u"Skipped (bounced, address unchanged) - "_s + unchanged);
        return true;
    }
    if (plan.kind == RunKind::ResendToFailed) {
        m_only = plan.only;
        m_onlyListed = true;
        m_runKind = RunKind::ResendToFailed;
        m_deps.log.LogStatus(u"Clients to resend to - "_s + number(plan.resendCount));
        // A resend never reaches the clients the interrupted run did not: say who does.
        if (plan.notReached > 0)
            m_deps.log.LogStatus(u"Clients not reached yet - "_s + number(plan.notReached) +
                                 u" (Start Processing resumes them)"_s);
        return true;
    }
    if (plan.kind != RunKind::Resume)
        return true;
    if (plan.earlierChoices && !useEarlierChoices(plan))
        return false;
    if (!plan.resumeQuestion.isEmpty() && !m_deps.prompter.askYesNo(plan.resumeQuestion)) {
        m_missingCopies.clear();
        return true;
    }
    m_runKind = RunKind::Resume;
    if (!plan.changes.isEmpty())
        m_deps.log.LogStatus(plan.changes);
    if (plan.changedSince > 0)
        m_deps.log.LogStatus(u"Clients whose message changed since - "_s + number(plan.changedSince) +
                             u" (they get it again)"_s);
    for (const QString &key : plan.skip)
        m_skip.insert(key, JournalHistory::Last::Sent);
    if (!plan.unknown.isEmpty() && !includeUnknownClients(plan.unknown)) {
        for (const JournalEntry &client : plan.unknown)
            m_skip.insert(journalClientKey(client.clientId, client.address), JournalHistory::Last::Unknown);
    }
    return true;
}

bool BatchRun::useEarlierChoices(const ResumePlan &plan)
{
    // Made again with the earlier choices, the plan must find them: a common file changed since
    // is not the one the interrupted run was sending.
    if (m_restartedWithEarlierChoices) {
        m_deps.prompter.warn(plan.otherChoices + u" The interrupted run's common file has changed since, so its "
                                                 "choices cannot be used again. Nothing was sent."_s);
        return false;
    }
    switch (m_deps.prompter.choose(plan.otherChoices + u"\nResume it with the earlier choices?"_s,
                                   {u"Use the earlier choices"_s, u"Keep my choices"_s, u"Cancel"_s}, 0)) {
    case 0:
        m_earlierChoices = plan.earlierChoices;
        return false;
    case 1:
        return true;
    default:
        m_cancelled = true;
        return false;
    }
}

bool BatchRun::includeUnknownClients(const QList<JournalEntry> &unknownClients)
{
    if (m_request.resume != ResumeChoice::Ask)
        return m_request.includeUnknown;
    QStringList names;
    for (const JournalEntry &client : unknownClients) {
        names.append(u"  line %1: %2 %3"_s.arg(client.line).arg(client.clientId, client.address));
        if (names.size() == 20 && unknownClients.size() > 21) {
            names.append(u"  ... and %1 more"_s.arg(unknownClients.size() - 20));
            break;
        }
    }
    // An abort during the send leaves the same doubt as a lost connection, but the user should
    // recognise what happened.
    const auto all = [&unknownClients](const auto &test) {
        return std::all_of(unknownClients.cbegin(), unknownClients.cend(), test);
    };
    const QString why = all([](const JournalEntry &e) { return e.detail.contains(u"aborted"_s); })
                            ? u"you stopped the run while this message was being sent"_s
                        : all([](const JournalEntry &e) { return e.detail == kSentElsewhere; })
                            ? u"a run from another account or computer stopped while sending it"_s
                            : u"the earlier run lost the connection while sending it"_s;
    // Sending twice is the worse mistake: No (skip them) is the default.
    return m_deps.prompter.choose(u"These clients' message may or may not have arrived (%1):\n"_s.arg(why) +
                                      names.join(u'\n') + u"\nSend to them again?"_s,
                                  {u"Yes"_s, u"No"_s}, 1) == 0;
}

bool BatchRun::isSkipped(qsizetype index) const
{
    if (!m_plan.isChosen(index) || m_emptySkipped.contains(index))
        return true;
    if (!m_onlyListed && m_skip.isEmpty())
        return false;
    const QString key = clientKey(index);
    return m_onlyListed ? !m_only.contains(key) : m_skip.contains(key);
}

bool BatchRun::skipClient(qsizetype index)
{
    if (!isSkipped(index))
        return false;
    // Left out by the choice of clients: no failure, and nothing to say of each.
    if (!m_plan.isChosen(index))
        return true;
    if (m_emptySkipped.contains(index)) {
        m_deps.log.LogStatus(u"Skipped (empty field) - "_s + clients().EmailAddress(index));
        return true;
    }
    if (m_onlyListed)
        return true;
    const ClientRecord client = clients().at(index);
    const auto it = m_skip.constFind(journalClientKey(client.ClientId, client.EmailAddress));
    ++m_tally.skipped;
    // A client without an address was printed; the line names it by its identifier.
    const bool done = it.value() == JournalHistory::Last::Sent;
    m_tally.skippedUnknown += done ? 0 : 1;
    if (client.EmailAddress.isEmpty())
        m_deps.log.LogStatus((done ? u"Skipped (already printed) - "_s : u"Skipped (may have been printed) - "_s) +
                             client.ClientId);
    else
        m_deps.log.LogStatus((done ? u"Skipped (already sent) - "_s : u"Skipped (may have been sent) - "_s) +
                             client.EmailAddress);
    return true;
}

QString BatchRun::fileHash(const QString &path, qint64 size, const QDateTime &modified)
{
    if (m_lastHash.path != path || m_lastHash.size != size || m_lastHash.modified != modified)
        m_lastHash = {path, size, modified, fileSha256(path)};
    return m_lastHash.sha256;
}

JournalEntry BatchRun::clientEntry(JournalEvent event, qsizetype index, const QString &file,
                                   const QList<MailAttachment> &more)
{
    const ClientRecord client = clients().at(index);
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
    // Several files: each one's path and hash, one a line, and their sizes added up, so that the
    // journal tells which files went and a resume sees whether any of them changed.
    for (const MailAttachment &attached : more) {
        const QFileInfo info(attached.path);
        entry.file += u'\n' + info.absoluteFilePath();
        entry.sha256 +=
            u'\n' + (info.isFile() ? fileHash(info.absoluteFilePath(), info.size(), info.lastModified()) : QString());
        entry.size = info.isFile() && entry.size >= 0 ? entry.size + info.size() : -1;
    }
    return entry;
}

bool BatchRun::journal(const JournalEntry &entry, bool sync)
{
    QString error;
    if (m_journal && m_journal->append(entry, &error, sync) && record(entry, sync, &error))
        return true;
    m_stopReason = m_journal ? error : u"the run journal is not open"_s;
    return false;
}

bool BatchRun::record(const JournalEntry &entry, bool sync, QString *error)
{
    if (!m_record || entry.line <= 0)
        return true;
    // As the journal reader rebuilds it: the message filled from the client's line when there is
    // one, and the documents of the attempt.
    RecordedSend what = RecordedSend::Failed;
    switch (entry.event) {
    case JournalEvent::Message:
        m_recording = SentMessage{entry.detail, entry.sha256, {}, {}};
        return true;
    case JournalEvent::Attempting:
        m_recording.fileSha256 = entry.sha256;
        what = RecordedSend::Attempting;
        break;
    case JournalEvent::Sent:
    case JournalEvent::Printed:
        what = RecordedSend::Sent;
        break;
    case JournalEvent::Unknown:
        // Still as the attempt left it: it may have arrived.
        m_recording = mailingMessage();
        return true;
    case JournalEvent::Refused:
    case JournalEvent::NotSentAborted:
    case JournalEvent::PrintError:
        break;
    default:
        return true;
    }
    const bool written =
        m_record->append(entry.time, what, journalClientKey(entry.clientId, entry.address), m_recording, sync, error);
    if (what != RecordedSend::Attempting)
        m_recording = mailingMessage();
    if (!written)
        *error =
            u"the record of sends beside the client list cannot be written ("_s + m_record->path() + u"): "_s + *error;
    return written;
}

bool BatchRun::openJournal()
{
    QString error;
    const QDateTime now = m_deps.clock.currentDateTime();
    m_journal = Journal::create(runJournalFolder(m_settings.DataFolder), now, &error);
    m_runStart = now;
    if (!m_journal) {
        m_stopReason = error;
        return false;
    }
    m_journalPath = m_journal->path();
    // Where a lock file could be made beside the client list, a record of this data folder's
    // sends goes beside it too: a run from another one finds whom this one reached.
    m_record.reset();
    m_recording = mailingMessage();
    if (m_clientLock) {
        m_record = SentRecord::open(m_request.csvPath, recordHome(m_settings.DataFolder), &error);
        if (!m_record) {
            m_stopReason = u"the record of sends beside the client list cannot be written ("_s +
                           sentRecordPath(m_request.csvPath, recordHome(m_settings.DataFolder)) + u"): "_s + error;
            return false;
        }
    }
    // The mailing this run belongs to, and the clients it starts with; synced once, together,
    // before the first client.
    for (const JournalEntry &entry : journalHeader(now, m_runKind, m_mailing)) {
        if (!journal(entry, false))
            return false;
    }
    JournalEntry client;
    client.time = now;
    client.event = JournalEvent::Client;
    for (qsizetype i = 0; i < clients().Count(); ++i) {
        client.line = clients().lineNumber(i);
        client.clientId = clients().ClientId(i);
        client.address = clients().EmailAddress(i);
        if (!journal(client, false))
            return false;
    }
    return m_journal->sync(&m_stopReason);
}

void BatchRun::noteBouncedClients()
{
    // The clients whose message bounced stay in the summary until they are sent to again.
    const JournalHistory history = readJournalHistory(runJournalFolder(m_settings.DataFolder), m_mailing);
    QList<JournalEntry> bounced = history.bounced.values();
    std::sort(bounced.begin(), bounced.end(),
              [](const JournalEntry &a, const JournalEntry &b) { return a.line < b.line; });
    m_tally.bounced = bounced.size();
    for (const JournalEntry &e : std::as_const(bounced)) {
        // The line's detail: the Message-ID that bounced, then the status and the server's words.
        m_tally.failures.append(ClientFailure{e.clientId, e.address, u"Bounced"_s, e.detail.section(u' ', 1)});
    }
}

void BatchRun::closeJournal(JournalEvent event, const QString &detail)
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
    m_record.reset();
}

RunOutcome BatchRun::execute()
{
    StatusLog &log = m_deps.log;
    log.LogStatus(u"Start processing..."_s);
    if (m_deps.observer)
        m_deps.observer->runningChanged(true);

    // A resend goes over failed sends only; the documents were printed before.
    PassEnd end = m_request.print && !m_onlyListed ? printPass() : PassEnd::Finished;
    if (end == PassEnd::Finished)
        end = emailPass();
    // A copy that failed is tried once more; one that fails again is counted, not a failed send.
    if (end == PassEnd::Finished && !retryFailedCopies())
        end = PassEnd::Stopped;
    if (end == PassEnd::Finished && !makeMissingCopies())
        end = PassEnd::Stopped;
    if (end != PassEnd::Finished) {
        m_tally.copyFailures += m_failedCopies.size();
        for (const PendingCopy &copy : std::as_const(m_failedCopies))
            failed(copy.index, u"Copy in Sent failed"_s, u"not tried again: the run did not finish"_s, false);
    }
    if (end == PassEnd::Stopped) {
        closeJournal(JournalEvent::Stopped, m_stopReason);
        stop(m_stopReason);
        m_lock.reset();
        m_clientLock.reset();
        return m_outcome;
    }
    closeJournal(end == PassEnd::Aborted ? JournalEvent::Aborted : JournalEvent::Completed);
    noteBouncedClients();

    m_deps.control.abort().clear();
    resetFrontEnd();
    if (m_errorCount == 0)
        log.LogStatus(u"Processing Complete"_s);
    else
        log.LogStatus(u"Processing Complete with "_s + number(m_errorCount) + u" errors!"_s);
    if (m_tally.copyFailures > 0)
        log.LogStatus(sentCopyFailuresLine(m_tally.copyFailures));

    if (end == PassEnd::Aborted)
        m_outcome = RunOutcome::Aborted;
    else if (m_errorCount > 0 || m_failureCount > 0)
        m_outcome = RunOutcome::CompletedWithErrors;
    else
        m_outcome = RunOutcome::Completed;
    m_lock.reset();
    m_clientLock.reset();
    return m_outcome;
}

BatchRun::PassEnd BatchRun::printPass()
{
    StatusLog &log = m_deps.log;
    const AbortRequest &abort = m_deps.control.abort();
    const int maximum = int(std::min<qint64>(m_printsToHandle, INT_MAX));
    qint64 printIndex = 0;
    for (qsizetype i = 0; i < clients().Count(); ++i) {
        if (clients().hasEmailAddress(i) || skipClient(i))
            continue;
        const QString clientId = clients().ClientId(i);
        if (!documentFolderReadable())
            return PassEnd::Stopped;
        const ClientPlan &plan = m_plan.plan(i);
        ++printIndex;
        reportProgress(printIndex);
        log.LogStatus(u"Printing document - "_s + number(printIndex));
        if (plan.action != ClientAction::Print) {
            if (!noDocument(plan, true))
                return PassEnd::Stopped;
        } else {
            QList<MailAttachment> more;
            for (const PlannedFile &file : plan.moreFiles())
                more.append({file.path, file.identity});
            if (!journal(clientEntry(JournalEvent::Attempting, i, plan.file, more)))
                return PassEnd::Stopped;
            QString printError;
            bool printed = true;
            // Every named document of the client, in order; each file handed to the printer must
            // still be the one found, not a link planted since.
            for (const PlannedFile &file : plan.files()) {
                const bool same = platform::fileIdentity(file.path) == file.identity;
                printed =
                    same ? m_deps.printer.printDocument(file.path, &printError)
                         : (printError = u"the document was replaced after it was found; it was not printed"_s, false);
                m_handedOver = m_handedOver || printed;
                if (!printed)
                    break;
            }
            JournalEntry outcome = clientEntry(printed ? JournalEvent::Printed : JournalEvent::PrintError, i);
            outcome.detail = printError;
            if (printed) {
                ++m_tally.printed;
            } else {
                log.LogStatus(u"Print Error - "_s + clientId);
                ++m_failureCount;
                ++m_tally.printErrors;
                failed(i, u"Print error"_s, printError, true);
            }
            if (!journal(outcome))
                return PassEnd::Stopped;
        }
        m_printsDone = printIndex;
        if (m_deps.observer)
            m_deps.observer->printProgress(int(std::min<qint64>(printIndex, INT_MAX)), maximum);
        PauseFor(1000, m_deps.clock, abort);
        if (abort.isRequested()) {
            log.LogStatus(u"Processing Aborted"_s);
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
    if (scheduled) {
        log.LogStatus(u"Email scheduling enabled:"_s);
        log.LogStatus(u"  Delay between email sends - "_s + number(m_settings.DelayBetweenSends) + u"secs"_s);
        log.LogStatus(u"  Delay between email groups - "_s + number(m_settings.GroupDelay) + u"mins"_s);
        log.LogStatus(u"  Email group size - "_s + number(m_settings.GroupSize));
    }

    qint64 sendIndex = 0;
    m_groupCount = 0;
    // A message larger than the server takes is refused only after the whole upload: the server
    // is asked once, before the first, and such a message is never uploaded.
    m_sizeLimit.reset();
    if (m_emailsToHandle > 0)
        m_sizeLimit =
            m_deps.mailer.sizeLimit(mailServerFrom(m_deps.settings()), [&abort] { return abort.isRequested(); });
    for (qsizetype i = 0; i < clients().Count(); ++i) {
        if (!clients().hasEmailAddress(i) || skipClient(i))
            continue;
        reportProgress(m_printsDone + m_emailsDone + 1);
        if (scheduled && m_groupCount >= m_settings.GroupSize) {
            if (!groupDelay())
                return PassEnd::Aborted;
            m_groupCount = 0;
        }
        // After an abort no new client is started; the send it came during was let finish.
        if (abort.isRequested()) {
            log.LogStatus(u"Processing Aborted"_s);
            return PassEnd::Aborted;
        }
        if (const PassEnd end = keepWithinLimits(); end != PassEnd::Finished)
            return end;
        const PassEnd end = emailClient(i, sendIndex + 1);
        if (end != PassEnd::Finished)
            return end;
        ++sendIndex;
        ++m_emailsDone;
        reportEmailProgress(0);
        if (abort.isRequested()) {
            log.LogStatus(u"Processing Aborted"_s);
            return PassEnd::Aborted;
        }
        if (scheduled) {
            ++m_groupCount;
            PauseFor(sendDelayMs, m_deps.clock, abort);
        } else {
            PauseFor(1000, m_deps.clock, abort);
        }
    }
    return PassEnd::Finished;
}

bool BatchRun::groupDelay()
{
    StatusLog &log = m_deps.log;
    const AbortRequest &abort = m_deps.control.abort();
    log.LogStatus(u"Starting email group delay..."_s);
    const QDateTime resume = m_deps.clock.currentDateTime().addSecs(qint64(m_settings.GroupDelay) * 60);
    log.LogStatus(u"  Will resume at "_s + QLocale::c().toString(resume.time(), u"hh:mm:ss AP"_s));
    PauseFor(double(qint64(m_settings.GroupDelay) * 60000), m_deps.clock, abort);
    if (abort.isRequested()) {
        log.LogStatus(u"Aborting email sends"_s);
        return false;
    }
    log.LogStatus(u"Continuing email sends"_s);
    return true;
}

SendingLimits BatchRun::sendingLimits() const
{
    // The computer's mail queue keeps to the provider's limits itself, and may relay through
    // another mailbox than this one's: the run hands messages over as fast as it takes them.
    if (queued())
        return {};
    return {std::max(m_settings.MinuteLimit, 0), std::max(m_settings.DailyLimit, 0)};
}

bool BatchRun::queued() const
{
    return m_settings.SendMethod == "queue"_L1;
}

BatchRun::PassEnd BatchRun::keepWithinLimits()
{
    const SendingLimits limits = sendingLimits();
    if (limits.perDay <= 0 && limits.perMinute <= 0)
        return PassEnd::Finished;
    const AbortRequest &abort = m_deps.control.abort();
    for (;;) {
        const QDateTime now = m_deps.clock.currentDateTime();
        const SendingAllowance allowance = sendingAllowance(limits, m_sentTimes, now, 1);
        if (allowance.now > 0)
            return PassEnd::Finished;
        if (allowance.withinDay == 0) {
            // The day's messages are used up: the rest wait for the next Start, none is refused.
            m_stopReason = u"the daily sending limit of %1 is reached; the rest can be sent after %2, and Start "
                           "then sends them."_s.arg(limits.perDay)
                               .arg(QLocale::c().toString(allowance.nextAt.toLocalTime(), u"yyyy-MM-dd HH:mm"_s));
            return PassEnd::Stopped;
        }
        // The minute's messages are used up: the next goes once the oldest of them leaves it.
        PauseFor(double(std::max<qint64>(now.msecsTo(allowance.nextAt), 0)), m_deps.clock, abort);
        if (abort.isRequested()) {
            m_deps.log.LogStatus(u"Processing Aborted"_s);
            return PassEnd::Aborted;
        }
    }
}

qint64 BatchRun::messageSize(MailMessage message) const
{
    const AppSettings settings = m_deps.settings();
    message.EmailFrom = settings.EmailFrom;
    message.EmailFromName = settings.EmailFromName;
    message.ReplyTo = settings.ReplyTo;
    return wireSize(buildMessage(message));
}

qint64 BatchRun::tooLargeCount(qint64 limit)
{
    // Each message is built without reading its attachment: the file's size gives the attachment's
    // encoded size, so a long list costs one small build per client, not one read of each document.
    const AttachmentMode mode = m_mailing.choices.mode;
    qint64 count = 0;
    for (qsizetype i = 0; i < clients().Count(); ++i) {
        if (isSkipped(i) || !clients().hasEmailAddress(i))
            continue;
        QString attachment;
        if (mode == AttachmentMode::Common) {
            attachment = m_mailing.choices.commonFile;
        } else if (mode == AttachmentMode::ClientSpecific || mode == AttachmentMode::Named) {
            const ClientPlan &plan = m_plan.plan(i);
            if (plan.action != ClientAction::SendFile)
                continue;
            attachment = plan.file;
        }
        MailMessage message = clientMessage(m_plan, i, attachment);
        message.ArchiveCopyTo = m_settings.ArchiveCopyTo;
        if (messageSize(message) > limit)
            ++count;
    }
    return count;
}

QString BatchRun::sizeProblem(MailMessage message) const
{
    if (!m_sizeLimit)
        return {};
    const qint64 size = messageSize(message);
    if (size <= *m_sizeLimit)
        return {};
    return u"the message is %1; the server takes at most %2"_s.arg(megabytes(size), megabytes(*m_sizeLimit));
}

BatchRun::PassEnd BatchRun::emailClient(qsizetype index, qint64 number)
{
    StatusLog &log = m_deps.log;
    QString attachment;
    QString notSent; // why this client's message must not go out as the window has it now
    platform::FileIdentity identity;
    const AttachmentMode mode = m_deps.control.attachmentMode();
    // Read afresh for every client: the box may have been cleared or changed since Start.
    const QString commonPath = m_deps.control.commonAttachmentPath();
    noteAttachmentChange(mode, commonPath);
    switch (mode) {
    case AttachmentMode::None:
        break;
    case AttachmentMode::Common:
        attachment = commonPath;
        if (attachment.isEmpty())
            notSent = u"The common attachment path is empty; the message was not sent without it."_s;
        else
            notSent = programFileAttachmentProblem(attachment, m_csvPath, m_deps.programFiles);
        if (notSent.isEmpty() && !commonFileUnchanged(attachment))
            return PassEnd::Stopped;
        break;
    case AttachmentMode::ClientSpecific:
    case AttachmentMode::Named: {
        if (!documentFolderReadable())
            return PassEnd::Stopped;
        const ClientPlan &plan = m_plan.plan(index);
        if (plan.action != ClientAction::SendFile)
            return noDocument(plan, false) ? PassEnd::Finished : PassEnd::Stopped;
        attachment = plan.file;
        identity = plan.identity;
        break;
    }
    }

    log.LogStatus(u"Sending email - "_s + QString::number(number));
    MailMessage message;
    if (notSent.isEmpty()) {
        message = clientMessage(m_plan, index, attachment, identity);
        // The archive gets each client's message in the same delivery, never a second one.
        message.ArchiveCopyTo = m_settings.ArchiveCopyTo;
        notSent = sizeProblem(message);
    }
    if (notSent.isEmpty()) {
        // A message filled from the client's line is recorded as sent: its subject and its body's
        // hash, brought to the disk with the attempt that follows.
        if (m_plan.message().hasPlaceholders()) {
            JournalEntry filled = clientEntry(JournalEvent::Message, index);
            filled.detail = message.SubjectLine;
            filled.sha256 = filledBodySha256(message);
            if (!journal(filled, false))
                return PassEnd::Stopped;
        }
        // Each message's own Message-ID, recorded with the attempt, finds it again later in the
        // mailbox and in the replies to it.
        message.MessageId = mime::runMessageId(m_runStart, ++m_messageNumber, clients().at(index).LineNumber,
                                               m_deps.settings().EmailFrom);
        JournalEntry attempting = clientEntry(JournalEvent::Attempting, index, attachment, message.MoreAttachments);
        attempting.detail = QString::fromLatin1(message.MessageId);
        return journal(attempting) && send(index, message) ? PassEnd::Finished : PassEnd::Stopped;
    }
    log.LogStatus(u"Send Error - "_s + clients().EmailAddress(index));
    ++m_failureCount;
    ++m_tally.refused;
    failed(index, u"Not sent"_s, notSent, false);
    JournalEntry refused = clientEntry(JournalEvent::Refused, index);
    refused.detail = notSent;
    return journal(refused) ? PassEnd::Finished : PassEnd::Stopped;
}

StartSummary BatchRun::startSummary()
{
    m_emailsToHandle = 0;
    m_printsToHandle = 0;
    StartSummary summary;
    for (qsizetype i = 0; i < clients().Count(); ++i) {
        if (!m_plan.isChosen(i))
            ++summary.leftOut;
        else if (isSkipped(i) && !m_onlyListed && !m_emptySkipped.contains(i))
            ++(m_skip.value(clientKey(i)) == JournalHistory::Last::Sent ? summary.skipped : summary.skippedUnknown);
        else if (!isSkipped(i))
            ++(clients().hasEmailAddress(i) ? m_emailsToHandle : m_printsToHandle);
    }
    // A resend goes over failed sends only; the documents were printed before.
    if (!m_request.print || m_onlyListed)
        m_printsToHandle = 0;
    summary.emails = m_emailsToHandle;
    summary.queued = queued();
    if (m_plan.hasChoice())
        summary.listClients = clients().Count();
    m_tally.leftOut = summary.leftOut;
    m_sentTimes.clear();
    if (const SendingLimits limits = sendingLimits(); limits.perDay > 0 || limits.perMinute > 0) {
        const QDateTime now = m_deps.clock.currentDateTime();
        m_sentTimes = journalSendTimes(runJournalFolder(m_settings.DataFolder), now.addDays(-1));
        const SendingAllowance allowance = sendingAllowance(limits, m_sentTimes, now, m_emailsToHandle);
        if (allowance.restAt) {
            summary.withinDailyLimit = allowance.withinDay;
            summary.restFrom = *allowance.restAt;
        }
    }
    summary.print = m_request.print && !m_onlyListed;
    summary.printouts = m_printsToHandle;
    summary.subject = m_request.subject;
    // A formatted body of a picture alone says something all the same.
    summary.bodyEmpty = m_request.html.isEmpty() ? m_request.body.trimmed().isEmpty()
                                                 : !htmlShowsSomething(cleanHtmlBody(m_request.html));
    summary.mode = m_mailing.choices.mode;
    if (summary.mode == AttachmentMode::Common) {
        summary.commonFile = m_mailing.choices.commonFile;
        const QFileInfo common(m_mailing.choices.commonFile);
        summary.commonSize = common.isFile() && common.isReadable() ? common.size() : -1;
    } else if (summary.mode == AttachmentMode::ClientSpecific || summary.mode == AttachmentMode::Named) {
        summary.documentPatterns = m_request.documentPatterns;
        summary.withoutDocument = m_plan.warnings([this](qsizetype row) { return !isSkipped(row); }).withoutDocument;
    }
    if (!m_fileMistake.isEmpty())
        summary.warnings.append(m_fileMistake);
    // Every copy would fail, one by one, and be tried again at the end.
    if (m_settings.SentCopy == 1 && m_deps.sentCopier)
        if (const QString problem = sentCopyProblem(m_settings); !problem.isEmpty())
            summary.warnings.append(u"the copy in the Sent folder is on, but none can be made: "_s + problem);
    // What the check would flag, counted over the clients this run e-mails.
    summary.warnings.append(planWarningLines(m_plan.warnings([this](qsizetype row) { return !isSkipped(row); })));
    if (m_request.serverSizeLimit && m_emailsToHandle > 0) {
        if (const qint64 tooLarge = tooLargeCount(*m_request.serverSizeLimit); tooLarge > 0)
            summary.warnings.append(u"%1 larger than the server takes (at most %2)"_s.arg(
                tooLarge == 1 ? u"1 message is"_s : u"%1 messages are"_s.arg(tooLarge),
                megabytes(*m_request.serverSizeLimit)));
    }
    return summary;
}

bool BatchRun::commonFileUnchanged(const QString &path)
{
    // Every client gets the common file as it was when the run took it: one edited during the
    // run (saved over from a word processor, say) would reach the clients in several versions.
    const QFileInfo file(path);
    if (fileHash(file.absoluteFilePath(), file.size(), file.lastModified()) == m_mailing.choices.commonSha256)
        return true;
    m_stopReason = u"the common attachment was changed during the run: "_s + file.absoluteFilePath() +
                   u". The clients before this one got it as it was; Start goes on with the file as it is now, and "
                   "sends it to them too"_s;
    return false;
}

bool BatchRun::documentFolderReadable()
{
    // The documents were decided from one listing; a folder gone since leaves every client of the
    // run without its document, which is one failure to report, not one per client.
    m_stopReason = m_plan.folderError();
    if (m_stopReason.isEmpty() && !QFileInfo(m_csvFolder).isDir())
        m_stopReason = u"the client list's folder can no longer be read: "_s + m_csvFolder;
    return m_stopReason.isEmpty();
}

bool BatchRun::noDocument(const ClientPlan &plan, bool printing)
{
    const qsizetype index = plan.row;
    const QString &clientId = plan.clientId;
    JournalEvent event = JournalEvent::NoDocument;
    QString detail;
    QString reason;
    if (plan.flags.testFlag(ClientFlag::SeveralDocuments)) {
        m_deps.log.LogStatus(u"Several documents found for Client ID - "_s + clientId);
        event = JournalEvent::SeveralDocuments;
        detail = plan.documents().join(u", "_s);
        reason = u"several documents name the client: "_s + detail;
    } else if (plan.flags.testFlag(ClientFlag::SharedDocument)) {
        m_deps.log.LogStatus(u"Document also matches another client for Client ID - "_s + clientId);
        event = JournalEvent::SharedDocument;
        detail = plan.documents().join(u", "_s) + u" also names "_s + plan.sharedWith().join(u", "_s);
        reason = u"the only document, "_s + detail;
    } else {
        // The client gets neither a message nor a printout: that is an error the user must see.
        m_deps.log.LogStatus(
            (printing ? u"No document found to print for Client ID - "_s : u"No attachment found for Client ID - "_s) +
            clientId);
        reason = plan.refused().isEmpty() ? u"no file in the client list's folder names the client"_s : plan.refused();
    }
    ++m_errorCount;
    ++m_tally.noDocument;
    failed(index, u"No document"_s, reason, printing);
    JournalEntry entry = clientEntry(event, index);
    entry.detail = detail;
    return journal(entry);
}

bool BatchRun::send(qsizetype index, const MailMessage &message)
{
    const QString address = clients().EmailAddress(index);
    SendCallbacks callbacks;
    callbacks.percentDone = [this](int percent) { reportEmailProgress(percent); };
    SendResult result;
    AppSettings settings;
    bool copying = false;
    for (size_t tried = 0;; ++tried) {
        // Each try has its own abort question: an abort during one lets that one finish.
        callbacks.aborted = letSendFinish(m_deps.control.abort(), m_deps.clock, m_deps.log);
        // The server settings are read afresh for every send: a change saved in the setup dialog
        // applies to the next one.
        settings = m_deps.settings();
        copying = m_deps.sentCopier && settings.SentCopy == 1;
        callbacks.keepSentMessage = copying;
        const std::chrono::milliseconds before = m_deps.clock.tick();
        result = SendMail(m_deps.mailer, message, settings, callbacks);
        m_sendTime += m_deps.clock.tick() - before;
        ++m_sends;
        // Put off for now (a busy server, a rate limit, a connection too many): the same client is
        // tried again after a wait, in place, rather than lost until someone resends it.
        if (!result.refusal || result.refusal->kind != ReplyClass::Temporary || tried == kRetryWaits.size())
            break;
        // Refused for now, and journalled so: a run that dies while it waits left the client
        // unsent, not in doubt. Each try is journalled as the first was.
        JournalEntry refused = clientEntry(JournalEvent::Refused, index);
        refused.detail = result.errorText;
        if (!journal(refused))
            return false;
        const bool waited = waitToTryAgain(kRetryWaits[tried], result.refusal->reply);
        JournalEntry again =
            clientEntry(JournalEvent::Attempting, index, message.AttachmentPath, message.MoreAttachments);
        again.detail = QString::fromLatin1(message.MessageId);
        if (waited && !journal(again))
            return false;
        if (!waited) {
            result.status = SendStatus::NotSentAborted;
            result.errorText =
                u"The run was aborted while waiting to try again; the server had said: "_s + result.refusal->reply;
            result.refusal.reset();
            break;
        }
    }
    if (result.status == SendStatus::NotAttempted) {
        ++m_tally.refused;
        failed(index, u"Not sent"_s, result.errorText, false);
        JournalEntry refused = clientEntry(JournalEvent::Refused, index);
        refused.detail = result.errorText;
        journal(refused);
        m_stopReason = result.errorText;
        return false;
    }
    m_handedOver = m_handedOver || result.status == SendStatus::Sent || result.status == SendStatus::MaybeDelivered;
    // The provider counts what it took, and perhaps what it took without saying so.
    if (result.status == SendStatus::Sent || result.status == SendStatus::MaybeDelivered)
        m_sentTimes.append(m_deps.clock.currentDateTime());
    if (!result.sent()) {
        m_deps.log.LogStatus(u"Send Error - "_s + address);
        ++m_failureCount;
    }
    JournalEvent event = JournalEvent::Refused;
    switch (result.status) {
    case SendStatus::Sent:
        event = JournalEvent::Sent;
        ++m_tally.sent;
        break;
    case SendStatus::MaybeDelivered:
        event = JournalEvent::Unknown;
        ++m_tally.unknown;
        failed(index, u"Outcome unknown"_s, result.errorText, false);
        break;
    case SendStatus::NotSentAborted:
        event = JournalEvent::NotSentAborted;
        failed(index, u"Not sent (aborted)"_s, result.errorText, false);
        break;
    case SendStatus::Refused:
    case SendStatus::NotAttempted:
    case SendStatus::ServerUnusable:
        ++m_tally.refused;
        failed(index, u"Refused"_s, result.errorText, false);
        break;
    }
    JournalEntry outcome = clientEntry(event, index);
    outcome.detail = result.sent() ? result.serverReply : result.errorText;
    // A refused archive copy is told and kept, but the client did get its message.
    if (!result.archiveRefused.isEmpty()) {
        outcome.detail += u" (archive copy refused: "_s + result.archiveRefused + u')';
        failed(index, u"Archive copy refused"_s, result.archiveRefused, false);
    }
    if (!journal(outcome))
        return false;
    if (copying && result.sent() && !copyToSent(index, message.MessageId, result.sentMessage, settings))
        return false;
    // One refused login, an unreachable server or a mailbox over its quota is the same for every
    // client: trying each would only get the mailbox throttled or locked. The clients not reached
    // stay for the next Start, this one included.
    m_stopReason = stopReasonAfter(result);
    return m_stopReason.isEmpty();
}

QString BatchRun::stopReasonAfter(const SendResult &result) const
{
    if (!result.refusal)
        return result.status == SendStatus::ServerUnusable ? result.stopReason : QString();
    const ReplyVerdict &refusal = *result.refusal;
    const QString later = u"press Start to send to the clients not reached."_s;
    switch (refusal.kind) {
    case ReplyClass::ClientOnly:
        break;
    case ReplyClass::Temporary:
        // Still put off after every wait, before any message could be handed over: the next
        // client would meet the same.
        if (refusal.stage < SmtpStage::MailFrom || result.status == SendStatus::ServerUnusable)
            return refusal.reason + u" (tried again after "_s + retryWaitsText() + u"); later, "_s + later;
        return {};
    case ReplyClass::MailboxWide:
        return u"the mail provider's sending limit was reached: "_s + refusal.reply +
               u"; the clients not reached can be sent "_s +
               (refusal.sendableAfter
                    ? QString(u"after "_s +
                              QLocale::c().toString(refusal.sendableAfter->toLocalTime(), u"yyyy-MM-dd HH:mm"_s))
                    : u"later (usually within 24 hours)"_s) +
               u", and Start then sends them."_s;
    case ReplyClass::LoginOrConnection:
        if (result.status == SendStatus::ServerUnusable)
            return result.stopReason;
        return refusal.reason + u". "_s +
               (refusal.fix.isEmpty() ? QString(u"Check Setup, then "_s + later)
                                      : QString(refusal.fix + u" Then "_s + later));
    }
    return result.status == SendStatus::ServerUnusable ? result.stopReason : QString();
}

bool BatchRun::waitToTryAgain(int seconds, const QString &reply)
{
    const AbortRequest &abort = m_deps.control.abort();
    m_deps.log.LogStatus(u"Server busy - trying again in %1 secs: "_s.arg(seconds) + reply);
    // The time left counts the wait; the client is still the one being sent.
    m_waitAhead = std::chrono::seconds(seconds);
    reportProgress(m_printsDone + m_emailsDone + 1);
    PauseFor(seconds * 1000.0, m_deps.clock, abort);
    m_waitAhead = {};
    return !abort.isRequested();
}

bool BatchRun::copyToSent(qsizetype index, const QByteArray &messageId, const QByteArray &message,
                          const AppSettings &settings)
{
    const AbortRequest &abort = m_deps.control.abort();
    const SentCopyResult copied =
        message.isEmpty() ? SentCopyResult{u"The copy in the Sent folder failed: the sent message was not kept."_s, {}}
                          : m_deps.sentCopier->copy(message, settings, [&abort] { return abort.isUrgent(); });
    if (!copied.note.isEmpty() && copied.ok() && !m_sentFolderTold) {
        m_sentFolderTold = true;
        m_deps.log.LogStatus(copied.note);
    }
    if (copied.ok()) {
        // Brought to the disk with the next client's attempt: a run stopped before then leaves the
        // copy looked for, not made again.
        JournalEntry entry = clientEntry(JournalEvent::Copied, index);
        entry.detail = QString::fromLatin1(messageId);
        return journal(entry, false);
    }
    // Failed copies wait in memory for the end of the run; past a bound (a long run of large
    // attachments with the IMAP server down) they are counted without a second try rather than
    // risk running out of memory.
    constexpr qint64 kMaxKeptCopyBytes = 256 * 1024 * 1024;
    const bool keep = m_keptCopyBytes + message.size() <= kMaxKeptCopyBytes;
    if (keep)
        m_keptCopyBytes += message.size();
    m_failedCopies.append({index, keep ? message : QByteArray(), messageId});
    JournalEntry entry = clientEntry(JournalEvent::CopyFailed, index);
    entry.detail = copied.error;
    return journal(entry);
}

bool BatchRun::retryFailedCopies()
{
    const QList<PendingCopy> pending = std::exchange(m_failedCopies, {});
    for (const PendingCopy &copy : pending) {
        const AppSettings settings = m_deps.settings();
        const SentCopyResult copied =
            copy.message.isEmpty()
                ? SentCopyResult{u"The copy in the Sent folder failed: too many copies had failed to keep this one for a second try."_s,
                                 {}}
                : m_deps.sentCopier->copy(copy.message, settings);
        JournalEntry entry = clientEntry(copied.ok() ? JournalEvent::Copied : JournalEvent::CopyFailed, copy.index);
        entry.detail = copied.ok() ? QString::fromLatin1(copy.messageId) : copied.error;
        if (!copied.ok()) {
            ++m_tally.copyFailures;
            failed(copy.index, u"Copy in Sent failed"_s, copied.error, false);
        }
        if (!journal(entry))
            return false;
    }
    return true;
}

MailMessage BatchRun::messageNow(qsizetype index, const AppSettings &settings)
{
    QString attachment;
    platform::FileIdentity identity;
    const ClientPlan &plan = m_plan.plan(index);
    if (plan.action == ClientAction::SendFile) {
        attachment = plan.file;
        identity = plan.identity;
    }
    MailMessage message = clientMessage(m_plan, index, attachment, identity);
    message.EmailFrom = settings.EmailFrom;
    message.EmailFromName = settings.EmailFromName;
    message.ReplyTo = settings.ReplyTo;
    return message;
}

bool BatchRun::makeMissingCopies()
{
    const AppSettings settings = m_deps.settings();
    if (m_missingCopies.isEmpty() || !m_deps.sentCopier || settings.SentCopy != 1)
        return true;
    // In the order of the client list, each client once.
    QList<qsizetype> rows;
    for (qsizetype i = 0; i < clients().Count(); ++i) {
        if (clients().hasEmailAddress(i) && m_plan.isChosen(i) && m_missingCopies.contains(clientKey(i)))
            rows.append(i);
    }
    if (rows.isEmpty())
        return true;
    m_deps.log.LogStatus(u"Copies in Sent missing from an earlier run - "_s + number(rows.size()));
    const AbortRequest &abort = m_deps.control.abort();
    for (const qsizetype i : std::as_const(rows)) {
        const auto missing = m_missingCopies.constFind(clientKey(i));
        if (missing == m_missingCopies.cend())
            continue; // a second line of the same client
        const JournalHistory::MissingCopy copy = *missing;
        m_missingCopies.erase(missing);
        // Left for the next run: an abort ends the run's work here.
        if (abort.isRequested())
            break;
        const QString address = clients().EmailAddress(i);
        const QString id = QString::fromLatin1(copy.messageId);
        // Only the very message that was sent is filed: its subject, body and documents as the
        // journal recorded them when it went.
        const SentMessage now = fingerprintNow(i);
        QString notMade;
        if (now.subject != copy.message.subject || now.bodySha256 != copy.message.bodySha256 ||
            now.fileSha256 != copy.message.fileSha256)
            notMade = u"its document or message changed since it was sent"_s;
        QByteArray bytes;
        if (notMade.isEmpty()) {
            MailMessage message = messageNow(i, settings);
            message.MessageId = copy.messageId;
            QString error;
            bytes = wholeMessage(message, copy.attempted, &error);
            if (bytes.isEmpty())
                notMade = u"it cannot be put together again: "_s + error;
        }
        if (!notMade.isEmpty()) {
            m_deps.log.LogStatus(u"No copy in Sent - "_s + address + u" ("_s + notMade + u')');
            JournalEntry entry = clientEntry(JournalEvent::CopyNotMade, i);
            entry.detail = id + u' ' + notMade;
            if (!journal(entry, false))
                return false;
            continue;
        }
        const SentCopyResult copied =
            m_deps.sentCopier->copyOnce(bytes, copy.messageId, settings, [&abort] { return abort.isUrgent(); });
        if (!copied.note.isEmpty() && copied.ok() && !m_sentFolderTold) {
            m_sentFolderTold = true;
            m_deps.log.LogStatus(copied.note);
        }
        JournalEntry entry = clientEntry(copied.ok() ? JournalEvent::Copied : JournalEvent::CopyFailed, i);
        if (copied.ok()) {
            m_deps.log.LogStatus(
                (copied.alreadyThere ? u"Copy in Sent already there - "_s : u"Copy in Sent made - "_s) + address);
            entry.detail = id + (copied.alreadyThere ? u" found in the Sent folder"_s : QString());
        } else {
            m_deps.log.LogStatus(u"Copy in Sent failed - "_s + address);
            ++m_tally.copyFailures;
            failed(i, u"Copy in Sent failed"_s, copied.error, false);
            entry.detail = copied.error;
        }
        if (!journal(entry, false))
            return false;
    }
    return true;
}

void BatchRun::failed(qsizetype index, const QString &what, const QString &reason, bool printing)
{
    ClientFailure failure{clients().ClientId(index), printing ? QString() : clients().EmailAddress(index), what,
                          reason};
    if (m_deps.observer)
        m_deps.observer->clientFailed(failure);
    m_tally.failures.append(std::move(failure));
}

void BatchRun::reportProgress(qint64 client)
{
    if (!m_deps.observer)
        return;
    RemainingWork work;
    work.emails = m_emailsToHandle - m_emailsDone;
    work.groupCount = m_groupCount;
    work.printSteps = std::max<qint64>(m_printsToHandle - client + 1, 0);
    work.waiting = m_waitAhead;
    work.sendTime =
        m_sends > 0 ? std::chrono::milliseconds(m_sendTime.count() / m_sends) : std::chrono::milliseconds(0);
    RunProgress progress;
    progress.client = client;
    progress.clients = m_emailsToHandle + m_printsToHandle;
    progress.sent = m_tally.sent;
    progress.queued = m_tally.queued;
    progress.failed = m_tally.refused + m_tally.unknown + m_tally.noDocument + m_tally.printErrors;
    progress.timeLeft = estimateTimeLeft(m_settings, work);
    m_deps.observer->runProgress(progress);
}

void BatchRun::reportEmailProgress(int percent)
{
    if (!m_deps.observer || m_emailsToHandle <= 0)
        return;
    const qint64 share = (m_emailsDone * 100 + std::clamp(percent, 0, 100)) / m_emailsToHandle;
    m_deps.observer->emailProgress(int(std::min<qint64>(share, 100)));
}

void BatchRun::noteAttachmentChange(AttachmentMode mode, const QString &commonPath)
{
    const bool common = mode == AttachmentMode::Common;
    if (mode == m_lastMode && (!common || commonPath == m_lastCommonPath))
        return;
    m_lastMode = mode;
    m_lastCommonPath = commonPath;
    // The clients still to come get what the new choice gives them, decided as the check would,
    // and the journal tells a later resume which choice the run ended with.
    m_plan.replan(mode, commonPath);
    m_mailing.choices = choicesOf(mode, commonPath);
    for (const JournalEntry &entry : journalChoicesChanged(m_deps.clock.currentDateTime(), m_mailing.choices))
        journal(entry, false);
    switch (mode) {
    case AttachmentMode::None:
        m_deps.log.LogStatus(u"Attachment changed - from here on: no attachment"_s);
        break;
    case AttachmentMode::Common:
        m_deps.log.LogStatus(u"Attachment changed - from here on: the common file "_s +
                             (commonPath.isEmpty() ? u"(none given)"_s : commonPath));
        break;
    case AttachmentMode::ClientSpecific:
        m_deps.log.LogStatus(u"Attachment changed - from here on: each client's own document"_s);
        break;
    case AttachmentMode::Named:
        m_deps.log.LogStatus(u"Attachment changed - from here on: the documents named "_s + m_request.documentPatterns);
        break;
    }
}

void BatchRun::stop(const QString &reason)
{
    m_tally.stopReason = reason.isEmpty() ? u"an unexpected error"_s : reason;
    m_deps.log.LogStatus(u"Processing stopped - "_s + m_tally.stopReason);
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
