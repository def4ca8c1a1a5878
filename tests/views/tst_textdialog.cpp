// The text-message dialog: its form, the 140-character limit and the checks
// before it hands a message on.
#include "views/ttextdialog.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

class TestTextDialog : public QObject
{
    Q_OBJECT

private slots:
    void formIsAsDesigned();
    void limitKeepsTheFirst140Characters_data();
    void limitKeepsTheFirst140Characters();
    void pastedTextIsCutWithCursorAtEnd();
    void sendNeedsAllThreeFields_data();
    void sendNeedsAllThreeFields();
    void sendPassesTextsUntrimmed();
    void cancelAndCloseSendNothing();
};

void TestTextDialog::formIsAsDesigned()
{
    TTextDialog dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("TTextDialog"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Send Text Message"));
    QCOMPARE(dialog.minimumSize(), QSize(390, 380));
    QCOMPARE(dialog.maximumSize(), QSize(390, 380));
    QCOMPARE(dialog.findChild<QWidget *>("widget_3")->property("class").toString(), QStringLiteral("header"));
    QCOMPARE(dialog.findChild<QLabel *>("label")->text(), QStringLiteral("Send a text message"));
    QCOMPARE(dialog.findChild<QLabel *>("label_3")->text(), QStringLiteral("Country"));
    QCOMPARE(dialog.findChild<QLabel *>("label_4")->text(), QStringLiteral("Area Code and Number"));
    QCOMPARE(dialog.findChild<QLabel *>("label_4")->styleSheet(), QStringLiteral("font-size: 10px;"));
    QCOMPARE(dialog.findChild<QLineEdit *>("leCountryCode")->maximumWidth(), 50);
    QVERIFY(!dialog.findChild<QLineEdit *>("leNumber")->validator());
    QVERIFY(dialog.findChild<QPlainTextEdit *>("pteText")->tabChangesFocus());
    for (const char *name : {"pbCancel", "pbSend"}) {
        auto *button = dialog.findChild<QPushButton *>(name);
        QVERIFY(button->isFlat());
        QVERIFY(button->text().isEmpty());
        QCOMPARE(button->maximumSize(), QSize(32, 32));
        QVERIFY(!button->icon().isNull());
    }
    // Tab order: country code, number, text, cancel, send.
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    dialog.findChild<QLineEdit *>("leCountryCode")->setFocus();
    QStringList order;
    for (int i = 0; i < 5; ++i) {
        order << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QCOMPARE(order, (QStringList{"leCountryCode", "leNumber", "pteText", "pbCancel", "pbSend"}));
}

void TestTextDialog::limitKeepsTheFirst140Characters_data()
{
    const QString face = QString::fromUtf8("\xF0\x9F\x98\x80"); // one character, two UTF-16 code units
    const QString accented = QStringLiteral("e\u0301");          // e and a combining accent: one character
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("kept");
    QTest::newRow("200 letters") << QString(200, 'a') << QString(140, 'a');
    QTest::newRow("exactly 140") << QString(140, 'b') << QString(140, 'b');
    QTest::newRow("138 letters and an emoji") << QString(138, 'c') + face << QString(138, 'c') + face;
    QTest::newRow("140 letters and an emoji") << QString(140, 'c') + face << QString(140, 'c');
    // An emoji would straddle the limit: it goes whole, never half of it.
    QTest::newRow("139 letters and an emoji") << QString(139, 'c') + face << QString(139, 'c');
    QTest::newRow("150 emoji: 140 code units") << face.repeated(150) << face.repeated(70);
    QTest::newRow("a letter and 150 emoji") << QString(1, 'e') + face.repeated(150) << QString(1, 'e') + face.repeated(69);
    QTest::newRow("138 letters, then accented e") << QString(138, 'd') + accented + "xyz"
                                                  << QString(138, 'd') + accented;
    QTest::newRow("lines") << QString("ab\n").repeated(60) << QString("ab\n").repeated(46) + "ab";
}

void TestTextDialog::limitKeepsTheFirst140Characters()
{
    QFETCH(QString, text);
    QFETCH(QString, kept);
    TTextDialog dialog;
    auto *editor = dialog.findChild<QPlainTextEdit *>("pteText");
    editor->setPlainText(text);
    QCOMPARE(editor->toPlainText(), kept);
    // No half of a surrogate pair is ever left behind.
    const QString result = editor->toPlainText();
    QVERIFY(result.isEmpty() || !result.back().isHighSurrogate());
}

void TestTextDialog::pastedTextIsCutWithCursorAtEnd()
{
    TTextDialog dialog;
    dialog.show();
    auto *editor = dialog.findChild<QPlainTextEdit *>("pteText");
    editor->setFocus();
    QTest::keyClicks(editor, QStringLiteral("hi "));
    QApplication::clipboard()->setText(QString(200, 'x'));
    editor->paste();
    QCOMPARE(editor->toPlainText(), QStringLiteral("hi ") + QString(137, 'x'));
    QCOMPARE(editor->textCursor().position(), 140);
    // Typing at the limit changes nothing.
    QTest::keyClicks(editor, QStringLiteral("z"));
    QCOMPARE(editor->toPlainText().size(), 140);
    QVERIFY(!editor->toPlainText().contains('z'));
}

void TestTextDialog::sendNeedsAllThreeFields_data()
{
    QTest::addColumn<QString>("country");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("text");
    QTest::newRow("blank country code") << "   " << "5550100" << "hello";
    QTest::newRow("no number") << "1" << "" << "hello";
    QTest::newRow("blank text") << "1" << "5550100" << " \n\t\n ";
}

void TestTextDialog::sendNeedsAllThreeFields()
{
    QFETCH(QString, country);
    QFETCH(QString, number);
    QFETCH(QString, text);
    TTextDialog dialog;
    QSignalSpy sent(&dialog, &TTextDialog::sendText);
    dialog.show();
    dialog.setCountryCode(country);
    dialog.setNumber(number);
    dialog.findChild<QPlainTextEdit *>("pteText")->setPlainText(text);
    dialog.findChild<QPushButton *>("pbSend")->click();
    QCOMPARE(sent.size(), 0);
    QVERIFY(dialog.isVisible());
}

void TestTextDialog::sendPassesTextsUntrimmed()
{
    TTextDialog dialog;
    QSignalSpy sent(&dialog, &TTextDialog::sendText);
    dialog.show();
    dialog.setCountryCode(QStringLiteral("+44 "));
    dialog.setNumber(QStringLiteral(" 2079460000"));
    dialog.findChild<QPlainTextEdit *>("pteText")->setPlainText(QStringLiteral(" Tea at 5? \n"));
    dialog.findChild<QPushButton *>("pbSend")->click();
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.at(0).at(0).toString(), QStringLiteral("+44 "));
    QCOMPARE(sent.at(0).at(1).toString(), QStringLiteral(" 2079460000"));
    QCOMPARE(sent.at(0).at(2).toString(), QStringLiteral(" Tea at 5? \n"));
    QVERIFY(!dialog.isVisible());

    // Opening again starts from empty fields.
    dialog.clearText();
    dialog.setCountryCode(QString());
    dialog.setNumber(QString());
    QVERIFY(dialog.findChild<QPlainTextEdit *>("pteText")->toPlainText().isEmpty());
    QVERIFY(dialog.findChild<QLineEdit *>("leCountryCode")->text().isEmpty());
}

void TestTextDialog::cancelAndCloseSendNothing()
{
    TTextDialog dialog;
    QSignalSpy sent(&dialog, &TTextDialog::sendText);
    QSignalSpy back(&dialog, &TTextDialog::goBack);
    dialog.setCountryCode("1");
    dialog.setNumber("2");
    dialog.findChild<QPlainTextEdit *>("pteText")->setPlainText("text");
    dialog.show();
    dialog.findChild<QPushButton *>("pbCancel")->click();
    QVERIFY(!dialog.isVisible());
    dialog.show();
    dialog.close();
    QCOMPARE(sent.size(), 0);
    QCOMPARE(back.size(), 0);
}

QTEST_MAIN(TestTextDialog)
#include "tst_textdialog.moc"
