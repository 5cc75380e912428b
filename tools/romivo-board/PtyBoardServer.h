// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "board/BoardLine.h"
#include "board/BoardSimulator.h"

#include <QFile>
#include <QObject>
#include <QSocketNotifier>
#include <memory>

// Serves the software board on the master side of a pseudo-terminal, so that a program can
// open the slave side as its serial port.
class PtyBoardServer : public QObject {
    Q_OBJECT
public:
    PtyBoardServer(BoardSimulator &board, bool paced, QObject *parent = nullptr);
    ~PtyBoardServer() override;

    // Opens the pseudo-terminal; false with `error` when the system refuses.
    bool start(QString *error);
    QString slavePath() const { return m_slavePath; }
    qint64 droppedTowardsBoard() const { return m_line.droppedTowardsBoard(); }
    // Every byte received and sent, with a timestamp, one line per piece.
    bool setLog(const QString &path, QString *error);

private:
    void readFromProgram();
    void writeToProgram(const QByteArray &bytes);
    void flushPending();
    void log(char direction, const QByteArray &bytes);

    BoardSimulator &m_board;
    BoardLine m_line;
    int m_master = -1;
    int m_slave = -1;  // kept open so that the master never reads end-of-file between clients
    QString m_slavePath;
    QByteArray m_pending;
    std::unique_ptr<QSocketNotifier> m_readable;
    std::unique_ptr<QSocketNotifier> m_writable;
    QFile m_log;
};
