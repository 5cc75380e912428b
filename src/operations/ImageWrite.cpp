// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/ImageWrite.h"

#include "link/CommandFrame.h"
#include "operations/ReceiveDispatcher.h"
#include "link/SerialControl.h"
#include "operations/ProgressDisplay.h"
#include "operations/StreamStart.h"

#include <QCoreApplication>
#include <QTimer>

ImageWrite::ImageWrite(OperationContext context, ReceiveDispatcher &dispatcher, QObject *parent)
    : QObject(parent), m_context(context)
{
    m_timerWaitAck.setObjectName(QStringLiteral("timerWaitAck"));
    m_timerWaitAck.setInterval(500);
    connect(&m_timerWaitAck, &QTimer::timeout, this, &ImageWrite::timerWaitAck_Timer);
    dispatcher.setHandling(RxMode::Write, [this](const QByteArray &bytes) { receive(bytes); });
}

void ImageWrite::write(const QByteArray &image)
{
    const Outcome outcome = stream(Chip::padded(image));
    m_context.conclude({outcome});
    end();
    m_context.announce({outcome});
}

Outcome ImageWrite::stream(const QByteArray &image)
{
    OperationState &state = m_context.state;

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
    if (m_context.stream.awaitQuiet()) {
        m_context.port.output(writeStartFrame());
        sendBlocks(image);
        if (state.ackFlag)
            m_context.stream.writeLeftUnfinished();
    } else {
        state.ackFlag = true;
    }

    return state.ackFlag ? Outcome::WriteFailed : Outcome::Written;
}

void ImageWrite::sendBlocks(const QByteArray &image)
{
    OperationState &state = m_context.state;
    for (int block = 0; block < Frame::BlockCount; ++block) {
        for (int group = 0; group < Frame::BlockSize; group += 8) {
            state.currentAddress = block * Frame::BlockSize + group;
            QCoreApplication::processEvents();
            if (mustStop())
                return;
            m_context.port.output(image.mid(state.currentAddress, 8));
        }
        m_timerWaitAck.start();
        // Each pass sleeps until an event comes; the armed timer is one, so the wait always ends.
        while (!state.crFlag && !mustStop())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        state.crFlag = false;
        m_timerWaitAck.stop();
        if (mustStop())
            return;
        m_context.port.output(nextBlockFrame());
    }
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
}

void ImageWrite::timerWaitAck_Timer()
{
    m_timerWaitAck.stop();
    m_context.state.ackFlag = true;
}
