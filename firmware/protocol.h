// SPDX-License-Identifier: GPL-3.0-or-later
// The program's side of the line: command frames FF argument code, the block-acknowledged write
// and the whole-chip stream.
#pragma once

#include <stdbool.h>
#include <stdint.h>

void protocol_init(void);
void protocol_byte(uint8_t byte);
// Bytes were lost on the way in.
void protocol_loss(void);
// DTR changed (a port opened or closed).
void protocol_line_changed(void);
// Work that needs no byte: the next stream byte, the end of a quiet line. Returns nonzero while
// there is more to do before sleeping; otherwise sets *timed and *wake when it must look again at
// that tick even if no byte comes.
uint8_t protocol_work(bool *timed, uint16_t *wake);
