// What the service sends is data, never more: its words are shown as plain
// text, replies larger than their kind may be are refused unread, and the
// balance asked for every second is never asked again while an answer is
// still on its way.
#include "account/taccount.h"
#include "views/accountmessages.h"
#include "views/tlogin.h"
#include "base/tevent.h"
#include "app/tmainwindow.h"
#include "httpresponder.h"
#include "testsupport.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

#include <memory>

namespace {

const QByteArray Markup = "<b>Ada</b><img src='x'>";

QByteArray padded(const QByteArray &object, qsizetype size)
{
    QByteArray body = object;
    body.chop(1);
    body += ",\"pad\":\"" + QByteArray(size, 'x') + "\"}";
    return body;
}

} // namespace

class TestServiceText : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void serviceWordsAreShownAsPlainText();
    void directionControlsInServiceWordsAreDropped();
    void oversizedRepliesAreRefused();
    void oneBalanceRequestAtATime();
    void aTricklingReplyEndsAtItsDeadline();

private:
    TMainWindow *loggedInWindow();

    LoginService *service = nullptr;
    HttpResponder *responder = nullptr;
};

void TestServiceText::init()
{
    service = new LoginService;
    responder = service->responder;
}

void TestServiceText::cleanup()
{
    setMainWindow(nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete service;
}

TMainWindow *TestServiceText::loggedInWindow()
{
    auto *window = new TMainWindow;
    setMainWindow(window);
    return window;
}

void TestServiceText::serviceWordsAreShownAsPlainText()
{
    responder->setReply("/Webservices/contacts.php",
                        R"({"result":[{"id":"1","name":"<i>Family</i>","contacts":[{"id":"11","name":")" + Markup
                            + R"(","phones":[{"id":"101","countryCode":"44","phone":"20<br>","type":"Home","wholePhone":"4420"}]}]}]})");
    responder->setReply("/History/PlacedCallsDataAPI.html",
                        R"({"result":[{"Name":"<h1>Big</h1>","WholeNumber":"4420<br>","starttime":"2026-01-02 03:04:05","Duration":"<b>12</b>"}]})");
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    QTRY_VERIFY_WITH_TIMEOUT(responder->requestsFor("/History/PlacedCallsDataAPI.html").size() > 0, 10000);
    // Rows may be painted from one entry form filled for each row: the
    // window is shown, with each of its tabs in turn, so that every row is
    // painted once.
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto *tabs = window->findChild<QTabWidget *>(QStringLiteral("twMainTabs"));
    const auto showEachTab = [tabs] {
        for (int i = tabs->count() - 1; i >= 0; --i) {
            tabs->setCurrentIndex(i);
            QTest::qWait(50);
        }
    };

    // Every label that shows one of these texts shows it as typed.
    const QStringList sent{QString::fromLatin1(Markup), QStringLiteral("<i>Family</i>"),
                           QStringLiteral("<h1>Big</h1>"), QStringLiteral("+4420<br>"), QStringLiteral("<b>12</b>")};
    const auto labelsShowing = [&window](const QString &text) {
        QList<QLabel *> labels;
        for (QLabel *label : window->findChildren<QLabel *>())
            if (label->text().contains(text))
                labels << label;
        return labels;
    };
    for (const QString &text : sent) {
        QTRY_VERIFY2_WITH_TIMEOUT((showEachTab(), !labelsShowing(text).isEmpty()), qPrintable(text), 10000);
        for (QLabel *label : labelsShowing(text))
            QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(label->objectName() + QLatin1Char(' ') + text));
    }

    // The service's "Error" in the message box, too.
    responder->setReply("/Phonebook/Text.html", R"({"Success":false,"Error":"<b>No</b> <a href='x'>credit</a>"})");
    TAccount account;
    showAccountMessages(&account);
    Qt::TextFormat format = Qt::RichText;
    QString text;
    onNextModal([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        QVERIFY(box);
        format = box->textFormat();
        text = box->text();
        box->close();
    }, 10000);
    account.sendTextMessage(QStringLiteral("44"), QStringLiteral("20"), QStringLiteral("hi"));
    QTRY_VERIFY_WITH_TIMEOUT(!text.isEmpty(), 10000);
    QCOMPARE(text, QStringLiteral("<b>No</b> <a href='x'>credit</a>"));
    QCOMPARE(format, Qt::PlainText);
}

// A right-to-left override in a name would show "Ada gnp.exe" as
// "Ada exe.png": what the service sends is shown in its own order.
void TestServiceText::directionControlsInServiceWordsAreDropped()
{
    responder->setReply("/Webservices/contacts.php",
                        R"({"result":[{"id":"1","name":"\u2067Fam\u202bily","contacts":[{"id":"11","name":"Ada \u202egnp.exe",)"
                        R"("phones":[{"id":"101","countryCode":"44","phone":"20","type":"Home","wholePhone":"4420"}]}]}]})");
    responder->setReply("/History/PlacedCallsDataAPI.html",
                        R"({"result":[{"Name":"Bob \u202dfdp.exe\u202c","WholeNumber":"4420","starttime":"2026-01-02 03:04:05","Duration":"12"}]})");
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto *tabs = window->findChild<QTabWidget *>(QStringLiteral("twMainTabs"));
    const auto shownIn = [&window, tabs](const QString &text) {
        for (int i = tabs->count() - 1; i >= 0; --i) {
            tabs->setCurrentIndex(i);
            QTest::qWait(50);
        }
        QStringList shown;
        for (QLabel *label : window->findChildren<QLabel *>())
            if (label->text().contains(text))
                shown << label->text();
        return shown;
    };
    QVERIFY(QTest::qWaitFor([&] { return !shownIn(QStringLiteral("gnp.exe")).isEmpty() && !shownIn(QStringLiteral("fdp.exe")).isEmpty()
                                         && !shownIn(QStringLiteral("ily")).isEmpty(); }, 10000));
    for (const QString &shown : shownIn(QStringLiteral("gnp.exe")))
        QCOMPARE(shown, QStringLiteral("Ada gnp.exe"));
    for (const QString &shown : shownIn(QStringLiteral("fdp.exe")))
        QCOMPARE(shown, QStringLiteral("Bob fdp.exe"));
    for (const QString &shown : shownIn(QStringLiteral("ily")))
        QCOMPARE(shown, QStringLiteral("Family"));

    // The service's "Error" in the message box, too.
    responder->setReply("/Phonebook/Text.html", R"({"Success":false,"Error":"Top up at \u202emoc.evil"})");
    TAccount account;
    showAccountMessages(&account);
    QString message;
    closeNextMessageBox(&message);
    account.sendTextMessage(QStringLiteral("44"), QStringLiteral("20"), QStringLiteral("hi"));
    QTRY_VERIFY_WITH_TIMEOUT(!message.isEmpty(), 10000);
    QCOMPARE(message, QStringLiteral("Top up at moc.evil"));
}

void TestServiceText::oversizedRepliesAreRefused()
{
    // Well-formed, but far more than a balance can need.
    responder->setReply("/Credit/GetCredit.html", padded(R"({"Credit":"77.00"})", 200 * 1024));
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    auto *credit = window->findChild<QPushButton *>(QStringLiteral("pbCreditAmount"));
    const QString before = credit->text();
    QTRY_VERIFY_WITH_TIMEOUT(responder->requestsFor("/Credit/GetCredit.html").size() >= 2, 10000);
    QTest::qWait(300);
    QCOMPARE(credit->text(), before);

    // A reply the user waits for says it cannot be read.
    responder->setReply("/Phonebook/Text.html", padded(R"({"Success":true})", 200 * 1024));
    TAccount account;
    showAccountMessages(&account);
    QString message;
    closeNextMessageBox(&message);
    account.sendTextMessage(QStringLiteral("44"), QStringLiteral("20"), QStringLiteral("hi"));
    QTRY_VERIFY_WITH_TIMEOUT(!message.isEmpty(), 10000);
    QVERIFY2(message.contains(QStringLiteral("cannot be read")), qPrintable(message));

    // The phonebook may be large: a reply of a few hundred kilobytes is read.
    QByteArray contacts;
    for (int i = 0; i < 2000; ++i)
        contacts += (i ? "," : "") + QByteArray(R"({"id":")") + QByteArray::number(i + 10)
                    + R"(","name":"Contact )" + QByteArray::number(i)
                    + R"(","phones":[{"id":"1","countryCode":"44","phone":"20","type":"Home","wholePhone":"4420"}]})";
    responder->setReply("/Webservices/contacts.php", R"({"result":[{"id":"1","name":"Family","contacts":[)" + contacts + "]}]}");
    TAccount big;
    QSignalSpy loaded(&big, &TAccount::phonebookChanged);
    big.loadContacts();
    QVERIFY(loaded.wait(30000));
    QCOMPARE(big.groups().size(), 1);
    QCOMPARE(big.groups().first().contacts.size(), 2000);
}

void TestServiceText::oneBalanceRequestAtATime()
{
    responder->setReply("/Credit/GetCredit.html", HttpResponder::Reply{200, R"({"Credit":"12.50"})", 3500, false});
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    QVERIFY(responder->waitForRequest("/Credit/GetCredit.html", 10000));
    // The timer asks every second; the answer takes 3.5 s.
    QTest::qWait(3000);
    QCOMPARE(responder->requestsFor("/Credit/GetCredit.html").size(), 1);
    auto *credit = window->findChild<QPushButton *>(QStringLiteral("pbCreditAmount"));
    QTRY_COMPARE_WITH_TIMEOUT(credit->text(), QStringLiteral("$12.50"), 10000);
    // Once answered, the next tick asks again.
    QTRY_COMPARE_WITH_TIMEOUT(responder->requestsFor("/Credit/GetCredit.html").size(), 2, 5000);
}

// A reply that keeps coming, one byte at a time, must still end: the
// balance is asked again, and the user is told that the service did not
// answer in time.
void TestServiceText::aTricklingReplyEndsAtItsDeadline()
{
    const QByteArray slowCredit = padded(R"({"Credit":"77.00"})", 100);
    responder->setReply("/Credit/GetCredit.html", HttpResponder::Reply{200, slowCredit, 0, false, 50});
    responder->setReply("/Phonebook/Text.html", HttpResponder::Reply{200, padded(R"({"Success":true})", 100), 0, false, 50});
    TAccount account;
    account.setRequestTimeout(500);
    QSignalSpy credit(&account, &TAccount::creditUpdated);
    QSignalSpy failed(&account, &TAccount::requestFailed);

    // Polled as the credit timer does: once the first request is given up,
    // the next poll asks again.
    account.getCreditBallance();
    QVERIFY(responder->waitForRequest("/Credit/GetCredit.html"));
    QTRY_COMPARE_WITH_TIMEOUT((account.getCreditBallance(), responder->requestsFor("/Credit/GetCredit.html").size()), 2, 4000);
    QVERIFY(credit.isEmpty());

    account.sendTextMessage(QStringLiteral("44"), QStringLiteral("20"), QStringLiteral("hi"));
    QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, 4000);
    QVERIFY2(failed.at(0).at(0).toString().contains(QStringLiteral("did not answer in time")),
             qPrintable(failed.at(0).at(0).toString()));
}

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    TestServiceText test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_servicetext.moc"
