// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

// The 27C256: 32,768 locations of 8 bits, erased to 0xFF.
namespace Chip {

constexpr int Size = 32768;
constexpr int LastLocation = Size - 1;
constexpr char Erased = char(0xFF);

// The first Size bytes of `bytes`, erased past their end: what an image shorter or longer than
// the chip stands for.
inline QByteArray padded(const QByteArray &bytes)
{
    QByteArray image = bytes.left(Size);
    image.append(Size - image.size(), Erased);
    return image;
}

} // namespace Chip
