// SPDX-License-Identifier: GPL-3.0-or-later
// The line to the program: 19,200 baud 8N1, received by interrupt into a ring buffer that
// holds more than a whole block, sent from a short ring so a stop takes effect at once.
#pragma once

#include <stdbool.h>
#include <stdint.h>

void serial_init(void);
// The next byte received, or -1 when none waits.
int16_t serial_take(void);
bool serial_waiting(void);
// Bytes were lost (ring full, overrun or framing error) since the last call.
bool serial_take_loss(void);
// The tick of the later of the last byte received (kept or not) and the last byte sent: a program
// that waits for an answer is not silent.
uint16_t serial_last_activity(void);
// Drops every byte received and not yet taken.
void serial_drop_received(void);
bool serial_can_send(void);
// Queues a byte; the caller makes sure there is room.
void serial_send(uint8_t byte);
// Sends a byte, sleeping while the transmit ring is full.
void serial_send_waiting(uint8_t byte);
// Drops what is queued and not yet on the line.
void serial_drop_unsent(void);
