#pragma once

#include <QString>
#include <QWidget>

class QTreeWidgetItem;
class TContactWidget;

namespace Ui {
class TGroupWidget;
}

// The entry form of a group row of the contact tree: the group's name on a
// band. The tree paints its group rows with it. It makes its own row item
// when first asked for one; whoever adds that item to a tree hands it over.
class TGroupWidget : public QWidget
{
    Q_OBJECT

public:
    explicit TGroupWidget(QWidget *parent = nullptr);
    ~TGroupWidget() override;

    void setGroupID(const QString &groupID) { groupID_ = groupID; }
    QString groupID() const { return groupID_; }
    void setGroupName(const QString &groupName);
    QString groupName() const { return groupName_; }

    QTreeWidgetItem *item();

    // Makes the child row for a contact entry at the bottom of the group and
    // returns it; placing the entry on it and its item data are the
    // caller's.
    QTreeWidgetItem *addContact(TContactWidget *entry);

private:
    Ui::TGroupWidget *ui;
    QString groupID_;
    QString groupName_;
    QTreeWidgetItem *item_ = nullptr;
};
