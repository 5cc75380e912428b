// SPDX-License-Identifier: GPL-3.0-or-later
#include "PtyLine.h"
#include "../common/PseudoTerminal.h"

#include <ctime>
#include <poll.h>
#include <unistd.h>

namespace {
// A program that stops reading must not make the board's output grow without end.
constexpr qsizetype MaxPending = 64 * 1024;
}

PtyLine::~PtyLine()
{
    if (m_master >= 0)
        ::close(m_master);
}

bool PtyLine::open(QString *error)
{
    PseudoTerminal terminal;
    const bool opened = openPseudoTerminal(&terminal, error);
    m_master = terminal.master;
    m_slavePath = terminal.slavePath;
    // Closed again, so that the master reports a hang-up until a program opens the slave.
    if (terminal.slave >= 0)
        ::close(terminal.slave);
    return opened;
}

QByteArrayView PtyLine::wait(qint64 timeoutUs)
{
    pollfd fd{m_master, short(POLLIN | (m_pending.isEmpty() ? 0 : POLLOUT)), 0};
    const timespec limit{time_t(timeoutUs / 1000000), long(timeoutUs % 1000000) * 1000};
    ::ppoll(&fd, 1, &limit, nullptr);
    m_held = !(fd.revents & POLLHUP);
    if (!m_held) {
        // A hung-up master is always ready: sleep instead.
        ::nanosleep(&limit, nullptr);
        return {};
    }
    flush();
    if (!(fd.revents & POLLIN))
        return {};
    // Into one buffer, read after read: a flood allocates nothing.
    const ssize_t count = ::read(m_master, m_received, sizeof m_received);
    return count > 0 ? QByteArrayView(m_received, qsizetype(count)) : QByteArrayView();
}

void PtyLine::send(const QByteArray &bytes)
{
    const qsizetype room = MaxPending - m_pending.size();
    m_pending.append(bytes.left(room));
    m_dropped += bytes.size() - qMin(room, bytes.size());
    flush();
}

void PtyLine::flush()
{
    while (!m_pending.isEmpty()) {
        const ssize_t written = ::write(m_master, m_pending.constData(), size_t(m_pending.size()));
        if (written <= 0)
            break;
        m_pending.remove(0, qsizetype(written));
    }
}
