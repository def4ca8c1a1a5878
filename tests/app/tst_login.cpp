// Logging in: the client's login request and reply, and the login dialog with
// its remembered credentials, against a real HTTP responder on loopback.
#include "account/taccount.h"
#include "views/tlogin.h"
#include "views/sharppicture.h"
#include "base/settings.h"
#include "httpresponder.h"
#include "testsupport.h"

#include <QCryptographicHash>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

namespace {

const QByteArray LoginPath = "/Webservices/login.php";
const QByteArray ContactsPath = "/Webservices/contacts.php";
const QByteArray GoodLogin = R"({"Username":"1000","Password":"s3cret-1000","Key":12345})";

QByteArray md5Hex(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();
}

} // namespace

class TestLogin : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // First: nothing in this process has read a picture before it.
    void picturesShowWithoutLoadingImagePlugins();

    void successStoresCredentialsThenLoadsPhonebook();
    void requestEncodesEmailAndPassword();
    void refusedLoginChangesNothing();
    void transportFailureIsNotSuccess_data();
    void transportFailureIsNotSuccess();

    void firstStartWaitsForTheUser();
    void autoLoginSendsStoredDigestAndKeepsIt();
    void newPasswordStoresItsDigestPrivately();
    void wrongCredentialsKeepDialogOpen();
    void unreachableServiceShowsWhyAndStoresNothing();
    void blankFieldsAreIgnored();
    void emailIsSentAndStoredUntrimmed();
    void settingsMoveWhenProgramFolderIsNotWritable();

private:
    HttpResponder *responder = nullptr;
    SettingsSandbox *sandbox = nullptr;
};

void TestLogin::init()
{
    responder = new HttpResponder;
    qputenv("ONDAVOX_WEB_BASE", responder->baseUrl().toUtf8());
    sandbox = new SettingsSandbox;
}

void TestLogin::cleanup()
{
    delete sandbox;
    delete responder;
    qunsetenv("ONDAVOX_WEB_BASE");
}

void TestLogin::successStoresCredentialsThenLoadsPhonebook()
{
    responder->setReply(LoginPath, GoodLogin);
    TAccount account;
    QSignalSpy result(&account, &TAccount::loginResult);
    account.setEmail(QStringLiteral("demo@ondavox.com"));
    account.setPassword(QStringLiteral("pw"));
    account.login();

    QVERIFY(result.wait());
    QCOMPARE(result.takeFirst().at(0).toBool(), true);
    QCOMPARE(account.username(), QStringLiteral("1000"));
    QCOMPARE(account.password(), QStringLiteral("s3cret-1000"));
    QCOMPARE(account.key(), QStringLiteral("12345")); // a number is kept as its text

    // The phonebook follows a moment later, not with the reply itself.
    QVERIFY(responder->requestsFor(ContactsPath).isEmpty());
    QVERIFY(responder->waitForRequest(ContactsPath, 3000));
    const auto contacts = responder->requestsFor(ContactsPath);
    QCOMPARE(contacts.size(), 1);
    QCOMPARE(contacts.first().method, QByteArray("GET"));
    QCOMPARE(contacts.first().query(), QByteArray("login=12345"));
}

void TestLogin::requestEncodesEmailAndPassword()
{
    responder->setReply(LoginPath, GoodLogin);
    TAccount account;
    QSignalSpy result(&account, &TAccount::loginResult);
    account.setEmail(QStringLiteral(" a+b@x.com"));
    account.setPassword(QString::fromUtf8("p&ss=1#%é"));
    account.login();
    QVERIFY(result.wait());

    const auto requests = responder->requestsFor(LoginPath);
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().method, QByteArray("GET"));
    QCOMPARE(requests.first().query(), QByteArray("email=%20a%2Bb%40x.com&password=p%26ss%3D1%23%25%E9"));
}

void TestLogin::refusedLoginChangesNothing()
{
    responder->setReply(LoginPath, "false");
    TAccount account;
    QSignalSpy result(&account, &TAccount::loginResult);
    QSignalSpy error(&account, &TAccount::loginError);
    account.setEmail(QStringLiteral("demo@ondavox.com"));
    account.setPassword(QStringLiteral("typed"));
    account.login();

    QVERIFY(result.wait());
    QCOMPARE(result.takeFirst().at(0).toBool(), false);
    QCOMPARE(error.size(), 0);
    QCOMPARE(account.password(), QStringLiteral("typed"));
    QVERIFY(account.key().isEmpty());
    QTest::qWait(400);
    QVERIFY(responder->requestsFor(ContactsPath).isEmpty());
}

void TestLogin::transportFailureIsNotSuccess_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("drop");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QString>("reason");
    QTest::newRow("server error") << 500 << QByteArray(GoodLogin) << false << false << QStringLiteral("error 500");
    QTest::newRow("not found") << 404 << QByteArray() << false << false << QStringLiteral("error 404");
    QTest::newRow("dropped") << 200 << QByteArray() << true << false << QStringLiteral("closed");
    QTest::newRow("unreadable body") << 200 << QByteArray("<html>maintenance</html>") << false << false << QStringLiteral("cannot be read");
    QTest::newRow("empty body") << 200 << QByteArray() << false << false << QStringLiteral("cannot be read");
    QTest::newRow("refused") << 0 << QByteArray() << false << true << QStringLiteral("refused");
}

void TestLogin::transportFailureIsNotSuccess()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, drop);
    QFETCH(bool, refused);
    QFETCH(QString, reason);

    if (refused) {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const quint16 port = closed.serverPort();
        closed.close();
        qputenv("ONDAVOX_WEB_BASE", QByteArray("http://127.0.0.1:") + QByteArray::number(port));
    } else {
        responder->setReply(LoginPath, HttpResponder::Reply{status, body, 0, drop});
    }

    TAccount account;
    QSignalSpy result(&account, &TAccount::loginResult);
    QSignalSpy error(&account, &TAccount::loginError);
    account.setEmail(QStringLiteral("demo@ondavox.com"));
    account.setPassword(QStringLiteral("pw"));
    account.login();

    QVERIFY(error.wait());
    QCOMPARE(result.size(), 0);
    QVERIFY2(error.first().at(0).toString().contains(reason), qPrintable(error.first().at(0).toString()));
    QVERIFY(account.username().isEmpty());
    QVERIFY(account.key().isEmpty());
}

void TestLogin::picturesShowWithoutLoadingImagePlugins()
{
    TAccount account;
    TLogin dialog(&account);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    // The header's blue picture behind its title, and the lock at its size.
    const QColor header = dialog.grab().toImage().pixelColor(5, 60);
    QVERIFY2(header.blue() > header.red() + 60, qPrintable(header.name()));
    const auto *lock = dialog.findChild<QLabel *>(QStringLiteral("label_3"));
    QVERIFY(lock);
    QCOMPARE(lock->pixmap().deviceIndependentSize().toSize(), QSize(110, 110));
    // Reading them loaded none of the image plugins (GIF, ICO, JPEG...): a
    // start that did would pay for them before its first window.
    QFile maps(QStringLiteral("/proc/self/maps"));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    QVERIFY(!maps.readAll().contains("/imageformats/"));
    // On a screen of ratio 2 the same picture comes from its @2x file, as
    // sharp as the screen, and as large as before to the eye.
    const QPixmap twice = sharpPicture(QStringLiteral(":/Images/Lock.png"), 2.0);
    QCOMPARE(twice.devicePixelRatio(), 2.0);
    QCOMPARE(twice.size(), QSize(220, 220));
    QCOMPARE(twice.deviceIndependentSize().toSize(), QSize(110, 110));
}

void TestLogin::firstStartWaitsForTheUser()
{
    responder->setReply(LoginPath, GoodLogin);
    TAccount account;
    TLogin dialog(&account);
    auto *email = dialog.findChild<QLineEdit *>(QStringLiteral("leEmail"));
    auto *password = dialog.findChild<QLineEdit *>(QStringLiteral("lePassword"));
    QVERIFY(email && password);
    QVERIFY(email->text().isEmpty());
    QVERIFY(password->text().isEmpty());
    QCOMPARE(password->echoMode(), QLineEdit::Password);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Log in to your Ondavox account"));
    QCOMPARE(dialog.size(), QSize(490, 275));
    QTest::qWait(400);
    QVERIFY(responder->requests().isEmpty());
    // Reading the settings created no file: only the first write does.
    QVERIFY(!QFile::exists(sandbox->filePath()));
}

void TestLogin::autoLoginSendsStoredDigestAndKeepsIt()
{
    const QByteArray digest = md5Hex("ondavox-demo");
    sandbox->storeLogin(QStringLiteral("demo@ondavox.com"), digest);
    responder->setReply(LoginPath, GoodLogin);

    TAccount account;
    TLogin dialog(&account);
    auto *password = dialog.findChild<QLineEdit *>(QStringLiteral("lePassword"));
    QCOMPARE(password->echoMode(), QLineEdit::NoEcho);
    QCOMPARE(password->text(), QString::fromLatin1(digest));

    QSignalSpy finished(&dialog, &QDialog::finished);
    dialog.open();
    QVERIFY(finished.wait());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));

    const auto requests = responder->requestsFor(LoginPath);
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().query(), QByteArray("email=demo%40ondavox.com&password=") + digest);

    // The stored digest is the password's, not a digest of the digest.
    QSettings stored(sandbox->filePath(), QSettings::IniFormat);
    QCOMPARE(stored.value(QStringLiteral("Login/Password")).toByteArray(), digest);
}

void TestLogin::newPasswordStoresItsDigestPrivately()
{
    responder->setReply(LoginPath, GoodLogin);
    TAccount account;
    TLogin dialog(&account);
    QSignalSpy finished(&dialog, &QDialog::finished);
    dialog.open();
    QTest::keyClicks(dialog.findChild<QLineEdit *>(QStringLiteral("leEmail")), QStringLiteral("demo@ondavox.com"));
    dialog.findChild<QLineEdit *>(QStringLiteral("lePassword"))->setText(QString::fromUtf8("pässword")); // typed; keyClicks knows only ASCII
    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("pbLogin")), Qt::LeftButton);
    QVERIFY(finished.wait());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));

    QSettings stored(sandbox->filePath(), QSettings::IniFormat);
    QCOMPARE(stored.value(QStringLiteral("Login/Email")).toString(), QStringLiteral("demo@ondavox.com"));
    QCOMPARE(stored.value(QStringLiteral("Login/Password")).toString(), QString::fromLatin1(md5Hex("p\xe4ssword")));

    QFile file(sandbox->filePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("@ByteArray("));
    QCOMPARE(file.permissions() & (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther),
             QFileDevice::Permissions());
}

void TestLogin::wrongCredentialsKeepDialogOpen()
{
    responder->setReply(LoginPath, "false");
    TAccount account;
    TLogin dialog(&account);
    dialog.open();
    auto *email = dialog.findChild<QLineEdit *>(QStringLiteral("leEmail"));
    QTest::keyClicks(email, QStringLiteral("demo@ondavox.com"));
    QTest::keyClicks(dialog.findChild<QLineEdit *>(QStringLiteral("lePassword")), QStringLiteral("wrong"));

    QString message;
    closeNextMessageBox(&message);
    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("pbLogin")), Qt::LeftButton);
    QTRY_COMPARE(message, QStringLiteral("You have entered wrong credentials. Please try again."));

    QVERIFY(dialog.isVisible());
    QVERIFY(email->isEnabled());
    QVERIFY(dialog.findChild<QPushButton *>(QStringLiteral("pbLogin"))->isEnabled());
    QCOMPARE(email->text(), QStringLiteral("demo@ondavox.com"));
    QSettings stored(sandbox->filePath(), QSettings::IniFormat);
    QVERIFY(!stored.contains(QStringLiteral("Login/Email")));
}

void TestLogin::unreachableServiceShowsWhyAndStoresNothing()
{
    responder->setReply(LoginPath, HttpResponder::Reply{503, QByteArray(), 0, false});
    sandbox->storeLogin(QStringLiteral("demo@ondavox.com"), md5Hex("x"));
    TAccount account;
    TLogin dialog(&account);
    QString message;
    closeNextMessageBox(&message);
    dialog.open(); // logs in by itself
    QTRY_VERIFY(!message.isEmpty());
    QVERIFY2(message.contains(QStringLiteral("cannot be reached")), qPrintable(message));
    QVERIFY(message.contains(QStringLiteral("503")));
    QVERIFY(dialog.isVisible());
    QVERIFY(account.username().isEmpty());
    QVERIFY(dialog.findChild<QLineEdit *>(QStringLiteral("lePassword"))->isEnabled());
}

void TestLogin::blankFieldsAreIgnored()
{
    responder->setReply(LoginPath, GoodLogin);
    TAccount account;
    TLogin dialog(&account);
    dialog.open();
    QTest::keyClicks(dialog.findChild<QLineEdit *>(QStringLiteral("leEmail")), QStringLiteral("demo@ondavox.com"));
    QTest::keyClicks(dialog.findChild<QLineEdit *>(QStringLiteral("lePassword")), QStringLiteral("   "));
    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("pbLogin")), Qt::LeftButton);
    QTest::qWait(200);
    QVERIFY(responder->requests().isEmpty());
    QVERIFY(dialog.findChild<QPushButton *>(QStringLiteral("pbLogin"))->isEnabled());
}

void TestLogin::emailIsSentAndStoredUntrimmed()
{
    responder->setReply(LoginPath, GoodLogin);
    TAccount account;
    TLogin dialog(&account);
    QSignalSpy finished(&dialog, &QDialog::finished);
    dialog.open();
    QTest::keyClicks(dialog.findChild<QLineEdit *>(QStringLiteral("leEmail")), QStringLiteral(" demo@ondavox.com "));
    QTest::keyClicks(dialog.findChild<QLineEdit *>(QStringLiteral("lePassword")), QStringLiteral("pw"));
    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("pbLogin")), Qt::LeftButton);
    QVERIFY(finished.wait());
    QVERIFY(responder->requestsFor(LoginPath).first().query().startsWith("email=%20demo%40ondavox.com%20&"));
    QSettings stored(sandbox->filePath(), QSettings::IniFormat);
    QCOMPARE(stored.value(QStringLiteral("Login/Email")).toString(), QStringLiteral(" demo@ondavox.com "));
}

void TestLogin::settingsMoveWhenProgramFolderIsNotWritable()
{
    QTemporaryDir programFolder;
    QCOMPARE(Settings::folderFor(programFolder.path()), programFolder.path());

    const QString configFolder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QVERIFY(!configFolder.isEmpty());
    QCOMPARE(Settings::folderFor(programFolder.path() + QStringLiteral("/missing")), configFolder);

    // Without the test sandbox, an unwritable program folder sends reads and
    // writes alike to the configuration folder.
    QFile notAFolder(programFolder.path() + QStringLiteral("/file"));
    QVERIFY(notAFolder.open(QIODevice::WriteOnly));
    notAFolder.close();
    QCOMPARE(Settings::folderFor(notAFolder.fileName()), configFolder);

    // An installed program keeps nothing in the system's folders, not even
    // when its user may write there (root); a look-alike path elsewhere is
    // no system folder.
    QCOMPARE(Settings::folderFor(QStringLiteral("/usr/bin")), configFolder);
    QVERIFY(Settings::isSystemFolder(QStringLiteral("/usr/local/bin/")));
    QVERIFY(Settings::isSystemFolder(QStringLiteral("/bin")));
    QVERIFY(!Settings::isSystemFolder(QStringLiteral("/usrdata/bin")));
    QVERIFY(!Settings::isSystemFolder(programFolder.path()));
}

QTEST_MAIN(TestLogin)
#include "tst_login.moc"
