#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>

// The line protocol between the phone and its account-pages program: each
// message is one JSON object written on a line of its own (compact JSON has
// no line breaks inside). Both sides read with take(), so a half-arrived line
// waits for the rest, and a line that is not a JSON object is dropped.
namespace PagesChannel {

// No message comes near this; a peer that sends a longer line is broken,
// and what it sent is dropped rather than kept growing.
constexpr qsizetype kMaxLine = 4 * 1024 * 1024;

QByteArray encode(const QJsonObject &message);

// The whole messages at the front of buffer, removed from it.
QList<QJsonObject> take(QByteArray &buffer);

} // namespace PagesChannel
