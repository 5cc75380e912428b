// The real serial control against romivo-board on a pseudo-terminal (or a terminal of the test's
// own): what the board receives and when, a far end that goes away, and the stream operations at
// the line rate, stopped and started again at once.
#include "BoardProcess.h"
#include "Files.h"
#include "ScriptedOperator.h"
#include "link/CommandFrame.h"
#include "link/QtSerialControl.h"
#include "operations/Session.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
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

class TestSerial : public QObject {
    Q_OBJECT
private slots:
    void oneDsrChangeAtOpenAndAFarEndThatVanishes()
    {
        auto board = std::make_unique<BoardProcess>();
        QtSerialControl port;
        int dsr = 0;
        QByteArray received;
        QSignalSpy lost(&port, &SerialControl::portLost);
        QObject::connect(&port, &SerialControl::notification, &port, [&](int event) {
            event == SerialControl::comEvDSR ? void(++dsr) : void(received += port.input());
        });
        port.setCommPort(board->path());
        QVERIFY2(port.open(), qPrintable(port.lastError().reason));
        QTRY_COMPARE(dsr, 1);
        QTest::qWait(200);
        QCOMPARE(dsr, 1);
        board.reset();
        QTRY_COMPARE(lost.size(), 1);
        QVERIFY(!port.isOpen());
        // The reason of the loss, not a word left over from an earlier call.
        QCOMPARE(lost.first().first().toString(), QString::fromLocal8Bit(std::strerror(EIO)));
        // Qt left alone repeats the error without end; closed, the process rests.
        const double cpuBefore = cpuSeconds();
        QTest::qWait(1000);
        QVERIFY2(cpuSeconds() - cpuBefore < 0.5, "the lost port keeps a core busy");
        QCOMPARE(lost.size(), 1);
        port.output(streamFrame());  // dropped
        BoardProcess again;
        port.setCommPort(again.path());
        QVERIFY(port.open());
        QTRY_COMPARE(dsr, 2);
        port.output(*commandFrame(0, CommandCode::ReadData));
        QTRY_COMPARE(received, QByteArray(1, char(0xFF)));
    }

    void positioningPausesBetweenItsTwoFrames()
    {
        // The first frame is on its way before the pause blocks the thread.
        QTemporaryDir dir;
        const QString logPath = dir.filePath("wire.log");
        BoardProcess board({"--log", logPath});
        QtSerialControl port;
        ScriptedOperator op;
        Session session(port, op);
        port.setCommPort(board.path());
        QVERIFY(port.open());
        session.service().position("300");
        QTRY_COMPARE(receivedByBoard(logPath).bytes, QByteArray::fromHex("ff011a ff2c1b"));
        const WireLog log = receivedByBoard(logPath);
        const double gap = log.seconds[3] - log.seconds[2];
        QVERIFY2(gap >= 1.9, qPrintable(QStringLiteral("the board got the second frame %1 s after the first").arg(gap)));
    }

    void closingSendsWhatIsStillQueued_data()
    {
        QTest::addColumn<bool>("farEndReads");
        QTest::newRow("far end reads: everything arrives") << true;
        QTest::newRow("far end never reads: closing still ends") << false;
    }
    void closingSendsWhatIsStillQueued()
    {
        // More than the system takes at once waits in the program: closing sends it, and when the
        // far end has stopped reading, closing still ends.
        QFETCH(bool, farEndReads);
        QTemporaryDir dir;
        BoardProcess board({"--log", dir.filePath("wire.log")});
        QtSerialControl port;
        port.setCommPort(board.path());
        QVERIFY(port.open());
        board.signal(farEndReads ? SIGCONT : SIGSTOP);
        const QByteArray sent = randomImage(200000);
        for (qsizetype at = 0; at < sent.size(); at += 1000)
            port.output(sent.mid(at, 1000));
        QElapsedTimer clock;
        clock.start();
        port.close();
        QVERIFY2(clock.elapsed() < QtSerialControl::DrainLimitMs + 1000, qPrintable(QString::number(clock.elapsed())));
        board.signal(SIGCONT);
        if (farEndReads)
            QTRY_COMPARE(receivedByBoard(dir.filePath("wire.log")).bytes, sent);
    }

    void restartedStreamsTakeNothingOfTheStoppedOne()
    {
        // The chip starts programmed (the write at the line rate is the benchmark's to time).
        QTemporaryDir dir;
        const QByteArray image = randomImage(32768);
        const QString imagePath = dir.filePath("rom.bin"), readPath = dir.filePath("letto.bin");
        writeFile(imagePath, image);
        BoardProcess board({"--paced", "--chip", imagePath});

        QtSerialControl port;
        ScriptedOperator op;
        Session session(port, op);
        port.setCommPort(board.path());
        QVERIFY2(port.open(), qPrintable(port.lastError().reason));
        QElapsedTimer wall;
        // A read stopped after a second, then started again at once: the board is still sending the
        // first stream when the second is asked for, and none of it may reach the file.
        session.read().Command6_Click(readPath);
        QTest::qWait(1000);
        QCOMPARE(outcomeOf(session, [&] { session.read().Command6_Click(readPath); }), Outcome::Stopped);
        wall.start();
        const double cpu = cpuSeconds();
        QCOMPARE(outcomeOf(session, [&] { session.read().Command6_Click(readPath); }), Outcome::ReadDone);
        const double readWall = wall.elapsed() / 1000.0;
        const double readCpu = cpuSeconds() - cpu;
        QVERIFY(readFile(readPath) == image);

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
};

QTEST_GUILESS_MAIN(TestSerial)
#include "tst_serial.moc"
