// SPDX-License-Identifier: GPL-3.0-or-later
// The real serial control against romivo-board on a pseudo-terminal (or a terminal of the test's
// own): what the board receives and when, a far end that goes away, and the stream operations at
// the line rate, stopped and started again at once.
#include "Bench.h"
#include "BoardProcess.h"
#include "link/CommandFrame.h"
#include "link/QtSerialControl.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <csignal>
#include <cstring>
#include <ctime>
#include <termios.h>

namespace {

// The processor time this process has used, in seconds.
double cpuSeconds() { return double(std::clock()) / CLOCKS_PER_SEC; }

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
        // Closed, it opens again on a board plugged in anew.
        BoardProcess again;
        port.setCommPort(again.path());
        QVERIFY(port.open() && lost.size() == 1);
        port.output(*commandFrame(0, CommandCode::ReadData));
        QTRY_COMPARE(received, QByteArray(1, char(0xFF)));
    }

    void positioningPausesBetweenItsTwoFrames()
    {
        // The first frame is on its way before the pause blocks the thread.
        SessionBench<QtSerialControl> b;
        const QString logPath = b.path("wire.log");
        BoardProcess board({"--log", logPath});
        b.port.setCommPort(board.path());
        QVERIFY(b.port.open());
        QTest::qWait(StreamStart::AfterOpenMs);
        b.session.service().position("300");
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

    void aStreamStillFlowingIsNotTheChip_data()
    {
        QTest::addColumn<bool>("readFirst");
        QTest::addColumn<int>("flowMs");  // how long unasked bytes keep coming; -1: all sent before the port opens
        QTest::addColumn<int>("stops");   // stop bytes the board is sent before the stream frame
        QTest::newRow("left by a program that ended without the stop byte") << false << 0 << 1;
        QTest::newRow("bytes past the end of the chip just read") << true << 0 << 1;
        QTest::newRow("a board that goes on streaming is asked again") << false << 700 << 2;
        QTest::newRow("waiting since before the port opened: discarded unseen") << false << -1 << 0;
    }
    void aStreamStillFlowingIsNotTheChip()
    {
        // A board still streaming, its bytes on the way when the program asks for the chip: they are
        // not locations 0, 1, ... The board is the test's own terminal, so that those bytes come
        // exactly then; location 0 of its chip holds 0x00.
        QFETCH(bool, readFirst);
        QFETCH(int, flowMs);
        QFETCH(int, stops);
        const int board = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios raw{};
        QVERIFY(board >= 0 && ::grantpt(board) == 0 && ::unlockpt(board) == 0 && ::tcgetattr(board, &raw) == 0);
        ::cfmakeraw(&raw);  // no echo: bytes sent before the port opens wait there as they were sent
        QVERIFY(::tcsetattr(board, TCSANOW, &raw) == 0);
        const auto send = [board](QByteArray bytes) {
            for (QDeadlineTimer deadline(5000); !bytes.isEmpty() && !deadline.hasExpired(); QTest::qWait(1))
                bytes.remove(0, qMax<qsizetype>(0, ::write(board, bytes.constData(), size_t(bytes.size()))));
        };
        QByteArray received;
        QList<qint64> stoppedAtMs;
        QElapsedTimer clock;
        const auto take = [&] {  // noting when each stop byte came
            for (char byte; ::read(board, &byte, 1) == 1; received += byte)
                if (byte == stopByte().front())
                    stoppedAtMs << clock.elapsed();
        };
        const auto answerStreamFrame = [&](const QByteArray &stream) {
            for (QDeadlineTimer deadline(5000); !received.endsWith(streamFrame()) && !deadline.hasExpired(); QTest::qWait(5))
                take();
            send(stream);
            return std::exchange(received, {});
        };
        send(erased(flowMs < 0 ? 100 : 0));  // before the port opens, or after the press
        SessionBench<QtSerialControl> b;
        b.port.setCommPort(QString::fromLocal8Bit(::ptsname(board)));
        QVERIFY(b.port.open());
        QByteArray chip = erased();
        chip[0] = 0x00;
        QSignalSpy finished(&b.session, &Session::finished);
        QBuffer sink;
        sink.open(QIODevice::WriteOnly);
        if (readFirst) {
            b.session.read().read(sink);
            QCOMPARE(answerStreamFrame(chip), streamFrame());
            QTRY_COMPARE(finished.size(), 1);
            QCOMPARE(finished.takeFirst().first().value<OperationResult>().outcome, Outcome::ReadDone);
        }
        b.session.check().blankCheck();
        clock.start();
        send(erased(flowMs < 0 ? 0 : 100));
        for (; clock.elapsed() < flowMs; take(), QTest::qWait(10))  // then a byte every 10 ms
            send(erased(1));
        QCOMPARE(answerStreamFrame(chip.left(1)), stopByte().repeated(stops) + streamFrame());  // told to stop at the first unasked byte
        QTRY_VERIFY(!finished.isEmpty());
        ::close(board);
        const auto result = finished.first().first().value<OperationResult>();
        QVERIFY2(result.outcome == Outcome::NotBlank && result.location == 0, qPrintable(QString::number(result.location)));
        // While the flow goes on, the board is asked again after half a second.
        const qint64 askedAgainMs = stops < 2 ? 500 : stoppedAtMs.at(1) - stoppedAtMs.at(0);
        QVERIFY2(askedAgainMs >= 300 && askedAgainMs <= 1500, qPrintable(QString::number(askedAgainMs)));
    }

    void restartedStreamsTakeNothingOfTheStoppedOne()
    {
        // The chip starts programmed (the write at the line rate is the benchmark's to time).
        SessionBench<QtSerialControl> b;
        const QByteArray image = randomImage(32768);
        BoardProcess board({"--paced", "--chip", writeFile(b.path("rom.bin"), image)});
        b.port.setCommPort(board.path());
        QVERIFY2(b.port.open(), qPrintable(b.port.lastError().reason));
        // A read stopped after a second, then started again at once: the board is still sending the
        // first stream when the second is asked for, and none of it may reach the file.
        QByteArray first, second;
        QBuffer stopped(&first), whole(&second);
        stopped.open(QIODevice::WriteOnly), whole.open(QIODevice::WriteOnly);
        b.session.read().read(stopped);
        QTest::qWait(1000);
        QCOMPARE(b.run([&] { b.session.stop(); }).outcome, Outcome::Stopped);
        QElapsedTimer wall;
        wall.start();
        const double cpu = cpuSeconds();
        QCOMPARE(b.run([&] { b.session.read().read(whole); }).outcome, Outcome::ReadDone);
        const double readWall = wall.elapsed() / 1000.0, readCpu = cpuSeconds() - cpu;
        QVERIFY(second == image && image.startsWith(first));
        // The same for a verify.
        b.session.check().verify(image);
        QTest::qWait(1000);
        QCOMPARE(b.run([&] { b.session.stop(); }).outcome, Outcome::Stopped);
        QCOMPARE(b.run([&] { b.session.check().verify(image); }).outcome, Outcome::Verified);
        // A programmed chip is not blank: the board is stopped at location 0.
        QCOMPARE(b.run([&] { b.session.check().blankCheck(); }).outcome, Outcome::NotBlank);

        qInfo("paced read: %.2f s wall, %.2f s CPU (line limit 17.07 s)", readWall, readCpu);
        // Waiting for the board must not keep a core busy.
        QVERIFY2(readCpu < readWall / 2, "an operation spins while it waits");
    }
};

QTEST_GUILESS_MAIN(TestSerial)
#include "tst_serial.moc"
