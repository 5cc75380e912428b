#pragma once

#include "SoakHistory.h"

// Plays one history on a fresh main window over the software board, checking after every action
// what must always hold, then recovers to a correct write and verify.
struct SoakOutcome {
    QString failure;       // empty when everything held
    int actionsRun = 0;
    bool ok() const { return failure.isEmpty(); }
};

SoakOutcome runHistory(const SoakHistory &history);
