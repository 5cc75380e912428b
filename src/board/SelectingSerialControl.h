// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "board/SimulatedSerialControl.h"
#include "link/QtSerialControl.h"

#include <QElapsedTimer>
#include <QIODevice>

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

    // From now on every byte sent and received, one line a piece as it goes, in romivo-board's
    // --log form: seconds since the port opened, '>' towards the board or '<' from it, the bytes
    // in hexadecimal. None when null.
    void setTrace(QIODevice *trace) { m_trace = trace; }
    // Why a line of the trace could not be written, the first time one could not; empty while
    // every line was.
    QString traceError() const { return m_traceError; }

    // The software board behind "SIM"; it keeps its chip between connections.
    SimulatedSerialControl &simulated() { return m_simulated; }
    bool simulatedActive() const { return m_active == &m_simulated; }

protected:
    qint64 bytesWaiting() const override;
    QByteArray takeWaiting() override;

private:
    void adopt(SerialControl &child);
    void trace(char direction, const QByteArray &bytes);

    QtSerialControl m_real;
    SimulatedSerialControl m_simulated;
    SerialControl *m_active = nullptr;
    QIODevice *m_trace = nullptr;
    QString m_traceError;
    QElapsedTimer m_opened;
};
