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
