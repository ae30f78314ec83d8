// Host-link command client: one command line out, one reply line back.
#pragma once

#include <cstdint>
#include <string_view>

#include "console/str255.h"

inline constexpr std::string_view kStaleInputReply = "String in buffer ";

void LinkOpen(std::int32_t port);
void LinkConnect(std::int32_t port, Str255& reply);
void LinkDisconnect(std::int32_t port, Str255& reply);
void Transact(std::int32_t port, const Str255& command, Str255& reply);
void ReadRelay(std::int32_t port, std::int32_t relay, Str255& reply);
void ReadTimer(std::int32_t port, std::int32_t timer, Str255& reply);
void ReadDM(std::int32_t port, std::uint16_t address, Str255& reply);
void WriteDM(std::int32_t port, std::uint16_t address, std::uint16_t value,
             Str255& reply);

// The minus-sign rewrite applied to every command before it is sent.
Str255 RewriteMinusSign(const Str255& command);
