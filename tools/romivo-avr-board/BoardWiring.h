// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "EpromModel.h"
#include "VcdTrace.h"

#include <QByteArrayView>
#include <array>
#include <cstdint>
#include <functional>

struct avr_t;
struct avr_irq_t;
struct avr_uart_t;

// The reference board around the simulated ATmega328P: two 74HC595 shifting the address in,
// the 27C256 on the data pins, CE, OE, the two supply switches and the dividers through which
// the ADC measures the socket's VPP and VCC, and the serial adapter's TXD, RXD, DTR and DSR lines.
class BoardWiring {
public:
    // The sense dividers (0.1 % resistors) and the LM4040 on AREF. firmware/board.h holds the
    // same figures (VPP_DIVIDER_*, VCC_DIVIDER_*, AREF_MILLIVOLTS): the two must agree.
    static constexpr int VppDividerTopOhms = 27'000;
    static constexpr int VppDividerBottomOhms = 10'000;
    static constexpr int VccDividerTopOhms = 10'000;
    static constexpr int VccDividerBottomOhms = 10'000;
    static constexpr int ArefMillivolts = 4096;

    // What the two switched supplies give when switched on.
    struct Supplies {
        int vppMillivolts = 12'750;
        int vccMillivolts = 6'250;
    };

    BoardWiring(avr_t *avr, EpromModel &chip, VcdTrace &trace, Supplies supplies);

    // Bytes from the program, delivered to the UART one line time apart. Those beyond what the
    // queue holds are dropped and counted.
    void fromProgram(QByteArrayView bytes);
    qsizetype waitingTowardsBoard() const { return m_waiting; }
    qint64 droppedTowardsBoard() const { return m_dropped; }
    // The adapter asserts DTR while the program holds the port open.
    void setDtr(bool asserted);
    // Keeps the UART's byte time that of 8N1 (call after the firmware may have set its speed).
    void keepLineTiming();

    std::function<void(std::uint8_t)> onSent;      // the firmware sent a byte
    std::function<void(std::uint8_t)> onReceived;  // a byte reached the firmware's UART
    std::function<void(bool)> onDsr;               // the DSR output changed level

private:
    struct Hook {
        BoardWiring *wiring;
        int port; // 0 B, 1 C, 2 D
        bool direction;
    };
    static void portWritten(avr_irq_t *irq, std::uint32_t value, void *param);
    static void uartOutput(avr_irq_t *irq, std::uint32_t value, void *param);
    static std::uint64_t feedLine(avr_t *avr, std::uint64_t when, void *param);
    static std::uint64_t showOutput(avr_t *avr, std::uint64_t when, void *param);

    void pinsChanged();
    void senseSupplies(const EpromModel::Pins &pins);
    void driveDataPins();
    void recordTrace();

    avr_t *m_avr;
    EpromModel &m_chip;
    VcdTrace &m_trace;
    Hook m_hooks[6];
    std::uint8_t m_port[3] = {};
    std::uint8_t m_ddr[3] = {};
    std::uint16_t m_shift = 0;
    std::uint16_t m_latched = 0;
    bool m_clock = false;
    bool m_latch = false;
    bool m_dsr = true; // the adapter's input idles high
    Supplies m_supplies;
    bool m_vppOn = false;
    bool m_vccpOn = false;
    avr_irq_t *m_vppSense = nullptr;
    avr_irq_t *m_vccSense = nullptr;
    avr_irq_t *m_dataPins[8] = {};
    avr_irq_t *m_dtrPin = nullptr;
    avr_irq_t *m_uartIn = nullptr;
    avr_uart_t *m_uart = nullptr;
    // Eight blocks' worth: a program that waits for each block's acknowledgement never has more
    // than one block and a frame on the way.
    std::array<std::uint8_t, 4096> m_towardsBoard{};
    qsizetype m_first = 0;
    qsizetype m_waiting = 0;
    qint64 m_dropped = 0;
};
