// SPDX-License-Identifier: GPL-3.0-or-later
#include "VcdTrace.h"
#include "RegularFile.h"

namespace {
// One 16 MHz cycle is 62.5 ns: 625 units of 100 ps.
constexpr std::uint64_t UnitsPerCycle = 625;

QByteArray bits(int value, int count)
{
    QByteArray text;
    for (int bit = count - 1; bit >= 0; --bit)
        text.append((value >> bit) & 1 ? '1' : '0');
    return text;
}
} // namespace

bool VcdTrace::open(const QString &path, QString *error)
{
    if (!RegularFile::open(m_file, path, O_WRONLY | O_CREAT | O_TRUNC, error))
        return false;
    m_file.write("$timescale 100ps $end\n$scope module eprom $end\n"
                 "$var wire 1 ! CE $end\n$var wire 1 \" OE $end\n$var wire 1 # VPP $end\n"
                 "$var wire 1 $ VCCP $end\n$var wire 15 % A [14:0] $end\n$var wire 8 & D [7:0] $end\n"
                 "$upscope $end\n$enddefinitions $end\n");
    return true;
}

void VcdTrace::record(const Levels &levels, std::uint64_t cycle)
{
    if (!m_file.isOpen() || (m_started && levels == m_last))
        return;
    QByteArray out = '#' + QByteArray::number(cycle * UnitsPerCycle) + '\n';
    auto one = [&](bool now, bool before, char id) {
        if (!m_started || now != before)
            out += (now ? '1' : '0') + QByteArray(1, id) + '\n';
    };
    one(levels.ce, m_last.ce, '!');
    one(levels.oe, m_last.oe, '"');
    one(levels.vpp, m_last.vpp, '#');
    one(levels.vccp, m_last.vccp, '$');
    if (!m_started || levels.address != m_last.address)
        out += 'b' + bits(levels.address, 15) + " %\n";
    if (!m_started || levels.data != m_last.data)
        out += 'b' + levels.data + " &\n";
    m_file.write(out);
    m_last = levels;
    m_started = true;
}
