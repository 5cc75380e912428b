// SPDX-License-Identifier: GPL-3.0-or-later
#include "AvrMachine.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

extern "C" {
#include <sim_avr.h>
#include <sim_cycle_timers.h>
#include <sim_elf.h>
}

namespace {
// A sleeping processor jumps to its next timer; this one keeps every jump within 1 ms, so that a
// byte from the program is never taken in far behind the wall clock.
constexpr std::uint64_t HeartbeatCycles = AvrMachine::Hz / 1000;

std::int64_t monotonicNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// The simulator's own messages go to standard error: standard output carries the terminal's path.
void toStandardError(avr_t *, const int level, const char *format, va_list arguments)
{
    if (level <= LOG_WARNING)
        std::vfprintf(stderr, format, arguments);
}

// The wall clock paces the simulation, so a sleeping processor only skips ahead.
void noSleep(avr_t *, avr_cycle_count_t) {}
} // namespace

AvrMachine::~AvrMachine()
{
    if (m_avr)
        avr_terminate(m_avr);
}

bool AvrMachine::load(const QString &firmwareElf, QString *error)
{
    avr_global_logger_set(toStandardError);
    elf_firmware_t firmware{};
    if (elf_read_firmware(firmwareElf.toLocal8Bit().constData(), &firmware) != 0) {
        *error = QStringLiteral("%1: not a firmware ELF file that can be read").arg(firmwareElf);
        return false;
    }
    std::strcpy(firmware.mmcu, "atmega328p");
    firmware.frequency = Hz;
    m_avr = avr_make_mcu_by_name(firmware.mmcu);
    if (!m_avr || avr_init(m_avr) != 0) {
        *error = QStringLiteral("the simulator has no ATmega328P");
        return false;
    }
    avr_load_firmware(m_avr, &firmware);
    m_avr->sleep = noSleep;
    avr_cycle_timer_register(m_avr, HeartbeatCycles, heartbeat, this);
    m_startNs = monotonicNs();
    return true;
}

std::uint64_t AvrMachine::heartbeat(avr_t *, std::uint64_t when, void *)
{
    return when + HeartbeatCycles;
}

std::uint64_t AvrMachine::cycle() const
{
    return m_avr->cycle;
}

std::uint64_t AvrMachine::wallCycles() const
{
    return std::uint64_t(monotonicNs() - m_startNs) * (Hz / 1'000'000) / 1000;
}

bool AvrMachine::catchUp()
{
    const std::uint64_t target = wallCycles();
    if (target > m_avr->cycle && target - m_avr->cycle > m_worstLag)
        m_worstLag = target - m_avr->cycle;
    while (m_avr->cycle < target) {
        const int state = avr_run(m_avr);
        if (state == cpu_Done || state == cpu_Crashed)
            return false;
    }
    return true;
}

qint64 AvrMachine::aheadUs() const
{
    const std::uint64_t wall = wallCycles();
    const std::uint64_t next = m_avr->cycle + HeartbeatCycles;
    return wall >= next ? 0 : qint64((next - wall) / (Hz / 1'000'000));
}
