// The phonebook as a keyboard or screen-reader user meets it, in the real
// main window offscreen: what assistive technology reads for the painted
// rows, and the search that narrows the tree as the user types.
#include "views/tlogin.h"
#include "base/tevent.h"
#include "app/tmainwindow.h"
#include "httpresponder.h"
#include "testsupport.h"
#include "views/tcontacttree.h"
#include "views/titemdelegate.h"

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

namespace {

const QByteArray Phonebook = R"({"result":[
  {"id":"1","name":"Family","contacts":[
    {"id":"11","name":"Zo\u00eb M\u00fcller","phones":[
      {"id":"101","countryCode":"49","phone":"30 1234 5678","type":"Home","wholePhone":"493012345678"}]},
    {"id":"12","name":"Fran\u00e7ois Dubois","phones":[
      {"id":"102","countryCode":"33","phone":"1 42 68 53 00","type":"Work","wholePhone":"33142685300"},
      {"id":"103","countryCode":"33","phone":"6 12 34 56 78","type":"Mobile","wholePhone":"33612345678"}]}]},
  {"id":"2","name":"Work","contacts":[
    {"id":"21","name":"Grace Hopper","phones":[
      {"id":"104","countryCode":"1","phone":"555 0100","type":"Work","wholePhone":"15550100"}]}]},
  {"id":"3","name":"Friends","contacts":[]}
]})";

} // namespace

class TestPhonebookSearch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void rowsReadAsTheyAreShown();
    void typingNarrowsTheTree();

private:
    // The names of the rows a user sees, in order, groups as "[Group]".
    QStringList visibleRows() const;

    HttpResponder *responder = nullptr;
    SettingsSandbox *sandbox = nullptr;
    TMainWindow *window = nullptr;
    QTreeWidget *tree = nullptr;
};

void TestPhonebookSearch::initTestCase()
{
    responder = new HttpResponder;
    responder->setReply("/Webservices/login.php", R"({"Username":"1000","Password":"pw","Key":"K1"})");
    responder->setReply("/Webservices/contacts.php", Phonebook);
    responder->setReply("/Credit/GetCredit.html", R"({"Credit":12.50})");
    responder->setReply("/History/PlacedCallsDataAPI.html",
                        R"({"result":[{"Name":"Echo test","WholeNumber":"999","Duration":"00:00:09","starttime":"2024-05-01 10:00:00"}]})");
    responder->setReply("/update.php", "false");
    responder->setReply("/Phonebook/GetContactPhoto.html", HttpResponder::Reply{404, "", 0, false});
    qputenv("ONDAVOX_WEB_BASE", responder->baseUrl().toUtf8());
    sandbox = new SettingsSandbox;
    sandbox->storeLogin(QStringLiteral("demo@ondavox.com"), passwordDigest(QStringLiteral("ondavox-demo")));
    window = new TMainWindow;
    setMainWindow(window);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    tree = window->findChild<QTreeWidget *>(QStringLiteral("twContacts"));
    QTRY_COMPARE_WITH_TIMEOUT(tree->topLevelItemCount(), 3, 10000);
}

void TestPhonebookSearch::cleanupTestCase()
{
    setMainWindow(nullptr);
    delete window;
    delete sandbox;
    delete responder;
    qunsetenv("ONDAVOX_WEB_BASE");
}

QStringList TestPhonebookSearch::visibleRows() const
{
    QStringList rows;
    for (int g = 0; g < tree->topLevelItemCount(); ++g) {
        const QTreeWidgetItem *group = tree->topLevelItem(g);
        if (group->isHidden())
            continue;
        rows << QLatin1Char('[') + group->data(0, Qt::AccessibleTextRole).toString() + QLatin1Char(']');
        for (int c = 0; c < group->childCount(); ++c)
            if (!group->child(c)->isHidden())
                rows << TContactTree::contactOf(group->child(c)).name;
    }
    return rows;
}

void TestPhonebookSearch::rowsReadAsTheyAreShown()
{
    // Through Qt's accessibility layer, as the bridge to a screen reader
    // reads the tree: each row cell by cell, in the order shown.
    QAccessibleInterface *view = QAccessible::queryAccessibleInterface(tree);
    QVERIFY(view);
    QCOMPARE(view->text(QAccessible::Name), QStringLiteral("Phonebook"));
    QStringList read;
    for (int i = 0; i < view->childCount(); ++i) {
        QAccessibleInterface *cell = view->child(i);
        if (cell && cell->role() != QAccessible::ColumnHeader)
            read << cell->text(QAccessible::Name);
    }
    QCOMPARE(read, QStringList({QStringLiteral("Family"), QStringLiteral("Zoë Müller, +49 30 1234 5678 Home"),
                                QStringLiteral("François Dubois, +33 1 42 68 53 00 Work, +33 6 12 34 56 78 Mobile"),
                                QStringLiteral("Work"), QStringLiteral("Grace Hopper, +1 555 0100 Work"),
                                QStringLiteral("Friends")}));

    // The history's rows read their name, number, date and duration, once
    // its tab is shown.
    auto *history = window->findChild<QTreeWidget *>(QStringLiteral("twCallHistory"));
    QTRY_COMPARE_WITH_TIMEOUT(history->topLevelItemCount(), 1, 10000);
    auto *tabs = window->findChild<QTabWidget *>(QStringLiteral("twMainTabs"));
    tabs->setCurrentIndex(1);
    QVERIFY(QTest::qWaitForWindowExposed(history));
    QAccessibleInterface *calls = QAccessible::queryAccessibleInterface(history);
    QStringList callsRead;
    for (int i = 0; i < calls->childCount(); ++i)
        if (calls->child(i)->role() != QAccessible::ColumnHeader)
            callsRead << calls->child(i)->text(QAccessible::Name);
    QCOMPARE(callsRead, QStringList({QStringLiteral("Echo test, +999, 05/01/2024 10:00:00 Duration: 00:00:09")}));
    tabs->setCurrentIndex(0);
}

void TestPhonebookSearch::typingNarrowsTheTree()
{
    auto *search = window->findChild<QLineEdit *>(QStringLiteral("leSearch"));
    QVERIFY(search);
    QVERIFY(!search->isVisible());
    const QStringList everything = visibleRows();

    // A letter typed on the tree starts the search with it.
    tree->setFocus();
    QTest::keyClicks(tree, QStringLiteral("m"));
    QVERIFY(search->isVisible());
    QCOMPARE(QApplication::focusWidget(), search);
    QTest::keyClicks(search, QStringLiteral("uller"));
    QCOMPARE(search->text(), QStringLiteral("muller"));
    QCOMPARE(visibleRows(), QStringList({QStringLiteral("[Family]"), QStringLiteral("Zoë Müller")}));

    // Case and accents count for nothing; numbers match by their digits.
    search->setText(QStringLiteral("FRANCOIS"));
    QCOMPARE(visibleRows(), QStringList({QStringLiteral("[Family]"), QStringLiteral("François Dubois")}));
    search->setText(QStringLiteral("4930"));
    QCOMPARE(visibleRows(), QStringList({QStringLiteral("[Family]"), QStringLiteral("Zoë Müller")}));
    search->setText(QStringLiteral("+1 555"));
    QCOMPARE(visibleRows(), QStringList({QStringLiteral("[Work]"), QStringLiteral("Grace Hopper")}));
    search->setText(QStringLiteral("nobody"));
    QCOMPARE(visibleRows(), QStringList());

    // A refresh of the phonebook keeps the search on the new rows.
    search->setText(QStringLiteral("o"));
    const QStringList withO = visibleRows();
    QVERIFY(!withO.contains(QStringLiteral("[Friends]")));
    QList<TContactGroup> phonebook;
    for (int g = 0; g < tree->topLevelItemCount(); ++g) {
        const QTreeWidgetItem *group = tree->topLevelItem(g);
        TContactGroup record;
        record.groupID = group->data(0, ROLE_GROUP_ID).toString();
        record.groupName = group->data(0, ROLE_GROUP_NAME).toString();
        for (int c = 0; c < group->childCount(); ++c)
            record.contacts << TContactTree::contactOf(group->child(c));
        phonebook << record;
    }
    QTreeWidgetItem *before = tree->topLevelItem(0);
    tree->findChild<TContactTree *>()->setPhonebook(phonebook);
    QVERIFY(tree->topLevelItem(0) != before);
    QTRY_COMPARE(visibleRows(), withO);

    // Enter goes to the first contact found; Escape there ends the search.
    search->setText(QStringLiteral("hopper"));
    QTest::keyClick(search, Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), tree);
    QCOMPARE(TContactTree::contactOf(tree->currentItem()).name, QStringLiteral("Grace Hopper"));
    QTest::keyClick(tree, Qt::Key_Escape);
    QVERIFY(!search->isVisible());
    QCOMPARE(search->text(), QString());
    QCOMPARE(visibleRows(), everything);

    // Ctrl+F opens it from anywhere in the window; Escape in it ends it.
    window->findChild<QLineEdit *>(QStringLiteral("leNumber"))->setFocus();
    QTest::keySequence(window, QKeySequence::Find);
    QVERIFY(search->isVisible());
    QCOMPARE(QApplication::focusWidget(), search);
    QTest::keyClicks(search, QStringLiteral("grace"));
    QCOMPARE(visibleRows(), QStringList({QStringLiteral("[Work]"), QStringLiteral("Grace Hopper")}));
    QTest::keyClick(search, Qt::Key_Escape);
    QVERIFY(!search->isVisible());
    QCOMPARE(visibleRows(), everything);
}

QTEST_MAIN(TestPhonebookSearch)
#include "tst_phonebooksearch.moc"
