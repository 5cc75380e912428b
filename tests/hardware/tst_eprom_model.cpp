// SPDX-License-Identifier: GPL-3.0-or-later
// The 27C256 model's checks, each figure broken on purpose. A row's steps are "TIME FIELD VALUE
// ...": TIME in microseconds (16 cycles each), vcc and vpp in volts, a and d (the board's data;
// VALUE/MASK for some pins only, - for none) in hex, ce and oe as levels. A step with no field
// lets the time pass. The cell programmed is 0x0F beforehand.
#include "EpromModel.h"

#include <QTest>

namespace {
constexpr int Cell = 0x1234;
// VCC, then VPP with the address and the byte, then a 100 us pulse.
const QString Program = QStringLiteral("0 vcc 6.25; 5 vpp 12.75 a 1234 d 5a; 10 ce 0; 110 ce 1");
}

class TestEpromModel : public QObject {
    Q_OBJECT

private slots:
    void checks_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QStringList>("violations");
        QTest::addColumn<int>("cell");
        auto row = [](const char *name, const QString &steps, const QStringList &violations, int cell) {
            QTest::newRow(name) << steps << violations << cell;
        };
        const QString pulse = QStringLiteral("0 vcc 6.25; 5 vpp 12.75 a 1234 d 5a; 10 ce 0; %1; 110 ce 1");
        const QString vpp = QStringLiteral("0 vcc 6.25; 5 vpp %1 a 1234 d 5a; 10 ce 0; 110 ce 1");

        row("verified, switched off", Program + "; 115 d -; 116 oe 0; 117 oe 1; 120 vpp 6.25; 125 vcc 5", {}, 0x0A);
        row("105 us, window's edges", "0 vcc 6.0; 5 vpp 13 a 1234 d 5a; 10 ce 0; 115 ce 1", {}, 0x0A);
        row("95 us, window's edges", "0 vcc 6.5; 5 vpp 12.5 a 1234 d 5a; 10 ce 0; 105 ce 1", {}, 0x0A);
        row("16 V measured, off", "0 vcc 6.25; 5 vpp 16; 4005 vpp 6.25; 9005 vcc 5", {}, 0x0F);
        row("90 us", "0 vcc 6.25; 5 vpp 12.75 a 1234 d 5a; 10 ce 0; 100 ce 1", {"program pulse of 90.000 us (95-105 us)"}, 0x0F);
        row("110 us", "0 vcc 6.25; 5 vpp 12.75 a 1234 d 5a; 10 ce 0; 120 ce 1", {"program pulse of 110.000 us (95-105 us)"}, 0x0F);
        row("tVCS", "0 vcc 6.25; 1 vpp 12.75 a 1234 d 5a; 10 ce 0; 110 ce 1", {"VPP on 1.000 us after VCC reached 6.0-6.5 V (tVCS 2 us)"}, 0x0A);
        row("tVPS", "0 vcc 6.25; 5 a 1234 d 5a; 9 vpp 12.75; 10 ce 0; 110 ce 1", {"program pulse 1.000 us after VPP reached 12.5-13.0 V (tVPS 2 us)"}, 0x0F);
        row("tAS", "0 vcc 6.25; 5 vpp 12.75 d 5a; 9 a 1234; 10 ce 0; 110 ce 1", {"program pulse 1.000 us after the address changed (tAS 2 us)"}, 0x0F);
        row("tDS", "0 vcc 6.25; 5 vpp 12.75 a 1234; 9 d 5a; 10 ce 0; 110 ce 1", {"program pulse 1.000 us after the data changed (tDS 2 us)"}, 0x0F);
        // The chip verifies while OE is low: the board's data can only follow OE.
        row("tOES", "0 vcc 6.25; 5 vpp 12.75 a 1234 oe 0; 9 oe 1; 9.5 d 5a; 10 ce 0; 110 ce 1",
            {"program pulse 1.000 us after OE rose (tOES 2 us)", "program pulse 0.500 us after the data changed (tDS 2 us)"}, 0x0F);
        row("tDH", Program + "; 111 d 00", {"data changed 1.000 us after a program pulse (tDH 2 us)"}, 0x0A);
        row("tAH", Program + "; 111 a 1235", {"address changed 1.000 us after a program pulse (tAH 2 us)"}, 0x0A);
        row("OE falls", pulse.arg("50 oe 0; 60 oe 1"), {"OE low during a program pulse"}, 0x0F);
        row("OE low", "0 vcc 6.25; 5 vpp 12.75 a 1234 d 5a oe 0; 10 ce 0; 110 ce 1",
            {"the board and the chip both drive the data pins", "program pulse with OE low"}, 0x0F);
        row("address moves", pulse.arg("50 a 1235"), {"address changed during a program pulse"}, 0x0F);
        row("data moves", pulse.arg("50 d 00"), {"data changed during a program pulse"}, 0x0F);
        row("supply moves", pulse.arg("50 vpp 12.6"), {"a supply switched during a program pulse"}, 0x0F);
        row("data undriven", "0 vcc 6.25; 5 vpp 12.75 a 1234 d 5a/f0; 10 ce 0; 110 ce 1", {"program pulse with data pins the board does not drive"}, 0x0F);
        row("VPP without VCC", "5 vpp 12.75 a 1234 d 5a; 10 ce 0; 110 ce 1",
            {"VPP on while VCC was at 5.00 V (VCC must rise first)", "program pulse with VCC at 5.00 V (6.0-6.5 V)"}, 0x0F);
        row("VCC off first", Program + "; 120 vcc 5", {"VCC fell to 5.00 V while VPP was on (VPP must fall first)"}, 0x0A);
        row("both drive", Program + "; 115 oe 0", {"the board and the chip both drive the data pins"}, 0x0A);
        row("VPP 16 V", vpp.arg(16), {"program pulse with VPP at 16.00 V (12.5-13.0 V)", "VPP at 16.00 V, above the chip's 14 V maximum"}, 0x0F);
        row("VPP 11 V", vpp.arg(11), {"program pulse with VPP at 11.00 V (12.5-13.0 V)"}, 0x0F);
        row("VCC 7 V", "0 vcc 7; 5 vpp 12.75 a 1234 d 5a; 10 ce 0; 110 ce 1", {"program pulse with VCC at 7.00 V (6.0-6.5 V)"}, 0x0F);
        row("VPP 16 V, 6 ms", "0 vcc 6.25; 5 vpp 16; 6005 vpp 6.25", {"VPP at 16.00 V, above the chip's 14 V maximum"}, 0x0F);
        row("VCC 7.5 V, left", "0 vcc 7.5 vpp 7.5; 6000", {"VCC at 7.50 V, above the chip's 7 V maximum"}, 0x0F);
    }

    void checks()
    {
        QFETCH(QString, steps);
        QFETCH(QStringList, violations);
        QFETCH(int, cell);
        EpromModel chip;
        chip.load(QByteArray(Cell, char(0xFF)) + char(0x0F)); // the rest erased
        EpromModel::Pins pins;
        for (const QString &step : steps.split(QLatin1Char(';'))) {
            const QStringList words = step.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            const auto cycle = std::uint64_t(qRound(words[0].toDouble() * EpromModel::CyclesPerUs));
            for (qsizetype i = 1; i + 1 < words.size(); i += 2) {
                const QString &field = words[i], &value = words[i + 1];
                if (field == "vcc" || field == "vpp")
                    (field == "vcc" ? pins.vccMillivolts : pins.vppMillivolts) = qRound(value.toDouble() * 1000);
                else if (field == "a")
                    pins.address = value.toInt(nullptr, 16);
                else if (field == "d") {
                    pins.boardDrives = value == "-" ? 0 : value.section('/', 1).isEmpty() ? 0xFF : value.section('/', 1).toInt(nullptr, 16);
                    pins.boardData = value.section('/', 0, 0).toInt(nullptr, 16) & pins.boardDrives;
                } else if (field == "ce" || field == "oe") {
                    (field == "ce" ? pins.ceLow : pins.oeLow) = value == "0";
                } else {
                    QFAIL(qPrintable("no such pin: " + field));
                }
            }
            words.size() > 1 ? chip.change(pins, cycle) : chip.advance(cycle);
        }
        QStringList seen;
        for (const EpromModel::Violation &violation : chip.violations())
            seen << violation.what;
        QCOMPARE(seen, violations);
        QCOMPARE(quint8(chip.contents()[Cell]), quint8(cell));
    }
};

QTEST_GUILESS_MAIN(TestEpromModel)
#include "tst_eprom_model.moc"
