// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "operations/OperationContext.h"

#include <QByteArray>
#include <QObject>

class ReceiveDispatcher;

// The verify against an image (receive mode 4) and the blank check (receive mode 5): the chip is
// streamed and each byte tested as it arrives; the first difference stops the board with the
// stop byte and ends the check.
class ChipCheck : public QObject {
    Q_OBJECT
public:
    ChipCheck(OperationContext context, ReceiveDispatcher &dispatcher, QObject *parent = nullptr);

    // The chip against `image` (32,768 bytes), or against 0xFF everywhere. Each starts and
    // returns; nothing may run meanwhile.
    void verify(const QByteArray &image);
    void blankCheck();

    // Receive modes 4 and 5.
    void receiveVerify(const QByteArray &bytes);
    void receiveBlankCheck(const QByteArray &bytes);

private:
    void start(RxMode mode);
    void check(const QByteArray &bytes, const QByteArray &expected, RxMode mode);
    // False when the check was stopped (and perhaps another started) while the abort let the
    // event loop run: that stop has ended it, and nothing here may touch the state any more.
    bool abortAtDifference(RxMode mode);
    void end(RxMode mode);

    OperationContext m_context;
    QByteArray m_image;        // what the verify compares against
    QByteArray m_erased;       // what the blank check compares against
    bool m_aborting = false;   // the abort's yield is under way
    int m_differenceAt = 0;    // the location of the last difference found
    int m_differingByte = -1;  // and the chip's byte there
};
