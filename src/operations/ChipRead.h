// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "operations/OperationContext.h"

#include <QObject>

class QIODevice;
class ReceiveDispatcher;

// Reads the whole chip into a sink: the stream frame, then receive mode 3 hands each byte to the
// sink as it comes, until 32,768 are in. A sink that stops taking bytes stops the read as a stop
// does, and the result says why.
class ChipRead : public QObject {
    Q_OBJECT
public:
    ChipRead(OperationContext context, ReceiveDispatcher &dispatcher, QObject *parent = nullptr);

    // Starts the read and returns; the sink must stay open until the read has ended. Nothing may
    // run meanwhile.
    void read(QIODevice &sink);
    // Receive mode 3.
    void receive(const QByteArray &bytes);

private:
    // False when the sink stopped taking bytes.
    bool store(const QByteArray &bytes);
    void finish();

    OperationContext m_context;
    QIODevice *m_sink = nullptr;
};
