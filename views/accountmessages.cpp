#include "views/accountmessages.h"

#include "account/taccount.h"
#include "base/displaytext.h"

#include <QCoreApplication>
#include <QMessageBox>

void showErrorBox(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::Critical, QCoreApplication::translate("TAccount", "Error"), withoutDirectionControls(text),
                    QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void showAccountMessages(TAccount *account)
{
    QObject::connect(account, &TAccount::requestFailed, account, [](const QString &message) {
        showErrorBox(nullptr, message);
    });
    QObject::connect(account, &TAccount::textMessageSent, account, [] {
        QMessageBox::information(nullptr, QCoreApplication::translate("TAccount", "Success"),
                                 QCoreApplication::translate("TAccount", "Text message successfully sent"),
                                 QMessageBox::Ok);
    });
}
