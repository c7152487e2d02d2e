// Builds a folder of 10,000 clients, each with its own document (and a few extra names), then
// prints how long the check of the whole list takes, against looking up each client's document
// one by one as a run does. Figures only; nothing here passes or fails.

#include "check/clientcheck.h"
#include "clients/documentmatch.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

using namespace Qt::StringLiterals;

using namespace quorvale;

namespace {

constexpr int kClients = 10'000;
constexpr int kOneByOne = 500; // a run's per-client lookup, timed on a sample and scaled up

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QByteArray csv;
    for (int i = 0; i < kClients; ++i) {
        const QByteArray id = "C" + QByteArray::number(100000 + i);
        csv += id + "," + (i % 20 == 0 ? QByteArray() : "client" + QByteArray::number(i) + "@example.com") + "\n";
        if (!writeFile(dir.filePath(u"Statement_%1.pdf"_s.arg(QString::fromLatin1(id))), "%PDF-1.4\n"))
            return 1;
        if (i % 50 == 0 && !writeFile(dir.filePath(u"Letter_%1.pdf"_s.arg(QString::fromLatin1(id))), "%PDF-1.4\n"))
            return 1;
    }
    const QString csvPath = dir.filePath(u"clients.csv"_s);
    if (!writeFile(csvPath, csv))
        return 1;

    QElapsedTimer timer;
    qint64 best = -1;
    CheckReport report;
    for (int round = 0; round < 3; ++round) {
        timer.start();
        report = checkClientList({csvPath, AttachmentMode::ClientSpecific, QString(), true});
        const qint64 ms = timer.elapsed();
        best = best < 0 ? ms : std::min(best, ms);
    }
    std::printf("check of %d clients, %lld files: %lld ms (best of 3); %lld rows flagged\n", kClients,
                qlonglong(kClients + kClients / 50 + 1), qlonglong(best), qlonglong(report.flaggedCount()));

    QStringList ids;
    for (int i = 0; i < kClients; ++i)
        ids.append(u"C%1"_s.arg(100000 + i));
    timer.start();
    const ClientIdIndex index(ids);
    for (int i = 0; i < kOneByOne; ++i)
        FindClientDocument(dir.path(), ids.at(i), index, csvPath);
    const double perClient = double(timer.elapsed()) / kOneByOne;
    std::printf("one lookup per client as a run does: %.1f ms per client, %.0f s for the list\n", perClient,
                perClient * kClients / 1000.0);
    return 0;
}
