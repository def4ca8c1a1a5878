#include "views/thistoryitem.h"
#include "ui_thistoryitem.h"

#include "base/displaytext.h"
#include "base/tevent.h"

#include <QEvent>
#include <QDebug>

THistoryItem::THistoryItem(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::THistoryItem)
{
    ui->setupUi(this);
    ui->lblName->hide();
}

THistoryItem::~THistoryItem()
{
    delete ui;
}

void THistoryItem::setName(const QString &name)
{
    name_ = name;
    ui->lblName->setText(withoutDirectionControls(name));
    if (!name.trimmed().isEmpty())
        ui->lblName->show();
}

void THistoryItem::setPhone(const QString &phone)
{
    phone_ = phone;
    ui->lblPhone->setText(QLatin1Char('+') + phone);
}

void THistoryItem::setDuration(const QString &duration)
{
    duration_ = duration;
    ui->lblDuration->setText(duration);
}

void THistoryItem::on_pbCall_clicked()
{
    auto *event = new TNumberEvent(EVENT_CALL_NUMBER);
    event->wholePhone = callNumber_;
    qDebug() << callNumber_;
    postToMainWindow(event);
}

void THistoryItem::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
    }
}
