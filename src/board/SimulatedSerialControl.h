// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "board/BoardLine.h"
#include "board/BoardSimulator.h"
#include "link/SerialControl.h"

#include <QList>

// The serial control wired to the software board: what the program gets behind "SIM".
// Records every output call as one send and every byte on the wire in both directions.
class SimulatedSerialControl : public SerialControl {
    Q_OBJECT
public:
    explicit SimulatedSerialControl(QObject *parent = nullptr);

    bool open() override;
    void close() override;
    bool isOpen() const override { return m_open; }
    void output(const QByteArray &bytes) override;

    BoardSimulator &board() { return m_board; }
    BoardLine &line() { return m_line; }

    // Every output() call made while open, one entry each.
    const QList<QByteArray> &sends() const { return m_sends; }
    // Every byte that reached the board, and every byte the board put on the wire to the program.
    const QByteArray &wireToBoard() const { return m_wireToBoard; }
    const QByteArray &wireFromBoard() const { return m_wireFromBoard; }
    void clearRecords();

    // As if the cable were pulled: the port closes and the loss is reported once.
    void losePort(const QString &reason = QStringLiteral("the device was removed"));

protected:
    qint64 bytesWaiting() const override { return m_received.size(); }
    QByteArray takeWaiting() override;

private:
    void arrived(const QByteArray &bytes);

    BoardSimulator m_board;
    BoardLine m_line;
    bool m_open = false;
    QByteArray m_received;
    QList<QByteArray> m_sends;
    QByteArray m_wireToBoard;
    QByteArray m_wireFromBoard;
};
