// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/StreamStart.h"

#include "link/CommandFrame.h"
#include "operations/OperationState.h"
#include "link/SerialControl.h"

#include <algorithm>


StreamStart::StreamStart(SerialControl &port, OperationState &state, QObject *parent)
    : QObject(parent), m_port(port), m_state(state)
{
    m_quiet.setSingleShot(true);
    connect(&m_quiet, &QTimer::timeout, this, &StreamStart::quietReached);
}

bool StreamStart::startWaiting()
{
    m_mode = m_state.rxMode;
    const qint64 wait = msToWait();
    m_waiting = wait > 0;
    m_flowing.invalidate();
    if (m_waiting)
        m_quiet.start(int(wait));
    return m_waiting;
}

qint64 StreamStart::msToWait() const
{
    return std::max({QuietMs - qMin<qint64>(m_port.msSinceInput(), QuietMs), msUntilOpenSettled(), msUntilWriteGivenUp()});
}

qint64 StreamStart::msUntilOpenSettled() const
{
    return m_port.isOpen() ? AfterOpenMs - qMin<qint64>(m_port.msSinceOpen(), AfterOpenMs) : 0;
}

qint64 StreamStart::msUntilWriteGivenUp() const
{
    return m_unfinishedWrite.isValid() ? qMax<qint64>(0, UnfinishedWriteMs - m_unfinishedWrite.elapsed()) : 0;
}

void StreamStart::begin()
{
    if (!startWaiting())
        m_port.output(streamFrame());
}

bool StreamStart::dropWhileWaiting()
{
    if (!m_waiting)
        return false;
    m_quiet.start(QuietMs);
    // Only a stream flows unasked, and a board that is not streaming ignores the stop byte.
    if (!m_flowing.isValid() || m_flowing.elapsed() >= RestopMs) {
        m_port.output(stopByte());
        m_flowing.start();
    }
    return true;
}

void StreamStart::cancel()
{
    m_waiting = false;
    m_quiet.stop();
}

void StreamStart::quietReached()
{
    if (!m_waiting)
        return;
    if (m_state.rxMode != m_mode) {  // another handler ended the operation meanwhile
        cancel();
        return;
    }
    if (!m_port.input().isEmpty()) {
        dropWhileWaiting();
        return;
    }
    if (const qint64 wait = msToWait(); wait > 0) {
        m_quiet.start(int(wait));
        return;
    }
    m_waiting = false;
    if (isStream(m_mode))
        m_port.output(streamFrame());
    else
        emit quiet();
}
