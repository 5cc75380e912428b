// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/ImageFormats.h"

#include "link/CommandFrame.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <array>
#include <functional>
#include <vector>

namespace ImageFormats {
namespace {

QString lineError(int line, const QString &what)
{
    return QStringLiteral("line %1: %2").arg(line).arg(what);
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The record's bytes after the start character, from pairs of hexadecimal digits.
std::optional<QByteArray> hexBytes(QByteArrayView digits)
{
    if (digits.size() % 2 != 0)
        return std::nullopt;
    QByteArray bytes;
    bytes.reserve(digits.size() / 2);
    for (qsizetype i = 0; i < digits.size(); i += 2) {
        const int high = hexDigit(digits[i]);
        const int low = hexDigit(digits[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes.append(char(high << 4 | low));
    }
    return bytes;
}

// The lines of a text one at a time, trimmed, without copying the text.
class Lines {
public:
    explicit Lines(const QByteArray &text) : m_text(text) {}
    bool next(QByteArrayView &line)
    {
        if (m_pos > m_text.size())
            return false;
        qsizetype end = m_text.indexOf('\n', m_pos);
        if (end < 0)
            end = m_text.size();
        line = QByteArrayView(m_text).sliced(m_pos, end - m_pos).trimmed();
        m_pos = end + 1;
        ++m_number;
        return true;
    }
    int number() const { return m_number; }

private:
    const QByteArray &m_text;
    qsizetype m_pos = 0;
    int m_number = 0;
};

// An erased image that remembers which line set each location: two records that give one
// location different bytes are a damaged or merged-wrong file, not a choice to make silently.
// The same bytes given twice change nothing and are taken.
class Placement {
public:
    QByteArray image = QByteArray(Chip::Size, Chip::Erased);
    int line = 0;  // the line being read

    // Empty, or why the data cannot go there.
    QString place(qint64 address, const QByteArray &data)
    {
        if (address < 0 || address + data.size() > Chip::Size)
            return QStringLiteral("data outside 0000-7FFF");
        for (qsizetype i = 0; i < data.size(); ++i) {
            const auto at = static_cast<std::size_t>(address + i);
            if (m_setBy[at] != 0 && image[qsizetype(at)] != data[i])
                return QStringLiteral("sets location %1 to %2, which line %3 set to %4")
                    .arg(hex(qint64(at), 4), hex(quint8(data[i]), 2)).arg(m_setBy[at]).arg(hex(quint8(image[qsizetype(at)]), 2));
            image[qsizetype(at)] = data[i];
            m_setBy[at] = line;
        }
        m_setAny = m_setAny || !data.isEmpty();
        return {};
    }
    bool setAny() const { return m_setAny; }

private:
    static QString hex(qint64 value, int digits) { return QString::number(value, 16).rightJustified(digits, u'0').toUpper(); }
    std::vector<int> m_setBy = std::vector<int>(Chip::Size, 0);
    bool m_setAny = false;
};

quint8 u8(const QByteArray &bytes, qsizetype i)
{
    return static_cast<quint8>(bytes[i]);
}

// What one record did: an error, or whether it was the format's end record.
struct Record {
    QString error;
    bool end = false;
};

// The loop both formats share: every line that is not blank is one record, onto an erased
// image; nothing may follow the end record, the end record must come, and some record must
// set a location (an end record alone would pass for an erased chip).
Parsed readRecords(const QByteArray &text, const QString &endName, const QString &noEnd,
                   const std::function<Record(QByteArrayView, Placement &)> &record)
{
    Placement placement;
    bool ended = false;
    Lines lines(text);
    QByteArrayView line;
    while (lines.next(line)) {
        if (line.isEmpty())
            continue;
        if (ended)
            return {{}, lineError(lines.number(), QStringLiteral("data after the ") + endName)};
        placement.line = lines.number();
        const Record done = record(line, placement);
        if (!done.error.isEmpty())
            return {{}, lineError(lines.number(), done.error)};
        ended = done.end;
    }
    if (!ended)
        return {{}, noEnd};
    if (!placement.setAny())
        return {{}, QStringLiteral("no data: the file sets no location of the chip")};
    return {placement.image, {}};
}

} // namespace

Format formatOf(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    static const QStringList intelHex{"hex", "ihx", "ihex", "eep"};
    if (intelHex.contains(suffix))
        return Format::IntelHex;
    static const QStringList srecord{"s19", "s28", "s37", "srec", "mot"};
    if (srecord.contains(suffix))
        return Format::SRecord;
    return Format::Raw;
}

std::optional<Format> textFormatOf(const QByteArray &start)
{
    const QByteArray text = start.trimmed();
    if (text.startsWith(':'))
        return Format::IntelHex;
    if (text.size() >= 2 && text[0] == 'S' && text[1] >= '0' && text[1] <= '9')
        return Format::SRecord;
    return std::nullopt;
}

Parsed parseIntelHex(const QByteArray &text)
{
    qint64 base = 0;
    return readRecords(text, QStringLiteral("end-of-file record"), QStringLiteral("no end-of-file record"),
                       [&](QByteArrayView line, Placement &image) -> Record {
        if (line[0] != ':')
            return {QStringLiteral("a record starts with ':'")};
        const std::optional<QByteArray> bytes = hexBytes(line.sliced(1));
        if (!bytes || bytes->size() < 5)
            return {QStringLiteral("malformed record")};
        const QByteArray &r = *bytes;
        const int count = u8(r, 0);
        if (r.size() != count + 5)
            return {QStringLiteral("the byte count does not match the record")};
        if (quint8(byteSum(r)) != 0)
            return {QStringLiteral("bad checksum")};
        const int offset = (u8(r, 1) << 8) | u8(r, 2);
        const int type = u8(r, 3);
        const QByteArray data = r.mid(4, count);
        switch (type) {
        case 0x00:
            return {image.place(base + offset, data)};
        case 0x01:
            if (count != 0)
                return {QStringLiteral("malformed end-of-file record")};
            return {{}, true};
        case 0x02:  // extended segment address
        case 0x04:  // extended linear address
            if (count != 2)
                return {QStringLiteral("malformed address record")};
            base = qint64((u8(data, 0) << 8) | u8(data, 1)) << (type == 0x02 ? 4 : 16);
            return {};
        case 0x03:  // start addresses say where to run, not what to store
        case 0x05:
            if (count != 4)
                return {QStringLiteral("malformed start address record")};
            return {};
        default:
            return {QStringLiteral("unknown record type %1").arg(type, 2, 16, QLatin1Char('0'))};
        }
    });
}

Parsed parseSRecord(const QByteArray &text)
{
    // The data records so far, and the first line of each kind (S1, S2, S3), for the count
    // record and for the termination record, which must be the one of the data's kind.
    int dataRecords = 0;
    std::array<int, 4> firstLineOf{};
    // A file cut short would otherwise program half an image as if it were whole.
    return readRecords(text, QStringLiteral("termination record"), QStringLiteral("no termination record (S7, S8 or S9)"),
                       [&](QByteArrayView line, Placement &image) -> Record {
        if (line.size() < 2 || line[0] != 'S' || line[1] < '0' || line[1] > '9')
            return {QStringLiteral("a record starts with S and its type")};
        const int type = line[1] - '0';
        const std::optional<QByteArray> bytes = hexBytes(line.sliced(2));
        if (!bytes || bytes->isEmpty())
            return {QStringLiteral("malformed record")};
        const QByteArray &r = *bytes;
        const int count = u8(r, 0);
        if (r.size() != count + 1)
            return {QStringLiteral("the byte count does not match the record")};
        if (quint8(byteSum(r)) != 0xFF)
            return {QStringLiteral("bad checksum")};
        static constexpr std::array<int, 10> addressBytes{2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
        if (type == 4)
            return {QStringLiteral("unknown record type S4")};
        const int width = addressBytes[static_cast<std::size_t>(type)];
        if (count < width + 1)
            return {QStringLiteral("record too short for its address")};
        qint64 address = 0;
        for (int i = 0; i < width; ++i)
            address = (address << 8) | u8(r, 1 + i);
        const QByteArray data = r.mid(1 + width, count - width - 1);
        switch (type) {
        case 0:  // header
            return {};
        case 1:
        case 2:
        case 3:
            ++dataRecords;
            if (firstLineOf[static_cast<std::size_t>(type)] == 0)
                firstLineOf[static_cast<std::size_t>(type)] = image.line;
            return {image.place(address, data)};
        case 5:
        case 6:  // the count of data records before it: a line lost in between shows here
            if (!data.isEmpty())
                return {QStringLiteral("malformed count record")};
            if (address != dataRecords)
                return {QStringLiteral("the count record says %1 data records, the file has %2 before it").arg(address).arg(dataRecords)};
            return {};
        default:  // S7, S8, S9: termination with the start address, S9 of S1 data, S8 of S2, S7 of S3
            if (!data.isEmpty())
                return {QStringLiteral("malformed termination record")};
            for (int kind = 1; kind <= 3; ++kind) {
                const int at = firstLineOf[static_cast<std::size_t>(kind)];
                if (at != 0 && kind != 10 - type)
                    return {QStringLiteral("S%1 ends S%2 data, but line %3 is an S%4 record").arg(type).arg(10 - type).arg(at).arg(kind)};
            }
            return {{}, true};
        }
    });
}

Parsed parse(Format format, const QByteArray &contents)
{
    const QByteArray start = contents.trimmed().left(1);
    switch (format) {
    case Format::IntelHex:
        if (start != ":")
            return {{}, QStringLiteral("not an Intel HEX file (no ':' at the start)")};
        return parseIntelHex(contents);
    case Format::SRecord:
        if (start != "S")
            return {{}, QStringLiteral("not an S-record file (no 'S' at the start)")};
        return parseSRecord(contents);
    case Format::Raw:
        break;
    }
    return {Chip::padded(contents), {}};
}

Parsed parse(const QString &path, const QByteArray &contents)
{
    return parse(formatOf(path), contents);
}

Parsed decode(QFile &file)
{
    return decode(file, formatOf(file.fileName()));
}

Parsed decode(QFile &file, Format format)
{
    const bool text = format != Format::Raw;
    // A 27C256 in HEX or S-record takes under 100 KB; far more is not an image of one, and
    // reading it whole (a device that never ends) would exhaust the memory.
    const QByteArray contents = file.read(text ? MaxTextBytes + 1 : Chip::Size);
    if (file.error() != QFileDevice::NoError)
        return {{}, file.errorString()};
    if (text && contents.size() > MaxTextBytes)
        return {{}, QStringLiteral("larger than %1 MB: not an image of a 27C256").arg(MaxTextBytes >> 20)};
    return parse(format, contents);
}

quint16 byteSum(const QByteArray &bytes)
{
    quint16 sum = 0;
    for (const char c : bytes)
        sum = quint16(sum + static_cast<quint8>(c));
    return sum;
}

quint32 crc32(const QByteArray &bytes)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : bytes)
        crc = table[(crc ^ static_cast<quint8>(c)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

} // namespace ImageFormats
