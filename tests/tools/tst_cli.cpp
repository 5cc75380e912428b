// SPDX-License-Identifier: GPL-3.0-or-later
// romivo-cli as a script runs it: exit statuses, printed messages, the simulated chip kept between
// runs, and romivo-board on a pseudo-terminal that stalls, goes away or is interrupted.
#include "BoardProcess.h"
#include "CliProcess.h"
#include "Files.h"

#include "operations/ImageFormats.h"

#include <csignal>
#include <sys/stat.h>


class TestCli : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString at(const QString &name) const { return dir.filePath(name); }

private slots:
    void usage()
    {
        const Run help = cli({"--help"});
        QVERIFY(help.status == 0 && help.lines.join(u'\n').contains("Exit status"));
        QCOMPARE(cli({"--version"}).lines, QStringList{"romivo-cli 0.1.0"});
        QCOMPARE(cli({"--port=SIM", "blank"}).status, 0);
        // One port a line, its device and description first, the simulated board last.
        const Run ports = cli({"--list-ports"});
        QCOMPARE(ports.lines.last(), "SIM\tthe built-in simulated board");
        for (const QString &line : ports.lines)
            QVERIFY2(line.count(u'\t') >= 1 && !line.startsWith(u'\t'), qPrintable(line));
        // The board refuses a chip file it could not save before the session starts, not after it.
        QCOMPARE(QProcess::execute(ROMIVO_BOARD_TOOL, {"--save", "/nonexistent-romivo/chip.bin"}), 2);
        // Nor does it wait at start for a writer to a FIFO named as its chip.
        QVERIFY(::mkfifo(qPrintable(at("chip-fifo")), 0600) == 0);
        QProcess board;
        board.start(ROMIVO_BOARD_TOOL, {"--chip", at("chip-fifo")});
        QVERIFY(board.waitForFinished(5000) && board.exitCode() == 2);
    }

    void runsOnOneSimulatedChip()
    {
        const QString chip = at("chip.bin"), hex = at("a.hex"), back = at("b.bin");
        writeFile(hex, ":04010000DEADBEEFC3\n:00000001FF\n");
        QByteArray image(32768, char(0xFF));
        image.replace(0x100, 4, QByteArray::fromHex("deadbeef"));
        const Run first = cli({"--port", "sim", "--sim-chip", chip, "write", hex});  // verified after it
        QCOMPARE(first.status, 0);
        QCOMPARE(first.lines, (QStringList{"write: ok, checksum 7F3C 3D75CCFB [CORRETTO]",
                                           "verify: ok, checksum 7F3C 3D75CCFB [VERIFICA ESEGUITA CORRETTAMENTE]"}));
        QCOMPARE(readFile(chip), image);
        // A later run sees the same chip (a file read is then verified as it will be); a difference
        // ends the run at its location.
        const Run second = cli({"--port", "SIM", "--sim-chip", chip, "read", back, "verify", back, "blank"});
        QCOMPARE(second.status, 1);
        QCOMPARE(second.lines, (QStringList{"read: ok, checksum 7F3C 3D75CCFB [TERMINATO]", "verify: ok, checksum 7F3C 3D75CCFB [VERIFICA ESEGUITA CORRETTAMENTE]",
                                            "blank: not blank at 0x0100 (chip 0xDE) [IL CHIP NON E' VUOTO]"}));
        QCOMPARE(readFile(back), image);
        writeFile(back, QByteArray(32768, char(0xFF)));
        const Run differs = cli({"--port", "SIM", "--sim-chip", chip, "verify", back, "blank"});
        QCOMPARE(differs.lines, QStringList{"verify: differs at 0x0100 (chip 0xDE, file 0xFF) [ERRORE al byte  256]"});
        QCOMPARE(differs.status, 1);
        // Before a write the chip is read: one that cannot take the image is not written, even when
        // a single location cannot and every other one could; one that holds it already is not
        // written again.
        QByteArray oneLocked(32768, '\0');
        oneLocked.replace(0x100, 4, QByteArray::fromHex("ffadbeef"));
        const std::pair<QString, int> refusedWrites[] = {{back, 4}, {writeFile(at("one-locked.bin"), oneLocked), 1}};
        for (const auto &[file, locked] : refusedWrites) {
            const Run cannot = cli({"--port", "SIM", "--sim-chip", chip, "write", file});
            QCOMPARE(cannot.lines, QStringList{QString("write: refused, %1 of the chip's locations cannot take the image (a bit would have to go "
                                                       "from 0 to 1), the first 0x0100 (chip 0xDE, image 0xFF); nothing was written").arg(locked)});
            QCOMPARE(cannot.status, 1);
            QCOMPARE(readFile(chip), image);
        }
        const Run stalled = cli({"--port", "SIM", "--sim-fault", "short-stream=100", "--idle-timeout", "0.3", "write", hex});
        QCOMPARE(stalled.lines, QStringList{"write: stalled at 0x0064 in the check before writing; nothing was written "
                                            "[FERMATO: NESSUN DATO DAL CHIP ALLA LOCAZIONE 100]"});
        QCOMPARE(stalled.status, 1);
        QCOMPARE(cli({"--port", "SIM", "--sim-chip", chip, "write", hex}).lines,
                 (QStringList{"write: unchanged, the chip already holds the image (not written again), checksum 7F3C 3D75CCFB",
                              "verify: ok, checksum 7F3C 3D75CCFB [VERIFICA ESEGUITA CORRETTAMENTE]"}));
        // A write the board took whole, on a chip with a bit that will not program, fails its verify.
        const Run stuck = cli({"--port", "SIM", "--sim-fault", "stuck=0x100:0x01", "write", writeFile(at("zeros.bin"), QByteArray(32768, '\0'))});
        QVERIFY2(stuck.status == 1 && stuck.lines.first().endsWith("[CORRETTO]")
                     && stuck.lines.last() == "verify: differs at 0x0100 (chip 0x01, file 0x00) [ERRORE al byte  256]", qPrintable(stuck.lines.join(u'|')));
        // A raw image of another size is taken as the window takes it only when asked.
        QCOMPARE(cli({"--port", "SIM", "--sim-chip", chip, "--any-size", "verify", writeFile(back, image.left(300))}).status, 0);
        // A run that cannot keep its simulated chip does not pass.
        QCOMPARE(QProcess::execute("chattr", {"+i", chip}), 0);
        const Run unsaved = cli({"--port", "SIM", "--sim-chip", chip, "read", back});
        QProcess::execute("chattr", {"-i", chip});
        QVERIFY2(unsaved.status == 2 && unsaved.errors.contains("cannot save the simulated chip"), qPrintable(unsaved.errors));
    }

    void compareNamesEveryDifference()
    {
        // Bit 2 reads 0 at 70 locations where the image has it set (a stuck data line), and one
        // location reads 0x80 where the image has 0x00 (still programmable).
        QByteArray image = randomImage(32768), chip;
        for (int i = 0; i < 70; ++i)
            image[i * 97] = char(image[i * 97] | 0x04);
        image[32767] = 0x00;
        chip = image;
        for (int i = 0; i < 70; ++i)
            chip[i * 97] = char(image[i * 97] & ~0x04);
        chip[32767] = char(0x80);
        const QString sim = writeFile(at("compare-chip.bin"), chip), file = writeFile(at("compare-image.bin"), image);
        const Run listed = cli({"--port", "SIM", "--sim-chip", sim, "compare", file});
        QCOMPARE(listed.status, 1);
        QCOMPARE(listed.lines.size(), 64 + 2);
        QCOMPARE(listed.lines.at(1), QString::asprintf("0x0061: chip 0x%02X, file 0x%02X", quint8(chip[97]), quint8(image[97])));
        QCOMPARE(listed.lines.at(64), "... and 7 more");
        QCOMPARE(listed.lines.last(), "compare: differs, 71 locations; 70 bits read 0 where the file has 1 (only an erase makes them 1), "
                                      "1 bits read 1 where the file has 0 (a write can still program them); differing bits 0x84");
        // The count of what was left out follows only when something was.
        const auto listedTo = [&](const char *most) { return cli({"--port", "SIM", "--sim-chip", sim, "--max-lines", most, "compare", file}).lines.mid(70, 2); };
        QCOMPARE(listedTo("71"), (QStringList{"0x7FFF: chip 0x80, file 0x00", listed.lines.last()}));
        QCOMPARE(listedTo("70"), (QStringList{"... and 1 more", listed.lines.last()}));
        // As JSON: one object, the listing bounded by --max-lines, each difference with the chip's
        // byte and the file's.
        const Run json = cli({"--port", "SIM", "--sim-chip", sim, "--json", "--max-lines", "2", "compare", file, "blank"});
        QCOMPARE(json.lines.size(), 1);
        const QJsonObject object = QJsonDocument::fromJson(json.lines.first().toUtf8()).object();
        const auto field = [&](const char *key) { return object.value(key).toVariant().toString(); };
        const auto difference = [&](int at) { return QJsonObject{{"location", at}, {"chip", quint8(chip.at(at))}, {"file", quint8(image.at(at))}}; };
        QCOMPARE((QStringList{field("operation"), field("outcome"), field("differences"), field("bits_to_erase"), field("bits_to_program"),
                              field("differing_bits"), field("chip"), field("file")}),
                 (QStringList{"compare", "differs", "71", "70", "1", "132", QString::number(quint8(chip[0])), QString::number(quint8(image[0]))}));
        QCOMPARE(object.value("listed").toArray(), (QJsonArray{difference(0), difference(97)}));
        // Equal, and a write's two objects with the image's checksum.
        const Run equal = cli({"--port", "SIM", "--sim-chip", sim, "--json", "compare", sim, "write", sim});
        QCOMPARE(equal.status, 0);
        QStringList outcomes;
        for (const QString &line : equal.lines) {
            const QJsonDocument o = QJsonDocument::fromJson(line.toUtf8());
            outcomes << o["operation"].toString() + ' ' + o["outcome"].toString() + ' ' + o["checksum"]["crc32"].toString();
        }
        const QString crc = checksumOf(chip).section(u' ', 1);
        QCOMPARE(outcomes, (QStringList{"compare equal " + crc, "write unchanged " + crc, "verify ok " + crc}));
    }

    void readWritesExactlyTheChip()
    {
        // Every target holds the chip and nothing more: a longer raw file is cut, a HEX or
        // S-record file is written in the format its name or --format says.
        const QByteArray chip = randomImage(32768, 11);
        const QString sim = writeFile(at("read-chip.bin"), chip);
        writeFile(at("long.bin"), randomImage(40000));
        const QStringList targets{"long.bin", "a.hex", "b.s19", "c.s28", "d.s37", "e.mot"};
        QStringList arguments{"--port", "SIM", "--sim-chip", sim};
        for (const QString &target : targets)
            arguments << "read" << at(target);
        QCOMPARE(cli(arguments).status, 0);
        QCOMPARE(cli({"--port", "SIM", "--sim-chip", sim, "--format", "srec", "read", at("f.bin")}).status, 0);
        // The data read back by binutils; the record counts and terminations by the program's reader,
        // which checks them; the S5 record itself, which a reader may do without, counts the 2048
        // data records.
        for (const QString &target : targets.mid(1) + QStringList{"f.bin"}) {
            const bool hex = target.endsWith(".hex");
            const QStringList objcopy{"-I", hex ? "ihex" : "srec", "-O", "binary", at(target), at("objcopy.bin")};
            QVERIFY2(QProcess::execute("objcopy", objcopy) == 0 && readFile(at("objcopy.bin")) == chip, qPrintable(target));
            QVERIFY2((hex ? ImageFormats::parseIntelHex : ImageFormats::parseSRecord)(readFile(at(target))).ok()
                         && (hex || readFile(at(target)).contains("\nS5030800F4\n")), qPrintable(target));
        }
        QCOMPARE(readFile(at("long.bin")), chip);
        QVERIFY(readFile(at("c.s28")).contains("\nS2") && readFile(at("d.s37")).contains("\nS3"));
        // A target that cannot be replaced is refused before the chip is read.
        Immutable locked(at("long.bin"));
        const Run refused = cli({"--port", "SIM", "--sim-chip", sim, "read", at("long.bin")});
        QVERIFY2(refused.status == 2 && refused.lines.isEmpty() && refused.errors.contains("cannot be written"), qPrintable(refused.errors));
    }

    void refusedBeforeAnythingIsSent_data()
    {
        // Each command, with %1 standing for a scratch folder, must end with status 2, say why, and
        // leave the simulated chip untouched.
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("says");
        const QString sim = "--port SIM --sim-chip %1/chip.bin ";
        QTest::newRow("missing image") << sim + "write %1/none.bin" << "No such file";
        QTest::newRow("missing verify image") << sim + "verify %1/none.bin" << "No such file";
        // (Found before the blank check, which would fail first.)
        QTest::newRow("missing image late in the line") << sim + "blank read %1/r.bin verify %1/none.bin" << "No such file";
        QTest::newRow("an operation taken for a file") << sim + "write blank" << "blank: No such file";
        QTest::newRow("image that cannot be read") << sim + "write /proc/self/mem" << "/proc/self/mem:";
        QTest::newRow("FIFO image") << sim + "write %1/fifo" << "not a regular file";
        QTest::newRow("FIFO target") << sim + "read %1/fifo" << "not a regular file";
        QTest::newRow("HEX file far too large") << sim + "write %1/big.hex" << "larger than 4 MB";
        QTest::newRow("S-record cut short") << sim + "write %1/cut.s19" << "no termination record";
        QTest::newRow("name the locale cannot spell") << sim + "write %1/fw$'\\xff'.bin" << "not valid text";
        QTest::newRow("bad HEX line") << sim + "write %1/bad.hex" << "line 2: bad checksum";
        QTest::newRow("raw image of another size") << sim + "verify %1/fw.bin" << "3 bytes, not the chip's 32768 (--any-size takes it";
        QTest::newRow("raw image longer than the chip") << sim + "write %1/long.bin" << "32769 bytes, not the chip's 32768 (--any-size takes it";
        QTest::newRow("S-record named raw") << sim + "verify %1/cut.s19.bin" << "43 bytes, not the chip's 32768; it begins like an S-record file, which --format srec reads";
        QTest::newRow("HEX named .txt") << sim + "write %1/fw.txt" << "; it begins like Intel HEX, which --format ihex reads";
        QTest::newRow("S-record whose count misses a line") << sim + "--format srec write %1/gap.bin" << "gap.bin: line 3: the count record says 3 data records, the file has 2";
        QTest::newRow("device image, any size") << sim + "--any-size write /dev/zero" << "/dev/zero: not a regular file (a device)";
        QTest::newRow("FIFO simulated chip") << "--port SIM --sim-chip %1/fifo blank" << "/fifo: not a regular file (a FIFO";
        QTest::newRow("name with a newline") << sim + "write %1/$'new\\nline.bin'" << "new\\nline.bin': No such file";
        QTest::newRow("output full") << sim + "blank >/dev/full" << "cannot write to standard output: No space left on device";
        QTest::newRow("output closed") << sim + "blank >&-" << "cannot write to standard output: Bad file descriptor";
        QTest::newRow("wait longer than a day") << "--wait-board 86401 blank" << "--wait-board takes at most 86400 seconds (a day), not 86401; see --help";
        QTest::newRow("a directory") << sim + "write %1/" << "Nessun file selezionato";
        QTest::newRow("target in a missing directory") << sim + "read %1/nowhere/x.bin" << "cannot be written";
        QTest::newRow("device target") << sim + "read /dev/null" << "not a regular file";
        // (A read that ran would stall there, status 1.)
        QTest::newRow("256-character target") << sim + "--sim-fault short-stream=0 --idle-timeout 0.3 read %1/" + QString(256, u'n') << "File name too long";
        QTest::newRow("port that does not open") << "--port /dev/romivo-no-such-port blank" << "/dev/romivo-no-such-port";
        QTest::newRow("no port") << "--sim-chip %1/chip.bin blank" << "--port is required";
        QTest::newRow("simulated chip with a real port") << "--port /dev/ttyS0 --sim-chip %1/chip.bin blank" << "with --port SIM only";
        // (A pseudo-terminal always shows its DSR change, so the simulated board shows its absence.)
        QTest::newRow("no board seen") << sim + "--sim-fault no-dsr --wait-board 0.3 blank" << "no board seen on SIM";
        QTest::newRow("unknown fault") << sim + "--sim-fault nonsense blank" << "no such fault";
        const QString overwrites = "a trace cannot take the place of a file the run reads or writes";
        QTest::newRow("trace over the simulated chip") << sim + "--trace %1/chip.bin blank" << overwrites;
        QTest::newRow("trace over an image") << "--port SIM --trace %1/chip.bin verify %1/chip.bin" << overwrites;
        QTest::newRow("trace of a refused plan") << sim + "--trace %1/fw.txt write %1/none.bin" << "none.bin: No such file";
        QTest::newRow("one trace for two boards") << "--port SIM,SIM --trace %1/t-{port}.log blank" << "the trace of more than one board";
        QTest::newRow("trace that cannot be written") << sim + "--trace /dev/full blank" << "cannot write the trace /dev/full: No space left on device";
        QTest::newRow("an empty port in a list") << "--port SIM, blank" << "--port SIM, holds an empty port name";
        QTest::newRow("one port named twice") << "--port /dev/null,/dev/null blank" << "/dev/null: names the same port as /dev/null";
        for (const char *bad : {"", "frobnicate", "write", "--wait-board -1 blank", "--port", "--prot SIM blank",
                               "--max-lines -1 blank", "--format elf blank"})
            QTest::addRow("usage '%s'", bad) << bad << "; see --help";
        QTest::newRow("unknown option, one line") << "--prot SIM blank" << "romivo-cli: unknown option --prot; see --help\n";
    }
    void refusedBeforeAnythingIsSent()
    {
        QFETCH(QString, command);
        QFETCH(QString, says);
        QTemporaryDir scratch;
        QByteArray programmed(32768, char(0xFF));
        programmed[5] = 0x12;
        const std::pair<const char *, QByteArray> files[] = {{"chip.bin", programmed}, {"fw\u00ff.bin", programmed},
            {"big.hex", QByteArray(5 << 20, '\n')}, {"cut.s19", "S1130000000102030405060708090A0B0C0D0E0F74\n"},
            {"cut.s19.bin", "S1130000000102030405060708090A0B0C0D0E0F74\n"},
            {"bad.hex", ":020000001122CB\n:02000000112200\n:00000001FF\n"}, {"fw.bin", "\x12\x34\x56"}, {"fw.txt", ":020000001122CB\n:00000001FF\n"},
            {"gap.bin", "S104000001FA\nS104000203F6\nS5030003F9\nS9030000FC\n"}, {"long.bin", QByteArray(32769, '\0')}};
        for (const auto &[name, bytes] : files)
            writeFile(scratch.filePath(QString::fromUtf8(name)), bytes);
        QVERIFY(::mkfifo(qPrintable(scratch.filePath("fifo")), 0600) == 0);
        // Through the shell, so that the name with a byte invalid in UTF-8 reaches the program as is.
        const Run shell = cli({}, {"/bin/bash", "-c", "exec \"$0\" " + command.arg(scratch.path())});
        const QString said = shell.errors + shell.lines.join(u'\n');
        QVERIFY2(shell.status == 2 && said.contains(says), qPrintable(said));
        for (const auto &[name, bytes] : files)
            QVERIFY2(readFile(scratch.filePath(QString::fromUtf8(name))) == bytes, name);
        QVERIFY(!QFile::exists(scratch.filePath("none.bin")));
    }

    void boardThatStallsGoesAwayOrIsInterrupted()
    {
        // A stream that stops short is stopped at its location once the line is idle; a name that
        // would split the line is quoted.
        BoardProcess stalling({"--fault", "short-stream=100"});
        const Run stalled = cli({"--port", stalling.path(), "--idle-timeout", "0.5", "read", at("short\n.bin")});
        QCOMPARE(stalled.lines, QStringList{"read: stalled at 0x0064; $'" + at("short\\n.bin") + "' was not replaced [FERMATO: NESSUN DATO DAL CHIP ALLA LOCAZIONE 100]"});
        QCOMPARE(stalled.status, 1);
        QVERIFY(!QFile::exists(at("short\n.bin")));
        // A port this user may not open is refused for access, with the hint to join its group.
        const Run nobody = cli({"--port", stalling.path(), "blank"}, {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
        QVERIFY(nobody.status == 2 && nobody.errors.contains("Permission denied; unless another program holds it, join the group"));
        // Ctrl-C during a read leaves the target as it was and no scratch file beside it; a verify
        // run at once takes nothing of that stream.
        writeFile(at("chip.bin"), randomImage(32768));
        writeFile(at("out.bin"), "an older read");
        BoardProcess paced({"--paced", "--chip", at("chip.bin")});
        const Run reading = cli({"--port", paced.path(), "read", at("out.bin")}, {}, 1500, interrupt);
        const QString said = reading.lines.join(u'|');
        QVERIFY2(reading.status == 130 && said.startsWith("read: interrupted after ") && said.endsWith(" bytes; " + at("out.bin") + " was not replaced"), qPrintable(said));
        QCOMPARE(readFile(at("out.bin")), "an older read");
        QCOMPARE(QDir(dir.path()).entryList({"out.bin*"}, QDir::Files | QDir::Hidden), QStringList{"out.bin"});
        QCOMPARE(cli({"--port", paced.path(), "verify", at("chip.bin")}).status, 0);
        // The board going away during a write leaves a chip that is partly written.
        BoardProcess leaving({"--paced"});
        const Run lost = cli({"--port", leaving.path(), "--no-check", "write", at("chip.bin")}, {}, 1500, [&](QProcess &) { leaving.stop(); });
        QVERIFY2(lost.status == 1 && lost.lines.size() == 1 && lost.lines[0].startsWith("write: port lost; the chip is partly written [COLLEGAMENTO PERSO"),
                 qPrintable(lost.lines.join(u'|')));
        // Ctrl-C while waiting for the board; the board going away during a read, said at once.
        const Run waiting = cli({"--port", "SIM", "--sim-fault", "no-dsr", "--wait-board", "60", "blank"}, {}, 500, interrupt);
        QCOMPARE(waiting.status, 130);
        QCOMPARE(waiting.lines, QStringList{"wait: interrupted"});
        QProcess read;
        read.start(ROMIVO_CLI_TOOL, {"--port", paced.path(), "--idle-timeout", "60", "read", at("out.bin")});
        QTest::qWait(1000);
        const Run held = cli({"--port", paced.path(), "blank"});  // a port another program holds
        QVERIFY2(held.status == 2 && held.errors.endsWith(": the port is busy (another program holds it)\n"), qPrintable(held.errors));
        paced.stop();
        QVERIFY(read.waitForFinished(5000) && read.exitCode() == 1);
        QVERIFY(QString::fromUtf8(read.readAllStandardOutput()).startsWith("read: port lost; " + at("out.bin") + " was not replaced [COLLEGAMENTO PERSO SULLA PORTA "));
    }

    void batchesOnSeveralBoards()
    {
        // Three boards at once, one of them failing its write: the other two get exactly the bytes a
        // single board gets; the failure ends only its own board's run (the others, at the line's
        // pace, write side by side and are still writing then) and the summary names it.
        const QByteArray image = randomImage(32768, 31);
        writeFile(at("batch.bin"), image);
        BoardProcess single({"--log", at("single.log")});
        QCOMPARE(cli({"--port", single.path(), "write", at("batch.bin")}).status, 0);
        BoardProcess good({"--paced", "--log", at("good.log")}), faulty({"--log", at("faulty.log"), "--fault", "0x62-for-ack=5"}),
            other({"--paced", "--log", at("other.log")});
        const Run batch = cli({"--port", good.path() + "," + faulty.path(), "--port", other.path(), "write", at("batch.bin")});
        QCOMPARE(batch.status, 1);
        const QString ok = QStringLiteral(": write: ok, checksum ") + checksumOf(image) + " [CORRETTO]";
        for (const QString &expected : {good.path() + ok, other.path() + ok, faulty.path() + ": write: failed, the board did not take every block [ERRORE]"})
            QVERIFY2(batch.lines.contains(expected), qPrintable(batch.lines.join(u'|')));
        QCOMPARE(batch.lines.last(), "batch: 2 of 3 boards succeeded; not: " + faulty.path());
        const QByteArray wire = receivedByBoard(at("single.log")).bytes;
        QCOMPARE(receivedByBoard(at("good.log")).bytes, wire);
        QCOMPARE(receivedByBoard(at("other.log")).bytes, wire);

        // A read needs one target for each board: refused before anything is sent, then with {n}
        // each target holds its own board's chip.
        const QByteArray first = randomImage(32768, 32), second = randomImage(32768, 33);
        BoardProcess one({"--chip", writeFile(at("first.bin"), first), "--log", at("one.log")}),
            two({"--chip", writeFile(at("second.bin"), second), "--log", at("two.log")});
        const QString both = one.path() + "," + two.path();
        const Run refused = cli({"--port", both, "read", at("chip.bin")});
        QVERIFY2(refused.status == 2 && refused.errors.contains("needs {port} or {n}"), qPrintable(refused.errors));
        QVERIFY(receivedByBoard(at("one.log")).bytes.isEmpty() && receivedByBoard(at("two.log")).bytes.isEmpty());
        // Nor may two boards' names make one target, nor two names lead to one board (a link to it):
        // its sessions would write to it side by side.
        QVERIFY(QFile::link(two.path(), at(QFileInfo(one.path()).fileName())) && QFile::link(one.path(), at("one-again")));
        const std::pair<QString, QString> colliding[] = {{one.path() + "," + at(QFileInfo(one.path()).fileName()), "the target of more than one board"},
                                                         {one.path() + "," + at("one-again"), "names the same port as " + one.path()}};
        for (const auto &[ports, says] : colliding) {
            const Run refusedToo = cli({"--port", ports, "read", at("chip-{port}.bin")});
            QVERIFY2(refusedToo.status == 2 && refusedToo.errors.contains(says), qPrintable(refusedToo.errors));
        }
        QVERIFY(receivedByBoard(at("one.log")).bytes.isEmpty() && receivedByBoard(at("two.log")).bytes.isEmpty());
        QCOMPARE(cli({"--port", both, "read", at("chip-{n}.bin")}).status, 0);
        QCOMPARE(readFile(at("chip-1.bin")), first);
        QCOMPARE(readFile(at("chip-2.bin")), second);

        // Ctrl-C stops every board's stream with its stop byte and leaves every target as it was; the
        // batch ends as interrupted even when a board had failed before.
        BoardProcess slow({"--paced", "--log", at("slow.log")}), slower({"--paced", "--log", at("slower.log")}), stalls({"--fault", "short-stream=10"});
        writeFile(at("kept-1.bin"), "kept");
        writeFile(at("kept-2.bin"), "kept");
        const Run stopped = cli({"--port", slow.path() + "," + slower.path() + "," + stalls.path(), "--idle-timeout", "0.3", "read", at("kept-{n}.bin")}, {}, 2500,
                                interrupt);
        QVERIFY2(stopped.status == 130 && stopped.lines.last() == "batch: 0 of 3 boards succeeded; not: " + slow.path() + ", " + slower.path() + ", " + stalls.path()
                     && stopped.lines.contains(stalls.path() + ": read: stalled at 0x000A; " + at("kept-3.bin") + " was not replaced [FERMATO: NESSUN DATO DAL CHIP ALLA LOCAZIONE 10]"),
                 qPrintable(stopped.lines.join(u'|')));
        for (const QString &log : {at("slow.log"), at("slower.log")})
            QVERIFY(receivedByBoard(log).bytes.startsWith(QByteArray::fromHex("ff7e1e63")));
        QCOMPARE(readFile(at("kept-1.bin")), "kept");
        QCOMPARE(readFile(at("kept-2.bin")), "kept");
    }

    void progressLineClearedBeforeTheResult()
    {
        // On a terminal the progress line, drawn while the chip streams at the line rate, is cleared
        // before the result line is printed.
        QByteArray chip = erased();
        chip[1500] = 0x00;
        BoardProcess board({"--paced", "--chip", writeFile(at("differs.bin"), chip)});
        QProcess terminal;
        terminal.start("script", {"-qec", QStringLiteral("%1 --port %2 verify %3").arg(ROMIVO_CLI_TOOL, board.path(), writeFile(at("ff.bin"), erased())), "/dev/null"});
        QVERIFY(terminal.waitForFinished(20000));
        const QByteArray out = terminal.readAllStandardOutput();
        QVERIFY2(out.contains("/32768") && out.contains("\r\x1b[Kverify: differs at 0x05DC (chip 0x00, file 0xFF) [ERRORE al byte  1500]\r\n"), out.right(200).constData());
    }

    void aWriteThatFailedOrWasStoppedSendsNothingMore_data()
    {
        QTest::addColumn<QString>("board");
        QTest::addColumn<int>("interruptMs");  // -1: left to end
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");  // a pattern
        QTest::newRow("block 3 unanswered") << "--fault=silent-after-block=3" << -1 << 1 << "write: failed, the board did not take every block \\[ERRORE\\]";
        QTest::newRow("interrupted") << "--paced" << 1500 << 130 << "write: interrupted at 0x[0-9A-F]{4}; the chip is partly written";
    }
    void aWriteThatFailedOrWasStoppedSendsNothingMore()
    {
        // Each block begins with bytes that a board which has given up the write would take for
        // "program 0x00": none of them may reach it once the write has failed or was stopped.
        QFETCH(QString, board);
        QFETCH(int, interruptMs);
        QFETCH(int, status);
        QFETCH(QString, said);
        QByteArray image = randomImage(32768);
        for (int block = 0; block < 64; ++block)
            image.replace(block * 512, 8, QByteArray::fromHex("ff0013ff0013ffff"));
        BoardProcess evil({board, "--chip", writeFile(at("ff.bin"), erased()), "--log", at("evil.log"), "--save", at("evil-chip.bin")});
        QElapsedTimer clock;
        clock.start();
        const Run write = cli({"--port", evil.path(), "--no-check", "write", writeFile(at("evil.bin"), image)}, {}, qMax(interruptMs, 0),
                              [&](QProcess &p) { if (interruptMs >= 0) interrupt(p); });
        QVERIFY2(write.status == status && write.lines.size() == 1 && QRegularExpression('^' + said + '$').match(write.lines[0]).hasMatch(),
                 qPrintable(write.lines.join(u'|')));
        // Stopped half-way, it ends only once the board has given the write up, so that the next
        // program's first frame is not taken for image data.
        QVERIFY(interruptMs < 0 || clock.elapsed() - interruptMs >= 500);
        QTest::qWait(300);  // the board gives up a write after 0.2 s of quiet
        QVERIFY(evil.stop());
        if (interruptMs < 0)  // blocks 0 to 2 with their frames, block 3, nothing after it
            QCOMPARE(receivedByBoard(at("evil.log")).bytes.size(), 3 + 4 * 512 + 3 * 3);
        // The chip holds the image as far as the board took it, and is erased beyond.
        const QByteArray chip = readFile(at("evil-chip.bin"));
        const auto programmed = std::mismatch(chip.begin(), chip.end(), image.begin()).first - chip.begin();
        QCOMPARE(chip.mid(programmed), erased(int(chip.size() - programmed)));
    }

    void aWriteKilledMidwayThenANewRun_data()
    {
        QTest::addColumn<QString>("next");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");  // a pattern
        QTest::newRow("a write") << "write" << 130 << "write: interrupted at 0x[0-9A-F]{4}; the chip is partly written";
        QTest::newRow("a blank check") << "blank" << 1 << "blank: not blank at 0x0001 \\(chip 0x00\\) \\[IL CHIP NON E' VUOTO\\]";
    }
    void aWriteKilledMidwayThenANewRun()
    {
        // A program killed inside a block leaves the rest of it queued for the line, and the board
        // still inside the write: the next program's first frame must not reach it as image data or
        // as a bad next-block frame, nor the block's late acknowledgement be taken as chip data.
        QFETCH(QString, next);
        QFETCH(int, status);
        QFETCH(QString, said);
        QByteArray image = randomImage(32768, 5);
        for (int block = 0; block < 64; ++block)
            image.replace(block * 512, 8, QByteArray::fromHex("ff0013ff0013ffff"));
        BoardProcess board({"--paced", "--chip", writeFile(at("killed.bin"), erased()), "--save", at("killed-chip.bin")});
        const QStringList write{"--port", board.path(), "--no-check", "--no-verify", "write", writeFile(at("killed-image.bin"), image)};
        cli(write, {}, 1500, [](QProcess &p) { p.kill(); });
        const Run after = next == "write" ? cli(write, {}, 2000, interrupt)
                                          : cli({"--port", board.path(), "blank"});
        QVERIFY2(after.status == status && after.lines.size() == 1 && QRegularExpression('^' + said + '$').match(after.lines[0]).hasMatch(),
                 qPrintable(after.lines.join(u'|')));
        QTest::qWait(300);
        QVERIFY(board.stop());
        const QByteArray chip = readFile(at("killed-chip.bin"));
        const auto programmed = std::mismatch(chip.begin(), chip.end(), image.begin()).first - chip.begin();
        QVERIFY(programmed > 512);
        QCOMPARE(chip.mid(programmed), erased(int(chip.size() - programmed)));
    }

    void aBoardThatNeverStopsSending_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("said");
        const QString busy = ": busy, the board kept sending and did not stop when asked, so the operation never began";
        QTest::newRow("read") << QStringList{"--idle-timeout", "0.5", "read", at("never.bin")} << "read" + busy + "; " + at("never.bin") + " was not replaced";
        QTest::newRow("write") << QStringList{"--no-check", "write", writeFile(at("never-image.bin"), randomImage(32768))} << "write" + busy + " [ERRORE]";
    }
    void aBoardThatNeverStopsSending()
    {
        // Bytes flowed the whole time, so neither a stall at location 0 nor blocks the board did not
        // take; and the board was asked for nothing but to stop.
        QFETCH(QStringList, arguments);
        QFETCH(QString, said);
        BoardProcess board({"--paced", "--fault", "endless-stream", "--log", at("never.log")});
        const Run run = cli(QStringList{"--port", board.path()} + arguments);
        QCOMPARE(run.lines, QStringList{said});
        QCOMPARE(run.status, 1);
        const QByteArray received = receivedByBoard(at("never.log")).bytes;
        QVERIFY(!received.isEmpty() && received.count(char(0x63)) == received.size());
    }

    void writeAsTheBoardReceivesIt()
    {
        // What a write with its check and verify puts on the wire, to the last byte, though the
        // program ends right after it; ended by a signal, the board saves the chip it was given.
        const QByteArray image = randomImage(32768);
        QByteArray wire = QByteArray::fromHex("ff7e1e ff471c");
        for (int block = 0; block < 64; ++block)
            wire += image.mid(block * 512, 512) + QByteArray::fromHex("ff471d");
        writeFile(at("image.bin"), image);
        BoardProcess board({"--log", at("wire.log"), "--save", at("saved.bin")});
        const Run write = cli({"--port", board.path(), "--trace", at("trace.log"), "write", at("image.bin")});
        const QString checksum = "checksum " + checksumOf(image);
        QCOMPARE(write.lines, (QStringList{"write: ok, " + checksum + " [CORRETTO]", "verify: ok, " + checksum + " [VERIFICA ESEGUITA CORRETTAMENTE]"}));
        QTRY_COMPARE(receivedByBoard(at("wire.log")).bytes, wire + QByteArray::fromHex("ff7e1e"));
        // The program's trace holds what the board's log holds, both ways, timed in seconds since the
        // port opened (the first frame waits out a write another program may have left).
        for (const char *direction : {">", "<"})
            QCOMPARE(receivedByBoard(at("trace.log"), direction).bytes, receivedByBoard(at("wire.log"), direction).bytes);
        const double firstSent = receivedByBoard(at("trace.log")).seconds.value(0);
        QVERIFY2(firstSent >= 0.6 && firstSent < 5, qPrintable(QString::number(firstSent)));
        QVERIFY(board.stop());
        QCOMPARE(readFile(at("saved.bin")), image);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
