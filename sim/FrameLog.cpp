#include "sim/FrameLog.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <ctime>

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

} // namespace

FrameLog::~FrameLog()
{
    if (m_ownsFile)
        std::fclose(m_file);
}

bool FrameLog::open(const QString &path, QString *error)
{
    if (path == u"-") {
        m_file = stdout;
        return true;
    }
    m_file = std::fopen(QFile::encodeName(path).constData(), "w");
    if (!m_file) {
        if (error)
            *error = QStringLiteral("cannot write the log \"%1\": %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_ownsFile = true;
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
    writeLine("{\"t_us\":" + QByteArray::number(nowMicroseconds()) + ",\"dir\":\"" +
              (direction == Direction::Received ? "rx" : "tx") + "\",\"mnemonic\":\"" + mnemonic +
              "\",\"data\":" + byteList(data) + "}\n");
}

void FrameLog::bad(const QByteArray &bytes)
{
    writeLine("{\"t_us\":" + QByteArray::number(nowMicroseconds()) + ",\"dir\":\"rx\",\"bad\":" + byteList(bytes) +
              "}\n");
}

void FrameLog::writeLine(const QByteArray &line)
{
    if (!m_file)
        return;
    std::fwrite(line.constData(), 1, size_t(line.size()), m_file);
    std::fflush(m_file);
}
