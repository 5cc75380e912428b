// SPDX-License-Identifier: GPL-3.0-or-later
// The software board as the program and romivo-board meet it: programming and the stream, the
// service commands, bad input, the faults it can be told to show, and its bounds.
#include "board/BoardLine.h"
#include "board/BoardSimulator.h"
#include "link/CommandFrame.h"
#include "Files.h"

#include <malloc.h>

namespace {

QByteArray frame(int argument, std::uint8_t code) { return *commandFrame(argument, code); }

// The program's half of a write, every block at once: the board's answers.
QByteArray writeImage(BoardSimulator &board, const QByteArray &image, qint64 now)
{
    QByteArray wire = writeStartFrame();
    for (int at = 0; at < Chip::Size; at += Frame::BlockSize)
        wire += image.mid(at, Frame::BlockSize) + nextBlockFrame();
    board.receive(wire, now);
    return board.transmit(1 << 20);
}

QByteArray stream(BoardSimulator &board, qint64 now)
{
    board.receive(streamFrame(), now);
    QByteArray bytes;
    while (board.hasOutput())
        bytes += board.transmit(1000);
    return bytes;
}

} // namespace

class TestBoard : public QObject {
    Q_OBJECT
    const QByteArray image = randomImage(Chip::Size);

private slots:
    void programmingOnlyClearsBitsAndTheStopByteEndsAStream()
    {
        BoardSimulator board;
        board.chip().load(image);
        qint64 now = 0;
        QCOMPARE(writeImage(board, QByteArray(Chip::Size, char(0x3C)), now), QByteArray(64, char(Frame::BlockDone)));
        QByteArray anded = image;
        for (char &byte : anded)
            byte &= 0x3C;
        QCOMPARE(stream(board, ++now), anded);
        board.receive(streamFrame(), ++now);
        QCOMPARE(board.transmit(100), anded.left(100));
        board.receive(stopByte(), ++now);
        QVERIFY(!board.hasOutput() && board.streamsStopped() == 1);
        board.receive(stopByte(), ++now);  // after the end it is harmless
        board.chip().erase();
        QCOMPARE(stream(board, ++now), erased());
        QVERIFY(board.protocolErrors().isEmpty());
    }

    void serviceCommandsMoveTheAddressAndAnswer()
    {
        BoardSimulator board;
        board.chip().load(image);
        const auto answer = [&](const QByteArray &frames) {
            board.receive(frames + frame(0, CommandCode::ReadData), 0);
            return board.transmit(10);
        };
        QCOMPARE(answer(frame(1, CommandCode::AddressHigh) + frame(44, CommandCode::AddressLow)), image.mid(300, 1));
        QCOMPARE(answer(frame(0, CommandCode::CounterClock) + frame(0, CommandCode::CounterClock)), image.mid(302, 1));
        QCOMPARE(answer(frame(0, CommandCode::CounterReset) + frame(0, CommandCode::CounterClock)), image.mid(1, 1));
        // The address counter has 15 bits.
        QCOMPARE(answer(frame(0xFF, CommandCode::AddressHigh) + frame(0xFF, CommandCode::AddressLow)), image.right(1));
        QCOMPARE(answer(frame(0, CommandCode::CounterClock) + frame(0x00, CommandCode::WriteData)), QByteArray(1, '\0'));
        board.receive(frame(0, CommandCode::CeLow) + frame(0, CommandCode::OeLow) + frame(0, CommandCode::DirOut), 1);
        QVERIFY(board.ceLow() && board.oeLow() && board.busTowardsChip() && board.protocolErrors().isEmpty());
        board.receive(frame(0, CommandCode::CeHigh) + frame(0, CommandCode::OeHigh) + frame(0, CommandCode::DirIn), 2);
        QVERIFY(!board.ceLow() && !board.oeLow() && !board.busTowardsChip());
    }

    void badInputIsRecordedNotActedOn()
    {
        BoardSimulator board;
        // A stray byte, an unknown code, wrong arguments, a next-block frame outside a write.
        board.receive(QByteArray::fromHex("0d") + frame(0, 0x05) + frame(0, CommandCode::WriteStart) + frame(0, CommandCode::Stream) + nextBlockFrame(), 0);
        QCOMPARE(board.protocolErrors().size(), 5);
        // A line of pure noise is counted whole but recorded only in part.
        board.receive(QByteArray(5000, '\x0d'), 1);
        QVERIFY(board.protocolErrorCount() == 5005 && board.protocolErrors().size() == BoardSimulator::MaxRecordedErrors);
        QVERIFY(board.state() == BoardSimulator::State::Commands && !board.hasOutput() && board.chip().contents() == erased());
        // A frame cut short is forgotten after a quiet spell: the next frame is read in step.
        board.receive(QByteArray::fromHex("ffff"), 1000);
        board.receive(frame(0x41, CommandCode::WriteData), 1000 + BoardSimulator::QuietMs + 1);
        QCOMPARE(board.chip().read(0), quint8(0x41));
        // A write given up: within the quiet time a stream frame is image data, after it a command.
        board.receive(writeStartFrame() + QByteArray(100, char(0x00)), 2000);
        board.receive(streamFrame(), 2000 + BoardSimulator::QuietMs);
        QVERIFY(!board.hasOutput());
        board.receive(streamFrame(), 2001 + 2 * BoardSimulator::QuietMs);
        QVERIFY(board.streaming() && board.writesDropped() == 1);
        QCOMPARE(board.transmit(103), QByteArray(100, '\0') + QByteArray::fromHex("ff7e1e"));
    }

    void faults_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QByteArray>("streamed");  // after a write of zeros over `image`; null: refused
        QByteArray stuck(Chip::Size, '\0');
        stuck[0x100] = char(0x81);
        QTest::newRow("short stream") << "short-stream=1000" << QByteArray(1000, '\0');
        QTest::newRow("long stream") << "long-stream=17" << QByteArray(Chip::Size, '\0') + erased(17);
        QTest::newRow("stuck bits") << "stuck=0x100:0x81" << stuck;
        for (const char *bad : {"silent-after-block=64", "0x62-for-ack", "long-stream=-3", "stray=0g", "stray=0d6", "stuck=12", "melt"})
            QTest::newRow(bad) << bad << QByteArray();
    }
    void faults()
    {
        QFETCH(QString, option);
        QFETCH(QByteArray, streamed);
        BoardFaults faults;
        QString error;
        QCOMPARE(faults.apply(option, &error), !streamed.isNull());
        QCOMPARE(error.isEmpty(), !streamed.isNull());
        if (streamed.isNull())
            return;
        BoardSimulator board;
        board.setFaults(faults);
        writeImage(board, QByteArray(Chip::Size, '\0'), 0);
        const QByteArray bytes = stream(board, 1);
        QCOMPARE(bytes.left(Chip::Size), streamed.left(Chip::Size));
        QCOMPARE(bytes.size(), streamed.size());
    }

    void floodingClientIsBoundedAndCounted()
    {
        // A client that sends and never reads must not make the board grow without end.
        BoardSimulator board;
        board.receive(QByteArray::fromHex("ff0012").repeated(10000), 0);
        QCOMPARE(board.droppedReplies(), 10000 - BoardSimulator::ReplyBufferSize);
        QCOMPARE(board.transmit(1 << 20).size(), BoardSimulator::ReplyBufferSize);
        // Paced, what waits for the line takes no more room than the buffer (grown by doubling)
        // however long the flood, in pieces as romivo-board reads them.
        BoardLine line(board);
        line.setPaced(true);
        const auto heapInUse = [] { const struct mallinfo2 heap = ::mallinfo2(); return qsizetype(heap.uordblks + heap.hblkhd); };
        const qsizetype before = heapInUse();
        for (int pieces = 1; pieces <= 256; ++pieces) {
            line.fromProgram(QByteArray(4096, '\0'));
            QVERIFY2(heapInUse() - before < 4 * BoardLine::ReceiveBufferSize, qPrintable(QString::number(heapInUse() - before)));
        }
        QCOMPARE(line.droppedTowardsBoard(), 256 * 4096 - BoardLine::ReceiveBufferSize);
    }
};

QTEST_GUILESS_MAIN(TestBoard)
#include "tst_board.moc"
