// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <limits>

// Why a port did not open.
struct LinkError {
    enum class Kind {
        None,
        NoPortNamed,   // the text names no port (empty, 0, negative, out of range)
        NotFound,      // no such device
        AccessDenied,  // permission refused
        Busy,          // another program holds the port
        OpenFailed,    // any other refusal from the system
    };
    Kind kind = Kind::None;
    QString port;    // the port as named
    QString reason;  // the system's own words
};

// The serial control as the program uses it: select a port, open and close it, send raw
// bytes, take every waiting byte, and one notification carrying its event kind.
//
// Notifications are delivered through the event queue, never from inside output(); one is
// raised per arrival of data, and bytes still waiting after a handling returns get one of
// their own (a nested event loop inside a handler does not swallow them).
class SerialControl : public QObject {
    Q_OBJECT
public:
    enum CommEvent : int { comEvReceive = 2, comEvDSR = 4 };

    using QObject::QObject;
    ~SerialControl() override;

    // Selects the port that the next open() uses (the text of the port box).
    void setCommPort(const QString &portText) { m_portText = portText; }
    QString commPort() const { return m_portText; }

    // Opens the selected port, closing any open one first. On failure the port stays closed
    // and lastError() says why.
    virtual bool open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Queues bytes for sending, in order, without waiting for them to leave. Dropped when closed.
    virtual void output(const QByteArray &bytes) = 0;
    // Every waiting byte, removed from the receive buffer; empty when none or closed.
    QByteArray input();
    // Drops whatever is waiting: bytes from before an operation are not its answer.
    void discardInput() { input(); }
    // Milliseconds the line has been seen quiet: since input() last returned bytes or, if later,
    // since the port opened (what came before is unknown); very large before any open.
    qint64 msSinceInput() const { return m_lastInput.isValid() ? m_lastInput.elapsed() : std::numeric_limits<qint64>::max(); }
    // How many times a port has opened: an operation that sees it change knows its board may be
    // another one, or the same one started afresh.
    quint64 opens() const { return m_opens; }
    // Milliseconds since a port last opened; very large before any open.
    qint64 msSinceOpen() const { return m_opened.isValid() ? m_opened.elapsed() : std::numeric_limits<qint64>::max(); }

    LinkError lastError() const { return m_lastError; }

signals:
    void notification(int commEvent);
    // The open port went away (cable pulled, device gone). Raised once; the port is closed by then.
    void portLost(const QString &reason);
    // Bytes handed to output() while no port was open were dropped.
    void outputDropped();

protected:
    virtual qint64 bytesWaiting() const = 0;
    virtual QByteArray takeWaiting() = 0;
    // Called by implementations whenever bytes have arrived.
    void dataArrived();
    // A DSR change, delivered through the event queue.
    void dsrChanged();
    void setLastError(LinkError error) { m_lastError = std::move(error); }
    // Called by implementations once a port has opened.
    void portOpened() { m_lastInput.start(); m_opened.start(); ++m_opens; }
    // Forget notifications queued for a port that has since closed.
    void dropPendingNotifications() { ++m_generation; m_receivePending = false; }

private:
    void deliverReceive(quint64 generation);

    QString m_portText;
    LinkError m_lastError;
    bool m_receivePending = false;
    quint64 m_inputCount = 0;
    quint64 m_generation = 0;
    quint64 m_opens = 0;
    QElapsedTimer m_lastInput;
    QElapsedTimer m_opened;
};
