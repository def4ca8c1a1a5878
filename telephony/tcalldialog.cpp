#include "telephony/tcalldialog.h"

TCallDialog::TCallDialog(QWidget *parent)
    : QWidget(parent)
{
}
