// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/ImageFormats.h"

#include <QtTest>

using namespace ImageFormats;

namespace {

// One record with its count and checksum: Intel HEX (`type` 0-5) or S-record (`addressBytes` > 0).
QByteArray record(int type, quint32 address, const QByteArray &data, int addressBytes = 0)
{
    const bool hex = addressBytes == 0;
    QByteArray r(1, char(hex ? data.size() : addressBytes + data.size() + 1));
    for (int i = (hex ? 2 : addressBytes) - 1; i >= 0; --i)
        r.append(char((address >> (8 * i)) & 0xFF));
    if (hex)
        r.append(char(type));
    r.append(data);
    quint8 sum = 0;
    for (char c : r)
        sum = quint8(sum + quint8(c));
    r.append(char(hex ? quint8(-sum) : quint8(~sum)));
    return (hex ? QByteArray(":") : 'S' + QByteArray::number(type)) + r.toHex().toUpper() + '\n';
}

QByteArray withBadSum(QByteArray r)
{
    r.chop(3);
    return r + "00\n";
}

const QByteArray Eof = ":00000001FF\n";
const QByteArray S9 = "S9030000FC\n";

} // namespace

class TestFormats : public QObject {
    Q_OBJECT
private slots:
    void everyRecordTypeWhateverTheNameSays()
    {
        const QByteArray hex = ":020000040000FA\r\n" + record(0, 0x10, "\x01\x02\x03") + "\r\n" +
                               record(2, 0, QByteArray("\x01\x00", 2)).toLower() +  // segment 0x1000
                               record(0, 0, "\xAA\xBB") + record(3, 0, QByteArray("\x00\x00\x01\x00", 4)) +
                               record(5, 0, QByteArray("\x00\x00\x01\x00", 4)) + record(4, 0, QByteArray(2, '\0')) +
                               record(0, 0x7FFF, "\x42") + record(0, 0x11, "\x02") + Eof;  // the same byte again
        // S1, S2 or S3 data (address 2, 3 or 4 bytes), counted, ended by S9, S8 or S7.
        const auto srec = [](int type) {
            return record(0, 0, "HDR", 2) + record(type, 0x10, "\x01\x02\x03", type + 1) + "\r\n" + record(type, 0x1000, "\xAA", type + 1) +
                   record(type, 0x1001, "\xBB", type + 1) + record(5, 3, "", 2) + record(6, 3, "", 3) + record(type, 0x7FFF, "\x42", type + 1) +
                   record(10 - type, 0, "", type + 1);
        };
        QByteArray expected(32768, char(0xFF));
        expected.replace(0x10, 3, "\x01\x02\x03").replace(0x1000, 2, "\xAA\xBB")[0x7FFF] = 0x42;
        // Named so, the text must be of that kind; any other name is a raw image, padded or cut.
        const QByteArray raw = expected.left(0x11) + "\x99";
        const std::tuple<const char *, QByteArray, QByteArray> files[] = {{"a.HEX", hex, expected}, {"a.ihx", hex, expected},
            {"a.ihex", hex, expected}, {"a.eep", hex, expected}, {"a.s19", srec(1), expected}, {"a.S28", srec(2), expected},
            {"a.s37", srec(3), expected}, {"a.srec", srec(1), expected}, {"a.mot", srec(2), expected}, {"fw.v2.hex", hex, expected}, {"rom.b.s19", srec(1), expected},
            {"a.bin", raw, raw + QByteArray(32768 - raw.size(), char(0xFF))},
            {"hex", expected + "past the chip", expected}};
        for (const auto &[name, text, image] : files)
            QVERIFY2(parse(QString::fromLatin1(name), text).image == image, name);
        QVERIFY(!parse("a.hex", srec(1)).ok() && !parse("a.s19", hex).ok() && !parse("a.hex", "").ok());
    }

    void checksumsAsLabelsGiveThem()
    {
        // The check values every CRC-32 (IEEE) implementation is held to.
        QCOMPARE(crc32("123456789"), 0xCBF43926u);
        QCOMPARE(byteSum("123456789"), quint16(0x01DD));
    }

    void refusals_data()
    {
        QTest::addColumn<bool>("hex");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("error");
        const QByteArray good = record(0, 0, "\x11\x22");
        QTest::newRow("HEX bad checksum") << true << good + withBadSum(good) + Eof << "line 2: bad checksum";
        QTest::newRow("HEX no colon") << true << good + "0200000011222B\n" + Eof << "line 2: a record starts with ':'";
        QTest::newRow("HEX count mismatch") << true << ":03000000112299\n" + Eof << "line 1: the byte count does not match the record";
        QTest::newRow("HEX past the chip") << true << record(0, 0x8000, "\x01") + Eof << "line 1: data outside 0000-7FFF";
        QTest::newRow("HEX unknown type") << true << record(6, 0, "") + Eof << "line 1: unknown record type 06";
        QTest::newRow("HEX no end") << true << good << "no end-of-file record";
        QTest::newRow("HEX after the end") << true << Eof + good << "line 2: data after the end-of-file record";
        QTest::newRow("HEX overlap, other data") << true << good + record(0, 1, "\x33") + Eof << "line 2: sets location 0001 to 33, which line 1 set to 22";
        QTest::newRow("HEX sets nothing") << true << record(0, 0, "") + Eof << "no data: the file sets no location of the chip";
        QTest::newRow("S sets nothing") << false << record(0, 0, "HDR", 2) + S9 << "no data: the file sets no location of the chip";
        QTest::newRow("S line lost before its count") << false << record(1, 0, "\x01", 2) + record(1, 2, "\x03", 2) + record(5, 3, "", 2) + S9
                                                      << "line 3: the count record says 3 data records, the file has 2 before it";
        QTest::newRow("S1 data ended by S8") << false << record(1, 0, "\x01", 2) + record(8, 0, "", 3) << "line 2: S8 ends S2 data, but line 1 is an S1 record";
        QTest::newRow("S3 data ended by S9") << false << record(3, 0, "\x01", 4) + S9 << "line 2: S9 ends S1 data, but line 1 is an S3 record";
        QTest::newRow("S bad checksum") << false << record(0, 0, "", 2) + withBadSum(record(1, 0, "\x11", 2)) + S9 << "line 2: bad checksum";
        QTest::newRow("S no S") << false << QByteArray("X1030000FC\n") << "line 1: a record starts with S and its type";
        QTest::newRow("S past the chip") << false << record(1, 0x8000, "\x01", 2) << "line 1: data outside 0000-7FFF";
        QTest::newRow("S short for its address") << false << QByteArray("S30200FD\n") << "line 1: record too short for its address";
        QTest::newRow("S after the end") << false << S9 + record(1, 0, "\x01", 2) << "line 2: data after the termination record";
        QTest::newRow("S no termination") << false << record(1, 0, "\x01", 2) + '\n' << "no termination record (S7, S8 or S9)";
    }
    void refusals()
    {
        QFETCH(bool, hex);
        QFETCH(QByteArray, text);
        QFETCH(QString, error);
        const Parsed parsed = hex ? parseIntelHex(text) : parseSRecord(text);
        QCOMPARE(parsed.error, error);
        QVERIFY(parsed.image.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestFormats)
#include "tst_formats.moc"
