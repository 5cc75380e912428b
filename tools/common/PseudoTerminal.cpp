// SPDX-License-Identifier: GPL-3.0-or-later
#include "PseudoTerminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

bool openPseudoTerminal(PseudoTerminal *terminal, QString *error)
{
    auto fail = [&](const char *what) {
        *error = QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    };
    terminal->master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (terminal->master < 0)
        return fail("posix_openpt");
    if (::grantpt(terminal->master) != 0 || ::unlockpt(terminal->master) != 0)
        return fail("grantpt/unlockpt");
    const char *name = ::ptsname(terminal->master);
    if (!name)
        return fail("ptsname");
    terminal->slavePath = QString::fromLocal8Bit(name);
    terminal->slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (terminal->slave < 0)
        return fail("open slave");
    termios raw{};
    if (::tcgetattr(terminal->slave, &raw) == 0) {
        ::cfmakeraw(&raw);
        ::cfsetspeed(&raw, B19200);
        ::tcsetattr(terminal->slave, TCSANOW, &raw);
    }
    return true;
}
