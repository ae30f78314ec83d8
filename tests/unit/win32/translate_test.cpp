// SPDX-License-Identifier: MIT
// The Win32 backend's own translations: what the console is handed to show
// and what a typed key becomes, whatever the console's code page.
#include <gtest/gtest.h>

#include "platform/win32/win32_translate.h"

namespace w = plat::win32;

TEST(Win32CodePage, CellsShowCodePage850AndKeysTypeIt) {
  // The indicator frames, and letters of the key map.
  EXPECT_EQ(w::WideGlyph('\xB0'), L'\u2591');
  EXPECT_EQ(w::WideGlyph('\xB1'), L'\u2592');
  EXPECT_EQ(w::WideGlyph('\xB2'), L'\u2593');
  EXPECT_EQ(w::WideGlyph('\xDB'), L'\u2588');
  EXPECT_EQ(w::WideGlyph('\x1E'), L'\u25B2');
  EXPECT_EQ(w::WideGlyph('\x84'), L'\u00E4');
  EXPECT_EQ(w::WideText("Pav (#1, C3) \x84"), L"Pav (#1, C3) \u00E4");

  EXPECT_EQ(static_cast<unsigned char>(w::TypedByte(L'\u00E4')), 132);
  EXPECT_EQ(static_cast<unsigned char>(w::TypedByte(L'\u00A7')), 245);
  EXPECT_EQ(w::TypedByte(L'a'), 'a');
  EXPECT_EQ(w::TypedByte(L'\r'), '\r');
  EXPECT_EQ(w::TypedByte(L'\x1B'), '\x1B');
  EXPECT_EQ(w::TypedByte(L'\u20AC'), '?');  // the euro sign is not in it
}

TEST(Win32Records, KeyEventsKeepEveryFieldAndTypeTheirByte) {
  ::INPUT_RECORD in{};
  in.EventType = KEY_EVENT;
  in.Event.KeyEvent.bKeyDown = TRUE;
  in.Event.KeyEvent.wRepeatCount = 2;
  in.Event.KeyEvent.wVirtualKeyCode = 0xDE;
  in.Event.KeyEvent.wVirtualScanCode = 0x28;
  in.Event.KeyEvent.uChar.UnicodeChar = L'\u00E4';
  in.Event.KeyEvent.dwControlKeyState = SHIFT_PRESSED | NUMLOCK_ON;
  plat::INPUT_RECORD out;
  w::FromNative(in, out);
  EXPECT_EQ(out.EventType, KEY_EVENT);
  EXPECT_EQ(out.KeyEvent.bKeyDown, 1);
  EXPECT_EQ(out.KeyEvent.wRepeatCount, 2);
  EXPECT_EQ(out.KeyEvent.wVirtualKeyCode, 0xDE);
  EXPECT_EQ(out.KeyEvent.wVirtualScanCode, 0x28);
  EXPECT_EQ(static_cast<unsigned char>(out.KeyEvent.AsciiChar), 132);
  EXPECT_EQ(out.KeyEvent.dwControlKeyState, static_cast<std::uint32_t>(SHIFT_PRESSED | NUMLOCK_ON));

  // Other events carry no key: nothing of the native union leaks through.
  ::INPUT_RECORD focus{};
  focus.EventType = FOCUS_EVENT;
  focus.Event.FocusEvent.bSetFocus = TRUE;
  w::FromNative(focus, out);
  EXPECT_EQ(out.EventType, FOCUS_EVENT);
  EXPECT_EQ(out.KeyEvent.bKeyDown, 0);
  EXPECT_EQ(out.KeyEvent.wVirtualKeyCode, 0);
}

TEST(Win32Fills, AFillLeavingARowMidwayIsCutAtTheRowEnd) {
  auto spans = w::FillSpans({5, 2}, 200, 80);
  ASSERT_EQ(spans.size(), 2u);
  EXPECT_EQ(spans[0].at.X, 5);
  EXPECT_EQ(spans[0].at.Y, 2);
  EXPECT_EQ(spans[0].length, 75u);
  EXPECT_EQ(spans[1].at.X, 0);
  EXPECT_EQ(spans[1].at.Y, 3);
  EXPECT_EQ(spans[1].length, 125u);
  // From a row's start, or within one row, the fill stays whole.
  EXPECT_EQ(w::FillSpans({0, 0}, 80 * 25, 80).size(), 1u);
  EXPECT_EQ(w::FillSpans({5, 2}, 75, 80).size(), 1u);
  EXPECT_EQ(w::FillSpans({5, 2}, 10, 0).size(), 1u);  // width unknown
}

TEST(Win32Ports, TheComPortsOfTheDeviceList) {
  const char list[] = "AUX\0COM10\0COM3\0COMPOSITE\0COM3\0CONIN$\0COM0\0\0";
  EXPECT_EQ(w::ComPortsIn(list, sizeof list), (std::vector<int>{3, 10}));
  // A list cut off inside a name keeps only the names that ended.
  const char cut[] = {'C', 'O', 'M', '4', '\0', 'C', 'O', 'M', '5'};
  EXPECT_EQ(w::ComPortsIn(cut, sizeof cut), (std::vector<int>{4}));
  EXPECT_TRUE(w::ComPortsIn(list, 0).empty());
}

TEST(Win32Ports, GoneDevicesAndWhenToLookForThemAgain) {
  for (const DWORD e : {ERROR_BAD_COMMAND, ERROR_ACCESS_DENIED,
                        ERROR_OPERATION_ABORTED, ERROR_DEVICE_REMOVED,
                        ERROR_GEN_FAILURE, ERROR_INVALID_HANDLE,
                        ERROR_NOT_READY}) {
    EXPECT_TRUE(w::DeviceGone(e)) << e;
  }
  for (const DWORD e : {DWORD{ERROR_SUCCESS}, DWORD{ERROR_IO_PENDING},
                        DWORD{ERROR_INVALID_PARAMETER}, DWORD{ERROR_TIMEOUT}}) {
    EXPECT_FALSE(w::DeviceGone(e)) << e;
  }
  EXPECT_FALSE(w::TimeToLook(1249, 1000));
  EXPECT_TRUE(w::TimeToLook(1250, 1000));
  // Across the wrap: 116 ms, then 266 ms since the last look.
  EXPECT_FALSE(w::TimeToLook(100, 0xFFFFFFF0u));
  EXPECT_TRUE(w::TimeToLook(250, 0xFFFFFFF0u));
}

TEST(Win32Ports, NetworkPortsJoinTheDeviceList) {
  const char list[] = "AUX\0COM3\0CONIN$\0\0";
  const std::string joined = w::WithPorts(list, sizeof list, {3, 16});
  EXPECT_EQ(joined, std::string("AUX\0COM3\0CONIN$\0COM16\0\0", 23));
  EXPECT_EQ(w::ComPortsIn(joined.data(), joined.size()),
            (std::vector<int>{3, 16}));
  // No list at all (the query failed): the network ports alone.
  EXPECT_EQ(w::WithPorts(list, 0, {7}), std::string("COM7\0\0", 6));
}
