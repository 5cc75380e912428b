#include "link/FormState.h"
#include "link/PortName.h"

#include <QtTest>

class TestLink : public QObject {
    Q_OBJECT
private slots:
    void portText_data();
    void portText();
    void resetBufRxKeepsLastElement();
};

void TestLink::portText_data()
{
    using Kind = PortSelection::Kind;
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("unixName");
    QTest::addColumn<QString>("windowsName");
    QTest::newRow("22") << "22" << int(Kind::Serial) << "/dev/ttyS21" << "COM22";
    QTest::newRow("1 is the first port") << "1" << int(Kind::Serial) << "/dev/ttyS0" << "COM1";
    QTest::newRow("blanks around") << "  3 " << int(Kind::Serial) << "/dev/ttyS2" << "COM3";
    QTest::newRow("largest") << "32767" << int(Kind::Serial) << "/dev/ttyS32766" << "COM32767";
    QTest::newRow("too large") << "32768" << int(Kind::None) << "" << "";
    QTest::newRow("huge") << "99999999999999999999" << int(Kind::None) << "" << "";
    QTest::newRow("zero") << "0" << int(Kind::None) << "" << "";
    QTest::newRow("negative") << "-4" << int(Kind::None) << "" << "";
    QTest::newRow("empty") << "" << int(Kind::None) << "" << "";
    QTest::newRow("blanks only") << "   " << int(Kind::None) << "" << "";
    QTest::newRow("device path") << "/dev/ttyUSB0" << int(Kind::Serial) << "/dev/ttyUSB0" << "/dev/ttyUSB0";
    QTest::newRow("bare device") << "ttyACM0" << int(Kind::Serial) << "ttyACM0" << "ttyACM0";
    QTest::newRow("COM name") << "COM3" << int(Kind::Serial) << "COM3" << "COM3";
    QTest::newRow("number with text is a name") << "3a" << int(Kind::Serial) << "3a" << "3a";
    QTest::newRow("SIM") << "SIM" << int(Kind::Simulated) << "" << "";
    QTest::newRow("sim in any case") << " sIm " << int(Kind::Simulated) << "" << "";
}

void TestLink::portText()
{
    QFETCH(QString, text);
    QFETCH(int, kind);
    QFETCH(QString, unixName);
    QFETCH(QString, windowsName);
    const PortSelection onUnix = selectPort(text, PortPlatform::Unix);
    const PortSelection onWindows = selectPort(text, PortPlatform::Windows);
    QCOMPARE(int(onUnix.kind), kind);
    QCOMPARE(int(onWindows.kind), kind);
    if (kind == int(PortSelection::Kind::Serial)) {
        QCOMPARE(onUnix.systemName, unixName);
        QCOMPARE(onWindows.systemName, windowsName);
    }
}

void TestLink::resetBufRxKeepsLastElement()
{
    FormState state;
    for (std::size_t i = 0; i < state.bufRx.size(); ++i)
        state.bufRx[i] = std::int16_t(100 + i);
    state.rxIndex = 7;
    state.reset_bufRx();
    for (std::size_t i = 0; i <= 20; ++i)
        QCOMPARE(state.bufRx[i], std::int16_t(0));
    QCOMPARE(state.bufRx[21], std::int16_t(121));
    QCOMPARE(state.rxIndex, 7);
}

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
