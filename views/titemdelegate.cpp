#include "views/titemdelegate.h"

TItemDelegate::TItemDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{
}

QSize TItemDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &index) const
{
    const QModelIndex cell = index.siblingAtColumn(0);
    const int type = cell.data(ROLE_ITEM_TYPE).toInt();
    if (type == ITEM_GROUP)
        return QSize(RowWidth, GroupHeight);
    if (type == ITEM_CONTACT && cell.data(ROLE_EXPANDED).toBool())
        return QSize(RowWidth, cell.data(ROLE_PHONE_COUNT).toInt() * PhoneLineHeight + 10);
    return QSize(RowWidth, CollapsedHeight);
}
