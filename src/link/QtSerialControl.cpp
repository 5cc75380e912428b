#include "link/QtSerialControl.h"

#include "link/PortName.h"

QtSerialControl::QtSerialControl(QObject *parent) : SerialControl(parent)
{
    m_dsrPoll.setInterval(DsrPollMs);
    connect(&m_dsrPoll, &QTimer::timeout, this, &QtSerialControl::pollDsr);
    connect(&m_port, &QSerialPort::readyRead, this, &QtSerialControl::dataArrived);
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialControl::onError);
}

QtSerialControl::~QtSerialControl() = default;

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
            error.kind = LinkError::Kind::AccessDenied;
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
    m_port.clearError();
    setLastError({});

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

void QtSerialControl::close()
{
    m_dsrPoll.stop();
    dropPendingNotifications();
    if (m_port.isOpen())
        m_port.close();
    m_port.clearError();
}

bool QtSerialControl::isOpen() const
{
    return m_port.isOpen();
}

void QtSerialControl::output(const QByteArray &bytes)
{
    if (m_port.isOpen())
        m_port.write(bytes);
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

void QtSerialControl::onError(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError
        && error != QSerialPort::WriteError)
        return;
    if (!m_port.isOpen())
        return;
    // Closed at once: Qt otherwise repeats the error without end and burns a core.
    const QString reason = m_port.errorString();
    close();
    emit portLost(reason);
}
