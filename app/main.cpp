#include "app/tmainwindow.h"
#include "app/translations.h"
#include "base/tevent.h"

#include <QApplication>
#include <QIcon>
#include <QLocale>

int main(int argc, char *argv[])
{
    // The browser windows of the account pages share the GUI's OpenGL
    // contexts; this must be said before the application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ondavox"));
    QApplication::setDesktopFileName(QStringLiteral("ondavox"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/Icon.png")));

    // The user's language where the program has it, English otherwise.
    installTranslations(QLocale::system(), translationsFolder());

    // Exit ends the call and the registration before the process does.
    endTelephonyAtQuit();

    // The window lives until the process ends (or a logout replaces it).
    auto *window = new TMainWindow;
    setMainWindow(window);
    window->show();

    return app.exec();
}
