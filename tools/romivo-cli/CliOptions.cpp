// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliOptions.h"

#include "board/BoardFaults.h"
#include "link/PortName.h"

#include <QCommandLineParser>
#include <algorithm>
#include <utility>

namespace {

// A number of seconds for `option`, or nothing with `error`.
std::optional<double> seconds(const QString &option, const QString &text, QString *error)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !(value > 0))
        *error = QStringLiteral("--%1 takes a number of seconds above 0, not %2").arg(option, text);
    else if (value > CliOptions::MaxSeconds)
        *error = QStringLiteral("--%1 takes at most %2 seconds (a day), not %3").arg(option).arg(CliOptions::MaxSeconds).arg(text);
    else
        return value;
    return std::nullopt;
}

} // namespace

QString stepName(CliOptions::Step::Kind kind)
{
    switch (kind) {
    case CliOptions::Step::Kind::Write:
        return QStringLiteral("write");
    case CliOptions::Step::Kind::Read:
        return QStringLiteral("read");
    case CliOptions::Step::Kind::Verify:
        return QStringLiteral("verify");
    case CliOptions::Step::Kind::Blank:
        return QStringLiteral("blank");
    case CliOptions::Step::Kind::Compare:
        return QStringLiteral("compare");
    }
    return {};
}

std::optional<CliOptions> CliOptions::parse(const QStringList &arguments, QString *error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(description());
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("This text."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("The program's version."));
    const QCommandLineOption port(QStringLiteral("port"),
        QStringLiteral("Required: a port number, a port name (/dev/ttyUSB0, COM3), or SIM for the built-in "
                       "simulated board (no chip is programmed). Repeated, or A,B: every board of a batch."),
        QStringLiteral("PORT"));
    const QCommandLineOption listPorts(QStringLiteral("list-ports"),
        QStringLiteral("Print the serial ports the system offers, and SIM, then exit."));
    const QCommandLineOption simChip(QStringLiteral("sim-chip"),
        QStringLiteral("With SIM: start the simulated chip from FILE, save it back at exit."), QStringLiteral("FILE"));
    const QCommandLineOption simFault(QStringLiteral("sim-fault"),
        QStringLiteral("With SIM: the simulated board misbehaves so (as romivo-board --fault: no-dsr, "
                       "silent-after-block=K, short-stream=N, ...)."), QStringLiteral("NAME[=VALUE]"));
    const QCommandLineOption waitBoard(QStringLiteral("wait-board"),
        QStringLiteral("How long to wait for the board's DSR change (default 5, at most 86400)."), QStringLiteral("SECONDS"));
    const QCommandLineOption idleTimeout(QStringLiteral("idle-timeout"),
        QStringLiteral("Stop a read, verify or blank check that gets no byte for this long (default 5, at most 86400)."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption quiet(QStringLiteral("quiet"), QStringLiteral("No progress line on standard error."));
    const QCommandLineOption noCheck(QStringLiteral("no-check"),
        QStringLiteral("Write without first reading the chip to see that every location can take the image."));
    const QCommandLineOption noVerify(QStringLiteral("no-verify"),
        QStringLiteral("Do not verify the chip against the image after a write that reported CORRETTO."));
    const QCommandLineOption anySize(QStringLiteral("any-size"),
        QStringLiteral("Take a raw image that is not 32,768 bytes as the window does: a shorter one padded with "
                       "0xFF, a longer one cut. Without it such an image is refused before anything is sent."));
    const QCommandLineOption format(QStringLiteral("format"),
        QStringLiteral("Take every FILE as raw binary, Intel HEX or S-record, whatever its name says."),
        QStringLiteral("bin|ihex|srec"));
    const QCommandLineOption maxLines(QStringLiteral("max-lines"),
        QStringLiteral("List at most N differing locations in a compare (default 64)."), QStringLiteral("N"));
    const QCommandLineOption json(QStringLiteral("json"),
        QStringLiteral("One JSON object per operation on standard output instead of its result line."));
    const QCommandLineOption trace(QStringLiteral("trace"),
        QStringLiteral("Every byte sent to the board (>) and received from it (<), with seconds since the port "
                       "opened, into FILE, as romivo-board --log writes them."),
        QStringLiteral("FILE"));
    parser.addOptions({help, version, port, listPorts, simChip, simFault, waitBoard, idleTimeout, quiet, anySize,
                       noCheck, noVerify, format, maxLines, json, trace});
    parser.addPositionalArgument(QStringLiteral("OPERATION"),
                                 QStringLiteral("write FILE, read FILE, verify FILE, compare FILE or blank, run in order."),
                                 QStringLiteral("OPERATION..."));

    CliOptions options;
    // The program's name first, as QCommandLineParser expects.
    if (!parser.parse(QStringList{QStringLiteral("romivo-cli")} + arguments)) {
        // One line that ends in "; see --help": Qt's own text without its capital and full stop.
        const QStringList unknown = parser.unknownOptionNames();
        QString text = parser.errorText();
        if (text.endsWith(u'.'))
            text.chop(1);
        *error = unknown.isEmpty() ? text.left(1).toLower() + text.mid(1)
                                   : QStringLiteral("unknown option %1%2").arg(unknown.first().size() == 1 ? "-" : "--", unknown.first());
        return std::nullopt;
    }
    options.help = parser.isSet(help);
    options.version = parser.isSet(version);
    options.listPorts = parser.isSet(listPorts);
    options.helpText = parser.helpText();
    if (options.help || options.version || options.listPorts)
        return options;

    options.quiet = parser.isSet(quiet);
    options.anySize = parser.isSet(anySize);
    options.noCheck = parser.isSet(noCheck);
    options.json = parser.isSet(json);
    if (parser.isSet(maxLines)) {
        bool ok = false;
        options.maxLines = parser.value(maxLines).toInt(&ok);
        if (!ok || options.maxLines < 0) {
            *error = QStringLiteral("--max-lines takes a count of 0 or more, not ") + parser.value(maxLines);
            return std::nullopt;
        }
    }
    if (parser.isSet(format)) {
        const QString name = parser.value(format);
        if (name == QLatin1String("bin"))
            options.format = ImageFormats::Format::Raw;
        else if (name == QLatin1String("ihex"))
            options.format = ImageFormats::Format::IntelHex;
        else if (name == QLatin1String("srec"))
            options.format = ImageFormats::Format::SRecord;
        else {
            *error = QStringLiteral("--format takes bin, ihex or srec, not ") + name;
            return std::nullopt;
        }
    }
    for (const QString &value : parser.values(port))
        options.ports += value.contains(u',') ? value.split(u',') : QStringList{value};
    options.port = options.ports.value(0);
    options.simChip = parser.value(simChip);
    options.trace = parser.value(trace);
    for (const QString &fault : parser.values(simFault)) {
        BoardFaults check;
        QString why;
        if (!check.apply(fault, &why)) {
            *error = QStringLiteral("--sim-fault: ") + why;
            return std::nullopt;
        }
        options.simFaults.append(fault);
    }
    for (const auto &[option, target] : {std::pair{&waitBoard, &options.waitBoardSeconds},
                                         std::pair{&idleTimeout, &options.idleTimeoutSeconds}}) {
        if (!parser.isSet(*option))
            continue;
        const std::optional<double> value = seconds(option->names().constFirst(), parser.value(*option), error);
        if (!value)
            return std::nullopt;
        *target = *value;
    }

    const QStringList words = parser.positionalArguments();
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString &word = words[i];
        if (word == QLatin1String("blank")) {
            options.steps.append({Step::Kind::Blank, {}});
            continue;
        }
        const std::optional<Step::Kind> kind = word == QLatin1String("write")    ? std::optional(Step::Kind::Write)
                                               : word == QLatin1String("read")   ? std::optional(Step::Kind::Read)
                                               : word == QLatin1String("verify") ? std::optional(Step::Kind::Verify)
                                               : word == QLatin1String("compare") ? std::optional(Step::Kind::Compare)
                                                                                 : std::nullopt;
        if (!kind) {
            *error = QStringLiteral("unknown operation: ") + word;
            return std::nullopt;
        }
        if (i + 1 >= words.size()) {
            *error = word + QStringLiteral(" needs a file");
            return std::nullopt;
        }
        options.steps.append({*kind, words[++i]});
        // A write is checked by reading the chip back against the same image, unless told not to.
        if (*kind == Step::Kind::Write && !parser.isSet(noVerify))
            options.steps.append({Step::Kind::Verify, words[i]});
    }
    if (options.steps.isEmpty()) {
        *error = QStringLiteral("no operation given");
        return std::nullopt;
    }
    // A script that forgets the port must not "program" the simulated chip and succeed.
    if (options.ports.isEmpty() || options.ports == QStringList{QString()}) {
        *error = QStringLiteral("--port is required (the board's serial port, or SIM for the simulated board)");
        return std::nullopt;
    }
    if (options.ports.contains(QString())) {
        *error = QStringLiteral("--port %1 holds an empty port name (the names are separated by commas)")
                     .arg(parser.values(port).join(QStringLiteral(" --port ")));
        return std::nullopt;
    }
    const bool allSimulated = std::all_of(options.ports.cbegin(), options.ports.cend(), [](const QString &name) {
        return selectPort(name).kind == PortSelection::Kind::Simulated;
    });
    if ((!options.simChip.isEmpty() || !options.simFaults.isEmpty()) && !allSimulated) {
        *error = QStringLiteral("--sim-chip and --sim-fault go with --port SIM only");
        return std::nullopt;
    }
    // Several simulated chips cannot all be saved back into one file.
    if (!options.simChip.isEmpty() && options.ports.size() > 1) {
        *error = QStringLiteral("--sim-chip goes with a single --port SIM");
        return std::nullopt;
    }
    return options;
}

QString CliOptions::description()
{
    return QStringLiteral(
        "Programs, reads, verifies and blank-checks a 27C256 EPROM (32,768 bytes) through the\n"
        "programmer board, with the desktop program's own operations.\n"
        "\n"
        "Operations, run in the order given; the first that does not succeed ends the run:\n"
        "  write FILE    program the chip from FILE. First the chip is read: nothing is\n"
        "                written if a location cannot take the image (a bit only goes from\n"
        "                1 to 0) or if the chip already holds it (--no-check leaves this\n"
        "                out). Then the chip is verified against FILE (--no-verify leaves\n"
        "                this out), as CORRETTO only says that the board took every block.\n"
        "                A write thus takes about 3 x 17 s on a real board\n"
        "  read FILE     read the chip into FILE, raw or, by its name or --format, Intel HEX\n"
        "                or S-record; FILE is replaced only by a whole chip\n"
        "  verify FILE   compare the chip with FILE; the board stops at the first difference\n"
        "  compare FILE  read the whole chip and list every location that differs from FILE\n"
        "  blank         check that every location holds 0xFF\n"
        "FILE for write, verify and compare is raw binary of 32,768 bytes, Intel HEX (.hex,\n"
        ".ihx, .ihex, .eep) or Motorola S-record (.s19, .s28, .s37, .srec, .mot), or as\n"
        "--format says; locations a HEX or S-record file leaves unset are 0xFF.\n"
        "\n"
        "Each operation prints one line on standard output, ending with the desktop program's\n"
        "message in brackets where it shows one. Its forms (... stands for more of the same):\n"
        "\n"
        "write: ok, checksum 7F3C 3D75CCFB [CORRETTO]\n"
        "\n"
        "write: unchanged, the chip already holds the image (not written again), checksum ...\n"
        "\n"
        "write: refused, 4 of the chip's locations cannot take the image (a bit would have to\n"
        "go from 0 to 1), the first 0x0100 (chip 0xDE, image 0xFF); nothing was written\n"
        "\n"
        "write: failed, the board did not take every block [ERRORE]\n"
        "\n"
        "read: ok, checksum ... [TERMINATO]\n"
        "\n"
        "verify: ok, checksum ... [VERIFICA ESEGUITA CORRETTAMENTE]\n"
        "\n"
        "verify: differs at 0x03E8 (chip 0x12, file 0x13) [ERRORE al byte  1000]\n"
        "\n"
        "blank: ok [IL CHIP E' VUOTO]\n"
        "\n"
        "blank: not blank at 0x0000 (chip 0x7F) [IL CHIP NON E' VUOTO]\n"
        "\n"
        "compare: equal, checksum ...\n"
        "\n"
        "compare: differs, 71 locations; 70 bits read 0 where the file has 1 (only an erase\n"
        "makes them 1), 1 bits read 1 where the file has 0 (a write can still program them);\n"
        "differing bits 0x84 (after a line such as '0x0100: chip 0xDE, file 0xFF' for each\n"
        "differing location, at most --max-lines, then '... and N more')\n"
        "\n"
        "read: stalled at 0x0064; FILE was not replaced [FERMATO: NESSUN DATO DAL CHIP ALLA\n"
        "LOCAZIONE 100] (in a write's check: 'in the check before writing; nothing was written')\n"
        "\n"
        "verify: port lost [COLLEGAMENTO PERSO SULLA PORTA ...; ...]\n"
        "\n"
        "verify: interrupted at 0x0123 (a read: 'after N bytes; FILE was not replaced'; a\n"
        "write adds '; the chip is partly written', as it does after a port lost during it;\n"
        "before the board is seen: 'wait: interrupted')\n"
        "\n"
        "The checksum is the image's 16-bit byte sum and its CRC-32. With --json each line is\n"
        "instead one JSON object with operation, outcome, location, chip, file, checksum\n"
        "(sum16, crc32), seconds, message and detail (compare adds its counts and 'listed').\n"
        "Anything else that goes wrong is one line on standard error.\n"
        "\n"
        "Exit status: 0 every operation succeeded (compare: equal); 1 an operation failed,\n"
        "found a difference, was refused by the check, stalled, or the port was lost; 2 bad\n"
        "usage, a port that will not open, no board seen, a file that cannot be opened, read,\n"
        "parsed or written, or a result line that cannot be written; 130 interrupted (SIGINT\n"
        "or SIGTERM stop the running operation).\n"
        "\n"
        "Batches: --port A --port B (or --port A,B) runs the same operations on every board at\n"
        "once, each board's in order and on its own: a failure, a stall or a lost port ends\n"
        "only that board's run. Each line begins with its board ('/dev/ttyUSB1: write: ok,\n"
        "...'; --json adds \"port\"); after the last board, one line 'batch: 2 of 3 boards\n"
        "succeeded; not: /dev/ttyUSB2'. A FILE's {n} stands for the board's number from 1,\n"
        "{port} for its port's last name part; a read (and --trace) needs one of them, one\n"
        "file for each board. The batch's exit status: 0 if every board succeeded, else 2 if\n"
        "one could not be used at all, else 130 if interrupted, else 1.");
}
