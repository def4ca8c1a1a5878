// ondavox-pages: the browser windows of the Ondavox softphone's account
// pages. The phone starts it when the first page opens and talks to it over
// its standard input and output (see pageshost.h); the browser engine, its
// OpenGL context and the pages' content stay out of the phone's process.
#include "base/translations.h"
#include "pages/pageshost.h"

#include <QApplication>
#include <QIcon>
#include <QLocale>

#include <csignal>

int main(int argc, char *argv[])
{
    // A write to a phone that has gone ends the program through the failed
    // write, not through a signal.
    std::signal(SIGPIPE, SIG_IGN);
    // The browser engine's windows share the GUI's OpenGL contexts; this must
    // be said before the application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ondavox"));
    QApplication::setDesktopFileName(QStringLiteral("ondavox"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/Icon.png")));
    // The phone's language: the same locale, the same translations.
    installTranslations(QLocale::system(), translationsFolder());
    // Closing a window hides it: the program waits for the next page.
    QApplication::setQuitOnLastWindowClosed(false);
    PagesHost host;
    return app.exec();
}
