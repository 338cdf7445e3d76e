#include "link/Sys_Project.h"

#include <QRandomGenerator>
#include <QTest>

using Reply = Sys_Project::Reply;
using Kind = Sys_Project::ReplyKind;

namespace {

// A reply as text for comparisons: "gbv 72 73", "gav 4 1023", "gws 5".
QString describe(const Reply &reply)
{
    switch (reply.kind) {
    case Kind::Batteries:
        return QStringLiteral("gbv %1 %2").arg(reply.data[0]).arg(reply.data[1]);
    case Kind::Analogue:
        return QStringLiteral("gav %1 %2").arg(reply.data[0]).arg(reply.analogueReading());
    case Kind::Whiskers:
        return QStringLiteral("gws %1").arg(reply.data[0]);
    }
    return {};
}

QStringList feed(Sys_Project &state, const QByteArray &bytes)
{
    QStringList replies;
    for (char b : bytes)
        if (const std::optional<Reply> reply = state.receive(quint8(b)))
            replies << describe(*reply);
    return replies;
}

} // namespace

class tst_Sys_Project : public QObject
{
    Q_OBJECT

private slots:
    void repliesFromStream_data();
    void repliesFromStream();
    void stateResetsAfterEveryReply();
    void randomStreamStaysInsideTheBuffer();
};

void tst_Sys_Project::repliesFromStream_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("replies");

    QTest::newRow("batteries") << QByteArray::fromHex("6762764849") << QStringList{"gbv 72 73"};
    QTest::newRow("analogue 500 on 2") << QByteArray::fromHex("67617602" "01f4") << QStringList{"gav 2 500"};
    QTest::newRow("analogue 1023 on 4") << QByteArray::fromHex("676176" "0403ff") << QStringList{"gav 4 1023"};
    QTest::newRow("analogue above 32767 unsigned") << QByteArray::fromHex("676176" "01ffff")
                                                   << QStringList{"gav 1 65535"};
    QTest::newRow("whiskers") << QByteArray::fromHex("67777305") << QStringList{"gws 5"};
    QTest::newRow("back to back") << QByteArray::fromHex("6762764849" "67777305" "676176" "0100" "07")
                                  << QStringList{"gbv 72 73", "gws 5", "gav 1 7"};
    QTest::newRow("data bytes equal to g") << QByteArray::fromHex("6762766767" "676176676767")
                                           << QStringList{"gbv 103 103", "gav 103 26471"};
    QTest::newRow("data bytes spelling a mnemonic") << QByteArray::fromHex("676176" "676276" "67777301")
                                                    << QStringList{"gav 103 25206", "gws 1"};
    QTest::newRow("zero bytes") << QByteArray::fromHex("6762760000") << QStringList{"gbv 0 0"};
    QTest::newRow("garbage before a reply") << QByteArray::fromHex("0102ff67" "6762764849")
                                            << QStringList{"gbv 72 73"};
    QTest::newRow("unknown mnemonic skipped") << QByteArray::fromHex("6d6562" "2d002d0a" "67777303")
                                              << QStringList{"gws 3"};
    QTest::newRow("upper case is not a reply") << QByteArray::fromHex("4742564849" "6762764849")
                                               << QStringList{"gbv 72 73"};
    // A byte lost from a mnemonic costs only the reply it hit.
    QTest::newRow("lost mnemonic byte") << QByteArray::fromHex("67764849" "67777305")
                                        << QStringList{"gws 5"};
    // A byte lost from the data lets the damaged reply borrow from the next one; the stream
    // is in step again after it.
    QTest::newRow("lost data byte") << QByteArray::fromHex("67627648" "67777305" "6762765051")
                                    << QStringList{"gbv 72 103", "gbv 80 81"};
    // An extra byte inside a reply spoils that reply only.
    QTest::newRow("extra data byte") << QByteArray::fromHex("676276480049" "67777305")
                                     << QStringList{"gbv 72 0", "gws 5"};
}

void tst_Sys_Project::repliesFromStream()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, replies);

    Sys_Project whole;
    QCOMPARE(feed(whole, bytes), replies);

    // However the stream is cut, the same replies come out.
    for (qsizetype cut = 1; cut < bytes.size(); ++cut) {
        Sys_Project pieces;
        QStringList got = feed(pieces, bytes.left(cut));
        got += feed(pieces, bytes.mid(cut));
        QCOMPARE(got, replies);
    }
}

void tst_Sys_Project::stateResetsAfterEveryReply()
{
    Sys_Project state;
    for (const QByteArray &reply : {QByteArray::fromHex("6762764849"), QByteArray::fromHex("676176" "0403ff"),
                                    QByteArray::fromHex("67777305")}) {
        QCOMPARE(feed(state, reply).size(), 1);
        QCOMPARE(state.Reply_Command, QStringLiteral("none"));
        QCOMPARE(state.Reply_Index, short(0));
        QVERIFY(std::all_of(state.Reply_Buffer.begin(), state.Reply_Buffer.end(), [](quint8 b) { return b == 0; }));
    }
}

void tst_Sys_Project::randomStreamStaysInsideTheBuffer()
{
    // Mostly noise with real replies mixed in; the sanitizer build catches any store past the
    // buffer, and every reply that stands alone between noise bytes must still come out.
    QRandomGenerator random(20261206);
    Sys_Project state;
    int planted = 0;
    int found = 0;
    for (int i = 0; i < 200000; ++i) {
        const quint8 byte = quint8(random.bounded(256));
        if (state.receive(byte))
            ++found;
        QVERIFY(state.Reply_Index >= 0 && state.Reply_Index < Sys_Project::BufferSize);
        if (i % 1000 == 999) {
            // Let a reply the noise happened to start run out; leftover noise before the
            // planted reply must not hide it.
            while (state.Reply_Command != Sys_Project::NoCommand)
                state.receive(0xEE);
            const QStringList replies = feed(state, QByteArray::fromHex("6762764849"));
            planted += 1;
            found += int(replies.size());
            QCOMPARE(replies, QStringList{"gbv 72 73"});
        }
    }
    QVERIFY(found >= planted);
}

QTEST_GUILESS_MAIN(tst_Sys_Project)
#include "tst_sys_project.moc"
