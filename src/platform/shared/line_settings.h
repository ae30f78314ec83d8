// SPDX-License-Identifier: MIT
// The line settings a serial port reports before anything is set.
#pragma once

#include "platform/platform.h"

namespace plat {

// 9600 baud 8N1, binary, no flow control, the usual Xon/Xoff limits.
inline DCB FreshPortDcb() {
  DCB d{};
  d.DCBlength = sizeof(DCB);
  d.BaudRate = 9600;
  d.Flags = 0x1;  // fBinary
  d.XonLim = 2048;
  d.XoffLim = 512;
  d.ByteSize = 8;
  d.Parity = NOPARITY;
  d.StopBits = ONESTOPBIT;
  return d;
}

}  // namespace plat
