// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "operations/ImageFormats.h"

#include <QProcess>
#include <QtTest>
#include <csignal>
#include <functional>

// A finished run: its exit status, its standard output's lines and its standard error.
struct Run { int status = -1; QStringList lines; QString errors; };

// Run to its end, started through another program when `through` names one (the tool's path
// follows its arguments), and with `after` done to it once afterMs have passed (an interrupt, the
// board taken away).
inline Run cli(const QStringList &arguments, const QStringList &through = {}, int afterMs = 0, const std::function<void(QProcess &)> &after = {})
{
    QProcess process;
    const QStringList command = through + QStringList{ROMIVO_CLI_TOOL} + arguments;
    process.start(command.first(), command.mid(1));
    QTest::qWait(afterMs);
    if (after)
        after(process);
    if (!process.waitForFinished(240000))  // a paced write with its check and verify takes about 52 s
        process.kill();
    process.waitForFinished();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts),
            QString::fromUtf8(process.readAllStandardError())};
}

// Ctrl-C to a run still going (never to process 0: that would be this test's own group).
inline void interrupt(QProcess &process)
{
    if (process.state() != QProcess::NotRunning && process.processId() > 0)
        ::kill(pid_t(process.processId()), SIGINT);
}

// "SUM16 CRC32" in upper-case hexadecimal, as labels give them.
inline QString checksumOf(const QByteArray &image)
{
    return QStringLiteral("%1 %2").arg(ImageFormats::byteSum(image), 4, 16, QChar('0')).arg(ImageFormats::crc32(image), 8, 16, QChar('0')).toUpper();
}

