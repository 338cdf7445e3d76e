#include "support/ScriptedDialogs.h"

#include "panel/Frm_Main.h"

ScriptedDialogs *ScriptedDialogs::install(Frm_Main &main)
{
    auto dialogs = std::make_unique<ScriptedDialogs>();
    ScriptedDialogs *raw = dialogs.get();
    main.setDialogs(std::move(dialogs));
    return raw;
}

QMessageBox::StandardButton ScriptedDialogs::showMessage(QWidget *, const Message &message)
{
    shown.append(message);
    if (!answers.isEmpty())
        return answers.takeFirst();
    return message.buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
}

QString ScriptedDialogs::openFileName(QWidget *, const QString &, const QString &, const QString &)
{
    return fileNames.isEmpty() ? QString() : fileNames.takeFirst();
}

QString ScriptedDialogs::saveFileName(QWidget *, const QString &, const QString &, const QString &)
{
    return fileNames.isEmpty() ? QString() : fileNames.takeFirst();
}
