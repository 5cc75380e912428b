// SPDX-License-Identifier: GPL-3.0-or-later
// The reference board's wiring, as the firmware drives it.
#pragma once

#include <avr/io.h>

// Data lines D0-D7: D0, D1 on PB0, PB1 and D2-D7 on PD2-PD7, so each bit keeps its position.
#define DATA_MASK_B 0x03
#define DATA_MASK_D 0xFC

// The two 74HC595 that hold the address, shifted most significant bit first.
#define SR_LATCH PB2
#define SR_DATA PB3
#define SR_CLOCK PB4
#define LED PB5  // lit while the programming voltages are on

// Chip control and the programming supplies, all on port C.
#define CHIP_CE PC0     // CE/PGM, active low, pulled up on the board
#define CHIP_OE PC1     // active low, pulled up on the board
#define VPP_ENABLE PC2  // 12.75 V on VPP, pulled down on the board
#define VCCP_ENABLE PC3 // 6.25 V on VCC, pulled down on the board
#define DSR_OUT PC4     // to the serial adapter's DSR input
#define DTR_IN PC5      // from the adapter's DTR output, low while the port is open

// The socket's VPP and VCC, measured through dividers on ADC6 and ADC7 (the TQFP ATmega328P of an
// Arduino Nano: a DIP chip has neither) against a 4.096 V reference on AREF; 0.1 % resistors.
#define VPP_SENSE 6
#define VCC_SENSE 7
#define AREF_MILLIVOLTS 4096u
#define VPP_DIVIDER_TOP_OHMS 27000u
#define VPP_DIVIDER_BOTTOM_OHMS 10000u
#define VCC_DIVIDER_TOP_OHMS 10000u
#define VCC_DIVIDER_BOTTOM_OHMS 10000u
