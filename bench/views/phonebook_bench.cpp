// Downloads a phonebook of N contacts (three phones each) from a loopback
// responder into the real main window's contact tree, offscreen, and
// rebuilds it once more (the refresh after every change). Prints the time
// from the request to the painted tree for both, the memory above the
// baseline per contact, frame times while the tree scrolls page by page,
// the time to expand a contact, the time from a keystroke in the phonebook
// search to the painted tree, the longest stall of the GUI thread while the
// photos of the rows in view arrive, and the memory once every row has been
// shown with its photo. One size per run, so that the memory is that size's
// own.
#include "account/taccount.h"
#include "views/tlogin.h"
#include "base/tevent.h"
#include "app/tmainwindow.h"
#include "httpresponder.h"
#include "testsupport.h"
#include "views/tcontactphotos.h"
#include "views/tcontacttree.h"
#include "views/titemdelegate.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>

namespace {

long peakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// CPU time of the GUI thread, in ms: on a shared, loaded machine the wall
// clock says more about the other processes than about this one.
qint64 threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Resident memory now, in KiB.
long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine())
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// The longest gap between ticks of a 5 ms timer: how long the GUI thread
// went without handling events.
class StallMeter : public QObject
{
public:
    StallMeter()
    {
        connect(&tick, &QTimer::timeout, this, [this] {
            longest = std::max(longest, clock.restart());
        });
    }
    void start()
    {
        longest = 0;
        clock.start();
        tick.start(5);
    }
    qint64 stop()
    {
        tick.stop();
        return longest;
    }

private:
    QTimer tick;
    QElapsedTimer clock;
    qint64 longest = 0;
};

// Established TCP connections of this process to the given server port:
// what is on the wire at once (one request per HTTP/1.1 connection).
int connectionsTo(int port)
{
    QFile table(QStringLiteral("/proc/self/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return -1;
    int count = 0;
    table.readLine();
    while (!table.atEnd()) {
        const QList<QByteArray> fields = table.readLine().simplified().split(' ');
        if (fields.size() < 4 || fields.at(3) != "01")
            continue;
        bool ok = false;
        if (fields.at(2).split(':').value(1).toInt(&ok, 16) == port && ok)
            ++count;
    }
    return count;
}

QByteArray phonebookOf(int contacts, int phonesEach)
{
    const int groups = 20;
    QByteArray json = "{\"result\":[";
    int id = 1;
    for (int g = 0; g < groups; ++g) {
        if (g)
            json += ',';
        json += "{\"id\":\"" + QByteArray::number(g + 1) + "\",\"name\":\"Group " + QByteArray::number(g + 1) + "\",\"contacts\":[";
        for (int c = g; c < contacts; c += groups) {
            if (c != g)
                json += ',';
            const QByteArray n = QByteArray::number(id++);
            json += "{\"id\":\"" + n + "\",\"name\":\"Contact " + n + "\",\"title\":\"Engineer\",\"company\":\"Company " + n
                    + "\",\"phones\":[";
            const char *types[] = {"Home", "Work", "Mobile", "Home Fax", "Work Fax", "Page", "Other"};
            for (int p = 0; p < phonesEach; ++p) {
                const QByteArray number = "20794" + QByteArray::number(10000 + c) + QByteArray::number(p);
                if (p)
                    json += ',';
                json += "{\"id\":\"" + QByteArray::number(c * 3 + p + 1) + "\",\"countryCode\":\"44\",\"phone\":\"" + number
                        + "\",\"type\":\"" + types[p % 7] + "\",\"wholePhone\":\"44" + number + "\"}";
            }
            json += "]}";
        }
        json += "]}";
    }
    return json + "]}";
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int contacts = argc > 1 ? QByteArray(argv[1]).toInt() : 1000;
    if (contacts <= 0) {
        std::fprintf(stderr, "usage: phonebook_bench CONTACTS\n");
        return 2;
    }

    HttpResponder responder;
    qputenv("ONDAVOX_WEB_BASE", responder.baseUrl().toUtf8());
    const int port = QUrl(responder.baseUrl()).port();
    const int phonesEach = argc > 3 ? QByteArray(argv[3]).toInt() : 3;
    const QByteArray book = phonebookOf(contacts, phonesEach);
    responder.setReply("/Webservices/login.php", R"({"Username":"1000","Password":"pw","Key":"bench"})");
    responder.setReply("/Webservices/contacts.php", R"({"result":[]})");
    // Photos as the service sends them; a fourth argument gives their side
    // in pixels (a small file may hold a very large picture).
    const int photoSide = argc > 4 ? QByteArray(argv[4]).toInt() : 50;
    const QByteArray photo = pngOf(QSize(photoSide, photoSide), QColor(90, 140, 200));
    responder.setReply("/Phonebook/GetContactPhoto.html", photo);

    // The real main window, logged in at the responder, so that the rows
    // carry its style sheets and delegate; the benchmark's own client fills
    // its contact tree.
    qputenv("ONDAVOX_IAX2_HOST", "127.0.0.1:9");
    SettingsSandbox sandbox;
    sandbox.storeLogin(QStringLiteral("bench@ondavox.com"), passwordDigest(QStringLiteral("bench")));
    responder.setReply("/Credit/GetCredit.html", R"({"Credit":"10.00"})");
    responder.setReply("/History/PlacedCallsDataAPI.html", R"({"result":[]})");
    responder.setReply("/update.php", "false");
    TMainWindow window;
    setMainWindow(&window);
    window.show();
    QTreeWidget &tree = *window.findChild<QTreeWidget *>(QStringLiteral("twContacts"));

    TAccount account;
    auto *contactTree = tree.findChild<TContactTree *>();
    contactTree->attach(&account);
    QSignalSpy loggedIn(&account, &TAccount::loginResult);
    account.login();
    loggedIn.wait(5000);
    QTest::qWait(400); // the login's own (empty) phonebook download
    responder.setReply("/Webservices/contacts.php", book);
    QCoreApplication::processEvents();
    const long baseline = residentKiB();
    const long peakBefore = peakKiB();

    auto countContacts = [&tree] {
        int n = 0;
        for (int i = 0; i < tree.topLevelItemCount(); ++i)
            n += tree.topLevelItem(i)->childCount();
        return n;
    };
    int mostOnWire = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { mostOnWire = std::max(mostOnWire, connectionsTo(port)); });
    sampler.start(50);

    for (int round = 1; round <= 2; ++round) {
        QElapsedTimer clock;
        clock.start();
        const qint64 cpuStart = threadCpuMs();
        QTreeWidgetItem *oldFirst = tree.topLevelItem(0);
        account.loadContacts();
        while (tree.topLevelItem(0) == oldFirst || countContacts() != contacts)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const qint64 built = clock.elapsed();
        // The view lays its rows out and paints them.
        tree.doItemsLayout();
        tree.viewport()->repaint();
        const qint64 shown = clock.elapsed();
        std::printf("%s %6d contacts: rows made %5lld ms, reply to painted tree %5lld ms (GUI thread CPU %lld ms)\n",
                    round == 1 ? "download" : "refresh ", contacts, built, shown, threadCpuMs() - cpuStart);
        std::fflush(stdout);
    }
    const long afterKiB = residentKiB();
    std::printf("memory: %ld KiB resident above the baseline (%ld MiB), %.1f KB a contact; peak %ld MiB (%ld before)\n",
                afterKiB - baseline, baseline / 1024, (afterKiB - baseline) * 1024.0 / 1000.0 / contacts, peakKiB() / 1024,
                peakBefore / 1024);

    // Searching: each keystroke in the search line narrows the tree, which
    // is laid out and painted again before the next one.
    if (QLineEdit *search = window.findChild<QLineEdit *>(QStringLiteral("leSearch"))) {
        tree.setFocus();
        QList<qint64> strokes;
        QList<qint64> strokeCpu;
        auto stroke = [&](auto press) {
            QElapsedTimer clock;
            clock.start();
            const qint64 cpuStart = threadCpuMs();
            press();
            QCoreApplication::processEvents();
            tree.viewport()->repaint();
            strokes << clock.elapsed();
            strokeCpu << threadCpuMs() - cpuStart;
        };
        // A name typed letter by letter, taken back, then a number.
        const QString name = QStringLiteral("contact 1234");
        stroke([&] { QTest::keyClick(&tree, name.at(0).toLatin1()); });
        for (int i = 1; i < name.size(); ++i)
            stroke([&] { QTest::keyClick(search, name.at(i).toLatin1()); });
        for (int i = 0; i < name.size(); ++i)
            stroke([&] { QTest::keyClick(search, Qt::Key_Backspace); });
        for (const char digit : QByteArray("2079410"))
            stroke([&] { QTest::keyClick(search, digit); });
        int shown = 0;
        for (int g = 0; g < tree.topLevelItemCount(); ++g)
            for (int c = 0; c < tree.topLevelItem(g)->childCount(); ++c)
                shown += tree.topLevelItem(g)->child(c)->isHidden() ? 0 : 1;
        stroke([&] { QTest::keyClick(search, Qt::Key_Escape); });
        std::sort(strokes.begin(), strokes.end());
        std::sort(strokeCpu.begin(), strokeCpu.end());
        std::printf("search keystroke to painted tree: median %lld ms, slowest %lld ms over %lld keystrokes "
                    "(GUI thread CPU median %lld ms, slowest %lld ms); \"2079410\" shows %d contacts\n",
                    strokes.value(strokes.size() / 2), strokes.last(), qint64(strokes.size()),
                    strokeCpu.value(strokeCpu.size() / 2), strokeCpu.last(), shown);
        std::fflush(stdout);
    }

    // Photos of the rows in view arrive; the GUI thread must keep going.
    StallMeter stalls;
    TContactPhotos *photos = contactTree->photos();
    stalls.start();
    QElapsedTimer photoClock;
    photoClock.start();
    while (photos->pending() > 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    std::printf("photos in view: all in %lld ms, longest GUI stall %lld ms, at most %d requests on the wire\n",
                photoClock.elapsed(), stalls.stop(), mostOnWire);

    // Scrolling, a page at a time, each page painted (photos on the way).
    const bool buildOnly = argc > 2 && QByteArray(argv[2]) == "build-only";
    if (!buildOnly) {
        QScrollBar *bar = tree.verticalScrollBar();
        QList<qint64> frames;
        const qint64 scrollCpu = threadCpuMs();
        stalls.start();
        for (int page = 0; page < 60 && bar->value() < bar->maximum(); ++page) {
            QElapsedTimer frame;
            frame.start();
            bar->setValue(bar->value() + bar->pageStep());
            tree.viewport()->repaint();
            QCoreApplication::processEvents();
            frames << frame.elapsed();
        }
        std::sort(frames.begin(), frames.end());
        const qint64 stall = stalls.stop();
        std::printf("scrolling %lld pages: frame median %lld ms, slowest %lld ms; longest GUI stall %lld ms; "
                    "GUI thread CPU %.1f ms a page\n",
                    qint64(frames.size()), frames.value(frames.size() / 2), frames.isEmpty() ? 0 : frames.last(), stall,
                    frames.isEmpty() ? 0.0 : double(threadCpuMs() - scrollCpu) / frames.size());

        // Expanding a contact: its entry and lines made, the rows laid out
        // again and painted.
        QTreeWidgetItem *group = tree.topLevelItem(0);
        QList<qint64> expands;
        QList<qint64> expandCpu;
        for (int i = 0; i < 5 && i < group->childCount(); ++i) {
            QElapsedTimer expand;
            expand.start();
            const qint64 cpuStart = threadCpuMs();
            tree.setCurrentItem(group->child(i));
            tree.viewport()->repaint();
            QCoreApplication::processEvents();
            expands << expand.elapsed();
            expandCpu << threadCpuMs() - cpuStart;
        }
        std::sort(expands.begin(), expands.end());
        std::sort(expandCpu.begin(), expandCpu.end());
        std::printf("expanding a contact: median %lld ms, slowest %lld ms (GUI thread CPU median %lld ms)\n",
                    expands.value(expands.size() / 2), expands.isEmpty() ? 0 : expands.last(),
                    expandCpu.value(expandCpu.size() / 2));

        // Every row has been shown: the photos of all of them are kept.
        stalls.start();
        while (photos->pending() > 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        const qint64 lastStall = stalls.stop();
        tree.viewport()->repaint();
        std::printf("every row shown, photos of %d x %d pixels (%lld bytes each): %ld KiB resident above the baseline, "
                    "longest GUI stall %lld ms\n",
                    photoSide, photoSide, qint64(photo.size()), residentKiB() - baseline, lastStall);
    }
    return 0;
}
