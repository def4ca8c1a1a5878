#pragma once

#include <QDialog>
#include <QString>

namespace Ui {
class TTextDialog;
}

// The dialog in which the subscriber writes a text message of at most 140
// characters to a phone number. It only collects and checks the input and
// hands it on through sendText; sending is the web-service client's.
class TTextDialog : public QDialog
{
    Q_OBJECT

public:
    explicit TTextDialog(QWidget *parent = nullptr);
    ~TTextDialog() override;

    void setCountryCode(const QString &countryCode);
    void setNumber(const QString &number);
    void clearText();

    // Longest message, in characters as the user sees them.
    static constexpr int MaxTextLength = 140;

signals:
    void goBack();
    void sendText(QString countryCode, QString number, QString text);

protected:
    void changeEvent(QEvent *event) override;

private slots:
    void on_pteText_textChanged();
    void on_pbCancel_clicked();
    void on_pbSend_clicked();

private:
    Ui::TTextDialog *ui;
    QString countryCode;
    QString number;
};
