// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>

// The program's icon: a generic window symbol, a white page under a cyan title bar, drawn at
// 16 x 16 and 32 x 32 pixels in plain colours.
QIcon programIcon();
