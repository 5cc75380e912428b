#include "board/BoardLine.h"

#include "board/BoardSimulator.h"

BoardLine::BoardLine(BoardSimulator &board, QObject *parent) : QObject(parent), m_board(board)
{
    m_clock.start();
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &BoardLine::pump);
}

void BoardLine::fromProgram(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    if (m_paced) {
        m_towardsBoard.append(bytes);
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
    const bool work = !m_towardsBoard.isEmpty() || (m_board.hasOutput() && m_receiverReady);
    if (!work) {
        m_inBusy = m_outBusy = false;
        m_timer.stop();
        return;
    }
    // Unpaced: one read per event-loop pass. Paced: a few milliseconds of line time a tick.
    const int interval = m_paced ? 4 : 0;
    if (!m_timer.isActive() || m_timer.interval() != interval)
        m_timer.start(interval);
}

qint64 BoardLine::lineBudget(qint64 &epochUs, qint64 &sent, bool busy) const
{
    const qint64 now = nowUs();
    if (!busy) {
        // A line that was idle starts counting afresh: it cannot save up time.
        epochUs = now;
        sent = 0;
    }
    return (now - epochUs) * BytesPerSecond / 1000000 - sent;
}

void BoardLine::pump()
{
    if (m_paced) {
        if (!m_towardsBoard.isEmpty()) {
            const qint64 budget = lineBudget(m_inEpochUs, m_inSent, m_inBusy);
            m_inBusy = true;
            const QByteArray arrived = m_towardsBoard.left(qMax<qint64>(0, budget));
            if (!arrived.isEmpty()) {
                m_towardsBoard.remove(0, arrived.size());
                m_inSent += arrived.size();
                m_board.receive(arrived, nowMs());
                emit reachedBoard(arrived);
            }
        } else {
            m_inBusy = false;
        }
        if (m_board.hasOutput() && m_receiverReady) {
            qint64 budget = lineBudget(m_outEpochUs, m_outSent, m_outBusy);
            m_outBusy = true;
            while (budget > 0 && m_board.hasOutput() && m_receiverReady) {
                const QByteArray out = m_board.transmit(int(qMin<qint64>(budget, m_chunk)));
                budget -= out.size();
                m_outSent += out.size();
                emit toProgram(out);
            }
        } else {
            m_outBusy = false;
        }
    } else if (m_board.hasOutput() && m_receiverReady) {
        emit toProgram(m_board.transmit(m_chunk));
    }
    schedule();
}
