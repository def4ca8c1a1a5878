#include "views/thistorylist.h"

#include "views/thistoryitem.h"

THistoryList::THistoryList(QWidget *parent)
    : QTreeWidget(parent)
{
}

void THistoryList::addItem(const QString &name, const QString &phone, const QString &duration)
{
    auto *entry = new THistoryItem;
    entry->setName(name);
    entry->setPhone(phone);
    entry->setCallNumber(phone);
    entry->setDuration(duration);

    auto *row = new QTreeWidgetItem;
    addTopLevelItem(row);
    setItemWidget(row, 0, entry);
}

void THistoryList::clearHistory()
{
    // The view releases the entry of each removed row by deferred deletion.
    while (topLevelItemCount() > 0)
        delete takeTopLevelItem(0);
}
