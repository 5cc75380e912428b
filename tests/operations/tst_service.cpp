// The service commands through the Session over the software board, and the number reader that
// turns the panel's boxes into frames.
#include "operations/NumberText.h"
#include "Bench.h"

namespace {
constexpr int None = std::numeric_limits<int>::min();

// The session with POSIZIONO's pause recorded instead of slept, and what the panel would show.
struct Service : Bench {
    ServiceCommands &commands = session.service();
    QList<int> pausedAfterSends;  // the sends made when each pause began
    QStringList shown;
    QList<bool> pending;
    Service()
    {
        commands.setPause([this](int ms) {
            if (ms == ServiceCommands::PositionPauseMs)
                pausedAfterSends << int(port.sends().size());
        });
        QObject::connect(&commands, &ServiceCommands::dataRead, [this](const QString &text) { shown << text; });
        QObject::connect(&commands, &ServiceCommands::readPending, [this](bool on) { pending << on; });
    }
};
} // namespace

class TestService : public QObject {
    Q_OBJECT
private slots:
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
        QVERIFY(!s.session.timerSerialTimeout().isActive());
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

QTEST_GUILESS_MAIN(TestService)
#include "tst_service.moc"
