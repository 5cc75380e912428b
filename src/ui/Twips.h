// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>

// Positions and sizes are given in twips, 15 to a pixel; every place in the layout is a whole
// number of pixels except the service panel's 100, 100, which rounds to 7, 7.
constexpr int twipsToPixels(int twips)
{
    return (twips + 7) / 15;
}

inline QRect twipRect(int left, int top, int width, int height)
{
    return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height)};
}
