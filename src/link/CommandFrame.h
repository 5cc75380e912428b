// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/Chip.h"

#include <QByteArray>
#include <cstdint>
#include <optional>

// The three-byte command frame the board understands: 0xFF, argument, code.
// No length, checksum or escaping; every byte value goes on the wire as it is.
namespace CommandCode {
constexpr std::uint8_t CounterReset = 12;
constexpr std::uint8_t CounterClock = 13;
constexpr std::uint8_t CeHigh = 14;
constexpr std::uint8_t CeLow = 15;
constexpr std::uint8_t OeHigh = 16;
constexpr std::uint8_t OeLow = 17;
constexpr std::uint8_t ReadData = 18;
constexpr std::uint8_t WriteData = 19;
constexpr std::uint8_t DirOut = 20;
constexpr std::uint8_t DirIn = 21;
constexpr std::uint8_t AddressHigh = 26;
constexpr std::uint8_t AddressLow = 27;
constexpr std::uint8_t WriteStart = 28;
constexpr std::uint8_t NextBlock = 29;
constexpr std::uint8_t Stream = 30;
} // namespace CommandCode

namespace Frame {
constexpr std::uint8_t StartMarker = 0xFF;
// The argument that the write-start and next-block frames carry.
constexpr std::uint8_t WriteArgument = 0x47;
// The argument of the stream frame.
constexpr std::uint8_t StreamArgument = 0x7E;
// Sent alone (not as a frame) to stop a running stream.
constexpr std::uint8_t StopByte = 0x63;

// Board answers during a write.
constexpr std::uint8_t BlockDone = 0x0D;
constexpr std::uint8_t BlockFailed = 0x62;
constexpr std::uint8_t BlockFailedToo = 0x63;

constexpr int BlockSize = 512;
constexpr int BlockCount = Chip::Size / BlockSize;
} // namespace Frame

// The frame for `code` with `argument`, or nothing when the argument is outside 0..255
// (a computed argument that does not fit a byte cannot be sent).
std::optional<QByteArray> commandFrame(int argument, std::uint8_t code);

// Frames whose argument is fixed by the protocol.
QByteArray writeStartFrame();
QByteArray nextBlockFrame();
QByteArray streamFrame();
QByteArray stopByte();
