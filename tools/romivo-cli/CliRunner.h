#pragma once

#include "CliOptions.h"

#include "board/SelectingSerialControl.h"
#include "operations/Operator.h"
#include "operations/ProgressDisplay.h"
#include "operations/Session.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QTextStream>
#include <QTimer>

// Answers every question OK and prints every box's text on its own line of standard output.
class TerminalProgress;

class PrintingOperator : public Operator {
public:
    bool show(const OperatorMessage &message) override;
    void beep() override {}
    TerminalProgress *progress = nullptr;  // its line is finished before a message is printed
    bool silent = false;                   // the check before a write reads the chip without a word
};

// One progress line on standard error, redrawn in place while the operation runs.
class TerminalProgress : public QObject, public ProgressDisplay {
    Q_OBJECT
public:
    TerminalProgress(const FormState &state, bool enabled);
    void begin(const QString &operation);
    // The line drawn once more with the count reached (100 % for a whole operation), then cleared.
    void complete();
    void setRefreshing(bool on) override;
    void setShown(bool) override {}
    void refreshNow() override { draw(); }
    void finish();

private:
    void draw();
    const FormState &m_state;
    bool m_enabled;
    bool m_drawn = false;
    QString m_operation;
    QElapsedTimer m_clock;
    QTimer m_timer;
};

// Runs the steps of one command line over the desktop's own operations.
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
    int runStep(const CliOptions::Step &step);
    bool openBoard();
    // Runs the event loop until the running operation announces its end; false when it stalled,
    // was interrupted or lost its port instead.
    bool waitForResult();
    // Before a write: reads the chip and tells whether every location can take the image (bits only
    // go from 1 to 0). A status when the write is not to go ahead; nothing when it is.
    std::optional<int> checkBeforeWrite(const QByteArray &image);
    void printChecksum(const QByteArray &image);
    bool saveSimulatedChip();
    // Reads and decodes a write's or verify's image before anything is sent; false, said, when
    // it is missing, unreadable, not a regular file, too large or malformed.
    bool loadImage(const QString &path, QByteArray *image);
    bool refuseFile(const QString &path, const QString &reason);
    int reportLostPort();

    CliOptions m_options;
    SelectingSerialControl m_port;
    PrintingOperator m_operator;
    Session m_session{m_port, m_operator};
    TerminalProgress m_progress;
    std::optional<OperationResult> m_result;
    QTextStream m_out;
    QTextStream m_err;
    bool m_boardSeen = false;
    bool m_interrupted = false;
    bool m_portLost = false;
    QString m_lostReason;
};
