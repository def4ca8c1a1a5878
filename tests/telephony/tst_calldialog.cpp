// The call page: its form, the duration read from the clock, the keypad,
// the mute switch, the quality and encryption marks, and the keyboard.
#include "engine_double.h"
#include "views/tcalldialog.h"

#include <QApplication>
#include <QEvent>
#include <QIcon>
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
    void microphoneIsTheMuteSwitch();
    void keyboardWorksTheCall();
    void marksShowWhatTheEngineSays();

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
    auto *mute = page.findChild<QPushButton *>(QStringLiteral("pbMute"));
    QVERIFY(mute->isCheckable() && !mute->isChecked());
    QVERIFY(!mute->icon().pixmap(QSize(96, 96), QIcon::Normal, QIcon::Off).isNull());
    QVERIFY(!mute->icon().pixmap(QSize(96, 96), QIcon::Normal, QIcon::On).isNull());
    QCOMPARE(duration(page)->text(), QStringLiteral("00:00:00"));
    QCOMPARE(page.findChild<QWidget *>(QStringLiteral("widget_3"))->minimumHeight(), 190);
    QCOMPARE(page.findChild<QWidget *>(QStringLiteral("widget_2"))->maximumSize(), QSize(180, 130));

    auto *hangUp = page.findChild<QPushButton *>(QStringLiteral("pbHangUp"));
    QVERIFY(hangUp->isFlat());
    QVERIFY(hangUp->text().isEmpty());
    QCOMPARE(hangUp->iconSize(), QSize(32, 32));
    QVERIFY(!hangUp->icon().isNull());
    QVERIFY(!hangUp->property("class").isValid());
    QCOMPARE(hangUp->accessibleName(), QStringLiteral("Hang up"));
    QCOMPARE(hangUp->toolTip(), QStringLiteral("Hang up"));

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
            QCOMPARE(button->accessibleName(), QString::fromLatin1(texts[row][column]));
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

void TestCallDialog::microphoneIsTheMuteSwitch()
{
    TCallDialog page;
    page.show();
    QApplication::setActiveWindow(&page);
    QVERIFY(QTest::qWaitForWindowActive(&page));
    auto *mute = page.findChild<QPushButton *>(QStringLiteral("pbMute"));
    const auto said = [mute] { return QStringList{mute->toolTip(), mute->accessibleName()}; };
    const auto sent = [] {
        QStringList values;
        for (const auto &call : EngineDouble::callsOf("iaxc_set_mute"))
            values << QString::fromStdString(call.args.at(0));
        return values;
    };
    QCOMPARE(said(), QStringList({QStringLiteral("Mute"), QStringLiteral("Mute")}));

    // A click, Space on the focused switch, Ctrl+M from anywhere on the page.
    QTest::mouseClick(mute, Qt::LeftButton);
    QVERIFY(mute->isChecked());
    QCOMPARE(said(), QStringList({QStringLiteral("Unmute"), QStringLiteral("Unmute")}));
    mute->setFocus();
    QTest::keyClick(mute, Qt::Key_Space);
    QVERIFY(!mute->isChecked());
    QCOMPARE(said(), QStringList({QStringLiteral("Mute"), QStringLiteral("Mute")}));
    auto *five = page.findChild<QPushButton *>(QStringLiteral("pushButton_5"));
    five->setFocus();
    QTest::keyClick(five, Qt::Key_M, Qt::ControlModifier);
    QVERIFY(mute->isChecked());
    QCOMPARE(sent(), QStringList({QStringLiteral("1"), QStringLiteral("0"), QStringLiteral("1")}));

    // The next call starts unmuted; an unmuted page tells the engine nothing.
    page.stop();
    QVERIFY(!mute->isChecked());
    QCOMPARE(said().first(), QStringLiteral("Mute"));
    page.stop();
    QCOMPARE(sent(), QStringList({QStringLiteral("1"), QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("0")}));
    QVERIFY(EngineDouble::callsOf("iaxc_send_dtmf").empty());
}

void TestCallDialog::keyboardWorksTheCall()
{
    qint64 now = 1700000000;
    TCallDialog page;
    page.setClock([&now] { return now; });
    page.show();
    QApplication::setActiveWindow(&page);
    QVERIFY(QTest::qWaitForWindowActive(&page));
    // Shown, the page has the keys, whatever had them before.
    QVERIFY(page.isAncestorOf(QApplication::focusWidget()) || QApplication::focusWidget() == &page);

    page.start();
    now += 9;
    QTRY_COMPARE_WITH_TIMEOUT(duration(page)->text(), QStringLiteral("00:00:09"), 3000);

    // Typed on the page, or on a focused keypad key: the same tones.
    QTest::keyClicks(&page, QStringLiteral("12*#"));
    auto *zero = page.findChild<QPushButton *>(QStringLiteral("pushButton_11"));
    zero->setFocus();
    QTest::keyClick(zero, Qt::Key_9);
    QTest::keyClick(&page, Qt::Key_7, Qt::KeypadModifier);
    // Letters and digits with Ctrl send nothing.
    QTest::keyClick(&page, Qt::Key_A);
    QTest::keyClick(&page, Qt::Key_3, Qt::ControlModifier);
    std::string tones;
    for (const auto &call : EngineDouble::callsOf("iaxc_send_dtmf"))
        tones += call.args.at(0);
    QCOMPARE(QString::fromStdString(tones), QStringLiteral("12*#97"));

    // Escape hangs up, as the button does.
    QSignalSpy hangUp(&page, &TCallDialog::hangUp);
    QTest::keyClick(zero, Qt::Key_Escape);
    QCOMPARE(hangUp.size(), 1);
    QCOMPARE(duration(page)->text(), QStringLiteral("00:00:00"));
}

void TestCallDialog::marksShowWhatTheEngineSays()
{
    TCallDialog page;
    page.show();
    auto *quality = page.findChild<QLabel *>(QStringLiteral("lblQuality"));
    auto *lock = page.findChild<QLabel *>(QStringLiteral("lblEncryption"));
    CallStatistics figures;
    figures.roundTripMs = 40;
    figures.received = {12, 0, 50, 60};

    // Before the answer nothing is known, and figures then belong to no call.
    page.showStatistics(figures);
    QVERIFY(!quality->isVisible());
    QVERIFY(!lock->isVisible());

    EngineDouble::setCallEncrypted(true);
    page.start();
    QVERIFY(lock->isVisible());
    QVERIFY(!lock->pixmap().isNull());
    QCOMPARE(lock->toolTip(), QStringLiteral("Encrypted call"));
    QCOMPARE(lock->accessibleName(), QStringLiteral("Encrypted call"));
    // No round trip measured yet: no mark rather than a guess.
    CallStatistics early = figures;
    early.roundTripMs = -1;
    page.showStatistics(early);
    QVERIFY(!quality->isVisible());

    page.showStatistics(figures);
    QVERIFY(quality->isVisible());
    QCOMPARE(quality->toolTip(), QStringLiteral("Good · loss 0 % · jitter 12 ms · round trip 40 ms"));
    QCOMPARE(quality->accessibleName(), quality->toolTip());
    const QImage good = quality->pixmap().toImage();

    // A second in which 20 of 50 frames are lost: a fifth of the call so far.
    figures.received.packets += 30;
    figures.received.lost += 20;
    page.showStatistics(figures);
    QVERIFY2(quality->toolTip().startsWith(QStringLiteral("Bad · loss 20 % ·")), qPrintable(quality->toolTip()));
    QVERIFY(quality->pixmap().toImage() != good);

    page.stop();
    QVERIFY(!quality->isVisible());
    QVERIFY(!lock->isVisible());

    // The next call in the clear.
    EngineDouble::setCallEncrypted(false);
    page.start();
    QCOMPARE(lock->toolTip(), QStringLiteral("Not encrypted"));
    QCOMPARE(lock->accessibleName(), QStringLiteral("Not encrypted"));
    QVERIFY(!quality->isVisible());
}

QTEST_MAIN(TestCallDialog)
#include "tst_calldialog.moc"
