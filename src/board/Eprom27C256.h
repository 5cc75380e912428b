// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/Chip.h"

#include <QByteArray>
#include <QHash>

// A 27C256 cell array: 32,768 bytes, erased to 0xFF. Programming can only clear bits
// (new = old AND data), so writing over a chip that is not blank leaves the AND of both.
class Eprom27C256 {
public:
    Eprom27C256();

    quint8 read(int address) const;
    void program(int address, quint8 data);
    void erase();

    // The whole chip, or a chip loaded from bytes (shorter data leaves the rest erased,
    // longer data is cut at the chip's end).
    QByteArray contents() const { return m_cells; }
    void load(const QByteArray &bytes);

    // Bits in `mask` at `address` stay 1 whatever is programmed (a worn cell).
    void setStuckBits(int address, quint8 mask);
    void clearStuckBits() { m_stuck.clear(); }

    static int wrap(int address) { return address & Chip::LastLocation; }

private:
    QByteArray m_cells;
    QHash<int, quint8> m_stuck;
};
