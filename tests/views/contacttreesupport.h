// Finding and using the contact tree's rows as a user does: by what they
// show, through the tree's own context menu.
#pragma once

#include "views/tcontacttree.h"
#include "views/titemdelegate.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <functional>
#include <memory>

// The row of the contact shown under name, or null.
inline QTreeWidgetItem *contactRow(QTreeWidget *tree, const QString &name)
{
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        for (int j = 0; j < tree->topLevelItem(i)->childCount(); ++j)
            if (TContactTree::contactOf(tree->topLevelItem(i)->child(j)).name == name)
                return tree->topLevelItem(i)->child(j);
    return nullptr;
}

// The names of the contacts of each group, "Group: Name" in tree order.
inline QStringList shownContacts(QTreeWidget *tree)
{
    QStringList shown;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        const QString group = tree->topLevelItem(i)->data(0, ROLE_GROUP_NAME).toString();
        for (int j = 0; j < tree->topLevelItem(i)->childCount(); ++j)
            shown << group + QStringLiteral(": ") + TContactTree::contactOf(tree->topLevelItem(i)->child(j)).name;
    }
    return shown;
}

// Right-clicks the row; once its context menu is open, runs whileOpen on it
// (which must close it, for instance with chooseInMenu). Returns when the
// menu has closed.
inline void onContextMenu(QTreeWidget *tree, QTreeWidgetItem *row, std::function<void(QMenu *)> whileOpen)
{
    tree->scrollToItem(row);
    const QPoint at = tree->visualItemRect(row).center();
    auto *poll = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, [poll, whileOpen, tries] {
        if (++*tries > 500) { // no menu in five seconds
            poll->stop();
            poll->deleteLater();
            return;
        }
        if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
            if (!menu->isVisible())
                return;
            poll->stop();
            poll->deleteLater();
            whileOpen(menu);
        }
    });
    poll->start(10);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, tree->viewport()->mapToGlobal(at));
    QApplication::sendEvent(tree->viewport(), &event);
}

// Chooses the menu's action with this text, as with the keyboard.
inline void chooseInMenu(QMenu *menu, const QString &text)
{
    for (QAction *action : menu->actions()) {
        if (action->text() == text) {
            menu->setActiveAction(action);
            QTest::keyClick(menu, Qt::Key_Return);
            return;
        }
    }
    menu->close();
}
