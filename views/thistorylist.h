#pragma once

#include <QPersistentModelIndex>
#include <QTreeWidget>

class TAccount;
class THistoryDelegate;
struct TCallRecord;

// Item data on column 0 of the history's rows: what the row shows.
enum HistoryRole {
    ROLE_HISTORY_NAME = Qt::UserRole + 1, // the called party's name, as received
    ROLE_HISTORY_PHONE,                   // the number, as received; also the one the Call button dials
    ROLE_HISTORY_DURATION,                // the date-and-duration line
};

// The list of placed calls in the main window's "Call History" tab: one row
// per call. Each row looks like a THistoryItem entry, Call button included,
// but holds only its three texts: the entry is painted from one stamp, so a
// history of a thousand calls costs a thousand small items, not a thousand
// styled widgets, and a refresh is cheap.
class THistoryList : public QTreeWidget
{
    Q_OBJECT

public:
    explicit THistoryList(QWidget *parent = nullptr);
    ~THistoryList() override;

    // Shows the account's placed calls after every call-history download.
    void attach(TAccount *account);
    // Replaces every call with these.
    void setCalls(const QList<TCallRecord> &calls);
    // Appends one call at the bottom of the list.
    void addItem(const QString &name, const QString &phone, const QString &duration);
    // Removes every call.
    void clearHistory();

    // Where the row's Call button is drawn, in viewport coordinates; empty
    // when the row is not laid out.
    QRect callButtonRect(QTreeWidgetItem *row) const;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool viewportEvent(QEvent *event) override;

private:
    // The row's Call button, pressed.
    void call(QTreeWidgetItem *row);

    // The row whose Call button is under the pointer, or null.
    QTreeWidgetItem *callButtonAt(const QPoint &position) const;

    THistoryDelegate *delegate;
    // The row whose Call button is held down; drawn pressed while the
    // pointer stays on it.
    QPersistentModelIndex pressedCall;
};
