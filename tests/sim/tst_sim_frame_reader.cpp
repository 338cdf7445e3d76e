#include "sim/FrameReader.h"

#include <QTest>

namespace {

// Adjacent bad runs joined: where a run of garbage is cut depends on how the bytes arrived.
QStringList describe(const QList<FrameReader::Event> &events)
{
    QList<FrameReader::Event> joined;
    for (const FrameReader::Event &event : events) {
        if (event.isBad() && !joined.isEmpty() && joined.back().isBad())
            joined.back().data.append(event.data);
        else
            joined.append(event);
    }
    QStringList texts;
    for (const FrameReader::Event &event : joined)
        texts.append(event.toString());
    return texts;
}

} // namespace

class TestFrameReader : public QObject
{
    Q_OBJECT

private slots:
    void readsTheStreamAsTheControllerDoes_data();
    void readsTheStreamAsTheControllerDoes();
};

void TestFrameReader::readsTheStreamAsTheControllerDoes_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<int>("pending");

    auto row = [](const char *name, const QByteArray &stream, const QStringList &events, int pending = 0) {
        QTest::newRow(name) << stream << events << pending;
    };

    row("eyebrows", QByteArray::fromHex("6d65622d002d0a"), {"meb 45 0 45 10"});
    row("eyes", QByteArray::fromHex("6d72651a0140022d03"), {"mre 26 1 64 2 45 3"});
    row("neck", QByteArray::fromHex("6d726e64055a05"), {"mrn 100 5 90 5"});
    row("mouth", QByteArray::fromHex("6d726d1401460214034504"), {"mrm 20 1 70 2 20 3 69 4"});
    row("left arm", QByteArray::fromHex("6d6c615a00000ab4ff"), {"mla 90 0 0 10 180 255"});
    row("right arm", QByteArray::fromHex("6d7261010203040506"), {"mra 1 2 3 4 5 6"});
    row("single servo", QByteArray::fromHex("6d7373122d00"), {"mss 18 45 0"});
    row("batteries query", "gbv", {"gbv"});
    row("analogue query", "gav", {"gav"});
    row("back to back", QByteArray::fromHex("6d7373122d00") + "gbvgav" + QByteArray::fromHex("6d726e64055a05"),
        {"mss 18 45 0", "gbv", "gav", "mrn 100 5 90 5"});
    row("data bytes spell a query", "mrngbvg" + QByteArray("gav"), {"mrn 103 98 118 103", "gav"});
    row("data bytes repeat the frame's own mnemonic", "mebmebm", {"meb 109 101 98 109"});
    row("data bytes are zero", QByteArray("mss\0\0\0", 6), {"mss 0 0 0"});
    row("garbage before a frame", QByteArray::fromHex("0102ff") + "gbv", {"bad 1 2 255", "gbv"});
    row("a stray letter before a frame", "mmeb" + QByteArray::fromHex("2d002d0a"), {"bad 109", "meb 45 0 45 10"});
    row("a mnemonic that goes wrong at its last letter", "gbxgbv", {"bad 103 98 120", "gbv"});
    row("a reply mnemonic is not a command", QByteArray::fromHex("67777305") + "gav", {"bad 103 119 115 5", "gav"});
    row("mnemonics are lower case", "GBVgbv", {"bad 71 66 86", "gbv"});
    row("garbage after a frame", "gav" + QByteArray::fromHex("0707"), {"gav", "bad 7 7"});
    row("an unfinished frame waits", QByteArray::fromHex("6d65622d00"), {}, 5);
    row("an unfinished mnemonic waits", "gb", {}, 2);
    row("garbage, then an unfinished mnemonic", QByteArray::fromHex("01") + "me", {"bad 1"}, 2);
}

void TestFrameReader::readsTheStreamAsTheControllerDoes()
{
    QFETCH(QByteArray, stream);
    QFETCH(QStringList, events);
    QFETCH(int, pending);

    // The same stream must read the same whether it comes in one read or split anywhere.
    for (const qsizetype chunk : {stream.size(), qsizetype(1), qsizetype(2), qsizetype(4)}) {
        FrameReader reader;
        QList<FrameReader::Event> read;
        for (qsizetype at = 0; at < stream.size(); at += chunk)
            read += reader.feed(QByteArrayView(stream).sliced(at, std::min(chunk, stream.size() - at)));
        QCOMPARE(describe(read), events);
        QCOMPARE(reader.pending(), qsizetype(pending));
    }
}

QTEST_APPLESS_MAIN(TestFrameReader)
#include "tst_sim_frame_reader.moc"
