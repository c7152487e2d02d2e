#include "clients/csvreader.h"

#include "text/windows1252.h"

#include <QFile>
#include <QFileInfo>
#include <QStringView>

#include <algorithm>
#include <cstring>
#include <new>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

// The splitter keeps its positions and field count in 16-bit signed numbers, so a field may span
// at most 32,766 characters up to its separator and a line may hold at most 32,767 fields.
constexpr qsizetype kMaxFieldLength = 32766;
constexpr qsizetype kMaxFields = 32767;

const char *findUnit(const char *begin, const char *end, char unit)
{
    const void *hit = std::memchr(begin, unit, size_t(end - begin));
    return hit ? static_cast<const char *>(hit) : end;
}

const char16_t *findUnit(const char16_t *begin, const char16_t *end, char16_t unit)
{
    const qsizetype at = QStringView(begin, end).indexOf(QChar(unit));
    return at < 0 ? end : begin + at;
}

// Field lengths are counted in UTF-16 units, whatever the text is held in.
bool longerThanLimit(const char16_t *begin, const char16_t *end)
{
    return end - begin > kMaxFieldLength;
}

bool longerThanLimit(const char *begin, const char *end)
{
    if (end - begin <= kMaxFieldLength) // never fewer bytes than UTF-16 units
        return false;
    qsizetype units = 0;
    for (const char *p = begin; p < end; ++p) {
        const auto byte = uchar(*p);
        units += (byte & 0xC0) != 0x80; // one per character...
        units += byte >= 0xF0;          // ...and a second for characters beyond U+FFFF
    }
    return units > kMaxFieldLength;
}

// Splits the line [begin, end) and calls onField(fieldBegin, fieldEnd) for every field in order.
// Every field is a run of the line itself: a plain field runs to the next separator, spaces and
// all; a field whose first character after leading spaces is the quote runs from after that quote
// to the next quote (or the end of the line), and whatever follows the closing quote up to the
// next separator is dropped. There is no escape for the quote. A separator at the end of the line
// gives a final empty field, and an empty line a single empty field.
// Returns false when the line exceeds the limits above; the fields seen so far are then moot.
template<typename Char, typename OnField>
bool splitCsvLine(const Char *begin, const Char *end, Char separator, Char quote, OnField &&onField)
{
    for (qsizetype fields = 1;; ++fields) {
        if (fields > kMaxFields)
            return false;
        const Char *first = begin;
        while (first < end && *first == Char(' '))
            ++first;
        const Char *fieldBegin = begin;
        const Char *fieldEnd;
        const Char *separatorAt;
        if (first < end && *first == quote) {
            fieldBegin = first + 1;
            fieldEnd = findUnit(fieldBegin, end, quote);
            // A closing quote that is the last character leaves nothing to search.
            separatorAt = end - fieldEnd > 1 ? findUnit(fieldEnd + 1, end, separator) : end;
            if (longerThanLimit(first, separatorAt))
                return false;
        } else {
            separatorAt = findUnit(begin, end, separator);
            fieldEnd = separatorAt;
            if (longerThanLimit(begin, separatorAt))
                return false;
        }
        onField(fieldBegin, fieldEnd);
        if (separatorAt == end)
            return true;
        begin = separatorAt + 1;
    }
}

// What one pass over the file's bytes tells: whether they are valid UTF-8, and how many CR, LF and
// comma bytes they hold (which ends lines, and how many rows to make room for).
struct TextScan
{
    bool utf8 = true;
    qsizetype carriageReturns = 0;
    qsizetype lineFeeds = 0;
    qsizetype commas = 0;
};

// Number of bytes equal to `unit` in an eight-byte word of ASCII.
int countInAsciiWord(quint64 word, char unit)
{
    constexpr quint64 low7 = 0x7F7F7F7F7F7F7F7FULL;
    const quint64 zeroWhereEqual = word ^ (0x0101010101010101ULL * uchar(unit));
    // Adding 0x7F sets the top bit of every byte that is not zero; no byte carries into the next.
    const quint64 onePerMatch = (~(zeroWhereEqual + low7) & ~low7) >> 7;
    return int((onePerMatch * 0x0101010101010101ULL) >> 56); // sums the bytes into the top one
}

TextScan scanText(const QByteArray &bytes)
{
    TextScan scan;
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
    const uchar *const end = p + bytes.size();
    while (p < end) {
        // Client files are mostly ASCII: take it eight bytes at a time.
        for (quint64 word; end - p >= 8; p += 8) {
            std::memcpy(&word, p, sizeof word);
            if (word & 0x8080808080808080ULL)
                break;
            scan.carriageReturns += countInAsciiWord(word, '\r');
            scan.lineFeeds += countInAsciiWord(word, '\n');
            scan.commas += countInAsciiWord(word, ',');
        }
        if (p == end)
            break;
        const uchar lead = *p;
        if (lead < 0x80) {
            scan.carriageReturns += lead == '\r';
            scan.lineFeeds += lead == '\n';
            scan.commas += lead == ',';
            ++p;
            continue;
        }
        int trail = 0;
        char32_t code = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            trail = 1;
            code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            trail = 2;
            code = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            trail = 3;
            code = lead & 0x07;
        } else {
            scan.utf8 = false;
        }
        for (int i = 1; scan.utf8 && i <= trail; ++i) {
            if (i >= end - p || (p[i] & 0xC0) != 0x80)
                scan.utf8 = false;
            else
                code = (code << 6) | (p[i] & 0x3F);
        }
        if ((trail == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF)))
            || (trail == 3 && (code < 0x10000 || code > 0x10FFFF)))
            scan.utf8 = false; // overlong, a surrogate, or beyond Unicode
        if (!scan.utf8) {
            scan.carriageReturns += std::count(p, end, uchar('\r'));
            scan.lineFeeds += std::count(p, end, uchar('\n'));
            scan.commas += std::count(p, end, uchar(','));
            break;
        }
        p += trail + 1;
    }
    return scan;
}

CsvReadResult failure(CsvReadOutcome outcome, qint64 line = 0)
{
    CsvReadResult result;
    result.outcome = outcome;
    result.failedLine = line;
    return result;
}

} // namespace

/// Builds a ClientList straight over the file's text: each row points at its two fields in place.
class ClientListBuilder
{
public:
    static CsvReadResult read(QByteArray text, qsizetype start, const TextScan &scan, CsvHeader header)
    {
        const char *p = text.constData() + start;
        const char *const end = text.constData() + text.size();
        // Files written on Windows end lines with CR LF (or a lone CR), and a lone LF is then part
        // of the line; a file without any CR was written elsewhere and ends lines with LF.
        const bool crEndsLines = scan.carriageReturns > 0;
        const char lineEnd = crEndsLines ? '\r' : '\n';

        CsvReadResult result;
        ClientList &list = result.clients;
        // Sizing the rows once keeps the peak memory at the list's final size. Every client takes a
        // line of its own and holds a comma, so neither count can fall short; taking the smaller one
        // keeps a file of mostly empty lines from reserving far more than it needs.
        list.m_rows.reserve(size_t(std::min(crEndsLines ? scan.carriageReturns + 1 : scan.lineFeeds + 1, scan.commas)));
        list.m_lineEnd = lineEnd;
        bool namesDue = header == CsvHeader::ColumnNames;

        for (qint64 line = 1; p < end; ++line) {
            const char *lineStop = findUnit(p, end, lineEnd);
            const char *next = lineStop == end ? end : lineStop + 1;
            if (crEndsLines && next < end && *next == '\n')
                ++next;
            if (lineStop != p) { // an empty line is no client
                const char *fields[4] = {};
                int count = 0;
                const bool fits = splitCsvLine(p, lineStop, ',', '"', [&](const char *begin, const char *stop) {
                    if (count < 2) {
                        fields[2 * count] = begin;
                        fields[2 * count + 1] = stop;
                    }
                    ++count;
                });
                if (!fits || count < 2)
                    return failure(CsvReadOutcome::LineUnsplittable, line);
                list.m_columnCount = std::max<qsizetype>(list.m_columnCount, count);
                if (namesDue) {
                    for (const QByteArrayView name : splitCsvBytes(QByteArrayView(p, lineStop)))
                        list.m_columnNames.append(QString::fromUtf8(name));
                    namesDue = false;
                } else {
                    const char *base = text.constData();
                    list.m_rows.push_back({fields[0] - base, fields[2] - base, line, quint32(fields[1] - fields[0]),
                                           quint32(fields[3] - fields[2])});
                }
            }
            p = next;
        }
        list.m_text = std::move(text);
        return result;
    }
};

QString CsvReadResult::message(const QString &fileName) const
{
    switch (outcome) {
    case CsvReadOutcome::Read:
        return {};
    case CsvReadOutcome::FileMissing:
    case CsvReadOutcome::FileUnreadable:
        return u"There was a problem reading the CSV file. File name= "_s + fileName;
    case CsvReadOutcome::LineUnsplittable:
        return u"There was a problem reading the CSV file at line "_s + QString::number(failedLine)
               + u". File name= "_s + fileName;
    }
    return {};
}

QString clientFileFormat()
{
    return u"The client CSV file must hold one client per line: the client id, a comma, then the "
           "e-mail address (left empty for a client without one), with no line of column names."_s;
}

QString clientFileMistake(const QByteArray &head)
{
    // The first two lines that hold anything, as text.
    QStringList lines;
    for (const QByteArray &line : head.split('\n')) {
        const QString text = QString::fromUtf8(line).trimmed().remove(QChar::ByteOrderMark);
        if (!text.isEmpty())
            lines.append(text);
        if (lines.size() == 2)
            break;
    }
    if (lines.isEmpty())
        return {};
    const QString &first = lines.first();
    const bool semicolons = first.contains(u';') && !first.contains(u',');
    if (semicolons)
        return u"The lines look separated by semicolons (;): the fields must be separated by commas."_s;
    // Column names: the first line's second field is a word where the next line holds an address.
    const QString second = ParseCSVLine(first).value(1).trimmed();
    const QString nextSecond = lines.size() > 1 ? ParseCSVLine(lines.at(1)).value(1) : QString();
    const bool heading = !first.contains(u',') || (!second.isEmpty() && !second.contains(u'@'));
    if (heading && !first.contains(u'@') && nextSecond.contains(u'@'))
        return u"The first line looks like column names (%1), not a client: it would be taken as one."_s.arg(first);
    return {};
}

QByteArray clientFileHead(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(4096).replace('\r', '\n');
}

QStringList ParseCSVLine(const QString &line, QChar separator, QChar quote)
{
    QStringList fields;
    const QStringView text(line);
    const bool fits = splitCsvLine(text.utf16(), text.utf16() + text.size(), separator.unicode(), quote.unicode(),
                                   [&](const char16_t *begin, const char16_t *end) {
                                       fields.append(QStringView(begin, end).toString());
                                   });
    return fits ? fields : QStringList();
}

QList<QByteArrayView> splitCsvBytes(QByteArrayView line)
{
    QList<QByteArrayView> fields;
    splitCsvLine(line.data(), line.data() + line.size(), ',', '"',
                 [&](const char *begin, const char *end) { fields.append(QByteArrayView(begin, end)); });
    return fields;
}

QByteArrayView csvFieldAt(QByteArrayView line, qsizetype index)
{
    QByteArrayView found;
    splitCsvLine(line.data(), line.data() + line.size(), ',', '"', [&](const char *begin, const char *end) {
        if (index-- == 0)
            found = QByteArrayView(begin, end);
    });
    return found;
}

namespace {

CsvReadResult readClientFile(const QString &fileName, CsvHeader header)
{
    if (fileName.isEmpty() || !QFileInfo(fileName).isFile())
        return failure(CsvReadOutcome::FileMissing);
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return failure(CsvReadOutcome::FileUnreadable);
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return failure(CsvReadOutcome::FileUnreadable);
    file.close();

    const TextScan scan = scanText(bytes);
    qsizetype start = 0;
    if (!scan.utf8)
        bytes = windows1252ToUtf8(bytes); // keeps every CR and LF where it was
    else if (bytes.startsWith("\xEF\xBB\xBF"))
        start = 3; // the byte-order mark is not part of the first client's identifier
    return ClientListBuilder::read(std::move(bytes), start, scan, header);
}

} // namespace

CsvReadResult GetCSVFile(const QString &fileName, CsvHeader header)
{
    try {
        return readClientFile(fileName, header);
    } catch (const std::bad_alloc &) { // a file too large to hold is one that cannot be read
        return failure(CsvReadOutcome::FileUnreadable);
    }
}

} // namespace quorvale
