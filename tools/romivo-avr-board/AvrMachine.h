// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <cstdint>

struct avr_t;

// The simulated ATmega328P at 16 MHz running the board's firmware, its clock paced to the wall
// clock.
class AvrMachine {
public:
    static constexpr std::uint64_t Hz = 16'000'000;

    ~AvrMachine();
    // False, with `error` as "FILE: reason", for a file that is not an AVR program this board can run.
    bool load(const QString &firmwareElf, QString *error);
    avr_t *avr() const { return m_avr; }
    std::uint64_t cycle() const;
    double seconds() const { return double(cycle()) / double(Hz); }

    // Runs until the simulated time has caught up with the wall clock; false if the firmware
    // stopped or crashed.
    bool catchUp();
    // How long until the simulated time is due to move on, in microseconds.
    qint64 aheadUs() const;
    // How far the simulated clock ever lagged behind the wall clock, in milliseconds.
    double worstLagMs() const { return double(m_worstLag) * 1000.0 / double(Hz); }

private:
    std::uint64_t wallCycles() const;
    static std::uint64_t heartbeat(avr_t *avr, std::uint64_t when, void *param);

    avr_t *m_avr = nullptr;
    std::int64_t m_startNs = -1;
    std::uint64_t m_worstLag = 0;
};
