#include "fuzz/Checks.h"

#include <QDir>
#include <QFile>
#include <QTest>

// Every input the fuzzers were seeded with or ever failed on, through the same checks.
class tst_Fuzz_Corpus : public QObject
{
    Q_OBJECT

private slots:
    void corpusPasses_data()
    {
        QTest::addColumn<int>("target");
        const auto targets = FuzzChecks::targets();
        for (int t = 0; t < int(targets.size()); ++t)
            QTest::newRow(targets[size_t(t)].name) << t;
    }

    void corpusPasses()
    {
        QFETCH(int, target);
        const FuzzChecks::Target &t = FuzzChecks::targets()[size_t(target)];
        const QDir corpus(QStringLiteral(ORVIK_FUZZ_CORPUS "/%1").arg(QLatin1StringView(t.name)));
        const QStringList inputs = corpus.entryList(QDir::Files);
        QVERIFY2(!inputs.isEmpty(), qPrintable(corpus.path() + QStringLiteral(" has no inputs")));
        for (const QString &name : inputs) {
            QFile file(corpus.filePath(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QString why = t.check(file.readAll());
            QVERIFY2(why.isEmpty(), qPrintable(name + QStringLiteral(": ") + why));
        }
    }
};

QTEST_GUILESS_MAIN(tst_Fuzz_Corpus)
#include "tst_fuzz_corpus.moc"
