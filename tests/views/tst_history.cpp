// The call history: its entries and list, and the download that fills it.
#include "accounttestsupport.h"
#include "base/tevent.h"
#include "views/thistoryitem.h"
#include "views/thistorylist.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimeZone>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

// What a row of the list shows.
struct Row {
    QString name;
    QString phone;
    QString duration;
};

Row rowAt(const THistoryList &list, int row)
{
    const QTreeWidgetItem *item = list.topLevelItem(row);
    return {item->data(0, ROLE_HISTORY_NAME).toString(), item->data(0, ROLE_HISTORY_PHONE).toString(),
            item->data(0, ROLE_HISTORY_DURATION).toString()};
}

// Bytes the program holds on the heap; 0 where the allocator does not say.
std::size_t heapInUse()
{
#if defined(__GLIBC__)
    return mallinfo2().uordblks;
#else
    return 0;
#endif
}

// A call history of n calls, as the service sends it.
QByteArray historyReply(int calls)
{
    QByteArray json = R"({"result":[)";
    for (int i = 0; i < calls; ++i) {
        if (i)
            json += ',';
        json += R"({"Name":")" + (i % 3 ? QByteArray("Caller ") + QByteArray::number(i) : QByteArray())
                + R"(","WholeNumber":"44207946)" + QByteArray::number(1000 + i) + R"(","Duration":"00:00:07","starttime":"2024-05-01 10:00:00"})";
    }
    return json + "]}";
}

} // namespace

class TestHistory : public QObject
{
    Q_OBJECT

private slots:
    void entryFormAndTexts();
    void blankNameHidesTheNameLine();
    void listAddsInOrderAndClears();
    void rowsLookLikeTheirEntriesAndCall();
    void refreshesReleaseTheOldRows();
    void downloadRequestAndLines();
    void badStartTimesGiveEmptyDate_data();
    void badStartTimesGiveEmptyDate();
    void brokenRepliesEmptyTheList_data();
    void brokenRepliesEmptyTheList();
    void failedTransferKeepsTheList();
};

void TestHistory::entryFormAndTexts()
{
    THistoryItem entry;
    QCOMPARE(entry.objectName(), QStringLiteral("THistoryItem"));
    QCOMPARE(entry.findChild<QWidget *>("widget_3")->property("class").toString(), QStringLiteral("history-item"));
    QVERIFY(entry.findChild<QLabel *>("lblName")->font().bold());
    QVERIFY(entry.findChild<QLabel *>("lblName")->isHidden());
    auto *call = entry.findChild<QPushButton *>("pbCall");
    QCOMPARE(call->toolTip(), QStringLiteral("Call"));
    QCOMPARE(call->iconSize(), QSize(22, 22));
    QCOMPARE(call->maximumWidth(), 32);
    QCOMPARE(entry.findChild<QWidget *>("widget_2")->maximumWidth(), 40);

    entry.setName(QStringLiteral("Echo test"));
    entry.setPhone(QStringLiteral("999"));
    entry.setDuration(QStringLiteral("03/05/2012 14:07:09 Duration: 00:02:31"));
    QVERIFY(!entry.findChild<QLabel *>("lblName")->isHidden());
    QCOMPARE(entry.findChild<QLabel *>("lblName")->text(), QStringLiteral("Echo test"));
    QCOMPARE(entry.findChild<QLabel *>("lblPhone")->text(), QStringLiteral("+999"));
    QCOMPARE(entry.findChild<QLabel *>("lblDuration")->text(), QStringLiteral("03/05/2012 14:07:09 Duration: 00:02:31"));
    // A later blank name does not hide the line again.
    entry.setName(QStringLiteral("  "));
    QVERIFY(!entry.findChild<QLabel *>("lblName")->isHidden());
}

void TestHistory::blankNameHidesTheNameLine()
{
    THistoryItem entry;
    entry.setName(QStringLiteral(" \t"));
    QVERIFY(entry.findChild<QLabel *>("lblName")->isHidden());
}

void TestHistory::listAddsInOrderAndClears()
{
    THistoryList list;
    list.clearHistory();
    QCOMPARE(list.topLevelItemCount(), 0);
    list.addItem("A", "111", "d1");
    list.addItem("", " 222", "d2");
    QCOMPARE(list.topLevelItemCount(), 2);
    QCOMPARE(rowAt(list, 0).name, QStringLiteral("A"));
    QCOMPARE(rowAt(list, 1).phone, QStringLiteral(" 222"));
    QCOMPARE(rowAt(list, 1).duration, QStringLiteral("d2"));
    QCOMPARE(list.topLevelItem(0)->type(), 0);
    list.clearHistory();
    QCOMPARE(list.topLevelItemCount(), 0);
    list.addItem("C", "333", "d3");
    QCOMPARE(list.topLevelItemCount(), 1);
    QCOMPARE(rowAt(list, 0).name, QStringLiteral("C"));
}

void TestHistory::rowsLookLikeTheirEntriesAndCall()
{
    // The list as the main window styles it.
    QWidget window;
    window.setStyleSheet(QStringLiteral("* { font-family: \"Tahoma\"; font-size: 11px; }"));
    auto *list = new THistoryList(&window);
    list->setHeaderHidden(true);
    list->setIndentation(0);
    window.resize(340, 260);
    list->resize(340, 260);
    const Row calls[] = {{QStringLiteral("Echo test"), QStringLiteral("999"), QStringLiteral("03/05/2012 14:07:09 Duration: 00:02:31")},
                         {QStringLiteral("  "), QStringLiteral(" 4420"), QStringLiteral(" Duration: 00:00:00")},
                         {QStringLiteral("Zoë Müller"), QStringLiteral("493012345678"), QStringLiteral("12/31/2024 23:59:59 Duration: 01:00:00")}};
    for (const Row &call : calls)
        list->addItem(call.name, call.phone, call.duration);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(50);
    const QImage stamped = list->viewport()->grab().toImage();

    // The same rows, each covered by its own entry widget.
    auto *plain = new QTreeWidget(&window);
    plain->setHeaderHidden(true);
    plain->setIndentation(0);
    plain->resize(340, 260);
    for (const Row &call : calls) {
        auto *entry = new THistoryItem;
        entry->setName(call.name);
        entry->setPhone(call.phone);
        entry->setDuration(call.duration);
        auto *row = new QTreeWidgetItem;
        plain->addTopLevelItem(row);
        plain->setItemWidget(row, 0, entry);
    }
    plain->show();
    QTest::qWait(50);
    const QImage withWidgets = plain->viewport()->grab().toImage();
    if (stamped != withWidgets) {
        stamped.save(QStringLiteral("history-stamped.png"));
        withWidgets.save(QStringLiteral("history-with-widgets.png"));
        QFAIL("the history's rows differ from rows with entry widgets (both saved as PNG)");
    }
    // Named rows have three lines, the blank name two.
    QVERIFY(list->visualItemRect(list->topLevelItem(0)).height() > list->visualItemRect(list->topLevelItem(1)).height());
    QCOMPARE(list->visualItemRect(list->topLevelItem(1)).height(), plain->visualItemRect(plain->topLevelItem(1)).height());

    // The Call button sits where the entry's own would (the main window's
    // tests click it).
    const QRect button = list->callButtonRect(list->topLevelItem(1));
    QWidget *ownButton = plain->itemWidget(plain->topLevelItem(1), 0)->findChild<QPushButton *>("pbCall");
    QCOMPARE(button, QRect(ownButton->mapTo(plain->viewport(), QPoint()), ownButton->size()));
}

void TestHistory::refreshesReleaseTheOldRows()
{
    HttpResponder responder;
    WebBase base(responder);
    TAccount account;
    QWidget window;
    auto *list = new THistoryList(&window);
    window.resize(340, 400);
    list->attach(&account);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // The same calls each time, as the minute's refresh mostly brings.
    QPersistentModelIndex first;
    const auto refresh = [&](int calls) {
        responder.setReply("/History/PlacedCallsDataAPI.html", historyReply(calls));
        account.getCallHistory();
        QTRY_VERIFY(!first.isValid() && list->topLevelItemCount() == calls);
        first = QPersistentModelIndex(list->model()->index(0, 0));
        // Painted, and what the old rows left for later deletion gone.
        list->viewport()->repaint();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };
    refresh(300);
    refresh(300);
    const int widgets = QApplication::allWidgets().size();
    const std::size_t heap = heapInUse();
    const int objects = list->findChildren<QObject *>().size();
    for (int i = 0; i < 6; ++i) {
        // Each refresh replaces the rows, and nothing made for the old ones
        // outlives them.
        refresh(300);
        QCOMPARE(QApplication::allWidgets().size(), widgets);
        QCOMPARE(list->findChildren<QObject *>().size(), objects);
    }
    // Nor anything else: six refreshes leave the heap about as they found it
    // (rows kept from each refresh would add over a megabyte; the margin is
    // for what Qt's caches take on a busy machine). Not countable under a
    // sanitizer, whose leak check at exit stands in for this.
    if (heap > 0)
        QVERIFY2(heapInUse() < heap + 400 * 1024, qPrintable(QString::number(qint64(heapInUse() - heap))));
    // No widget per row: a list of 300 calls has as many widgets as a list
    // of one.
    refresh(1);
    QCOMPARE(QApplication::allWidgets().size(), widgets);
}

void TestHistory::downloadRequestAndLines()
{
    HttpResponder responder;
    WebBase base(responder);
    TAccount account;
    THistoryList list;
    list.attach(&account);
    QVERIFY(logIn(account, responder));

    responder.setReply("/History/PlacedCallsDataAPI.html", R"({"result":[
        {"Name":"Echo test","WholeNumber":"999","CleanPhone":"00999","Duration":"00:02:31","starttime":"2012-03-05 14:07:09"},
        {"Name":"","WholeNumber":" 4420","Duration":"00:00:00","starttime":"2024-12-31 23:59:59"},
        {"Name":"Nobody","WholeNumber":"   ","Duration":"00:00:01","starttime":"2024-01-01 00:00:00"},
        {"Name":"Summer","WholeNumber":"39","Duration":"x","starttime":"2012-03-25 02:30:00"}
    ]})");
    account.getCallHistory();
    QTRY_COMPARE(list.topLevelItemCount(), 3);
    const auto request = responder.requestsFor("/History/PlacedCallsDataAPI.html").at(0);
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.body, QByteArray("login=K1&"));

    QCOMPARE(rowAt(list, 0).name, QStringLiteral("Echo test"));
    QCOMPARE(rowAt(list, 0).duration, QStringLiteral("03/05/2012 14:07:09 Duration: 00:02:31"));
    // The number is passed on untrimmed, name or not.
    QCOMPARE(rowAt(list, 1).phone, QStringLiteral(" 4420"));
    QCOMPARE(rowAt(list, 1).duration, QStringLiteral("12/31/2024 23:59:59 Duration: 00:00:00"));
    // A wall-clock time that some time zones skip is shown as it came.
    QCOMPARE(rowAt(list, 2).duration, QStringLiteral("03/25/2012 02:30:00 Duration: x"));

    // Every download replaces the list, also by an empty one.
    responder.setReply("/History/PlacedCallsDataAPI.html", R"({"result":[]})");
    account.getCallHistory();
    QTRY_COMPARE(list.topLevelItemCount(), 0);
}

void TestHistory::badStartTimesGiveEmptyDate_data()
{
    QTest::addColumn<QByteArray>("start");
    QTest::newRow("T between date and time") << QByteArray("2012-03-05T14:07:09");
    QTest::newRow("impossible date") << QByteArray("2012-02-30 10:00:00");
    QTest::newRow("impossible time") << QByteArray("2012-02-03 24:00:00");
    QTest::newRow("one-digit fields") << QByteArray("2012-3-5 4:07:09");
    QTest::newRow("trailing text") << QByteArray("2012-03-05 14:07:09Z");
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("number") << QByteArray("20120305");
}

void TestHistory::badStartTimesGiveEmptyDate()
{
    QFETCH(QByteArray, start);
    HttpResponder responder;
    WebBase base(responder);
    TAccount account;
    THistoryList list;
    list.attach(&account);
    const bool quoted = start != "20120305";
    responder.setReply("/History/PlacedCallsDataAPI.html",
                       R"({"result":[{"Name":"N","WholeNumber":"1","Duration":"00:00:07","starttime":)"
                           + (quoted ? '"' + start + '"' : start) + "}]}");
    account.getCallHistory();
    QTRY_COMPARE(list.topLevelItemCount(), 1);
    QCOMPARE(rowAt(list, 0).duration, QStringLiteral(" Duration: 00:00:07"));
}

void TestHistory::brokenRepliesEmptyTheList_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("false") << QByteArray("false");
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("not JSON") << QByteArray("<html>oops</html>");
    QTest::newRow("no result") << QByteArray(R"({"calls":[]})");
    QTest::newRow("result not a list") << QByteArray(R"({"result":7})");
    QTest::newRow("entries not objects") << QByteArray(R"({"result":[1,"two",null]})");
}

void TestHistory::brokenRepliesEmptyTheList()
{
    QFETCH(QByteArray, body);
    HttpResponder responder;
    WebBase base(responder);
    TAccount account;
    THistoryList list;
    list.addItem("old", "1", "d");
    list.attach(&account);
    responder.setReply("/History/PlacedCallsDataAPI.html", body);
    account.getCallHistory();
    QTRY_COMPARE(list.topLevelItemCount(), 0);
}

void TestHistory::failedTransferKeepsTheList()
{
    HttpResponder responder;
    WebBase base(responder);
    TAccount account;
    THistoryList list;
    list.addItem("kept", "1", "d");
    list.attach(&account);
    responder.setReply("/History/PlacedCallsDataAPI.html", HttpResponder::Reply{500, "", 0, false});
    account.getCallHistory();
    QVERIFY(responder.waitForRequest("/History/PlacedCallsDataAPI.html"));
    responder.setReply("/History/PlacedCallsDataAPI.html", HttpResponder::Reply{200, "", 0, true});
    account.getCallHistory();
    QTest::qWait(300);
    QCOMPARE(list.topLevelItemCount(), 1);
    QCOMPARE(rowAt(list, 0).name, QStringLiteral("kept"));
}

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
