#pragma once

#include <QStyledItemDelegate>

// Item data on column 0 of the contact tree's rows.
enum ContactTreeRole {
    ROLE_ITEM_TYPE = 7001, // int: ITEM_GROUP or ITEM_CONTACT
    ROLE_EXPANDED = 7004,  // bool: this contact row is the expanded one
    ROLE_PHONE_COUNT = 7005, // int: phone lines of the contact
};

// Values of ROLE_ITEM_TYPE.
enum ContactTreeItemType {
    ITEM_GROUP = 7002,
    ITEM_CONTACT = 7003,
};

// Gives the contact tree's rows their heights from the data on their items.
class TItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit TItemDelegate(QObject *parent = nullptr);

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
