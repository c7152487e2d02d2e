#pragma once

#include "settings/appsettings.h"

#include <QString>

namespace quorvale {

/// How a send reaches the mail server: one value for each send, taken from the settings of that
/// moment, so that a change saved in the setup dialog applies to the next send.
struct MailServer
{
    /// "SSL" (AuthType 1): implicit TLS on port 465, STARTTLS required on any other port. "Simple"
    /// (0): plain SMTP. Unset sends nothing: there is no plain-SMTP default to fall back to.
    enum class Security
    {
        Unset = -1,
        Plain = 0,
        Tls = 1
    };

    QString host;
    qint32 port = 0; ///< 1-65535
    Security security = Security::Unset;
    QString user; ///< empty: no login
    QString password;
    /// How long to wait for the server (connecting, each reply, a stalled upload) before the send
    /// fails, so that a dead server fails a send well within a minute.
    int timeoutSeconds = 30;
    /// Why no message can be sent to this server as the settings describe it; empty when one
    /// can. A send to a server with a problem is not attempted.
    QString problem;
};

/// The server of `settings` ("SMPTServer", "SSLport", "AuthType", "UserName", "PW"). An AuthType
/// other than 0 or 1, or an SSLport that is not a whole number from 1 to 65535 (blanks around it
/// ignored), gives a server with a problem.
MailServer mailServerFrom(const AppSettings &settings);

} // namespace quorvale
