// SPDX-License-Identifier: MIT
#include "platform/platform.h"
#include "setup/program.h"

int main(int argc, char** argv) {
  int code = 0;
  if (plat::HandleCommandLine(argc, argv, &code)) return code;
  // Through the platform so that a terminal it took over is given back.
  plat::ExitProcess(static_cast<std::uint32_t>(ZrvMain(argc, argv)));
}
