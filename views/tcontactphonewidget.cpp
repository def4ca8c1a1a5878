#include "views/tcontactphonewidget.h"
#include "ui_tcontactphonewidget.h"

#include <QRegularExpressionValidator>

TContactPhoneWidget::TContactPhoneWidget(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::TContactPhoneWidget)
{
    ui->setupUi(this);
    ui->cbType->setCurrentIndex(0);
    // Digits only, as many as an international number can have.
    const QRegularExpression digits(QStringLiteral("[0-9]\\d{0,25}"));
    ui->leCountryCode->setValidator(new QRegularExpressionValidator(digits, ui->leCountryCode));
    ui->lePhoneNumber->setValidator(new QRegularExpressionValidator(digits, ui->lePhoneNumber));
}

TContactPhoneWidget::~TContactPhoneWidget()
{
    delete ui;
}

void TContactPhoneWidget::setCountryCode(const QString &countryCode)
{
    ui->leCountryCode->setText(countryCode);
}

QString TContactPhoneWidget::countryCode() const
{
    return ui->leCountryCode->text();
}

void TContactPhoneWidget::setNumber(const QString &number)
{
    ui->lePhoneNumber->setText(number);
}

QString TContactPhoneWidget::number() const
{
    return ui->lePhoneNumber->text();
}

void TContactPhoneWidget::setType(const QString &type)
{
    int index = ui->cbType->findText(type, Qt::MatchExactly | Qt::MatchCaseSensitive);
    // A type the service knows but the list lacks is offered on this row,
    // so that an edit shows it and sends it back rather than an empty one.
    if (index < 0 && !type.isEmpty()) {
        ui->cbType->addItem(type);
        index = ui->cbType->count() - 1;
    }
    ui->cbType->setCurrentIndex(index);
}

QString TContactPhoneWidget::type() const
{
    return ui->cbType->currentIndex() < 0 ? QString() : ui->cbType->currentText();
}

void TContactPhoneWidget::on_pbDelete_clicked()
{
    emit deletePhone(this);
}
