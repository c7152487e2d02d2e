#include "settings/scramble.h"

namespace quorvale {

namespace {

constexpr int kQuestionMark = 63;

// The scheme works on single-byte codes; anything wider is unrepresentable and counts as '?'.
int codeOf(QChar c)
{
    return c.unicode() <= 0xFF ? c.unicode() : kQuestionMark;
}

// A code the scheme pushed outside 0-255 (only possible for text it was not defined for)
// becomes '?' rather than a character the stored form could never hold.
QChar charOf(int code)
{
    return QChar(code >= 0 && code <= 0xFF ? code : kQuestionMark);
}

QString scramble(const QString &text)
{
    const qsizetype n = text.size();
    const int e = codeOf(text.at(0));
    // A one-character text has no second code; it is not storable and scrambles lossily.
    const int f = n > 1 ? codeOf(text.at(1)) : 0;
    const int p = (e + f) % 2;

    QString result(n + 2, Qt::Uninitialized);
    result[0] = charOf(2 * e + 3);
    for (qsizetype i = 0; i < n; ++i)
        result[n - i] = charOf((codeOf(text.at(i)) ^ p) + 2);
    result[n + 1] = charOf(2 * f - 3);
    return result;
}

QString unscramble(const QString &text)
{
    const qsizetype m = text.size();
    const int e = (codeOf(text.front()) - 3) / 2;
    const int f = (codeOf(text.back()) + 3) / 2;
    // Codes are 0-255, so e >= -1 and f >= 1: the sum is never negative and p is 0 or 1.
    const int p = (e + f) % 2;

    if (m <= 2)
        return QString();
    QString result(m - 2, Qt::Uninitialized);
    for (qsizetype i = 1; i < m - 1; ++i)
        result[m - 2 - i] = charOf((codeOf(text.at(i)) ^ p) - 2);
    return result;
}

} // namespace

QString ScrambleText(bool Bypass, const QString &Text, bool Encode)
{
    if (Bypass)
        return Text;
    if (Text.isEmpty())
        return QString();
    return Encode ? scramble(Text) : unscramble(Text);
}

bool isStorablePassword(const QString &password)
{
    if (password.isEmpty())
        return true;
    if (password.size() < 2)
        return false;
    for (QChar c : password) {
        if (c.unicode() > 253)
            return false;
    }
    const int first = password.at(0).unicode();
    const int second = password.at(1).unicode();
    return first <= 126 && second >= 2 && second <= 129;
}

} // namespace quorvale
