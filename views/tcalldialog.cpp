#include "views/tcalldialog.h"
#include "ui_tcalldialog.h"

#include "telephony/telephony.h"

#include <QDateTime>
#include <QEvent>
#include <QPushButton>
#include <QTimer>

TCallDialog::TCallDialog(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::TCallDialog)
    , durationTimer(new QTimer)
    , clock([] { return QDateTime::currentSecsSinceEpoch(); })
{
    ui->setupUi(this);
    connect(durationTimer, &QTimer::timeout, this, &TCallDialog::onCallDurationTimeout);

    // Every keypad button sends its own digit; the hang-up button is not one.
    const auto buttons = findChildren<QPushButton *>();
    for (QPushButton *button : buttons) {
        if (button->property("class").toString() == QLatin1String("dtmf-button"))
            connect(button, &QPushButton::clicked, this, &TCallDialog::onDTFMButton);
    }
}

TCallDialog::~TCallDialog()
{
    delete durationTimer;
    delete ui;
}

void TCallDialog::start()
{
    startTime = static_cast<quint32>(clock());
    // Shorter than a second so that the display never skips one.
    durationTimer->start(900);
}

void TCallDialog::stop()
{
    durationTimer->stop();
    ui->leCallDuration->setText(QStringLiteral("00:00:00"));
}

void TCallDialog::setNumber(const QString &number)
{
    ui->lblNumber->setText(number);
}

void TCallDialog::setClock(Clock newClock)
{
    clock = std::move(newClock);
}

void TCallDialog::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}

void TCallDialog::on_pbHangUp_clicked()
{
    stop();
    emit hangUp();
}

void TCallDialog::onDTFMButton()
{
    auto *button = qobject_cast<QPushButton *>(sender());
    if (!button)
        return;
    const QString text = button->text();
    const char digit = text.isEmpty() ? '\0' : text.at(0).toLatin1();
    sendDtmf(digit);
}

void TCallDialog::onCallDurationTimeout()
{
    const quint32 now = static_cast<quint32>(clock());
    // A clock set back during the call would otherwise wrap round to a
    // duration of more than a century.
    const qint32 difference = static_cast<qint32>(now - startTime);
    const quint32 elapsed = difference > 0 ? static_cast<quint32>(difference) : 0;
    ui->leCallDuration->setText(QString::asprintf("%02u:%02u:%02u", elapsed / 3600, (elapsed % 3600) / 60, elapsed % 60));
}
