// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "CliOptions.h"
#include "StepReport.h"
#include "TerminalOutput.h"

#include "board/SelectingSerialControl.h"
#include "operations/Operator.h"
#include "operations/Session.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>
#include <QTimer>
#include <functional>

class BoardRun;

// Where a board's results go: its result lines (or JSON objects), and a compare's listing.
class RunOutput {
public:
    virtual ~RunOutput() = default;
    // False when the result could not be written: the board's run then stops.
    virtual bool result(BoardRun &board, const StepReport &report) = 0;
    virtual bool listing(BoardRun &board, const QString &line) = 0;
};

// One board's run of the command line's steps, over its own Session, driven by the event loop:
// the board awaited, then each step in order until one does not succeed.
class BoardRun : public QObject {
    Q_OBJECT
public:
    enum Exit { Success = 0, Failure = 1, Trouble = 2, Interrupted = 130 };

    // A step with what it works on, decided before any port opens.
    struct Planned {
        CliOptions::Step step;
        QByteArray image;   // a write's, verify's or compare's image, decoded; a read's chip once read
        int fromRead = -1;  // or the earlier read whose chip the file will hold by then
    };

    BoardRun(const CliOptions &options, const QString &port, const QString &trace, RunOutput &output,
             bool progressLine, QObject *parent = nullptr);

    // A simulated board set up; false, said, when that cannot be.
    bool prepare();
    // The trace begun (emptied); false, said, when it cannot be written.
    bool openTrace();
    void setPlan(QList<Planned> plan) { m_plan = std::move(plan); }
    // Opens the port, awaits the board, then runs the steps; finished() comes at the end.
    void start();
    // Stop what runs; the run ends with 130.
    void interrupt();

    QString port() const { return m_portName; }
    bool done() const { return m_done; }
    int status() const { return m_status; }
    // What runs now and how far it has come, for a progress line of several boards.
    QString operation() const { return m_operation; }
    int location() { return m_session.state().currentAddress; }

signals:
    void finished(int status);

private:
    // How the wait for a started operation ended.
    enum class Ended { Result, Failed, Stalled, Interrupted, PortLost };
    using Then = std::function<void(Ended)>;
    using StepDone = std::function<void(int status)>;

    // Whatever the run waits for may have come: the board, a result, an interrupt, a loss, a stall.
    void wake();
    void nextStep();
    void stepEnded(int status);
    void end(int status);

    void runStep(Planned &planned, StepReport &report, const StepDone &done);
    void write(const QByteArray &image, StepReport &report, const StepDone &done);
    void read(const QString &path, StepReport &report, QByteArray *chipRead, const StepDone &done);
    void check(const CliOptions::Step &step, const QByteArray &image, StepReport &report, const StepDone &done);
    void compare(const QByteArray &image, StepReport &report, const StepDone &done);

    // Starts an operation; `then` runs once it has announced its end, or stalled (no byte for the
    // idle time-out), was interrupted or lost its port.
    void perform(const QString &label, const std::function<void()> &start, const Then &then);
    void settle();
    // Reads the whole chip into `chip` through the session's read; Failed when the read ended
    // without the whole chip.
    void readChip(const QString &label, QByteArray *chip, const Then &then);
    // The report and status of an operation that did not come to its result.
    int endedEarly(Ended ended, StepReport &report);
    // The text the window would show for the last result, for the result line.
    QString windowText() const;
    bool saveSimulatedChip();

    CliOptions m_options;
    QString m_portName;
    QString m_traceName;
    QList<Planned> m_plan;
    RunOutput &m_output;
    SelectingSerialControl m_port;
    AnsweringOperator m_operator;
    Session m_session{m_port, m_operator};
    TerminalProgress m_progress;
    QFile m_trace;
    QTextStream m_err;
    QTimer m_boardWait;
    QTimer m_watchdog;
    QElapsedTimer m_quiet;
    QElapsedTimer m_waited;
    QElapsedTimer m_stepClock;
    int m_lastAddress = 0;
    bool m_stalled = false;
    Then m_then;
    std::optional<OperationResult> m_result;
    qsizetype m_step = 0;
    StepReport m_report;
    QByteArray m_chip;  // what a check, read or compare has read
    QBuffer m_buffer;
    int m_endAddress = 0;  // where the last operation's stream was when it ended
    QString m_operation;
    bool m_boardSeen = false;
    bool m_started = false;
    bool m_interrupted = false;
    bool m_portLost = false;
    bool m_lineBusy = false;
    bool m_waitedForQuiet = false;  // the watchdog saw the operation wait for a quiet line  // the last stall came while the line never went quiet
    bool m_done = false;
    bool m_ending = false;
    int m_status = Success;
    QString m_lostReason;
};
