// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "operations/OperationState.h"

#include <QObject>
#include <QTimer>
#include <QString>
#include <cstdint>
#include <functional>

class Operator;
class ReceiveDispatcher;
class SerialControl;

// The service panel's behaviour without its widgets: the single command frames, POSIZIONO (the
// address split over two frames with a pause between them), the service read (receive mode 1)
// with its time-out, and SCRIVO DATO. Numbers come as the text typed into the panel's boxes.
//
// While a whole-chip operation runs, or a write may still be going on in the board (one left
// half-way, or one the port's previous user left, in the first 0.6 s after an open), a command
// only beeps: a frame among a write's image bytes would put the board out of step
// (it would then take the image for commands), and a change of the receive mode would take the
// running operation's answers away.
class ServiceCommands : public QObject {
    Q_OBJECT
public:
    ServiceCommands(SerialControl &port, OperationState &state, ReceiveDispatcher &dispatcher, Operator &op,
                    std::function<bool()> operationRunning, QObject *parent = nullptr);

    // POSIZIONO's pause between the two address frames; blocks the thread (2000 ms).
    void setPause(std::function<void(int milliseconds)> pause) { m_pause = std::move(pause); }
    static constexpr int PositionPauseMs = 2000;

    void send(std::uint8_t code);
    void position(const QString &addressText);
    void readData();
    void writeData(const QString &dataText);
    void timerSerialTimeout_Timer();
    bool waitingForData() const { return m_timerSerialTimeout.isActive(); }
    // Receive mode 1: the bytes of one notification.
    void serviceRead(const QByteArray &bytes);

signals:
    // The text the data box is to show (" 65").
    void dataRead(const QString &text);
    // LEGGO DATO is disabled while its answer is awaited.
    void readPending(bool pending);

private:
    SerialControl &m_port;
    OperationState &m_state;
    Operator &m_operator;
    QTimer m_timerSerialTimeout;  // LEGGO DATO's wait for the answer
    std::function<void(int)> m_pause;
    std::function<bool()> m_operationRunning;

    // True (after a beep) when the board must not be sent a command now.
    bool refused();
};
