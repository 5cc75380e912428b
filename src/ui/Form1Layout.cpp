// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's menu, controls and tab order, placed as fixed geometry in twips: nothing is
// laid out again when the window is resized, and a smaller window clips at its right and bottom.
#include "ui/Form1.h"

#include "ui/DirectoryList.h"
#include "ui/DriveList.h"
#include "ui/FileList.h"
#include "ui/Fonts.h"
#include "operations/Session.h"
#include "ui/ServicePanel.h"
#include "ui/Twips.h"
#include "ui/WrapButton.h"

#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>

namespace {

template <typename Widget>
Widget *place(Widget *widget, const char *name, QRect twips)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(twipRect(twips.x(), twips.y(), twips.width(), twips.height()));
    return widget;
}

QPushButton *button(QWidget *parent, const char *name, const QString &caption, QRect twips, const QFont &font)
{
    QPushButton *b = place(new QPushButton(caption, parent), name, twips);
    b->setFont(font);
    return b;
}

} // namespace

void Form1::buildMenu()
{
    QMenu *menuFile = menuBar()->addMenu(QStringLiteral("FILE"));
    menuFile->setObjectName(QStringLiteral("menuFile"));
    QAction *menuService = menuFile->addAction(QStringLiteral("Servizio"));
    menuService->setObjectName(QStringLiteral("menuService"));
    QAction *menuEsci = menuFile->addAction(QStringLiteral("Esci"));
    menuEsci->setObjectName(QStringLiteral("menuEsci"));
    connect(menuService, &QAction::triggered, this, &Form1::menuService_Click);
    connect(menuEsci, &QAction::triggered, this, &Form1::menuEsci_Click);
}

void Form1::buildControls()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setAutoFillBackground(true);
    setCentralWidget(client);

    m_frame2 = place(new QGroupBox(QStringLiteral("SERIALE"), client), "Frame2", {360, 0, 3615, 1215});
    m_frame2->setFont(Fonts::bookmanBold());

    m_picture1 = place(new QLabel(m_frame2), "Picture1", {120, 360, 810, 525});
    m_picture1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_picture1->setLineWidth(2);
    m_picture1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_picture1->setPixmap(QPixmap(QStringLiteral(":/romivo/logo.jpg")));

    m_textCommPort = place(new QLineEdit(QStringLiteral("22"), m_frame2), "textCommPort", {960, 360, 735, 495});
    m_textCommPort->setFont(Fonts::bookmanLargeBold());
    m_command2 = button(m_frame2, "Command2", QStringLiteral("CONNECT"), {1800, 240, 1455, 375}, Fonts::bookmanRegular());
    m_command1 = button(m_frame2, "Command1", QStringLiteral("DISCONNECT"), {1800, 600, 1455, 375}, Fonts::bookmanRegular());

    m_drive1 = place(new DriveList(client), "Drive1", {360, 1440, 2535, 315});
    m_dir1 = place(new DirectoryList(client), "Dir1", {360, 1800, 2535, 1665});
    m_file1 = place(new FileList(client), "File1", {360, 3600, 2535, 1650});
    // The lists start on the program's working directory; the box stays empty until a change.
    {
        const QSignalBlocker blocker(m_dir1);
        m_dir1->setPath(QDir::currentPath());
    }
    m_file1->setPath(m_dir1->path());
    m_textNomeFile = place(new QLineEdit(client), "textNomeFile", {360, 5280, 5895, 495});

    const struct {
        const char *name;
        const char *caption;
        QRect place;
    } operations[] = {
        {"Command3", "SCRIVO FILE SU EPROM", {480, 6000, 1455, 975}},
        {"Command6", "LEGGO EPROM E SCRIVO SU FILE", {2520, 6000, 1575, 975}},
        {"Command7", "CONFRONTO CON FILE SELEZIONATO", {4680, 6000, 1575, 975}},
        {"Command8", "BLANK CHECK", {6600, 6000, 1575, 975}},
    };
    for (std::size_t i = 0; i < std::size(operations); ++i) {
        QPushButton *b = place(new WrapButton(QString::fromLatin1(operations[i].caption), client),
                               operations[i].name, operations[i].place);
        b->setFont(Fonts::bookmanRegular());
        b->setEnabled(false);
        m_operationButtons[i] = b;
    }

    m_frame1 = new ServicePanel(m_session.service(), client);
    m_frame1->setGeometry(twipRect(100, 100, 6135, 5295));
    m_frame1->setAutoFillBackground(true);
    QPalette highlight = m_frame1->palette();
    highlight.setColor(QPalette::Window, highlight.color(QPalette::Light));
    m_frame1->setPalette(highlight);
    m_frame1->hide();

    resize(twipsToPixels(9135), twipsToPixels(7080) + menuBar()->sizeHint().height());
}

void Form1::setTabOrderOfControls()
{
    // By tab number: frames and the logo take no focus; hidden and disabled controls are skipped.
    const char *order[] = {"Drive1", "Dir1", "File1", "textNomeFile", "Command3",
                           "buttonReset", "buttonClock", "buttonCeLow", "buttonCeHigh", "buttonOeLow",
                           "buttonOeHigh", "buttonWriteData", "textAddress", "buttonPompoClock",
                           "buttonReadData", "textReadData", "buttonDirIn", "buttonDirOut",
                           "Command6", "Command7", "Command2", "Command1", "textCommPort", "Command8"};
    QWidget *previous = nullptr;
    for (const char *name : order) {
        QWidget *widget = findChild<QWidget *>(QString::fromLatin1(name));
        Q_ASSERT(widget);
        if (previous)
            setTabOrder(previous, widget);
        previous = widget;
    }
}
