// SPDX-License-Identifier: GPL-3.0-or-later
#include "EpromModel.h"

#include <algorithm>

namespace {
using Cycles = std::uint64_t;
// A 27C256 datasheet's figures, in 16 MHz cycles (62.5 ns each).
constexpr Cycles Setup = 2 * EpromModel::CyclesPerUs; // tVCS, tVPS, tAS, tDS, tOES, tDH, tAH
constexpr Cycles PulseMin = 95 * EpromModel::CyclesPerUs;
constexpr Cycles PulseMax = 105 * EpromModel::CyclesPerUs;
constexpr Cycles AccessTime = 3; // tACC = tCE = 150 ns, also tOE in program verify
constexpr Cycles ReadOeTime = 1; // tOE = 60 ns at 5 V
constexpr Cycles ReleaseTime = 1; // tDF = 50 ns

QString us(Cycles cycles)
{
    return QString::number(double(cycles) / double(EpromModel::CyclesPerUs), 'f', 3) + QStringLiteral(" us");
}
} // namespace

EpromModel::EpromModel()
    : m_cells(Size, 0xFF), m_pulsesSeen(Size, 0), m_pulsesNeeded(Size, 1)
{
}

void EpromModel::load(const QByteArray &contents)
{
    std::fill(m_cells.begin(), m_cells.end(), 0xFF);
    std::copy_n(contents.constBegin(), std::min<qsizetype>(contents.size(), Size), m_cells.begin());
}

QByteArray EpromModel::contents() const
{
    return QByteArray(reinterpret_cast<const char *>(m_cells.data()), Size);
}

void EpromModel::violation(std::uint64_t cycle, const QString &what)
{
    ++m_violationCount;
    if (m_violations.size() < MaxRecorded)
        m_violations.append({cycle, what});
}

void EpromModel::change(const Pins &now, std::uint64_t cycle)
{
    const Pins before = m_pins;
    m_pins = now;
    const bool addressChanged = now.address != before.address;
    const bool dataChanged = now.boardDrives != before.boardDrives
        || ((now.boardData ^ before.boardData) & now.boardDrives) != 0;

    if (now.vccp != before.vccp) {
        if (!now.vccp && now.vpp)
            violation(cycle, QStringLiteral("VCC left 6.25 V while VPP was on (VPP must fall first)"));
        if (now.vccp)
            m_vccpRose = cycle;
    }
    if (now.vpp != before.vpp && now.vpp) {
        m_vppRose = cycle;
        if (!now.vccp)
            violation(cycle, QStringLiteral("VPP on while VCC was not at 6.25 V"));
        else if (cycle - m_vccpRose < Setup)
            violation(cycle, QStringLiteral("VPP on %1 after VCC reached 6.25 V (tVCS 2 us)").arg(us(cycle - m_vccpRose)));
    }
    if (m_inPulse) {
        auto spoil = [&](const QString &what) {
            violation(cycle, what + QStringLiteral(" during a program pulse"));
            m_pulseValid = false;
        };
        if (addressChanged)
            spoil(QStringLiteral("address changed"));
        if (dataChanged)
            spoil(QStringLiteral("data changed"));
        if (now.oeLow && !before.oeLow)
            spoil(QStringLiteral("OE low"));
        if (now.vpp != before.vpp || now.vccp != before.vccp)
            spoil(QStringLiteral("a supply switched"));
    } else if (m_pulsed && cycle - m_pulseEnd < Setup) {
        if (addressChanged)
            violation(cycle, QStringLiteral("address changed %1 after a program pulse (tAH 2 us)").arg(us(cycle - m_pulseEnd)));
        if (dataChanged)
            violation(cycle, QStringLiteral("data changed %1 after a program pulse (tDH 2 us)").arg(us(cycle - m_pulseEnd)));
    }
    if (addressChanged)
        m_addressChanged = cycle;
    if (dataChanged)
        m_dataChanged = cycle;
    if (before.oeLow && !now.oeLow)
        m_oeRose = cycle;
    if (!before.oeLow && now.oeLow)
        m_oeFell = cycle;
    if (!before.ceLow && now.ceLow)
        m_ceFell = cycle;

    if (now.ceLow != before.ceLow) {
        if (now.ceLow && now.vpp)
            pulseStart(cycle);
        else if (!now.ceLow && m_inPulse)
            pulseEnd(cycle);
    }

    const bool reading = !now.vpp && !now.vccp && now.ceLow && now.oeLow;
    const bool verifying = now.vpp && !now.ceLow && now.oeLow;
    const bool driving = reading || verifying;
    if (m_driving && !driving)
        m_releasedAt = cycle + ReleaseTime;
    m_driving = driving;
    if (driving) {
        m_validFrom = std::max({m_addressChanged + AccessTime, m_oeFell + (verifying ? AccessTime : ReadOeTime),
                                verifying ? 0 : m_ceFell + AccessTime});
    }
    const bool contention = now.boardDrives != 0 && (driving || cycle < m_releasedAt);
    if (contention && !m_contention)
        violation(cycle, QStringLiteral("the board and the chip both drive the data pins"));
    m_contention = contention;
}

void EpromModel::pulseStart(std::uint64_t cycle)
{
    m_inPulse = true;
    m_pulseValid = true;
    m_pulseStart = cycle;
    auto spoil = [&](const QString &what) {
        violation(cycle, QStringLiteral("program pulse ") + what);
        m_pulseValid = false;
    };
    if (!m_pins.vccp)
        spoil(QStringLiteral("with VCC at 5 V"));
    if (cycle - m_vppRose < Setup)
        spoil(QStringLiteral("%1 after VPP rose (tVPS 2 us)").arg(us(cycle - m_vppRose)));
    if (m_pins.oeLow)
        spoil(QStringLiteral("with OE low"));
    else if (cycle - m_oeRose < Setup)
        spoil(QStringLiteral("%1 after OE rose (tOES 2 us)").arg(us(cycle - m_oeRose)));
    if (m_pins.boardDrives != 0xFF)
        spoil(QStringLiteral("with data pins the board does not drive"));
    if (cycle - m_addressChanged < Setup)
        spoil(QStringLiteral("%1 after the address changed (tAS 2 us)").arg(us(cycle - m_addressChanged)));
    if (cycle - m_dataChanged < Setup)
        spoil(QStringLiteral("%1 after the data changed (tDS 2 us)").arg(us(cycle - m_dataChanged)));
}

void EpromModel::pulseEnd(std::uint64_t cycle)
{
    m_inPulse = false;
    m_pulsed = true;
    m_pulseEnd = cycle;
    const Cycles width = cycle - m_pulseStart;
    if (width < PulseMin || width > PulseMax) {
        violation(cycle, QStringLiteral("program pulse of %1 (95-105 us)").arg(us(width)));
        return;
    }
    if (!m_pulseValid)
        return;
    ++m_validPulses;
    const auto at = std::size_t(m_pins.address);
    if (m_pulsesSeen[at] < 255)
        ++m_pulsesSeen[at];
    if (m_pulsesNeeded[at] > 0 && m_pulsesSeen[at] >= m_pulsesNeeded[at])
        m_cells[at] &= std::uint8_t(m_pins.boardData);
}
