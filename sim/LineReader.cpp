#include "sim/LineReader.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

LineReader::LineReader(int fd, QObject *parent)
    : QObject(parent)
    , m_fd(fd)
{
}

bool LineReader::start()
{
    if (::fcntl(m_fd, F_GETFD) < 0)
        return false;
    // A terminal that belongs to another job (the simulator started with & from a shell)
    // would stop the whole process at its first read; such a terminal is not ours to read.
    if (::isatty(m_fd) && ::tcgetpgrp(m_fd) != ::getpgrp())
        return false;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &LineReader::readSome);
    return true;
}

void LineReader::readSome()
{
    // One read per notification: the descriptor said it is ready, so this one cannot block.
    char chunk[4096];
    const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
        return;
    if (n <= 0) {
        m_notifier->setEnabled(false);
        if (!m_buffer.isEmpty() && !m_skipping)
            emit lineReceived(QString::fromUtf8(m_buffer));
        m_buffer.clear();
        m_scanned = 0;
        emit endOfInput();
        return;
    }
    m_buffer.append(chunk, n);
    qsizetype start = 0;
    qsizetype end;
    while ((end = m_buffer.indexOf('\n', m_scanned)) >= 0) {
        takeLine(start, end);
        start = m_scanned = end + 1;
    }
    m_buffer.remove(0, start);
    m_scanned = m_buffer.size();
    if (m_buffer.size() > MaxLine && !m_skipping) {
        emit lineTooLong();
        m_skipping = true;
    }
    if (m_skipping) {
        m_buffer.clear();
        m_scanned = 0;
    }
}

void LineReader::takeLine(qsizetype start, qsizetype end)
{
    if (m_skipping) {
        // The end of the line that was too long: what follows is a new line.
        m_skipping = false;
        return;
    }
    if (end - start > MaxLine) {
        emit lineTooLong();
        return;
    }
    QByteArrayView line(m_buffer.constData() + start, end - start);
    if (line.endsWith('\r'))
        line.chop(1);
    emit lineReceived(QString::fromUtf8(line));
}
