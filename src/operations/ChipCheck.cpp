#include "operations/ChipCheck.h"

#include "link/CommandFrame.h"
#include "operations/ReceiveDispatcher.h"
#include "link/SerialControl.h"
#include "operations/ImageFile.h"
#include "operations/Messages.h"
#include "operations/Operator.h"
#include "operations/ProgressDisplay.h"
#include "operations/StreamStart.h"

#include <QCoreApplication>
#include <QFile>

ChipCheck::ChipCheck(OperationContext context, ReceiveDispatcher &dispatcher, QObject *parent)
    : QObject(parent), m_context(context), m_erased(Chip::Size, Chip::Erased)
{
    dispatcher.setHandling(RxMode::Verify, [this](const QByteArray &bytes) { receiveVerify(bytes); });
    dispatcher.setHandling(RxMode::BlankCheck, [this](const QByteArray &bytes) { receiveBlankCheck(bytes); });
}

void ChipCheck::Command7_Click(const QString &nomeFile)
{
    m_context.port.discardInput();
    confrontaFile(nomeFile, RxMode::Verify);
}

void ChipCheck::Command8_Click()
{
    m_context.port.discardInput();
    confrontaFile(QString(), RxMode::BlankCheck);
}

void ChipCheck::confrontaFile(const QString &nomeFile, RxMode mode)
{
    OperationState &state = m_context.state;
    if (state.rxMode != RxMode::Idle) {
        stopAndAnnounce(m_context);
        return;
    }
    if (mode == RxMode::Verify) {
        releaseAbandonedFile(m_context);
        const ImageOpen opened = ImageFile::openForReading(m_context.operationFile, nomeFile);
        if (opened != ImageOpen::Opened) {
            m_context.announce({tell(m_context, ImageFile::outcomeOf(opened), {nomeFile, {}, 0}), 0});
            return;
        }
        const ImageFormats::Parsed image = ImageFile::chipImage(m_context.operationFile);
        if (!image.ok()) {
            m_context.operationFile.close();
            m_context.announce({tell(m_context, Outcome::InvalidImage, {nomeFile, image.error, 0}), 0});
            return;
        }
        m_image = image.image;
    }
    start(mode);
}

void ChipCheck::verify(const QByteArray &image)
{
    m_context.port.discardInput();
    m_image = image;
    start(RxMode::Verify);
}

void ChipCheck::blankCheck()
{
    m_context.port.discardInput();
    start(RxMode::BlankCheck);
}

void ChipCheck::start(RxMode mode)
{
    m_context.state.rxMode = mode;
    m_context.state.currentAddress = 0;
    progressOn(m_context.progress);
    m_context.stream.begin();
}

void ChipCheck::receiveVerify(const QByteArray &bytes)
{
    check(bytes, m_image, true);
}

void ChipCheck::receiveBlankCheck(const QByteArray &bytes)
{
    check(bytes, m_erased, false);
}

void ChipCheck::check(const QByteArray &bytes, const QByteArray &expected, bool verify)
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
            abortAtDifference(verify);
            break;
        }
        ++state.currentAddress;
    }
    if (state.currentAddress > Chip::LastLocation)
        end(verify);
}

void ChipCheck::abortAtDifference(bool verify)
{
    OperationState &state = m_context.state;
    // Taken now: clicks served in the yield (a stop, a new start) reset currentAddress.
    const int location = state.currentAddress;
    m_differenceAt = location;
    m_aborting = true;
    QCoreApplication::processEvents();
    m_aborting = false;
    state.rxMode = RxMode::Idle;
    m_context.port.output(stopByte());
    if (verify)
        m_context.op.show(Messages::message(MessageId::Differs, {{}, {}, location}));
    state.errorFound = true;
    state.currentAddress = Chip::Size;
    m_context.port.discardInput();
    m_context.progress.setShown(false);
    m_context.progress.setRefreshing(false);
    state.rxMode = RxMode::Idle;
}

void ChipCheck::end(bool verify)
{
    OperationState &state = m_context.state;
    progressOff(m_context.progress);
    state.rxMode = RxMode::Idle;
    const bool equal = !state.errorFound;
    if (verify) {
        if (equal)
            m_context.op.show(Messages::message(MessageId::Verified));
        state.errorFound = false;
        if (m_context.operationFile.isOpen())
            m_context.operationFile.close();
        m_context.announce({equal ? Outcome::Verified : Outcome::Differs, equal ? state.currentAddress : m_differenceAt,
                            equal ? -1 : m_differingByte});
    } else {
        m_context.op.show(Messages::message(equal ? MessageId::Blank : MessageId::NotBlank));
        state.errorFound = false;
        m_context.announce({equal ? Outcome::Blank : Outcome::NotBlank, equal ? state.currentAddress : m_differenceAt,
                            equal ? -1 : m_differingByte});
    }
}
