// The whole-chip operations and the service commands through one Session over the software board:
// outcomes, the bytes on the wire, the files left behind and the boxes in their order; and the
// number reader that turns the service panel's boxes into frames.
#include "operations/ImageExport.h"
#include "operations/Messages.h"
#include "operations/NumberText.h"
#include "Bench.h"

#include <sys/stat.h>

Q_DECLARE_METATYPE(Outcome)

namespace {
using Kind = OperatorMessage::Kind;
const QByteArray NextBlock = QByteArray::fromHex("ff471d");
QString question(Press p) { return Messages::text(p == Press::Write ? MessageId::WriteQuestion : MessageId::ReadQuestion); }

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
    }
};
} // namespace

class TestSession : public QObject {
    Q_OBJECT
private slots:
    void writes_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("nextBlocks");  // next-block frames sent
        QTest::addColumn<int>("dataSends");   // -1: some of the failing block's groups
        QTest::newRow("whole, stray bytes ignored") << "stray=00FF41" << 64 << 4096;
        QTest::newRow("0x62 inside block 5") << "0x62-during-block=5" << 5 << -1;
        QTest::newRow("0x63 inside block 0") << "0x63-during-block=0" << 0 << -1;
        // A failure or time-out in a block's wait ends the write there: no next-block frame, no group.
        QTest::newRow("0x63 in place of block 5's ack") << "0x63-for-ack=5" << 5 << 6 * 64;
        QTest::newRow("silent board") << "silent-after-block=0" << 0 << 64;
        QTest::newRow("0x62 for block 63") << "0x62-for-ack=63" << 63 << 4096;
        QTest::newRow("silent from block 63") << "silent-after-block=63" << 63 << 4096;
    }
    void writes()
    {
        QFETCH(QString, fault);
        QFETCH(int, nextBlocks);
        QFETCH(int, dataSends);
        Bench b(fault);
        b.port.board().sendUnasked(QByteArray::fromHex("00ff0a"));  // bytes that are not an answer change nothing
        const QByteArray image = randomImage(Chip::Size, 11);
        const QString path = b.file("rom.bin", image);
        const bool whole = fault.startsWith("stray");
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(b.run(Press::Write, path).outcome, whole ? Outcome::Written : Outcome::WriteFailed);
        // A silent board is given up after half a second of waiting for its acknowledgement.
        QVERIFY2(!fault.startsWith("silent") || (clock.elapsed() >= 500 && clock.elapsed() < 2500), qPrintable(QString::number(clock.elapsed())));
        const QString said = whole ? "CORRETTO" : "ERRORE";
        QCOMPARE(b.op.events(), (QStringList{question(Press::Write), said, "<beep>"}));
        QCOMPARE(b.op.messages(), (QList<OperatorMessage>{{Kind::Question, question(Press::Write), "Romivo"}, {Kind::Result, said, "romivo"}}));
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
        QVERIFY(b.idle() && readFile(path) == image);
    }

    void imagesOfEveryKind_data()
    {
        // What the chip holds after writing each kind of file, then verifying against it; a file named
        // as HEX or S-record that does not read as such is refused before anything is sent.
        const QByteArray hex = ":0400100012345678D8\n:00000001FF\n";
        QByteArray decoded = erased();
        decoded.replace(0x10, 4, QByteArray::fromHex("12345678"));
        const QByteArray shortImage = randomImage(1000, 3), longImage = randomImage(40000, 3);
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("contents");  // null: no file
        QTest::addColumn<QByteArray>("chip");      // empty: refused
        QTest::newRow("short, erased past its end") << "rom.bin" << shortImage << Chip::padded(shortImage);
        QTest::newRow("missing, created empty") << "new.bin" << QByteArray() << erased();
        QTest::newRow("longer, cut at the chip") << "rom.bin" << longImage << longImage.left(Chip::Size);
        QTest::newRow("read-only") << "locked.bin" << longImage << longImage.left(Chip::Size);
        QTest::newRow("Intel HEX") << "fw.hex" << hex << decoded;
        QTest::newRow("S-record") << "fw.s19" << QByteArray("S107001012345678D4\nS9030000FC\n") << decoded;
        QTest::newRow("HEX text named raw") << "fw.bin" << hex << Chip::padded(hex);
        QTest::newRow("bad HEX line") << "fw.hex" << QByteArray(":0400100012345678DD\n:00000001FF\n") << QByteArray();
        QTest::newRow("binary named HEX") << "fw.hex" << QByteArray(64, char(0x00)) << QByteArray();
        QTest::newRow("HEX that sets nothing") << "fw.eep" << QByteArray(":00000001FF\n") << QByteArray();
    }
    void imagesOfEveryKind()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, contents);
        QFETCH(QByteArray, chip);
        Bench b;
        const QString path = contents.isNull() ? b.path(name) : b.file(name, contents);
        Immutable guard(name == "locked.bin" ? path : QString());
        if (name == "locked.bin" && !guard.ok)
            QSKIP("chattr is not available here");
        if (chip.isEmpty()) {
            for (Press p : {Press::Write, Press::Verify}) {
                QCOMPARE(b.run(p, path).outcome, Outcome::InvalidImage);
                QVERIFY(b.op.texts().last().startsWith("FILE NON VALIDO: " + path + u'\n'));
            }
            QVERIFY(b.port.sends().isEmpty() && b.idle());
            return;
        }
        QCOMPARE(b.run(Press::Write, path).outcome, Outcome::Written);
        QCOMPARE(b.dataSends(), 4096);
        QCOMPARE(b.chip().contents(), chip);
        QCOMPARE(readFile(path), contents.isNull() ? QByteArray("") : contents);
        QCOMPARE(b.run(Press::Verify, path).outcome, Outcome::Verified);
    }

    void checks_data()
    {
        // A verify or a blank check against a chip with at most one location that differs.
        QTest::addColumn<Press>("press");
        QTest::addColumn<int>("differs");    // -1: none
        QTest::addColumn<QString>("fault");  // of the board; none: reads of 777 bytes
        for (Press p : {Press::Verify, Press::Blank}) {
            const char *name = p == Press::Verify ? "verify" : "blank";
            QTest::addRow("%s, equal", name) << p << -1 << "";
            QTest::addRow("%s, 5 surplus bytes not compared", name) << p << -1 << "long-stream=5";
            for (int at : {0, 17, 32767})
                QTest::addRow("%s, differs at %d", name, at) << p << at << "";
        }
    }
    void checks()
    {
        QFETCH(Press, press);
        QFETCH(int, differs);
        QFETCH(QString, fault);
        const bool blank = press == Press::Blank;
        Bench b(fault);
        b.port.line().setReadChunk(fault.isEmpty() ? 777 : 40000);
        QByteArray image = blank ? erased() : randomImage(Chip::Size, 8);
        b.chip().load(image);
        if (differs >= 0 && blank)
            b.chip().program(differs, 0x7F);
        if (differs >= 0 && !blank) {
            image[differs] = char(image.at(differs) ^ 0x01);
            image[qMin(differs + 100, 32767)] = char(0x00);  // a later difference is never reported
        }
        const QString path = b.file("rom.bin", image);
        bool shownUnderTheBox = false;
        b.op.setWhileShown([&](const OperatorMessage &) { shownUnderTheBox = b.progress.shown; });

        const OperationResult result = b.run(press, path);
        const Outcome expected = differs < 0 ? (blank ? Outcome::Blank : Outcome::Verified) : (blank ? Outcome::NotBlank : Outcome::Differs);
        QCOMPARE(result.outcome, expected);
        QCOMPARE(result.location, differs < 0 ? Chip::Size : differs);
        QTest::qWait(50);
        const QString text = differs >= 0 ? (blank ? "IL CHIP NON E' VUOTO" : "ERRORE al byte  " + QString::number(differs))
                                          : blank ? "IL CHIP E' VUOTO" : "VERIFICA ESEGUITA CORRETTAMENTE";
        QCOMPARE(b.op.messages(), (QList<OperatorMessage>{{differs < 0 ? Kind::Result : Kind::Failure, text, "Romivo"}}));
        QCOMPARE(shownUnderTheBox, !blank && differs >= 0);  // a verify's difference box only
        // The stop byte after the first difference, and only then; the rest is not awaited.
        QCOMPARE(b.port.sends(), differs < 0 ? QList<QByteArray>{streamFrame()} : (QList<QByteArray>{streamFrame(), stopByte()}));
        QCOMPARE(b.port.board().streamsStopped(), differs < 0 || differs == 32767 ? 0 : 1);
        QVERIFY(b.idle() && !b.state.errorFound);
    }

    void reads_data()
    {
        // A raw file takes the chip byte by byte; a HEX or S-record file is replaced whole, in its
        // format, once the chip is read, or left as it was when it cannot be (locked meanwhile).
        QTest::addColumn<int>("chunk");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("existing");  // size of the file already there; -1: none
        QTest::addColumn<QString>("name");
        QTest::newRow("reads of 1 byte") << 1 << "" << -1 << "letto.bin";
        QTest::newRow("reads of 1000 bytes") << 1000 << "" << -1 << "letto.bin";
        QTest::newRow("one read with 5 surplus bytes") << 40000 << "long-stream=5" << -1 << "letto.bin";
        QTest::newRow("over a shorter file") << 4096 << "" << 100 << "letto.bin";
        QTest::newRow("over a longer file, which keeps its tail") << 4096 << "" << 40000 << "letto.bin";
        QTest::newRow("a long stream in odd pieces over a longer file") << 1000 << "long-stream=100" << 40000 << "letto.bin";
        QTest::newRow("over a HEX file") << 4096 << "" << 0 << "letto.hex";
        QTest::newRow("a new S-record file, in odd pieces") << 1000 << "long-stream=5" << -1 << "letto.s28";
        QTest::newRow("a HEX file locked once the read began") << 4096 << "" << 0 << "locked.hex";
    }
    void reads()
    {
        QFETCH(int, chunk);
        QFETCH(QString, fault);
        QFETCH(int, existing);
        QFETCH(QString, name);
        Bench b(fault);
        const ImageFormats::Format format = ImageFormats::formatOf(name);
        const QByteArray chip = randomImage(Chip::Size, 21), old = randomImage(existing > 0 ? existing : Chip::Size, 1);
        const QByteArray before = format == ImageFormats::Format::Raw ? old.left(qMax(existing, 0)) : ImageExport::encode(old, format, name);
        b.chip().load(chip);
        b.port.line().setReadChunk(chunk);
        const QString path = existing < 0 ? b.path(name) : b.file(name, before);
        b.press(Press::Read, path);
        QVERIFY(b.progress.refreshing && b.progress.shown);
        const Immutable lock(name.startsWith("locked") ? path : QString());
        const bool done = !lock.ok;
        QTRY_COMPARE_WITH_TIMEOUT(b.outcomes, QList<int>{int(done ? Outcome::ReadDone : Outcome::ReadInterrupted)}, 60000);
        const OperatorMessage said = done ? OperatorMessage{Kind::Result, "TERMINATO", "romivo"}
            : OperatorMessage{Kind::Failure, Messages::text(MessageId::ReadInterrupted, {path, "Operation not permitted", 0}), "Romivo"};
        QCOMPARE(b.op.messages(), (QList<OperatorMessage>{{Kind::Question, question(Press::Read), "Romivo"}, said}));
        const QByteArray expected = format == ImageFormats::Format::Raw ? chip + before.mid(Chip::Size) : ImageExport::encode(chip, format, name);
        QCOMPARE(readFile(path), done ? expected : before);
        QCOMPARE(QDir(b.dir.path()).entryList(QDir::Files), QStringList{name});  // nothing left beside it
        QVERIFY(b.idle());
        QCOMPARE(b.state.currentAddress, 32768);
        QCOMPARE(b.port.sends(), QList<QByteArray>{streamFrame()});
    }

    void pressesWhileRunning_data()
    {
        // A board whose stream stops short keeps every stream running until a press stops it: the
        // board is told to stop, and the press starts nothing. A write gets no stop byte (0x63 would
        // be image data); a press that takes the write's receive mode stops it before it sends.
        QTest::addColumn<Press>("running");
        QTest::addColumn<Press>("pressed");
        QTest::addColumn<QList<int>>("outcomes");
        QTest::addColumn<int>("questions");
        QTest::addColumn<QString>("target");  // the read's
        const QList<int> stopped{int(Outcome::Stopped)}, failed{int(Outcome::WriteFailed)};
        QTest::newRow("read, then read") << Press::Read << Press::Read << stopped << 2 << "letto.bin";
        QTest::newRow("read into a HEX file, then read") << Press::Read << Press::Read << stopped << 2 << "letto.hex";
        QTest::newRow("read, then verify") << Press::Read << Press::Verify << stopped << 1 << "letto.bin";
        QTest::newRow("verify, then read") << Press::Verify << Press::Read << stopped << 1 << "letto.bin";
        QTest::newRow("verify, then blank check") << Press::Verify << Press::Blank << stopped << 0 << "";
        QTest::newRow("blank check, then verify") << Press::Blank << Press::Verify << stopped << 0 << "";
        QTest::newRow("write, then blank check") << Press::Write << Press::Blank << failed << 1 << "";
        QTest::newRow("write, then write") << Press::Write << Press::Write << (QList<int>{int(Outcome::NotStarted)} + failed) << 2 << "";
    }
    void pressesWhileRunning()
    {
        QFETCH(Press, running);
        QFETCH(Press, pressed);
        QFETCH(QList<int>, outcomes);
        QFETCH(int, questions);
        QFETCH(QString, target);
        const bool write = running == Press::Write, hex = target.endsWith(".hex");
        Bench b(write ? "" : "short-stream=10");
        const QByteArray oldHex = ImageExport::intelHex(randomImage(Chip::Size, 4));
        const QString image = b.file("ff.bin", erased()), path = hex ? b.file(target, oldHex) : b.path(target);
        auto pathFor = [&](Press p) { return p == Press::Read ? path : image; };
        if (write) {  // served in the write's first event-loop pass, as a click would be
            QTimer::singleShot(0, [&] { b.press(pressed, pathFor(pressed)); });
            b.press(running, image);
        } else {
            b.press(running, pathFor(running));
            QVERIFY(QTest::qWaitFor([&] { return b.state.currentAddress == 10; }));
            QTest::qWait(50);
            QVERIFY(b.outcomes.isEmpty() && !b.idle());
            b.press(pressed, pathFor(pressed));
        }
        QCOMPARE(b.outcomes, outcomes);
        QStringList boxes(questions, question(running));
        if (write)
            boxes << "ERRORE";
        QCOMPARE(b.op.texts(), boxes);
        QVERIFY(b.idle());
        QCOMPARE(b.sendsOf(stopByte()), write ? 0 : 1);
        QCOMPARE(b.sendsOf(streamFrame()), write ? 0 : 1);
        QCOMPARE(b.sendsOf(NextBlock), 0);
        QCOMPARE(b.dataSends(), 0);
        if (running == Press::Read)  // every byte stored is in a raw file; a HEX file is as it was
            QCOMPARE(readFile(path), hex ? oldHex : erased(10));
        QCOMPARE(readFile(image), erased());
    }

    void aStoppedWriteLeavesTheBoardToTheNextOperation_data()
    {
        QTest::addColumn<int>("stopAfter");  // groups sent when the stopping press comes
        QTest::newRow("while the write waits for a quiet line") << 0;
        QTest::newRow("in the middle of block 0") << 10;
    }
    void aStoppedWriteLeavesTheBoardToTheNextOperation()
    {
        // Before the write has started, a second press in the same pass starts a blank check, whose
        // start the write must not take for its own. Half-way through a block, the board takes what
        // comes for image data until it gives the write up: the next stream frame must not be programmed.
        QFETCH(int, stopAfter);
        Bench b;
        const QByteArray image = randomImage(Chip::Size, 5);
        QTimer pass;  // once every event-loop pass
        QObject::connect(&pass, &QTimer::timeout, [&] {
            if (b.dataSends() == stopAfter && pass.isActive())
                pass.stop(), b.press(Press::Blank), stopAfter == 0 ? b.press(Press::Blank) : void();
        });
        pass.start(0);
        b.press(Press::Write, b.file("rom.bin", image));
        const int sent = stopAfter * 8;
        QCOMPARE(b.op.texts(), (QStringList{question(Press::Write), "ERRORE"}));
        QCOMPARE(b.sendsOf(writeStartFrame()), sent == 0 ? 0 : 1);
        QCOMPARE(b.run(Press::Blank).outcome, sent == 0 ? Outcome::Blank : Outcome::NotBlank);
        QCOMPARE(b.chip().contents(), image.left(sent) + erased(Chip::Size - sent));
    }

    void filesThatCannotBeUsed_data()
    {
        // A path naming no file says "Nessun file selezionato"; a missing directory, and a FIFO
        // (opening it would wait for its other end, for ever), start nothing and say nothing; a read's
        // target that cannot be written is refused at once, one that fails stops the read and says so.
        QTest::addColumn<Press>("press");
        QTest::addColumn<QString>("path");  // in a folder that holds dati/, fifo and locked.*
        QTest::addColumn<Outcome>("outcome");
        for (Press p : {Press::Write, Press::Read, Press::Verify}) {
            for (const char *path : {"dati", "dati/", "dati//", "altrove/", ""})
                QTest::addRow("%d '%s'", int(p), path) << p << path << Outcome::NoFileSelected;
            for (const char *path : {"altrove/rom.bin", "fifo"})
                QTest::addRow("%d %s", int(p), path) << p << path << Outcome::NotStarted;
        }
        QTest::newRow("read-only target") << Press::Read << "locked.bin" << Outcome::NotWritable;
        QTest::newRow("read-only HEX target") << Press::Read << "locked.hex" << Outcome::NotWritable;
        QTest::newRow("a new HEX target whose name is too long") << Press::Read << QString(253, u'n') + ".hex" << Outcome::NotWritable;
        QTest::newRow("a full device") << Press::Read << "/dev/full" << Outcome::ReadInterrupted;
    }
    void filesThatCannotBeUsed()
    {
        QFETCH(Press, press);
        QFETCH(QString, path);
        QFETCH(Outcome, outcome);
        Bench b;
        QVERIFY(QDir(b.dir.path()).mkdir("dati") && ::mkfifo(qPrintable(b.path("fifo")), 0600) == 0);
        const QString full = path.isEmpty() || path.startsWith(u'/') ? path : b.path(path);
        const QByteArray old = randomImage(100, 9);
        const bool locked = path.startsWith("locked");
        Immutable guard(locked ? b.file(path, old) : QString());
        if ((locked && !guard.ok) || (path.startsWith(u'/') && !QFileInfo::exists(path)))
            QSKIP("cannot make the target here");
        QCOMPARE(b.run(press, full).outcome, outcome);
        QTest::qWait(50);
        QStringList boxes = press == Press::Verify ? QStringList() : QStringList{question(press)};
        const QHash<Outcome, QString> said = {{Outcome::NoFileSelected, "Nessun file selezionato"},
            {Outcome::NotWritable, Messages::text(MessageId::NotWritable, {full, {}, 0})},
            {Outcome::ReadInterrupted, Messages::text(MessageId::ReadInterrupted, {full, {}, 0})}};
        if (said.contains(outcome))
            boxes << said[outcome];
        QCOMPARE(b.op.texts().size(), boxes.size());
        for (qsizetype i = 0; i < boxes.size(); ++i)
            QVERIFY2(b.op.texts().at(i).startsWith(boxes.at(i)), qPrintable(b.op.texts().at(i)));  // the system's reason may follow
        QVERIFY(outcome == Outcome::NotStarted || b.op.messages().last().kind == Kind::Failure);
        QCOMPARE(b.port.sends().isEmpty(), outcome != Outcome::ReadInterrupted);
        QVERIFY(b.idle(press != Press::Write && outcome != Outcome::ReadInterrupted));
        QVERIFY(locked ? readFile(full) == old : outcome != Outcome::NotWritable || !QFile::exists(full));
    }

    void bytesInTheAbortYield()
    {
        // Small reads keep bytes waiting when the first difference is found: the abort's yield
        // delivers them while the mode still selects the check.
        Bench b;
        b.port.line().setReadChunk(3);
        b.chip().load(QByteArray(Chip::Size, char(0x00)));
        const QString path = b.file("ff.bin", erased());
        QCOMPARE(b.run(Press::Verify, path).location, 0);
        QCOMPARE(b.run(Press::Blank).outcome, Outcome::NotBlank);
        QTest::qWait(100);
        QCOMPARE(b.op.texts(), (QStringList{"ERRORE al byte  0", "IL CHIP NON E' VUOTO"}));
        QCOMPARE(b.sendsOf(stopByte()), 2);

        // A stop and a new start served in the yield reset the location; the box must still name the
        // location that differed.
        b.port.line().setReadChunk(40000);
        b.chip().load(erased());
        b.chip().program(1000, 0x00);
        bool clicked = false;
        b.session.dispatcher().setHandling(RxMode::Verify, [&](const QByteArray &bytes) {
            if (!std::exchange(clicked, true))
                QTimer::singleShot(0, [&] {
                    b.press(Press::Verify, path);
                    b.press(Press::Verify, path);
                });
            b.session.check().receiveVerify(bytes);
        });
        b.op.clear();
        b.press(Press::Verify, path);
        QVERIFY(QTest::qWaitFor([&] { return b.op.texts().contains("ERRORE al byte  1000"); }));
    }

    void otherStatesLeaveNothingBehind()
    {
        // The first press after a service read only ends it: nothing sent, no file made.
        const std::pair<Press, Outcome> presses[] = {{Press::Read, Outcome::ReadDone}, {Press::Verify, Outcome::Verified}, {Press::Blank, Outcome::Blank}};
        for (const auto &[press, done] : presses) {
            Bench b;
            const QString path = press == Press::Read ? b.path("new.bin") : b.file("ff.bin", erased());
            b.state.rxMode = RxMode::ServiceRead;
            b.progress.shown = true;
            b.press(press, path);
            QVERIFY(b.idle() && b.port.sends().isEmpty() && QFile::exists(path) == (press != Press::Read));
            QCOMPARE(b.run(press, path).outcome, done);
        }
        // A cancelled write sends nothing and makes no file; a read cancelled during a service read
        // leaves it running.
        Bench b;
        b.op.answers = {false, false};
        b.state.currentAddress = 1234;
        QCOMPARE(b.run(Press::Write, b.path("w.bin")).outcome, Outcome::Cancelled);
        QVERIFY(b.op.events() == QStringList({question(Press::Write), "<beep>"}) && b.progress.refreshed == QList<int>{1234} && b.idle());
        b.state.rxMode = RxMode::ServiceRead;
        b.progress.refreshing = b.progress.shown = true;
        QCOMPARE(b.run(Press::Read, b.path("r.bin")).outcome, Outcome::Cancelled);
        QVERIFY(b.state.rxMode == RxMode::ServiceRead && b.progress.shown && b.progress.refreshing);
        QVERIFY(b.port.sends().isEmpty() && !QFile::exists(b.path("w.bin")) && !QFile::exists(b.path("r.bin")));
        b.state.rxMode = RxMode::Idle;
        // Bytes that come while "TERMINATO" is shown never reach the file.
        const QString target = b.path("read.bin"), image = b.file("ff.bin", erased());
        b.op.setWhileShown([&](const OperatorMessage &message) {
            if (message.text == QLatin1String("TERMINATO")) {
                b.port.board().sendUnasked(QByteArray(100, 'x'));
                b.port.output(*commandFrame(0, CommandCode::CounterReset));
                QTest::qWait(20);
            }
        });
        QCOMPARE(b.run(Press::Read, target).outcome, Outcome::ReadDone);
        QCOMPARE(readFile(target), erased());
        // A write pressed with an empty box ends a running read or verify with its file still open;
        // the next read and verify must start all the same.
        b.press(Press::Verify, image);
        b.press(Press::Write);
        b.press(Press::Read, target);
        QCOMPARE(b.state.rxMode, RxMode::ReadToFile);
        b.press(Press::Write);
        QTest::qWait(50);  // what the board still streams is idle input now
        QCOMPARE(b.run(Press::Verify, image).outcome, Outcome::Verified);
        QCOMPARE(b.run(Press::Read, target).outcome, Outcome::ReadDone);
        QCOMPARE(readFile(target), erased());
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
