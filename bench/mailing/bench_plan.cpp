// The mailing plan's time and peak memory for a large client list: 100,000 and 1,000,000 clients,
// every one at the same address or each at its own, without attachment and with each client's own
// document, against the peak memory of reading the client list alone; and the check's, which
// shows the plan as its table. Each figure comes from a
// fresh process (this program run again with arguments), since a process's peak never goes down.
// Figures only; nothing here passes or fails.
//
// Usage: bench_plan [ROWS...]            the table (default rows: 100000 1000000)
//        bench_plan ROWS KIND MODE WHAT  one figure: KIND shared|distinct, MODE none|client,
//                                        WHAT list|plan|check

#include "check/clientcheck.h"
#include "clients/csvreader.h"
#include "mailing/mailingplan.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>

using namespace Qt::StringLiterals;

using namespace quorvale;

namespace {

long peakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

bool writeClients(const QString &path, qint64 rows, bool shared)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray chunk;
    for (qint64 i = 0; i < rows; ++i) {
        const QByteArray id = QByteArray::number(1'000'000 + i);
        chunk += id + ',' + (shared ? QByteArray("office@example.com") : "client" + id + "@example.com") + ",Client " +
                 id + '\n';
        if (chunk.size() > (1 << 20)) {
            if (file.write(chunk) != chunk.size())
                return false;
            chunk.clear();
        }
    }
    return file.write(chunk) == chunk.size();
}

enum class What
{
    List,
    Plan,
    Check
};

/// One figure, in this process: "seconds peak-KiB-over-start".
int measure(qint64 rows, bool shared, bool clientMode, What what)
{
    QTemporaryDir dir;
    const QString csv = dir.filePath(u"clients.csv"_s);
    if (!writeClients(csv, rows, shared))
        return 1;
    const long start = peakRssKiB();
    QElapsedTimer timer;
    timer.start();
    qint64 count = 0;
    const QString body = u"Dear {{3}},\nyour statement.\n"_s;
    const AttachmentMode mode = clientMode ? AttachmentMode::ClientSpecific : AttachmentMode::None;
    if (what == What::Check) {
        const CheckReport report = checkClientList({csv, mode, QString(), false, false, u"Your statement"_s, body});
        if (!report.error.isEmpty()) {
            std::fprintf(stderr, "bench_plan: %s\n", qPrintable(report.error));
            return 1;
        }
        count = qint64(report.rows.size());
    } else if (what == What::Plan) {
        Mailing mailing;
        mailing.csvPath = csv;
        mailing.subject = u"Your statement"_s;
        mailing.body = body;
        mailing.mode = mode;
        const MailingPlan plan = MailingPlan::make(mailing);
        if (!plan.ok()) {
            std::fprintf(stderr, "bench_plan: %s\n", qPrintable(plan.error()));
            return 1;
        }
        count = qint64(plan.plans().size());
    } else {
        const CsvReadResult read = GetCSVFile(csv);
        count = read.clients.Count();
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (count != rows)
        return 1;
    std::printf("%.3f %ld\n", seconds, peakRssKiB() - start);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 4)
        return measure(args[0].toLongLong(), args[1] == "shared"_L1, args[2] == "client"_L1,
                       args[3] == "plan"_L1    ? What::Plan
                       : args[3] == "check"_L1 ? What::Check
                                               : What::List);

    QList<qint64> sizes;
    for (const QString &arg : args)
        sizes.append(arg.toLongLong());
    if (sizes.isEmpty())
        sizes = {100'000, 1'000'000};
    const auto run = [&](qint64 rows, const char *kind, const char *mode, const char *what, double *seconds,
                         double *mib) {
        QProcess child;
        child.start(app.applicationFilePath(), {QString::number(rows), QString::fromLatin1(kind),
                                                QString::fromLatin1(mode), QString::fromLatin1(what)});
        if (!child.waitForFinished(-1) || child.exitCode() != 0)
            return false;
        const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
        if (figures.size() != 2)
            return false;
        *seconds = figures[0].toDouble();
        *mib = figures[1].toDouble() / 1024.0;
        return true;
    };
    std::printf("%9s %-9s %-7s %9s %8s %9s %9s %10s\n", "clients", "address", "docs", "list MiB", "plan s", "plan MiB",
                "check s", "check MiB");
    for (const qint64 rows : sizes) {
        for (const char *kind : {"shared", "distinct"}) {
            double listSeconds = 0, listMiB = 0;
            if (!run(rows, kind, "none", "list", &listSeconds, &listMiB)) {
                std::fprintf(stderr, "bench_plan: reading %lld clients failed\n", qlonglong(rows));
                return 1;
            }
            for (const char *mode : {"none", "client"}) {
                double seconds = 0, mib = 0, checkSeconds = 0, checkMiB = 0;
                if (!run(rows, kind, mode, "plan", &seconds, &mib) ||
                    !run(rows, kind, mode, "check", &checkSeconds, &checkMiB)) {
                    std::fprintf(stderr, "bench_plan: the plan of %lld clients failed\n", qlonglong(rows));
                    return 1;
                }
                std::printf("%9lld %-9s %-7s %9.1f %8.3f %9.1f %9.3f %10.1f\n", qlonglong(rows), kind, mode, listMiB,
                            seconds, mib, checkSeconds, checkMiB);
            }
        }
    }
    return 0;
}
