// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class BoardSimulator;

// The wire between the program and the software board. Unpaced, bytes reach the board at once
// and its answers come back in reads of a chosen size, one read per event-loop pass. Paced,
// both directions run at the line rate of 19,200 baud 8N1 (1,920 bytes a second), so a block's
// acknowledgement comes only after its bytes would have left the wire.
// The timer runs only while bytes are in flight; an idle line costs nothing.
class BoardLine : public QObject {
    Q_OBJECT
public:
    static constexpr int BytesPerSecond = 1920;
    // Longest sleep while bytes flow: pieces of about 15 bytes, as a USB serial adapter delivers.
    static constexpr qint64 TickUs = 8000;

    explicit BoardLine(BoardSimulator &board, QObject *parent = nullptr);

    void setPaced(bool paced) { m_paced = paced; }
    bool paced() const { return m_paced; }
    // Largest piece handed to the program at once (at least 1).
    void setReadChunk(int bytes) { m_chunk = qMax(1, bytes); }
    int readChunk() const { return m_chunk; }

    // A receiver that cannot take more holds the board's output back until it can.
    void setReceiverReady(bool ready);

    void fromProgram(const QByteArray &bytes);
    // Paced, what waits for the line towards the board is bounded as a board's receive buffer
    // is: a client that floods it loses what does not fit, counted here.
    static constexpr qsizetype ReceiveBufferSize = 65536;
    qint64 droppedTowardsBoard() const { return m_droppedTowardsBoard; }
    // Drops what is in flight in both directions.
    void clear();
    // Milliseconds since the line was made, the clock of every timestamp it gives.
    qint64 nowMs() const { return m_clock.elapsed(); }
    qint64 nowUs() const { return m_clock.nsecsElapsed() / 1000; }

signals:
    void toProgram(const QByteArray &bytes);
    // Every byte that reached the board.
    void reachedBoard(const QByteArray &bytes);

private:
    void pump();
    void schedule();
    static void startIfIdle(qint64 &epochUs, qint64 &sent, bool &busy, qint64 now);
    static qint64 byteDoneUs(qint64 epochUs, qint64 bytes);
    qint64 lineBudget(qint64 epochUs, qint64 sent) const;

    BoardSimulator &m_board;
    QTimer m_timer;
    QElapsedTimer m_clock;
    QByteArray m_towardsBoard;
    qint64 m_droppedTowardsBoard = 0;
    bool m_paced = false;
    int m_chunk = 4096;
    qint64 m_inEpochUs = 0;
    qint64 m_inSent = 0;
    qint64 m_outEpochUs = 0;
    qint64 m_outSent = 0;
    bool m_inBusy = false;
    bool m_outBusy = false;
    bool m_receiverReady = true;
};
