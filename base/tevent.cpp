#include "base/tevent.h"

#include <QCoreApplication>
#include <QPointer>

#include <atomic>

TEvent::TEvent(int code)
    : QEvent(Type)
    , code(code)
{
}

TNumberEvent::TNumberEvent(int code)
    : TEvent(code)
{
}

namespace {

QPointer<QObject> currentReceiver;
std::atomic<bool> postingStopped{false};

class EventRelay : public QObject
{
protected:
    void customEvent(QEvent *event) override
    {
        if (QObject *receiver = currentReceiver.data())
            QCoreApplication::sendEvent(receiver, event);
    }
};

EventRelay *relay()
{
    // Built on first use, possibly on the engine's thread, then handed to the
    // GUI thread so that its events are always delivered there.
    static EventRelay *instance = [] {
        auto *r = new EventRelay;
        r->moveToThread(QCoreApplication::instance()->thread());
        return r;
    }();
    return instance;
}

} // namespace

QObject *eventReceiver()
{
    return currentReceiver.data();
}

void setEventReceiver(QObject *receiver)
{
    relay();
    currentReceiver = receiver;
}

void postToMainWindow(QEvent *event)
{
    // The engine's thread may report until the very end of the process.
    if (postingStopped.load() || !QCoreApplication::instance()) {
        delete event;
        return;
    }
    QCoreApplication::postEvent(relay(), event);
}

void stopPostingEvents()
{
    postingStopped = true;
}
