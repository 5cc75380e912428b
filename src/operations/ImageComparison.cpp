// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/ImageComparison.h"

#include <bit>

ImageComparison ImageComparison::of(const QByteArray &chip, const QByteArray &image)
{
    ImageComparison result;
    const qsizetype size = qMin(chip.size(), image.size());
    for (qsizetype at = 0; at < size; ++at) {
        const quint8 read = quint8(chip.at(at));
        const quint8 wanted = quint8(image.at(at));
        if (read == wanted)
            continue;
        result.differences.append({int(at), read, wanted});
        const quint8 toErase = quint8(~read & wanted);
        result.bitsToErase += std::popcount(toErase);
        result.bitsToProgram += std::popcount(quint8(read & ~wanted));
        result.differingBits |= quint8(read ^ wanted);
        if (toErase != 0 && result.lockedLocations++ == 0)
            result.firstLocked = int(at);
    }
    return result;
}
