// Figures for exactly-once delivery under races and kills, against the provider simulator.
//
// Races: two runs of one new mailing started together, as two processes of one home and as two
// homes (each with its own settings and journals) on one shared client list; a resume finishes
// what the race left, and the other home then runs the mailing too. One after the other: a run
// from one home killed at a random moment, then the mailing run from the other home and from the
// first again. Kills: the quorvale program, sending each client its own document with a
// copy in the IMAP Sent folder, is killed with SIGKILL at random moments (in the size probe while
// the provider answers slowly, in sends, in the Sent copy, in the waits after the provider put a
// message off) and resumed until each round of clients is done. Prints duplicates, lost clients,
// wrong documents and the clients journalled "may have been sent" (skipped on resume, so they
// receive at most one message); exit status 0 when the first three are 0 and nothing else went
// wrong.
//
//     bench_runkill [--full] [--races N] [--two-homes-only] [--kills N] [--clients N] [--max-delay MS]
//                   [--seed N]
//
// Without options a few minutes' worth: 5 races of each kind and 30 kills; --full: 100 races of
// each kind and 1,000 kills.

#include "run/killharness.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

using namespace Qt::StringLiterals;

using namespace quorvale;
using quorvale::test::KillFigures;
using quorvale::test::KillHarness;
using quorvale::test::KillOptions;
using quorvale::test::RaceFigures;

namespace {

double secondsSince(const QElapsedTimer &timer)
{
    return double(timer.elapsed()) / 1000.0;
}

bool printRaces(const char *kind, const RaceFigures &f, double seconds)
{
    std::printf("races, %s: %d (%d clients, %.1f s)\n", kind, f.races, f.clients, seconds);
    std::printf("  both runs sent           %d (target 0)\n", f.bothRan);
    std::printf("  refused by the other     %d\n", f.lockRefusals);
    std::printf("  duplicates               %d (target 0)\n", f.duplicates);
    std::printf("  lost clients             %d (target 0)\n", f.lost);
    std::printf("  wrong documents          %d (target 0)\n", f.wrongDocuments);
    if (f.kills > 0)
        std::printf("  first runs killed        %d; \"may have been sent\" %d\n", f.kills, f.unknown);
    for (const QString &problem : f.problems)
        std::printf("  problem: %s\n", qPrintable(problem));
    return f.problems.isEmpty() && f.bothRan == 0 && f.duplicates == 0 && f.lost == 0 && f.wrongDocuments == 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool full = args.contains(u"--full"_s);
    const auto option = [&args](const QString &name, qint64 fallback) {
        const qsizetype at = args.indexOf(name);
        return at > 0 && at + 1 < args.size() ? args.at(at + 1).toLongLong() : fallback;
    };
    const int races = int(option(u"--races"_s, full ? 100 : 5));
    const int kills = int(option(u"--kills"_s, full ? 1000 : 30));
    const int clients = int(option(u"--clients"_s, 20));
    const int maxDelayMs = int(option(u"--max-delay"_s, 700));
    const quint32 seed = quint32(option(u"--seed"_s, QRandomGenerator::global()->generate()));
    if (qEnvironmentVariableIsEmpty("QUORVALE_BINARY"))
        qputenv("QUORVALE_BINARY", QUORVALE_PROGRAM);
    bool good = true;

    if (races > 0) {
        // Four clients a second apart: each run lasts some seconds, so the two always overlap.
        KillHarness racing(KillOptions{.providerSim = true, .documents = true});
        QString error;
        if (!racing.isReady() || !racing.configure(&error, u"homeA"_s, 1) || !racing.configure(&error, u"homeB"_s, 1)) {
            std::fprintf(stderr, "bench_runkill: cannot set up the races: %s\n", qPrintable(error));
            return 1;
        }
        for (const bool twoHomes : {false, true}) {
            if (!twoHomes && args.contains(u"--two-homes-only"_s))
                continue;
            QElapsedTimer timer;
            timer.start();
            const RaceFigures f = racing.race(races, 4, twoHomes);
            good = printRaces(twoHomes ? "two homes on one shared list" : "two processes of one home", f,
                              secondsSince(timer)) &&
                   good;
            std::fflush(stdout);
        }
        // One after the other: a run killed in one home, then the other home, then the first.
        QElapsedTimer timer;
        timer.start();
        const RaceFigures f = racing.oneAfterTheOther(races, 4, 5000, seed);
        good = printRaces("one after the other, two homes, the first killed", f, secondsSince(timer)) && good;
        std::fflush(stdout);
    }

    if (kills > 0) {
        KillOptions options{
            .providerSim = true, .documents = true, .sentCopy = true, .temporaryEvery = 40, .ehloDelayMs = 150};
        auto harness = std::make_unique<KillHarness>(options);
        if (!harness->isReady()) {
            std::printf("(no IMAP server to be had: kills without the Sent copy)\n");
            options.sentCopy = false;
            harness = std::make_unique<KillHarness>(options);
        }
        QString error;
        if (!harness->isReady() || !harness->configure(&error)) {
            std::fprintf(stderr, "bench_runkill: cannot set up the kills: %s\n", qPrintable(error));
            return 1;
        }
        QElapsedTimer timer;
        timer.start();
        const KillFigures f = harness->run(kills, clients, maxDelayMs, seed);
        std::printf("kills: seed %u, %d clients per round, kills 0-%d ms after the start or a wait began\n", seed,
                    clients, maxDelayMs);
        std::printf("  kills survived           %d (of %d runs, %d rounds, %.1f s)\n", f.kills, f.runs, f.rounds,
                    secondsSince(timer));
        for (auto it = f.killedWhere.cbegin(); it != f.killedWhere.cend(); ++it)
            std::printf("    %-38s %d\n", qPrintable(it.key()), it.value());
        std::printf("  clients                  %d\n", f.clients);
        std::printf("  duplicates               %d (target 0)\n", f.duplicates);
        std::printf("  lost clients             %d (target 0)\n", f.lost);
        std::printf("  wrong documents          %d (target 0)\n", f.wrongDocuments);
        std::printf("  \"may have been sent\"     %d (%d of them had in fact arrived)\n", f.unknown, f.unknownArrived);
        if (options.sentCopy) {
            std::printf("  copies in Sent           %d\n", f.sentCopies);
            std::printf("  sent without a copy      %d (target 0)\n", f.sentWithoutCopy);
            std::printf("  copied twice             %d (target 0)\n", f.copiedTwice);
        }
        for (const QString &problem : f.problems)
            std::printf("  problem: %s\n", qPrintable(problem));
        good = good && f.problems.isEmpty() && f.duplicates == 0 && f.lost == 0 && f.wrongDocuments == 0 &&
               f.sentWithoutCopy == 0 && f.copiedTwice == 0;
    }
    return good ? 0 : 1;
}
