// SPDX-License-Identifier: GPL-3.0-or-later
#include "eprom.h"

#include "board.h"

#include <avr/interrupt.h>
#include <avr/wdt.h>
#include <util/delay.h>

// Figures of a 27C256 datasheet: tVCS, tVPS, tAS, tDS, tOES and tDH at least 2 us; tPW 95-105 us;
// tACC 150 ns from the address, tOE 60 ns (150 ns in program verify) from OE, tDF 50 ns.
#define SETUP_US 2
#define PULSE_US 100
// The switched supplies settle far slower than the chip's 2 us: a transistor stage and the
// regulator's output capacitor on the way up, the bleeder resistor on VPP on the way down.
#define SUPPLY_ON_US 1000
#define SUPPLY_OFF_US 5000
// The chip's programming window, in millivolts.
#define VPP_LOWEST_MV 12500u
#define VPP_HIGHEST_MV 13000u
#define VCC_LOWEST_MV 6000u
#define VCC_HIGHEST_MV 6500u

static uint16_t address;
static uint8_t data_latch = 0xFF;
static bool ce_low, oe_low, bus_out, supplies_on;

static void drive_ce(bool low)
{
    if (low)
        PORTC &= (uint8_t)~_BV(CHIP_CE);
    else
        PORTC |= _BV(CHIP_CE);
}

static void drive_oe(bool low)
{
    if (low)
        PORTC &= (uint8_t)~_BV(CHIP_OE);
    else
        PORTC |= _BV(CHIP_OE);
}

// Pull-ups stay off while the lines are inputs: the chip alone sets their level.
static void bus_release(void)
{
    DDRB &= (uint8_t)~DATA_MASK_B;
    DDRD &= (uint8_t)~DATA_MASK_D;
    PORTB &= (uint8_t)~DATA_MASK_B;
    PORTD &= (uint8_t)~DATA_MASK_D;
}

static void bus_drive(uint8_t value)
{
    PORTB = (uint8_t)((PORTB & ~DATA_MASK_B) | (value & DATA_MASK_B));
    PORTD = (uint8_t)((PORTD & ~DATA_MASK_D) | (value & DATA_MASK_D));
    DDRB |= DATA_MASK_B;
    DDRD |= DATA_MASK_D;
}

static uint8_t bus_sample(void)
{
    return (uint8_t)((PIND & DATA_MASK_D) | (PINB & DATA_MASK_B));
}

// A few cycles for the chip's access time (the 150 ns worst case is 2.4 cycles at 16 MHz).
static void access_time(void)
{
    __builtin_avr_delay_cycles(4);
}

void eprom_init(void)
{
    PORTC = _BV(CHIP_CE) | _BV(CHIP_OE) | _BV(DTR_IN);
    DDRC = _BV(CHIP_CE) | _BV(CHIP_OE) | _BV(VPP_ENABLE) | _BV(VCCP_ENABLE) | _BV(DSR_OUT);
    DDRB |= _BV(SR_LATCH) | _BV(SR_DATA) | _BV(SR_CLOCK) | _BV(LED);
    bus_release();
    eprom_set_address(0);
}

void eprom_set_address(uint16_t to)
{
    address = to & (EPROM_SIZE - 1);
    for (uint16_t bit = 0x8000; bit; bit >>= 1) {
        if (address & bit)
            PORTB |= _BV(SR_DATA);
        else
            PORTB &= (uint8_t)~_BV(SR_DATA);
        PORTB |= _BV(SR_CLOCK);
        PORTB &= (uint8_t)~_BV(SR_CLOCK);
    }
    PORTB |= _BV(SR_LATCH);
    PORTB &= (uint8_t)~_BV(SR_LATCH);
}

uint16_t eprom_address(void)
{
    return address;
}

// Never two drivers on the data lines: the board drives them only while OE is high.
void eprom_set_ce(bool low)
{
    ce_low = low;
    drive_ce(low);
}

void eprom_set_oe(bool low)
{
    if (low && bus_out) {
        bus_out = false;
        bus_release();
    }
    oe_low = low;
    drive_oe(low);
}

void eprom_set_bus_out(bool out)
{
    if (out && oe_low) {
        oe_low = false;
        drive_oe(false);
    }
    bus_out = out;
    if (out)
        bus_drive(data_latch);
    else
        bus_release();
}

void eprom_read_begin(void)
{
    drive_oe(false);
    bus_release();
    drive_ce(true);
    drive_oe(true);
}

uint8_t eprom_read_at(uint16_t at)
{
    eprom_set_address(at);
    access_time();
    return bus_sample();
}

void eprom_read_end(void)
{
    drive_oe(oe_low);
    drive_ce(ce_low);
    if (bus_out)
        bus_drive(data_latch);
}

void eprom_program_supplies(bool on)
{
    if (on == supplies_on)
        return;
    supplies_on = on;
    drive_oe(false);
    drive_ce(false);
    bus_release();
    if (on) {
        wdt_enable(WDTO_250MS);
        PORTC |= _BV(VCCP_ENABLE);
        _delay_us(SUPPLY_ON_US);
        PORTC |= _BV(VPP_ENABLE);
        PORTB |= _BV(LED);
        _delay_us(SUPPLY_ON_US);
    } else {
        PORTC &= (uint8_t)~_BV(VPP_ENABLE);
        PORTB &= (uint8_t)~_BV(LED);
        _delay_us(SUPPLY_OFF_US);
        PORTC &= (uint8_t)~_BV(VCCP_ENABLE);
        _delay_us(SUPPLY_OFF_US);
        eprom_read_end();
        wdt_disable();
    }
}

bool eprom_supplies_on(void)
{
    return supplies_on;
}

// A supply's level in millivolts, from its divider on an ADC input.
static uint16_t supply_millivolts(uint8_t channel, uint32_t top_ohms, uint32_t bottom_ohms)
{
    ADMUX = channel; // AREF, right adjusted
    ADCSRA = _BV(ADEN) | _BV(ADSC) | _BV(ADPS2) | _BV(ADPS1) | _BV(ADPS0); // 125 kHz
    while (ADCSRA & _BV(ADSC)) {
    }
    // The first conversion after a channel change settles the sample-and-hold; the second counts.
    ADCSRA |= _BV(ADSC);
    while (ADCSRA & _BV(ADSC)) {
    }
    const uint32_t pin = (uint32_t)ADC * AREF_MILLIVOLTS / 1024u;
    ADCSRA = 0;
    return (uint16_t)(pin * (top_ohms + bottom_ohms) / bottom_ohms);
}

bool eprom_supplies_in_window(void)
{
    const uint16_t vpp = supply_millivolts(VPP_SENSE, VPP_DIVIDER_TOP_OHMS, VPP_DIVIDER_BOTTOM_OHMS);
    const uint16_t vcc = supply_millivolts(VCC_SENSE, VCC_DIVIDER_TOP_OHMS, VCC_DIVIDER_BOTTOM_OHMS);
    return supplies_on && vpp >= VPP_LOWEST_MV && vpp <= VPP_HIGHEST_MV && vcc >= VCC_LOWEST_MV && vcc <= VCC_HIGHEST_MV;
}

static uint8_t program_verify(void)
{
    drive_oe(true);
    access_time();
    access_time();
    const uint8_t read = bus_sample();
    drive_oe(false);
    return read;
}

bool eprom_program(uint16_t at, uint8_t value)
{
    data_latch = value;
    eprom_set_address(at);
    // A byte that holds the value already needs no pulse; one that would need a bit made 1 again
    // (only an erase does that) cannot take it, and pulses would only stress its cells.
    const uint8_t held = program_verify();
    if (held == value)
        return true;
    if ((held & value) != value)
        return false;
    for (uint8_t pulse = 0; pulse < MAX_PULSES; ++pulse) {
        wdt_reset();
        bus_drive(value);
        _delay_us(SETUP_US);
        // Nothing may stretch the pulse: a byte received meanwhile waits in the UART.
        cli();
        drive_ce(true);
        _delay_us(PULSE_US);
        drive_ce(false);
        sei();
        _delay_us(SETUP_US);
        bus_release();
        if (program_verify() == value)
            return true;
    }
    return false;
}
