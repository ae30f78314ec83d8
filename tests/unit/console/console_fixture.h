// SPDX-License-Identifier: MIT
// A fresh fake machine with the console opened on it, as at process start.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "console/editor.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "platform/fake/fake.h"

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override { Start({}); }

  void Start(const fake::Options& options) {
    fake::Reset(options);
    ResetConsoleStateForTests();
    ResetKeyboardStateForTests();
    SavedScreenColumns = 0;
    SavedScreenRows = 0;
    ASSERT_TRUE(ConsoleSetup());
  }

  static int Sum(const std::vector<int>& runs) {
    int total = 0;
    for (int n : runs) total += n;
    return total;
  }
};
