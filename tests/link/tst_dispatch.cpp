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
    // Each notification's bytes go to the mode current then; idle and unregistered modes drop them.
    QMap<int, QByteArray> seen;
    for (std::int16_t mode : {RxMode::ServiceRead, RxMode::ReadToFile, RxMode::Verify, RxMode::BlankCheck})
        dispatcher->setHandling(mode, [&seen, mode](const QByteArray &b) { seen[mode] += b; });
    const std::pair<std::int16_t, QByteArray> arrivals[] = {
        {RxMode::Write, "lost"}, {RxMode::Idle, "stale"}, {RxMode::Verify, QByteArray::fromHex("00ff80")},
        {RxMode::ServiceRead, "\r"}, {RxMode::Idle, "late"}};
    for (const auto &[mode, bytes] : arrivals) {
        state.rxMode = mode;
        port->inject(bytes);
        QCoreApplication::processEvents();
    }
    QCOMPARE(seen, (QMap<int, QByteArray>{{RxMode::Verify, QByteArray::fromHex("00ff80")}, {RxMode::ServiceRead, "\r"}}));
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
