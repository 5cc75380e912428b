// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>

// What the received bytes are for.
enum class RxMode : std::int16_t {
    Idle = 0,         // dropped
    ServiceRead = 1,  // the service panel's LEGGO DATO
    Write = 2,
    ReadToFile = 3,
    Verify = 4,
    BlankCheck = 5,
};

// The modes in which the board streams the chip (read, verify, blank check).
constexpr bool isStream(RxMode mode) { return mode == RxMode::ReadToFile || mode == RxMode::Verify || mode == RxMode::BlankCheck; }

// The state through which the operations, their receive handling and timers talk to each other.
// One instance, owned by the Session; everything starts at zero.
struct OperationState {
    RxMode rxMode = RxMode::Idle;
    std::int32_t currentAddress = 0;  // chip location the running operation has reached
    bool ackFlag = false;             // the write must stop: board error, no answer in time, a stop
    bool crFlag = false;              // the board acknowledged a 512-byte block
    std::int32_t rxIndex = 0;         // next position to fill in bufRx
    std::array<std::int16_t, 22> bufRx{};
    bool errorFound = false;          // a verify or blank check has found a mismatch
    // Counts the whole-chip operations started: an operation that let the event loop run learns
    // from it whether what it finds is still its own.
    std::uint32_t started = 0;

    // Clears elements 0 to 20; element 21 keeps its value.
    void reset_bufRx();
};
