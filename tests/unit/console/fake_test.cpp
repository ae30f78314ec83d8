// SPDX-License-Identifier: MIT
// The test platform itself: scripted keys as Windows reports them, the
// virtual clock, and serial wires paced at the line speed. Every other test
// trusts these, so their timing and error codes are pinned down here.
#include "platform/fake/fake.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

plat::Handle ConIn() {
  return plat::CreateFileA("CONIN$", plat::GENERIC_READ | plat::GENERIC_WRITE,
                           plat::FILE_SHARE_READ | plat::FILE_SHARE_WRITE,
                           plat::OPEN_EXISTING, 0);
}

plat::Handle Open(const char* name) {
  return plat::CreateFileA(name, plat::GENERIC_READ | plat::GENERIC_WRITE, 0,
                           plat::OPEN_EXISTING, plat::FILE_ATTRIBUTE_NORMAL);
}

std::vector<plat::INPUT_RECORD> Drain(plat::Handle in) {
  std::vector<plat::INPUT_RECORD> out;
  std::uint32_t n = 0;
  plat::GetNumberOfConsoleInputEvents(in, &n);
  if (n == 0) return out;
  out.resize(n);
  std::uint32_t read = 0;
  plat::ReadConsoleInputA(in, out.data(), n, &read);
  out.resize(read);
  return out;
}

// Records what the host sends; answers every carriage return with `reply`
// after `latency`.
class Device : public fake::SerialEndpoint {
 public:
  std::string reply;
  fake::Micros latency = 0;
  std::vector<std::pair<std::uint8_t, fake::Micros>> got;

  void OnByte(std::uint8_t byte, fake::Micros at,
              std::vector<Emission>& out) override {
    got.emplace_back(byte, at);
    if (byte == '\r' && !reply.empty()) out.push_back({reply, at + latency});
  }
};

plat::Handle OpenAt9600E(const char* name) {
  const plat::Handle h = Open(name);
  plat::DCB dcb{};
  EXPECT_TRUE(plat::GetCommState(h, &dcb));
  dcb.BaudRate = 9600;
  dcb.ByteSize = 8;
  dcb.Parity = plat::EVENPARITY;
  dcb.StopBits = plat::ONESTOPBIT;
  EXPECT_TRUE(plat::SetCommState(h, &dcb));
  return h;
}

std::uint32_t InQueue(plat::Handle h) {
  plat::COMSTAT stat{};
  std::uint32_t errors = 0;
  EXPECT_TRUE(plat::ClearCommError(h, &errors, &stat));
  return stat.cbInQue;
}

std::string ReadAll(plat::Handle h) {
  char buf[64];
  std::uint32_t n = 0;
  EXPECT_TRUE(plat::ReadFile(h, buf, sizeof buf, &n));
  return std::string(buf, n);
}

constexpr double kChar = 11 * 1e6 / 9600;  // 9600 baud, 8E1

class FakeTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
};

}  // namespace

TEST_F(FakeTest, ResetGivesAFreshConsole) {
  plat::SetConsoleTitleA("old");
  plat::Sleep(5);
  fake::Key("a", 1000000);
  fake::Reset({100, 300, 100, 30, 0x1E});
  EXPECT_EQ(fake::Now(), 0);
  EXPECT_EQ(fake::PendingScript(), 0u);
  EXPECT_EQ(fake::Title(), "");

  const plat::Handle in = ConIn();
  const plat::Handle out = Open("CONOUT$");
  EXPECT_NE(in, out);
  EXPECT_NE(in, plat::INVALID_HANDLE_VALUE);
  plat::CONSOLE_SCREEN_BUFFER_INFO info{};
  ASSERT_TRUE(plat::GetConsoleScreenBufferInfo(out, &info));
  EXPECT_EQ(info.dwSize.X, 100);
  EXPECT_EQ(info.dwSize.Y, 300);
  EXPECT_EQ(info.srWindow.Bottom, 29);
  EXPECT_EQ(info.wAttributes, 0x1E);
  EXPECT_FALSE(plat::GetConsoleScreenBufferInfo(1234, &info));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_INVALID_HANDLE);
}

TEST_F(FakeTest, NamedKeysGiveTheRecordsWindowsGives) {
  struct Case {
    const char* name;
    std::uint16_t vk;
    char ch;
    std::uint32_t state;
  };
  const Case cases[] = {
      {"F1", 0x70, 0, 0},
      {"Shift+A", 0x41, 'A', plat::SHIFT_PRESSED},
      {"Ctrl+M", 0x4D, 13, plat::LEFT_CTRL_PRESSED},
      {"Alt+X", 0x58, 'x', plat::LEFT_ALT_PRESSED},
      {"Esc", 0x1B, 27, 0},
      {"Enter", 0x0D, 13, 0},
      {"a", 0x41, 'a', 0},
      {"R", 0x52, 'R', 0},
      {"5", 0x35, '5', 0},
      {"Shift+5", 0x35, '%', plat::SHIFT_PRESSED},
      {"Up", 0x26, 0, 0},
      {"Ctrl+Shift+F5", 0x74, 0, plat::LEFT_CTRL_PRESSED | plat::SHIFT_PRESSED},
  };
  const plat::Handle in = ConIn();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Key(c.name);
    const auto events = Drain(in);
    ASSERT_EQ(events.size(), 2u);
    for (int i = 0; i < 2; ++i) {
      const auto& k = events[i].KeyEvent;
      EXPECT_EQ(events[i].EventType, plat::KEY_EVENT);
      EXPECT_EQ(k.bKeyDown, i == 0 ? 1 : 0);
      EXPECT_EQ(k.wRepeatCount, 1);
      EXPECT_EQ(k.wVirtualKeyCode, c.vk);
      EXPECT_EQ(k.AsciiChar, c.ch);
      EXPECT_EQ(k.dwControlKeyState, c.state);
    }
  }
}

TEST_F(FakeTest, TypeFindsTheKeysThroughTheKeyMap) {
  const plat::Handle in = ConIn();
  fake::Type("RD DM-1\r");
  const auto events = Drain(in);
  ASSERT_EQ(events.size(), 16u);
  struct Want {
    std::uint16_t vk;
    char ch;
  };
  // Upper-case letters come without Shift, their case in the event
  // character; '-' is the first key map row giving it unshifted.
  const Want want[] = {{0x52, 'R'}, {0x44, 'D'}, {0x20, ' '}, {0x44, 'D'},
                       {0x4D, 'M'}, {0x6D, '-'}, {0x31, '1'}, {0x0D, 13}};
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE(i);
    const auto& down = events[2 * i].KeyEvent;
    EXPECT_EQ(down.bKeyDown, 1);
    EXPECT_EQ(down.wVirtualKeyCode, want[i].vk);
    EXPECT_EQ(down.AsciiChar, want[i].ch);
    EXPECT_EQ(down.dwControlKeyState, 0u);
    EXPECT_EQ(events[2 * i + 1].KeyEvent.bKeyDown, 0);
  }

  // Shifted punctuation, a control byte, a code-page letter in UTF-8 and as
  // its byte; a character no key types is skipped.
  fake::Type("%\x01\xC3\xA4\x84\x80~");
  const auto more = Drain(in);
  ASSERT_EQ(more.size(), 12u);
  EXPECT_EQ(more[0].KeyEvent.wVirtualKeyCode, 0x35);
  EXPECT_EQ(more[0].KeyEvent.dwControlKeyState, plat::SHIFT_PRESSED);
  EXPECT_EQ(more[2].KeyEvent.wVirtualKeyCode, 0x41);
  EXPECT_EQ(more[2].KeyEvent.dwControlKeyState, plat::LEFT_CTRL_PRESSED);
  EXPECT_EQ(more[4].KeyEvent.wVirtualKeyCode, 0xDC);
  EXPECT_EQ(static_cast<unsigned char>(more[4].KeyEvent.AsciiChar), 132);
  EXPECT_EQ(more[6].KeyEvent.wVirtualKeyCode, 0xDC);
  EXPECT_EQ(more[8].KeyEvent.wVirtualKeyCode, 0x34);   // Shift+4 gives 128
  EXPECT_EQ(more[10].KeyEvent.wVirtualKeyCode, 0xDD);  // Alt gives '~'
  EXPECT_EQ(more[10].KeyEvent.dwControlKeyState, plat::LEFT_ALT_PRESSED);
}

TEST_F(FakeTest, ScriptedKeysArriveWhenTheClockReachesThem) {
  const plat::Handle in = ConIn();
  fake::Key("a", 5000);
  fake::Type("bc", 10000, 2000);
  std::uint32_t n = 99;
  ASSERT_TRUE(plat::GetNumberOfConsoleInputEvents(in, &n));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(fake::PendingScript(), 6u);

  plat::Sleep(4);
  plat::GetNumberOfConsoleInputEvents(in, &n);
  EXPECT_EQ(n, 0u);
  plat::Sleep(1);
  plat::GetNumberOfConsoleInputEvents(in, &n);
  EXPECT_EQ(n, 2u);
  plat::INPUT_RECORD peeked[4]{};
  std::uint32_t got = 0;
  ASSERT_TRUE(plat::PeekConsoleInputA(in, peeked, 4, &got));
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(peeked[0].KeyEvent.AsciiChar, 'a');

  fake::AdvanceTo(11000);
  plat::GetNumberOfConsoleInputEvents(in, &n);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(fake::PendingScript(), 2u);
  EXPECT_EQ(fake::Now(), 11000);
}

TEST_F(FakeTest, BlockingReadWaitsForTheNextKeyThenStarves) {
  const plat::Handle in = ConIn();
  fake::Key("x", 250000);
  plat::INPUT_RECORD r[8]{};
  std::uint32_t n = 0;
  ASSERT_TRUE(plat::ReadConsoleInputA(in, r, 1, &n));
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(fake::Now(), 250000);
  EXPECT_EQ(r[0].KeyEvent.bKeyDown, 1);
  ASSERT_TRUE(plat::ReadConsoleInputA(in, r, 8, &n));
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(r[0].KeyEvent.bKeyDown, 0);
  EXPECT_THROW(plat::ReadConsoleInputA(in, r, 1, &n), fake::InputStarved);
}

TEST_F(FakeTest, RecordsBeepsModesHandlerTitleAndExit) {
  const plat::Handle in = ConIn();
  const plat::Handle out = Open("CONOUT$");
  plat::SetConsoleMode(in, 0x1F7);
  plat::SetConsoleMode(out, 3);
  EXPECT_EQ(fake::InputMode(), 0x1F7u);
  EXPECT_EQ(fake::OutputMode(), 3u);

  auto handler = +[](std::uint32_t) { return 1; };
  EXPECT_FALSE(fake::CtrlHandlerInstalled());
  plat::SetConsoleCtrlHandler(handler, 1);
  EXPECT_TRUE(fake::CtrlHandlerInstalled());
  EXPECT_EQ(fake::CtrlHandler(), handler);

  plat::Sleep(2);
  plat::Beep(3000, 100);
  ASSERT_EQ(fake::Beeps().size(), 1u);
  EXPECT_EQ(fake::Beeps()[0].frequency, 3000u);
  EXPECT_EQ(fake::Beeps()[0].at, 2000);
  EXPECT_EQ(fake::Now(), 102000);  // Beep blocks for its duration

  plat::SetConsoleTitleA(" Pav (#7, C3)");
  EXPECT_EQ(fake::Title(), " Pav (#7, C3)");
  plat::ReportRuntimeError("Runtime error 105");
  EXPECT_EQ(fake::RuntimeErrors(),
            std::vector<std::string>{"Runtime error 105"});

  try {
    plat::ExitProcess(3);
    FAIL() << "ExitProcess returned";
  } catch (const fake::ProcessExit& e) {
    EXPECT_EQ(e.code, 3u);
  }
}

TEST_F(FakeTest, ConsoleCallsCountWrittenCells) {
  const plat::Handle out = Open("CONOUT$");
  const plat::CHAR_INFO cells[3] = {{'a', 7}, {'b', 7}, {'c', 7}};
  plat::SMALL_RECT r{78, 0, 80, 0};
  ASSERT_TRUE(plat::WriteConsoleOutputA(out, cells, {3, 1}, {0, 0}, &r));
  r = {0, 1, 2, 1};
  ASSERT_TRUE(plat::WriteConsoleOutputA(out, cells, {3, 1}, {0, 0}, &r));
  EXPECT_EQ(fake::WriteRuns(), (std::vector<int>{2, 3}));
  EXPECT_EQ(fake::RowTrimmed(2), "abc");
  EXPECT_EQ(fake::CharAt(80, 1), 'b');
  EXPECT_EQ(fake::AttrAt(80, 1), 7);
  EXPECT_FALSE(plat::SetConsoleCursorPosition(out, {80, 0}));
  ASSERT_TRUE(plat::SetConsoleCursorPosition(out, {79, 24}));
  EXPECT_EQ(fake::Cursor().X, 79);
  EXPECT_EQ(fake::Cursor().Y, 24);
}

TEST_F(FakeTest, OpensOnlyBoundDevicesByExactNameAndNeverShares) {
  Device d;
  fake::BindSerial("\\\\.\\COM12", &d);

  plat::SetLastError(99);
  EXPECT_EQ(Open("COM12"), plat::INVALID_HANDLE_VALUE);
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_FILE_NOT_FOUND);

  const plat::Handle h = Open("\\\\.\\COM12");
  ASSERT_NE(h, plat::INVALID_HANDLE_VALUE);
  EXPECT_EQ(plat::GetLastError(), 0u);
  EXPECT_EQ(fake::OpenHandleCount("\\\\.\\COM12"), 1);

  EXPECT_EQ(Open("\\\\.\\COM12"), plat::INVALID_HANDLE_VALUE);
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_ACCESS_DENIED);

  EXPECT_TRUE(plat::CloseHandle(h));
  EXPECT_EQ(fake::OpenHandleCount("\\\\.\\COM12"), 0);
  EXPECT_FALSE(plat::CloseHandle(h));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_INVALID_HANDLE);
  EXPECT_NE(Open("\\\\.\\COM12"), plat::INVALID_HANDLE_VALUE);
  EXPECT_EQ(fake::OpenedNames(),
            (std::vector<std::string>{"COM12", "\\\\.\\COM12", "\\\\.\\COM12",
                                      "\\\\.\\COM12"}));
}

TEST_F(FakeTest, LineSettingsAndTimeoutsAreRecorded) {
  Device d;
  fake::BindSerial("COM3", &d);
  const plat::Handle h = Open("COM3");
  plat::DCB dcb{};
  ASSERT_TRUE(plat::GetCommState(h, &dcb));
  EXPECT_EQ(dcb.DCBlength, 28u);
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(fake::CharTime("COM3"), 1042);  // 8N1: 10 bits

  dcb.Parity = plat::EVENPARITY;
  dcb.StopBits = plat::TWOSTOPBITS;
  dcb.BaudRate = 4800;
  ASSERT_TRUE(plat::SetCommState(h, &dcb));
  EXPECT_EQ(fake::LastDcb("COM3").BaudRate, 4800u);
  EXPECT_EQ(fake::CharTime("COM3"), 2500);  // 12 bits at 4800

  dcb.BaudRate = 0;
  plat::SetLastError(0);
  EXPECT_FALSE(plat::SetCommState(h, &dcb));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(fake::LastDcb("COM3").BaudRate, 4800u);

  plat::COMMTIMEOUTS t{};
  ASSERT_TRUE(plat::GetCommTimeouts(h, &t));
  t.ReadTotalTimeoutConstant = 52;
  ASSERT_TRUE(plat::SetCommTimeouts(h, &t));
  EXPECT_EQ(fake::LastTimeouts("COM3").ReadTotalTimeoutConstant, 52u);

  plat::CloseHandle(h);
  EXPECT_EQ(fake::CharTime("COM3"), 0);
}

TEST_F(FakeTest, BytesCrossTheWireAtTheLineSpeed) {
  Device d;
  d.reply = "12345\r\n";
  d.latency = 3000;
  fake::BindSerial("COM1", &d);
  const plat::Handle h = OpenAt9600E("COM1");
  EXPECT_EQ(fake::CharTime("COM1"), 1146);

  std::uint32_t written = 0;
  ASSERT_TRUE(plat::WriteFile(h, "RD DM992\r", 9, &written));
  EXPECT_EQ(written, 9u);
  EXPECT_EQ(fake::Now(), 0);  // WriteFile does not wait for the line
  EXPECT_EQ(fake::SentText("COM1"), "");

  fake::AdvanceTo(10000);
  EXPECT_EQ(d.got.size(), 8u);
  fake::AdvanceTo(10313);
  ASSERT_EQ(d.got.size(), 9u);
  for (int k = 0; k < 9; ++k)
    EXPECT_NEAR(static_cast<double>(d.got[k].second), (k + 1) * kChar, 0.5);
  EXPECT_EQ(fake::SentText("COM1"), "RD DM992\r");

  // The reply starts 3 ms after the request's last byte, byte by byte.
  const double start = 9 * kChar + 3000;
  fake::AdvanceTo(static_cast<fake::Micros>(start + kChar) - 2);
  EXPECT_EQ(InQueue(h), 0u);
  fake::AdvanceTo(static_cast<fake::Micros>(start + kChar) + 2);
  EXPECT_EQ(InQueue(h), 1u);
  fake::AdvanceTo(static_cast<fake::Micros>(start + 3 * kChar) + 2);
  EXPECT_EQ(InQueue(h), 3u);
  EXPECT_EQ(ReadAll(h), "123");
  EXPECT_EQ(InQueue(h), 0u);
  plat::Sleep(20);
  EXPECT_EQ(ReadAll(h), "45\r\n");
  EXPECT_EQ(fake::ReceivedText("COM1"), "12345\r\n");

  const auto& log = fake::WireLog("COM1");
  ASSERT_EQ(log.size(), 16u);
  EXPECT_TRUE(log[8].toDevice);
  EXPECT_FALSE(log[9].toDevice);
  EXPECT_NEAR(static_cast<double>(log.back().at), start + 7 * kChar, 1.0);
}

TEST_F(FakeTest, WritesQueueBehindBytesStillOnTheLine) {
  Device d;
  fake::BindSerial("COM1", &d);
  const plat::Handle h = OpenAt9600E("COM1");
  std::uint32_t written = 0;
  plat::WriteFile(h, "ab", 2, &written);
  plat::WriteFile(h, "c", 1, &written);
  fake::AdvanceTo(100000);
  ASSERT_EQ(d.got.size(), 3u);
  EXPECT_NEAR(static_cast<double>(d.got[2].second), 3 * kChar, 0.5);

  // Emissions that ask for the same moment follow each other on the line.
  d.reply = "xy";
  plat::WriteFile(h, "\r", 1, &written);
  plat::WriteFile(h, "\r", 1, &written);
  fake::AdvanceTo(200000);
  std::vector<fake::Micros> back;
  for (const auto& w : fake::WireLog("COM1"))
    if (!w.toDevice) back.push_back(w.at);
  ASSERT_EQ(back.size(), 4u);
  for (std::size_t i = 1; i < back.size(); ++i)
    EXPECT_NEAR(static_cast<double>(back[i] - back[i - 1]), kChar, 1.0);
}

TEST_F(FakeTest, PurgeDropsArrivedInputAndUnsentOutputOnly) {
  Device d;
  d.reply = "ABCDEF";
  fake::BindSerial("COM2", &d);
  const plat::Handle h = OpenAt9600E("COM2");
  std::uint32_t written = 0;
  plat::WriteFile(h, "\r", 1, &written);
  // Reply bytes arrive at 2, 3, ... 7 character times.
  fake::AdvanceTo(static_cast<fake::Micros>(4 * kChar) + 10);
  EXPECT_EQ(InQueue(h), 3u);
  ASSERT_TRUE(plat::PurgeComm(h, plat::PURGE_RXCLEAR | plat::PURGE_TXCLEAR));
  EXPECT_EQ(InQueue(h), 0u);
  EXPECT_EQ(fake::PurgeCount("COM2"), 1);
  plat::Sleep(10);
  EXPECT_EQ(ReadAll(h), "DEF");  // still on the wire when purged

  // Unsent output goes; the byte already being shifted out completes.
  d.reply.clear();
  d.got.clear();
  plat::WriteFile(h, "12345", 5, &written);
  fake::AdvanceTo(fake::Now() + static_cast<fake::Micros>(kChar / 2));
  plat::PurgeComm(h, plat::PURGE_TXCLEAR);
  plat::Sleep(20);
  ASSERT_EQ(d.got.size(), 1u);
  EXPECT_EQ(d.got[0].first, '1');
  EXPECT_EQ(fake::PurgeCount("COM2"), 2);
}

TEST_F(FakeTest, UnpluggedDeviceFailsOpenHandlesAndNewOpens) {
  Device d;
  d.reply = "OK\r\n";
  fake::BindSerial("COM5", &d);
  const plat::Handle h = OpenAt9600E("COM5");
  std::uint32_t n = 0;
  plat::WriteFile(h, "\r", 1, &n);
  plat::Sleep(3);
  fake::UnplugSerial("COM5");

  char buf[8];
  plat::SetLastError(0);
  EXPECT_FALSE(plat::ReadFile(h, buf, 8, &n));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_GEN_FAILURE);
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(plat::WriteFile(h, "x", 1, &n));
  plat::COMSTAT stat{};
  std::uint32_t errors = 0;
  EXPECT_FALSE(plat::ClearCommError(h, &errors, &stat));
  EXPECT_FALSE(plat::PurgeComm(h, plat::PURGE_RXCLEAR));
  EXPECT_EQ(Open("COM5"), plat::INVALID_HANDLE_VALUE);
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_FILE_NOT_FOUND);

  // Plugged in again, the old handle stays dead; a new open works.
  fake::BindSerial("COM5", &d);
  EXPECT_FALSE(plat::WriteFile(h, "x", 1, &n));
  EXPECT_TRUE(plat::CloseHandle(h));
  const plat::Handle again = Open("COM5");
  ASSERT_NE(again, plat::INVALID_HANDLE_VALUE);
  EXPECT_TRUE(plat::WriteFile(again, "x", 1, &n));
}

TEST_F(FakeTest, KeysAndWireBytesInterleaveInTimeOrder) {
  Device d;
  d.reply = "Z";
  fake::BindSerial("COM1", &d);
  const plat::Handle h = OpenAt9600E("COM1");
  const plat::Handle in = ConIn();
  std::uint32_t n = 0;
  plat::WriteFile(h, "\r", 1, &n);
  // The reply arrives after two character times; a key is due in between.
  fake::Key("q", static_cast<fake::Micros>(1.5 * kChar));
  plat::INPUT_RECORD r{};
  ASSERT_TRUE(plat::ReadConsoleInputA(in, &r, 1, &n));
  EXPECT_EQ(d.got.size(), 1u);  // the request byte arrived on the way
  EXPECT_EQ(InQueue(h), 0u);
  plat::Sleep(1);
  EXPECT_EQ(InQueue(h), 1u);
}
