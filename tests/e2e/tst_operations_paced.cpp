// The stream operations over the real serial implementation, against the software board on a
// pseudo-terminal at the line rate: a stream stopped and started again at once.
#include "BoardProcess.h"
#include "ScriptedOperator.h"

#include "link/QtSerialControl.h"
#include "operations/Session.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The outcome of the operation that `start` begins, once it has ended.
Outcome outcomeOf(Session &session, const std::function<void()> &start)
{
    QSignalSpy finished(&session, &Session::finished);
    start();
    if (finished.isEmpty() && !finished.wait(60000))
        return Outcome::NotStarted;
    return finished.last().first().value<OperationResult>().outcome;
}

} // namespace

class TestOperationsPaced : public QObject {
    Q_OBJECT
private slots:
    void restartedStreamsTakeNothingOfTheStoppedOne();
};

void TestOperationsPaced::restartedStreamsTakeNothingOfTheStoppedOne()
{
    // The chip starts programmed (the write at the line rate is the benchmark's to time).
    QTemporaryDir dir;
    const QByteArray image = everyByteValue();
    const QString imagePath = dir.filePath(QStringLiteral("rom.bin"));
    {
        QFile f(imagePath);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(image) == image.size());
    }
    BoardProcess board({QStringLiteral("--paced"), QStringLiteral("--chip"), imagePath});
    QVERIFY(!board.path().isEmpty());

    QtSerialControl port;
    ScriptedOperator op;
    Session session(port, op);
    port.setCommPort(board.path());
    QVERIFY2(port.open(), qPrintable(port.lastError().reason));
    QElapsedTimer wall;

    // A read stopped after a second, then started again at once: the board is still sending the
    // first stream when the second is asked for, and none of it may reach the file.
    const QString readPath = dir.filePath(QStringLiteral("letto.bin"));
    session.read().Command6_Click(readPath);
    QTest::qWait(1000);
    QCOMPARE(outcomeOf(session, [&] { session.read().Command6_Click(readPath); }), Outcome::Stopped);
    wall.start();
    const double cpu = cpuSeconds();
    QCOMPARE(outcomeOf(session, [&] { session.read().Command6_Click(readPath); }), Outcome::ReadDone);
    const double readWall = wall.elapsed() / 1000.0;
    const double readCpu = cpuSeconds() - cpu;
    QFile read(readPath);
    QVERIFY(read.open(QIODevice::ReadOnly));
    QCOMPARE(read.readAll(), image);

    // The same for a verify stopped by the blank-check button.
    session.check().Command7_Click(imagePath);
    QTest::qWait(1000);
    QCOMPARE(outcomeOf(session, [&] { session.check().Command8_Click(); }), Outcome::Stopped);
    QCOMPARE(outcomeOf(session, [&] { session.check().Command7_Click(imagePath); }), Outcome::Verified);
    // A programmed chip is not blank: the board is stopped at location 0.
    QCOMPARE(outcomeOf(session, [&] { session.check().Command8_Click(); }), Outcome::NotBlank);

    qInfo("paced read: %.2f s wall, %.2f s CPU (line limit 17.07 s)", readWall, readCpu);
    // Waiting for the board must not keep a core busy.
    QVERIFY2(readCpu < readWall / 2, "an operation spins while it waits");
}

QTEST_GUILESS_MAIN(TestOperationsPaced)
#include "tst_operations_paced.moc"
