#include "views/thistorylist.h"

THistoryList::THistoryList(QWidget *parent)
    : QTreeWidget(parent)
{
}
