#include "testsupport.h"

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QSize>

#include "views/tlogin.h"
#include "base/settings.h"
#include "httpresponder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QSettings>
#include <QTimer>

QPointer<QTimer> onNextModal(std::function<void(QWidget *)> action, int timeoutMs)
{
    auto *poll = new QTimer;
    QElapsedTimer clock;
    clock.start();
    QWidget *before = QApplication::activeModalWidget();
    QObject::connect(poll, &QTimer::timeout, poll, [poll, clock, action, before, timeoutMs] {
        QWidget *modal = QApplication::activeModalWidget();
        if ((modal && modal != before) || clock.elapsed() > timeoutMs) {
            poll->stop();
            poll->deleteLater();
            if (modal && modal != before)
                action(modal);
        }
    });
    poll->start(10);
    return poll;
}

void closeNextMessageBox(QString *text)
{
    auto *poll = new QTimer;
    auto *clock = new QElapsedTimer;
    clock->start();
    QObject::connect(poll, &QTimer::timeout, [poll, clock, text] {
        QMessageBox *box = nullptr;
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *candidate = qobject_cast<QMessageBox *>(widget); candidate && candidate->isVisible())
                box = candidate;
        if (!box && clock->elapsed() < 10000)
            return;
        poll->stop();
        poll->deleteLater();
        delete clock;
        if (box) {
            if (text)
                *text = box->text();
            box->done(QMessageBox::Ok);
        }
    });
    poll->start(10);
}

SettingsSandbox::SettingsSandbox()
{
    qputenv("ONDAVOX_SETTINGS_DIR", dir.path().toLocal8Bit());
}

SettingsSandbox::~SettingsSandbox()
{
    qunsetenv("ONDAVOX_SETTINGS_DIR");
}

QString SettingsSandbox::filePath() const
{
    return Settings::filePath();
}

void SettingsSandbox::storeLogin(const QString &email, const QByteArray &digest)
{
    auto settings = Settings::open();
    settings->setValue(QLatin1String(Settings::LoginEmail), email);
    settings->setValue(QLatin1String(Settings::LoginPassword), digest);
    Settings::sync(*settings);
}

LoginService::LoginService()
    : responder(new HttpResponder)
{
    responder->setReply("/Webservices/login.php", R"({"Username":"1000","Password":"pw","Key":"k1"})");
    responder->setReply("/update.php", "false");
    qputenv("ONDAVOX_WEB_BASE", responder->baseUrl().toUtf8());
    sandbox.storeLogin(QStringLiteral("demo@ondavox.com"), passwordDigest(QStringLiteral("ondavox-demo")));
}

LoginService::~LoginService()
{
    qunsetenv("ONDAVOX_WEB_BASE");
    delete responder;
}

QByteArray pngOf(QSize size, QColor colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}
