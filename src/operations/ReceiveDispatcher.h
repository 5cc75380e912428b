// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "operations/OperationState.h"

#include <QByteArray>
#include <QObject>
#include <array>
#include <functional>

class SerialControl;

// The serial control's notification handler: the DSR branch first, then the data branch,
// which reads all waiting input once and hands it to the handling of the current receive
// mode. Each mode's owner registers its handling here; a mode without one drops the bytes.
class ReceiveDispatcher : public QObject {
    Q_OBJECT
public:
    using Handling = std::function<void(const QByteArray &)>;

    ReceiveDispatcher(SerialControl &port, OperationState &state, QObject *parent = nullptr);

    void setDsrHandling(std::function<void()> handling) { m_dsr = std::move(handling); }
    void setHandling(RxMode rxMode, Handling handling);

    void MSComm1_OnComm(int commEvent);

private:
    SerialControl &m_port;
    OperationState &m_state;
    std::function<void()> m_dsr;
    std::array<Handling, 6> m_handlings;  // by receive mode
};
