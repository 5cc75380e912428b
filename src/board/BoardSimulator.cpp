// SPDX-License-Identifier: GPL-3.0-or-later
#include "board/BoardSimulator.h"

#include "link/CommandFrame.h"

namespace {
QString hex(quint8 byte)
{
    return QStringLiteral("0x%1").arg(byte, 2, 16, QLatin1Char('0'));
}
} // namespace

void BoardSimulator::setFaults(const BoardFaults &faults)
{
    m_faults = faults;
    m_chip.clearStuckBits();
    for (const BoardFaults::Stuck &stuck : faults.stuckBits)
        m_chip.setStuckBits(stuck.address, stuck.mask);
}

void BoardSimulator::receive(const QByteArray &bytes, qint64 nowMs)
{
    if (bytes.isEmpty())
        return;
    if (nowMs - m_lastReceiveMs > QuietMs) {
        if (m_state != State::Commands) {
            if (m_state != State::WriteDropped)
                ++m_writesDropped;
            m_state = State::Commands;
        } else if (!m_frame.isEmpty()) {
            // The rest of a frame never came: the next byte starts a frame afresh, so that a program
            // that gave up half-way (a write that ended in its time-out) finds the board in step.
            protocolError([&] { return QStringLiteral("unfinished frame %1 dropped").arg(QString::fromLatin1(m_frame.toHex(' '))); });
        }
        m_frame.clear();
    }
    m_lastReceiveMs = nowMs;
    for (const char c : bytes) {
        const quint8 byte = quint8(c);
        switch (m_state) {
        case State::Commands: commandByte(byte); break;
        case State::WriteData: writeByte(byte); break;
        case State::WriteAwaitingNextBlock: nextBlockByte(byte); break;
        case State::WriteDropped: break;
        }
    }
}

QByteArray BoardSimulator::transmit(int maximum)
{
    QByteArray out = m_replies.left(maximum);
    m_replies.remove(0, out.size());
    while (out.size() < maximum && streaming()) {
        out.append(m_streamSent < Chip::Size ? char(m_chip.read(m_streamSent)) : char(0x5A));
        ++m_streamSent;
        if (m_faults.endlessStream)
            m_streamSent %= Chip::Size;
    }
    return out;
}

bool BoardSimulator::hasOutput() const
{
    return !m_replies.isEmpty() || streaming();
}

void BoardSimulator::dropOutput()
{
    m_replies.clear();
    m_streamSent = m_streamEnd = 0;
}

void BoardSimulator::commandByte(quint8 byte)
{
    if (m_frame.isEmpty()) {
        if (byte == Frame::StopByte) {
            // A stop that reaches the board after its stream has ended is harmless.
            if (streaming())
                ++m_streamsStopped;
            m_streamSent = m_streamEnd = 0;
            return;
        }
        if (byte != Frame::StartMarker) {
            protocolError([&] { return QStringLiteral("byte %1 outside a frame").arg(hex(byte)); });
            return;
        }
    }
    m_frame.append(char(byte));
    if (m_frame.size() == 3) {
        const quint8 argument = quint8(m_frame[1]);
        const quint8 code = quint8(m_frame[2]);
        m_frame.clear();
        execute(argument, code);
    }
}

void BoardSimulator::execute(quint8 argument, quint8 code)
{
    bool answered = false;
    switch (code) {
    case CommandCode::CounterReset: m_address = 0; break;
    case CommandCode::CounterClock: m_address = Eprom27C256::wrap(m_address + 1); break;
    case CommandCode::CeHigh: m_ceLow = false; break;
    case CommandCode::CeLow: m_ceLow = true; break;
    case CommandCode::OeHigh: m_oeLow = false; break;
    case CommandCode::OeLow: m_oeLow = true; break;
    case CommandCode::ReadData:
        reply(char(m_chip.read(m_address)));
        answered = true;
        break;
    case CommandCode::WriteData: m_chip.program(m_address, argument); break;
    case CommandCode::DirOut: m_busOut = true; break;
    case CommandCode::DirIn: m_busOut = false; break;
    case CommandCode::AddressHigh: m_address = ((argument & 0x7F) << 8) | (m_address & 0xFF); break;
    case CommandCode::AddressLow: m_address = (m_address & 0x7F00) | argument; break;
    case CommandCode::WriteStart:
        if (argument != Frame::WriteArgument) {
            protocolError([&] { return QStringLiteral("write-start frame with argument %1").arg(hex(argument)); });
            return;
        }
        m_state = State::WriteData;
        m_block = m_offset = 0;
        return;
    case CommandCode::NextBlock:
        protocolError([&] { return QStringLiteral("next-block frame outside a write"); });
        return;
    case CommandCode::Stream:
        if (argument != Frame::StreamArgument) {
            protocolError([&] { return QStringLiteral("stream frame with argument %1").arg(hex(argument)); });
            return;
        }
        m_streamSent = 0;
        m_streamEnd = m_faults.streamStopsAfter >= 0 ? m_faults.streamStopsAfter
                                                     : Chip::Size + m_faults.streamExtraBytes;
        return;
    default:
        protocolError([&] { return QStringLiteral("unknown code %1 (argument %2)").arg(hex(code), hex(argument)); });
        return;
    }
    if (!answered)
        reply(m_faults.strayBytes);
}

void BoardSimulator::writeByte(quint8 byte)
{
    m_chip.program(m_block * Frame::BlockSize + m_offset, byte);
    ++m_offset;
    if (m_block == m_faults.failDuringBlock && m_offset == Frame::BlockSize / 2) {
        reply(char(m_faults.failByte));
        dropWrite();
        return;
    }
    if (m_offset < Frame::BlockSize)
        return;
    if (m_block == m_faults.silentFromBlock) {
        dropWrite();
    } else if (m_block == m_faults.failInsteadOfAck) {
        reply(char(m_faults.failByte));
        dropWrite();
    } else {
        reply(char(Frame::BlockDone));
        ++m_blocksAcknowledged;
        m_state = State::WriteAwaitingNextBlock;
    }
}

void BoardSimulator::nextBlockByte(quint8 byte)
{
    m_frame.append(char(byte));
    if (m_frame.size() < 3)
        return;
    const bool next = m_frame == nextBlockFrame();
    m_frame.clear();
    if (!next) {
        protocolError([&] { return QStringLiteral("block %1 not followed by the next-block frame").arg(m_block); });
        ++m_writesDropped;
        m_state = State::Commands;
        return;
    }
    m_offset = 0;
    ++m_block;
    m_state = m_block < Frame::BlockCount ? State::WriteData : State::Commands;
}

void BoardSimulator::dropWrite()
{
    ++m_writesDropped;
    m_state = State::WriteDropped;
}

void BoardSimulator::protocolError(const std::function<QString()> &what)
{
    // A line that carries only noise must not grow the record without end.
    ++m_errorCount;
    if (m_errors.size() < MaxRecordedErrors)
        m_errors.append(what());
}
