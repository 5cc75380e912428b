#include "operations/Messages.h"
#include "Bench.h"

#include <QSignalSpy>
#include <sys/stat.h>

namespace {
const QByteArray StreamFrame("\xFF\x7E\x1E", 3);
}

class TestRead : public QObject {
    Q_OBJECT
private slots:
    void wholeChipIntoTheFile_data();
    void wholeChipIntoTheFile();
    void shortStreamWaitsUntilStopped();
    void cancelChangesNothing();
    void pathsThatNameNoFile_data();
    void pathsThatNameNoFile();
    void unwritableTargetRefusedAtTheStart();
    void fifoIsRefusedWithoutWaiting();
    void writeFailureDuringTheStreamStopsAndSaysSo();
    void bytesDuringTerminatoNeverReachTheFile();
};

void TestRead::wholeChipIntoTheFile_data()
{
    QTest::addColumn<int>("chunk");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("existing");  // size of the file already there; -1: none
    QTest::newRow("reads of 1 byte") << 1 << "" << -1;
    QTest::newRow("reads of 1000 bytes") << 1000 << "" << -1;
    QTest::newRow("one read with 5 surplus bytes") << 40000 << "long-stream=5" << -1;
    QTest::newRow("over a shorter file") << 4096 << "" << 100;
    QTest::newRow("over a longer file, which keeps its tail") << 4096 << "" << 40000;
}

void TestRead::wholeChipIntoTheFile()
{
    QFETCH(int, chunk);
    QFETCH(QString, fault);
    QFETCH(int, existing);
    Bench b(fault.isEmpty() ? QStringList() : QStringList{fault});
    const QByteArray chip = randomImage(Chip::Size, 21);
    b.chip().load(chip);
    b.port.line().setReadChunk(chunk);
    const QByteArray old = randomImage(qMax(existing, 0), 1);
    const QString path = existing < 0 ? b.path(QStringLiteral("letto.bin")) : b.file(QStringLiteral("letto.bin"), old);

    b.session.read().Command6_Click(path);
    QCOMPARE(b.port.sends(), QList<QByteArray>{StreamFrame});
    QCOMPARE(b.state.rxMode, RxMode::ReadToFile);
    QVERIFY(b.progress.refreshing && b.progress.shown);
    QVERIFY(b.waitForMessage(QStringLiteral("TERMINATO")));
    QCOMPARE(b.op.messages().last(), (OperatorMessage{OperatorMessage::Kind::Result, "TERMINATO", "romivo"}));
    QCOMPARE(b.op.texts(), (QStringList{Messages::text(MessageId::ReadQuestion), "TERMINATO"}));
    QCOMPARE(Bench::contents(path), chip + old.mid(Chip::Size));
    QVERIFY(!b.session.operationFile().isOpen());
    QVERIFY(!b.progress.refreshing && !b.progress.shown);
    QCOMPARE(b.state.rxMode, RxMode::Idle);
    QCOMPARE(b.state.currentAddress, 32768);
    QCOMPARE(b.port.sends().size(), 1);
}

void TestRead::shortStreamWaitsUntilStopped()
{
    Bench b({QStringLiteral("short-stream=100")});
    const QString path = b.path(QStringLiteral("corto.bin"));
    b.session.read().Command6_Click(path);
    QTRY_COMPARE(b.state.currentAddress, 100);
    QTest::qWait(100);
    QCOMPARE(b.state.rxMode, RxMode::ReadToFile);
    // Every stored byte is in the file while the read still waits.
    QCOMPARE(Bench::contents(path), b.chip().contents().left(100));

    b.session.read().Command6_Click(path);  // the stop
    QCOMPARE(b.state.rxMode, RxMode::Idle);
    QVERIFY(!b.session.operationFile().isOpen());
    QVERIFY(!b.progress.shown && !b.progress.refreshing);
    // The board is told to stop streaming, so that nothing of this stream reaches the next one.
    QCOMPARE(b.port.sends(), (QList<QByteArray>{streamFrame(), stopByte()}));
    QCOMPARE(b.op.texts(), (QStringList{Messages::text(MessageId::ReadQuestion), Messages::text(MessageId::ReadQuestion)}));
    QCOMPARE(Bench::contents(path).size(), 100);
}

void TestRead::cancelChangesNothing()
{
    Bench b;
    b.state.rxMode = RxMode::ServiceRead;
    b.progress.shown = true;
    b.op.answerNext({false});
    b.session.read().Command6_Click(b.path(QStringLiteral("x.bin")));
    QCOMPARE(b.state.rxMode, RxMode::ServiceRead);
    QVERIFY(b.progress.shown && b.progress.refreshing);
    QVERIFY(!QFile::exists(b.path(QStringLiteral("x.bin"))));
    QVERIFY(b.port.sends().isEmpty());
}

void TestRead::pathsThatNameNoFile_data()
{
    // Each operation that takes a file, with every box text that names none.
    QTest::addColumn<int>("operation");  // 0 write, 1 read, 2 verify
    QTest::addColumn<QString>("relative");
    const char *names[] = {"write", "read", "verify"};
    for (int operation = 0; operation < 3; ++operation) {
        for (const char *relative : {"dati", "dati/", "dati//", "altrove/", ""})
            QTest::addRow("%s '%s'", names[operation], relative) << operation << QString::fromLatin1(relative);
        QTest::addRow("%s in a missing directory", names[operation]) << operation << "altrove/rom.bin";
    }
}

void TestRead::pathsThatNameNoFile()
{
    QFETCH(int, operation);
    QFETCH(QString, relative);
    Bench b;
    QVERIFY(QDir(b.dir.path()).mkdir(QStringLiteral("dati")));
    QSignalSpy finished(&b.session, &Session::finished);
    const QString path = relative.isEmpty() ? QString() : b.path(relative);
    if (operation == 0)
        b.session.write().Command3_Click(path);
    else if (operation == 1)
        b.session.read().Command6_Click(path);
    else
        b.session.check().Command7_Click(path);
    // A missing directory starts nothing and says nothing; the rest say "Nessun file selezionato".
    const bool silent = relative.endsWith(QLatin1String(".bin"));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().first().value<OperationResult>().outcome, silent ? Outcome::NotStarted : Outcome::NoFileSelected);
    const QList<OperatorMessage> boxes = b.op.messages();
    QCOMPARE(boxes.size(), (operation == 2 ? 0 : 1) + (silent ? 0 : 1));
    if (!silent)
        QCOMPARE(boxes.last(), Messages::message(MessageId::NoFileSelected));
    QVERIFY(b.port.sends().isEmpty());
    QCOMPARE(b.state.rxMode, RxMode::Idle);
}

void TestRead::unwritableTargetRefusedAtTheStart()
{
    Bench b;
    const QByteArray old = randomImage(Chip::Size, 9);
    const QString path = b.file(QStringLiteral("protetto.bin"), old);
    Immutable guard(path);
    if (!guard.ok)
        QSKIP("chattr is not available here");
    b.session.read().Command6_Click(path);
    QCOMPARE(b.op.texts(), (QStringList{Messages::text(MessageId::ReadQuestion), Messages::text(MessageId::NotWritable, {path, {}, 0})}));
    QCOMPARE(b.op.messages().last().kind, OperatorMessage::Kind::Failure);
    QVERIFY(b.port.sends().isEmpty());
    QCOMPARE(b.state.rxMode, RxMode::Idle);
    QCOMPARE(Bench::contents(path), old);
}

void TestRead::fifoIsRefusedWithoutWaiting()
{
    // Opening a FIFO waits for its other end, for ever: the window would freeze.
    Bench b;
    const QString fifo = b.path(QStringLiteral("fifo"));
    QVERIFY(::mkfifo(qPrintable(fifo), 0600) == 0);
    b.session.read().Command6_Click(fifo);
    b.session.check().Command7_Click(fifo);
    b.session.write().Command3_Click(fifo);
    QCOMPARE(b.op.texts(), (QStringList{Messages::text(MessageId::ReadQuestion), Messages::text(MessageId::WriteQuestion)}));
    QVERIFY(b.port.sends().isEmpty());
    QCOMPARE(b.state.rxMode, RxMode::Idle);
}

void TestRead::writeFailureDuringTheStreamStopsAndSaysSo()
{
    if (!QFileInfo::exists(QStringLiteral("/dev/full")))
        QSKIP("no /dev/full here");
    Bench b;
    b.session.read().Command6_Click(QStringLiteral("/dev/full"));
    QTRY_COMPARE(b.op.texts().size(), 2);
    QVERIFY(b.op.texts().last().startsWith(Messages::text(MessageId::ReadInterrupted, {QStringLiteral("/dev/full"), QString(), 0})));
    QCOMPARE(b.op.messages().last().kind, OperatorMessage::Kind::Failure);
    QCOMPARE(b.state.rxMode, RxMode::Idle);
    QVERIFY(!b.session.operationFile().isOpen());
    QVERIFY(!b.progress.shown && !b.progress.refreshing);
    QTest::qWait(50);
    QCOMPARE(b.op.texts().size(), 2);
}

void TestRead::bytesDuringTerminatoNeverReachTheFile()
{
    Bench b;
    const QString path = b.path(QStringLiteral("rom.bin"));
    b.op.setWhileShown([&](const OperatorMessage &message) {
        if (message.text != QLatin1String("TERMINATO"))
            return;
        QCOMPARE(b.state.rxMode, RxMode::Idle);
        QVERIFY(b.session.operationFile().isOpen());
        b.port.board().sendUnasked(QByteArray(100, 'x'));
        b.port.output(*commandFrame(0, CommandCode::CounterReset));
        QTest::qWait(20);
    });
    b.session.read().Command6_Click(path);
    QVERIFY(b.waitForMessage(QStringLiteral("TERMINATO")));
    QCOMPARE(Bench::contents(path), erased());
}

QTEST_GUILESS_MAIN(TestRead)
#include "tst_read.moc"
