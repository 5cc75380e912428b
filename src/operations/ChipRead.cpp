#include "operations/ChipRead.h"

#include "link/CommandFrame.h"
#include "link/ReceiveDispatcher.h"
#include "link/SerialControl.h"
#include "operations/ImageFile.h"
#include "operations/Messages.h"
#include "operations/Operator.h"
#include "operations/ProgressDisplay.h"
#include "operations/StreamStart.h"

#include <QFile>

ChipRead::ChipRead(OperationContext context, ReceiveDispatcher &dispatcher, QObject *parent)
    : QObject(parent), m_context(context)
{
    dispatcher.setHandling(RxMode::ReadToFile, [this](const QByteArray &bytes) { receive(bytes); });
}

void ChipRead::Command6_Click(const QString &nomeFile)
{
    FormState &state = m_context.state;
    m_context.port.input();
    if (!m_context.op.show(Messages::message(MessageId::ReadQuestion))) {
        m_context.announce({Outcome::Cancelled, 0});
        return;
    }
    if (state.rxMode != RxMode::Idle) {
        stopAndAnnounce(m_context);
        return;
    }
    releaseAbandonedFile(m_context);
    const ImageOpen opened = ImageFile::openForWriting(m_context.operationFile, nomeFile);
    if (opened != ImageOpen::Opened) {
        m_context.announce({ImageFile::report(m_context.op, opened, nomeFile), 0});
        return;
    }
    state.rxMode = RxMode::ReadToFile;
    state.currentAddress = 0;
    progressOn(m_context.progress);
    m_context.stream.begin();
}

void ChipRead::receive(const QByteArray &bytes)
{
    if (m_context.stream.dropWhileWaiting())
        return;
    FormState &state = m_context.state;
    QFile &file = m_context.operationFile;
    // Bytes beyond the chip's last location, in the read that completes it, are dropped.
    const qsizetype room = qMax<qsizetype>(0, Chip::Size - state.currentAddress);
    const QByteArray stored = bytes.left(room);
    if (!stored.isEmpty()) {
        const qint64 written = file.write(stored);
        if (written != stored.size()) {
            // Stopped as a stop does, and said: the file holds what reached it so far.
            const OperatorMessage box =
                Messages::message(MessageId::ReadInterrupted, {file.fileName(), file.errorString(), 0});
            state.currentAddress += int(qMax<qint64>(0, written));
            stopRunningOperation(m_context);
            m_context.op.show(box);
            m_context.announce({Outcome::ReadInterrupted, state.currentAddress});
            return;
        }
        state.currentAddress += int(stored.size());
    }
    if (state.currentAddress > Chip::LastLocation) {
        progressOff(m_context.progress);
        state.rxMode = RxMode::Idle;
        m_context.op.show(Messages::message(MessageId::ReadDone));
        file.close();
        m_context.announce({Outcome::ReadDone, state.currentAddress});
    }
}
