// Downloads a phonebook of N contacts (three phones each) from a loopback
// responder and rebuilds the contact tree from it, offscreen; then lets every
// contact's photo arrive. Prints the time to the finished tree, to the laid
// out view and to the last photo, the peak memory, and how many photo
// requests were on the wire at once. One size per run, so that the peak
// memory is that size's own.
#include "account/taccount.h"
#include "account/tlogin.h"
#include "app/tevent.h"
#include "app/tmainwindow.h"
#include "httpresponder.h"
#include "testsupport.h"
#include "views/tcontactwidget.h"
#include "views/titemdelegate.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

namespace {

long peakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

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

QByteArray photo()
{
    QImage image(50, 50, QImage::Format_RGB32);
    image.fill(QColor(90, 140, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
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
    responder.setReply("/Phonebook/GetContactPhoto.html", photo());

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
    account.setContactsTree(&tree);
    QSignalSpy loggedIn(&account, &TAccount::loginResult);
    account.login();
    loggedIn.wait(5000);
    QTest::qWait(400); // the login's own (empty) phonebook download
    responder.setReply("/Webservices/contacts.php", book);
    const long before = peakKiB();

    auto countContacts = [&tree] {
        int n = 0;
        for (int i = 0; i < tree.topLevelItemCount(); ++i)
            n += tree.topLevelItem(i)->childCount();
        return n;
    };

    int mostOnWire = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { mostOnWire = std::max(mostOnWire, connectionsTo(port)); });

    int photoRequests = 0;
    QObject::connect(&responder, &HttpResponder::requestReceived, [&photoRequests](const QByteArray &path) {
        if (path == "/Phonebook/GetContactPhoto.html")
            ++photoRequests;
    });
    const bool buildOnly = argc > 2 && QByteArray(argv[2]) == "build-only";

    for (int round = 1; round <= 2; ++round) {
        QElapsedTimer clock;
        clock.start();
        photoRequests = 0;
        QTreeWidgetItem *oldFirst = tree.topLevelItem(0);
        account.loadContacts();
        while (tree.topLevelItem(0) == oldFirst || countContacts() != contacts)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const qint64 built = clock.elapsed();
        if (buildOnly) {
            std::printf("tree built %lld ms, peak memory %ld MiB (%ld MiB before)\n", built, peakKiB() / 1024, before / 1024);
            return 0;
        }
        // The view lays its rows out and paints them.
        tree.doItemsLayout();
        tree.viewport()->repaint();
        QCoreApplication::processEvents();
        const qint64 shown = clock.elapsed();

        sampler.start(250);
        auto photosPending = [&tree] {
            const auto entries = tree.findChildren<TContactWidget *>();
            return std::any_of(entries.begin(), entries.end(), [](TContactWidget *entry) { return entry->isPhotoPending(); });
        };
        while (photoRequests < contacts)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        while (photosPending())
            QTest::qWait(5);
        const qint64 photos = clock.elapsed();
        sampler.stop();

        std::printf("%s %d contacts (%d phone lines): tree built %lld ms, laid out and painted %lld ms, "
                    "all photos %lld ms; photo requests on the wire at once: at most %d\n",
                    round == 1 ? "download" : "refresh ", contacts, contacts * 3, built, shown, photos, mostOnWire);
    }
    std::printf("peak memory %ld MiB (%ld MiB before the download), phonebook reply %lld KiB\n", peakKiB() / 1024,
                before / 1024, qint64(book.size() / 1024));
    return 0;
}
