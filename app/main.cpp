#include "app/singleinstance.h"
#include "app/systemquit.h"
#include "app/tmainwindow.h"
#include "views/sharppicture.h"
#include "base/translations.h"
#include "base/tevent.h"

#include <QApplication>
#include <QLocale>

#include <cstdio>

int main(int argc, char *argv[])
{
    // What follows the program's name is a number to call: a tel: or
    // callto: link from the desktop, or a number typed after the name,
    // spaces and all. (A later start passes on the toolkit's own options
    // with it, if it was given any.)
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    // One program per user and display: a later start hands its link to the
    // running program, which comes to the front, and ends. It does so before
    // the toolkit connects to the display, which takes longer than all the rest.
    SingleInstance instance;
    switch (instance.start(arguments.join(QLatin1Char(' ')))) {
    case SingleInstance::HandedOver:
        return 0;
    case SingleInstance::Unreachable:
        std::fprintf(stderr, "Ondavox is already running but cannot be reached.\n");
        return 1;
    case SingleInstance::First:
        break;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ondavox"));
    QApplication::setDesktopFileName(QStringLiteral("ondavox"));
    QApplication::setWindowIcon(sharpIcon(QStringLiteral(":/Icon.png")));
    instance.listen();
    // The toolkit has taken its own options out by now.
    const QString link = QApplication::arguments().mid(1).join(QLatin1Char(' '));
    QObject::connect(&instance, &SingleInstance::linkReceived, &app, [](const QString &received) {
        bringProgramToFront();
        if (!received.trimmed().isEmpty())
            dialFromOutside(received);
    });
    if (!link.trimmed().isEmpty())
        dialFromOutside(link);

    installTranslations(QLocale::system(), translationsFolder());

    // Exit ends the call and the registration before the process does, and
    // so does the system when it ends the program.
    endTelephonyAtQuit();
    exitOnSystemRequests();

    // The window lives until the process ends (or a logout replaces it).
    auto *window = new TMainWindow;
    setMainWindow(window);
    window->show();
    window->dialWaitingNumber();

    return app.exec();
}
