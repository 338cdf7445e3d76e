#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QSerialPort>

#include <array>
#include <optional>

// The client's side of a Telnet connection with the COM Port Control option (RFC 2217), at the
// byte level only: what goes out and what comes in is handed over as bytes, so the class works
// the same over any socket and is tested from byte tables.
//
// The program asks for the binary option both ways and offers the COM port option; it accepts
// suppress-go-ahead, and refuses every other option the server offers or asks for (echo
// included). The stream is always read and written as binary: the only transformation of the
// data is the doubling of byte 255.
//
// What the server sends is untrusted: any byte sequence, split anywhere, is read without
// holding more than one bounded subnegotiation.
class Telnet_Com_Port
{
public:
    enum Code : quint8 {
        SE = 240, NOP = 241, DataMark = 242, Break = 243, InterruptProcess = 244, AbortOutput = 245,
        AreYouThere = 246, EraseCharacter = 247, EraseLine = 248, GoAhead = 249,
        SB = 250, WILL = 251, WONT = 252, DO = 253, DONT = 254, IAC = 255,
    };
    enum Option : quint8 { Binary = 0, Echo = 1, SuppressGoAhead = 3, ComPort = 44 };
    // The COM port option's commands as the client sends them; the server answers each with
    // the same command plus ServerOffset.
    enum ComPortCommand : quint8 {
        Signature = 0, SetBaudRate = 1, SetDataSize = 2, SetParity = 3, SetStopSize = 4, SetControl = 5,
        NotifyLineState = 6, NotifyModemState = 7, FlowControlSuspend = 8, FlowControlResume = 9,
        SetLineStateMask = 10, SetModemStateMask = 11, PurgeData = 12,
    };
    static constexpr quint8 ServerOffset = 100;
    // A subnegotiation longer than this is cut: the longest the program understands is a
    // baud rate (five bytes); a signature is text the program never needs whole.
    static constexpr qsizetype SubnegotiationLimit = 256;

    // A Telnet command seen in the server's stream: a lone command (NOP, Break, ...), a
    // negotiation (WILL, WONT, DO, DONT with its option) or a subnegotiation (SB, with its
    // option and its unescaped payload).
    struct Command
    {
        quint8 code = NOP;
        quint8 option = 0;
        QByteArray payload;
        bool operator==(const Command &) const = default;
    };

    struct Received
    {
        QByteArray data;          // the serial line's bytes, unescaped
        QList<Command> commands;  // what else the server sent, in order
        QByteArray answer;        // what the client must send back (negotiation answers)
    };

    // What the client sends first, before any data: its offers and requests.
    QByteArray start();
    // Reads the next piece of the server's stream; sequences may be split anywhere.
    Received receive(QByteArrayView bytes);

    // The data bytes as the stream carries them: 255 doubled.
    static QByteArray escape(QByteArrayView data);
    // The four messages that set the remote line: baud rate, data size, parity, stop size.
    static QByteArray setLine(qint32 baudRate, QSerialPort::DataBits dataBits, QSerialPort::Parity parity,
                              QSerialPort::StopBits stopBits);
    // One COM port subnegotiation from the client, its payload escaped.
    static QByteArray comPortMessage(ComPortCommand command, QByteArrayView value);

    // What a server's COM port answer reports: the command it answers and the value as a number
    // (baud rates as four bytes, the others as one). Empty for anything else.
    struct ComPortReport
    {
        ComPortCommand command;
        quint32 value;
    };
    static std::optional<ComPortReport> comPortReport(const Command &command);

    // Whether the server agreed to each side of an option.
    bool serverWill(Option option) const { return m_him[option] == State::Yes; }
    bool clientWill(Option option) const { return m_us[option] == State::Yes; }

private:
    // RFC 1143's states, without its queue: the program never changes its mind mid-request.
    enum class State : quint8 { No, Yes, WantYes };
    static bool wanted(quint8 option, bool ours);
    void negotiate(quint8 verb, quint8 option, Received &out);
    void endSubnegotiation(Received &out);

    enum class Read : quint8 { Data, Iac, Verb, Sub, SubIac };
    Read m_read = Read::Data;
    quint8 m_verb = 0;
    Command m_sub;
    bool m_subStarted = false; // the option byte of the subnegotiation has been read
    std::array<State, 256> m_us{};
    std::array<State, 256> m_him{};
};
