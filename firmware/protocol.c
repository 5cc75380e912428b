// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol.h"

#include "clock.h"
#include "eprom.h"
#include "serial.h"

#include <stdbool.h>

#define FRAME_START 0xFF
#define STOP_BYTE 0x63
#define WRITE_ARGUMENT 0x47
#define STREAM_ARGUMENT 0x7E
#define BLOCK_DONE 0x0D
#define WRITE_FAILED 0x62
#define BLOCK_SIZE 512u
#define BLOCK_COUNT 64u
// An unfinished frame or write is dropped after this much silence, counted from the last byte either
// way: longer than any pause inside a healthy write, shorter than the program's 500 ms wait for an
// acknowledgement.
#define QUIET_TICKS (200u * TICKS_PER_MS)

enum code {
    COUNTER_RESET = 12,
    COUNTER_CLOCK = 13,
    CE_HIGH = 14,
    CE_LOW = 15,
    OE_HIGH = 16,
    OE_LOW = 17,
    READ_DATA = 18,
    WRITE_DATA = 19,
    DIR_OUT = 20,
    DIR_IN = 21,
    ADDRESS_HIGH = 26,
    ADDRESS_LOW = 27,
    WRITE_START = 28,
    NEXT_BLOCK = 29,
    STREAM = 30,
#ifdef ROMIVO_TEST_HOOKS
    TEST_HANG = 85, // a hang with the supplies on, for the watchdog's test
#endif
};

// WRITE_DROPPED: a write given up; every byte is dropped until the line has been quiet, so that none
// of the write's is read as a command.
enum state { COMMANDS, WRITING, AWAITING_NEXT_BLOCK, WRITE_DROPPED };

static enum state state;
static uint8_t frame[3];
static uint8_t frame_length;
static uint16_t write_address;
static bool streaming;
static uint16_t stream_address;

void protocol_init(void)
{
    state = COMMANDS;
    frame_length = 0;
}

static void stream_end(void)
{
    streaming = false;
    eprom_read_end();
}

// A stream stopped or given up ends with the bytes already queued for it: none may be read as the
// answer to what comes next.
static void stream_stop(void)
{
    serial_drop_unsent();
    stream_end();
}

// From here on every byte is ignored until the line has been quiet.
static void write_drop(void)
{
    eprom_program_supplies(false);
    state = WRITE_DROPPED;
}

static void write_fail(void)
{
    write_drop();
    serial_send_waiting(WRITE_FAILED);
}

static void execute(uint8_t argument, uint8_t code)
{
    switch (code) {
    case COUNTER_RESET: eprom_set_address(0); break;
    case COUNTER_CLOCK: eprom_set_address(eprom_address() + 1); break;
    case CE_HIGH: eprom_set_ce(false); break;
    case CE_LOW: eprom_set_ce(true); break;
    case OE_HIGH: eprom_set_oe(false); break;
    case OE_LOW: eprom_set_oe(true); break;
    case READ_DATA: {
        eprom_read_begin();
        const uint8_t byte = eprom_read_at(eprom_address());
        eprom_read_end();
        serial_send_waiting(byte);
        break;
    }
    case WRITE_DATA:
        eprom_program_supplies(true);
        if (eprom_supplies_in_window())
            eprom_program(eprom_address(), argument);
        else
            serial_send_waiting(WRITE_FAILED);
        eprom_program_supplies(false);
        break;
    case DIR_OUT: eprom_set_bus_out(true); break;
    case DIR_IN: eprom_set_bus_out(false); break;
    case ADDRESS_HIGH: eprom_set_address((uint16_t)(argument << 8) | (eprom_address() & 0xFF)); break;
    case ADDRESS_LOW: eprom_set_address((eprom_address() & 0x7F00) | argument); break;
    case WRITE_START:
        if (argument == WRITE_ARGUMENT) {
            eprom_program_supplies(true);
            write_address = 0;
            state = WRITING;
            // No pulse with a supply outside the chip's window: the image that follows is dropped.
            if (!eprom_supplies_in_window())
                write_fail();
        }
        break;
    case STREAM:
        if (argument == STREAM_ARGUMENT) {
            eprom_read_begin();
            streaming = true;
            stream_address = 0;
        }
        break;
#ifdef ROMIVO_TEST_HOOKS
    case TEST_HANG:
        eprom_program_supplies(true);
        for (;;) {
        }
#endif
    default: break; // unknown: never acted on
    }
}

static void command_byte(uint8_t byte)
{
    // A stop ends a stream wherever it comes, even after a stray frame start.
    if (byte == STOP_BYTE && streaming) {
        stream_stop();
        frame_length = 0;
        return;
    }
    if (frame_length == 0 && byte != FRAME_START)
        return; // noise outside a frame, or a stop after the stream had ended
    frame[frame_length++] = byte;
    if (frame_length < 3)
        return;
    frame_length = 0;
    // A program that sends a command has given up the stream.
    if (streaming)
        stream_stop();
    execute(frame[1], frame[2]);
}

static void write_byte(uint8_t byte)
{
    if (!eprom_program(write_address, byte)) {
        write_fail();
        return;
    }
    ++write_address;
    if (write_address % BLOCK_SIZE != 0)
        return;
    // The chip is back at 5 V before the program hears of the last block and starts reading.
    if (write_address == BLOCK_COUNT * BLOCK_SIZE)
        eprom_program_supplies(false);
    serial_send_waiting(BLOCK_DONE);
    state = AWAITING_NEXT_BLOCK;
}

static void next_block_byte(uint8_t byte)
{
    frame[frame_length++] = byte;
    if (frame_length < 3)
        return;
    frame_length = 0;
    if (frame[0] != FRAME_START || frame[1] != WRITE_ARGUMENT || frame[2] != NEXT_BLOCK) {
        write_drop();
        return;
    }
    if (write_address == BLOCK_COUNT * BLOCK_SIZE)
        state = COMMANDS;
    else
        state = WRITING;
}

void protocol_byte(uint8_t byte)
{
    switch (state) {
    case COMMANDS: command_byte(byte); break;
    case WRITING: write_byte(byte); break;
    case AWAITING_NEXT_BLOCK: next_block_byte(byte); break;
    case WRITE_DROPPED: break;
    }
}

void protocol_loss(void)
{
    if (state == WRITING || state == AWAITING_NEXT_BLOCK)
        write_fail();
    frame_length = 0;
}

// The line has been silent: a write still under way is given up (and said so), and only a line
// quiet since then takes commands again.
static void quiet_line(void)
{
    frame_length = 0;
    if (state == WRITING || state == AWAITING_NEXT_BLOCK) {
        write_fail();
        return;
    }
    eprom_program_supplies(false);
    state = COMMANDS;
}

void protocol_line_changed(void)
{
    // A port opened or closed: whatever the program had under way is over, and bytes queued
    // before the change are not for the program after it.
    serial_drop_received();
    if (streaming)
        stream_stop();
    serial_drop_unsent();
    frame_length = 0;
    eprom_program_supplies(false);
    // A write's bytes the host had already queued may still arrive: they are dropped until the
    // line is quiet, as for any write given up.
    if (state != COMMANDS)
        state = WRITE_DROPPED;
}

uint8_t protocol_work(bool *timed, uint16_t *wake)
{
    if (streaming) {
        if (!serial_can_send())
            return 0;
        serial_send(eprom_read_at(stream_address));
        if (++stream_address == EPROM_SIZE)
            stream_end();
        return 1;
    }
    if (state == COMMANDS && frame_length == 0)
        return 0;
    if (serial_waiting())
        return 1;
    const uint16_t last = serial_last_activity();
    if ((uint16_t)(clock_now() - last) >= QUIET_TICKS) {
        quiet_line();
        return 1;
    }
    *timed = true;
    *wake = (uint16_t)(last + QUIET_TICKS);
    return 0;
}
