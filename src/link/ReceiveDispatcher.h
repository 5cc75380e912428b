#pragma once

#include "link/FormState.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <functional>

class SerialControl;

// The serial control's notification handler: the DSR branch first, then the data branch,
// which reads all waiting input once and hands it to the handling of the current receive
// mode. Each mode's owner registers its handling here; a mode without one drops the bytes.
class ReceiveDispatcher : public QObject {
    Q_OBJECT
public:
    using Handling = std::function<void(const QByteArray &)>;

    ReceiveDispatcher(SerialControl &port, FormState &state, QObject *parent = nullptr);

    void setDsrHandling(std::function<void()> handling) { m_dsr = std::move(handling); }
    void setHandling(std::int16_t rxMode, Handling handling);

    void MSComm1_OnComm(int commEvent);

private:
    SerialControl &m_port;
    FormState &m_state;
    std::function<void()> m_dsr;
    QHash<std::int16_t, Handling> m_handlings;
};
