// SPDX-License-Identifier: GPL-3.0-or-later
// Romivo: programs, reads, verifies and blank-checks a 27C256 EPROM on a programmer board.
#include "board/SelectingSerialControl.h"
#include "operations/Session.h"
#include "ui/Form1.h"
#include "ui/MessageBoxOperator.h"

#include <QApplication>
#include <QStyleFactory>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("romivo"));
    QApplication::setApplicationVersion(QStringLiteral(ROMIVO_VERSION));
    // Wayland matches the window to its desktop entry, and so to its name and icon, by this.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.romivo.Romivo"));
    // The style that paints a button's background colour, on every platform.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    SelectingSerialControl port;
    MessageBoxOperator messages;
    Session session(port, messages);
    Form1 form1(session);
    messages.setParent(&form1);
    // "Esci" and the close box end the program where it stands, also in the middle of an
    // operation; the system releases the files. The window has closed the port first, so what
    // was sent to the board has left.
    form1.setEndProgram([] {
        std::fflush(nullptr);
        std::_Exit(0);
    });
    form1.show();
    return app.exec();
}
