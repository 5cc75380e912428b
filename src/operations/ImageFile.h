// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include "operations/ImageFormats.h"
#include "operations/Outcome.h"

class QFile;

// How opening an image file went, and what the operator is told.
enum class ImageOpen {
    Opened,
    NoFileSelected,  // empty, a directory, or a path ending in a separator: "Nessun file selezionato"
    NotWritable,     // a read's target that exists but cannot be written: said so
    Failed,          // anything else (no such directory, the handle still in use): nothing said
};

namespace ImageFile {


// The path/file access failure, "Nessun file selezionato": no file name at all (empty, a
// directory, or a path ending in a separator).
bool namesNoFile(const QString &path);

// For the write and the verify, which only read their image: a missing file is created empty.
ImageOpen openForReading(QFile &file, const QString &path);
// For the read to file: read and write, a missing file created, nothing truncated, position 0.
ImageOpen openForWriting(QFile &file, const QString &path);
// For a read into a HEX or S-record file, which is replaced whole once the chip is read: whether
// it can be replaced (or made) with `size` bytes, tried before anything is sent.
ImageOpen checkReplaceable(const QString &path, qint64 size);

// The outcome of an operation whose file did not open: what the operator is told about.
Outcome outcomeOf(ImageOpen opened);

// The 32,768 bytes of the image in an open file: a raw file's first 32,768 bytes, erased past its
// end, or the decoded image of a file named as Intel HEX or S-record; or why it cannot be had.
ImageFormats::Parsed chipImage(QFile &file);
// A FIFO or socket: opening one could wait for ever for its other end.
bool isPipeOrSocket(const QString &path);

} // namespace ImageFile
