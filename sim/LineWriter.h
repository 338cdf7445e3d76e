#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>

class QSocketNotifier;

// Lines written to a file, a pipe or a terminal without the robot ever waiting for them:
// what the descriptor cannot take at once (a pipe nobody reads, a full disk) waits in
// memory, up to a bound; beyond it lines are dropped, and once the writer has caught up a
// note says how many were lost. The frame log, the answers on standard output and the
// warnings on standard error each go through one.
class LineWriter : public QObject
{
    Q_OBJECT

public:
    // The line that says how many lines were dropped.
    using DroppedNote = std::function<QByteArray(qint64 dropped)>;

    LineWriter(QString name, qsizetype maxQueued, QObject *parent = nullptr);
    ~LineWriter() override; // writes what the descriptor takes at once; the rest is lost

    // One of the standard descriptors, which the simulator shares with the shell that started
    // it: a descriptor of its own that does not wait where it can be had, the flags of the
    // shared one left alone.
    void openStandard(int fd);
    // A file, created or emptied; opened waiting, as a named pipe waits for its reader.
    bool openFile(const QString &path, QString *error);
    bool isOpen() const { return m_fd >= 0; }

    void setDroppedNote(DroppedNote note) { m_note = std::move(note); }
    QString name() const { return m_name; }

    // A whole line, its end included.
    void write(const QByteArray &line);

signals:
    // The descriptor cannot be written, or cannot keep up; said once until it recovers.
    void problem(const QString &message);

private:
    void flush();

    QString m_name;
    qsizetype m_maxQueued;
    int m_fd = -1;
    bool m_ownsFd = false;
    DroppedNote m_note;
    std::deque<QByteArray> m_queue;
    qsizetype m_queuedBytes = 0;
    qsizetype m_headWritten = 0; // bytes of the first queued line already written
    qint64 m_dropped = 0;
    bool m_failing = false;
    QSocketNotifier *m_writable = nullptr;
};
