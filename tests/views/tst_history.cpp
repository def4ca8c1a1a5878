// The call history: its entries and list, and the download that fills it.
#include "accounttestsupport.h"
#include "app/tevent.h"
#include "views/thistoryitem.h"
#include "views/thistorylist.h"

#include <QLabel>
#include <QPushButton>
#include <QTimeZone>

namespace {

THistoryItem *entryAt(THistoryList &list, int row)
{
    return qobject_cast<THistoryItem *>(list.itemWidget(list.topLevelItem(row), 0));
}

} // namespace

class TestHistory : public QObject
{
    Q_OBJECT

private slots:
    void entryFormAndTexts();
    void blankNameHidesTheNameLine();
    void listAddsInOrderAndClears();
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
    QCOMPARE(entryAt(list, 0)->name(), QStringLiteral("A"));
    QCOMPARE(entryAt(list, 1)->phone(), QStringLiteral(" 222"));
    QCOMPARE(entryAt(list, 1)->callNumber(), QStringLiteral(" 222"));
    QCOMPARE(list.topLevelItem(0)->type(), 0);
    QPointer<THistoryItem> old = entryAt(list, 0);
    list.clearHistory();
    QCOMPARE(list.topLevelItemCount(), 0);
    QTRY_VERIFY(!old);
    list.addItem("C", "333", "d3");
    QCOMPARE(list.topLevelItemCount(), 1);
    QCOMPARE(entryAt(list, 0)->name(), QStringLiteral("C"));
}

void TestHistory::downloadRequestAndLines()
{
    HttpResponder responder;
    WebBase base(responder);
    TAccount account;
    THistoryList list;
    account.setHistoryList(&list);
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

    QCOMPARE(entryAt(list, 0)->name(), QStringLiteral("Echo test"));
    QCOMPARE(entryAt(list, 0)->duration(), QStringLiteral("03/05/2012 14:07:09 Duration: 00:02:31"));
    // The number is passed on untrimmed, name or not.
    QCOMPARE(entryAt(list, 1)->phone(), QStringLiteral(" 4420"));
    QCOMPARE(entryAt(list, 1)->duration(), QStringLiteral("12/31/2024 23:59:59 Duration: 00:00:00"));
    // A wall-clock time that some time zones skip is shown as it came.
    QCOMPARE(entryAt(list, 2)->duration(), QStringLiteral("03/25/2012 02:30:00 Duration: x"));

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
    account.setHistoryList(&list);
    const bool quoted = start != "20120305";
    responder.setReply("/History/PlacedCallsDataAPI.html",
                       R"({"result":[{"Name":"N","WholeNumber":"1","Duration":"00:00:07","starttime":)"
                           + (quoted ? '"' + start + '"' : start) + "}]}");
    account.getCallHistory();
    QTRY_COMPARE(list.topLevelItemCount(), 1);
    QCOMPARE(entryAt(list, 0)->duration(), QStringLiteral(" Duration: 00:00:07"));
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
    account.setHistoryList(&list);
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
    account.setHistoryList(&list);
    responder.setReply("/History/PlacedCallsDataAPI.html", HttpResponder::Reply{500, "", 0, false});
    account.getCallHistory();
    QVERIFY(responder.waitForRequest("/History/PlacedCallsDataAPI.html"));
    responder.setReply("/History/PlacedCallsDataAPI.html", HttpResponder::Reply{200, "", 0, true});
    account.getCallHistory();
    QTest::qWait(300);
    QCOMPARE(list.topLevelItemCount(), 1);
    QCOMPARE(entryAt(list, 0)->name(), QStringLiteral("kept"));
}

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
