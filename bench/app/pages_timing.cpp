#include "pages_timing.h"

#include "app/pageswindows.h"
#include "app/tmainwindow.h"
#include "base/tevent.h"
#include "testsupport.h"
#include "views/tlogin.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Step {
    const char *trigger; // a button or an action of the main window
    const char *window;  // the kind of window it opens
    const char *title;   // the page's title once shown
};

// Milliseconds from the trigger until the window of the step is visible with
// its page loaded; -1 after 30 s.
double timeStep(TMainWindow *window, const Step &step)
{
    PagesWindows *pages = PagesWindows::instance();
    const auto shown = [&] {
        const PagesWindows::Window state = pages->windows().value(QString::fromLatin1(step.window));
        return state.visible && state.pageTitle == QString::fromUtf8(step.title);
    };
    // A window that shows the same page already: its title is marked first,
    // so that only the page loaded anew counts.
    const QString kind = QString::fromLatin1(step.window);
    if (pages->windows().contains(kind)) {
        QEventLoop marked;
        QObject::connect(pages, &PagesWindows::windowChanged, &marked, [&] {
            if (pages->windows().value(kind).pageTitle == QLatin1String("(stale)"))
                marked.quit();
        });
        QTimer::singleShot(30000, &marked, &QEventLoop::quit);
        pages->run(kind, QStringLiteral("document.title = '(stale)'; true"), [](const QJsonValue &) {});
        marked.exec();
    }
    QEventLoop loop;
    QObject::connect(pages, &PagesWindows::windowChanged, &loop, [&] {
        if (shown())
            loop.quit();
    });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    if (auto *button = window->findChild<QPushButton *>(QString::fromLatin1(step.trigger)))
        button->click();
    else if (auto *action = window->findChild<QAction *>(QString::fromLatin1(step.trigger)))
        action->trigger();
    if (!shown())
        loop.exec();
    return shown() ? clock.nsecsElapsed() / 1e6 : -1;
}

long residentKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

} // namespace

int accountPageTimings(int argc, char *argv[], const std::string &web, const std::string &iax)
{
    qputenv("ONDAVOX_WEB_BASE", QByteArray::fromStdString(web));
    qputenv("ONDAVOX_IAX2_HOST", QByteArray::fromStdString(iax));
    if (qEnvironmentVariableIsEmpty("ONDAVOX_PAGES_PROGRAM"))
        qputenv("ONDAVOX_PAGES_PROGRAM", ONDAVOX_PAGES_PROGRAM_PATH);
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication app(argc, argv);
    SettingsSandbox sandbox;
    sandbox.storeLogin(QStringLiteral("demo@ondavox.com"), passwordDigest(QStringLiteral("ondavox-demo")));
    auto *window = new TMainWindow; // logs in by itself before it returns
    setMainWindow(window);
    window->show();

    std::printf("\nAccount pages, from the click until the page is shown:\n");
    const Step rates{"pbRates", "pages", "Rates and charges - Ondavox"};
    const Step phonebook{"pbGoToZimbrel", "pages", "Phonebook - Ondavox"};
    const Step billing{"actionAdd_10", "billing", "Add credit - Ondavox"};
    const double first = timeStep(window, rates);
    std::printf("  first page (rates; the pages program starts): %.0f ms\n", first);
    std::vector<double> later;
    for (int round = 0; round < 3; ++round) {
        for (const Step &step : {phonebook, billing, rates}) {
            const double ms = timeStep(window, step);
            std::printf("  later page (%s): %.0f ms\n", step.title, ms);
            later.push_back(ms);
        }
    }
    std::sort(later.begin(), later.end());
    std::printf("  later pages: median %.0f ms, max %.0f ms\n", later[later.size() / 2], later.back());
    std::printf("  the pages program holds %.1f MB resident with two windows\n",
                residentKb(PagesWindows::instance()->processId()) / 1024.0);
    const bool ok = first > 0 && later.front() > 0;
    setMainWindow(nullptr);
    delete window;
    PagesWindows::instance()->stop();
    return ok ? 0 : 1;
}
