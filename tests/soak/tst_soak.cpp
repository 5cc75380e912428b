// Seeded random histories of clicks, typed texts, answers, board faults and files played on the
// main window; every failing history is shrunk to the fewest actions that still fail.
// ROMIVO_SOAK_HISTORIES, ROMIVO_SOAK_LENGTH and ROMIVO_SOAK_SEED run more, longer or other histories.
#include "SoakHistory.h"
#include "SoakRun.h"

#include <QtTest>

namespace {

int environmentNumber(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

// Drops actions while the history still fails, larger runs of them first.
SoakHistory shrink(SoakHistory history, int budget)
{
    for (qsizetype chunk = history.size() / 2; chunk >= 1 && budget > 0; chunk /= 2) {
        for (qsizetype start = 0; start + chunk <= history.size() && budget > 0;) {
            SoakHistory candidate = history;
            candidate.remove(start, chunk);
            --budget;
            if (!runHistory(candidate).ok())
                history = candidate;
            else
                start += chunk;
        }
    }
    return history;
}

} // namespace

class TestSoak : public QObject {
    Q_OBJECT
private slots:
    void foundHistories_data();
    void foundHistories();
    void randomHistories();
};

// Histories that once failed, kept as they were shrunk.
void TestSoak::foundHistories_data()
{
    QTest::addColumn<QString>("history");
    QTest::newRow("write, verify and read back on a sound board")
        << QStringLiteral("port SIM\nconnect\nfile image.bin\nwrite\nverify\nwait 300\nfile out.bin\nread\nwait 300");
    // A write given up half-way left the board inside a frame (seed 105).
    // A write pressed during a verify ended it with its file open: no verify started again (seed 17).
    QTest::newRow("write pressed during a verify")
        << QStringLiteral("port SIM\nconnect\nchunk 1\nfile image.bin\nverify\nfile \nwrite\nchunk 4096\nfile image.bin\nverify\nwait 500");
    QTest::newRow("a long stream in odd pieces leaves the bytes past the chip alone")
        << QStringLiteral("port SIM\nconnect\nchunk 1000\nfault long-stream=100\nfile out.bin\nread\nwait 300");
    QTest::newRow("write stopped by the end of the history")
        << QStringLiteral("port SIM\nconnect\nfile short.bin\nwrite");
}

void TestSoak::foundHistories()
{
    QFETCH(QString, history);
    const SoakOutcome outcome = runHistory(historyFromText(history));
    QVERIFY2(outcome.ok(), qPrintable(outcome.failure));
}

void TestSoak::randomHistories()
{
    const int count = environmentNumber("ROMIVO_SOAK_HISTORIES", 20);
    const int length = environmentNumber("ROMIVO_SOAK_LENGTH", 40);
    const int firstSeed = environmentNumber("ROMIVO_SOAK_SEED", 1);
    int actions = 0;
    for (int seed = firstSeed; seed < firstSeed + count; ++seed) {
        const SoakHistory history = randomHistory(quint64(seed), length);
        const SoakOutcome outcome = runHistory(history);
        actions += outcome.actionsRun;
        if (!outcome.ok()) {
            const SoakHistory shortest = shrink(history, 200);
            const SoakOutcome again = runHistory(shortest);
            QFAIL(qPrintable(QStringLiteral("seed %1: %2\nshortest failing history (%3 actions): %4\n%5\n")
                                 .arg(seed)
                                 .arg(outcome.failure)
                                 .arg(shortest.size())
                                 .arg(again.failure, historyText(shortest))));
        }
    }
    qInfo("%d histories, %d actions", count, actions);
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
