#include "support/keyringfixture.h"

#include "support/readyprocess.h"

#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace quorvale::test {

KeyringSession::KeyringSession() : m_dir(std::make_unique<QTemporaryDir>()), m_process(std::make_unique<ReadyProcess>())
{
    m_address = m_process->start(
        u"dbus-run-session"_s,
        {u"--"_s, u"/bin/sh"_s, QString::fromUtf8(QUORVALE_KEYRING_SESSION_SCRIPT), m_dir->path()}, "BUS");
}

KeyringSession::~KeyringSession() = default;

bool KeyringSession::isRunning() const
{
    return !m_address.isEmpty() && m_process->isRunning();
}

} // namespace quorvale::test
