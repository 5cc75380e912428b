// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "operations/OperationState.h"
#include "operations/ReceiveDispatcher.h"
#include "operations/ChipCheck.h"
#include "operations/ChipRead.h"
#include "operations/ImageWrite.h"
#include "operations/OperationContext.h"
#include "operations/Outcome.h"
#include "operations/ProgressDisplay.h"
#include "operations/ServiceCommands.h"
#include "operations/StreamStart.h"

#include <QObject>

class Operator;
class SerialControl;

// The one object that wires the program: the shared state, the receive dispatcher, the four
// whole-chip operations and the service commands (each with its own timer), over the serial
// control and the operator a front end hands in (the service commands' boxes). Every front end
// builds exactly one.
class Session : public QObject {
    Q_OBJECT
public:
    Session(SerialControl &port, Operator &op, QObject *parent = nullptr);
    ~Session() override;

    // Where the operations show their progress; none until a front end attaches one.
    void setProgressDisplay(ProgressDisplay *display) { m_progress.target = display; }

    SerialControl &port() { return m_port; }
    Operator &op() { return m_op; }
    OperationState &state() { return m_state; }
    ReceiveDispatcher &dispatcher() { return m_dispatcher; }

    ImageWrite &write() { return m_write; }
    ChipRead &read() { return m_read; }
    ChipCheck &check() { return m_check; }
    ServiceCommands &service() { return m_service; }

    // How long the board may still take bytes for a write left half-way: a program that ends
    // sooner could leave the next one's first frame to be taken as image data.
    qint64 msUntilWriteGivenUp() const { return m_stream.msUntilWriteGivenUp(); }

    // A whole-chip operation runs, waits for a quiet line to start, or left a write half-way that
    // the board may not have given up yet; or the port opened so lately that the board may still be
    // inside a write its previous user left.
    bool isBusy() const;
    // An operation waits for the board to stop sending before it asks for anything.
    bool waitingForQuietLine() const { return m_stream.waiting(); }

    // Stops whatever runs, as a read, verify or blank-check press does (a write then runs into
    // its time-out); false when nothing ran.
    bool stop();

signals:
    // A whole-chip operation's result is known, at the moment the operator is to be told; not
    // for a stop.
    void concluded(OperationResult result);
    // A whole-chip operation has ended, after whatever was connected to `concluded` returned.
    void finished(OperationResult result);

private:
    struct ProgressRelay : ProgressDisplay {
        ProgressDisplay *target = nullptr;
        void setRefreshing(bool on) override { if (target) target->setRefreshing(on); }
        void setShown(bool shown) override { if (target) target->setShown(shown); }
        void refreshNow() override { if (target) target->refreshNow(); }
    };

    SerialControl &m_port;
    Operator &m_op;
    OperationState m_state;
    ReceiveDispatcher m_dispatcher;
    ProgressRelay m_progress;
    StreamStart m_stream;
    OperationContext m_context;
    ImageWrite m_write;
    ChipRead m_read;
    ChipCheck m_check;
    ServiceCommands m_service;
};
