// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/ChipRead.h"

#include "link/Chip.h"
#include "link/SerialControl.h"
#include "operations/ProgressDisplay.h"
#include "operations/ReceiveDispatcher.h"
#include "operations/StreamStart.h"

#include <QIODevice>

ChipRead::ChipRead(OperationContext context, ReceiveDispatcher &dispatcher, QObject *parent)
    : QObject(parent), m_context(context)
{
    dispatcher.setHandling(RxMode::ReadToFile, [this](const QByteArray &bytes) { receive(bytes); });
}

void ChipRead::read(QIODevice &sink)
{
    m_context.port.discardInput();
    m_sink = &sink;
    OperationState &state = m_context.state;
    state.rxMode = RxMode::ReadToFile;
    state.currentAddress = 0;
    ++state.started;
    progressOn(m_context.progress);
    m_context.stream.begin();
}

void ChipRead::receive(const QByteArray &bytes)
{
    if (m_context.stream.dropWhileWaiting())
        return;
    // Bytes beyond the chip's last location, in the read that completes it, are dropped.
    const qsizetype room = qMax<qsizetype>(0, Chip::Size - m_context.state.currentAddress);
    if (!store(bytes.left(room)))
        return;
    if (m_context.state.currentAddress > Chip::LastLocation)
        finish();
}

bool ChipRead::store(const QByteArray &bytes)
{
    OperationState &state = m_context.state;
    const qint64 written = bytes.isEmpty() ? 0 : m_sink->write(bytes);
    state.currentAddress += int(qMax<qint64>(0, written));
    if (written == bytes.size())
        return true;
    // Stopped as a stop does, and said: the sink holds what reached it so far.
    const OperationResult result{Outcome::ReadInterrupted, state.currentAddress, -1, m_sink->errorString()};
    stopRunningOperation(m_context);
    m_context.conclude(result);
    m_context.announce(result);
    return false;
}

void ChipRead::finish()
{
    OperationState &state = m_context.state;
    progressOff(m_context.progress);
    state.rxMode = RxMode::Idle;
    const OperationResult result{Outcome::ReadDone, state.currentAddress};
    m_context.conclude(result);
    m_context.announce(result);
}
