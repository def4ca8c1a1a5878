#pragma once

#include "base/tcontact.h"

#include <QList>
#include <QPixmap>
#include <QString>
#include <QWidget>

class TPhoneWidget;

namespace Ui {
class TContactWidget;
}

// The entry shown on a contact row of the contact tree: a picture and the
// name, and when the row is the expanded one, the contact's phone lines
// under a larger picture. Its context menu edits or deletes the contact.
class TContactWidget : public QWidget
{
    Q_OBJECT

public:
    explicit TContactWidget(QWidget *parent = nullptr);
    ~TContactWidget() override;

    void setContactID(int contactID) { contactID_ = contactID; }
    int contactID() const { return contactID_; }
    void setName(const QString &name);
    QString name() const { return name_; }
    void setTitle(const QString &title) { title_ = title; }
    QString title() const { return title_; }
    void setCompany(const QString &company) { company_ = company; }
    QString company() const { return company_; }
    void setGroupID(const QString &groupID) { groupID_ = groupID; }
    QString groupID() const { return groupID_; }

    // Shows a photo fetched elsewhere (the tree fetches photos for the rows
    // in view and keeps them across refreshes).
    void setPhoto(const QPixmap &photo);

    void addPhone(TPhoneWidget *line);
    int phoneCount() const { return int(phones.size()); }

    void setExpanded(bool expanded);

    // The "Remove" question asked before a contact is deleted; true when
    // the user did not answer No.
    static bool confirmRemoval();

signals:
    void editContact(TContact contact);
    void deleteContact(int contactID);

protected:
    void changeEvent(QEvent *event) override;

private slots:
    void on_actionDelete_Contact_triggered();
    void on_actionEdit_Contact_triggered();

private:
    void confirmDeletion();

    Ui::TContactWidget *ui;
    int contactID_ = 0;
    QString groupID_;
    QString name_;
    QString title_;
    QString company_;
    QList<TPhoneWidget *> phones;

    const int minimumWidth_ = 250;
    const int maximumWidth_ = 1000;
    const int minimumExpandedHeight = 60;
    const int maximumExpandedHeight = 60;
};
