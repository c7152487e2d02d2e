#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

class QProcess;

namespace quorvale::test {

/// A helper process of a test (a fake server, a private session bus) that announces on its first
/// output line that it is ready ("WORD value") and runs until its standard input closes, so it
/// never outlives the test: the destructor closes it, and kills the process if it does not end.
class ReadyProcess
{
public:
    ReadyProcess();
    ~ReadyProcess();
    ReadyProcess(const ReadyProcess &) = delete;
    ReadyProcess &operator=(const ReadyProcess &) = delete;

    /// Starts `program` and waits for a first line starting with `word`; returns the rest of that
    /// line, or nothing (with a warning) when the process did not get there.
    QByteArray start(const QString &program, const QStringList &arguments, const QByteArray &word,
                     const QStringList &extraEnvironment = {});
    bool isRunning() const;

private:
    std::unique_ptr<QProcess> m_process;
};

} // namespace quorvale::test
