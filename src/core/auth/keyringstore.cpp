#include "auth/secretstore.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <qt6keychain/keychain.h>

#include <gio/gio.h>

#include <condition_variable>
#include <functional>
#include <mutex>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

const QString kService = u"Quorvale"_s;

/// What a keyring job ended with.
struct JobOutcome
{
    bool finished = false;
    QKeychain::Error error = QKeychain::NoError;
    QString errorString;
    QString text;
};

/// GLib ends a process with SIGTERM when the session bus it shares goes away, which libsecret's
/// connection would do to this program in the middle of a run. A lost keyring is an error of the
/// next keyring call instead. Runs on the keyring thread, where that connection is made.
void outliveTheSessionBus()
{
    // Held for good: GLib shares the connection only while someone holds it, and the next one it
    // made would end the process again.
    static GDBusConnection *bus = nullptr;
    if (bus)
        return;
    GError *error = nullptr;
    bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (bus)
        g_dbus_connection_set_exit_on_close(bus, FALSE);
    g_clear_error(&error);
}

/// The one thread where every keyring job of the process runs. QtKeychain's jobs are queued on
/// an object made by the first job and need that thread's event loop to finish, so they all start
/// here, whichever thread asks; the asking thread waits on a condition, not on an event loop.
class KeyringThread
{
public:
    static KeyringThread &instance()
    {
        static KeyringThread thread;
        return thread;
    }

    /// Starts the job `make` creates on the keyring thread and waits, at most `timeout`, for it to
    /// finish; `collect` reads what it found before it is deleted.
    JobOutcome run(const std::function<QKeychain::Job *()> &make,
                   const std::function<void(QKeychain::Job *, JobOutcome &)> &collect,
                   std::chrono::milliseconds timeout)
    {
        // Shared with the job's handler, which may run after a caller that gave up has returned.
        struct Waiter
        {
            std::mutex mutex;
            std::condition_variable done;
            JobOutcome outcome;
        };
        auto waiter = std::make_shared<Waiter>();
        QMetaObject::invokeMethod(
            m_context,
            [waiter, make, collect] {
                outliveTheSessionBus();
                QKeychain::Job *job = make();
                job->setAutoDelete(true);
                QObject::connect(job, &QKeychain::Job::finished, job, [waiter, collect](QKeychain::Job *finished) {
                    std::lock_guard lock(waiter->mutex);
                    waiter->outcome.error = finished->error();
                    waiter->outcome.errorString = finished->errorString();
                    if (collect)
                        collect(finished, waiter->outcome);
                    waiter->outcome.finished = true;
                    waiter->done.notify_all();
                });
                job->start();
            },
            Qt::QueuedConnection);
        std::unique_lock lock(waiter->mutex);
        waiter->done.wait_for(lock, timeout, [&waiter] { return waiter->outcome.finished; });
        return waiter->outcome;
    }

private:
    KeyringThread()
    {
        m_thread.setObjectName(u"keyring"_s);
        m_context = new QObject;
        m_context->moveToThread(&m_thread);
        QObject::connect(&m_thread, &QThread::finished, m_context, &QObject::deleteLater);
        m_thread.start();
    }
    ~KeyringThread()
    {
        m_thread.quit();
        m_thread.wait();
    }

    QThread m_thread;
    QObject *m_context = nullptr;
};

QString seconds(std::chrono::milliseconds timeout)
{
    return QString::number(std::chrono::ceil<std::chrono::seconds>(timeout).count());
}

QString failure(const JobOutcome &outcome, std::chrono::milliseconds timeout)
{
    if (!outcome.finished)
        return u"the system keyring did not answer within %1 seconds"_s.arg(seconds(timeout));
    return u"the system keyring said: %1"_s.arg(outcome.errorString.trimmed());
}

JobOutcome lookup(const QString &key, std::chrono::milliseconds timeout)
{
    return KeyringThread::instance().run(
        [key] {
            auto *job = new QKeychain::ReadPasswordJob(kService);
            job->setKey(key);
            return job;
        },
        [](QKeychain::Job *job, JobOutcome &out) {
            out.text = static_cast<QKeychain::ReadPasswordJob *>(job)->textData();
        },
        timeout);
}

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

} // namespace

KeyringSecretStore::KeyringSecretStore(std::chrono::milliseconds timeout) : m_timeout(timeout) {}

QString KeyringSecretStore::location(const QString &key) const
{
    return u"the system keyring (\"%1\", \"%2\")"_s.arg(kService, key);
}

SecretLookup KeyringSecretStore::read(const QString &key)
{
    if (!isValidSecretKey(key))
        return {SecretLookup::Status::Failed, {}, u"\"%1\" is not a valid secret name."_s.arg(key)};
    const JobOutcome outcome = lookup(key, m_timeout);
    if (outcome.finished && outcome.error == QKeychain::EntryNotFound)
        return {};
    if (!outcome.finished || outcome.error != QKeychain::NoError)
        return {SecretLookup::Status::Failed,
                {},
                u"The secret \"%1\" cannot be read: %2."_s.arg(key, failure(outcome, m_timeout))};
    if (outcome.text.isEmpty())
        return {};
    return {SecretLookup::Status::Found, outcome.text, {}};
}

bool KeyringSecretStore::write(const QString &key, const QString &secret, QString *error)
{
    if (!isValidSecretKey(key))
        return fail(error, u"\"%1\" is not a valid secret name."_s.arg(key));
    const JobOutcome outcome = KeyringThread::instance().run(
        [key, secret] {
            auto *job = new QKeychain::WritePasswordJob(kService);
            job->setKey(key);
            job->setTextData(secret);
            return job;
        },
        {}, m_timeout);
    if (!outcome.finished || outcome.error != QKeychain::NoError)
        return fail(error, u"The secret \"%1\" could not be saved: %2."_s.arg(key, failure(outcome, m_timeout)));
    return true;
}

bool KeyringSecretStore::remove(const QString &key, QString *error)
{
    if (!isValidSecretKey(key))
        return fail(error, u"\"%1\" is not a valid secret name."_s.arg(key));
    const JobOutcome outcome = KeyringThread::instance().run(
        [key] {
            auto *job = new QKeychain::DeletePasswordJob(kService);
            job->setKey(key);
            return job;
        },
        {}, m_timeout);
    if (outcome.finished && (outcome.error == QKeychain::NoError || outcome.error == QKeychain::EntryNotFound))
        return true;
    return fail(error, u"The secret \"%1\" could not be removed: %2."_s.arg(key, failure(outcome, m_timeout)));
}

bool KeyringSecretStore::answers(std::chrono::milliseconds timeout, QString *why)
{
    // Looking up an entry that is never written: "not found" proves a keyring that works.
    const JobOutcome outcome = lookup(u"keyring-probe"_s, timeout);
    if (outcome.finished && (outcome.error == QKeychain::NoError || outcome.error == QKeychain::EntryNotFound))
        return true;
    if (why)
        *why = failure(outcome, timeout);
    return false;
}

} // namespace quorvale
