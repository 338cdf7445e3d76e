#include "sim/FrameLog.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray byteList(const QByteArray &bytes)
{
    QByteArray list("[");
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            list.append(',');
        list.append(QByteArray::number(quint8(bytes[i])));
    }
    list.append(']');
    return list;
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray timestamp()
{
    return "{\"t_us\":" + QByteArray::number(FrameLog::nowMicroseconds());
}

} // namespace

FrameLog::FrameLog(QObject *parent)
    : QObject(parent)
{
}

FrameLog::~FrameLog()
{
    if (m_fd < 0)
        return;
    // Nobody is left to tell of a failure.
    blockSignals(true);
    flush();
    delete m_writable;
    if (m_ownsFd)
        ::close(m_fd);
}

bool FrameLog::open(const QString &path, QString *error)
{
    if (path == u"-") {
        m_name = QStringLiteral("standard output");
        struct stat status{};
        if (::fstat(STDOUT_FILENO, &status) == 0 && S_ISREG(status.st_mode)) {
            // A file never keeps a writer waiting for long, and a descriptor of our own
            // would write from its own offset, over the command answers.
            m_fd = STDOUT_FILENO;
            return true;
        }
        // A pipe or a terminal, whose reader may stop reading: a descriptor of our own that
        // does not wait, leaving the one we share with the shell as it is.
        m_fd = ::open("/proc/self/fd/1", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        m_ownsFd = m_fd >= 0;
        if (!m_ownsFd) {
            m_fd = STDOUT_FILENO;
            ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
        }
        return true;
    }
    m_name = QStringLiteral("\"%1\"").arg(path);
    // Opened waiting, as a named pipe waits for its reader; written without waiting.
    m_fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m_fd < 0) {
        if (error)
            *error = QStringLiteral("cannot write the log %1: %2").arg(m_name, systemError(errno));
        return false;
    }
    m_ownsFd = true;
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    return true;
}

qint64 FrameLog::nowMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

void FrameLog::frame(Direction direction, const QByteArray &mnemonic, const QByteArray &data)
{
    // Mnemonics are three lower-case letters: nothing in them needs escaping.
    writeLine(timestamp() + ",\"dir\":\"" + (direction == Direction::Received ? "rx" : "tx") + "\",\"mnemonic\":\"" +
              mnemonic + "\",\"data\":" + byteList(data) + "}\n");
}

void FrameLog::bad(const QByteArray &bytes)
{
    writeLine(timestamp() + ",\"dir\":\"rx\",\"bad\":" + byteList(bytes) + "}\n");
}

void FrameLog::fault(const QString &what, const QByteArray &bytes)
{
    writeLine(timestamp() + ",\"fault\":\"" + what.toLatin1() + "\",\"bytes\":" + byteList(bytes) + "}\n");
}

void FrameLog::writeLine(const QByteArray &line)
{
    if (m_fd < 0)
        return;
    if (m_queuedBytes + line.size() > MaxQueued) {
        if (m_dropped++ == 0 && !m_failing)
            emit problem(QStringLiteral("the log (%1) cannot keep up; dropping lines until it does").arg(m_name));
    } else {
        m_queue.push_back(line);
        m_queuedBytes += line.size();
    }
    flush();
}

void FrameLog::flush()
{
    while (!m_queue.empty()) {
        const QByteArray &head = m_queue.front();
        const ssize_t n = ::write(m_fd, head.constData() + m_headWritten, size_t(head.size() - m_headWritten));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Full for now: go on when the reader has made room.
            if (!m_writable) {
                m_writable = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
                connect(m_writable, &QSocketNotifier::activated, this, &FrameLog::flush);
            }
            m_writable->setEnabled(true);
            return;
        }
        if (n <= 0) {
            // A full disk, a reader gone: watching the descriptor would only spin, so the
            // next line tries again.
            if (!m_failing)
                emit problem(QStringLiteral("cannot write the log (%1): %2; going on, and trying again with each frame")
                                 .arg(m_name, systemError(n < 0 ? errno : EIO)));
            m_failing = true;
            break;
        }
        m_failing = false;
        m_headWritten += n;
        if (m_headWritten == head.size()) {
            m_queuedBytes -= head.size();
            m_queue.pop_front();
            m_headWritten = 0;
        }
        if (m_queue.empty() && m_dropped > 0) {
            const QByteArray note = timestamp() + ",\"dropped\":" + QByteArray::number(m_dropped) + "}\n";
            m_queue.push_back(note);
            m_queuedBytes += note.size();
            m_dropped = 0;
        }
    }
    if (m_writable)
        m_writable->setEnabled(false);
}
