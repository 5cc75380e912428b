// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/OperationContext.h"

#include "link/CommandFrame.h"
#include "link/SerialControl.h"
#include "operations/ProgressDisplay.h"
#include "operations/StreamStart.h"

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
}
