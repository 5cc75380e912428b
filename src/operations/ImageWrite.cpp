// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/ImageWrite.h"

#include "link/CommandFrame.h"
#include "link/SerialControl.h"
#include "operations/ProgressDisplay.h"
#include "operations/ReceiveDispatcher.h"
#include "operations/StreamStart.h"

#include <QCoreApplication>

ImageWrite::ImageWrite(OperationContext context, ReceiveDispatcher &dispatcher, QObject *parent)
    : QObject(parent), m_context(context)
{
    m_timerWaitAck.setObjectName(QStringLiteral("timerWaitAck"));
    m_timerWaitAck.setInterval(500);
    connect(&m_timerWaitAck, &QTimer::timeout, this, &ImageWrite::timerWaitAck_Timer);
    m_pump.setSingleShot(true);
    m_pump.setInterval(0);
    connect(&m_pump, &QTimer::timeout, this, &ImageWrite::step);
    m_giveUp.setSingleShot(true);
    connect(&m_giveUp, &QTimer::timeout, this, [this] {
        m_gaveUp = true;
        wake();
    });
    connect(&m_context.stream, &StreamStart::quiet, this, &ImageWrite::wake);
    dispatcher.setHandling(RxMode::Write, [this](const QByteArray &bytes) { receive(bytes); });
}

void ImageWrite::write(const QByteArray &image)
{
    start(image);
    // Each pass sleeps until an event comes; the write always has a timer armed, so it ends.
    while (running())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void ImageWrite::start(const QByteArray &image)
{
    OperationState &state = m_context.state;
    m_image = Chip::padded(image);
    state.reset_bufRx();
    m_context.port.discardInput();
    state.rxMode = RxMode::Write;
    state.rxIndex = 0;
    state.bufRx[0] = 0;
    state.ackFlag = false;
    state.crFlag = false;
    ++state.started;
    progressOn(m_context.progress);
    m_opensAtStart = m_context.port.opens();
    m_phase = Phase::Quiet;
    m_gaveUp = false;
    if (m_context.stream.startWaiting())
        m_giveUp.start(StreamStart::WriteGiveUpMs);
    else
        quietStep();
}

void ImageWrite::wake()
{
    if (m_phase != Phase::Idle && m_phase != Phase::Sending)
        m_pump.start();
}

void ImageWrite::step()
{
    switch (m_phase) {
    case Phase::Idle:
        return;
    case Phase::Quiet:
        return quietStep();
    case Phase::Sending:
        return sendGroup();
    case Phase::Ack:
        return ackStep();
    }
}

void ImageWrite::quietStep()
{
    StreamStart &stream = m_context.stream;
    // A stop ended the wait, and a press served meanwhile may have begun another operation's: that
    // one is not this wait's to end or to take.
    if (m_context.state.rxMode != RxMode::Write) {
        m_context.state.ackFlag = true;
        return finish(false);
    }
    if (stream.waiting() && !m_gaveUp)
        return;
    const bool quiet = !stream.waiting() && !m_gaveUp;
    stream.cancel();
    m_giveUp.stop();
    if (!quiet || !m_context.port.isOpen()) {
        m_context.state.ackFlag = true;
        return finish(false);
    }
    m_context.port.output(writeStartFrame());
    m_phase = Phase::Sending;
    m_block = 0;
    m_group = 0;
    m_context.state.currentAddress = 0;
    m_pump.start();
}

void ImageWrite::sendGroup()
{
    OperationState &state = m_context.state;
    if (mustStop())
        return finish(true);
    m_context.port.output(m_image.mid(state.currentAddress, 8));
    m_group += 8;
    if (m_group < Frame::BlockSize) {
        state.currentAddress = m_block * Frame::BlockSize + m_group;
        m_pump.start();
        return;
    }
    m_phase = Phase::Ack;
    m_timerWaitAck.start();
    if (state.crFlag)  // the answer came while the last group was being sent
        m_pump.start();
}

void ImageWrite::ackStep()
{
    OperationState &state = m_context.state;
    if (!state.crFlag && !mustStop())
        return;
    state.crFlag = false;
    m_timerWaitAck.stop();
    if (mustStop())
        return finish(true);
    m_context.port.output(nextBlockFrame());
    if (++m_block == Frame::BlockCount)
        return finish(true);
    m_group = 0;
    state.currentAddress = m_block * Frame::BlockSize;
    m_phase = Phase::Sending;
    m_pump.start();
}

void ImageWrite::finish(bool startFrameSent)
{
    m_phase = Phase::Idle;
    m_pump.stop();
    m_giveUp.stop();
    m_timerWaitAck.stop();
    m_image.clear();
    const bool failed = m_context.state.ackFlag;
    if (failed && startFrameSent)
        m_context.stream.writeLeftUnfinished();
    OperationResult result{failed ? Outcome::WriteFailed : Outcome::Written};
    result.lineBusy = failed && !startFrameSent && m_gaveUp;
    m_context.conclude(result);
    end();
    m_context.announce(result);
}

bool ImageWrite::mustStop()
{
    // A stop (another handler took the receive mode) or a port that closed or opened anew counts
    // as a failure: the board may have given up the write, and would take what follows for
    // commands.
    OperationState &state = m_context.state;
    if (state.rxMode != RxMode::Write || !m_context.port.isOpen() || m_context.port.opens() != m_opensAtStart)
        state.ackFlag = true;
    return state.ackFlag;
}

void ImageWrite::end()
{
    m_context.state.rxMode = RxMode::Idle;
    m_context.progress.refreshNow();
    m_context.state.rxIndex = 0;
    progressOff(m_context.progress);
}

void ImageWrite::receive(const QByteArray &bytes)
{
    if (m_context.stream.dropWhileWaiting())
        return;
    OperationState &state = m_context.state;
    for (const char c : bytes) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (state.rxIndex >= 0 && state.rxIndex < static_cast<int>(state.bufRx.size()))
            state.bufRx[static_cast<std::size_t>(state.rxIndex)] = byte;
        if (byte == Frame::BlockFailed || byte == Frame::BlockFailedToo)
            state.ackFlag = true;
        if (byte == Frame::BlockDone)
            state.crFlag = true;
    }
    wake();
}

void ImageWrite::timerWaitAck_Timer()
{
    m_timerWaitAck.stop();
    m_context.state.ackFlag = true;
    wake();
}
