// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "CliOptions.h"
#include "StepReport.h"
#include "TerminalOutput.h"

#include "board/SelectingSerialControl.h"
#include "operations/Operator.h"
#include "operations/Session.h"

#include <QFile>
#include <QTextStream>
#include <functional>

// Runs the steps of one command line over the desktop's own operations, one result line each.
class CliRunner : public QObject {
    Q_OBJECT
public:
    enum Exit { Success = 0, Failure = 1, Trouble = 2, Interrupted = 130 };

    explicit CliRunner(const CliOptions &options, QObject *parent = nullptr);
    int run();
    // From the signal handler's notifier: stop what runs, end with 130.
    void interrupt();

signals:
    // Something the program waits for has happened (a board, a result, an interrupt, a loss).
    void wakeUp();

private:
    // How the wait for a started operation ended.
    enum class Ended { Result, Failed, Stalled, Interrupted, PortLost };

    // A step with what it works on, decided before the port opens.
    struct Planned {
        CliOptions::Step step;
        QByteArray image;   // a write's, verify's or compare's image, decoded; a read's chip once read
        int fromRead = -1;  // or the earlier read whose chip the file will hold by then
    };
    // Every image decoded once and every read target tried, before anything is sent; false,
    // said, at the first file that will not do.
    bool plan();
    bool targetReplaceable(const QString &path);
    ImageFormats::Format readFormat(const QString &path) const { return m_options.format.value_or(ImageFormats::formatOf(path)); }

    int runStep(Planned &planned, StepReport &report);
    int write(const QByteArray &image, StepReport &report);
    int read(const QString &path, StepReport &report, QByteArray *chipRead);
    int check(const CliOptions::Step &step, const QByteArray &image, StepReport &report);
    int compare(const QByteArray &image, StepReport &report);

    bool openBoard();
    // Starts an operation and runs the event loop until it announces its end, or stalls (no
    // byte for the idle time-out), is interrupted or loses its port.
    Ended perform(const QString &label, const std::function<void()> &start);
    // Reads the whole chip through the session's read; Failed when the read ended without the
    // whole chip.
    Ended readChip(const QString &label, QByteArray *chip);
    // The report and status of an operation that did not come to its result.
    int endedEarly(Ended ended, StepReport &report);
    // The text the window would show for the last result, for the result line.
    QString windowText() const;
    // False, said on standard error, when the result could not be written (a full disk, a
    // closed standard output).
    bool print(const StepReport &report);
    // Reads and decodes an image; false, said, when it is missing, unreadable, not a regular
    // file, of the wrong size or malformed.
    bool loadImage(const QString &path, QByteArray *image);
    int refuseFile(const QString &path, const QString &reason);
    bool saveSimulatedChip();

    CliOptions m_options;
    SelectingSerialControl m_port;
    AnsweringOperator m_operator;
    Session m_session{m_port, m_operator};
    TerminalProgress m_progress;
    QFile m_trace;
    QList<Planned> m_plan;
    std::optional<OperationResult> m_result;
    int m_endAddress = 0;  // where the last operation's stream was when it ended
    QTextStream m_out;
    QTextStream m_err;
    bool m_boardSeen = false;
    bool m_interrupted = false;
    bool m_portLost = false;
    QString m_lostReason;
};
