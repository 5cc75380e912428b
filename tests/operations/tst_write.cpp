#include "operations/Messages.h"
#include "Bench.h"

namespace {
const QByteArray Start("\xFF\x47\x1C", 3);
const QByteArray NextBlock("\xFF\x47\x1D", 3);
} // namespace

class TestWrite : public QObject {
    Q_OBJECT
private slots:
    void fullImageAnsweredBlockByBlock();
    void boardFailures_data();
    void boardFailures();
    void cancelSendsNothingAndEnds();
    void readOnlyImageCanBeWritten();
    void secondPressDuringAWriteEndsSilentlyAndTheWriteFails();
    void stopPressedDuringAWriteSendsNoStopByte();
    void imagesOfEveryKind_data();
    void imagesOfEveryKind();
    void otherBytesFromTheBoardChangeNothing();
};

void TestWrite::fullImageAnsweredBlockByBlock()
{
    Bench b;
    const QByteArray image = randomImage(Chip::Size);
    const QString path = b.file(QStringLiteral("rom.bin"), image);
    b.session.write().Command3_Click(path);

    QList<QByteArray> expected{Start};
    for (int block = 0; block < Frame::BlockCount; ++block) {
        for (int group = 0; group < Frame::BlockSize; group += 8)
            expected << image.mid(block * Frame::BlockSize + group, 8);
        expected << NextBlock;
    }
    QCOMPARE(b.port.sends().size(), 1 + 4096 + 64);
    QVERIFY(b.port.sends() == expected);
    QCOMPARE(b.chip().contents(), image);
    QCOMPARE(b.port.board().blocksAcknowledged(), 64);

    QCOMPARE(b.op.events(), (QStringList{Messages::text(MessageId::WriteQuestion), "CORRETTO", "<beep>"}));
    QCOMPARE(b.op.messages().at(0), (OperatorMessage{OperatorMessage::Kind::Question, Messages::text(MessageId::WriteQuestion), "Romivo"}));
    QCOMPARE(b.op.messages().at(1), (OperatorMessage{OperatorMessage::Kind::Result, "CORRETTO", "romivo"}));
    QCOMPARE(b.progress.refreshed, QList<int>{32760});
    QVERIFY(!b.progress.refreshing && !b.progress.shown);
    QCOMPARE(b.state.rxMode, RxMode::Idle);
    QCOMPARE(b.state.rxIndex, 0);
    QCOMPARE(Bench::contents(path), image);
}

void TestWrite::boardFailures_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("failingBlock");
    QTest::addColumn<bool>("duringData");  // the failure comes while the block's data goes out
    QTest::newRow("0x62 inside block 5") << "0x62-during-block=5" << 5 << true;
    QTest::newRow("0x63 inside block 0") << "0x63-during-block=0" << 0 << true;
    QTest::newRow("0x63 in place of block 5's ack") << "0x63-for-ack=5" << 5 << false;
    QTest::newRow("silent board") << "silent-after-block=0" << 0 << false;
    QTest::newRow("0x62 for block 63") << "0x62-for-ack=63" << 63 << false;
    QTest::newRow("silent from block 63") << "silent-after-block=63" << 63 << false;
}

void TestWrite::boardFailures()
{
    QFETCH(QString, fault);
    QFETCH(int, failingBlock);
    QFETCH(bool, duringData);
    Bench b({fault});
    const QByteArray image = randomImage(Chip::Size, 11);
    b.session.write().Command3_Click(b.file(QStringLiteral("rom.bin"), image));

    QCOMPARE(b.op.texts().last(), QStringLiteral("ERRORE"));
    QCOMPARE(b.op.events().last(), QStringLiteral("<beep>"));
    const QList<QByteArray> &sends = b.port.sends();
    // Every block before the failing one went out whole, each followed by its next-block frame.
    QCOMPARE(b.sendsOf(NextBlock), failingBlock + (duringData ? 0 : 1));
    if (duringData) {
        // The group being sent when the failure was seen still went; nothing of the block after it.
        QCOMPARE(sends.last().size(), 8);
        const int groups = b.dataSends() - failingBlock * 64;
        QVERIFY2(groups >= 1 && groups < 64, qPrintable(QString::number(groups)));
    } else if (failingBlock == 63) {
        QCOMPARE(sends.last(), NextBlock);
        QCOMPARE(b.dataSends(), 4096);
    } else {
        // The wait ended by the failure or the time-out: the frame, then the next block's first group.
        const int next = (failingBlock + 1) * Frame::BlockSize;
        QCOMPARE(sends.at(sends.size() - 2), NextBlock);
        QCOMPARE(sends.last(), image.mid(next, 8));
        QCOMPARE(b.dataSends(), (failingBlock + 1) * 64 + 1);
    }
    QCOMPARE(b.state.rxMode, RxMode::Idle);
    QVERIFY(!b.progress.shown);
}

void TestWrite::cancelSendsNothingAndEnds()
{
    Bench b;
    b.op.answerNext({false});
    b.state.currentAddress = 1234;
    const QString path = b.path(QStringLiteral("not-yet.bin"));
    b.session.write().Command3_Click(path);
    QVERIFY(b.port.sends().isEmpty());
    QCOMPARE(b.op.events(), (QStringList{Messages::text(MessageId::WriteQuestion), "<beep>"}));
    QCOMPARE(b.progress.refreshed, QList<int>{1234});
    QVERIFY(!b.progress.refreshing && !b.progress.shown);
    QCOMPARE(b.state.rxMode, RxMode::Idle);
    QVERIFY(!QFile::exists(path));
}

void TestWrite::readOnlyImageCanBeWritten()
{
    Bench b;
    const QByteArray image = randomImage(Chip::Size, 5);
    const QString path = b.file(QStringLiteral("archivio.bin"), image);
    Immutable guard(path);
    if (!guard.ok)
        QSKIP("chattr is not available here");
    b.session.write().Command3_Click(path);
    QCOMPARE(b.op.texts().last(), QStringLiteral("CORRETTO"));
    QCOMPARE(b.chip().contents(), image);
    b.session.check().Command7_Click(path);
    QVERIFY(b.waitForMessage(QStringLiteral("VERIFICA ESEGUITA CORRETTAMENTE")));
}

void TestWrite::secondPressDuringAWriteEndsSilentlyAndTheWriteFails()
{
    Bench b;
    const QString path = b.file(QStringLiteral("rom.bin"), randomImage(Chip::Size));
    // Served in the write's first event-loop pass, as a click would be.
    QTimer::singleShot(0, [&] { b.session.write().Command3_Click(path); });
    b.session.write().Command3_Click(path);
    // The second question, no message for the handle in use, its ending's beep; then the first
    // write, left without acknowledgements, times out.
    QCOMPARE(b.op.events(), (QStringList{Messages::text(MessageId::WriteQuestion), Messages::text(MessageId::WriteQuestion), "<beep>", "ERRORE", "<beep>"}));
    QCOMPARE(b.sendsOf(NextBlock), 1);
    QCOMPARE(b.dataSends(), 65);
}

void TestWrite::stopPressedDuringAWriteSendsNoStopByte()
{
    // A 0x63 in the middle of the image data would be taken for a location's value.
    Bench b;
    const QString path = b.file(QStringLiteral("rom.bin"), randomImage(Chip::Size));
    QTimer::singleShot(0, [&] { b.session.check().Command8_Click(); });
    b.session.write().Command3_Click(path);
    QCOMPARE(b.op.texts().last(), QStringLiteral("ERRORE"));
    QCOMPARE(b.sendsOf(stopByte()), 0);
    QCOMPARE(b.sendsOf(streamFrame()), 0);
}

void TestWrite::imagesOfEveryKind_data()
{
    // What the chip holds after writing each kind of file, then verifying against it; a file
    // named as HEX or S-record that does not read as such is refused before anything is sent.
    const QByteArray hex = ":0400100012345678D8\n:00000001FF\n";
    QByteArray decoded(Chip::Size, char(0xFF));
    decoded.replace(0x10, 4, QByteArray::fromHex("12345678"));
    const QByteArray shortImage = randomImage(1000, 3);
    const QByteArray longImage = randomImage(40000, 3);
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("contents");  // null: no file
    QTest::addColumn<QByteArray>("chip");      // empty: refused
    QTest::newRow("short, erased past its end") << "rom.bin" << shortImage << Chip::padded(shortImage);
    QTest::newRow("empty") << "rom.bin" << QByteArray("") << Chip::padded({});
    QTest::newRow("missing, created empty") << "new.bin" << QByteArray() << Chip::padded({});
    QTest::newRow("longer, cut at the chip") << "rom.bin" << longImage << longImage.left(Chip::Size);
    QTest::newRow("Intel HEX") << "fw.hex" << hex << decoded;
    QTest::newRow("S-record") << "fw.s19" << QByteArray("S107001012345678D4\nS9030000FC\n") << decoded;
    QTest::newRow("HEX text named raw") << "fw.bin" << hex << Chip::padded(hex);
    QTest::newRow("bad HEX line") << "fw.hex" << QByteArray(":0400100012345678DD\n:00000001FF\n") << QByteArray();
    QTest::newRow("binary named HEX") << "fw.hex" << QByteArray(64, char(0x00)) << QByteArray();
}

void TestWrite::imagesOfEveryKind()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, contents);
    QFETCH(QByteArray, chip);
    Bench b;
    const QString path = contents.isNull() ? b.path(name) : b.file(name, contents);
    b.session.write().Command3_Click(path);
    if (chip.isEmpty()) {
        QVERIFY(b.op.texts().last().startsWith(QStringLiteral("FILE NON VALIDO: ") + path + u'\n'));
        QVERIFY(b.port.sends().isEmpty());
        QCOMPARE(b.state.rxMode, RxMode::Idle);
        // The verify refuses it the same way.
        b.session.check().Command7_Click(path);
        QVERIFY(b.op.texts().last().startsWith(QStringLiteral("FILE NON VALIDO: ")));
        QVERIFY(b.port.sends().isEmpty());
        QVERIFY(!b.session.operationFile().isOpen());
        return;
    }
    // 32,768 data bytes in any case; the file is left as it was.
    QCOMPARE(b.op.texts().last(), QStringLiteral("CORRETTO"));
    QCOMPARE(b.dataSends(), 4096);
    QCOMPARE(b.chip().contents(), chip);
    QCOMPARE(Bench::contents(path), contents.isNull() ? QByteArray("") : contents);
    b.session.check().Command7_Click(path);
    QVERIFY(b.waitForMessage(QStringLiteral("VERIFICA ESEGUITA CORRETTAMENTE")));
}

void TestWrite::otherBytesFromTheBoardChangeNothing()
{
    Bench b({QStringLiteral("stray=00FF41")});
    b.port.board().sendUnasked(QByteArray("\x00\xFF\x0A", 3));
    const QByteArray image(Chip::Size, char(0xFF));
    b.session.write().Command3_Click(b.file(QStringLiteral("ff.bin"), image));
    QCOMPARE(b.op.texts().last(), QStringLiteral("CORRETTO"));
    QCOMPARE(b.dataSends(), 4096);
    QCOMPARE(b.port.sends().at(1), QByteArray(8, char(0xFF)));
}

QTEST_GUILESS_MAIN(TestWrite)
#include "tst_write.moc"
