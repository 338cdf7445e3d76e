#include "panel/Frm_Traffic.h"

#include "link/Com.h"
#include "ui/Dialogs.h"
#include "ui/Save_Target.h"

#include <QAbstractListModel>
#include <QCheckBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QTimer>
#include <QVBoxLayout>

#include <deque>

namespace {

const QString Title = QStringLiteral("ORVIK");
constexpr int KindRole = Qt::UserRole;
constexpr int HexWidth = 11 * 3; // the longest frame's bytes, so the meanings line up

enum Filter { Moves, Queries, Replies, FilterCount };

struct FilterBox
{
    const char *name;
    const char *caption;
};
constexpr std::array<FilterBox, FilterCount> FilterBoxes{{
    {"Chk_Moves", "Moves"},
    {"Chk_Queries", "Queries"},
    {"Chk_Replies", "Replies"},
}};

Filter filterOf(const Frm_Traffic::Line &line)
{
    if (line.direction == Frm_Traffic::Direction::NotSent)
        return Moves;
    if (line.direction != Frm_Traffic::Direction::Sent)
        return Replies;
    return Frame_Text::sentKind(line.bytes) == Frame_Text::Kind::Query ? Queries : Moves;
}

QString lineText(const Frm_Traffic::Line &line)
{
    using Direction = Frm_Traffic::Direction;
    if (line.direction == Direction::NotSent)
        return QStringLiteral("%1 ms  ---  %2").arg(line.ms, 9).arg(line.note);
    const QString meaning = line.direction == Direction::Sent       ? Frame_Text::sent(line.bytes)
                            : line.direction == Direction::Received ? Frame_Text::received(line.bytes)
                                                                    : QStringLiteral("discarded");
    return QStringLiteral("%1 ms  %2  %3  %4")
        .arg(line.ms, 9)
        .arg(line.direction == Direction::Sent ? QStringLiteral("out") : QStringLiteral("in "))
        .arg(QString::fromLatin1(line.bytes.toHex(' ').toUpper()), -HexWidth)
        .arg(meaning);
}

} // namespace

// The last MaxLines lines; the text of a line is made only when a row is shown.
class Frm_Traffic::LineModel : public QAbstractListModel
{
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : int(m_lines.size()); }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || size_t(index.row()) >= m_lines.size())
            return {};
        const Line &line = m_lines[size_t(index.row())];
        if (role == Qt::DisplayRole)
            return lineText(line);
        if (role == KindRole)
            return int(filterOf(line));
        return {};
    }

    void append(QList<Line> &lines)
    {
        if (lines.isEmpty())
            return;
        const qsizetype keep = std::min<qsizetype>(lines.size(), MaxLines);
        const qsizetype drop = qsizetype(m_lines.size()) + keep - MaxLines;
        if (drop > 0) {
            beginRemoveRows({}, 0, int(drop - 1));
            m_lines.erase(m_lines.begin(), m_lines.begin() + drop);
            endRemoveRows();
        }
        const int first = int(m_lines.size());
        beginInsertRows({}, first, first + int(keep) - 1);
        for (auto line = lines.end() - keep; line != lines.end(); ++line)
            m_lines.push_back(std::move(*line));
        endInsertRows();
        lines.clear();
    }

    void clear()
    {
        beginResetModel();
        m_lines.clear();
        endResetModel();
    }

private:
    std::deque<Line> m_lines;
};

class Frm_Traffic::LineFilter : public QSortFilterProxyModel
{
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void show(int filter, bool shown)
    {
        m_shown[size_t(filter)] = shown;
        invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex &parent) const override
    {
        return m_shown[size_t(sourceModel()->index(row, 0, parent).data(KindRole).toInt())];
    }

private:
    std::array<bool, FilterCount> m_shown{true, true, true};
};

Frm_Traffic::Frm_Traffic(Com &com, Dialogs &dialogs, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_com(com)
    , m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("Frm_Traffic"));
    setWindowTitle(QStringLiteral("Traffic Monitor"));

    m_model = new LineModel(this);
    m_filter = new LineFilter(this);
    m_filter->setSourceModel(m_model);

    m_view = new QListView;
    m_view->setObjectName(QStringLiteral("L_Traffic"));
    m_view->setModel(m_filter);
    m_view->setUniformItemSizes(true); // thousands of lines lay out in no time
    m_view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);

    auto *controls = new QHBoxLayout;
    controls->addWidget(new QLabel(QStringLiteral("Show :")));
    for (int filter = 0; filter < FilterCount; ++filter) {
        auto *box = new QCheckBox(QLatin1StringView(FilterBoxes[size_t(filter)].caption));
        box->setObjectName(QLatin1StringView(FilterBoxes[size_t(filter)].name));
        box->setChecked(true);
        connect(box, &QCheckBox::toggled, this, [this, filter](bool shown) { m_filter->show(filter, shown); });
        controls->addWidget(box);
    }
    controls->addStretch();
    auto addButton = [this, controls](const char *name, const QString &caption, auto handler) {
        auto *button = new QPushButton(caption);
        button->setObjectName(QLatin1StringView(name));
        connect(button, &QPushButton::clicked, this, handler);
        controls->addWidget(button);
        return button;
    };
    m_pause = addButton("Btn_Pause", QStringLiteral("Pause"), &Frm_Traffic::Btn_Pause_Click);
    m_pause->setCheckable(true);
    addButton("Btn_Clear", QStringLiteral("Clear"), &Frm_Traffic::Btn_Clear_Click);
    addButton("Btn_Save", QStringLiteral("Save…"), &Frm_Traffic::Btn_Save_Click);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_view, 1);
    layout->addLayout(controls);
    resize(760, 420);

    m_refresh = new QTimer(this);
    m_refresh->setObjectName(QStringLiteral("T_Refresh"));
    m_refresh->setInterval(RefreshInterval);
    m_refresh->setSingleShot(true);
    connect(m_refresh, &QTimer::timeout, this, &Frm_Traffic::T_Refresh_Timer);

    m_clock.start();
    connect(&m_com, &Com::written, this, [this](const QByteArray &bytes) {
        collect({m_clock.elapsed(), Direction::Sent, bytes});
    });
    connect(&m_com, &Com::notSent, this, [this](int frames, const QString &reason) {
        collect({m_clock.elapsed(), Direction::NotSent, {}, notSentText(frames, reason)});
    });
}

QString Frm_Traffic::notSentText(int frames, const QString &reason)
{
    return (frames == 1 ? QStringLiteral("1 move not sent: ") : QStringLiteral("%1 moves not sent: ").arg(frames)) +
           reason;
}

Frm_Traffic::~Frm_Traffic() = default;

void Frm_Traffic::replyTaken(const QByteArray &frame)
{
    collect({m_clock.elapsed(), Direction::Received, frame});
}

void Frm_Traffic::byteDiscarded(quint8 byte)
{
    if (!m_pending.isEmpty() && m_pending.back().direction == Direction::Discarded &&
        m_pending.back().bytes.size() < DiscardedPerLine) {
        m_pending.back().bytes.append(char(byte));
        return;
    }
    collect({m_clock.elapsed(), Direction::Discarded, QByteArray(1, char(byte))});
}

void Frm_Traffic::collect(Line line)
{
    // While paused nothing reaches the list, and only what it could show is kept.
    if (m_pending.size() >= MaxLines)
        m_pending.removeFirst();
    m_pending.append(std::move(line));
    if (!m_refresh->isActive() && !m_pause->isChecked())
        m_refresh->start();
}

void Frm_Traffic::T_Refresh_Timer()
{
    m_refresh->stop();
    if (m_pause->isChecked() || m_pending.isEmpty())
        return;
    // Follow the newest line only when the operator is not reading further up.
    QScrollBar *bar = m_view->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    m_model->append(m_pending);
    if (atEnd)
        m_view->scrollToBottom();
}

void Frm_Traffic::Btn_Pause_Click()
{
    if (!m_pause->isChecked())
        T_Refresh_Timer();
}

void Frm_Traffic::Btn_Clear_Click()
{
    m_pending.clear();
    m_model->clear();
}

void Frm_Traffic::Btn_Save_Click()
{
    const QPointer<Frm_Traffic> self(this);
    const QString name = m_dialogs.saveFileName(this, QStringLiteral("Save the traffic"),
                                                QStringLiteral("traffic.txt"), QStringLiteral("Text (*.txt)"));
    if (!self || name.isEmpty())
        return;
    // What the list shows, filter and all.
    QByteArray text;
    for (int row = 0; row < m_filter->rowCount(); ++row)
        text += m_filter->index(row, 0).data().toString().toUtf8() + '\n';
    auto refuse = [this, &name](const QString &why) {
        m_dialogs.inform(this, QStringLiteral("The traffic could not be saved to \"%1\": %2.").arg(name, why),
                         QMessageBox::Information, Title);
    };
    if (const QString why = Save_Target::refusal(name); !why.isEmpty())
        return refuse(why);
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        refuse(file.errorString());
}
