// SPDX-License-Identifier: GPL-3.0-or-later
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

// A session over `Port` with a scripted operator, in a temporary directory.
template <typename Port>
struct SessionBench {
    Port port;
    ScriptedOperator op;
    Session session{port, op};
    OperationState &state = session.state();
    RecordedProgress progress{state};
    QTemporaryDir dir;

    SessionBench() { session.setProgressDisplay(&progress); }
    // Starts an operation, then serves events until `ender` (the session) says one has ended: its
    // result.
    OperationResult run(const std::function<void()> &start) { return run(start, session); }
    template <typename Ender>
    OperationResult run(const std::function<void()> &start, const Ender &ender)
    {
        QSignalSpy finished(&ender, &Ender::finished);
        start();
        if (finished.isEmpty() && !finished.wait(60000))
            return {Outcome::NotStarted, -1};
        return finished.last().first().template value<OperationResult>();
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
    // Nothing running, no progress window; the refresh as an operation leaves it, or as a refusal
    // before any start leaves it (running since start-up).
    bool idle(bool refreshing = false) const
    {
        return state.rxMode == RxMode::Idle && !progress.shown && progress.refreshing == refreshing;
    }
};
