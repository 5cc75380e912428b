#include "operations/OperationContext.h"

#include "link/CommandFrame.h"
#include "link/SerialControl.h"
#include "operations/Operator.h"
#include "operations/ProgressDisplay.h"
#include "operations/StreamStart.h"

#include <QFile>

void progressOn(ProgressDisplay &progress)
{
    progress.setRefreshing(true);
    progress.setShown(true);
}

void progressOff(ProgressDisplay &progress)
{
    progress.setRefreshing(false);
    progress.setShown(false);
}

void releaseAbandonedFile(OperationContext &context)
{
    if (context.state.rxMode == RxMode::Idle && context.operationFile.isOpen())
        context.operationFile.close();
}

void stopAndAnnounce(OperationContext &context)
{
    const bool stream = isStream(context.state.rxMode);
    stopRunningOperation(context);
    if (stream)
        context.announce({Outcome::Stopped, context.state.currentAddress});
}

void stopRunningOperation(OperationContext &context)
{
    progressOff(context.progress);
    if (isStream(context.state.rxMode)) {
        context.stream.cancel();
        context.port.output(stopByte());
    }
    context.state.rxMode = RxMode::Idle;
    if (context.operationFile.isOpen())
        context.operationFile.close();
}

Outcome tell(OperationContext &context, Outcome outcome, const MessageDetail &detail)
{
    if (const std::optional<MessageId> id = Messages::forOutcome(outcome))
        context.op.show(Messages::message(*id, detail));
    return outcome;
}
