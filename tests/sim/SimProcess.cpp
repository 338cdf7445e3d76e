#include "SimProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <algorithm>

SimProcess::SimProcess()
{
    m_process.setProgram(QStringLiteral(ORVIK_SIM_PATH));
}

SimProcess::~SimProcess()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

bool SimProcess::start(const QStringList &arguments)
{
    m_process.setArguments(QStringList{"--headless", "--quit-at-eof", "--link", link(), "--log",
                                       logPath()} +
                           arguments);
    m_process.start();
    if (!m_process.waitForStarted(5000))
        return false;
    m_device = readLine();
    return m_device.startsWith(u'/');
}

bool SimProcess::startWith(const std::function<void()> &childSetUp, const QStringList &arguments)
{
    m_process.setArguments(QStringList{"--headless", "--link", link()} + arguments);
    m_process.setChildProcessModifier(childSetUp);
    m_process.start();
    if (!m_process.waitForStarted(5000) ||
        !QTest::qWaitFor([this] { return QFileInfo(link()).isSymLink() || m_process.state() != QProcess::Running; },
                         5000))
        return false;
    m_device = QFile::symLinkTarget(link());
    return m_device.startsWith(u'/');
}

QString SimProcess::readLine()
{
    const QDeadlineTimer deadline(5000);
    while (!m_output.contains('\n') && !deadline.hasExpired()) {
        if (!m_process.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1))) &&
            m_process.state() == QProcess::NotRunning)
            break;
        m_output += m_process.readAllStandardOutput();
    }
    const qsizetype end = m_output.indexOf('\n');
    const QString line = QString::fromUtf8(m_output.left(std::max<qsizetype>(end, 0)));
    m_output.remove(0, end + 1);
    return line;
}

QString SimProcess::command(const QString &line)
{
    m_process.write(line.toUtf8() + '\n');
    return readLine();
}

QList<SimProcess::LoggedFrame> SimProcess::loggedFrames(const QString &direction) const
{
    QList<LoggedFrame> frames;
    QFile file(logPath());
    if (!file.open(QIODevice::ReadOnly))
        return frames;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        if (entry.value(QStringLiteral("dir")).toString() != direction)
            continue;
        QByteArray bytes = entry.value(QStringLiteral("mnemonic")).toString().toLatin1();
        for (const QJsonValue &value : entry.value(QStringLiteral("data")).toArray())
            bytes.append(char(value.toInt()));
        frames.append({bytes, entry.value(QStringLiteral("t_us")).toInteger()});
    }
    return frames;
}

bool SimProcess::logged(const QString &direction, const QByteArray &frame) const
{
    const QList<LoggedFrame> frames = loggedFrames(direction);
    return std::any_of(frames.begin(), frames.end(), [&](const LoggedFrame &f) { return f.bytes == frame; });
}
