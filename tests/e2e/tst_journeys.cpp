// A subscriber's day with the softphone, end to end: the program built as
// its entry point builds it, the real IAX2 engine with a file microphone and
// a file speaker, the real devserver on loopback. Widgets are found by their
// object names and clicked; every step leaves a screenshot in
// shots/<journey>/, and every journey checks what the service recorded in
// its database (opened read-only) besides what the window shows.
//
// The journeys run in order on one logged-in window, as one session would:
// the echo test from the phonebook, a charged call found in the history and
// called again from there, a text message, a contact added, edited and
// deleted, the audio settings, the rates page, and credit bought on a
// billing page through a card processor on an https origin of its own. The
// account pages are shown by the program ondavox-pages, which the phone
// starts; the journeys read and click them through the phone's line to it.
#include "views/tlogin.h"
#include "base/tevent.h"
#include "app/pageswindows.h"
#include "app/tmainwindow.h"
#include "audio_analysis.h"
#include "devserver_process.h"
#include "testsupport.h"
#include "../views/contacttreesupport.h"
#include "views/tcontactinfo.h"
#include "views/tcontactphotos.h"
#include "views/tcontacttree.h"
#include "views/tcontactwidget.h"
#include "views/thistorylist.h"
#include "views/tphonewidget.h"
#include "wavfile.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QProcess>

#include <cmath>
#include <memory>

namespace {

constexpr int kLong = 30000; // generous: the machine may be busy

QString dollars(qlonglong cents)
{
    return QStringLiteral("$%1.%2").arg(cents / 100).arg(cents % 100, 2, 10, QLatin1Char('0'));
}

QString hms(qlonglong seconds)
{
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

// Every contact entry of the tree, by name, with its row.
struct Shown {
    QTreeWidgetItem *row = nullptr;
    TContactWidget *entry = nullptr;
    QString group;
};

QMap<QString, Shown> contactsOf(QTreeWidget *tree)
{
    QMap<QString, Shown> contacts;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        const QString group = tree->topLevelItem(i)->data(0, ROLE_GROUP_NAME).toString();
        for (int j = 0; j < tree->topLevelItem(i)->childCount(); ++j) {
            QTreeWidgetItem *row = tree->topLevelItem(i)->child(j);
            // Only the expanded contact has an entry widget of its own.
            contacts.insert(TContactTree::contactOf(row).name,
                            {row, qobject_cast<TContactWidget *>(tree->itemWidget(row, 0)), group});
        }
    }
    return contacts;
}

TPhoneWidget *lineOf(TContactWidget *entry, const QString &number)
{
    for (TPhoneWidget *line : entry->findChildren<TPhoneWidget *>())
        if (line->number() == number)
            return line;
    return nullptr;
}

// What a row of the call history shows.
struct HistoryRow {
    QTreeWidgetItem *item = nullptr;
    QString name;
    QString callNumber;
    QString duration;
};

QList<HistoryRow> historyOf(QTreeWidget *list)
{
    QList<HistoryRow> rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = list->topLevelItem(i);
        rows.append({item, item->data(0, ROLE_HISTORY_NAME).toString(), item->data(0, ROLE_HISTORY_PHONE).toString(),
                     item->data(0, ROLE_HISTORY_DURATION).toString()});
    }
    return rows;
}

// The kinds of the account-page windows on screen.
QStringList pageWindows()
{
    QStringList kinds;
    const auto windows = PagesWindows::instance()->windows();
    for (auto it = windows.begin(); it != windows.end(); ++it)
        if (it->visible)
            kinds << it.key();
    return kinds;
}

PagesWindows::Window pageWindow(const QString &kind)
{
    return PagesWindows::instance()->windows().value(kind);
}

// Runs script in the page of kind's window and waits for its result.
QVariant evaluate(const QString &kind, const QString &script)
{
    auto result = std::make_shared<QVariant>();
    auto done = std::make_shared<bool>(false);
    PagesWindows::instance()->run(kind, script, [result, done](const QJsonValue &value) {
        *result = value.toVariant();
        *done = true;
    });
    if (!QTest::qWaitFor([done] { return *done; }, kLong))
        qWarning("no answer from the page to: %s", qPrintable(script));
    return *result;
}

bool loadedHere(const char *library)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(library);
}

// A certificate authority of the test's own and a certificate for the card
// processor on 127.0.0.1 signed by it, made with openssl; the authority is
// trusted in a certificate store (NSS, which the browser engine reads) in
// home, the home the pages program is given. Nothing else trusts it.
QString makeTrustedCertificate(const QString &dir, const QString &home)
{
    const auto run = [&](const QString &program, const QStringList &arguments) {
        QProcess process;
        process.setWorkingDirectory(dir);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, arguments);
        if (!process.waitForFinished(60000) || process.exitCode() != 0)
            return program + QLatin1String(": ") + QString::fromLocal8Bit(process.readAll());
        return QString();
    };
    QFile extensions(QDir(dir).filePath(QStringLiteral("leaf.ext")));
    if (!extensions.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write leaf.ext");
    extensions.write("subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n");
    extensions.close();
    const QString nss = QStringLiteral("sql:") + home + QStringLiteral("/.pki/nssdb");
    QDir().mkpath(home + QStringLiteral("/.pki/nssdb"));
    const QList<QPair<QString, QStringList>> steps = {
        {QStringLiteral("openssl"),
         {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
          "-subj", "/CN=Ondavox journeys test authority", "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
          "keyUsage=critical,keyCertSign"}},
        {QStringLiteral("openssl"),
         {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", "card.key", "-out", "card.csr", "-subj", "/CN=127.0.0.1"}},
        {QStringLiteral("openssl"),
         {"x509", "-req", "-in", "card.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial", "-out",
          "card.pem", "-days", "2", "-extfile", "leaf.ext"}},
        {QStringLiteral("certutil"), {"-N", "--empty-password", "-d", nss}},
        {QStringLiteral("certutil"), {"-A", "-n", "journeys", "-t", "C,,", "-i", "ca.pem", "-d", nss}},
    };
    for (const auto &[program, arguments] : steps) {
        const QString failed = run(program, arguments);
        if (!failed.isEmpty())
            return failed;
    }
    return {};
}

// A change the service refuses ends in an error box: its text is kept and
// the box closed, so that the journey fails with the reason instead of
// waiting on the box.
void refuseOnError(QString *refusal)
{
    onNextModal(
        [refusal](QWidget *modal) {
            if (auto *box = qobject_cast<QMessageBox *>(modal); box && box->icon() == QMessageBox::Critical) {
                *refusal = box->text();
                box->done(QMessageBox::Ok);
            }
        },
        kLong);
}

QString pageText(const QString &kind)
{
    return evaluate(kind, QStringLiteral("document.body ? document.body.innerText : ''")).toString();
}

} // namespace

class TestJourneys : public QObject
{
    Q_OBJECT

public slots:
    // The desktop's side: what the program hands to the user's browser.
    void openUrl(const QUrl &url) { opened.append(url); }

private slots:
    void initTestCase();
    void cleanupTestCase();

    void phonebookAfterLogin();
    void echoTestFromThePhonebook();
    void chargedCallInTheHistory();
    void callAgainFromTheHistory();
    void textToAPhoneLine();
    void contactAddedEditedDeleted();
    void audioSettings();
    void ratesPage();
    void creditBoughtOnABillingPage();

private:
    template <typename T>
    T *child(const char *name) { return window->findChild<T *>(QString::fromLatin1(name)); }
    QVariant db(const QString &sql) const { return server->queryValue(sql); }
    qlonglong creditCents() const
    {
        return db(QStringLiteral("SELECT credit_cents FROM accounts WHERE email = 'demo@ondavox.com'")).toLongLong();
    }
    qlonglong newestCallId() const { return db(QStringLiteral("SELECT MAX(id) FROM calls")).toLongLong(); }
    QVariant callField(qlonglong id, const char *field) const
    {
        return db(QStringLiteral("SELECT %1 FROM calls WHERE id = %2").arg(QLatin1String(field)).arg(id));
    }
    QString creditShown() { return child<QPushButton>("pbCreditAmount")->text(); }
    QTreeWidget *tree() { return child<QTreeWidget>("twContacts"); }
    QWidget *currentPage() { return child<QStackedWidget>("swPages")->currentWidget(); }

    // The user picks a tab of the main window by clicking it.
    void clickTab(int index);
    // The user clicks a contact's row: it expands and shows its phone lines.
    TContactWidget *openContact(const QString &name);
    // Waits for the engine's answer to the call just placed.
    void waitForAnswer(const QSignalSpy &status);
    void hangUpAndWaitForTheRecord(qlonglong callId);

    // shots/<journey>/NN-name.png of the widget as the user sees it.
    void shot(const QString &journey, const QString &name, QWidget *widget = nullptr);
    // The same of the page window in front, a window of another program.
    void pageShot(const QString &journey, const QString &name);

    std::unique_ptr<DevServer> server;
    std::unique_ptr<SettingsSandbox> sandbox;
    QTemporaryDir audioDir;
    QTemporaryDir certificates;
    QTemporaryDir pagesHome;
    QString microphonePath;
    QString speakerPath;
    std::vector<std::int16_t> spoken;
    TMainWindow *window = nullptr;
    QMap<QString, int> shotCounters;
    QList<QUrl> opened;
};

void TestJourneys::shot(const QString &journey, const QString &name, QWidget *widget)
{
    if (!widget)
        widget = window;
    // Whatever is pending is laid out and painted first.
    QCoreApplication::processEvents();
    const QString folder = QStringLiteral(E2E_SHOTS_DIR "/") + journey;
    if (shotCounters.value(journey) == 0)
        QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    const int n = ++shotCounters[journey];
    const QString file = QStringLiteral("%1/%2-%3.png").arg(folder).arg(n, 2, 10, QLatin1Char('0')).arg(name);
    QVERIFY2(widget->grab().save(file), qPrintable(file));
}

void TestJourneys::pageShot(const QString &journey, const QString &name)
{
    QTest::qWait(500); // the page's first frame reaches the screen
    const QString folder = QStringLiteral(E2E_SHOTS_DIR "/") + journey;
    if (shotCounters.value(journey) == 0)
        QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    const int n = ++shotCounters[journey];
    const QString file = QStringLiteral("%1/%2-%3.png").arg(folder).arg(n, 2, 10, QLatin1Char('0')).arg(name);
    QCOMPARE(QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), file}),
             0);
}

void TestJourneys::initTestCase()
{
    // The microphone says four seconds of speech-like sound.
    QVERIFY(audioDir.isValid());
    microphonePath = audioDir.filePath(QStringLiteral("microphone.wav"));
    speakerPath = audioDir.filePath(QStringLiteral("speaker.wav"));
    spoken = audiotest::speechLike(4.0, 2024);
    QVERIFY(wavfile::write(microphonePath, spoken, 8000));
    qputenv("ONDAVOX_AUDIO_IN_FILE", QFile::encodeName(microphonePath));
    qputenv("ONDAVOX_AUDIO_OUT_FILE", QFile::encodeName(speakerPath));

    // A card processor on an https origin of its own, with a certificate
    // that only the pages program of this test trusts.
    QVERIFY(certificates.isValid() && pagesHome.isValid());
    const QString certificateError = makeTrustedCertificate(certificates.path(), pagesHome.path());
    QVERIFY2(certificateError.isEmpty(), qPrintable(certificateError));
    server = std::make_unique<DevServer>(QStringList{QStringLiteral("--card-cert"),
                                                     certificates.filePath(QStringLiteral("card.pem")),
                                                     QStringLiteral("--card-key"),
                                                     certificates.filePath(QStringLiteral("card.key"))});
    QString error;
    QVERIFY2(server->start(&error), qPrintable(error));
    qputenv("ONDAVOX_WEB_BASE", QByteArray("http://127.0.0.1:") + QByteArray::number(server->port()));
    qputenv("ONDAVOX_IAX2_HOST", QByteArray("127.0.0.1:") + QByteArray::number(server->iaxPort()));

    // Logged in before: the program logs in by itself (the first start with
    // a typed login is the installed program's journey).
    sandbox = std::make_unique<SettingsSandbox>();
    sandbox->storeLogin(QString::fromLatin1(kDemoEmail), passwordDigest(QString::fromLatin1(kDemoPassword)));

    // As the program's entry point does.
    window = new TMainWindow;
    setMainWindow(window);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window, kLong));
    // Logged in and on screen, the phone holds neither the browser engine
    // nor an OpenGL driver.
    QVERIFY(!loadedHere("libQt6WebEngine"));
    QVERIFY(!loadedHere("libLLVM"));
    QVERIFY(!loadedHere("libGLX_mesa"));
}

void TestJourneys::cleanupTestCase()
{
    setMainWindow(nullptr);
    delete window;
    window = nullptr;
    sandbox.reset();
    server.reset();
}

void TestJourneys::clickTab(int index)
{
    QTabBar *bar = child<QTabWidget>("twMainTabs")->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    QCOMPARE(bar->currentIndex(), index);
}

TContactWidget *TestJourneys::openContact(const QString &name)
{
    clickTab(0);
    const Shown shown = contactsOf(tree()).value(name);
    if (!shown.row)
        return nullptr;
    tree()->scrollToItem(shown.row);
    const QRect rect = tree()->visualItemRect(shown.row);
    QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, rect.center());
    if (tree()->currentItem() != shown.row)
        return nullptr;
    // Its lines are on screen once the row has grown.
    auto *entry = qobject_cast<TContactWidget *>(tree()->itemWidget(shown.row, 0));
    if (!entry)
        return nullptr;
    const bool linesShown = QTest::qWaitFor(
        [entry] {
            const auto lines = entry->findChildren<TPhoneWidget *>();
            return !lines.isEmpty() && lines.first()->isVisible();
        },
        kLong);
    return linesShown ? entry : nullptr;
}

void TestJourneys::waitForAnswer(const QSignalSpy &status)
{
    QTRY_VERIFY_WITH_TIMEOUT(!status.isEmpty() && status.last().at(0).toInt() == EVENT_CALL_ANSWERED, kLong);
}

void TestJourneys::hangUpAndWaitForTheRecord(qlonglong callId)
{
    QTest::mouseClick(currentPage()->findChild<QPushButton *>(QStringLiteral("pbHangUp")), Qt::LeftButton);
    QCOMPARE(currentPage()->objectName(), QStringLiteral("pContacts"));
    QTRY_VERIFY_WITH_TIMEOUT(!callField(callId, "end_time").isNull(), kLong);
}

void TestJourneys::phonebookAfterLogin()
{
    const QString journey = QStringLiteral("phonebook");
    // Logged in and registered, the phonebook and the balance shown.
    QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>("lblRegistration")->text(), QStringLiteral("Registered"), kLong);
    QVERIFY(child<QWidget>("wCall")->isEnabled());
    const int contactCount = db(QStringLiteral("SELECT COUNT(*) FROM contacts")).toInt();
    QTRY_COMPARE_WITH_TIMEOUT(contactsOf(tree()).size(), contactCount, kLong);
    QCOMPARE(tree()->topLevelItemCount(), db(QStringLiteral("SELECT COUNT(*) FROM contact_groups")).toInt());
    QTRY_COMPARE_WITH_TIMEOUT(creditShown(), dollars(creditCents()), kLong);
    // The photos of the rows in view arrived.
    QTRY_VERIFY_WITH_TIMEOUT(
        !tree()->findChild<TContactTree *>()->photos()->photo(TContactTree::contactOf(tree()->topLevelItem(0)->child(0))).isNull(),
        kLong);
    QTRY_COMPARE_WITH_TIMEOUT(tree()->findChild<TContactTree *>()->photos()->pending(), 0, kLong);
    shot(journey, QStringLiteral("logged-in"));
    QVERIFY(openContact(QStringLiteral("François Dubois")));
    shot(journey, QStringLiteral("contact-open"));
}

void TestJourneys::echoTestFromThePhonebook()
{
    const QString journey = QStringLiteral("echo-call");
    TContactWidget *echo = openContact(QStringLiteral("Echo test"));
    QVERIFY(echo);
    TPhoneWidget *line = lineOf(echo, QStringLiteral("999"));
    QVERIFY(line);
    shot(journey, QStringLiteral("contact-open"));

    const qlonglong before = newestCallId();
    const qlonglong creditBefore = creditCents();
    QSignalSpy status(window, &TMainWindow::phoneStatus);
    QTest::mouseClick(line->findChild<QPushButton *>(QStringLiteral("pbCall")), Qt::LeftButton);
    // The line asks the main window by a posted event.
    QTRY_COMPARE_WITH_TIMEOUT(currentPage()->objectName(), QStringLiteral("pCall"), kLong);
    QCOMPARE(currentPage()->findChild<QLabel *>(QStringLiteral("lblNumber"))->text(), QStringLiteral("+999"));
    shot(journey, QStringLiteral("calling"));

    waitForAnswer(status);
    QTRY_VERIFY_WITH_TIMEOUT(newestCallId() > before, kLong);
    const qlonglong callId = newestCallId();
    QCOMPARE(callField(callId, "number").toString(), QStringLiteral("999"));
    QVERIFY(!callField(callId, "answer_time").isNull());
    auto *duration = currentPage()->findChild<QLabel *>(QStringLiteral("leCallDuration"));
    QTRY_VERIFY_WITH_TIMEOUT(duration->text() != QStringLiteral("00:00:00"), kLong);
    shot(journey, QStringLiteral("answered"));

    // Keypad digits while the echo runs, as the server hears them.
    for (const QString &digit : {QStringLiteral("4"), QStringLiteral("2"), QStringLiteral("#")}) {
        QPushButton *key = nullptr;
        for (QPushButton *button : currentPage()->findChildren<QPushButton *>())
            if (button->property("class").toString() == QStringLiteral("dtmf-button") && button->text() == digit)
                key = button;
        QVERIFY2(key, qPrintable(digit));
        QTest::mouseClick(key, Qt::LeftButton);
    }
    QTRY_COMPARE_WITH_TIMEOUT(callField(callId, "dtmf").toString(), QStringLiteral("42#"), kLong);
    shot(journey, QStringLiteral("keypad"));

    // The speaker gets the whole spoken signal back, plus the way there and
    // back: wait until the file holds that much (it plays in real time).
    const std::size_t enough = spoken.size() + 8000;
    QTRY_VERIFY_WITH_TIMEOUT(wavfile::read(speakerPath).samples.size() >= enough, kLong);
    hangUpAndWaitForTheRecord(callId);
    QTRY_VERIFY_WITH_TIMEOUT(!status.isEmpty() && status.last().at(0).toInt() == EVENT_CALL_ENDED, kLong);
    shot(journey, QStringLiteral("hung-up"));

    // What the speaker played is the microphone's signal come back: the same
    // shape (cross-correlation, through the GSM codec twice) and about the
    // same loudness, some way later.
    const wavfile::Audio heard = wavfile::read(speakerPath);
    QCOMPARE(heard.sampleRate, 8000);
    QVERIFY(heard.samples.size() >= enough);
    const audiotest::Likeness likeness = audiotest::compare(spoken, heard.samples, 16000);
    qInfo("echo: lag %d samples, correlation %.2f whole, %.2f median window, %.2f worst window", likeness.lag,
          likeness.whole, likeness.medianWindow, likeness.worstWindow);
    QVERIFY(likeness.lag > 0);
    QVERIFY2(likeness.whole > 0.5, qPrintable(QString::number(likeness.whole)));
    QVERIFY2(likeness.medianWindow > 0.6, qPrintable(QString::number(likeness.medianWindow)));
    double spokenEnergy = 0;
    double heardEnergy = 0;
    for (std::size_t i = 0; i < spoken.size(); ++i) {
        spokenEnergy += double(spoken[i]) * spoken[i];
        const std::size_t j = i + std::size_t(likeness.lag);
        if (j < heard.samples.size())
            heardEnergy += double(heard.samples[j]) * heard.samples[j];
    }
    const double loudness = std::sqrt(heardEnergy / spokenEnergy);
    qInfo("echo: loudness %.2f of the spoken signal", loudness);
    QVERIFY2(loudness > 0.3 && loudness < 3.0, qPrintable(QString::number(loudness)));

    // The echo test is free.
    QCOMPARE(callField(callId, "cost_cents").toLongLong(), 0);
    QCOMPARE(creditCents(), creditBefore);
}

void TestJourneys::chargedCallInTheHistory()
{
    const QString journey = QStringLiteral("charged-call");
    auto *history = child<THistoryList>("twCallHistory");
    const qlonglong creditBefore = creditCents();
    QTRY_COMPARE_WITH_TIMEOUT(creditShown(), dollars(creditBefore), kLong);
    const int callsShownBefore = historyOf(history).size();

    // A German landline: it rings for a while, then answers.
    TContactWidget *contact = openContact(QStringLiteral("Zoë Müller"));
    QVERIFY(contact);
    TPhoneWidget *line = lineOf(contact, QStringLiteral("3012345678"));
    QVERIFY(line);
    const qlonglong before = newestCallId();
    QSignalSpy status(window, &TMainWindow::phoneStatus);
    QTest::mouseClick(line->findChild<QPushButton *>(QStringLiteral("pbCall")), Qt::LeftButton);
    // The line asks the main window by a posted event.
    QTRY_COMPARE_WITH_TIMEOUT(currentPage()->objectName(), QStringLiteral("pCall"), kLong);
    QCOMPARE(currentPage()->findChild<QLabel *>(QStringLiteral("lblNumber"))->text(), QStringLiteral("+493012345678"));
    QTRY_VERIFY_WITH_TIMEOUT(!status.isEmpty() && status.first().at(0).toInt() == EVENT_CALL_RINGING, kLong);
    shot(journey, QStringLiteral("ringing"));
    waitForAnswer(status);
    QTRY_VERIFY_WITH_TIMEOUT(newestCallId() > before, kLong);
    const qlonglong callId = newestCallId();
    QCOMPARE(callField(callId, "number").toString(), QStringLiteral("00493012345678"));

    // Held for more than a second: one minute is charged.
    auto *duration = currentPage()->findChild<QLabel *>(QStringLiteral("leCallDuration"));
    QTRY_VERIFY_WITH_TIMEOUT(duration->text() >= QStringLiteral("00:00:02"), kLong);
    shot(journey, QStringLiteral("answered"));
    hangUpAndWaitForTheRecord(callId);

    const qlonglong cost = callField(callId, "cost_cents").toLongLong();
    QCOMPARE(cost, 3); // $0.03 a minute to Germany
    QCOMPARE(creditCents(), creditBefore - cost);
    QTRY_COMPARE_WITH_TIMEOUT(creditShown(), dollars(creditBefore - cost), kLong);

    // The call is in the history with the duration the service recorded.
    clickTab(1);
    const int placedCalls = db(QStringLiteral("SELECT COUNT(*) FROM calls")).toInt();
    QVERIFY(placedCalls > callsShownBefore);
    QTRY_COMPARE_WITH_TIMEOUT(historyOf(history).size(), placedCalls, kLong);
    const qlonglong talk = callField(callId, "end_time").toLongLong() - callField(callId, "answer_time").toLongLong();
    QVERIFY(talk >= 1);
    // The first list may have been made before the service closed the call's
    // record; the program asks again shortly after the hang-up.
    HistoryRow entry;
    const auto recorded = [&] {
        for (const HistoryRow &row : historyOf(history))
            if (row.callNumber == QStringLiteral("493012345678")
                && row.duration.endsWith(QStringLiteral("Duration: ") + hms(talk)))
                entry = row;
        return entry.item != nullptr;
    };
    QTRY_VERIFY2_WITH_TIMEOUT(recorded(), "the call is not in the history with its duration", 10000);
    QCOMPARE(entry.name, QStringLiteral("Zoë Müller"));
    shot(journey, QStringLiteral("history"));
}

void TestJourneys::callAgainFromTheHistory()
{
    const QString journey = QStringLiteral("history-call");
    auto *history = child<THistoryList>("twCallHistory");
    clickTab(1);
    QTreeWidgetItem *entry = nullptr;
    for (const HistoryRow &row : historyOf(history))
        if (row.callNumber == QStringLiteral("493012345678"))
            entry = row.item;
    QVERIFY(entry);
    history->scrollToItem(entry);
    shot(journey, QStringLiteral("history"));

    const qlonglong before = newestCallId();
    const qlonglong creditBefore = creditCents();
    QSignalSpy status(window, &TMainWindow::phoneStatus);
    // The row's Call button, where the user sees it.
    QTest::mouseClick(history->viewport(), Qt::LeftButton, {}, history->callButtonRect(entry).center());
    QTRY_COMPARE_WITH_TIMEOUT(currentPage()->objectName(), QStringLiteral("pCall"), kLong);
    QTRY_VERIFY_WITH_TIMEOUT(newestCallId() > before, kLong);
    const qlonglong callId = newestCallId();
    QCOMPARE(callField(callId, "number").toString(), QStringLiteral("00493012345678"));
    shot(journey, QStringLiteral("calling-again"));
    waitForAnswer(status);
    auto *duration = currentPage()->findChild<QLabel *>(QStringLiteral("leCallDuration"));
    QTRY_VERIFY_WITH_TIMEOUT(duration->text() >= QStringLiteral("00:00:02"), kLong);
    shot(journey, QStringLiteral("answered"));
    hangUpAndWaitForTheRecord(callId);
    const qlonglong cost = callField(callId, "cost_cents").toLongLong();
    QCOMPARE(cost, 3);
    QTRY_COMPARE_WITH_TIMEOUT(creditShown(), dollars(creditBefore - cost), kLong);
    // Both of today's calls to this number.
    const auto callsTo = [history](const QString &number) {
        int n = 0;
        for (const HistoryRow &row : historyOf(history))
            n += row.callNumber == number ? 1 : 0;
        return n;
    };
    QTRY_COMPARE_WITH_TIMEOUT(callsTo(QStringLiteral("493012345678")), 2, kLong);
    QCOMPARE(historyOf(history).size(), db(QStringLiteral("SELECT COUNT(*) FROM calls")).toInt());
    shot(journey, QStringLiteral("history-after"));
}

void TestJourneys::textToAPhoneLine()
{
    const QString journey = QStringLiteral("text");
    TContactWidget *contact = openContact(QStringLiteral("François Dubois"));
    QVERIFY(contact);
    TPhoneWidget *line = lineOf(contact, QStringLiteral("2079460123"));
    QVERIFY(line);
    const qlonglong creditBefore = creditCents();
    const qlonglong textsBefore = db(QStringLiteral("SELECT COUNT(*) FROM texts")).toLongLong();
    const QString message = QStringLiteral("Running late, see you at 5 & keep the tea warm");

    QString success;
    QString numberShown;
    bool dialogSeen = false;
    onNextModal(
        [&](QWidget *modal) {
            auto *code = modal->findChild<QLineEdit *>(QStringLiteral("leCountryCode"));
            auto *number = modal->findChild<QLineEdit *>(QStringLiteral("leNumber"));
            if (modal->objectName() != QStringLiteral("TTextDialog") || !code || !number) {
                modal->close();
                return;
            }
            dialogSeen = true;
            // The line's number, filled in.
            numberShown = code->text() + QLatin1Char(' ') + number->text();
            QTest::keyClicks(modal->findChild<QPlainTextEdit *>(QStringLiteral("pteText")), message);
            shot(journey, QStringLiteral("text-dialog"), modal);
            // The service's answer comes in a message box.
            onNextModal(
                [&](QWidget *box) {
                    auto *messageBox = qobject_cast<QMessageBox *>(box);
                    QVERIFY(messageBox);
                    success = messageBox->text();
                    shot(journey, QStringLiteral("success-box"), messageBox);
                    QTest::mouseClick(messageBox->button(QMessageBox::Ok), Qt::LeftButton);
                },
                kLong);
            QTest::mouseClick(modal->findChild<QPushButton *>(QStringLiteral("pbSend")), Qt::LeftButton);
        },
        kLong);
    QTest::mouseClick(line->findChild<QPushButton *>(QStringLiteral("pbText")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(dialogSeen, kLong);
    QCOMPARE(numberShown, QStringLiteral("44 2079460123"));
    QTRY_COMPARE_WITH_TIMEOUT(success, QStringLiteral("Text message successfully sent"), kLong);

    QCOMPARE(db(QStringLiteral("SELECT COUNT(*) FROM texts")).toLongLong(), textsBefore + 1);
    QCOMPARE(db(QStringLiteral("SELECT body FROM texts ORDER BY id DESC LIMIT 1")).toString(), message);
    QVERIFY(db(QStringLiteral("SELECT number FROM texts ORDER BY id DESC LIMIT 1")).toString().endsWith(QStringLiteral("442079460123")));
    const qlonglong cost = db(QStringLiteral("SELECT cost_cents FROM texts ORDER BY id DESC LIMIT 1")).toLongLong();
    QCOMPARE(cost, 6);
    QTRY_COMPARE_WITH_TIMEOUT(creditShown(), dollars(creditBefore - cost), kLong);
    shot(journey, QStringLiteral("sent"));
}

void TestJourneys::contactAddedEditedDeleted()
{
    const QString journey = QStringLiteral("contacts");
    clickTab(0);
    QTRY_COMPARE_WITH_TIMEOUT(contactsOf(tree()).size(), db(QStringLiteral("SELECT COUNT(*) FROM contacts")).toInt(), kLong);
    const int before = contactsOf(tree()).size();
    const QString countAlex = QStringLiteral("SELECT COUNT(*) FROM contacts WHERE name = 'Alex Journey'");

    // Add: typed into the editor.
    bool edited = false;
    QString refusal;
    onNextModal(
        [&](QWidget *modal) {
            auto *editor = qobject_cast<TContactInfo *>(modal);
            if (!editor) {
                modal->close();
                return;
            }
            editor->findChild<QComboBox *>(QStringLiteral("cbGroup"))->setCurrentText(QStringLiteral("Friends"));
            QTest::keyClicks(editor->findChild<QLineEdit *>(QStringLiteral("leName")), QStringLiteral("Alex Journey"));
            QTest::keyClicks(editor->findChild<QLineEdit *>(QStringLiteral("leTitle")), QStringLiteral("Pilot"));
            QTest::keyClicks(editor->findChild<QLineEdit *>(QStringLiteral("leCompany")), QStringLiteral("Skyways"));
            QTest::keyClicks(editor->findChild<QLineEdit *>(QStringLiteral("leCountryCode")), QStringLiteral("33"));
            QTest::keyClicks(editor->findChild<QLineEdit *>(QStringLiteral("lePhoneNumber")), QStringLiteral("142685300"));
            editor->findChild<QComboBox *>(QStringLiteral("cbType"))->setCurrentText(QStringLiteral("Mobile"));
            shot(journey, QStringLiteral("add-editor"), editor);
            edited = true;
            refuseOnError(&refusal);
            QTest::mouseClick(editor->findChild<QPushButton *>(QStringLiteral("pbSave")), Qt::LeftButton);
        },
        kLong);
    QTest::mouseClick(child<QPushButton>("pbAddContact"), Qt::LeftButton);
    QVERIFY(edited);
    QVERIFY2(refusal.isEmpty(), qPrintable(refusal));
    QTRY_VERIFY_WITH_TIMEOUT(contactsOf(tree()).contains(QStringLiteral("Alex Journey")), kLong);
    QCOMPARE(contactsOf(tree()).size(), before + 1);
    QCOMPARE(contactsOf(tree()).value(QStringLiteral("Alex Journey")).group, QStringLiteral("Friends"));
    QCOMPARE(db(countAlex).toInt(), 1);
    QCOMPARE(db(QStringLiteral("SELECT country_code || ' ' || number || ' ' || type FROM phones JOIN contacts ON "
                               "contacts.id = phones.contact_id WHERE contacts.name = 'Alex Journey'"))
                 .toString(),
             QStringLiteral("33 142685300 Mobile"));
    QVERIFY(openContact(QStringLiteral("Alex Journey")));
    shot(journey, QStringLiteral("added"));

    // Edit: another name, and a second line.
    edited = false;
    QString nameShown;
    onNextModal(
        [&](QWidget *modal) {
            auto *editor = qobject_cast<TContactInfo *>(modal);
            if (!editor) {
                modal->close();
                return;
            }
            QLineEdit *name = editor->findChild<QLineEdit *>(QStringLiteral("leName"));
            nameShown = name->text();
            name->selectAll();
            QTest::keyClicks(name, QStringLiteral("Alex Voyage"));
            QTest::mouseClick(editor->findChild<QPushButton *>(QStringLiteral("pbAddPhone")), Qt::LeftButton);
            const auto codes = editor->findChildren<QLineEdit *>(QStringLiteral("leCountryCode"));
            const auto numbers = editor->findChildren<QLineEdit *>(QStringLiteral("lePhoneNumber"));
            if (codes.size() != 2) {
                editor->reject();
                return;
            }
            QLineEdit *newCode = codes.at(0)->text().isEmpty() ? codes.at(0) : codes.at(1);
            QLineEdit *newNumber = numbers.at(0)->text().isEmpty() ? numbers.at(0) : numbers.at(1);
            QTest::keyClicks(newCode, QStringLiteral("1"));
            QTest::keyClicks(newNumber, QStringLiteral("4155550123"));
            shot(journey, QStringLiteral("edit-editor"), editor);
            edited = true;
            refuseOnError(&refusal);
            QTest::mouseClick(editor->findChild<QPushButton *>(QStringLiteral("pbSave")), Qt::LeftButton);
        },
        kLong);
    // Edit Contact, from the row's menu; the editor opens from the event loop.
    onContextMenu(tree(), contactsOf(tree()).value(QStringLiteral("Alex Journey")).row,
                  [](QMenu *menu) { chooseInMenu(menu, QStringLiteral("Edit Contact")); });
    QTRY_VERIFY_WITH_TIMEOUT(edited, kLong);
    QCOMPARE(nameShown, QStringLiteral("Alex Journey"));
    QVERIFY2(refusal.isEmpty(), qPrintable(refusal));
    QTRY_VERIFY_WITH_TIMEOUT(contactsOf(tree()).contains(QStringLiteral("Alex Voyage")), kLong);
    QVERIFY(!contactsOf(tree()).contains(QStringLiteral("Alex Journey")));
    QCOMPARE(db(countAlex).toInt(), 0);
    QCOMPARE(db(QStringLiteral("SELECT COUNT(*) FROM phones JOIN contacts ON contacts.id = phones.contact_id "
                               "WHERE contacts.name = 'Alex Voyage'"))
                 .toInt(),
             2);
    TContactWidget *voyage = openContact(QStringLiteral("Alex Voyage"));
    QVERIFY(voyage);
    QCOMPARE(voyage->findChildren<TPhoneWidget *>().size(), 2);
    shot(journey, QStringLiteral("edited"));

    // Delete, after the question.
    bool asked = false;
    onNextModal(
        [&](QWidget *modal) {
            auto *question = qobject_cast<QMessageBox *>(modal);
            if (!question) {
                modal->close();
                return;
            }
            shot(journey, QStringLiteral("delete-question"), question);
            asked = true;
            QTest::mouseClick(question->button(QMessageBox::Yes), Qt::LeftButton);
        },
        kLong);
    onContextMenu(tree(), contactsOf(tree()).value(QStringLiteral("Alex Voyage")).row,
                  [](QMenu *menu) { chooseInMenu(menu, QStringLiteral("Delete Contact")); });
    QTRY_VERIFY_WITH_TIMEOUT(asked, kLong);
    QTRY_VERIFY_WITH_TIMEOUT(!contactsOf(tree()).contains(QStringLiteral("Alex Voyage")), kLong);
    QCOMPARE(contactsOf(tree()).size(), before);
    QCOMPARE(db(QStringLiteral("SELECT COUNT(*) FROM contacts WHERE name LIKE 'Alex %'")).toInt(), 0);
    shot(journey, QStringLiteral("deleted"));
}

void TestJourneys::audioSettings()
{
    const QString journey = QStringLiteral("settings");
    QStringList inputs;
    QStringList outputs;
    QStringList openedOn;
    onNextModal(
        [&](QWidget *modal) {
            auto *input = modal->findChild<QComboBox *>(QStringLiteral("cbInputDevice"));
            auto *output = modal->findChild<QComboBox *>(QStringLiteral("cbOutputDevice"));
            auto *save = modal->findChild<QPushButton *>(QStringLiteral("pbSave"));
            if (!input || !output || !save) {
                modal->close();
                return;
            }
            openedOn << input->currentText() << output->currentText();
            for (int i = 0; i < input->count(); ++i)
                inputs << input->itemText(i);
            for (int i = 0; i < output->count(); ++i)
                outputs << output->itemText(i);
            // The file microphone and the file speaker, chosen and kept.
            input->setCurrentIndex(int(inputs.indexOf(QRegularExpression(QStringLiteral(".*microphone\\.wav$")))));
            output->setCurrentIndex(int(outputs.indexOf(QRegularExpression(QStringLiteral(".*speaker\\.wav$")))));
            shot(journey, QStringLiteral("settings-dialog"), modal);
            QTest::mouseClick(save, Qt::LeftButton);
        },
        kLong);
    QTest::mouseClick(child<QPushButton>("pbSettings"), Qt::LeftButton);
    QVERIFY2(inputs.contains(QStringLiteral("File microphone: ") + microphonePath), qPrintable(inputs.join(", ")));
    QVERIFY2(outputs.contains(QStringLiteral("File speaker: ") + speakerPath), qPrintable(outputs.join(", ")));
    // With nothing stored the dialog opens on the devices in use, so a Save
    // without a choice cannot silence the phone.
    QCOMPARE(openedOn, QStringList({QStringLiteral("File microphone: ") + microphonePath,
                                    QStringLiteral("File speaker: ") + speakerPath}));
    // The engine numbers the file devices 2 and 3.
    QSettings stored(sandbox->filePath(), QSettings::IniFormat);
    QCOMPARE(stored.value(QStringLiteral("Input Device")).toInt(), 2);
    QCOMPARE(stored.value(QStringLiteral("Output Device")).toInt(), 3);
}

void TestJourneys::ratesPage()
{
    const QString journey = QStringLiteral("rates");
    const QString pages = QStringLiteral("pages");
    QVERIFY(pageWindows().isEmpty());
    // The pages program starts now, in the home whose certificate store
    // trusts the card processor; the phone keeps its own.
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(pagesHome.path()));
    QTest::mouseClick(child<QPushButton>("pbRates"), Qt::LeftButton);
    qputenv("HOME", home);
    QTRY_COMPARE_WITH_TIMEOUT(pageWindows(), QStringList{pages}, kLong);
    QTRY_VERIFY_WITH_TIMEOUT(pageText(pages).contains(QStringLiteral("Rates and charges")), kLong);
    QCOMPARE(pageWindow(pages).title, QStringLiteral("Rates and charges - Ondavox"));
    // The page is the logged-in account's: its balance is the one on the button.
    const QString balance = evaluate(pages, QStringLiteral("document.getElementById('balance') ? "
                                                           "document.getElementById('balance').innerText : ''"))
                                .toString();
    QCOMPARE(balance, dollars(creditCents()));
    QVERIFY(pageText(pages).contains(QStringLiteral("demo@ondavox.com")));
    pageShot(journey, QStringLiteral("rates-page"));
    // The browser engine runs in the pages program, not in the phone.
    QVERIFY(!loadedHere("libQt6WebEngine"));

    // A link away from the service goes to the user's browser; the window
    // stays on the service. (The same server under another name: were the
    // link followed, the page would load.)
    QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "openUrl");
    const QUrl onService = pageWindow(pages).url;
    const QString away = QStringLiteral("http://localhost:%1/Home/Rates.html").arg(server->port());
    evaluate(pages, QStringLiteral("var a = document.createElement('a'); a.href = '%1'; "
                                   "document.body.appendChild(a); a.click(); true").arg(away));
    QTRY_COMPARE_WITH_TIMEOUT(opened, QList<QUrl>{QUrl(away)}, kLong);
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QTest::qWait(500);
    QCOMPARE(pageWindow(pages).url, onService);
    QVERIFY(pageText(pages).contains(QStringLiteral("demo@ondavox.com")));
    PagesWindows::instance()->close(pages);
    QTRY_VERIFY_WITH_TIMEOUT(pageWindows().isEmpty(), kLong);
}

void TestJourneys::creditBoughtOnABillingPage()
{
    const QString journey = QStringLiteral("billing");
    const QString billing = QStringLiteral("billing");
    const qlonglong creditBefore = creditCents();
    QTRY_COMPARE_WITH_TIMEOUT(creditShown(), dollars(creditBefore), kLong);

    // The credit button's menu: Add $10.
    auto *credit = child<QPushButton>("pbCreditAmount");
    QMenu *menu = credit->menu();
    QVERIFY(menu);
    QAction *addTen = child<QAction>("actionAdd_10");
    QVERIFY(addTen);
    bool picked = false;
    auto *poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [&] {
        if (!menu->isVisible())
            return;
        poll->stop();
        shot(journey, QStringLiteral("credit-menu"), menu);
        picked = true;
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(addTen).center());
    });
    poll->start(20);
    QTest::mouseClick(credit, Qt::LeftButton); // the menu runs until an entry is picked
    QTRY_VERIFY_WITH_TIMEOUT(picked, kLong);
    delete poll;

    QTRY_COMPARE_WITH_TIMEOUT(pageWindows(), QStringList{billing}, kLong);
    QTRY_VERIFY_WITH_TIMEOUT(pageText(billing).contains(QStringLiteral("Amount to add")), kLong);
    QCOMPARE(evaluate(billing, QStringLiteral("document.getElementById('amount').innerText")).toString(),
             QStringLiteral("$10.00"));
    const QUrl service = pageWindow(billing).url;
    pageShot(journey, QStringLiteral("billing-page"));

    // Pay by card: the window goes to the card processor, another origin,
    // and its title says where the subscriber is.
    evaluate(billing, QStringLiteral("document.getElementById('payByCard').click(); true"));
    QTRY_VERIFY_WITH_TIMEOUT(pageText(billing).contains(QStringLiteral("Pay $10.00 to Ondavox")), kLong);
    const QUrl processor = pageWindow(billing).url;
    QCOMPARE(processor.scheme(), QStringLiteral("https"));
    QVERIFY(processor.port() != service.port());
    QCOMPARE(pageWindow(billing).title,
             QStringLiteral("127.0.0.1:%1 \u2014 Card payment").arg(processor.port()));
    // The login key stays with the service: the processor's page never saw it.
    const QString processorPage =
        evaluate(billing, QStringLiteral("document.documentElement.outerHTML")).toString();
    QVERIFY(processorPage.contains(QLatin1String("name=\"token\"")));
    QVERIFY(!processorPage.contains(QLatin1String("name=\"login\"")));

    // The card filled in and sent, as the subscriber would.
    evaluate(billing, QStringLiteral("document.getElementById('holder').value = 'Demo Subscriber';"
                                     "document.getElementById('card').value = '4111 1111 1111 1111';"
                                     "document.getElementById('expiry').value = '11/29'; true"));
    pageShot(journey, QStringLiteral("card-filled"));
    evaluate(billing, QStringLiteral("document.getElementById('confirm').click(); true"));

    // Back on the service's page, which tells what was paid.
    QTRY_VERIFY_WITH_TIMEOUT(pageText(billing).contains(QStringLiteral("$10.00 was added to your credit")), kLong);
    QCOMPARE(pageWindow(billing).url.port(), service.port());
    QCOMPARE(pageWindow(billing).title, QStringLiteral("Add credit - Ondavox"));
    pageShot(journey, QStringLiteral("paid"));

    // The service took the payment once, and the button shows the new balance.
    QCOMPARE(db(QStringLiteral("SELECT COUNT(*) FROM payments WHERE paid_time IS NOT NULL")).toInt(), 1);
    QCOMPARE(db(QStringLiteral("SELECT amount_cents FROM payments WHERE paid_time IS NOT NULL")).toLongLong(), 1000);
    QCOMPARE(creditCents(), creditBefore + 1000);
    QTRY_COMPARE_WITH_TIMEOUT(creditShown(), dollars(creditBefore + 1000), kLong);
    PagesWindows::instance()->close(billing);
    QTRY_VERIFY_WITH_TIMEOUT(pageWindows().isEmpty(), kLong);
    shot(journey, QStringLiteral("credit-risen"));
}

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("ONDAVOX_PAGES_PROGRAM"))
        qputenv("ONDAVOX_PAGES_PROGRAM", ONDAVOX_PAGES_PROGRAM_PATH);
    // As the program's entry point sets up the application.
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ondavox"));
    QApplication::setDesktopFileName(QStringLiteral("ondavox"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/Icon.png")));
    TestJourneys journeys;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&journeys, argc, argv);
}

#include "tst_journeys.moc"
