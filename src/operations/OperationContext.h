// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "operations/OperationState.h"
#include "operations/Outcome.h"

#include <functional>

class ProgressDisplay;
class SerialControl;
class StreamStart;

// What every whole-chip operation works with: the port, the shared state, the progress display
// and the line's start rule; and how it tells the front end its result.
struct OperationContext {
    SerialControl &port;
    OperationState &state;
    ProgressDisplay &progress;
    StreamStart &stream;
    // The result is known: said at the moment the operator is to be told (a write's while its
    // progress still shows, a verify's difference before the progress hides); once per operation
    // that ends by itself, never for a stop.
    std::function<void(OperationResult)> conclude;
    // The operation has ended and left everything as it found it.
    std::function<void(OperationResult)> announce;
};

// The stop that a read, verify or blank-check press makes while something runs: progress off,
// idle mode, nothing said. A running read, verify or blank check also sends the stop byte, so
// that the board does not go on streaming into the next operation; a write gets nothing (0x63
// would be image data) and neither does a service read.
void stopRunningOperation(OperationContext &context);

// The stop, announced as the outcome of the read, verify or blank check it ended.
void stopAndAnnounce(OperationContext &context);

// Progress refresh on and window shown, or both off, in the order the operations use.
void progressOn(ProgressDisplay &progress);
void progressOff(ProgressDisplay &progress);
