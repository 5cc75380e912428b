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
    void everyRecordType()
    {
        const QByteArray hex = ":020000040000FA\r\n" + record(0, 0x10, "\x01\x02\x03") + "\r\n" +
                               record(2, 0, QByteArray("\x01\x00", 2)).toLower() +  // segment 0x1000
                               record(0, 0, "\xAA\xBB") + record(3, 0, QByteArray("\x00\x00\x01\x00", 4)) +
                               record(5, 0, QByteArray("\x00\x00\x01\x00", 4)) + record(4, 0, QByteArray(2, '\0')) +
                               record(0, 0x7FFF, "\x42") + Eof;
        QByteArray expected(32768, char(0xFF));
        expected.replace(0x10, 3, "\x01\x02\x03").replace(0x1000, 2, "\xAA\xBB")[0x7FFF] = 0x42;
        const Parsed fromHex = parseIntelHex(hex);
        QVERIFY2(fromHex.ok(), qPrintable(fromHex.error));
        QCOMPARE(fromHex.image, expected);

        const QByteArray srec = record(0, 0, "HDR", 2) + record(1, 0x10, "\x01\x02\x03", 2) + "\r\n" +
                                record(2, 0x1000, "\xAA", 3) + record(3, 0x1001, "\xBB", 4) + record(5, 3, "", 2) +
                                record(6, 3, "", 3) + record(1, 0x7FFF, "\x42", 2);
        for (int end : {7, 8, 9}) {
            const Parsed fromS = parseSRecord(srec + record(end, 0, "", 11 - end));
            QVERIFY2(fromS.ok(), qPrintable(fromS.error));
            QCOMPARE(fromS.image, expected);
        }
    }

    void refusals_data()
    {
        QTest::addColumn<bool>("hex");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("error");
        const QByteArray good = record(0, 0, "\x11\x22");
        QTest::newRow("HEX bad checksum") << true << good + withBadSum(good) + Eof << "line 2: bad checksum";
        QTest::newRow("HEX no colon") << true << good + "0200000011222B\n" + Eof << "line 2: a record starts with ':'";
        QTest::newRow("HEX odd digits") << true << ":0200000011222\n" + Eof << "line 1: malformed record";
        QTest::newRow("HEX count mismatch") << true << ":03000000112299\n" + Eof << "line 1: the byte count does not match the record";
        QTest::newRow("HEX past the chip") << true << record(0, 0x8000, "\x01") + Eof << "line 1: data outside 0000-7FFF";
        QTest::newRow("HEX linear base 1") << true << record(4, 0, QByteArray("\x00\x01", 2)) + good + Eof << "line 2: data outside 0000-7FFF";
        QTest::newRow("HEX unknown type") << true << record(6, 0, "") + Eof << "line 1: unknown record type 06";
        QTest::newRow("HEX no end") << true << good << "no end-of-file record";
        QTest::newRow("HEX after the end") << true << Eof + good << "line 2: data after the end-of-file record";
        QTest::newRow("S bad checksum") << false << record(0, 0, "", 2) + withBadSum(record(1, 0, "\x11", 2)) + S9 << "line 2: bad checksum";
        QTest::newRow("S no S") << false << QByteArray("X1030000FC\n") << "line 1: a record starts with S and its type";
        QTest::newRow("S past the chip") << false << record(1, 0x8000, "\x01", 2) << "line 1: data outside 0000-7FFF";
        QTest::newRow("S count mismatch") << false << QByteArray("S1060000AABBCC\n") << "line 1: the byte count does not match the record";
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

    void chosenByExtensionConfirmedByContent()
    {
        for (const char *name : {"a.HEX", "a.ihx"})
            QCOMPARE(formatOf(QString::fromLatin1(name)), Format::IntelHex);
        for (const char *name : {"a.s19", "a.S28", "a.s37", "a.srec", "a.mot"})
            QCOMPARE(formatOf(QString::fromLatin1(name)), Format::SRecord);
        QCOMPARE(formatOf("a.bin"), Format::Raw);
        QCOMPARE(formatOf("hex"), Format::Raw);
        QVERIFY(!parse("a.hex", "S1030000FC").ok());
        QVERIFY(!parse("a.s19", Eof).ok());
        QVERIFY(!parse("a.hex", QByteArray()).ok());
        // A raw image is taken as it is: padded when short, cut when long.
        QCOMPARE(parse("a.bin", ":not a hex file").image, ":not a hex file" + QByteArray(32768 - 15, char(0xFF)));
        QCOMPARE(parse("a.bin", QByteArray(40000, 'x')).image, QByteArray(32768, 'x'));
    }
};

QTEST_GUILESS_MAIN(TestFormats)
#include "tst_formats.moc"
