#pragma once

#include <QString>
#include <QWidget>

namespace Ui {
class TContactPhoneWidget;
}

// One phone row of the contact editor: country code, number, type and a
// button that asks the editor to remove the row.
class TContactPhoneWidget : public QWidget
{
    Q_OBJECT

public:
    explicit TContactPhoneWidget(QWidget *parent = nullptr);
    ~TContactPhoneWidget() override;

    void setPhoneID(int phoneID) { phoneID_ = phoneID; }
    int phoneID() const { return phoneID_; }
    void setCountryCode(const QString &countryCode);
    QString countryCode() const;
    void setNumber(const QString &number);
    QString number() const;
    // Selects the type whose text is exactly this one, or none. Types are
    // the service's words, in English; the list shows them translated.
    void setType(const QString &type);
    QString type() const;

signals:
    void deletePhone(QWidget *phoneWidget);

protected:
    void changeEvent(QEvent *event) override;

private slots:
    void on_pbDelete_clicked();

private:
    // Shows each type in the user's language.
    void translateTypes();

    Ui::TContactPhoneWidget *ui;
    int phoneID_ = 0;
};
