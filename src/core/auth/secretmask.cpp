#include "auth/secretmask.h"

using namespace Qt::StringLiterals;

namespace quorvale {

QByteArray xoauth2InitialResponse(const QString &user, const QString &accessToken)
{
    return QByteArray("user=" + user.toUtf8() +
                      "\x01"
                      "auth=Bearer " +
                      accessToken.toUtf8() + "\x01\x01")
        .toBase64();
}

QString maskSecrets(QString text, const QString &user, const QStringList &secrets)
{
    const QString mask = u"********"_s;
    for (const QString &secret : secrets) {
        if (secret.size() < 3)
            continue;
        const QByteArray bytes = secret.toUtf8();
        // The longer forms first: each contains the shorter ones' text only by chance.
        for (const QByteArray &form : {xoauth2InitialResponse(user, secret),
                                       QByteArray('\0' + user.toUtf8() + '\0' + bytes).toBase64(), bytes.toBase64()})
            text.replace(QString::fromLatin1(form), mask);
        text.replace(secret, mask);
    }
    return text;
}

} // namespace quorvale
