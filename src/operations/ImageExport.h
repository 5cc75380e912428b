// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/Chip.h"
#include "operations/ImageFormats.h"

#include <QByteArray>
#include <QString>

// A chip image written out as a file other programmers read: raw, Intel HEX or Motorola S-record.
// Every location is written, erased ones too: a reader that fills gaps with 0x00 gets the chip.
namespace ImageExport {

// 16 bytes a record, addresses 0000-7FFF, then the end-of-file record.
QByteArray intelHex(const QByteArray &image);
// A header, 16 bytes a record with addresses of 2, 3 or 4 bytes (S1, S2 or S3), a record count
// (S5) and the matching termination (S9, S8 or S7).
QByteArray sRecord(const QByteArray &image, int addressBytes = 2);
// By format; an S-record named .s28 or .s37 gets the address width its name promises.
QByteArray encode(const QByteArray &image, ImageFormats::Format format, const QString &path);
// The size of any chip so written: every location is, whatever it holds. What a file that is to
// take a chip must have room for.
inline qint64 encodedSize(ImageFormats::Format format, const QString &path)
{
    return encode(QByteArray(Chip::Size, Chip::Erased), format, path).size();
}

} // namespace ImageExport
