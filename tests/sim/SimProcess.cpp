#include "SimProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

SimProcess::SimProcess()
{
    m_process.setProgram(program());
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
}

SimProcess::~SimProcess()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.closeWriteChannel(); // with --quit-at-eof, the end of input stops it
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

bool SimProcess::start(const QStringList &arguments)
{
    // The end of standard input stops it, so a test that dies leaves no simulator behind.
    m_process.setArguments(QStringList{QStringLiteral("--headless"), QStringLiteral("--quit-at-eof"),
                                       QStringLiteral("--link"), link(), QStringLiteral("--log"), logPath()} +
                           arguments);
    m_process.start();
    if (!m_process.waitForStarted(5000))
        return false;
    m_device = readLine();
    return m_device.startsWith(u'/');
}

QString SimProcess::readLine(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!m_output.contains('\n') && !deadline.hasExpired()) {
        if (!m_process.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1))))
            if (m_process.state() == QProcess::NotRunning)
                break;
        m_output += m_process.readAllStandardOutput();
    }
    const qsizetype end = m_output.indexOf('\n');
    if (end < 0)
        return QString();
    const QString line = QString::fromUtf8(m_output.left(end));
    m_output.remove(0, end + 1);
    return line;
}

QString SimProcess::command(const QString &line)
{
    m_process.write(line.toUtf8() + '\n');
    m_process.waitForBytesWritten(1000);
    return readLine();
}

QList<QJsonObject> SimProcess::log() const
{
    QList<QJsonObject> entries;
    QFile file(logPath());
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (!line.isEmpty())
            entries.append(QJsonDocument::fromJson(line).object());
    return entries;
}

bool SimProcess::logged(const QString &direction, const QByteArray &frame) const
{
    for (const QJsonObject &entry : log()) {
        if (entry.value(QStringLiteral("dir")).toString() != direction || !entry.contains(QStringLiteral("mnemonic")))
            continue;
        QByteArray bytes = entry.value(QStringLiteral("mnemonic")).toString().toLatin1();
        for (const QJsonValue &value : entry.value(QStringLiteral("data")).toArray())
            bytes.append(char(value.toInt()));
        if (bytes == frame)
            return true;
    }
    return false;
}
