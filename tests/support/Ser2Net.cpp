#include "support/Ser2Net.h"

#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>

Ser2Net::Ser2Net(const QString &device, Mode mode, const QString &lineSettings)
    : m_device(device), m_mode(mode), m_lineSettings(lineSettings)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

Ser2Net::~Ser2Net()
{
    stop();
}

QString Ser2Net::program()
{
    // It lives in sbin, which a user's PATH may not hold.
    QString path = QStandardPaths::findExecutable(QStringLiteral("ser2net"));
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(QStringLiteral("ser2net"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")});
    return path;
}

QString Ser2Net::url() const
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(m_mode == Mode::Raw ? u"tcp" : u"rfc2217").arg(m_port);
}

bool Ser2Net::start()
{
    const QString ser2net = program();
    if (ser2net.isEmpty()) {
        m_error = QStringLiteral("ser2net is not installed (tools/install-deps.sh --tests installs it)");
        return false;
    }
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder for the configuration");
        return false;
    }
    if (m_port == 0) {
        // A port the system has just handed out and taken back is free for the server.
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost)) {
            m_error = probe.errorString();
            return false;
        }
        m_port = probe.serverPort();
    }
    const QString accepter = QStringLiteral("%1tcp,127.0.0.1,%2").arg(m_mode == Mode::Raw ? u"" : u"telnet(rfc2217),").arg(m_port);
    const QString config = QStringLiteral("%YAML 1.1\n---\n"
                                          "connection: &robot\n"
                                          "    accepter: %1\n"
                                          "    connector: serialdev,%2,%3,local\n"
                                          "    options:\n"
                                          "      kickolduser: true\n")
                               .arg(accepter, m_device, m_lineSettings);
    QFile file(m_dir.filePath(QStringLiteral("ser2net.yaml")));
    if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0) {
        m_error = file.errorString();
        return false;
    }
    file.close();

    m_process.start(ser2net, {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"), file.fileName()});
    if (!m_process.waitForStarted(5000)) {
        m_error = m_process.errorString();
        return false;
    }
    if (!QTest::qWaitFor([&] { return listening() || !isRunning(); }, 10000) || !listening()) {
        m_error = QStringLiteral("ser2net does not listen on port %1: %2")
                      .arg(m_port)
                      .arg(QString::fromLocal8Bit(m_process.readAll()).trimmed());
        stop();
        return false;
    }
    return true;
}

bool Ser2Net::listening() const
{
    // The kernel's table of IPv4 sockets: 127.0.0.1 and the port in hexadecimal, state 0A
    // (listening). Asking it does not take the server's one connection.
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray local = "0100007F:" + QByteArray::number(m_port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields[1] == local && fields[3] == "0A")
            return true;
    }
    return false;
}

void Ser2Net::stop()
{
    if (!isRunning())
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

void Ser2Net::kill()
{
    if (!isRunning())
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
}
