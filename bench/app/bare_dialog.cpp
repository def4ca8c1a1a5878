// The yardstick for the program's start-up: a bare Qt Widgets dialog of the
// login dialog's size with a few fields, and nothing else.
#include <QApplication>
#include <QDialog>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("Bare dialog"));
    auto *form = new QFormLayout(&dialog);
    form->addRow(QStringLiteral("E-mail:"), new QLineEdit);
    form->addRow(QStringLiteral("Password:"), new QLineEdit);
    form->addRow(new QPushButton(QStringLiteral("Log in")));
    dialog.setFixedSize(490, 275);
    dialog.show();
    return app.exec();
}
