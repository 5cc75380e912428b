// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial.h"

#include "clock.h"

#include <avr/interrupt.h>
#include <avr/io.h>
#include <avr/sleep.h>
#include <util/atomic.h>

#define BAUD_DIVISOR ((F_CPU / 16 / 19200) - 1) // 51: 19,231 baud, 0.2 % fast
#define RX_SIZE 1024
#define TX_SIZE 16

static volatile uint8_t rx[RX_SIZE];
static volatile uint16_t rx_head, rx_tail;
static volatile bool rx_lost;
static volatile uint16_t line_activity; // the tick of the last byte received or sent
static volatile uint8_t tx[TX_SIZE];
static volatile uint8_t tx_head, tx_tail;

void serial_init(void)
{
    UBRR0 = BAUD_DIVISOR;
    UCSR0A = 0;
    UCSR0C = _BV(UCSZ01) | _BV(UCSZ00);
    UCSR0B = _BV(RXEN0) | _BV(TXEN0) | _BV(RXCIE0);
}

ISR(USART_RX_vect)
{
    const uint8_t status = UCSR0A;
    const uint8_t byte = UDR0;
    line_activity = TCNT1;
    const uint16_t next = (rx_head + 1) & (RX_SIZE - 1);
    if (status & (_BV(FE0) | _BV(DOR0)) || next == rx_tail) {
        rx_lost = true;
        return;
    }
    rx[rx_head] = byte;
    rx_head = next;
}

int16_t serial_take(void)
{
    int16_t byte = -1;
    ATOMIC_BLOCK(ATOMIC_RESTORESTATE)
    {
        if (rx_tail != rx_head) {
            byte = rx[rx_tail];
            rx_tail = (rx_tail + 1) & (RX_SIZE - 1);
        }
    }
    return byte;
}

bool serial_waiting(void)
{
    bool waiting;
    ATOMIC_BLOCK(ATOMIC_RESTORESTATE) { waiting = rx_tail != rx_head; }
    return waiting;
}

bool serial_take_loss(void)
{
    bool lost;
    ATOMIC_BLOCK(ATOMIC_RESTORESTATE)
    {
        lost = rx_lost;
        rx_lost = false;
    }
    return lost;
}

uint16_t serial_last_activity(void)
{
    uint16_t tick;
    ATOMIC_BLOCK(ATOMIC_RESTORESTATE) { tick = line_activity; }
    return tick;
}

void serial_drop_received(void)
{
    ATOMIC_BLOCK(ATOMIC_RESTORESTATE)
    {
        rx_tail = rx_head;
        rx_lost = false;
    }
}

ISR(USART_UDRE_vect)
{
    if (tx_tail == tx_head) {
        UCSR0B &= (uint8_t)~_BV(UDRIE0);
        return;
    }
    UDR0 = tx[tx_tail];
    tx_tail = (tx_tail + 1) & (TX_SIZE - 1);
    line_activity = TCNT1;
}

bool serial_can_send(void)
{
    return ((tx_head + 1) & (TX_SIZE - 1)) != tx_tail;
}

void serial_send(uint8_t byte)
{
    ATOMIC_BLOCK(ATOMIC_RESTORESTATE)
    {
        tx[tx_head] = byte;
        tx_head = (tx_head + 1) & (TX_SIZE - 1);
        UCSR0B |= _BV(UDRIE0);
    }
}

void serial_send_waiting(uint8_t byte)
{
    for (;;) {
        cli();
        if (serial_can_send())
            break;
        sleep_enable();
        sei();
        sleep_cpu();
        sleep_disable();
    }
    sei();
    serial_send(byte);
}

void serial_drop_unsent(void)
{
    ATOMIC_BLOCK(ATOMIC_RESTORESTATE) { tx_tail = tx_head; }
}
