// SPDX-License-Identifier: GPL-3.0-or-later
// romivo-cli: the desktop program's operations from a script.
#include "CliRunner.h"
#include "../common/TerminationSignals.h"

#include <QCoreApplication>
#include <QFile>
#include <QSerialPortInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A standard stream the caller closed would be taken by the next file opened (the port, say),
// and lines meant for it written there. /dev/null opened for reading holds its place and makes
// every write to it fail, which is then reported like any lost output.
void holdClosedStandardStreams()
{
    int fd = -1;
    do
        fd = ::open("/dev/null", O_RDONLY);
    while (fd >= 0 && fd <= STDERR_FILENO);
    if (fd >= 0)
        ::close(fd);
}

// What was printed reached standard output, or the run fails (a full disk, a closed output).
int flushed(int status)
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return status;
    std::fprintf(stderr, "romivo-cli: cannot write to standard output: %s\n", std::strerror(errno));
    return CliRunner::Trouble;
}

} // namespace

int main(int argc, char **argv)
{
    holdClosedStandardStreams();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("romivo"));

    // A name the locale cannot spell (say \xff in UTF-8) reaches Qt as another name; a file of
    // that other name would then be created, written or read in its place.
    const QStringList arguments = app.arguments();
    for (int i = 1; i < argc && i < arguments.size(); ++i) {
        if (QFile::encodeName(arguments[i]) != QByteArray(argv[i])) {
            std::fprintf(stderr, "romivo-cli: argument %d is not valid text in this locale: %s\n", i,
                         qPrintable(arguments[i]));
            return CliRunner::Trouble;
        }
    }

    QString error;
    const std::optional<CliOptions> options = CliOptions::parse(app.arguments().mid(1), &error);
    if (!options) {
        std::fprintf(stderr, "romivo-cli: %s; see --help\n", qPrintable(error));
        return CliRunner::Trouble;
    }
    if (options->help) {
        std::fputs(qPrintable(options->helpText), stdout);
        return flushed(CliRunner::Success);
    }
    if (options->version) {
        std::printf("romivo-cli %s\n", ROMIVO_VERSION);
        return flushed(CliRunner::Success);
    }
    if (options->listPorts) {
        // A USB adapter's ids, maker and serial number tell the board's adapter from any other.
        for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts()) {
            QStringList fields{port.systemLocation(), port.description()};
            if (port.hasVendorIdentifier() && port.hasProductIdentifier())
                fields << QStringLiteral("%1:%2").arg(port.vendorIdentifier(), 4, 16, QLatin1Char('0')).arg(port.productIdentifier(), 4, 16, QLatin1Char('0'));
            if (!port.manufacturer().isEmpty())
                fields << port.manufacturer();
            if (!port.serialNumber().isEmpty())
                fields << QStringLiteral("serial ") + port.serialNumber();
            std::printf("%s\n", qPrintable(fields.join(u'\t')));
        }
        std::printf("SIM\tthe built-in simulated board\n");
        return flushed(CliRunner::Success);
    }

    CliRunner runner(*options);
    onTerminationSignals(&runner, [&runner] { runner.interrupt(); });
    return runner.run();
}
