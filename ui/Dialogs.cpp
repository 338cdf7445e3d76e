#include "ui/Dialogs.h"

#include <QFileDialog>

QMessageBox::StandardButton Dialogs::message(QWidget *parent, Message message)
{
    if (message.title.isEmpty())
        message.title = applicationTitle;
    return showMessage(parent, message);
}

void Dialogs::inform(QWidget *parent, const QString &text, QMessageBox::Icon icon, const QString &title)
{
    message(parent, {title, text, icon, QMessageBox::Ok});
}

QMessageBox::StandardButton Dialogs::showMessage(QWidget *parent, const Message &message)
{
    QMessageBox box(message.icon, message.title, message.text, message.buttons, parent);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QString Dialogs::openFileName(QWidget *parent, const QString &caption, const QString &fileName,
                              const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, caption, fileName, filter);
}

QString Dialogs::saveFileName(QWidget *parent, const QString &caption, const QString &fileName,
                              const QString &filter)
{
    return QFileDialog::getSaveFileName(parent, caption, fileName, filter);
}
