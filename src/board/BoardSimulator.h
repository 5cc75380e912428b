// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "board/BoardFaults.h"
#include "board/Eprom27C256.h"

#include <QByteArray>
#include <QStringList>
#include <functional>

// The programmer board's side of the line, without any timing of its own: bytes come in with
// the time they arrived, answers are taken out as the line lets them go.
//
// Commands are three-byte frames FF arg code. After the write-start frame (FF 47 1C) the board
// takes 64 blocks of 512 raw bytes for locations 0, 1, 2, ..., answers each with 0x0D and
// expects FF 47 1D after each. After the stream frame (FF 7E 1E) it sends the whole chip,
// location 0 first, until a lone 0x63 stops it. What it cannot parse it records in
// protocolErrors() and does not act on.
class BoardSimulator {
public:
    // A write that stops early (the program gave up) is dropped once the line has been quiet
    // this long, and so is an unfinished command frame; the board then takes commands again. Shorter than the program's 500 ms wait
    // for an acknowledgement, longer than any pause inside a healthy write.
    static constexpr qint64 QuietMs = 200;

    enum class State { Commands, WriteData, WriteAwaitingNextBlock, WriteDropped };

    BoardSimulator() = default;

    Eprom27C256 &chip() { return m_chip; }
    const Eprom27C256 &chip() const { return m_chip; }

    void setFaults(const BoardFaults &faults);
    const BoardFaults &faults() const { return m_faults; }

    void receive(const QByteArray &bytes, qint64 nowMs);
    // Up to `maximum` bytes the board sends next.
    QByteArray transmit(int maximum);
    bool hasOutput() const;
    // Bytes sent unasked, as a noisy board or line would.
    void sendUnasked(const QByteArray &bytes) { reply(bytes); }
    // A real board's transmit buffer is small: answers beyond it (a client that sends commands
    // and never reads) are dropped and counted.
    static constexpr qsizetype ReplyBufferSize = 4096;
    qint64 droppedReplies() const { return m_droppedReplies; }
    // Drops everything the board was about to send (the port closed).
    void dropOutput();

    State state() const { return m_state; }
    bool streaming() const { return m_faults.endlessStream || m_streamSent < m_streamEnd; }
    int address() const { return m_address; }
    bool ceLow() const { return m_ceLow; }
    bool oeLow() const { return m_oeLow; }
    bool busTowardsChip() const { return m_busOut; }
    int blocksAcknowledged() const { return m_blocksAcknowledged; }
    int writesDropped() const { return m_writesDropped; }
    int streamsStopped() const { return m_streamsStopped; }
    // The first MaxRecordedErrors of them; protocolErrorCount() counts them all.
    QStringList protocolErrors() const { return m_errors; }
    qint64 protocolErrorCount() const { return m_errorCount; }
    static constexpr int MaxRecordedErrors = 100;

private:
    void reply(const QByteArray &bytes)
    {
        const qsizetype room = qMax<qsizetype>(0, ReplyBufferSize - m_replies.size());
        m_replies.append(bytes.left(room));
        m_droppedReplies += bytes.size() - qMin(room, bytes.size());
    }
    void reply(char byte) { reply(QByteArray(1, byte)); }

    void commandByte(quint8 byte);
    void execute(quint8 argument, quint8 code);
    void writeByte(quint8 byte);
    void nextBlockByte(quint8 byte);
    void dropWrite();
    void protocolError(const std::function<QString()> &what);

    Eprom27C256 m_chip;
    BoardFaults m_faults;
    State m_state = State::Commands;
    QByteArray m_frame;
    QByteArray m_replies;
    qint64 m_droppedReplies = 0;
    int m_streamSent = 0;
    int m_streamEnd = 0;
    int m_address = 0;
    bool m_ceLow = false;
    bool m_oeLow = false;
    bool m_busOut = false;
    int m_block = 0;
    int m_offset = 0;
    qint64 m_lastReceiveMs = 0;
    int m_blocksAcknowledged = 0;
    int m_writesDropped = 0;
    int m_streamsStopped = 0;
    QStringList m_errors;
    qint64 m_errorCount = 0;
};
