// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "operations/ImageFormats.h"
#include "operations/Messages.h"
#include "operations/Outcome.h"

#include <QBuffer>
#include <QFile>
#include <QObject>

class Operator;
class Session;

// What the four whole-chip buttons do: the question, the file-name box's file opened by the
// window's rules, the operation started, and the operator told how it ended, in the window's
// order. A read, verify or blank-check press while anything runs stops that instead.
class OperationButtons : public QObject {
    Q_OBJECT
public:
    explicit OperationButtons(Session &session, QObject *parent = nullptr);

    void Command3_Click(const QString &nomeFile);
    void Command6_Click(const QString &nomeFile);
    void Command7_Click(const QString &nomeFile);
    void Command8_Click();

    // The read's target or the verify's image: one handle, open while either runs.
    const QFile &operationFile() const { return m_operationFile; }

signals:
    // What a press started has ended, or could not start, its boxes dismissed.
    void finished(OperationResult result);

private:
    void confrontaFile(const QString &nomeFile, bool blankCheck);
    // The stop path of a press while anything runs; false when nothing ran.
    bool stopRunning();
    // A read or verify whose mode a write or POSIZIONO took left its file open; every later read
    // and verify would find the handle in use and end silently.
    void releaseAbandonedFile();
    bool openReadTarget(const QString &nomeFile);
    void concluded(OperationResult result);
    void ended(OperationResult result);
    // Shows the box an outcome is told with, where it has one, and gives the outcome back.
    Outcome tell(Outcome outcome, const MessageDetail &detail = {});

    Session &m_session;
    Operator &m_operator;
    QFile m_operationFile;
    QFile m_image;       // the write's own handle: a second write press finds it in use
    QString m_readTarget;
    ImageFormats::Format m_readFormat = ImageFormats::Format::Raw;
    QBuffer m_textChip;  // a HEX or S-record target is replaced only once the chip is whole
    Outcome m_told = Outcome::NotStarted;  // what the read's box said, once it was shown
};
