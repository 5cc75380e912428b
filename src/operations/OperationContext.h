#pragma once

#include "operations/OperationState.h"
#include "operations/Messages.h"
#include "operations/Outcome.h"

#include <functional>

class Operator;
class ProgressDisplay;
class QFile;
class SerialControl;
class StreamStart;

// What every whole-chip operation works with: the port, the shared state, the operator, the
// progress display, and the one operation file that the read and the verify share.
struct OperationContext {
    SerialControl &port;
    OperationState &state;
    Operator &op;
    ProgressDisplay &progress;
    QFile &operationFile;
    StreamStart &stream;
    // Tells the front end how an operation ended.
    std::function<void(OperationResult)> announce;
};

// The stop that a read, verify or blank-check press makes while something runs: progress off,
// idle mode, operation file closed, nothing said. A running read, verify or blank check also
// sends the stop byte, so that the board does not go on streaming into the next operation;
// a write gets nothing (0x63 would be image data) and neither does a service read.
void stopRunningOperation(OperationContext &context);

// The stop, announced as the outcome of the read, verify or blank check it ended.
void stopAndAnnounce(OperationContext &context);

// Closes an operation file that no running operation holds: a read or verify whose mode another
// handler ended (a write, POSIZIONO) left it open, and every later read and verify would
// otherwise find the handle in use and end silently, for as long as the program runs.
void releaseAbandonedFile(OperationContext &context);

// Shows the box an outcome is told with, where it has one (Messages::forOutcome), and gives the
// outcome back.
Outcome tell(OperationContext &context, Outcome outcome, const MessageDetail &detail = {});

// Progress refresh on and window shown, or both off, in the order the operations use.
void progressOn(ProgressDisplay &progress);
void progressOff(ProgressDisplay &progress);
