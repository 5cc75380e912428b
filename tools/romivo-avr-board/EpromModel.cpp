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

// Its levels, in millivolts: the programming windows of the fast pulse method and the absolute
// maxima.
struct Window {
    int low, high;
    bool holds(int millivolts) const { return millivolts >= low && millivolts <= high; }
    QString text() const { return QStringLiteral("%1-%2 V").arg(low / 1000.0, 0, 'f', 1).arg(high / 1000.0, 0, 'f', 1); }
};
constexpr Window VppWindow{12'500, 13'000};
constexpr Window VccWindow{6'000, 6'500};
constexpr int VppMaximumVolts = 14;
constexpr int VccMaximumVolts = 7;
// Above its read window VCC has been raised for programming. VPP well above VCC puts the chip in
// program or program-verify mode; at VCC's level, as the board's diode holds it, the chip reads.
constexpr int ReadVccHigh = 5'500;
constexpr int VppRaisedBy = 2'000;
// Long enough for a board to measure a supply it switched on and switch it off again, as it
// should when the level is wrong; only a level kept longer, or a pulse, harms the chip.
constexpr Cycles ExcessAllowed = 5'000 * EpromModel::CyclesPerUs;

QString us(Cycles cycles)
{
    return QString::number(double(cycles) / double(EpromModel::CyclesPerUs), 'f', 3) + QStringLiteral(" us");
}

QString volts(int millivolts)
{
    return QString::number(millivolts / 1000.0, 'f', 2) + QStringLiteral(" V");
}

bool vppRaised(const EpromModel::Pins &pins)
{
    return pins.vppMillivolts >= pins.vccMillivolts + VppRaisedBy;
}

bool vccRaised(const EpromModel::Pins &pins)
{
    return pins.vccMillivolts > ReadVccHigh;
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

// Once an excursion: at the pulse given during it, or when it has lasted too long.
void EpromModel::checkExcess(Excess &excess, const char *supply, int millivolts, int maximumVolts, std::uint64_t cycle, bool pulse)
{
    if (!excess.over || excess.recorded || (!pulse && cycle - excess.since < ExcessAllowed))
        return;
    excess.recorded = true;
    violation(pulse ? cycle : excess.since + ExcessAllowed,
              QStringLiteral("%1 at %2, above the chip's %3 V maximum").arg(QLatin1String(supply), volts(millivolts)).arg(maximumVolts));
}

void EpromModel::advance(std::uint64_t cycle)
{
    checkExcess(m_vppExcess, "VPP", m_pins.vppMillivolts, VppMaximumVolts, cycle, false);
    checkExcess(m_vccExcess, "VCC", m_pins.vccMillivolts, VccMaximumVolts, cycle, false);
}

void EpromModel::change(const Pins &now, std::uint64_t cycle)
{
    advance(cycle);
    const Pins before = m_pins;
    m_pins = now;
    const bool addressChanged = now.address != before.address;
    const bool dataChanged = now.boardDrives != before.boardDrives
        || ((now.boardData ^ before.boardData) & now.boardDrives) != 0;
    const bool vpp = vppRaised(now);
    const bool vccp = vccRaised(now);

    if (VccWindow.holds(now.vccMillivolts) && !VccWindow.holds(before.vccMillivolts))
        m_vccInWindowFrom = cycle;
    if (VppWindow.holds(now.vppMillivolts) && !VppWindow.holds(before.vppMillivolts))
        m_vppInWindowFrom = cycle;
    for (auto [excess, over] : {std::pair{&m_vppExcess, now.vppMillivolts > VppMaximumVolts * 1000},
                                {&m_vccExcess, now.vccMillivolts > VccMaximumVolts * 1000}}) {
        if (over && !excess->over)
            *excess = {true, false, cycle};
        excess->over = over;
    }

    if (!vccp && vccRaised(before) && vpp)
        violation(cycle, QStringLiteral("VCC fell to %1 while VPP was on (VPP must fall first)").arg(volts(now.vccMillivolts)));
    // A VCC raised beyond its window is no fault of the order: the pulse it would spoil is.
    if (vpp && !vppRaised(before)) {
        if (!vccp)
            violation(cycle, QStringLiteral("VPP on while VCC was at %1 (VCC must rise first)").arg(volts(now.vccMillivolts)));
        else if (VccWindow.holds(now.vccMillivolts) && cycle - m_vccInWindowFrom < Setup)
            violation(cycle, QStringLiteral("VPP on %1 after VCC reached %2 (tVCS 2 us)").arg(us(cycle - m_vccInWindowFrom), VccWindow.text()));
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
        if (now.vppMillivolts != before.vppMillivolts || now.vccMillivolts != before.vccMillivolts)
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
        if (now.ceLow && vpp)
            pulseStart(cycle);
        else if (!now.ceLow && m_inPulse)
            pulseEnd(cycle);
    }

    const bool reading = !vpp && !vccp && now.ceLow && now.oeLow;
    const bool verifying = vpp && !now.ceLow && now.oeLow;
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
    if (!VccWindow.holds(m_pins.vccMillivolts))
        spoil(QStringLiteral("with VCC at %1 (%2)").arg(volts(m_pins.vccMillivolts), VccWindow.text()));
    if (!VppWindow.holds(m_pins.vppMillivolts))
        spoil(QStringLiteral("with VPP at %1 (%2)").arg(volts(m_pins.vppMillivolts), VppWindow.text()));
    else if (cycle - m_vppInWindowFrom < Setup)
        spoil(QStringLiteral("%1 after VPP reached %2 (tVPS 2 us)").arg(us(cycle - m_vppInWindowFrom), VppWindow.text()));
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
    checkExcess(m_vppExcess, "VPP", m_pins.vppMillivolts, VppMaximumVolts, cycle, true);
    checkExcess(m_vccExcess, "VCC", m_pins.vccMillivolts, VccMaximumVolts, cycle, true);
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
