// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ServicePanel.h"

#include "link/CommandFrame.h"
#include "operations/ServiceCommands.h"
#include "ui/ButtonColour.h"
#include "ui/Fonts.h"
#include "ui/Twips.h"
#include "ui/WrapButton.h"

#include <QLineEdit>
#include <QPushButton>

ServicePanel::ServicePanel(ServiceCommands &service, QWidget *parent)
    : QGroupBox(QStringLiteral("SERVICE"), parent), m_commands(service)
{
    setObjectName(QStringLiteral("Frame1"));

    const struct {
        const char *name;
        const char *caption;
        QRect place;
        std::uint8_t code;
    } commands[] = {
        {"buttonReset", "POMPO RESET", {360, 480, 1335, 495}, CommandCode::CounterReset},
        {"buttonClock", "POMPO CLOCK", {1800, 480, 1335, 495}, CommandCode::CounterClock},
        {"buttonCeHigh", "EPROM CE=HIGH", {360, 1080, 1695, 615}, CommandCode::CeHigh},
        {"buttonCeLow", "EPROM CE=LOW", {2280, 1080, 1695, 615}, CommandCode::CeLow},
        {"buttonOeHigh", "EPROM OE=HIGH", {360, 1800, 1695, 615}, CommandCode::OeHigh},
        {"buttonOeLow", "EPROM OE=LOW", {2280, 1800, 1695, 615}, CommandCode::OeLow},
        {"buttonDirOut", "DIR OUT (prima di scrivere)", {4200, 3480, 1575, 615}, CommandCode::DirOut},
        {"buttonDirIn", "DIR IN", {4200, 4200, 1575, 375}, CommandCode::DirIn},
    };
    for (const auto &command : commands) {
        QPushButton *button = addButton(command.name, QString::fromLatin1(command.caption), command.place);
        const std::uint8_t code = command.code;
        connect(button, &QPushButton::clicked, this, [this, code] { m_commands.send(code); });
    }

    m_buttonReadData = addButton("buttonReadData", QStringLiteral("LEGGO DATO"), {360, 2640, 1695, 615});
    connect(m_buttonReadData, &QPushButton::clicked, this, &ServicePanel::buttonReadData_Click);
    m_textReadData = addNumberBox("textReadData", {2160, 2640, 1455, 615});
    QPushButton *buttonWriteData = addButton("buttonWriteData", QStringLiteral("SCRIVO DATO"), {3720, 2640, 1695, 615});
    setButtonColour(buttonWriteData, QColor(255, 0, 0));
    connect(buttonWriteData, &QPushButton::clicked, this, &ServicePanel::buttonWriteData_Click);
    QPushButton *buttonPompoClock = addButton("buttonPompoClock", QStringLiteral("POSIZIONO"), {360, 3360, 1695, 615});
    connect(buttonPompoClock, &QPushButton::clicked, this, &ServicePanel::buttonPompoClock_Click);
    m_textAddress = addNumberBox("textAddress", {2160, 3360, 1455, 615});

    connect(&m_commands, &ServiceCommands::dataRead, m_textReadData, &QLineEdit::setText);
    connect(&m_commands, &ServiceCommands::readPending, m_buttonReadData, &QPushButton::setDisabled);
}

QPushButton *ServicePanel::addButton(const char *name, const QString &caption, QRect twips)
{
    auto *button = new WrapButton(caption, this);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(twipRect(twips.x(), twips.y(), twips.width(), twips.height()));
    return button;
}

QLineEdit *ServicePanel::addNumberBox(const char *name, QRect twips)
{
    auto *box = new QLineEdit(QStringLiteral("0"), this);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(twipRect(twips.x(), twips.y(), twips.width(), twips.height()));
    box->setFont(Fonts::gadugiLarge());
    return box;
}

void ServicePanel::buttonPompoClock_Click()
{
    m_commands.position(m_textAddress->text());
}

void ServicePanel::buttonReadData_Click()
{
    m_commands.readData();
}

void ServicePanel::buttonWriteData_Click()
{
    m_commands.writeData(m_textReadData->text());
}
