#include "link/Com.h"
#include "link/Telnet_Com_Port.h"

#include <QTest>

using Telnet = Telnet_Com_Port;
using Command = Telnet_Com_Port::Command;
using Commands = QList<Command>;

Q_DECLARE_METATYPE(Command)
Q_DECLARE_METATYPE(Commands)

namespace {

Command negotiation(quint8 verb, quint8 option)
{
    return {verb, option, {}};
}

Command sub(quint8 option, const char *payloadHex)
{
    return {Telnet::SB, option, QByteArray::fromHex(payloadHex)};
}

QString describe(const Commands &commands)
{
    QStringList parts;
    for (const Command &c : commands)
        parts << QStringLiteral("%1/%2/%3").arg(c.code).arg(c.option).arg(QString::fromLatin1(c.payload.toHex(' ')));
    return parts.join(u", ");
}

// Everything the client took from a stream fed in the given pieces.
Telnet::Received feedInPieces(const QByteArray &stream, const QList<qsizetype> &cuts, bool started)
{
    Telnet telnet;
    if (started)
        telnet.start();
    Telnet::Received all;
    qsizetype from = 0;
    QList<qsizetype> ends = cuts;
    ends << stream.size();
    for (const qsizetype end : ends) {
        const Telnet::Received part = telnet.receive(QByteArrayView(stream).sliced(from, end - from));
        all.data += part.data;
        all.commands += part.commands;
        all.answer += part.answer;
        from = end;
    }
    return all;
}

} // namespace

class tst_Telnet_Com_Port : public QObject
{
    Q_OBJECT

private slots:
    void serverStream_data();
    void serverStream();
    void startAsksForBinaryAndOffersComPort();
    void escapeDoublesByte255_data();
    void escapeDoublesByte255();
    void settingsTextSetsRemoteLine_data();
    void settingsTextSetsRemoteLine();
    void baudRateWithByte255IsEscaped();
    void comPortReport_data();
    void comPortReport();
};

void tst_Telnet_Com_Port::serverStream_data()
{
    QTest::addColumn<bool>("started");
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<Commands>("commands");
    QTest::addColumn<QByteArray>("answer");

    const auto hex = [](const char *text) { return QByteArray::fromHex(text); };
    using T = Telnet;

    QTest::newRow("plain data") << true << hex("6762764849") << hex("6762764849") << Commands{} << QByteArray();
    QTest::newRow("255 in a reply") << true << hex("676176 01ffff") << hex("676176 01ff") << Commands{} << QByteArray();
    QTest::newRow("only 255s") << true << hex("ffffffffffff") << hex("ffffff") << Commands{} << QByteArray();
    QTest::newRow("NOP between data bytes") << true << hex("41 fff1 42") << hex("4142")
                                            << Commands{{T::NOP, 0, {}}} << QByteArray();
    QTest::newRow("break and go-ahead") << true << hex("fff3 41 fff9") << hex("41")
                                        << Commands{{T::Break, 0, {}}, {T::GoAhead, 0, {}}} << QByteArray();
    QTest::newRow("undefined code after IAC is no data") << true << hex("ff05 41") << hex("41")
                                                        << Commands{{5, 0, {}}} << QByteArray();
    QTest::newRow("stray SE") << true << hex("fff0 41") << hex("41") << Commands{{T::SE, 0, {}}} << QByteArray();

    // ser2net's own greeting, as it sends it on connecting: the program's requests are answered
    // without a word back, suppress-go-ahead is accepted, echo stays off.
    QTest::newRow("ser2net's greeting") << true << hex("fffb03 fffd03 fffb01 fffe01 fffd00 fffb00 fffd2c") << QByteArray()
        << Commands{negotiation(T::WILL, 3), negotiation(T::DO, 3), negotiation(T::WILL, 1), negotiation(T::DONT, 1),
                    negotiation(T::DO, 0), negotiation(T::WILL, 0), negotiation(T::DO, 44)}
        << hex("fffd03 fffb03 fffe01");
    QTest::newRow("refused options") << true << hex("fffb18 fffd1f fffb2c fffd01 fffb01")
        << QByteArray()
        << Commands{negotiation(T::WILL, 24), negotiation(T::DO, 31), negotiation(T::WILL, 44), negotiation(T::DO, 1),
                    negotiation(T::WILL, 1)}
        << hex("fffe18 fffc1f fffe2c fffc01 fffe01");
    QTest::newRow("offers before the client started") << false << hex("fffb00 fffd00 fffd2c") << QByteArray()
        << Commands{negotiation(T::WILL, 0), negotiation(T::DO, 0), negotiation(T::DO, 44)}
        << hex("fffd00 fffb00 fffb2c");
    QTest::newRow("an offer repeated is answered once") << true << hex("fffb03 fffb03") << QByteArray()
        << Commands{negotiation(T::WILL, 3), negotiation(T::WILL, 3)} << hex("fffd03");
    QTest::newRow("binary granted then withdrawn") << true << hex("fffd00 fffe00 fffe00") << QByteArray()
        << Commands{negotiation(T::DO, 0), negotiation(T::DONT, 0), negotiation(T::DONT, 0)} << hex("fffc00");
    QTest::newRow("request refused is not answered") << true << hex("fffe2c fffc00") << QByteArray()
        << Commands{negotiation(T::DONT, 44), negotiation(T::WONT, 0)} << QByteArray();

    QTest::newRow("baud rate report with 255 doubled") << true << hex("fffa2c 650000ffff01 fff0") << QByteArray()
        << Commands{sub(44, "650000ff01")} << QByteArray();
    QTest::newRow("reports between data") << true << hex("41 fffa2c6b00fff0 42 fffa2c6600fff0 43") << hex("414243")
        << Commands{sub(44, "6b00"), sub(44, "6600")} << QByteArray();
    QTest::newRow("subnegotiation without SE") << true << hex("fffa2c6b00 fff1 41") << hex("41")
        << Commands{sub(44, "6b00"), {T::NOP, 0, {}}} << QByteArray();
    QTest::newRow("subnegotiation cut by a negotiation") << true << hex("fffa2c6b fffb18 41") << hex("41")
        << Commands{sub(44, "6b"), negotiation(T::WILL, 24)} << hex("fffe18");
    QTest::newRow("signature") << true << hex("fffa2c 64 6f72 fff0") << QByteArray() << Commands{sub(44, "646f72")}
                               << QByteArray();
    const QByteArray longPayload(1000, 'a');
    QTest::newRow("overlong subnegotiation is cut, what follows is intact")
        << true << hex("fffa00") + longPayload + hex("fff0 42") << hex("42")
        << Commands{{T::SB, 0, longPayload.left(Telnet::SubnegotiationLimit)}} << QByteArray();
}

void tst_Telnet_Com_Port::serverStream()
{
    QFETCH(bool, started);
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, data);
    QFETCH(Commands, commands);
    QFETCH(QByteArray, answer);

    // Whole, cut in two at every place, and one byte at a time: the same.
    QList<QList<qsizetype>> splits{{}};
    QList<qsizetype> single;
    for (qsizetype at = 1; at < stream.size(); ++at) {
        splits.append(QList<qsizetype>{at});
        single.append(at);
    }
    splits.append(single);
    for (const QList<qsizetype> &cuts : splits) {
        const Telnet::Received got = feedInPieces(stream, cuts, started);
        const QByteArray where = "cut at " + QByteArray::number(cuts.size() == 1 ? cuts[0] : -cuts.size());
        QVERIFY2(got.data == data, where + ": data " + got.data.toHex(' '));
        QVERIFY2(got.commands == commands, qPrintable(where + ": " + describe(got.commands)));
        QVERIFY2(got.answer == answer, where + ": answer " + got.answer.toHex(' '));
    }
}

void tst_Telnet_Com_Port::startAsksForBinaryAndOffersComPort()
{
    Telnet telnet;
    QCOMPARE(telnet.start().toHex(' '), QByteArray("ff fb 2c ff fb 00 ff fd 00"));
    QVERIFY(!telnet.clientWill(Telnet::ComPort));
    telnet.receive(QByteArray::fromHex("fffd2c fffd00 fffb00"));
    QVERIFY(telnet.clientWill(Telnet::ComPort));
    QVERIFY(telnet.clientWill(Telnet::Binary));
    QVERIFY(telnet.serverWill(Telnet::Binary));
}

void tst_Telnet_Com_Port::escapeDoublesByte255_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("escaped");

    QTest::newRow("nothing") << QByteArray() << QByteArray();
    QTest::newRow("no 255") << QByteArray::fromHex("73656e64fe00") << QByteArray::fromHex("73656e64fe00");
    QTest::newRow("frame holding 255") << QByteArray::fromHex("6d6562 ff 0a ff") << QByteArray::fromHex("6d6562 ffff 0a ffff");
    QTest::newRow("255 alone") << QByteArray::fromHex("ff") << QByteArray::fromHex("ffff");
    QTest::newRow("IAC SE as data") << QByteArray::fromHex("fff0") << QByteArray::fromHex("fffff0");
}

void tst_Telnet_Com_Port::escapeDoublesByte255()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, escaped);
    QCOMPARE(Telnet::escape(data).toHex(' '), escaped.toHex(' '));
    // And the reader gives the data back.
    Telnet telnet;
    const Telnet::Received back = telnet.receive(escaped);
    QCOMPARE(back.data.toHex(' '), data.toHex(' '));
    QVERIFY(back.commands.isEmpty());
}

void tst_Telnet_Com_Port::settingsTextSetsRemoteLine_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QByteArray>("messages");

    // Baud rate in four bytes, most significant first; then data size, parity (1 none, 2 odd,
    // 3 even, 4 mark, 5 space) and stop size, one byte each.
    QTest::newRow("57600,n,8,1") << "57600,n,8,1"
                                 << QByteArray::fromHex("fffa2c01 0000e100 fff0 fffa2c0208fff0 fffa2c0301fff0 fffa2c0401fff0");
    QTest::newRow("9600,e,7,2") << "9600,e,7,2"
                                << QByteArray::fromHex("fffa2c01 00002580 fff0 fffa2c0207fff0 fffa2c0303fff0 fffa2c0402fff0");
    QTest::newRow("115200,o,5,1") << "115200,o,5,1"
                                  << QByteArray::fromHex("fffa2c01 0001c200 fff0 fffa2c0205fff0 fffa2c0302fff0 fffa2c0401fff0");
    QTest::newRow("110,m,6,2") << "110,m,6,2"
                               << QByteArray::fromHex("fffa2c01 0000006e fff0 fffa2c0206fff0 fffa2c0304fff0 fffa2c0402fff0");
    QTest::newRow("256000,s,8,1") << "256000,s,8,1"
                                  << QByteArray::fromHex("fffa2c01 0003e800 fff0 fffa2c0208fff0 fffa2c0305fff0 fffa2c0401fff0");
}

void tst_Telnet_Com_Port::settingsTextSetsRemoteLine()
{
    QFETCH(QString, settings);
    QFETCH(QByteArray, messages);
    const std::optional<Com::LineSettings> line = Com::LineSettings::parse(settings);
    QVERIFY(line);
    QCOMPARE(Telnet::setLine(line->baudRate, line->dataBits, line->parity, line->stopBits).toHex(' '), messages.toHex(' '));
}

void tst_Telnet_Com_Port::baudRateWithByte255IsEscaped()
{
    QCOMPARE(Telnet::comPortMessage(Telnet::SetBaudRate, QByteArray::fromHex("0000ffff")).toHex(' '),
             QByteArray("ff fa 2c 01 00 00 ff ff ff ff ff f0"));
}

void tst_Telnet_Com_Port::comPortReport_data()
{
    QTest::addColumn<Command>("command");
    QTest::addColumn<bool>("understood");
    QTest::addColumn<int>("answers");
    QTest::addColumn<quint32>("value");

    QTest::newRow("baud rate") << sub(44, "650001c200") << true << int(Telnet::SetBaudRate) << 115200u;
    QTest::newRow("data size") << sub(44, "6607") << true << int(Telnet::SetDataSize) << 7u;
    QTest::newRow("parity") << sub(44, "6703") << true << int(Telnet::SetParity) << 3u;
    QTest::newRow("stop size") << sub(44, "6802") << true << int(Telnet::SetStopSize) << 2u;
    QTest::newRow("modem state") << sub(44, "6b00") << true << int(Telnet::NotifyModemState) << 0u;
    QTest::newRow("short baud rate") << sub(44, "650001c2") << false << 0 << 0u;
    QTest::newRow("long data size") << sub(44, "660708") << false << 0 << 0u;
    QTest::newRow("client's code") << sub(44, "0107") << false << 0 << 0u;
    QTest::newRow("unknown server code") << sub(44, "7f00") << false << 0 << 0u;
    QTest::newRow("empty") << sub(44, "") << false << 0 << 0u;
    QTest::newRow("another option") << sub(24, "6607") << false << 0 << 0u;
    QTest::newRow("a negotiation") << negotiation(Telnet::WILL, 44) << false << 0 << 0u;
}

void tst_Telnet_Com_Port::comPortReport()
{
    QFETCH(Command, command);
    QFETCH(bool, understood);
    QFETCH(int, answers);
    QFETCH(quint32, value);
    const std::optional<Telnet::ComPortReport> report = Telnet::comPortReport(command);
    QCOMPARE(report.has_value(), understood);
    if (report) {
        QCOMPARE(int(report->command), answers);
        QCOMPARE(report->value, value);
    }
}

QTEST_GUILESS_MAIN(tst_Telnet_Com_Port)
#include "tst_telnet_com_port.moc"
