#include "sensors/Sensor_Csv.h"
#include "sensors/Sensor_Readings.h"

#include <QBuffer>
#include <QTest>

namespace {

using Kind = Sys_Project::ReplyKind;

Sys_Project::Reply reply(Kind kind, int a, int b = 0, int c = 0)
{
    return {kind, {quint8(a), quint8(b), quint8(c)}};
}

// A disk that fills after a number of bytes: a write that does not fit writes what fits.
class Filling_Device : public QBuffer
{
public:
    explicit Filling_Device(QByteArray *bytes, qint64 room)
        : QBuffer(bytes)
        , m_room(room)
    {
        open(QIODevice::WriteOnly);
    }

protected:
    qint64 writeData(const char *data, qint64 length) override
    {
        const qint64 fits = std::min(length, m_room - size());
        if (fits < length)
            setErrorString(QStringLiteral("No space left on device"));
        return fits <= 0 ? -1 : QBuffer::writeData(data, fits);
    }

private:
    qint64 m_room;
};

} // namespace

// The readings kept over time and written as CSV.
class TestSensorReadings : public QObject
{
    Q_OBJECT

private slots:
    void init() { QLocale::setDefault(QLocale::c()); }

    void csvRows_data()
    {
        QTest::addColumn<QList<Sys_Project::Reply>>("replies");
        QTest::addColumn<QList<qint32>>("actions"); // the action playing at each reply
        QTest::addColumn<QByteArray>("csv");        // after the header
        QTest::newRow("empty until the first reading")
            << QList{reply(Kind::Batteries, 72, 70)} << QList<qint32>{0} << QByteArray("0.000,7.2,7.0,,,,,,,,,\n");
        QTest::newRow("each column keeps its latest value")
            << QList{reply(Kind::Batteries, 72, 73), reply(Kind::Analogue, 2, 1, 2), reply(Kind::Whiskers, 0b1001),
                     reply(Kind::Batteries, 61, 73)}
            << QList<qint32>{0, 0, 0, 0}
            << QByteArray("0.000,7.2,7.3,,,,,,,,,\n"
                          "0.500,7.2,7.3,,258,,,,,,,\n"
                          "1.000,7.2,7.3,,258,,,1,0,0,1,\n"
                          "1.500,6.1,7.3,,258,,,1,0,0,1,\n");
        QTest::newRow("an analogue channel the panel has not takes no row")
            << QList{reply(Kind::Analogue, 5, 0, 1), reply(Kind::Analogue, 4, 255, 255)} << QList<qint32>{0, 0}
            << QByteArray("0.000,,,,,,65535,,,,,\n");
        QTest::newRow("the action playing")
            << QList{reply(Kind::Whiskers, 0), reply(Kind::Whiskers, 2), reply(Kind::Whiskers, 0)}
            << QList<qint32>{14, 15, 0}
            << QByteArray("0.000,,,,,,,0,0,0,0,14\n0.500,,,,,,,0,1,0,0,15\n1.000,,,,,,,0,0,0,0,\n");
    }
    void csvRows()
    {
        QFETCH(QList<Sys_Project::Reply>, replies);
        QFETCH(QList<qint32>, actions);
        QFETCH(QByteArray, csv);
        // Whatever the operator's language, decimals are written with a dot.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        Sensor_Ring ring;
        for (qsizetype k = 0; k < replies.size(); ++k) {
            ring.setAction(actions[k], 500 * k);
            ring.take(replies[k], 10000 + 500 * k);
        }
        QByteArray written;
        QBuffer device(&written);
        device.open(QIODevice::WriteOnly);
        QString why;
        QVERIFY(Sensor_Csv::write(device, ring.samples(), &why));
        QCOMPARE(written, QByteArray("time_s,battery1_v,battery2_v,analogue1,analogue2,analogue3,analogue4,"
                                     "whisker1,whisker2,whisker3,whisker4,action\n")
                              + csv);
    }

    // An hour and more of the poll's replies and the whiskers' reports, fed as fast as they
    // come: the ring keeps the newest, in order, and never more than its capacity.
    void ringStaysBoundedOverAnHour()
    {
        Sensor_Ring ring;
        qint64 ms = 0;
        for (int k = 0; k < 2 * 3600 * 2 + 1000; ++k, ms += 250) {
            if (k % 40 == 0)
                ring.setAction(k, ms);
            ring.take(k % 2 ? reply(Kind::Analogue, 1, k >> 8, k & 0xFF) : reply(Kind::Batteries, k % 256, 0), ms);
            QVERIFY(qsizetype(ring.samples().size()) <= ring.capacity());
        }
        QCOMPARE(qsizetype(ring.samples().size()), Sensor_Ring::DefaultCapacity);
        QCOMPARE(ring.samples().back().ms, ms - 250);
        QCOMPARE(ring.samples().front().ms, ms - 250 * Sensor_Ring::DefaultCapacity);
        QVERIFY(std::is_sorted(ring.samples().begin(), ring.samples().end(),
                               [](const Sensor_Sample &a, const Sensor_Sample &b) { return a.ms < b.ms; }));
        // The markers follow: none older than the oldest reading.
        QVERIFY(!ring.marks().empty());
        QVERIFY(ring.marks().front().ms >= ring.samples().front().ms);
    }

    void markersBeforeTheFirstReadingStay()
    {
        Sensor_Ring ring;
        ring.setAction(1, 0);
        ring.take(reply(Kind::Whiskers, 1), 100);
        QCOMPARE(ring.marks().size(), size_t(1));
        QCOMPARE(ring.samples().front().action, 1);
    }

    // A full disk stops the record; the rows written before it stay whole.
    void fullDiskStopsTheRecordAndKeepsWhatWasWritten()
    {
        QByteArray written;
        const qint64 header = qstrlen(Sensor_Csv::Header);
        auto device = std::make_unique<Filling_Device>(&written, header + 50);
        Sensor_Recorder recorder;
        QString why;
        QVERIFY(recorder.start(std::move(device), 1000, &why));
        Sensor_Sample sample;
        sample.batteries = {72, 73};
        int appended = 0;
        for (sample.ms = 1000; recorder.append(sample, &why); sample.ms += 500)
            ++appended;
        QVERIFY(!recorder.isRecording());
        QCOMPARE(why, QStringLiteral("No space left on device"));
        QCOMPARE(appended, 2); // two rows of 23 bytes fit in 50
        QVERIFY(written.startsWith(QByteArray(Sensor_Csv::Header) + "0.000,7.2,7.3,,,,,,,,,\n0.500,7.2,7.3,,,,,,,,,\n"));
        // Nothing more after the failure.
        const QByteArray after = written;
        QVERIFY(!recorder.append(sample, &why));
        QCOMPARE(written, after);
    }
};

QTEST_GUILESS_MAIN(TestSensorReadings)
#include "tst_sensor_readings.moc"
