// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// What the text of the port box selects.
struct PortSelection {
    enum class Kind {
        None,       // empty, 0, negative or out-of-range number: no port
        Serial,     // a serial device, by its system name
        Simulated,  // the built-in software board
    };
    Kind kind = Kind::None;
    QString systemName;  // for Serial: the name handed to the serial layer
};

enum class PortPlatform { Windows, Unix };

constexpr PortPlatform hostPortPlatform()
{
#ifdef Q_OS_WIN
    return PortPlatform::Windows;
#else
    return PortPlatform::Unix;
#endif
}

// A decimal number n from 1 to 32767 (blanks around it allowed) names COMn on Windows and
// /dev/ttyS<n-1> elsewhere; "SIM" in any case is the simulated board; any other non-empty
// text is a port name as written.
PortSelection selectPort(const QString &text, PortPlatform platform = hostPortPlatform());
