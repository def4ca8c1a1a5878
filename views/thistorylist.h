#pragma once

#include <QTreeWidget>

// The list of placed calls in the main window's "Call History" tab: one row
// per call, each covered by a THistoryItem.
class THistoryList : public QTreeWidget
{
    Q_OBJECT

public:
    explicit THistoryList(QWidget *parent = nullptr);

    // Appends one call at the bottom of the list.
    void addItem(const QString &name, const QString &phone, const QString &duration);
    // Removes every call.
    void clearHistory();
};
