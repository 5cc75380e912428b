#include "operations/Messages.h"
#include "Window.h"

#include "ui/Form2.h"
#include "ui/ProgressWindow.h"
#include "ui/ServicePanel.h"

#include <QFile>
#include <QTemporaryDir>

namespace {

const QColor Green = QColor(0, 255, 0);

// The colour the operator sees on a button's face, beside its caption.
QColor face(QPushButton *button)
{
    return button->grab().toImage().pixelColor(4, button->height() / 2);
}

} // namespace

class TestForm1 : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QCoreApplication::setApplicationName(QStringLiteral("romivo")); }

    void startsDisconnected();
    void tabSkipsDisabledAndHiddenControls();

    void connectWaitsForDsrThenDisconnectRestores();
    void repeatedDsrBeepsAgainAndStaysConnected();
    void portThatWillNotOpenIsToldAndStaysClosed_data();
    void portThatWillNotOpenIsToldAndStaysClosed();
    void connectWhileOpen();
    void lostPortDisconnectsAndTellsOnce();
    void closedPortSendsAreToldOncePerClosedSpell();
    void esciAndCloseBoxEndTheProgram();

    void progressWindowMadeOnFirstTickAndFollowsCounter();
};

void TestForm1::startsDisconnected()
{
    Window w;
    w.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.form));
    QCOMPARE(w.form.windowTitle(), QStringLiteral("Romivo"));
    const Form2 progressWindow;
    for (const QWidget *window : {static_cast<const QWidget *>(&w.form), static_cast<const QWidget *>(&progressWindow)})
        QVERIFY(window->windowIcon().availableSizes().contains(QSize(32, 32)));

    for (const char *name : {"Command3", "Command6", "Command7", "Command8"})
        QVERIFY2(!w.button(name)->isEnabled(), name);
    QVERIFY(w.button("Command1")->isEnabled());
    QVERIFY(face(w.button("Command2")) != Green);
    w.form.menuService_Click();
    QCOMPARE(face(w.button("buttonWriteData")), QColor(255, 0, 0));
    w.form.menuService_Click();
    QVERIFY(!w.port.isOpen());


    // FILE, Servizio shows the service panel over the lists, and hides it again.
    QAction *servizio = w.form.findChild<QAction *>(QStringLiteral("menuService"));
    servizio->trigger();
    QWidget *top = w.form.centralWidget()->childAt(w.get("File1")->geometry().center());
    QVERIFY(top == w.get("Frame1") || w.get("Frame1")->isAncestorOf(top));
    servizio->trigger();
    QVERIFY(!w.get("Frame1")->isVisible());
}

void TestForm1::tabSkipsDisabledAndHiddenControls()
{
    Window w;
    w.form.show();
    w.form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w.form));
    QCOMPARE(QApplication::focusWidget(), w.get("Drive1"));

    auto tabFrom = [&](QWidget *start) {
        start->setFocus();
        QTest::keyClick(start, Qt::Key_Tab);
        return QApplication::focusWidget();
    };
    QCOMPARE(tabFrom(w.box("textNomeFile")), w.button("Command2"));
    QCOMPARE(tabFrom(w.box("textCommPort")), w.get("Drive1"));

    QVERIFY(w.connectSim());
    QCOMPARE(tabFrom(w.box("textNomeFile")), w.button("Command3"));
    QCOMPARE(tabFrom(w.button("Command3")), w.button("Command6"));
    QCOMPARE(tabFrom(w.box("textCommPort")), w.button("Command8"));

    w.form.findChild<QAction *>(QStringLiteral("menuService"))->trigger();
    QCOMPARE(tabFrom(w.button("Command3")), w.button("buttonReset"));
    QCOMPARE(tabFrom(w.button("buttonClock")), w.button("buttonCeLow"));
    QCOMPARE(tabFrom(w.button("buttonDirOut")), w.button("Command6"));
}

void TestForm1::connectWaitsForDsrThenDisconnectRestores()
{
    Window w;
    w.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.form));
    const QColor unconnected = face(w.button("Command2"));
    w.connectTo(QStringLiteral("sim"));
    QVERIFY(w.port.isOpen());
    // Nothing changes until the board's DSR change comes through the event queue.
    QCOMPARE(w.button("Command2")->text(), QStringLiteral("CONNECT"));
    QVERIFY(!w.button("Command3")->isEnabled());
    QTRY_COMPARE(w.button("Command2")->text(), QStringLiteral("CONNECTED !"));
    QCOMPARE(face(w.button("Command2")), Green);
    for (const char *name : {"Command3", "Command6", "Command7", "Command8"})
        QVERIFY2(w.button(name)->isEnabled(), name);
    QCOMPARE(w.op.beeps(), 1);
    QVERIFY(w.op.messages().isEmpty());

    w.button("Command1")->click();
    QVERIFY(!w.port.isOpen());
    QCOMPARE(w.button("Command2")->text(), QStringLiteral("CONNECT"));
    QCOMPARE(face(w.button("Command2")), unconnected);
    for (const char *name : {"Command3", "Command6", "Command7", "Command8"})
        QVERIFY2(!w.button(name)->isEnabled(), name);

    // DISCONNECT with the port closed changes nothing, and a board that never raises DSR
    // leaves the window waiting.
    w.button("Command1")->click();
    QCOMPARE(w.button("Command2")->text(), QStringLiteral("CONNECT"));
    BoardFaults noDsr;
    noDsr.noDsr = true;
    w.sim().board().setFaults(noDsr);
    w.connectTo(QStringLiteral("SIM"));
    QTest::qWait(100);
    QVERIFY(w.port.isOpen());
    QCOMPARE(w.button("Command2")->text(), QStringLiteral("CONNECT"));
    QCOMPARE(w.op.beeps(), 1);
}

void TestForm1::repeatedDsrBeepsAgainAndStaysConnected()
{
    Window w;
    QVERIFY(w.connectSim());
    w.session.state().rxMode = RxMode::ReadToFile;
    w.session.dispatcher().MSComm1_OnComm(SerialControl::comEvDSR);
    QCOMPARE(w.op.beeps(), 2);
    QCOMPARE(w.button("Command2")->text(), QStringLiteral("CONNECTED !"));
    QVERIFY(w.button("Command8")->isEnabled());
    // Only the appearance: the running operation's mode is left alone.
    QCOMPARE(w.session.state().rxMode, RxMode::ReadToFile);
}

void TestForm1::portThatWillNotOpenIsToldAndStaysClosed_data()
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

void TestForm1::portThatWillNotOpenIsToldAndStaysClosed()
{
    QFETCH(QString, typed);
    QFETCH(QString, text);
    Window w;
    w.connectTo(typed);
    QVERIFY(!w.port.isOpen());
    QCOMPARE(w.op.messages().size(), 1);
    const OperatorMessage box = w.op.messages().first();
    QCOMPARE(box.kind, OperatorMessage::Kind::Failure);
    QCOMPARE(box.title, QStringLiteral("Romivo"));
    QVERIFY2(box.text.startsWith(text), qPrintable(box.text));
    if (text.endsWith(u'\n'))
        QVERIFY2(box.text.size() > text.size(), "the system's reason follows");
    QCOMPARE(w.button("Command2")->text(), QStringLiteral("CONNECT"));
    QVERIFY(!w.button("Command3")->isEnabled());
    // The program goes on: a board can be connected afterwards.
    QVERIFY(w.connectSim());
}

void TestForm1::connectWhileOpen()
{
    Window w;
    QVERIFY(w.connectSim());
    // The same port, however it is written, stays open as it is: no new DSR change.
    w.connectTo(QStringLiteral(" sim "));
    QTest::qWait(50);
    QVERIFY(w.port.isOpen());
    QCOMPARE(w.op.beeps(), 1);
    QCOMPARE(w.button("Command2")->text(), QStringLiteral("CONNECTED !"));

    // Another port: the open one is closed (as DISCONNECT does) before the new one is tried.
    w.connectTo(QStringLiteral("/dev/romivo-no-such-port"));
    QVERIFY(!w.port.isOpen());
    QCOMPARE(w.button("Command2")->text(), QStringLiteral("CONNECT"));
    QVERIFY(!w.button("Command6")->isEnabled());
    QCOMPARE(w.op.messages().size(), 1);
}

void TestForm1::lostPortDisconnectsAndTellsOnce()
{
    Window w;
    QVERIFY(w.connectSim());
    w.sim().losePort(QStringLiteral("cable pulled"));
    QCOMPARE(w.button("Command2")->text(), QStringLiteral("CONNECT"));
    QVERIFY(!w.button("Command7")->isEnabled());
    QTRY_COMPARE(w.op.messages().size(), 1);
    QCOMPARE(w.op.messages().first().text, QStringLiteral("COLLEGAMENTO PERSO SULLA PORTA SIM\ncable pulled"));
    QCOMPARE(w.op.messages().first().kind, OperatorMessage::Kind::Failure);

    // Sends after the loss are dropped without a second box; CONNECT works again.
    w.button("buttonReset")->click();
    w.button("buttonClock")->click();
    QTest::qWait(20);
    QCOMPARE(w.op.messages().size(), 1);
    QVERIFY(w.connectSim());
    QCOMPARE(w.op.messages().size(), 1);
}

void TestForm1::closedPortSendsAreToldOncePerClosedSpell()
{
    Window w;
    w.button("buttonReset")->click();
    // The notice comes after the click's own handling.
    QVERIFY(w.op.messages().isEmpty());
    w.button("buttonCeLow")->click();
    w.button("buttonWriteData")->click();
    QTRY_COMPARE(w.op.messages().size(), 1);
    QTest::qWait(20);
    QCOMPARE(w.op.texts(), QStringList{Messages::text(MessageId::PortNotOpen)});

    QVERIFY(w.connectSim());
    w.sim().clearRecords();
    w.button("buttonReset")->click();
    QTRY_COMPARE(w.sim().wireToBoard(), QByteArray("\xFF\x00\x0C", 3));
    w.button("Command1")->click();
    w.button("buttonReset")->click();
    QTRY_COMPARE(w.op.messages().size(), 2);
}

void TestForm1::esciAndCloseBoxEndTheProgram()
{
    Window w;
    w.form.show();
    QVERIFY(w.connectSim());
    // The port is closed first: closing sends what is still queued before the process ends.
    w.form.findChild<QAction *>(QStringLiteral("menuEsci"))->trigger();
    QCOMPARE(w.ends, 1);
    QVERIFY(!w.port.isOpen());
    QVERIFY(w.connectSim());
    w.form.close();
    QVERIFY(!w.port.isOpen());
    QCOMPARE(w.ends, 2);
    QVERIFY(w.op.messages().isEmpty());
}

void TestForm1::progressWindowMadeOnFirstTickAndFollowsCounter()
{
    Window w;
    ProgressWindow &progress = w.form.progress();
    QVERIFY(!progress.existing());
    QTRY_VERIFY(progress.existing());
    Form2 *form2 = progress.existing();
    QVERIFY(!form2->isVisible());

    // A tick copies the counter whether or not the window is shown, and never shows it.
    w.session.state().currentAddress = 512;
    QTRY_COMPARE(form2->textAvanzLoc()->text(), QStringLiteral("512"));
    QVERIFY(!form2->isVisible());

    progress.setRefreshing(false);
    progress.setShown(true);
    QVERIFY(form2->isVisible());
    w.session.state().currentAddress = 32768;
    QTest::qWait(250);
    QCOMPARE(form2->textAvanzLoc()->text(), QStringLiteral("512"));
    progress.refreshNow();
    QCOMPARE(form2->textAvanzLoc()->text(), QStringLiteral("32768"));

    // Closed by the operator it is only hidden: the same window shows again.
    form2->close();
    QVERIFY(!form2->isVisible());
    progress.setShown(true);
    QCOMPARE(progress.existing(), form2);
    QVERIFY(form2->isVisible());
    progress.setShown(false);
    QVERIFY(!form2->isVisible());
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
