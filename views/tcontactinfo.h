#pragma once

#include "base/tcontact.h"

#include <QDialog>
#include <QHash>
#include <QList>
#include <QString>

class TContactPhoneWidget;

namespace Ui {
class TContactInfo;
}

// The contact editor: group, title, name, company and up to three phone
// rows. Save checks the input and keeps the result as a TContact; the caller
// sends it. The service deletes every phone an edit does not list, so the
// phones beyond the third row, which the editor does not show, go back
// with the record unchanged.
class TContactInfo : public QDialog
{
    Q_OBJECT

public:
    TContactInfo(QWidget *parent, bool edit);
    ~TContactInfo() override;

    // Lists the groups' names in the group box, in this order.
    void setGroups(const QList<TContactGroup> &groups);
    void setContactID(int contactID) { contactID_ = contactID; }
    void setName(const QString &name);
    void setTitle(const QString &title);
    void setCompany(const QString &company);
    // Selects the group named exactly so, or none.
    void setGroup(const QString &text);
    // Appends a phone row. A fourth row is refused; a stored phone (one with
    // an ID) given then is kept apart and saved as it came.
    void addPhone(int phoneID, const QString &countryCode, const QString &number, const QString &type);

    // The record kept by the last Save that passed the checks.
    TContact contact() const { return contact_; }
    int phoneRowCount() const { return int(phoneWidgets.size()); }

signals:
    // Part of the editor's interface; the callers read contact() instead.
    void addContact(TContact contact);

protected:
    void changeEvent(QEvent *event) override;

private slots:
    void on_pbAddPhone_clicked();
    void on_pbSave_clicked();
    void onDeletePhone(QWidget *phoneWidget);

private:
    // Edits an existing contact (rather than adding one).
    bool editing = false;
    // What the editor needs of a group entry, copied when the groups are
    // given: a phonebook refresh may release the entries while the editor
    // is open.
    struct Group {
        QString groupID;
        QString groupName;
    };

    Ui::TContactInfo *ui;
    int contactID_ = 0;
    QList<Group> groups;
    QList<TContactPhoneWidget *> phoneWidgets;
    // Each row's phone as it was given, to tell a row left alone from one
    // the user emptied.
    QHash<TContactPhoneWidget *, TContactPhone> givenPhones;
    QList<TContactPhone> unshownPhones;
    TContact contact_;
};
