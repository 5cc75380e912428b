// SPDX-License-Identifier: GPL-3.0-or-later
#include "PtyBoardServer.h"
#include "../common/PseudoTerminal.h"

#include <unistd.h>

PtyBoardServer::PtyBoardServer(BoardSimulator &board, bool paced, QObject *parent)
    : QObject(parent), m_board(board), m_line(board)
{
    m_line.setPaced(paced);
    connect(&m_line, &BoardLine::toProgram, this, &PtyBoardServer::writeToProgram);
    connect(&m_line, &BoardLine::reachedBoard, this,
            [this](const QByteArray &bytes) { log('>', bytes); });
}

PtyBoardServer::~PtyBoardServer()
{
    m_readable.reset();
    m_writable.reset();
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

bool PtyBoardServer::start(QString *error)
{
    PseudoTerminal terminal;
    const bool opened = openPseudoTerminal(&terminal, error);
    m_master = terminal.master;
    m_slave = terminal.slave;
    m_slavePath = terminal.slavePath;
    if (!opened)
        return false;
    m_readable = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    connect(m_readable.get(), &QSocketNotifier::activated, this, &PtyBoardServer::readFromProgram);
    m_writable = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Write);
    m_writable->setEnabled(false);
    connect(m_writable.get(), &QSocketNotifier::activated, this, &PtyBoardServer::flushPending);
    flushPending();  // a board that sends unasked starts at once
    return true;
}

bool PtyBoardServer::setLog(const QString &path, QString *error)
{
    m_log.setFileName(path);
    if (!m_log.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        *error = QStringLiteral("%1: %2").arg(path, m_log.errorString());
        return false;
    }
    return true;
}

void PtyBoardServer::readFromProgram()
{
    char buffer[4096];
    const ssize_t count = ::read(m_master, buffer, sizeof buffer);
    if (count > 0)
        m_line.fromProgram(QByteArray(buffer, qsizetype(count)));
}

void PtyBoardServer::writeToProgram(const QByteArray &bytes)
{
    log('<', bytes);
    m_pending.append(bytes);
    flushPending();
}

void PtyBoardServer::flushPending()
{
    while (!m_pending.isEmpty()) {
        const ssize_t written = ::write(m_master, m_pending.constData(), size_t(m_pending.size()));
        if (written <= 0)
            break;
        m_pending.remove(0, qsizetype(written));
    }
    // While the terminal's buffer is full the board holds its output back, as a board whose
    // transmitter waits would; a stop byte then takes effect promptly.
    const bool drained = m_pending.isEmpty();
    m_writable->setEnabled(!drained);
    m_line.setReceiverReady(drained);
}

void PtyBoardServer::log(char direction, const QByteArray &bytes)
{
    if (!m_log.isOpen() || bytes.isEmpty())
        return;
    const QByteArray line = QByteArray::number(double(m_line.nowUs()) / 1e6, 'f', 6) + ' ' + direction
        + ' ' + bytes.toHex(' ') + '\n';
    m_log.write(line);
    m_log.flush();
}
