// SPDX-License-Identifier: GPL-3.0-or-later
// The four whole-chip buttons through the main window, over the software board: the question, the
// file-name box's file and its rules, the boxes and the beep in their order, the files left behind,
// and a press while something runs.
#include "Bench.h"
#include "operations/ImageExport.h"
#include "operations/Messages.h"
#include "ui/Form1.h"
#include "ui/OperationButtons.h"

#include <QLineEdit>
#include <QPushButton>
#include <sys/stat.h>

Q_DECLARE_METATYPE(Outcome)

namespace {

enum class Press { Write, Read, Verify, Blank };
using Kind = OperatorMessage::Kind;
const QByteArray NextBlock = QByteArray::fromHex("ff471d");
QString question(Press p) { return Messages::text(p == Press::Write ? MessageId::WriteQuestion : MessageId::ReadQuestion); }

// The window over the software board, its board seen, the progress recorded.
struct Buttons : Bench {
    Form1 form{session};
    QList<int> outcomes;  // of every press that ended, in order

    explicit Buttons(const QString &fault = {}) : Bench(fault)
    {
        session.setProgressDisplay(&progress);
        session.dispatcher().MSComm1_OnComm(SerialControl::comEvDSR);  // the operation buttons enabled
        op.clear();
        QObject::connect(&form.operations(), &OperationButtons::finished, [this](OperationResult r) { outcomes << int(r.outcome); });
    }
    void press(Press which, const QString &path = {})
    {
        static const char *const names[] = {"Command3", "Command6", "Command7", "Command8"};
        form.findChild<QLineEdit *>("textNomeFile")->setText(path);
        form.findChild<QPushButton *>(names[int(which)])->click();
    }
    OperationResult run(Press which, const QString &path = {}) { return Bench::run([&] { press(which, path); }, form.operations()); }
    bool idle(bool refreshing = false) const { return Bench::idle(refreshing) && !form.operations().operationFile().isOpen(); }
};

} // namespace

Q_DECLARE_METATYPE(Press)

class TestButtons : public QObject {
    Q_OBJECT
private slots:
    void everyEndIsToldInItsBox()
    {
        // A write's box while its progress still shows, then the beep; a verify's difference before
        // its progress goes; every other end once the progress has gone.
        const struct { Press press; const char *fault; int differs; const char *said; bool failure; } rows[] = {
            {Press::Write, "", -1, "CORRETTO", false}, {Press::Write, "0x62-for-ack=0", -1, "ERRORE", false},
            {Press::Verify, "", -1, "VERIFICA ESEGUITA CORRETTAMENTE", false}, {Press::Verify, "", 0, "ERRORE al byte  0", true},
            {Press::Verify, "", 32767, "ERRORE al byte  32767", true}, {Press::Blank, "", -1, "IL CHIP E' VUOTO", false},
            {Press::Blank, "", 5, "IL CHIP NON E' VUOTO", true}};
        for (const auto &[press, fault, differs, said, failure] : rows) {
            Buttons b(fault);
            QByteArray image = erased();
            if (differs >= 0)
                (press == Press::Blank ? b.chip().program(differs, 0x00) : void(image[differs] = 0x00));
            bool underProgress = false;
            b.op.setWhileShown([&](const OperatorMessage &m) { underProgress |= m.kind != Kind::Question && b.progress.shown; });
            b.run(press, b.file("rom.bin", image));
            const bool write = press == Press::Write;
            QCOMPARE(b.op.events(), (write ? QStringList{question(press), said, "<beep>"} : QStringList{said}));
            QCOMPARE(b.op.messages().last(), (OperatorMessage{failure ? Kind::Failure : Kind::Result, said, write ? "romivo" : "Romivo"}));
            QVERIFY(underProgress == (write || (press == Press::Verify && differs >= 0)) && b.idle());
        }
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
        Buttons b;
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
        QCOMPARE(b.run(Press::Write, path).outcome, Outcome::Written);  // the first write let its file go
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
        Buttons b(fault);
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

    void pressesWhileRunning()
    {
        // A board whose stream stops short keeps every stream running until a press stops it: the
        // board is told to stop, and the press starts nothing. A write gets no stop byte (0x63 would
        // be image data); a press that takes the write's receive mode stops it before it sends.
        const QList<int> stopped{int(Outcome::Stopped)}, failed{int(Outcome::WriteFailed)};
        const struct { Press running, pressed; QList<int> outcomes; int questions; QString target; } rows[] = {  // the read's target
            {Press::Read, Press::Read, stopped, 2, "letto.bin"}, {Press::Read, Press::Read, stopped, 2, "letto.hex"},
            {Press::Read, Press::Verify, stopped, 1, "letto.bin"}, {Press::Verify, Press::Read, stopped, 1, "letto.bin"},
            {Press::Verify, Press::Blank, stopped, 0, ""}, {Press::Blank, Press::Verify, stopped, 0, ""},
            {Press::Write, Press::Blank, failed, 1, ""}, {Press::Write, Press::Write, QList<int>{int(Outcome::NotStarted)} + failed, 2, ""}};
        for (const auto &[running, pressed, outcomes, questions, target] : rows) {
            const auto where = qScopeGuard([&] { if (QTest::currentTestFailed()) qWarning("%d, then %d", int(running), int(pressed)); });
            const bool write = running == Press::Write, hex = target.endsWith(".hex");
            Buttons b(write ? "" : "short-stream=10");
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
    }

    void aStoppedWriteLeavesTheBoardToTheNextOperation()
    {
        // Before the write has started, a second press in the same pass starts a blank check, whose
        // start the write must not take for its own. Half-way through a block, the board takes what
        // comes for image data until it gives the write up: the next stream frame must not be programmed.
        for (const int stopAfter : {0, 10}) {  // groups sent when the stopping press comes
            Buttons b;
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
        Buttons b;
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

    void otherStatesLeaveNothingBehind()
    {
        // The first press after a service read only ends it: nothing sent, no file made.
        const std::pair<Press, Outcome> presses[] = {{Press::Read, Outcome::ReadDone}, {Press::Verify, Outcome::Verified}, {Press::Blank, Outcome::Blank}};
        for (const auto &[press, done] : presses) {
            Buttons b;
            const QString path = press == Press::Read ? b.path("new.bin") : b.file("ff.bin", erased());
            b.state.rxMode = RxMode::ServiceRead;
            b.progress.shown = true;
            b.press(press, path);
            QVERIFY(b.idle() && b.port.sends().isEmpty() && QFile::exists(path) == (press != Press::Read));
            QCOMPARE(b.run(press, path).outcome, done);
        }
        // A cancelled write sends nothing and makes no file; a read cancelled during a service read
        // leaves it running.
        Buttons b;
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
};

QTEST_MAIN(TestButtons)
#include "tst_buttons.moc"
