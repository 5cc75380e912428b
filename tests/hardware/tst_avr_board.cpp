// SPDX-License-Identifier: GPL-3.0-or-later
// The program against the reference board: its firmware on a simulated ATmega328P with the shift
// registers and a 27C256 that checks every programming figure, on a pseudo-terminal at the line's
// pace. romivo-cli does the whole-chip operations, the window's session the service commands. The
// board exits non-zero when the firmware broke a figure, so every test ends by stopping it.
#include "Bench.h"
#include "BoardProcess.h"
#include "Files.h"

#include "link/QtSerialControl.h"

#include <bit>
#include <csignal>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

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

// An ELF file's section: its contents, or for SHT_NOBITS only a size.
struct Section {
    QByteArray name = {};
    quint32 type = SHT_PROGBITS;
    quint32 address = 0;
    QByteArray contents = {};
    quint32 size = 0;
    quint32 link = 0;
    quint32 entrySize = 0;
};

template <typename T>
QByteArray bytesOf(const T &value) { return QByteArray(reinterpret_cast<const char *>(&value), sizeof value); }

// A 32-bit ELF file holding `sections`, laid out as the AVR toolchain does (little-endian, as this
// host is: checked below).
QByteArray elfFile(QList<Section> sections, quint16 machine = EM_AVR, quint16 type = ET_EXEC)
{
    static_assert(std::endian::native == std::endian::little);
    sections.append({".shstrtab", SHT_STRTAB});
    QByteArray names(1, '\0');
    for (const Section &section : sections)
        names += section.name + '\0';
    sections.last().contents = names;
    Elf32_Ehdr header{};
    std::memcpy(header.e_ident, ELFMAG, SELFMAG);
    header.e_ident[EI_CLASS] = ELFCLASS32;
    header.e_ident[EI_DATA] = ELFDATA2LSB;
    header.e_ident[EI_VERSION] = header.e_version = EV_CURRENT;
    header.e_type = type;
    header.e_machine = machine;
    header.e_ehsize = sizeof header;
    header.e_shentsize = sizeof(Elf32_Shdr);
    header.e_shnum = quint16(sections.size() + 1);
    header.e_shstrndx = quint16(sections.size());
    QByteArray body, table = bytesOf(Elf32_Shdr{});
    quint32 name = 1;
    for (const Section &section : sections) {
        Elf32_Shdr entry{name, section.type, 0, section.address, quint32(sizeof header + body.size()),
                         section.type == SHT_NOBITS ? section.size : quint32(section.contents.size()), section.link, 0, 1, section.entrySize};
        name += quint32(section.name.size()) + 1;
        body += section.contents;
        table += bytesOf(entry);
    }
    header.e_shoff = quint32(sizeof header + body.size());
    return bytesOf(header) + body + table;
}

// `rjmp .`: a program that does nothing for ever.
const Section Idle{".text", SHT_PROGBITS, 0, QByteArray::fromHex("ffcf")};

qint64 residentKiB(qint64 pid)
{
    const QByteArray status = readFile(QStringLiteral("/proc/%1/status").arg(pid));
    const QRegularExpressionMatch rss = QRegularExpression("VmRSS:\\s+(\\d+) kB").match(QString::fromLatin1(status));
    return rss.hasMatch() ? rss.captured(1).toLongLong() : -1;
}

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

    void refusedStartUps_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("said"); // on standard error; empty: the board starts

        const QString fifo = at("fifo");
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0 || errno == EEXIST);
        QDir().mkpath(at("folder"));
        const QByteArray idle = elfFile({Idle});
        const Elf32_Sym unnamed{1000, 0, 0, ELF32_ST_INFO(STB_GLOBAL, STT_FUNC), 0, 1};
        const QList<std::tuple<const char *, QByteArray, QString>> firmwares{
            {"a program that idles", idle, ""},
            {"text", "root:x:0:0:root:/root:/bin/bash\n", "not an ELF file"},
            {"another processor's", elfFile({Idle}, EM_X86_64), "an ELF file for another processor (machine 62), not an AVR"},
            {"an object file", elfFile({Idle}, EM_AVR, ET_REL), "an object file, not a linked program"},
            {"no code", elfFile({{".data", SHT_PROGBITS, 0x800100, "ab"}}), "no code (its .text section is missing or empty)"},
            {"more than the flash", elfFile({{".text", SHT_PROGBITS, 0, QByteArray(32768, '\0')}, {".data", SHT_PROGBITS, 0x800100, "ab"}}),
             "its code ends at byte 32770, past the ATmega328P's 32768 bytes of flash"},
            {"more than the RAM", elfFile({Idle, {".bss", SHT_NOBITS, 0x800100, {}, 2049}}),
             "its .bss (2049 bytes at 0x100) lies outside the ATmega328P's RAM (0x100-0x8ff)"},
            {"cut short", idle.left(idle.size() - 1), "cut short: its section headers end past the end of the file"},
            {"a symbol without a name", elfFile({Idle, {".symtab", SHT_SYMTAB, 0, bytesOf(Elf32_Sym{}) + bytesOf(unnamed), 0, 3, sizeof unnamed},
                                                 {".strtab", SHT_STRTAB, 0, QByteArray("\0main\0", 6)}}),
             "a symbol's name cannot be read"},
        };
        for (const auto &[name, contents, said] : firmwares) {
            const QString file = writeFile(at(QStringLiteral("firmware %1.elf").arg(name)), contents);
            QTest::addRow("firmware: %s", name) << QStringList{"--firmware", file} << (said.isEmpty() ? said : file + ": " + said);
        }
        QTest::newRow("firmware: a FIFO") << QStringList{"--firmware", fifo} << fifo + ": a FIFO, not a regular file";
        QTest::newRow("chip: a FIFO") << QStringList{"--chip", fifo} << fifo + ": a FIFO, not a regular file";
        QTest::newRow("chip: a folder") << QStringList{"--chip", at("folder")} << at("folder") + ": a directory, not a regular file";
        QTest::newRow("chip: a device") << QStringList{"--chip", "/dev/zero"} << "/dev/zero: a device, not a regular file";
        QTest::newRow("chip: missing") << QStringList{"--chip", at("missing")} << at("missing") + ": No such file or directory";
        QTest::newRow("save: a FIFO") << QStringList{"--save", fifo} << "--save " + fifo + ": a FIFO, not a regular file";
        QTest::newRow("log: a FIFO") << QStringList{"--log", fifo} << fifo + ": a FIFO, not a regular file";
        QTest::newRow("trace: a FIFO") << QStringList{"--trace", fifo} << fifo + ": a FIFO, not a regular file";
    }

    void refusedStartUps()
    {
        // Refused at once, before the terminal is offered; or, for a sound firmware, served.
        QFETCH(QStringList, arguments);
        QFETCH(QString, said);
        QProcess avr;
        avr.start(board(), arguments);
        if (said.isEmpty()) {
            QVERIFY(avr.waitForReadyRead(5000));
            QVERIFY(avr.readLine().startsWith("/dev/pts/"));
            avr.terminate();
            QVERIFY(avr.waitForFinished(5000));
            QCOMPARE(avr.exitCode(), 0);
            return;
        }
        QVERIFY2(avr.waitForFinished(5000), "still running after 5 s");
        QCOMPARE(avr.exitCode(), 2);
        QCOMPARE(avr.readAllStandardOutput(), QByteArray());
        // The first line: a sanitizer may report after it.
        QCOMPARE(QString::fromLocal8Bit(avr.readAllStandardError()).section(u'\n', 0, 0), "romivo-avr-board: " + said);
    }

    void aFloodingProgram()
    {
        // 16 MiB written without a pause: the board keeps only what its line can soon carry, and
        // tells how much it dropped.
        QProcess avr;
        avr.start(board(), {});
        QVERIFY(avr.waitForReadyRead(5000));
        const QByteArray path = avr.readLine().trimmed();
        const qint64 before = residentKiB(avr.processId());
        const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        const QByteArray chunk(65536, '\0'); // noise outside a frame, ignored by the firmware
        constexpr qint64 Flood = 16 << 20;
        for (qint64 written = 0; written < Flood;) {
            pollfd room{fd, POLLOUT, 0};
            QVERIFY2(::poll(&room, 1, 5000) == 1, "the board stopped reading its terminal");
            written += qMax<qint64>(0, ::write(fd, chunk.constData(), size_t(chunk.size())));
        }
        const qint64 grown = residentKiB(avr.processId()) - before;
        ::close(fd);
        QVERIFY2(grown < 2048, qPrintable(QStringLiteral("grew by %1 KiB").arg(grown)));
        avr.terminate();
        QVERIFY(avr.waitForFinished(5000));
        const QString said = QString::fromLocal8Bit(avr.readAllStandardError());
        const QRegularExpressionMatch dropped = QRegularExpression("dropped (\\d+) bytes sent faster than the board takes them").match(said);
        QVERIFY2(dropped.hasMatch(), qPrintable(said));
        // All but the board's queue and what the terminal itself still held.
        QVERIFY2(dropped.captured(1).toLongLong() > Flood - 65536, qPrintable(said));
        QCOMPARE(avr.exitCode(), 0);
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
