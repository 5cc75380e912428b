#include "link/FormState.h"
#include "link/ReceiveDispatcher.h"
#include "link/SerialControl.h"

#include <QtTest>

namespace {

// A serial control whose far end is the test: bytes are injected, sends are kept.
class ScriptedPort : public SerialControl {
public:
    bool open() override { m_open = true; return true; }
    void close() override { m_open = false; m_waiting.clear(); dropPendingNotifications(); }
    bool isOpen() const override { return m_open; }
    void output(const QByteArray &bytes) override
    {
        if (m_open)
            sent.append(bytes);
    }
    void inject(const QByteArray &bytes)
    {
        m_waiting.append(bytes);
        dataArrived();
    }
    void raiseDsr() { dsrChanged(); }
    QList<QByteArray> sent;

protected:
    qint64 bytesWaiting() const override { return m_waiting.size(); }
    QByteArray takeWaiting() override { return std::exchange(m_waiting, {}); }

private:
    bool m_open = false;
    QByteArray m_waiting;
};

} // namespace

class TestDispatch : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void bytesGoToTheCurrentModeOnly();
    void idleAndUnregisteredModesDropTheBytes();
    void dsrBranchRunsFirst();
    void notificationsNeverComeFromInsideOutput();
    void bytesArrivingDuringANestedLoopAreAnnounced();
    void closedPortDeliversNothing();

private:
    ScriptedPort *port = nullptr;
    FormState state;
    ReceiveDispatcher *dispatcher = nullptr;
};

void TestDispatch::init()
{
    port = new ScriptedPort;
    state = FormState{};
    dispatcher = new ReceiveDispatcher(*port, state);
    port->open();
}

void TestDispatch::cleanup()
{
    delete dispatcher;
    delete port;
}

void TestDispatch::bytesGoToTheCurrentModeOnly()
{
    QMap<int, QByteArray> seen;
    for (std::int16_t mode = 1; mode <= 5; ++mode)
        dispatcher->setHandling(mode, [&seen, mode](const QByteArray &b) { seen[mode] += b; });
    state.rxMode = RxMode::Verify;
    port->inject(QByteArray::fromHex("00ff80"));
    QCoreApplication::processEvents();
    state.rxMode = RxMode::ServiceRead;
    port->inject(QByteArray::fromHex("0d"));
    QCoreApplication::processEvents();
    QCOMPARE(seen.value(4), QByteArray::fromHex("00ff80"));
    QCOMPARE(seen.value(1), QByteArray::fromHex("0d"));
    QCOMPARE(seen.size(), 2);
}

void TestDispatch::idleAndUnregisteredModesDropTheBytes()
{
    QByteArray seen;
    dispatcher->setHandling(RxMode::ReadToFile, [&](const QByteArray &b) { seen += b; });
    port->inject("stale");
    QCoreApplication::processEvents();
    state.rxMode = RxMode::Write;  // nothing registered for it
    port->inject("lost");
    QCoreApplication::processEvents();
    state.rxMode = RxMode::ReadToFile;
    port->inject("fresh");
    QCoreApplication::processEvents();
    QCOMPARE(seen, QByteArray("fresh"));
}

void TestDispatch::dsrBranchRunsFirst()
{
    QStringList order;
    dispatcher->setDsrHandling([&] { order << "dsr"; });
    state.rxMode = RxMode::ServiceRead;
    dispatcher->setHandling(RxMode::ServiceRead, [&](const QByteArray &) { order << "data"; });
    dispatcher->MSComm1_OnComm(SerialControl::comEvDSR);
    dispatcher->MSComm1_OnComm(7);  // no such event: ignored
    port->raiseDsr();
    QCOMPARE(order, QStringList{"dsr"});
    QCoreApplication::processEvents();
    QCOMPARE(order, (QStringList{"dsr", "dsr"}));
}

void TestDispatch::notificationsNeverComeFromInsideOutput()
{
    int handled = 0;
    state.rxMode = RxMode::Write;
    dispatcher->setHandling(RxMode::Write, [&](const QByteArray &) {
        ++handled;
        port->inject("x");  // an answer arriving while the handling sends
        port->output("y");
        QCOMPARE(handled, 1);
    });
    port->inject("a");
    QCOMPARE(handled, 0);
    QCoreApplication::processEvents();
    QVERIFY(handled >= 1);
}

void TestDispatch::bytesArrivingDuringANestedLoopAreAnnounced()
{
    // A handling that runs its own event loop (as a message box does) must not swallow the
    // announcement of bytes that arrive meanwhile, nor have them handled twice.
    QByteArray seen;
    int depth = 0;
    int deepest = 0;
    state.rxMode = RxMode::ReadToFile;
    dispatcher->setHandling(RxMode::ReadToFile, [&](const QByteArray &bytes) {
        seen += bytes;
        ++depth;
        deepest = qMax(deepest, depth);
        if (bytes == "first") {
            port->inject("second");
            QCoreApplication::processEvents();
            port->inject("third");
        }
        --depth;
    });
    port->inject("first");
    QTRY_COMPARE(seen, QByteArray("firstsecondthird"));
    QCOMPARE(deepest, 2);
}

void TestDispatch::closedPortDeliversNothing()
{
    QByteArray seen;
    state.rxMode = RxMode::ServiceRead;
    dispatcher->setHandling(RxMode::ServiceRead, [&](const QByteArray &b) { seen += b; });
    port->inject("late");
    port->raiseDsr();
    port->close();
    port->output("dropped");
    QCoreApplication::processEvents();
    QVERIFY(seen.isEmpty());
    QVERIFY(port->sent.isEmpty());
    port->open();
    port->inject("again");
    QCoreApplication::processEvents();
    QCOMPARE(seen, QByteArray("again"));
}

QTEST_GUILESS_MAIN(TestDispatch)
#include "tst_dispatch.moc"
