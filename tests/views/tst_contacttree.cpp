// The contact tree's pieces: row heights, group and contact entries, phone
// lines, the entries' actions and their photo requests.
#include "base/tcontact.h"
#include "httpresponder.h"
#include "testsupport.h"
#include "views/tcontactphotos.h"
#include "views/tcontactwidget.h"
#include "views/tgroupwidget.h"
#include "views/titemdelegate.h"
#include "views/tphonewidget.h"
#include "views/trowstamp.h"

#include <QAction>
#include <QBuffer>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>
#include <QTreeWidget>

namespace {

TPhoneWidget *phoneLine(int id, const QString &countryCode, const QString &number, const QString &type)
{
    auto *line = new TPhoneWidget;
    line->setPhoneID(id);
    line->setCountryCode(countryCode);
    line->setNumber(number);
    line->setType(type);
    line->setWholePhone(countryCode + number);
    return line;
}

} // namespace

class TestContactTree : public QObject
{
    Q_OBJECT

private slots:
    void delegateHeightsFollowItemData_data();
    void delegateHeightsFollowItemData();
    void groupEntryMakesItsRowsAndExpandsInTree();
    void contactEntrySizesCollapsedAndExpanded_data();
    void contactEntrySizesCollapsedAndExpanded();
    void treeRowsTakeTheEntriesHeights();
    void contactFormAndContextMenu();
    void editActionCopiesEntryIntoRecord();
    void deleteActionAsksFirst();
    void phoneLineShowsNumberAndType();
    void photoRequestAndPicture();
    void photoRepliesForDeletedEntriesAreDropped();
    void photosStillDecodingWhenTheirContactGoesAreDropped();
    void brokenPhotoLeavesPictureEmpty();
    void largePhotoKeptAtTheSizeShown();
    void stampedRowsLookLikeTheirEntryWidgets();
};

void TestContactTree::delegateHeightsFollowItemData_data()
{
    QTest::addColumn<QVariant>("type");
    QTest::addColumn<QVariant>("expanded");
    QTest::addColumn<QVariant>("phones");
    QTest::addColumn<QSize>("size");
    QTest::newRow("group") << QVariant(ITEM_GROUP) << QVariant() << QVariant() << QSize(200, 30);
    QTest::newRow("collapsed contact") << QVariant(ITEM_CONTACT) << QVariant(false) << QVariant(3) << QSize(200, 40);
    QTest::newRow("expanded, one phone") << QVariant(ITEM_CONTACT) << QVariant(true) << QVariant(1) << QSize(200, 40);
    QTest::newRow("expanded, three phones") << QVariant(ITEM_CONTACT) << QVariant(true) << QVariant(3) << QSize(200, 100);
    QTest::newRow("expanded, no phones") << QVariant(ITEM_CONTACT) << QVariant(true) << QVariant(0) << QSize(200, 10);
    QTest::newRow("no kind") << QVariant() << QVariant(true) << QVariant(3) << QSize(200, 40);
    QTest::newRow("other kind") << QVariant(7000) << QVariant(true) << QVariant(3) << QSize(200, 40);
}

void TestContactTree::delegateHeightsFollowItemData()
{
    QFETCH(QVariant, type);
    QFETCH(QVariant, expanded);
    QFETCH(QVariant, phones);
    QFETCH(QSize, size);
    QStandardItemModel model(1, 2);
    model.setData(model.index(0, 0), type, ROLE_ITEM_TYPE);
    model.setData(model.index(0, 0), expanded, ROLE_EXPANDED);
    model.setData(model.index(0, 0), phones, ROLE_PHONE_COUNT);
    TItemDelegate delegate;
    QCOMPARE(delegate.sizeHint(QStyleOptionViewItem(), model.index(0, 0)), size);
    // Every column reads the row's kind from column 0.
    QCOMPARE(delegate.sizeHint(QStyleOptionViewItem(), model.index(0, 1)), size);
    QCOMPARE(delegate.sizeHint(QStyleOptionViewItem(), QModelIndex()), QSize(200, 40));
}

void TestContactTree::groupEntryMakesItsRowsAndExpandsInTree()
{
    QTreeWidget tree;
    auto *group = new TGroupWidget;
    QCOMPARE(group->objectName(), QStringLiteral("TGroupWidget"));
    QCOMPARE(group->minimumHeight(), 34);
    QCOMPARE(group->findChild<QLabel *>("lblGroupName")->property("class").toString(), QStringLiteral("group"));
    QCOMPARE(group->item()->data(0, ROLE_ITEM_TYPE).toInt(), int(ITEM_GROUP));
    QCOMPARE(group->item()->type(), 0);
    group->setGroupID(QStringLiteral("7"));
    group->setGroupName(QStringLiteral("Family"));
    QCOMPARE(group->findChild<QLabel *>("lblGroupName")->text(), QStringLiteral("Family"));

    tree.addTopLevelItem(group->item());
    tree.setItemWidget(group->item(), 0, group);
    QVERIFY(!group->item()->isExpanded());
    auto *entry = new TContactWidget;
    QTreeWidgetItem *first = group->addContact(entry);
    QTreeWidgetItem *second = group->addContact(nullptr);
    QCOMPARE(group->item()->childCount(), 2);
    QCOMPARE(group->item()->child(0), first);
    QCOMPARE(group->item()->child(1), second);
    QVERIFY(group->item()->isExpanded());
    // The caller places the entry and sets the data.
    QVERIFY(!tree.itemWidget(first, 0));
    QVERIFY(!first->data(0, ROLE_ITEM_TYPE).isValid());
    delete entry;
}

void TestContactTree::contactEntrySizesCollapsedAndExpanded_data()
{
    QTest::addColumn<int>("phones");
    QTest::addColumn<int>("expandedHeight");
    QTest::newRow("none") << 0 << 30;
    QTest::newRow("one") << 1 << 60;
    QTest::newRow("two") << 2 << 90;
    QTest::newRow("three") << 3 << 120;
}

void TestContactTree::contactEntrySizesCollapsedAndExpanded()
{
    QFETCH(int, phones);
    QFETCH(int, expandedHeight);
    TContactWidget entry;
    auto *picture = entry.findChild<QLabel *>("lblPicture");
    auto *lines = entry.findChild<QWidget *>("wPhones");
    for (int i = 0; i < phones; ++i)
        entry.addPhone(phoneLine(i + 1, "44", QString::number(100 + i), "Home"));
    QCOMPARE(entry.phoneCount(), phones);

    // A new entry is collapsed.
    QCOMPARE(entry.minimumSize(), QSize(250, 40));
    QCOMPARE(entry.maximumSize(), QSize(1000, 40));
    QCOMPARE(picture->minimumSize(), QSize(28, 28));
    QCOMPARE(picture->maximumSize(), QSize(28, 28));
    QVERIFY(picture->hasScaledContents());
    QVERIFY(lines->isHidden());

    for (const TPhoneWidget *line : entry.findChildren<TPhoneWidget *>())
        QVERIFY(!line->findChild<QLabel *>("lblPhone"));
    entry.setExpanded(true);
    for (const TPhoneWidget *line : entry.findChildren<TPhoneWidget *>())
        QVERIFY(line->findChild<QLabel *>("lblPhone"));
    QCOMPARE(entry.minimumSize(), QSize(250, expandedHeight));
    QCOMPARE(entry.maximumSize(), QSize(1000, expandedHeight));
    QCOMPARE(picture->minimumSize(), QSize(50, 50));
    QCOMPARE(picture->maximumSize(), QSize(50, 50));
    QVERIFY(!picture->hasScaledContents());
    QVERIFY(!lines->isHidden());

    entry.setExpanded(false);
    QCOMPARE(entry.maximumSize(), QSize(1000, 40));
    QVERIFY(lines->isHidden());
}

// The view makes each row as tall as the larger of the delegate's height and
// the entry's, so groups are 34 high and contacts take their entry's height.
void TestContactTree::treeRowsTakeTheEntriesHeights()
{
    QTreeWidget tree;
    tree.setHeaderHidden(true);
    tree.setIndentation(0);
    tree.setItemDelegate(new TItemDelegate(&tree));
    tree.resize(300, 600);
    auto *group = new TGroupWidget;
    group->setGroupName(QStringLiteral("Friends"));
    tree.addTopLevelItem(group->item());
    tree.setItemWidget(group->item(), 0, group);
    auto *entry = new TContactWidget;
    QTreeWidgetItem *row = group->addContact(entry);
    row->setData(0, ROLE_ITEM_TYPE, int(ITEM_CONTACT));
    row->setData(0, ROLE_EXPANDED, false);
    tree.setItemWidget(row, 0, entry);
    for (int i = 0; i < 3; ++i)
        entry->addPhone(phoneLine(i, "1", "555", "Work"));
    row->setData(0, ROLE_PHONE_COUNT, entry->phoneCount());
    tree.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tree));

    QTRY_COMPARE(tree.visualItemRect(group->item()).height(), 34);
    QTRY_COMPARE(tree.visualItemRect(row).height(), 40);
    entry->setExpanded(true);
    row->setData(0, ROLE_EXPANDED, true);
    QTRY_COMPARE(tree.visualItemRect(row).height(), 120);
    QTRY_COMPARE(entry->height(), 120);
}

void TestContactTree::contactFormAndContextMenu()
{
    TContactWidget entry;
    QCOMPARE(entry.objectName(), QStringLiteral("TContactWidget"));
    QCOMPARE(entry.contextMenuPolicy(), Qt::ActionsContextMenu);
    QCOMPARE(entry.actions().size(), 2);
    QCOMPARE(entry.actions().at(0)->text(), QStringLiteral("Edit Contact"));
    QCOMPARE(entry.actions().at(1)->text(), QStringLiteral("Delete Contact"));
    QCOMPARE(entry.findChild<QWidget *>("widget_2")->property("class").toString(), QStringLiteral("contact-widget"));
    QCOMPARE(entry.findChild<QLabel *>("lblPicture")->property("class").toString(), QStringLiteral("picture"));
    auto *name = entry.findChild<QLabel *>("lblName");
    QCOMPARE(name->minimumHeight(), 18);
    QCOMPARE(name->maximumHeight(), 18);
    QCOMPARE(name->styleSheet(), QStringLiteral("font-size: 13px;"));
    QCOMPARE(entry.findChild<QWidget *>("wPhones")->layout()->spacing(), 2);

    entry.setName(QStringLiteral("Ada Lovelace"));
    entry.setTitle(QStringLiteral("Countess"));
    entry.setCompany(QStringLiteral("Analytical Engines"));
    QCOMPARE(name->text(), QStringLiteral("Ada Lovelace"));
    // Title and company are kept, never shown.
    for (const QLabel *label : entry.findChildren<QLabel *>()) {
        QVERIFY(!label->text().contains(QStringLiteral("Countess")));
        QVERIFY(!label->text().contains(QStringLiteral("Analytical")));
    }
}

void TestContactTree::editActionCopiesEntryIntoRecord()
{
    TContactWidget entry;
    entry.setContactID(42); // no manager given: no photo request
    entry.setName(QStringLiteral("Grace"));
    entry.setTitle(QStringLiteral("Rear Admiral"));
    entry.setCompany(QStringLiteral("Navy"));
    entry.setGroupID(QStringLiteral("12"));
    QSignalSpy edits(&entry, &TContactWidget::editContact);

    entry.actions().at(0)->trigger();
    QCOMPARE(edits.size(), 1);
    auto record = edits.at(0).at(0).value<TContact>();
    QCOMPARE(record.contactID, 42);
    QCOMPARE(record.groupID, QStringLiteral("12"));
    QCOMPARE(record.name, QStringLiteral("Grace"));
    QCOMPARE(record.title, QStringLiteral("Rear Admiral"));
    QCOMPARE(record.company, QStringLiteral("Navy"));
    QVERIFY(record.phones.isEmpty());

    entry.addPhone(phoneLine(77, "44", "2079460000", "Work"));
    entry.addPhone(phoneLine(78, "1", "5550100", "Something Else"));
    entry.actions().at(0)->trigger();
    record = edits.at(1).at(0).value<TContact>();
    QCOMPARE(record.phones.size(), 2);
    QCOMPARE(record.phones.at(0).phoneID, 77);
    QCOMPARE(record.phones.at(0).countryCode, QStringLiteral("44"));
    QCOMPARE(record.phones.at(0).number, QStringLiteral("2079460000"));
    QCOMPARE(record.phones.at(0).type, QStringLiteral("Work"));
    QCOMPARE(record.phones.at(1).phoneID, 78);
    QCOMPARE(record.phones.at(1).type, QStringLiteral("Something Else"));

    // The receiver's copy is its own.
    record.name = QStringLiteral("changed");
    QCOMPARE(entry.name(), QStringLiteral("Grace"));
}

void TestContactTree::deleteActionAsksFirst()
{
    auto *entry = new TContactWidget;
    entry->setContactID(9);
    QSignalSpy deletions(entry, &TContactWidget::deleteContact);

    QString question;
    onNextModal([&question](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        QVERIFY(box);
        question = box->windowTitle() + '|' + box->text();
        QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
        box->button(QMessageBox::No)->click();
    });
    entry->actions().at(1)->trigger();
    QTRY_VERIFY(!question.isEmpty());
    QCOMPARE(question, QStringLiteral("Remove|Are you sure you want to remove this contact?"));
    QTest::qWait(50);
    QCOMPARE(deletions.size(), 0);

    onNextModal([](QWidget *modal) { qobject_cast<QMessageBox *>(modal)->button(QMessageBox::Yes)->click(); });
    entry->actions().at(1)->trigger();
    QTRY_COMPARE(deletions.size(), 1);
    QCOMPARE(deletions.at(0).at(0).toInt(), 9);

    // The entry released while its question is open: nothing is emitted and
    // nothing is touched afterwards.
    bool asked = false;
    onNextModal([&asked, entry](QWidget *modal) {
        asked = true;
        entry->deleteLater();
        QTimer::singleShot(50, modal, [modal] { qobject_cast<QMessageBox *>(modal)->button(QMessageBox::Yes)->click(); });
    });
    QPointer<TContactWidget> guard(entry);
    entry->actions().at(1)->trigger();
    QTRY_VERIFY(asked);
    QTRY_VERIFY(!guard);
    QTest::qWait(50);
    QCOMPARE(deletions.size(), 1);
}

void TestContactTree::phoneLineShowsNumberAndType()
{
    TPhoneWidget line;
    // The form is built when the line is first shown.
    QVERIFY(!line.findChild<QLabel *>("lblPhone"));
    line.setNumber(QStringLiteral("123"));
    line.setCountryCode(QStringLiteral("44"));
    line.setType(QStringLiteral("Home"));
    line.show();
    QCOMPARE(line.findChild<QLabel *>("lblPhone")->text(), QStringLiteral("+44 123"));
    QCOMPARE(line.findChild<QLabel *>("lblPhoneType")->text(), QStringLiteral("Home"));
    QCOMPARE(line.objectName(), QStringLiteral("TPhoneWidget"));
    QCOMPARE(line.minimumSize(), QSize(190, 25));
    auto *number = line.findChild<QLabel *>("lblPhone");
    auto *type = line.findChild<QLabel *>("lblPhoneType");
    line.setNumber(QStringLiteral("123"));
    line.setCountryCode(QStringLiteral("44"));
    QCOMPARE(number->text(), QStringLiteral("+44 123"));
    TPhoneWidget other;
    other.ensureForm();
    other.setCountryCode(QStringLiteral("44"));
    other.setNumber(QStringLiteral("123"));
    QCOMPARE(other.findChild<QLabel *>("lblPhone")->text(), QStringLiteral("+44 123"));
    line.setType(QStringLiteral("Work Fax"));
    QCOMPARE(type->text(), QStringLiteral("Work Fax"));
    TPhoneWidget empty;
    empty.ensureForm();
    empty.setNumber(QString());
    QCOMPARE(empty.findChild<QLabel *>("lblPhone")->text(), QStringLiteral("+ "));

    for (const char *name : {"pbCall", "pbText"}) {
        auto *button = line.findChild<QPushButton *>(name);
        QVERIFY(button->isFlat());
        QVERIFY(button->text().isEmpty());
        QCOMPARE(button->maximumWidth(), 32);
        QCOMPARE(button->iconSize(), QSize(22, 22));
        QVERIFY(!button->icon().isNull());
    }
    QCOMPARE(line.findChild<QPushButton *>("pbCall")->toolTip(), QStringLiteral("Call"));
    QCOMPARE(line.findChild<QPushButton *>("pbText")->toolTip(), QStringLiteral("Text"));
}

namespace {

TContact contactWithID(int id)
{
    TContact contact;
    contact.contactID = id;
    contact.name = QStringLiteral("Contact %1").arg(id);
    return contact;
}

} // namespace

void TestContactTree::photoRequestAndPicture()
{
    HttpResponder responder;
    qputenv("ONDAVOX_WEB_BASE", responder.baseUrl().toUtf8());
    responder.setReply("/Phonebook/GetContactPhoto.html", pngOf(QSize(80, 60), Qt::red));
    QNetworkAccessManager manager;
    TContactPhotos photos;
    photos.setManager(&manager);
    photos.setLogin(QStringLiteral("key-1"));
    QSignalSpy arrived(&photos, &TContactPhotos::photoArrived);

    QVERIFY(photos.photo(contactWithID(12)).isNull());
    QCOMPARE(photos.pending(), 1);
    QVERIFY(responder.waitForRequest("/Phonebook/GetContactPhoto.html"));
    const auto request = responder.requestsFor("/Phonebook/GetContactPhoto.html").at(0);
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.query(), QByteArray("ContactID=12"));
    QCOMPARE(request.body, QByteArray("login=key-1"));
    // The reply may already have been handled while the request was awaited.
    QVERIFY(!arrived.isEmpty() || arrived.wait(5000));
    QCOMPARE(arrived.at(0).at(0).toInt(), 12);
    QCOMPARE(photos.pending(), 0);
    const QPixmap photo = photos.photo(contactWithID(12));
    // Kept at the size shown at most, 50 a side.
    QCOMPARE(photo.size(), QSize(50, 37));
    // Asked once: later calls are answered from what is kept.
    QCOMPARE(responder.requestsFor("/Phonebook/GetContactPhoto.html").size(), 1);

    // Collapsed it is squeezed into 28 x 28; expanded it is shown in 50 x 50.
    TContactWidget entry;
    entry.setPhoto(photo);
    auto *picture = entry.findChild<QLabel *>("lblPicture");
    QVERIFY(picture->hasScaledContents());
    entry.setExpanded(true);
    QVERIFY(!picture->hasScaledContents());
    QCOMPARE(picture->size(), QSize(50, 50));
    qunsetenv("ONDAVOX_WEB_BASE");
}

void TestContactTree::photoRepliesForDeletedEntriesAreDropped()
{
    HttpResponder responder;
    qputenv("ONDAVOX_WEB_BASE", responder.baseUrl().toUtf8());
    responder.setReply("/Phonebook/GetContactPhoto.html", HttpResponder::Reply{200, pngOf(QSize(50, 50), Qt::blue), 200, false});
    QNetworkAccessManager manager;
    TContactPhotos photos;
    photos.setManager(&manager);
    QList<TContact> kept;
    for (int i = 0; i < 20; ++i) {
        photos.photo(contactWithID(i));
        if (i % 2)
            kept.append(contactWithID(i));
    }
    // Six on the wire, the rest waiting.
    QCOMPARE(photos.pending(), 20);
    QTRY_COMPARE(responder.requestsFor("/Phonebook/GetContactPhoto.html").size(), 6);
    // A refresh without the even ones: their requests stop or never start.
    photos.keepOnly({{QStringLiteral("1"), QStringLiteral("Odd"), kept}});
    QTRY_COMPARE_WITH_TIMEOUT(photos.pending(), 0, 10000);
    for (const TContact &contact : std::as_const(kept))
        QVERIFY(!photos.photo(contact).isNull());
    QVERIFY(responder.requestsFor("/Phonebook/GetContactPhoto.html").size() < 20);
    qunsetenv("ONDAVOX_WEB_BASE");
}

// Large photos are decoded away from the window's thread, which takes a
// while: a contact dropped meanwhile gets no photo, and the photos object
// may go (a logout) with a decoding still under way. The decoding thread is
// held busy until the drop, so the decodings are still queued when it comes.
void TestContactTree::photosStillDecodingWhenTheirContactGoesAreDropped()
{
    struct Gate {
        QSemaphore open;
        Gate() { TContactPhotos::decoders().start([this] { open.acquire(); }); }
        void release() { open.release(); }
        ~Gate() { TContactPhotos::decoders().waitForDone(); }
    };
    HttpResponder responder;
    qputenv("ONDAVOX_WEB_BASE", responder.baseUrl().toUtf8());
    responder.setReply("/Phonebook/GetContactPhoto.html", pngOf(QSize(4000, 4000), Qt::green));
    QNetworkAccessManager manager;
    auto *photos = new TContactPhotos;
    photos->setManager(&manager);
    QSignalSpy arrived(photos, &TContactPhotos::photoArrived);
    {
        Gate gate;
        photos->photo(contactWithID(7));
        photos->photo(contactWithID(8));
        QTRY_COMPARE(responder.requestsFor("/Phonebook/GetContactPhoto.html").size(), 2);
        QTest::qWait(200); // the replies are in; their decodings wait for the thread
        photos->keepOnly({{QStringLiteral("1"), QStringLiteral("G"), {contactWithID(8)}}});
        gate.release();
        QTRY_COMPARE_WITH_TIMEOUT(photos->pending(), 0, 20000);
    }
    QCOMPARE(arrived.size(), 1);
    QCOMPARE(arrived.at(0).at(0).toInt(), 8);
    QVERIFY(photos->photo(contactWithID(7)).isNull());
    QCOMPARE(photos->photo(contactWithID(8)).size(), QSize(50, 50));

    // Asked again after a download, then gone before the decoding ends.
    {
        Gate gate;
        photos->keepOnly({{QStringLiteral("1"), QStringLiteral("G"), {contactWithID(8)}}});
        photos->photo(contactWithID(8));
        QTRY_COMPARE(responder.requestsFor("/Phonebook/GetContactPhoto.html").size(), 3);
        QTest::qWait(200);
        delete photos;
        gate.release();
    }
    QTest::qWait(100); // a result that would come back to it now has nowhere to go
    qunsetenv("ONDAVOX_WEB_BASE");
}

void TestContactTree::brokenPhotoLeavesPictureEmpty()
{
    HttpResponder responder;
    qputenv("ONDAVOX_WEB_BASE", responder.baseUrl().toUtf8());
    QNetworkAccessManager manager;
    TContactPhotos photos;
    photos.setManager(&manager);
    const QList<HttpResponder::Reply> broken{{404, pngOf(QSize(10, 10), Qt::red), 0, false},
                                             {200, QByteArray("\x89PNG not really an image"), 0, false},
                                             {200, QByteArray(), 0, true}};
    for (const HttpResponder::Reply &reply : broken) {
        responder.setReply("/Phonebook/GetContactPhoto.html", reply);
        const int asked = responder.requestsFor("/Phonebook/GetContactPhoto.html").size();
        photos.keepOnly({{QStringLiteral("1"), QStringLiteral("G"), {contactWithID(1)}}});
        QVERIFY(photos.photo(contactWithID(1)).isNull());
        QTRY_COMPARE(photos.pending(), 0);
        QVERIFY(responder.requestsFor("/Phonebook/GetContactPhoto.html").size() > asked);
        QVERIFY(photos.photo(contactWithID(1)).isNull());
    }
    // A photo that failed is asked for again after the next download.
    responder.setReply("/Phonebook/GetContactPhoto.html", pngOf(QSize(10, 10), Qt::red));
    photos.keepOnly({{QStringLiteral("1"), QStringLiteral("G"), {contactWithID(1)}}});
    photos.photo(contactWithID(1));
    QTRY_VERIFY(!photos.photo(contactWithID(1)).isNull());
    qunsetenv("ONDAVOX_WEB_BASE");
}

// A small file may hold a picture of thousands of pixels a side: only a
// copy at the size shown is kept, the whole picture and not a corner of it.
void TestContactTree::largePhotoKeptAtTheSizeShown()
{
    HttpResponder responder;
    qputenv("ONDAVOX_WEB_BASE", responder.baseUrl().toUtf8());
    QImage wide(3000, 2000, QImage::Format_RGB32);
    wide.fill(Qt::blue);
    QPainter(&wide).fillRect(1500, 0, 1500, 2000, Qt::yellow);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    wide.save(&buffer, "PNG");
    responder.setReply("/Phonebook/GetContactPhoto.html", png);
    QNetworkAccessManager manager;
    TContactPhotos photos;
    photos.setManager(&manager);
    photos.photo(contactWithID(5));
    QTRY_COMPARE(photos.pending(), 0);

    const QImage kept = photos.photo(contactWithID(5)).toImage();
    QCOMPARE(kept.size(), QSize(50, 33));
    QCOMPARE(QColor(kept.pixel(5, 16)), QColor(Qt::blue));
    QCOMPARE(QColor(kept.pixel(44, 16)), QColor(Qt::yellow));
    qunsetenv("ONDAVOX_WEB_BASE");
}

namespace {

// Paints every row with a stamp of the real entry form filled from the
// row's text, the way the views paint rows that have no widget of their own.
class StampDelegate : public QStyledItemDelegate
{
public:
    StampDelegate(QTreeWidget *tree, const QPixmap &photo)
        : QStyledItemDelegate(tree) // a view does not own its delegate
        , group(tree, new TGroupWidget)
        , contact(tree, new TContactWidget)
    {
        static_cast<TContactWidget *>(contact.widget())->setPhoto(photo);
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem background = option;
        initStyleOption(&background, index);
        background.text.clear();
        option.widget->style()->drawControl(QStyle::CE_ItemViewItem, &background, painter, option.widget);
        const QString text = index.data(Qt::UserRole).toString();
        if (index.data(ROLE_ITEM_TYPE).toInt() == ITEM_GROUP) {
            static_cast<TGroupWidget *>(group.widget())->setGroupName(text);
            group.paint(painter, option.rect, QStringLiteral("g:") + text);
        } else {
            static_cast<TContactWidget *>(contact.widget())->setName(text);
            contact.paint(painter, option.rect);
        }
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QSize hint = TItemDelegate().sizeHint(option, index);
        const TRowStamp &stamp = index.data(ROLE_ITEM_TYPE).toInt() == ITEM_GROUP ? group : contact;
        return QSize(hint.width(), stamp.rowHeight(hint.height()));
    }

    mutable TRowStamp group;
    mutable TRowStamp contact;
};

} // namespace

void TestContactTree::stampedRowsLookLikeTheirEntryWidgets()
{
    // The tree as the main window styles it: the window's font rule, the
    // list's own background and the tree's row backgrounds.
    QWidget window;
    window.setStyleSheet(QStringLiteral("* { font-family: \"Tahoma\"; font-size: 11px; }\n"
                                        ".contacts-list { background: #efefef; }"));
    auto *tree = new QTreeWidget(&window);
    tree->setProperty("class", QStringLiteral("contacts-list"));
    tree->setStyleSheet(QStringLiteral("QTreeWidget::item { background: #efefef; }\n"
                                       "QTreeWidget::item:selected:active { background: rgb(39, 94, 175); }"));
    tree->setHeaderHidden(true);
    tree->setIndentation(0);
    tree->setItemDelegate(new TItemDelegate(tree));
    window.resize(360, 200);
    tree->resize(360, 200);
    const QPixmap photo = QPixmap::fromImage(QImage::fromData(pngOf(QSize(60, 60), QColor(200, 40, 90))));

    auto *groupRow = new QTreeWidgetItem;
    groupRow->setData(0, ROLE_ITEM_TYPE, ITEM_GROUP);
    groupRow->setData(0, Qt::UserRole, QStringLiteral("Family"));
    tree->addTopLevelItem(groupRow);
    QList<QTreeWidgetItem *> contactRows;
    for (const QString &name : {QStringLiteral("Ada Lovelace"), QStringLiteral("Zoë Müller")}) {
        auto *row = new QTreeWidgetItem(groupRow);
        row->setData(0, ROLE_ITEM_TYPE, ITEM_CONTACT);
        row->setData(0, Qt::UserRole, name);
        contactRows.append(row);
    }
    tree->expandAll();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // First each row carries its entry widget, as item widgets do.
    auto *group = new TGroupWidget;
    group->setGroupName(QStringLiteral("Family"));
    tree->setItemWidget(groupRow, 0, group);
    for (QTreeWidgetItem *row : std::as_const(contactRows)) {
        auto *entry = new TContactWidget;
        entry->setName(row->data(0, Qt::UserRole).toString());
        entry->setPhoto(photo);
        tree->setItemWidget(row, 0, entry);
    }
    tree->setCurrentItem(contactRows.at(1));
    QTest::qWait(50);
    const QImage withWidgets = tree->viewport()->grab().toImage();

    // Then the same rows painted by stamps, with no widget on them.
    for (QTreeWidgetItem *row : {groupRow, contactRows.at(0), contactRows.at(1)})
        tree->removeItemWidget(row, 0);
    QTest::qWait(50);
    tree->setItemDelegate(new StampDelegate(tree, photo));
    tree->doItemsLayout();
    QTest::qWait(50);
    const QImage stamped = tree->viewport()->grab().toImage();

    QCOMPARE(stamped.size(), withWidgets.size());
    if (stamped != withWidgets) {
        withWidgets.save(QStringLiteral("rows-with-widgets.png"));
        stamped.save(QStringLiteral("rows-stamped.png"));
        QFAIL("stamped rows differ from the rows with entry widgets (both saved as PNG)");
    }
    // And they show something: the photo, and each contact's own name.
    const QRect first = tree->visualItemRect(contactRows.at(0));
    QCOMPARE(first.height(), 40);
    QCOMPARE(tree->visualItemRect(groupRow).height(), 34);
    QCOMPARE(QColor(stamped.pixel(first.left() + 20, first.top() + 20)), QColor(200, 40, 90));
    int inked = 0;
    for (int x = first.left() + 40; x < first.right(); ++x)
        for (int y = first.top(); y <= first.bottom(); ++y)
            inked += QColor(stamped.pixel(x, y)) != QColor(0xef, 0xef, 0xef);
    QVERIFY2(inked > 20, "the name is not drawn");
    // A row stamped from the cache looks the same as when first rendered.
    tree->viewport()->update();
    QTest::qWait(20);
    QCOMPARE(tree->viewport()->grab().toImage(), stamped);
}

QTEST_MAIN(TestContactTree)
#include "tst_contacttree.moc"
