// The program's start with an engine that cannot initialise. The message box
// is closed as a user would close it and its title and text are printed, so
// that the test running this process can check them and the exit code.
#include "base/tevent.h"
#include "app/tmainwindow.h"
#include "engine_double.h"
#include "testsupport.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    SettingsSandbox sandbox;
    EngineDouble::setInitializeResult(-1);
    onNextModal([](QWidget *modal) {
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            std::printf("%s|%s|%d\n", qPrintable(box->windowTitle()), qPrintable(box->text()),
                        box->icon() == QMessageBox::Critical ? 1 : 0);
            std::fflush(stdout);
            box->done(QMessageBox::Ok);
        }
    });
    auto *window = new TMainWindow;
    // Only reached if the failure did not end the program.
    setMainWindow(window);
    std::printf("still running\n");
    return 0;
}
