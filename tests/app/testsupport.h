#pragma once

#include <QPointer>
#include <QString>
#include <QTimer>
#include <QTemporaryDir>
#include <functional>

class QByteArray;
class QColor;
class QSize;
class QWidget;

// A PNG picture of one colour, as the service sends a contact's photo.
QByteArray pngOf(QSize size, QColor colour);

// Runs action on the next modal widget that opens (a message box, a dialog)
// and returns at once; the action runs from the event loop.
QPointer<QTimer> onNextModal(std::function<void(QWidget *)> action, int timeoutMs = 5000);

// Closes the next message box that opens and hands back its text.
void closeNextMessageBox(QString *text);

// A private settings folder for one test, so tests never share or touch the
// real settings file.
class SettingsSandbox
{
public:
    SettingsSandbox();
    ~SettingsSandbox();
    QString filePath() const;
    void storeLogin(const QString &email, const QByteArray &digest);

private:
    QTemporaryDir dir;
};

class HttpResponder;

// A web service on loopback that accepts the demo login, and a private
// settings folder that remembers it: a main window made now logs in by
// itself, as at a restart.
class LoginService
{
public:
    LoginService();
    ~LoginService();

    HttpResponder *responder;
    SettingsSandbox sandbox;
};
