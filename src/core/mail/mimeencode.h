#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// Small helpers that turn what the user typed into safe message text. libcurl sends header text
// and envelope addresses as given, so refusing line breaks and encoding non-ASCII text is ours.
namespace quorvale::mime {

/// True when `text` holds a CR or LF (which would start a new header line or SMTP command).
bool hasLineBreak(const QString &text);

/// Why `address` cannot be used as an envelope address and in a header, or empty when it can.
/// Refuses line breaks, other control characters and angle brackets (which would end the
/// address inside the SMTP command).
QString addressProblem(const QString &address);

/// The header value for `text`: as is when it is plain printable ASCII that a mail parser gives
/// back unchanged, otherwise RFC 2047 encoded words (UTF-8, base64) folded onto continuation
/// lines. Never contains a bare CR or LF.
QByteArray encodeHeaderText(const QString &text);

/// A From header's value: `name` and `address` as `"Smith & Partners" <office@example.com>`, the
/// name quoted (its quotes and backslashes escaped) when it is plain printable ASCII, otherwise
/// RFC 2047 encoded words. `name` must not be empty; `address` is given as it goes.
QByteArray namedAddress(const QString &name, const QByteArray &address);

/// The Content-Disposition header line (without CR LF) of an attachment called `fileName`:
/// a quoted file name when it is plain printable ASCII, otherwise RFC 2231 (UTF-8, percent-encoded).
QByteArray attachmentDisposition(const QString &fileName);

/// `text` as UTF-8 with every line end (CR LF, CR or LF) made CR LF.
QByteArray crlfLines(const QString &text);

/// Quoted-printable encoding (RFC 2045) of `data`, whose line ends are CR LF: lines kept as hard
/// line breaks, encoded lines at most 76 characters, trailing blanks encoded.
QByteArray quotedPrintable(const QByteArray &data);

/// The Date header value for `when`, e.g. "Mon, 07 Dec 2026 04:38:44 +0000".
QByteArray rfc2822Date(const QDateTime &when);

/// A new, unique Message-ID (with angle brackets) in the domain of `fromAddress`.
QByteArray newMessageId(const QString &fromAddress);

/// The Message-ID of a run's message: the run's start, the message's number in the run, the
/// client's line and a random part, in the domain of `fromAddress`.
QByteArray runMessageId(const QDateTime &runStart, qint64 sequence, qint64 clientLine, const QString &fromAddress);

/// Whether `id` is one Message-ID as this program writes it: "<left@right>", printable ASCII,
/// nothing that could end the header or split the value.
bool isMessageId(QByteArrayView id);
/// Whether `text` can be one side of a Message-ID.
bool isMessageIdText(QByteArrayView text);

} // namespace quorvale::mime
