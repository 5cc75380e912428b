// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>

// The faces of the windows, each with the substitutes that stand in where it is not installed:
// metric look-alikes first, then any face of the same kind, so that a box is never empty.
namespace Fonts {
QFont bookmanRegular();   // Bookman Old Style 8.25 pt, weight 300
QFont bookmanBold();      // Bookman Old Style 8.25 pt, weight 600
QFont bookmanLargeBold(); // Bookman Old Style 9.75 pt, weight 600
QFont gadugiLarge();      // Gadugi 15.75 pt, weight 400
QFont bookAntiquaLarge(); // Book Antiqua 15.75 pt, weight 400
} // namespace Fonts
