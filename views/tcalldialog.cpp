#include "views/tcalldialog.h"
#include "ui_tcalldialog.h"

#include "telephony/telephony.h"

#include <QDateTime>
#include <QEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>

namespace {

// The quality mark: four bars rising left to right, as many filled as the
// call deserves; blue while the call is fine, red once it is poor.
QPixmap barsPicture(int bars, qreal ratio)
{
    const QSize size(18, 16);
    QPixmap picture(size * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QColor filled = bars >= 3 ? QColor(0x2d, 0x6c, 0xc0) : QColor(0xdd, 0x3f, 0x3f);
    const QColor empty(0xc8, 0xcf, 0xd8);
    for (int i = 0; i < 4; ++i) {
        const qreal height = 4.0 + 4.0 * i;
        painter.setBrush(i < bars ? filled : empty);
        painter.drawRoundedRect(QRectF(1.0 + 4.5 * i, size.height() - height, 3.0, height), 1.0, 1.0);
    }
    return picture;
}

} // namespace

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

    // While the page is shown, wherever the focus is in its window.
    auto *muteKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_M), this);
    connect(muteKey, &QShortcut::activated, ui->pbMute, &QPushButton::click);
    auto *hangUpKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(hangUpKey, &QShortcut::activated, ui->pbHangUp, &QPushButton::click);

    // The marks come and go beside the duration without moving it.
    for (QWidget *mark : {static_cast<QWidget *>(ui->lblQuality), static_cast<QWidget *>(ui->lblEncryption)}) {
        QSizePolicy policy = mark->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        mark->setSizePolicy(policy);
        mark->hide();
    }
    showMuteState();
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
    quality.reset();
    showQuality();
    showEncryption();
}

void TCallDialog::stop()
{
    durationTimer->stop();
    ui->leCallDuration->setText(QStringLiteral("00:00:00"));
    quality.reset();
    showQuality();
    ui->lblEncryption->hide();
    // Every call starts with the microphone open.
    ui->pbMute->setChecked(false);
}

void TCallDialog::setNumber(const QString &number)
{
    ui->lblNumber->setText(number);
}

void TCallDialog::showStatistics(const CallStatistics &statistics)
{
    // Figures that were on their way when the call ended belong to no call.
    if (!durationTimer->isActive())
        return;
    quality.add(statistics);
    showQuality();
    showEncryption();
}

void TCallDialog::setClock(Clock newClock)
{
    clock = std::move(newClock);
}

void TCallDialog::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        showMuteState();
        if (ui->lblEncryption->isVisible())
            showEncryption();
        showQuality();
    }
}

void TCallDialog::keyPressEvent(QKeyEvent *event)
{
    // Typed tones go the keypad's way, so they look and sound the same.
    const QString typed = event->text();
    const bool plain = !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (plain && typed.size() == 1 && QStringLiteral("0123456789*#").contains(typed)) {
        const auto buttons = findChildren<QPushButton *>();
        for (QPushButton *button : buttons) {
            if (button->property("class").toString() == QLatin1String("dtmf-button") && button->text() == typed) {
                button->click();
                return;
            }
        }
    }
    QWidget::keyPressEvent(event);
}

void TCallDialog::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // The keys of the call reach the page at once, whatever had the focus
    // on the page before.
    QWidget *focused = focusWidget();
    if (!focused || !isAncestorOf(focused))
        setFocus(Qt::OtherFocusReason);
}

void TCallDialog::on_pbHangUp_clicked()
{
    stop();
    emit hangUp();
}

void TCallDialog::on_pbMute_toggled(bool muted)
{
    setMicrophoneMuted(muted);
    showMuteState();
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

void TCallDialog::showMuteState()
{
    // The button says what it will do.
    const QString action = ui->pbMute->isChecked() ? tr("Unmute") : tr("Mute");
    ui->pbMute->setToolTip(action);
    ui->pbMute->setAccessibleName(action);
}

void TCallDialog::showEncryption()
{
    const bool encrypted = callIsEncrypted();
    const QString words = encrypted ? tr("Encrypted call") : tr("Not encrypted");
    const QIcon icon(encrypted ? QStringLiteral(":/Images/Encrypted.png") : QStringLiteral(":/Images/NotEncrypted.png"));
    ui->lblEncryption->setPixmap(icon.pixmap(QSize(16, 16), devicePixelRatioF()));
    ui->lblEncryption->setToolTip(words);
    ui->lblEncryption->setAccessibleName(words);
    ui->lblEncryption->show();
}

void TCallDialog::showQuality()
{
    const std::optional<CallFigures> figures = quality.figures();
    if (!figures) {
        // Nothing measured yet: no mark rather than a guess.
        ui->lblQuality->hide();
        return;
    }
    const QString words = qualityDescription(*figures);
    ui->lblQuality->setPixmap(barsPicture(qualityBars(callRating(*figures)), devicePixelRatioF()));
    ui->lblQuality->setToolTip(words);
    ui->lblQuality->setAccessibleName(words);
    ui->lblQuality->show();
}
