#include "telephony/ttextdialog.h"
#include "ui_ttextdialog.h"

#include <QTextBoundaryFinder>
#include <QTextCursor>

namespace {

// Where text must end to keep only its first `limit` characters as the user
// sees them (an emoji or a letter with its accents is one), or -1 when it
// has no more than that. Cutting there never splits a surrogate pair.
qsizetype visibleLimit(const QString &text, int limit)
{
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    int counted = 0;
    while (graphemes.toNextBoundary() >= 0) {
        if (++counted == limit)
            return graphemes.position() < text.size() ? graphemes.position() : -1;
    }
    return -1;
}

} // namespace

TTextDialog::TTextDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::TTextDialog)
{
    ui->setupUi(this);
}

TTextDialog::~TTextDialog()
{
    delete ui;
}

void TTextDialog::setCountryCode(const QString &countryCode)
{
    this->countryCode = countryCode;
    ui->leCountryCode->setText(countryCode);
}

void TTextDialog::setNumber(const QString &number)
{
    this->number = number;
    ui->leNumber->setText(number);
}

void TTextDialog::clearText()
{
    ui->pteText->clear();
}

void TTextDialog::on_pteText_textChanged()
{
    const QString text = ui->pteText->toPlainText();
    // No more code units than the limit means no more characters either.
    if (text.size() <= MaxTextLength)
        return;
    const qsizetype end = visibleLimit(text, MaxTextLength);
    if (end < 0)
        return;
    // Runs this slot once more, which then finds the text short enough.
    ui->pteText->setPlainText(text.left(end));
    ui->pteText->moveCursor(QTextCursor::End);
}

void TTextDialog::on_pbCancel_clicked()
{
    close();
}

void TTextDialog::on_pbSend_clicked()
{
    if (ui->leCountryCode->text().trimmed().isEmpty())
        return;
    if (ui->leNumber->text().trimmed().isEmpty())
        return;
    if (ui->pteText->toPlainText().trimmed().isEmpty())
        return;
    emit sendText(ui->leCountryCode->text(), ui->leNumber->text(), ui->pteText->toPlainText());
    close();
}
