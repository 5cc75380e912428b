// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "operations/OperationContext.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

class ReceiveDispatcher;

// Programs the whole chip: once the line is quiet, the write-start frame, 64 blocks of 512 bytes
// in sends of 8, each block's wait for the board's 0x0D, and the next-block frame after it. A
// failure byte (0x62/0x63), 500 ms without an answer or a stop ends the write at once: a board
// that has given up the write would take anything more for commands. The event loop runs once
// between groups and while the write waits; it drives the write, so that any number of writes
// (one Session each) run side by side in one loop.
class ImageWrite : public QObject {
    Q_OBJECT
public:
    ImageWrite(OperationContext context, ReceiveDispatcher &dispatcher, QObject *parent = nullptr);

    // Programs the chip with `image` (its first 32,768 bytes, erased past a shorter one's end).
    // Concludes Written or WriteFailed while the progress still shows, then ends and announces.
    // Returns at once; the event loop carries the write.
    void start(const QByteArray &image);
    // As start(), returning only once the write has ended: the window's handler waits so.
    void write(const QByteArray &image);
    bool running() const { return m_phase != Phase::Idle; }
    // Something the write may wait for has changed (a stop): it looks again.
    void wake();
    // The write's ending, also for one that never started (cancelled, no image): idle, the
    // progress shown at its last location and hidden.
    void end();
    void timerWaitAck_Timer();
    // Receive mode 2.
    void receive(const QByteArray &bytes);

private:
    enum class Phase { Idle, Quiet, Sending, Ack };

    void step();
    void quietStep();
    void sendGroup();
    void ackStep();
    void finish(bool startFrameSent);
    // Whether the write has failed or was stopped; marks it failed when it was stopped.
    bool mustStop();

    OperationContext m_context;
    QTimer m_timerWaitAck;  // the wait for a block's acknowledgement
    QTimer m_pump;          // one group a pass of the event loop
    QTimer m_giveUp;        // a line that will not go quiet
    QByteArray m_image;
    Phase m_phase = Phase::Idle;
    int m_block = 0;
    int m_group = 0;
    bool m_gaveUp = false;
    quint64 m_opensAtStart = 0;
};
