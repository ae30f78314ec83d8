// SPDX-License-Identifier: MIT
// Serial port driver: the table of open ports and polled reads that watch
// the keyboard, so that Esc ends any wait.
#pragma once

#include <cstdint>

#include "console/str255.h"
#include "platform/platform.h"

// The COM port number the operator typed, 1 to 128.
using PortNumber = std::int32_t;

inline constexpr int kPortSlots = 128;
// Indexed 1..128; slot 0 is unused. A negative value is a closed slot.
extern plat::Handle PortHandleTable[kPortSlots + 1];

// The empty polls of a wait are counted in ticks of this length: what a
// 1 ms pause lasted where the counts were set (Windows at its default timer
// resolution). A reply is still taken the moment it arrives; one that has
// not come is waited for as long as it was there.
inline constexpr std::int64_t kPollTickMicros = 15625;
// The longest a reply read may take: 255 characters at 9600 baud, 11 bits
// each, and the reply wait of 51 ticks.
inline constexpr std::uint64_t kLongestReadMs = 255 * 11 * 1000 / 9600 + 797;
// Milliseconds on the line's clock: finer than the tick count wherever the
// platform has one.
std::uint64_t LineClockMs();
// Ticks since `startMs` (a LineClockMs reading): the polls a wait begun
// then has lasted.
std::int64_t PollsSince(std::uint64_t startMs);

// Device name for a port: "COM3", "\\.\COM12". Empty outside 1..128.
Str255 PortDeviceName(std::int32_t port);
// Read total time-out constant for a baud rate (50/baud*10000, ties to even).
std::uint32_t ReadTimeoutConstant(std::uint16_t baud);

std::uint32_t OpenPort(std::uint16_t port, std::uint16_t baud, char parity,
                       std::uint8_t dataBits, std::uint16_t stopBits);
void PurgePort(std::int32_t port);
bool InputPending(std::int32_t port);
void ClosePort(std::int32_t port);
std::int32_t ReadPortByte(std::int32_t port, std::uint8_t& out);
// A read still under way at `untilMs` (a LineClockMs reading) is cut there,
// as a reply without its end.
inline constexpr std::uint64_t kNoDeadline = ~std::uint64_t{0};
std::int32_t ReadPortText(std::int32_t port, Str255& dest,
                          std::int32_t maximum, std::uint8_t end1,
                          std::uint8_t end2, std::uint64_t untilMs = kNoDeadline);

// Tests only: all slots closed.
void ResetPortTableForTests();
