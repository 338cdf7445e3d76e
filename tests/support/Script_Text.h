#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

// A script file's text: one action a line of actions ("mrn;90;20;90;20\nwait;500"), under a
// header with the title and the count given (the actions' own count unless told otherwise).
inline QByteArray scriptText(const QByteArray &actions, qsizetype count = -1, const QByteArray &title = "Test")
{
    const QList<QByteArray> lines = actions.isEmpty() ? QList<QByteArray>() : actions.split('\n');
    QByteArray text = "[GENERAL]\r\nsoftware=ORVIK\r\nName=" + title + "\r\nDate=05-12-2026\r\n[COMMANDS]\r\nnb_action=" +
                      QByteArray::number(count < 0 ? lines.size() : count) + "\r\n";
    for (qsizetype k = 0; k < lines.size(); ++k)
        text += "action_" + QByteArray::number(k + 1) + '=' + lines[k] + "\r\n";
    return text;
}

inline bool writeScript(const QString &path, const QByteArray &actions, const QByteArray &title = "Test")
{
    QFile file(path);
    const QByteArray text = scriptText(actions, -1, title);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}
