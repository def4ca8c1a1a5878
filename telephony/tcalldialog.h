#pragma once

#include <QWidget>

// The in-call page of the main window.
class TCallDialog : public QWidget
{
    Q_OBJECT

public:
    explicit TCallDialog(QWidget *parent = nullptr);
};
