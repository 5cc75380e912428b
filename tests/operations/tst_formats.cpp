#include "operations/ImageFormats.h"

#include <QtTest>

using namespace ImageFormats;

namespace {

// One Intel HEX record with its checksum.
QByteArray hexRecord(int type, int offset, const QByteArray &data)
{
    QByteArray r;
    r.append(char(data.size()));
    r.append(char(offset >> 8));
    r.append(char(offset & 0xFF));
    r.append(char(type));
    r.append(data);
    quint8 sum = 0;
    for (char c : r)
        sum = quint8(sum + quint8(c));
    r.append(char(quint8(-sum)));
    return ':' + r.toHex().toUpper();
}

// One S-record with its count and checksum.
QByteArray sRecord(int type, quint32 address, int addressBytes, const QByteArray &data)
{
    QByteArray r;
    r.append(char(addressBytes + data.size() + 1));
    for (int i = addressBytes - 1; i >= 0; --i)
        r.append(char((address >> (8 * i)) & 0xFF));
    r.append(data);
    quint8 sum = 0;
    for (char c : r)
        sum = quint8(sum + quint8(c));
    r.append(char(quint8(~sum)));
    return 'S' + QByteArray::number(type) + r.toHex().toUpper();
}

const QByteArray Eof = ":00000001FF";

} // namespace

class TestFormats : public QObject {
    Q_OBJECT
private slots:
    void intelHexEveryRecordType();
    void intelHexRefusals_data();
    void intelHexRefusals();
    void sRecordEveryRecordType();
    void sRecordRefusals_data();
    void sRecordRefusals();
    void chosenByExtensionConfirmedByContent();
    void checksums();
};

void TestFormats::intelHexEveryRecordType()
{
    const QByteArray text = ":020000040000FA\r\n" + hexRecord(0, 0x0010, "\x01\x02\x03") + "\r\n\r\n" +
                            hexRecord(2, 0, QByteArray("\x01\x00", 2)).toLower() + '\n' +  // segment 0x1000
                            hexRecord(0, 0x0000, "\xAA\xBB") + '\n' +
                            hexRecord(3, 0, QByteArray("\x00\x00\x01\x00", 4)) + '\n' +
                            hexRecord(5, 0, QByteArray("\x00\x00\x01\x00", 4)) + '\n' +
                            hexRecord(4, 0, QByteArray(2, '\0')) + '\n' +
                            hexRecord(0, 0x7FFF, "\x42") + '\n' + Eof + '\n';
    const Parsed parsed = parseIntelHex(text);
    QVERIFY2(parsed.ok(), qPrintable(parsed.error));
    QByteArray expected(32768, char(0xFF));
    expected.replace(0x10, 3, "\x01\x02\x03");
    expected.replace(0x1000, 2, "\xAA\xBB");
    expected[0x7FFF] = 0x42;
    QCOMPARE(parsed.image, expected);
}

void TestFormats::intelHexRefusals_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");
    const QByteArray good = hexRecord(0, 0, "\x11\x22") + '\n';
    QByteArray badSum = hexRecord(0, 0, "\x11\x22");
    badSum.chop(2);
    badSum += "00";
    QTest::newRow("bad checksum") << QByteArray(good + badSum + '\n' + Eof) << "line 2: bad checksum";
    QTest::newRow("no colon") << QByteArray(good + "0200000011222B\n" + Eof) << "line 2: a record starts with ':'";
    QTest::newRow("odd digits") << QByteArray(":0200000011222\n" + Eof) << "line 1: malformed record";
    QTest::newRow("not hex") << QByteArray(":02000000112G2B\n" + Eof) << "line 1: malformed record";
    QTest::newRow("count mismatch") << QByteArray(":03000000112299\n" + Eof) << "line 1: the byte count does not match the record";
    QTest::newRow("past the chip") << QByteArray(hexRecord(0, 0x8000, "\x01") + '\n' + Eof) << "line 1: data outside 0000-7FFF";
    QTest::newRow("across the end") << QByteArray(hexRecord(0, 0x7FFF, "\x01\x02") + '\n' + Eof) << "line 1: data outside 0000-7FFF";
    QTest::newRow("linear base 1") << QByteArray(hexRecord(4, 0, QByteArray("\x00\x01", 2)) + '\n' + good + Eof) << "line 2: data outside 0000-7FFF";
    QTest::newRow("segment past the chip") << QByteArray(hexRecord(2, 0, QByteArray("\x08\x00", 2)) + '\n' + good + Eof) << "line 2: data outside 0000-7FFF";
    QTest::newRow("unknown type") << QByteArray(hexRecord(6, 0, "") + '\n' + Eof) << "line 1: unknown record type 06";
    QTest::newRow("short address record") << QByteArray(hexRecord(4, 0, "\x01") + '\n' + Eof) << "line 1: malformed address record";
    QTest::newRow("no end") << good << "no end-of-file record";
    QTest::newRow("after the end") << QByteArray(Eof + '\n' + good) << "line 2: data after the end-of-file record";
    QTest::newRow("too short") << QByteArray(":00\n" + Eof) << "line 1: malformed record";
}

void TestFormats::intelHexRefusals()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    const Parsed parsed = parseIntelHex(text);
    QCOMPARE(parsed.error, error);
    QVERIFY(parsed.image.isEmpty());
}

void TestFormats::sRecordEveryRecordType()
{
    const QByteArray text = sRecord(0, 0, 2, "HDR") + '\n' + sRecord(1, 0x0100, 2, "\x01\x02") + "\r\n" +
                            sRecord(2, 0x000200, 3, "\x03") + '\n' + sRecord(3, 0x00007FFE, 4, "\x04\x05") + '\n' +
                            sRecord(5, 3, 2, "") + '\n' + sRecord(6, 3, 3, "") + '\n' + sRecord(9, 0, 2, "") + '\n';
    const Parsed parsed = parseSRecord(text);
    QVERIFY2(parsed.ok(), qPrintable(parsed.error));
    QByteArray expected(32768, char(0xFF));
    expected.replace(0x100, 2, "\x01\x02");
    expected[0x200] = 0x03;
    expected.replace(0x7FFE, 2, "\x04\x05");
    QCOMPARE(parsed.image, expected);
    for (int end : {7, 8})
        QVERIFY(parseSRecord(sRecord(1, 0, 2, "\x01") + '\n' + sRecord(end, 0, 11 - end, "")).ok());
}

void TestFormats::sRecordRefusals_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");
    QByteArray badSum = sRecord(1, 0, 2, "\x11");
    badSum.chop(2);
    badSum += "00";
    QTest::newRow("bad checksum") << QByteArray(sRecord(0, 0, 2, "") + '\n' + badSum) << "line 2: bad checksum";
    QTest::newRow("no S") << QByteArray("X1030000FC") << "line 1: a record starts with S and its type";
    QTest::newRow("S4") << sRecord(4, 0, 2, "") << "line 1: unknown record type S4";
    QTest::newRow("past the chip") << sRecord(1, 0x8000, 2, "\x01") << "line 1: data outside 0000-7FFF";
    QTest::newRow("S3 far away") << sRecord(3, 0x10000000, 4, "\x01") << "line 1: data outside 0000-7FFF";
    QTest::newRow("count mismatch") << QByteArray("S1060000AABBCC") << "line 1: the byte count does not match the record";
    QTest::newRow("odd digits") << QByteArray("S10300000") << "line 1: malformed record";
    QTest::newRow("short for its address") << QByteArray("S30200FD") << "line 1: record too short for its address";
    QTest::newRow("after the end") << QByteArray(sRecord(9, 0, 2, "") + '\n' + sRecord(1, 0, 2, "\x01")) << "line 2: data after the termination record";
    QTest::newRow("no termination") << QByteArray(sRecord(1, 0, 2, "\x01") + "\n\n") << "no termination record (S7, S8 or S9)";
}

void TestFormats::sRecordRefusals()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    QCOMPARE(parseSRecord(text).error, error);
}

void TestFormats::chosenByExtensionConfirmedByContent()
{
    QCOMPARE(formatOf(QStringLiteral("a.HEX")), Format::IntelHex);
    QCOMPARE(formatOf(QStringLiteral("a.ihx")), Format::IntelHex);
    for (const char *name : {"a.s19", "a.S28", "a.s37", "a.srec", "a.mot"})
        QCOMPARE(formatOf(QString::fromLatin1(name)), Format::SRecord);
    QCOMPARE(formatOf(QStringLiteral("a.bin")), Format::Raw);
    QCOMPARE(formatOf(QStringLiteral("hex")), Format::Raw);

    QVERIFY(!parse(QStringLiteral("a.hex"), "S1030000FC").ok());
    QVERIFY(!parse(QStringLiteral("a.s19"), Eof).ok());
    QVERIFY(!parse(QStringLiteral("a.hex"), QByteArray()).ok());
    // A raw image is taken as it is: padded when short, cut when long.
    const Parsed raw = parse(QStringLiteral("a.bin"), ":not a hex file");
    QVERIFY(raw.ok());
    QCOMPARE(raw.image.left(15), QByteArray(":not a hex file"));
    QCOMPARE(raw.image.size(), 32768);
    QCOMPARE(raw.image.at(15), char(0xFF));
    QCOMPARE(parse(QStringLiteral("a.bin"), QByteArray(40000, 'x')).image, QByteArray(32768, 'x'));
}

void TestFormats::checksums()
{
    QCOMPARE(crc32("123456789"), 0xCBF43926u);
    QCOMPARE(crc32(QByteArray()), 0u);
    QCOMPARE(crc32(QByteArray(32768, char(0xFF))), 0x1B43EABDu);
    QCOMPARE(byteSum(QByteArray(32768, char(0xFF))), quint16(0x8000));  // 32768 × 255 mod 65536
    QCOMPARE(byteSum("\x01\x02\xFF"), quint16(0x102));
}

QTEST_GUILESS_MAIN(TestFormats)
#include "tst_formats.moc"
