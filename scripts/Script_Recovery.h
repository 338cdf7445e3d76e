#pragma once

#include "scripts/Script_Edit.h"

#include <QDateTime>
#include <QList>
#include <QString>

// Keeps the editor's unsaved script in a file of its own in the application's data folder, so
// that a script closed without saving, or lost with the program, can be brought back. Each
// script the editor holds has its own file; a file goes when its script is saved, or when it is
// a week old.
class Script_Recovery
{
public:
    struct Entry
    {
        QString file;
        QDateTime kept; // when it was last written
        Script_Content content;
    };

    // The application's data folder's "recovery" folder unless told another.
    explicit Script_Recovery(const QString &folder = QString());

    QString folder() const { return m_folder; }
    // The file the script in hand is kept in (it may not exist yet).
    QString currentFile() const;

    // Writes the script in hand atomically; false with the reason when it could not.
    bool keep(const Script_Content &content, QString *why = nullptr);
    // The script in hand was saved (or is as its file has it): its record goes.
    void forget();
    // The script in hand was put aside: its record stays, and what comes next gets a new one.
    void startNext();
    // The script in hand is the one recovered: it goes on in that entry's file.
    void adopt(const Entry &entry);

    // Every kept script but the one in hand, newest first; records a week old are removed.
    QList<Entry> entries() const;

    // The file's text, and the script back from it (false when it is none of ours).
    static QByteArray format(const Script_Content &content);
    static bool parse(QByteArrayView bytes, Script_Content &content);

    static constexpr qint64 KeptForSeconds = 7 * 24 * 3600;

private:
    QString m_folder;
    QString m_name;
};
