// SPDX-License-Identifier: GPL-3.0-or-later
#include "board/SelectingSerialControl.h"

#include "link/PortName.h"

SelectingSerialControl::SelectingSerialControl(QObject *parent) : SerialControl(parent)
{
    adopt(m_real);
    adopt(m_simulated);
}

void SelectingSerialControl::adopt(SerialControl &child)
{
    // The children queue their own notifications; they are passed on as they come.
    connect(&child, &SerialControl::notification, this, [this, &child](int event) {
        if (m_active == &child)
            emit notification(event);
    });
    connect(&child, &SerialControl::portLost, this, [this, &child](const QString &reason) {
        if (m_active == &child)
            emit portLost(reason);
    });
}

bool SelectingSerialControl::open()
{
    close();
    const PortSelection selection = selectPort(commPort());
    switch (selection.kind) {
    case PortSelection::Kind::None:
        m_active = nullptr;
        setLastError({LinkError::Kind::NoPortNamed, commPort().trimmed(),
                      QStringLiteral("not a port number or name")});
        return false;
    case PortSelection::Kind::Simulated:
        m_active = &m_simulated;
        break;
    case PortSelection::Kind::Serial:
        m_active = &m_real;
        break;
    }
    m_active->setCommPort(commPort());
    const bool opened = m_active->open();
    setLastError(m_active->lastError());
    if (opened) {
        portOpened();
        m_opened.start();
    }
    return opened;
}

void SelectingSerialControl::close()
{
    if (m_active)
        m_active->close();
}

void SelectingSerialControl::output(const QByteArray &bytes)
{
    if (isOpen()) {
        trace('>', bytes);
        m_active->output(bytes);
    }
    else
        emit outputDropped();
}

qint64 SelectingSerialControl::bytesWaiting() const
{
    return 0;
}

QByteArray SelectingSerialControl::takeWaiting()
{
    const QByteArray bytes = m_active ? m_active->input() : QByteArray();
    trace('<', bytes);
    return bytes;
}

void SelectingSerialControl::trace(char direction, const QByteArray &bytes)
{
    if (!m_trace || bytes.isEmpty())
        return;
    const QByteArray line = QByteArray::number(double(m_opened.nsecsElapsed()) / 1e9, 'f', 6) + ' ' + direction + ' '
                            + bytes.toHex(' ') + '\n';
    if (m_trace->write(line) != line.size() && m_traceError.isEmpty())
        m_traceError = m_trace->errorString();
}
