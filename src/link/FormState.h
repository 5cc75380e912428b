#pragma once

#include <array>
#include <cstdint>

// The variables through which button handlers, timers and receive handling talk to each other.
// One instance, owned by whoever wires the program together; everything starts at zero.
struct FormState {
    std::int16_t rxMode = 0;          // 0 idle, 1 service read, 2 write, 3 read to file, 4 verify, 5 blank check
    std::int32_t currentAddress = 0;  // chip location the running operation has reached
    std::int16_t ackFlag = 0;         // the write must stop: board error or no answer in time
    std::int16_t crFlag = 0;          // the board reported the end of a 512-byte block
    std::int32_t rxIndex = 0;         // next position to fill in bufRx
    std::array<std::int16_t, 22> bufRx{};
    std::uint8_t blankCheck = 0;      // 1: the comparison runs as blank check, 0: as verify
    std::uint8_t errorFound = 0;      // a verify or blank check has found a mismatch

    // Clears elements 0 to 20; element 21 keeps its value.
    void reset_bufRx();
};

namespace RxMode {
constexpr std::int16_t Idle = 0;
constexpr std::int16_t ServiceRead = 1;
constexpr std::int16_t Write = 2;
constexpr std::int16_t ReadToFile = 3;
constexpr std::int16_t Verify = 4;
constexpr std::int16_t BlankCheck = 5;
// The modes in which the board streams the chip (read, verify, blank check).
constexpr bool isStream(std::int16_t mode) { return mode == ReadToFile || mode == Verify || mode == BlankCheck; }
} // namespace RxMode
