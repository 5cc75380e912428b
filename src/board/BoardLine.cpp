// SPDX-License-Identifier: GPL-3.0-or-later
#include "board/BoardLine.h"

#include "board/BoardSimulator.h"

BoardLine::BoardLine(BoardSimulator &board, QObject *parent) : QObject(parent), m_board(board)
{
    m_clock.start();
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &BoardLine::pump);
}

void BoardLine::fromProgram(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    if (m_paced) {
        const qsizetype room = qMax<qsizetype>(0, ReceiveBufferSize - m_towardsBoard.size());
        m_towardsBoard.append(bytes.left(room));
        m_droppedTowardsBoard += bytes.size() - qMin(room, bytes.size());
    } else {
        m_board.receive(bytes, nowMs());
        emit reachedBoard(bytes);
    }
    schedule();
}

void BoardLine::setReceiverReady(bool ready)
{
    m_receiverReady = ready;
    schedule();
}

void BoardLine::clear()
{
    m_towardsBoard.clear();
    m_board.dropOutput();
    m_inBusy = m_outBusy = false;
    m_timer.stop();
}

void BoardLine::schedule()
{
    const bool inbound = !m_towardsBoard.isEmpty();
    const bool outbound = m_board.hasOutput() && m_receiverReady;
    if (!inbound)
        m_inBusy = false;
    if (!outbound)
        m_outBusy = false;
    if (!inbound && !outbound) {
        m_timer.stop();
        return;
    }
    if (!m_paced) {
        // One read per event-loop pass.
        if (!m_timer.isActive() || m_timer.interval() != 0)
            m_timer.start(0);
        return;
    }
    // Bytes put on an idle line start at once; the line wakes when the first thing it carries is
    // complete (a block's last byte, a lone acknowledgement), and every few milliseconds while
    // a long run is under way, so that a turnaround costs line time only.
    const qint64 now = nowUs();
    qint64 wakeUs = now + TickUs;
    if (inbound) {
        startIfIdle(m_inEpochUs, m_inSent, m_inBusy, now);
        wakeUs = qMin(wakeUs, byteDoneUs(m_inEpochUs, m_inSent + m_towardsBoard.size()));
    }
    if (outbound) {
        startIfIdle(m_outEpochUs, m_outSent, m_outBusy, now);
        // The first byte of an answer goes as soon as it is through; a stream then flows by ticks.
        if (m_outSent == 0)
            wakeUs = qMin(wakeUs, byteDoneUs(m_outEpochUs, 1));
    }
    const int interval = int(qMax<qint64>(0, (wakeUs - now + 999) / 1000));
    // Never postpone a wake already due sooner: a steady trickle of writes must not starve the line.
    if (!m_timer.isActive() || m_timer.remainingTime() > interval)
        m_timer.start(interval);
}

void BoardLine::startIfIdle(qint64 &epochUs, qint64 &sent, bool &busy, qint64 now)
{
    if (busy)
        return;
    // A line that was idle starts counting afresh: it cannot save up time.
    epochUs = now;
    sent = 0;
    busy = true;
}

qint64 BoardLine::byteDoneUs(qint64 epochUs, qint64 bytes)
{
    return epochUs + (bytes * 1000000 + BytesPerSecond - 1) / BytesPerSecond;
}

qint64 BoardLine::lineBudget(qint64 epochUs, qint64 sent) const
{
    return (nowUs() - epochUs) * BytesPerSecond / 1000000 - sent;
}

void BoardLine::pump()
{
    if (!m_paced) {
        if (m_board.hasOutput() && m_receiverReady)
            emit toProgram(m_board.transmit(m_chunk));
        schedule();
        return;
    }
    if (m_inBusy && !m_towardsBoard.isEmpty()) {
        const qint64 budget = lineBudget(m_inEpochUs, m_inSent);
        const QByteArray arrived = m_towardsBoard.left(qMax<qint64>(0, budget));
        if (!arrived.isEmpty()) {
            m_towardsBoard.remove(0, arrived.size());
            m_inSent += arrived.size();
            m_board.receive(arrived, nowMs());
            emit reachedBoard(arrived);
        }
    }
    if (m_outBusy) {
        qint64 budget = lineBudget(m_outEpochUs, m_outSent);
        while (budget > 0 && m_board.hasOutput() && m_receiverReady) {
            const QByteArray out = m_board.transmit(int(qMin<qint64>(budget, m_chunk)));
            budget -= out.size();
            m_outSent += out.size();
            emit toProgram(out);
        }
    }
    schedule();
}
