// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/SerialControl.h"

#include <QSerialPort>
#include <QTimer>

// The serial control over QSerialPort: 19,200 baud, 8N1, no flow control.
//
// Qt raises no signal for DSR, so while the port is open a short timer reads the modem lines
// and reports each change. A port whose lines cannot be read (a pseudo-terminal) reports one
// DSR change right after it opens, so that a board behind it is recognised.
class QtSerialControl : public SerialControl {
    Q_OBJECT
public:
    explicit QtSerialControl(QObject *parent = nullptr);
    ~QtSerialControl() override;

    bool open() override;
    void close() override;
    bool isOpen() const override;
    void output(const QByteArray &bytes) override;

    static constexpr int DsrPollMs = 20;
    // The longest that closing waits for queued bytes to leave.
    static constexpr int DrainLimitMs = 3000;

protected:
    qint64 bytesWaiting() const override;
    QByteArray takeWaiting() override;

private:
    bool openDevice(const QString &systemName);
    void pollDsr();
    void drain();
    QString lossReason() const;
    // A refusal Qt words as a permission error: refused access, or a port another program holds.
    static LinkError refusedAccess(LinkError error);
    void onError(QSerialPort::SerialPortError error);

    QSerialPort m_port;
    QTimer m_dsrPoll;
    bool m_lastDsr = false;
    bool m_closing = false;
};
