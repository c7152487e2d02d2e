
#include "clients/documentmatch.h"
#include "platform/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

char32_t codePointBefore(QStringView text, qsizetype at)
{
    const QChar low = text.at(at - 1);
    if (low.isLowSurrogate() && at >= 2 && text.at(at - 2).isHighSurrogate())
        return QChar::surrogateToUcs4(text.at(at - 2), low);
    return low.unicode();
}

char32_t codePointAt(QStringView text, qsizetype at)
{
    const QChar high = text.at(at);
    if (high.isHighSurrogate() && at + 1 < text.size() && text.at(at + 1).isLowSurrogate())
        return QChar::surrogateToUcs4(high, text.at(at + 1));
    return high.unicode();
}

/// The kinds of character that decide where an identifier may start inside a file name.
enum class CharKind
{
    Digit,
    Letter,
    Other
};

CharKind kindOf(char32_t c)
{
    if (QChar::isDigit(c))
        return CharKind::Digit;
    if (QChar::isLetter(c))
        return CharKind::Letter;
    return CharKind::Other;
}

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

bool isDateSeparator(QChar c)
{
    return c == u'-' || c == u'.' || c == u'_' || c == u'/';
}

/// A run of digits inside a file name, [begin, end).
struct DigitGroup
{
    qsizetype begin;
    qsizetype end;
};

/// True when `groups` (two or three, joined by date separators) are a date: exactly one of them
/// four digits long, each other one or two digits from 1 to 31, as a day or a month is.
bool isDate(const DigitGroup *groups, qsizetype count, QStringView name)
{
    int years = 0;
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype length = groups[i].end - groups[i].begin;
        if (length == 4) {
            ++years;
            continue;
        }
        if (length > 2)
            return false;
        const int value = name.mid(groups[i].begin, length).toInt();
        if (value < 1 || value > 31)
            return false;
    }
    return years == 1;
}

/// The parts of `name` that are dates ("2024-10-31", "31.10.2024", "2024_10", "12-03-2024"):
/// digit groups joined by "-", ".", "_" or "/" as isDate says, each span from the date's first
/// digit to its last, in name order. A chain of more groups is read from its start, three groups
/// where they make a date, else two, so that "42_2024-10" holds the date "2024-10" and the 42.
QList<DigitGroup> datesIn(QStringView name)
{
    QList<DigitGroup> dates;
    QList<DigitGroup> chain;
    const auto takeChain = [&] {
        for (qsizetype i = 0; i < chain.size();) {
            qsizetype taken = 0;
            if (i + 3 <= chain.size() && isDate(chain.constData() + i, 3, name))
                taken = 3;
            else if (i + 2 <= chain.size() && isDate(chain.constData() + i, 2, name))
                taken = 2;
            if (taken == 0) {
                ++i;
                continue;
            }
            dates.append({chain.at(i).begin, chain.at(i + taken - 1).end});
            i += taken;
        }
        chain.clear();
    };
    for (qsizetype i = 0; i < name.size();) {
        if (!isAsciiDigit(name.at(i))) {
            ++i;
            continue;
        }
        const qsizetype begin = i;
        while (i < name.size() && isAsciiDigit(name.at(i)))
            ++i;
        // A group joins the chain when one separator stands between it and the group before.
        if (!chain.isEmpty() && (begin - chain.last().end != 1 || !isDateSeparator(name.at(begin - 1))))
            takeChain();
        chain.append({begin, i});
    }
    takeChain();
    return dates;
}

/// True when [begin, end) overlaps one of `dates`.
bool overlapsDate(const QList<DigitGroup> &dates, qsizetype begin, qsizetype end)
{
    return std::any_of(dates.cbegin(), dates.cend(),
                       [begin, end](const DigitGroup &date) { return begin < date.end && date.begin < end; });
}

/// True when `at` falls between the two halves of a character beyond U+FFFF.
bool startsInsidePair(QStringView text, qsizetype at)
{
    return at > 0 && at < text.size() && text.at(at).isLowSurrogate() && text.at(at - 1).isHighSurrogate();
}

/// True when a whole word may start at `at` in `text`: at the start, or after a character that is
/// neither a letter nor a digit.
bool wordStartsAt(QStringView text, qsizetype at)
{
    return at == 0 || (kindOf(codePointBefore(text, at)) == CharKind::Other && !startsInsidePair(text, at));
}

/// True when a whole word may end at `at` in `text`: at the end, or before a character that is
/// neither a letter nor a digit.
bool wordEndsAt(QStringView text, qsizetype at)
{
    return at == text.size() || (kindOf(codePointAt(text, at)) == CharKind::Other && !startsInsidePair(text, at));
}

/// One character with its letter case folded. ASCII letters fold among themselves only: a
/// character outside ASCII that folds to an ASCII letter (the Kelvin sign, the long s) stays
/// itself, so that it never equals one. The length in UTF-16 units never changes, so positions
/// in a folded text are positions in the text.
char32_t foldChar(char32_t c)
{
    if (c < 0x80)
        return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
    const char32_t folded = QChar::toCaseFolded(c);
    if (folded < 0x80 || QChar::requiresSurrogates(folded) != QChar::requiresSurrogates(c))
        return c;
    return folded;
}

/// True when `a` and `b` (of the same length) are equal with letter case folded as foldChar does.
bool sameFolded(QStringView a, QStringView b)
{
    for (qsizetype i = 0; i < a.size();) {
        const char32_t ca = codePointAt(a, i);
        const char32_t cb = codePointAt(b, i);
        if (ca != cb && foldChar(ca) != foldChar(cb))
            return false;
        i += QChar::requiresSurrogates(ca) ? 2 : 1;
    }
    return true;
}

QString foldKey(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char32_t c = codePointAt(text, i);
        const char32_t folded = foldChar(c);
        if (QChar::requiresSurrogates(c)) {
            out.append(QChar(QChar::highSurrogate(folded)));
            out.append(QChar(QChar::lowSurrogate(folded)));
            ++i;
        } else {
            out.append(QChar(char16_t(folded)));
        }
    }
    return out;
}

/// Where a lookup's names end up: the folder's real path, and the client list's; the program's own
/// files (the client list among them), and whether one of their folders is this one.
struct Place
{
    QString folder;
    QString clientList;
    ProgramFiles own;
    bool holdsOwnFiles = false;
};

platform::FileIdentity identityIn(const Place &place, const QString &path, QString *reason)
{
    const auto why = [reason](const char *text) {
        if (reason)
            *reason = QString::fromLatin1(text);
        return platform::FileIdentity();
    };
    switch (platform::entryKind(path)) {
    case platform::EntryKind::File: {
        const platform::FileIdentity identity = platform::fileIdentity(path, false);
        return identity.isValid() ? identity : why("it changed while it was looked at");
    }
    case platform::EntryKind::Link: {
        // Where the link leads now, and the file it reaches: both must be an ordinary file of this
        // folder, the same one, so that a link re-pointed meanwhile is never taken.
        const platform::FileIdentity reached = platform::fileIdentity(path);
        const QString target = QFileInfo(path).canonicalFilePath();
        if (target.isEmpty())
            return why("a link to nothing");
        if (QFileInfo(target).path() != place.folder)
            return why("a link to a file outside the folder");
        if (!reached.isValid() || platform::entryKind(target) != platform::EntryKind::File)
            return why("a link to something that is not an ordinary file");
        if (target == place.clientList)
            return why("a link to the client list");
        if (platform::fileIdentity(target, false) != reached)
            return why("it changed while it was looked at");
        return reached;
    }
    case platform::EntryKind::Missing:
        return why("it is gone");
    case platform::EntryKind::Folder:
    case platform::EntryKind::Other:
        break;
    }
    return why("not an ordinary file");
}

Place placeOf(const QString &folder, const QString &clientList, const ProgramFiles &own)
{
    Place place{QFileInfo(folder.isEmpty() ? u"."_s : folder).canonicalFilePath(),
                clientList.isEmpty() ? QString() : QFileInfo(clientList).canonicalFilePath(), own};
    place.own.addFile(clientList, u"the client list"_s);
    place.holdsOwnFiles = place.own.folders().contains(place.folder);
    return place;
}

/// Why the document `path` (an ordinary file, or a link to one) is one of the program's own files;
/// empty when it is none. `links` is how many names the file has.
QString ownFileReason(const Place &place, const QString &path, qint64 links)
{
    // A file of this folder with one name is one of them only where they are kept, or when it is
    // what one of them was before the program replaced it (the settings, saved anew by a run).
    if (links <= 1 && !place.holdsOwnFiles && !place.own.wasAdded(platform::fileIdentity(path)))
        return {};
    const QString which = place.own.which(path);
    return which.isEmpty() ? QString() : u"the same file as "_s + which;
}

DocumentListing listFolder(const QString &folder, const Place &place, const QString &clientList)
{
    namespace fs = std::filesystem;
    DocumentListing listing;
    const QDir base(folder.isEmpty() ? u"."_s : folder);
    const QString listName = clientList.isEmpty() ? QString() : QFileInfo(clientList).fileName();
    const fs::path dir(QFile::encodeName(base.path()).toStdString());
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        // Hidden files are never documents: an office program's lock file for "Invoice_42.odt"
        // is ".~lock.Invoice_42.odt#", and it sorts before the document itself.
        const QString name = QFile::decodeName(QByteArray::fromStdString(it->path().filename().native()));
        if (name.startsWith(u'.') || name == listName)
            continue;
        // The entry's kind as the listing gave it: no call to the file system per entry.
        std::error_code typeError;
        const bool link = it->is_symlink(typeError);
        if (!link && it->is_regular_file(typeError)) {
            listing.names.append(name);
        } else if (link) {
            // A link may bring in any file the user can read (the settings, another folder's
            // documents): only one to an ordinary file of this same folder is a document.
            QString reason;
            if (identityIn(place, base.filePath(name), &reason).isValid())
                listing.names.append(name);
            else
                listing.skipped.append({name, reason});
        }
    }
    if (ec) {
        listing.error =
            u"The folder cannot be listed: "_s + folder + u" ("_s + QString::fromLocal8Bit(ec.message().c_str()) + u')';
        listing.names.clear();
        listing.skipped.clear();
        return listing;
    }
    // Listing order differs between file systems; sorting makes the first match the same everywhere.
    const auto byName = [](const QString &a, const QString &b) {
        const int c = QString::compare(a, b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    };
    std::sort(listing.names.begin(), listing.names.end(), byName);
    std::sort(listing.skipped.begin(), listing.skipped.end(),
              [&byName](const SkippedEntry &a, const SkippedEntry &b) { return byName(a.name, b.name); });
    return listing;
}

/// Takes the program's own files out of `names` (into `listing.skipped`) and notes the names with
/// other names too. A hard link is an ordinary file under a second name: one to the settings or the
/// client list would send them out as a document. One look at each name's file.
QStringList screenOwnFiles(const QStringList &names, const QString &folder, const Place &place,
                           DocumentListing &listing)
{
    const QDir base(folder.isEmpty() ? u"."_s : folder);
    QStringList kept;
    for (const QString &name : names) {
        const qint64 links = platform::hardLinkCount(base.filePath(name));
        if (const QString own = ownFileReason(place, base.filePath(name), links); !own.isEmpty()) {
            listing.skipped.append({name, own});
            continue;
        }
        kept.append(name);
        if (links > 1)
            listing.hardLinked.append(name);
    }
    return kept;
}

} // namespace

bool isClientDocumentName(const QString &fileName, const QString &clientId)
{
    if (clientId.trimmed().isEmpty())
        return false;
    const qsizetype length = clientId.size();
    const CharKind firstKind = kindOf(codePointAt(clientId, 0));
    std::optional<QList<DigitGroup>> dates; // found when first needed: most names never need them
    // Only the text right before a "." can be the identifier; no text is copied to compare it.
    for (qsizetype dot = fileName.indexOf(u'.', length); dot >= 0; dot = fileName.indexOf(u'.', dot + 1)) {
        const qsizetype at = dot - length;
        if (!sameFolded(QStringView(fileName).mid(at, length), clientId))
            continue;
        // "Statement_2024-10.pdf" is October's statement, not client 10's.
        if (!dates)
            dates = datesIn(fileName);
        if (overlapsDate(*dates, at, dot))
            continue;
        // "42." inside "1042.pdf" names client 1042, not 42, and inside "v1.42.pdf" a version:
        // the identifier must start the name or follow a character that cannot continue it.
        if (at > 0) {
            const char32_t before = codePointBefore(fileName, at);
            if (before == '.' || kindOf(before) == firstKind)
                continue;
        }
        // "42.1" and "42.2024" are numbers with a fraction or a date, not client 42's.
        const qsizetype after = dot + 1;
        if (after < fileName.size() && QChar::isDigit(codePointAt(fileName, after)))
            continue;
        return true;
    }
    return false;
}

bool holdsClientId(const QString &fileName, const QString &clientId)
{
    if (clientId.trimmed().isEmpty())
        return false;
    const QList<DigitGroup> dates = datesIn(fileName);
    const qsizetype length = clientId.size();
    for (qsizetype at = 0; at + length <= fileName.size(); ++at) {
        if (wordStartsAt(fileName, at) && wordEndsAt(fileName, at + length) &&
            sameFolded(QStringView(fileName).mid(at, length), clientId) && !overlapsDate(dates, at, at + length))
            return true;
    }
    return false;
}

DocumentListing listDocumentFolder(const QString &folder, const QString &clientList, const ProgramFiles &own)
{
    const Place place = placeOf(folder, clientList, own);
    DocumentListing listing = listFolder(folder, place, clientList);
    const qsizetype linksSkipped = listing.skipped.size();
    listing.names = screenOwnFiles(listing.names, folder, place, listing);
    // Skipped entries stay in name order.
    if (listing.skipped.size() > linksSkipped) {
        std::sort(listing.skipped.begin(), listing.skipped.end(), [](const SkippedEntry &a, const SkippedEntry &b) {
            const int c = QString::compare(a.name, b.name, Qt::CaseInsensitive);
            return c != 0 ? c < 0 : a.name < b.name;
        });
    }
    return listing;
}

ClientIdIndex::ClientIdIndex(const QStringList &clientIds)
{
    // An identifier on several lines is held once. Those that differ only in letter case share
    // their key: the key leads to the first, each to the next. A list of a million clients holds no
    // second set of them to find the repeats, nor a list per key.
    QSet<qsizetype> lengths;
    m_ids.reserve(clientIds.size());
    m_nextOfKey.reserve(size_t(clientIds.size()));
    m_listPosition.reserve(size_t(clientIds.size()));
    for (qsizetype i = 0; i < clientIds.size(); ++i) {
        const QString &id = clientIds.at(i);
        if (id.trimmed().isEmpty())
            continue;
        const QString key = foldKey(id);
        const int position = int(m_ids.size());
        if (const auto found = m_byKey.constFind(key); found == m_byKey.cend()) {
            m_byKey.insert(key, position);
        } else {
            int last = -1;
            bool held = false;
            for (int d = *found; d >= 0; d = m_nextOfKey[size_t(d)]) {
                held = held || m_ids[d] == id;
                last = d;
            }
            if (held)
                continue;
            m_nextOfKey[size_t(last)] = position;
        }
        m_ids.append(id);
        m_nextOfKey.push_back(-1);
        m_listPosition.push_back(int(i));
        lengths.insert(key.size());
    }
    m_ids.squeeze();
    m_nextOfKey.shrink_to_fit();
    m_listPosition.shrink_to_fit();
    m_lengths = QList<qsizetype>(lengths.cbegin(), lengths.cend());
}

QStringList ClientIdIndex::idsNamedBy(const QString &fileName) const
{
    return idsAt(namedPositions(fileName));
}

QList<int> ClientIdIndex::listPositionsNamedBy(const QString &fileName) const
{
    QList<int> positions = namedPositions(fileName);
    for (int &position : positions)
        position = m_listPosition[size_t(position)];
    return positions;
}

QList<int> ClientIdIndex::namedPositions(const QString &fileName) const
{
    // An identifier can only be named right before a ".": look up the pieces of the name that
    // end there and have the length of some identifier, then apply the full rule to those.
    const QString key = foldKey(fileName);
    QList<int> named;
    for (qsizetype dot = key.indexOf(u'.'); dot >= 0; dot = key.indexOf(u'.', dot + 1)) {
        for (qsizetype length : m_lengths) {
            if (length > dot)
                continue;
            const auto found = m_byKey.constFind(key.mid(dot - length, length));
            if (found == m_byKey.cend())
                continue;
            for (int d = *found; d >= 0; d = m_nextOfKey[size_t(d)]) {
                if (!named.contains(d) && isClientDocumentName(fileName, m_ids[d]))
                    named.append(d);
            }
        }
    }
    return named;
}

QStringList ClientIdIndex::idsHeldBy(const QString &fileName) const
{
    return idsAt(heldPositions(fileName));
}

QList<int> ClientIdIndex::heldPositions(const QString &fileName) const
{
    // A whole word starts and ends at a character that is neither letter nor digit: look up the
    // pieces of the name between such places that have the length of some identifier.
    const QString key = foldKey(fileName);
    const QList<DigitGroup> dates = datesIn(fileName);
    QList<int> held;
    for (qsizetype at = 0; at < key.size(); ++at) {
        if (!wordStartsAt(fileName, at))
            continue;
        for (qsizetype length : m_lengths) {
            const qsizetype end = at + length;
            if (end > key.size() || !wordEndsAt(fileName, end) || overlapsDate(dates, at, end))
                continue;
            const auto found = m_byKey.constFind(key.mid(at, length));
            if (found == m_byKey.cend())
                continue;
            for (int d = *found; d >= 0; d = m_nextOfKey[size_t(d)]) {
                // The key folds more than the comparison does (the Kelvin sign): ask the rule.
                if (!held.contains(d) && holdsClientId(fileName, m_ids[d]))
                    held.append(d);
            }
        }
    }
    return held;
}

QStringList ClientIdIndex::otherIdsIn(const QString &fileName, const QString &clientId) const
{
    QList<int> others = namedPositions(fileName);
    for (int d : heldPositions(fileName)) {
        if (!others.contains(d))
            others.append(d);
    }
    others.removeIf([this, &clientId](int d) { return m_ids[d] == clientId; });
    return idsAt(std::move(others));
}

QStringList ClientIdIndex::idsAt(QList<int> positions) const
{
    std::sort(positions.begin(), positions.end());
    QStringList ids;
    ids.reserve(positions.size());
    for (int d : std::as_const(positions))
        ids.append(m_ids[d]);
    return ids;
}

ClientDocument classifyDocuments(const QStringList &matching, const QString &clientId, const ClientIdIndex &index)
{
    ClientDocument document;
    document.names = matching;
    if (matching.isEmpty())
        return document;
    if (matching.size() > 1) {
        document.outcome = ClientDocument::Outcome::Several;
        return document;
    }
    // "Invoice_42 copy 2.pdf" holds 2 before its "." and 42 as a word of its own: it is no more
    // client 2's document than client 42's, so neither gets it.
    document.otherIds = index.otherIdsIn(matching.first(), clientId);
    document.outcome = document.otherIds.isEmpty() ? ClientDocument::Outcome::Found : ClientDocument::Outcome::Shared;
    return document;
}

ClientDocument FindClientDocument(const QString &folder, const QString &clientId, const ClientIdIndex &index,
                                  const QString &clientList, QString *error, const ProgramFiles &own)
{
    if (clientId.trimmed().isEmpty())
        return {};
    const Place place = placeOf(folder, clientList, own);
    DocumentListing listing = listFolder(folder, place, clientList);
    if (!listing.error.isEmpty()) {
        if (error)
            *error = listing.error;
        return {};
    }
    QStringList matching;
    for (const QString &name : listing.names) {
        if (isClientDocumentName(name, clientId))
            matching.append(name);
    }
    // Only the client's own names are looked at closer: a run asks this for every client.
    matching = screenOwnFiles(matching, folder, place, listing);
    ClientDocument document = classifyDocuments(matching, clientId, index);
    if (document.outcome == ClientDocument::Outcome::None) {
        // Named for the client but no document: say which and why, rather than that none is there.
        QStringList refused;
        for (const SkippedEntry &skipped : listing.skipped) {
            if (isClientDocumentName(skipped.name, clientId))
                refused.append(skipped.name + u" is no document: "_s + skipped.reason);
        }
        document.refused = refused.join(u"; "_s);
    }
    if (document.outcome == ClientDocument::Outcome::Found) {
        document.path = QDir(folder.isEmpty() ? u"."_s : folder).filePath(matching.first());
        document.identity = identityIn(place, document.path, nullptr);
        // Gone or turned into something else since the listing: as if it had never been there.
        if (!document.identity.isValid())
            return {};
    }
    return document;
}

} // namespace quorvale
