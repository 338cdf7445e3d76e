#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

// Every message box and file dialog of the program goes through this one interface, so
// that tests can answer modal questions with a scripted stand-in.
class Dialogs
{
public:
    // Shown when a message carries no title of its own.
    static inline const QString applicationTitle = QStringLiteral("Orvik Serial Interface");

    struct Message
    {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    };

    virtual ~Dialogs() = default;

    // Shows a modal message and returns the button chosen. An empty title becomes the
    // application's title.
    QMessageBox::StandardButton message(QWidget *parent, Message message);

    // Convenience for the common case: text, icon, OK button.
    void inform(QWidget *parent, const QString &text, QMessageBox::Icon icon = QMessageBox::Information,
                const QString &title = QString());

    // Modal file choosers; an empty result means the operator cancelled.
    virtual QString openFileName(QWidget *parent, const QString &caption, const QString &fileName,
                                 const QString &filter);
    virtual QString saveFileName(QWidget *parent, const QString &caption, const QString &fileName,
                                 const QString &filter);

protected:
    virtual QMessageBox::StandardButton showMessage(QWidget *parent, const Message &message);
};
