// SPDX-License-Identifier: GPL-3.0-or-later
// The receive dispatcher over a port whose far end is the test, and the port box's rule.
#include "operations/OperationState.h"
#include "link/PortName.h"
#include "operations/ReceiveDispatcher.h"
#include "link/SerialControl.h"

#include <QtTest>

namespace {

// A serial control whose far end is the test: bytes arrive when injected, sends are kept.
class ScriptedPort : public SerialControl {
public:
    bool open() override { return m_open = true; }
    void close() override
    {
        m_open = false;
        m_waiting.clear();
        dropPendingNotifications();
    }
    bool isOpen() const override { return m_open; }
    void output(const QByteArray &bytes) override
    {
        if (m_open)
            sent.append(bytes);
    }
    void inject(const QByteArray &bytes)
    {
        if (!m_open)
            return;
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

class TestLink : public QObject {
    Q_OBJECT
    ScriptedPort port;
    OperationState state;
    ReceiveDispatcher dispatcher{port, state};
    QByteArray seen;

private slots:
    void init()
    {
        state = OperationState{};
        seen.clear();
        port.close();
        port.open();
        for (RxMode mode : {RxMode::ServiceRead, RxMode::ReadToFile, RxMode::Verify, RxMode::BlankCheck})
            dispatcher.setHandling(mode, [this, mode](const QByteArray &b) { seen += QByteArray::number(int(mode)) + ':' + b + ' '; });
    }

    void bytesGoToTheModeCurrentWhenTheyAreServed()
    {
        // A DSR change goes to its own handling whatever the mode, an unknown event nowhere.
        dispatcher.setDsrHandling([this] { seen += "dsr "; });
        state.rxMode = RxMode::ServiceRead;
        dispatcher.MSComm1_OnComm(SerialControl::comEvDSR);
        dispatcher.MSComm1_OnComm(7);
        port.raiseDsr();
        // Idle and unregistered modes drop bytes; a closed port delivers nothing, and drops sends.
        const std::pair<RxMode, QByteArray> arrivals[] = {
            {RxMode::Write, "lost"}, {RxMode::Idle, "stale"}, {RxMode::Verify, "ab"}, {RxMode::ServiceRead, "\r"}, {RxMode::Idle, "late"}};
        for (const auto &[mode, bytes] : arrivals) {
            state.rxMode = mode;
            port.inject(bytes);
            QCoreApplication::processEvents();
        }
        state.rxMode = RxMode::BlankCheck;
        port.inject("closed");
        port.raiseDsr();
        port.close();
        port.output("dropped");
        QVERIFY(port.sent.isEmpty());
        port.open();  // what was announced before the close stays unannounced
        port.inject("again");
        QCoreApplication::processEvents();
        QCOMPARE(seen, "dsr dsr 4:ab 1:\r 5:again ");
    }

    void notificationsNeverComeFromInsideOutput()
    {
        int handled = 0;
        state.rxMode = RxMode::Write;
        dispatcher.setHandling(RxMode::Write, [&](const QByteArray &) {
            ++handled;
            port.inject("x");  // an answer arriving while the handling sends
            port.output("y");
            QCOMPARE(handled, 1);
        });
        port.inject("a");
        QCOMPARE(handled, 0);
        QCoreApplication::processEvents();
        QVERIFY(handled >= 1);
    }

    void bytesArrivingDuringANestedLoopAreAnnouncedOnce()
    {
        // A handling that runs its own event loop (as a message box does) must not swallow the
        // announcement of bytes that arrive meanwhile, nor have them handled twice.
        int depth = 0, deepest = 0;
        state.rxMode = RxMode::ReadToFile;
        dispatcher.setHandling(RxMode::ReadToFile, [&](const QByteArray &bytes) {
            seen += bytes;
            deepest = qMax(deepest, ++depth);
            if (bytes == "first") {
                port.inject("second");
                QCoreApplication::processEvents();
                port.inject("third");
            }
            --depth;
        });
        port.inject("first");
        QTRY_COMPARE(seen, "firstsecondthird");
        QCOMPARE(deepest, 2);
    }

    void portBoxRuleOnBothSystems()
    {
        const std::tuple<const char *, const char *, const char *> rows[] = {
            {" 22 ", "/dev/ttyS21", "COM22"}, {"ttyACM0", "ttyACM0", "ttyACM0"}, {"32768", "", ""}, {" sIm ", "", ""}};
        for (const auto &[text, unixName, windowsName] : rows)
            QVERIFY2(selectPort(text, PortPlatform::Unix).systemName == unixName && selectPort(text, PortPlatform::Windows).systemName == windowsName, text);
        QCOMPARE(selectPort("SIM", PortPlatform::Unix).kind, PortSelection::Kind::Simulated);
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
