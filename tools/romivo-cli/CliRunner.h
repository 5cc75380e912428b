// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "BoardRun.h"
#include "CliOptions.h"
#include "StepReport.h"

#include <QTextStream>
#include <QTimer>

// Runs the steps of one command line on every board it names, at once, in one event loop: each
// board's steps over its own Session, one result line each, then for several boards a summary.
class CliRunner : public QObject, public RunOutput {
    Q_OBJECT
public:
    enum Exit { Success = 0, Failure = 1, Trouble = 2, Interrupted = 130 };

    explicit CliRunner(const CliOptions &options, QObject *parent = nullptr);
    int run();
    // From the signal handler's notifier: stop every board, each ending with 130.
    void interrupt();

    bool result(BoardRun &board, const StepReport &report) override;
    bool listing(BoardRun &board, const QString &line) override;

private:
    using Planned = BoardRun::Planned;

    // Every image decoded once and every read target tried, for every board, before anything is
    // sent; false, said, at the first file that will not do.
    bool plan();
    // No two ports name one board (a link and its device, one name twice); false, said, if so.
    bool distinctBoards();
    // Each board's trace names a file of its own, none that the run reads or writes.
    bool planTraces();
    // A file name for board `index`: {n} its number from 1, {port} its port's last name part.
    QString forBoard(const QString &name, int index) const;
    bool targetReplaceable(const QString &path);
    // Reads and decodes an image; false, said, when it is missing, unreadable, not a regular
    // file, of the wrong size or malformed.
    bool loadImage(const QString &path, QByteArray *image);
    int refuseFile(const QString &path, const QString &reason);
    bool write(const QString &text);
    // One line for the batch: how many boards succeeded, and which did not.
    bool summary();
    void drawProgress();
    void clearProgress();
    bool several() const { return m_options.ports.size() > 1; }

    CliOptions m_options;
    QList<QList<Planned>> m_plans;  // one per board
    QList<BoardRun *> m_boards;
    QTextStream m_out;
    QTextStream m_err;
    QTimer m_progress;
    bool m_progressDrawn = false;
    bool m_interrupted = false;
};
