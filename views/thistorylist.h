#pragma once

#include <QTreeWidget>

// The list of placed calls in the main window's "Call History" tab.
class THistoryList : public QTreeWidget
{
    Q_OBJECT

public:
    explicit THistoryList(QWidget *parent = nullptr);
};
