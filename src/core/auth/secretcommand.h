#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

namespace quorvale {

/// What a "PasswordCommand" gives: the password itself, or an access token.
enum class SecretKind
{
    Password,
    AccessToken
};

struct SecretCommandResult
{
    QString secret; ///< the first line the command printed, without its line end
    QString error;  ///< empty on success; names the command, never quotes its output
    bool ok() const { return error.isEmpty(); }
};

/// Runs a password or token command: `words` as a shell would have split the command line (the
/// program first; no shell runs, so nothing in them is expanded), standard input closed, standard
/// error ignored. Its first output line is the secret. A command that cannot start, fails, prints
/// nothing on its first line, does not finish within `timeout`, or is stopped by `aborted`
/// (polled every 100 ms) gives an error. The command is run only while `settingsFile`, the file it
/// was read from, and its folder are the user's own and nobody else may change them (empty: it was
/// read from no file). Blocking, needs no event loop; safe on any thread.
SecretCommandResult runSecretCommand(const QStringList &words, SecretKind kind,
                                     std::chrono::milliseconds timeout = std::chrono::seconds(30),
                                     const std::function<bool()> &aborted = {}, const QString &settingsFile = {});

} // namespace quorvale
