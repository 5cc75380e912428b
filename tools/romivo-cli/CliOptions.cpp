#include "CliOptions.h"

#include "board/BoardFaults.h"
#include "link/PortName.h"

namespace {

std::optional<double> seconds(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !(value > 0) || value > 86400)
        return std::nullopt;
    return value;
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
    }
    return {};
}

std::optional<CliOptions> CliOptions::parse(const QStringList &arguments, QString *error)
{
    CliOptions options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments[i];
        auto value = [&]() -> std::optional<QString> {
            if (i + 1 >= arguments.size()) {
                *error = arg + QStringLiteral(" needs a value");
                return std::nullopt;
            }
            return arguments[++i];
        };
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            options.help = true;
        } else if (arg == QLatin1String("--list-ports")) {
            options.listPorts = true;
        } else if (arg == QLatin1String("--quiet")) {
            options.quiet = true;
        } else if (arg == QLatin1String("--port")) {
            const auto v = value();
            if (!v)
                return std::nullopt;
            options.port = *v;
        } else if (arg == QLatin1String("--sim-chip")) {
            const auto v = value();
            if (!v)
                return std::nullopt;
            options.simChip = *v;
        } else if (arg == QLatin1String("--sim-fault")) {
            const auto v = value();
            if (!v)
                return std::nullopt;
            BoardFaults check;
            QString why;
            if (!check.apply(*v, &why)) {
                *error = QStringLiteral("--sim-fault: ") + why;
                return std::nullopt;
            }
            options.simFaults.append(*v);
        } else if (arg == QLatin1String("--wait-board") || arg == QLatin1String("--idle-timeout")) {
            const auto v = value();
            if (!v)
                return std::nullopt;
            const std::optional<double> s = seconds(*v);
            if (!s) {
                *error = arg + QStringLiteral(" takes a number of seconds above 0, not ") + *v;
                return std::nullopt;
            }
            (arg == QLatin1String("--wait-board") ? options.waitBoardSeconds : options.idleTimeoutSeconds) = *s;
        } else if (arg == QLatin1String("write") || arg == QLatin1String("read") || arg == QLatin1String("verify")) {
            const auto v = value();
            if (!v)
                return std::nullopt;
            const Step::Kind kind = arg == QLatin1String("write") ? Step::Kind::Write
                                    : arg == QLatin1String("read") ? Step::Kind::Read
                                                                   : Step::Kind::Verify;
            options.steps.append({kind, *v});
        } else if (arg == QLatin1String("blank")) {
            options.steps.append({Step::Kind::Blank, {}});
        } else {
            *error = QStringLiteral("unknown argument: ") + arg;
            return std::nullopt;
        }
    }
    if (options.help || options.listPorts)
        return options;
    if (options.steps.isEmpty()) {
        *error = QStringLiteral("no operation given");
        return std::nullopt;
    }
    // A script that forgets the port must not "program" the simulated chip and succeed.
    if (options.port.isEmpty()) {
        *error = QStringLiteral("--port is required (the board's serial port, or SIM for the simulated board)");
        return std::nullopt;
    }
    if ((!options.simChip.isEmpty() || !options.simFaults.isEmpty())
        && selectPort(options.port).kind != PortSelection::Kind::Simulated) {
        *error = QStringLiteral("--sim-chip and --sim-fault go with --port SIM only");
        return std::nullopt;
    }
    return options;
}

QString CliOptions::usage()
{
    return QStringLiteral(
        "usage: romivo-cli [options] OPERATION...\n"
        "\n"
        "Programs, reads, verifies and blank-checks a 27C256 EPROM (32,768 bytes) through the\n"
        "programmer board, with the desktop program's own operations and messages.\n"
        "\n"
        "Operations, run in the order given; the first that does not succeed ends the run:\n"
        "  write FILE    program the chip from FILE\n"
        "  read FILE     read the chip into FILE (raw binary)\n"
        "  verify FILE   compare the chip with FILE\n"
        "  blank         check that every location holds 0xFF\n"
        "FILE for write and verify is raw binary, Intel HEX (.hex, .ihx) or Motorola S-record\n"
        "(.s19, .s28, .s37, .srec, .mot); locations a HEX or S-record file leaves unset are 0xFF.\n"
        "\n"
        "Options:\n"
        "  --port PORT            required: a port number, a port name (/dev/ttyUSB0, COM3), or SIM\n"
        "                         for the built-in simulated board (no chip is programmed)\n"
        "  --list-ports           print the serial ports the system offers, and SIM, then exit\n"
        "  --sim-chip FILE        with SIM: start the simulated chip from FILE, save it back at exit\n"
        "  --sim-fault NAME[=VALUE]  with SIM: the simulated board misbehaves so (as romivo-board\n"
        "                         --fault: no-dsr, silent-after-block=K, short-stream=N, ...)\n"
        "  --wait-board SECONDS   how long to wait for the board's DSR change (default 5)\n"
        "  --idle-timeout SECONDS stop a read, verify or blank check that gets no byte for this\n"
        "                         long (default 5)\n"
        "  --quiet                no progress line on standard error\n"
        "  --help                 this text\n"
        "\n"
        "Every message box of the desktop program is printed, as its text, on its own line of\n"
        "standard output; after a write, a read and a verify a line 'checksum SUM16 CRC32' gives\n"
        "the image's 16-bit byte sum and its CRC-32. Questions are answered OK.\n"
        "\n"
        "Exit status: 0 every operation succeeded; 1 an operation reported a failure or stalled,\n"
        "or the port was lost;\n"
        "2 bad usage, a port that will not open, no board seen, a file that cannot be opened,\n"
        "read or parsed; 130 interrupted (SIGINT or SIGTERM stop the running operation first; a read keeps\n"
        "the bytes stored so far).\n");
}
