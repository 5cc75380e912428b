// SPDX-License-Identifier: GPL-3.0-or-later
#include "BoardWiring.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <avr_adc.h>
#include <avr_ioport.h>
#include <avr_uart.h>
#include <sim_avr.h>
#include <sim_cycle_timers.h>
#include <sim_io.h>
}

namespace {
enum Port { B, C, D };
constexpr char PortNames[] = {'B', 'C', 'D'};

// The board's wiring, pin by pin.
constexpr int DataOnB = 0x03;   // D0, D1 on PB0, PB1
constexpr int DataOnD = 0xFC;   // D2-D7 on PD2-PD7
constexpr int ShiftLatch = 2;   // PB2: RCLK of both 74HC595
constexpr int ShiftData = 3;    // PB3: SER of the first
constexpr int ShiftClock = 4;   // PB4: SRCLK of both
constexpr int ChipCe = 0;       // PC0, pulled up
constexpr int ChipOe = 1;       // PC1, pulled up
constexpr int VppEnable = 2;    // PC2, pulled down
constexpr int VccpEnable = 3;   // PC3, pulled down
constexpr int DsrOut = 4;       // PC4, the adapter's DSR input idles high
constexpr int DtrIn = 5;        // PC5, the adapter's DTR output, low when asserted
constexpr std::uint8_t PulledUp = (1 << ChipCe) | (1 << ChipOe) | (1 << DsrOut);
constexpr int VppSense = ADC_IRQ_ADC6; // through its divider
constexpr int VccSense = ADC_IRQ_ADC7;
constexpr std::uint32_t NanoMillivolts = 5000; // the Nano's VCC and AVCC, from USB

// What an ADC input must be given for libsimavr 1.6 to convert a supply through its divider as
// the ATmega328P does (ADC = VIN × 1024 / VREF): its own scales by 1023, and would read 6.0 V, an
// edge of the window, as 5.99 V.
std::uint32_t senseInput(int millivolts, int topOhms, int bottomOhms)
{
    const std::int64_t aref = BoardWiring::ArefMillivolts;
    const std::int64_t code = std::min<std::int64_t>(
        std::int64_t(millivolts) * bottomOhms * 1024 / (std::int64_t(topOhms + bottomOhms) * aref), 1023);
    return std::uint32_t((code * aref + 1022) / 1023); // the least input that converts to `code`
}

// 19,200 baud, 10 bits a byte: 8,333 cycles at 16 MHz.
constexpr std::uint64_t CyclesPerByte = 16'000'000 / 1920;
} // namespace

BoardWiring::BoardWiring(avr_t *avr, EpromModel &chip, VcdTrace &trace, Supplies supplies)
    : m_avr(avr), m_chip(chip), m_trace(trace), m_supplies(supplies)
{
    for (int port = B; port <= D; ++port) {
        const auto ioctl = AVR_IOCTL_IOPORT_GETIRQ(PortNames[port]);
        m_hooks[2 * port] = {this, port, false};
        m_hooks[2 * port + 1] = {this, port, true};
        avr_irq_register_notify(avr_io_getirq(avr, ioctl, IOPORT_IRQ_REG_PORT), portWritten, &m_hooks[2 * port]);
        avr_irq_register_notify(avr_io_getirq(avr, ioctl, IOPORT_IRQ_DIRECTION_ALL), portWritten, &m_hooks[2 * port + 1]);
    }
    for (int bit = 0; bit < 8; ++bit)
        m_dataPins[bit] = avr_io_getirq(avr, AVR_IOCTL_IOPORT_GETIRQ((DataOnB >> bit) & 1 ? 'B' : 'D'), bit);
    m_dtrPin = avr_io_getirq(avr, AVR_IOCTL_IOPORT_GETIRQ('C'), DtrIn);
    setDtr(false);

    std::uint32_t flags = 0; // no console echo, no host sleeping while the firmware polls
    avr_ioctl(avr, AVR_IOCTL_UART_SET_FLAGS('0'), &flags);
    m_uartIn = avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_INPUT);
    for (avr_io_t *io = avr->io_port; io; io = io->next) {
        if (std::strcmp(io->kind, "uart") == 0 && reinterpret_cast<avr_uart_t *>(io)->name == '0')
            m_uart = reinterpret_cast<avr_uart_t *>(io);
    }
    avr_irq_register_notify(avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUTPUT), uartOutput, this);

    avr->vcc = avr->avcc = NanoMillivolts;
    avr->aref = ArefMillivolts;
    m_vppSense = avr_io_getirq(avr, AVR_IOCTL_ADC_GETIRQ, VppSense);
    m_vccSense = avr_io_getirq(avr, AVR_IOCTL_ADC_GETIRQ, VccSense);
    senseSupplies(m_chip.pins());
    recordTrace();
}

void BoardWiring::senseSupplies(const EpromModel::Pins &pins)
{
    if (m_vppSense)
        avr_raise_irq(m_vppSense, senseInput(pins.vppMillivolts, VppDividerTopOhms, VppDividerBottomOhms));
    if (m_vccSense)
        avr_raise_irq(m_vccSense, senseInput(pins.vccMillivolts, VccDividerTopOhms, VccDividerBottomOhms));
}

void BoardWiring::setDtr(bool asserted)
{
    avr_ioport_external_t external{};
    external.name = 'C';
    external.mask = 1 << DtrIn;
    external.value = asserted ? 0 : 1 << DtrIn;
    avr_ioctl(m_avr, AVR_IOCTL_IOPORT_SET_EXTERNAL('C'), &external);
    avr_raise_irq(m_dtrPin, asserted ? 0 : 1);
}

// libsimavr 1.6 counts a parity bit in every frame, parity or not: 11 bits where 8N1 has 10, so its
// line would run 9 % slow in both directions.
void BoardWiring::keepLineTiming()
{
    if (!m_uart)
        return;
    const std::uint32_t divisor = avr_regbit_get(m_avr, m_uart->ubrrl) | (avr_regbit_get(m_avr, m_uart->ubrrh) << 8);
    const std::uint64_t cyclesPerBit = (divisor + 1) * (avr_regbit_get(m_avr, m_uart->u2x) ? 8 : 16);
    m_uart->cycles_per_byte = cyclesPerBit * 10;
}

// Dropped and counted, as romivo-board does, rather than left in the terminal: only a faulty
// program gets this far ahead of its acknowledgements, and a stalled read would hide it.
void BoardWiring::fromProgram(QByteArrayView bytes)
{
    const bool idle = m_waiting == 0;
    const qsizetype size = qsizetype(m_towardsBoard.size());
    const qsizetype taken = qMin(bytes.size(), size - m_waiting);
    for (qsizetype i = 0; i < taken; ++i)
        m_towardsBoard[std::size_t((m_first + m_waiting + i) % size)] = std::uint8_t(bytes[i]);
    m_waiting += taken;
    m_dropped += bytes.size() - taken;
    if (idle && m_waiting > 0)
        avr_cycle_timer_register(m_avr, CyclesPerByte, feedLine, this);
}

std::uint64_t BoardWiring::feedLine(avr_t *, std::uint64_t when, void *param)
{
    auto *self = static_cast<BoardWiring *>(param);
    const std::uint8_t byte = self->m_towardsBoard[std::size_t(self->m_first)];
    self->m_first = (self->m_first + 1) % qsizetype(self->m_towardsBoard.size());
    --self->m_waiting;
    avr_raise_irq(self->m_uartIn, byte);
    if (self->onReceived)
        self->onReceived(byte);
    return self->m_waiting > 0 ? when + CyclesPerByte : 0;
}

void BoardWiring::uartOutput(avr_irq_t *, std::uint32_t value, void *param)
{
    auto *self = static_cast<BoardWiring *>(param);
    if (self->onSent)
        self->onSent(std::uint8_t(value));
}

void BoardWiring::portWritten(avr_irq_t *, std::uint32_t value, void *param)
{
    const auto *hook = static_cast<Hook *>(param);
    BoardWiring *self = hook->wiring;
    (hook->direction ? self->m_ddr : self->m_port)[hook->port] = std::uint8_t(value);
    self->pinsChanged();
}

void BoardWiring::pinsChanged()
{
    // An output shows its port bit; an input is where its resistor holds it.
    auto level = [&](int port, int bit) {
        if ((m_ddr[port] >> bit) & 1)
            return bool((m_port[port] >> bit) & 1);
        return port == C && ((PulledUp >> bit) & 1);
    };

    const bool clock = level(B, ShiftClock);
    if (clock && !m_clock)
        m_shift = std::uint16_t((m_shift << 1) | (level(B, ShiftData) ? 1 : 0));
    m_clock = clock;
    const bool latch = level(B, ShiftLatch);
    if (latch && !m_latch)
        m_latched = m_shift;
    m_latch = latch;

    const bool dsr = level(C, DsrOut);
    if (dsr != m_dsr) {
        m_dsr = dsr;
        if (onDsr)
            onDsr(dsr);
    }

    const bool vppOn = level(C, VppEnable);
    const bool vccpOn = level(C, VccpEnable);
    const bool switched = vppOn != m_vppOn || vccpOn != m_vccpOn;
    m_vppOn = vppOn;
    m_vccpOn = vccpOn;

    EpromModel::Pins pins;
    pins.address = m_latched & 0x7FFF;
    pins.ceLow = !level(C, ChipCe);
    pins.oeLow = !level(C, ChipOe);
    // With its supply off, the VPP pin sits at VCC through the board's diode.
    pins.vccMillivolts = vccpOn ? m_supplies.vccMillivolts : EpromModel::ReadMillivolts;
    pins.vppMillivolts = vppOn ? m_supplies.vppMillivolts : pins.vccMillivolts;
    pins.boardDrives = (m_ddr[B] & DataOnB) | (m_ddr[D] & DataOnD);
    pins.boardData = ((m_port[B] & DataOnB) | (m_port[D] & DataOnD)) & pins.boardDrives;
    const EpromModel::Pins &before = m_chip.pins();
    if (pins == before) {
        if (switched) // to a level the chip already had
            recordTrace();
        return;
    }
    if (pins.vppMillivolts != before.vppMillivolts || pins.vccMillivolts != before.vccMillivolts)
        senseSupplies(pins);
    m_chip.change(pins, m_avr->cycle);
    if (m_chip.driving()) {
        if (m_chip.validFrom() <= m_avr->cycle)
            driveDataPins();
        else
            avr_cycle_timer_register(m_avr, m_chip.validFrom() - m_avr->cycle, showOutput, this);
    } else {
        avr_cycle_timer_cancel(m_avr, showOutput, this);
    }
    recordTrace();
}

std::uint64_t BoardWiring::showOutput(avr_t *, std::uint64_t, void *param)
{
    auto *self = static_cast<BoardWiring *>(param);
    self->driveDataPins();
    self->recordTrace();
    return 0;
}

// Until its access time has passed the chip's outputs are not valid, and a read sees the old bus.
void BoardWiring::driveDataPins()
{
    const int value = m_chip.output();
    for (int bit = 0; bit < 8; ++bit)
        avr_raise_irq(m_dataPins[bit], (value >> bit) & 1);
}

void BoardWiring::recordTrace()
{
    if (!m_trace.isOpen())
        return;
    const EpromModel::Pins &pins = m_chip.pins();
    VcdTrace::Levels levels;
    levels.ce = !pins.ceLow;
    levels.oe = !pins.oeLow;
    levels.vpp = m_vppOn;
    levels.vccp = m_vccpOn;
    levels.address = pins.address;
    const bool chipValid = m_chip.driving() && m_avr->cycle >= m_chip.validFrom();
    for (int bit = 7; bit >= 0; --bit) {
        char level = 'z';
        if ((pins.boardDrives >> bit) & 1)
            level = (pins.boardData >> bit) & 1 ? '1' : '0';
        else if (m_chip.driving())
            level = !chipValid ? 'x' : (m_chip.output() >> bit) & 1 ? '1' : '0';
        levels.data[7 - bit] = level;
    }
    m_trace.record(levels, m_avr->cycle);
}
