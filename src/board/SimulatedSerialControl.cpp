// SPDX-License-Identifier: GPL-3.0-or-later
#include "board/SimulatedSerialControl.h"

SimulatedSerialControl::SimulatedSerialControl(QObject *parent)
    : SerialControl(parent), m_line(m_board)
{
    connect(&m_line, &BoardLine::toProgram, this, &SimulatedSerialControl::arrived);
    connect(&m_line, &BoardLine::reachedBoard, this,
            [this](const QByteArray &bytes) { m_wireToBoard.append(bytes); });
}

bool SimulatedSerialControl::open()
{
    close();
    m_open = true;
    portOpened();
    setLastError({});
    if (!m_board.faults().noDsr)
        dsrChanged();
    return true;
}

void SimulatedSerialControl::close()
{
    m_open = false;
    m_received.clear();
    m_line.clear();
    dropPendingNotifications();
}

void SimulatedSerialControl::output(const QByteArray &bytes)
{
    if (!m_open)
        return;
    m_sends.append(bytes);
    m_line.fromProgram(bytes);
}

void SimulatedSerialControl::clearRecords()
{
    m_sends.clear();
    m_wireToBoard.clear();
    m_wireFromBoard.clear();
}

void SimulatedSerialControl::losePort(const QString &reason)
{
    if (!m_open)
        return;
    close();
    emit portLost(reason);
}

QByteArray SimulatedSerialControl::takeWaiting()
{
    QByteArray bytes;
    bytes.swap(m_received);
    return bytes;
}

void SimulatedSerialControl::arrived(const QByteArray &bytes)
{
    if (!m_open || bytes.isEmpty())
        return;
    m_wireFromBoard.append(bytes);
    m_received.append(bytes);
    dataArrived();
}
