#pragma once

#include "operations/OperationContext.h"

#include <QByteArray>
#include <QObject>

class ReceiveDispatcher;

// The verify against an image file (receive mode 4) and the blank check (receive mode 5): the
// chip is streamed and each byte tested as it arrives; the first difference stops the board
// with the stop byte and ends the check. Pressed while anything runs, either button stops that.
class ChipCheck : public QObject {
    Q_OBJECT
public:
    ChipCheck(OperationContext context, ReceiveDispatcher &dispatcher, QObject *parent = nullptr);

    void Command7_Click(const QString &nomeFile);
    void Command8_Click();
    // The chip against `image` (32,768 bytes), or against 0xFF everywhere; nothing asked, nothing
    // opened. Nothing may run meanwhile.
    void verify(const QByteArray &image);
    void blankCheck();

    // Receive modes 4 and 5.
    void receiveVerify(const QByteArray &bytes);
    void receiveBlankCheck(const QByteArray &bytes);

private:
    // Tests the bytes against the expected image; returns false at the first difference.
    void check(const QByteArray &bytes, const QByteArray &expected, bool verify);
    // The verify (against a file), or the blank check: a stop when anything runs.
    void confrontaFile(const QString &nomeFile, RxMode mode);
    void start(RxMode mode);
    void abortAtDifference(bool verify);
    void end(bool verify);

    OperationContext m_context;
    QByteArray m_image;        // what the verify compares against
    QByteArray m_erased;       // what the blank check compares against
    bool m_aborting = false;   // the abort's yield is under way
    int m_differenceAt = 0;    // the location of the last difference found
    int m_differingByte = -1;  // and the chip's byte there
};
