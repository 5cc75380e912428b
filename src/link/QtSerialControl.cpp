// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/QtSerialControl.h"

#include "link/PortName.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

QtSerialControl::QtSerialControl(QObject *parent) : SerialControl(parent)
{
    m_dsrPoll.setInterval(DsrPollMs);
    connect(&m_dsrPoll, &QTimer::timeout, this, &QtSerialControl::pollDsr);
    connect(&m_port, &QSerialPort::readyRead, this, &QtSerialControl::dataArrived);
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialControl::onError);
}

QtSerialControl::~QtSerialControl()
{
    close();
}

bool QtSerialControl::open()
{
    close();
    const PortSelection selection = selectPort(commPort());
    if (selection.kind != PortSelection::Kind::Serial) {
        setLastError({LinkError::Kind::NoPortNamed, commPort().trimmed(),
                      QStringLiteral("not a serial port name")});
        return false;
    }
    return openDevice(selection.systemName);
}

bool QtSerialControl::openDevice(const QString &systemName)
{
    m_port.setPortName(systemName);
    if (!m_port.open(QIODevice::ReadWrite)) {
        LinkError error{LinkError::Kind::OpenFailed, systemName, m_port.errorString()};
        if (m_port.error() == QSerialPort::DeviceNotFoundError)
            error.kind = LinkError::Kind::NotFound;
        else if (m_port.error() == QSerialPort::PermissionError)
            error = refusedAccess(error);
        m_port.clearError();
        setLastError(error);
        return false;
    }
    const bool configured = m_port.setBaudRate(QSerialPort::Baud19200)
        && m_port.setDataBits(QSerialPort::Data8) && m_port.setParity(QSerialPort::NoParity)
        && m_port.setStopBits(QSerialPort::OneStop)
        && m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!configured) {
        const LinkError error{LinkError::Kind::OpenFailed, systemName, m_port.errorString()};
        m_port.close();
        m_port.clearError();
        setLastError(error);
        return false;
    }
    // Not every port has these lines (a pseudo-terminal has none); the board needs none of them.
    m_port.setDataTerminalReady(true);
    m_port.setRequestToSend(true);
    // Whatever waits from before (a stream another program left running) is not for us.
    m_port.clear(QSerialPort::Input);
    m_port.clearError();
    setLastError({});
    portOpened();

    const QSerialPort::PinoutSignals lines = m_port.pinoutSignals();
    if (m_port.error() == QSerialPort::UnsupportedOperationError) {
        m_port.clearError();
        dsrChanged();
    } else {
        m_lastDsr = lines.testFlag(QSerialPort::DataSetReadySignal);
        m_dsrPoll.start();
    }
    if (m_port.bytesAvailable() > 0)
        dataArrived();
    return true;
}

LinkError QtSerialControl::refusedAccess(LinkError error)
{
    error.kind = LinkError::Kind::AccessDenied;
#ifdef Q_OS_UNIX
    // Qt says "permission" both when the device's mode shuts this user out and when another
    // program holds the port (its lock file, or the exclusive mode, EBUSY). A mode that would
    // let this user in leaves only the second. Asked of the mode alone: opening the device
    // again to find out would toggle a real board's DTR line.
    const QString path = error.port.startsWith(u'/') ? error.port : QStringLiteral("/dev/") + error.port;
    if (::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0) {
        error.kind = LinkError::Kind::Busy;
        error.reason = QStringLiteral("the port is busy (another program holds it)");
    }
#endif
    return error;
}

void QtSerialControl::close()
{
    m_dsrPoll.stop();
    dropPendingNotifications();
    if (m_port.isOpen() && !m_closing) {
        m_closing = true;
        drain();
        m_closing = false;
        if (m_port.isOpen())
            m_port.close();
    }
    m_port.clearError();
}

void QtSerialControl::drain()
{
    // What is still queued goes out before the port closes (closing restores the terminal's
    // old settings at once, which would garble bytes still on their way). Bounded, so that a
    // port whose far end is gone cannot hold the program.
    const QDeadlineTimer deadline(DrainLimitMs);
    while (m_port.bytesToWrite() > 0 && !deadline.hasExpired()) {
        if (!m_port.waitForBytesWritten(int(qMax<qint64>(1, deadline.remainingTime()))))
            break;
    }
#ifdef Q_OS_UNIX
    int queued = 0;
    while (!deadline.hasExpired() && ::ioctl(m_port.handle(), TIOCOUTQ, &queued) == 0 && queued > 0) {
        // About the time the line needs for what is left, at 1,920 bytes a second.
        const qint64 lineMs = qBound<qint64>(2, qint64(queued / 2), deadline.remainingTime());
        QThread::msleep(static_cast<unsigned long>(lineMs));
    }
#endif
}

bool QtSerialControl::isOpen() const
{
    return m_port.isOpen();
}

void QtSerialControl::output(const QByteArray &bytes)
{
    if (!m_port.isOpen())
        return;
    // QSerialPort only buffers; its buffer is emptied when the event loop next runs. The bytes
    // go to the system here instead, as far as it takes them without blocking, so that they
    // leave even while this thread then blocks (POSIZIONO's pause) or the program ends.
    qsizetype handed = 0;
#ifdef Q_OS_UNIX
    if (m_port.bytesToWrite() == 0) {
        while (handed < bytes.size()) {
            const ssize_t written = ::write(m_port.handle(), bytes.constData() + handed, size_t(bytes.size() - handed));
            if (written > 0)
                handed += written;
            else if (written < 0 && errno == EINTR)
                continue;
            else
                break;  // full (the rest waits in QSerialPort's buffer) or failed (QSerialPort reports it)
        }
    }
#endif
    if (handed < bytes.size())
        m_port.write(bytes.constData() + handed, bytes.size() - handed);
}

qint64 QtSerialControl::bytesWaiting() const
{
    return m_port.isOpen() ? m_port.bytesAvailable() : 0;
}

QByteArray QtSerialControl::takeWaiting()
{
    return m_port.isOpen() ? m_port.readAll() : QByteArray();
}

void QtSerialControl::pollDsr()
{
    if (!m_port.isOpen())
        return;
    const bool dsr = m_port.pinoutSignals().testFlag(QSerialPort::DataSetReadySignal);
    if (m_port.error() != QSerialPort::NoError) {
        m_port.clearError();
        return;
    }
    if (dsr != m_lastDsr) {
        m_lastDsr = dsr;
        dsrChanged();
    }
}

QString QtSerialControl::lossReason() const
{
    // Qt words a read of nothing (the far end hung up) with whatever errno held last, often the
    // modem-line probe's "Inappropriate ioctl for device". Ask the line itself instead.
#ifdef Q_OS_UNIX
    termios settings{};
    if (::tcgetattr(m_port.handle(), &settings) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    pollfd line{m_port.handle(), POLLIN, 0};
    if (::poll(&line, 1, 0) > 0 && (line.revents & POLLHUP))
        return QStringLiteral("the line was hung up: the other end closed it");
#endif
    return m_port.errorString();
}

void QtSerialControl::onError(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError
        && error != QSerialPort::WriteError)
        return;
    if (!m_port.isOpen() || m_closing)
        return;
    // Closed at once: Qt otherwise repeats the error without end and burns a core.
    const QString reason = lossReason();
    close();
    emit portLost(reason);
}
