// SPDX-License-Identifier: GPL-3.0-or-later
// The whole-chip operations and the service commands through one Session over the software board:
// outcomes, the bytes on the wire and the moment each result is told; and the number reader that
// turns the service panel's boxes into frames.
#include "operations/Messages.h"
#include "operations/NumberText.h"
#include "Bench.h"

#include <QBuffer>


namespace {
const QByteArray NextBlock = QByteArray::fromHex("ff471d");

constexpr int None = std::numeric_limits<int>::min();

// The session with POSIZIONO's pause recorded instead of slept, and what the panel would show.
struct Service : Bench {
    ServiceCommands &commands = session.service();
    QList<int> pausedAfterSends;  // the sends made when each pause began
    QStringList shown;
    QList<bool> pending;
    Service()
    {
        commands.setPause([this](int ms) { pausedAfterSends << (ms == ServiceCommands::PositionPauseMs ? int(port.sends().size()) : -ms); });
        QObject::connect(&commands, &ServiceCommands::dataRead, [this](const QString &text) { shown << text; });
        QObject::connect(&commands, &ServiceCommands::readPending, [this](bool on) { pending << on; });
        QTest::qWait(StreamStart::AfterOpenMs);  // until then, commands only beep
    }
};
} // namespace

class TestSession : public QObject {
    Q_OBJECT
private slots:
    void writes()
    {
        const struct { const char *name; QString fault; int nextBlocks, dataSends; } rows[] = {  // next-block frames, data sends
            {"whole, stray bytes ignored", "stray=00FF41", 64, 4096},
            {"0x62 inside block 5", "0x62-during-block=5", 5, -1},  // -1: some of the failing block's groups
            {"0x63 inside block 0", "0x63-during-block=0", 0, -1},
            // A failure or time-out in a block's wait ends the write there: no next-block frame, no group.
            {"0x63 in place of block 5's ack", "0x63-for-ack=5", 5, 6 * 64}, {"silent board", "silent-after-block=0", 0, 64},
            {"0x62 for block 63", "0x62-for-ack=63", 63, 4096}, {"silent from block 63", "silent-after-block=63", 63, 4096}};
        for (const auto &[name, fault, nextBlocks, dataSends] : rows) {
            const auto where = qScopeGuard([name = name] { if (QTest::currentTestFailed()) qWarning("in the row %s", name); });
            Bench b(fault);
            b.port.board().sendUnasked(QByteArray::fromHex("00ff0a"));  // bytes that are not an answer change nothing
            const QByteArray image = randomImage(Chip::Size, 11);
            const bool whole = fault.startsWith("stray");
            // The result is told while the progress still shows and the write's mode still holds.
            QList<bool> concludedRunning;
            QObject::connect(&b.session, &Session::concluded, [&] { concludedRunning << (b.progress.shown && b.state.rxMode == RxMode::Write); });
            QElapsedTimer clock;
            clock.start();
            QCOMPARE(b.run([&] { b.session.write().write(image); }).outcome, whole ? Outcome::Written : Outcome::WriteFailed);
            // A silent board is given up after half a second of waiting for its acknowledgement.
            QVERIFY2(!fault.startsWith("silent") || (clock.elapsed() >= 500 && clock.elapsed() < 2500), qPrintable(QString::number(clock.elapsed())));
            QCOMPARE(concludedRunning, QList<bool>{true});
            QCOMPARE(b.sendsOf(NextBlock), nextBlocks);
            if (dataSends < 0) {  // the group on its way when the failure came still went, nothing after it
                const int groups = b.dataSends() - nextBlocks * 64;
                QVERIFY2(groups >= 1 && groups < 64 && b.port.sends().last().size() == 8, qPrintable(QString::number(groups)));
            } else {
                QCOMPARE(b.dataSends(), dataSends);
                QCOMPARE(b.port.sends().last(), whole ? NextBlock : image.mid(dataSends * 8 - 8, 8));
            }
            QByteArray wire = QByteArray::fromHex("ff471c");  // every block before the failing one, whole
            for (int block = 0; block < nextBlocks; ++block)
                wire += image.mid(block * Frame::BlockSize, Frame::BlockSize) + NextBlock;
            QVERIFY(b.port.sends().join().startsWith(wire));
            // The board programmed nothing past the failing block, nor took anything for commands.
            QCOMPARE(b.port.board().protocolErrors(), QStringList());
            const int failing = whole ? 64 : nextBlocks;
            QCOMPARE(b.chip().contents().left(failing * Frame::BlockSize), image.left(failing * Frame::BlockSize));
            QCOMPARE(b.chip().contents().mid((failing + 1) * Frame::BlockSize), erased(qMax(0, Chip::Size - (failing + 1) * Frame::BlockSize)));
            QVERIFY(b.progress.refreshed.size() == 1 && (!whole || b.progress.refreshed.first() == 32760));
            QVERIFY(b.idle() && b.op.events().isEmpty());
        }
    }

    void checks()
    {
        // A verify or a blank check against a chip with at most one location that differs; reads of
        // 777 bytes, or one read with the board's surplus.
        for (const bool blank : {false, true})
            for (const auto &[differs, fault] : {std::pair{-1, ""}, {-1, "long-stream=5"}, {0, ""}, {17, ""}, {32767, ""}}) {
                const auto where = qScopeGuard([&] { if (QTest::currentTestFailed()) qWarning("blank %d, differs at %d, %s", blank, differs, fault); });
                Bench b(fault);
                b.port.line().setReadChunk(*fault ? 40000 : 777);
                QByteArray image = blank ? erased() : randomImage(Chip::Size, 8);
                b.chip().load(image);
                if (differs >= 0 && blank)
                    b.chip().program(differs, 0x7F);
                if (differs >= 0 && !blank) {
                    image[differs] = char(image.at(differs) ^ 0x01);
                    image[qMin(differs + 100, 32767)] = char(0x00);  // a later difference is never reported
                }
                QList<bool> concludedShown;  // a verify's difference is told before its progress goes
                QObject::connect(&b.session, &Session::concluded, [&] { concludedShown << b.progress.shown; });
                const OperationResult result = b.run([&] { blank ? b.session.check().blankCheck() : b.session.check().verify(image); });
                const Outcome expected = differs < 0 ? (blank ? Outcome::Blank : Outcome::Verified) : (blank ? Outcome::NotBlank : Outcome::Differs);
                QCOMPARE(result.outcome, expected);
                QCOMPARE(result.location, differs < 0 ? Chip::Size : differs);
                QCOMPARE(result.chipByte, differs < 0 ? -1 : quint8(b.chip().contents().at(differs)));
                QTest::qWait(50);
                QCOMPARE(concludedShown, QList<bool>{!blank && differs >= 0});
                // The stop byte after the first difference, and only then; the rest is not awaited.
                QCOMPARE(b.port.sends(), differs < 0 ? QList<QByteArray>{streamFrame()} : (QList<QByteArray>{streamFrame(), stopByte()}));
                QCOMPARE(b.port.board().streamsStopped(), differs < 0 || differs == 32767 ? 0 : 1);
                QVERIFY(b.idle() && !b.state.errorFound);
            }
    }

    void bytesInTheAbortYield()
    {
        // A notification served in the abort's yield, while the mode still selects the check: its
        // bytes are not compared (here its 0x00 would be a difference at location 1).
        Bench b;
        b.chip().program(0, 0x00);
        bool injected = false;
        b.session.dispatcher().setHandling(RxMode::Verify, [&](const QByteArray &bytes) {
            if (!std::exchange(injected, true))
                QMetaObject::invokeMethod(&b.session, [&] {
                    if (b.state.rxMode == RxMode::Verify)
                        b.session.check().receiveVerify(QByteArray::fromHex("ff00"));
                }, Qt::QueuedConnection);
            b.session.check().receiveVerify(bytes);
        });
        QList<OperationResult> ended;
        QObject::connect(&b.session, &Session::finished, [&](OperationResult r) { ended << r; });
        QCOMPARE(b.run([&] { b.session.check().verify(erased()); }).location, 0);
        QTest::qWait(100);
        QCOMPARE(ended.size(), 1);
        QCOMPARE(b.sendsOf(stopByte()), 1);

        // A stop and a new start served in the yield: the stop ends the old check, once, and the
        // new one runs to its own end, untouched by the old one's.
        b.chip().load(erased());
        b.chip().program(1000, 0x00);
        bool clicked = false;
        b.port.clearRecords();
        b.session.dispatcher().setHandling(RxMode::Verify, [&](const QByteArray &bytes) {
            if (!std::exchange(clicked, true))
                QTimer::singleShot(0, [&] { b.session.stop(), b.session.check().verify(b.chip().contents()); });
            b.session.check().receiveVerify(bytes);
        });
        ended.clear();
        b.session.check().verify(erased());
        QTRY_COMPARE(ended.size(), 2);
        QTest::qWait(100);
        QCOMPARE(ended.size(), 2);
        QVERIFY(ended.at(0).outcome == Outcome::Stopped && ended.at(0).location == 1000 && ended.at(1).outcome == Outcome::Verified);
        QCOMPARE(b.sendsOf(stopByte()), 1);
        QVERIFY(b.idle() && !b.state.errorFound);
    }

    void staleInputIsNeverTheChip()
    {
        // Bytes that came while nobody read them (a box open, say) and still wait when an operation
        // starts belong to no answer: taken, they would be location 0, or LEGGO DATO's byte.
        for (int operation = 0; operation < 4; ++operation) {
            Service s;
            QObject::disconnect(&s.port, &SerialControl::notification, &s.session.dispatcher(), nullptr);
            s.port.board().sendUnasked("\x2A");
            s.port.output(*commandFrame(0, CommandCode::CounterReset));  // sets the line going
            QVERIFY(QTest::qWaitFor([&] { return !s.port.wireFromBoard().isEmpty(); }));
            QTest::qWait(StreamStart::QuietMs + 50);
            QObject::connect(&s.port, &SerialControl::notification, &s.session.dispatcher(), &ReceiveDispatcher::MSComm1_OnComm);
            QByteArray chip;
            QBuffer sink(&chip);
            sink.open(QIODevice::WriteOnly);
            const std::function<void()> starts[] = {[&] { s.session.read().read(sink); }, [&] { s.session.check().verify(erased()); },
                                                    [&] { s.session.check().blankCheck(); }, [&] { s.commands.readData(); }};
            const Outcome done[] = {Outcome::ReadDone, Outcome::Verified, Outcome::Blank, Outcome::NotStarted};
            QCOMPARE(operation < 3 ? s.run(starts[operation]).outcome : (starts[3](), Outcome::NotStarted), done[operation]);
            QVERIFY(operation != 0 || chip == erased());
            QTRY_VERIFY(operation != 3 || s.shown == QStringList{" 255"});
        }
    }

    void numbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("int32");  // rounded halves to even; None: does not fit
        QTest::addColumn<int>("byte");
        const double inf = std::numeric_limits<double>::infinity();
        const struct { const char *text; double value; int int32, byte; } rows[] = {
            {"300", 300, 300, None}, {"  42  ", 42, 42, 42}, {"1 024", 1024, 1024, None}, {"\t1\n2\t3", 123, 123, 123},
            {"12abc", 12, 12, 12}, {"abc", 0, 0, 0}, {"", 0, 0, 0}, {"-", 0, 0, 0}, {"-1", -1, -1, None}, {"+7", 7, 7, 7},
            {"- 5", -5, -5, None}, {"12.5", 12.5, 12, 12}, {".5", 0.5, 0, 0}, {"5.", 5, 5, 5}, {"1.2.3", 1.2, 1, 1},
            {"3e2", 300, 300, None}, {"1.5D1", 15, 15, 15}, {"25E-1", 2.5, 2, 2}, {"7e", 7, 7, 7}, {"7e+x", 7, 7, 7},
            {"1\r2", 1, 1, 1}, {"2,5", 2, 2, 2}, {"&H1F", 0, 0, 0}, {"1e-400", 0, 0, 0}, {"3.5", 3.5, 4, 4},
            {"-2.5", -2.5, -2, None}, {"-0.4", -0.4, 0, 0}, {"-0.5", -0.5, 0, 0}, {"255.5", 255.5, 256, None},
            {"254.5", 254.5, 254, 254}, {"2147483647", 2147483647, 2147483647, None}, {"2147483647.5", 2147483647.5, None, None},
            {"-2147483647", -2147483647, -2147483647, None}, {"-2147483649", -2147483649.0, None, None}, {"1e400", inf, None, None},
        };
        for (const auto &row : rows)
            QTest::addRow("'%s'", row.text) << QString::fromLatin1(row.text) << row.value << row.int32 << row.byte;
        QTest::newRow("non-ASCII digits stop") << QString::fromUtf8("٣3") << 0.0 << 0 << 0;
        QTest::newRow("5000 digits") << QString(5000, u'9') << inf << None << None;
    }
    void numbers()
    {
        QFETCH(QString, text);
        QFETCH(double, value);
        QFETCH(int, int32);
        QFETCH(int, byte);
        QCOMPARE(numberAtStart(text), value);
        QCOMPARE(roundedToInt32(value).value_or(None), int32);
        QCOMPARE(roundedToByte(value) ? int(*roundedToByte(value)) : None, byte);
    }

    void positionAndData_data()
    {
        // POSIZIONO sends the high byte, pauses, then the low byte; SCRIVO DATO one frame; a number
        // that cannot be sent is refused with a box and nothing goes out.
        QTest::addColumn<bool>("position");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("wire");  // empty: refused
        const auto at = [](int high, int low) { return QByteArray("\xFF") + char(high) + "\x1A\xFF" + char(low) + '\x1B'; };
        const struct { const char *text; int high, low; } positions[] = {
            {"300", 1, 0x2C}, {"32767", 127, 255}, {"65535", 255, 255}, {"-1", 0, 255}, {"-255", 0, 1}, {"12.5", 0, 12}, {"abc", 0, 0}};
        for (const auto &p : positions)
            QTest::addRow("position %s", p.text) << true << p.text << at(p.high, p.low);
        for (const char *refused : {"65536", "-256", "1e10", "3000000000"})
            QTest::addRow("position %s", refused) << true << refused << QByteArray();
        for (const auto &[text, value] : {std::pair{"255", 255}, {"0", 0}, {"2.5", 2}, {" 65", 65}})
            QTest::addRow("data %s", text) << false << text << QByteArray::fromHex("ff") + char(value) + '\x13';
        for (const char *refused : {"256", "-1", "255.5", "1e400"})
            QTest::addRow("data %s", refused) << false << refused << QByteArray();
    }
    void positionAndData()
    {
        QFETCH(bool, position);
        QFETCH(QString, text);
        QFETCH(QByteArray, wire);
        Service s;
        s.state.rxMode = RxMode::ServiceRead;
        position ? s.commands.position(text) : s.commands.writeData(text);
        QCOMPARE(s.port.sends().join(), wire);
        QCOMPARE(s.pausedAfterSends, wire.isEmpty() || !position ? QList<int>{} : QList<int>{1});
        const QString refusal = position ? "INDIRIZZO NON VALIDO: SOLO DA -255 A 65535" : "DATO NON VALIDO: SOLO DA 0 A 255";
        QCOMPARE(s.op.events(), wire.isEmpty() ? QStringList{refusal} : position ? QStringList{"<beep>"} : QStringList{});
        if (wire.isEmpty())
            QCOMPARE(s.op.messages().first(), (OperatorMessage{OperatorMessage::Kind::Failure, refusal, "Romivo"}));
        // POSIZIONO leaves the service read's mode, SCRIVO DATO does not.
        QCOMPARE(s.state.rxMode, position ? RxMode::Idle : RxMode::ServiceRead);
    }

    void serviceRead()
    {
        Service s;
        s.state.rxMode = RxMode::ServiceRead;
        s.state.bufRx[21] = 77;
        s.commands.serviceRead(QByteArray::fromHex("1020"));
        QVERIFY(s.state.rxIndex == 0 && s.state.bufRx[0] == 0 && s.state.bufRx[1] == 0 && s.state.bufRx[21] == 77);  // the last is kept
        // More than the buffer holds: the first byte is shown, the 22nd lands in the kept element.
        QByteArray many(100, char(0xEE));
        many[0] = char(0xC8);
        s.commands.serviceRead(many);
        QCOMPARE(s.state.bufRx[21], 0xEE);
        // No bytes at all: the closing steps still run and show element 0, whatever it holds.
        s.commands.readData();
        s.state.bufRx[0] = 9;
        s.commands.serviceRead({});
        QCOMPARE(s.shown, (QStringList{" 16", " 200", " 9"}));
        QCOMPARE(s.pending, (QList<bool>{false, false, true, false}));
        QVERIFY(!s.session.service().waitingForData());
        // No board to answer: the time-out beeps and says so, once; the mode stays, and a late
        // answer is handled like any answer.
        s.port.close();
        s.commands.readData();
        QTRY_COMPARE(s.op.texts(), QStringList{"ERRORE RICEZIONE"});
        QCOMPARE(s.op.messages().first(), (OperatorMessage{OperatorMessage::Kind::Failure, "ERRORE RICEZIONE", "romivo"}));
        QVERIFY(s.op.events().first() == "<beep>" && s.pending.last() == false && s.state.rxMode == RxMode::ServiceRead);
        QTest::qWait(600);
        QCOMPARE(s.op.texts().size(), 1);
        s.port.open();
        QTest::qWait(StreamStart::AfterOpenMs);
        s.port.board().sendUnasked("\x2A");
        s.commands.send(CommandCode::CounterReset);
        QTRY_COMPARE(s.shown.last(), " 42");
        // POSIZIONO turns an awaited answer into idle bytes: the time-out comes all the same.
        s.commands.readData();
        s.commands.position("0");
        QCOMPARE(s.state.rxMode, RxMode::Idle);
        QTRY_COMPARE(s.op.texts().size(), 2);
        QCOMPARE(s.shown.size(), 4);
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
