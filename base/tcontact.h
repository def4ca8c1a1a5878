#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

// One phone line of a phonebook contact.
struct TContactPhone
{
    qint32 phoneID = 0; // 0 for a line added in the editor and not stored yet
    QString countryCode;
    QString number;
    QString type;
    // What the line's call and text buttons dial; the add and edit requests
    // never send it.
    QString wholePhone;
};

// One phonebook contact: what the tree shows, what the contact editor
// starts from and what the add and edit requests send.
struct TContact
{
    qint32 contactID = 0;
    QString groupID; // held as text, exactly as the service gave it
    QString name;
    QString title;
    QString company;
    QList<TContactPhone> phones;
};

// A group of the phonebook with its contacts, in the service's order.
struct TContactGroup
{
    QString groupID;
    QString groupName;
    QList<TContact> contacts;
};

Q_DECLARE_METATYPE(TContactPhone)
Q_DECLARE_METATYPE(TContact)
