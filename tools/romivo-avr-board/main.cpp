// SPDX-License-Identifier: GPL-3.0-or-later
// romivo-avr-board: the reference board's firmware on a simulated ATmega328P, with its shift
// registers and a 27C256, served on a pseudo-terminal at the line's own pace.
#include "AvrMachine.h"
#include "BoardWiring.h"
#include "EpromModel.h"
#include "PtyLine.h"
#include "RegularFile.h"
#include "VcdTrace.h"
#include "operations/FileReplacement.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QTextStream>

#include <csignal>
#include <cstdio>

namespace {

volatile std::sig_atomic_t endRequested = 0;

void requestEnd(int)
{
    endRequested = 1;
}

int fail(const QString &message)
{
    QTextStream(stderr) << "romivo-avr-board: " << message << '\n';
    return 2;
}

// "N" or "LOW-HIGH" pulses per cell.
bool parsePulses(const QString &text, int *low, int *high)
{
    const QStringList parts = text.split(QLatin1Char('-'));
    bool ok = parts.size() <= 2;
    *low = ok ? parts.first().toInt(&ok) : 0;
    *high = *low;
    if (ok && parts.size() == 2)
        *high = parts.last().toInt(&ok);
    return ok && *low >= 1 && *high >= *low && *high <= 255;
}

// A supply's level in volts, from 0 to 25.
bool parseVolts(const QString &text, int *millivolts)
{
    bool ok = false;
    const double volts = text.toDouble(&ok);
    if (!ok || !(volts >= 0 && volts <= 25))
        return false;
    *millivolts = qRound(volts * 1000);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("romivo-avr-board"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ROMIVO_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs the reference programmer board's firmware on a simulated ATmega328P at 16 MHz, with\n"
        "its two 74HC595 and a 27C256 that checks every programming figure and level, and serves its\n"
        "serial line on a pseudo-terminal at 19,200 baud, paced to the wall clock.\n"
        "Prints the terminal's path alone on the first line, then serves until ended by a signal.\n"
        "On exit it reports how far the simulation fell behind the wall clock and every timing or\n"
        "level the firmware broke; the exit status is 1 if there was any."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption firmware(QStringLiteral("firmware"),
        QStringLiteral("The firmware ELF file (default: the one built with this program)."), QStringLiteral("FILE"),
        QStringLiteral(ROMIVO_FIRMWARE_ELF));
    const QCommandLineOption chip(QStringLiteral("chip"),
        QStringLiteral("Start from the chip in FILE (shorter files are padded with 0xFF)."), QStringLiteral("FILE"));
    const QCommandLineOption save(QStringLiteral("save"),
        QStringLiteral("Write the chip to FILE when ended by a signal."), QStringLiteral("FILE"));
    const QCommandLineOption logOption(QStringLiteral("log"),
        QStringLiteral("Log every byte received (>) and sent (<), and DTR and DSR changes, with the simulated time to FILE."),
        QStringLiteral("FILE"));
    const QCommandLineOption pulses(QStringLiteral("pulses"),
        QStringLiteral("Program pulses each cell needs: N, or LOW-HIGH for a seeded spread (default 1)."),
        QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption seed(QStringLiteral("seed"),
        QStringLiteral("Seed of the --pulses spread (default 1)."), QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption weak(QStringLiteral("weak"),
        QStringLiteral("A cell that never programs (repeatable; 0x for hexadecimal)."), QStringLiteral("ADDRESS"));
    const QCommandLineOption traceOption(QStringLiteral("trace"),
        QStringLiteral("Write the chip's pins to FILE as a value change dump (GTKWave)."), QStringLiteral("FILE"));
    const QCommandLineOption vpp(QStringLiteral("vpp"),
        QStringLiteral("The VPP supply's level when switched on, 0 to 25 V (default 12.75)."), QStringLiteral("VOLTS"),
        QStringLiteral("12.75"));
    const QCommandLineOption vccProgram(QStringLiteral("vcc-program"),
        QStringLiteral("The programming VCC supply's level when switched on, 0 to 25 V (default 6.25)."),
        QStringLiteral("VOLTS"), QStringLiteral("6.25"));
    parser.addOptions({firmware, chip, save, logOption, pulses, seed, weak, traceOption, vpp, vccProgram});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument %1 (see --help)").arg(parser.positionalArguments().first()));

    EpromModel eprom;
    int fewest = 1, most = 1;
    if (!parsePulses(parser.value(pulses), &fewest, &most))
        return fail(QStringLiteral("--pulses %1: give N or LOW-HIGH, from 1 to 255").arg(parser.value(pulses)));
    bool seedOk = false;
    QRandomGenerator spread(parser.value(seed).toUInt(&seedOk));
    if (!seedOk)
        return fail(QStringLiteral("--seed %1: not a number").arg(parser.value(seed)));
    for (int address = 0; address < EpromModel::Size; ++address)
        eprom.setPulsesNeeded(address, int(spread.bounded(fewest, most + 1)));
    for (const QString &text : parser.values(weak)) {
        bool ok = false;
        const int address = text.toInt(&ok, 0);
        if (!ok || address < 0 || address >= EpromModel::Size)
            return fail(QStringLiteral("--weak %1: not an address from 0 to 32767").arg(text));
        eprom.setWeak(address);
    }
    BoardWiring::Supplies supplies;
    for (const auto &[option, level] : {std::pair{&vpp, &supplies.vppMillivolts}, {&vccProgram, &supplies.vccMillivolts}}) {
        if (!parseVolts(parser.value(*option), level))
            return fail(QStringLiteral("--%1 %2: give volts from 0 to 25").arg(option->names().first(), parser.value(*option)));
    }
    // The firmware first: nothing is created or truncated for a board that cannot run.
    AvrMachine machine;
    QString error;
    if (!machine.load(parser.value(firmware), &error))
        return fail(error);
    if (parser.isSet(chip)) {
        QFile file;
        if (!RegularFile::open(file, parser.value(chip), O_RDONLY, &error))
            return fail(error);
        eprom.load(file.read(EpromModel::Size));
    }
    // Checked now, not after a whole session whose chip would then be lost.
    if (parser.isSet(save)) {
        QString cannot = RegularFile::refusal(parser.value(save));
        if (cannot.isEmpty())
            cannot = FileReplacement::check(parser.value(save), EpromModel::Size);
        if (!cannot.isEmpty())
            return fail(QStringLiteral("--save %1: %2").arg(parser.value(save), cannot));
    }
    QFile log;
    if (parser.isSet(logOption) && !RegularFile::open(log, parser.value(logOption), O_WRONLY | O_CREAT | O_TRUNC, &error))
        return fail(error);
    VcdTrace trace;
    if (parser.isSet(traceOption) && !trace.open(parser.value(traceOption), &error))
        return fail(error);

    PtyLine line;
    if (!line.open(&error))
        return fail(error);
    BoardWiring board(machine.avr(), eprom, trace, supplies);
    auto logLine = [&](const QByteArray &what) {
        if (log.isOpen())
            log.write(QByteArray::number(machine.seconds(), 'f', 6) + ' ' + what + '\n');
    };
    board.onReceived = [&](std::uint8_t byte) { logLine("> " + QByteArray(1, char(byte)).toHex()); };
    board.onSent = [&](std::uint8_t byte) {
        logLine("< " + QByteArray(1, char(byte)).toHex());
        line.send(QByteArray(1, char(byte)));
    };
    board.onDsr = [&](bool level) { logLine(level ? "DSR 1" : "DSR 0"); };

    std::signal(SIGINT, requestEnd);
    std::signal(SIGTERM, requestEnd);
    std::printf("%s\n", qPrintable(line.slavePath()));
    std::fflush(stdout);

    bool held = false;
    bool running = true;
    while (!endRequested && running) {
        running = machine.catchUp();
        board.keepLineTiming();
        const QByteArrayView bytes = line.wait(machine.aheadUs());
        if (line.programHoldsPort() != held) {
            held = line.programHoldsPort();
            board.setDtr(held);
            logLine(held ? "DTR 1" : "DTR 0");
        }
        if (!bytes.isEmpty())
            board.fromProgram(bytes);
        if (log.isOpen())
            log.flush();
    }

    eprom.advance(machine.cycle());
    QTextStream err(stderr);
    err << "romivo-avr-board: " << QString::number(machine.seconds(), 'f', 1) << " s simulated, at most "
        << QString::number(machine.worstLagMs(), 'f', 1) << " ms behind the wall clock; "
        << eprom.validPulses() << " program pulses\n";
    if (!running)
        err << "romivo-avr-board: the firmware stopped\n";
    if (line.dropped() > 0)
        err << "romivo-avr-board: dropped " << line.dropped() << " bytes a program never read\n";
    if (board.droppedTowardsBoard() > 0)
        err << "romivo-avr-board: dropped " << board.droppedTowardsBoard() << " bytes sent faster than the board takes them\n";
    for (const EpromModel::Violation &violation : eprom.violations())
        err << "romivo-avr-board: violation at " << QString::number(double(violation.cycle) / double(AvrMachine::Hz), 'f', 6)
            << " s: " << violation.what << '\n';
    if (eprom.violationCount() > eprom.violations().size())
        err << "romivo-avr-board: ... and " << eprom.violationCount() - eprom.violations().size() << " more violations\n";
    err.flush();
    int status = eprom.violationCount() > 0 || !running ? 1 : 0;
    // Whole or not at all: a chip file cut short would be a different chip next time.
    if (parser.isSet(save)) {
        if (const QString error = FileReplacement::replace(parser.value(save), eprom.contents()).error; !error.isEmpty())
            status = fail(QStringLiteral("%1: %2").arg(parser.value(save), error));
    }
    return status;
}
