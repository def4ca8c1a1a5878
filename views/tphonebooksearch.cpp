#include "views/tphonebooksearch.h"

#include "views/titemdelegate.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>

namespace {

QString digitsOf(const QString &text)
{
    QString digits;
    digits.reserve(text.size());
    for (const QChar c : text)
        if (c.isDigit())
            digits += c;
    return digits;
}

// Whether the text reads as a phone number: digits and the signs numbers
// are written with, nothing else.
bool isNumberLike(const QString &text)
{
    bool digit = false;
    for (const QChar c : text) {
        if (c.isDigit())
            digit = true;
        else if (!QStringView(u" +-()./").contains(c))
            return false;
    }
    return digit;
}

// Keys that start a search when typed on the tree: printable text without
// a command modifier. Space stays the tree's (it selects).
bool startsSearch(const QKeyEvent *key)
{
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const QString text = key->text();
    return !text.isEmpty() && text.at(0).isPrint() && !text.at(0).isSpace();
}

} // namespace

TPhonebookSearch::TPhonebookSearch(QTreeWidget *treeWidget, QLineEdit *searchLine)
    : QObject(treeWidget)
    , tree(treeWidget)
    , line(searchLine)
{
    line->hide();
    line->setClearButtonEnabled(true);
    line->installEventFilter(this);
    tree->installEventFilter(this);
    connect(line, &QLineEdit::textChanged, this, &TPhonebookSearch::filter);
    // A phonebook download fills the tree anew: the search goes on over the
    // new rows, once they are all in.
    connect(tree->model(), &QAbstractItemModel::modelReset, this, [this] { dirty = true; });
    connect(tree->model(), &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex &parent) {
        dirty = true;
        if (!parent.isValid() && active())
            QTimer::singleShot(0, this, &TPhonebookSearch::apply);
    });
}

bool TPhonebookSearch::active() const
{
    return line->isVisibleTo(line->parentWidget()) && !line->text().isEmpty();
}

void TPhonebookSearch::start(const QString &typed)
{
    line->show();
    if (!typed.isEmpty())
        line->setText(line->text() + typed);
    line->setFocus(Qt::ShortcutFocusReason);
    line->end(false);
}

void TPhonebookSearch::clear()
{
    const bool hadFocus = line->hasFocus();
    line->clear();
    line->hide();
    if (hadFocus || !tree->hasFocus())
        tree->setFocus(Qt::OtherFocusReason);
}

void TPhonebookSearch::apply()
{
    filter(line->text());
}

QString TPhonebookSearch::fold(const QString &text)
{
    const QString decomposed = text.normalized(QString::NormalizationForm_KD);
    QString folded;
    folded.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        switch (c.category()) {
        case QChar::Mark_NonSpacing:
        case QChar::Mark_SpacingCombining:
        case QChar::Mark_Enclosing:
            continue;
        default:
            break;
        }
        // Letters whose mark is part of them rather than a combining one.
        switch (c.unicode()) {
        case 0x00DF: // ß
            folded += QLatin1String("ss");
            continue;
        case 0x00C6: // Æ
        case 0x00E6:
            folded += QLatin1String("ae");
            continue;
        case 0x0152: // Œ
        case 0x0153:
            folded += QLatin1String("oe");
            continue;
        case 0x00D8: // Ø
        case 0x00F8:
            folded += QLatin1Char('o');
            continue;
        case 0x0110: // Đ
        case 0x0111:
            folded += QLatin1Char('d');
            continue;
        case 0x0141: // Ł
        case 0x0142:
        case 0x0131: // dotless i
            folded += c.unicode() == 0x0131 ? QLatin1Char('i') : QLatin1Char('l');
            continue;
        default:
            break;
        }
        folded += c.toCaseFolded();
    }
    return folded;
}

QString TPhonebookSearch::searchText(const TContact &contact)
{
    QString text = fold(contact.name);
    for (const TContactPhone &phone : contact.phones) {
        const QString shown = digitsOf(phone.countryCode + phone.number);
        const QString whole = digitsOf(phone.wholePhone);
        text += QLatin1Char('\n') + shown;
        if (whole != shown)
            text += QLatin1Char('\n') + whole;
    }
    return text;
}

void TPhonebookSearch::filter(const QString &text)
{
    const QString needle = fold(text.trimmed());
    if (needle == applied && !dirty)
        return;
    const QString digits = isNumberLike(needle) ? digitsOf(needle) : QString();
    QAbstractItemModel *model = tree->model();
    for (int g = 0; g < tree->topLevelItemCount(); ++g) {
        const QTreeWidgetItem *group = tree->topLevelItem(g);
        const QModelIndex groupIndex = model->index(g, 0);
        bool anyShown = false;
        for (int c = 0; c < group->childCount(); ++c) {
            const QString key = group->child(c)->data(0, ROLE_SEARCH_TEXT).toString();
            const bool match = needle.isEmpty() || key.contains(needle) || (!digits.isEmpty() && key.contains(digits));
            anyShown = anyShown || match;
            if (tree->isRowHidden(c, groupIndex) == match)
                tree->setRowHidden(c, groupIndex, !match);
        }
        const bool hideGroup = !needle.isEmpty() && !anyShown;
        if (tree->isRowHidden(g, QModelIndex()) != hideGroup)
            tree->setRowHidden(g, QModelIndex(), hideGroup);
    }
    applied = needle;
    dirty = false;
}

bool TPhonebookSearch::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    if (watched == line) {
        switch (key->key()) {
        case Qt::Key_Escape:
            clear();
            return true;
        case Qt::Key_Down:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // On to the first contact found.
            for (int g = 0; g < tree->topLevelItemCount(); ++g) {
                QTreeWidgetItem *group = tree->topLevelItem(g);
                for (int c = 0; c < group->childCount(); ++c) {
                    if (!group->child(c)->isHidden()) {
                        tree->setFocus(Qt::TabFocusReason);
                        tree->setCurrentItem(group->child(c));
                        return true;
                    }
                }
            }
            return true;
        default:
            break;
        }
    } else if (watched == tree) {
        if (key->key() == Qt::Key_Escape && line->isVisibleTo(line->parentWidget())) {
            clear();
            return true;
        }
        if (startsSearch(key)) {
            start(key->text());
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
