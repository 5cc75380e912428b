// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/SerialControl.h"

#include <QMetaObject>

SerialControl::~SerialControl() = default;

QByteArray SerialControl::input()
{
    ++m_inputCount;
    QByteArray bytes = takeWaiting();
    if (!bytes.isEmpty())
        m_lastInput.start();
    return bytes;
}

void SerialControl::dataArrived()
{
    if (m_receivePending)
        return;
    m_receivePending = true;
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(this, [this, generation] { deliverReceive(generation); },
                              Qt::QueuedConnection);
}

void SerialControl::dsrChanged()
{
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(this, [this, generation] {
        if (generation == m_generation && isOpen())
            emit notification(comEvDSR);
    }, Qt::QueuedConnection);
}

void SerialControl::deliverReceive(quint64 generation)
{
    if (generation != m_generation)
        return;
    // Cleared before the handling runs: data arriving inside a nested event loop of the
    // handling is then announced again, as the write's wait for an acknowledgement needs.
    m_receivePending = false;
    if (!isOpen() || bytesWaiting() <= 0)
        return;
    const quint64 inputsBefore = m_inputCount;
    emit notification(comEvReceive);
    // Bytes left over get a notification of their own, as long as somebody is reading;
    // with no reader the next arrival announces them.
    if (generation == m_generation && m_inputCount != inputsBefore && isOpen() && bytesWaiting() > 0)
        dataArrived();
}
