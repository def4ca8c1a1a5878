#pragma once

#include <QString>
#include <QWidget>

namespace Ui {
class THistoryItem;
}

// One placed call in the call history: the called party's name, the number,
// the date-and-duration line, and a button that calls the number again.
class THistoryItem : public QWidget
{
    Q_OBJECT

public:
    explicit THistoryItem(QWidget *parent = nullptr);
    ~THistoryItem() override;

    void setName(const QString &name);
    QString name() const { return name_; }
    void setPhone(const QString &phone);
    QString phone() const { return phone_; }
    void setCallNumber(const QString &callNumber) { callNumber_ = callNumber; }
    QString callNumber() const { return callNumber_; }
    void setDuration(const QString &duration);
    QString duration() const { return duration_; }

protected:
    void changeEvent(QEvent *event) override;

private slots:
    void on_pbCall_clicked();

private:
    Ui::THistoryItem *ui;
    QString name_;
    QString phone_;
    QString duration_;
    QString callNumber_;
};
