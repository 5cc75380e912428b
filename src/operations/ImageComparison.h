// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>

// A chip's contents against an image, location by location, in the terms an EPROM allows:
// programming only takes bits from 1 to 0, and only an erase brings them back to 1.
struct ImageComparison {
    struct Difference {
        int location;
        quint8 chip;
        quint8 image;
    };

    QList<Difference> differences;  // every differing location, in order
    int bitsToErase = 0;            // read 0 where the image has 1
    int bitsToProgram = 0;          // read 1 where the image has 0: a write can still clear them
    quint8 differingBits = 0;       // every bit that differs somewhere: a stuck data line shows as one
    int lockedLocations = 0;        // locations with a bit to erase: a write cannot make them the image
    int firstLocked = -1;

    static ImageComparison of(const QByteArray &chip, const QByteArray &image);
    bool equal() const { return differences.isEmpty(); }
};
