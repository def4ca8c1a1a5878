#include "views/tcontactphonewidget.h"
#include "ui_tcontactphonewidget.h"

#include <QEvent>
#include <QRegularExpressionValidator>

#include <iterator>

namespace {

// The phone types the service knows, as it writes them.
const char *const phoneTypes[] = {
    QT_TRANSLATE_NOOP("TContactPhoneWidget", "Home"),
    QT_TRANSLATE_NOOP("TContactPhoneWidget", "Work"),
    QT_TRANSLATE_NOOP("TContactPhoneWidget", "Mobile"),
    QT_TRANSLATE_NOOP("TContactPhoneWidget", "Home Fax"),
    QT_TRANSLATE_NOOP("TContactPhoneWidget", "Work Fax"),
    QT_TRANSLATE_NOOP("TContactPhoneWidget", "Page"),
    QT_TRANSLATE_NOOP("TContactPhoneWidget", "Other"),
};

} // namespace

TContactPhoneWidget::TContactPhoneWidget(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::TContactPhoneWidget)
{
    ui->setupUi(this);
    for (const char *type : phoneTypes)
        ui->cbType->addItem(QString(), QString::fromLatin1(type));
    translateTypes();
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
    int index = ui->cbType->findData(type, Qt::UserRole, Qt::MatchExactly | Qt::MatchCaseSensitive);
    // A type the service knows but the list lacks is offered on this row,
    // so that an edit shows it and sends it back rather than an empty one.
    if (index < 0 && !type.isEmpty()) {
        ui->cbType->addItem(type, type);
        index = ui->cbType->count() - 1;
    }
    ui->cbType->setCurrentIndex(index);
}

QString TContactPhoneWidget::type() const
{
    return ui->cbType->currentIndex() < 0 ? QString() : ui->cbType->currentData().toString();
}

void TContactPhoneWidget::translateTypes()
{
    // The service's own types beyond the list stay as the service wrote them.
    for (int i = 0; i < int(std::size(phoneTypes)) && i < ui->cbType->count(); ++i)
        ui->cbType->setItemText(i, tr(phoneTypes[i]));
}

void TContactPhoneWidget::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        translateTypes();
    }
}

void TContactPhoneWidget::on_pbDelete_clicked()
{
    emit deletePhone(this);
}
