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
// that has given up the write would take anything more for commands. Returns only when the write
// has ended, letting the event loop run once per group and while it waits.
class ImageWrite : public QObject {
    Q_OBJECT
public:
    ImageWrite(OperationContext context, ReceiveDispatcher &dispatcher, QObject *parent = nullptr);

    // Programs the chip with `image` (its first 32,768 bytes, erased past a shorter one's end).
    // Concludes Written or WriteFailed while the progress still shows, then ends.
    void write(const QByteArray &image);
    // The write's ending, also for one that never started (cancelled, no image): idle, the
    // progress shown at its last location and hidden.
    void end();
    void timerWaitAck_Timer();
    // Receive mode 2.
    void receive(const QByteArray &bytes);

private:
    Outcome stream(const QByteArray &image);
    void sendBlocks(const QByteArray &image);
    // Whether the write has failed or was stopped; marks it failed when it was stopped.
    bool mustStop();

    OperationContext m_context;
    QTimer m_timerWaitAck;  // the wait for a block's acknowledgement
    quint64 m_opensAtStart = 0;
};
