#pragma once

// The quorvale program run as a user runs it, in a home of its own: settings, data folder and
// files under one temporary folder, the settings saved through `config set`, the program started
// with QProcess and its output read back.
//
//     ProgramHome home;
//     SmtpServer server;
//     QVERIFY(home.configure(server));
//     home.writeFile(u"list.csv"_s, "1,a@example.org\r\n");
//     const ProgramHome::Result r = home.run({u"run"_s, u"--csv"_s, home.path(u"list.csv"_s), u"--yes"_s});

#include "support/smtpfixture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>
#include <utility>

namespace quorvale::test {

using namespace Qt::StringLiterals;

class ProgramHome
{
public:
    struct Result
    {
        int exitCode = -1; ///< -1: the program crashed or did not end
        QStringList out;   ///< standard output, one entry per line
        QString err;
    };

    bool isValid() const { return m_home.isValid(); }
    QString root() const { return m_home.path(); }
    QString path(const QString &name) const { return m_home.filePath(name); }
    /// The program's data folder (journals, body file, run lock).
    QString dataFolder() const { return path(u"data/Quorvale"_s); }
    QString journalFolder() const { return QDir(dataFolder()).filePath(u"runs"_s); }

    bool writeFile(const QString &name, const QByteArray &content) const
    {
        QDir().mkpath(QFileInfo(path(name)).path());
        QFile file(path(name));
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    }
    QByteArray readFile(const QString &name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    /// Starts the program with `args`; standard input gets `input` and is then closed.
    std::unique_ptr<QProcess> start(const QStringList &args, const QByteArray &input = QByteArray()) const
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_CONFIG_HOME"_s, path(u"config"_s));
        env.insert(u"XDG_DATA_HOME"_s, path(u"data"_s));
        // No keyring unless a test gives one (setEnvironment with a KeyringSession's bus): the
        // user's own is never touched.
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, u"unix:path="_s + path(u"no-session-bus"_s));
        env.insert(u"QUORVALE_PRINT_COMMAND"_s, u"/bin/sh -c 'echo \"$0\" >> \""_s + path(u"printed.txt"_s) + u"\"'"_s);
        for (const QString &entry : m_environment + m_extraEnvironment)
            env.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
        process->setProcessEnvironment(env);
        process->start(qEnvironmentVariable("QUORVALE_BINARY"), args);
        process->write(input);
        process->closeWriteChannel();
        return process;
    }

    /// Runs the program to its end.
    Result run(const QStringList &args, const QByteArray &input = QByteArray()) const
    {
        const std::unique_ptr<QProcess> process = start(args, input);
        return finish(*process);
    }

    /// Waits for a started program to end and collects what it wrote.
    static Result finish(QProcess &process, const QByteArray &outSoFar = QByteArray())
    {
        Result result;
        if (!process.waitForFinished(120000)) {
            process.kill();
            process.waitForFinished();
            return result;
        }
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = QString::fromUtf8(outSoFar + process.readAllStandardOutput()).split(u'\n');
        if (!result.out.isEmpty() && result.out.last().isEmpty())
            result.out.removeLast();
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    /// Reads the program's standard output until a line holding `text` has come; false on timeout.
    static bool waitForOutput(QProcess &process, const QByteArray &text, QByteArray *out, int timeoutMs = 60000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!out->contains(text) && process.waitForReadyRead(int(deadline.remainingTime())))
            *out += process.readAllStandardOutput();
        return out->contains(text);
    }

    /// Adds "NAME=value" to the program's environment (after those of the server configured).
    void setEnvironment(const QString &entry) { m_extraEnvironment.append(entry); }

    /// Saves `server`'s settings, and then `more` (name, value), through `config set`.
    bool configure(const SmtpServer &server, const QList<std::pair<QString, QString>> &more = {})
    {
        m_environment = server.environment();
        const AppSettings s = server.settings();
        QList<std::pair<QString, QString>> sets = {
            {u"SMPTServer"_s, s.SMTPServer}, {u"SSLport"_s, s.SSLport}, {u"AuthType"_s, QString::number(s.AuthType)},
            {u"UserName"_s, s.UserName},     {u"PW"_s, s.Password},     {u"EmailFrom"_s, s.EmailFrom}};
        sets += more;
        for (const auto &[name, value] : std::as_const(sets)) {
            if (run({u"config"_s, u"set"_s, name, value}).exitCode != 0)
                return false;
        }
        return true;
    }

private:
    QTemporaryDir m_home;
    QStringList m_environment;
    QStringList m_extraEnvironment;
};

/// The run journals' lines of one event in `folder`, each split at its commas (no field the tests
/// look at holds one).
inline QList<QStringList> journalLines(const QString &folder, const QString &event)
{
    QList<QStringList> found;
    const QDir runs(folder);
    for (const QString &name : runs.entryList({QStringLiteral("run-*.csv")}, QDir::Files, QDir::Name)) {
        QFile file(runs.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QString &line : QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"))) {
            const QStringList fields = line.split(QLatin1Char(','));
            if (fields.value(1) == event)
                found.append(fields);
        }
    }
    return found;
}

} // namespace quorvale::test
