// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

class QFile;

// Chip images in the formats programmers exchange: raw binary, Intel HEX and Motorola S-record.
// HEX and S-record files leave unset locations erased (0xFF); a record outside the chip, a bad
// checksum, a malformed line, two records giving one location different bytes, an S-record count
// or termination that does not fit the data records, or a file that sets no location at all is
// refused with a message naming the line where there is one.
namespace ImageFormats {

enum class Format { Raw, IntelHex, SRecord };

struct Parsed {
    QByteArray image;  // 32,768 bytes
    QString error;     // empty when the file was read
    bool ok() const { return error.isEmpty(); }
};

// By extension (.hex/.ihx/.ihex/.eep, .s19/.s28/.s37/.srec/.mot), anything else raw.
Format formatOf(const QString &path);
// The text format a file's first bytes look like (':' Intel HEX, S0-S9 S-record), if any.
std::optional<Format> textFormatOf(const QByteArray &start);

Parsed parseIntelHex(const QByteArray &text);
Parsed parseSRecord(const QByteArray &text);
// In the given format, confirmed by content: HEX or S-record text that does not start with ':'
// or 'S' is refused; raw contents are padded or cut to the chip.
Parsed parse(Format format, const QByteArray &contents);
// By extension.
Parsed parse(const QString &path, const QByteArray &contents);

// The most a HEX or S-record file may hold; a 27C256 in either takes under 100 KB.
constexpr qint64 MaxTextBytes = 4 << 20;

// The image in an open file, read from its start, decoded by the file's name: a raw file's
// first 32,768 bytes (erased past its end), or a HEX or S-record file read whole, up to
// MaxTextBytes. A read that fails, a file too large or a bad record gives the error instead.
Parsed decode(QFile &file);
// The same, in the given format whatever the name says.
Parsed decode(QFile &file, Format format);

// The numbers written on EPROM labels: the 16-bit sum of the bytes and the CRC-32 (IEEE, as
// zlib computes it).
quint16 byteSum(const QByteArray &bytes);
quint32 crc32(const QByteArray &bytes);

} // namespace ImageFormats
