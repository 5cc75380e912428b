// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/ReceiveDispatcher.h"

#include "link/SerialControl.h"

ReceiveDispatcher::ReceiveDispatcher(SerialControl &port, OperationState &state, QObject *parent)
    : QObject(parent), m_port(port), m_state(state)
{
    connect(&m_port, &SerialControl::notification, this, &ReceiveDispatcher::MSComm1_OnComm);
}

void ReceiveDispatcher::setHandling(RxMode rxMode, Handling handling)
{
    m_handlings.at(std::size_t(rxMode)) = std::move(handling);
}

void ReceiveDispatcher::MSComm1_OnComm(int commEvent)
{
    if (commEvent == SerialControl::comEvDSR && m_dsr)
        m_dsr();
    if (commEvent == SerialControl::comEvReceive) {
        const QByteArray bytes = m_port.input();
        if (m_state.rxMode == RxMode::Idle)
            return;
        // Copied: a handling may replace itself (or others) while it runs.
        const Handling handling = m_handlings.at(std::size_t(m_state.rxMode));
        if (handling)
            handling(bytes);
    }
}
