// Writes a client CSV file of a million clients, two columns and five, then prints how long the
// reader takes on each (five columns with and without the line of column names), how long Python's
// csv module takes to read the two-column file into two lists, the ratio, the reader's peak memory
// against the file's size, and how long filling a subject and body for every client takes.
// Figures only; nothing here passes or fails.

#include "clients/csvreader.h"
#include "clients/messagetemplate.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <limits>

using namespace Qt::StringLiterals;
using quorvale::CsvHeader;

namespace {

constexpr int kClients = 1'000'000;
constexpr int kRounds = 5;

// A practice's client file: numbered ids, an address for most, a quoted name with a comma now and
// then; with five columns also a name, a street (not always ASCII) and an amount with a comma.
bool writeClientFile(const QString &path, int columns, bool header)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray chunk = header ? "ClientID,Email,Name,Street,Amount\r\n" : "";
    for (int i = 0; i < kClients; ++i) {
        const QByteArray number = QByteArray::number(i).rightJustified(7, '0');
        if (i % 25 == 0)
            chunk += "\"Smith, Jane " + number + "\"";
        else
            chunk += "C" + number;
        chunk += ',';
        if (i % 10 != 0)
            chunk += "client" + number + "@example.com";
        if (columns == 5) {
            chunk += ",Jane Smith " + number + (i % 7 == 0 ? ",Hauptstra\xC3\x9F" "e " : ",Main Street ")
                     + QByteArray::number(i % 200) + ",\"" + QByteArray::number(i % 5000) + ",00\"";
        }
        chunk += "\r\n";
        if (chunk.size() > (1 << 20)) {
            file.write(chunk);
            chunk.clear();
        }
    }
    return file.write(chunk) == chunk.size() && file.flush();
}

CsvHeader headerOf(bool columnNames)
{
    return columnNames ? CsvHeader::ColumnNames : CsvHeader::None;
}

qint64 statusKiB(const char *field)
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Run in a fresh child process: one read, with the memory figures before and after it.
int measureMemory(const QString &path, bool columnNames)
{
    const qint64 before = statusKiB("VmRSS:");
    const quorvale::CsvReadResult result = quorvale::GetCSVFile(path, headerOf(columnNames));
    const qint64 peak = statusKiB("VmHWM:");
    std::printf("%lld %lld %lld\n", static_cast<long long>(before), static_cast<long long>(peak),
                static_cast<long long>(result.clients.Count()));
    return result.outcome == quorvale::CsvReadOutcome::Read ? 0 : 1;
}

double pythonSeconds(const QString &path)
{
    static const QString script = uR"(import csv, sys, time
best = None
for _ in range(3):
    start = time.perf_counter()
    ids, mails = [], []
    add_id, add_mail = ids.append, mails.append
    with open(sys.argv[1], newline='', encoding='utf-8') as f:
        for row in csv.reader(f):
            add_id(row[0])
            add_mail(row[1])
    took = time.perf_counter() - start
    best = took if best is None else min(best, took)
print(best, len(ids))
)"_s;
    QProcess python;
    python.start(u"/usr/bin/python3"_s, {u"-c"_s, script, path});
    if (!python.waitForFinished(600'000) || python.exitCode() != 0) {
        std::fprintf(stderr, "python failed: %s\n", python.readAllStandardError().constData());
        return -1;
    }
    return python.readAllStandardOutput().split(' ').value(0).toDouble();
}

// Prints the file's size, the reader's best time and its peak memory; returns that time, or -1 when
// a figure is missing.
double measureReader(const QString &label, const QString &path, bool columnNames)
{
    const qint64 fileBytes = QFileInfo(path).size();
    std::printf("\n%s: %d clients, %.1f MB\n", qPrintable(label), kClients, double(fileBytes) / 1e6);
    double best = std::numeric_limits<double>::max();
    for (int round = 0; round < kRounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        const quorvale::CsvReadResult result = quorvale::GetCSVFile(path, headerOf(columnNames));
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        if (result.clients.Count() != kClients) {
            std::fprintf(stderr, "the reader found %lld clients\n", static_cast<long long>(result.clients.Count()));
            return -1;
        }
        best = std::min(best, seconds);
    }
    std::printf("GetCSVFile:        %.3f s (best of %d)\n", best, kRounds);

    QProcess child;
    QStringList arguments{u"--measure-memory"_s, path};
    if (columnNames)
        arguments.append(u"--header"_s);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    if (!child.waitForFinished(600'000) || child.exitCode() != 0) {
        std::fprintf(stderr, "memory measurement failed\n");
        return -1;
    }
    const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
    const qint64 beforeKiB = figures.value(0).toLongLong();
    const qint64 peakKiB = figures.value(1).toLongLong();
    const double readerBytes = double(peakKiB - beforeKiB) * 1024;
    std::printf("peak memory:       %.1f MB for the read (process %.1f MB), %.2fx the file size\n", readerBytes / 1e6,
                double(peakKiB) * 1024 / 1e6, readerBytes / double(fileBytes));
    return best;
}

// Fills a subject and a body for every client and counts the clients with an empty field, as a run
// does before it asks to start.
void measureFilling(const QString &path)
{
    const quorvale::CsvReadResult result = quorvale::GetCSVFile(path, CsvHeader::ColumnNames);
    const quorvale::ClientList &clients = result.clients;
    const quorvale::MessageTemplate message(u"Invoice {{id}} for {{ Name }}"_s,
                                            u"Dear {{Name}},\r\n\r\nplease find attached invoice {{id}} of "
                                            "{{Amount}} EUR, sent to {{Street}} and {{email}}.\r\n\r\nKind regards"_s,
                                            clients);
    QElapsedTimer timer;
    timer.start();
    qsizetype withEmptyField = 0;
    qsizetype characters = 0;
    for (qsizetype row = 0; row < clients.Count(); ++row) {
        withEmptyField += message.usesEmptyField(clients, row);
        characters += message.subject.fill(clients, row).size() + message.body.fill(clients, row).size();
    }
    std::printf("\nfilling subject and body for every client, empty fields checked: %.3f s (%lld with an empty "
                "field, %lld characters)\n",
                double(timer.nsecsElapsed()) / 1e9, static_cast<long long>(withEmptyField),
                static_cast<long long>(characters));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args.at(1) == u"--measure-memory"_s)
        return measureMemory(args.at(2), args.value(3) == u"--header"_s);

    QTemporaryDir dir;
    const QString twoColumns = dir.filePath(u"clients.csv"_s);
    const QString fiveColumns = dir.filePath(u"clients5.csv"_s);
    const QString fiveWithNames = dir.filePath(u"clients5h.csv"_s);
    if (!dir.isValid() || !writeClientFile(twoColumns, 2, false) || !writeClientFile(fiveColumns, 5, false)
        || !writeClientFile(fiveWithNames, 5, true)) {
        std::fprintf(stderr, "cannot write the client files\n");
        return 1;
    }
    const double best = measureReader(u"client file, two columns"_s, twoColumns, false);
    if (best < 0)
        return 1;
    const double python = pythonSeconds(twoColumns);
    if (python > 0)
        std::printf("Python csv module: %.3f s (best of 3)\nratio:             %.1fx faster\n", python,
                    python / best);
    if (measureReader(u"client file, five columns"_s, fiveColumns, false) < 0
        || measureReader(u"client file, five columns, column names first"_s, fiveWithNames, true) < 0)
        return 1;
    measureFilling(fiveWithNames);
    return 0;
}
