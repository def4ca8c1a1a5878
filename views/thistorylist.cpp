#include "views/thistorylist.h"

#include "account/taccount.h"
#include "views/thistoryitem.h"
#include "views/trowstamp.h"

#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QToolTip>

// Paints each row as its THistoryItem would look on it. Two stamps, because
// an entry shows its name line only once given a name that is not blank and
// never hides it again: one stamp for rows with a name, one for rows
// without.
class THistoryDelegate : public QStyledItemDelegate
{
public:
    explicit THistoryDelegate(THistoryList *list)
        : QStyledItemDelegate(list)
        , named(list, new THistoryItem)
        , unnamed(list, new THistoryItem)
    {
        // Its name line shows from the start, so that its height is a named
        // row's before it has painted one.
        static_cast<THistoryItem *>(named.widget())->setName(QStringLiteral("Name"));
    }

    // The stamp filled with the row's texts.
    THistoryItem *entryFor(const QModelIndex &index) const
    {
        const QString name = index.data(ROLE_HISTORY_NAME).toString();
        const QString phone = index.data(ROLE_HISTORY_PHONE).toString();
        const bool hasName = !name.trimmed().isEmpty();
        auto *entry = static_cast<THistoryItem *>((hasName ? named : unnamed).widget());
        if (hasName)
            entry->setName(name);
        entry->setPhone(phone);
        entry->setCallNumber(phone);
        entry->setDuration(index.data(ROLE_HISTORY_DURATION).toString());
        return entry;
    }

    static QPushButton *callButtonOf(THistoryItem *entry)
    {
        return entry->findChild<QPushButton *>(QStringLiteral("pbCall"));
    }

    // The Call button of the row laid out in rowRect.
    QRect callButtonRect(const QRect &rowRect, const QModelIndex &index) const
    {
        THistoryItem *entry = entryFor(index);
        if (entry->size() != rowRect.size())
            entry->resize(rowRect.size());
        if (QLayout *layout = entry->layout())
            layout->activate();
        QPushButton *button = callButtonOf(entry);
        return QRect(button->mapTo(entry, QPoint()), button->size()).translated(rowRect.topLeft());
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        // The row's own background first, as under an item widget.
        QStyleOptionViewItem background = option;
        initStyleOption(&background, index);
        background.text.clear();
        QStyle *style = option.widget ? option.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &background, painter, option.widget);

        THistoryItem *entry = entryFor(index);
        const bool down = pressed.isValid() && index == pressed;
        QPushButton *button = callButtonOf(entry);
        button->setDown(down);
        TRowStamp &stamp = entry == named.widget() ? named : unnamed;
        stamp.paint(painter, option.rect,
                    entry->name() + QChar(0) + entry->phone() + QChar(0) + entry->duration()
                        + (down ? QStringLiteral("\1down") : QString()));
        button->setDown(false);
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QSize hint = QStyledItemDelegate::sizeHint(option, index);
        const bool hasName = !index.data(ROLE_HISTORY_NAME).toString().trimmed().isEmpty();
        return QSize(hint.width(), (hasName ? named : unnamed).rowHeight(hint.height()));
    }

    // The row drawn with its Call button held down.
    QPersistentModelIndex pressed;

private:
    mutable TRowStamp named;
    mutable TRowStamp unnamed;
};

THistoryList::THistoryList(QWidget *parent)
    : QTreeWidget(parent)
    , delegate(new THistoryDelegate(this))
{
    setItemDelegate(delegate);
}

THistoryList::~THistoryList() = default;

void THistoryList::attach(TAccount *account)
{
    connect(account, &TAccount::callHistoryChanged, this, &THistoryList::setCalls);
}

void THistoryList::setCalls(const QList<TCallRecord> &calls)
{
    clearHistory();
    for (const TCallRecord &call : calls)
        addItem(call.name, call.wholeNumber, call.details);
}

void THistoryList::addItem(const QString &name, const QString &phone, const QString &duration)
{
    auto *row = new QTreeWidgetItem;
    row->setData(0, ROLE_HISTORY_NAME, name);
    row->setData(0, ROLE_HISTORY_PHONE, phone);
    row->setData(0, ROLE_HISTORY_DURATION, duration);
    // What assistive technology reads for the painted row: the lines it
    // shows, top to bottom.
    QStringList spoken;
    if (!name.trimmed().isEmpty())
        spoken << name;
    spoken << QLatin1Char('+') + phone << duration;
    row->setData(0, Qt::AccessibleTextRole, spoken.join(QLatin1String(", ")));
    addTopLevelItem(row);
}

void THistoryList::clearHistory()
{
    pressedCall = QPersistentModelIndex();
    delegate->pressed = QPersistentModelIndex();
    clear();
}

QRect THistoryList::callButtonRect(QTreeWidgetItem *row) const
{
    const QModelIndex index = indexFromItem(row);
    const QRect rowRect = visualRect(index);
    if (!index.isValid() || rowRect.isEmpty())
        return QRect();
    return delegate->callButtonRect(rowRect, index);
}

QTreeWidgetItem *THistoryList::callButtonAt(const QPoint &position) const
{
    QTreeWidgetItem *row = itemAt(position);
    return row && callButtonRect(row).contains(position) ? row : nullptr;
}

void THistoryList::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        if (QTreeWidgetItem *row = callButtonAt(event->position().toPoint())) {
            pressedCall = indexFromItem(row);
            delegate->pressed = pressedCall;
            viewport()->update(visualItemRect(row));
            event->accept();
            return;
        }
    }
    QTreeWidget::mousePressEvent(event);
}

void THistoryList::mouseMoveEvent(QMouseEvent *event)
{
    if (!pressedCall.isValid()) {
        QTreeWidget::mouseMoveEvent(event);
        return;
    }
    // As a push button does: down while the pointer is on it.
    QTreeWidgetItem *row = itemFromIndex(pressedCall);
    const bool onButton = row && callButtonRect(row).contains(event->position().toPoint());
    if (onButton != (delegate->pressed == pressedCall)) {
        delegate->pressed = onButton ? pressedCall : QPersistentModelIndex();
        viewport()->update(visualItemRect(row));
    }
}

void THistoryList::mouseReleaseEvent(QMouseEvent *event)
{
    if (!pressedCall.isValid() || event->button() != Qt::LeftButton) {
        QTreeWidget::mouseReleaseEvent(event);
        return;
    }
    QTreeWidgetItem *row = itemFromIndex(pressedCall);
    pressedCall = QPersistentModelIndex();
    delegate->pressed = QPersistentModelIndex();
    if (!row)
        return;
    viewport()->update(visualItemRect(row));
    if (callButtonRect(row).contains(event->position().toPoint()))
        call(row);
}

void THistoryList::keyPressEvent(QKeyEvent *event)
{
    // The keyboard's way to a row's Call button, which takes no focus of
    // its own here.
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (QTreeWidgetItem *row = currentItem(); row && event->modifiers() == Qt::NoModifier) {
            call(row);
            return;
        }
        break;
    default:
        break;
    }
    QTreeWidget::keyPressEvent(event);
}

void THistoryList::call(QTreeWidgetItem *row)
{
    // The entry's own button calls, with the row's number.
    THistoryItem *entry = delegate->entryFor(indexFromItem(row));
    THistoryDelegate::callButtonOf(entry)->click();
}

bool THistoryList::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto *help = static_cast<QHelpEvent *>(event);
        if (QTreeWidgetItem *row = callButtonAt(help->pos())) {
            THistoryItem *entry = delegate->entryFor(indexFromItem(row));
            QToolTip::showText(help->globalPos(), THistoryDelegate::callButtonOf(entry)->toolTip(), viewport(),
                               callButtonRect(row));
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    return QTreeWidget::viewportEvent(event);
}
