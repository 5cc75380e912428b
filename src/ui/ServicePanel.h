#pragma once

#include "link/FormState.h"

#include <QGroupBox>
#include <cstdint>
#include <functional>

class Operator;
class QLineEdit;
class QPushButton;
class QTimer;
class ReceiveDispatcher;
class SerialControl;

// The service panel: drives the board one command at a time, and the service read
// (receive mode 1) with its time-out.
class ServicePanel : public QGroupBox {
    Q_OBJECT
public:
    ServicePanel(SerialControl &port, FormState &state, ReceiveDispatcher &dispatcher, Operator &op,
                 QTimer &timerSerialTimeout, QWidget *parent = nullptr);

    // POSIZIONO's pause between the two address frames; blocks the thread (2000 ms).
    void setPause(std::function<void(int milliseconds)> pause) { m_pause = std::move(pause); }
    static constexpr int PositionPauseMs = 2000;

    void buttonPompoClock_Click();
    void buttonReadData_Click();
    void buttonWriteData_Click();
    void timerSerialTimeout_Timer();
    // Receive mode 1: the bytes of one notification.
    void serviceRead(const QByteArray &bytes);

private:
    QPushButton *addButton(const char *name, const QString &caption, QRect twips);
    QLineEdit *addNumberBox(const char *name, QRect twips);
    void sendCommand(std::uint8_t code);

    SerialControl &m_port;
    FormState &m_state;
    Operator &m_operator;
    QTimer &m_timerSerialTimeout;
    std::function<void(int)> m_pause;

    QPushButton *m_buttonReadData = nullptr;
    QLineEdit *m_textReadData = nullptr;
    QLineEdit *m_textAddress = nullptr;
};
