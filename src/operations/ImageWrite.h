#pragma once

#include "operations/OperationContext.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QTimer>

class ReceiveDispatcher;

// Programs the whole chip from an image file: once the line is quiet, the write-start frame,
// 64 blocks of 512 bytes in sends of 8, each block's wait for the board's 0x0D, and the
// next-block frame after it. A failure byte (0x62/0x63), 500 ms without an answer or a stop ends
// the write at once: a board that has given up the write would take anything more for commands.
// Runs inside its button's click handler, letting the event loop run once per group and while it
// waits.
class ImageWrite : public QObject {
    Q_OBJECT
public:
    ImageWrite(OperationContext context, ReceiveDispatcher &dispatcher, QObject *parent = nullptr);

    void Command3_Click(const QString &nomeFile);
    // Programs the chip with `image` (its first 32,768 bytes, erased past a shorter one's end);
    // nothing asked, nothing opened. Returns when the write has ended.
    void write(const QByteArray &image);
    void timerWaitAck_Timer();
    // Receive mode 2.
    void receive(const QByteArray &bytes);

private:
    Outcome stream(const QByteArray &image);
    void sendBlocks(const QByteArray &image);
    // Whether the write has failed or was stopped; marks it failed when it was stopped.
    bool mustStop();
    void commonEnding();

    OperationContext m_context;
    QTimer m_timerWaitAck;  // the wait for a block's acknowledgement
    QFile m_image;  // the write's own handle, apart from the operation file
    quint64 m_opensAtStart = 0;
};
