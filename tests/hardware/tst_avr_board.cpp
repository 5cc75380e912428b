// SPDX-License-Identifier: GPL-3.0-or-later
// The program against the reference board: its firmware on a simulated ATmega328P with the shift
// registers and a 27C256 that checks every programming figure, on a pseudo-terminal at the line's
// pace. romivo-cli does the whole-chip operations, the window's session the service commands. The
// board exits non-zero when the firmware broke a figure, so every test ends by stopping it.
#include "Bench.h"
#include "BoardProcess.h"
#include "Files.h"

#include "link/QtSerialControl.h"

#include <csignal>

namespace {

struct Run { int status = -1; QStringList lines; };

// romivo-cli to its end, interrupted after `interruptMs` when that is not negative.
Run cli(const QStringList &arguments, int interruptMs = -1)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral(ROMIVO_CLI_TOOL), arguments);
    if (interruptMs >= 0) {
        QTest::qWait(interruptMs);
        ::kill(pid_t(process.processId()), SIGINT);
    }
    if (!process.waitForFinished(240000))
        process.kill();
    process.waitForFinished();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts)};
}

QString board() { return QStringLiteral(ROMIVO_AVR_BOARD_TOOL); }

} // namespace

class TestAvrBoard : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString at(const QString &name) const { return dir.filePath(name); }

private slots:
    void initTestCase()
    {
        if (board().isEmpty())
            QSKIP("gcc-avr, avr-libc, libsimavr-dev or libelf-dev is missing: the reference board was not built");
    }

    void aChipsLife()
    {
        // An erased chip whose cells need one to four pulses each: found blank, written with the
        // check and the verify, read back; a read stopped half-way leaves its file, the next reads
        // the chip whole; another image is refused by the check, nothing written.
        const QByteArray image = randomImage(32768, 21);
        writeFile(at("image.bin"), image);
        writeFile(at("other.bin"), randomImage(32768, 22));
        writeFile(at("kept.bin"), "kept");
        BoardProcess avr({"--pulses", "1-4", "--save", at("chip.bin"), "--log", at("wire.log")}, board());
        const QStringList port{"--port", avr.path()};

        const struct { QStringList arguments; int interruptMs; int status; QString said; } steps[] = {
            {{"blank"}, -1, 0, "blank: ok"},
            {{"write", at("image.bin"), "read", at("read.bin")}, -1, 0, "write: ok.*verify: ok.*read: ok"},
            {{"read", at("kept.bin")}, 3000, 130, "read: interrupted after \\d+ bytes"},
            {{"read", at("again.bin")}, -1, 0, "read: ok"},
            {{"write", at("other.bin")}, -1, 1, "write: refused, \\d+ of the chip's locations cannot take the image"},
        };
        for (const auto &step : steps) {
            const Run run = cli(port + step.arguments, step.interruptMs);
            const QString said = run.lines.join(u' ');
            QVERIFY2(run.status == step.status && said.contains(QRegularExpression(step.said)),
                     qPrintable(step.arguments.first() + ": " + QString::number(run.status) + " " + said));
        }
        QCOMPARE(readFile(at("read.bin")), image);
        QCOMPARE(readFile(at("kept.bin")), QByteArray("kept"));
        QCOMPARE(readFile(at("again.bin")), image);
        QVERIFY2(avr.stop(), "the board broke a figure of the chip (its violations are above)");
        QCOMPARE(readFile(at("chip.bin")), image);
        // One write-start frame: the refused image never reached the board.
        QCOMPARE(receivedByBoard(at("wire.log")).bytes.count(QByteArray::fromHex("ff471c")), 1);
        // DSR toggled once the firmware was ready, then once for each of the five opens (DTR).
        QCOMPARE(readFile(at("wire.log")).count(" DSR "), 2 + 5);
    }

    void aCellThatNeverPrograms()
    {
        // The write fails in the weak cell's block, nothing past the cell is programmed, and once
        // the line has been quiet the board takes commands again.
        const int weak = 5 * 512 + 100;
        QByteArray image = randomImage(32768, 23);
        image[weak] = 0x00;
        writeFile(at("weak-image.bin"), image);
        BoardProcess avr({"--weak", QString::number(weak), "--save", at("weak-chip.bin"), "--log", at("weak.log")}, board());
        const Run write = cli({"--port", avr.path(), "write", at("weak-image.bin")});
        QCOMPARE(write.status, 1);
        QVERIFY2(write.lines.join(u' ').startsWith("write: failed"), qPrintable(write.lines.join(u' ')));
        QTest::qWait(300);
        const Run blank = cli({"--port", avr.path(), "blank"});
        QVERIFY2(blank.status == 1 && blank.lines.join(u' ').startsWith("blank: not blank at 0x0000"), qPrintable(blank.lines.join(u' ')));
        QVERIFY2(avr.stop(), "the board broke a figure of the chip (its violations are above)");
        const QByteArray chip = readFile(at("weak-chip.bin"));
        QCOMPARE(chip.left(weak), image.left(weak));
        QCOMPARE(chip.mid(weak), erased(32768 - weak));
        const QByteArray sent = receivedByBoard(at("weak.log"), "<").bytes;
        // After the check's stream of the erased chip: five blocks taken, then the failure.
        QCOMPARE(sent.mid(32768, 6), QByteArray::fromHex("0d0d0d0d0d62"));
    }

    void theServiceCommands()
    {
        // POSIZIONO then LEGGO DATO answer the byte at that address; SCRIVO DATO programs it.
        QByteArray start = erased();
        start[0x1234] = char(0xA5);
        writeFile(at("service.bin"), start);
        BoardProcess avr({"--chip", at("service.bin"), "--save", at("service-after.bin")}, board());
        SessionBench<QtSerialControl> b;
        b.port.setCommPort(avr.path());
        QVERIFY(b.port.open());
        ServiceCommands &commands = b.session.service();
        QStringList shown;
        connect(&commands, &ServiceCommands::dataRead, this, [&](const QString &text) { shown << text; });

        commands.position(QString::number(0x1234));
        commands.readData();
        QTRY_COMPARE(shown, QStringList{" 165"});
        commands.position("256");
        commands.writeData("90");
        commands.readData();
        QTRY_COMPARE(shown, (QStringList{" 165", " 90"}));
        b.port.close();
        QVERIFY2(avr.stop(), "the board broke a figure of the chip (its violations are above)");
        QByteArray after = start;
        after[256] = 90;
        QCOMPARE(readFile(at("service-after.bin")), after);
    }
};

QTEST_GUILESS_MAIN(TestAvrBoard)
#include "tst_avr_board.moc"
