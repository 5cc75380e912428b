// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Files.h"

#include <csignal>

// romivo-board (or another board on a pseudo-terminal) started for one test: the terminal it
// serves, ended with the test.
class BoardProcess {
public:
    explicit BoardProcess(const QStringList &arguments = {}, const QString &program = QStringLiteral(ROMIVO_BOARD_TOOL))
    {
        m_process.start(program, arguments);
        while (!m_process.canReadLine() && m_process.waitForReadyRead(5000)) {
        }
        m_path = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    }
    ~BoardProcess() { stop(); }

    QString path() const { return m_path; }
    void signal(int number) { ::kill(pid_t(m_process.processId()), number); }
    // Ends the board as a signal does (it saves its chip when told to): true when it ended well.
    bool stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return m_process.exitCode() == 0;
        m_process.terminate();
        const bool ended = m_process.waitForFinished(10000);
        said = QString::fromLocal8Bit(m_process.readAllStandardError());
        return ended && m_process.exitCode() == 0;
    }
    // What the board said on standard error, once stopped.
    QString said;

private:
    QProcess m_process;
    QString m_path;
};

// What the board received (or with "<", sent), from its --log file or a romivo-cli --trace: every
// byte in order, with the time it came.
struct WireLog {
    QByteArray bytes;
    QList<double> seconds;
};

inline WireLog receivedByBoard(const QString &logPath, const char *direction = ">")
{
    WireLog log;
    QFile file(logPath);
    if (!file.open(QIODevice::ReadOnly))
        return log;
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().trimmed().split(' ');
        if (fields.size() < 3 || fields[1] != direction)
            continue;
        for (qsizetype i = 2; i < fields.size(); ++i) {
            log.bytes.append(char(fields[i].toInt(nullptr, 16)));
            log.seconds.append(fields[0].toDouble());
        }
    }
    return log;
}
