// SPDX-License-Identifier: GPL-3.0-or-later
// A free-running tick for quiet times, and a way to sleep until one has passed.
#pragma once

#include <stdint.h>

#define TICKS_PER_MS 16 // 15.625 kHz, rounded down: a time-out never comes early

void clock_init(void);
uint16_t clock_now(void);
// Wakes the processor from sleep when the tick counter reaches `tick`.
void clock_wake_at(uint16_t tick);
void clock_no_wake(void);
