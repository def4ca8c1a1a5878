// The call page: its form, the duration read from the clock, the keypad.
#include "engine_double.h"
#include "views/tcalldialog.h"

#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

class TestCallDialog : public QObject
{
    Q_OBJECT

private slots:
    void init() { EngineDouble::reset(); }

    void formHasItsWidgets();
    void durationComesFromTheClock_data();
    void durationComesFromTheClock();
    void durationRunsOnlyBetweenStartAndStop();
    void clockSetBackShowsNoTime();
    void keypadSendsEachButtonsCharacter();
    void hangUpResetsAndSignals();
    void languageChangeKeepsNumberAndDuration();

private:
    static QLabel *duration(TCallDialog &page) { return page.findChild<QLabel *>(QStringLiteral("leCallDuration")); }
};

void TestCallDialog::formHasItsWidgets()
{
    TCallDialog page;
    QCOMPARE(page.objectName(), QStringLiteral("TCallDialog"));
    QCOMPARE(page.windowTitle(), QStringLiteral("Dialog"));
    QCOMPARE(page.size(), QSize(398, 396));
    QVERIFY(page.styleSheet().contains(QLatin1String(".dtmf-button:pressed")));

    auto *number = page.findChild<QLabel *>(QStringLiteral("lblNumber"));
    QCOMPARE(number->text(), QStringLiteral("+1 555 555 5555"));
    QCOMPARE(number->font().pointSize(), 14);
    QCOMPARE(number->alignment(), Qt::AlignCenter);
    QVERIFY(!page.findChild<QLabel *>(QStringLiteral("label"))->pixmap().isNull());
    QCOMPARE(duration(page)->text(), QStringLiteral("00:00:00"));
    QCOMPARE(page.findChild<QWidget *>(QStringLiteral("widget_3"))->minimumHeight(), 190);
    QCOMPARE(page.findChild<QWidget *>(QStringLiteral("widget_2"))->maximumSize(), QSize(180, 130));

    auto *hangUp = page.findChild<QPushButton *>(QStringLiteral("pbHangUp"));
    QVERIFY(hangUp->isFlat());
    QVERIFY(hangUp->text().isEmpty());
    QCOMPARE(hangUp->iconSize(), QSize(32, 32));
    QVERIFY(!hangUp->icon().isNull());
    QVERIFY(!hangUp->property("class").isValid());

    const char *names[4][3] = {{"pushButton_2", "pushButton_3", "pushButton_4"},
                               {"pushButton_6", "pushButton_5", "pushButton_7"},
                               {"pushButton_9", "pushButton_8", "pushButton_10"},
                               {"pushButton_12", "pushButton_11", "pushButton_13"}};
    const char *texts[4][3] = {{"1", "2", "3"}, {"4", "5", "6"}, {"7", "8", "9"}, {"*", "0", "#"}};
    auto *grid = page.findChild<QGridLayout *>(QStringLiteral("gridLayout"));
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 3; ++column) {
            auto *button = qobject_cast<QPushButton *>(grid->itemAtPosition(row, column)->widget());
            QVERIFY(button);
            QCOMPARE(button->objectName(), QString::fromLatin1(names[row][column]));
            QCOMPARE(button->text(), QString::fromLatin1(texts[row][column]));
            QCOMPARE(button->property("class").toString(), QStringLiteral("dtmf-button"));
        }
    }
}

void TestCallDialog::durationComesFromTheClock_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("shown");
    QTest::newRow("59 s") << qint64(59) << QStringLiteral("00:00:59");
    QTest::newRow("61 s") << qint64(61) << QStringLiteral("00:01:01");
    QTest::newRow("3661 s") << qint64(3661) << QStringLiteral("01:01:01");
    QTest::newRow("ten hours") << qint64(36000) << QStringLiteral("10:00:00");
}

void TestCallDialog::durationComesFromTheClock()
{
    QFETCH(qint64, seconds);
    QFETCH(QString, shown);
    qint64 now = 1700000000;
    TCallDialog page;
    page.setClock([&now] { return now; });
    page.start();
    now += seconds;
    QTRY_COMPARE_WITH_TIMEOUT(duration(page)->text(), shown, 3000);
}

void TestCallDialog::durationRunsOnlyBetweenStartAndStop()
{
    qint64 now = 1700000000;
    TCallDialog page;
    page.setClock([&now] { return now; });
    now += 30; // before the answer nothing counts
    QTest::qWait(1000);
    QCOMPARE(duration(page)->text(), QStringLiteral("00:00:00"));

    page.start();
    now += 5;
    QTRY_COMPARE_WITH_TIMEOUT(duration(page)->text(), QStringLiteral("00:00:05"), 3000);

    // A second start counts from the new moment.
    page.start();
    now += 2;
    QTRY_COMPARE_WITH_TIMEOUT(duration(page)->text(), QStringLiteral("00:00:02"), 3000);

    page.stop();
    QCOMPARE(duration(page)->text(), QStringLiteral("00:00:00"));
    now += 100;
    QTest::qWait(1000);
    QCOMPARE(duration(page)->text(), QStringLiteral("00:00:00"));
}

void TestCallDialog::clockSetBackShowsNoTime()
{
    qint64 now = 1700000000;
    TCallDialog page;
    page.setClock([&now] { return now; });
    page.start();
    now += 3;
    QTRY_COMPARE_WITH_TIMEOUT(duration(page)->text(), QStringLiteral("00:00:03"), 3000);
    now -= 3600; // the system clock was corrected during the call
    QTRY_COMPARE_WITH_TIMEOUT(duration(page)->text(), QStringLiteral("00:00:00"), 3000);
}

void TestCallDialog::keypadSendsEachButtonsCharacter()
{
    TCallDialog page;
    const QString order = QStringLiteral("1234567890*#");
    for (QChar key : order) {
        const auto buttons = page.findChildren<QPushButton *>();
        auto it = std::find_if(buttons.begin(), buttons.end(), [key](QPushButton *b) { return b->text() == QString(key); });
        QVERIFY(it != buttons.end());
        QTest::mouseClick(*it, Qt::LeftButton);
    }
    page.findChild<QPushButton *>(QStringLiteral("pbHangUp"))->click();

    std::string sent;
    for (const auto &call : EngineDouble::callsOf("iaxc_send_dtmf"))
        sent += call.args.at(0);
    QCOMPARE(QString::fromStdString(sent), order);
    // The keypad makes no other engine calls, and the hang-up button sends no tone.
    QCOMPARE(EngineDouble::calls().size(), std::size_t(12));
}

void TestCallDialog::hangUpResetsAndSignals()
{
    qint64 now = 1700000000;
    TCallDialog page;
    page.setClock([&now] { return now; });
    page.start();
    now += 7;
    QTRY_COMPARE_WITH_TIMEOUT(duration(page)->text(), QStringLiteral("00:00:07"), 3000);

    QSignalSpy hangUp(&page, &TCallDialog::hangUp);
    page.findChild<QPushButton *>(QStringLiteral("pbHangUp"))->click();
    QCOMPARE(hangUp.size(), 1);
    QCOMPARE(duration(page)->text(), QStringLiteral("00:00:00"));
    now += 10;
    QTest::qWait(1000);
    QCOMPARE(duration(page)->text(), QStringLiteral("00:00:00"));
}

void TestCallDialog::languageChangeKeepsNumberAndDuration()
{
    qint64 now = 1700000000;
    TCallDialog page;
    page.setClock([&now] { return now; });
    page.setNumber(QStringLiteral("+4412"));
    page.start();
    now += 4;
    QTRY_COMPARE_WITH_TIMEOUT(duration(page)->text(), QStringLiteral("00:00:04"), 3000);
    QEvent change(QEvent::LanguageChange);
    QCoreApplication::sendEvent(&page, &change);
    QCOMPARE(page.findChild<QLabel *>(QStringLiteral("lblNumber"))->text(), QStringLiteral("+4412"));
    QCOMPARE(duration(page)->text(), QStringLiteral("00:00:04"));
}

QTEST_MAIN(TestCallDialog)
#include "tst_calldialog.moc"
