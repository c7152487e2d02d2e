#pragma once

// The command line run in this process as the program runs it (runCommandLine), over a fake mailer
// and a fake clock, with the settings file, the data folder and the sign-in's secret files where
// the program would put them under one home folder. For scenarios that need no real mail server:
// they take milliseconds, where the program pauses a real second between clients.
//
//     InProcessCli cli(home.root());
//     QVERIFY(cli.configure());
//     const InProcessCli::Result r = cli.run({u"run"_s, u"--csv"_s, home.path(u"list.csv"_s), u"--yes"_s});
//     QCOMPARE(cli.mailer.messages().size(), 1);

#include "auth/secretstore.h"
#include "auth/signinaccount.h"
#include "cli/cliapp.h"
#include "mail/inboxreader.h"
#include "run/printer.h"
#include "settings/settingsstore.h"
#include "support/smtpfixture.h"
#include "support/testfakes.h"

#include <QFile>

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <memory>

namespace quorvale::test {

using namespace Qt::StringLiterals;

class InProcessCli
{
public:
    struct Result
    {
        int exitCode = -1;
        QStringList out; ///< standard output, one entry per line
        QString err;
    };

    /// `home` holds config/Quorvale/Quorvale.ini and data/Quorvale; `printCommand` replaces `lp`.
    explicit InProcessCli(const QString &home, const QString &printCommand = u"/bin/true"_s)
        : store(openSettingsStore(home + u"/config/Quorvale/Quorvale.ini"_s)), printer(printCommand),
          account(std::make_shared<SignInAccount>([home] {
              return SecretStoreChoice{std::make_unique<FileSecretStore>(home + u"/config/Quorvale"_s), {}};
          })),
          dataFolder(home + u"/data/Quorvale"_s), inboxReader(account, QFile::encodeName(testCaFile()))
    {
    }

    /// Runs one command (without the program's name); standard input holds `input`.
    Result run(const QStringList &args, QByteArray input = QByteArray())
    {
        QTextStream in(&input, QIODevice::ReadOnly);
        QString out;
        QString err;
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        CliServices services{*store, realMailer ? *realMailer : mailer, printer, clock, account, dataFolder};
        services.inboxReader = &inboxReader;
        CliConsole console{in, outStream, errStream};
        Result result;
        result.exitCode = runCommandLine(args, services, console);
        result.out = out.split(u'\n');
        if (!result.out.isEmpty() && result.out.last().isEmpty())
            result.out.removeLast();
        result.err = err;
        return result;
    }

    /// Saves a complete mail server setup through `config set`, as a user would; the fake mailer
    /// sends to no server.
    bool configure()
    {
        const QList<QStringList> sets = {{u"SMPTServer"_s, u"127.0.0.1"_s},
                                         {u"SSLport"_s, u"2525"_s},
                                         {u"AuthType"_s, u"0"_s},
                                         {u"UserName"_s, u"user"_s},
                                         {u"EmailFrom"_s, u"sender@example.com"_s}};
        for (const QStringList &set : sets) {
            if (run(QStringList{u"config"_s, u"set"_s} + set).exitCode != 0)
                return false;
        }
        return run({u"config"_s, u"set"_s, u"PW"_s, u"-"_s}, "secret\n").exitCode == 0;
    }

    std::unique_ptr<SettingsStore> store;
    FakeMailer mailer;
    /// A real mailer to send with instead of `mailer` (a test's, pointed at its servers); null: the fake.
    Mailer *realMailer = nullptr;
    CommandPrinter printer;
    FakeClock clock;
    std::shared_ptr<SignInAccount> account;
    QString dataFolder;
    ImapInboxReader inboxReader; ///< trusts the test servers' certificate
};

} // namespace quorvale::test
