#include "panel/Frm_Main.h"
#include "scripts/Frm_Script_Player.h"
#include "scripts/Frm_Script_Editor.h"
#include "scripts/Script_Timeline.h"
#include "support/ScriptedDialogs.h"
#include "sim/SimProcess.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QClipboard>
#include <QScrollBar>
#include <QStandardPaths>
#include <QUndoStack>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <sys/stat.h>

namespace {

QString indexed(const char *name, int i)
{
    return QStringLiteral("%1(%2)").arg(QLatin1StringView(name)).arg(i);
}

QString today()
{
    return QDate::currentDate().toString(QStringLiteral("dd-MM-yyyy"));
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Also records what each file chooser was asked to show.
class RecordingDialogs : public ScriptedDialogs
{
public:
    QStringList requests; // "open|<preset>|<filter>"

    QString openFileName(QWidget *parent, const QString &caption, const QString &name, const QString &filter) override
    {
        requests << QStringLiteral("open|%1|%2").arg(name, filter);
        return ScriptedDialogs::openFileName(parent, caption, name, filter);
    }
    QString saveFileName(QWidget *parent, const QString &caption, const QString &name, const QString &filter) override
    {
        requests << QStringLiteral("save|%1|%2").arg(name, filter);
        return ScriptedDialogs::saveFileName(parent, caption, name, filter);
    }
};

const QByteArray Greeting = "[GENERAL]\r\nsoftware=ORVIK\r\nName=Greeting\r\nDate=05-12-2026\r\n[COMMANDS]\r\n"
                            "nb_action=3\r\naction_1=meb;120;10;130;10\r\naction_2=wait;500\r\naction_3=end;0\r\n";
const QStringList GreetingRows{"1 meb-120-10-130-10", "2 wait-500", "3 end-0"};

// A script of count waits of 1 ms, untitled.
QByteArray waits(int count)
{
    QByteArray script = "[COMMANDS]\nnb_action=" + QByteArray::number(count) + "\n";
    for (int k = 1; k <= count; ++k)
        script += "action_" + QByteArray::number(k) + "=wait;1\n";
    return script;
}

// Drives an editor as the operator does and reads what it shows.
struct Drive
{
    RecordingDialogs &dialogs;
    Frm_Script_Editor &w;
    QTemporaryDir dir;

    Drive(RecordingDialogs &d, Frm_Script_Editor &e) : dialogs(d), w(e) {}

    template <class T = QWidget>
    T *get(const QString &name) { return w.findChild<T *>(name); }
    QComboBox *kind() { return get<QComboBox>(QStringLiteral("Cmb_action")); }
    QLineEdit *field(int i) { return get<QLineEdit>(indexed("Txt_Action", i)); }
    QLabel *caption(int i) { return get<QLabel>(indexed("Lbl_Desc", i)); }
    QPushButton *button(const char *name) { return get<QPushButton>(QLatin1StringView(name)); }
    QTreeView *view() { return get<QTreeView>(QStringLiteral("L_View")); }
    QLineEdit *title() { return get<QLineEdit>(QStringLiteral("Txt_Script_Title")); }
    QLineEdit *date() { return get<QLineEdit>(QStringLiteral("Txt_Script_Date")); }
    QString marker() { return button("Btn_Modify_Action")->property("Tag").toString(); }
    void trigger(const char *name) { get<QAction>(QLatin1StringView(name))->trigger(); }
    // A menu entry or a button, by its name.
    void activate(const QString &name)
    {
        if (QAction *entry = get<QAction>(name))
            entry->trigger();
        else
            get<QPushButton>(name)->click();
    }
    QString path(const char *name) { return dir.filePath(QLatin1StringView(name)); }

    QStringList rows()
    {
        QStringList rows;
        QAbstractItemModel *model = view()->model();
        for (int r = 0; r < model->rowCount(); ++r)
            rows << model->index(r, 0).data().toString() + u' ' + model->index(r, 1).data().toString();
        return rows;
    }
    QString selected()
    {
        QStringList rows;
        for (const QModelIndex &index : view()->selectionModel()->selectedRows())
            rows << QString::number(index.row());
        rows.sort();
        return rows.join(u',');
    }
    void select(const QString &rows)
    {
        view()->clearSelection();
        for (const QString &row : rows.split(u',', Qt::SkipEmptyParts))
            view()->selectionModel()->select(view()->model()->index(row.toInt(), 0),
                                             QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    int selectedRow()
    {
        const QModelIndexList selected = view()->selectionModel()->selectedRows();
        return selected.size() == 1 ? selected.first().row() : -1;
    }
    QStringList messages()
    {
        QStringList texts;
        for (const Dialogs::Message &m : dialogs.shown)
            texts << m.text;
        return texts;
    }
    QStringList shownFields()
    {
        QStringList shown;
        for (int i = 0; i < Frm_Script_Editor::FieldCount; ++i)
            if (!field(i)->isHidden())
                shown << caption(i)->text() + u'=' + field(i)->text();
        return shown;
    }
    // What the action tool holds: "marker|kind|caption=text,...", "||" when idle.
    QString tool() { return marker() + u'|' + kind()->currentText() + u'|' + shownFields().join(u','); }

    void newScript() { button("Btn_New_List")->click(); }
    void choose(int k)
    {
        kind()->setCurrentIndex(k);
        emit kind()->activated(k);
    }
    void compose(int k, const QStringList &values)
    {
        choose(k);
        for (int i = 0; i < values.size(); ++i)
            field(i)->setText(values[i]);
    }
    void add(int k, const QStringList &values)
    {
        compose(k, values);
        button("Btn_Add_Action")->click();
    }
    // New script with meb 120 10 130 10, wait 500, end 0, titled Greeting.
    void greeting()
    {
        newScript();
        title()->setText(QStringLiteral("Greeting"));
        add(0, {"120", "10", "130", "10"});
        add(8, {"500"});
        add(7, {});
    }
    void doubleClickRow(int r)
    {
        const QRect rect = view()->visualRect(view()->model()->index(r, 1));
        QTest::mouseDClick(view()->viewport(), Qt::LeftButton, {}, rect.center());
    }
    bool open(const QString &file)
    {
        dialogs.fileNames << file;
        trigger("mnu_script_open");
        return w.scriptPath() == file;
    }
    // Writes the bytes to name in the test's folder and opens that file.
    bool open(const char *name, const QByteArray &bytes) { return writeAll(path(name), bytes) && open(path(name)); }
};

struct Owned
{
    QTemporaryDir m_recoveryDir;
    RecordingDialogs m_dialogs;
    Frm_Script_Editor m_editor{m_dialogs, nullptr, {}, m_recoveryDir.path()};
};

// An editor of its own, shown, as the main window shows it.
struct Rig : Owned, Drive
{
    Rig() : Drive(m_dialogs, m_editor) { w.show(); }
};

// The main window on orvik-sim, its port open, as the operator has it.
struct OnTheRobot
{
    SimProcess sim;
    std::optional<Frm_Main> main;
    RecordingDialogs *dialogs = nullptr;

    bool start()
    {
        if (!sim.start())
            return false;
        qputenv("ORVIK_COM1", QFile::encodeName(sim.link()));
        main.emplace();
        auto owned = std::make_unique<RecordingDialogs>();
        dialogs = owned.get();
        main->setDialogs(std::move(owned));
        main->show();
        return main->Open_Serial(1);
    }
    // Tool -> Script Editor.
    Frm_Script_Editor &editor()
    {
        main->findChild<QAction *>(QStringLiteral("mnu_script_editor"))->trigger();
        return *main->findChild<Frm_Script_Editor *>();
    }
    // Tool -> Script Player, which opens the file and plays it.
    Frm_Script_Player *play(const QString &path)
    {
        main->findChild<QAction *>(QStringLiteral("mnu_script"))->trigger();
        auto *player = main->findChild<Frm_Script_Player *>();
        dialogs->fileNames << path;
        player->Btn_Open_Script_Click();
        player->Btn_Cmd_Click(Frm_Script_Player::Play);
        return player;
    }
    // The frames the robot got so far, those starting with prefix.
    QList<QByteArray> received(const QByteArray &prefix = {}) const
    {
        QList<QByteArray> frames;
        for (const SimProcess::LoggedFrame &frame : sim.loggedFrames(QStringLiteral("rx")))
            if (frame.bytes.startsWith(prefix))
                frames << frame.bytes;
        return frames;
    }
};

// A new editor on the same folder brings the script back from File -> Recover Unsaved Script.
void verifyRecovered(const QString &folder, const QString &path, const QStringList &rows)
{
    RecordingDialogs dialogs;
    Frm_Script_Editor editor(dialogs, nullptr, {}, folder);
    Drive rig(dialogs, editor);
    editor.show();
    QMenu *menu = rig.get<QMenu>(QStringLiteral("mnu_script_recover"));
    QCOMPARE(menu->title(), QStringLiteral("Recover Unsaved Script"));
    emit menu->aboutToShow();
    QAction *newest = menu->findChild<QAction *>(QStringLiteral("mnu_script_recover(0)"));
    QVERIFY(newest);
    QVERIFY2(newest->text().startsWith(QStringLiteral("Greeting (3 actions, ")), qPrintable(newest->text()));
    newest->trigger();
    QCOMPARE(rig.rows(), rows);
    QCOMPARE(editor.scriptPath(), path);
    QCOMPARE(editor.windowTitle(), "Script Editor - " + path + u'*');
    QCOMPARE(rig.title()->text(), QStringLiteral("Greeting"));
    QVERIFY(rig.get(QStringLiteral("L_View"))->isEnabled());
}

} // namespace

class tst_Frm_Script_Editor : public QObject
{
    Q_OBJECT

private slots:
    // Editors the main window makes keep their unsaved scripts in the test's own data folder.
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { QLocale::setDefault(QLocale::c()); }

    void firstDisplayShowsOnlyNewScript();
    void menusAsListed_data();
    void menusAsListed();
    void eachKindShowsItsCaptionedFields_data();
    void eachKindShowsItsCaptionedFields();
    void addBuildsTheActionFromItsFields_data();
    void addBuildsTheActionFromItsFields();
    void addNeedsAKindFromTheList_data();
    void addNeedsAKindFromTheList();
    void addsAppendAndSelectTheFirstRow();
    void modifyReplacesInPlaceUntilAnotherKindIsChosen();
    void removeRenumbersAndIdlesTheTool();
    void replacingTheScriptEmptiesTheTool_data();
    void replacingTheScriptEmptiesTheTool();
    void saveRefusesWhatCannotBeSaved_data();
    void saveRefusesWhatCannotBeSaved();
    void savedScriptOpensAgain();
    void failedSaveKeepsTheOldFile_data();
    void failedSaveKeepsTheOldFile();
    void switchingWindowsKeepsTheScript();
    void examplesOpenReadyToSave();
    void marksFollowEveryChange();
    void builtScriptPlaysOnTheVirtualRobot();
    void rowCommandsUndoAndRedo_data();
    void rowCommandsUndoAndRedo();
    void noWayInPassesTheLimit_data();
    void noWayInPassesTheLimit();
    void modifyFollowsTheLoadedAction();
    void shortcutsActOnTheListOnlyWhileItHasTheFocus();
    void changedMarkFollowsTheSavedState();
    void discardedScriptComesBack_data();
    void discardedScriptComesBack();
    void timelineSelectsTheActionClickedAndShowsTheSelection_data();
    void timelineSelectsTheActionClickedAndShowsTheSelection();
    void easeBetweenIsOneStep_data();
    void easeBetweenIsOneStep();
    void takeGoesInAtTheSelectionAsOneStep();
    void takePlaysBackInOrderOnTheVirtualRobot();
};

void tst_Frm_Script_Editor::firstDisplayShowsOnlyNewScript()
{
    Rig rig;
    QStringList controls; // name|text|enabled
    for (const char *name : {"Btn_New_List", "Btn_Clear_List", "Btn_Add_Action", "Btn_Modify_Action", "Btn_Record",
                             "Txt_Script_Title", "Txt_Script_Date", "Cmb_action"}) {
        const QWidget *control = rig.get(QLatin1StringView(name));
        const char *text = qobject_cast<const QComboBox *>(control) ? "currentText" : "text";
        controls << QStringLiteral("%1|%2|%3").arg(QLatin1StringView(name), control->property(text).toString())
                        .arg(int(control->isEnabled()));
    }
    QCOMPARE(controls, (QStringList{"Btn_New_List|NEW SCRIPT|1", "Btn_Clear_List|CLEAR SCRIPT|0",
                                    "Btn_Add_Action|ADD|0", "Btn_Modify_Action|MODIFY|0", "Btn_Record|Record|0",
                                    "Txt_Script_Title||0",
                                    "Txt_Script_Date||0", "Cmb_action||0"}));
    QCOMPARE(rig.w.windowTitle(), QStringLiteral("Script Editor"));
    QStringList captions;
    for (const QGroupBox *box : rig.w.findChildren<QGroupBox *>())
        captions << box->title();
    for (const QLabel *label : rig.w.findChildren<QLabel *>())
        if (!label->text().isEmpty())
            captions << label->text();
    QCOMPARE(captions, (QStringList{"SCRIPT DESCRIPTION", "SCRIPT ACTION TOOL", "Script Title", "Date", "Action List",
                                    "Action Selection", "Length: 0.00 s"}));
    QCOMPARE(rig.view()->model()->headerData(0, Qt::Horizontal), QVariant("No."));
    QCOMPARE(rig.view()->model()->headerData(1, Qt::Horizontal), QVariant("Commands"));
    QCOMPARE(rig.shownFields(), QStringList());
}

void tst_Frm_Script_Editor::menusAsListed_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("entries"); // name|text|enabled|shortcut

    QTest::newRow("file") << "mnu_script_file" << "&File"
                          << QStringList{"mnu_script_open|Open script|1|", "mnu_script_save|Save script|1|",
                                         "mnu_script_recover_entry|Recover Unsaved Script|1|",
                                         "mnu_script_close_script|Close script|0|", "mnu_script_sep_1||1|",
                                         "mnu_script_close|Close editor|1|"};
    QTest::newRow("edit") << "mnu_script_edit" << "&Edit"
                          << QStringList{"mnu_script_undo|Undo|0|Ctrl+Z", "mnu_script_redo|Redo|0|Ctrl+Shift+Z",
                                         "mnu_script_sep_4||1|", "mnu_script_clear|Clear Script|1|",
                                         "mnu_script_sep_2||1|", "mnu_script_add|Add Action|1|",
                                         "mnu_script_insert|Insert Action|1|Ctrl+I",
                                         "mnu_script_modify|Modify Action|1|", "mnu_script_remove|Remove Action|1|",
                                         "mnu_script_sep_5||1|", "mnu_script_cut|Cut|1|Ctrl+X",
                                         "mnu_script_copy|Copy|1|Ctrl+C", "mnu_script_paste|Paste|1|Ctrl+V",
                                         "mnu_script_duplicate|Duplicate|1|Ctrl+D",
                                         "mnu_script_select_all|Select All|1|Ctrl+A",
                                         "mnu_script_move_up|Move Up|1|Alt+Up", "mnu_script_move_down|Move Down|1|Alt+Down",
                                         "mnu_script_sep_6||1|", "mnu_script_ease|Ease Between...|1|",
                                         "mnu_script_record|Record|1|Ctrl+R", "mnu_script_sep_3||1|",
                                         "mnu_script_from_panel|Take Pose from Panel|1|Ctrl+P"};
    QTest::newRow("view") << "mnu_script_view" << "&View" << QStringList{"mnu_script_timeline|Timeline|1|F6"};
}

void tst_Frm_Script_Editor::menusAsListed()
{
    QFETCH(QString, menu);
    QFETCH(QString, title);
    QFETCH(QStringList, entries);

    Rig rig;
    QMenu *m = rig.get<QMenu>(menu);
    QVERIFY(m);
    QCOMPARE(m->title(), title);
    QStringList actual;
    for (const QAction *a : m->actions())
        actual << QStringLiteral("%1|%2|%3|%4")
                      .arg(a->objectName(), a->text())
                      .arg(int(a->isEnabled()))
                      .arg(a->shortcut().toString(QKeySequence::PortableText));
    QCOMPARE(actual, entries);
}

void tst_Frm_Script_Editor::eachKindShowsItsCaptionedFields_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QStringList>("fields"); // caption=text, in field order
    QTest::addColumn<bool>("firstReadOnly");

    const QStringList arm{"Elb Pos=",      "Elb Speed=",      "Shd Yaw Pos=", "Shd Yaw Speed=",
                          "Shd Pitch Pos=", "Shd Pitch Speed="};
    QTest::newRow("eyebrows") << 0 << "Move EyeBrows"
                              << QStringList{"LEb Roll Pos=", "LEb Roll Speed=", "LEb Roll Pos=", "LEb Roll Speed="}
                              << false;
    QTest::newRow("left arm") << 1 << "Move Left Arm" << arm << false;
    QTest::newRow("right arm") << 2 << "Move Right Arm" << arm << false;
    QTest::newRow("eyes") << 3 << "Move Robot Eyes"
                          << QStringList{"LE Yaw Pos=", "LE Yaw Speed=", "RE Yaw Pos=", "RE Yaw Speed=",
                                         "E Pitch Pos=", "E Pitch Speed="}
                          << false;
    QTest::newRow("mouth") << 4 << "Move Robot Mouth"
                           << QStringList{"UL Pos=", "UL Speed=", "LL Pos=", "LL Speed=", "UR Pos=", "UR Speed=",
                                          "LR Pos=", "LR Speed="}
                           << false;
    QTest::newRow("neck") << 5 << "Move Robot Neck"
                          << QStringList{"Neck Pitch Pos=", "Neck Pitch Speed=", "Neck Yaw Pos=", "Neck Yaw Speed="}
                          << false;
    QTest::newRow("single servo") << 6 << "Move Single Servo" << QStringList{"Index=", "Pos=", "Speed="} << false;
    QTest::newRow("end") << 7 << "End Script" << QStringList{"End Value=0"} << true;
    QTest::newRow("wait") << 8 << "Wait" << QStringList{"Time (ms)=0"} << false;
}

void tst_Frm_Script_Editor::eachKindShowsItsCaptionedFields()
{
    QFETCH(int, kind);
    QFETCH(QString, item);
    QFETCH(QStringList, fields);
    QFETCH(bool, firstReadOnly);

    Rig rig;
    rig.newScript();
    QCOMPARE(rig.kind()->count(), 9);
    QCOMPARE(rig.kind()->itemText(kind), item);
    // From a full mouth with typed values and a read-only end field to the kind under test.
    rig.compose(7, {});
    rig.compose(4, {"1", "2", "3", "4", "5", "6", "7", "8"});
    rig.choose(kind);
    QCOMPARE(rig.shownFields(), fields);
    QCOMPARE(rig.field(0)->isReadOnly(), firstReadOnly);
    for (int i = fields.size(); i < Frm_Script_Editor::FieldCount; ++i)
        QVERIFY(rig.field(i)->text().isEmpty() && rig.caption(i)->isHidden());
}

void tst_Frm_Script_Editor::addBuildsTheActionFromItsFields_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QString>("row"); // empty: refused with the message

    QTest::newRow("end as preset") << 7 << QStringList{} << "1 end-0";
    QTest::newRow("wait as typed") << 8 << QStringList{"500"} << "1 wait-500";
    QTest::newRow("blanks, halves to even, beyond a byte") << 6 << QStringList{" 7 ", "2.5", "3.5"} << "1 mss-7-2-4";
    QTest::newRow("speed 300 kept") << 5 << QStringList{"90", "300", "1e2", "-4"} << "1 mrn-90-300-100--4";
    QTest::newRow("empty field") << 0 << QStringList{"1", "", "3", "4"} << "";
    QTest::newRow("not a number") << 0 << QStringList{"1", "2", "x", ""} << "";
    QTest::newRow("too large for 32 bits") << 0 << QStringList{"1", "2", "3", "2147483648"} << "";
}

void tst_Frm_Script_Editor::addBuildsTheActionFromItsFields()
{
    QFETCH(int, kind);
    QFETCH(QStringList, values);
    QFETCH(QString, row);

    Rig rig;
    rig.newScript();
    rig.add(kind, values);
    if (!row.isEmpty()) {
        QCOMPARE(rig.rows(), QStringList{row});
        QCOMPARE(rig.messages(), QStringList{"You want to create a new script ?"});
        return;
    }
    QCOMPARE(rig.rows(), QStringList());
    QCOMPARE(rig.messages().mid(1), QStringList{"You must enter a valid number before adding the command"});
    QCOMPARE(rig.dialogs.shown.last().title, QStringLiteral("ORVIK"));
    QCOMPARE(rig.dialogs.shown.last().icon, QMessageBox::Information);
    for (int i = 0; i < values.size(); ++i)
        QCOMPARE(rig.field(i)->text(), values[i]);
}

void tst_Frm_Script_Editor::addNeedsAKindFromTheList_data()
{
    QTest::addColumn<QString>("typed"); // then Enter, unless it ends in "|"
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QStringList>("messages");

    const QStringList choose{"Choose an action from the list first"};
    QTest::newRow("ADD, nothing chosen") << "" << "Btn_Add_Action" << QStringList();
    QTest::newRow("Add Action, nothing chosen") << "" << "mnu_script_add" << QStringList();
    QTest::newRow("ADD, typed") << "Move" << "Btn_Add_Action" << choose;
    QTest::newRow("MODIFY, typed") << "Nod" << "Btn_Modify_Action" << choose;
    // Enter would choose it; typed alone, it is not the kind whose fields are shown.
    QTest::newRow("ADD, another kind's name typed") << "End Script|" << "Btn_Add_Action" << choose;
}

void tst_Frm_Script_Editor::addNeedsAKindFromTheList()
{
    QFETCH(QString, typed);
    QFETCH(QString, entry);
    QFETCH(QStringList, messages);

    Rig rig;
    rig.greeting();
    rig.doubleClickRow(1); // wait-500 loaded for change, field 0 holds 500
    QLineEdit *edit = rig.kind()->lineEdit();
    edit->clear();
    QTest::keyClicks(edit, typed.section(u'|', 0, 0));
    if (!typed.endsWith(u'|'))
        QTest::keyClick(edit, Qt::Key_Return);
    rig.dialogs.shown.clear();

    rig.activate(entry);
    QCOMPARE(rig.messages(), messages);
    QCOMPARE(rig.rows(), GreetingRows);
    QCOMPARE(rig.kind()->count(), 9);
}

void tst_Frm_Script_Editor::addsAppendAndSelectTheFirstRow()
{
    Rig rig;
    rig.newScript();
    for (int k = 0; k < 40; ++k) // more than the view shows
        rig.add(8, {QString::number(k)});
    rig.view()->scrollToBottom();
    rig.view()->setCurrentIndex(rig.view()->model()->index(39, 0));
    rig.compose(6, {"18", "90", "0"});
    rig.button("Btn_Add_Action")->click();
    rig.button("Btn_Add_Action")->click();
    QCOMPARE(rig.rows().mid(39), (QStringList{"40 wait-39", "41 mss-18-90-0", "42 mss-18-90-0"}));
    QCOMPARE(rig.selectedRow(), 0);
    QCOMPARE(rig.view()->verticalScrollBar()->value(), 0);
    QCOMPARE(rig.shownFields(), (QStringList{"Index=18", "Pos=90", "Speed=0"}));
}

void tst_Frm_Script_Editor::modifyReplacesInPlaceUntilAnotherKindIsChosen()
{
    Rig rig;
    rig.greeting();
    rig.doubleClickRow(1);
    QCOMPARE(rig.tool(), QStringLiteral("1|Wait|Time (ms)=500"));
    QVERIFY(rig.button("Btn_Modify_Action")->isEnabled());
    rig.field(0)->setText(QStringLiteral("750"));
    rig.button("Btn_Modify_Action")->click();
    rig.field(0)->setText(QStringLiteral("800"));
    rig.trigger("mnu_script_modify");
    QCOMPARE(rig.rows(), (QStringList{"1 meb-120-10-130-10", "2 wait-800", "3 end-0"}));
    QCOMPARE(rig.marker(), QStringLiteral("1"));

    rig.choose(8);
    QCOMPARE(rig.marker(), QString());
    QVERIFY(!rig.button("Btn_Modify_Action")->isEnabled());
    QCOMPARE(rig.shownFields(), QStringList{"Time (ms)=0"});
    rig.button("Btn_Modify_Action")->click();
    QCOMPARE(rig.rows().at(1), QStringLiteral("2 wait-800"));

    // A hand-written action with nine values fills the eight fields, a negative one with its sign.
    QVERIFY(rig.open("nine.sct", "[COMMANDS]\nnb_action=1\naction_1=mrm;-1;2;3;4;5;6;7;8;9\n"));
    rig.doubleClickRow(0);
    QCOMPARE(rig.shownFields(), (QStringList{"UL Pos=-1", "UL Speed=2", "LL Pos=3", "LL Speed=4", "UR Pos=5",
                                             "UR Speed=6", "LR Pos=7", "LR Speed=8"}));
}

void tst_Frm_Script_Editor::removeRenumbersAndIdlesTheTool()
{
    Rig rig;
    rig.greeting();
    rig.doubleClickRow(1);
    const QRect rect = rig.view()->visualRect(rig.view()->model()->index(1, 0));
    QTest::mousePress(rig.view()->viewport(), Qt::RightButton, {}, rect.center());
    QMenu *menu = rig.get<QMenu>(QStringLiteral("mnu_list_Action"));
    QVERIFY(menu && menu->isVisible());
    menu->findChild<QAction *>(QStringLiteral("mnu_remove"))->trigger();
    menu->close();
    QCOMPARE(rig.rows(), (QStringList{"1 meb-120-10-130-10", "2 end-0"}));
    QCOMPARE(rig.selectedRow(), 0);
    QCOMPARE(rig.tool(), QStringLiteral("||"));
    QVERIFY(!rig.button("Btn_Modify_Action")->isEnabled());
    QTRY_VERIFY(!rig.get<QMenu>(QStringLiteral("mnu_list_Action")));

    // With no action left, nothing is selected, and the pop-up, Remove Action and MODIFY find
    // nothing to act on.
    rig.doubleClickRow(0);
    rig.select(QStringLiteral("0,1"));
    rig.w.L_View_MouseDown(Qt::LeftButton, {}); // the pop-up is the right button's only
    rig.trigger("mnu_script_remove");
    QCOMPARE(rig.rows(), QStringList());
    QCOMPARE(rig.selectedRow(), -1);
    rig.w.L_View_MouseDown(Qt::RightButton, {}); // and only over a selection
    QVERIFY(!rig.get<QMenu>(QStringLiteral("mnu_list_Action")));
    rig.trigger("mnu_script_remove");
    rig.compose(8, {"5"});
    rig.trigger("mnu_script_modify");
    QCOMPARE(rig.w.currentScript().Nb_Action, 0);
    QCOMPARE(rig.messages().size(), 1);
}

void tst_Frm_Script_Editor::replacingTheScriptEmptiesTheTool_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("chosen");  // what the open dialog gives: a name in the test's folder
    QTest::addColumn<bool>("yes");        // the answer; and, with no question, the script replaced
    QTest::addColumn<QString>("message"); // "": none shown; DIR stands for the test's folder
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("file"); // the script's file afterwards, in the test's folder
    QTest::addColumn<bool>("editing");

    const QString clear = QStringLiteral("Are you sure ?");
    const QString renew = QStringLiteral("You want to create a new script ?");
    auto keptAfter = [&](const char *row, const char *entry, const char *chosen, bool yes, const QString &message) {
        QTest::newRow(row) << entry << chosen << yes << message << GreetingRows << "Greeting" << "01-01-2001"
                           << "greeting.sct" << true;
    };
    QTest::newRow("CLEAR SCRIPT yes") << "Btn_Clear_List" << "" << true << clear << QStringList() << "Greeting"
                                      << "01-01-2001" << "greeting.sct" << true;
    keptAfter("Clear Script no", "mnu_script_clear", "", false, clear);
    QTest::newRow("NEW SCRIPT yes") << "Btn_New_List" << "" << true << renew << QStringList() << "" << today() << ""
                                    << true;
    keptAfter("NEW SCRIPT no", "Btn_New_List", "", false, renew);
    QTest::newRow("Close script") << "mnu_script_close_script" << "" << true << "" << QStringList() << "" << "" << ""
                                  << false;
    QTest::newRow("Open script") << "mnu_script_open" << "other.sct" << true << ""
                                 << QStringList{"1 meb-1-1-1-1", "2 mrn-2-2-2-2", "3 end-0"} << "Other"
                                 << "02-02-2002" << "other.sct" << true;
    // A file that does not load leaves the script, its changes and the tool as they were.
    keptAfter("Open script cancelled", "mnu_script_open", "", false, "");
    keptAfter("Open script, no such file", "mnu_script_open", "none.sct", false, "");
    keptAfter("Open script, a folder", "mnu_script_open", ".", false, "");
    keptAfter("Open script, malformed", "mnu_script_open", "bad.sct", false,
              "The script \"DIR/bad.sct\" cannot be opened: action_2 is missing.");
}

// Greeting, its date changed, has its wait loaded for change first: MODIFY may only ever write it
// back into Greeting.
void tst_Frm_Script_Editor::replacingTheScriptEmptiesTheTool()
{
    QFETCH(QString, entry);
    QFETCH(QString, chosen);
    QFETCH(bool, yes);
    QFETCH(QString, message);
    QFETCH(QStringList, rows);
    QFETCH(QString, title);
    QFETCH(QString, date);
    QFETCH(QString, file);
    QFETCH(bool, editing);

    Rig rig;
    QVERIFY(writeAll(rig.path("other.sct"), "[GENERAL]\nName=Other\nDate=02-02-2002\n[COMMANDS]\nnb_action=3\n"
                                            "action_1=meb;1;1;1;1\naction_2=mrn;2;2;2;2\naction_3=end;0\n"));
    QVERIFY(writeAll(rig.path("bad.sct"), "[COMMANDS]\nnb_action=2\naction_1=end;0\n"));
    QVERIFY(rig.open("greeting.sct", Greeting));
    rig.date()->setText(QStringLiteral("01-01-2001"));
    rig.doubleClickRow(1);
    rig.dialogs.answers << (yes ? QMessageBox::Yes : QMessageBox::No);
    rig.dialogs.fileNames << (chosen.isEmpty() ? QString() : rig.dir.filePath(chosen));
    rig.activate(entry);

    const bool question = message.endsWith(u'?');
    QCOMPARE(rig.messages(), message.isEmpty() ? QStringList() : QStringList{message.replace(QStringLiteral("DIR"), rig.dir.path())});
    if (!message.isEmpty()) {
        const Dialogs::Message &shown = rig.dialogs.shown.first();
        QCOMPARE(shown.title, QStringLiteral("ORVIK"));
        QCOMPARE(shown.icon, question ? QMessageBox::Question : QMessageBox::Information);
        QCOMPARE(shown.buttons, question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
    }
    QCOMPARE(rig.rows(), rows);
    QCOMPARE(rig.title()->text(), title);
    QCOMPARE(rig.date()->text(), date);
    const QString path = file.isEmpty() ? QString() : rig.dir.filePath(file);
    QCOMPARE(rig.w.scriptPath(), path);
    // A script not replaced keeps its change (CLEAR SCRIPT makes another); a new one holds nothing to lose yet.
    const QString changed = yes && !entry.contains(QStringLiteral("lear")) ? QString() : QStringLiteral("*");
    QCOMPARE(rig.w.windowTitle(),
             path.isEmpty() ? QStringLiteral("Script Editor") : "Script Editor - " + path + changed);
    QCOMPARE(rig.get<QAction>(QStringLiteral("mnu_script_close_script"))->isEnabled(), !path.isEmpty());
    for (const char *name : {"Txt_Script_Title", "Txt_Script_Date", "L_View", "Cmb_action", "Btn_Clear_List",
                             "Btn_Add_Action"})
        QVERIFY2(rig.get(QLatin1StringView(name))->isEnabled() == editing, name);

    // What was loaded stays only where the script does.
    QCOMPARE(rig.tool(), yes ? QStringLiteral("||") : QStringLiteral("1|Wait|Time (ms)=500"));
    QCOMPARE(rig.button("Btn_Modify_Action")->isEnabled(), !yes);
    rig.button("Btn_Modify_Action")->click();
    rig.trigger("mnu_script_modify");
    QCOMPARE(rig.rows(), rows);
}

void tst_Frm_Script_Editor::saveRefusesWhatCannotBeSaved_data()
{
    QTest::addColumn<QByteArray>("file"); // opened first; empty: a new script
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("message"); // empty: the save dialog is shown

    const QByteArray waitLast = "[GENERAL]\nName=x\n[COMMANDS]\nnb_action=2\naction_1=end;0\naction_2=wait;5\n";
    QTest::newRow("empty, untitled") << QByteArray() << "" << "Script is empty, please add actions";
    QTest::newRow("untitled") << Greeting << "" << "Enter a script title";
    QTest::newRow("wait last") << waitLast << "x" << "The last action of a script must be 'end' ";
    QTest::newRow("END in capitals") << QByteArray(Greeting).replace("end;0", "END;0") << "Greeting"
                                     << "The last action of a script must be 'end' ";
    QTest::newRow("title of blanks") << Greeting << "   " << "";
    // What the file keeps of a value.
    QTest::newRow("title of 149 characters") << Greeting << QString(149, u'x') << "";
    QTest::newRow("title of 150 characters")
        << Greeting << QString(150, u'x') << "The title is longer than 149 characters, the most a script file keeps.";
}

void tst_Frm_Script_Editor::saveRefusesWhatCannotBeSaved()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, title);
    QFETCH(QString, message);

    Rig rig;
    rig.newScript();
    if (!file.isEmpty())
        QVERIFY(rig.open("s.sct", file));
    rig.title()->setText(title);
    rig.button("Btn_New_List")->setFocus();
    rig.dialogs.shown.clear();
    rig.dialogs.requests.clear();
    rig.trigger("mnu_script_save");

    if (message.isEmpty()) {
        QCOMPARE(rig.messages(), QStringList());
        QCOMPARE(rig.dialogs.requests.size(), 1);
        return;
    }
    QCOMPARE(rig.messages(), (QStringList{message, "Save canceled !"}));
    for (const Dialogs::Message &m : rig.dialogs.shown)
        QVERIFY(m.title == QStringLiteral("ORVIK") && m.icon == QMessageBox::Information
                && m.buttons == QMessageBox::Ok);
    QCOMPARE(rig.dialogs.requests, QStringList());
    QCOMPARE(rig.w.focusWidget() == rig.title(), message.contains(QStringLiteral("title")));
}

void tst_Frm_Script_Editor::savedScriptOpensAgain()
{
    Rig rig;
    rig.greeting();
    rig.date()->clear();
    const QString path = rig.path("greeting.sct");
    rig.dialogs.fileNames << path;
    QMenu *recover = rig.get<QMenu>(QStringLiteral("mnu_script_recover"));
    auto offered = [recover] {
        emit recover->aboutToShow();
        QStringList texts;
        for (const QAction *action : recover->actions())
            texts << action->text();
        return texts;
    };
    QTRY_VERIFY(QFile::exists(rig.w.recovery().currentFile())); // the unsaved script's record,
    QCOMPARE(offered(), QStringList{"No unsaved script"});       // not offered back to itself
    rig.trigger("mnu_script_save");

    QVERIFY(!QFile::exists(rig.w.recovery().currentFile())); // goes with the save
    const QString date = today();
    QCOMPARE(rig.date()->text(), date);
    QCOMPARE(readAll(path), QByteArray(Greeting).replace("05-12-2026", date.toLatin1()));
    QCOMPARE(rig.w.scriptPath(), path);
    QCOMPARE(rig.w.windowTitle(), QStringLiteral("Script Editor - ") + path);
    QVERIFY(!rig.get<QAction>(QStringLiteral("mnu_script_close_script"))->isEnabled());

    rig.trigger("mnu_script_save"); // cancelled: nothing changes
    rig.trigger("mnu_script_close_script");
    QCOMPARE(QDir(rig.m_recoveryDir.path()).entryList(QDir::Files), QStringList());
    QCOMPARE(offered(), QStringList{"No unsaved script"});
    QVERIFY(rig.open(path));
    QCOMPARE(rig.title()->text(), QStringLiteral("Greeting"));
    QCOMPARE(rig.date()->text(), date);
    QCOMPARE(rig.rows(), GreetingRows);
    QCOMPARE(rig.selectedRow(), 0);

    const QString filter = QStringLiteral("Script (*.sct)");
    const QString folder = QCoreApplication::applicationDirPath();
    QCOMPARE(rig.dialogs.requests, (QStringList{"save|" + folder + '|' + filter, "save|" + path + '|' + filter,
                                                "open|" + folder + '|' + filter}));
    QCOMPARE(rig.messages(), QStringList{"You want to create a new script ?"});
}

void tst_Frm_Script_Editor::failedSaveKeepsTheOldFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason"); // "": the system's own
    QTest::newRow("missing folder") << "missing/new.sct" << "";
    QTest::newRow("named pipe") << "pipe.sct" << "it is a named pipe, not a regular file";
}

void tst_Frm_Script_Editor::failedSaveKeepsTheOldFile()
{
    QFETCH(QString, name);
    QFETCH(QString, reason);

    Rig rig;
    const QString old = rig.path("greeting.sct");
    QVERIFY(writeAll(old, Greeting));
    QVERIFY(rig.open(old));
    rig.date()->clear();
    rig.add(7, {});
    QVERIFY(::mkfifo(QFile::encodeName(rig.path("pipe.sct")).constData(), 0600) == 0);
    const QString path = rig.dir.filePath(name);
    rig.dialogs.fileNames << path;
    rig.trigger("mnu_script_save");

    QCOMPARE(rig.dialogs.shown.size(), 1);
    QCOMPARE(rig.dialogs.shown.first().title, QStringLiteral("ORVIK"));
    const QString message = rig.messages().first();
    const QString named = QStringLiteral("The script was not saved. ") + path + QStringLiteral(": ");
    QVERIFY2(message.startsWith(named) && message.size() > named.size() + 5, qPrintable(message));
    if (!reason.isEmpty())
        QCOMPARE(message, named + reason + u'.');
    QCOMPARE(readAll(old), Greeting);
    QCOMPARE(QDir(rig.dir.path()).entryList(QDir::Files), QStringList{"greeting.sct"});
    struct stat pipe {};
    QVERIFY(::stat(QFile::encodeName(rig.path("pipe.sct")).constData(), &pipe) == 0 && S_ISFIFO(pipe.st_mode));
    QCOMPARE(rig.w.scriptPath(), old);
    QCOMPARE(rig.w.windowTitle(), QStringLiteral("Script Editor - ") + old + u'*'); // still not saved
    QCOMPARE(rig.date()->text(), QString());
}

void tst_Frm_Script_Editor::switchingWindowsKeepsTheScript()
{
    Rig rig;
    QWidget other;
    rig.greeting();
    rig.compose(8, {"250"});
    QTRY_VERIFY(rig.w.isActiveWindow());

    // A real message box of the editor's own comes and goes: the tool is as it was.
    QTimer::singleShot(0, &rig.w, [] { QApplication::activeModalWidget()->close(); });
    QMessageBox(QMessageBox::Information, QStringLiteral("ORVIK"), QStringLiteral("x"), QMessageBox::Ok, &rig.w).exec();
    rig.w.activateWindow();
    QTRY_VERIFY(rig.w.isActiveWindow());
    QCOMPARE(rig.shownFields(), QStringList{"Time (ms)=250"});

    other.show();
    other.activateWindow();
    QTRY_VERIFY(other.isActiveWindow());
    rig.w.activateWindow();
    QTRY_VERIFY(rig.w.isActiveWindow());
    QTRY_COMPARE(rig.shownFields(), QStringList());
    QCOMPARE(rig.kind()->currentText(), QString());
    QCOMPARE(rig.kind()->count(), 9);
    QCOMPARE(rig.rows(), GreetingRows);
    QCOMPARE(rig.w.currentScript().Nb_Action, 3);
}

// The scripts beside the program, where the player looks first, open here and could be saved.
void tst_Frm_Script_Editor::examplesOpenReadyToSave()
{
    const QDir examples(QStringLiteral(ORVIK_BUILD_EXAMPLES));
    const QStringList names = examples.entryList({QStringLiteral("*.sct")});
    QVERIFY(!names.isEmpty());
    for (const QString &name : names) {
        Rig rig;
        QVERIFY2(rig.open(examples.filePath(name)), qPrintable(name));
        QVERIFY(rig.rows().size() > 1);
        QVERIFY2(rig.w.Check_Script(), qPrintable(name));
    }
}

void tst_Frm_Script_Editor::marksFollowEveryChange()
{
    Rig rig;
    auto marks = [&rig] {
        QStringList tips;
        const QAbstractItemModel *model = rig.view()->model();
        for (int r = 0; r < model->rowCount(); ++r) {
            const QModelIndex number = model->index(r, 0);
            tips << (number.data(Qt::DecorationRole).isNull() ? QString() : number.data(Qt::ToolTipRole).toString());
        }
        return tips;
    };
    rig.newScript();
    rig.add(0, {"120", "10", "300", "10"});
    QCOMPARE(marks(), QStringList{"the value 300 is not between 0 and 255; the script does not end with \"end\""});
    rig.add(7, {});
    QCOMPARE(marks(), (QStringList{"the value 300 is not between 0 and 255", ""}));
    rig.doubleClickRow(0);
    rig.field(2)->setText(QStringLiteral("130"));
    rig.button("Btn_Modify_Action")->click();
    QCOMPARE(marks(), (QStringList{"", ""}));

    // And every change of the robot profile.
    Robot_Profile profile = Robot_Profile::builtIn();
    profile.setLimits(true);
    profile.setServo(0, {QStringLiteral("Right eyebrow"), 20, 40, 30});
    rig.w.setProfile(profile);
    // The other servos keep the built-in ranges, which an own profile now enforces.
    QCOMPARE(marks(), (QStringList{"Left eyebrow (servo 20) may only go from 10 to 60, not to 120", ""}));
    rig.w.setProfile(Robot_Profile::builtIn());
    QCOMPARE(marks(), (QStringList{"", ""}));
}

// The whole program against orvik-sim: a script built and saved in the editor, opened in the
// player and played, reaches the robot as the frames its actions spell.
void tst_Frm_Script_Editor::builtScriptPlaysOnTheVirtualRobot()
{
    OnTheRobot robot;
    QVERIFY(robot.start());
    Drive editor(*robot.dialogs, robot.editor());
    robot.editor();
    QCOMPARE(robot.main->findChildren<Frm_Script_Editor *>().size(), 1);
    editor.newScript();
    editor.title()->setText(QStringLiteral("Wave"));
    editor.add(0, {"120", "10", "130", "10"});
    editor.add(8, {"30"});
    editor.add(6, {"18", "90", "0"});
    editor.add(4, {"0", "255", "103", "0", "1", "2", "3", "4"});
    editor.add(2, {"45", "5", "90", "5", "10", "5"});
    editor.add(7, {});
    const QString path = editor.path("wave.sct");
    editor.dialogs.fileNames << path;
    editor.trigger("mnu_script_save");
    QCOMPARE(editor.w.scriptPath(), path);

    Frm_Script_Player *player = robot.play(path);
    QTRY_VERIFY_WITH_TIMEOUT(!player->isPlaying(), 10000);
    const QList<QByteArray> expected{QByteArray::fromHex("6d6562780a820a"), QByteArray::fromHex("6d7373125a00"),
                                     QByteArray::fromHex("6d726d00ff670001020304"),
                                     QByteArray::fromHex("6d72612d055a050a05")};
    QTRY_VERIFY(robot.received().size() >= expected.size());
    QCOMPARE(robot.received(), expected);
    QCOMPARE(editor.messages(), QStringList{"You want to create a new script ?"});
}

void tst_Frm_Script_Editor::rowCommandsUndoAndRedo_data()
{
    QTest::addColumn<QString>("selection");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("selectedAfter");
    QTest::addColumn<QString>("undoText");

    const QString meb = QStringLiteral("meb-120-10-130-10");
    QTest::newRow("insert before the selected row") << "1" << "mnu_script_insert"
                                                    << QStringList{"1 " + meb, "2 wait-250", "3 wait-500", "4 end-0"}
                                                    << "1" << "Undo Insert";
    QTest::newRow("insert with none selected") << "" << "Btn_Insert_Action"
                                               << QStringList{"1 " + meb, "2 wait-500", "3 end-0", "4 wait-250"}
                                               << "3" << "Undo Insert";
    QTest::newRow("move up") << "1,2" << "mnu_script_move_up"
                             << QStringList{"1 wait-500", "2 end-0", "3 " + meb} << "0,1" << "Undo Move Up";
    QTest::newRow("move down") << "0" << "mnu_script_move_down"
                               << QStringList{"1 wait-500", "2 " + meb, "3 end-0"} << "1" << "Undo Move Down";
    QTest::newRow("duplicate") << "0,1" << "mnu_script_duplicate"
                               << QStringList{"1 " + meb, "2 wait-500", "3 " + meb, "4 wait-500", "5 end-0"} << "2,3"
                               << "Undo Duplicate";
    QTest::newRow("cut") << "0,2" << "mnu_script_cut" << QStringList{"1 wait-500"} << "0" << "Undo Cut";
    QTest::newRow("remove several") << "0,1" << "mnu_script_remove" << QStringList{"1 end-0"} << "0"
                                    << "Undo Remove";
    QTest::newRow("paste before the selected row") << "2" << "mnu_script_paste"
                                                   << QStringList{"1 " + meb, "2 wait-500", "3 mrn-96-0-108-0",
                                                                  "4 wait-20", "5 end-0"}
                                                   << "2,3" << "Undo Paste";
    QTest::newRow("add") << "" << "Btn_Add_Action"
                         << QStringList{"1 " + meb, "2 wait-500", "3 end-0", "4 wait-250"} << "0" << "Undo Add";
    QTest::newRow("clear") << "1" << "Btn_Clear_List" << QStringList{} << "" << "Undo Clear Script";
    QTest::newRow("new") << "1" << "Btn_New_List" << QStringList{} << "" << "Undo New Script";
}

void tst_Frm_Script_Editor::rowCommandsUndoAndRedo()
{
    QFETCH(QString, selection);
    QFETCH(QString, entry);
    QFETCH(QStringList, rows);
    QFETCH(QString, selectedAfter);
    QFETCH(QString, undoText);

    Rig rig;
    QVERIFY(rig.open("greeting.sct", Greeting));
    const QStringList before = rig.rows();
    rig.compose(8, {"250"});
    const QString pasted = QStringLiteral("mrn;96;0;108;0\naction_9=wait;20\n");
    QGuiApplication::clipboard()->setText(pasted);
    rig.select(selection);
    rig.activate(entry);

    QCOMPARE(rig.rows(), rows);
    QCOMPARE(rig.selected(), selectedAfter);
    // What is cut goes to the clipboard as the file's lines, and nothing else touches it.
    QCOMPARE(QGuiApplication::clipboard()->text(),
             entry == u"mnu_script_cut" ? QStringLiteral("meb;120;10;130;10\nend;0\n") : pasted);
    QAction *undo = rig.get<QAction>(QStringLiteral("mnu_script_undo"));
    QAction *redo = rig.get<QAction>(QStringLiteral("mnu_script_redo"));
    QCOMPARE(undo->text(), undoText);
    // A new script has nothing to lose yet; every other change marks the script.
    QCOMPARE(rig.w.windowTitle(), entry == u"Btn_New_List" ? QStringLiteral("Script Editor")
                                                           : "Script Editor - " + rig.path("greeting.sct") + u'*');

    undo->trigger();
    QCOMPARE(rig.rows(), before);
    QCOMPARE(rig.w.windowTitle(), "Script Editor - " + rig.path("greeting.sct"));
    QVERIFY(rig.get<QAction>(QStringLiteral("mnu_script_close_script"))->isEnabled());
    QCOMPARE(redo->text(), QString(undoText).replace(QStringLiteral("Undo"), QStringLiteral("Redo")));
    redo->trigger();
    QCOMPARE(rig.rows(), rows);
    QCOMPARE(rig.messages().size(), entry == u"Btn_Clear_List" || entry == u"Btn_New_List" ? 1 : 0); // the question
}

void tst_Frm_Script_Editor::noWayInPassesTheLimit_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("room");     // actions the script lacks of the limit
    QTest::addColumn<QString>("pasted"); // the clipboard's text
    QTest::addColumn<int>("added");
    QTest::addColumn<QString>("message");

    const QString three = QStringLiteral("wait;2\nwait;3\nwait;4\n");
    const QString full = QStringLiteral("A script holds at most 32767 actions: this one is full.");
    QTest::newRow("add on a full script") << "Btn_Add_Action" << 0 << three << 0 << full;
    QTest::newRow("insert on a full script") << "Btn_Insert_Action" << 0 << three << 0 << full;
    QTest::newRow("insert into the last place") << "Btn_Insert_Action" << 1 << three << 1 << "";
    QTest::newRow("duplicate two with room for one") << "mnu_script_duplicate" << 1 << three << 0 << full;
    QTest::newRow("duplicate two with room for two") << "mnu_script_duplicate" << 2 << three << 2 << "";
    QTest::newRow("paste three with room for two") << "mnu_script_paste" << 2 << three << 0 << full;
    QTest::newRow("paste three with room for three") << "mnu_script_paste" << 3 << three << 3 << "";
    QTest::newRow("a take of three moves with room for two")
        << "Btn_Record" << 2 << three << 2 << "A script holds at most 32767 actions: the take stopped there.";
    QTest::newRow("paste with a bad line, refused whole")
        << "mnu_script_paste" << Frm_Script_Editor::MaxActions - 3 << "wait;20\nwait;x\nend" << 0
        << "Nothing was pasted: line 2: value 1 \"x\" is not a whole number.";
}

void tst_Frm_Script_Editor::noWayInPassesTheLimit()
{
    QFETCH(QString, entry);
    QFETCH(int, room);
    QFETCH(QString, pasted);
    QFETCH(int, added);
    QFETCH(QString, message);

    const int count = Frm_Script_Editor::MaxActions - room;
    Rig rig;
    QVERIFY(rig.open("long.sct", waits(count)));
    rig.compose(8, {"5"});
    QGuiApplication::clipboard()->setText(pasted);
    rig.select(QStringLiteral("0,1"));
    qint64 now = 0;
    rig.w.setRecordClock([&now] { return now; });
    rig.activate(entry);
    for (int i = 0; i < 3; ++i, now += 20 * 1000000LL) // Record's row only: no take runs otherwise
        rig.w.recordFrame(QByteArray::fromHex("6d726e5a005a00"));

    QVERIFY(!rig.w.isRecording());
    QCOMPARE(rig.w.currentScript().Nb_Action, count + added);
    QCOMPARE(rig.messages(), message.isEmpty() ? QStringList() : QStringList{message});
}

void tst_Frm_Script_Editor::modifyFollowsTheLoadedAction()
{
    Rig rig;
    rig.greeting();
    rig.doubleClickRow(1);
    rig.select(QStringLiteral("1"));
    rig.trigger("mnu_script_move_up");
    QCOMPARE(rig.marker(), QStringLiteral("0"));
    rig.select(QStringLiteral("2"));
    rig.trigger("mnu_script_duplicate");
    rig.field(0)->setText(QStringLiteral("750"));
    rig.button("Btn_Modify_Action")->click();
    QCOMPARE(rig.rows(), (QStringList{"1 wait-750", "2 meb-120-10-130-10", "3 end-0", "4 end-0"}));

    // Undoing the move takes the action back, and MODIFY follows it there.
    rig.trigger("mnu_script_undo");
    rig.trigger("mnu_script_undo");
    rig.trigger("mnu_script_undo");
    QCOMPARE(rig.rows(), GreetingRows);
    QCOMPARE(rig.marker(), QStringLiteral("1"));

    // Gone with a cut, the action leaves MODIFY nothing to replace.
    rig.select(QStringLiteral("1"));
    rig.trigger("mnu_script_cut");
    QCOMPARE(rig.marker(), QString());
    QVERIFY(!rig.button("Btn_Modify_Action")->isEnabled());
    rig.button("Btn_Modify_Action")->click();
    QCOMPARE(rig.rows(), (QStringList{"1 meb-120-10-130-10", "2 end-0"}));
}

void tst_Frm_Script_Editor::shortcutsActOnTheListOnlyWhileItHasTheFocus()
{
    Rig rig;
    rig.greeting();
    rig.w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&rig.w));

    rig.view()->setFocus();
    rig.select(QStringLiteral("0"));
    QTest::keyClick(rig.view(), Qt::Key_Down, Qt::AltModifier);
    QCOMPARE(rig.rows(), (QStringList{"1 wait-500", "2 meb-120-10-130-10", "3 end-0"}));
    QTest::keyClick(rig.view(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("meb;120;10;130;10\n"));
    QTest::keyClick(rig.view(), Qt::Key_D, Qt::ControlModifier);
    QCOMPARE(rig.rows().size(), 4);
    QTest::keyClick(rig.view(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(rig.rows().size(), 3);

    // In the title, the keys are the field's own.
    QLineEdit *title = rig.title();
    title->setFocus();
    title->selectAll();
    QTest::keyClick(title, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("Greeting"));
    QTest::keyClicks(title, QStringLiteral("!"));
    QTest::keyClick(title, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(title->text(), QStringLiteral("!Greeting"));
    QCOMPARE(rig.rows().size(), 3);
    QTest::keyClick(title, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(title->text(), QStringLiteral("!"));
    QCOMPARE(rig.rows(), (QStringList{"1 wait-500", "2 meb-120-10-130-10", "3 end-0"}));
    // The title's typing, the field's own undo included, was one step of the script's history.
    rig.view()->setFocus();
    QTest::keyClick(rig.view(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(title->text(), QStringLiteral("Greeting"));
    QCOMPARE(rig.rows(), (QStringList{"1 wait-500", "2 meb-120-10-130-10", "3 end-0"}));
    QTest::keyClick(rig.view(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(title->text(), QStringLiteral("!"));
}

void tst_Frm_Script_Editor::changedMarkFollowsTheSavedState()
{
    Rig rig;
    rig.greeting();
    QVERIFY(rig.open("greeting.sct", Greeting));
    // Opening starts a new history: nothing of the script before can be undone into this one.
    QVERIFY(!rig.get<QAction>(QStringLiteral("mnu_script_undo"))->isEnabled());
    const QString caption = "Script Editor - " + rig.path("greeting.sct");
    QCOMPARE(rig.w.windowTitle(), caption);
    QLineEdit *title = rig.title();
    QTest::keyClicks(title, QStringLiteral("s"));
    QCOMPARE(rig.w.windowTitle(), caption + u'*');
    QCOMPARE(rig.get<QAction>(QStringLiteral("mnu_script_undo"))->text(), QStringLiteral("Undo Title"));
    rig.trigger("mnu_script_undo");
    QCOMPARE(title->text(), QStringLiteral("Greeting"));
    QCOMPARE(rig.w.windowTitle(), caption);

    rig.select(QStringLiteral("1"));
    rig.trigger("mnu_script_move_up");
    rig.dialogs.fileNames << rig.path("saved.sct");
    rig.trigger("mnu_script_save");
    QCOMPARE(rig.w.windowTitle(), "Script Editor - " + rig.path("saved.sct"));
    rig.trigger("mnu_script_undo");
    QCOMPARE(rig.w.windowTitle(), "Script Editor - " + rig.path("saved.sct") + u'*');
    rig.trigger("mnu_script_redo");
    QCOMPARE(rig.w.windowTitle(), "Script Editor - " + rig.path("saved.sct"));
}

void tst_Frm_Script_Editor::discardedScriptComesBack_data()
{
    QTest::addColumn<QString>("discard");
    QTest::newRow("close script") << "mnu_script_close_script";
    QTest::newRow("open another") << "mnu_script_open";
    QTest::newRow("close editor") << "mnu_script_close";
    QTest::newRow("NEW SCRIPT, then close editor") << "Btn_New_List";
    QTest::newRow("lost with the program") << "";
}

void tst_Frm_Script_Editor::discardedScriptComesBack()
{
    QFETCH(QString, discard);

    QTemporaryDir recovery;
    QTemporaryDir files;
    const QString greeting = files.filePath(QStringLiteral("greeting.sct"));
    const QString other = files.filePath(QStringLiteral("other.sct"));
    QVERIFY(writeAll(greeting, Greeting));
    QVERIFY(writeAll(other, QByteArray(Greeting).replace("Greeting", "Other")));
    QStringList changedRows;
    {
        RecordingDialogs dialogs;
        Frm_Script_Editor editor(dialogs, nullptr, {}, recovery.path());
        Drive rig(dialogs, editor);
        editor.show();
        QVERIFY(rig.open(greeting));
        rig.select(QStringLiteral("2"));
        rig.trigger("mnu_script_move_up");
        changedRows = rig.rows();
        if (discard.isEmpty()) {
            // Written shortly after the change, without waiting for any discard.
            QTRY_VERIFY(QFile::exists(editor.recovery().currentFile()));
            return verifyRecovered(recovery.path(), greeting, changedRows);
        }
        dialogs.fileNames << other;
        if (discard == u"Btn_New_List") {
            rig.newScript();
            rig.trigger("mnu_script_close");
            QCOMPARE(dialogs.shown.size(), 1); // NEW SCRIPT's own question
        } else {
            rig.trigger(discard.toLatin1());
            QCOMPARE(dialogs.shown.size(), 0); // no question, as ever
        }
        QCOMPARE(editor.isVisible(), discard == u"mnu_script_close_script" || discard == u"mnu_script_open");
    }
    verifyRecovered(recovery.path(), greeting, changedRows);
}

QTEST_MAIN(tst_Frm_Script_Editor)
#include "tst_frm_script_editor.moc"

namespace {

Script_Timeline *shownTimeline(Drive &rig)
{
    rig.trigger("mnu_script_timeline");
    auto *timeline = rig.get<Script_Timeline>(QStringLiteral("Script_Timeline"));
    return timeline && timeline->isVisible() ? timeline : nullptr;
}

// New script with the neck at pitch 0 and yaw 100, 180 ms of waits, pitch 100 and yaw 50, end.
void twoNeckPoses(Drive &rig)
{
    rig.newScript();
    rig.add(5, {"0", "0", "100", "0"});
    rig.add(8, {"100"});
    rig.add(8, {"80"});
    rig.add(5, {"100", "7", "50", "9"});
    rig.add(7, {});
    rig.dialogs.shown.clear();
}

} // namespace

void tst_Frm_Script_Editor::timelineSelectsTheActionClickedAndShowsTheSelection_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QString>("selected");

    // The greeting's actions start at 0, 20 and 520 ms.
    QTest::newRow("the first move") << qint64(5) << "0";
    QTest::newRow("the wait's start") << qint64(20) << "1";
    QTest::newRow("the wait's end") << qint64(519) << "1";
    QTest::newRow("end") << qint64(520) << "2";
    QTest::newRow("past the end: the last") << qint64(2000) << "2";
}

void tst_Frm_Script_Editor::timelineSelectsTheActionClickedAndShowsTheSelection()
{
    QFETCH(qint64, ms);
    QFETCH(QString, selected);

    Rig rig;
    rig.w.resize(900, 700);
    rig.greeting();
    Script_Timeline *timeline = shownTimeline(rig);
    QVERIFY(timeline);
    QCOMPARE(rig.get<QLabel>(QStringLiteral("Lbl_Script_Length"))->text(), QStringLiteral("Length: 0.54 s"));
    timeline->zoom(10.0, Script_Timeline::NameWidth); // a pixel a millisecond
    const int y = timeline->viewport()->height() - 3;
    QTest::mouseClick(timeline->viewport(), Qt::LeftButton, {}, QPoint(int(std::lround(timeline->xOf(ms))), y));
    QCOMPARE(rig.selected(), selected);

    // The selected action's time is marked; another's is not.
    const qint64 inside = selected == u"0" ? 10 : selected == u"1" ? 270 : 530;
    const qint64 outside = selected == u"1" ? 530 : 270;
    const QImage image = timeline->viewport()->grab().toImage();
    auto pixel = [&](qint64 at) { return image.pixelColor(int(std::lround(timeline->xOf(at))), y); };
    QCOMPARE(pixel(outside), timeline->palette().color(QPalette::Base));
    QVERIFY(pixel(inside) != pixel(outside));

    // A click on the lanes' names selects nothing new.
    rig.select(QStringLiteral("1"));
    QTest::mouseClick(timeline->viewport(), Qt::LeftButton, {}, QPoint(10, y));
    QCOMPARE(rig.selected(), QStringLiteral("1"));
}

void tst_Frm_Script_Editor::easeBetweenIsOneStep_data()
{
    QTest::addColumn<QString>("selection");
    QTest::addColumn<qint64>("duration");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("message");

    const QStringList before{"1 mrn-0-0-100-0", "2 wait-100", "3 wait-80", "4 mrn-100-7-50-9", "5 end-0"};
    const QStringList eased{"1 mrn-0-0-100-0", "2 wait-30",        "3 mrn-25-7-88-9", "4 wait-30",
                            "5 mrn-50-7-75-9", "6 wait-30",        "7 mrn-75-7-63-9", "8 wait-30",
                            "9 mrn-100-7-50-9", "10 end-0"};
    QTest::newRow("the two poses") << "0,3" << qint64(180) << eased << "";
    QTest::newRow("the poses and the waits") << "0,1,2,3" << qint64(180) << eased << "";
    QTest::newRow("no pose at the end") << "0,4" << qint64(180) << before
                                        << "Action 5 is no move: the first and the last action selected must be moves.";
    QTest::newRow("past the limit") << "0,3" << qint64(3600000) << before
                                    << "Easing would make the script longer than 32767 actions: choose a longer step "
                                       "or a shorter duration.";
}

void tst_Frm_Script_Editor::easeBetweenIsOneStep()
{
    QFETCH(QString, selection);
    QFETCH(qint64, duration);
    QFETCH(QStringList, rows);
    QFETCH(QString, message);

    Rig rig;
    twoNeckPoses(rig);
    Script_Timeline *timeline = shownTimeline(rig);
    QVERIFY(timeline);
    const QStringList before = rig.rows();
    qint64 offered = -1;
    rig.w.setEaseAsk([&](QWidget *, const Script_Ease::Settings &preset) {
        offered = preset.durationMs;
        return Script_Ease::Settings{duration, 50, QEasingCurve::Linear};
    });
    rig.select(selection);
    rig.trigger("mnu_script_ease");

    QCOMPARE(rig.rows(), rows);
    QCOMPARE(rig.messages(), message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(offered, message.startsWith(u"Action") ? -1 : 180); // the waits' total
    // The timeline shows the script as it is now.
    QCOMPARE(timeline->timeline().start.size(), rows.size());
    if (message.isEmpty()) {
        QCOMPARE(rig.selected(), QStringLiteral("0,1,2,3,4,5,6,7,8"));
        QCOMPARE(rig.w.undoStack().undoText(), QStringLiteral("Ease Between"));
        rig.trigger("mnu_script_undo");
        QCOMPARE(rig.rows(), before);
        QCOMPARE(timeline->timeline().start.size(), before.size());
    }
}

void tst_Frm_Script_Editor::takeGoesInAtTheSelectionAsOneStep()
{
    Rig rig;
    rig.greeting();
    qint64 now = 0;
    rig.w.setRecordClock([&now] { return now; });
    rig.select(QStringLiteral("2"));
    rig.button("Btn_Record")->click();
    QCOMPARE(rig.button("Btn_Record")->text(), QStringLiteral("Stop"));
    rig.w.recordFrame(QByteArray::fromHex("6d726e5a005a00")); // mrn 90 0 90 0
    now += 1520 * 1000000LL;
    rig.w.recordFrame("gbv"); // no move: left out
    rig.w.recordFrame(QByteArray::fromHex("6d7373081400")); // mss 8 20 0
    QCOMPARE(rig.rows().size(), 3); // nothing goes in before Stop
    rig.trigger("mnu_script_record");

    QCOMPARE(rig.button("Btn_Record")->text(), QStringLiteral("Record"));
    QCOMPARE(rig.rows(), (QStringList{"1 meb-120-10-130-10", "2 wait-500", "3 mrn-90-0-90-0", "4 wait-1500",
                                      "5 mss-8-20-0", "6 end-0"}));
    QCOMPARE(rig.selected(), QStringLiteral("2,3,4"));
    rig.w.recordFrame(QByteArray::fromHex("6d726e5a005a00")); // after Stop: nothing
    QCOMPARE(rig.rows().size(), 6);
    QCOMPARE(rig.w.undoStack().undoText(), QStringLiteral("Record"));
    rig.trigger("mnu_script_undo");
    QCOMPARE(rig.rows(), GreetingRows);
}

void tst_Frm_Script_Editor::takePlaysBackInOrderOnTheVirtualRobot()
{
    OnTheRobot robot;
    QVERIFY(robot.start());
    Drive editor(*robot.dialogs, robot.editor());
    editor.newScript();
    editor.title()->setText(QStringLiteral("Take"));

    editor.button("Btn_Record")->click();
    for (const char *send : {"Btn_Send_Neck", "Btn_Send_Eyebrows", "Btn_Send_Neck", "Btn_Send_Mouth"})
        robot.main->findChild<QPushButton *>(QLatin1StringView(send))->click();
    editor.button("Btn_Record")->click();
    editor.add(7, {});
    QList<QByteArray> sent;
    for (const QString &row : editor.rows())
        if (!row.contains(u"wait") && !row.contains(u"end"))
            sent << row.section(u' ', 1).section(u'-', 0, 0).toLatin1();
    QCOMPARE(sent, (QList<QByteArray>{"mrn", "meb", "mrn", "mrm"}));

    const QString path = editor.path("take.sct");
    editor.dialogs.fileNames << path;
    editor.trigger("mnu_script_save");
    QCOMPARE(editor.w.scriptPath(), path);
    QTRY_VERIFY(robot.received("m").size() >= 4);
    const QList<QByteArray> recorded = robot.received("m");

    robot.play(path);
    QTRY_VERIFY_WITH_TIMEOUT(robot.received("m").size() >= 8, 20000);
    QCOMPARE(robot.received("m").mid(4), recorded);
}
