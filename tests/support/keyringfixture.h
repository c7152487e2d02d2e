#pragma once

// A real system keyring for tests: gnome-keyring-daemon, unlocked, on a private session bus made
// by dbus-run-session, with its files in a temporary folder.
//
// Use:
//     quorvale::test::KeyringSession keyring;
//     QVERIFY(keyring.isRunning());
//     ScopedEnvironmentVariable bus("DBUS_SESSION_BUS_ADDRESS", keyring.busAddress());
//     KeyringSecretStore store;   // talks to that keyring
//
// The bus and the keyring end when the KeyringSession is destroyed.

#include <QByteArray>

#include <memory>

class QTemporaryDir;

namespace quorvale::test {

class ReadyProcess;

class KeyringSession
{
public:
    KeyringSession();
    ~KeyringSession();
    KeyringSession(const KeyringSession &) = delete;
    KeyringSession &operator=(const KeyringSession &) = delete;

    bool isRunning() const;
    /// The value DBUS_SESSION_BUS_ADDRESS must have to reach this keyring.
    QByteArray busAddress() const { return m_address; }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ReadyProcess> m_process;
    QByteArray m_address;
};

} // namespace quorvale::test
