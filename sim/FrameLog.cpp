#include "sim/FrameLog.h"

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

QByteArray timestamp()
{
    return "{\"t_us\":" + QByteArray::number(FrameLog::nowMicroseconds());
}

} // namespace

FrameLog::FrameLog(LineWriter &standardOutput, QObject *parent)
    : QObject(parent)
    , m_standardOutput(standardOutput)
{
}

bool FrameLog::open(const QString &path, QString *error)
{
    const auto droppedNote = [](qint64 dropped) {
        return timestamp() + ",\"dropped\":" + QByteArray::number(dropped) + "}\n";
    };
    if (path == u"-") {
        m_writer = &m_standardOutput;
        m_writer->setDroppedNote(droppedNote);
        return true;
    }
    auto file = std::make_unique<LineWriter>(QStringLiteral("the log \"%1\"").arg(path), MaxQueued);
    if (!file->openFile(path, error))
        return false;
    file->setDroppedNote(droppedNote);
    connect(file.get(), &LineWriter::problem, this, &FrameLog::problem);
    m_file = std::move(file);
    m_writer = m_file.get();
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
    if (m_writer)
        m_writer->write(line);
}
