#include "scripts/Script_File.h"
#include "scripts/Sys_INI_File.h"

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
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

QByteArray crlf(const QByteArrayList &lines)
{
    return lines.join("\r\n") + "\r\n";
}

const QByteArray Example = crlf({"[GENERAL]", "software=ORVIK", "Name=Greeting", "Date=05-12-2026", "[COMMANDS]",
                                  "nb_action=3", "action_1=meb;120;10;130;10", "action_2=wait;500", "action_3=end;0"});
const QStringList ExampleRead{"Greeting", "05-12-2026", "ORVIK", "3", "1 meb 120 10 130 10", "2 wait 500", "3 end 0"};

QByteArray commands(const QByteArrayList &lines)
{
    return crlf(QByteArrayList{"[GENERAL]", "Name=T", "[COMMANDS]"} + lines);
}

Script_Action action(qint32 number, const QString &command, const QList<qint32> &values)
{
    return Script_Action{number, command, values, qint32(values.size())};
}

// Name, date, software, count, then "1 meb 120 10 130 10" per action of the script.
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

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool setImmutable(const QString &path, bool on)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    int flags = 0;
    bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0)
        ::close(fd);
    return done;
}

// Mostly the bytes that matter to the reader, now and then any byte.
char randomByte(QRandomGenerator &random)
{
    static const char bytes[] = "=;[]\r\n \t-+0123456789aAnN_\xEF\xBB\xBF\xC3\xA9\xE9\x80"; // and its 0
    return random.bounded(4) == 0 ? char(random.bounded(256)) : bytes[random.bounded(int(sizeof bytes))];
}

QByteArray randomScript(QRandomGenerator &random)
{
    static const QByteArrayList kinds{"meb", "mrm", "mss", "end", "wait", "", "x y"};
    static const QList<qint64> extremes{-1, INT32_MAX, INT32_MIN, qint64(INT32_MAX) + 1};
    const int count = random.bounded(12);
    QByteArrayList lines{"[GENERAL]", "Name=Script " + QByteArray::number(random.bounded(1000)), "[COMMANDS]",
                         "nb_action=" + QByteArray::number(count)};
    for (int k = 1; k <= count + random.bounded(2); ++k) {
        QByteArray line = "action_" + QByteArray::number(k) + '=' + kinds[random.bounded(int(kinds.size()))];
        for (int v = random.bounded(1, 10); v > 0; --v)
            line += ';' + QByteArray::number(random.bounded(30) == 0 ? extremes[random.bounded(4)] : random.bounded(300));
        lines << line;
    }
    return random.bounded(4) == 0 ? lines.join('\n') : crlf(lines);
}

QByteArray mutated(QByteArray bytes, QRandomGenerator &random)
{
    for (int m = random.bounded(1, 6); m > 0; --m) {
        const int at = random.bounded(int(bytes.size()) + 1);
        switch (random.bounded(4)) {
        case 0:
            bytes.insert(at, randomByte(random));
            break;
        case 1:
            bytes.remove(at, random.bounded(1, 8));
            break;
        case 2:
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
    void writesTheExampleByteForByte();
    void read_data();
    void read();
    void writeThenReadGivesBackEveryField_data();
    void writeThenReadGivesBackEveryField();
    void writeRefusesWhatWouldNotReadBack_data();
    void writeRefusesWhatWouldNotReadBack();
    void failedWriteKeepsTheOldFile_data();
    void failedWriteKeepsTheOldFile();
    void randomFilesAreLoadedOrRefusedWhole();
    void iniValue_data();
    void iniValue();
    void examplesAreWellFormedScripts();
    void actionLines_data();
    void actionLines();

private:
    QTemporaryDir m_dir;
};

void tst_Script_File::writesTheExampleByteForByte()
{
    Action_List list;
    for (const Script_Action &a : {action(1, "meb", {120, 10, 130, 10}), action(2, "wait", {500}), action(3, "end", {0})})
        Add_Script_Action(list, a);
    const QString path = m_dir.filePath(QStringLiteral("greeting.sct"));
    QString why;
    QVERIFY2(Write_Script_File(path, QStringLiteral("Greeting"), QStringLiteral("05-12-2026"), list, &why), qPrintable(why));
    QCOMPARE(contents(path), Example);

    Action_List read;
    Script_Header header;
    QVERIFY2(Read_Script_File(path, read, header, &why), qPrintable(why));
    QCOMPARE(describe(header, read), ExampleRead);
}

void tst_Script_File::read_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("expected"); // as describe() gives it
    QTest::addColumn<QString>("why");          // "": loaded; else refused whole with this first problem

    const auto loads = [](const char *name, const QByteArray &bytes, const QStringList &expected) {
        QTest::newRow(name) << bytes << expected << QString();
    };
    const auto refused = [](const QByteArray &name, const QByteArray &bytes, const QString &why) {
        QTest::newRow(name.constData()) << bytes << QStringList() << why;
    };
    loads("LF lines", QByteArray(Example).replace("\r\n", "\n"), ExampleRead);
    loads("CR lines", QByteArray(Example).replace("\r\n", "\r"), ExampleRead);
    loads("byte-order mark", "\xEF\xBB\xBF" + Example, ExampleRead);
    loads("names in any letter case",
          crlf({"[general]", "SOFTWARE=ORVIK", "NAME=Greeting", "dAtE=05-12-2026", "[Commands]", "Nb_Action=3",
                "ACTION_1=meb;120;10;130;10", "Action_2=wait;500", "aCtIoN_3=end;0"}),
          ExampleRead);
    loads("blanks, comments, lines without =",
          crlf({"; by hand", "  [ GENERAL ] ", "software = ORVIK", "\tName\t=  Greeting  ", "just text",
                "Date= 05-12-2026", "[COMMANDS]", ";nb_action=9", " nb_action = 3 ",
                "action_1 =  meb; 120 ;10;\t130;10  ", "action_2=wait;500", "action_3=end;0"}),
          ExampleRead);
    loads("the count governs", commands({"nb_action=2", "action_1=wait;1", "action_2=end;0", "action_3=wait;3"}),
          QStringList{"T", "", "", "2", "1 wait 1", "2 end 0"});
    loads("lines in any order", commands({"action_2=end;0", "action_1=wait;1", "nb_action=2"}),
          QStringList{"T", "", "", "2", "1 wait 1", "2 end 0"});
    loads("first section and first key win",
          crlf({"[GENERAL]", "Name=First", "name=Second", "[COMMANDS]", "nb_action=1", "action_1=end;0",
                "action_1=end;5", "[GENERAL]", "Date=later", "[COMMANDS]", "nb_action=2"}),
          QStringList{"First", "", "", "1", "1 end 0"});
    loads("no GENERAL section", crlf({"[COMMANDS]", "nb_action=0"}), QStringList{"", "", "", "0"});
    loads("title cut to 149 characters",
          crlf({"[GENERAL]", "Name=" + QByteArray(100, 'a') + QByteArray(100, 'b'), "[COMMANDS]", "nb_action=0"}),
          QStringList{QString(100, u'a') + QString(49, u'b'), "", "", "0"});
    loads("Windows-1252 when not UTF-8", crlf({"[GENERAL]", "Name=Caf\xE9 \x80=", "[COMMANDS]", "nb_action=0"}),
          QStringList{QStringLiteral("Café €="), "", "", "0"});
    loads("signs, leading zeros, 32-bit ends",
          commands({"nb_action= +1", "action_1=mss; +18 ;-0;007;-2147483648;2147483647"}),
          QStringList{"T", "", "", "1", "1 mss 18 0 7 -2147483648 2147483647"});
    loads("kinds and value counts not checked",
          commands({"nb_action=2", "action_1=jump;1;2;3;4;5;6;7;8;9;10", "action_2=meb ;1"}),
          QStringList{"T", "", "", "2", "1 jump 1 2 3 4 5 6 7 8 9 10", "2 meb  1"});
    refused("empty file", QByteArray(), "[COMMANDS] is missing");
    refused("no count", commands({"action_1=end;0"}), "nb_action is missing");
    refused("count in another section", crlf({"[GENERAL]", "nb_action=1", "[COMMANDS]", "action_1=end;0"}),
            "nb_action is missing");
    refused("empty count", commands({"nb_action="}), "nb_action is empty");
    refused("count 2.5", commands({"nb_action=2.5"}), "nb_action \"2.5\" is not a whole number");
    refused("count below 0", commands({"nb_action=-1"}), "nb_action \"-1\" is outside 0 to 32767");
    refused("count above 32767", commands({"nb_action=32768"}), "nb_action \"32768\" is outside 0 to 32767");
    refused("count beyond 32 bits", commands({"nb_action=99999999999"}),
            "nb_action \"99999999999\" is outside 0 to 32767");
    refused("action within the count missing",
            commands({"nb_action=3", "action_1=wait;1", "action_2=wait;1", "action_4=end;0"}),
            "action_3 is missing");
    refused("key with a leading zero", commands({"nb_action=1", "action_01=end;0"}), "action_1 is missing");
    refused("action in a later COMMANDS", commands({"nb_action=1", "[COMMANDS]", "action_1=end;0"}),
            "action_1 is missing");
    refused("first problem reported", commands({"nb_action=3", "action_1=wait;x", "action_3=end;"}),
            "action_1: value 1 \"x\" is not a whole number");
    refused("no value", commands({"nb_action=1", "action_1=end"}), "action_1 has no value");
    refused("trailing ;", commands({"nb_action=1", "action_1=meb;1;2;"}), "action_1: value 3 is empty");
    refused("blank value", commands({"nb_action=1", "action_1=meb;1; ;2"}), "action_1: value 2 is empty");
    for (const char *value : {"2.5", "1e3", "0x10", "1 2", "-"})
        refused(QByteArray("value ") + value, commands({"nb_action=1", QByteArray("action_1=wait;") + value}),
                QStringLiteral("action_1: value 1 \"%1\" is not a whole number").arg(value));
    for (const char *value : {"2147483648", "-2147483649"})
        refused(QByteArray("value ") + value, commands({"nb_action=1", QByteArray("action_1=wait;") + value}),
                QStringLiteral("action_1: value 1 \"%1\" is outside -2147483648 to 2147483647").arg(value));
    // Cut to 149 characters, the last value would read as 12 instead of 12345.
    refused("action line too long", commands({"nb_action=1", "action_1=" + QByteArray(144, 'x') + ";12345"}),
            "action_1 is longer than 149 characters");
}

void tst_Script_File::read()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, expected);
    QFETCH(QString, why);

    // A file refused leaves whatever the list and the header held.
    Action_List list;
    Script_Header header;
    if (!why.isEmpty()) {
        Add_Script_Action(list, action(1, QStringLiteral("old"), {1}));
        header = {QStringLiteral("Old"), QStringLiteral("then"), QStringLiteral("ORVIK"), 1};
        expected = describe(header, list);
    }
    QString reason;
    QCOMPARE(Parse_Script(bytes, list, header, &reason), why.isEmpty());
    QCOMPARE(reason, why);
    QCOMPARE(describe(header, list), expected);
    if (!why.isEmpty())
        QCOMPARE(list.Actions.size(), 1);
}

void tst_Script_File::writeThenReadGivesBackEveryField_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QList<qint32>>("valueCounts"); // one action each
    QTest::addColumn<QString>("titleRead");

    QTest::newRow("no actions") << "Empty" << "06-12-2026" << QList<qint32>{} << "Empty";
    QTest::newRow("blanks around not kept") << "  Wave  " << " today " << QList<qint32>{1, 4} << "Wave";
    QTest::newRow("beyond ASCII") << QStringLiteral("Grüße ✓ 😀") << "" << QList<qint32>{3} << QStringLiteral("Grüße ✓ 😀");
    QTest::newRow("title of 149 characters")
        << QString(149, u't') << "d" << QList<qint32>(500, 8) << QString(149, u't');
}

void tst_Script_File::writeThenReadGivesBackEveryField()
{
    QFETCH(QString, title);
    QFETCH(QString, date);
    QFETCH(QList<qint32>, valueCounts);
    QFETCH(QString, titleRead);

    static const QStringList kinds{"meb", "mla", "mra", "mre", "mrm", "mrn", "mss", "end", "wait"};
    Action_List list;
    qint64 value = INT32_MIN;
    for (qsizetype i = 0; i < valueCounts.size(); ++i) {
        QList<qint32> values;
        for (int v = 0; v < valueCounts[i]; ++v, value += 104729)
            values << qint32(value % (qint64(INT32_MAX) + 1));
        Add_Script_Action(list, action(qint32(i + 1), kinds[i % kinds.size()], values));
    }
    const QString path = m_dir.filePath(QStringLiteral("round trip.sct"));
    QString why;
    QVERIFY2(Write_Script_File(path, title, date, list, &why), qPrintable(why));

    Action_List read;
    Script_Header header;
    QVERIFY2(Read_Script_File(path, read, header, &why), qPrintable(why));
    const Script_Header written{titleRead, date.trimmed(), QStringLiteral("ORVIK"), list.Nb_Action};
    QCOMPARE(describe(header, read), describe(written, list));
}

void tst_Script_File::writeRefusesWhatWouldNotReadBack_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QList<qint32>>("values");
    QTest::addColumn<QString>("why");

    QTest::newRow("action without value") << "T" << "d" << "end" << QList<qint32>{} << "action_1 has no value";
    QTest::newRow("; in the command") << "T" << "d" << "me;b" << QList<qint32>{1}
                                      << "action_1: the command \"me;b\" holds \";\" or a line break";
    QTest::newRow("line break in the title") << "Two\r\nlines" << "d" << "end" << QList<qint32>{0}
                                             << "the title holds a line break";
    QTest::newRow("action line too long") << "T" << "d" << "mrm" << QList<qint32>(13, INT32_MIN)
                                          << "action_1 is longer than 149 characters";
    QTest::newRow("title of 150 characters") << QString(150, u't') << "d" << "end" << QList<qint32>{0}
                                             << "the title is longer than 149 characters";
    QTest::newRow("date of 150 characters") << "T" << QString(150, u'1') << "end" << QList<qint32>{0}
                                            << "the date is longer than 149 characters";
}

void tst_Script_File::writeRefusesWhatWouldNotReadBack()
{
    QFETCH(QString, title);
    QFETCH(QString, date);
    QFETCH(QString, command);
    QFETCH(QList<qint32>, values);
    QFETCH(QString, why);

    Action_List list;
    Add_Script_Action(list, action(1, command, values));
    const QString path = m_dir.filePath(QStringLiteral("refused.sct"));
    QString reason;
    QVERIFY(!Write_Script_File(path, title, date, list, &reason));
    QCOMPARE(reason, QDir::toNativeSeparators(path) + QStringLiteral(": ") + why);
    QVERIFY(!QFile::exists(path));
}

void tst_Script_File::failedWriteKeepsTheOldFile_data()
{
    QTest::addColumn<QString>("target"); // in a folder with old.sct, a named pipe, a folder, a device
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("why"); // "": the system's own; "saved": written, through the link

    QTest::newRow("missing folder") << "no such folder/new.sct" << "" << "";
    QTest::newRow("folder is a regular file") << "old.sct/new.sct" << "" << "";
    QTest::newRow("read-only file") << "old.sct" << "read-only" << "";
    QTest::newRow("immutable file") << "old.sct" << "immutable" << "";
    QTest::newRow("full disk") << "old.sct" << "full disk" << "";
    // A save never puts a file in place of anything but a regular file; a link is followed.
    QTest::newRow("named pipe") << "pipe" << "" << "it is a named pipe, not a regular file";
    QTest::newRow("folder") << "folder" << "" << "it is a directory, not a regular file";
    QTest::newRow("link to a regular file") << "old.sct" << "link" << "saved";
    QTest::newRow("link to a named pipe") << "pipe" << "link" << "it is a named pipe, not a regular file";
    if (::geteuid() == 0) // a copy of /dev/null
        QTest::newRow("device node") << "null" << "" << "it is a device, not a regular file";
}

// Tests run as root, for whom permissions stop nothing: the immutable attribute and a file-size
// limit (standing in for a full disk) make a write fail all the same.
void tst_Script_File::failedWriteKeepsTheOldFile()
{
    QFETCH(QString, target);
    QFETCH(QString, how);
    QFETCH(QString, why);

    QTemporaryDir dir;
    const QString old = dir.filePath(QStringLiteral("old.sct"));
    QVERIFY(writeFile(old, Example));
    QVERIFY(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe"))).constData(), 0600) == 0);
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    if (::geteuid() == 0)
        QVERIFY(::mknod(QFile::encodeName(dir.filePath(QStringLiteral("null"))).constData(), S_IFCHR | 0666,
                        makedev(1, 3)) == 0);
    const QString path = dir.filePath(how == u"link" ? QStringLiteral("link") : target);
    QVERIFY(how != u"link" || QFile::link(target, path));
    if (how == u"read-only" && (::geteuid() == 0 || !QFile::setPermissions(old, QFile::ReadOwner)))
        QSKIP("permissions stop nothing for root");
    if (how == u"immutable" && !setImmutable(old, true))
        QSKIP("the immutable attribute cannot be set here");
    auto mutableAgain = qScopeGuard([&] { setImmutable(old, false); });
    auto type = [&path] {
        struct stat status {};
        return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & S_IFMT : 0;
    };
    const auto typeBefore = type();

    Action_List list; // larger than the file-size limit below
    for (qint32 k = 1; k <= 2000; ++k)
        Add_Script_Action(list, action(k, QStringLiteral("mrm"), {1, 2, 3, 4, 5, 6, 7, 8}));
    const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

    rlimit saved{};
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
    const auto savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    if (how == u"full disk") {
        rlimit small = saved;
        small.rlim_cur = 4096;
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
    }
    QString reason;
    const bool written = Write_Script_File(path, QStringLiteral("New"), QStringLiteral("d"), list, &reason);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);

    QCOMPARE(type(), typeBefore); // still what it was, a link still a link
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);
    if (why == u"saved") {
        QVERIFY2(written, qPrintable(reason));
        QVERIFY(contents(old).startsWith("[GENERAL]\r\nsoftware=ORVIK\r\nName=New\r\n"));
        return;
    }
    QVERIFY(!written);
    const QString named = QDir::toNativeSeparators(path) + QStringLiteral(": ");
    QVERIFY2(reason.startsWith(named) && reason.size() > named.size(), qPrintable(reason));
    if (!why.isEmpty())
        QCOMPARE(reason, named + why);
    QCOMPARE(contents(old), Example);
}

// Whatever the bytes, the reader loads or refuses whole, and what it loads writes back to a
// file that reads the same.
void tst_Script_File::randomFilesAreLoadedOrRefusedWhole()
{
    QRandomGenerator random(20261206);
    const QStringList nothing = describe(Script_Header{}, Action_List{});
    int loaded = 0;
    for (int i = 0; i < 4000; ++i) {
        QByteArray bytes = i % 4 == 3 ? QByteArray() : randomScript(random);
        if (i % 4 == 3) {
            for (int n = random.bounded(200); n > 0; --n)
                bytes += randomByte(random);
        } else if (i % 4 != 0) {
            bytes = mutated(bytes, random);
        }
        const QByteArray what = "case " + QByteArray::number(i) + ": " + bytes.toPercentEncoding();

        Action_List list;
        Script_Header header;
        QString why;
        if (!Parse_Script(bytes, list, header, &why)) {
            QVERIFY2(!why.isEmpty() && describe(header, list) == nothing, what.constData());
            continue;
        }
        ++loaded;
        for (qint32 k = 0; k < list.Nb_Action; ++k)
            QVERIFY2(list.Actions[k].Number == k + 1 && list.Actions[k].Nb_Values > 0, what.constData());

        QByteArray written;
        QVERIFY2(Format_Script(header.Script_Name, header.Script_Date, list, written, &why), qPrintable(what + why));
        Action_List again;
        Script_Header againHeader;
        QVERIFY2(Parse_Script(written, again, againHeader, &why), qPrintable(what + why));
        againHeader.Script_Software = header.Script_Software;
        QVERIFY2(describe(againHeader, again) == describe(header, list), what.constData());
    }
    // Both outcomes must be common for the test to mean anything.
    QVERIFY2(loaded > 400 && loaded < 3600, qPrintable(QString::number(loaded)));
}

void tst_Script_File::iniValue_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");

    QTest::newRow("names in any letter case, blanks around") << Example << " general" << "NAME " << "Greeting";
    QTest::newRow("blanks around names in the file") << QByteArray("  [ Main ]\n\t key \t=x\n") << "main" << "KEY" << "x";
    QTest::newRow("after the first =, blanks removed") << QByteArray("[s]\nk = a = b \t\n") << "s" << "k" << "a = b";
    QTest::newRow("cut to 149 characters") << "[s]\nk=" + QByteArray(149, 'v') + "XYZ\n" << "s" << "k" << QString(149, u'v');
    QTest::newRow("first key wins") << QByteArray("[s]\n;k=0\nk=1\nK=2\n") << "s" << "k" << "1";
    QTest::newRow("only the first section of a name") << QByteArray("[s]\na=1\n[S]\nk=2\n") << "s" << "k" << "";
    QTest::newRow("key of another section") << Example << "GENERAL" << "nb_action" << "";
    QTest::newRow("missing section") << Example << "OTHER" << "Name" << "";
    QTest::newRow("key before any section") << QByteArray("k=1\n[s]\n") << "s" << "k" << "";
    QTest::newRow("missing file") << QByteArray() << "GENERAL" << "Name" << "";
}

void tst_Script_File::iniValue()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);

    const QString path = m_dir.filePath(QStringLiteral("values.ini"));
    QFile::remove(path);
    if (!file.isEmpty())
        QVERIFY(writeFile(path, file));
    QCOMPARE(Read_INI_Value(section, key, path), value);
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
        QVERIFY2(Read_Script_File(examples.filePath(name), list, header, &why), qPrintable(name + why));
        QCOMPARE(list.Actions.last().Command, QStringLiteral("end"));

        // Byte for byte what the program itself writes: CR LF, no stray blanks.
        QByteArray bytes;
        QVERIFY(Format_Script(header.Script_Name, header.Script_Date, list, bytes));
        QCOMPARE(contents(examples.filePath(name)), bytes);

        for (const Script_Action &a : std::as_const(list.Actions)) {
            const QString where = name + u' ' + QString::number(a.Number);
            const auto kind = std::find_if(Frames::Moves.begin(), Frames::Moves.end(), [&a](const Frames::Kind &m) {
                return a.Command == QLatin1StringView(m.mnemonic.data(), qsizetype(m.mnemonic.size()));
            });
            if (a.Command == QLatin1String("wait"))
                QVERIFY2(a.Nb_Values == 1 && a.Values[0] >= 1 && a.Values[0] <= 65535, qPrintable(where));
            else if (a.Command != QLatin1String("end"))
                QVERIFY2(kind != Frames::Moves.end() && a.Nb_Values == kind->dataBytes, qPrintable(where));
            for (qint32 v : a.Values)
                QVERIFY2(a.Command == QLatin1String("wait") || (v >= 0 && v <= 255), qPrintable(where));
        }
    }
}


void tst_Script_File::actionLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("actions"); // as describe() shows them
    QTest::addColumn<QString>("copied");      // the text copying them back gives
    QTest::addColumn<QString>("why");         // "": taken; else refused whole with this reason

    const auto takes = [](const char *name, const QString &text, const QStringList &actions, const QString &copied) {
        QTest::newRow(name) << text << actions << copied << QString();
    };
    const auto refused = [](const char *name, const QString &text, const QString &why) {
        QTest::newRow(name) << text << QStringList() << QString() << why;
    };
    takes("file's form", "mrn;96;0;108;0\nwait;500\n", {"1 mrn 96 0 108 0", "2 wait 500"},
          "mrn;96;0;108;0\nwait;500\n");
    takes("with names, any case, any order", "action_7=end;0\r\nACTION_2 = wait;20", {"1 end 0", "2 wait 20"},
          "end;0\nwait;20\n");
    takes("blanks and blank lines", "\n  meb; 1 ;+2;-3 ;4\t\r\n\r\n\rend;0\n\n", {"1 meb 1 2 -3 4", "2 end 0"},
          "meb;1;2;-3;4\nend;0\n");
    takes("lone CR", "wait;1\rwait;2", {"1 wait 1", "2 wait 2"}, "wait;1\nwait;2\n");
    takes("a command the robot does not know", "hello;1", {"1 hello 1"}, "hello;1\n");
    takes("a command holding = keeps a name", "action_1=a=b;1", {"1 a=b 1"}, "action_1=a=b;1\n");
    takes("32-bit ends", "x;-2147483648;2147483647", {"1 x -2147483648 2147483647"}, "x;-2147483648;2147483647\n");
    refused("no value", "wait;1\nend", "line 2 has no value");
    refused("not a number", "wait;1\n\nmrn;1;x", "line 3: value 2 \"x\" is not a whole number");
    refused("empty value", "mrn;1;;2", "line 1: value 2 is empty");
    refused("too large", "wait;2147483648", "line 1: value 1 \"2147483648\" is outside -2147483648 to 2147483647");
    refused("another key", "wait;1\nName=Greeting", "line 2 starts with \"Name=\", which names no action");
    refused("action_0", "action_0=wait;1", "line 1 starts with \"action_0=\", which names no action");
    refused("longer than a file keeps", "wait;" + QString(146, u'1'), "line 1 is longer than 149 characters");
    refused("prose", "Hello robot", "line 1 has no value");
    refused("nothing", " \n\r\n", "the text holds no action");
}

void tst_Script_File::actionLines()
{
    QFETCH(QString, text);
    QFETCH(QStringList, actions);
    QFETCH(QString, copied);
    QFETCH(QString, why);

    QList<Script_Action> parsed{action(1, QStringLiteral("keep"), {1})}; // what a refusal leaves
    QString reason;
    QCOMPARE(Parse_Action_Lines(text, parsed, &reason), why.isEmpty());
    QCOMPARE(reason, why);
    if (!why.isEmpty()) {
        QCOMPARE(parsed.size(), 1);
        QCOMPARE(parsed[0].Command, QStringLiteral("keep"));
        return;
    }
    Action_List list;
    list.Actions = parsed;
    list.Nb_Action = qint32(parsed.size());
    QCOMPARE(describe({}, list).mid(4), actions);
    QCOMPARE(Format_Action_Lines(parsed), copied);

    QList<Script_Action> again;
    QVERIFY(Parse_Action_Lines(copied, again, &reason));
    QCOMPARE(Format_Action_Lines(again), copied);
}

QTEST_GUILESS_MAIN(tst_Script_File)
#include "tst_script_file.moc"
