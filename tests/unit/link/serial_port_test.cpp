// SPDX-License-Identifier: MIT
#include "link/serial_port.h"

#include <gtest/gtest.h>

#include <string>

#include "unit/link/link_fixture.h"

namespace {

class SerialPortTest : public LinkTest {
 protected:
  // COMn open at 9600 8E1 on `controller`, which answers every line with
  // `reply`; then `request` goes out and time runs to the answer's first byte.
  void OpenAndAsk(PortNumber port, const std::string& reply,
                  const std::string& request) {
    controller.fallback = reply;
    fake::BindSerial("COM" + std::to_string(port), &controller);
    ASSERT_EQ(OpenPort(port, 9600, 'E', 8, 1), 0u);
    SendRaw(port, request);
    WaitForInput(port);
  }

  ScriptedController controller;
};

TEST(PortNames, ShortAndDeviceNamespaceForms) {
  EXPECT_EQ(PortDeviceName(1), "COM1");
  EXPECT_EQ(PortDeviceName(9), "COM9");
  EXPECT_EQ(PortDeviceName(10), "\\\\.\\COM10");
  EXPECT_EQ(PortDeviceName(12), "\\\\.\\COM12");
  EXPECT_EQ(PortDeviceName(128), "\\\\.\\COM128");
  EXPECT_EQ(PortDeviceName(128).size(), 10u);
  EXPECT_TRUE(PortDeviceName(0).empty());
  EXPECT_TRUE(PortDeviceName(129).empty());
  EXPECT_TRUE(PortDeviceName(-3).empty());
}

TEST(PortNames, ReadTimeoutConstantRoundsHalfToEven) {
  EXPECT_EQ(ReadTimeoutConstant(9600), 52u);
  EXPECT_EQ(ReadTimeoutConstant(4800), 104u);
  EXPECT_EQ(ReadTimeoutConstant(19200), 26u);
  // Exact ties: 62.5 and 12.5 go to the even neighbour.
  EXPECT_EQ(ReadTimeoutConstant(8000), 62u);
  EXPECT_EQ(ReadTimeoutConstant(40000), 12u);
  EXPECT_EQ(ReadTimeoutConstant(7), 71429u);
  EXPECT_EQ(ReadTimeoutConstant(65535), 8u);
  EXPECT_EQ(ReadTimeoutConstant(0), 0u);
}

TEST_F(SerialPortTest, OpensShortAndNamespaceDeviceNames) {
  ScriptedController c9, c10, c128;
  fake::BindSerial("COM9", &c9);
  fake::BindSerial("\\\\.\\COM10", &c10);
  fake::BindSerial("\\\\.\\COM128", &c128);
  EXPECT_EQ(OpenPort(9, 9600, 'E', 8, 1), 0u);
  EXPECT_EQ(OpenPort(10, 9600, 'E', 8, 1), 0u);
  EXPECT_EQ(OpenPort(128, 9600, 'E', 8, 1), 0u);
  const std::vector<std::string> expected = {"COM9", "\\\\.\\COM10",
                                             "\\\\.\\COM128"};
  EXPECT_EQ(SerialOpens(), expected);
  EXPECT_GE(PortHandleTable[9], 0);
  EXPECT_GE(PortHandleTable[10], 0);
  EXPECT_GE(PortHandleTable[128], 0);
  EXPECT_EQ(fake::OpenHandleCount("\\\\.\\COM128"), 1);
}

TEST_F(SerialPortTest, WritesEveryLineSettingsField) {
  ScriptedController c;
  fake::BindSerial("COM3", &c);
  // The write time-outs the driver holds before the program touches them.
  plat::COMMTIMEOUTS before{};
  const plat::Handle raw =
      plat::CreateFileA("COM3", plat::GENERIC_READ | plat::GENERIC_WRITE, 0,
                        plat::OPEN_EXISTING, plat::FILE_ATTRIBUTE_NORMAL);
  ASSERT_GE(raw, 0);
  // Odd values the driver might hold: the read fields must be overwritten.
  before = {7, 9, 11, 13, 17};
  plat::SetCommTimeouts(raw, &before);
  plat::CloseHandle(raw);

  ASSERT_EQ(OpenPort(3, 9600, 'E', 8, 1), 0u);
  const plat::DCB dcb = fake::LastDcb("COM3");
  EXPECT_EQ(dcb.DCBlength, 28u);
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.Flags, 4113u);
  EXPECT_EQ(dcb.wReserved, 0);
  EXPECT_EQ(dcb.XonLim, 2048);
  EXPECT_EQ(dcb.XoffLim, 512);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, plat::EVENPARITY);
  EXPECT_EQ(dcb.StopBits, plat::ONESTOPBIT);
  EXPECT_EQ(dcb.XonChar, 0);
  EXPECT_EQ(dcb.XoffChar, 0);
  EXPECT_EQ(dcb.ErrorChar, 0);
  EXPECT_EQ(dcb.EofChar, 0);
  EXPECT_EQ(dcb.EvtChar, 0);
  EXPECT_EQ(dcb.wReserved1, 0);

  const plat::COMMTIMEOUTS t = fake::LastTimeouts("COM3");
  EXPECT_EQ(t.ReadIntervalTimeout, 0u);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 52u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, before.WriteTotalTimeoutMultiplier);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, before.WriteTotalTimeoutConstant);
}

TEST_F(SerialPortTest, ParityLettersStopCodesAndSpeeds) {
  struct Case {
    char parity;
    std::uint16_t stop;
    std::uint16_t baud;
    std::uint8_t dataBits;
    std::uint8_t wantParity;
    std::uint8_t wantStop;
    std::uint32_t wantTimeout;
  };
  const Case cases[] = {
      {'e', 1, 9600, 8, plat::EVENPARITY, plat::ONESTOPBIT, 52},
      {'O', 2, 4800, 7, plat::ODDPARITY, plat::TWOSTOPBITS, 104},
      {'o', 3, 19200, 8, plat::ODDPARITY, plat::ONESTOPBIT, 26},
      {'X', 3, 9600, 5, plat::NOPARITY, plat::ONESTOPBIT, 52},
      {'N', 0, 9600, 8, plat::NOPARITY, plat::ONESTOPBIT, 52},
  };
  ScriptedController c;
  fake::BindSerial("COM4", &c);
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(1, k.parity) + " stop " + std::to_string(k.stop));
    ASSERT_EQ(OpenPort(4, k.baud, k.parity, k.dataBits, k.stop), 0u);
    const plat::DCB dcb = fake::LastDcb("COM4");
    EXPECT_EQ(dcb.Parity, k.wantParity);
    EXPECT_EQ(dcb.StopBits, k.wantStop);
    EXPECT_EQ(dcb.ByteSize, k.dataBits);
    EXPECT_EQ(dcb.BaudRate, k.baud);
    EXPECT_EQ(dcb.Flags, 0x1011u);
    EXPECT_EQ(fake::LastTimeouts("COM4").ReadTotalTimeoutConstant,
              k.wantTimeout);
    ClosePort(4);
  }
}

TEST_F(SerialPortTest, MissingDeviceLeavesClosedSlotAndReadsRefused) {
  fake::Key("a");
  const std::uint32_t err = OpenPort(5, 9600, 'E', 8, 1);
  EXPECT_NE(err, 0u);
  EXPECT_EQ(err, plat::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(PortHandleTable[5], -1);
  std::uint8_t byte = 'q';
  EXPECT_EQ(ReadPortByte(5, byte), -1);
  EXPECT_EQ(byte, 'q');
  Str255 dest("keep");
  EXPECT_EQ(ReadPortText(5, dest, 255, 3, 10), -1);
  EXPECT_EQ(dest, "keep");
  EXPECT_FALSE(InputPending(5));
  // A refused read does not touch the keyboard.
  EXPECT_TRUE(KeyBuffer.empty());
  EXPECT_TRUE(KeyWaiting());
}

TEST_F(SerialPortTest, UnpluggedDeviceReadsAsIdleAndReopenClosesSlot) {
  ASSERT_NO_FATAL_FAILURE(OpenAndAsk(1, "00042\r\n", "RD DM1\r"));
  fake::UnplugSerial("COM1");
  // The status query fails now: the queue counts as empty.
  EXPECT_FALSE(InputPending(1));
  Str255 dest("keep");
  const fake::Micros t0 = fake::Now();
  EXPECT_EQ(ReadPortText(1, dest, 255, 3, 10), 0);
  EXPECT_EQ(dest, "keep");
  EXPECT_EQ(fake::Now(), t0);
  // A failed open replaces the handle the slot held.
  EXPECT_EQ(OpenPort(1, 9600, 'E', 8, 1), plat::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(PortHandleTable[1], -1);
}

TEST_F(SerialPortTest, OpenStepsJudgedByTheirOwnErrorCode) {
  ScriptedController c;
  fake::BindSerial("COM6", &c);
  // An error left over from an earlier call is not this open's failure.
  plat::SetLastError(plat::ERROR_ACCESS_DENIED);
  EXPECT_EQ(OpenPort(6, 9600, 'E', 8, 1), 0u);
  ClosePort(6);

  // Settings the driver rejects: the time-outs are not touched.
  const plat::COMMTIMEOUTS before = fake::LastTimeouts("COM6");
  EXPECT_EQ(OpenPort(6, 0, 'E', 8, 1), plat::ERROR_INVALID_PARAMETER);
  EXPECT_GE(PortHandleTable[6], 0);
  EXPECT_EQ(fake::LastTimeouts("COM6").ReadTotalTimeoutConstant,
            before.ReadTotalTimeoutConstant);
}

TEST_F(SerialPortTest, PortNumbersWithoutSlotAreRefused) {
  for (int port : {0, 129}) {
    SCOPED_TRACE(port);
    EXPECT_EQ(OpenPort(static_cast<std::uint16_t>(port), 9600, 'E', 8, 1),
              plat::ERROR_INVALID_PARAMETER);
    std::uint8_t byte = 0;
    EXPECT_EQ(ReadPortByte(port, byte), -1);
    Str255 dest("keep");
    EXPECT_EQ(ReadPortText(port, dest, 255, 3, 10), -1);
    EXPECT_EQ(dest, "keep");
    EXPECT_FALSE(InputPending(port));
    PurgePort(port);
    ClosePort(port);
  }
  for (int port : {-1, 100000}) {
    std::uint8_t byte = 0;
    EXPECT_EQ(ReadPortByte(port, byte), -1);
    ClosePort(port);
  }
  EXPECT_TRUE(SerialOpens().empty());
}

TEST_F(SerialPortTest, ClosePortOnNeverOpenedAndOpenSlots) {
  ClosePort(7);
  EXPECT_EQ(PortHandleTable[7], -1);
  std::uint8_t byte = 0;
  EXPECT_EQ(ReadPortByte(7, byte), -1);

  ScriptedController c;
  fake::BindSerial("COM7", &c);
  ASSERT_EQ(OpenPort(7, 9600, 'E', 8, 1), 0u);
  EXPECT_EQ(fake::OpenHandleCount("COM7"), 1);
  ClosePort(7);
  EXPECT_EQ(PortHandleTable[7], -1);
  EXPECT_EQ(fake::OpenHandleCount("COM7"), 0);
  EXPECT_EQ(ReadPortByte(7, byte), -1);

  PortHandleTable[8] = -7;
  ClosePort(8);
  EXPECT_EQ(PortHandleTable[8], -1);
}

TEST_F(SerialPortTest, PurgeDiscardsWaitingInput) {
  ASSERT_NO_FATAL_FAILURE(OpenAndAsk(2, "00042\r\n", "RD DM1\r"));
  fake::AdvanceTo(fake::Now() + 20000);
  PurgePort(2);
  EXPECT_EQ(fake::PurgeCount("COM2"), 1);
  EXPECT_FALSE(InputPending(2));

  // The transmit queue goes too: a request still waiting to go out is lost.
  SendRaw(2, "RD DM2\r");
  PurgePort(2);
  fake::AdvanceTo(fake::Now() + 50000);
  EXPECT_EQ(controller.lines.size(), 1u);
  EXPECT_FALSE(InputPending(2));
}

TEST_F(SerialPortTest, ReadPortTextWithNothingWaiting) {
  ScriptedController c;
  fake::BindSerial("COM1", &c);
  ASSERT_EQ(OpenPort(1, 9600, 'E', 8, 1), 0u);
  Str255 dest("untouched");
  const fake::Micros t0 = fake::Now();
  EXPECT_EQ(ReadPortText(1, dest, 255, 3, 10), 0);
  EXPECT_EQ(dest, "untouched");
  EXPECT_EQ(fake::Now(), t0);
  std::uint8_t byte = 0;
  EXPECT_EQ(ReadPortByte(1, byte), 0);
}

TEST_F(SerialPortTest, ReadPortTextCollectsOneLine) {
  ASSERT_NO_FATAL_FAILURE(OpenAndAsk(1, "00215\r\n", "RD DM992\r"));
  Str255 dest;
  EXPECT_EQ(ReadPortText(1, dest, 255, 3, 10), 7);
  EXPECT_EQ(dest, "00215\r\n");
  EXPECT_FALSE(InputPending(1));

  // A short maximum cuts the copy, not the count.
  SendRaw(1, "RD DM992\r");
  WaitForInput(1);
  EXPECT_EQ(ReadPortText(1, dest, 3, 3, 10), 7);
  EXPECT_EQ(dest, "002");
}

TEST_F(SerialPortTest, ReadPortTextEndsAtEtxToo) {
  ASSERT_NO_FATAL_FAILURE(OpenAndAsk(1,
                                     "AB\x03"
                                     "CD\r\n",
                                     "X\r"));
  Str255 dest;
  EXPECT_EQ(ReadPortText(1, dest, 255, 3, 10), 3);
  EXPECT_EQ(dest, "AB\x03");
}

TEST_F(SerialPortTest, ReplyWithoutEndCharacterGivesErrorText) {
  ASSERT_NO_FATAL_FAILURE(OpenAndAsk(1, "12345", "RD DM1\r"));
  const fake::Micros t0 = fake::Now();
  Str255 dest;
  EXPECT_EQ(ReadPortText(1, dest, 255, 3, 10), 5);
  EXPECT_EQ(dest, "auxStrIn Error");
  // The last byte is followed by 101 empty polls of a 15.625 ms tick.
  const double lastByteAt = static_cast<double>(t0) + 4 * kCharMicros9600;
  EXPECT_NEAR(static_cast<double>(fake::Now()), lastByteAt + 101 * 15625, 2500);
}

TEST_F(SerialPortTest, IdleLimitIs101EmptyPolls) {
  ASSERT_NO_FATAL_FAILURE(OpenAndAsk(1, "7", "X\r"));
  const fake::Micros t0 = fake::Now();
  // One key mid-wait is buffered; one in the last pause stays queued, since
  // the keyboard is not polled once the idle limit is passed.
  // 101 ticks are 1578.125 ms, on a clock of whole milliseconds from 5 ms.
  fake::Key("a", t0 + 800000);
  fake::Key("b", t0 + 1578500);
  Str255 dest;
  EXPECT_EQ(ReadPortText(1, dest, 255, 3, 10), 1);
  EXPECT_EQ(dest, "auxStrIn Error");
  EXPECT_EQ(fake::Now(), t0 + 1579000);
  EXPECT_EQ(KeyBuffer, "a");
  EXPECT_TRUE(KeyWaiting());
}

TEST_F(SerialPortTest, EscDuringCollectionStopsIt) {
  ASSERT_NO_FATAL_FAILURE(
      OpenAndAsk(1, std::string(40, '7') + "\r\n", "RD DM1\r"));
  // About ten characters in.
  fake::Key("Esc", fake::Now() + 11000);
  Str255 dest;
  const std::int32_t n = ReadPortText(1, dest, 255, 3, 10);
  EXPECT_GE(n, 9);
  EXPECT_LE(n, 12);
  EXPECT_EQ(dest, "auxStrIn Error");
  EXPECT_TRUE(AbortFlag);
  EXPECT_TRUE(KeyBuffer.empty());
  // Latched: every read is refused until the keyboard is reset.
  Str255 after("keep");
  EXPECT_EQ(ReadPortText(1, after, 255, 3, 10), -1);
  EXPECT_EQ(after, "keep");
  std::uint8_t byte = 0;
  EXPECT_EQ(ReadPortByte(1, byte), -1);
}

TEST_F(SerialPortTest, OverlongLineKeeps255Characters) {
  ASSERT_NO_FATAL_FAILURE(OpenAndAsk(1, std::string(300, 'a') + "\r\n", "X\r"));
  Str255 dest;
  // The end character beyond the 255th is still seen.
  EXPECT_EQ(ReadPortText(1, dest, 255, 3, 10), 255);
  EXPECT_EQ(dest, std::string(255, 'a'));
  EXPECT_FALSE(InputPending(1));
}

}  // namespace
