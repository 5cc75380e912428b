// SPDX-License-Identifier: GPL-3.0-or-later
#include "AvrMachine.h"
#include "RegularFile.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <gelf.h>
#include <utility>

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

// Where the AVR toolchain puts the data space in an ELF file's addresses.
constexpr GElf_Addr DataSpace = 0x800000;

// The loader takes every symbol's name, and fails on one that is not there.
bool symbolsNamed(Elf *elf, Elf_Scn *section, const GElf_Shdr &header)
{
    Elf_Data *symbols = ::elf_getdata(section, nullptr);
    if (!symbols || header.sh_entsize == 0)
        return false;
    GElf_Sym symbol{};
    for (int i = 0; std::size_t(i) < symbols->d_size / header.sh_entsize; ++i) {
        if (!::gelf_getsym(symbols, i, &symbol) || !::elf_strptr(elf, header.sh_link, symbol.st_name))
            return false;
    }
    return true;
}

// Why the ELF file open on `fd` cannot run on `avr`, empty when it can. libsimavr's loader takes
// any file: garbage gives it no code, another processor's program makes it crash, and it copies
// what it found into the flash and EEPROM without looking at their sizes.
QString firmwareFault(int fd, const avr_t *avr)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return qt_error_string(errno);
    ::elf_version(EV_CURRENT);
    Elf *elf = ::elf_begin(fd, ELF_C_READ, nullptr);
    GElf_Ehdr header{};
    std::size_t names = 0;
    QString fault;
    if (!elf || ::elf_kind(elf) != ELF_K_ELF || !::gelf_getehdr(elf, &header))
        fault = QStringLiteral("not an ELF file");
    else if (::gelf_getclass(elf) != ELFCLASS32 || header.e_ident[EI_DATA] != ELFDATA2LSB || header.e_machine != EM_AVR)
        fault = QStringLiteral("an ELF file for another processor (machine %1), not an AVR").arg(header.e_machine);
    else if (header.e_type != ET_EXEC)
        fault = header.e_type == ET_REL ? QStringLiteral("an object file, not a linked program")
                                        : QStringLiteral("not a linked program (ELF type %1)").arg(header.e_type);
    // libelf would take a table cut short for none at all.
    else if (header.e_shoff > GElf_Off(info.st_size)
             || GElf_Off(header.e_shnum) * header.e_shentsize > GElf_Off(info.st_size) - header.e_shoff)
        fault = QStringLiteral("cut short: its section headers end past the end of the file");
    else if (::elf_getshdrstrndx(elf, &names) != 0)
        fault = QStringLiteral("its section names cannot be read (%1)").arg(QLatin1String(::elf_errmsg(-1)));
    GElf_Shdr text{}, data{}, bss{}, eeprom{}, fuse{}, lock{};
    for (Elf_Scn *section = nullptr; fault.isEmpty() && (section = ::elf_nextscn(elf, section));) {
        GElf_Shdr shdr{};
        const char *name = ::gelf_getshdr(section, &shdr) ? ::elf_strptr(elf, names, shdr.sh_name) : nullptr;
        if (!name)
            fault = QStringLiteral("a section header cannot be read (%1)").arg(QLatin1String(::elf_errmsg(-1)));
        else if (shdr.sh_type != SHT_NOBITS && (shdr.sh_offset > GElf_Off(info.st_size) || shdr.sh_size > GElf_Off(info.st_size) - shdr.sh_offset))
            fault = QStringLiteral("cut short: its section %1 ends past the end of the file").arg(QLatin1String(name));
        else if (!::elf_getdata(section, nullptr))
            fault = QStringLiteral("its section %1 cannot be read (%2)").arg(QLatin1String(name), QLatin1String(::elf_errmsg(-1)));
        else if (shdr.sh_type == SHT_SYMTAB && !symbolsNamed(elf, section, shdr))
            fault = QStringLiteral("a symbol's name cannot be read");
        for (const auto &[known, into] : {std::pair{".text", &text}, {".data", &data}, {".bss", &bss},
                                          {".eeprom", &eeprom}, {".fuse", &fuse}, {".lock", &lock}}) {
            if (!fault.isEmpty() || std::strcmp(name, known) != 0)
                continue;
            *into = shdr;
            if (shdr.sh_type != (into == &bss ? SHT_NOBITS : SHT_PROGBITS))
                fault = QStringLiteral("its section %1 is of the wrong type (%2)").arg(QLatin1String(name)).arg(shdr.sh_type);
        }
    }
    if (elf)
        ::elf_end(elf);
    if (!fault.isEmpty())
        return fault;

    const GElf_Addr ramStart = DataSpace + avr->ioend + 1, ramEnd = DataSpace + avr->ramend + 1;
    auto outsideRam = [&](const GElf_Shdr &section) {
        return section.sh_size > 0 && (section.sh_addr < ramStart || section.sh_addr > ramEnd || section.sh_size > ramEnd - section.sh_addr);
    };
    // The flash holds the code and, after it, the initial values of .data.
    if (text.sh_size == 0)
        return QStringLiteral("no code (its .text section is missing or empty)");
    if (text.sh_addr + text.sh_size + data.sh_size > GElf_Addr(avr->flashend) + 1)
        return QStringLiteral("its code ends at byte %1, past the ATmega328P's %2 bytes of flash")
            .arg(text.sh_addr + text.sh_size + data.sh_size).arg(avr->flashend + 1);
    for (const auto &[name, section] : {std::pair{".data", &data}, {".bss", &bss}}) {
        if (outsideRam(*section))
            return QStringLiteral("its %1 (%2 bytes at 0x%3) lies outside the ATmega328P's RAM (0x%4-0x%5)")
                .arg(QLatin1String(name)).arg(section->sh_size).arg(section->sh_addr - DataSpace, 0, 16)
                .arg(ramStart - DataSpace, 0, 16).arg(ramEnd - DataSpace - 1, 0, 16);
    }
    if (eeprom.sh_size > GElf_Xword(avr->e2end) + 1)
        return QStringLiteral("its .eeprom holds %1 bytes, more than the ATmega328P's %2").arg(eeprom.sh_size).arg(avr->e2end + 1);
    if (fuse.sh_size > sizeof avr->fuse || lock.sh_size > sizeof avr->lockbits)
        return QStringLiteral("its .fuse or .lock holds more bytes than the ATmega328P has");
    return {};
}
} // namespace

AvrMachine::~AvrMachine()
{
    if (m_avr)
        avr_terminate(m_avr);
}

bool AvrMachine::load(const QString &firmwareElf, QString *error)
{
    avr_global_logger_set(toStandardError);
    m_avr = avr_make_mcu_by_name("atmega328p");
    if (!m_avr || avr_init(m_avr) != 0) {
        *error = QStringLiteral("the simulator has no ATmega328P");
        return false;
    }
    const int fd = RegularFile::open(firmwareElf, O_RDONLY, error);
    if (fd < 0)
        return false;
    const QString fault = firmwareFault(fd, m_avr);
    ::close(fd);
    elf_firmware_t firmware{};
    if (!fault.isEmpty() || elf_read_firmware(QFile::encodeName(firmwareElf).constData(), &firmware) != 0
        // The file may have changed since it was looked at.
        || firmware.flashsize == 0 || firmware.flashbase + std::uint64_t(firmware.flashsize) > m_avr->flashend + 1
        || firmware.eesize > m_avr->e2end + 1 || firmware.fusesize > sizeof m_avr->fuse) {
        *error = QStringLiteral("%1: %2").arg(firmwareElf, !fault.isEmpty() ? fault : QStringLiteral("not a firmware ELF file that can be read"));
        return false;
    }
    // The board is the one modelled here: what the file may ask of the simulator (another
    // processor or clock, traces, a console, pulls on the pins) is not taken, only its memories.
    elf_firmware_t board{};
    std::strcpy(board.mmcu, "atmega328p");
    board.frequency = Hz;
    board.flashbase = firmware.flashbase;
    board.flash = firmware.flash;
    board.flashsize = firmware.flashsize;
    board.datasize = firmware.datasize;
    board.bsssize = firmware.bsssize;
    board.eeprom = firmware.eeprom;
    board.eesize = firmware.eesize;
    board.fuse = firmware.fuse;
    board.fusesize = firmware.fusesize;
    board.lockbits = firmware.lockbits;
    board.symbol = firmware.symbol;
    board.symbolcount = firmware.symbolcount;
    avr_load_firmware(m_avr, &board);
    m_avr->sleep = noSleep;
    avr_cycle_timer_register(m_avr, HeartbeatCycles, heartbeat, this);
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
    // The clock starts when the board is served, not when its firmware was loaded.
    if (m_startNs < 0)
        m_startNs = monotonicNs();
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
