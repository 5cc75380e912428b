#include "operations/OperationContext.h"

#include "operations/ProgressDisplay.h"

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

void stopRunningOperation(OperationContext &context)
{
    progressOff(context.progress);
    context.state.rxMode = RxMode::Idle;
    if (context.operationFile.isOpen())
        context.operationFile.close();
}
