#pragma once

#include <QStyledItemDelegate>

// Item data on column 0 of the contact tree's rows.
enum ContactTreeRole {
    ROLE_ITEM_TYPE = 7001, // int: ITEM_GROUP or ITEM_CONTACT
    ROLE_EXPANDED = 7004,  // bool: this contact row is the expanded one
    ROLE_PHONE_COUNT = 7005, // int: phone lines of the contact
    ROLE_CONTACT = 7006,     // TContact: the contact of a contact row
    ROLE_GROUP_ID = 7007,    // QString: the group's ID, on a group row
    ROLE_GROUP_NAME = 7008,  // QString: the group's name, on a group row
    ROLE_SEARCH_TEXT = 7009, // QString: what a search matches, on a contact row
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

    static constexpr int RowWidth = 200;
    static constexpr int GroupHeight = 30;
    static constexpr int CollapsedHeight = 40;
    static constexpr int PhoneLineHeight = 30;

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
