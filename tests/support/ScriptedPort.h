#pragma once

#include "link/SerialControl.h"

// A serial control whose far end is the test: bytes arrive when injected, sends are kept.
class ScriptedPort : public SerialControl {
public:
    bool open() override { return m_open = true; }
    void close() override
    {
        m_open = false;
        m_waiting.clear();
        dropPendingNotifications();
    }
    bool isOpen() const override { return m_open; }
    void output(const QByteArray &bytes) override
    {
        if (m_open)
            sent.append(bytes);
    }
    void inject(const QByteArray &bytes)
    {
        if (!m_open)
            return;
        m_waiting.append(bytes);
        dataArrived();
    }
    void raiseDsr() { dsrChanged(); }
    QList<QByteArray> sent;

protected:
    qint64 bytesWaiting() const override { return m_waiting.size(); }
    QByteArray takeWaiting() override { return std::exchange(m_waiting, {}); }

private:
    bool m_open = false;
    QByteArray m_waiting;
};
