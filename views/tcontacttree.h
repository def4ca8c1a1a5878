#pragma once

#include "base/tcontact.h"

#include <QList>
#include <QObject>
#include <QPointer>

class QPoint;
class QTreeWidget;
class QTreeWidgetItem;
class TAccount;
class TContactPhotos;

// Shows the phonebook in the main window's contact tree. Rows are plain
// tree items carrying the contact records; the delegate paints them with
// the real group and contact entry forms, so the tree holds no widget per
// row. Only the expanded contact (one at a time) gets a live entry widget,
// with its phone lines and their buttons. The context menu of a contact
// row belongs to the tree, which outlives every refresh, and acts on the
// contact the row showed, as the phonebook holds it when the menu closes.
class TContactTree : public QObject
{
    Q_OBJECT

public:
    // Installs the row delegate and the context menu on the tree, which
    // owns this object.
    explicit TContactTree(QTreeWidget *tree);

    // Shows the account's phonebook after every download, and sends the
    // rows' edit and delete choices to it.
    void attach(TAccount *account);
    // Replaces every row; every contact starts collapsed.
    void setPhonebook(const QList<TContactGroup> &phonebook);
    // Expands the contact on current, if it is a contact row, and collapses
    // the one expanded before.
    void expand(QTreeWidgetItem *current);

    TContactPhotos *photos() const { return photos_; }
    // The record shown on a contact row.
    static TContact contactOf(const QTreeWidgetItem *row);

public slots:
    // Runs the contact editor on the record and sends the edit when saved.
    void onEditContact(TContact contact);

signals:
    void editContact(TContact contact);
    void deleteContact(int contactID);

private:
    void showContextMenu(const QPoint &position);
    void showPhoto(int contactID);
    // The contact shown on a row of an earlier phonebook, as this one
    // holds it.
    TContact findContact(const TContact &shown, bool *found) const;

    QTreeWidget *tree;
    QPointer<TAccount> account_;
    TContactPhotos *photos_;
    QList<TContactGroup> phonebook_;
    // Counts the phonebooks shown: rows of an earlier one are gone.
    int phonebookDownloads = 0;
    QTreeWidgetItem *expandedRow = nullptr;
};
