// ondavox-devserver: a stand-in for the Ondavox service on one machine.
// It serves the web API and pages over HTTP, answers IAX2 registrations and
// calls, and keeps its state in SQLite.
#include "iax/iax_server.h"
#include "store.h"
#include "store_iax_backend.h"
#include "web/card_processor.h"
#include "web/faults.h"
#include "web/web_server.h"

#include <QCommandLineParser>
#include <QDir>
#include <QGuiApplication>
#include <QStandardPaths>

#include <csignal>
#include <cstdio>
#include <exception>
#include <pthread.h>

namespace {

struct Options {
    QString httpAddress;
    int httpPort = 8080;
    QString iaxAddress;
    int iaxPort = 4569;
    devserver::Impairment iaxImpairment;
    devserver::EncryptionMode iaxEncryption = devserver::EncryptionMode::Offer;
    QString databasePath;
    devserver::web::WebConfig web;
    // The card processor, with a certificate only.
    int cardPort = 0;
    QString cardCertificate;
    QString cardKey;
};

[[noreturn]] void optionError(const QString &text)
{
    std::fprintf(stderr, "ondavox-devserver: %s\n", qPrintable(text));
    std::exit(2);
}

QString defaultDatabasePath()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (!dir.isEmpty() && QDir().mkpath(dir))
        return QDir(dir).filePath(QStringLiteral("ondavox-devserver.sqlite"));
    return QStringLiteral("ondavox-devserver.sqlite");
}

Options parseOptions(const QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Stand-in Ondavox service: web API, pages and store."));
    parser.addHelpOption();
    const QCommandLineOption httpAddress(QStringLiteral("http-address"),
                                         QStringLiteral("Address to serve HTTP on (default 127.0.0.1)."),
                                         QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption httpPort(QStringLiteral("http-port"),
                                      QStringLiteral("HTTP port (default 8080; 0 takes any free port)."),
                                      QStringLiteral("port"), QStringLiteral("8080"));
    const QCommandLineOption db(QStringLiteral("db"),
                                QStringLiteral("SQLite database file (default: %1).").arg(defaultDatabasePath()),
                                QStringLiteral("file"));
    const QCommandLineOption updateVersion(QStringLiteral("update-version"),
                                           QStringLiteral("Announce this program version (e.g. 102) as an update."),
                                           QStringLiteral("number"));
    const QCommandLineOption updateUrlWin(QStringLiteral("update-url-win"),
                                          QStringLiteral("Download address of the update for Windows."),
                                          QStringLiteral("url"));
    const QCommandLineOption updateUrlMac(QStringLiteral("update-url-mac"),
                                          QStringLiteral("Download address of the update for macOS."),
                                          QStringLiteral("url"));
    const QCommandLineOption fault(QStringLiteral("fault"),
                                   QStringLiteral("Misbehave on a path (\"*\" for all): <path>=false, =malformed, "
                                                  "=status:<code>, =delay:<ms> or =drop. Repeatable."),
                                   QStringLiteral("path=kind"));
    const QCommandLineOption logRequests(QStringLiteral("log-requests"),
                                         QStringLiteral("Print every HTTP request on the standard error stream."));
    const QCommandLineOption historyLimit(QStringLiteral("history-limit"),
                                          QStringLiteral("List at most this many calls in a history reply (default 200)."),
                                          QStringLiteral("number"), QStringLiteral("200"));
    const QCommandLineOption iaxAddress(QStringLiteral("iax-address"),
                                        QStringLiteral("Address to serve IAX2 on (default 127.0.0.1)."),
                                        QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption iaxPort(QStringLiteral("iax-port"),
                                     QStringLiteral("IAX2 UDP port (default 4569; 0 takes any free port)."),
                                     QStringLiteral("port"), QStringLiteral("4569"));
    // Test impairments of the voice the IAX2 side sends back.
    const QCommandLineOption iaxLoss(QStringLiteral("iax-loss"),
                                     QStringLiteral("Lose this percentage of the voice frames sent (default 0)."),
                                     QStringLiteral("percent"), QStringLiteral("0"));
    const QCommandLineOption iaxJitter(QStringLiteral("iax-jitter"),
                                       QStringLiteral("Delay each voice frame sent by up to this many ms (default 0)."),
                                       QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption iaxDuplicate(QStringLiteral("iax-duplicate"),
                                          QStringLiteral("Send this percentage of the voice frames twice (default 0)."),
                                          QStringLiteral("percent"), QStringLiteral("0"));
    const QCommandLineOption iaxReorder(QStringLiteral("iax-reorder"),
                                        QStringLiteral("Hold back this percentage of the voice frames behind the next "
                                                       "(default 0)."),
                                        QStringLiteral("percent"), QStringLiteral("0"));
    const QCommandLineOption encryption(QStringLiteral("encryption"),
                                        QStringLiteral("AES-128 for calls: off, offer (encrypt the calls that offer "
                                                       "it) or require (refuse the others). Default offer."),
                                        QStringLiteral("mode"), QStringLiteral("offer"));
    const QCommandLineOption cardCertificate(
        QStringLiteral("card-cert"),
        QStringLiteral("Serve a card processor over HTTPS with this certificate (PEM), beside the billing pages."),
        QStringLiteral("file"));
    const QCommandLineOption cardKey(QStringLiteral("card-key"),
                                     QStringLiteral("The card processor's private key (PEM)."), QStringLiteral("file"));
    const QCommandLineOption cardPort(QStringLiteral("card-port"),
                                      QStringLiteral("The card processor's port (default 0: any free port)."),
                                      QStringLiteral("port"), QStringLiteral("0"));
    parser.addOptions({cardCertificate, cardKey, cardPort});
    parser.addOptions({httpAddress, httpPort, iaxAddress, iaxPort, db, updateVersion, updateUrlWin, updateUrlMac, fault, logRequests,
                       historyLimit, iaxLoss, iaxJitter, iaxDuplicate, iaxReorder, encryption});
    const QCommandLineOption iaxImpairFor(QStringLiteral("iax-impair-for"),
                                          QStringLiteral("Impair the voice only for the first SECONDS of each "
                                                         "answered call (default 0: the whole call)."),
                                          QStringLiteral("seconds"), QStringLiteral("0"));
    parser.addOption(iaxImpairFor);
    parser.process(app);

    Options options;
    options.httpAddress = parser.value(httpAddress);
    bool ok = false;
    options.httpPort = parser.value(httpPort).toInt(&ok);
    if (!ok || options.httpPort < 0 || options.httpPort > 65535)
        optionError(QStringLiteral("--http-port needs a number from 0 to 65535"));
    options.cardPort = parser.value(cardPort).toInt(&ok);
    if (!ok || options.cardPort < 0 || options.cardPort > 65535)
        optionError(QStringLiteral("--card-port needs a number from 0 to 65535"));
    options.cardCertificate = parser.value(cardCertificate);
    options.cardKey = parser.value(cardKey);
    if (options.cardCertificate.isEmpty() != options.cardKey.isEmpty())
        optionError(QStringLiteral("--card-cert and --card-key go together"));
    options.iaxAddress = parser.value(iaxAddress);
    options.iaxPort = parser.value(iaxPort).toInt(&ok);
    if (!ok || options.iaxPort < 0 || options.iaxPort > 65535)
        optionError(QStringLiteral("--iax-port needs a number from 0 to 65535"));
    const auto percent = [&](const QCommandLineOption &option) {
        const double value = parser.value(option).toDouble(&ok);
        if (!ok || value < 0 || value > 100)
            optionError(QStringLiteral("--%1 needs a percentage from 0 to 100").arg(option.names().first()));
        return value;
    };
    options.iaxImpairment.lossPercent = percent(iaxLoss);
    options.iaxImpairment.duplicatePercent = percent(iaxDuplicate);
    options.iaxImpairment.reorderPercent = percent(iaxReorder);
    const int jitter = parser.value(iaxJitter).toInt(&ok);
    if (!ok || jitter < 0 || jitter > 10000)
        optionError(QStringLiteral("--iax-jitter needs a number of milliseconds from 0 to 10000"));
    options.iaxImpairment.jitterMs = static_cast<std::uint32_t>(jitter);
    const int impairFor = parser.value(iaxImpairFor).toInt(&ok);
    if (!ok || impairFor < 0 || impairFor > 86400)
        optionError(QStringLiteral("--iax-impair-for needs a number of seconds from 0 to 86400"));
    options.iaxImpairment.forMs = static_cast<std::uint32_t>(impairFor) * 1000;
    const QString mode = parser.value(encryption);
    if (mode == QLatin1String("off"))
        options.iaxEncryption = devserver::EncryptionMode::Off;
    else if (mode == QLatin1String("offer"))
        options.iaxEncryption = devserver::EncryptionMode::Offer;
    else if (mode == QLatin1String("require"))
        options.iaxEncryption = devserver::EncryptionMode::Require;
    else
        optionError(QStringLiteral("--encryption needs off, offer or require"));
    options.databasePath = parser.isSet(db) ? parser.value(db) : defaultDatabasePath();
    if (parser.isSet(updateVersion)) {
        const int version = parser.value(updateVersion).toInt(&ok);
        if (!ok)
            optionError(QStringLiteral("--update-version needs a whole number"));
        options.web.updateVersion = version;
    }
    options.web.updateUrlWin = parser.value(updateUrlWin).toStdString();
    options.web.updateUrlMac = parser.value(updateUrlMac).toStdString();
    for (const QString &spec : parser.values(fault)) {
        if (const auto error = devserver::web::addFault(options.web.faults, spec.toStdString()))
            optionError(QStringLiteral("--fault: ") + QString::fromStdString(*error));
    }
    options.web.logRequests = parser.isSet(logRequests);
    const int limit = parser.value(historyLimit).toInt(&ok);
    if (!ok || limit < 0)
        optionError(QStringLiteral("--history-limit needs a whole number from 0 up"));
    options.web.historyLimit = static_cast<std::size_t>(limit);
    return options;
}

} // namespace

int main(int argc, char *argv[])
{
    // Fonts for the contact avatars need a GUI application, never a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    // The main thread waits for these; threads started later inherit the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ondavox-devserver"));
    const Options options = parseOptions(app);

    devserver::Store store;
    std::string error;
    if (!store.open(options.databasePath.toStdString(), &error)) {
        std::fprintf(stderr, "ondavox-devserver: cannot open %s: %s\n", qPrintable(options.databasePath),
                     error.c_str());
        return 1;
    }
    std::fprintf(stderr, "ondavox-devserver: database %s\n", qPrintable(options.databasePath));
    try {
        if (store.seedDemoAccountIfEmpty())
            std::fprintf(stderr, "ondavox-devserver: created the demo account demo@ondavox.com\n");
    } catch (const std::exception &e) {
        std::fprintf(stderr, "ondavox-devserver: cannot write %s: %s\n", qPrintable(options.databasePath), e.what());
        return 1;
    }

    // The IAX2 side: registrar and call endpoint over the same store.
    // Started before the HTTP side, so that a softphone finds both up.
    devserver::StoreIaxBackend iaxBackend(store);
    devserver::IaxServerOptions iaxOptions;
    iaxOptions.address = options.iaxAddress.toStdString();
    iaxOptions.port = static_cast<std::uint16_t>(options.iaxPort);
    iaxOptions.core.impairment = options.iaxImpairment;
    iaxOptions.core.encryption = options.iaxEncryption;
    devserver::IaxServer iax(iaxBackend, iaxOptions);
    if (!iax.start(&error)) {
        std::fprintf(stderr, "ondavox-devserver: iax2: %s\n", error.c_str());
        return 1;
    }
    std::printf("iax2 listening on %s:%u\n", iaxOptions.address.c_str(), unsigned(iax.port()));
    std::fflush(stdout);

    // The card processor is bound first, so that the billing pages can name
    // it; it serves once the service's address is known.
    devserver::web::CardProcessor cards(store);
    devserver::web::WebConfig webConfig = options.web;
    if (!options.cardCertificate.isEmpty()) {
        if (!cards.bind(options.httpAddress.toStdString(), options.cardPort, options.cardCertificate.toStdString(),
                        options.cardKey.toStdString(), &error)) {
            std::fprintf(stderr, "ondavox-devserver: %s\n", error.c_str());
            return 1;
        }
        webConfig.cardProcessor = "https://" + options.httpAddress.toStdString() + ":" + std::to_string(cards.port());
    }
    devserver::web::WebServer web(store, webConfig);
    if (!web.start(options.httpAddress.toStdString(), options.httpPort, &error)) {
        std::fprintf(stderr, "ondavox-devserver: %s\n", error.c_str());
        return 1;
    }
    const std::string serviceBase = "http://" + options.httpAddress.toStdString() + ":" + std::to_string(web.port());
    if (!webConfig.cardProcessor.empty()) {
        cards.serve(serviceBase);
        std::printf("card processor listening on %s\n", webConfig.cardProcessor.c_str());
    }
    std::printf("http listening on %s\n", serviceBase.c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    std::fprintf(stderr, "ondavox-devserver: stopping\n");
    web.stop();
    cards.stop();
    iax.stop();
    return 0;
}
