// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "operations/Operator.h"
#include "operations/Outcome.h"

#include <QString>
#include <optional>

// Every fixed text the program shows, with its kind (icon and buttons) and title, in one table.
enum class MessageId {
    WriteQuestion,
    ReadQuestion,
    Written,
    WriteFailed,
    ReadDone,
    ReadInterrupted,    // subject: the file; reason: the system's words
    Verified,
    Differs,            // location
    Blank,
    NotBlank,
    NoFileSelected,
    NotWritable,        // subject: the file
    InvalidImage,       // subject: the file; reason: the first bad line or the system's words
    NoPortNamed,
    PortNotValid,       // subject: the text typed
    PortWontOpen,       // subject: the port; reason
    PortLost,           // subject: the port; reason
    PortNotOpen,
    AddressRefused,
    DataRefused,
    ServiceReadTimeout,
    Stalled,            // romivo-cli's own: location
};

struct MessageDetail {
    QString subject;  // a path or a port
    QString reason;
    int location = 0;
};

namespace Messages {

OperatorMessage message(MessageId id, const MessageDetail &detail = {});
inline QString text(MessageId id, const MessageDetail &detail = {}) { return message(id, detail).text; }
// The box an outcome is announced with, when it has one.
std::optional<MessageId> forOutcome(Outcome outcome);

} // namespace Messages
