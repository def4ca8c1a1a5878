// The network statistics lines on the standard error stream.
#include "engine_double.h"
#include "telephony/telephony.h"

#include <QTemporaryFile>
#include <QTest>

#include <cstdio>
#include <unistd.h>

namespace {

// Everything written to stderr while it exists ends up in text().
class StderrCapture
{
public:
    StderrCapture()
    {
        file.open();
        std::fflush(stderr);
        saved = ::dup(2);
        ::dup2(file.handle(), 2);
    }
    ~StderrCapture() { restore(); }
    QStringList lines()
    {
        restore();
        file.seek(0);
        return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private:
    void restore()
    {
        if (saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(saved, 2);
        ::close(saved);
        saved = -1;
    }
    QTemporaryFile file;
    int saved = -1;
};

const QString header = QStringLiteral("RTT\tRjit\tRlos%\tRlosC\tRpkts\tRdel\tRdrop\tRooo\tLjit\tLlos%\tLlosC\tLpkts\tLdel\tLdrop\tLooo");

} // namespace

class TestNetStats : public QObject
{
    Q_OBJECT

private slots:
    // One function, because the line counter lives as long as the process.
    void headerEveryTwentyFiveLinesAndRemoteFirst();
};

void TestNetStats::headerEveryTwentyFiveLinesAndRemoteFirst()
{
    StderrCapture capture;

    // Through the callback, as the engine delivers them: call number, RTT,
    // then local and remote figures.
    const int figures[16] = {7, 120, 1, 2, 3, 4, 5, 6, 7, 11, 12, 13, 14, 15, 16, 17};
    QCOMPARE(iaxEventCallback(EngineDouble::netStatsEvent(figures)), 0);
    const int zeros[16] = {7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    QCOMPARE(iaxEventCallback(EngineDouble::netStatsEvent(zeros)), 0);
    for (int i = 2; i < 51; ++i)
        QCOMPARE(handleNetStats(3, i, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0), 0);

    const QStringList lines = capture.lines();
    // 51 data lines, headers before the 1st, the 26th and the 51st.
    QCOMPARE(lines.size(), 54);
    QCOMPARE(lines.at(0), header);
    QCOMPARE(lines.at(1), QStringLiteral("120\t11\t12\t13\t14\t15\t16\t17\t1\t2\t3\t4\t5\t6\t7"));
    QCOMPARE(lines.at(2), QStringLiteral("0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0")); // no 7 anywhere
    QCOMPARE(lines.at(25), QStringLiteral("24\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0")); // the 25th, no header
    QCOMPARE(lines.at(26), header);
    QCOMPARE(lines.at(27), QStringLiteral("25\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0"));
    QCOMPARE(lines.at(52), header);
    QCOMPARE(lines.at(53), QStringLiteral("50\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0"));
    QCOMPARE(lines.count(header), 3);
}

QTEST_GUILESS_MAIN(TestNetStats)
#include "tst_netstats.moc"
