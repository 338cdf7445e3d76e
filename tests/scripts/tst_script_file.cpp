#include "scripts/Script_File.h"

#include "link/Frames.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

QByteArray crlf(const QByteArrayList &lines)
{
    return lines.join("\r\n") + "\r\n";
}

const QByteArray Example = crlf({"[GENERAL]", "software=ORVIK", "Name=Greeting", "Date=05-12-2026", "[COMMANDS]",
                                  "nb_action=3", "action_1=meb;120;10;130;10", "action_2=wait;500", "action_3=end;0"});

QByteArray withCommands(const QByteArrayList &commandLines)
{
    return crlf(QByteArrayList{"[GENERAL]", "Name=T", "[COMMANDS]"} + commandLines);
}

Script_Action action(qint32 number, const QString &command, const QList<qint32> &values)
{
    return Script_Action{number, command, values, qint32(values.size())};
}

Action_List listOf(const QList<Script_Action> &actions)
{
    Action_List list;
    for (const Script_Action &a : actions)
        Add_Script_Action(list, a);
    return list;
}

// The header, then "1 meb 120 10 130 10" per action, with its value count checked.
QStringList describe(const Script_Header &header, const Action_List &list)
{
    QStringList rows{header.Script_Name, header.Script_Date, header.Script_Software,
                     QString::number(header.Script_Nb_Action)};
    for (qint32 i = 0; i < list.Nb_Action; ++i) {
        const Script_Action &a = list.Actions[i];
        QString row = QString::number(a.Number) + u' ' + a.Command;
        for (qint32 v : a.Values)
            row += u' ' + QString::number(v);
        if (a.Nb_Values != a.Values.size())
            row += QStringLiteral(" (Nb_Values %1)").arg(a.Nb_Values);
        rows << row;
    }
    return rows;
}

// A list the reader must leave as it was when it refuses a file.
Action_List sentinelList()
{
    Action_List list;
    list.Actions[0] = action(99, QStringLiteral("sentinel"), {1, 2});
    return list;
}

Script_Header sentinelHeader()
{
    return Script_Header{QStringLiteral("old"), QStringLiteral("01-01-2000"), QStringLiteral("OLD"), 7};
}

bool sameList(const Action_List &a, const Action_List &b)
{
    if (a.Nb_Action != b.Nb_Action || a.Actions.size() != b.Actions.size())
        return false;
    for (qsizetype i = 0; i < a.Actions.size(); ++i) {
        const Script_Action &x = a.Actions[i];
        const Script_Action &y = b.Actions[i];
        if (x.Number != y.Number || x.Command != y.Command || x.Values != y.Values || x.Nb_Values != y.Nb_Values)
            return false;
    }
    return true;
}

bool sameHeader(const Script_Header &a, const Script_Header &b)
{
    return a.Script_Name == b.Script_Name && a.Script_Date == b.Script_Date
           && a.Script_Software == b.Script_Software && a.Script_Nb_Action == b.Script_Nb_Action;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

bool setImmutable(const QString &path, bool on)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
}

// Random bytes drawn mostly from what matters to the reader.
char interestingByte(QRandomGenerator &random)
{
    static const char bytes[] = "=;[]\r\n \t-+0123456789aAnN_\xEF\xBB\xBF\xC3\xA9\xE9\x80"; // and its 0
    static const QByteArray alphabet(bytes, sizeof bytes);
    return random.bounded(4) == 0 ? char(random.bounded(256)) : alphabet[random.bounded(int(alphabet.size()))];
}

QByteArray randomScript(QRandomGenerator &random)
{
    static const QByteArrayList commands{"meb", "mla", "mra", "mre", "mrm", "mrn", "mss", "end", "wait", "", "x y"};
    static const QList<qint64> values{0, 1, 255, 256, 65535, -1, INT32_MAX, INT32_MIN, qint64(INT32_MAX) + 1};
    const int count = random.bounded(12);
    QByteArrayList lines{"[GENERAL]", "software=ORVIK", "Name=Script " + QByteArray::number(random.bounded(1000)),
                         "Date=06-12-2026", "[COMMANDS]", "nb_action=" + QByteArray::number(count)};
    for (int k = 1; k <= count + random.bounded(2); ++k) {
        QByteArray line = "action_" + QByteArray::number(k) + '=' + commands[random.bounded(int(commands.size()))];
        const int valueCount = random.bounded(1, 10);
        for (int v = 0; v < valueCount; ++v)
            line += ';' + QByteArray::number(random.bounded(30) == 0 ? values[random.bounded(int(values.size()))]
                                                                     : qint64(random.bounded(300)));
        lines << line;
    }
    if (random.bounded(3) == 0)
        std::swap(lines[random.bounded(int(lines.size()))], lines[random.bounded(int(lines.size()))]);
    return random.bounded(4) == 0 ? lines.join('\n') : crlf(lines);
}

QByteArray mutated(QByteArray bytes, QRandomGenerator &random)
{
    const int mutations = random.bounded(1, 6);
    for (int m = 0; m < mutations; ++m) {
        const int at = bytes.isEmpty() ? 0 : random.bounded(int(bytes.size()));
        switch (random.bounded(5)) {
        case 0:
            if (!bytes.isEmpty())
                bytes[at] = interestingByte(random);
            break;
        case 1:
            bytes.insert(at, interestingByte(random));
            break;
        case 2:
            bytes.remove(at, random.bounded(1, 8));
            break;
        case 3:
            bytes.insert(at, bytes.mid(random.bounded(int(bytes.size()) + 1), random.bounded(40)));
            break;
        default:
            bytes.truncate(at);
            break;
        }
    }
    return bytes;
}

} // namespace

class tst_Script_File : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void writesTheExampleByteForByte();
    void read_data();
    void read();
    void refusedWholeWithTheFirstProblem_data();
    void refusedWholeWithTheFirstProblem();
    void writeThenReadGivesBackEveryField_data();
    void writeThenReadGivesBackEveryField();
    void writeRefusesWhatWouldNotReadBack_data();
    void writeRefusesWhatWouldNotReadBack();
    void failedWriteKeepsTheOldFile_data();
    void failedWriteKeepsTheOldFile();
    void missingOrUnreadableFileIsRefused();
    void randomFilesAreLoadedOrRefusedWhole();
    void examplesAreWellFormedScripts();

private:
    QTemporaryDir m_dir;
};

void tst_Script_File::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void tst_Script_File::writesTheExampleByteForByte()
{
    const Action_List list = listOf({action(1, "meb", {120, 10, 130, 10}), action(2, "wait", {500}), action(3, "end", {0})});
    const QString path = m_dir.filePath(QStringLiteral("greeting.sct"));
    QString why;
    QVERIFY2(Write_Script_File(path, QStringLiteral("Greeting"), QStringLiteral("05-12-2026"), list, &why), qPrintable(why));
    QCOMPARE(contents(path), Example);

    Action_List read;
    Script_Header header;
    QVERIFY2(Read_Script_File(path, read, header, &why), qPrintable(why));
    QCOMPARE(describe(header, read), (QStringList{"Greeting", "05-12-2026", "ORVIK", "3", "1 meb 120 10 130 10",
                                                  "2 wait 500", "3 end 0"}));
}

void tst_Script_File::read_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("expected"); // name, date, software, count, then the actions

    const QStringList example{"Greeting", "05-12-2026", "ORVIK", "3", "1 meb 120 10 130 10", "2 wait 500", "3 end 0"};
    QByteArray lf = Example;
    lf.replace("\r\n", "\n");
    QByteArray cr = Example;
    cr.replace("\r\n", "\r");

    QTest::newRow("LF lines") << lf << example;
    QTest::newRow("CR lines") << cr << example;
    QTest::newRow("byte-order mark") << "\xEF\xBB\xBF" + Example << example;
    QTest::newRow("names in any letter case")
        << crlf({"[general]", "SOFTWARE=ORVIK", "NAME=Greeting", "dAtE=05-12-2026", "[Commands]", "Nb_Action=3",
                 "ACTION_1=meb;120;10;130;10", "Action_2=wait;500", "aCtIoN_3=end;0"})
        << example;
    QTest::newRow("blanks around names and values")
        << crlf({"  [ GENERAL ] ", "software = ORVIK", "\tName\t=  Greeting  ", "Date= 05-12-2026", "[COMMANDS]",
                 " nb_action = 3 ", "action_1 =  meb; 120 ;10;\t130;10  ", "action_2=wait;500", "action_3=end;0"})
        << example;
    QTest::newRow("comments and lines without =")
        << crlf({"; written by hand", "[GENERAL]", "software=ORVIK", "just text", "Name=Greeting", "Date=05-12-2026",
                 "", "[COMMANDS]", ";nb_action=9", "nb_action=3", "action_1=meb;120;10;130;10", "action_2=wait;500",
                 "; action_3=wait;1", "action_3=end;0"})
        << example;
    QTest::newRow("the count governs")
        << withCommands({"nb_action=2", "action_1=wait;1", "action_2=end;0", "action_3=wait;3"})
        << QStringList{"T", "", "", "2", "1 wait 1", "2 end 0"};
    QTest::newRow("lines in any order")
        << withCommands({"action_2=end;0", "action_1=wait;1", "nb_action=2"})
        << QStringList{"T", "", "", "2", "1 wait 1", "2 end 0"};
    QTest::newRow("first section and first key win")
        << crlf({"[GENERAL]", "Name=First", "name=Second", "[COMMANDS]", "nb_action=1", "action_1=end;0",
                 "action_1=end;5", "[GENERAL]", "Date=later section", "[COMMANDS]", "nb_action=2"})
        << QStringList{"First", "", "", "1", "1 end 0"};
    QTest::newRow("other software, no date")
        << crlf({"[GENERAL]", "software=SOMETHING ELSE", "Name=X", "[COMMANDS]", "nb_action=1", "action_1=end;0"})
        << QStringList{"X", "", "SOMETHING ELSE", "1", "1 end 0"};
    QTest::newRow("no GENERAL section") << crlf({"[COMMANDS]", "nb_action=0"}) << QStringList{"", "", "", "0"};
    QTest::newRow("title cut to 149 characters")
        << crlf({"[GENERAL]", "Name=" + QByteArray(100, 'a') + QByteArray(100, 'b'), "[COMMANDS]", "nb_action=0"})
        << QStringList{QString(100, u'a') + QString(49, u'b'), "", "", "0"};
    QTest::newRow("Windows-1252 when not UTF-8")
        << crlf({"[GENERAL]", "Name=Caf\xE9 \x80", "[COMMANDS]", "nb_action=0"})
        << QStringList{QStringLiteral("Café €"), "", "", "0"};
    QTest::newRow("UTF-8") << crlf({"[GENERAL]", "Name=Caf\xC3\xA9 \xE2\x82\xAC", "[COMMANDS]", "nb_action=0"})
                           << QStringList{QStringLiteral("Café €"), "", "", "0"};
    QTest::newRow("value holding =") << crlf({"[GENERAL]", "Name=a=b", "[COMMANDS]", "nb_action=0"})
                                     << QStringList{"a=b", "", "", "0"};
    QTest::newRow("signs, leading zeros, 32-bit ends")
        << withCommands({"nb_action= +1", "action_1=mss; +18 ;-0;007;-2147483648;2147483647"})
        << QStringList{"T", "", "", "1", "1 mss 18 0 7 -2147483648 2147483647"};
    QTest::newRow("kinds and value counts not checked")
        << withCommands({"nb_action=2", "action_1=jump;1;2;3;4;5;6;7;8;9;10", "action_2=meb ;1"})
        << QStringList{"T", "", "", "2", "1 jump 1 2 3 4 5 6 7 8 9 10", "2 meb  1"};
}

void tst_Script_File::read()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, expected);

    Action_List list;
    Script_Header header;
    QString why;
    QVERIFY2(Parse_Script(bytes, list, header, &why), qPrintable(why));
    QCOMPARE(describe(header, list), expected);
}

void tst_Script_File::refusedWholeWithTheFirstProblem_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("why");

    QTest::newRow("empty file") << QByteArray() << "[COMMANDS] is missing";
    QTest::newRow("not a script") << QByteArray("\x7F" "ELF\x02\x01\x01\0\0\0", 10) << "[COMMANDS] is missing";
    QTest::newRow("no count") << withCommands({"action_1=end;0"}) << "nb_action is missing";
    QTest::newRow("count in another section")
        << crlf({"[GENERAL]", "nb_action=1", "[COMMANDS]", "action_1=end;0"}) << "nb_action is missing";
    QTest::newRow("empty count") << withCommands({"nb_action="}) << "nb_action is empty";
    QTest::newRow("count not a number") << withCommands({"nb_action=three"}) << "nb_action \"three\" is not a whole number";
    QTest::newRow("count 2.5") << withCommands({"nb_action=2.5"}) << "nb_action \"2.5\" is not a whole number";
    QTest::newRow("count 1e3") << withCommands({"nb_action=1e3"}) << "nb_action \"1e3\" is not a whole number";
    QTest::newRow("count below 0") << withCommands({"nb_action=-1"}) << "nb_action \"-1\" is outside 0 to 32767";
    QTest::newRow("count above 32767") << withCommands({"nb_action=32768"}) << "nb_action \"32768\" is outside 0 to 32767";
    QTest::newRow("count beyond 32 bits")
        << withCommands({"nb_action=99999999999"}) << "nb_action \"99999999999\" is outside 0 to 32767";
    QTest::newRow("action within the count missing")
        << withCommands({"nb_action=3", "action_1=wait;1", "action_2=wait;1", "action_4=end;0"}) << "action_3 is missing";
    QTest::newRow("first problem reported")
        << withCommands({"nb_action=3", "action_1=wait;x", "action_3=end;"}) << "action_1: value 1 \"x\" is not a whole number";
    QTest::newRow("key with a leading zero") << withCommands({"nb_action=1", "action_01=end;0"}) << "action_1 is missing";
    QTest::newRow("action in a later COMMANDS")
        << withCommands({"nb_action=1", "[COMMANDS]", "action_1=end;0"}) << "action_1 is missing";
    QTest::newRow("no value") << withCommands({"nb_action=1", "action_1=end"}) << "action_1 has no value";
    QTest::newRow("empty line text") << withCommands({"nb_action=1", "action_1="}) << "action_1 has no value";
    QTest::newRow("trailing ;") << withCommands({"nb_action=1", "action_1=meb;1;2;"}) << "action_1: value 3 is empty";
    QTest::newRow("empty value between") << withCommands({"nb_action=1", "action_1=meb;1;;2"}) << "action_1: value 2 is empty";
    QTest::newRow("blank value") << withCommands({"nb_action=1", "action_1=wait; "}) << "action_1: value 1 is empty";
    QTest::newRow("decimal") << withCommands({"nb_action=1", "action_1=wait;2.5"})
                             << "action_1: value 1 \"2.5\" is not a whole number";
    QTest::newRow("exponent") << withCommands({"nb_action=1", "action_1=wait;1e3"})
                              << "action_1: value 1 \"1e3\" is not a whole number";
    QTest::newRow("hexadecimal") << withCommands({"nb_action=1", "action_1=wait;0x10"})
                                 << "action_1: value 1 \"0x10\" is not a whole number";
    QTest::newRow("two numbers") << withCommands({"nb_action=1", "action_1=wait;1 2"})
                                 << "action_1: value 1 \"1 2\" is not a whole number";
    QTest::newRow("sign alone") << withCommands({"nb_action=1", "action_1=wait;-"})
                                << "action_1: value 1 \"-\" is not a whole number";
    QTest::newRow("above 32 bits") << withCommands({"nb_action=1", "action_1=wait;2147483648"})
                                   << "action_1: value 1 \"2147483648\" is outside -2147483648 to 2147483647";
    QTest::newRow("below 32 bits") << withCommands({"nb_action=1", "action_1=wait;-2147483649"})
                                   << "action_1: value 1 \"-2147483649\" is outside -2147483648 to 2147483647";
    // Cut to 149 characters, the last number would read as 12 instead of 12345.
    QTest::newRow("action line too long")
        << withCommands({"nb_action=1", "action_1=" + QByteArray(144, 'x') + ";12345"})
        << "action_1 is longer than 149 characters";
}

void tst_Script_File::refusedWholeWithTheFirstProblem()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, why);

    Action_List list = sentinelList();
    Script_Header header = sentinelHeader();
    QString reason;
    QVERIFY(!Parse_Script(bytes, list, header, &reason));
    QCOMPARE(reason, why);
    QVERIFY(sameList(list, sentinelList()));
    QVERIFY(sameHeader(header, sentinelHeader()));
}

void tst_Script_File::writeThenReadGivesBackEveryField_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QList<qint32>>("values"); // one action per value count, each counting up from the last
    QTest::addColumn<QString>("titleRead");

    QTest::newRow("no actions") << "Empty" << "06-12-2026" << QList<qint32>{} << "Empty";
    QTest::newRow("blanks around the title not kept") << "  Wave  " << " today " << QList<qint32>{1} << "Wave";
    QTest::newRow("empty title and date") << "" << "" << QList<qint32>{4, 1} << "";
    QTest::newRow("letters beyond ASCII") << QStringLiteral("Grüße ✓ 😀") << QStringLiteral("6 déc.") << QList<qint32>{3}
                                          << QStringLiteral("Grüße ✓ 😀");
    QTest::newRow("title of 200 characters") << QString(200, u't') << "d" << QList<qint32>{1} << QString(149, u't');
    QTest::newRow("many actions") << "Long" << "d" << QList<qint32>(500, 8) << "Long";
}

void tst_Script_File::writeThenReadGivesBackEveryField()
{
    QFETCH(QString, title);
    QFETCH(QString, date);
    QFETCH(QList<qint32>, values);
    QFETCH(QString, titleRead);

    static const QStringList commands{"meb", "mla", "mra", "mre", "mrm", "mrn", "mss", "end", "wait"};
    Action_List list;
    qint64 next = INT32_MIN;
    for (qsizetype i = 0; i < values.size(); ++i) {
        QList<qint32> actionValues;
        for (int v = 0; v < values[i]; ++v, next += 104729)
            actionValues << qint32(next % (qint64(INT32_MAX) + 1));
        Add_Script_Action(list, action(qint32(i + 1), commands[i % commands.size()], actionValues));
    }
    const QString path = m_dir.filePath(QStringLiteral("round trip.sct"));
    QString why;
    QVERIFY2(Write_Script_File(path, title, date, list, &why), qPrintable(why));

    Action_List read;
    Script_Header header;
    QVERIFY2(Read_Script_File(path, read, header, &why), qPrintable(why));
    QCOMPARE(header.Script_Name, titleRead);
    QCOMPARE(header.Script_Date, date.trimmed());
    QCOMPARE(header.Script_Software, QStringLiteral("ORVIK"));
    QCOMPARE(header.Script_Nb_Action, list.Nb_Action);
    QVERIFY(sameList(read, list));
}

void tst_Script_File::writeRefusesWhatWouldNotReadBack_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("date");
    QTest::addColumn<int>("count"); // -1: as many as the list holds
    QTest::addColumn<QString>("command");
    QTest::addColumn<QList<qint32>>("values");
    QTest::addColumn<QString>("why");

    QTest::newRow("action without value") << "T" << "d" << -1 << "end" << QList<qint32>{} << "action_1 has no value";
    QTest::newRow("; in the command") << "T" << "d" << -1 << "me;b" << QList<qint32>{1}
                                      << "action_1: the command \"me;b\" holds \";\" or a line break";
    QTest::newRow("line break in the command") << "T" << "d" << -1 << "end\n" << QList<qint32>{1}
                                               << "action_1: the command \"end\n\" holds \";\" or a line break";
    QTest::newRow("line break in the title") << "Two\nlines" << "d" << -1 << "end" << QList<qint32>{0}
                                             << "the title holds a line break";
    QTest::newRow("line break in the date") << "T" << "06\r12" << -1 << "end" << QList<qint32>{0}
                                            << "the date holds a line break";
    QTest::newRow("action line too long") << "T" << "d" << -1 << "mrm" << QList<qint32>(13, INT32_MIN)
                                          << "action_1 is longer than 149 characters";
    QTest::newRow("count above the actions held") << "T" << "d" << 3 << "end" << QList<qint32>{0}
                                                  << "the list counts 3 actions but holds 1";
    QTest::newRow("negative count") << "T" << "d" << -5 << "end" << QList<qint32>{0}
                                    << "the list counts -5 actions but holds 1";
}

void tst_Script_File::writeRefusesWhatWouldNotReadBack()
{
    QFETCH(QString, title);
    QFETCH(QString, date);
    QFETCH(int, count);
    QFETCH(QString, command);
    QFETCH(QList<qint32>, values);
    QFETCH(QString, why);

    Action_List list = listOf({action(1, command, values)});
    if (count != -1)
        list.Nb_Action = count;
    const QString path = m_dir.filePath(QStringLiteral("refused.sct"));
    QString reason;
    QVERIFY(!Write_Script_File(path, title, date, list, &reason));
    QCOMPARE(reason, QDir::toNativeSeparators(path) + QStringLiteral(": ") + why);
    QVERIFY(!QFile::exists(path));
}

void tst_Script_File::failedWriteKeepsTheOldFile_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("missing folder") << "missing folder";
    QTest::newRow("folder is a regular file") << "folder is a file";
    QTest::newRow("read-only file") << "read-only";
    QTest::newRow("immutable file") << "immutable";
    QTest::newRow("full disk") << "full disk";
}

void tst_Script_File::failedWriteKeepsTheOldFile()
{
    QFETCH(QString, how);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString path = dir.filePath(QStringLiteral("old.sct"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(Example);
    }
    if (how == QLatin1String("missing folder"))
        path = dir.filePath(QStringLiteral("no such folder/new.sct"));
    else if (how == QLatin1String("folder is a file"))
        path = dir.filePath(QStringLiteral("old.sct/new.sct"));

    if (how == QLatin1String("read-only")) {
        if (::geteuid() == 0)
            QSKIP("permissions stop nothing for root: the immutable file stands in");
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner));
    }
    if (how == QLatin1String("immutable") && !setImmutable(path, true))
        QSKIP("the immutable attribute cannot be set here");
    auto cleanUp = qScopeGuard([&] { setImmutable(dir.filePath(QStringLiteral("old.sct")), false); });

    // Bigger than the file-size limit below.
    Action_List list;
    for (qint32 k = 1; k <= 2000; ++k)
        Add_Script_Action(list, action(k, QStringLiteral("mrm"), {1, 2, 3, 4, 5, 6, 7, 8}));

    const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    QString why;
    bool written = false;
    if (how == QLatin1String("full disk")) {
        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        rlimit small = saved;
        small.rlim_cur = 4096;
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        written = Write_Script_File(path, QStringLiteral("New"), QStringLiteral("d"), list, &why);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
    } else {
        written = Write_Script_File(path, QStringLiteral("New"), QStringLiteral("d"), list, &why);
    }

    QVERIFY(!written);
    QVERIFY2(why.startsWith(QDir::toNativeSeparators(path) + QStringLiteral(": ")) && why.size() > path.size() + 2,
             qPrintable(why));
    QCOMPARE(contents(dir.filePath(QStringLiteral("old.sct"))), Example);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);
}

void tst_Script_File::missingOrUnreadableFileIsRefused()
{
    Action_List list = sentinelList();
    Script_Header header = sentinelHeader();
    for (const QString &path : {m_dir.filePath(QStringLiteral("none.sct")), m_dir.path(), QStringLiteral("/dev/zero")}) {
        QString why;
        QVERIFY2(!Read_Script_File(path, list, header, &why), qPrintable(path));
        QVERIFY(!why.isEmpty());
        QVERIFY(sameList(list, sentinelList()));
        QVERIFY(sameHeader(header, sentinelHeader()));
    }
}

// Whatever the bytes, the reader loads or refuses whole, and what it loads writes back to a
// file that reads the same.
void tst_Script_File::randomFilesAreLoadedOrRefusedWhole()
{
    QRandomGenerator random(20261206);
    int loaded = 0;
    for (int i = 0; i < 4000; ++i) {
        QByteArray bytes;
        switch (i % 4) {
        case 0:
            bytes = randomScript(random);
            break;
        case 1:
        case 2:
            bytes = mutated(randomScript(random), random);
            break;
        default:
            for (int n = random.bounded(200); n > 0; --n)
                bytes += interestingByte(random);
            break;
        }
        const QByteArray what = "case " + QByteArray::number(i) + ": " + bytes.toPercentEncoding();

        Action_List list = sentinelList();
        Script_Header header = sentinelHeader();
        QString why;
        if (!Parse_Script(bytes, list, header, &why)) {
            QVERIFY2(!why.isEmpty(), what.constData());
            QVERIFY2(sameList(list, sentinelList()) && sameHeader(header, sentinelHeader()), what.constData());
            continue;
        }
        ++loaded;
        QVERIFY2(header.Script_Nb_Action == list.Nb_Action || (list.Nb_Action == 0 && header.Script_Nb_Action == 0),
                 what.constData());
        for (qint32 k = 0; k < list.Nb_Action; ++k) {
            const Script_Action &a = list.Actions[k];
            QVERIFY2(a.Number == k + 1 && a.Nb_Values == a.Values.size() && a.Nb_Values > 0, what.constData());
        }

        QByteArray written;
        QVERIFY2(Format_Script(header.Script_Name, header.Script_Date, list, written, &why),
                 (what + " | " + why.toUtf8()).constData());
        Action_List again = sentinelList();
        Script_Header againHeader;
        QVERIFY2(Parse_Script(written, again, againHeader, &why), (what + " | " + why.toUtf8()).constData());
        QVERIFY2(sameList(again, list), what.constData());
        QVERIFY2(againHeader.Script_Name == header.Script_Name && againHeader.Script_Date == header.Script_Date
                     && againHeader.Script_Nb_Action == header.Script_Nb_Action,
                 what.constData());
    }
    // Both ways must have been exercised for the test to mean anything.
    QVERIFY2(loaded > 400 && loaded < 3600, qPrintable(QString::number(loaded)));
}

void tst_Script_File::examplesAreWellFormedScripts()
{
    const QDir examples(QStringLiteral(ORVIK_BUILD_EXAMPLES));
    const QStringList names = examples.entryList({QStringLiteral("*.sct")});
    QCOMPARE(names, (QStringList{"greeting.sct", "look_around.sct", "nod.sct"}));
    for (const QString &name : names) {
        Action_List list;
        Script_Header header;
        QString why;
        QVERIFY2(Read_Script_File(examples.filePath(name), list, header, &why), qPrintable(name + QStringLiteral(": ") + why));
        QVERIFY2(list.Nb_Action > 1 && list.Actions[list.Nb_Action - 1].Command == QLatin1String("end"), qPrintable(name));

        // Byte for byte what the program itself would write: CR LF, no stray blanks.
        QByteArray bytes;
        QVERIFY(Format_Script(header.Script_Name, header.Script_Date, list, bytes));
        QCOMPARE(contents(examples.filePath(name)), bytes);

        for (qint32 k = 0; k < list.Nb_Action; ++k) {
            const Script_Action &a = list.Actions[k];
            const QString where = name + u' ' + QString::number(a.Number) + u' ' + a.Command;
            if (a.Command == QLatin1String("wait")) {
                QVERIFY2(a.Nb_Values == 1 && a.Values[0] >= 1 && a.Values[0] <= 65535, qPrintable(where));
                continue;
            }
            if (a.Command == QLatin1String("end"))
                continue;
            const auto kind = std::find_if(Frames::Moves.begin(), Frames::Moves.end(), [&a](const Frames::Kind &m) {
                return a.Command == QLatin1StringView(m.mnemonic.data(), qsizetype(m.mnemonic.size()));
            });
            QVERIFY2(kind != Frames::Moves.end(), qPrintable(where));
            QVERIFY2(a.Nb_Values == kind->dataBytes, qPrintable(where));
            for (qint32 v : a.Values)
                QVERIFY2(v >= 0 && v <= 255, qPrintable(where));
        }
    }
}

QTEST_GUILESS_MAIN(tst_Script_File)
#include "tst_script_file.moc"
