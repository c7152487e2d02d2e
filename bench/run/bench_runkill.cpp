// Figures for runs killed with SIGKILL at random moments and resumed: the quorvale program sends
// to the tests' SMTP server (scheduling on, no delay), is killed again and again, and each round of
// clients is finished by a last run. Prints kills survived, duplicates (target 0), messages lost
// (target 0) and the clients journalled "unknown" (the program died while the server had the
// message; they are skipped on resume, so they receive at most one).
//
//     bench_runkill [kills] [clients per round] [longest wait before a kill, ms] [seed]

#include "run/killharness.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

using namespace Qt::StringLiterals;

using namespace quorvale;
using quorvale::test::KillFigures;
using quorvale::test::KillHarness;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int kills = args.value(1, u"100"_s).toInt();
    const int clients = args.value(2, u"60"_s).toInt();
    const int maxDelayMs = args.value(3, u"700"_s).toInt();
    const quint32 seed = args.size() > 4 ? args.at(4).toUInt() : QRandomGenerator::global()->generate();
    if (qEnvironmentVariableIsEmpty("QUORVALE_BINARY"))
        qputenv("QUORVALE_BINARY", QUORVALE_PROGRAM);

    KillHarness harness;
    QString error;
    if (!harness.isReady() || !harness.configure(&error)) {
        std::fprintf(stderr, "bench_runkill: cannot set up: %s\n", qPrintable(error));
        return 1;
    }
    QElapsedTimer timer;
    timer.start();
    const KillFigures f = harness.run(kills, clients, maxDelayMs, seed);
    std::printf("seed %u, %d clients per round, kills after 0-%d ms\n", seed, clients, maxDelayMs);
    std::printf("kills survived          %d (of %d runs, %d rounds, %.1f s)\n", f.kills, f.runs, f.rounds,
                double(timer.elapsed()) / 1000.0);
    std::printf("clients                 %d\n", f.clients);
    std::printf("duplicates              %d (target 0)\n", f.duplicates);
    std::printf("messages lost           %d (target 0)\n", f.lost);
    std::printf("journalled \"unknown\"    %d (%d of them had in fact arrived)\n", f.unknown, f.unknownArrived);
    for (const QString &problem : f.problems)
        std::printf("problem: %s\n", qPrintable(problem));
    return f.problems.isEmpty() && f.duplicates == 0 && f.lost == 0 ? 0 : 1;
}
