#include "ui/Form1.h"

#include "link/PortName.h"
#include "link/SerialControl.h"
#include "operations/Operations.h"
#include "operations/Operator.h"
#include "ui/ButtonColour.h"
#include "ui/DirectoryList.h"
#include "ui/DriveList.h"
#include "ui/FileList.h"
#include "ui/ProgramIcon.h"
#include "ui/ProgressWindow.h"
#include "ui/ServicePanel.h"
#include "ui/Twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>

const QString Form1::ClosedPortNotice = QStringLiteral("PORTA NON APERTA: I COMANDI NON VENGONO INVIATI. PREMERE CONNECT");

namespace {

const QColor ConnectedGreen = QColor::fromRgb(0x00FF00);  // 65280

bool samePort(const QString &a, const QString &b)
{
    const PortSelection first = selectPort(a);
    const PortSelection second = selectPort(b);
    return first.kind == second.kind && first.systemName == second.systemName;
}

QString openFailureText(const LinkError &error, const QString &typed)
{
    if (error.kind == LinkError::Kind::NoPortNamed)
        return typed.trimmed().isEmpty() ? QStringLiteral("NESSUNA PORTA INDICATA")
                                         : QStringLiteral("PORTA NON VALIDA: ") + typed.trimmed();
    return QStringLiteral("IMPOSSIBILE APRIRE LA PORTA ") + error.port + u'\n' + error.reason;
}

} // namespace

Form1::Form1(SerialControl &port, Operator &op, QWidget *parent)
    : QMainWindow(parent),
      m_port(port),
      m_operator(op),
      m_dispatcher(port, m_state),
      m_timerWaitAck(this),
      m_timerSerialTimeout(this),
      m_timerAggiorna(this),
      m_endProgram([] { QCoreApplication::quit(); })
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Romivo"));
    setWindowIcon(programIcon());

    m_timerWaitAck.setObjectName(QStringLiteral("timerWaitAck"));
    m_timerWaitAck.setInterval(500);
    m_timerSerialTimeout.setObjectName(QStringLiteral("timerSerialTimeout"));
    m_timerSerialTimeout.setInterval(500);
    m_timerAggiorna.setObjectName(QStringLiteral("timerAggiorna"));
    m_timerAggiorna.setInterval(200);
    m_progress = new ProgressWindow(m_timerAggiorna, m_state, this);
    m_operations = std::make_unique<Operations>(m_port, m_state, m_dispatcher, m_operator, *m_progress, m_timerWaitAck);

    buildMenu();
    buildControls();
    setTabOrderOfControls();

    connect(m_command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(m_command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    // Each operation takes the file-name box's text as it stands when the button is pressed.
    connect(m_operationButtons[0], &QPushButton::clicked, this,
            [this] { m_operations->write.Command3_Click(m_textNomeFile->text()); });
    connect(m_operationButtons[1], &QPushButton::clicked, this,
            [this] { m_operations->read.Command6_Click(m_textNomeFile->text()); });
    connect(m_operationButtons[2], &QPushButton::clicked, this,
            [this] { m_operations->check.Command7_Click(m_textNomeFile->text()); });
    connect(m_operationButtons[3], &QPushButton::clicked, this, [this] { m_operations->check.Command8_Click(); });
    connect(m_drive1, &DriveList::driveChanged, this, &Form1::Drive1_Change);
    connect(m_dir1, &DirectoryList::pathChanged, this, &Form1::Dir1_Change);
    connect(m_file1, &FileList::fileClicked, this, &Form1::File1_Click);
    m_dispatcher.setDsrHandling([this] { connectedByBoard(); });
    connect(&m_port, &SerialControl::portLost, this, &Form1::portLost);
    connect(&m_port, &SerialControl::outputDropped, this, &Form1::outputDropped);

    m_timerAggiorna.start();
    m_drive1->setFocus();
}

Form1::~Form1() = default;

void Form1::Command2_Click()
{
    const QString typed = m_textCommPort->text();
    if (m_port.isOpen()) {
        if (samePort(typed, m_openPortText))
            return;
        // Another port: the open one is closed first, as DISCONNECT closes it.
        Command1_Click();
    }
    m_port.setCommPort(typed);
    if (!m_port.open()) {
        m_operator.fail(openFailureText(m_port.lastError(), typed));
        return;
    }
    m_openPortText = typed;
    m_closedNoticeGiven = false;
}

void Form1::Command1_Click()
{
    if (!m_port.isOpen())
        return;
    m_port.close();
    showDisconnected();
}

void Form1::showDisconnected()
{
    setButtonColour(m_command2, QColor());
    m_command2->setText(QStringLiteral("CONNECT"));
    for (QPushButton *button : m_operationButtons)
        button->setEnabled(false);
}

void Form1::connectedByBoard()
{
    m_operator.beep();
    setButtonColour(m_command2, ConnectedGreen);
    m_command2->setText(QStringLiteral("CONNECTED !"));
    for (QPushButton *button : m_operationButtons)
        button->setEnabled(true);
}

void Form1::portLost(const QString &reason)
{
    showDisconnected();
    // That box says it all: sends dropped from now on need no notice of their own.
    m_closedNoticeGiven = true;
    const QString text = QStringLiteral("COLLEGAMENTO PERSO SULLA PORTA ") + m_openPortText.trimmed() + u'\n' + reason;
    // Shown from the event queue, not from inside the serial layer's own signal.
    QMetaObject::invokeMethod(this, [this, text] { m_operator.fail(text); }, Qt::QueuedConnection);
}

void Form1::outputDropped()
{
    if (m_closedNoticeGiven)
        return;
    m_closedNoticeGiven = true;
    // After the handler that sent: its own steps (and POSIZIONO's pause) stay as they are.
    QMetaObject::invokeMethod(this, [this] { m_operator.fail(ClosedPortNotice); }, Qt::QueuedConnection);
}

void Form1::menuService_Click()
{
    if (m_frame1->isVisible()) {
        m_frame1->hide();
        return;
    }
    m_frame1->show();
    m_frame1->raise();
    m_frame1->move(twipsToPixels(100), twipsToPixels(100));
}

void Form1::menuEsci_Click()
{
    endProgram();
}

void Form1::closeEvent(QCloseEvent *event)
{
    event->accept();
    endProgram();
}

void Form1::endProgram()
{
    // What the board was sent is on its way before the program ends (bounded, so a dead port
    // cannot hold the exit); the window's appearance no longer matters.
    m_port.close();
    m_endProgram();
}

void Form1::Drive1_Change()
{
    // A drive that cannot be read keeps the lists where they were.
    if (!m_dir1->setPath(DriveList::currentDirectoryOf(m_drive1->drive())))
        m_drive1->setDrive(m_drive1->previousDrive());
}

void Form1::Dir1_Change()
{
    m_file1->setPath(m_dir1->path());
    composeFileName();
}

void Form1::File1_Click()
{
    composeFileName();
}

void Form1::composeFileName()
{
    m_textNomeFile->setText(m_dir1->path() + QDir::separator() + m_file1->fileName());
}
