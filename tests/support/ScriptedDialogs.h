#pragma once

#include "ui/Dialogs.h"

#include <QList>
#include <QStringList>

class Frm_Main;

// Answers the program's modal questions the way the test chose, and records every message.
class ScriptedDialogs : public Dialogs
{
public:
    // Installs a new stand-in in the window and returns it (the window owns it).
    static ScriptedDialogs *install(Frm_Main &main);

    QList<Message> shown;
    QList<QMessageBox::StandardButton> answers; // taken in order; OK (or Yes) when none is left
    QStringList fileNames;                      // answers of the file choosers, in order

    QString openFileName(QWidget *, const QString &, const QString &, const QString &) override;
    QString saveFileName(QWidget *, const QString &, const QString &, const QString &) override;

protected:
    QMessageBox::StandardButton showMessage(QWidget *parent, const Message &message) override;
};
