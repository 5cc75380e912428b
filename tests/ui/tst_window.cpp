// SPDX-License-Identifier: GPL-3.0-or-later
// The main window through its widgets: connecting, the port's troubles, focus, appearance, the
// service panel's buttons, the progress window and the file lists with the file-name box.
#include "BoardProcess.h"
#include "Window.h"
#include "ui/DirectoryList.h"
#include "ui/DriveList.h"
#include "ui/FileList.h"
#include "ui/Form2.h"
#include "ui/ProgressWindow.h"

#include <QApplication>
#include <QTemporaryDir>

namespace {

// The colour the operator sees on a button's face, beside its caption.
QColor face(QPushButton *button) { return button->grab().toImage().pixelColor(4, button->height() / 2); }

QWidget *tabFrom(QWidget *start)
{
    start->setFocus();
    QTest::keyClick(start, Qt::Key_Tab);
    return QApplication::focusWidget();
}

QStringList entries(QListWidget *list)
{
    QStringList names;
    for (int i = 0; i < list->count(); ++i)
        names << list->item(i)->text().trimmed();
    return names;
}

QListWidgetItem *entry(QListWidget *list, const QString &name)
{
    const qsizetype at = entries(list).indexOf(name);
    return at < 0 ? nullptr : list->item(int(at));
}

void click(QListWidget *list, const QString &name)
{
    list->doItemsLayout();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(entry(list, name)).center());
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT
    QTemporaryDir m_tree;
    const QString m_root = QDir(m_tree.path()).canonicalPath();

private slots:
    void initTestCase()
    {
        QCoreApplication::setApplicationName("romivo");
        QVERIFY(QDir(m_root).mkpath("lavori/dati"));
        for (const char *name : {"lavori/dati/rom.bin", "lavori/dati/bios.hex", "lavori/dati/LEGGIMI", "lavori/note.txt"})
            QVERIFY(QFile(m_root + u'/' + QLatin1String(name)).open(QIODevice::WriteOnly));
    }

    void connectWaitsForDsrThenDisconnectRestores()
    {
        Window w;
        w.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.form));
        QCOMPARE(w.form.windowTitle(), "Romivo");
        QVERIFY(w.form.windowIcon().availableSizes().contains(QSize(32, 32)) && Form2().windowIcon().availableSizes().contains(QSize(32, 32)));
        const QColor unconnected = face(w.button("Command2"));
        QVERIFY(w.operationsEnabled(false) && w.button("Command1")->isEnabled());
        w.connectTo(" sim ");
        QVERIFY(w.port.isOpen());
        // Nothing changes until the board's DSR change comes through the event queue.
        QVERIFY(w.connectText() == "CONNECT" && w.operationsEnabled(false));
        QTRY_COMPARE(w.connectText(), "CONNECTED !");
        QCOMPARE(face(w.button("Command2")), QColor(0, 255, 0));
        QVERIFY(w.operationsEnabled(true));
        // The same port, however written, stays open as it is: no new DSR change. A later DSR change
        // beeps again and leaves a running operation's mode alone.
        w.connectTo("SIM");
        QTest::qWait(50);
        QCOMPARE(w.op.events(), QStringList{"<beep>"});
        w.session.state().rxMode = RxMode::ReadToFile;
        w.session.dispatcher().MSComm1_OnComm(SerialControl::comEvDSR);
        QVERIFY(w.op.beeps() == 2 && w.session.state().rxMode == RxMode::ReadToFile);
        w.session.state().rxMode = RxMode::Idle;

        w.button("Command1")->click();
        QVERIFY(!w.port.isOpen() && w.connectText() == "CONNECT" && w.operationsEnabled(false));
        QCOMPARE(face(w.button("Command2")), unconnected);
        w.button("Command1")->click();  // DISCONNECT again changes nothing
        // A board that never raises DSR leaves the window waiting; another port closes the open one.
        BoardFaults noDsr;
        noDsr.noDsr = true;
        w.sim().board().setFaults(noDsr);
        w.connectTo("SIM");
        QTest::qWait(100);
        QVERIFY(w.port.isOpen() && w.connectText() == "CONNECT");
        w.connectTo("/dev/romivo-no-such-port");
        QVERIFY(!w.port.isOpen() && w.op.messages().size() == 1 && w.op.beeps() == 2);
    }

    void portsThatWillNotOpen_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "" << "NESSUNA PORTA INDICATA";
        QTest::newRow("blanks") << "   " << "NESSUNA PORTA INDICATA";
        QTest::newRow("zero") << "0" << "PORTA NON VALIDA: 0";
        QTest::newRow("negative") << " -3 " << "PORTA NON VALIDA: -3";
        QTest::newRow("too large") << "40000" << "PORTA NON VALIDA: 40000";
        QTest::newRow("missing device") << "/dev/romivo-no-such-port" << "IMPOSSIBILE APRIRE LA PORTA /dev/romivo-no-such-port\n";
        QTest::newRow("not a terminal") << "/dev/null" << "IMPOSSIBILE APRIRE LA PORTA /dev/null\n";
        QTest::newRow("a number is a serial port") << " 32767 " << "IMPOSSIBILE APRIRE LA PORTA /dev/ttyS32766\n";
        QTest::newRow("a number with text is a name") << "3a" << "IMPOSSIBILE APRIRE LA PORTA 3a\n";
    }
    void portsThatWillNotOpen()
    {
        QFETCH(QString, typed);
        QFETCH(QString, text);
        Window w;
        w.connectTo(typed);
        QVERIFY(!w.port.isOpen() && w.connectText() == "CONNECT" && w.operationsEnabled(false));
        QCOMPARE(w.op.messages().size(), 1);
        const OperatorMessage box = w.op.messages().first();
        QVERIFY(box.kind == OperatorMessage::Kind::Failure && box.title == "Romivo");
        // The system's reason follows a port that would not open.
        QVERIFY2(box.text.startsWith(text) && (box.text.size() > text.size()) == text.endsWith(u'\n'), qPrintable(box.text));
        QVERIFY(w.connectSim());  // the program goes on
    }

    void lostPortAndSendsToAClosedPort()
    {
        Window w;
        w.button("buttonReset")->click();
        QVERIFY(w.op.messages().isEmpty());  // the notice comes after the click's own handling
        w.button("buttonCeLow")->click();
        QTRY_COMPARE(w.op.texts(), QStringList{"PORTA NON APERTA: I COMANDI NON VENGONO INVIATI. PREMERE CONNECT"});
        QVERIFY(w.connectSim());
        w.sim().losePort("cable pulled");
        w.sim().losePort("cable pulled");  // told once
        QVERIFY(w.connectText() == "CONNECT" && w.operationsEnabled(false));
        QTRY_COMPARE(w.op.messages().size(), 2);
        QCOMPARE(w.op.messages().last(), (OperatorMessage{OperatorMessage::Kind::Failure, "COLLEGAMENTO PERSO SULLA PORTA SIM\ncable pulled", "Romivo"}));
        // Sends after the loss are dropped without another box; CONNECT works again.
        w.button("buttonReset")->click();
        QTest::qWait(20);
        QCOMPARE(w.op.messages().size(), 2);
        QVERIFY(w.connectSim());
        // A new closed spell is told again. Esci and the close box close the port, then end.
        w.button("Command1")->click();
        w.button("buttonReset")->click();
        QTRY_COMPARE(w.op.messages().size(), 3);
        QVERIFY(w.connectSim());
        w.form.findChild<QAction *>("menuEsci")->trigger();
        QVERIFY(w.ends == 1 && !w.port.isOpen());
        QVERIFY(w.connectSim());
        w.form.close();
        QVERIFY(w.ends == 2 && !w.port.isOpen() && w.op.messages().size() == 3);
    }

    void esciStopsTheStream()
    {
        // Over a real port: the program ended mid-stream leaves the board stopped (the close box
        // ends the same way). A write that fails sends nothing more, whatever front end started it
        // (romivo-cli's tests show that on the same kind of port).
        QTemporaryDir dir;
        const QString log = dir.filePath("wire.log");
        BoardProcess board({"--paced", "--log", log});
        Window w;
        w.connectTo(board.path());
        QVERIFY(QTest::qWaitFor([&] { return w.connectText() == "CONNECTED !"; }, 5000));
        w.button("Command8")->click();
        QTRY_VERIFY(w.session.state().currentAddress > 0);
        w.form.findChild<QAction *>("menuEsci")->trigger();
        QVERIFY(w.ends == 1 && !w.port.isOpen());
        QTRY_COMPARE(receivedByBoard(log).bytes, QByteArray::fromHex("ff7e1e63"));
    }

    void serviceButtons()
    {
        Window w;
        w.form.show();
        QVERIFY(w.connectSim());
        QAction *servizio = w.form.findChild<QAction *>("menuService");
        servizio->trigger();  // over the lists
        QWidget *top = w.form.centralWidget()->childAt(w.get("File1")->geometry().center());
        QVERIFY(top == w.get("Frame1") || w.get("Frame1")->isAncestorOf(top));
        QCOMPARE(face(w.button("buttonWriteData")), QColor(255, 0, 0));
        w.sim().clearRecords();
        w.sim().board().chip().program(300, 0x41);
        // Just after the open the board may still be inside a write another program left: a press
        // only beeps; once that time is over, each button sends its frame.
        const int beeps = w.op.beeps();
        w.button("buttonWriteData")->click();
        QCOMPARE(w.op.beeps(), beeps + 1);
        QTest::qWait(StreamStart::AfterOpenMs);
        QCOMPARE(w.sim().wireToBoard(), QByteArray());
        QByteArray wire;
        const std::pair<const char *, char> buttons[] = {{"buttonReset", 12}, {"buttonClock", 13}, {"buttonCeHigh", 14},
            {"buttonCeLow", 15}, {"buttonOeHigh", 16}, {"buttonOeLow", 17}, {"buttonDirOut", 20}, {"buttonDirIn", 21}};
        for (const auto &[name, code] : buttons) {
            w.button(name)->click();
            wire += QByteArray("\xFF\x00", 2) + code;
        }
        w.session.service().setPause([](int) {});
        w.box("textAddress")->setText("300");
        w.button("buttonPompoClock")->click();
        w.button("buttonReadData")->click();
        QVERIFY(!w.button("buttonReadData")->isEnabled());
        QTRY_COMPARE(w.box("textReadData")->text(), " 65");
        QVERIFY(w.button("buttonReadData")->isEnabled());
        w.button("buttonWriteData")->click();  // the byte shown is the one written back
        QTRY_COMPARE(w.sim().wireToBoard(), wire + QByteArray::fromHex("ff011a ff2c1b ff0012 ff4113"));
        servizio->trigger();
        QVERIFY(!w.get("Frame1")->isVisible());
    }

    void serviceButtonsOnlyBeepWhileAWriteRuns_data()
    {
        QTest::addColumn<QString>("pressed");
        QTest::addColumn<QByteArray>("sends");  // once nothing runs
        QTest::newRow("SCRIVO DATO") << "buttonWriteData" << QByteArray::fromHex("ff0013");
        QTest::newRow("LEGGO DATO") << "buttonReadData" << QByteArray::fromHex("ff0012");
        QTest::newRow("POSIZIONO") << "buttonPompoClock" << QByteArray::fromHex("ff001a ff001b");
        QTest::newRow("POMPO RESET") << "buttonReset" << QByteArray::fromHex("ff000c");
    }
    void serviceButtonsOnlyBeepWhileAWriteRuns()
    {
        // A service frame among a write's image bytes puts the board out of step, so that it takes
        // the next block for commands; a changed receive mode takes the write's answers away. Pressed
        // while a write runs, a service button only beeps; once the board has given the stopped
        // write up, it sends again.
        QFETCH(QString, pressed);
        QFETCH(QByteArray, sends);
        QTemporaryDir dir;
        const QString log = dir.filePath("wire.log");
        const QByteArray image = randomImage(32768);
        BoardProcess board({"--paced", "--log", log});
        Window w;
        w.session.service().setPause([](int) {});
        w.connectTo(board.path());
        QVERIFY(QTest::qWaitFor([&] { return w.connectText() == "CONNECTED !"; }, 5000));
        w.box("textNomeFile")->setText(writeFile(dir.filePath("image.bin"), image));
        RxMode modeAfterPress = RxMode::Idle;
        int beepsAfterPress = 0;
        QTimer::singleShot(1500, [&] {
            const int before = w.op.beeps();
            w.button(qPrintable(pressed))->click();
            modeAfterPress = w.session.state().rxMode;
            beepsAfterPress = w.op.beeps() - before;
            QTimer::singleShot(300, [&] { w.button("Command8")->click(); });  // stops the write
        });
        w.button("Command3")->click();  // returns once the write has ended
        QCOMPARE(modeAfterPress, RxMode::Write);
        QCOMPARE(beepsAfterPress, 1);
        QByteArray wire = QByteArray::fromHex("ff471c");
        for (int block = 0; block < 64; ++block)
            wire += image.mid(block * 512, 512) + QByteArray::fromHex("ff471d");
        QTest::qWait(StreamStart::UnfinishedWriteMs);
        const QByteArray written = receivedByBoard(log).bytes;
        QVERIFY2(written.size() > 3 + 512 && wire.startsWith(written), qPrintable(written.toHex().right(64)));
        w.button(qPrintable(pressed))->click();
        QTRY_COMPARE(receivedByBoard(log).bytes, written + sends);
    }

    void focusOrder()
    {
        Window w;
        w.form.show();
        w.form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w.form));
        QCOMPARE(QApplication::focusWidget(), w.get("Drive1"));
        QCOMPARE(tabFrom(w.box("textNomeFile")), w.button("Command2"));
        QCOMPARE(tabFrom(w.box("textCommPort")), w.get("Drive1"));
        QVERIFY(w.connectSim());
        QCOMPARE(tabFrom(w.box("textNomeFile")), w.button("Command3"));
        QCOMPARE(tabFrom(w.box("textCommPort")), w.button("Command8"));
        w.form.menuService_Click();
        QCOMPARE(tabFrom(w.button("Command3")), w.button("buttonReset"));
        QCOMPARE(tabFrom(w.button("buttonClock")), w.button("buttonCeLow"));
        QCOMPARE(tabFrom(w.button("buttonDirOut")), w.button("Command6"));
        w.form.menuService_Click();

        // The focus passing through the file list (Tab, Shift+Tab, a click on its empty part)
        // leaves the typed path alone; a file chosen with the keyboard is taken.
        auto *file1 = w.get<FileList>("File1");
        QVERIFY(w.get<DirectoryList>("Dir1")->setPath(m_root + "/lavori/dati"));
        w.box("textNomeFile")->setFocus();
        w.box("textNomeFile")->selectAll();
        QTest::keyClicks(w.box("textNomeFile"), "/mnt/usb/firmware.bin");
        for (int i = 0; i < 30 && !file1->hasFocus(); ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTest::keyClick(file1, Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QVERIFY(file1->hasFocus());
        QTest::mouseClick(file1->viewport(), Qt::LeftButton, {}, QPoint(5, file1->viewport()->height() - 3));
        QCOMPARE(w.box("textNomeFile")->text(), "/mnt/usb/firmware.bin");
        QTest::keyClick(file1, Qt::Key_Down);
        QCOMPARE(w.box("textNomeFile")->text(), m_root + "/lavori/dati/" + file1->fileName());
    }

    void progressWindowFollowsTheCounter()
    {
        Window w;
        ProgressWindow &progress = w.form.progress();
        w.session.state().currentAddress = 512;
        QTRY_VERIFY(progress.existing() && progress.existing()->textAvanzLoc()->text() == "512");  // made on a tick
        Form2 *form2 = progress.existing();
        QVERIFY(!form2->isVisible());  // a tick never shows it
        progress.setRefreshing(false);
        progress.setShown(true);
        w.session.state().currentAddress = 32768;
        QTest::qWait(250);
        QVERIFY(form2->isVisible() && form2->textAvanzLoc()->text() == "512");
        progress.refreshNow();
        QCOMPARE(form2->textAvanzLoc()->text(), "32768");
        form2->close();  // closed by the operator it is only hidden: the same window shows again
        progress.setShown(true);
        QVERIFY(progress.existing() == form2 && form2->isVisible());
    }

    void fileListsComposeThePath()
    {
        Window w;
        auto *dir1 = w.get<DirectoryList>("Dir1");
        auto *file1 = w.get<FileList>("File1");
        auto *drive1 = w.get<DriveList>("Drive1");
        QLineEdit *box = w.box("textNomeFile");
        // It starts on the working directory, highlighted after its ancestors, with the box empty.
        QVERIFY(dir1->path() == QDir::currentPath() && file1->path() == dir1->path() && box->text().isEmpty());
        QVERIFY(dir1->currentItem()->text().trimmed() == QFileInfo(QDir::currentPath()).fileName() && dir1->item(0)->text() == "/");
        QVERIFY(dir1->setPath("/") && box->text() == "//");
        QVERIFY(dir1->setPath(m_root + "/lavori"));
        QVERIFY(box->text() == m_root + "/lavori/" && entries(file1) == QStringList{"note.txt"});
        w.form.show();
        click(dir1, "dati");  // highlighting a directory changes nothing
        QVERIFY(file1->path() == m_root + "/lavori" && box->text() == m_root + "/lavori/");
        dir1->setFocus();
        QTest::keyClick(dir1->viewport(), Qt::Key_Return);  // opened, as with a double-click
        QVERIFY(file1->path() == m_root + "/lavori/dati" && box->text() == m_root + "/lavori/dati/");
        QCOMPARE(entries(file1), (QStringList{"bios.hex", "LEGGIMI", "rom.bin"}));
        click(file1, "rom.bin");
        QCOMPARE(box->text(), m_root + "/lavori/dati/rom.bin");
        // Typed text holds until a click on the file, even the one already selected, puts it back.
        box->setText("/altrove/immagine.bin");
        click(file1, "rom.bin");
        QCOMPARE(box->text(), m_root + "/lavori/dati/rom.bin");
        // Up by an ancestor entry; a directory gone since it was listed leaves the lists as they were.
        dir1->setCurrentItem(entry(dir1, "lavori"));
        QTest::keyClick(dir1->viewport(), Qt::Key_Enter);
        QVERIFY(dir1->path() == m_root + "/lavori" && box->text() == m_root + "/lavori/");
        QVERIFY(QDir(m_root + "/lavori/dati").removeRecursively());
        emit dir1->itemActivated(entry(dir1, "dati"));
        QVERIFY(dir1->path() == m_root + "/lavori" && file1->path() == dir1->path() && !entry(dir1, "dati"));
        QVERIFY(!dir1->setPath(m_root + "/lavori/note.txt") && box->text() == m_root + "/lavori/");
        // A drive gone since the list was made (a pulled memory card) is not taken; one that can be
        // read is, and the lists and the box follow.
        const QString before = drive1->drive();
        for (const QString &drive : {m_root + "/card", m_root}) {
            drive1->addItem(drive);
            drive1->setCurrentIndex(drive1->count() - 1);
            emit drive1->activated(drive1->count() - 1);
            if (drive != m_root)
                QVERIFY(drive1->drive() == before && dir1->path() == m_root + "/lavori");
        }
        QVERIFY(dir1->path() == m_root && box->text() == m_root + "/");
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
