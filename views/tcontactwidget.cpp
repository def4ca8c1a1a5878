#include "views/tcontactwidget.h"
#include "ui_tcontactwidget.h"

#include "base/displaytext.h"
#include "views/tphonewidget.h"

#include <QEvent>
#include <QDebug>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int CollapsedHeight = 40;
constexpr int PhoneLineHeight = 30;

} // namespace

TContactWidget::TContactWidget(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::TContactWidget)
{
    ui->setupUi(this);
    auto *lines = new QVBoxLayout(ui->wPhones);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->setSpacing(2);
    addAction(ui->actionEdit_Contact);
    addAction(ui->actionDelete_Contact);
    setExpanded(false);
}

TContactWidget::~TContactWidget()
{
    delete ui;
}

void TContactWidget::setPhoto(const QPixmap &photo)
{
    ui->lblPicture->setPixmap(photo);
}

void TContactWidget::setName(const QString &name)
{
    name_ = name;
    ui->lblName->setText(withoutDirectionControls(name));
}

void TContactWidget::addPhone(TPhoneWidget *line)
{
    phones.append(line);
    ui->wPhones->layout()->addWidget(line);
}

void TContactWidget::setExpanded(bool expanded)
{
    if (expanded) {
        const int extra = (phoneCount() - 1) * PhoneLineHeight;
        setMinimumSize(minimumWidth_, minimumExpandedHeight + extra);
        setMaximumSize(maximumWidth_, maximumExpandedHeight + extra);
        ui->lblPicture->setFixedSize(50, 50);
        ui->lblPicture->setScaledContents(false);
        for (TPhoneWidget *line : std::as_const(phones))
            line->ensureForm();
        ui->wPhones->show();
    } else {
        setMinimumSize(minimumWidth_, CollapsedHeight);
        setMaximumSize(maximumWidth_, CollapsedHeight);
        ui->lblPicture->setFixedSize(28, 28);
        ui->lblPicture->setScaledContents(true);
        ui->wPhones->hide();
    }
}

void TContactWidget::on_actionDelete_Contact_triggered()
{
    // Asked once the context menu has closed: the menu belongs to this
    // entry, and a phonebook refresh during the question may release the
    // entry, which must then not take a running menu with it.
    QTimer::singleShot(0, this, &TContactWidget::confirmDeletion);
}

void TContactWidget::confirmDeletion()
{
    const QPointer<TContactWidget> self(this);
    const bool confirmed = confirmRemoval();
    if (!self || !confirmed)
        return;
    emit deleteContact(contactID_);
}

bool TContactWidget::confirmRemoval()
{
    return QMessageBox::question(nullptr, tr("Remove"), tr("Are you sure you want to remove this contact?"),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        != QMessageBox::No;
}

void TContactWidget::on_actionEdit_Contact_triggered()
{
    TContact contact;
    contact.contactID = contactID_;
    contact.groupID = groupID_;
    contact.name = name_;
    contact.title = title_;
    contact.company = company_;
    qDebug() << "contact id:" << contactID_;
    for (const TPhoneWidget *line : std::as_const(phones)) {
        TContactPhone phone;
        phone.phoneID = line->phoneID();
        phone.countryCode = line->countryCode();
        phone.number = line->number();
        phone.type = line->type();
        qDebug() << "phone id: " << phone.phoneID;
        contact.phones.append(phone);
    }
    emit editContact(contact);
}

void TContactWidget::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
    }
}
