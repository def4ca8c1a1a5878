// A working day of the softphone, compressed: the real main window, logged in
// to a real devserver with the real IAX2 engine, driven through the slots its
// timers and buttons drive, as fast as the service answers. Run by hand:
//
//   QT_QPA_PLATFORM=offscreen build/bench/app/soak_bench            # a whole day
//   QT_QPA_PLATFORM=offscreen build/bench/app/soak_bench --scale 0.1
//
// A day is 30,000 credit polls, 500 history refreshes of 300 calls, 200
// phonebook refreshes and 100 short echo-test calls, interleaved as the
// timers would interleave them. After the first tenth (the warm-up) and at
// the end it samples private memory (RssAnon), the heap in use, descriptors and
// sockets, threads and live Qt objects (timers among them), and prints what
// grew. Before the day it measures a history of --big-history calls: the
// time from the service's reply to the painted list, and memory per entry.
//
// Each step waits for the program's own handling of the reply before the
// next starts, so nothing piles up that a day at the real pace would not
// pile up.
#include "base/tevent.h"
#include "app/tmainwindow.h"
#include "devserver_process.h"
#include "testsupport.h"
#include "views/tlogin.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <sqlite3.h>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <cstdio>
#include <map>
#include <mutex>
#include <unordered_set>

// Qt's object hooks (as debugging tools use them): every QObject's
// construction and destruction is reported, which gives a census of live
// objects by class without touching the program.
extern Q_DECL_IMPORT quintptr qtHookData[];

namespace {

constexpr int kHookAddObject = 3;
constexpr int kHookRemoveObject = 4;
constexpr int kLong = 30000;

std::mutex liveLock;
std::unordered_set<QObject *> *liveObjects = nullptr;

void objectAdded(QObject *object)
{
    std::lock_guard<std::mutex> lock(liveLock);
    liveObjects->insert(object);
}

void objectRemoved(QObject *object)
{
    std::lock_guard<std::mutex> lock(liveLock);
    liveObjects->erase(object);
}

void installObjectCensus()
{
    liveObjects = new std::unordered_set<QObject *>;
    qtHookData[kHookAddObject] = reinterpret_cast<quintptr>(&objectAdded);
    qtHookData[kHookRemoveObject] = reinterpret_cast<quintptr>(&objectRemoved);
}

std::map<QByteArray, int> liveByClass()
{
    std::lock_guard<std::mutex> lock(liveLock);
    std::map<QByteArray, int> counts;
    for (QObject *object : *liveObjects)
        ++counts[object->metaObject()->className()];
    return counts;
}

template <typename T>
QList<T *> liveOf()
{
    std::lock_guard<std::mutex> lock(liveLock);
    QList<T *> found;
    for (QObject *object : *liveObjects)
        if (object->thread() == qApp->thread())
            if (auto *typed = qobject_cast<T *>(object))
                found << typed;
    return found;
}

QObject *liveNamed(const char *className)
{
    std::lock_guard<std::mutex> lock(liveLock);
    for (QObject *object : *liveObjects)
        if (object->thread() == qApp->thread() && qstrcmp(object->metaObject()->className(), className) == 0)
            return object;
    return nullptr;
}

// The proc files report no size: read them whole, then by line.
QList<QByteArray> procLines(const char *path)
{
    QFile file(QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().split('\n');
}

long fieldKiB(const QByteArray &line)
{
    return line.mid(line.indexOf(':') + 1).simplified().split(' ').value(0).toLong();
}

long statusKiB(const char *field)
{
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray &line : procLines("/proc/self/status"))
        if (line.startsWith(prefix))
            return fieldKiB(line);
    return -1;
}

// Private_Dirty of every mapping: what this process alone has written. (The
// clean private pages are library code read in from disk, which comes and
// goes with the page cache.)
long privateDirtyKiB()
{
    long total = 0;
    for (const QByteArray &line : procLines("/proc/self/smaps_rollup"))
        if (line.startsWith("Private_Dirty:"))
            total += fieldKiB(line);
    return total;
}

struct Sample {
    long rssAnonKiB = 0;
    long privateDirtyKiB = 0;
    long heapInUseKiB = 0;
    int fds = 0;
    int sockets = 0;
    int threads = 0;
    int timers = 0;       // live QTimer objects
    int activeTimers = 0; // timers registered with the GUI thread's dispatcher
    int objects = 0;
    std::map<QByteArray, int> byClass;
};

Sample sample()
{
    // What the program has already let go of is gone before counting.
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
    Sample s;
    s.rssAnonKiB = statusKiB("RssAnon");
    s.privateDirtyKiB = privateDirtyKiB();
    s.heapInUseKiB = long(mallinfo2().uordblks / 1024);
    s.threads = int(statusKiB("Threads"));
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QFileInfo &fd : fds.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
        ++s.fds;
        char target[256] = {};
        const ssize_t n = readlink(fd.filePath().toLocal8Bit().constData(), target, sizeof target - 1);
        if (n > 0 && qstrncmp(target, "socket:", 7) == 0)
            ++s.sockets;
    }
    s.byClass = liveByClass();
    for (const auto &[name, count] : s.byClass)
        s.objects += count;
    s.timers = s.byClass.count("QTimer") ? s.byClass.at("QTimer") : 0;
    for (QObject *object : liveOf<QObject>())
        s.activeTimers += int(QAbstractEventDispatcher::instance()->registeredTimers(object).size());
    return s;
}

void print(const char *title, const Sample &s)
{
    std::printf("%s: private memory (RssAnon) %.1f MB (private dirty %.1f MB, heap in use %.1f MB), %d fds (%d "
                "sockets), %d threads, %d QTimers (%d timers running), %d QObjects\n",
                title, s.rssAnonKiB / 1024.0, s.privateDirtyKiB / 1024.0, s.heapInUseKiB / 1024.0, s.fds, s.sockets,
                s.threads, s.timers, s.activeTimers, s.objects);
    std::fflush(stdout);
}

void printGrowth(const Sample &before, const Sample &after)
{
    std::printf("growth over the soak: RssAnon %+ld KiB, private dirty %+ld KiB, heap in use %+ld KiB, fds %+d, "
                "sockets %+d, threads %+d, QTimers %+d, timers running %+d, QObjects %+d\n",
                after.rssAnonKiB - before.rssAnonKiB, after.privateDirtyKiB - before.privateDirtyKiB,
                after.heapInUseKiB - before.heapInUseKiB, after.fds - before.fds, after.sockets - before.sockets,
                after.threads - before.threads, after.timers - before.timers,
                after.activeTimers - before.activeTimers, after.objects - before.objects);
    for (const auto &[name, count] : after.byClass) {
        const auto was = before.byClass.find(name);
        const int earlier = was == before.byClass.end() ? 0 : was->second;
        if (count != earlier)
            std::printf("  %+5d %s (%d -> %d)\n", count - earlier, name.constData(), earlier, count);
    }
    for (const auto &[name, count] : before.byClass)
        if (!after.byClass.count(name))
            std::printf("  %+5d %s (%d -> 0)\n", -count, name.constData(), count);
    std::fflush(stdout);
}

// Runs loop until done() holds (checked whenever the loop is quit) or the
// time is up; unlike QTest::qWaitFor it does not nap between checks.
template <typename Done>
bool waitUntil(QEventLoop &loop, Done done, int timeoutMs)
{
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    timeout.start(timeoutMs);
    while (!done() && timeout.isActive())
        loop.exec();
    return done();
}

// The devserver's database, written beside the running server (SQLite locks).
class Database
{
public:
    explicit Database(const QString &path)
    {
        sqlite3_open(path.toUtf8().constData(), &db);
        sqlite3_busy_timeout(db, 10000);
    }
    ~Database() { sqlite3_close(db); }
    bool exec(const QString &sql)
    {
        char *error = nullptr;
        if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &error) != SQLITE_OK) {
            std::fprintf(stderr, "sqlite: %s\n", error ? error : "?");
            sqlite3_free(error);
            return false;
        }
        return true;
    }
    // The demo account's history made exactly calls long: the seeded calls
    // and whatever the bench placed go, made-up calls of the last weeks come.
    bool setHistory(int calls)
    {
        if (!exec(QStringLiteral("BEGIN; DELETE FROM calls WHERE account_id = (SELECT id FROM accounts WHERE email = "
                                 "'demo@ondavox.com');")))
            return false;
        for (int i = 0; i < calls; ++i) {
            const qint64 start = 1700000000 + qint64(i) * 3607;
            const bool answered = i % 4 != 3;
            exec(QStringLiteral("INSERT INTO calls (account_id, number, start_time, answer_time, end_time, cost_cents) "
                                "SELECT id, '%1', %2, %3, %4, %5 FROM accounts WHERE email = 'demo@ondavox.com';")
                     .arg(i % 5 == 0 ? QStringLiteral("999") : QStringLiteral("0044207946%1").arg(1000 + i % 9000))
                     .arg(start)
                     .arg(answered ? QString::number(start + 5) : QStringLiteral("NULL"))
                     .arg(start + 5 + (answered ? 30 + i % 600 : 0))
                     .arg(answered ? 3 : 0));
        }
        return exec(QStringLiteral("COMMIT;"));
    }

private:
    sqlite3 *db = nullptr;
};

// Replies as the program's managers finish them, by path. A manager emits
// finished before the reply's own handler runs, in the same call: once a
// count has moved and control is back in the event loop, the program has
// handled that reply.
class ReplyCounter : public QObject
{
public:
    void watch(QNetworkAccessManager *manager)
    {
        if (watched.contains(manager))
            return;
        watched << manager;
        connect(manager, &QNetworkAccessManager::finished, this, [this](QNetworkReply *reply) {
            const QString path = reply->url().path();
            ++counts[path];
            if (path == historyPath && onHistoryReply)
                onHistoryReply();
            // Quit takes effect once this reply's handlers have all run.
            if (path == waitPath && counts.value(path) >= waitTimes)
                loop.quit();
        });
    }
    void watchAll()
    {
        for (QNetworkAccessManager *manager : liveOf<QNetworkAccessManager>())
            watch(manager);
    }
    int count(const QString &path) const { return counts.value(path); }
    // Waits until path has been answered `times` times.
    bool waitFor(const QString &path, int times, int timeoutMs = kLong)
    {
        waitPath = path;
        waitTimes = times;
        const bool done = waitUntil(loop, [&] { return counts.value(path) >= times; }, timeoutMs);
        waitPath.clear();
        return done;
    }

    const QString historyPath = QStringLiteral("/History/PlacedCallsDataAPI.html");
    // Runs as a history reply arrives, before the program handles it.
    std::function<void()> onHistoryReply;

private:
    QList<QPointer<QNetworkAccessManager>> watched;
    QHash<QString, int> counts;
    QEventLoop loop;
    QString waitPath;
    int waitTimes = 0;
};

const QString kCredit = QStringLiteral("/Credit/GetCredit.html");
const QString kHistory = QStringLiteral("/History/PlacedCallsDataAPI.html");
const QString kContacts = QStringLiteral("/Webservices/contacts.php");
const QString kPhoto = QStringLiteral("/Phonebook/GetContactPhoto.html");

// Notes when the list's viewport has been painted and the paint is over.
class PaintWatch : public QObject
{
public:
    explicit PaintWatch(QWidget *viewport)
        : viewport(viewport)
    {
        viewport->installEventFilter(this);
    }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == viewport && event->type() == QEvent::Paint && armed) {
            armed = false;
            // Runs once the paint (and the flush of the window) is done.
            QTimer::singleShot(0, this, [this] { paintedAt = clock->nsecsElapsed(); });
        }
        return false;
    }
    QWidget *viewport;
    const QElapsedTimer *clock = nullptr;
    bool armed = false;
    qint64 paintedAt = -1;
};

class Soak
{
public:
    Soak(TMainWindow *window, DevServer *server, ReplyCounter *replies)
        : window(window)
        , server(server)
        , replies(replies)
    {
    }

    bool creditPoll()
    {
        const int before = replies->count(kCredit);
        QMetaObject::invokeMethod(window, "onCreditTimerTimeout");
        return replies->waitFor(kCredit, before + 1);
    }

    bool historyRefresh()
    {
        const int before = replies->count(kHistory);
        QMetaObject::invokeMethod(window, "onCallHistoryTimer");
        return replies->waitFor(kHistory, before + 1);
    }

    bool phonebookRefresh()
    {
        QObject *account = liveNamed("TAccount");
        if (!account)
            return false;
        const int before = replies->count(kContacts);
        QMetaObject::invokeMethod(account, "loadContacts");
        if (!replies->waitFor(kContacts, before + 1))
            return false;
        // The photos of the new entries come one by one; done when a while
        // passes without one.
        int photos = -1;
        while (photos != replies->count(kPhoto)) {
            photos = replies->count(kPhoto);
            QTest::qWait(60);
        }
        return true;
    }

    // The echo test: dialled as from the number field, answered, hung up;
    // the engine then reports the end, which refreshes the history again.
    bool shortCall(Database &db, int historySize)
    {
        int answered = 0;
        int ended = 0;
        QEventLoop loop;
        const auto connection = QObject::connect(window, &TMainWindow::phoneStatus, &loop, [&](int code) {
            answered += code == EVENT_CALL_ANSWERED;
            ended += code == EVENT_CALL_ENDED;
            loop.quit();
        });
        const int histories = replies->count(kHistory);
        QMetaObject::invokeMethod(window, "call", Q_ARG(QString, QStringLiteral("999")));
        bool ok = waitUntil(loop, [&] { return answered > 0; }, kLong);
        QMetaObject::invokeMethod(window, "hangUp");
        ok = ok && waitUntil(loop, [&] { return ended > 0; }, kLong);
        // The hang-up and the end each ask for the history.
        ok = ok && replies->waitFor(kHistory, histories + 2);
        QObject::disconnect(connection);
        // The history keeps its size: the day's calls are not the point.
        db.setHistory(historySize);
        return ok;
    }

    // The same few steps before every sample, so that the connection pools
    // and caches are in the same state each time; then three seconds, in
    // which the devserver closes the connections idle for two (the credit
    // timer keeps its own one busy) and other threads release what they
    // hold.
    Sample settledSample(Database &db, int historySize, bool withCall)
    {
        bool ok = phonebookRefresh();
        if (withCall)
            ok = ok && shortCall(db, historySize);
        ok = ok && historyRefresh() && creditPoll();
        if (!ok)
            std::fprintf(stderr, "a step before the sample got no answer\n");
        QTest::qWait(3000);
        return sample();
    }

    TMainWindow *window;
    DevServer *server;
    ReplyCounter *replies;
};

} // namespace

int main(int argc, char *argv[])
{
    installObjectCensus();
    // The program's debug lines (every call state, every number) would
    // drown the figures.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type != QtDebugMsg && type != QtInfoMsg)
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A day of the softphone against the devserver, compressed."));
    parser.addHelpOption();
    const QCommandLineOption scale(QStringLiteral("scale"), QStringLiteral("Fraction of a day to run (default 1)."),
                                   QStringLiteral("fraction"), QStringLiteral("1"));
    const QCommandLineOption historySize(QStringLiteral("history-size"),
                                         QStringLiteral("Calls in the history (default 300)."), QStringLiteral("n"),
                                         QStringLiteral("300"));
    const QCommandLineOption bigHistory(QStringLiteral("big-history"),
                                        QStringLiteral("Calls in the history timed alone (default 1000, 0 skips)."),
                                        QStringLiteral("n"), QStringLiteral("1000"));
    const QCommandLineOption noCalls(QStringLiteral("no-calls"), QStringLiteral("Leave out the echo-test calls."));
    parser.addOptions({scale, historySize, bigHistory, noCalls});
    parser.process(app);
    const double fraction = parser.value(scale).toDouble();
    const int size = parser.value(historySize).toInt();
    const int big = parser.value(bigHistory).toInt();
    const int credits = qMax(1, int(30000 * fraction));
    const int histories = qMax(1, int(500 * fraction));
    const int phonebooks = qMax(1, int(200 * fraction));
    const int calls = parser.isSet(noCalls) ? 0 : qMax(1, int(100 * fraction));

    // Long histories are listed whole.
    DevServer server({QStringLiteral("--history-limit"), QString::number(qMax(size, big) + 1000)});
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "devserver: %s\n", qPrintable(error));
        return 1;
    }
    Database db(server.databasePath());
    if (!db.setHistory(size))
        return 1;
    qputenv("ONDAVOX_WEB_BASE", QByteArray("http://127.0.0.1:") + QByteArray::number(server.port()));
    qputenv("ONDAVOX_IAX2_HOST", QByteArray("127.0.0.1:") + QByteArray::number(server.iaxPort()));
    SettingsSandbox sandbox;
    sandbox.storeLogin(QString::fromLatin1(kDemoEmail), passwordDigest(QString::fromLatin1(kDemoPassword)));

    // As the program's entry point does.
    auto *window = new TMainWindow;
    setMainWindow(window);
    window->show();
    ReplyCounter replies;
    replies.watchAll();
    // The first history, balance and phonebook, every photo.
    if (!replies.waitFor(kHistory, 1) || !replies.waitFor(kCredit, 1) || !replies.waitFor(kContacts, 1)) {
        std::fprintf(stderr, "the window did not load its account\n");
        return 1;
    }
    replies.watchAll(); // the phonebook's photo manager may come late
    Soak soak(window, &server, &replies);
    soak.phonebookRefresh();
    auto *history = window->findChild<QTreeWidget *>(QStringLiteral("twCallHistory"));
    std::printf("history of %d calls shown as %d rows; %d credit polls, %d history refreshes, %d phonebook "
                "refreshes, %d calls\n",
                size, history->topLevelItemCount(), credits, histories, phonebooks, calls);

    if (big > 0) {
        // The history tab in front, so that the list is painted.
        window->findChild<QTabWidget *>(QStringLiteral("twMainTabs"))->setCurrentIndex(1);
        db.setHistory(0);
        soak.historyRefresh();
        const Sample empty = sample();
        db.setHistory(big);
        QElapsedTimer clock;
        clock.start();
        PaintWatch painted(history->viewport());
        painted.clock = &clock;
        std::vector<double> times;
        qint64 replyAt = -1;
        replies.onHistoryReply = [&] {
            replyAt = clock.nsecsElapsed();
            painted.paintedAt = -1;
            painted.armed = true;
        };
        for (int run = 0; run < 5; ++run) {
            soak.historyRefresh();
            if (!QTest::qWaitFor([&] { return painted.paintedAt >= 0; }, kLong))
                std::fprintf(stderr, "the list was not painted\n");
            times.push_back((painted.paintedAt - replyAt) / 1e6);
        }
        replies.onHistoryReply = nullptr;
        const Sample full = sample();
        std::sort(times.begin(), times.end());
        std::printf("history of %d calls: reply to painted list %.1f ms (median of 5; %.1f..%.1f), %d rows; "
                    "per entry %.2f KiB RssAnon, %.2f KiB heap\n",
                    big, times[2], times.front(), times.back(), history->topLevelItemCount(),
                    double(full.rssAnonKiB - empty.rssAnonKiB) / big, double(full.heapInUseKiB - empty.heapInUseKiB) / big);
        db.setHistory(size);
        soak.historyRefresh();
        window->findChild<QTabWidget *>(QStringLiteral("twMainTabs"))->setCurrentIndex(0);
    }

    // The day: per history refresh (a minute), its share of credit polls,
    // phonebook refreshes and calls. The first tenth warms up.
    const int warmUp = qMax(1, histories / 10);
    Sample afterWarmUp;
    QElapsedTimer elapsed;
    elapsed.start();
    int creditsDone = 0;
    int phonebooksDone = 0;
    int callsDone = 0;
    qint64 creditNs = 0, historyNs = 0, phonebookNs = 0, callNs = 0;
    QElapsedTimer step;
    for (int minute = 0; minute < histories; ++minute) {
        if (minute == warmUp) {
            afterWarmUp = soak.settledSample(db, size, calls > 0);
            print("after warm-up", afterWarmUp);
        }
        const int creditTarget = int(qint64(credits) * (minute + 1) / histories);
        step.start();
        for (; creditsDone < creditTarget; ++creditsDone)
            if (!soak.creditPoll()) {
                std::fprintf(stderr, "credit poll %d got no answer\n", creditsDone);
                return 1;
            }
        creditNs += step.nsecsElapsed();
        step.start();
        if (!soak.historyRefresh()) {
            std::fprintf(stderr, "history refresh %d got no answer\n", minute);
            return 1;
        }
        historyNs += step.nsecsElapsed();
        step.start();
        for (; phonebooksDone < int(qint64(phonebooks) * (minute + 1) / histories); ++phonebooksDone)
            if (!soak.phonebookRefresh()) {
                std::fprintf(stderr, "phonebook refresh %d got no answer\n", phonebooksDone);
                return 1;
            }
        phonebookNs += step.nsecsElapsed();
        step.start();
        for (; callsDone < int(qint64(calls) * (minute + 1) / histories); ++callsDone)
            if (!soak.shortCall(db, size)) {
                std::fprintf(stderr, "call %d did not go through\n", callsDone);
                return 1;
            }
        callNs += step.nsecsElapsed();
    }
    if (histories <= warmUp) {
        afterWarmUp = soak.settledSample(db, size, calls > 0);
        print("after warm-up", afterWarmUp);
    }
    const Sample end = soak.settledSample(db, size, calls > 0);
    print("end of the day", end);
    std::printf("the day took %.1f s: %d credit polls (%.2f ms each), %d history refreshes (%.1f ms each), "
                "%d phonebook refreshes (%.1f ms each), %d calls (%.0f ms each)\n",
                elapsed.elapsed() / 1000.0, creditsDone, creditNs / 1e6 / qMax(1, creditsDone), histories,
                historyNs / 1e6 / histories, phonebooksDone, phonebookNs / 1e6 / qMax(1, phonebooksDone), callsDone,
                callNs / 1e6 / qMax(1, callsDone));
    printGrowth(afterWarmUp, end);

    setMainWindow(nullptr);
    delete window;
    return 0;
}
