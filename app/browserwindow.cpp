#include "app/browserwindow.h"

#include <QCoreApplication>
#include <QIcon>
#include <QWebEngineView>

namespace BrowserWindow {

QWebEngineView *create()
{
    auto *view = new QWebEngineView;
    view->setWindowIcon(QIcon(QStringLiteral(":/Icon.png")));
    view->resize(1024, 720);
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, view, [view] { delete view; });
    return view;
}

} // namespace BrowserWindow
