// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/ImageExport.h"

#include <QFileInfo>

namespace {

constexpr int RecordData = 16;

// The record's bytes as upper-case hexadecimal; the checksum byte is made by `checksum`.
QByteArray hexLine(char start, const QByteArray &fields, quint8 checksum)
{
    return start + (fields + char(checksum)).toHex().toUpper() + '\n';
}

QByteArray bigEndian(qint64 value, int bytes)
{
    QByteArray out(bytes, '\0');
    for (int i = bytes - 1; i >= 0; --i, value >>= 8)
        out[i] = char(value & 0xFF);
    return out;
}

} // namespace

namespace ImageExport {

QByteArray intelHex(const QByteArray &image)
{
    QByteArray out;
    for (qsizetype at = 0; at < image.size(); at += RecordData) {
        const QByteArray data = image.mid(at, RecordData);
        const QByteArray fields = char(data.size()) + bigEndian(at, 2) + '\0' + data;
        out += hexLine(':', fields, quint8(-ImageFormats::byteSum(fields)));
    }
    return out + ":00000001FF\n";
}

QByteArray sRecord(const QByteArray &image, int addressBytes)
{
    // The count and checksum cover the address, the data and the checksum itself.
    const auto record = [](char type, const QByteArray &addressAndData) {
        const QByteArray fields = char(addressAndData.size() + 1) + addressAndData;
        return hexLine('S', fields, quint8(~ImageFormats::byteSum(fields))).insert(1, type);
    };
    const char data = char('0' + addressBytes - 1);
    const char end = char('0' + 11 - addressBytes);
    QByteArray out = record('0', bigEndian(0, 2) + QByteArrayLiteral("romivo"));
    qint64 records = 0;
    for (qsizetype at = 0; at < image.size(); at += RecordData, ++records)
        out += record(data, bigEndian(at, addressBytes) + image.mid(at, RecordData));
    out += record('5', bigEndian(records, 2));
    return out + record(end, bigEndian(0, addressBytes));
}

QByteArray encode(const QByteArray &image, ImageFormats::Format format, const QString &path)
{
    switch (format) {
    case ImageFormats::Format::IntelHex:
        return intelHex(image);
    case ImageFormats::Format::SRecord: {
        const QString suffix = QFileInfo(path).suffix().toLower();
        return sRecord(image, suffix == QLatin1String("s37") ? 4 : suffix == QLatin1String("s28") ? 3 : 2);
    }
    case ImageFormats::Format::Raw:
        break;
    }
    return image;
}

} // namespace ImageExport
