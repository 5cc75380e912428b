// SPDX-License-Identifier: GPL-3.0-or-later
// The 27C256 in its socket: address, data lines, CE/OE and the programming supplies.
#pragma once

#include <stdbool.h>
#include <stdint.h>

#define EPROM_SIZE 32768u
#define MAX_PULSES 25

void eprom_init(void);

// The address on the shift registers' outputs.
void eprom_set_address(uint16_t address);
uint16_t eprom_address(void);

// The lines as the service commands leave them; reads and writes restore them afterwards.
void eprom_set_ce(bool low);
void eprom_set_oe(bool low);
void eprom_set_bus_out(bool out);

// Reading at 5 V: begin, then read any number of locations, then end.
void eprom_read_begin(void);
uint8_t eprom_read_at(uint16_t address);
void eprom_read_end(void);

// Programming: VCC to 6.25 V, then VPP to 12.75 V; off in the reverse order. The watchdog runs
// while they are on: a hang ends in a reset, and a reset switches them off.
void eprom_program_supplies(bool on);
bool eprom_supplies_on(void);
// With the supplies on: VPP within 12.5-13.0 V and VCC within 6.0-6.5 V, the chip's programming
// window, as measured now.
bool eprom_supplies_in_window(void);
// Programs one location with the supplies on: false if it did not verify after MAX_PULSES, or at
// once, without a pulse, if a bit would have to go from 0 to 1.
bool eprom_program(uint16_t address, uint8_t data);
