#include "board/SelectingSerialControl.h"
#include "board/SimulatedSerialControl.h"
#include "link/CommandFrame.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {

QByteArray everyByteValue()
{
    QByteArray image(Frame::ImageSize, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i & 0xFF);
    return image;
}

// Collects what a program would see: every notification, and every read it makes.
struct Listener {
    explicit Listener(SerialControl &port) : port(port)
    {
        QObject::connect(&port, &SerialControl::notification, &port, [this](int event) {
            if (event == SerialControl::comEvDSR) {
                ++dsr;
                return;
            }
            const QByteArray bytes = this->port.input();
            largestRead = qMax(largestRead, bytes.size());
            received += bytes;
            ++reads;
        });
        QObject::connect(&port, &SerialControl::portLost, &port, [this] { ++lost; });
    }
    SerialControl &port;
    int dsr = 0;
    int reads = 0;
    int lost = 0;
    qsizetype largestRead = 0;
    QByteArray received;
};

} // namespace

class TestSimulatedPort : public QObject {
    Q_OBJECT
private slots:
    void openRaisesOneDsrChange();
    void streamArrivesInReadsOfTheChosenSize_data();
    void streamArrivesInReadsOfTheChosenSize();
    void everyOutputIsOneSend();
    void stopByteCutsTheStreamShort();
    void pacedAcknowledgementWaitsForTheLine();
    void lostPortClosesOnceAndRecovers();
    void closingDropsBytesInFlight();
    void portTextChoosesTheBoardOrFailsCleanly_data();
    void portTextChoosesTheBoardOrFailsCleanly();
};

void TestSimulatedPort::openRaisesOneDsrChange()
{
    SimulatedSerialControl port;
    Listener listener(port);
    QVERIFY(port.open());
    QCOMPARE(listener.dsr, 0);  // delivered through the event queue, not from inside open()
    QTRY_COMPARE(listener.dsr, 1);
    QTest::qWait(50);
    QCOMPARE(listener.dsr, 1);

    BoardFaults faults;
    faults.noDsr = true;
    port.board().setFaults(faults);
    port.close();
    QVERIFY(port.open());
    QTest::qWait(50);
    QCOMPARE(listener.dsr, 1);
}

void TestSimulatedPort::streamArrivesInReadsOfTheChosenSize_data()
{
    QTest::addColumn<int>("chunk");
    QTest::newRow("byte by byte") << 1;
    QTest::newRow("odd size") << 7;
    QTest::newRow("large") << 5000;
}

void TestSimulatedPort::streamArrivesInReadsOfTheChosenSize()
{
    QFETCH(int, chunk);
    SimulatedSerialControl port;
    port.board().chip().load(everyByteValue());
    port.line().setReadChunk(chunk);
    Listener listener(port);
    QVERIFY(port.open());
    port.output(streamFrame());
    QTRY_COMPARE_WITH_TIMEOUT(listener.received.size(), qsizetype(Frame::ImageSize), 20000);
    QCOMPARE(listener.received, everyByteValue());
    QVERIFY(listener.largestRead <= chunk);
    QCOMPARE(port.wireFromBoard(), everyByteValue());
}

void TestSimulatedPort::everyOutputIsOneSend()
{
    SimulatedSerialControl port;
    port.output("dropped while closed");
    QVERIFY(port.open());
    port.output(writeStartFrame());
    for (int group = 0; group < Frame::BlockSize / 8; ++group)
        port.output(QByteArray(8, char(0x00)));
    port.output(nextBlockFrame());
    QCOMPARE(port.sends().size(), 1 + 64 + 1);
    QCOMPARE(port.sends().first(), writeStartFrame());
    QCOMPARE(port.sends()[1], QByteArray(8, '\0'));
    QCOMPARE(port.wireToBoard().size(), 3 + 512 + 3);
    QCOMPARE(port.board().blocksAcknowledged(), 1);
}

void TestSimulatedPort::stopByteCutsTheStreamShort()
{
    SimulatedSerialControl port;
    port.line().setReadChunk(16);
    Listener listener(port);
    QVERIFY(port.open());
    port.output(streamFrame());
    QTRY_VERIFY(listener.received.size() >= 64);
    port.output(stopByte());
    const qsizetype atStop = listener.received.size();
    QTest::qWait(100);
    QVERIFY(listener.received.size() <= atStop + 16);
    QVERIFY(!port.board().streaming());
}

void TestSimulatedPort::pacedAcknowledgementWaitsForTheLine()
{
    SimulatedSerialControl port;
    port.line().setPaced(true);
    Listener listener(port);
    QVERIFY(port.open());
    QElapsedTimer clock;
    clock.start();
    port.output(writeStartFrame());
    for (int group = 0; group < Frame::BlockSize / 8; ++group)
        port.output(QByteArray(8, char(0x55)));
    QTRY_COMPARE_WITH_TIMEOUT(listener.received, QByteArray(1, char(Frame::BlockDone)), 5000);
    // 515 bytes at 1,920 bytes a second cannot have crossed the line sooner.
    QVERIFY2(clock.elapsed() >= 515 * 1000 / BoardLine::BytesPerSecond - 5,
             qPrintable(QString::number(clock.elapsed())));
}

void TestSimulatedPort::lostPortClosesOnceAndRecovers()
{
    SimulatedSerialControl port;
    Listener listener(port);
    QVERIFY(port.open());
    port.output(streamFrame());
    port.losePort();
    port.losePort();
    QCOMPARE(listener.lost, 1);
    QVERIFY(!port.isOpen());
    port.output(streamFrame());
    QTest::qWait(50);
    QVERIFY(listener.received.isEmpty());
    QCOMPARE(port.sends().size(), 1);
    QVERIFY(port.open());
    port.output(*commandFrame(0, CommandCode::ReadData));
    QTRY_COMPARE(listener.received, QByteArray(1, char(0xFF)));
}

void TestSimulatedPort::closingDropsBytesInFlight()
{
    SimulatedSerialControl port;
    port.line().setReadChunk(1);
    Listener listener(port);
    QVERIFY(port.open());
    port.output(streamFrame());
    QTRY_VERIFY(!listener.received.isEmpty());
    port.close();
    const QByteArray before = listener.received;
    QVERIFY(port.open());
    QTest::qWait(50);
    QCOMPARE(listener.received, before);
}

void TestSimulatedPort::portTextChoosesTheBoardOrFailsCleanly_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("failure");
    QTest::newRow("SIM") << "SIM" << int(LinkError::Kind::None);
    QTest::newRow("sim") << "sim" << int(LinkError::Kind::None);
    QTest::newRow("empty") << "" << int(LinkError::Kind::NoPortNamed);
    QTest::newRow("zero") << "0" << int(LinkError::Kind::NoPortNamed);
    QTest::newRow("negative") << "-1" << int(LinkError::Kind::NoPortNamed);
    QTest::newRow("missing device") << "/dev/ttyNoSuchPort" << int(LinkError::Kind::NotFound);
    QTest::newRow("a directory") << "/tmp" << -1;
    QTest::newRow("not a terminal") << "/dev/null" << -1;
}

void TestSimulatedPort::portTextChoosesTheBoardOrFailsCleanly()
{
    QFETCH(QString, text);
    QFETCH(int, failure);
    SelectingSerialControl port;
    Listener listener(port);
    port.setCommPort(text);
    const bool opened = port.open();
    QCOMPARE(opened, failure == int(LinkError::Kind::None));
    QCOMPARE(port.isOpen(), opened);
    if (opened) {
        QVERIFY(port.simulatedActive());
        QTRY_COMPARE(listener.dsr, 1);
        port.output(*commandFrame(0, CommandCode::ReadData));
        QTRY_COMPARE(listener.received, QByteArray(1, char(0xFF)));
        return;
    }
    if (failure >= 0)
        QCOMPARE(int(port.lastError().kind), failure);
    QVERIFY(port.lastError().kind != LinkError::Kind::None);
    QVERIFY(!port.lastError().reason.isEmpty());
    port.output("nowhere");  // dropped, never a crash
    // The same control opens the board afterwards.
    port.setCommPort("SIM");
    QVERIFY(port.open());
    QTRY_COMPARE(listener.dsr, 1);
}

QTEST_GUILESS_MAIN(TestSimulatedPort)
#include "tst_simport.moc"
