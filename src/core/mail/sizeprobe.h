#pragma once

// How large a message the server takes, asked before sending anything: the SIZE its EHLO reply
// advertises. And how large each message will be on the wire, to compare with it.

#include "mail/mailer.h"
#include "mail/mailserver.h"
#include "mail/messagebuilder.h"

#include <QString>

#include <optional>

namespace quorvale {

/// What the server said about message sizes.
struct SizeProbeResult
{
    /// The largest message in bytes the server takes; none when it advertises no limit (no SIZE,
    /// or SIZE 0) or could not be asked.
    std::optional<qint64> maxSize;
    /// Why the server could not be asked (not found, refused, certificate, no answer); empty when
    /// it could.
    QString problem;
};

/// Connects to `server`, says EHLO, starts TLS as a send would (implicit TLS on the implicit-TLS
/// port, required STARTTLS on any other with "SSL"), says EHLO again and QUIT: no login, nothing
/// sent. Certificates are verified as for a send (`options` may name the CA file to trust). Blocks
/// for at most the server's timeout per step; `aborted` is asked every 100 ms.
SizeProbeResult probeSizeLimit(const MailServer &server, const MailerOptions &options,
                               const AbortPredicate &aborted = {});

/// The bytes of a base64-encoded attachment of `rawBytes` bytes: lines of 76 characters joined by
/// CR LF.
qint64 base64WireSize(qint64 rawBytes);

/// The size in bytes of `built` as the server counts it for SIZE: the content of DATA, without the
/// dots that escape a line's first dot. Exact for a message without attachment; with one, the attachment
/// counts as the file's size now, and the result is at most 24 bytes above the real size, as the
/// length of the multipart boundary varies with the mail library's version. -1 when the attachment
/// cannot be read.
qint64 wireSize(const BuiltMessage &built);

/// "N MB" with one decimal when under 10 MB ("1.5 MB", "12 MB"), in units of 1,000,000 bytes, as
/// providers state their limits.
QString megabytes(qint64 bytes);

} // namespace quorvale
