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

// The program takes a change of DSR after it opened the port as the sign of the board: one
// toggle once the firmware is ready, another whenever DTR is asserted (the port being opened).
static void toggle_dsr(void)
{
    PINC = _BV(DSR_OUT);
}

ISR(PCINT1_vect)
{
    if (!(PINC & _BV(DTR_IN)))
        toggle_dsr();
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
    toggle_dsr();

    for (;;) {
        if (serial_take_loss())
            protocol_loss();
        const int16_t byte = serial_take();
        if (byte >= 0) {
            protocol_byte((uint8_t)byte);
            continue;
        }
        if (protocol_work())
            continue;
        // Sleep unless a byte came in since the last look; the interrupt that ends the sleep is
        // served first.
        cli();
        if (!serial_waiting()) {
            sleep_enable();
            sei();
            sleep_cpu();
            sleep_disable();
        }
        sei();
    }
}
