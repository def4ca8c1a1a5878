// Collects the program's debug lines, from any thread, while it exists.
#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

class DebugLog
{
public:
    DebugLog()
    {
        current() = this;
        previous = qInstallMessageHandler(&DebugLog::handler);
    }
    ~DebugLog()
    {
        qInstallMessageHandler(previous);
        current() = nullptr;
    }

    QStringList lines() const
    {
        QMutexLocker locker(&mutex);
        return collected;
    }
    void clear()
    {
        QMutexLocker locker(&mutex);
        collected.clear();
    }

private:
    static DebugLog *&current()
    {
        static DebugLog *log = nullptr;
        return log;
    }
    static void handler(QtMsgType type, const QMessageLogContext &, const QString &message)
    {
        if (type != QtDebugMsg)
            return;
        if (DebugLog *log = current()) {
            QMutexLocker locker(&log->mutex);
            log->collected.append(message);
        }
    }

    mutable QMutex mutex;
    QStringList collected;
    QtMessageHandler previous = nullptr;
};
