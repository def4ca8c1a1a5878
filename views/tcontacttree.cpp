#include "views/tcontacttree.h"

#include "account/taccount.h"
#include "views/tcontactinfo.h"
#include "views/tcontactphotos.h"
#include "views/tcontactwidget.h"
#include "views/tgroupwidget.h"
#include "views/tphonebooksearch.h"
#include "views/titemdelegate.h"
#include "views/tphonewidget.h"
#include "views/trowstamp.h"

#include <QMenu>
#include <QPainter>
#include <QTreeWidget>

namespace {

// Paints group rows and collapsed contact rows with stamps of their entry
// forms, and gives them the heights the view gave those entries as item
// widgets. The expanded contact has a widget of its own; under it, as under
// any item widget, only the row's background is painted.
class ContactRowDelegate : public TItemDelegate
{
public:
    ContactRowDelegate(QTreeWidget *tree, TContactPhotos *photos)
        : TItemDelegate(tree)
        , tree(tree)
        , photos(photos)
        , group(tree, new TGroupWidget)
        , contact(tree, new TContactWidget)
        , groupHeight(group.rowHeight(GroupHeight))
        , contactHeight(contact.rowHeight(CollapsedHeight))
    {
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QSize hint = TItemDelegate::sizeHint(option, index);
        const QModelIndex cell = index.siblingAtColumn(0);
        const int type = cell.data(ROLE_ITEM_TYPE).toInt();
        if (type == ITEM_GROUP)
            return QSize(hint.width(), groupHeight);
        if (type == ITEM_CONTACT && !cell.data(ROLE_EXPANDED).toBool())
            return QSize(hint.width(), contactHeight);
        return hint;
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        TItemDelegate::paint(painter, option, index);
        const QModelIndex cell = index.siblingAtColumn(0);
        // A row with an entry widget of its own shows that.
        if (index.column() != 0 || tree->indexWidget(cell))
            return;
        const int type = cell.data(ROLE_ITEM_TYPE).toInt();
        if (type == ITEM_GROUP) {
            const QString name = cell.data(ROLE_GROUP_NAME).toString();
            static_cast<TGroupWidget *>(group.widget())->setGroupName(name);
            group.paint(painter, option.rect, QStringLiteral("group\n") + name);
        } else if (type == ITEM_CONTACT) {
            const TContact record = cell.data(ROLE_CONTACT).value<TContact>();
            const QPixmap photo = photos->photo(record);
            auto *entry = static_cast<TContactWidget *>(contact.widget());
            entry->setName(record.name);
            entry->setPhoto(photo);
            contact.paint(painter, option.rect,
                          QStringLiteral("contact\n") + record.name + QLatin1Char('\n') + QString::number(photo.cacheKey()));
        }
    }

private:
    QTreeWidget *tree;
    TContactPhotos *photos;
    mutable TRowStamp group;
    mutable TRowStamp contact;
    const int groupHeight;
    const int contactHeight;
};

// What a screen reader says for a contact row: the name, then each number
// as its phone line shows it, with the line's type.
QString spokenRow(const TContact &contact)
{
    QStringList parts{contact.name};
    for (const TContactPhone &phone : contact.phones)
        parts << (QLatin1Char('+') + phone.countryCode + QLatin1Char(' ') + phone.number + QLatin1Char(' ') + phone.type)
                     .trimmed();
    return parts.join(QLatin1String(", "));
}

} // namespace

TContactTree::TContactTree(QTreeWidget *tree)
    : QObject(tree)
    , tree(tree)
    , photos_(new TContactPhotos(this))
{
    tree->setItemDelegate(new ContactRowDelegate(tree, photos_));
    tree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tree, &QWidget::customContextMenuRequested, this, &TContactTree::showContextMenu);
    connect(photos_, &TContactPhotos::photoArrived, this, &TContactTree::showPhoto);
}

void TContactTree::attach(TAccount *account)
{
    account_ = account;
    photos_->setManager(account->photoManager());
    connect(account, &TAccount::phonebookChanged, this, [this, account] {
        photos_->setLogin(account->key());
        setPhonebook(account->groups());
    });
    // Queued: the edit and delete requests wait in a local event loop, which
    // must not run inside the menu's or the question's own.
    connect(this, &TContactTree::editContact, this, &TContactTree::onEditContact, Qt::QueuedConnection);
    connect(this, &TContactTree::deleteContact, account, &TAccount::onDeleteContact, Qt::QueuedConnection);
}

void TContactTree::onEditContact(TContact contact)
{
    const QPointer<TAccount> account = account_;
    if (!account)
        return;
    TContactInfo editor(nullptr, true);
    // A copy: a phonebook download while the editor is open replaces the
    // account's groups.
    const QList<TContactGroup> groupEntries = account->groups();
    editor.setGroups(groupEntries);
    editor.setContactID(contact.contactID);
    editor.setName(contact.name);
    editor.setTitle(contact.title);
    editor.setCompany(contact.company);
    editor.setGroup(contact.groupID);
    for (const TContactGroup &group : groupEntries) {
        if (group.groupID == contact.groupID) {
            editor.setGroup(group.groupName);
            break;
        }
    }
    for (const TContactPhone &phone : std::as_const(contact.phones))
        editor.addPhone(phone.phoneID, phone.countryCode, phone.number, phone.type);

    // A logout may take the account away while the editor is open.
    if (editor.exec() == QDialog::Accepted && account)
        account->updateContact(editor.contact());
}

TContact TContactTree::contactOf(const QTreeWidgetItem *row)
{
    return row ? row->data(0, ROLE_CONTACT).value<TContact>() : TContact();
}

void TContactTree::setPhonebook(const QList<TContactGroup> &phonebook)
{
    phonebook_ = phonebook;
    ++phonebookDownloads;
    photos_->keepOnly(phonebook);
    // The view releases the expanded entry by deferred deletion, so one whose
    // phone line is still handling a click outlives this.
    expandedRow = nullptr;
    tree->clear();

    // Rows are made apart from the tree and added to it at once: every row
    // added to a shown tree one by one would lay out all rows before it.
    QList<QTreeWidgetItem *> groupRows;
    groupRows.reserve(phonebook.size());
    for (const TContactGroup &group : phonebook) {
        auto *groupRow = new QTreeWidgetItem;
        groupRow->setData(0, ROLE_ITEM_TYPE, int(ITEM_GROUP));
        groupRow->setData(0, ROLE_GROUP_ID, group.groupID);
        groupRow->setData(0, ROLE_GROUP_NAME, group.groupName);
        // The painted rows hold no text of their own: this is what
        // assistive technology reads for them.
        groupRow->setData(0, Qt::AccessibleTextRole, group.groupName);
        QList<QTreeWidgetItem *> contactRows;
        contactRows.reserve(group.contacts.size());
        for (const TContact &contact : group.contacts) {
            auto *row = new QTreeWidgetItem;
            row->setData(0, ROLE_ITEM_TYPE, int(ITEM_CONTACT));
            row->setData(0, ROLE_EXPANDED, false);
            row->setData(0, ROLE_PHONE_COUNT, int(contact.phones.size()));
            row->setData(0, ROLE_CONTACT, QVariant::fromValue(contact));
            row->setData(0, Qt::AccessibleTextRole, spokenRow(contact));
            row->setData(0, ROLE_SEARCH_TEXT, TPhonebookSearch::searchText(contact));
            contactRows.append(row);
        }
        groupRow->addChildren(contactRows);
        groupRows.append(groupRow);
    }
    tree->addTopLevelItems(groupRows);
    // A group row is open as soon as it has a contact.
    for (QTreeWidgetItem *group : std::as_const(groupRows))
        if (group->childCount() > 0)
            group->setExpanded(true);
}

void TContactTree::expand(QTreeWidgetItem *current)
{
    if (!current || current == expandedRow)
        return;
    if (expandedRow) {
        expandedRow->setData(0, ROLE_EXPANDED, false);
        tree->removeItemWidget(expandedRow, 0);
        expandedRow = nullptr;
    }
    if (current->data(0, ROLE_ITEM_TYPE).toInt() != ITEM_CONTACT)
        return;

    const TContact contact = contactOf(current);
    auto *entry = new TContactWidget;
    // The tree's own menu serves every row, this one too; the entry's
    // actions, should they be triggered, lead to the same requests.
    entry->setContextMenuPolicy(Qt::NoContextMenu);
    connect(entry, &TContactWidget::editContact, this, &TContactTree::editContact);
    connect(entry, &TContactWidget::deleteContact, this, &TContactTree::deleteContact);
    entry->setContactID(contact.contactID);
    entry->setName(contact.name);
    entry->setTitle(contact.title);
    entry->setCompany(contact.company);
    entry->setGroupID(contact.groupID);
    for (const TContactPhone &phone : contact.phones) {
        auto *line = new TPhoneWidget;
        line->setPhoneID(phone.phoneID);
        line->setCountryCode(phone.countryCode);
        line->setNumber(phone.number);
        line->setType(phone.type);
        line->setWholePhone(phone.wholePhone);
        entry->addPhone(line);
    }
    entry->setPhoto(photos_->photo(contact));
    entry->setExpanded(true);
    current->setData(0, ROLE_EXPANDED, true);
    tree->setItemWidget(current, 0, entry);
    expandedRow = current;
}

void TContactTree::showPhoto(int contactID)
{
    if (expandedRow && contactOf(expandedRow).contactID == contactID) {
        if (auto *entry = qobject_cast<TContactWidget *>(tree->itemWidget(expandedRow, 0)))
            entry->setPhoto(photos_->photo(contactOf(expandedRow)));
    }
    tree->viewport()->update();
}

TContact TContactTree::findContact(const TContact &shown, bool *found) const
{
    for (const TContactGroup &group : phonebook_) {
        for (const TContact &contact : group.contacts) {
            // IDs that are not numbers all read as 0 and tell no contact
            // from another: such a contact is known by its group and name.
            if (contact.contactID == shown.contactID
                && (shown.contactID != 0 || (contact.groupID == shown.groupID && contact.name == shown.name))) {
                *found = true;
                return contact;
            }
        }
    }
    *found = false;
    return TContact();
}

void TContactTree::showContextMenu(const QPoint &position)
{
    const QTreeWidgetItem *row = tree->itemAt(position);
    if (!row || row->data(0, ROLE_ITEM_TYPE).toInt() != ITEM_CONTACT)
        return;
    const TContact shown = contactOf(row);
    const int shownPhonebook = phonebookDownloads;

    // The menu belongs to the tree, not to a row: a phonebook download while
    // it is open replaces every row, but not the tree.
    const QPointer<TContactTree> self(this);
    const QPointer<QMenu> menu = new QMenu(tree);
    QAction *edit = menu->addAction(TContactWidget::tr("Edit Contact"));
    menu->addAction(TContactWidget::tr("Delete Contact"));
    QAction *chosen = menu->exec(tree->viewport()->mapToGlobal(position));
    const bool editing = chosen == edit;
    delete menu;
    if (!self || !chosen)
        return;

    // The row's own record while the rows stand. A download meanwhile
    // replaced them: the contact as the phonebook holds it now, or nothing
    // if it is gone.
    bool found = true;
    const TContact contact = shownPhonebook == phonebookDownloads ? shown : findContact(shown, &found);
    if (!found)
        return;
    if (editing) {
        emit editContact(contact);
    } else if (TContactWidget::confirmRemoval() && self) {
        emit deleteContact(contact.contactID);
    }
}
