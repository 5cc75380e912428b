#pragma once

#include "operations/ChipCheck.h"
#include "operations/ChipRead.h"
#include "operations/ImageWrite.h"
#include "operations/StreamStart.h"

#include <QFile>

// The four whole-chip operations over one port, sharing the operation file.
class Operations {
public:
    Operations(SerialControl &port, FormState &state, ReceiveDispatcher &dispatcher, Operator &op,
               ProgressDisplay &progress, QTimer &timerWaitAck)
        : m_stream(port, state),
          m_context{port, state, op, progress, m_operationFile, m_stream},
          write(m_context, dispatcher, timerWaitAck),
          read(m_context, dispatcher),
          check(m_context, dispatcher)
    {
    }

    const QFile &operationFile() const { return m_operationFile; }
    // Stops whatever runs, as a read, verify or blank-check press does (a write then runs into
    // its time-out); false when nothing ran.
    bool stop()
    {
        if (m_context.state.rxMode == RxMode::Idle)
            return false;
        stopRunningOperation(m_context);
        return true;
    }

private:
    QFile m_operationFile;
    StreamStart m_stream;
    OperationContext m_context;

public:
    ImageWrite write;
    ChipRead read;
    ChipCheck check;
};
