// SPDX-License-Identifier: GPL-3.0-or-later
// romivo-board: the software programmer board on a pseudo-terminal.
#include "PtyBoardServer.h"
#include "../common/TerminationSignals.h"
#include "board/BoardFaults.h"
#include "board/BoardSimulator.h"
#include "operations/FileReplacement.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>

namespace {

int fail(const QString &message)
{
    QTextStream(stderr) << "romivo-board: " << message << '\n';
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("romivo-board"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ROMIVO_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Serves a software 27C256 programmer board on a pseudo-terminal.\n"
        "Prints the terminal's path alone on the first line, then serves until ended by a signal.\n\n"
        "Faults (--fault NAME[=VALUE], repeatable):\n  ")
        + BoardFaults::help().join(QStringLiteral("\n  ")));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption paced(QStringLiteral("paced"),
        QStringLiteral("Run both directions at the line rate of 19,200 baud (1,920 bytes a second)."));
    const QCommandLineOption chip(QStringLiteral("chip"),
        QStringLiteral("Start from the chip in FILE (shorter files are padded with 0xFF)."), QStringLiteral("FILE"));
    const QCommandLineOption save(QStringLiteral("save"),
        QStringLiteral("Write the chip to FILE on exit."), QStringLiteral("FILE"));
    const QCommandLineOption fault(QStringLiteral("fault"),
        QStringLiteral("Inject a fault (see the list above)."), QStringLiteral("NAME[=VALUE]"));
    const QCommandLineOption logOption(QStringLiteral("log"),
        QStringLiteral("Log every byte received (>) and sent (<) with a timestamp to FILE."), QStringLiteral("FILE"));
    parser.addOptions({paced, chip, save, fault, logOption});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument %1 (see --help)").arg(parser.positionalArguments().first()));

    BoardSimulator board;
    BoardFaults faults;
    for (const QString &option : parser.values(fault)) {
        QString error;
        if (!faults.apply(option, &error))
            return fail(error);
    }
    board.setFaults(faults);
    if (parser.isSet(chip)) {
        QFile file(parser.value(chip));
        // Opening a FIFO would wait for a writer that may never come; a device is no chip.
        if (QFileInfo::exists(file.fileName()) && !QFileInfo(file.fileName()).isFile())
            return fail(QStringLiteral("%1: not a regular file").arg(file.fileName()));
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("%1: %2").arg(file.fileName(), file.errorString()));
        board.chip().load(file.read(Chip::Size));
    }

    // Checked now, not after a whole session whose chip would then be lost.
    if (parser.isSet(save)) {
        if (const QString cannot = FileReplacement::check(parser.value(save), Chip::Size); !cannot.isEmpty())
            return fail(QStringLiteral("--save %1: %2").arg(parser.value(save), cannot));
    }

    PtyBoardServer server(board, parser.isSet(paced));
    QString error;
    if (parser.isSet(logOption) && !server.setLog(parser.value(logOption), &error))
        return fail(error);
    if (!server.start(&error))
        return fail(error);

    if (!onTerminationSignals(&app, [] { QCoreApplication::quit(); }))
        return fail(QStringLiteral("socketpair failed"));

    std::printf("%s\n", qPrintable(server.slavePath()));
    std::fflush(stdout);

    const int status = app.exec();
    if (const qint64 dropped = board.droppedReplies() + server.droppedTowardsBoard(); dropped > 0)
        QTextStream(stderr) << "romivo-board: dropped " << dropped << " bytes a flooding client never made room for\n";
    // Whole or not at all: a chip file cut short would be a different chip next time.
    if (parser.isSet(save)) {
        if (const QString error = FileReplacement::replace(parser.value(save), board.chip().contents()).error; !error.isEmpty())
            return fail(QStringLiteral("%1: %2").arg(parser.value(save), error));
    }
    return status;
}
