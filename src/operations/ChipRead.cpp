#include "operations/ChipRead.h"

#include "link/CommandFrame.h"
#include "operations/ReceiveDispatcher.h"
#include "link/SerialControl.h"
#include "operations/FileReplacement.h"
#include "operations/ImageExport.h"
#include "operations/ImageFile.h"
#include "operations/Messages.h"
#include "operations/Operator.h"
#include "operations/ProgressDisplay.h"
#include "operations/StreamStart.h"

#include <QFile>
#include <utility>

ChipRead::ChipRead(OperationContext context, ReceiveDispatcher &dispatcher, QObject *parent)
    : QObject(parent), m_context(context)
{
    dispatcher.setHandling(RxMode::ReadToFile, [this](const QByteArray &bytes) { receive(bytes); });
}

void ChipRead::Command6_Click(const QString &nomeFile)
{
    OperationState &state = m_context.state;
    m_context.port.discardInput();
    if (!m_context.op.show(Messages::message(MessageId::ReadQuestion))) {
        m_context.announce({Outcome::Cancelled, 0});
        return;
    }
    if (state.rxMode != RxMode::Idle) {
        stopAndAnnounce(m_context);
        return;
    }
    releaseAbandonedFile(m_context);
    if (open(nomeFile))
        start();
}

void ChipRead::read(QIODevice &sink)
{
    m_context.port.discardInput();
    m_format = ImageFormats::Format::Raw;
    m_sink = &sink;
    start();
}

void ChipRead::start()
{
    m_context.state.rxMode = RxMode::ReadToFile;
    m_context.state.currentAddress = 0;
    progressOn(m_context.progress);
    m_context.stream.begin();
}

bool ChipRead::open(const QString &nomeFile)
{
    m_format = ImageFormats::formatOf(nomeFile);
    m_chip.clear();
    ImageOpen opened = ImageOpen::Opened;
    m_sink = &m_context.operationFile;
    if (m_format == ImageFormats::Format::Raw) {
        opened = ImageFile::openForWriting(m_context.operationFile, nomeFile);
    } else {
        opened = ImageFile::checkReplaceable(nomeFile, ImageExport::encodedSize(m_format, nomeFile));
        m_textFile = nomeFile;
        m_chip.reserve(Chip::Size);
    }
    if (opened != ImageOpen::Opened)
        m_context.announce({tell(m_context, ImageFile::outcomeOf(opened), {nomeFile, {}, 0}), 0});
    return opened == ImageOpen::Opened;
}

void ChipRead::receive(const QByteArray &bytes)
{
    if (m_context.stream.dropWhileWaiting())
        return;
    // Bytes beyond the chip's last location, in the read that completes it, are dropped.
    const qsizetype room = qMax<qsizetype>(0, Chip::Size - m_context.state.currentAddress);
    if (!store(bytes.left(room)))
        return;
    if (m_context.state.currentAddress > Chip::LastLocation)
        finish();
}

bool ChipRead::store(const QByteArray &bytes)
{
    OperationState &state = m_context.state;
    if (m_format != ImageFormats::Format::Raw) {
        m_chip += bytes;
        state.currentAddress += int(bytes.size());
        return true;
    }
    const qint64 written = bytes.isEmpty() ? 0 : m_sink->write(bytes);
    state.currentAddress += int(qMax<qint64>(0, written));
    if (written == bytes.size())
        return true;
    // Stopped as a stop does, and said: the file holds what reached it so far.
    const QString reason = m_sink->errorString();
    const auto *file = qobject_cast<QFileDevice *>(m_sink);
    stopRunningOperation(m_context);
    interrupted(file ? file->fileName() : QString(), reason);
    return false;
}

void ChipRead::finish()
{
    OperationState &state = m_context.state;
    progressOff(m_context.progress);
    state.rxMode = RxMode::Idle;
    if (m_format != ImageFormats::Format::Raw) {
        const QByteArray chip = std::exchange(m_chip, {});
        const FileReplacement::Result replaced =
            FileReplacement::replace(m_textFile, ImageExport::encode(chip, m_format, m_textFile));
        if (!replaced.error.isEmpty())
            return interrupted(m_textFile, replaced.error);
    }
    m_context.op.show(Messages::message(MessageId::ReadDone));
    m_context.operationFile.close();
    m_context.announce({Outcome::ReadDone, state.currentAddress});
}

void ChipRead::interrupted(const QString &path, const QString &reason)
{
    m_context.op.show(Messages::message(MessageId::ReadInterrupted, {path, reason, 0}));
    m_context.announce({Outcome::ReadInterrupted, m_context.state.currentAddress});
}
