// SPDX-License-Identifier: GPL-3.0-or-later
#include "TerminalOutput.h"

#include "link/Chip.h"

#include <cstdio>

TerminalProgress::TerminalProgress(const OperationState &state, bool enabled) : m_state(state), m_enabled(enabled)
{
    m_timer.setInterval(200);
    connect(&m_timer, &QTimer::timeout, this, &TerminalProgress::draw);
}

void TerminalProgress::begin(const QString &operation)
{
    m_operation = operation;
    m_clock.start();
}

void TerminalProgress::setRefreshing(bool on)
{
    if (!m_enabled)
        return;
    if (on) {
        m_timer.start();
    } else {
        m_timer.stop();
        complete();
    }
}

void TerminalProgress::draw()
{
    if (!m_enabled)
        return;
    const int done = qBound(0, m_state.currentAddress, Chip::Size);
    const double seconds = qMax(0.001, m_clock.elapsed() / 1000.0);
    const double rate = done / seconds;
    const QString left = rate > 0 ? QString::number(int((Chip::Size - done) / rate)) + QStringLiteral(" s left")
                                  : QString();
    const QString line = QStringLiteral("\r\x1b[K%1 %2/%6 %3% %4 B/s %5")
                             .arg(m_operation, -7)
                             .arg(done, 5)
                             .arg(done * 100 / Chip::Size, 3)
                             .arg(int(rate), 5)
                             .arg(left)
                             .arg(Chip::Size);
    std::fputs(qPrintable(line), stderr);
    std::fflush(stderr);
    m_drawn = true;
}

void TerminalProgress::complete()
{
    if (m_drawn)
        draw();
    finish();
}

void TerminalProgress::finish()
{
    if (m_drawn)
        std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    m_drawn = false;
}
