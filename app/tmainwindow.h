#pragma once

#include <QMainWindow>
#include <QMenu>
#include <QPointer>

namespace Ui {
class TMainWindow;
}

class TAccount;

// The program's one main window: it owns everything that belongs to one login
// and turns the user's actions and the application events into work for the
// other parts of the program.
class TMainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit TMainWindow(QWidget *parent = nullptr);
    ~TMainWindow() override;

signals:
    void phoneStatus(int code);

protected:
    void customEvent(QEvent *event) override;

private:
    Ui::TMainWindow *ui;
    QPointer<TAccount> account;
    QMenu creditMenu;
};
