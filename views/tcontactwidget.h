#pragma once

#include "account/tcontact.h"

#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
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

    // Photo requests of every entry share one manager, so a large phonebook
    // opens a handful of connections rather than one per contact. Both this
    // and the login key must be set before the contact ID.
    void setPictureManager(QNetworkAccessManager *manager) { pictureManager = manager; }
    void setLogin(const QString &login) { login_ = login; }
    // Stores the ID and asks the service for the contact's photo.
    void setContactID(int contactID);
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
    bool isPhotoPending() const { return !pictureReply.isNull(); }

    void setExpanded(bool expanded);

    // The "Remove" question asked before a contact is deleted; true when
    // the user did not answer No.
    static bool confirmRemoval();

signals:
    void editContact(TContact contact);
    void deleteContact(int contactID);

private slots:
    void on_actionDelete_Contact_triggered();
    void on_actionEdit_Contact_triggered();
    void onPictureFinished(QNetworkReply *reply);

private:
    void confirmDeletion();

    Ui::TContactWidget *ui;
    QPointer<QNetworkAccessManager> pictureManager;
    QPointer<QNetworkReply> pictureReply;
    int contactID_ = 0;
    QString groupID_;
    QString name_;
    QString title_;
    QString company_;
    QString login_;
    QList<TPhoneWidget *> phones;

    const int minimumWidth_ = 250;
    const int maximumWidth_ = 1000;
    const int minimumExpandedHeight = 60;
    const int maximumExpandedHeight = 60;
};
