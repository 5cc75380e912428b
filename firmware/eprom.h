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

// Programming: VCC to 6.25 V, then VPP to 12.75 V; off in the reverse order.
void eprom_program_supplies(bool on);
// Programs one location with the supplies on: false if it did not verify after MAX_PULSES.
bool eprom_program(uint16_t address, uint8_t data);
