#pragma once

#include <QEvent>
#include <QString>

class QObject;

// Work that starts outside the main window (the telephony engine's thread,
// phone lines, call history entries) reaches it as these events.
class TEvent : public QEvent
{
public:
    // Every code travels in the first user event type.
    static constexpr QEvent::Type Type = QEvent::User;

    explicit TEvent(int code);

    int code;
};

// An event that carries a phone number.
class TNumberEvent : public TEvent
{
public:
    explicit TNumberEvent(int code);

    QString countryCode;
    QString number;
    QString wholePhone;
};

// Call state reported by the engine.
constexpr int EVENT_CALL_RINGING = 5001;
constexpr int EVENT_CALL_ANSWERED = 5002;
constexpr int EVENT_CALL_ENDED = 5003;
// Requests from the phonebook and the call history.
constexpr int EVENT_CALL_NUMBER = 6001;
constexpr int EVENT_TEXT_NUMBER = 6002;

// The object that posted events are handed to: the current main window, or
// null while none exists (during a logout). Read and written on the GUI
// thread only. The main window's own header offers it typed, as mainWindow().
QObject *eventReceiver();
void setEventReceiver(QObject *receiver);

// Posts an event for the current main window; callable from any thread, and
// takes ownership of the event. The event goes to a relay that lives as long
// as the process, which hands it on the GUI thread to whichever main window
// exists when it is delivered. An event that finds no window is dropped, so
// nothing ever reaches a destroyed window.
void postToMainWindow(QEvent *event);

// From now on postToMainWindow() drops every event: the application is going
// away, and nothing may reach objects that are being destroyed.
void stopPostingEvents();
