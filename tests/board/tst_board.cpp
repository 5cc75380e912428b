#include "board/BoardLine.h"
#include "board/BoardSimulator.h"
#include "board/SimulatedSerialControl.h"
#include "link/CommandFrame.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

namespace {

QByteArray pattern()
{
    QByteArray image(Chip::Size, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char((i * 7 + (i >> 8)) & 0xFF);
    return image;
}

QByteArray frame(int argument, std::uint8_t code)
{
    return *commandFrame(argument, code);
}

// Runs the program's half of a write against the board: answers collected per block.
QList<QByteArray> writeImage(BoardSimulator &board, const QByteArray &image, qint64 &now)
{
    QList<QByteArray> answers;
    board.receive(writeStartFrame(), now);
    for (int block = 0; block < Frame::BlockCount; ++block) {
        for (int group = 0; group < Frame::BlockSize; group += 8)
            board.receive(image.mid(block * Frame::BlockSize + group, 8), ++now);
        answers.append(board.transmit(1 << 20));
        board.receive(nextBlockFrame(), ++now);
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

} // namespace

class TestBoard : public QObject {
    Q_OBJECT
private slots:
    void writeThenStreamGivesTheImageBack();
    void programmingOnlyClearsBits();
    void stopByteEndsTheStream();
    void serviceCommandsMoveTheAddressAndAnswer();
    void unknownAndMalformedInputIsRecordedNotActedOn();
    void abandonedWriteEndsAfterQuietLine();
    void writeFaults_data();
    void writeFaults();
    void streamLengthFaults();
    void strayBytesFollowUnansweredCommands();
    void stuckBitsWillNotProgram();
    void faultOptions_data();
    void faultOptions();
    void floodingClientIsBoundedAndCounted();
    void pacedAcknowledgementWaitsForTheLine();
    void lostSimulatedPortClosesOnceAndRecovers();
};

void TestBoard::writeThenStreamGivesTheImageBack()
{
    BoardSimulator board;
    qint64 now = 0;
    const QList<QByteArray> answers = writeImage(board, pattern(), now);
    QCOMPARE(answers.size(), 64);
    for (const QByteArray &answer : answers)
        QCOMPARE(answer, QByteArray(1, char(Frame::BlockDone)));
    QCOMPARE(board.state(), BoardSimulator::State::Commands);
    QCOMPARE(board.blocksAcknowledged(), 64);
    QCOMPARE(stream(board, ++now), pattern());
    QVERIFY(board.protocolErrors().isEmpty());
}

void TestBoard::programmingOnlyClearsBits()
{
    BoardSimulator board;
    qint64 now = 0;
    writeImage(board, QByteArray(Chip::Size, char(0x0F)), now);
    writeImage(board, QByteArray(Chip::Size, char(0x3C)), now);
    QCOMPARE(stream(board, ++now), QByteArray(Chip::Size, char(0x0C)));
    board.chip().erase();
    QCOMPARE(stream(board, ++now), QByteArray(Chip::Size, char(0xFF)));
}

void TestBoard::stopByteEndsTheStream()
{
    BoardSimulator board;
    board.chip().load(pattern());
    board.receive(streamFrame(), 0);
    const QByteArray head = board.transmit(100);
    board.receive(stopByte(), 1);
    QCOMPARE(head, pattern().left(100));
    QVERIFY(!board.hasOutput());
    QCOMPARE(board.streamsStopped(), 1);
    // A stop arriving after the stream has ended is harmless, and commands still work.
    board.receive(stopByte(), 2);
    QCOMPARE(stream(board, 3), pattern());
    QVERIFY(board.protocolErrors().isEmpty());
}

void TestBoard::serviceCommandsMoveTheAddressAndAnswer()
{
    BoardSimulator board;
    board.chip().load(pattern());
    board.receive(frame(300 / 256, CommandCode::AddressHigh) + frame(300 % 256, CommandCode::AddressLow), 0);
    QCOMPARE(board.address(), 300);
    board.receive(frame(0, CommandCode::ReadData), 1);
    QCOMPARE(board.transmit(10), pattern().mid(300, 1));
    board.receive(frame(0, CommandCode::CounterClock) + frame(0, CommandCode::CounterClock), 2);
    QCOMPARE(board.address(), 302);
    board.receive(frame(0, CommandCode::CounterReset) + frame(0, CommandCode::CounterClock), 3);
    QCOMPARE(board.address(), 1);
    board.receive(frame(0, CommandCode::CeLow) + frame(0, CommandCode::OeLow) + frame(0, CommandCode::DirOut), 4);
    QVERIFY(board.ceLow() && board.oeLow() && board.busTowardsChip());
    board.receive(frame(0, CommandCode::CeHigh) + frame(0, CommandCode::OeHigh) + frame(0, CommandCode::DirIn), 5);
    QVERIFY(!board.ceLow() && !board.oeLow() && !board.busTowardsChip());
    board.receive(frame(0x00, CommandCode::WriteData) + frame(0, CommandCode::ReadData), 6);
    QCOMPARE(board.transmit(10), QByteArray(1, '\0'));
    // The address counter has 15 bits.
    board.receive(frame(0xFF, CommandCode::AddressHigh) + frame(0xFF, CommandCode::AddressLow), 7);
    QCOMPARE(board.address(), 0x7FFF);
    board.receive(frame(0, CommandCode::CounterClock), 8);
    QCOMPARE(board.address(), 0);
    QVERIFY(!board.hasOutput());
    QVERIFY(board.protocolErrors().isEmpty());
}

void TestBoard::unknownAndMalformedInputIsRecordedNotActedOn()
{
    BoardSimulator board;
    const QByteArray before = board.chip().contents();
    board.receive(QByteArray::fromHex("0d"), 0);                 // stray byte
    board.receive(frame(0, 0x05), 1);                            // unknown code
    board.receive(frame(0x00, CommandCode::WriteStart), 2);      // wrong argument
    board.receive(frame(0x00, CommandCode::Stream), 3);          // wrong argument
    board.receive(nextBlockFrame(), 4);                          // outside a write
    QCOMPARE(board.protocolErrors().size(), 5);
    // A line of pure noise is counted whole but recorded only in part: the record stays bounded.
    board.receive(QByteArray(5000, '\x0d'), 5);
    QCOMPARE(board.protocolErrorCount(), 5005);
    QCOMPARE(board.protocolErrors().size(), BoardSimulator::MaxRecordedErrors);
    QCOMPARE(board.state(), BoardSimulator::State::Commands);
    QVERIFY(!board.hasOutput());
    QCOMPARE(board.chip().contents(), before);
    // The parser is back in step: a good frame after the garbage is obeyed.
    board.receive(frame(0, CommandCode::ReadData), 5);
    QCOMPARE(board.transmit(4), QByteArray(1, char(0xFF)));
    // A frame cut short is forgotten after a quiet spell: the next frame is read in step.
    board.receive(QByteArray::fromHex("ffff"), 1000);
    board.receive(frame(0x41, CommandCode::WriteData), 1000 + BoardSimulator::QuietMs + 1);
    QCOMPARE(board.chip().read(0), quint8(0x41));
}

void TestBoard::abandonedWriteEndsAfterQuietLine()
{
    BoardSimulator board;
    board.receive(writeStartFrame(), 0);
    board.receive(QByteArray(100, char(0x00)), 1);
    // Within the quiet time, a stream frame is still taken as image data.
    board.receive(streamFrame(), 1 + BoardSimulator::QuietMs);
    QVERIFY(!board.hasOutput());
    QCOMPARE(board.state(), BoardSimulator::State::WriteData);
    // After it, the board takes commands again.
    board.receive(streamFrame(), 2 + 2 * BoardSimulator::QuietMs);
    QVERIFY(board.streaming());
    QCOMPARE(board.writesDropped(), 1);
    QCOMPARE(board.transmit(103), QByteArray(100, '\0') + QByteArray::fromHex("ff7e1e"));
}

void TestBoard::writeFaults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("acknowledged");
    QTest::addColumn<QByteArray>("failAnswer");
    QTest::newRow("silent after block 3") << "silent-after-block=3" << 3 << QByteArray();
    QTest::newRow("0x62 during block 0") << "0x62-during-block=0" << 0 << QByteArray::fromHex("62");
    QTest::newRow("0x63 during block 10") << "0x63-during-block=10" << 10 << QByteArray::fromHex("63");
    QTest::newRow("0x62 instead of ack 63") << "0x62-for-ack=63" << 63 << QByteArray::fromHex("62");
    QTest::newRow("0x63 instead of ack 5") << "0x63-for-ack=5" << 5 << QByteArray::fromHex("63");
}

void TestBoard::writeFaults()
{
    QFETCH(QString, fault);
    QFETCH(int, acknowledged);
    QFETCH(QByteArray, failAnswer);
    BoardFaults faults;
    QVERIFY(faults.apply(fault, nullptr));
    BoardSimulator board;
    board.setFaults(faults);
    qint64 now = 0;
    const QList<QByteArray> answers = writeImage(board, QByteArray(Chip::Size, '\0'), now);
    for (int block = 0; block < acknowledged; ++block)
        QCOMPARE(answers[block], QByteArray(1, char(Frame::BlockDone)));
    QCOMPARE(answers[acknowledged], failAnswer);
    for (int block = acknowledged + 1; block < Frame::BlockCount; ++block)
        QVERIFY2(answers[block].isEmpty(), "a dropped write answers nothing more");
    QCOMPARE(board.state(), BoardSimulator::State::WriteDropped);
    // Nothing past the failure was programmed: the rest of the data was not taken as commands.
    const QByteArray untouched = board.chip().contents().mid((acknowledged + 1) * Frame::BlockSize);
    QCOMPARE(untouched, QByteArray(untouched.size(), char(0xFF)));
    QVERIFY(board.protocolErrors().isEmpty());
    // Once the line is quiet the board obeys commands again.
    QCOMPARE(stream(board, now + BoardSimulator::QuietMs + 1).size(), Chip::Size);
}

void TestBoard::streamLengthFaults()
{
    BoardFaults faults;
    QVERIFY(faults.apply("short-stream=1000", nullptr));
    BoardSimulator board;
    board.chip().load(pattern());
    board.setFaults(faults);
    QCOMPARE(stream(board, 0), pattern().left(1000));
    faults = {};
    QVERIFY(faults.apply("long-stream=17", nullptr));
    board.setFaults(faults);
    const QByteArray longer = stream(board, 1);
    QCOMPARE(longer.size(), Chip::Size + 17);
    QCOMPARE(longer.left(Chip::Size), pattern());
}

void TestBoard::strayBytesFollowUnansweredCommands()
{
    BoardFaults faults;
    QVERIFY(faults.apply("stray=0d62", nullptr));
    BoardSimulator board;
    board.setFaults(faults);
    board.receive(frame(0, CommandCode::CeLow), 0);
    QCOMPARE(board.transmit(10), QByteArray::fromHex("0d62"));
    board.receive(frame(0, CommandCode::ReadData), 1);
    QCOMPARE(board.transmit(10), QByteArray::fromHex("ff"));
    board.sendUnasked("zz");
    QCOMPARE(board.transmit(10), QByteArray("zz"));
}

void TestBoard::stuckBitsWillNotProgram()
{
    BoardFaults faults;
    QVERIFY(faults.apply("stuck=0x100:0x81", nullptr));
    BoardSimulator board;
    board.setFaults(faults);
    qint64 now = 0;
    writeImage(board, QByteArray(Chip::Size, '\0'), now);
    const QByteArray chip = stream(board, ++now);
    QCOMPARE(quint8(chip[0x100]), quint8(0x81));
    QCOMPARE(chip.count(char(0)), Chip::Size - 1);
}

void TestBoard::faultOptions_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("no-dsr") << "no-dsr" << true;
    QTest::newRow("block out of range") << "silent-after-block=64" << false;
    QTest::newRow("block missing") << "0x62-for-ack" << false;
    QTest::newRow("short stream") << "short-stream=0" << true;
    QTest::newRow("negative length") << "long-stream=-3" << false;
    QTest::newRow("bad hex") << "stray=0g" << false;
    QTest::newRow("odd hex") << "stray=0d6" << false;
    QTest::newRow("stuck without mask") << "stuck=12" << false;
    QTest::newRow("unknown") << "melt" << false;
}

void TestBoard::faultOptions()
{
    QFETCH(QString, option);
    QFETCH(bool, accepted);
    BoardFaults faults;
    QString error;
    QCOMPARE(faults.apply(option, &error), accepted);
    QCOMPARE(error.isEmpty(), accepted);
}

void TestBoard::floodingClientIsBoundedAndCounted()
{
    // A client that sends commands and never reads must not make the board grow without end.
    BoardSimulator board;
    QByteArray commands;
    for (int i = 0; i < 10000; ++i)
        commands += QByteArray::fromHex("ff0012");
    board.receive(commands, 0);
    QCOMPARE(board.droppedReplies(), 10000 - BoardSimulator::ReplyBufferSize);
    QCOMPARE(board.transmit(1 << 20).size(), BoardSimulator::ReplyBufferSize);

    BoardLine line(board);
    line.setPaced(true);
    line.fromProgram(QByteArray(1 << 20, char(0x00)));
    QCOMPARE(line.droppedTowardsBoard(), (1 << 20) - BoardLine::ReceiveBufferSize);
}

void TestBoard::pacedAcknowledgementWaitsForTheLine()
{
    SimulatedSerialControl port;
    port.line().setPaced(true);
    QByteArray received;
    QObject::connect(&port, &SerialControl::notification, [&](int event) {
        if (event == SerialControl::comEvReceive)
            received += port.input();
    });
    QVERIFY(port.open());
    QElapsedTimer clock;
    clock.start();
    port.output(writeStartFrame());
    for (int group = 0; group < Frame::BlockSize / 8; ++group)
        port.output(QByteArray(8, char(0x55)));
    QTRY_COMPARE_WITH_TIMEOUT(received, QByteArray(1, char(Frame::BlockDone)), 5000);
    // 515 bytes at 1,920 bytes a second cannot have crossed the line sooner.
    QVERIFY2(clock.elapsed() >= 515 * 1000 / BoardLine::BytesPerSecond - 5, qPrintable(QString::number(clock.elapsed())));
}

void TestBoard::lostSimulatedPortClosesOnceAndRecovers()
{
    SimulatedSerialControl port;
    QSignalSpy lost(&port, &SerialControl::portLost);
    QByteArray received;
    QObject::connect(&port, &SerialControl::notification, [&](int event) {
        if (event == SerialControl::comEvReceive)
            received += port.input();
    });
    QVERIFY(port.open());
    port.output(streamFrame());
    port.losePort();
    port.losePort();
    QCOMPARE(lost.size(), 1);
    QVERIFY(!port.isOpen());
    QTest::qWait(50);
    QVERIFY(received.isEmpty());  // nothing of the stream after the loss
    QVERIFY(port.open());
    port.output(*commandFrame(0, CommandCode::ReadData));
    QTRY_COMPARE(received, QByteArray(1, char(0xFF)));
}

QTEST_GUILESS_MAIN(TestBoard)
#include "tst_board.moc"
