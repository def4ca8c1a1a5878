// The contact editor and its phone rows: the form, the checks on Save, the
// three-row limit and the record it hands back.
#include "base/tcontact.h"
#include "testsupport.h"
#include "views/tcontactinfo.h"
#include "views/tcontactphonewidget.h"
#include "views/tgroupwidget.h"

#include <QApplication>
#include <QComboBox>
#include <QTimer>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <memory>

namespace {

// Groups as the phonebook download lists them.
struct Groups {
    QList<TContactGroup> entries;
    void add(const QString &id, const QString &name) { entries.append({id, name, {}}); }
};

QList<TContactPhoneWidget *> rows(const TContactInfo &editor)
{
    // In layout order, top to bottom, as shown.
    QList<TContactPhoneWidget *> shown;
    auto *layout = editor.findChild<QWidget *>("wPhones")->layout();
    for (int i = 0; i < layout->count(); ++i)
        if (auto *row = qobject_cast<TContactPhoneWidget *>(layout->itemAt(i)->widget()); row && !row->isHidden())
            shown.append(row);
    return shown;
}

// Presses Save and returns the text of the message box it opened, if any.
QString save(TContactInfo &editor)
{
    QString message;
    // Watches for the box only while Save runs; it goes with the editor.
    QTimer watch(&editor);
    QObject::connect(&watch, &QTimer::timeout, [&message] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            message = box->text();
            box->done(QMessageBox::Ok);
        }
    });
    watch.start(10);
    editor.findChild<QPushButton *>("pbSave")->click();
    return message;
}

} // namespace

class TestContactEditor : public QObject
{
    Q_OBJECT

private slots:
    void formIsAsDesigned();
    void phoneRowForm();
    void phoneRowsAcceptOnlyDigits_data();
    void phoneRowsAcceptOnlyDigits();
    void addModeStartsWithOneHomeRow();
    void atMostThreeRows();
    void deletingRows();
    void saveChecksNameThenPhones();
    void saveBuildsTheRecord();
    void groupBox();
    void editModeLoadsARecord();
    void tabWalksTheFormAsShown();
};

void TestContactEditor::formIsAsDesigned()
{
    TContactInfo editor(nullptr, false);
    QCOMPARE(editor.objectName(), QStringLiteral("TContactInfo"));
    QCOMPARE(editor.windowTitle(), QStringLiteral("Contact Info"));
    QCOMPARE(editor.minimumSize(), QSize(450, 450));
    QCOMPARE(editor.maximumSize(), QSize(450, 450));
    QCOMPARE(editor.findChild<QWidget *>("widget_4")->property("class").toString(), QStringLiteral("header"));
    QCOMPARE(editor.findChild<QLabel *>("lblFormTitle")->text(), QStringLiteral("Add contact"));
    const QStringList labels{"label_5", "label", "label_2", "label_3", "label_4"};
    const QStringList texts{"Group:", "Title:", "Name:", "Company:", "Phone:"};
    for (int i = 0; i < labels.size(); ++i) {
        auto *label = editor.findChild<QLabel *>(labels.at(i));
        QCOMPARE(label->text(), texts.at(i));
        QVERIFY(label->font().bold());
    }
    auto *add = editor.findChild<QPushButton *>("pbAddPhone");
    QCOMPARE(add->minimumSize(), QSize(24, 24));
    QCOMPARE(add->maximumSize(), QSize(24, 24));
    // Reached with Tab, but a click leaves the focus where it was.
    QCOMPARE(add->focusPolicy(), Qt::TabFocus);
    QCOMPARE(add->iconSize(), QSize(22, 22));
    QVERIFY(add->isFlat());
    QVERIFY(!add->autoDefault());
    auto *saveButton = editor.findChild<QPushButton *>("pbSave");
    auto *cancel = editor.findChild<QPushButton *>("pbCancel");
    QCOMPARE(saveButton->text(), QStringLiteral("Save"));
    QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
    QVERIFY(saveButton->isDefault());
    QCOMPARE(saveButton->focusPolicy(), Qt::TabFocus);
    QCOMPARE(cancel->focusPolicy(), Qt::TabFocus);
    QCOMPARE(editor.findChild<QWidget *>("widget_2")->maximumHeight(), 40);

    cancel->click();
    QCOMPARE(editor.result(), int(QDialog::Rejected));
    QVERIFY(editor.contact().name.isEmpty());
}

void TestContactEditor::phoneRowForm()
{
    TContactPhoneWidget row;
    QCOMPARE(row.objectName(), QStringLiteral("TContactPhoneWidget"));
    auto *types = row.findChild<QComboBox *>("cbType");
    QStringList items;
    for (int i = 0; i < types->count(); ++i)
        items << types->itemText(i);
    QCOMPARE(items, (QStringList{"Home", "Work", "Mobile", "Home Fax", "Work Fax", "Page", "Other"}));
    QCOMPARE(row.type(), QStringLiteral("Home"));
    auto *country = row.findChild<QLineEdit *>("leCountryCode");
    QCOMPARE(country->minimumWidth(), 45);
    QCOMPARE(country->maximumWidth(), 45);
    QCOMPARE(row.findChild<QLabel *>("label")->styleSheet(), QStringLiteral("font-size: 10px;"));
    auto *remove = row.findChild<QPushButton *>("pbDelete");
    QCOMPARE(remove->minimumSize(), QSize(22, 22));
    QCOMPARE(remove->maximumSize(), QSize(22, 22));

    row.setType(QStringLiteral("Work Fax"));
    QCOMPARE(row.type(), QStringLiteral("Work Fax"));
    // A type outside the list is offered on the row, so it is kept.
    row.setType(QStringLiteral("work fax"));
    QCOMPARE(types->count(), 8);
    QCOMPARE(row.type(), QStringLiteral("work fax"));
    row.setType(QString());
    QCOMPARE(types->currentIndex(), -1);
    QCOMPARE(row.type(), QString());
}

void TestContactEditor::phoneRowsAcceptOnlyDigits_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    QTest::newRow("digits") << "0044" << "0044";
    QTest::newRow("letters") << "12ab3" << "123";
    QTest::newRow("plus") << "+44" << "44";
    QTest::newRow("27 digits") << QString(27, '5') << QString(26, '5');
}

void TestContactEditor::phoneRowsAcceptOnlyDigits()
{
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    TContactPhoneWidget row;
    for (const char *name : {"leCountryCode", "lePhoneNumber"}) {
        auto *field = row.findChild<QLineEdit *>(name);
        QTest::keyClicks(field, typed);
        QCOMPARE(field->text(), kept);
    }
}

void TestContactEditor::addModeStartsWithOneHomeRow()
{
    TContactInfo editor(nullptr, false);
    QCOMPARE(rows(editor).size(), 1);
    QCOMPARE(rows(editor).at(0)->type(), QStringLiteral("Home"));
    QCOMPARE(rows(editor).at(0)->phoneID(), 0);
    QVERIFY(rows(editor).at(0)->countryCode().isEmpty());

    // Typing only a name is not enough.
    editor.setName(QStringLiteral("Alan"));
    QCOMPARE(save(editor), QStringLiteral("You must enter a phone number."));
    QVERIFY(editor.isVisible() || editor.result() != QDialog::Accepted);
}

void TestContactEditor::atMostThreeRows()
{
    TContactInfo editor(nullptr, false);
    auto *add = editor.findChild<QPushButton *>("pbAddPhone");
    add->click();
    add->click();
    QCOMPARE(rows(editor).size(), 3);
    add->click();
    editor.addPhone(5, "1", "2", "Work");
    QCOMPARE(rows(editor).size(), 3);

    rows(editor).at(1)->findChild<QPushButton *>("pbDelete")->click();
    QCOMPARE(editor.phoneRowCount(), 2);
    QCOMPARE(rows(editor).size(), 2);
    add->click();
    QCOMPARE(rows(editor).size(), 3);
}

void TestContactEditor::deletingRows()
{
    TContactInfo editor(nullptr, true);
    editor.addPhone(1, "44", "111", "Home");
    editor.addPhone(2, "44", "222", "Work");
    editor.addPhone(3, "44", "333", "Mobile");
    rows(editor).at(0)->findChild<QPushButton *>("pbDelete")->click();
    QCOMPARE(rows(editor).size(), 2);
    QCOMPARE(rows(editor).at(0)->number(), QStringLiteral("222"));
    QCOMPARE(rows(editor).at(1)->number(), QStringLiteral("333"));

    // A widget that is not a row of this editor is ignored.
    TContactPhoneWidget stranger;
    QMetaObject::invokeMethod(&editor, "onDeletePhone", Q_ARG(QWidget *, &stranger));
    QCOMPARE(rows(editor).size(), 2);

    rows(editor).at(0)->findChild<QPushButton *>("pbDelete")->click();
    QCOMPARE(rows(editor).size(), 1);
    QString message;
    closeNextMessageBox(&message);
    rows(editor).at(0)->findChild<QPushButton *>("pbDelete")->click();
    QTRY_COMPARE(message, QStringLiteral("You must have at least one phone number."));
    QCOMPARE(rows(editor).size(), 1);
    QCOMPARE(rows(editor).at(0)->number(), QStringLiteral("333"));
}

void TestContactEditor::saveChecksNameThenPhones()
{
    TContactInfo editor(nullptr, true);
    editor.setName(QStringLiteral(" \t "));
    editor.addPhone(0, "44", "", "Home");
    QCOMPARE(save(editor), QStringLiteral("You must enter a name."));
    editor.setName(QStringLiteral("Bob"));
    // Country code without a number, and the reverse, do not count.
    editor.addPhone(0, " ", "123", "Home");
    QCOMPARE(save(editor), QStringLiteral("You must enter a phone number."));
    QVERIFY(editor.contact().name.isEmpty());
    QCOMPARE(editor.result(), int(QDialog::Rejected));
}

void TestContactEditor::saveBuildsTheRecord()
{
    Groups groups;
    groups.add("3", "Work");
    TContactInfo editor(nullptr, true);
    editor.setGroups(groups.entries);
    editor.setContactID(31);
    editor.setName(QStringLiteral("  Ada  "));
    editor.setTitle(QStringLiteral(" Dr "));
    editor.setCompany(QStringLiteral("Engines & Co"));
    editor.addPhone(0, "44", "", "Home");       // dropped: new, no number
    editor.addPhone(8, "1", "5550100", "Page"); // kept
    editor.addPhone(0, "39", "06123", "Other"); // kept, new
    QCOMPARE(save(editor), QString());
    QCOMPARE(editor.result(), int(QDialog::Accepted));
    const TContact record = editor.contact();
    QCOMPARE(record.contactID, 31);
    QCOMPARE(record.groupID, QStringLiteral("3"));
    QCOMPARE(record.name, QStringLiteral("  Ada  "));
    QCOMPARE(record.title, QStringLiteral(" Dr "));
    QCOMPARE(record.company, QStringLiteral("Engines & Co"));
    QCOMPARE(record.phones.size(), 2);
    QCOMPARE(record.phones.at(0).phoneID, 8);
    QCOMPARE(record.phones.at(0).countryCode, QStringLiteral("1"));
    QCOMPARE(record.phones.at(0).number, QStringLiteral("5550100"));
    QCOMPARE(record.phones.at(0).type, QStringLiteral("Page"));
    QCOMPARE(record.phones.at(1).phoneID, 0);
    QCOMPARE(record.phones.at(1).type, QStringLiteral("Other"));
}

void TestContactEditor::groupBox()
{
    Groups groups;
    groups.add("1", "Family");
    groups.add("2", "Friends");
    groups.add("3", "Friends"); // same name: the first one's ID is taken
    {
        TContactInfo editor(nullptr, false);
        editor.setGroups(groups.entries);
        auto *box = editor.findChild<QComboBox *>("cbGroup");
        QCOMPARE(box->count(), 3);
        QCOMPARE(box->currentText(), QStringLiteral("Family"));
        QVERIFY(!box->itemData(0).isValid());
        editor.setGroup(QStringLiteral("Friends"));
        QCOMPARE(box->currentIndex(), 1);
        editor.setName("N");
        rows(editor).at(0)->setCountryCode("1");
        rows(editor).at(0)->setNumber("2");
        box->setCurrentIndex(2);
        QCOMPARE(save(editor), QString());
        QCOMPARE(editor.contact().groupID, QStringLiteral("2"));
    }
    {
        TContactInfo editor(nullptr, false);
        editor.setGroups(groups.entries);
        editor.setGroup(QStringLiteral("friends"));
        QCOMPARE(editor.findChild<QComboBox *>("cbGroup")->currentIndex(), -1);
        editor.setName("N");
        rows(editor).at(0)->setCountryCode("1");
        rows(editor).at(0)->setNumber("2");
        QCOMPARE(save(editor), QString());
        QVERIFY(editor.contact().groupID.isEmpty());
    }
    {
        // No groups at all.
        TContactInfo editor(nullptr, false);
        editor.setName("N");
        rows(editor).at(0)->setCountryCode("1");
        rows(editor).at(0)->setNumber("2");
        QCOMPARE(save(editor), QString());
        QVERIFY(editor.contact().groupID.isEmpty());
    }
    {
        // The group entries go (a phonebook refresh) while the editor is open.
        auto released = std::make_unique<Groups>();
        released->add("9", "Club");
        TContactInfo editor(nullptr, false);
        editor.setGroups(released->entries);
        released.reset();
        editor.setName("N");
        rows(editor).at(0)->setCountryCode("1");
        rows(editor).at(0)->setNumber("2");
        QCOMPARE(save(editor), QString());
        QCOMPARE(editor.contact().groupID, QStringLiteral("9"));
    }
}

void TestContactEditor::editModeLoadsARecord()
{
    TContactInfo editor(nullptr, true);
    QCOMPARE(editor.findChild<QLabel *>("lblFormTitle")->text(), QStringLiteral("Edit contact"));
    QCOMPARE(rows(editor).size(), 0);
    editor.setName(QStringLiteral("Lin"));
    for (int i = 1; i <= 5; ++i)
        editor.addPhone(i, i == 3 ? "" : "44", QString::number(i), i == 2 ? "Fax" : "Mobile");
    QCOMPARE(rows(editor).size(), 3);
    QCOMPARE(rows(editor).at(1)->type(), QStringLiteral("Fax"));
    QCOMPARE(save(editor), QString());
    // Nothing the user did not change is lost: the unusual type, the stored
    // phone that came without a country code, the phones not shown.
    const TContact record = editor.contact();
    QCOMPARE(record.phones.size(), 5);
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(record.phones.at(i).phoneID, i + 1);
        QCOMPARE(record.phones.at(i).number, QString::number(i + 1));
    }
    QCOMPARE(record.phones.at(1).type, QStringLiteral("Fax"));
    QCOMPARE(record.phones.at(2).countryCode, QString());
    QCOMPARE(record.phones.at(4).type, QStringLiteral("Mobile"));

    // A row the user empties is left out, as is an empty new row.
    rows(editor).at(2)->setNumber(QString());
    editor.addPhone(0, QString(), QString(), QStringLiteral("Home"));
    QCOMPARE(save(editor), QString());
    QCOMPARE(editor.contact().phones.size(), 4);
    QCOMPARE(editor.contact().phones.at(2).phoneID, 4);
}

QTEST_MAIN(TestContactEditor)
void TestContactEditor::tabWalksTheFormAsShown()
{
    // With the keyboard alone: every field and button in the order they are
    // shown, a phone row added later included, each with a name to read.
    TContactInfo editor(nullptr, false);
    editor.show();
    QVERIFY(QTest::qWaitForWindowActive(&editor));
    editor.findChild<QPushButton *>("pbAddPhone")->click();
    QCOMPARE(editor.phoneRowCount(), 2);
    // The layout shows the new row once the event loop runs.
    QTRY_VERIFY(editor.findChildren<TContactPhoneWidget *>().last()->isVisible());
    editor.findChild<QComboBox *>("cbGroup")->setFocus();
    QStringList walked;
    for (int i = 0; i < 15; ++i) {
        QWidget *focus = QApplication::focusWidget();
        QVERIFY(focus);
        walked << focus->accessibleName();
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    const QStringList row{"Country code", "Area code and number", "Phone type", "Remove phone"};
    const QStringList expected = QStringList{"Group", "Title", "Name", "Company"} + row + row
                                 + QStringList{"Add phone", "Cancel", "Save"};
    QCOMPARE(walked, expected);
}

#include "tst_contacteditor.moc"
