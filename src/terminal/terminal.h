// SPDX-License-Identifier: MIT
// The interactive command terminal opened with the T hot key.
#pragma once

#include <cstdint>

#include "link/serial_port.h"

struct TerminalRun {
  PortNumber Port = 0;
  std::uint16_t CurrentRow = 3;
  std::uint16_t RowLimit = 0;
  bool Scrolled = false;
};

void RunTerminal(PortNumber port);
void DrawTerminalFrame(std::uint16_t width);
void WriteTerminalPrompt(TerminalRun& run);
void CloseTerminalScreen();
