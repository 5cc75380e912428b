// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

// The number at the start of a text box's text: decimal, with optional sign, fraction and
// exponent (E or D); blanks, tabs and line feeds are skipped wherever they stand; reading stops
// at the first character that cannot continue the number; no number at all reads as 0.
// A number too large for a double reads as an infinity.
double numberAtStart(const QString &text);

// Rounded to the nearest whole number, halves to the even neighbour; nothing when the result
// does not fit.
std::optional<std::int32_t> roundedToInt32(double value);
std::optional<std::uint8_t> roundedToByte(double value);
