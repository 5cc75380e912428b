#pragma once

#include "operations/OperationContext.h"

#include <QByteArray>
#include <QFile>
#include <QObject>

class QTimer;
class ReceiveDispatcher;

// Programs the whole chip from an image file: the write-start frame, 64 blocks of 512 bytes in
// sends of 8, each block's wait for the board's 0x0D (or 0x62/0x63, or 500 ms), and the
// next-block frame after every wait. Runs inside its button's click handler, letting the event
// loop run once per group and while it waits.
class ImageWrite : public QObject {
    Q_OBJECT
public:
    ImageWrite(OperationContext context, ReceiveDispatcher &dispatcher, QTimer &timerWaitAck,
               QObject *parent = nullptr);

    void Command3_Click(const QString &nomeFile);
    void timerWaitAck_Timer();
    // Receive mode 2.
    void receive(const QByteArray &bytes);

private:
    Outcome stream(const QByteArray &image);
    void commonEnding();

    OperationContext m_context;
    QTimer &m_timerWaitAck;
    QFile m_image;  // the write's own handle, apart from the operation file
};
