#include "link/Telnet_Com_Port.h"

namespace {

quint8 parityValue(QSerialPort::Parity parity)
{
    switch (parity) {
    case QSerialPort::OddParity: return 2;
    case QSerialPort::EvenParity: return 3;
    case QSerialPort::MarkParity: return 4;
    case QSerialPort::SpaceParity: return 5;
    default: return 1;
    }
}

quint8 stopSizeValue(QSerialPort::StopBits stopBits)
{
    switch (stopBits) {
    case QSerialPort::TwoStop: return 2;
    case QSerialPort::OneAndHalfStop: return 3;
    default: return 1;
    }
}

} // namespace

QByteArray Telnet_Com_Port::start()
{
    m_us[ComPort] = State::WantYes;
    m_us[Binary] = State::WantYes;
    m_him[Binary] = State::WantYes;
    const char bytes[] = {char(IAC), char(WILL), char(ComPort), char(IAC), char(WILL), char(Binary),
                          char(IAC), char(DO), char(Binary)};
    return QByteArray(bytes, sizeof bytes);
}

bool Telnet_Com_Port::wanted(quint8 option, bool ours)
{
    // The server sends the line's bytes as they are and never echoes; the program sends the
    // COM port's settings. Nothing else is of use to a serial line.
    switch (option) {
    case Binary:
    case SuppressGoAhead: return true;
    case ComPort: return ours;
    default: return false;
    }
}

void Telnet_Com_Port::negotiate(quint8 verb, quint8 option, Received &out)
{
    const bool ours = verb == DO || verb == DONT;
    State &state = ours ? m_us[option] : m_him[option];
    const quint8 yes = ours ? WILL : DO;
    const quint8 no = ours ? WONT : DONT;
    auto answer = [&](quint8 code) {
        out.answer += char(IAC);
        out.answer += char(code);
        out.answer += char(option);
    };
    if (verb == WILL || verb == DO) {
        if (state == State::WantYes)
            state = State::Yes; // the answer to the program's own request
        else if (state == State::No) {
            if (wanted(option, ours)) {
                state = State::Yes;
                answer(yes);
            } else {
                answer(no);
            }
        }
    } else {
        if (state == State::Yes)
            answer(no);
        state = State::No;
    }
}

void Telnet_Com_Port::endSubnegotiation(Received &out)
{
    out.commands.append(m_sub);
    m_sub = {};
    m_subStarted = false;
}

Telnet_Com_Port::Received Telnet_Com_Port::receive(QByteArrayView bytes)
{
    Received out;
    out.data.reserve(bytes.size());
    for (const char c : bytes) {
        const quint8 byte = quint8(c);
        switch (m_read) {
        case Read::Data:
            if (byte == IAC)
                m_read = Read::Iac;
            else
                out.data += c;
            break;
        case Read::SubIac:
            if (byte == IAC) {
                if (m_sub.payload.size() < SubnegotiationLimit)
                    m_sub.payload += c;
                m_read = Read::Sub;
                break;
            }
            // IAC SE ends it; IAC and any other command ends it too, and is then read as that
            // command, so that a server that forgets SE cannot swallow the data that follows.
            endSubnegotiation(out);
            m_read = Read::Data;
            if (byte == SE)
                break;
            [[fallthrough]];
        case Read::Iac:
            if (byte == IAC) {
                out.data += c;
                m_read = Read::Data;
            } else if (byte == SB) {
                m_sub = {SB, 0, {}};
                m_subStarted = false;
                m_read = Read::Sub;
            } else if (byte >= WILL) {
                m_verb = byte;
                m_read = Read::Verb;
            } else {
                out.commands.append({byte, 0, {}});
                m_read = Read::Data;
            }
            break;
        case Read::Verb:
            out.commands.append({m_verb, byte, {}});
            negotiate(m_verb, byte, out);
            m_read = Read::Data;
            break;
        case Read::Sub:
            if (!m_subStarted) {
                m_sub.option = byte;
                m_subStarted = true;
            } else if (byte == IAC) {
                m_read = Read::SubIac;
            } else if (m_sub.payload.size() < SubnegotiationLimit) {
                m_sub.payload += c;
            }
            break;
        }
    }
    return out;
}

QByteArray Telnet_Com_Port::escape(QByteArrayView data)
{
    QByteArray out;
    out.reserve(data.size() + data.count(char(IAC)));
    for (const char c : data) {
        out += c;
        if (quint8(c) == IAC)
            out += c;
    }
    return out;
}

QByteArray Telnet_Com_Port::comPortMessage(ComPortCommand command, QByteArrayView value)
{
    QByteArray out;
    out += char(IAC);
    out += char(SB);
    out += char(ComPort);
    out += char(command);
    out += escape(value);
    out += char(IAC);
    out += char(SE);
    return out;
}

QByteArray Telnet_Com_Port::setLine(qint32 baudRate, QSerialPort::DataBits dataBits, QSerialPort::Parity parity,
                                    QSerialPort::StopBits stopBits)
{
    const quint32 baud = quint32(baudRate);
    const char baudBytes[] = {char(baud >> 24), char(baud >> 16), char(baud >> 8), char(baud)};
    const char dataSize = char(dataBits);
    const char parityByte = char(parityValue(parity));
    const char stopSize = char(stopSizeValue(stopBits));
    return comPortMessage(SetBaudRate, QByteArrayView(baudBytes, 4)) +
           comPortMessage(SetDataSize, QByteArrayView(&dataSize, 1)) +
           comPortMessage(SetParity, QByteArrayView(&parityByte, 1)) +
           comPortMessage(SetStopSize, QByteArrayView(&stopSize, 1));
}

std::optional<Telnet_Com_Port::ComPortReport> Telnet_Com_Port::comPortReport(const Command &command)
{
    if (command.code != SB || command.option != ComPort || command.payload.isEmpty())
        return std::nullopt;
    const quint8 code = quint8(command.payload[0]);
    if (code < ServerOffset + Signature || code > ServerOffset + PurgeData)
        return std::nullopt;
    const ComPortCommand answered = ComPortCommand(code - ServerOffset);
    const QByteArray value = command.payload.mid(1);
    if (answered == SetBaudRate) {
        if (value.size() != 4)
            return std::nullopt;
        quint32 baud = 0;
        for (const char c : value)
            baud = baud << 8 | quint8(c);
        return ComPortReport{answered, baud};
    }
    if (value.size() != 1)
        return std::nullopt;
    return ComPortReport{answered, quint8(value[0])};
}
