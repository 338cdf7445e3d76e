#include "sim/FrameReader.h"

#include <QTest>

namespace {

QStringList describe(const QList<FrameReader::Event> &events)
{
    QStringList texts;
    for (const FrameReader::Event &event : events) {
        // A run of garbage is cut wherever a read ended, so its pieces are joined.
        if (event.isBad() && !texts.isEmpty() && texts.back().startsWith(u"bad"))
            texts.back() += event.toString().mid(3);
        else
            texts.append(event.toString());
    }
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

    row("head moves back to back", QByteArray::fromHex("6d65622d002d0a" "6d72651a0140022d03" "6d726e64055a05"),
        {"meb 45 0 45 10", "mre 26 1 64 2 45 3", "mrn 100 5 90 5"});
    row("mouth, arms, single servo and both queries back to back",
        QByteArray::fromHex("6d726d1401460214034504" "6d6c615a00000ab4ff" "6d7261010203040506" "6d7373122d00") +
            "gbvgav",
        {"mrm 20 1 70 2 20 3 69 4", "mla 90 0 0 10 180 255", "mra 1 2 3 4 5 6", "mss 18 45 0", "gbv", "gav"});
    row("data bytes spell mnemonics", "mrngbvggav" "mebmebm", {"mrn 103 98 118 103", "gav", "meb 109 101 98 109"});
    row("garbage before frames",
        QByteArray::fromHex("0102ff") + "mmeb" + QByteArray::fromHex("2d002d0a") + "gbxGBVgws" +
            QByteArray::fromHex("05") + "gbv",
        {"bad 1 2 255 109", "meb 45 0 45 10", "bad 103 98 120 71 66 86 103 119 115 5", "gbv"});
    row("an unfinished frame waits", QByteArray::fromHex("07") + "gavmeb" + QByteArray::fromHex("2d00"),
        {"bad 7", "gav"}, 5);
    row("an unfinished mnemonic waits", "gb", {}, 2);
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
