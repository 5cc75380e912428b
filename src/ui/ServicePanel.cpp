#include "ui/ServicePanel.h"

#include "link/CommandFrame.h"
#include "link/ReceiveDispatcher.h"
#include "link/SerialControl.h"
#include "operations/Operator.h"
#include "ui/ButtonColour.h"
#include "ui/Fonts.h"
#include "ui/NumberText.h"
#include "ui/Twips.h"
#include "ui/WrapButton.h"

#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QTimer>

namespace {
const QString AddressRefused = QStringLiteral("INDIRIZZO NON VALIDO: SOLO DA -255 A 65535");
const QString DataRefused = QStringLiteral("DATO NON VALIDO: SOLO DA 0 A 255");
} // namespace

ServicePanel::ServicePanel(SerialControl &port, FormState &state, ReceiveDispatcher &dispatcher, Operator &op,
                           QTimer &timerSerialTimeout, QWidget *parent)
    : QGroupBox(QStringLiteral("SERVICE"), parent),
      m_port(port),
      m_state(state),
      m_operator(op),
      m_timerSerialTimeout(timerSerialTimeout),
      m_pause([](int ms) { QThread::msleep(static_cast<unsigned long>(ms)); })
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
        connect(button, &QPushButton::clicked, this, [this, code] { sendCommand(code); });
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

    m_timerSerialTimeout.setInterval(500);
    connect(&m_timerSerialTimeout, &QTimer::timeout, this, &ServicePanel::timerSerialTimeout_Timer);
    dispatcher.setHandling(RxMode::ServiceRead, [this](const QByteArray &bytes) { serviceRead(bytes); });
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

void ServicePanel::sendCommand(std::uint8_t code)
{
    m_port.output(*commandFrame(0, code));
}

void ServicePanel::buttonPompoClock_Click()
{
    m_state.rxMode = RxMode::Idle;
    const std::optional<std::int32_t> address = roundedToInt32(numberAtStart(m_textAddress->text()));
    // The high byte is the address divided by 256, truncated toward zero; it must fit a byte.
    const std::optional<QByteArray> high = address ? commandFrame(*address / 256, CommandCode::AddressHigh) : std::nullopt;
    if (!high) {
        m_operator.fail(AddressRefused);
        return;
    }
    m_port.output(*high);
    m_pause(PositionPauseMs);
    m_port.output(*commandFrame(*address & 0xFF, CommandCode::AddressLow));
    m_operator.beep();
}

void ServicePanel::buttonReadData_Click()
{
    m_state.rxMode = RxMode::ServiceRead;
    m_port.input();
    m_state.rxIndex = 0;
    m_timerSerialTimeout.start();
    m_port.output(*commandFrame(0, CommandCode::ReadData));
    m_buttonReadData->setEnabled(false);
}

void ServicePanel::buttonWriteData_Click()
{
    const std::optional<std::uint8_t> data = roundedToByte(numberAtStart(m_textReadData->text()));
    if (!data) {
        m_operator.fail(DataRefused);
        return;
    }
    m_port.output(*commandFrame(*data, CommandCode::WriteData));
}

void ServicePanel::serviceRead(const QByteArray &bytes)
{
    for (const char byte : bytes) {
        // Room for 22 bytes; the rest of a longer notification is not kept.
        if (m_state.rxIndex >= 0 && m_state.rxIndex < static_cast<int>(m_state.bufRx.size()))
            m_state.bufRx[static_cast<std::size_t>(m_state.rxIndex)] = static_cast<std::uint8_t>(byte);
        ++m_state.rxIndex;
    }
    m_timerSerialTimeout.stop();
    m_textReadData->setText(u' ' + QString::number(m_state.bufRx[0]));
    m_state.rxIndex = 0;
    m_state.reset_bufRx();
    m_buttonReadData->setEnabled(true);
}

void ServicePanel::timerSerialTimeout_Timer()
{
    m_operator.beep();
    m_timerSerialTimeout.stop();
    m_state.rxIndex = 0;
    m_operator.fail(QStringLiteral("ERRORE RICEZIONE"), BoxTitle::Application);
    m_buttonReadData->setEnabled(true);
}
