#include "gui/runsession.h"

#include "clients/csvreader.h"

#include "gui/runbridge.h"
#include "gui/settingsholder.h"
#include "gui/userdialogs.h"
#include "run/ownfiles.h"
#include "settings/settingsstore.h"
#include "settings/settingstable.h"

#include <QElapsedTimer>

#include <QWidget>

#include <memory>
#include <optional>

using namespace Qt::StringLiterals;

namespace quorvale {

RunSession::RunSession(const AppServices &services, SettingsHolder &settings, QWidget *dialogParent)
    : m_services(services), m_settings(settings), m_dialogParent(dialogParent), m_bridge(new RunBridge(this))
{
    connect(m_bridge, &RunBridge::linesLogged, this, &RunSession::showLines);
    connect(m_bridge, &RunBridge::emailProgressChanged, this, &RunSession::emailProgressChanged);
    connect(m_bridge, &RunBridge::printProgressChanged, this, &RunSession::printProgressChanged);
    connect(m_bridge, &RunBridge::progressChanged, this, &RunSession::progressChanged);
    // A run that is winding down keeps Start disabled until its last line is shown.
    connect(m_bridge, &RunBridge::runningStateChanged, this,
            [this](bool running) { Q_EMIT runningChanged(running || m_active); });
}

RunSession::~RunSession()
{
    shutDown();
}

bool RunSession::start(const RunRequest &request)
{
    if (m_active || m_probing || m_closing)
        return false;
    const AppSettings settings = m_settings.get();
    // Without a complete setup there is no server to ask; the preparation says what is missing.
    if (!isMailServerComplete(settings))
        return prepareAndRun(request);
    // Asking the server takes a connection: on the worker thread, never on the UI thread. Abort
    // (or the program ending) cuts it short, and so does a server slow to answer.
    m_control.abort().clear();
    m_probing = true;
    Q_EMIT askingServerChanged(true);
    auto limit = std::make_shared<std::optional<qint64>>();
    Mailer &mailer = m_services.mailer;
    const AbortRequest &abort = m_control.abort();
    m_worker.start(
        u"Quorvale size probe"_s,
        [limit, &mailer, &abort, settings] {
            QElapsedTimer elapsed;
            elapsed.start();
            *limit = serverSizeLimit(mailer, settings, [&abort, &elapsed] {
                return abort.isRequested() || elapsed.hasExpired(qint64(kSizeProbeSeconds) * 1000);
            });
        },
        [this, limit, request, settings] {
            m_probing = false;
            m_sizeLimitServer = settings.SMTPServer + u':' + settings.SSLport;
            m_sizeLimit = *limit;
            Q_EMIT askingServerChanged(false);
            if (m_control.abort().isRequested()) {
                m_control.abort().clear();
                return;
            }
            RunRequest withLimit = request;
            withLimit.serverSizeLimit = *limit;
            prepareAndRun(withLimit);
        });
    return true;
}

bool RunSession::prepareAndRun(const RunRequest &request)
{
    m_prompter =
        std::make_unique<DialogPrompter>(m_services.dialogs, m_dialogParent, [this] { Q_EMIT setupRequested(); });
    m_run = std::make_unique<BatchRun>(
        RunDependencies{m_services.store, *m_bridge, *m_prompter, m_services.mailer, m_services.printer,
                        m_services.clock, m_control, m_bridge, [this] { return m_settings.get(); },
                        ownProgramFiles(m_services.store.filePath(), m_services.dataFolder),
                        m_services.sentCopier});
    // The box keeps its old lines when a check stops the run before its first line.
    m_clearOnNextLine = true;
    const bool go = m_run->prepare(request);
    m_bridge->flush();
    // Told to read the list with another separator: the window's next check, preview and run do too.
    if (const std::optional<char> separator = m_run->separatorChosen()) {
        AppSettings settings = m_settings.get();
        settings.CSVDelimiter = separatorName(*separator).remove(u'"');
        m_settings.set(settings);
    }
    if (const std::optional<MailingChoices> choices = m_run->choicesRestored())
        Q_EMIT choicesRestored(choices->mode, choices->commonFile, choices->print);
    m_clearOnNextLine = false;
    if (!go) {
        // A question answered No clears the box, which then says only that nothing was started
        // (the run's own clearing is not relayed to the window).
        if (m_prompter->answeredNo()) {
            Q_EMIT statusCleared();
            Q_EMIT linesLogged({u"Nothing was started."_s});
        }
        m_run.reset();
        Q_EMIT runningChanged(false);
        return false;
    }
    m_active = true;
    Q_EMIT runningChanged(true);
    BatchRun *run = m_run.get();
    m_worker.start(
        u"Quorvale run"_s, [run] { run->execute(); },
        [this] {
            m_lastTally = m_run->tally();
            m_lastJournalPath = m_run->journalPath();
            m_run.reset();
            finishOnceShown();
        });
    return true;
}

std::optional<qint64> RunSession::knownSizeLimit(const AppSettings &settings) const
{
    if (m_sizeLimitServer != settings.SMTPServer + u':' + settings.SSLport)
        return std::nullopt;
    return m_sizeLimit;
}

void RunSession::abort()
{
    m_control.abort().request();
}

void RunSession::setAttachmentMode(AttachmentMode mode)
{
    m_control.setAttachmentMode(mode);
}

void RunSession::setCommonAttachmentPath(const QString &path)
{
    m_control.setCommonAttachmentPath(path);
}

void RunSession::showLines(const QStringList &lines)
{
    if (m_clearOnNextLine) {
        m_clearOnNextLine = false;
        Q_EMIT statusCleared();
    }
    Q_EMIT linesLogged(lines);
}

void RunSession::finishOnceShown()
{
    // The worker may have logged faster than the window shows; the run is over for the user
    // (Start enabled again) once its last line was handed on.
    if (m_closing)
        return;
    if (m_bridge->hasPendingLines()) {
        QMetaObject::invokeMethod(this, &RunSession::finishOnceShown, Qt::QueuedConnection);
        return;
    }
    m_bridge->flush();
    m_active = false;
    Q_EMIT runningChanged(false);
    Q_EMIT finished();
}

void RunSession::shutDown()
{
    if (m_closing)
        return;
    m_closing = true;
    m_bridge->discard();
    // The program is ending: a message being handed over is cut off, not waited for.
    m_control.abort().requestNow();
    m_worker.wait();
    m_run.reset();
    m_active = false;
    m_probing = false;
}

} // namespace quorvale
