// The devserver's prices as rules on plain values, without a database: which
// rate a number takes, what a call and a text message cost.
#include "charging.h"

#include <QtTest>

using namespace devserver;

namespace {

// The service's table, as its database is seeded.
const std::vector<Rate> kRates = {
    {"001", "United States and Canada", 2, 5},   {"0044", "United Kingdom", 3, 6},
    {"00447", "United Kingdom mobile", 9, 6},    {"0049", "Germany", 3, 6},
    {"0033", "France", 4, 7},                    {"00", "All other destinations", 10, 10},
    {"999", "Echo test", 0, std::nullopt},
};

QString prefixOf(const std::string &number)
{
    const auto rate = charging::rateFor(kRates, number);
    return rate ? QString::fromStdString(rate->prefix) : QStringLiteral("none");
}

} // namespace

class DevServerChargingTest : public QObject {
    Q_OBJECT

private slots:
    void aNumberTakesTheLongestMatchingPrefix_data()
    {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("UK mobile") << "00447700900123" << "00447";
        QTest::newRow("UK landline") << "00442079460123" << "0044";
        QTest::newRow("US") << "0012125550143" << "001";
        QTest::newRow("Germany") << "004915112345678" << "0049";
        QTest::newRow("elsewhere") << "0081312345678" << "00";
        QTest::newRow("echo test") << "999" << "999";
        QTest::newRow("echo test is whole") << "9990" << "none";
        QTest::newRow("not international") << "4412" << "none";
        QTest::newRow("empty") << "" << "none";
    }
    void aNumberTakesTheLongestMatchingPrefix()
    {
        QFETCH(QString, number);
        QFETCH(QString, prefix);
        QCOMPARE(prefixOf(number.toStdString()), prefix);
    }

    void callsCostEveryStartedMinuteUpToTheCreditLeft()
    {
        const std::int64_t answer = 1700000000;
        QCOMPARE(charging::callCost(answer, answer, 9, 1000), 0);
        QCOMPARE(charging::callCost(answer, answer + 1, 9, 1000), 9);
        QCOMPARE(charging::callCost(answer, answer + 60, 9, 1000), 9);
        QCOMPARE(charging::callCost(answer, answer + 61, 9, 1000), 18);
        QCOMPARE(charging::callCost(answer, answer + 3600, 9, 100), 100);  // prepaid: what is left
        QCOMPARE(charging::callCost(answer, answer + 600, 9, -5), 0);
        QCOMPARE(charging::callCost(answer, answer - 30, 9, 1000), 0);     // clocks that went back
        QVERIFY(charging::mayCall(charging::rateFor(kRates, "999"), 1));
        QVERIFY(!charging::mayCall(charging::rateFor(kRates, "999"), 0));
        QVERIFY(!charging::mayCall(charging::rateFor(kRates, "4412"), 1000));
    }

    void textsNeedARateThatTakesThemAndTheCredit()
    {
        using charging::TextCharge;
        QCOMPARE(charging::textCharge(charging::rateFor(kRates, "999"), 1000), TextCharge::NotToThisNumber);
        QCOMPARE(charging::textCharge(charging::rateFor(kRates, "12"), 1000), TextCharge::NotToThisNumber);
        QCOMPARE(charging::textCharge(charging::rateFor(kRates, "00447700900123"), 5), TextCharge::CreditTooLow);
        QCOMPARE(charging::textCharge(charging::rateFor(kRates, "00447700900123"), 6), TextCharge::Ok);
    }
};

QTEST_GUILESS_MAIN(DevServerChargingTest)
#include "tst_devserver_charging.moc"
