#pragma once

#include "base/tcontact.h"

#include <QObject>
#include <QString>
#include <QVector>

class QLineEdit;
class QTreeWidget;

// Narrows the phonebook tree to the contacts whose name or numbers hold the
// text typed into a search line above it, ignoring case and accents
// ("muller" finds "Müller") and, for numbers, spaces and signs ("4930" finds
// "+49 30 …"). Groups without a matching contact are hidden while a search
// is on. The line shows when a search starts (Ctrl+F, or a letter typed on
// the tree) and goes again, with the search, on Escape.
//
// Rows are hidden, not removed, so the expanded contact and the current row
// survive a search; each contact row carries its folded search text (see
// searchText()), made once when the row is made.
class TPhonebookSearch : public QObject
{
    Q_OBJECT

public:
    // Belongs to the tree; hides the line until a search starts.
    TPhonebookSearch(QTreeWidget *tree, QLineEdit *line);

    // Shows the line with typed in it (appended to what is there) and gives
    // it the focus.
    void start(const QString &typed = QString());
    // Ends the search: every row shows again, the line goes, the tree has
    // the focus.
    void clear();
    bool active() const;

    // Applies the line's text to the rows again: after the tree was filled
    // anew.
    void apply();

    // What a contact row is matched against: its name and, for each phone,
    // the digits of the number as shown and of the whole number, folded.
    static QString searchText(const TContact &contact);
    // Lower case, accents and other marks taken off.
    static QString fold(const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void filter(const QString &text);

    QTreeWidget *tree;
    QLineEdit *line;
    QString applied;
    bool dirty = true;
};
