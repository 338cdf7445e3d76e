#pragma once

#include "link/Frame_Text.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QWidget>

#include <array>

class QListView;
class QPushButton;
class QTimer;
class Com;
class Dialogs;

// Lists what went over the line: every frame written to the port and every reply the panel
// took in, with bytes the reply assembly dropped shown as discarded, and frames dropped unwritten
// when the port closed. Each line carries the milliseconds since the monitor opened (so reopening
// the port never sends the times back), the direction, the bytes in hex and what they mean.
//
// Traffic is only collected as it happens; the list takes it in every RefreshInterval ms in
// one go, so a flood of frames costs the panel no repaint per frame.
class Frm_Traffic : public QWidget
{
    Q_OBJECT

public:
    static constexpr int MaxLines = 10000;
    static constexpr int RefreshInterval = 50;
    // Discarded bytes in a row share a line, up to this many.
    static constexpr int DiscardedPerLine = 16;

    Frm_Traffic(Com &com, Dialogs &dialogs, QWidget *parent = nullptr);
    ~Frm_Traffic() override;

    // The main window's reply assembly tells what it took in: a whole reply, or one byte
    // that made none.
    void replyTaken(const QByteArray &frame);
    void byteDiscarded(quint8 byte);
    // "N moves not sent: REASON", as the monitor and the main window's status bar say it.
    static QString notSentText(int frames, const QString &reason);

    void Btn_Pause_Click();
    void Btn_Clear_Click();
    void Btn_Save_Click();
    // Moves what arrived since the last refresh into the list, as the refresh timer does.
    void T_Refresh_Timer();

    enum class Direction { Sent, Received, Discarded, NotSent };
    struct Line
    {
        qint64 ms;
        Direction direction;
        QByteArray bytes;
        QString note = {}; // why frames were not sent, with their count
    };

private:
    class LineModel;
    class LineFilter;

    void collect(Line line);

    Com &m_com;
    Dialogs &m_dialogs;
    LineModel *m_model = nullptr;
    LineFilter *m_filter = nullptr;
    QList<Line> m_pending;
    QListView *m_view = nullptr;
    QPushButton *m_pause = nullptr;
    QTimer *m_refresh = nullptr;
    QElapsedTimer m_clock;
};
