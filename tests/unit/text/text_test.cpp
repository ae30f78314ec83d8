// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <string>

#include "console/str255.h"
#include "console/text.h"

TEST(Str255, AppendAndConcatenationCutAt255) {
  Str255 s(std::string(250, 'a'));
  s.Append("bcdefgh");
  EXPECT_EQ(s.size(), 255u);
  EXPECT_EQ(s.view().substr(250), "bcdef");
  s.Append('z');
  EXPECT_EQ(s.size(), 255u);
  Str255 t = Str255(std::string(200, 'x')) + std::string(100, 'y');
  EXPECT_EQ(t.size(), 255u);
  EXPECT_EQ(t[254], 'y');
  EXPECT_EQ(Str255(std::string(300, 'q')).size(), 255u);
}

TEST(Str255, DeleteStopsAtTheEnd) {
  Str255 s("0123456789");
  s.Delete(8, 10);
  EXPECT_EQ(s, "01234567");
  s.Delete(20, 3);
  EXPECT_EQ(s, "01234567");
  s.Delete(0, 2);
  EXPECT_EQ(s, "234567");
  s.Clear();
  EXPECT_TRUE(s.empty());
}

TEST(Text, FixedPointRightAlignedAndWidening) {
  EXPECT_EQ(FormatFixed(22.5, 6, 2), " 22.50");
  EXPECT_EQ(FormatFixed(-50, 6, 2), "-50.00");
  EXPECT_EQ(FormatFixed(61316.0 / 60.0, 6, 2), "1021.93");
  EXPECT_EQ(FormatFixed(2.0, 6, 1), "   2.0");
  EXPECT_EQ(FormatFixed(50.0, 7, 1), "   50.0");
  EXPECT_EQ(FormatFixed(1e300, 6, 2).size(), 255u);
}

TEST(Text, WholeNumbers) {
  EXPECT_EQ(FormatInt(7200, 7), "   7200");
  EXPECT_EQ(FormatInt(12, 4), "  12");
  EXPECT_EQ(FormatInt(123456, 4), "123456");
  EXPECT_EQ(FormatInt(3), "3");
  EXPECT_EQ(FormatInt(-5, 3), " -5");
  EXPECT_EQ(FormatInt(4294967295LL, 7), "4294967295");
}

TEST(Text, ReplyConversion) {
  bool whole = false;
  EXPECT_EQ(ParseNumber("00123", &whole), 123);
  EXPECT_TRUE(whole);
  EXPECT_EQ(ParseNumber("  -42", &whole), -42);
  EXPECT_TRUE(whole);
  EXPECT_EQ(ParseNumber("+7", &whole), 7);
  EXPECT_EQ(ParseNumber("12ab", &whole), 12);
  EXPECT_FALSE(whole);
  EXPECT_EQ(ParseNumber("12 ", &whole), 12);
  EXPECT_FALSE(whole);
  EXPECT_EQ(ParseNumber("", &whole), 0);
  EXPECT_FALSE(whole);
  EXPECT_EQ(ParseNumber("E1", &whole), 0);
  EXPECT_FALSE(whole);
  EXPECT_EQ(ParseNumber("-", &whole), 0);
  EXPECT_FALSE(whole);
  EXPECT_EQ(ParseNumber("String in buffer "), 0);
}

TEST(Text, OverlongDigitRunsSaturate) {
  bool whole = true;
  EXPECT_EQ(ParseNumber("99999999999999999999999999", &whole), 2147483647);
  EXPECT_FALSE(whole);
  EXPECT_EQ(ParseNumber("-99999999999999999999999999", &whole),
            -2147483647 - 1);
  EXPECT_EQ(ParseNumber("2147483647", &whole), 2147483647);
  EXPECT_TRUE(whole);
  EXPECT_EQ(ParseNumber("-2147483648", &whole), -2147483647 - 1);
  EXPECT_TRUE(whole);
  EXPECT_EQ(ParseNumber(std::string(300, '9')), 2147483647);
}
