// SPDX-License-Identifier: GPL-3.0-or-later
// Firmware of the reference programmer board: an ATmega328P at 16 MHz, two 74HC595 for the
// address and a 27C256 in the socket with switched programming supplies.
#include "board.h"
#include "clock.h"
#include "eprom.h"
#include "protocol.h"
#include "serial.h"

#include <avr/interrupt.h>
#include <avr/sleep.h>
#include <avr/wdt.h>
#include <stdbool.h>

// The program takes a change of DSR after it opened the port as the sign of the board. A program
// reads DSR's level only once it has opened and set up the port, so the change comes this long
// after start-up and after each DTR assertion: seen by a program that takes up to 0.2 s over its
// open, and over long before any operation (the program waits 0.6 s after opening).
#define DSR_DELAY_TICKS (200u * TICKS_PER_MS)
// While the supplies are on the main loop never sleeps longer than this, so that the watchdog's
// 250 ms pass only in a hang.
#define WATCHDOG_PET_TICKS (100u * TICKS_PER_MS)

static volatile bool dtr_changed;
static volatile bool dsr_due;
static volatile uint16_t dsr_at;

// A watchdog reset leaves the watchdog running at its shortest period: it is stopped before
// anything else runs, and the reset's cause cleared, or the board would reset for ever.
void early_init(void) __attribute__((naked, used, section(".init3")));
void early_init(void)
{
    MCUSR = 0;
    wdt_disable();
}

static void dsr_change_later(void)
{
    dsr_at = (uint16_t)(clock_now() + DSR_DELAY_TICKS);
    dsr_due = true;
}

ISR(PCINT1_vect)
{
    static bool asserted;
    const bool now = !(PINC & _BV(DTR_IN));
    if (now == asserted)
        return;
    asserted = now;
    dtr_changed = true;
    if (now)
        dsr_change_later();
}

// The earlier of two ticks still to come.
static void wake_by(bool *timed, uint16_t *wake, uint16_t tick)
{
    const uint16_t now = clock_now();
    if (!*timed || (uint16_t)(tick - now) < (uint16_t)(*wake - now))
        *wake = tick;
    *timed = true;
}

int main(void)
{
    eprom_init();
    clock_init();
    serial_init();
    protocol_init();
    PCMSK1 = _BV(PCINT13);
    PCICR = _BV(PCIE1);
    set_sleep_mode(SLEEP_MODE_IDLE);
    sei();
    dsr_change_later();

    for (;;) {
        wdt_reset();
        if (dtr_changed) {
            dtr_changed = false;
            protocol_line_changed();
        }
        if (dsr_due && (uint16_t)(clock_now() - dsr_at) < 0x8000u) {
            dsr_due = false;
            PINC = _BV(DSR_OUT); // toggles the pin
        }
        if (serial_take_loss())
            protocol_loss();
        const int16_t byte = serial_take();
        if (byte >= 0) {
            protocol_byte((uint8_t)byte);
            continue;
        }
        bool timed = false;
        uint16_t wake = 0;
        if (protocol_work(&timed, &wake))
            continue;
        if (dsr_due)
            wake_by(&timed, &wake, dsr_at);
        if (eprom_supplies_on())
            wake_by(&timed, &wake, (uint16_t)(clock_now() + WATCHDOG_PET_TICKS));
        if (timed)
            clock_wake_at(wake);
        else
            clock_no_wake();
        // Sleep unless a byte, a line change or the wake's tick came since the last look; the
        // interrupt that ends the sleep is served first.
        cli();
        const bool passed = timed && (uint16_t)(clock_now() - wake) < 0x8000u;
        if (!serial_waiting() && !dtr_changed && !passed) {
            sleep_enable();
            sei();
            sleep_cpu();
            sleep_disable();
        }
        sei();
    }
}
