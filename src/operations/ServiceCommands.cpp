// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/ServiceCommands.h"

#include "link/CommandFrame.h"
#include "operations/ReceiveDispatcher.h"
#include "link/SerialControl.h"
#include "operations/Messages.h"
#include "operations/NumberText.h"

#include <QThread>
#include <QTimer>

ServiceCommands::ServiceCommands(SerialControl &port, OperationState &state, ReceiveDispatcher &dispatcher, Operator &op,
                                 std::function<bool()> operationRunning, QObject *parent)
    : QObject(parent),
      m_port(port),
      m_state(state),
      m_operator(op),
      m_pause([](int ms) { QThread::msleep(static_cast<unsigned long>(ms)); }),
      m_operationRunning(std::move(operationRunning))
{
    m_timerSerialTimeout.setObjectName(QStringLiteral("timerSerialTimeout"));
    m_timerSerialTimeout.setInterval(500);
    connect(&m_timerSerialTimeout, &QTimer::timeout, this, &ServiceCommands::timerSerialTimeout_Timer);
    dispatcher.setHandling(RxMode::ServiceRead, [this](const QByteArray &bytes) { serviceRead(bytes); });
}

bool ServiceCommands::refused()
{
    if (!m_operationRunning())
        return false;
    m_operator.beep();
    return true;
}

void ServiceCommands::send(std::uint8_t code)
{
    if (refused())
        return;
    m_port.output(*commandFrame(0, code));
}

void ServiceCommands::position(const QString &addressText)
{
    if (refused())
        return;
    m_state.rxMode = RxMode::Idle;
    const std::optional<std::int32_t> address = roundedToInt32(numberAtStart(addressText));
    // The high byte is the address divided by 256, truncated toward zero; it must fit a byte.
    const std::optional<QByteArray> high = address ? commandFrame(*address / 256, CommandCode::AddressHigh) : std::nullopt;
    if (!high) {
        m_operator.show(Messages::message(MessageId::AddressRefused));
        return;
    }
    m_port.output(*high);
    m_pause(PositionPauseMs);
    m_port.output(*commandFrame(*address & 0xFF, CommandCode::AddressLow));
    m_operator.beep();
}

void ServiceCommands::readData()
{
    if (refused())
        return;
    m_state.rxMode = RxMode::ServiceRead;
    m_port.discardInput();
    m_state.rxIndex = 0;
    m_timerSerialTimeout.start();
    m_port.output(*commandFrame(0, CommandCode::ReadData));
    emit readPending(true);
}

void ServiceCommands::writeData(const QString &dataText)
{
    if (refused())
        return;
    const std::optional<std::uint8_t> data = roundedToByte(numberAtStart(dataText));
    if (!data) {
        m_operator.show(Messages::message(MessageId::DataRefused));
        return;
    }
    m_port.output(*commandFrame(*data, CommandCode::WriteData));
}

void ServiceCommands::serviceRead(const QByteArray &bytes)
{
    for (const char byte : bytes) {
        // Room for 22 bytes; the rest of a longer notification is not kept.
        if (m_state.rxIndex >= 0 && m_state.rxIndex < static_cast<int>(m_state.bufRx.size()))
            m_state.bufRx[static_cast<std::size_t>(m_state.rxIndex)] = static_cast<std::uint8_t>(byte);
        ++m_state.rxIndex;
    }
    m_timerSerialTimeout.stop();
    emit dataRead(u' ' + QString::number(m_state.bufRx[0]));
    m_state.rxIndex = 0;
    m_state.reset_bufRx();
    emit readPending(false);
}

void ServiceCommands::timerSerialTimeout_Timer()
{
    m_operator.beep();
    m_timerSerialTimeout.stop();
    m_state.rxIndex = 0;
    m_operator.show(Messages::message(MessageId::ServiceReadTimeout));
    emit readPending(false);
}
