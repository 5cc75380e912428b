// SPDX-License-Identifier: GPL-3.0-or-later
#include "clock.h"

#include <avr/interrupt.h>
#include <util/atomic.h>

void clock_init(void)
{
    TCCR1A = 0;
    TCCR1B = _BV(CS12) | _BV(CS10); // 16 MHz / 1024, wraps every 4.2 s
}

uint16_t clock_now(void)
{
    uint16_t now;
    ATOMIC_BLOCK(ATOMIC_RESTORESTATE) { now = TCNT1; }
    return now;
}

void clock_wake_at(uint16_t tick)
{
    ATOMIC_BLOCK(ATOMIC_RESTORESTATE)
    {
        OCR1A = tick;
        TIFR1 = _BV(OCF1A);
        TIMSK1 |= _BV(OCIE1A);
    }
}

void clock_no_wake(void)
{
    TIMSK1 &= (uint8_t)~_BV(OCIE1A);
}

// Only wakes the main loop.
EMPTY_INTERRUPT(TIMER1_COMPA_vect)
