#include "BoardProcess.h"
#include "link/CommandFrame.h"
#include "link/QtSerialControl.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <sys/resource.h>

namespace {

struct Listener {
    explicit Listener(SerialControl &port) : port(port)
    {
        QObject::connect(&port, &SerialControl::notification, &port, [this](int event) {
            if (event == SerialControl::comEvDSR) {
                ++dsr;
                return;
            }
            received += this->port.input();
            ++reads;
        });
        QObject::connect(&port, &SerialControl::portLost, &port, [this](const QString &why) {
            ++lost;
            reason = why;
        });
    }
    SerialControl &port;
    int dsr = 0;
    int reads = 0;
    int lost = 0;
    QString reason;
    QByteArray received;
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

class TestQtSerial : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void pseudoTerminalGetsOneDsrChangeAtOpen();
    void wholeChipComesBackByteForByte();
    void writeProtocolProgramsTheChip();
    void farEndVanishing_closesOnceWithoutSpinning();

private:
    QTemporaryDir dir;
};

void TestQtSerial::initTestCase()
{
    QVERIFY(dir.isValid());
}

void TestQtSerial::pseudoTerminalGetsOneDsrChangeAtOpen()
{
    BoardProcess board;
    QVERIFY(!board.path().isEmpty());
    QtSerialControl port;
    Listener listener(port);
    port.setCommPort(board.path());
    QVERIFY2(port.open(), qPrintable(port.lastError().reason));
    QVERIFY(port.isOpen());
    QTRY_COMPARE(listener.dsr, 1);
    QTest::qWait(200);
    QCOMPARE(listener.dsr, 1);
    port.close();
    QVERIFY(!port.isOpen());
}

void TestQtSerial::wholeChipComesBackByteForByte()
{
    const QString chipPath = dir.filePath("chip.bin");
    QFile chip(chipPath);
    QVERIFY(chip.open(QIODevice::WriteOnly));
    chip.write(everyByteValue());
    chip.close();

    BoardProcess board({"--chip", chipPath});
    QtSerialControl port;
    Listener listener(port);
    port.setCommPort(board.path());
    QVERIFY(port.open());
    port.output(streamFrame());
    QTRY_COMPARE_WITH_TIMEOUT(listener.received.size(), qsizetype(32768), 20000);
    QCOMPARE(listener.received, everyByteValue());
    QVERIFY2(listener.reads > 1, "a stream this long comes in more than one read");
    QTest::qWait(100);
    QCOMPARE(listener.received.size(), qsizetype(32768));
}

void TestQtSerial::writeProtocolProgramsTheChip()
{
    const QString savePath = dir.filePath("saved.bin");
    BoardProcess board({"--save", savePath});
    QtSerialControl port;
    Listener listener(port);
    port.setCommPort(board.path());
    QVERIFY(port.open());
    const QByteArray image = everyByteValue();
    port.output(writeStartFrame());
    for (int block = 0; block < Frame::BlockCount; ++block) {
        for (int group = 0; group < Frame::BlockSize; group += 8)
            port.output(image.mid(block * Frame::BlockSize + group, 8));
        QTRY_COMPARE_WITH_TIMEOUT(listener.received.size(), qsizetype(block + 1), 5000);
        port.output(nextBlockFrame());
    }
    QCOMPARE(listener.received, QByteArray(64, char(Frame::BlockDone)));
    port.output(streamFrame());
    QTRY_COMPARE_WITH_TIMEOUT(listener.received.size(), qsizetype(64 + 32768), 20000);
    QCOMPARE(listener.received.mid(64), image);
    QVERIFY(board.stop());
    QFile saved(savePath);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), image);
}

void TestQtSerial::farEndVanishing_closesOnceWithoutSpinning()
{
    auto board = std::make_unique<BoardProcess>();
    QtSerialControl port;
    Listener listener(port);
    port.setCommPort(board->path());
    QVERIFY(port.open());
    QTRY_COMPARE(listener.dsr, 1);
    board.reset();
    QTRY_COMPARE(listener.lost, 1);
    QVERIFY(!port.isOpen());
    // The reason of the loss, not a word left over from an earlier call.
    QCOMPARE(listener.reason, QString::fromLocal8Bit(std::strerror(EIO)));

    // Qt left alone repeats the error without end; closed, the process rests.
    const double cpuBefore = cpuSeconds();
    QTest::qWait(1000);
    QVERIFY2(cpuSeconds() - cpuBefore < 0.5, "the lost port keeps a core busy");
    QCOMPARE(listener.lost, 1);
    port.output(streamFrame());  // dropped

    BoardProcess again;
    port.setCommPort(again.path());
    QVERIFY(port.open());
    QTRY_COMPARE(listener.dsr, 2);
    port.output(*commandFrame(0, CommandCode::ReadData));
    QTRY_COMPARE(listener.received, QByteArray(1, char(0xFF)));
}

QTEST_GUILESS_MAIN(TestQtSerial)
#include "tst_qtserial.moc"
