// The main window through its widgets: connecting, the port's troubles, focus, appearance, the
// service panel's buttons, the progress window and the three file lists with the file-name box.
#include "board/SelectingSerialControl.h"
#include "ScriptedOperator.h"
#include "operations/Session.h"
#include "ui/DirectoryList.h"
#include "ui/DriveList.h"
#include "ui/FileList.h"
#include "ui/Form1.h"
#include "ui/Form2.h"
#include "ui/ProgressWindow.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// The main window over the program's own serial control, with a scripted operator.
struct Window {
    SelectingSerialControl port;
    ScriptedOperator op;
    Session session{port, op};
    Form1 form{session};
    int ends = 0;
    Window() { form.setEndProgram([this] { ++ends; }); }

    template <typename T = QWidget>
    T *get(const char *name) const
    {
        T *widget = form.findChild<T *>(QString::fromLatin1(name));
        if (!widget)
            qFatal("no control %s", name);
        return widget;
    }
    QPushButton *button(const char *name) const { return get<QPushButton>(name); }
    QLineEdit *box(const char *name) const { return get<QLineEdit>(name); }
    SimulatedSerialControl &sim() { return port.simulated(); }
    QString connectText() const { return button("Command2")->text(); }
    void connectTo(const QString &portText)
    {
        box("textCommPort")->setText(portText);
        button("Command2")->click();
    }
    bool connectSim()
    {
        connectTo("SIM");
        return QTest::qWaitFor([this] { return connectText() == "CONNECTED !"; });
    }
    bool operationsEnabled(bool enabled) const
    {
        for (const char *name : {"Command3", "Command6", "Command7", "Command8"})
            if (button(name)->isEnabled() != enabled)
                return false;
        return true;
    }
    QWidget *tabFrom(QWidget *start)
    {
        start->setFocus();
        QTest::keyClick(start, Qt::Key_Tab);
        return QApplication::focusWidget();
    }
};

// The colour the operator sees on a button's face, beside its caption.
QColor face(QPushButton *button) { return button->grab().toImage().pixelColor(4, button->height() / 2); }

QListWidgetItem *entryNamed(QListWidget *list, const QString &name)
{
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->text().trimmed() == name)
            return list->item(i);
    return nullptr;
}

QStringList entries(QListWidget *list)
{
    QStringList names;
    for (int i = 0; i < list->count(); ++i)
        names << list->item(i)->text().trimmed();
    return names;
}

void click(QListWidget *list, const QString &name)
{
    list->doItemsLayout();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(entryNamed(list, name)).center());
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT
    QTemporaryDir m_tree;
    QString m_root;

private slots:
    void initTestCase()
    {
        QCoreApplication::setApplicationName("romivo");
        m_root = QDir(m_tree.path()).canonicalPath();
        QVERIFY(QDir(m_root).mkpath("lavori/dati") && QDir(m_root).mkpath("lavori/vecchi"));
        for (const char *name : {"lavori/dati/rom.bin", "lavori/dati/bios.hex", "lavori/dati/LEGGIMI", "lavori/note.txt"})
            QVERIFY(QFile(m_root + u'/' + QLatin1String(name)).open(QIODevice::WriteOnly));
    }

    void connectWaitsForDsrThenDisconnectRestores()
    {
        Window w;
        w.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.form));
        QCOMPARE(w.form.windowTitle(), "Romivo");
        const Form2 progressWindow;
        QVERIFY(w.form.windowIcon().availableSizes().contains(QSize(32, 32)));
        QVERIFY(progressWindow.windowIcon().availableSizes().contains(QSize(32, 32)));
        const QColor unconnected = face(w.button("Command2"));
        QVERIFY(w.operationsEnabled(false) && w.button("Command1")->isEnabled());
        w.connectTo(" sim ");
        QVERIFY(w.port.isOpen());
        // Nothing changes until the board's DSR change comes through the event queue.
        QCOMPARE(w.connectText(), "CONNECT");
        QVERIFY(w.operationsEnabled(false));
        QTRY_COMPARE(w.connectText(), "CONNECTED !");
        QCOMPARE(face(w.button("Command2")), QColor(0, 255, 0));
        QVERIFY(w.operationsEnabled(true));
        QCOMPARE(w.op.events(), QStringList{"<beep>"});
        // A later DSR change beeps again and leaves a running operation's mode alone.
        w.session.state().rxMode = RxMode::ReadToFile;
        w.session.dispatcher().MSComm1_OnComm(SerialControl::comEvDSR);
        QCOMPARE(w.op.beeps(), 2);
        QCOMPARE(w.session.state().rxMode, RxMode::ReadToFile);
        w.session.state().rxMode = RxMode::Idle;

        w.button("Command1")->click();
        QVERIFY(!w.port.isOpen());
        QCOMPARE(w.connectText(), "CONNECT");
        QCOMPARE(face(w.button("Command2")), unconnected);
        QVERIFY(w.operationsEnabled(false));
        // DISCONNECT again changes nothing; a board that never raises DSR leaves the window waiting.
        w.button("Command1")->click();
        BoardFaults noDsr;
        noDsr.noDsr = true;
        w.sim().board().setFaults(noDsr);
        w.connectTo("SIM");
        QTest::qWait(100);
        QVERIFY(w.port.isOpen());
        QCOMPARE(w.connectText(), "CONNECT");
        QCOMPARE(w.op.events(), (QStringList{"<beep>", "<beep>"}));
    }

    void serviceMenuAndFocusOrder()
    {
        Window w;
        w.form.show();
        w.form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w.form));
        QCOMPARE(QApplication::focusWidget(), w.get("Drive1"));
        QCOMPARE(w.tabFrom(w.box("textNomeFile")), w.button("Command2"));
        QCOMPARE(w.tabFrom(w.box("textCommPort")), w.get("Drive1"));
        QVERIFY(w.connectSim());
        QCOMPARE(w.tabFrom(w.box("textNomeFile")), w.button("Command3"));
        QCOMPARE(w.tabFrom(w.button("Command3")), w.button("Command6"));
        QCOMPARE(w.tabFrom(w.box("textCommPort")), w.button("Command8"));

        // FILE, Servizio shows the service panel over the lists, in the tab order, and hides it again.
        QAction *servizio = w.form.findChild<QAction *>("menuService");
        servizio->trigger();
        QWidget *top = w.form.centralWidget()->childAt(w.get("File1")->geometry().center());
        QVERIFY(top == w.get("Frame1") || w.get("Frame1")->isAncestorOf(top));
        QCOMPARE(face(w.button("buttonWriteData")), QColor(255, 0, 0));
        QCOMPARE(w.tabFrom(w.button("Command3")), w.button("buttonReset"));
        QCOMPARE(w.tabFrom(w.button("buttonClock")), w.button("buttonCeLow"));
        QCOMPARE(w.tabFrom(w.button("buttonDirOut")), w.button("Command6"));
        servizio->trigger();
        QVERIFY(!w.get("Frame1")->isVisible());
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
    }
    void portsThatWillNotOpen()
    {
        QFETCH(QString, typed);
        QFETCH(QString, text);
        Window w;
        w.connectTo(typed);
        QVERIFY(!w.port.isOpen());
        QCOMPARE(w.op.messages().size(), 1);
        const OperatorMessage box = w.op.messages().first();
        QCOMPARE(box.kind, OperatorMessage::Kind::Failure);
        QCOMPARE(box.title, "Romivo");
        QVERIFY2(box.text.startsWith(text) && (box.text.size() > text.size()) == text.endsWith(u'\n'), qPrintable(box.text));
        QCOMPARE(w.connectText(), "CONNECT");
        QVERIFY(w.operationsEnabled(false));
        QVERIFY(w.connectSim());  // the program goes on
    }

    void connectWhileOpen()
    {
        Window w;
        QVERIFY(w.connectSim());
        // The same port, however it is written, stays open as it is: no new DSR change.
        w.connectTo(" sim ");
        QTest::qWait(50);
        QVERIFY(w.port.isOpen());
        QCOMPARE(w.op.beeps(), 1);
        QCOMPARE(w.connectText(), "CONNECTED !");
        // Another port: the open one is closed (as DISCONNECT does) before the new one is tried.
        w.connectTo("/dev/romivo-no-such-port");
        QVERIFY(!w.port.isOpen());
        QCOMPARE(w.connectText(), "CONNECT");
        QVERIFY(w.operationsEnabled(false));
        QCOMPARE(w.op.messages().size(), 1);
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
        QCOMPARE(w.connectText(), "CONNECT");
        QVERIFY(w.operationsEnabled(false));
        QTRY_COMPARE(w.op.messages().size(), 2);
        QCOMPARE(w.op.messages().last(), (OperatorMessage{OperatorMessage::Kind::Failure, "COLLEGAMENTO PERSO SULLA PORTA SIM\ncable pulled", "Romivo"}));
        // Sends after the loss are dropped without another box; CONNECT works again.
        w.button("buttonReset")->click();
        w.button("buttonClock")->click();
        QTest::qWait(20);
        QCOMPARE(w.op.messages().size(), 2);
        QVERIFY(w.connectSim());
        // A new closed spell is told again.
        w.button("Command1")->click();
        w.button("buttonReset")->click();
        QTRY_COMPARE(w.op.messages().size(), 3);
    }

    void esciAndCloseBoxCloseThePortAndEnd()
    {
        Window w;
        w.form.show();
        QVERIFY(w.connectSim());
        // The port is closed first: closing sends what is still queued before the process ends.
        w.form.findChild<QAction *>("menuEsci")->trigger();
        QVERIFY(w.ends == 1 && !w.port.isOpen());
        QVERIFY(w.connectSim());
        w.form.close();
        QVERIFY(w.ends == 2 && !w.port.isOpen());
        QVERIFY(w.op.messages().isEmpty());
    }

    void serviceButtons()
    {
        Window w;
        QVERIFY(w.connectSim());
        w.form.menuService_Click();
        w.sim().clearRecords();
        w.sim().board().chip().program(300, 0x41);
        QByteArray wire;
        const struct { const char *name; char code; } buttons[] = {
            {"buttonReset", 12}, {"buttonClock", 13}, {"buttonCeHigh", 14}, {"buttonCeLow", 15},
            {"buttonOeHigh", 16}, {"buttonOeLow", 17}, {"buttonDirOut", 20}, {"buttonDirIn", 21}};
        for (const auto &b : buttons) {
            w.button(b.name)->click();
            wire += QByteArray("\xFF\x00", 2) + b.code;
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
        QVERIFY(!w.sim().board().busTowardsChip());
        w.box("textReadData")->setText("256");
        w.button("buttonWriteData")->click();
        QCOMPARE(w.op.texts(), QStringList{"DATO NON VALIDO: SOLO DA 0 A 255"});
    }

    void progressWindowFollowsTheCounter()
    {
        Window w;
        ProgressWindow &progress = w.form.progress();
        QVERIFY(!progress.existing());
        QTRY_VERIFY(progress.existing());  // made on the first tick, not shown
        Form2 *form2 = progress.existing();
        QVERIFY(!form2->isVisible());
        w.session.state().currentAddress = 512;
        QTRY_COMPARE(form2->textAvanzLoc()->text(), "512");
        QVERIFY(!form2->isVisible());
        progress.setRefreshing(false);
        progress.setShown(true);
        QVERIFY(form2->isVisible());
        w.session.state().currentAddress = 32768;
        QTest::qWait(250);
        QCOMPARE(form2->textAvanzLoc()->text(), "512");
        progress.refreshNow();
        QCOMPARE(form2->textAvanzLoc()->text(), "32768");
        // Closed by the operator it is only hidden: the same window shows again.
        form2->close();
        progress.setShown(true);
        QVERIFY(progress.existing() == form2 && form2->isVisible());
        progress.setShown(false);
        QVERIFY(!form2->isVisible());
    }

    void directoryAndFileChoicesComposeThePath()
    {
        Window w;
        auto *dir1 = w.get<DirectoryList>("Dir1");
        auto *file1 = w.get<FileList>("File1");
        QLineEdit *box = w.box("textNomeFile");
        // It starts on the working directory, highlighted after its ancestors, with the box empty.
        QCOMPARE(dir1->path(), QDir::toNativeSeparators(QDir::currentPath()));
        QCOMPARE(file1->path(), dir1->path());
        QCOMPARE(w.get<DriveList>("Drive1")->drive(), DriveList::driveOf(QDir::currentPath()));
        QCOMPARE(box->text(), "");
        QCOMPARE(dir1->currentItem()->text().trimmed(), QFileInfo(QDir::currentPath()).fileName());
        QCOMPARE(dir1->item(0)->text(), QDir::toNativeSeparators(QDir::rootPath()));
        QVERIFY(dir1->setPath("/"));
        QCOMPARE(box->text(), "//");

        QVERIFY(dir1->setPath(m_root + "/lavori"));
        QCOMPARE(box->text(), m_root + "/lavori/");
        QCOMPARE(entries(file1), QStringList{"note.txt"});  // subdirectories are not files
        w.form.show();
        click(dir1, "dati");  // highlighting a directory changes nothing
        QCOMPARE(file1->path(), m_root + "/lavori");
        QCOMPARE(box->text(), m_root + "/lavori/");
        dir1->setFocus();
        QTest::keyClick(dir1->viewport(), Qt::Key_Return);  // opened, as with a double-click
        QCOMPARE(file1->path(), m_root + "/lavori/dati");
        QCOMPARE(entries(file1), (QStringList{"bios.hex", "LEGGIMI", "rom.bin"}));
        QCOMPARE(box->text(), m_root + "/lavori/dati/");
        click(file1, "rom.bin");
        QCOMPARE(box->text(), m_root + "/lavori/dati/rom.bin");
        // Typed text holds until a click on the file, even the one already selected, puts it back.
        box->setText("/altrove/immagine.bin");
        click(file1, "rom.bin");
        QCOMPARE(box->text(), m_root + "/lavori/dati/rom.bin");
        // Going up by an ancestor entry: the box holds the directory and a separator again.
        dir1->setCurrentItem(entryNamed(dir1, "lavori"));
        QTest::keyClick(dir1->viewport(), Qt::Key_Enter);
        QCOMPARE(dir1->path(), m_root + "/lavori");
        QCOMPARE(box->text(), m_root + "/lavori/");
    }

    void focusPassingThroughTheFileListKeepsTheTypedPath()
    {
        Window w;
        w.form.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.form));
        auto *file1 = w.get<FileList>("File1");
        QVERIFY(w.get<DirectoryList>("Dir1")->setPath(m_root + "/lavori/dati"));
        QLineEdit *box = w.box("textNomeFile");
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, "/mnt/usb/firmware.bin");
        // Tab into the list and on, Shift+Tab back into it, a click on its empty part.
        for (int i = 0; i < 30 && !file1->hasFocus(); ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(file1->hasFocus());
        QTest::keyClick(file1, Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QVERIFY(file1->hasFocus());
        QTest::mouseClick(file1->viewport(), Qt::LeftButton, {}, QPoint(5, file1->viewport()->height() - 3));
        QCOMPARE(box->text(), "/mnt/usb/firmware.bin");
        // Choosing a file with the keyboard is a selection: the box takes it.
        QTest::keyClick(file1, Qt::Key_Down);
        QVERIFY(!file1->fileName().isEmpty());
        QCOMPARE(box->text(), m_root + "/lavori/dati/" + file1->fileName());
    }

    void vanishedDirectoryAndUnreadableDrive()
    {
        Window w;
        auto *dir1 = w.get<DirectoryList>("Dir1");
        auto *drive1 = w.get<DriveList>("Drive1");
        QVERIFY(QDir(m_root).mkpath("lavori/gone"));
        QVERIFY(dir1->setPath(m_root + "/lavori"));
        QVERIFY(QDir(m_root + "/lavori/gone").removeRecursively());
        emit dir1->itemActivated(entryNamed(dir1, "gone"));
        QCOMPARE(dir1->path(), m_root + "/lavori");
        QCOMPARE(w.get<FileList>("File1")->path(), dir1->path());
        QVERIFY(!entryNamed(dir1, "gone"));
        QVERIFY(!dir1->setPath(m_root + "/nowhere") && !dir1->setPath(m_root + "/lavori/note.txt"));
        QCOMPARE(w.box("textNomeFile")->text(), m_root + "/lavori/");
        // A drive that has gone away since the list was made (a pulled memory card) is not taken.
        const QString before = drive1->drive();
        drive1->addItem(m_root + "/card");
        drive1->setCurrentIndex(drive1->count() - 1);
        emit drive1->activated(drive1->count() - 1);
        QCOMPARE(drive1->drive(), before);
        QCOMPARE(dir1->path(), m_root + "/lavori");
        // A drive that can be read: the lists move to it and the box follows.
        drive1->addItem(m_root);
        drive1->setCurrentIndex(drive1->count() - 1);
        emit drive1->activated(drive1->count() - 1);
        QCOMPARE(dir1->path(), m_root);
        QCOMPARE(w.box("textNomeFile")->text(), m_root + "/");
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
