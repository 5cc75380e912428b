// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMetaType>
#include <QString>
#include <utility>

// How a whole-chip operation ended. Front ends act on this, never on a message's text.
enum class Outcome {
    Written,          // every block acknowledged
    WriteFailed,      // a failure byte or a block without acknowledgement
    ReadDone,         // 32,768 bytes in the file
    ReadInterrupted,  // the file stopped taking bytes
    Verified,         // the chip equals the image
    Differs,          // the first difference, at a location
    Blank,            // every location 0xFF
    NotBlank,         // a location other than 0xFF
    Stopped,          // a stop ended it (another press, an interrupt, a stall)
    NoFileSelected,   // the path names no file
    NotWritable,      // a read's target exists but cannot be written
    InvalidImage,     // the image cannot be read or does not decode
    NotStarted,       // any other open failure: nothing said
    Cancelled,        // the question was answered Cancel
};

// A finished operation: its outcome, the location where one applies (Differs), and there the
// byte the chip gave (Differs, NotBlank; -1 where none was read); why the sink stopped taking
// bytes (ReadInterrupted).
struct OperationResult {
    OperationResult(Outcome outcome = Outcome::NotStarted, int location = 0, int chipByte = -1, QString reason = {})
        : outcome(outcome), location(location), chipByte(chipByte), reason(std::move(reason))
    {
    }
    Outcome outcome;
    int location;
    int chipByte;
    QString reason;
    // WriteFailed before anything was sent: the board kept sending and would not stop.
    bool lineBusy = false;
};

Q_DECLARE_METATYPE(OperationResult)
