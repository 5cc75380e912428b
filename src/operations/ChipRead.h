#pragma once

#include "operations/OperationContext.h"

#include <QObject>

class ReceiveDispatcher;

// Reads the whole chip into a file: the stream frame, then receive mode 3 stores each byte
// until 32,768 are in the file. Pressed while anything runs (and answered OK), it stops that.
class ChipRead : public QObject {
    Q_OBJECT
public:
    ChipRead(OperationContext context, ReceiveDispatcher &dispatcher, QObject *parent = nullptr);

    void Command6_Click(const QString &nomeFile);
    // Receive mode 3.
    void receive(const QByteArray &bytes);

private:
    OperationContext m_context;
};
