// The software board as the program and romivo-board meet it: the write and the stream, the
// service commands, bad input, the faults it can be told to show, and its bounds.
#include "board/BoardLine.h"
#include "board/BoardSimulator.h"
#include "link/CommandFrame.h"

#include <QtTest>

namespace {

QByteArray pattern()
{
    QByteArray image(Chip::Size, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char((i * 7 + (i >> 8)) & 0xFF);
    return image;
}

QByteArray frame(int argument, std::uint8_t code) { return *commandFrame(argument, code); }

// The program's half of a write: the answers, block by block.
QList<QByteArray> writeImage(BoardSimulator &board, const QByteArray &image, qint64 &now)
{
    QList<QByteArray> answers;
    board.receive(writeStartFrame(), now);
    for (int at = 0; at < Chip::Size; at += 8) {
        board.receive(image.mid(at, 8), ++now);
        if ((at + 8) % Frame::BlockSize == 0) {
            answers << board.transmit(1 << 20);
            board.receive(nextBlockFrame(), ++now);
        }
    }
    return answers;
}

QByteArray stream(BoardSimulator &board, qint64 now)
{
    board.receive(streamFrame(), now);
    QByteArray bytes;
    while (board.hasOutput())
        bytes += board.transmit(1000);
    return bytes;
}

BoardFaults faults(const QString &option)
{
    BoardFaults applied;
    if (!applied.apply(option, nullptr))
        qFatal("bad fault %s", qPrintable(option));
    return applied;
}

} // namespace

class TestBoard : public QObject {
    Q_OBJECT
private slots:
    void programmingOnlyClearsBitsAndTheStopByteEndsAStream()
    {
        BoardSimulator board;
        board.chip().load(pattern());
        qint64 now = 0;
        QCOMPARE(writeImage(board, QByteArray(Chip::Size, char(0x3C)), now), QList<QByteArray>(64, QByteArray(1, char(Frame::BlockDone))));
        QByteArray anded = pattern();
        for (char &byte : anded)
            byte &= 0x3C;
        QCOMPARE(stream(board, ++now), anded);
        board.receive(streamFrame(), ++now);
        QCOMPARE(board.transmit(100), anded.left(100));
        board.receive(stopByte(), ++now);
        QVERIFY(!board.hasOutput() && board.streamsStopped() == 1);
        board.receive(stopByte(), ++now);  // after the end it is harmless
        board.chip().erase();
        QCOMPARE(stream(board, ++now), QByteArray(Chip::Size, char(0xFF)));
        QVERIFY(board.protocolErrors().isEmpty());
    }

    void serviceCommandsMoveTheAddressAndAnswer()
    {
        BoardSimulator board;
        board.chip().load(pattern());
        board.receive(frame(1, CommandCode::AddressHigh) + frame(44, CommandCode::AddressLow) + frame(0, CommandCode::ReadData), 0);
        QCOMPARE(board.transmit(10), pattern().mid(300, 1));
        board.receive(frame(0, CommandCode::CounterClock) + frame(0, CommandCode::CounterClock), 1);
        QCOMPARE(board.address(), 302);
        board.receive(frame(0, CommandCode::CounterReset) + frame(0, CommandCode::CounterClock), 2);
        QCOMPARE(board.address(), 1);
        board.receive(frame(0, CommandCode::CeLow) + frame(0, CommandCode::OeLow) + frame(0, CommandCode::DirOut), 3);
        QVERIFY(board.ceLow() && board.oeLow() && board.busTowardsChip());
        board.receive(frame(0, CommandCode::CeHigh) + frame(0, CommandCode::OeHigh) + frame(0, CommandCode::DirIn), 4);
        QVERIFY(!board.ceLow() && !board.oeLow() && !board.busTowardsChip());
        board.receive(frame(0x00, CommandCode::WriteData) + frame(0, CommandCode::ReadData), 5);
        QCOMPARE(board.transmit(10), QByteArray(1, '\0'));
        // The address counter has 15 bits.
        board.receive(frame(0xFF, CommandCode::AddressHigh) + frame(0xFF, CommandCode::AddressLow), 6);
        QCOMPARE(board.address(), 0x7FFF);
        board.receive(frame(0, CommandCode::CounterClock), 7);
        QCOMPARE(board.address(), 0);
        QVERIFY(!board.hasOutput() && board.protocolErrors().isEmpty());
    }

    void badInputIsRecordedNotActedOn()
    {
        BoardSimulator board;
        // A stray byte, an unknown code, wrong arguments, a next-block frame outside a write.
        board.receive(QByteArray::fromHex("0d") + frame(0, 0x05) + frame(0, CommandCode::WriteStart) + frame(0, CommandCode::Stream) + nextBlockFrame(), 0);
        QCOMPARE(board.protocolErrors().size(), 5);
        // A line of pure noise is counted whole but recorded only in part.
        board.receive(QByteArray(5000, '\x0d'), 1);
        QCOMPARE(board.protocolErrorCount(), 5005);
        QCOMPARE(board.protocolErrors().size(), BoardSimulator::MaxRecordedErrors);
        QVERIFY(board.state() == BoardSimulator::State::Commands && !board.hasOutput());
        QCOMPARE(board.chip().contents(), QByteArray(Chip::Size, char(0xFF)));
        // A frame cut short is forgotten after a quiet spell: the next frame is read in step.
        board.receive(QByteArray::fromHex("ffff"), 1000);
        board.receive(frame(0x41, CommandCode::WriteData), 1000 + BoardSimulator::QuietMs + 1);
        QCOMPARE(board.chip().read(0), quint8(0x41));
        // A write given up: within the quiet time a stream frame is image data, after it a command.
        board.receive(writeStartFrame() + QByteArray(100, char(0x00)), 2000);
        board.receive(streamFrame(), 2000 + BoardSimulator::QuietMs);
        QVERIFY(!board.hasOutput());
        board.receive(streamFrame(), 2001 + 2 * BoardSimulator::QuietMs);
        QVERIFY(board.streaming());
        QCOMPARE(board.writesDropped(), 1);
        QCOMPARE(board.transmit(103), QByteArray(100, '\0') + QByteArray::fromHex("ff7e1e"));
    }

    void faultsOfStreamAndChip()
    {
        BoardSimulator board;
        board.chip().load(pattern());
        board.setFaults(faults("short-stream=1000"));
        QCOMPARE(stream(board, 0), pattern().left(1000));
        board.setFaults(faults("long-stream=17"));
        const QByteArray longer = stream(board, 1);
        QCOMPARE(longer.size(), Chip::Size + 17);
        QCOMPARE(longer.left(Chip::Size), pattern());
        board.setFaults(faults("stuck=0x100:0x81"));
        board.chip().erase();
        qint64 now = 3;
        writeImage(board, QByteArray(Chip::Size, '\0'), now);
        QByteArray expected(Chip::Size, '\0');
        expected[0x100] = char(0x81);
        QCOMPARE(stream(board, ++now), expected);
    }

    void faultOptions_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<bool>("accepted");
        for (const char *good : {"no-dsr", "short-stream=0", "stuck=12:0x01", "0x62-for-ack=63"})
            QTest::newRow(good) << good << true;
        for (const char *bad : {"silent-after-block=64", "0x62-for-ack", "long-stream=-3", "stray=0g", "stray=0d6", "stuck=12", "melt"})
            QTest::newRow(bad) << bad << false;
    }
    void faultOptions()
    {
        QFETCH(QString, option);
        QFETCH(bool, accepted);
        BoardFaults applied;
        QString error;
        QCOMPARE(applied.apply(option, &error), accepted);
        QCOMPARE(error.isEmpty(), accepted);
    }

    void floodingClientIsBoundedAndCounted()
    {
        // A client that sends and never reads must not make the board grow without end.
        BoardSimulator board;
        board.receive(QByteArray::fromHex("ff0012").repeated(10000), 0);
        QCOMPARE(board.droppedReplies(), 10000 - BoardSimulator::ReplyBufferSize);
        QCOMPARE(board.transmit(1 << 20).size(), BoardSimulator::ReplyBufferSize);
        BoardLine line(board);
        line.setPaced(true);
        line.fromProgram(QByteArray(1 << 20, char(0x00)));
        QCOMPARE(line.droppedTowardsBoard(), (1 << 20) - BoardLine::ReceiveBufferSize);
    }
};

QTEST_GUILESS_MAIN(TestBoard)
#include "tst_board.moc"
