#include "views/tcontactinfo.h"
#include "ui_tcontactinfo.h"

#include "views/tcontactphonewidget.h"

#include <QEvent>
#include <QMessageBox>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int MaxPhoneRows = 3;

} // namespace

TContactInfo::TContactInfo(QWidget *parent, bool edit)
    : QDialog(parent)
    , ui(new Ui::TContactInfo)
{
    ui->setupUi(this);
    editing = edit;
    if (edit)
        ui->lblFormTitle->setText(tr("Edit contact"));
    else
        on_pbAddPhone_clicked();
}

TContactInfo::~TContactInfo()
{
    delete ui;
}

void TContactInfo::setGroups(const QList<TContactGroup> &groupEntries)
{
    for (const TContactGroup &entry : groupEntries) {
        groups.append({entry.groupID, entry.groupName});
        ui->cbGroup->addItem(entry.groupName);
    }
}

void TContactInfo::setName(const QString &name)
{
    ui->leName->setText(name);
}

void TContactInfo::setTitle(const QString &title)
{
    ui->leTitle->setText(title);
}

void TContactInfo::setCompany(const QString &company)
{
    ui->leCompany->setText(company);
}

void TContactInfo::setGroup(const QString &text)
{
    ui->cbGroup->setCurrentIndex(ui->cbGroup->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

void TContactInfo::addPhone(int phoneID, const QString &countryCode, const QString &number, const QString &type)
{
    if (phoneWidgets.size() >= MaxPhoneRows) {
        if (phoneID != 0)
            unshownPhones.append({phoneID, countryCode, number, type, QString()});
        return;
    }
    auto *row = new TContactPhoneWidget;
    row->setPhoneID(phoneID);
    row->setCountryCode(countryCode);
    row->setNumber(number);
    row->setType(type);
    connect(row, &TContactPhoneWidget::deletePhone, this, &TContactInfo::onDeletePhone);
    phoneWidgets.append(row);
    givenPhones.insert(row, {phoneID, countryCode, number, type, QString()});
    // Above the trailing spacer, so rows stack from the top.
    auto *rows = static_cast<QVBoxLayout *>(ui->wPhones->layout());
    rows->insertWidget(rows->count() - 1, row);
    // The keyboard reaches the row where it is shown: after the rows above
    // it and before the button that adds one more.
    QWidget *previous = ui->leCompany;
    for (TContactPhoneWidget *above : std::as_const(phoneWidgets)) {
        // In the order the row's form makes them: left to right.
        for (QWidget *field : above->findChildren<QWidget *>()) {
            if ((field->focusPolicy() & Qt::TabFocus) && field->window() == window()) {
                QWidget::setTabOrder(previous, field);
                previous = field;
            }
        }
    }
    QWidget::setTabOrder(previous, ui->pbAddPhone);
}

void TContactInfo::on_pbAddPhone_clicked()
{
    addPhone(0, QString(), QString(), QStringLiteral("Home"));
}

void TContactInfo::onDeletePhone(QWidget *phoneWidget)
{
    if (phoneWidgets.size() == 1) {
        QMessageBox::critical(this, tr("Error"), tr("You must have at least one phone number."), QMessageBox::Ok);
        return;
    }
    const auto row = std::find(phoneWidgets.begin(), phoneWidgets.end(), phoneWidget);
    if (row == phoneWidgets.end())
        return;
    TContactPhoneWidget *removed = *row;
    phoneWidgets.erase(row);
    givenPhones.remove(removed);
    // Later: the row's own button click is still being delivered.
    removed->hide();
    removed->deleteLater();
}

void TContactInfo::on_pbSave_clicked()
{
    if (ui->leName->text().trimmed().isEmpty()) {
        QMessageBox::critical(this, tr("Error"), tr("You must enter a name."), QMessageBox::Ok);
        return;
    }

    TContact record;
    record.contactID = contactID_;
    record.name = ui->leName->text();
    record.title = ui->leTitle->text();
    record.company = ui->leCompany->text();
    const QString groupName = ui->cbGroup->currentText();
    for (const Group &group : std::as_const(groups)) {
        if (group.groupName == groupName) {
            record.groupID = group.groupID;
            break;
        }
    }

    for (TContactPhoneWidget *row : std::as_const(phoneWidgets)) {
        if (row->countryCode().trimmed().isEmpty() || row->number().trimmed().isEmpty()) {
            // A stored phone that came incomplete and was left so is still
            // the contact's: leaving it out would delete it at the service.
            const TContactPhone given = givenPhones.value(row);
            if (given.phoneID != 0 && row->countryCode() == given.countryCode && row->number() == given.number)
                record.phones.append(given);
            continue;
        }
        TContactPhone phone;
        phone.phoneID = row->phoneID();
        phone.countryCode = row->countryCode();
        phone.number = row->number();
        phone.type = row->type();
        record.phones.append(phone);
    }
    if (record.phones.isEmpty()) {
        QMessageBox::critical(this, tr("Error"), tr("You must enter a phone number."), QMessageBox::Ok);
        return;
    }
    record.phones.append(unshownPhones);

    contact_ = record;
    accept();
}

void TContactInfo::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        if (editing)
            ui->lblFormTitle->setText(tr("Edit contact"));
    }
}
