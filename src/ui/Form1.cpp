// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Form1.h"

#include "link/PortName.h"
#include "link/SerialControl.h"
#include "operations/Messages.h"
#include "operations/Operator.h"
#include "operations/Session.h"
#include "ui/ButtonColour.h"
#include "ui/DirectoryList.h"
#include "ui/DriveList.h"
#include "ui/FileList.h"
#include "ui/ProgramIcon.h"
#include "ui/ProgressWindow.h"
#include "ui/OperationButtons.h"
#include "ui/ServicePanel.h"
#include "ui/Twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>

namespace {

const QColor ConnectedGreen = QColor::fromRgb(0x00FF00);  // 65280

bool samePort(const QString &a, const QString &b)
{
    const PortSelection first = selectPort(a);
    const PortSelection second = selectPort(b);
    return first.kind == second.kind && first.systemName == second.systemName;
}

OperatorMessage openFailure(const LinkError &error, const QString &typed)
{
    if (error.kind == LinkError::Kind::NoPortNamed)
        return typed.trimmed().isEmpty() ? Messages::message(MessageId::NoPortNamed)
                                         : Messages::message(MessageId::PortNotValid, {typed.trimmed(), {}, 0});
    return Messages::message(MessageId::PortWontOpen, {error.port, error.reason, 0});
}

} // namespace

Form1::Form1(Session &session, QWidget *parent)
    : QMainWindow(parent),
      m_session(session),
      m_port(session.port()),
      m_operator(session.op()),
      m_endProgram([] { QCoreApplication::quit(); })
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Romivo"));
    setWindowIcon(programIcon());

    m_progress = new ProgressWindow(session.state(), this);
    m_operations = new OperationButtons(session, this);
    session.setProgressDisplay(m_progress);

    buildMenu();
    buildControls();
    setTabOrderOfControls();

    connect(m_command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(m_command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    // Each operation takes the file-name box's text as it stands when the button is pressed.
    connect(m_operationButtons[0], &QPushButton::clicked, this, [this] { m_operations->Command3_Click(m_textNomeFile->text()); });
    connect(m_operationButtons[1], &QPushButton::clicked, this, [this] { m_operations->Command6_Click(m_textNomeFile->text()); });
    connect(m_operationButtons[2], &QPushButton::clicked, this, [this] { m_operations->Command7_Click(m_textNomeFile->text()); });
    connect(m_operationButtons[3], &QPushButton::clicked, this, [this] { m_operations->Command8_Click(); });
    connect(m_drive1, &DriveList::driveChanged, this, &Form1::Drive1_Change);
    connect(m_dir1, &DirectoryList::pathChanged, this, &Form1::Dir1_Change);
    connect(m_file1, &FileList::fileClicked, this, &Form1::File1_Click);
    session.dispatcher().setDsrHandling([this] { connectedByBoard(); });
    connect(&m_port, &SerialControl::portLost, this, &Form1::portLost);
    connect(&m_port, &SerialControl::outputDropped, this, &Form1::outputDropped);

    m_progress->setRefreshing(true);  // running from the start, as the operations leave it
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
        m_operator.show(openFailure(m_port.lastError(), typed));
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
    const OperatorMessage box = Messages::message(MessageId::PortLost, {m_openPortText.trimmed(), reason, 0});
    // Shown from the event queue, not from inside the serial layer's own signal.
    QMetaObject::invokeMethod(this, [this, box] { m_operator.show(box); }, Qt::QueuedConnection);
}

void Form1::outputDropped()
{
    if (m_closedNoticeGiven)
        return;
    m_closedNoticeGiven = true;
    // After the handler that sent: its own steps (and POSIZIONO's pause) stay as they are.
    QMetaObject::invokeMethod(this, [this] { m_operator.show(Messages::message(MessageId::PortNotOpen)); },
                              Qt::QueuedConnection);
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
    // A board left streaming would still be sending when the port is next opened. What the board
    // was sent, the stop byte too, is on its way before the program ends (bounded, so a dead port
    // cannot hold the exit); the window's appearance no longer matters.
    if (isStream(m_session.state().rxMode))
        m_session.stop();
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
