#pragma once

#include "board/SimulatedSerialControl.h"
#include "link/CommandFrame.h"
#include "operations/ProgressDisplay.h"
#include "operations/Session.h"
#include "ScriptedOperator.h"

#include "Files.h"

#include <QSignalSpy>

// The progress display as the operations leave it, and every location it was refreshed with.
struct RecordedProgress : ProgressDisplay {
    explicit RecordedProgress(const OperationState &state) : state(state) {}
    void setRefreshing(bool on) override { refreshing = on; }
    void setShown(bool on) override { shown = on; }
    void refreshNow() override { refreshed << state.currentAddress; }
    const OperationState &state;
    bool refreshing = true;  // the refresh timer runs from start-up
    bool shown = false;
    QList<int> refreshed;
};

// The four buttons of the whole-chip operations.
enum class Press { Write, Read, Verify, Blank };
Q_DECLARE_METATYPE(Press)

// A session over `Port` with a scripted operator, in a temporary directory.
template <typename Port>
struct SessionBench {
    Port port;
    ScriptedOperator op;
    Session session{port, op};
    OperationState &state = session.state();
    RecordedProgress progress{state};
    QTemporaryDir dir;
    QList<int> outcomes;  // of every operation that ended, in order

    SessionBench()
    {
        session.setProgressDisplay(&progress);
        QObject::connect(&session, &Session::finished, [this](OperationResult r) { outcomes << int(r.outcome); });
    }
    void press(Press which, const QString &path = {})
    {
        switch (which) {
        case Press::Write: session.write().Command3_Click(path); break;
        case Press::Read: session.read().Command6_Click(path); break;
        case Press::Verify: session.check().Command7_Click(path); break;
        case Press::Blank: session.check().Command8_Click(); break;
        }
    }
    // Presses, then serves events until the operation has ended: its result.
    OperationResult run(Press which, const QString &path = {})
    {
        QSignalSpy finished(&session, &Session::finished);
        press(which, path);
        if (finished.isEmpty() && !finished.wait(60000))
            return {Outcome::NotStarted, -1};
        return finished.last().first().value<OperationResult>();
    }
    QString path(const QString &name) const { return dir.filePath(name); }
};

// The session over the software board, open, with the board's faults.
struct Bench : SessionBench<SimulatedSerialControl> {
    explicit Bench(const QString &fault = {})
    {
        BoardFaults faults;
        if (!fault.isEmpty() && !faults.apply(fault, nullptr))
            qFatal("bad fault %s", qPrintable(fault));
        port.board().setFaults(faults);
        port.open();
        QTest::qWait(1);  // the DSR change at open
        port.clearRecords();
    }

    QString file(const QString &name, const QByteArray &contents) const { return writeFile(path(name), contents); }
    Eprom27C256 &chip() { return port.board().chip(); }
    int sendsOf(const QByteArray &bytes) const { return int(port.sends().count(bytes)); }
    // Sends that carried 8 image bytes.
    int dataSends() const { return int(std::count_if(port.sends().begin(), port.sends().end(), [](const QByteArray &s) { return s.size() == 8; })); }
    // Nothing running, no file held, no progress window; the refresh as an operation leaves it,
    // or as a refusal before any start leaves it (running since start-up).
    bool idle(bool refreshing = false) const
    {
        return state.rxMode == RxMode::Idle && !session.operationFile().isOpen() && !progress.shown && progress.refreshing == refreshing;
    }
};
