#include "views/titemdelegate.h"

TItemDelegate::TItemDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{
}

QSize TItemDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &index) const
{
    constexpr int width = 200;
    const QModelIndex cell = index.siblingAtColumn(0);
    const int type = cell.data(ROLE_ITEM_TYPE).toInt();
    if (type == ITEM_GROUP)
        return QSize(width, 30);
    if (type == ITEM_CONTACT && cell.data(ROLE_EXPANDED).toBool())
        return QSize(width, cell.data(ROLE_PHONE_COUNT).toInt() * 30 + 10);
    return QSize(width, 40);
}
