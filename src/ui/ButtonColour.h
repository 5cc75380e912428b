// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>

class QPushButton;

// Paints a command button's face in one flat, pure colour (the connected green, SCRIVO DATO's
// red), whatever the style: styles otherwise lighten it and add a gradient. An invalid colour
// gives the style's own face back.
void setButtonColour(QPushButton *button, const QColor &colour);
