#include "support/readyprocess.h"

#include <QDeadlineTimer>
#include <QProcess>

namespace quorvale::test {

ReadyProcess::ReadyProcess() : m_process(std::make_unique<QProcess>()) {}

ReadyProcess::~ReadyProcess()
{
    if (m_process->state() == QProcess::NotRunning)
        return;
    m_process->closeWriteChannel();
    if (!m_process->waitForFinished(3000)) {
        m_process->kill();
        m_process->waitForFinished(3000);
    }
}

QByteArray ReadyProcess::start(const QString &program, const QStringList &arguments, const QByteArray &word,
                               const QStringList &extraEnvironment)
{
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (!extraEnvironment.isEmpty())
        m_process->setEnvironment(QProcess::systemEnvironment() + extraEnvironment);
    m_process->start(program, arguments);
    QByteArray output;
    if (m_process->waitForStarted(10000)) {
        const QDeadlineTimer deadline(15000);
        while (!output.contains('\n') && !deadline.hasExpired() &&
               m_process->waitForReadyRead(int(deadline.remainingTime())))
            output += m_process->readAllStandardOutput();
    }
    const QByteArray prefix = word + ' ';
    if (!output.startsWith(prefix)) {
        qWarning("%s did not start: %s", qPrintable(program), output.constData());
        return {};
    }
    return output.mid(prefix.size(), output.indexOf('\n') - prefix.size()).trimmed();
}

bool ReadyProcess::isRunning() const
{
    return m_process->state() == QProcess::Running;
}

} // namespace quorvale::test
