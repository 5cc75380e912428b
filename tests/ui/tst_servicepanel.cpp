#include "Window.h"
#include "operations/Messages.h"

#include "link/CommandFrame.h"
#include "operations/NumberText.h"
#include "ui/ServicePanel.h"

#include <QElapsedTimer>
#include <cmath>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

// The window connected to the software board, POSIZIONO's pause recorded instead of slept.
struct Panel : Window {
    QList<int> pauses;
    QList<int> sendsAtPause;
    Panel()
    {
        session.service().setPause([this](int ms) {
            pauses << ms;
            sendsAtPause << int(sim().sends().size());
        });
    }
    bool ready()
    {
        if (!connectSim())
            return false;
        sim().clearRecords();
        return true;
    }
    void position(const QString &address)
    {
        box("textAddress")->setText(address);
        button("buttonPompoClock")->click();
    }
};

} // namespace

class TestServicePanel : public QObject {
    Q_OBJECT
private slots:
    void numberAtStart_data();
    void numberAtStart();
    void rounding_data();
    void rounding();

    void singleCommandButtons();
    void addressAndDataFrames_data();
    void addressAndDataFrames();

    void serviceReadShowsTheByteAtTheAddress();
    void serviceReadHandlingOfOneNotification();
    void serviceReadTimesOutAndALateAnswerIsStillShown();
    void positionTurnsAPendingAnswerIntoIdleBytes();
};

void TestServicePanel::numberAtStart_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("plain") << "300" << 300.0;
    QTest::newRow("blanks around") << "  42  " << 42.0;
    QTest::newRow("blank inside digits") << "1 024" << 1024.0;
    QTest::newRow("tabs and line feeds") << "\t1\n2\t3" << 123.0;
    QTest::newRow("stops at a letter") << "12abc" << 12.0;
    QTest::newRow("no number") << "abc" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("sign only") << "-" << 0.0;
    QTest::newRow("negative") << "-1" << -1.0;
    QTest::newRow("plus") << "+7" << 7.0;
    QTest::newRow("sign then blank") << "- 5" << -5.0;
    QTest::newRow("fraction") << "12.5" << 12.5;
    QTest::newRow("leading point") << ".5" << 0.5;
    QTest::newRow("trailing point") << "5." << 5.0;
    QTest::newRow("second point stops") << "1.2.3" << 1.2;
    QTest::newRow("exponent") << "3e2" << 300.0;
    QTest::newRow("D exponent") << "1.5D1" << 15.0;
    QTest::newRow("negative exponent") << "25E-1" << 2.5;
    QTest::newRow("exponent without digits") << "7e" << 7.0;
    QTest::newRow("exponent sign without digits") << "7e+x" << 7.0;
    QTest::newRow("carriage return stops") << "1\r2" << 1.0;
    QTest::newRow("comma stops") << "2,5" << 2.0;
    QTest::newRow("radix prefix is not read") << "&H1F" << 0.0;
    QTest::newRow("non-ASCII digits stop") << QString::fromUtf8("٣3") << 0.0;
    QTest::newRow("underflow") << "1e-400" << 0.0;
}

void TestServicePanel::numberAtStart()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(::numberAtStart(text), value);
}

void TestServicePanel::rounding_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("int32");   // INT_MIN: does not fit
    QTest::addColumn<int>("byte");    // -1: does not fit
    const int none = std::numeric_limits<int>::min();
    QTest::newRow("2.5 to even") << "2.5" << 2 << 2;
    QTest::newRow("3.5 to even") << "3.5" << 4 << 4;
    QTest::newRow("-2.5 to even") << "-2.5" << -2 << -1;
    QTest::newRow("-0.4") << "-0.4" << 0 << 0;
    QTest::newRow("255.5 to even") << "255.5" << 256 << -1;
    QTest::newRow("254.5") << "254.5" << 254 << 254;
    QTest::newRow("-0.5 is zero") << "-0.5" << 0 << 0;
    QTest::newRow("int32 top") << "2147483647" << 2147483647 << -1;
    QTest::newRow("past int32 top") << "2147483647.5" << none << -1;
    QTest::newRow("near int32 bottom") << "-2147483647" << -2147483647 << -1;
    QTest::newRow("past int32 bottom") << "-2147483649" << none << -1;
    QTest::newRow("overflow") << "1e400" << none << -1;
    QTest::newRow("huge digits") << QString(5000, u'9') << none << -1;
}

void TestServicePanel::rounding()
{
    QFETCH(QString, text);
    QFETCH(int, int32);
    QFETCH(int, byte);
    const double value = ::numberAtStart(text);
    const std::optional<std::int32_t> asInt = roundedToInt32(value);
    QCOMPARE(asInt.has_value(), int32 != std::numeric_limits<int>::min());
    if (asInt)
        QCOMPARE(*asInt, int32);
    const std::optional<std::uint8_t> asByte = roundedToByte(value);
    QCOMPARE(asByte.has_value(), byte >= 0);
    if (asByte)
        QCOMPARE(int(*asByte), byte);
}

void TestServicePanel::singleCommandButtons()
{
    Panel p;
    QVERIFY(p.ready());
    p.session.state().rxMode = RxMode::Verify;
    const struct { const char *name; int code; } buttons[] = {
        {"buttonReset", 12}, {"buttonClock", 13}, {"buttonCeHigh", 14}, {"buttonCeLow", 15},
        {"buttonOeHigh", 16}, {"buttonOeLow", 17}, {"buttonDirOut", 20}, {"buttonDirIn", 21},
    };
    QList<QByteArray> expected;
    for (const auto &b : buttons) {
        p.button(b.name)->click();
        expected << bytes({0xFF, 0, b.code});
    }
    QCOMPARE(p.sim().sends(), expected);
    QTRY_COMPARE(p.sim().wireToBoard(), expected.join());
    QCOMPARE(p.session.state().rxMode, RxMode::Verify);
    // The board followed: CE and OE high last, bus towards the chip undone by DIR IN.
    QVERIFY(!p.sim().board().busTowardsChip());
    QVERIFY(p.op.messages().isEmpty());
}

void TestServicePanel::addressAndDataFrames_data()
{
    // POSIZIONO sends the high byte, pauses, then the low byte; SCRIVO DATO one frame; a number
    // that cannot be sent is refused with a box and nothing goes out.
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("wire");  // empty: refused
    const auto position = [](int high, int low) { return bytes({0xFF, high, 0x1A, 0xFF, low, 0x1B}); };
    QTest::newRow("300") << "buttonPompoClock" << "300" << position(0x01, 0x2C);
    QTest::newRow("32767") << "buttonPompoClock" << "32767" << position(127, 255);
    QTest::newRow("65535") << "buttonPompoClock" << "65535" << position(255, 255);
    QTest::newRow("-1") << "buttonPompoClock" << "-1" << position(0, 255);
    QTest::newRow("-255") << "buttonPompoClock" << "-255" << position(0, 1);
    QTest::newRow("12.5 halves to even") << "buttonPompoClock" << "12.5" << position(0, 12);
    QTest::newRow("no number") << "buttonPompoClock" << "abc" << position(0, 0);
    QTest::newRow("1 024") << "buttonPompoClock" << "1 024" << position(4, 0);
    for (const char *refused : {"65536", "-256", "1e10", "3000000000"})
        QTest::addRow("address %s", refused) << "buttonPompoClock" << refused << QByteArray();
    for (const auto &[text, value] : {std::pair{"255", 255}, {"0", 0}, {"2.5", 2}, {" 65", 65}})
        QTest::addRow("data %s", text) << "buttonWriteData" << text << bytes({0xFF, value, 0x13});
    for (const char *refused : {"256", "-1", "255.5", "1e400"})
        QTest::addRow("data %s", refused) << "buttonWriteData" << refused << QByteArray();
}

void TestServicePanel::addressAndDataFrames()
{
    QFETCH(QString, button);
    QFETCH(QString, text);
    QFETCH(QByteArray, wire);
    Panel p;
    QVERIFY(p.ready());
    const bool position = button == QLatin1String("buttonPompoClock");
    p.session.state().rxMode = RxMode::ServiceRead;
    p.box(position ? "textAddress" : "textReadData")->setText(text);
    p.button(button.toLatin1().constData())->click();

    QCOMPARE(p.sim().sends().join(), wire);
    if (wire.isEmpty()) {
        const MessageId refusal = position ? MessageId::AddressRefused : MessageId::DataRefused;
        QCOMPARE(p.op.messages(), QList<OperatorMessage>{Messages::message(refusal)});
        QVERIFY(p.pauses.isEmpty());
    } else if (position) {
        QCOMPARE(p.pauses, QList<int>{2000});
        QCOMPARE(p.sendsAtPause, QList<int>{1});
        QCOMPARE(p.op.events(), (QStringList{"<beep>", "<beep>"}));  // DSR's, then POSIZIONO's
    }
    // POSIZIONO leaves the service read's mode, SCRIVO DATO does not.
    QCOMPARE(p.session.state().rxMode, position ? RxMode::Idle : RxMode::ServiceRead);
}

void TestServicePanel::serviceReadShowsTheByteAtTheAddress()
{
    Panel p;
    QVERIFY(p.ready());
    p.sim().board().chip().program(300, 0x41);
    p.position(QStringLiteral("300"));
    p.button("buttonReadData")->click();
    QCOMPARE(p.sim().sends().last(), bytes({0xFF, 0, 0x12}));
    QVERIFY(!p.button("buttonReadData")->isEnabled());
    QCOMPARE(p.session.state().rxMode, RxMode::ServiceRead);
    QTRY_COMPARE(p.box("textReadData")->text(), QStringLiteral(" 65"));
    QVERIFY(p.button("buttonReadData")->isEnabled());
    QVERIFY(!p.session.timerSerialTimeout().isActive());
    QCOMPARE(p.session.state().rxMode, RxMode::ServiceRead);

    // The byte shown is the one SCRIVO DATO writes back.
    p.button("buttonWriteData")->click();
    QCOMPARE(p.sim().sends().last(), bytes({0xFF, 65, 0x13}));
    QTest::qWait(600);
    QVERIFY(p.op.messages().isEmpty());
}

void TestServicePanel::serviceReadHandlingOfOneNotification()
{
    Panel p;
    ServiceCommands &panel = p.session.service();
    FormState &state = p.session.state();
    state.rxMode = RxMode::ServiceRead;
    state.bufRx[21] = 77;

    panel.serviceRead(bytes({0x10, 0x20}));
    QCOMPARE(p.box("textReadData")->text(), QStringLiteral(" 16"));
    QCOMPARE(state.rxIndex, 0);
    QCOMPARE(state.bufRx[0], 0);
    QCOMPARE(state.bufRx[1], 0);

    // More than the buffer holds: the first byte is shown, the rest is not kept.
    QByteArray many(100, char(0xEE));
    many[0] = char(0xC8);
    panel.serviceRead(many);
    QCOMPARE(p.box("textReadData")->text(), QStringLiteral(" 200"));
    QCOMPARE(state.bufRx[21], 0xEE);  // the 22nd byte landed in the element that is kept

    // No bytes at all: the closing steps still run and show element 0, whatever it holds.
    p.button("buttonReadData")->click();
    QVERIFY(!p.button("buttonReadData")->isEnabled());
    state.bufRx[0] = 9;
    panel.serviceRead(QByteArray());
    QCOMPARE(p.box("textReadData")->text(), QStringLiteral(" 9"));
    QVERIFY(p.button("buttonReadData")->isEnabled());
    QVERIFY(!p.session.timerSerialTimeout().isActive());
}

void TestServicePanel::serviceReadTimesOutAndALateAnswerIsStillShown()
{
    Panel p;
    QVERIFY(p.ready());
    // No board to answer: the read command is dropped with the port closed.
    p.port.close();
    p.op.setWhileShown([&](const OperatorMessage &) {
        QVERIFY(!p.button("buttonReadData")->isEnabled());
    });
    p.box("textReadData")->setText(QStringLiteral("5"));
    p.button("buttonReadData")->click();
    QTRY_COMPARE(p.op.texts().count(QStringLiteral("ERRORE RICEZIONE")), 1);
    const OperatorMessage box = p.op.messages().at(p.op.texts().indexOf(QStringLiteral("ERRORE RICEZIONE")));
    QCOMPARE(box.kind, OperatorMessage::Kind::Failure);
    QCOMPARE(box.title, QStringLiteral("romivo"));
    QVERIFY(p.op.events().indexOf(QStringLiteral("<beep>"), 1) >= 0);
    QVERIFY(p.button("buttonReadData")->isEnabled());
    QCOMPARE(p.box("textReadData")->text(), QStringLiteral("5"));
    QCOMPARE(p.session.state().rxMode, RxMode::ServiceRead);
    QTest::qWait(600);
    QCOMPARE(p.op.texts().count(QStringLiteral("ERRORE RICEZIONE")), 1);

    // A late answer, with the mode still 1, is handled like any answer.
    QVERIFY(p.connectSim());
    p.sim().board().sendUnasked(bytes({0x2A}));
    p.button("buttonReset")->click();
    QTRY_COMPARE(p.box("textReadData")->text(), QStringLiteral(" 42"));
}

void TestServicePanel::positionTurnsAPendingAnswerIntoIdleBytes()
{
    Panel p;
    QVERIFY(p.ready());
    p.sim().board().chip().program(0, 0x11);
    p.button("buttonReadData")->click();
    p.position(QStringLiteral("0"));
    QCOMPARE(p.session.state().rxMode, RxMode::Idle);
    QTRY_COMPARE(p.op.texts().count(QStringLiteral("ERRORE RICEZIONE")), 1);
    QCOMPARE(p.box("textReadData")->text(), QStringLiteral("0"));
}

QTEST_MAIN(TestServicePanel)
#include "tst_servicepanel.moc"
