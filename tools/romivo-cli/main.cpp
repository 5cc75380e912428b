// romivo-cli: the desktop program's operations from a script.
#include "CliRunner.h"

#include <QCoreApplication>
#include <QFile>
#include <QSerialPortInfo>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char **argv)
{
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
        std::fprintf(stderr, "romivo-cli: %s\n%s", qPrintable(error), qPrintable(CliOptions::usage()));
        return CliRunner::Trouble;
    }
    if (options->help) {
        std::fputs(qPrintable(CliOptions::usage()), stdout);
        return CliRunner::Success;
    }
    if (options->listPorts) {
        for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts())
            std::printf("%s\t%s\n", qPrintable(port.systemLocation()), qPrintable(port.description()));
        std::printf("SIM\tthe built-in simulated board\n");
        return CliRunner::Success;
    }

    CliRunner runner(*options);
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &runner, [&runner] {
            char byte;
            [[maybe_unused]] const auto got = ::read(signalPipe[0], &byte, 1);
            runner.interrupt();
        });
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
    }
    return runner.run();
}
