// Matching a file name against a client identifier on arbitrary text. The input is the identifier,
// a NUL byte, then the file name.

#include "clients/documentmatch.h"
#include "fuzzcheck.h"

using namespace quorvale;

namespace {

/// The name with its ASCII letters in the other case.
QString asciiCaseSwapped(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        if (c.unicode() < 0x80 && c.isLetter())
            c = c.isUpper() ? c.toLower() : c.toUpper();
    }
    return out;
}

bool isAscii(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);
    const qsizetype split = bytes.indexOf('\0');
    if (split < 0)
        return 0;
    const QString clientId = QString::fromUtf8(bytes.left(split));
    const QString fileName = QString::fromUtf8(bytes.mid(split + 1));
    const QString target = clientId + u'.';

    const bool matches = isClientDocumentName(fileName, clientId);
    if (clientId.trimmed().isEmpty())
        FUZZ_CHECK(!matches); // a blank identifier would match nearly every file
    if (matches)
        FUZZ_CHECK(fileName.contains(target, Qt::CaseInsensitive));
    // At the start of the name, and not followed by a digit, the identifier always names the file.
    if (!clientId.trimmed().isEmpty() && fileName.startsWith(target, Qt::CaseInsensitive) && isAscii(clientId) &&
        isAscii(fileName) && (fileName.size() == target.size() || !fileName.at(target.size()).isDigit()))
        FUZZ_CHECK(matches);
    // ASCII letters compare without case.
    FUZZ_CHECK(isClientDocumentName(asciiCaseSwapped(fileName), clientId) == matches);
    FUZZ_CHECK(isClientDocumentName(fileName, asciiCaseSwapped(clientId)) == matches);
    // A look-alike outside ASCII never stands for an ASCII letter: with every k and s of the name
    // written as the Kelvin sign and the long s, an identifier holding k or s no longer matches.
    if (isAscii(clientId) &&
        (clientId.contains(u'k', Qt::CaseInsensitive) || clientId.contains(u's', Qt::CaseInsensitive))) {
        QString lookAlike = fileName;
        lookAlike.replace(QChar(u'k'), QChar(u'\u212A'), Qt::CaseInsensitive)
            .replace(QChar(u's'), QChar(u'\u017F'), Qt::CaseInsensitive);
        FUZZ_CHECK(!isClientDocumentName(lookAlike, clientId));
    }
    // The index of a list finds exactly the identifiers the rule finds.
    const QStringList list{clientId, clientId.left(clientId.size() / 2), clientId + u'1', u'x' + clientId};
    const QStringList named = ClientIdIndex(list).idsNamedBy(fileName);
    QStringList expected;
    for (const QString &id : list) {
        if (!expected.contains(id) && isClientDocumentName(fileName, id))
            expected.append(id);
    }
    FUZZ_CHECK(named == expected);
    // The same for the identifiers it holds as whole words.
    const ClientIdIndex index(list);
    QStringList held;
    for (const QString &id : list) {
        if (!held.contains(id) && holdsClientId(fileName, id)) {
            FUZZ_CHECK(fileName.contains(id, Qt::CaseInsensitive) || !isAscii(id));
            held.append(id);
        }
    }
    FUZZ_CHECK(index.idsHeldBy(fileName) == held);
    // A name that names a client is its document only when it holds no other client of the list.
    for (const QString &id : list) {
        if (!isClientDocumentName(fileName, id))
            continue;
        const bool alone = std::none_of(list.cbegin(), list.cend(), [&](const QString &other) {
            return other != id && (isClientDocumentName(fileName, other) || holdsClientId(fileName, other));
        });
        FUZZ_CHECK((classifyDocuments({fileName}, id, index).outcome == ClientDocument::Outcome::Found) == alone);
    }
    // A word of letters and digits that starts the name before a blank is held.
    const bool plainWord = !clientId.isEmpty() && std::all_of(clientId.cbegin(), clientId.cend(), [](QChar c) {
        return c.unicode() < 0x80 && c.isLetterOrNumber();
    });
    if (plainWord)
        FUZZ_CHECK(holdsClientId(clientId + u' ' + fileName, clientId));
    return 0;
}
