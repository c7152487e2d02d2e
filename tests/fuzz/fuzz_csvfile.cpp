// The whole-file reader on arbitrary bytes, with and without column names, with each separator. A
// read that succeeds must hold exactly one client per non-empty line (the first one being the
// column names when asked for), in order, each made of the fields the splitter gives for that line,
// and list the lines that are not UTF-8; a read that fails must name a line the splitter cannot
// give two fields for. What the start of the file looks like it got wrong is said for any bytes.

#include "clients/csvreader.h"
#include "fuzzcheck.h"

#include <QList>
#include <QStringDecoder>

#include <algorithm>

using namespace quorvale;

namespace {

// The file's lines as the reader must see them: CR LF, LF and a lone CR each end a line.
QList<QByteArray> linesOf(const QByteArray &bytes)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype stop = start;
        while (stop < bytes.size() && bytes[stop] != '\r' && bytes[stop] != '\n')
            ++stop;
        lines.append(bytes.mid(start, stop - start));
        start = stop + 1;
        if (stop < bytes.size() && bytes[stop] == '\r' && start < bytes.size() && bytes[start] == '\n')
            ++start;
    }
    return lines;
}

bool isUtf8(const QByteArray &line)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder.decode(line); // decodes only once made a QString
    return !decoder.hasError();
}

// Text the reader made of a field against the field's own bytes. Valid UTF-8 must come back as
// is; other files are single-byte text, where ASCII stays itself and every other byte becomes one
// character outside ASCII.
void checkField(const QString &read, const QByteArray &raw, bool utf8)
{
    if (utf8) {
        FUZZ_CHECK(read == QString::fromUtf8(raw));
        return;
    }
    FUZZ_CHECK(read.size() == raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i)
        FUZZ_CHECK(uchar(raw[i]) < 0x80 ? read[i] == QLatin1Char(raw[i]) : read[i].unicode() >= 0x80);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 32766)
        return 0; // the byte-wise check below holds for lines within the splitter's limits only
    QByteArray bytes = fuzz::bytesOf(data, size);
    const QString path = fuzz::writeScratchFile(bytes);
    // What a run says about the file's start: whatever the bytes, an answer and no crash.
    for (const char separator : {',', ';', '\t'}) {
        const QString mistake = clientFileMistake(clientFileHead(path), separator);
        FUZZ_CHECK(mistake.isEmpty() || mistake.endsWith(u'.'));
    }

    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    const QList<QByteArray> lines = linesOf(bytes);
    QList<qint64> windows1252;
    for (qsizetype n = 0; n < lines.size(); ++n) {
        if (!isUtf8(lines[n]))
            windows1252.append(n + 1);
    }

    const std::pair<CsvHeader, char> readings[] = {
        {CsvHeader::None, ','}, {CsvHeader::ColumnNames, ','}, {CsvHeader::None, ';'}, {CsvHeader::ColumnNames, '\t'}};
    for (const auto &[header, separator] : readings) {
        const QChar split = QLatin1Char(separator);
        const CsvReadResult result = GetCSVFile(path, header, separator);
        if (result.outcome != CsvReadOutcome::Read) {
            FUZZ_CHECK(result.outcome == CsvReadOutcome::LineUnsplittable);
            FUZZ_CHECK(result.clients.Count() == 0 && !result.message(path).isEmpty());
            FUZZ_CHECK(result.failedLine >= 1 && result.failedLine <= lines.size());
            const QByteArray &line = lines[result.failedLine - 1];
            // Splitting on bytes gives as many fields as splitting the decoded text: every
            // separator and quote is ASCII.
            FUZZ_CHECK(!line.isEmpty() && ParseCSVLine(QString::fromLatin1(line), split).size() < 2);
            continue;
        }
        FUZZ_CHECK(result.windows1252Lines == windows1252);
        const ClientList &clients = result.clients;
        bool namesDue = header == CsvHeader::ColumnNames;
        qsizetype row = 0;
        qsizetype widest = 2;
        for (qsizetype n = 0; n < lines.size(); ++n) {
            if (lines[n].isEmpty())
                continue;
            // Latin-1 keeps one character per byte, so the fields' places carry over to the bytes.
            const QStringList fields = ParseCSVLine(QString::fromLatin1(lines[n]), split);
            const bool utf8 = !windows1252.contains(n + 1);
            FUZZ_CHECK(fields.size() >= 2);
            widest = std::max(widest, fields.size());
            if (namesDue) {
                FUZZ_CHECK(clients.columnNames().size() == fields.size());
                for (qsizetype column = 0; column < fields.size(); ++column)
                    checkField(clients.columnNames()[column], fields[column].toLatin1(), utf8);
                namesDue = false;
                continue;
            }
            FUZZ_CHECK(row < clients.Count());
            const ClientRecord client = clients.at(row);
            FUZZ_CHECK(client.LineNumber == n + 1);
            checkField(client.ClientId, fields[0].toLatin1(), utf8);
            checkField(client.EmailAddress, fields[1].toLatin1(), utf8);
            FUZZ_CHECK(clients.fieldCount(row) == fields.size() && clients.field(row, fields.size()).isEmpty());
            for (qsizetype column = 0; column < fields.size(); ++column)
                checkField(clients.field(row, column), fields[column].toLatin1(), utf8);
            ++row;
        }
        FUZZ_CHECK(row == clients.Count() && clients.columnCount() == widest);
        FUZZ_CHECK(clients.columnNames().isEmpty() == (header == CsvHeader::None || namesDue));
    }
    return 0;
}
