// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// Misbehaviours the software board can be told to show. Blocks count from 0.
struct BoardFaults {
    bool noDsr = false;               // never changes DSR when the port opens
    int silentFromBlock = -1;         // stops answering once block k has been received
    int failDuringBlock = -1;         // sends failByte in the middle of block k, drops the write
    int failInsteadOfAck = -1;        // answers block k with failByte instead of 0x0D
    quint8 failByte = 0x62;           // 0x62 or 0x63
    int streamStopsAfter = -1;        // a stream ends after n bytes
    int streamExtraBytes = 0;         // a stream sends this many bytes beyond the chip
    QByteArray strayBytes;            // sent unasked after every command frame that has no answer
    bool endlessStream = false;       // streams the chip over and over, unasked, deaf to the stop byte
    struct Stuck { int address; quint8 mask; };
    QList<Stuck> stuckBits;           // bits that stay 1 whatever is programmed

    // Applies one option of the form NAME or NAME=VALUE; false (with `error`) when unknown or bad.
    bool apply(const QString &option, QString *error);
    // One line per fault name, for --help texts.
    static QStringList help();
};
