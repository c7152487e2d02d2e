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

// What one pass over the file's bytes tells: whether they are valid UTF-8 throughout, and how many
// CR, LF and separator bytes they hold (which ends lines, and how many rows to make room for).
struct TextScan
{
    bool utf8 = true;
    qsizetype carriageReturns = 0;
    qsizetype lineFeeds = 0;
    qsizetype separators = 0;
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

// The length of the valid UTF-8 sequence that starts at `p` (a byte of 0x80 or more), or 0 when
// it is none: a stray byte, a sequence cut short, an overlong form, a surrogate, or beyond Unicode.
int utf8SequenceLength(const uchar *p, const uchar *end)
{
    const uchar lead = *p;
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
        return 0;
    }
    for (int i = 1; i <= trail; ++i) {
        if (i >= end - p || (p[i] & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (p[i] & 0x3F);
    }
    if ((trail == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (trail == 3 && (code < 0x10000 || code > 0x10FFFF)))
        return 0;
    return trail + 1;
}

bool isValidUtf8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const uchar *const end = p + bytes.size();
    while (p < end) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        const int length = utf8SequenceLength(p, end);
        if (length == 0)
            return false;
        p += length;
    }
    return true;
}

TextScan scanText(QByteArrayView bytes, char separator)
{
    TextScan scan;
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const uchar *const end = p + bytes.size();
    while (p < end) {
        // Client files are mostly ASCII: take it eight bytes at a time.
        for (quint64 word; end - p >= 8; p += 8) {
            std::memcpy(&word, p, sizeof word);
            if (word & 0x8080808080808080ULL)
                break;
            scan.carriageReturns += countInAsciiWord(word, '\r');
            scan.lineFeeds += countInAsciiWord(word, '\n');
            scan.separators += countInAsciiWord(word, separator);
        }
        if (p == end)
            break;
        const uchar byte = *p;
        if (byte < 0x80) {
            scan.carriageReturns += byte == '\r';
            scan.lineFeeds += byte == '\n';
            scan.separators += byte == uchar(separator);
            ++p;
            continue;
        }
        const int length = utf8SequenceLength(p, end);
        if (length == 0) {
            // Which lines are not UTF-8 is for decodeLines to find; the counts go on.
            scan.utf8 = false;
            ++p;
            continue;
        }
        p += length;
    }
    return scan;
}

// Finds the line ends of a text: CR LF, LF and a lone CR each end a line, wherever they stand.
class LineEnds
{
public:
    LineEnds(const char *begin, const char *end, const TextScan &scan)
        : m_end(end),
          // A kind of byte the text does not hold is never searched for.
          m_cr(scan.carriageReturns ? findUnit(begin, end, '\r') : end),
          m_lf(scan.lineFeeds ? findUnit(begin, end, '\n') : end)
    {
    }
    // The first CR or LF at or after `p`, or the end of the text.
    const char *stopAfter(const char *p)
    {
        if (m_cr < p)
            m_cr = findUnit(p, m_end, '\r');
        if (m_lf < p)
            m_lf = findUnit(p, m_end, '\n');
        return std::min(m_cr, m_lf);
    }
    // Where the next line starts after the line end at `stop`: CR LF is one line end.
    const char *nextLine(const char *stop) const
    {
        if (stop == m_end)
            return m_end;
        return *stop == '\r' && stop + 1 < m_end && stop[1] == '\n' ? stop + 2 : stop + 1;
    }

private:
    const char *m_end;
    const char *m_cr;
    const char *m_lf;
};

// The text with every line that is not valid UTF-8 read as Windows-1252, each line on its own, so
// that one stray byte garbles no other line; the numbers of those lines go to `windows1252Lines`.
// Line ends stay where they were, so the lines keep their numbers.
QByteArray decodeLines(QByteArrayView text, const TextScan &scan, QList<qint64> *windows1252Lines)
{
    QByteArray out;
    out.reserve(text.size() + text.size() / 8);
    const char *p = text.data();
    const char *const end = p + text.size();
    LineEnds ends(p, end, scan);
    for (qint64 line = 1; p < end; ++line) {
        const char *stop = ends.stopAfter(p);
        const char *next = ends.nextLine(stop);
        const QByteArrayView content(p, stop);
        if (isValidUtf8(content)) {
            out.append(content);
        } else {
            out.append(windows1252ToUtf8(content));
            windows1252Lines->append(line);
        }
        out.append(QByteArrayView(stop, next));
        p = next;
    }
    return out;
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
    static CsvReadResult read(QByteArray text, qsizetype start, const TextScan &scan, CsvHeader header, char separator)
    {
        const char *p = text.constData() + start;
        const char *const end = text.constData() + text.size();
        LineEnds ends(p, end, scan);

        CsvReadResult result;
        ClientList &list = result.clients;
        // Sizing the rows once keeps the peak memory at the list's final size. Every client takes a
        // line of its own and holds a separator, so neither count can fall short; taking the smaller
        // one keeps a file of mostly empty lines from reserving far more than it needs.
        list.m_rows.reserve(size_t(std::min(scan.carriageReturns + scan.lineFeeds + 1, scan.separators)));
        list.m_separator = separator;
        bool namesDue = header == CsvHeader::ColumnNames;

        for (qint64 line = 1; p < end; ++line) {
            const char *lineStop = ends.stopAfter(p);
            const char *next = ends.nextLine(lineStop);
            if (lineStop != p) { // an empty line is no client
                const char *fields[4] = {};
                int count = 0;
                const bool fits = splitCsvLine(p, lineStop, separator, '"', [&](const char *begin, const char *stop) {
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
                    for (const QByteArrayView name : splitCsvBytes(QByteArrayView(p, lineStop), separator))
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
           "e-mail address (left empty for a client without one). A first line of column names is read as a client "
           "unless \"First line holds column names\" is ticked (--header on the command line)."_s;
}

std::optional<char> csvSeparatorNamed(const QString &name)
{
    if (name == u","_s)
        return ',';
    if (name == u";"_s)
        return ';';
    if (name == u"tab"_s)
        return '\t';
    return std::nullopt;
}

namespace {

/// The first two lines of `head` that hold anything, as text.
QStringList firstLines(const QByteArray &head)
{
    QStringList lines;
    for (const QByteArray &line : head.split('\n')) {
        const QString text = QString::fromUtf8(line).trimmed().remove(QChar::ByteOrderMark);
        if (!text.isEmpty())
            lines.append(text);
        if (lines.size() == 2)
            break;
    }
    return lines;
}

} // namespace

std::optional<char> otherSeparatorOf(const QByteArray &head, char separator)
{
    const QStringList lines = firstLines(head);
    if (lines.isEmpty())
        return std::nullopt;
    // A file saved with another separator than the one chosen (a European spreadsheet program
    // writes semicolons) has none of the chosen one in its first line.
    const QString &first = lines.first();
    for (const char other : {';', ',', '\t'}) {
        if (other != separator && first.contains(QLatin1Char(other)) && !first.contains(QLatin1Char(separator)))
            return other;
    }
    return std::nullopt;
}

QString separatorName(char separator)
{
    return separator == '\t' ? u"tab"_s : u'"' + QString(QLatin1Char(separator)) + u'"';
}

QString clientFileMistake(const QByteArray &head, char separator)
{
    const QStringList lines = firstLines(head);
    if (lines.isEmpty())
        return {};
    const QString &first = lines.first();
    const QChar chosen = QLatin1Char(separator);
    if (const std::optional<char> other = otherSeparatorOf(head, separator)) {
        const QString said = *other == ';' ? u"semicolons (;)"_s : *other == ',' ? u"commas (,)"_s : u"tabs"_s;
        return u"The lines look separated by %1: choose the separator %2 (--delimiter %2 on the command line, "
               "or quorvale config set CSVDelimiter %2)."_s.arg(said, separatorName(*other));
    }
    // Column names: the first line's second field is a word where the next line holds an address.
    const QString second = ParseCSVLine(first, chosen).value(1).trimmed();
    const QString nextSecond = lines.size() > 1 ? ParseCSVLine(lines.at(1), chosen).value(1) : QString();
    const bool heading = !first.contains(chosen) || (!second.isEmpty() && !second.contains(u'@'));
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

QList<QByteArrayView> splitCsvBytes(QByteArrayView line, char separator)
{
    QList<QByteArrayView> fields;
    splitCsvLine(line.data(), line.data() + line.size(), separator, '"',
                 [&](const char *begin, const char *end) { fields.append(QByteArrayView(begin, end)); });
    return fields;
}

QByteArrayView csvFieldAt(QByteArrayView line, qsizetype index, char separator)
{
    QByteArrayView found;
    splitCsvLine(line.data(), line.data() + line.size(), separator, '"', [&](const char *begin, const char *end) {
        if (index-- == 0)
            found = QByteArrayView(begin, end);
    });
    return found;
}

namespace {

CsvReadResult readClientFile(const QString &fileName, CsvHeader header, char separator)
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

    // The byte-order mark says the file was written as UTF-8; it is never part of the first
    // client's identifier, even when that line turns out not to be UTF-8.
    const qsizetype start = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    const TextScan scan = scanText(QByteArrayView(bytes).sliced(start), separator);
    if (scan.utf8)
        return ClientListBuilder::read(std::move(bytes), start, scan, header, separator);
    QList<qint64> windows1252Lines;
    QByteArray text = decodeLines(QByteArrayView(bytes).sliced(start), scan, &windows1252Lines);
    bytes = QByteArray(); // the file's own bytes are no longer needed
    CsvReadResult result = ClientListBuilder::read(std::move(text), 0, scan, header, separator);
    if (result.outcome == CsvReadOutcome::Read)
        result.windows1252Lines = std::move(windows1252Lines);
    return result;
}

} // namespace

CsvReadResult GetCSVFile(const QString &fileName, CsvHeader header, char separator)
{
    try {
        return readClientFile(fileName, header, separator);
    } catch (const std::bad_alloc &) { // a file too large to hold is one that cannot be read
        return failure(CsvReadOutcome::FileUnreadable);
    }
}

} // namespace quorvale
