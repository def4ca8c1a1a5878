// The call's quality mark from the engine's figures: the simplified E-model
// at points worked out by hand, its bands, and the window that lets the mark
// recover after a bad stretch.
#include "telephony/callquality.h"

#include <QTest>

namespace {

CallStatistics sample(int rtt, int packets, int lost, int jitter = 0, int buffer = 40)
{
    CallStatistics s;
    s.roundTripMs = rtt;
    s.received.packets = packets;
    s.received.lost = lost;
    s.received.jitterMs = jitter;
    s.received.bufferMs = buffer;
    return s;
}

} // namespace

class TestCallQuality : public QObject
{
    Q_OBJECT

private slots:
    void ratingAtKnownPoints_data();
    void ratingAtKnownPoints();
    void descriptionGivesWordsAndFigures();
    void nothingIsShownBeforeTheFirstMeasurement();
    void lossIsCountedOverTheLastSeconds();
    void aNewStreamStartsAfresh();
};

void TestCallQuality::ratingAtKnownPoints_data()
{
    QTest::addColumn<double>("loss");
    QTest::addColumn<int>("rtt");
    QTest::addColumn<int>("buffer");
    QTest::addColumn<double>("rating");
    QTest::addColumn<int>("bars");
    // 93.2 less GSM's own 20: the best a GSM call can be, up to 100 ms one way.
    QTest::newRow("clean, 80 ms one way") << 0.0 << 40 << 40 << 73.2 << 4;
    // One way 200 ms: x = 1, Idd = 25 (2^(1/6) - 3 (1 + 1/729)^(1/6) + 2) = 3.04.
    QTest::newRow("clean, 200 ms one way") << 0.0 << 120 << 120 << 70.16 << 4;
    // One way 400 ms: x = 2, Idd = 24.07.
    QTest::newRow("clean, 400 ms one way") << 0.0 << 360 << 200 << 49.13 << 1;
    // Ie,eff = 20 + 75 * 2 / (2 + 43) = 23.33.
    QTest::newRow("2 % loss") << 2.0 << 20 << 40 << 69.87 << 3;
    // Ie,eff = 20 + 75 * 10 / 53 = 34.15; one way 140 ms adds Idd = 0.05.
    QTest::newRow("10 % loss, deep buffer") << 10.0 << 0 << 120 << 59.0 << 2;
    // Ie,eff = 20 + 75 * 30 / 73 = 50.82.
    QTest::newRow("30 % loss") << 30.0 << 20 << 40 << 42.38 << 1;
}

void TestCallQuality::ratingAtKnownPoints()
{
    QFETCH(double, loss);
    QFETCH(int, rtt);
    QFETCH(int, buffer);
    QFETCH(double, rating);
    QFETCH(int, bars);
    CallFigures figures;
    figures.lossPercent = loss;
    figures.roundTripMs = rtt;
    figures.bufferMs = buffer;
    const double r = callRating(figures);
    QVERIFY2(qAbs(r - rating) < 0.05, qPrintable(QString::number(r)));
    QCOMPARE(qualityBars(r), bars);
}

void TestCallQuality::descriptionGivesWordsAndFigures()
{
    CallFigures figures;
    figures.lossPercent = 0.4;
    figures.jitterMs = 12;
    figures.roundTripMs = 40;
    figures.bufferMs = 60;
    QCOMPARE(qualityDescription(figures), QStringLiteral("Good · loss 0 % · jitter 12 ms · round trip 40 ms"));
    figures.lossPercent = 12.6;
    QCOMPARE(qualityDescription(figures), QStringLiteral("Poor · loss 13 % · jitter 12 ms · round trip 40 ms"));
    QCOMPARE(qualityWord(3), QStringLiteral("Fair"));
    QCOMPARE(qualityWord(1), QStringLiteral("Bad"));
}

void TestCallQuality::nothingIsShownBeforeTheFirstMeasurement()
{
    CallQuality quality;
    QVERIFY(!quality.figures());
    // Voice, but no round trip measured yet.
    quality.add(sample(-1, 50, 0));
    QVERIFY(!quality.figures());
    // A round trip, but nothing heard yet.
    quality.add(sample(30, 0, 0));
    QVERIFY(!quality.figures());
    quality.add(sample(30, 100, 0));
    QVERIFY(quality.figures());
    quality.reset();
    QVERIFY(!quality.figures());
}

void TestCallQuality::lossIsCountedOverTheLastSeconds()
{
    CallQuality quality;
    int packets = 0;
    int lost = 0;
    // A bad stretch: three frames in ten lost.
    CallStatistics s;
    for (int second = 1; second <= 8; ++second) {
        packets += 35;
        lost += 15;
        s = sample(40, packets, lost, 25, 80);
        quality.add(s);
    }
    QCOMPARE(quality.figures()->lossPercent, 30.0);
    QCOMPARE(quality.figures()->jitterMs, 25);
    QCOMPARE(quality.figures()->bufferMs, 80);
    QCOMPARE(qualityBars(callRating(*quality.figures())), 1);

    // Then clean: the mark recovers once the window has passed, though the
    // call as a whole has lost a fifth.
    const auto cleanSecond = [&] {
        packets += 50;
        s.received.packets = packets;
        s.received.jitterMs = 3;
        quality.add(s);
    };
    for (std::size_t second = 1; second < CallQuality::kWindow; ++second) {
        cleanSecond();
        QVERIFY(quality.figures()->lossPercent > 0);
    }
    cleanSecond();
    QCOMPARE(quality.figures()->lossPercent, 0.0);
    QCOMPARE(qualityBars(callRating(*quality.figures())), 4);

    // The far end's report counts too, when it is the worse one.
    s.sent.packets = 1000;
    s.sent.lost = 300;
    s.sent.jitterMs = 50;
    quality.add(s);
    QVERIFY(quality.figures()->lossPercent > 20);
    QCOMPARE(quality.figures()->jitterMs, 50);
}

void TestCallQuality::aNewStreamStartsAfresh()
{
    CallQuality quality;
    for (int second = 1; second <= 3; ++second)
        quality.add(sample(40, 1000 + second * 50, 500));
    // The totals went back: what came before belongs to another stream,
    // and the new one's loss is its own.
    quality.add(sample(40, 45, 5));
    QCOMPARE(quality.figures()->lossPercent, 10.0);
}

QTEST_APPLESS_MAIN(TestCallQuality)
#include "tst_callquality.moc"
