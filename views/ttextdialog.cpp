#include "views/ttextdialog.h"
#include "ui_ttextdialog.h"

#include <QEvent>
#include <QTextCursor>

namespace {

// Where text must end to keep at most `limit` UTF-16 code units: at the
// limit, or one unit before it when a surrogate pair straddles it, so that
// no half of a character is ever left behind.
qsizetype cutPosition(const QString &text, qsizetype limit)
{
    if (limit > 0 && limit < text.size() && text.at(limit - 1).isHighSurrogate() && text.at(limit).isLowSurrogate())
        return limit - 1;
    return limit;
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
    // The service's limit counts UTF-16 code units, the text's own length.
    if (text.size() <= MaxTextLength)
        return;
    // Runs this slot once more, which then finds the text short enough.
    ui->pteText->setPlainText(text.left(cutPosition(text, MaxTextLength)));
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

void TTextDialog::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
    }
}
