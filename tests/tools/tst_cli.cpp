// romivo-cli as a script runs it: exit statuses, printed messages, the simulated chip kept
// between runs, and a board on a pseudo-terminal that stalls or is interrupted.
#include "BoardProcess.h"

#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <sys/stat.h>

namespace {

struct Run {
    int status = -1;
    QStringList lines;  // standard output
    QString errors;     // standard error
};

Run cli(const QStringList &arguments, int timeoutMs = 60000)
{
    QProcess process;
    process.start(QStringLiteral(ROMIVO_CLI_TOOL), arguments);
    Run run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.lines = QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void put(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// An Intel HEX file of `data` at `address`, in records of 16.
QByteArray intelHex(const QByteArray &data, int address)
{
    QByteArray text;
    for (qsizetype off = 0; off < data.size(); off += 16) {
        const QByteArray chunk = data.mid(off, 16);
        QByteArray r;
        const int at = address + int(off);
        r.append(char(chunk.size())).append(char(at >> 8)).append(char(at & 0xFF)).append('\0').append(chunk);
        quint8 sum = 0;
        for (char c : r)
            sum = quint8(sum + quint8(c));
        r.append(char(quint8(-sum)));
        text += ':' + r.toHex().toUpper() + '\n';
    }
    return text + ":00000001FF\n";
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT
private slots:
    void usageAndHelp();
    void writeVerifyAndReadOnOneSimulatedChip();
    void differenceEndsTheRun();
    void noBoardSeen();
    void stalledStreamIsStoppedAtItsLocation();
    void interruptedReadKeepsWhatItStored();
    void refusedBeforeAnythingIsSent_data();
    void refusedBeforeAnythingIsSent();
    void lostPortAndInterruptedWaitEndAtOnce();
    void writeAsTheBoardReceivesIt_data();
    void writeAsTheBoardReceivesIt();
};

void TestCli::usageAndHelp()
{
    const Run help = cli({QStringLiteral("--help")});
    QCOMPARE(help.status, 0);
    QVERIFY(help.lines.join(u'\n').contains(QStringLiteral("Exit status")));
    QCOMPARE(cli({"--version"}).lines, QStringList{"romivo-cli 0.1.0"});
    QCOMPARE(cli({"--port=SIM", "blank"}).status, 0);
    for (const QStringList &bad : {QStringList{}, QStringList{"frobnicate"}, QStringList{"write"},
                                   QStringList{"--wait-board", "-1", "blank"}, QStringList{"--port"}}) {
        const Run run = cli(bad);
        QCOMPARE(run.status, 2);
        QVERIFY(run.lines.isEmpty());
        QVERIFY(run.errors.contains(QStringLiteral("usage: romivo-cli")));
    }
    // The board refuses a chip file it could not save before the session starts, not after it.
    QProcess board;
    board.start(QStringLiteral(ROMIVO_BOARD_TOOL), {"--save", "/nonexistent-romivo/chip.bin"});
    QVERIFY(board.waitForFinished(5000));
    QCOMPARE(board.exitCode(), 2);

    const Run ports = cli({QStringLiteral("--list-ports")});
    QCOMPARE(ports.status, 0);
    QVERIFY(ports.lines.last().startsWith(QStringLiteral("SIM")));
}

void TestCli::writeVerifyAndReadOnOneSimulatedChip()
{
    QTemporaryDir dir;
    const QString chip = dir.filePath(QStringLiteral("chip.bin"));
    const QString hex = dir.filePath(QStringLiteral("a.hex"));
    QByteArray data(1024, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = char(i * 3);
    put(hex, intelHex(data, 0x100));
    QByteArray image(32768, char(0xFF));
    image.replace(0x100, data.size(), data);

    const Run first = cli({"--port", "sim", "--sim-chip", chip, "write", hex, "verify", hex});
    QCOMPARE(first.status, 0);
    QCOMPARE(first.lines, (QStringList{"CORRETTO", "checksum 8200 5F604E8B", "VERIFICA ESEGUITA CORRETTAMENTE",
                                       "checksum 8200 5F604E8B"}));
    QCOMPARE(contents(chip), image);

    // A later run sees the same chip.
    const QString back = dir.filePath(QStringLiteral("b.bin"));
    const Run second = cli({"--port", "SIM", "--sim-chip", chip, "read", back, "blank"});
    QCOMPARE(second.status, 1);
    QCOMPARE(second.lines, (QStringList{"TERMINATO", "checksum 8200 5F604E8B", "IL CHIP NON E' VUOTO"}));
    QCOMPARE(contents(back), image);

    // A run that cannot keep its simulated chip does not pass.
    QCOMPARE(QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), chip}), 0);
    const Run unsaved = cli({"--port", "SIM", "--sim-chip", chip, "read", back});
    QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), chip});
    QCOMPARE(unsaved.status, 2);
    QVERIFY2(unsaved.errors.contains(QStringLiteral("cannot save the simulated chip")), qPrintable(unsaved.errors));
}

void TestCli::differenceEndsTheRun()
{
    QTemporaryDir dir;
    const QString chip = dir.filePath(QStringLiteral("chip.bin"));
    QByteArray programmed(32768, char(0xFF));
    programmed[17] = 0x00;
    put(chip, programmed);
    const QString erased = dir.filePath(QStringLiteral("ff.bin"));
    put(erased, QByteArray(32768, char(0xFF)));

    // A difference: reported at its location, and the run stops there.
    const Run verify = cli({"--port", "SIM", "--sim-chip", chip, "verify", erased, "blank"});
    QCOMPARE(verify.status, 1);
    QCOMPARE(verify.lines, QStringList{"ERRORE al byte  17"});

}

void TestCli::noBoardSeen()
{
    // (A pseudo-terminal always reports its one DSR change, so the simulated board shows this.)
    const Run run = cli({"--port", "SIM", "--sim-fault", "no-dsr", "--wait-board", "0.3", "blank"});
    QCOMPARE(run.status, 2);
    QVERIFY2(run.errors.contains(QStringLiteral("no board seen on SIM")), qPrintable(run.errors));
    QVERIFY(run.lines.isEmpty());
    QCOMPARE(cli({"--port", "SIM", "--sim-fault", "nonsense", "blank"}).status, 2);
}

void TestCli::stalledStreamIsStoppedAtItsLocation()
{
    QTemporaryDir dir;
    BoardProcess board({QStringLiteral("--fault"), QStringLiteral("short-stream=100")});
    const QString out = dir.filePath(QStringLiteral("out.bin"));
    const Run run = cli({"--port", board.path(), "--idle-timeout", "0.5", "read", out});
    QCOMPARE(run.status, 1);
    QCOMPARE(run.lines, QStringList{"FERMATO: NESSUN DATO DAL CHIP ALLA LOCAZIONE 100"});
    QCOMPARE(contents(out), QByteArray(100, char(0xFF)));
}

void TestCli::interruptedReadKeepsWhatItStored()
{
    QTemporaryDir dir;
    const QString chipFile = dir.filePath(QStringLiteral("chip.bin"));
    const QByteArray chip = everyByteValue();
    put(chipFile, chip);
    BoardProcess board({QStringLiteral("--paced"), QStringLiteral("--chip"), chipFile});
    const QString out = dir.filePath(QStringLiteral("out.bin"));
    QProcess process;
    process.start(QStringLiteral(ROMIVO_CLI_TOOL), {"--port", board.path(), "read", out});
    QVERIFY(process.waitForStarted());
    QTest::qWait(1500);
    ::kill(pid_t(process.processId()), SIGINT);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 130);
    const QByteArray stored = contents(out);
    QVERIFY2(stored.size() > 0 && stored.size() < 32768, qPrintable(QString::number(stored.size())));
    QCOMPARE(stored, chip.left(stored.size()));

    // Run at once, a verify does not take the tail of the stopped stream for its own.
    const Run verify = cli({"--port", board.path(), "verify", chipFile});
    QCOMPARE(verify.status, 0);
}

void TestCli::refusedBeforeAnythingIsSent_data()
{
    // Each command, with %1 standing for a scratch folder, must end with status 2, say why, and
    // leave the simulated chip untouched.
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("says");
    QTest::newRow("missing image") << "--port SIM --sim-chip %1/chip.bin write %1/none.bin" << "No such file";
    QTest::newRow("missing verify image") << "--port SIM --sim-chip %1/chip.bin verify %1/none.bin" << "No such file";
    QTest::newRow("an operation taken for a file") << "--port SIM --sim-chip %1/chip.bin write blank" << "blank: No such file";
    QTest::newRow("image that cannot be read") << "--port SIM --sim-chip %1/chip.bin write /proc/self/mem" << "/proc/self/mem:";
    QTest::newRow("FIFO image") << "--port SIM --sim-chip %1/chip.bin write %1/fifo" << "not a regular file";
    QTest::newRow("FIFO target") << "--port SIM --sim-chip %1/chip.bin read %1/fifo" << "not a regular file";
    QTest::newRow("HEX file far too large") << "--port SIM --sim-chip %1/chip.bin write %1/big.hex" << "larger than 4 MB";
    QTest::newRow("S-record cut short") << "--port SIM --sim-chip %1/chip.bin write %1/cut.s19" << "no termination record";
    QTest::newRow("name the locale cannot spell") << "--port SIM --sim-chip %1/chip.bin write %1/fw$'\\xff'.bin" << "not valid text";
    QTest::newRow("bad HEX line") << "--port SIM --sim-chip %1/chip.bin write %1/bad.hex" << "line 2: bad checksum";
    QTest::newRow("a directory") << "--port SIM --sim-chip %1/chip.bin write %1/" << "Nessun file selezionato";
    QTest::newRow("target in a missing directory") << "--port SIM --sim-chip %1/chip.bin read %1/nowhere/x.bin" << "cannot open";
    QTest::newRow("port that does not open") << "--port /dev/romivo-no-such-port blank" << "/dev/romivo-no-such-port";
    QTest::newRow("no port") << "--sim-chip %1/chip.bin blank" << "--port is required";
    QTest::newRow("simulated chip with a real port") << "--port /dev/ttyS0 --sim-chip %1/chip.bin blank" << "with --port SIM only";
}

void TestCli::refusedBeforeAnythingIsSent()
{
    QFETCH(QString, command);
    QFETCH(QString, says);
    QTemporaryDir dir;
    QByteArray programmed(32768, char(0xFF));
    programmed[5] = 0x12;
    put(dir.filePath("chip.bin"), programmed);
    put(dir.filePath("fw\u00ff.bin"), programmed);  // the name as the locale spells it
    QVERIFY(::mkfifo(qPrintable(dir.filePath("fifo")), 0600) == 0);
    put(dir.filePath("big.hex"), QByteArray(5 << 20, '\n'));
    put(dir.filePath("cut.s19"), "S1130000000102030405060708090A0B0C0D0E0F74\n");
    put(dir.filePath("bad.hex"), ":020000001122CB\n:02000000112200\n:00000001FF\n");

    // Through the shell, so that the name with a byte invalid in UTF-8 reaches the program as is.
    QProcess shell;
    shell.start(QStringLiteral("/bin/bash"),
                {QStringLiteral("-c"), QStringLiteral("exec \"$0\" ") + command.arg(dir.path()), QStringLiteral(ROMIVO_CLI_TOOL)});
    QVERIFY(shell.waitForFinished(10000));
    const QString errors = QString::fromUtf8(shell.readAllStandardError() + shell.readAllStandardOutput());
    QCOMPARE(shell.exitCode(), 2);
    QVERIFY2(errors.contains(says), qPrintable(errors));
    QCOMPARE(contents(dir.filePath("chip.bin")), programmed);
    QVERIFY(!QFile::exists(dir.filePath("none.bin")));
}

void TestCli::lostPortAndInterruptedWaitEndAtOnce()
{
    // The board goes away during a read: said at once with the window's words, status 1.
    auto board = std::make_unique<BoardProcess>(QStringList{QStringLiteral("--paced")});
    QTemporaryDir dir;
    QProcess read;
    read.start(QStringLiteral(ROMIVO_CLI_TOOL), {"--port", board->path(), "--idle-timeout", "60", "read", dir.filePath("out.bin")});
    QVERIFY(read.waitForStarted());
    QTest::qWait(1000);
    board.reset();
    QVERIFY(read.waitForFinished(5000));
    QCOMPARE(read.exitCode(), 1);
    QVERIFY(QString::fromUtf8(read.readAllStandardOutput()).startsWith(QStringLiteral("COLLEGAMENTO PERSO SULLA PORTA ")));

    // Ctrl-C while the program waits for the board.
    QProcess wait;
    wait.start(QStringLiteral(ROMIVO_CLI_TOOL), {"--port", "SIM", "--sim-fault", "no-dsr", "--wait-board", "60", "blank"});
    QVERIFY(wait.waitForStarted());
    QTest::qWait(500);
    ::kill(pid_t(wait.processId()), SIGINT);
    QVERIFY(wait.waitForFinished(5000));
    QCOMPARE(wait.exitCode(), 130);
}

void TestCli::writeAsTheBoardReceivesIt_data()
{
    // What a write puts on the wire, to the last byte, though the program ends right after it.
    const QByteArray image = everyByteValue();
    const QByteArray start = QByteArray::fromHex("ff471c");
    const QByteArray next = QByteArray::fromHex("ff471d");
    const auto blocks = [&](int count) {
        QByteArray wire = start;
        for (int b = 0; b < count; ++b)
            wire += image.mid(b * 512, 512) + next;
        return wire;
    };
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("whole write") << QString() << 0 << blocks(64);
    QTest::newRow("silent board") << "silent-after-block=0" << 1 << blocks(1) + image.mid(512, 8);
    QTest::newRow("0x63 for block 5") << "0x63-for-ack=5" << 1 << blocks(6) + image.mid(3072, 8);
}

void TestCli::writeAsTheBoardReceivesIt()
{
    QFETCH(QString, fault);
    QFETCH(int, status);
    QFETCH(QByteArray, wire);
    QTemporaryDir dir;
    const QString imagePath = dir.filePath(QStringLiteral("image.bin"));
    put(imagePath, everyByteValue());
    const QString logPath = dir.filePath(QStringLiteral("wire.log"));
    const QString savePath = dir.filePath(QStringLiteral("saved.bin"));
    QStringList boardArguments{QStringLiteral("--log"), logPath, QStringLiteral("--save"), savePath};
    if (!fault.isEmpty())
        boardArguments << QStringLiteral("--fault") << fault;
    BoardProcess board(boardArguments);

    const Run write = cli({"--port", board.path(), "write", imagePath});
    QCOMPARE(write.status, status);
    QTRY_COMPARE(receivedByBoard(logPath).bytes.size(), wire.size());
    QCOMPARE(receivedByBoard(logPath).bytes, wire);
    QTest::qWait(100);
    QCOMPARE(receivedByBoard(logPath).bytes.size(), wire.size());
    if (status == 0) {
        // The board took the whole write and is ready for the next command.
        const Run verify = cli({"--port", board.path(), "verify", imagePath});
        QCOMPARE(verify.status, 0);
        // Ended by a signal, the board saves the chip it was given.
        QVERIFY(board.stop());
        QCOMPARE(contents(savePath), everyByteValue());
    }
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
