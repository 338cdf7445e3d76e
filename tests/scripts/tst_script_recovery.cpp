#include "scripts/Script_Recovery.h"
#include "scripts/Script_File.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

Script_Content script(const QString &title, const QString &path, const QString &lines)
{
    Script_Content content;
    content.title = title;
    content.date = QStringLiteral("07-12-2026");
    content.path = path;
    content.editable = true;
    QList<Script_Action> actions;
    if (Parse_Action_Lines(lines, actions)) {
        content.actions.Actions = actions;
        content.actions.Nb_Action = qint32(actions.size());
    }
    return content;
}

QString describe(const Script_Content &content)
{
    return QStringList{content.title, content.date, content.path, Format_Action_Lines(content.actions.Actions.mid(0, content.actions.Nb_Action))}
        .join(u'|');
}

bool age(const QString &file, qint64 seconds)
{
    QFile f(file);
    return f.open(QIODevice::ReadWrite)
           && f.setFileTime(QDateTime::currentDateTime().addSecs(-seconds), QFileDevice::FileModificationTime);
}

} // namespace

class tst_Script_Recovery : public QObject
{
    Q_OBJECT

private slots:
    void recordReadsBackTheScript_data();
    void recordReadsBackTheScript();
    void putAsideScriptsComeBackNewestFirst();
    void savedScriptLeavesNoRecord();
    void recordsAWeekOldGo();
};

void tst_Script_Recovery::recordReadsBackTheScript_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("lines");

    QTest::newRow("named") << "Greeting" << "/home/op/greeting.sct" << "meb;120;10;130;10\nwait;500\nend;0\n";
    QTest::newRow("never saved") << "" << "" << "wait;1\n";
    QTest::newRow("path with odd characters") << "Grüße" << "/tmp/a=b;c %41\n.sct" << "end;0\n";
}

void tst_Script_Recovery::recordReadsBackTheScript()
{
    QFETCH(QString, title);
    QFETCH(QString, path);
    QFETCH(QString, lines);

    const Script_Content content = script(title, path, lines);
    Script_Content back;
    QVERIFY(Script_Recovery::parse(Script_Recovery::format(content), back));
    QCOMPARE(describe(back), describe(content));
}

void tst_Script_Recovery::putAsideScriptsComeBackNewestFirst()
{
    QTemporaryDir dir;
    Script_Recovery store(dir.filePath(QStringLiteral("recovery")));
    QVERIFY(store.keep(script(QStringLiteral("First"), {}, QStringLiteral("wait;1"))));
    QVERIFY(age(store.currentFile(), 60));
    // The script in hand is never offered back to itself.
    QCOMPARE(store.entries().size(), 0);
    store.startNext();
    QVERIFY(store.keep(script(QStringLiteral("Second"), {}, QStringLiteral("wait;2"))));
    store.startNext();

    const QList<Script_Recovery::Entry> entries = store.entries();
    QStringList titles;
    for (const Script_Recovery::Entry &entry : entries)
        titles << entry.content.title;
    QCOMPARE(titles, (QStringList{"Second", "First"}));

    // A recovered script goes on in its own record.
    store.adopt(entries[1]);
    QCOMPARE(store.currentFile(), entries[1].file);
    QCOMPARE(store.entries().size(), 1);
}

void tst_Script_Recovery::savedScriptLeavesNoRecord()
{
    QTemporaryDir dir;
    Script_Recovery store(dir.path());
    QVERIFY(store.keep(script(QStringLiteral("T"), {}, QStringLiteral("wait;1"))));
    QVERIFY(QFile::exists(store.currentFile()));
    store.forget();
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
}

void tst_Script_Recovery::recordsAWeekOldGo()
{
    QTemporaryDir dir;
    Script_Recovery store(dir.path());
    QVERIFY(store.keep(script(QStringLiteral("Old"), {}, QStringLiteral("wait;1"))));
    const QString old = store.currentFile();
    QVERIFY(age(old, Script_Recovery::KeptForSeconds + 60));
    store.startNext();
    QVERIFY(store.keep(script(QStringLiteral("Six days"), {}, QStringLiteral("wait;1"))));
    QVERIFY(age(store.currentFile(), Script_Recovery::KeptForSeconds - 24 * 3600));
    store.startNext();

    QCOMPARE(store.entries().size(), 1);
    QCOMPARE(store.entries().first().content.title, QStringLiteral("Six days"));
    QVERIFY(!QFile::exists(old));
}

QTEST_GUILESS_MAIN(tst_Script_Recovery)
#include "tst_script_recovery.moc"
