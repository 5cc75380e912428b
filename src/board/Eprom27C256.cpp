// SPDX-License-Identifier: GPL-3.0-or-later
#include "board/Eprom27C256.h"

Eprom27C256::Eprom27C256() : m_cells(Chip::Size, Chip::Erased) {}

quint8 Eprom27C256::read(int address) const
{
    return quint8(m_cells[wrap(address)]);
}

void Eprom27C256::program(int address, quint8 data)
{
    const int cell = wrap(address);
    const quint8 stuck = m_stuck.value(cell, 0);
    m_cells[cell] = char((quint8(m_cells[cell]) & data) | (quint8(m_cells[cell]) & stuck));
}

void Eprom27C256::erase()
{
    m_cells.fill(Chip::Erased);
}

void Eprom27C256::load(const QByteArray &bytes)
{
    m_cells = Chip::padded(bytes);
}

void Eprom27C256::setStuckBits(int address, quint8 mask)
{
    m_stuck.insert(wrap(address), mask);
}
