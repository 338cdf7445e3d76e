#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT, SIGTERM and SIGHUP into a Qt signal on the GUI thread, so the simulator
// can leave through its normal path (and remove its link) however it is stopped. The
// handler only writes the signal's number into a pipe that the event loop watches.
// SIGPIPE is ignored.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

    bool install(QString *error);

signals:
    void stopRequested(int signalNumber);

private:
    static void handler(int signalNumber);
    void readPipe();

    static inline int s_pipe[2] = {-1, -1};
    QSocketNotifier *m_notifier = nullptr;
};
