#pragma once

// Reads delivery reports: the standard ones (multipart/report with a message/delivery-status part)
// and the common non-standard bounces that only quote the message that could not be delivered.
// A mailbox's messages are outside input: anything that is not plainly a failed delivery reads as
// no bounce.

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QString>

namespace quorvale {

/// One recipient a message could not be delivered to.
struct Bounce
{
    QString recipient;        ///< the address that failed (Final-Recipient, else the original's To)
    QString status;           ///< the enhanced status code, "5.1.1"
    QString diagnostic;       ///< the server's words ("550 5.1.1 User unknown"); may be empty
    QByteArray originalId;    ///< the original message's Message-ID with its angle brackets; may be empty
    QString originalSubject;  ///< the original message's subject, decoded; may be empty
    QDateTime reported;       ///< when the report was written (its own Date header); invalid without one
};

/// The failed deliveries `message` reports; none when it is no bounce, or reports only delays
/// or successes. The original's Message-ID comes from its quoted headers, never from the
/// report's own.
QList<Bounce> readBounce(QByteArrayView message);

/// Whether a message with these headers (From, Subject and Content-Type are enough) may be a
/// report readBounce() reads: a multipart/report, or a sender or subject of a bounce.
bool mayBeBounce(QByteArrayView headers);

/// A header value with its RFC 2047 encoded words decoded (UTF-8, Latin-1 and Windows-1252 known;
/// another character set leaves the word as it is).
QString decodeHeaderText(QByteArrayView value);

} // namespace quorvale
