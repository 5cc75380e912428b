// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/ChipCheck.h"

#include "link/Chip.h"
#include "link/CommandFrame.h"
#include "link/SerialControl.h"
#include "operations/ProgressDisplay.h"
#include "operations/ReceiveDispatcher.h"
#include "operations/StreamStart.h"

#include <QCoreApplication>

ChipCheck::ChipCheck(OperationContext context, ReceiveDispatcher &dispatcher, QObject *parent)
    : QObject(parent), m_context(context), m_erased(Chip::Size, Chip::Erased)
{
    dispatcher.setHandling(RxMode::Verify, [this](const QByteArray &bytes) { receiveVerify(bytes); });
    dispatcher.setHandling(RxMode::BlankCheck, [this](const QByteArray &bytes) { receiveBlankCheck(bytes); });
}

void ChipCheck::verify(const QByteArray &image)
{
    m_image = Chip::padded(image);
    start(RxMode::Verify);
}

void ChipCheck::blankCheck()
{
    start(RxMode::BlankCheck);
}

void ChipCheck::start(RxMode mode)
{
    // A byte left from before would be compared as location 0.
    m_context.port.discardInput();
    m_aborting = false;
    m_context.state.rxMode = mode;
    m_context.state.currentAddress = 0;
    ++m_context.state.started;
    progressOn(m_context.progress);
    m_context.stream.begin();
}

void ChipCheck::receiveVerify(const QByteArray &bytes)
{
    check(bytes, m_image, RxMode::Verify);
}

void ChipCheck::receiveBlankCheck(const QByteArray &bytes)
{
    check(bytes, m_erased, RxMode::BlankCheck);
}

void ChipCheck::check(const QByteArray &bytes, const QByteArray &expected, RxMode mode)
{
    // Bytes delivered during the abort's own yield belong to a check that is already over.
    if (m_aborting || m_context.stream.dropWhileWaiting())
        return;
    OperationState &state = m_context.state;
    for (const char byte : bytes) {
        // Bytes past the chip's last location are not compared.
        if (state.currentAddress > Chip::LastLocation)
            break;
        if (byte != expected.at(state.currentAddress)) {
            m_differingByte = quint8(byte);
            if (!abortAtDifference(mode))
                return;
            break;
        }
        ++state.currentAddress;
    }
    if (state.currentAddress > Chip::LastLocation)
        end(mode);
}

bool ChipCheck::abortAtDifference(RxMode mode)
{
    OperationState &state = m_context.state;
    m_differenceAt = state.currentAddress;
    const std::uint32_t run = state.started;
    m_aborting = true;
    QCoreApplication::processEvents();
    if (state.started != run || state.rxMode != mode)
        return false;
    m_aborting = false;
    state.rxMode = RxMode::Idle;
    m_context.port.output(stopByte());
    if (mode == RxMode::Verify)
        m_context.conclude({Outcome::Differs, m_differenceAt, m_differingByte});
    state.errorFound = true;
    state.currentAddress = Chip::Size;
    m_context.port.discardInput();
    m_context.progress.setShown(false);
    m_context.progress.setRefreshing(false);
    state.rxMode = RxMode::Idle;
    return true;
}

void ChipCheck::end(RxMode mode)
{
    OperationState &state = m_context.state;
    progressOff(m_context.progress);
    state.rxMode = RxMode::Idle;
    const bool equal = !state.errorFound;
    const bool verify = mode == RxMode::Verify;
    const OperationResult result = equal ? OperationResult{verify ? Outcome::Verified : Outcome::Blank, state.currentAddress}
                                         : OperationResult{verify ? Outcome::Differs : Outcome::NotBlank, m_differenceAt, m_differingByte};
    // A verify's difference was told at once, before the progress went.
    if (equal || !verify)
        m_context.conclude(result);
    state.errorFound = false;
    m_context.announce(result);
}
