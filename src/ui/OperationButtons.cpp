// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/OperationButtons.h"

#include "link/Chip.h"
#include "link/SerialControl.h"
#include "operations/FileReplacement.h"
#include "operations/ImageExport.h"
#include "operations/ImageFile.h"
#include "operations/Operator.h"
#include "operations/Session.h"

OperationButtons::OperationButtons(Session &session, QObject *parent)
    : QObject(parent), m_session(session), m_operator(session.op())
{
    connect(&session, &Session::concluded, this, &OperationButtons::concluded);
    connect(&session, &Session::finished, this, &OperationButtons::ended);
}

void OperationButtons::Command3_Click(const QString &nomeFile)
{
    Outcome outcome = Outcome::Cancelled;
    if (m_operator.show(Messages::message(MessageId::WriteQuestion))) {
        // A second press while a write runs finds the handle in use: it ends here, silently.
        const ImageOpen opened = ImageFile::openForReading(m_image, nomeFile);
        const ImageFormats::Parsed image = opened == ImageOpen::Opened ? ImageFile::chipImage(m_image) : ImageFormats::Parsed{};
        if (opened != ImageOpen::Opened) {
            outcome = tell(ImageFile::outcomeOf(opened), {nomeFile, {}, 0});
        } else if (!image.ok()) {
            m_image.close();
            outcome = tell(Outcome::InvalidImage, {nomeFile, image.error, 0});
        } else {
            // Its box is shown from `concluded`, and the image closed once the box is dismissed.
            m_session.write().write(image.image);
            m_operator.beep();
            emit finished({m_told});
            return;
        }
    }
    m_session.write().end();
    m_operator.beep();
    emit finished({outcome});
}

void OperationButtons::Command6_Click(const QString &nomeFile)
{
    m_session.port().discardInput();
    if (!m_operator.show(Messages::message(MessageId::ReadQuestion))) {
        emit finished({Outcome::Cancelled});
        return;
    }
    if (stopRunning())
        return;
    releaseAbandonedFile();
    if (openReadTarget(nomeFile))
        m_session.read().read(m_readFormat == ImageFormats::Format::Raw ? static_cast<QIODevice &>(m_operationFile) : m_textChip);
}

bool OperationButtons::openReadTarget(const QString &nomeFile)
{
    m_readTarget = nomeFile;
    m_readFormat = ImageFormats::formatOf(nomeFile);
    ImageOpen opened = ImageOpen::Opened;
    if (m_readFormat == ImageFormats::Format::Raw) {
        opened = ImageFile::openForWriting(m_operationFile, nomeFile);
    } else {
        opened = ImageFile::checkReplaceable(nomeFile, ImageExport::encodedSize(m_readFormat, nomeFile));
        m_textChip.close();
        m_textChip.setData(QByteArray());
        m_textChip.buffer().reserve(Chip::Size);
        m_textChip.open(QIODevice::WriteOnly);
    }
    if (opened != ImageOpen::Opened)
        emit finished({tell(ImageFile::outcomeOf(opened), {nomeFile, {}, 0})});
    return opened == ImageOpen::Opened;
}

void OperationButtons::Command7_Click(const QString &nomeFile)
{
    m_session.port().discardInput();
    confrontaFile(nomeFile, false);
}

void OperationButtons::Command8_Click()
{
    m_session.port().discardInput();
    confrontaFile(QString(), true);
}

void OperationButtons::confrontaFile(const QString &nomeFile, bool blankCheck)
{
    if (stopRunning())
        return;
    if (blankCheck) {
        m_session.check().blankCheck();
        return;
    }
    releaseAbandonedFile();
    const ImageOpen opened = ImageFile::openForReading(m_operationFile, nomeFile);
    if (opened != ImageOpen::Opened) {
        emit finished({tell(ImageFile::outcomeOf(opened), {nomeFile, {}, 0})});
        return;
    }
    const ImageFormats::Parsed image = ImageFile::chipImage(m_operationFile);
    if (!image.ok()) {
        m_operationFile.close();
        emit finished({tell(Outcome::InvalidImage, {nomeFile, image.error, 0})});
        return;
    }
    m_session.check().verify(image.image);
}

bool OperationButtons::stopRunning()
{
    if (m_session.state().rxMode == RxMode::Idle)
        return false;
    // A stopped stream is announced, and its file closed, through `ended`.
    m_session.stop();
    if (m_operationFile.isOpen())
        m_operationFile.close();
    return true;
}

void OperationButtons::releaseAbandonedFile()
{
    if (m_session.state().rxMode == RxMode::Idle && m_operationFile.isOpen())
        m_operationFile.close();
}

void OperationButtons::concluded(OperationResult result)
{
    MessageDetail detail{m_readTarget, result.reason, result.location};
    switch (result.outcome) {
    case Outcome::Written:
    case Outcome::WriteFailed:
        m_told = tell(result.outcome);
        m_image.close();
        return;
    case Outcome::ReadDone:
        if (m_readFormat != ImageFormats::Format::Raw) {
            m_textChip.close();
            const QByteArray chip = std::exchange(m_textChip.buffer(), {});
            const FileReplacement::Result replaced =
                FileReplacement::replace(m_readTarget, ImageExport::encode(chip, m_readFormat, m_readTarget));
            if (!replaced.error.isEmpty()) {
                detail.reason = replaced.error;
                result.outcome = Outcome::ReadInterrupted;
            }
        }
        break;
    default:
        break;
    }
    m_told = tell(result.outcome, detail);
}

void OperationButtons::ended(OperationResult result)
{
    switch (result.outcome) {
    case Outcome::Written:
    case Outcome::WriteFailed:
        return;  // the write's press ends it
    case Outcome::ReadDone:
        result.outcome = m_told;
        [[fallthrough]];
    case Outcome::ReadInterrupted:
    case Outcome::Verified:
    case Outcome::Differs:
    case Outcome::Stopped:
        if (m_operationFile.isOpen())
            m_operationFile.close();
        m_textChip.close();
        break;
    default:
        break;
    }
    emit finished(result);
}

Outcome OperationButtons::tell(Outcome outcome, const MessageDetail &detail)
{
    if (const std::optional<MessageId> id = Messages::forOutcome(outcome))
        m_operator.show(Messages::message(*id, detail));
    return outcome;
}
