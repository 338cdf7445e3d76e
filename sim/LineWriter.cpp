#include "sim/LineWriter.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

LineWriter::LineWriter(QString name, qsizetype maxQueued, QObject *parent)
    : QObject(parent)
    , m_name(std::move(name))
    , m_maxQueued(maxQueued)
    , m_note([](qint64 dropped) { return QByteArray::number(dropped) + " lines dropped\n"; })
{
}

LineWriter::~LineWriter()
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

void LineWriter::openStandard(int fd)
{
    struct stat status{};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        // A file never keeps a writer waiting for long, and a descriptor of our own would
        // write from an offset of its own, over what others write to it.
        m_fd = fd;
        return;
    }
    // A pipe or a terminal, whose reader may stop reading.
    const QByteArray path = "/proc/self/fd/" + QByteArray::number(fd);
    m_fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    m_ownsFd = m_fd >= 0;
    if (!m_ownsFd) {
        // A socket cannot be opened again: it does not wait, for everyone.
        m_fd = fd;
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    }
}

bool LineWriter::openFile(const QString &path, QString *error)
{
    m_fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m_fd < 0) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(m_name, systemError(errno));
        return false;
    }
    m_ownsFd = true;
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    return true;
}

void LineWriter::write(const QByteArray &line)
{
    if (m_fd < 0)
        return;
    if (m_queuedBytes + line.size() > m_maxQueued) {
        if (m_dropped++ == 0 && !m_failing)
            emit problem(QStringLiteral("%1 cannot keep up; dropping lines until it does").arg(m_name));
    } else {
        m_queue.push_back(line);
        m_queuedBytes += line.size();
    }
    flush();
}

void LineWriter::flush()
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
                connect(m_writable, &QSocketNotifier::activated, this, &LineWriter::flush);
            }
            m_writable->setEnabled(true);
            return;
        }
        if (n <= 0) {
            // A full disk, a reader gone: watching the descriptor would only spin, so the
            // next line tries again.
            if (!m_failing)
                emit problem(QStringLiteral("cannot write %1: %2; going on, and trying again with each line")
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
            const QByteArray note = m_note(m_dropped);
            m_queue.push_back(note);
            m_queuedBytes += note.size();
            m_dropped = 0;
        }
    }
    if (m_writable)
        m_writable->setEnabled(false);
}
