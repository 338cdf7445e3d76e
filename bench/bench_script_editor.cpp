// Measures the script editor on the longest script a file may hold (32767 actions), in a shown
// window, each time from the handler's call until the list has been laid out and painted:
//  - opening the script from its file;
//  - ADD on 32766 actions, MODIFY of an action in the middle, removing an action in the middle;
//  - Insert, Move Up and Duplicate in the middle of 32766 actions, pasting 1000 rows into the
//    middle of 31767, and undoing each;
//  - writing the unsaved script's record, which the editor does shortly after a change.
// Usage: bench_script_editor [repeats]

#include "scripts/Frm_Script_Editor.h"
#include "ui/Dialogs.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

class BenchDialogs : public Dialogs
{
public:
    QString fileName;
    int messages = 0;

    QString openFileName(QWidget *, const QString &, const QString &, const QString &) override { return fileName; }

protected:
    QMessageBox::StandardButton showMessage(QWidget *, const Message &message) override
    {
        ++messages;
        std::fprintf(stderr, "bench_script_editor: unexpected message: %s\n", qPrintable(message.text));
        return QMessageBox::Yes;
    }
};

// Milliseconds from the call to a painted window.
double timed(const std::function<void()> &step)
{
    QElapsedTimer clock;
    clock.start();
    step();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    return double(clock.nsecsElapsed()) / 1e6;
}

void report(const char *what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    std::printf("%-44s median %7.2f ms   max %7.2f ms   (%zu runs)\n", what, ms[ms.size() / 2], ms.back(), ms.size());
}

bool writeScript(const QString &path, qint32 count)
{
    // Appended directly: Add_Script_Action's scan for a match would make this quadratic.
    Action_List list;
    list.Actions.clear();
    for (qint32 k = 1; k <= count; ++k) {
        const bool last = k == count;
        list.Actions.append(Script_Action{k, last ? QStringLiteral("end") : QStringLiteral("mrm"),
                                          last ? QList<qint32>{0} : QList<qint32>{90, 5, 90, 5, 90, 5, 90, 5},
                                          last ? 1 : 8});
    }
    list.Nb_Action = count;
    QString why;
    if (!Write_Script_File(path, QStringLiteral("Bench"), QStringLiteral("06-12-2026"), list, &why)) {
        std::fprintf(stderr, "bench_script_editor: %s\n", qPrintable(why));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen platform says so each time the tool's rows change the window's size hints.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &text) {
        if (!text.contains(QLatin1StringView("propagateSizeHints")))
            qt_message_output(type, context, text);
    });
    QApplication app(argc, argv);
    const int repeats = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    constexpr qint32 Full = Frm_Script_Editor::MaxActions;

    QTemporaryDir dir;
    const QString full = dir.filePath(QStringLiteral("full.sct"));
    const QString almost = dir.filePath(QStringLiteral("almost.sct"));
    const QString room = dir.filePath(QStringLiteral("room.sct"));
    constexpr qint32 Pasted = 1000;
    if (!writeScript(full, Full) || !writeScript(almost, Full - 1) || !writeScript(room, Full - Pasted))
        return 1;

    BenchDialogs dialogs;
    Frm_Script_Editor editor(dialogs, nullptr, {}, dir.filePath(QStringLiteral("recovery")));
    editor.resize(900, 600);
    editor.show();
    QCoreApplication::processEvents();
    auto *view = editor.findChild<QTreeView *>(QStringLiteral("L_View"));
    auto *kind = editor.findChild<QComboBox *>(QStringLiteral("Cmb_action"));
    auto select = [view](int row) { view->setCurrentIndex(view->model()->index(row, 0)); };

    std::vector<double> open;
    dialogs.fileName = full;
    for (int r = 0; r < repeats; ++r)
        open.push_back(timed([&] { editor.mnu_script_open_Click(); }));
    if (editor.currentScript().Nb_Action != Full) {
        std::fprintf(stderr, "bench_script_editor: the script did not open\n");
        return 1;
    }

    // MODIFY: the middle action loaded for change, then changed in place again and again.
    std::vector<double> modify;
    select(Full / 2);
    editor.L_View_DblClick();
    auto *field = editor.findChild<QLineEdit *>(QStringLiteral("Txt_Action(0)"));
    for (int r = 0; r < repeats; ++r) {
        field->setText(QString::number(r));
        modify.push_back(timed([&] { editor.Btn_Modify_Action_Click(); }));
    }

    // ADD on 32766 actions and a removal from the middle, in turn, so each finds the same length.
    dialogs.fileName = almost;
    editor.mnu_script_open_Click();
    kind->setCurrentIndex(8);
    editor.Cmb_action_Click();
    std::vector<double> add, remove;
    for (int r = 0; r < repeats; ++r) {
        editor.keepUnsaved();
        add.push_back(timed([&] { editor.Btn_Add_Action_Click(); }));
        select(Full / 2);
        editor.keepUnsaved();
        remove.push_back(timed([&] { editor.mnu_script_remove_Click(); }));
        kind->setCurrentIndex(8);
        editor.Cmb_action_Click();
    }
    if (editor.currentScript().Nb_Action != Full - 1 || dialogs.messages != 0) {
        std::fprintf(stderr, "bench_script_editor: the script did not change as planned\n");
        return 1;
    }

    // Each edit and its undo in turn on 32766 actions, so each finds the same length.
    auto *undo = editor.findChild<QAction *>(QStringLiteral("mnu_script_undo"));
    std::vector<double> insert, insertUndo, move, moveUndo, duplicate, duplicateUndo;
    auto editAndUndo = [&](std::vector<double> &edit, std::vector<double> &back, const std::function<void()> &step) {
        for (int r = 0; r < repeats; ++r) {
            select(Full / 2);
            // The record of the step before is written now, not inside the next one's figure:
            // it is measured on its own below.
            editor.keepUnsaved();
            edit.push_back(timed(step));
            editor.keepUnsaved();
            back.push_back(timed([&] { undo->trigger(); }));
        }
    };
    kind->setCurrentIndex(8);
    editor.Cmb_action_Click();
    editAndUndo(insert, insertUndo, [&] { editor.Btn_Insert_Action_Click(); });
    editAndUndo(move, moveUndo, [&] { editor.mnu_script_move_up_Click(); });
    editAndUndo(duplicate, duplicateUndo, [&] { editor.mnu_script_duplicate_Click(); });
    if (editor.currentScript().Nb_Action != Full - 1 || dialogs.messages != 0) {
        std::fprintf(stderr, "bench_script_editor: the edits were not undone as planned\n");
        return 1;
    }

    // The record of the unsaved script, written shortly after a change.
    std::vector<double> keep;
    select(Full / 2);
    editor.mnu_script_move_up_Click();
    for (int r = 0; r < repeats; ++r)
        keep.push_back(timed([&] { editor.keepUnsaved(); }));

    // 1000 rows pasted into the middle of 31767 actions, which fills the script.
    QString lines;
    for (qint32 i = 0; i < Pasted; ++i)
        lines += QStringLiteral("mrm;%1;5;90;5;90;5;90;5\n").arg(i % 256);
    QGuiApplication::clipboard()->setText(lines);
    dialogs.fileName = room;
    editor.mnu_script_open_Click();
    std::vector<double> paste, pasteUndo;
    for (int r = 0; r < repeats; ++r) {
        select((Full - Pasted) / 2);
        editor.keepUnsaved();
        paste.push_back(timed([&] { editor.mnu_script_paste_Click(); }));
        if (editor.currentScript().Nb_Action != Full) {
            std::fprintf(stderr, "bench_script_editor: the rows were not pasted\n");
            return 1;
        }
        editor.keepUnsaved();
        pasteUndo.push_back(timed([&] { undo->trigger(); }));
    }

    std::printf("Script editor, %d actions, offscreen, from the handler to the painted list:\n", Full);
    report("open a 32767-action script", open);
    report("ADD on 32766 actions", add);
    report("MODIFY the middle action of 32767", modify);
    report("remove the middle action of 32767", remove);
    report("Insert in the middle of 32766", insert);
    report("  its undo", insertUndo);
    report("Move Up in the middle of 32766", move);
    report("  its undo", moveUndo);
    report("Duplicate in the middle of 32766", duplicate);
    report("  its undo", duplicateUndo);
    report("paste 1000 rows into 31767", paste);
    report("  its undo", pasteUndo);
    report("write the unsaved script's record", keep);
    return 0;
}
