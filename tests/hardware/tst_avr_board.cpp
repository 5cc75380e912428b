// SPDX-License-Identifier: GPL-3.0-or-later
// The program against the reference board: its firmware on a simulated ATmega328P with the shift
// registers and a 27C256 that checks every programming figure, on a pseudo-terminal at the line's
// pace. romivo-cli does the whole-chip operations, the window's session the service commands. The
// board exits non-zero when the firmware broke a figure, so every test ends by stopping it.
#include "Bench.h"
#include "BoardProcess.h"
#include "CliProcess.h"
#include "Files.h"

#include "link/CommandFrame.h"
#include "link/QtSerialControl.h"

#include <bit>
#include <csignal>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

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

// A program of the test's own on the board's terminal: raw bytes, sent and read when the test says.
class RawPort {
public:
    explicit RawPort(const QString &path) : m_fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        termios raw{};
        if (m_fd >= 0 && ::tcgetattr(m_fd, &raw) == 0) {
            ::cfmakeraw(&raw);
            ::tcsetattr(m_fd, TCSANOW, &raw);
        }
    }
    ~RawPort() { ::close(m_fd); }
    void send(const QByteArray &bytes)
    {
        pollfd room{m_fd, POLLOUT, 0};
        for (qsizetype at = 0; at < bytes.size() && ::poll(&room, 1, 2000) == 1;)
            at += qMax<ssize_t>(0, ::write(m_fd, bytes.constData() + at, size_t(bytes.size() - at)));
    }
    // What the board sends within `ms`.
    QByteArray receive(int ms)
    {
        QByteArray got;
        QElapsedTimer clock;
        clock.start();
        for (qint64 left; (left = ms - clock.elapsed()) > 0;) {
            pollfd ready{m_fd, POLLIN, 0};
            char buffer[4096];
            if (::poll(&ready, 1, int(left)) == 1)
                got.append(buffer, qMax<ssize_t>(0, ::read(m_fd, buffer, sizeof buffer)));
        }
        return got;
    }

private:
    int m_fd;
};

// romivo-avr-board for one test.
struct AvrBoard : BoardProcess {
    explicit AvrBoard(const QStringList &arguments) : BoardProcess(arguments, board()) {}
    int pulses() const { return QRegularExpression("(\\d+) program pulses").match(said).captured(1).toInt(); }
};

// The first location where `chip` differs from `image`; the chip must be erased from there.
qsizetype programmedUpTo(const QByteArray &chip, const QByteArray &image)
{
    return std::mismatch(chip.begin(), chip.end(), image.begin()).first - chip.begin();
}

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
        AvrBoard avr({"--pulses", "1-4", "--save", at("chip.bin"), "--log", at("wire.log")});
        const QStringList port{"--port", avr.path()};

        const struct { QStringList arguments; int interruptMs; int status; QString said; } steps[] = {
            {{"blank"}, -1, 0, "blank: ok"},
            {{"write", at("image.bin"), "read", at("read.bin")}, -1, 0, "write: ok.*verify: ok.*read: ok"},
            {{"read", at("kept.bin")}, 3000, 130, "read: interrupted after \\d+ bytes"},
            {{"read", at("again.bin")}, -1, 0, "read: ok"},
            {{"write", at("other.bin")}, -1, 1, "write: refused, \\d+ of the chip's locations cannot take the image"},
        };
        for (const auto &step : steps) {
            const Run run = cli(port + step.arguments, {}, qMax(step.interruptMs, 0), [&](QProcess &p) { if (step.interruptMs >= 0) interrupt(p); });
            const QString said = run.lines.join(u' ');
            QVERIFY2(run.status == step.status && said.contains(QRegularExpression(step.said)),
                     qPrintable(step.arguments.first() + ": " + QString::number(run.status) + " " + said));
        }
        QCOMPARE(readFile(at("read.bin")), image);
        QCOMPARE(readFile(at("kept.bin")), QByteArray("kept"));
        QCOMPARE(readFile(at("again.bin")), image);
        QVERIFY2(avr.stop(), qPrintable(avr.said));
        QCOMPARE(readFile(at("chip.bin")), image);
        // One write-start frame: the refused image never reached the board.
        QCOMPARE(receivedByBoard(at("wire.log")).bytes.count(QByteArray::fromHex("ff471c")), 1);
        // DSR changed for each of the five opens (DTR), besides its level at start and its change once
        // the firmware was ready, which an open before then takes the place of.
        QCOMPARE(readFile(at("wire.log")).count(" DTR 1"), 5);
        QVERIFY(readFile(at("wire.log")).count(" DSR ") >= 1 + 5);
    }

    void aCellThatNeverPrograms()
    {
        // The write fails in the weak cell's block, nothing past the cell is programmed, and once
        // the line has been quiet the board takes commands again.
        const int weak = 5 * 512 + 100;
        QByteArray image = randomImage(32768, 23);
        image[weak] = 0x00;
        writeFile(at("weak-image.bin"), image);
        AvrBoard avr({"--weak", QString::number(weak), "--save", at("weak-chip.bin"), "--log", at("weak.log")});
        const Run write = cli({"--port", avr.path(), "write", at("weak-image.bin")});
        QCOMPARE(write.status, 1);
        QVERIFY2(write.lines.join(u' ').startsWith("write: failed"), qPrintable(write.lines.join(u' ')));
        QTest::qWait(300);
        const Run blank = cli({"--port", avr.path(), "blank"});
        QVERIFY2(blank.status == 1 && blank.lines.join(u' ').startsWith("blank: not blank at 0x0000"), qPrintable(blank.lines.join(u' ')));
        QVERIFY2(avr.stop(), qPrintable(avr.said));
        // One pulse for each byte to program, the weak cell's 25, not one more.
        QCOMPARE(avr.pulses(), int(weak - image.left(weak).count(char(0xFF))) + 25);
        const QByteArray chip = readFile(at("weak-chip.bin"));
        QCOMPARE(chip.left(weak), image.left(weak));
        QCOMPARE(chip.mid(weak), erased(32768 - weak));
        const QByteArray sent = receivedByBoard(at("weak.log"), "<").bytes;
        // After the check's stream of the erased chip: five blocks taken, then the failure.
        QCOMPARE(sent.mid(32768, 6), QByteArray::fromHex("0d0d0d0d0d62"));
    }

    void neverProgramsWhatItWasNotSent_data()
    {
        QTest::addColumn<bool>("reopened");  // or a pause inside the block
        QTest::newRow("a pause of 0.3 s inside a block") << false;
        QTest::newRow("a new open 30 ms after a write left half-way") << true;
    }
    void neverProgramsWhatItWasNotSent()
    {
        // The rest of a block that comes after the board gave the write up, and a new program's
        // first frame, are not image data, nor commands: the second half of the block is frames that
        // would program a byte and start a write anew.
        QFETCH(bool, reopened);
        QByteArray image = randomImage(32768, 41);
        for (int at = 256; at + 6 <= 512; at += 6)
            image.replace(at, 6, QByteArray::fromHex("ff5a13ff471c"));
        AvrBoard avr({"--save", at("sent-chip.bin"), "--log", at("sent.log")});
        QByteArray answer;
        {
            RawPort port(avr.path());
            port.receive(700);  // the board shows itself, the line goes quiet
            port.send(writeStartFrame() + image.left(256));
            answer = port.receive(256 * 1000 / 1920 + (reopened ? 0 : 300));  // the half block's line time, then the pause
            if (!reopened) {
                port.send(image.mid(256, 256));
                answer += port.receive(500);
            }
        }
        if (reopened) {
            QTest::qWait(30);
            RawPort again(avr.path());
            again.send(streamFrame());
            again.receive(500);
        }
        QVERIFY2(avr.stop(), qPrintable(avr.said));
        const QByteArray chip = readFile(at("sent-chip.bin"));
        const qsizetype programmed = qMin<qsizetype>(programmedUpTo(chip, image), 256);
        QVERIFY2(programmed == 256 || (reopened && programmed > 0), qPrintable(QString::number(programmed)));
        QCOMPARE(chip.mid(programmed), erased(int(chip.size() - programmed)));
        // A write given up by silence is said to be so, at once: before the rest of the block came.
        QCOMPARE(answer, reopened ? QByteArray() : QByteArray("\x62"));
        const QList<QByteArray> log = readFile(at("sent.log")).split('\n');
        const auto failed = std::find_if(log.begin(), log.end(), [](const QByteArray &l) { return l.endsWith(" < 62"); });
        QVERIFY(reopened || std::count_if(log.begin(), failed, [](const QByteArray &l) { return l.contains(" > "); }) == 3 + 256);
        // The board shows itself 0.1-0.25 s after each open, when the program can see it.
        const auto time = [](const QByteArray &line) { return line.split(' ').first().toDouble(); };
        int opens = 0;
        for (qsizetype i = 0; i < log.size(); ++i) {
            if (!log[i].endsWith(" DTR 1"))
                continue;
            ++opens;
            QVERIFY2(std::any_of(log.begin() + i, log.end(), [&](const QByteArray &line) {
                         return line.contains(" DSR ") && time(line) - time(log[i]) >= 0.1 && time(line) - time(log[i]) <= 0.25;
                     }), log[i].constData());
        }
        QCOMPARE(opens, reopened ? 2 : 1);
    }

    void slowCellsFailCleanly_data()
    {
        QTest::addColumn<QString>("pulses");
        QTest::newRow("8 pulses a cell") << "8";
        QTest::newRow("25 pulses a cell") << "25";
    }
    void slowCellsFailCleanly()
    {
        // Blocks 0 and 1 to program, the rest held already: the board acknowledges each block only
        // once it is programmed, late when its cells are slow. The write then succeeds, or fails in
        // the program's 500 ms, and the board gives it up: never a byte it was not sent.
        QFETCH(QString, pulses);
        QByteArray image = randomImage(32768, 42);
        for (int block = 0; block < 64; ++block)  // frames that a block taken for commands would run
            image.replace(block * 512, 6, QByteArray::fromHex("ff5a13ff471c"));
        writeFile(at("slow-image.bin"), image);
        writeFile(at("slow-start.bin"), erased(1024) + image.mid(1024));
        AvrBoard avr({"--pulses", pulses, "--chip", at("slow-start.bin"), "--save", at("slow-chip.bin")});
        const Run write = cli({"--port", avr.path(), "--no-check", "--no-verify", "write", at("slow-image.bin")});
        const QString said = write.lines.join(u' ');
        QVERIFY2((write.status == 0 && said.startsWith("write: ok")) || (write.status == 1 && said.endsWith("[ERRORE]")), qPrintable(said));
        QVERIFY2(avr.stop(), qPrintable(avr.said));
        const QByteArray chip = readFile(at("slow-chip.bin"));
        const qsizetype programmed = programmedUpTo(chip, image);
        QVERIFY2(write.status == 0 ? programmed == chip.size() : programmed < 1024, qPrintable(QString::number(programmed)));
        QCOMPARE(chip.mid(programmed, 1024 - programmed), erased(int(1024 - programmed)));
        QCOMPARE(chip.mid(1024), image.mid(1024));
    }

    void refusedWithoutAPulse_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("VPP at 16 V") << QStringList{"--vpp", "16"};
        QTest::newRow("VPP at 11 V") << QStringList{"--vpp", "11"};
        QTest::newRow("VCC at 7 V") << QStringList{"--vcc-program", "7"};
        QTest::newRow("a bit made 1") << QStringList{};
    }
    void refusedWithoutAPulse()
    {
        // Supplies outside the chip's window are measured and refused before the first pulse, by a
        // write and by SCRIVO DATO; so is a byte whose bits would have to go from 0 to 1.
        QFETCH(QStringList, arguments);
        QByteArray start = erased();
        start[0] = 0x00;
        writeFile(at("refused-start.bin"), start);
        QByteArray image = start;
        image[0] = 0x01;
        writeFile(at("refused-image.bin"), image);
        AvrBoard avr(arguments + QStringList{"--chip", at("refused-start.bin"), "--save", at("refused-chip.bin")});
        const Run write = cli({"--port", avr.path(), "--no-check", "--no-verify", "write", at("refused-image.bin")});
        QVERIFY2(write.status == 1 && write.lines.join(u' ').endsWith("[ERRORE]"), qPrintable(write.lines.join(u' ')));
        QTest::qWait(300);  // the board takes commands again once the line is quiet
        QByteArray answer;
        {
            RawPort port(avr.path());
            port.receive(700);
            port.send(*commandFrame(0, CommandCode::WriteData));
            answer = port.receive(300);
        }
        QVERIFY2(avr.stop(), qPrintable(avr.said));
        QCOMPARE(avr.pulses(), 0);
        QCOMPARE(readFile(at("refused-chip.bin")), start);
        QCOMPARE(answer, arguments.isEmpty() ? QByteArray() : QByteArray("\x62"));
    }

    void aHangEndsWithTheSuppliesOff()
    {
        // A test build's command that hangs with the supplies on: the watchdog resets the board,
        // and the reset switches them off.
        AvrBoard avr({"--firmware", QStringLiteral(ROMIVO_FIRMWARE_HOOKS_ELF), "--trace", at("hang.vcd")});
        {
            RawPort port(avr.path());
            port.receive(700);
            port.send(*commandFrame(0, 85));
            port.receive(700);
        }
        avr.stop();
        // The times at which VPP rose and fell, from the trace (in units of 100 ps).
        const QList<QByteArray> trace = readFile(at("hang.vcd")).split('\n');
        const auto var = std::find_if(trace.begin(), trace.end(), [](const QByteArray &l) { return l.startsWith("$var") && l.contains(" VPP "); });
        QVERIFY(var != trace.end());
        const QByteArray id = var->split(' ').value(3);
        QList<double> changes;
        double now = 0;
        for (const QByteArray &line : trace) {
            if (line.startsWith('#'))
                now = line.mid(1).toDouble() * 1e-10;
            else if (line.size() > 1 && line.mid(1) == id && !changes.isEmpty() == (line[0] == '0'))
                changes << now;
        }
        QVERIFY2(changes.size() == 2 && changes[1] - changes[0] < 0.3, qPrintable(avr.said));
    }

    void streamsEndAtOnce_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("a stop after a stray frame start") << QByteArray::fromHex("ff63");
        QTest::newRow("a command") << *commandFrame(0, CommandCode::CounterReset);
    }
    void streamsEndAtOnce()
    {
        // What ends a stream ends it with the bytes already queued: none may pass for an answer.
        QFETCH(QByteArray, sent);
        AvrBoard avr({});
        RawPort port(avr.path());
        port.receive(700);
        port.send(streamFrame());
        QVERIFY(port.receive(300).size() > 100);
        port.send(sent);
        const QByteArray after = port.receive(300);
        QVERIFY2(after.size() <= 8, qPrintable(QString::number(after.size())));
        QVERIFY2(avr.stop(), qPrintable(avr.said));
    }

    void theServiceCommands()
    {
        // POSIZIONO then LEGGO DATO answer the byte at that address; SCRIVO DATO programs it.
        QByteArray start = erased();
        start[0x1234] = char(0xA5);
        writeFile(at("service.bin"), start);
        AvrBoard avr({"--chip", at("service.bin"), "--save", at("service-after.bin")});
        SessionBench<QtSerialControl> b;
        b.port.setCommPort(avr.path());
        QVERIFY(b.port.open());
        QTest::qWait(StreamStart::AfterOpenMs);
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
        QVERIFY2(avr.stop(), qPrintable(avr.said));
        QByteArray after = start;
        after[256] = 90;
        QCOMPARE(readFile(at("service-after.bin")), after);
    }
};

QTEST_GUILESS_MAIN(TestAvrBoard)
#include "tst_avr_board.moc"
