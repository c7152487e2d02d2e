#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace quorvale {

/// The SASL XOAUTH2 initial client response: base64 of "user=" + user + "\x01auth=Bearer " + token + "\x01\x01".
QByteArray xoauth2InitialResponse(const QString &user, const QString &accessToken);

/// `text` with every secret replaced by "********": each as typed, as base64, inside the base64 of
/// an AUTH PLAIN login ("\0" user "\0" secret) and inside an XOAUTH2 initial response for `user`,
/// the forms in which a server or library might quote it back. Secrets shorter than three
/// characters are left alone (masking them would garble the text and hide nothing).
QString maskSecrets(QString text, const QString &user, const QStringList &secrets);

} // namespace quorvale
