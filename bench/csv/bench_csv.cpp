// Writes a client CSV file of a million clients, then prints how long the reader takes on it,
// how long Python's csv module takes to read it into two lists, the ratio, and the reader's peak
// memory against the file's size. Figures only; nothing here passes or fails.

#include "clients/csvreader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

constexpr int kClients = 1'000'000;
constexpr int kRounds = 5;

// A practice's client file: numbered ids, an address for most, a quoted name with a comma now and then.
bool writeClientFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray chunk;
    for (int i = 0; i < kClients; ++i) {
        const QByteArray number = QByteArray::number(i).rightJustified(7, '0');
        if (i % 25 == 0)
            chunk += "\"Smith, Jane " + number + "\"";
        else
            chunk += "C" + number;
        chunk += ',';
        if (i % 10 != 0)
            chunk += "client" + number + "@example.com";
        chunk += "\r\n";
        if (chunk.size() > (1 << 20)) {
            file.write(chunk);
            chunk.clear();
        }
    }
    return file.write(chunk) == chunk.size() && file.flush();
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
int measureMemory(const QString &path)
{
    const qint64 before = statusKiB("VmRSS:");
    const quorvale::CsvReadResult result = quorvale::GetCSVFile(path);
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

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == u"--measure-memory"_s)
        return measureMemory(args.at(2));

    QTemporaryDir dir;
    const QString path = dir.filePath(u"clients.csv"_s);
    if (!dir.isValid() || !writeClientFile(path)) {
        std::fprintf(stderr, "cannot write the client file\n");
        return 1;
    }
    const qint64 fileBytes = QFileInfo(path).size();
    std::printf("client file: %d clients, %.1f MB\n", kClients, double(fileBytes) / 1e6);
    double best = std::numeric_limits<double>::max();
    for (int round = 0; round < kRounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        const quorvale::CsvReadResult result = quorvale::GetCSVFile(path);
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        if (result.clients.Count() != kClients) {
            std::fprintf(stderr, "the reader found %lld clients\n", static_cast<long long>(result.clients.Count()));
            return 1;
        }
        best = std::min(best, seconds);
    }
    std::printf("GetCSVFile:        %.3f s (best of %d)\n", best, kRounds);

    const double python = pythonSeconds(path);
    if (python > 0)
        std::printf("Python csv module: %.3f s (best of 3)\nratio:             %.1fx faster\n", python,
                    python / best);

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {u"--measure-memory"_s, path});
    if (child.waitForFinished(600'000) && child.exitCode() == 0) {
        const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
        const qint64 beforeKiB = figures.value(0).toLongLong();
        const qint64 peakKiB = figures.value(1).toLongLong();
        const double readerBytes = double(peakKiB - beforeKiB) * 1024;
        std::printf("peak memory:       %.1f MB for the read (process %.1f MB), %.2fx the file size\n",
                    readerBytes / 1e6, double(peakKiB) * 1024 / 1e6, readerBytes / double(fileBytes));
    } else {
        std::fprintf(stderr, "memory measurement failed\n");
    }
    return 0;
}
