#pragma once

#include <QString>
#include <QWidget>

namespace Ui {
class TPhoneWidget;
}

// One phone line inside an expanded contact entry: the number, its type and
// two buttons that ask the main window to call or text it.
class TPhoneWidget : public QWidget
{
    Q_OBJECT

public:
    explicit TPhoneWidget(QWidget *parent = nullptr);
    ~TPhoneWidget() override;

    void setPhoneID(int phoneID) { phoneID_ = phoneID; }
    int phoneID() const { return phoneID_; }
    void setCountryCode(const QString &countryCode);
    QString countryCode() const { return countryCode_; }
    void setNumber(const QString &number);
    QString number() const { return number_; }
    void setType(const QString &type);
    QString type() const { return type_; }
    void setWholePhone(const QString &wholePhone) { wholePhone_ = wholePhone; }
    QString wholePhone() const { return wholePhone_; }

    // Builds the form if it is not built yet. A line is seen only inside its
    // expanded contact, and one contact is expanded at a time, so the form
    // is built when the line is first shown rather than with the phonebook:
    // a phonebook of thousands of contacts would otherwise spend most of
    // its time and memory on lines nobody looks at.
    void ensureForm();

protected:
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private slots:
    void on_pbText_clicked();
    void on_pbCall_clicked();

private:
    void showNumber();
    void post(int code) const;

    Ui::TPhoneWidget *ui = nullptr;
    int phoneID_ = 0;
    QString countryCode_;
    QString number_;
    QString type_;
    QString wholePhone_;
};
