// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "operations/OperationState.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>


class SerialControl;

// Starts an operation only on a quiet line. A board may still be sending: a stream that was
// stopped (bytes on their way in the board, the cable, the system's buffers), a stream that ran
// past the chip's end, or one that another program left running before this one opened the port.
// Taken for a new stream those bytes would be stored or compared as locations 0, 1, ...; and a
// board busy streaming could miss a write's start and take the image for commands. While the
// line is busy the operation waits, dropping what comes, and asks the board to stop, again every
// RestopMs while the flow goes on.
class StreamStart : public QObject {
    Q_OBJECT
public:
    StreamStart(SerialControl &port, OperationState &state, QObject *parent = nullptr);

    // A read, verify or blank check has set its receive mode: send the stream frame now or once
    // the line is quiet.
    void begin();
    // For the write: begins the wait for a quiet line; false when the line is quiet already.
    // Once it is, quiet() is emitted.
    bool startWaiting();
    // The receive handlers hand over what comes while the start waits; true when it was dropped.
    bool dropWhileWaiting();
    // A stop ends the wait too.
    void cancel();
    bool waiting() const { return m_waiting; }
    // A write stopped or failed half-way: the board may still take what comes next as image data
    // until it has given the write up, so nothing starts before UnfinishedWriteMs have passed.
    void writeLeftUnfinished() { m_unfinishedWrite.start(); }
    // How long from now until an operation may start, as far as the line's past tells: quiet for
    // QuietMs, AfterOpenMs since the port opened, and any write left half-way given up.
    qint64 msToWait() const;
    qint64 msUntilWriteGivenUp() const;
    // How long the board may still be inside a write that the port's previous user left: until
    // AfterOpenMs after the opening.
    qint64 msUntilOpenSettled() const;

    // How long the line must be quiet, counted from the port's opening too, before an operation
    // starts.
    static constexpr int QuietMs = 100;
    // While bytes keep coming this long after a stop byte, the board is asked again.
    static constexpr int RestopMs = 500;
    // A write gives up when the board has not gone quiet after this long.
    static constexpr int WriteGiveUpMs = 3000;
    // Long enough for a block still queued for the line (0.27 s) to reach the board, and for the
    // board then to give the write up (romivo-board: after 0.2 s of quiet).
    static constexpr int UnfinishedWriteMs = 600;
    // A program that had the port before may have died inside a write: its last block (up to 515
    // bytes, 0.27 s at the line rate) still drains from the system's and the adapter's buffers
    // after the open, and the board gives the write up only 0.2 s after the last of them. So the
    // first operation after an open waits as one after a write left half-way does.
    static constexpr int AfterOpenMs = UnfinishedWriteMs;

signals:
    void quiet();

private:
    void quietReached();

    SerialControl &m_port;
    OperationState &m_state;
    QTimer m_quiet;
    QElapsedTimer m_flowing;
    QElapsedTimer m_unfinishedWrite;
    RxMode m_mode = RxMode::Idle;
    bool m_waiting = false;
};
