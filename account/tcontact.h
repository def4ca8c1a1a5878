#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

// One phone line of a phonebook contact, as the contact editor and the
// add and edit requests see it.
struct TContactPhone
{
    qint32 phoneID = 0; // 0 for a line added in the editor and not stored yet
    QString countryCode;
    QString number;
    QString type;
};

// One phonebook contact on its way into and out of the contact editor.
struct TContact
{
    qint32 contactID = 0;
    QString groupID; // held as text, exactly as the service gave it
    QString name;
    QString title;
    QString company;
    QList<TContactPhone> phones;
};

Q_DECLARE_METATYPE(TContactPhone)
Q_DECLARE_METATYPE(TContact)
