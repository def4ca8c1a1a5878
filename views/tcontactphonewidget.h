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
    // Selects the type whose text is exactly this one, or none.
    void setType(const QString &type);
    QString type() const;

signals:
    void deletePhone(QWidget *phoneWidget);

private slots:
    void on_pbDelete_clicked();

private:
    Ui::TContactPhoneWidget *ui;
    int phoneID_ = 0;
};
