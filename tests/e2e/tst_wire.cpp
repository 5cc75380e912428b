// What the board receives, and when, over the real serial control on a pseudo-terminal: bytes
// handed to the port are on their way at once, also while the thread then blocks.
#include "BoardProcess.h"

#include "link/QtSerialControl.h"
#include "operations/Session.h"
#include "ScriptedOperator.h"
#include "ui/ServicePanel.h"

#include <QLineEdit>
#include <QPushButton>
#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

class TestWire : public QObject {
    Q_OBJECT
private slots:
    void positioningPausesBetweenItsTwoFrames();
    void closingSendsWhatIsStillQueued_data();
    void closingSendsWhatIsStillQueued();
};

void TestWire::positioningPausesBetweenItsTwoFrames()
{
    QTemporaryDir dir;
    const QString logPath = dir.filePath(QStringLiteral("wire.log"));
    BoardProcess board({QStringLiteral("--log"), logPath});
    QtSerialControl port;
    ScriptedOperator op;
    Session session(port, op);
    ServicePanel panel(session.service());
    panel.show();
    port.setCommPort(board.path());
    QVERIFY(port.open());

    panel.findChild<QLineEdit *>(QStringLiteral("textAddress"))->setText(QStringLiteral("300"));
    QTest::mouseClick(panel.findChild<QPushButton *>(QStringLiteral("buttonPompoClock")), Qt::LeftButton);

    const QByteArray frames = QByteArray::fromHex("ff011a ff2c1b");
    QTRY_COMPARE(receivedByBoard(logPath).bytes, frames);
    const WireLog log = receivedByBoard(logPath);
    const double gap = log.seconds[3] - log.seconds[2];
    QVERIFY2(gap >= 1.9, qPrintable(QStringLiteral("the board got the second frame %1 s after the first").arg(gap)));
    QVERIFY(op.texts().isEmpty());
}

void TestWire::closingSendsWhatIsStillQueued_data()
{
    QTest::addColumn<bool>("farEndReads");
    QTest::newRow("far end reads: everything arrives") << true;
    QTest::newRow("far end never reads: closing still ends") << false;
}

void TestWire::closingSendsWhatIsStillQueued()
{
    // A terminal of the test's own whose far end starts reading only once the port is closing:
    // what the system would not take at once waits in the program and must still go out.
    QFETCH(bool, farEndReads);
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const QString slavePath = QString::fromLocal8Bit(::ptsname(master));
    const int holder = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios raw{};
    ::tcgetattr(holder, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(holder, TCSANOW, &raw);

    QtSerialControl port;
    port.setCommPort(slavePath);
    QVERIFY(port.open());
    QByteArray sent;
    for (int i = 0; i < 200; ++i) {
        const QByteArray piece(1000, char(i));
        port.output(piece);
        sent += piece;
    }
    std::atomic<bool> stop{false};
    QByteArray received;
    std::thread reader([&] {
        char buffer[4096];
        while (!stop) {
            pollfd ready{master, POLLIN, 0};
            if (::poll(&ready, 1, 50) > 0) {
                const ssize_t n = ::read(master, buffer, sizeof buffer);
                if (n > 0)
                    received.append(buffer, n);
            }
        }
    });
    if (!farEndReads)
        stop = true;
    QElapsedTimer clock;
    clock.start();
    port.close();
    const qint64 closingMs = clock.elapsed();
    QTest::qWait(200);
    stop = true;
    reader.join();
    ::close(holder);
    ::close(master);
    if (farEndReads)
        QCOMPARE(received, sent);
    else
        QVERIFY2(closingMs < QtSerialControl::DrainLimitMs + 1000, qPrintable(QString::number(closingMs)));
}

QTEST_MAIN(TestWire)
#include "tst_wire.moc"
