// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// A pseudo-terminal for a board to serve: the master side, non-blocking, for the board; the slave
// side, raw at 19,200 baud, for the program to open as its serial port.
struct PseudoTerminal {
    int master = -1;
    int slave = -1;  // open, until the caller closes it
    QString slavePath;
};

// False, with `error`, when the system refuses.
bool openPseudoTerminal(PseudoTerminal *terminal, QString *error);
