#include "views/tphonewidget.h"
#include "ui_tphonewidget.h"

#include "base/tevent.h"

#include <QEvent>
TPhoneWidget::TPhoneWidget(QWidget *parent)
    : QWidget(parent)
{
}

void TPhoneWidget::ensureForm()
{
    if (ui)
        return;
    ui = new Ui::TPhoneWidget;
    ui->setupUi(this);
    showNumber();
    ui->lblPhoneType->setText(type_);
}

void TPhoneWidget::showEvent(QShowEvent *event)
{
    ensureForm();
    QWidget::showEvent(event);
}

TPhoneWidget::~TPhoneWidget()
{
    delete ui;
}

void TPhoneWidget::setCountryCode(const QString &countryCode)
{
    countryCode_ = countryCode;
    showNumber();
}

void TPhoneWidget::setNumber(const QString &number)
{
    number_ = number;
    showNumber();
}

void TPhoneWidget::setType(const QString &type)
{
    type_ = type;
    if (ui)
        ui->lblPhoneType->setText(type);
}

void TPhoneWidget::showNumber()
{
    if (!ui)
        return;
    const QString shown = QLatin1Char('+') + countryCode_ + QLatin1Char(' ') + number_;
    ui->lblPhone->setText(shown);
    // Which number the buttons act on, for those who cannot see the line.
    ui->pbCall->setAccessibleDescription(tr("Call %1").arg(shown));
    ui->pbText->setAccessibleDescription(tr("Send a text to %1").arg(shown));
}

void TPhoneWidget::post(int code) const
{
    auto *event = new TNumberEvent(code);
    event->countryCode = countryCode_;
    event->number = number_;
    event->wholePhone = wholePhone_;
    postToMainWindow(event);
}

void TPhoneWidget::on_pbText_clicked()
{
    post(EVENT_TEXT_NUMBER);
}

void TPhoneWidget::on_pbCall_clicked()
{
    post(EVENT_CALL_NUMBER);
}

void TPhoneWidget::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
    }
}
