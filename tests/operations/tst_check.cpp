#include "operations/Messages.h"
#include "Bench.h"

namespace {
const QByteArray StreamFrame("\xFF\x7E\x1E", 3);
const QByteArray StopByte("\x63", 1);
} // namespace

class TestCheck : public QObject {
    Q_OBJECT
private slots:
    void checksOfTheChip_data();
    void checksOfTheChip();
    void dataDuringTheAbortYieldIsNotCheckData();
    void stopPairings();
    void serviceReadLeftInModeOneIsStoppedFirst_data();
    void serviceReadLeftInModeOneIsStoppedFirst();
    void clicksDuringTheAbortYieldDoNotMoveTheReportedLocation();
    void blankCheckNeedsNoFile();
    void readAndVerifyEndedByAWritePressStillWorkAfterwards();
};

void TestCheck::checksOfTheChip_data()
{
    // A verify or a blank check against a chip with at most one location that differs.
    QTest::addColumn<bool>("blank");
    QTest::addColumn<int>("differs");    // -1: none
    QTest::addColumn<QString>("fault");  // of the board
    QTest::addColumn<QString>("text");
    QTest::newRow("verify, equal, reads of 777") << false << -1 << "" << "VERIFICA ESEGUITA CORRETTAMENTE";
    QTest::newRow("verify, 5 surplus bytes not compared") << false << -1 << "long-stream=5" << "VERIFICA ESEGUITA CORRETTAMENTE";
    QTest::newRow("verify, differs at 0") << false << 0 << "" << "ERRORE al byte  0";
    QTest::newRow("verify, differs at 17") << false << 17 << "" << "ERRORE al byte  17";
    QTest::newRow("verify, differs at 32767") << false << 32767 << "" << "ERRORE al byte  32767";
    QTest::newRow("blank, erased") << true << -1 << "" << "IL CHIP E' VUOTO";
    QTest::newRow("blank, 5 surplus bytes not compared") << true << -1 << "long-stream=5" << "IL CHIP E' VUOTO";
    QTest::newRow("blank, programmed at 0") << true << 0 << "" << "IL CHIP NON E' VUOTO";
    QTest::newRow("blank, programmed at 1000") << true << 1000 << "" << "IL CHIP NON E' VUOTO";
    QTest::newRow("blank, programmed at 32767") << true << 32767 << "" << "IL CHIP NON E' VUOTO";
}

void TestCheck::checksOfTheChip()
{
    QFETCH(bool, blank);
    QFETCH(int, differs);
    QFETCH(QString, fault);
    QFETCH(QString, text);
    Bench b(fault.isEmpty() ? QStringList() : QStringList{fault});
    b.port.line().setReadChunk(fault.isEmpty() ? 777 : 40000);
    QByteArray image = blank ? erased() : randomImage(Chip::Size, 8);
    b.chip().load(image);
    if (differs >= 0) {
        if (blank) {
            b.chip().program(differs, 0x7F);
        } else {
            image[differs] = char(image.at(differs) ^ 0x01);
            image[qMin(differs + 100, 32767)] = char(0x00);  // a later difference is never reported
        }
    }
    const QString path = b.file(QStringLiteral("rom.bin"), image);
    bool shownWhileBoxUp = false;
    b.op.setWhileShown([&](const OperatorMessage &) { shownWhileBoxUp = b.progress.shown; });

    blank ? b.session.check().Command8_Click() : b.session.check().Command7_Click(path);
    QCOMPARE(b.state.rxMode, blank ? RxMode::BlankCheck : RxMode::Verify);
    QVERIFY(b.progress.shown && b.progress.refreshing);
    QVERIFY(b.waitForMessage(text));
    QTest::qWait(50);
    // One box; the progress window stays up under a verify's difference box only.
    const OperatorMessage::Kind kind = differs < 0 ? OperatorMessage::Kind::Result : OperatorMessage::Kind::Failure;
    QCOMPARE(b.op.messages(), (QList<OperatorMessage>{{kind, text, "Romivo"}}));
    QCOMPARE(shownWhileBoxUp, !blank && differs >= 0);
    // The stop byte after the first difference, and only then; the rest is not awaited.
    QCOMPARE(b.port.sends(), differs < 0 ? QList<QByteArray>{StreamFrame} : (QList<QByteArray>{StreamFrame, StopByte}));
    QCOMPARE(b.port.board().streamsStopped(), differs < 0 || differs == 32767 ? 0 : 1);
    QVERIFY(!b.session.operationFile().isOpen());
    QCOMPARE(b.state.errorFound, 0);
    QCOMPARE(b.state.rxMode, RxMode::Idle);
    QVERIFY(!b.progress.shown && !b.progress.refreshing);
    QCOMPARE(Bench::contents(path), image);
}

void TestCheck::dataDuringTheAbortYieldIsNotCheckData()
{
    // Small reads keep bytes waiting when the first difference is found: the abort's yield
    // then delivers them while the mode still selects the check.
    Bench b;
    b.port.line().setReadChunk(3);
    b.chip().load(QByteArray(Chip::Size, char(0x00)));
    b.session.check().Command7_Click(b.file(QStringLiteral("ff.bin"), erased()));
    QVERIFY(b.waitForMessage(QStringLiteral("ERRORE al byte  0")));
    QTest::qWait(100);
    QCOMPARE(b.op.texts(), QStringList{"ERRORE al byte  0"});
    QCOMPARE(b.sendsOf(StopByte), 1);

    b.op.clear();
    b.session.check().Command8_Click();
    QVERIFY(b.waitForMessage(QStringLiteral("IL CHIP NON E' VUOTO")));
    QTest::qWait(100);
    QCOMPARE(b.op.texts(), QStringList{"IL CHIP NON E' VUOTO"});
    QCOMPARE(b.sendsOf(StopByte), 2);
}

void TestCheck::clicksDuringTheAbortYieldDoNotMoveTheReportedLocation()
{
    // A stop and a new start served in the abort's yield reset the location; the box must
    // still name the location that differed.
    Bench b;
    b.port.line().setReadChunk(40000);
    QByteArray chip = erased();
    chip[1000] = 0x00;
    b.chip().load(chip);
    const QString path = b.file(QStringLiteral("ff.bin"), erased());
    bool clicked = false;
    b.dispatcher.setHandling(RxMode::Verify, [&](const QByteArray &bytes) {
        if (!clicked) {  // served in the first event-loop pass after this: the abort's yield
            clicked = true;
            QTimer::singleShot(0, [&] {
                b.session.check().Command7_Click(path);
                b.session.check().Command7_Click(path);
            });
        }
        b.session.check().receiveVerify(bytes);
    });
    b.session.check().Command7_Click(path);
    QVERIFY(b.waitForMessage(QStringLiteral("ERRORE al byte  1000"), 5000));
}

void TestCheck::stopPairings()
{
    // A board whose stream stops short keeps every check running until it is stopped.
    Bench b({QStringLiteral("short-stream=10")});
    const QString path = b.file(QStringLiteral("rom.bin"), erased());
    auto running = [&](std::int16_t mode) {
        return QTest::qWaitFor([&] { return b.state.rxMode == mode && b.state.currentAddress == 10; });
    };
    auto stopped = [&] {
        return b.state.rxMode == RxMode::Idle && !b.session.operationFile().isOpen() && !b.progress.shown &&
               !b.progress.refreshing;
    };

    // A read pressed (OK) during a verify.
    b.session.check().Command7_Click(path);
    QVERIFY(running(RxMode::Verify));
    b.session.read().Command6_Click(path);
    QVERIFY(stopped());
    // A blank check pressed during a verify stops it and starts nothing; pressed again it starts.
    b.session.check().Command7_Click(path);
    QVERIFY(running(RxMode::Verify));
    b.session.check().Command8_Click();
    QVERIFY(stopped());
    b.session.check().Command8_Click();
    QVERIFY(running(RxMode::BlankCheck));
    // A verify pressed during a blank check, and a verify during a read.
    b.session.check().Command7_Click(path);
    QVERIFY(stopped());
    b.session.read().Command6_Click(b.path(QStringLiteral("letto.bin")));
    QVERIFY(running(RxMode::ReadToFile));
    b.session.check().Command7_Click(path);
    QVERIFY(stopped());
    QCOMPARE(Bench::contents(b.path(QStringLiteral("letto.bin"))).size(), 10);

    // Only questions were shown, never a result; each stop told the board to stop streaming.
    QCOMPARE(b.op.texts(), (QStringList{Messages::text(MessageId::ReadQuestion), Messages::text(MessageId::ReadQuestion)}));
    QCOMPARE(b.sendsOf(StopByte), 4);
    QCOMPARE(b.sendsOf(StreamFrame), 4);
    QCOMPARE(b.port.sends().size(), 8);
    QCOMPARE(Bench::contents(path), erased());
}

void TestCheck::serviceReadLeftInModeOneIsStoppedFirst_data()
{
    QTest::addColumn<int>("button");  // 6 read, 7 verify, 8 blank check
    QTest::newRow("read") << 6;
    QTest::newRow("verify") << 7;
    QTest::newRow("blank check") << 8;
}

void TestCheck::serviceReadLeftInModeOneIsStoppedFirst()
{
    // The first press after a service read only leaves its mode (nothing sent, no file made);
    // the second starts the operation.
    QFETCH(int, button);
    Bench b;
    const QString path = b.path(QStringLiteral("ff.bin"));
    const QStringList results{"TERMINATO", "VERIFICA ESEGUITA CORRETTAMENTE", "IL CHIP E' VUOTO"};
    auto press = [&] {
        button == 6 ? b.session.read().Command6_Click(path)
                    : button == 7 ? b.session.check().Command7_Click(path) : b.session.check().Command8_Click();
    };
    b.state.rxMode = RxMode::ServiceRead;
    b.progress.shown = true;
    press();
    QCOMPARE(b.state.rxMode, RxMode::Idle);
    QVERIFY(!b.progress.shown);
    QVERIFY(b.port.sends().isEmpty());
    QVERIFY(!QFile::exists(path));
    press();
    QVERIFY(b.waitForMessage(results.at(button - 6)));
}

void TestCheck::readAndVerifyEndedByAWritePressStillWorkAfterwards()
{
    // A write pressed with an empty file-name box while a read or verify runs ends it, idle, with
    // its file still open; the next read and verify must start all the same.
    Bench b;
    const QString image = b.file(QStringLiteral("ff.bin"), erased());
    b.session.check().Command7_Click(image);
    b.session.write().Command3_Click(QString());
    QCOMPARE(b.state.rxMode, RxMode::Idle);
    b.session.read().Command6_Click(b.path(QStringLiteral("read.bin")));
    QCOMPARE(b.state.rxMode, RxMode::ReadToFile);
    b.session.write().Command3_Click(QString());
    QTest::qWait(50);  // what the board still streams is idle input now
    b.op.clear();
    b.session.check().Command7_Click(image);
    QVERIFY(b.waitForMessage(QStringLiteral("VERIFICA ESEGUITA CORRETTAMENTE")));
    b.session.read().Command6_Click(b.path(QStringLiteral("read.bin")));
    QVERIFY(b.waitForMessage(QStringLiteral("TERMINATO")));
    QCOMPARE(Bench::contents(b.path(QStringLiteral("read.bin"))), erased());
}

void TestCheck::blankCheckNeedsNoFile()
{
    Bench b;
    b.session.check().Command8_Click();
    QVERIFY(b.waitForMessage(QStringLiteral("IL CHIP E' VUOTO")));
}

QTEST_GUILESS_MAIN(TestCheck)
#include "tst_check.moc"
