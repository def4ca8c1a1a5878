#include "views/tgroupwidget.h"
#include "ui_tgroupwidget.h"

#include "base/displaytext.h"
#include "views/titemdelegate.h"

#include <QTreeWidget>

TGroupWidget::TGroupWidget(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::TGroupWidget)
{
    ui->setupUi(this);
}

QTreeWidgetItem *TGroupWidget::item()
{
    if (!item_) {
        item_ = new QTreeWidgetItem;
        item_->setData(0, ROLE_ITEM_TYPE, ITEM_GROUP);
    }
    return item_;
}

TGroupWidget::~TGroupWidget()
{
    // The row item is not deleted here: the tree owns it, and deletes it
    // before this entry when a phonebook refresh removes the row.
    delete ui;
}

void TGroupWidget::setGroupName(const QString &groupName)
{
    groupName_ = groupName;
    ui->lblGroupName->setText(withoutDirectionControls(groupName));
}

QTreeWidgetItem *TGroupWidget::addContact(TContactWidget *)
{
    auto *child = new QTreeWidgetItem;
    item()->addChild(child);
    if (QTreeWidget *tree = item_->treeWidget())
        tree->expandItem(item_);
    return child;
}
