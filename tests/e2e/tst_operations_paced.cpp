// The four whole-chip operations over the real serial implementation, against the software board
// on a pseudo-terminal at the line rate, as on the bench.
#include "BoardProcess.h"

#include "link/QtSerialControl.h"
#include "link/ReceiveDispatcher.h"
#include "operations/Operations.h"
#include "operations/ProgressDisplay.h"
#include "operations/ScriptedOperator.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct NoProgress : ProgressDisplay {
    void setRefreshing(bool) override {}
    void setShown(bool) override {}
    void refreshNow() override {}
};

bool waitForMessage(ScriptedOperator &op, const QString &text, int timeoutMs)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (op.texts().contains(text))
            loop.quit();
    });
    poll.start(20);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return op.texts().contains(text);
}

} // namespace

class TestOperationsPaced : public QObject {
    Q_OBJECT
private slots:
    void writeReadVerifyAndBlankCheckAtTheLineRate();
};

void TestOperationsPaced::writeReadVerifyAndBlankCheckAtTheLineRate()
{
    QTemporaryDir dir;
    BoardProcess board({QStringLiteral("--paced")});
    QVERIFY(!board.path().isEmpty());

    QtSerialControl port;
    FormState state;
    ReceiveDispatcher dispatcher(port, state);
    ScriptedOperator op;
    NoProgress progress;
    QTimer timerWaitAck;
    Operations ops(port, state, dispatcher, op, progress, timerWaitAck);
    port.setCommPort(board.path());
    QVERIFY2(port.open(), qPrintable(port.lastError().reason));

    const QByteArray image = everyByteValue();
    const QString imagePath = dir.filePath(QStringLiteral("rom.bin"));
    {
        QFile f(imagePath);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(image) == image.size());
    }

    // The write runs inside its handler; the board answers each block at the line rate.
    QElapsedTimer wall;
    wall.start();
    double cpu = cpuSeconds();
    ops.write.Command3_Click(imagePath);
    const double writeWall = wall.elapsed() / 1000.0;
    const double writeCpu = cpuSeconds() - cpu;
    QCOMPARE(op.texts().last(), QStringLiteral("CORRETTO"));

    // A read stopped after a second, then started again at once: the board is still sending the
    // first stream when the second is asked for, and none of it may reach the file.
    const QString readPath = dir.filePath(QStringLiteral("letto.bin"));
    ops.read.Command6_Click(readPath);
    QTest::qWait(1000);
    ops.read.Command6_Click(readPath);
    QCOMPARE(state.rxMode, RxMode::Idle);
    wall.restart();
    cpu = cpuSeconds();
    ops.read.Command6_Click(readPath);
    QVERIFY(waitForMessage(op, QStringLiteral("TERMINATO"), 60000));
    const double readWall = wall.elapsed() / 1000.0;
    const double readCpu = cpuSeconds() - cpu;
    QFile read(readPath);
    QVERIFY(read.open(QIODevice::ReadOnly));
    QCOMPARE(read.readAll(), image);

    // The same for a verify stopped by the blank-check button.
    ops.check.Command7_Click(imagePath);
    QTest::qWait(1000);
    ops.check.Command8_Click();
    QCOMPARE(state.rxMode, RxMode::Idle);
    ops.check.Command7_Click(imagePath);
    QVERIFY(waitForMessage(op, QStringLiteral("VERIFICA ESEGUITA CORRETTAMENTE"), 60000));
    QVERIFY(!op.texts().contains(ChipCheck::differenceText(0)));
    // A programmed chip is not blank: the board is stopped at location 0.
    ops.check.Command8_Click();
    QVERIFY(waitForMessage(op, QStringLiteral("IL CHIP NON E' VUOTO"), 60000));

    qInfo("paced write: %.2f s wall, %.2f s CPU (line limit 17.17 s)", writeWall, writeCpu);
    qInfo("paced read:  %.2f s wall, %.2f s CPU (line limit 17.07 s)", readWall, readCpu);
    // Waiting for the board must not keep a core busy.
    QVERIFY2(writeCpu < writeWall / 2 && readCpu < readWall / 2, "an operation spins while it waits");
}

QTEST_GUILESS_MAIN(TestOperationsPaced)
#include "tst_operations_paced.moc"
