#pragma once

#include "board/SimulatedSerialControl.h"
#include "link/QtSerialControl.h"

// The program's serial control: the port text decides at each open whether the real serial
// port or the built-in software board ("SIM") is behind it.
class SelectingSerialControl : public SerialControl {
    Q_OBJECT
public:
    explicit SelectingSerialControl(QObject *parent = nullptr);

    bool open() override;
    void close() override;
    bool isOpen() const override { return m_active && m_active->isOpen(); }
    void output(const QByteArray &bytes) override;

    // The software board behind "SIM"; it keeps its chip between connections.
    SimulatedSerialControl &simulated() { return m_simulated; }
    bool simulatedActive() const { return m_active == &m_simulated; }

protected:
    qint64 bytesWaiting() const override;
    QByteArray takeWaiting() override;

private:
    void adopt(SerialControl &child);

    QtSerialControl m_real;
    SimulatedSerialControl m_simulated;
    SerialControl *m_active = nullptr;
};
