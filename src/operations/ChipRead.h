#pragma once

#include "operations/ImageFormats.h"
#include "operations/OperationContext.h"

#include <QIODevice>
#include <QObject>

class ReceiveDispatcher;

// Reads the whole chip into a file: the stream frame, then receive mode 3 stores each byte
// until 32,768 are in. Pressed while anything runs (and answered OK), it stops that.
// A raw file takes each byte as it comes; a file named as Intel HEX or S-record is written
// whole, in its format, once the chip is read, and a read that does not end leaves it as it was.
class ChipRead : public QObject {
    Q_OBJECT
public:
    ChipRead(OperationContext context, ReceiveDispatcher &dispatcher, QObject *parent = nullptr);

    void Command6_Click(const QString &nomeFile);
    // The chip into `sink`, byte by byte as it comes, until 32,768 are in; nothing asked, nothing
    // opened. Nothing may run meanwhile.
    void read(QIODevice &sink);
    // Receive mode 3.
    void receive(const QByteArray &bytes);

private:
    bool open(const QString &nomeFile);
    void start();
    // Into the file, or kept for a HEX or S-record one; false when the file stopped taking bytes.
    bool store(const QByteArray &bytes);
    void finish();
    void interrupted(const QString &path, const QString &reason);

    OperationContext m_context;
    ImageFormats::Format m_format = ImageFormats::Format::Raw;
    QIODevice *m_sink = nullptr;  // where a raw read's bytes go
    QString m_textFile;  // the HEX or S-record file being read into
    QByteArray m_chip;   // what came for it so far
};
