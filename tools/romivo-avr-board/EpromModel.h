// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>
#include <vector>

// A 27C256 as the board's pins see it, with time counted in the microcontroller's clock cycles.
// Its cells only go from 1 to 0, by a valid program pulse; it drives the data pins only in read
// and program-verify mode, after its access times; and it records every figure the board broke.
class EpromModel {
public:
    static constexpr int Size = 32768;
    static constexpr std::uint64_t CyclesPerUs = 16;
    static constexpr int ReadMillivolts = 5000;

    struct Violation {
        std::uint64_t cycle;
        QString what;
    };

    struct Pins {
        int address = 0;    // A0-A14
        bool ceLow = false;
        bool oeLow = false;
        int vppMillivolts = ReadMillivolts;
        int vccMillivolts = ReadMillivolts;
        int boardDrives = 0; // data pins the microcontroller drives (mask)
        int boardData = 0;   // and their levels
        bool operator==(const Pins &) const = default;
    };

    EpromModel();

    void load(const QByteArray &contents);
    QByteArray contents() const;
    // Pulses each cell needs before it takes its byte; a weak cell never does.
    void setPulsesNeeded(int address, int pulses) { m_pulsesNeeded[std::size_t(address)] = pulses; }
    void setWeak(int address) { m_pulsesNeeded[std::size_t(address)] = 0; }

    // The pins changed at `cycle`.
    void change(const Pins &pins, std::uint64_t cycle);
    // Time went on to `cycle` with the pins as they were: a supply left above the chip's maximum
    // is recorded once it has stayed there too long.
    void advance(std::uint64_t cycle);
    // Whether the chip's outputs are on, and from which cycle the byte they show is valid.
    bool driving() const { return m_driving; }
    std::uint64_t validFrom() const { return m_validFrom; }
    int output() const { return m_cells[std::size_t(m_pins.address)]; }
    const Pins &pins() const { return m_pins; }

    qint64 violationCount() const { return m_violationCount; }
    const QList<Violation> &violations() const { return m_violations; }
    static constexpr int MaxRecorded = 100;
    qint64 validPulses() const { return m_validPulses; }

private:
    // A supply above the chip's absolute maximum since `since`.
    struct Excess {
        bool over = false;
        bool recorded = false;
        std::uint64_t since = 0;
    };

    void violation(std::uint64_t cycle, const QString &what);
    void checkExcess(Excess &excess, const char *supply, int millivolts, int maximumVolts, std::uint64_t cycle, bool pulse);
    void pulseStart(std::uint64_t cycle);
    void pulseEnd(std::uint64_t cycle);

    std::vector<std::uint8_t> m_cells;
    std::vector<std::uint8_t> m_pulsesSeen;
    std::vector<int> m_pulsesNeeded;
    Pins m_pins;
    bool m_driving = false;
    std::uint64_t m_releasedAt = 0;
    std::uint64_t m_validFrom = 0;
    std::uint64_t m_addressChanged = 0;
    std::uint64_t m_dataChanged = 0;
    std::uint64_t m_oeRose = 0;
    std::uint64_t m_oeFell = 0;
    std::uint64_t m_ceFell = 0;
    bool m_contention = false;
    std::uint64_t m_vppInWindowFrom = 0;
    std::uint64_t m_vccInWindowFrom = 0;
    Excess m_vppExcess;
    Excess m_vccExcess;
    bool m_inPulse = false;
    bool m_pulseValid = false;
    std::uint64_t m_pulseStart = 0;
    std::uint64_t m_pulseEnd = 0;
    bool m_pulsed = false;
    qint64 m_validPulses = 0;
    qint64 m_violationCount = 0;
    QList<Violation> m_violations;
};
