// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The master side of a pseudo-terminal that a program opens as its serial port. Whether the
// program holds the other side open is seen as a hang-up on the master.
class PtyLine {
public:
    ~PtyLine();
    bool open(QString *error);
    QString slavePath() const { return m_slavePath; }

    // Waits up to `timeoutUs` for bytes from the program and returns them, valid until the next wait.
    QByteArrayView wait(qint64 timeoutUs);
    bool programHoldsPort() const { return m_held; }
    // Sends towards the program; what the terminal cannot take yet waits, up to a bound.
    void send(const QByteArray &bytes);
    qint64 dropped() const { return m_dropped; }

private:
    void flush();

    int m_master = -1;
    QString m_slavePath;
    bool m_held = false;
    QByteArray m_pending;
    char m_received[4096];
    qint64 m_dropped = 0;
};
