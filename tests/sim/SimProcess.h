#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

// orvik-sim run as its own process for a test: headless, with its link and its log in a
// temporary folder, spoken to through its pseudo-terminal and its standard input.
class SimProcess
{
public:
    SimProcess();
    ~SimProcess(); // asks it to quit, and kills it if it does not

    // Starts it with the arguments given after the test's own; waits for the device line.
    bool start(const QStringList &arguments = {});
    // Starts it with its standard descriptors changed by childSetUp (closed, or sent
    // elsewhere) in the child; waits for its link instead. Nothing is logged unless the
    // arguments ask for it, and the end of its input does not stop it.
    bool startWith(const std::function<void()> &childSetUp, const QStringList &arguments = {});

    QString device() const { return m_device; }
    QString link() const { return m_dir.filePath(QStringLiteral("robot")); }
    QString logPath() const { return m_dir.filePath(QStringLiteral("log.jsonl")); }
    QProcess &process() { return m_process; }

    // Sends one line on its standard input and returns the line it answers.
    QString command(const QString &line);
    // The next line it prints.
    QString readLine();

    struct LoggedFrame
    {
        QByteArray bytes; // mnemonic and data
        qint64 us = 0;    // on the monotonic clock
    };
    // The frames its log holds in that direction ("rx", "tx"), in order.
    QList<LoggedFrame> loggedFrames(const QString &direction) const;
    // Whether its log holds a frame in that direction with those bytes.
    bool logged(const QString &direction, const QByteArray &frame) const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_device;
    QByteArray m_output;
};
