// SPDX-License-Identifier: MIT
// Port names, and the serial calls on a real pseudo-terminal pair.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <string>

#include "platform/platform.h"
#include "platform/posix/posix_internal.h"

using namespace plat;

TEST(ComNames, PortNumberFromTheDeviceName) {
  EXPECT_EQ(posix::ParseComName("COM3"), 3);
  EXPECT_EQ(posix::ParseComName("\\\\.\\COM12"), 12);
  EXPECT_EQ(posix::ParseComName("\\\\.\\COM128"), 128);
  EXPECT_EQ(posix::ParseComName("com5"), 5);
  EXPECT_EQ(posix::ParseComName("COM0"), 0);
  EXPECT_EQ(posix::ParseComName("COM"), 0);
  EXPECT_EQ(posix::ParseComName("COM3x"), 0);
  EXPECT_EQ(posix::ParseComName("CONOUT$"), 0);
  EXPECT_EQ(posix::ParseComName("LPT1"), 0);
}

TEST(ComNames, NumberedInTheOrderOfTheDeviceSeries) {
  // A sysfs of our own: ttyS0 and ttyS3 are UARTs on a bus, ttyS1 and ttyS2
  // placeholders of the 8250 platform device (ttyS2's kernel knows a UART
  // there), ttyS4 has no driver; nothing in sysfs for ttyS5.
  char tmpl[] = "/tmp/zrvsysXXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  const std::string sys = tmpl;
  auto tty = [&](const std::string& name, const char* bus, bool driver) {
    const std::string dev = sys + "/devices/" + name;
    ASSERT_EQ(std::system(("mkdir -p " + dev + " " + sys + "/bus/" + bus +
                           " " + sys + "/class/tty")
                              .c_str()),
              0);
    ASSERT_EQ(::symlink(dev.c_str(), (sys + "/class/tty/" + name).c_str()), 0);
    ASSERT_EQ(::symlink((sys + "/bus/" + bus).c_str(),
                        (dev + "/subsystem").c_str()),
              0);
    if (driver) {
      ASSERT_EQ(::symlink(sys.c_str(), (dev + "/driver").c_str()), 0);
    }
    ASSERT_EQ(::symlink(dev.c_str(), (dev + "/device").c_str()), 0);
  };
  tty("ttyS0", "pnp", true);
  tty("ttyS1", "platform", true);
  tty("ttyS2", "platform", true);
  tty("ttyS3", "pnp", true);
  tty("ttyS4", "pnp", false);
  std::set<std::string> present = {
      "/dev/ttyS0", "/dev/ttyS1",   "/dev/ttyS2",   "/dev/ttyS3",
      "/dev/ttyS4", "/dev/ttyS5",   "/dev/ttyUSB0", "/dev/ttyUSB2",
      "/dev/ttyACM0", "/dev/ttyACM1"};
  std::set<std::string> uarts = {"/dev/ttyS2", "/dev/ttyS5"};
  auto devices = posix::ListSerialDevices(
      [&](const std::string& p) { return present.count(p) != 0; }, sys,
      [&](const std::string& p) { return uarts.count(p) != 0; });
  std::vector<std::string> want = {"/dev/ttyS0",   "/dev/ttyS2",
                                   "/dev/ttyS3",   "/dev/ttyS5",
                                   "/dev/ttyUSB0", "/dev/ttyUSB2",
                                   "/dev/ttyACM0", "/dev/ttyACM1"};
  EXPECT_EQ(devices, want);
  std::system(("rm -rf " + sys).c_str());
  devices = {"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyUSB0", "/dev/ttyACM0",
             "/dev/ttyACM1"};

  ::unsetenv("ZRVMON_COM3");
  EXPECT_EQ(posix::DeviceForPort(3, devices), "/dev/ttyUSB0");
  EXPECT_EQ(posix::DeviceForPort(6, devices), "");
  ::setenv("ZRVMON_COM3", "/dev/pts/7", 1);
  EXPECT_EQ(posix::DeviceForPort(3, devices), "/dev/pts/7");
  EXPECT_EQ(posix::DeviceForPort(2, devices), "/dev/ttyS1");
  ::setenv("ZRVMON_COM3", "", 1);  // empty: as if unset
  EXPECT_EQ(posix::DeviceForPort(3, devices), "/dev/ttyUSB0");
  ::unsetenv("ZRVMON_COM3");
}

TEST(CommandLine, OptionsAndErrors) {
  int code = -1;
  char prog[] = "zrvmon", version[] = "--version", bad[] = "--frobnicate";
  char* none[] = {prog, nullptr};
  EXPECT_FALSE(HandleCommandLine(1, none, &code));
  char* v[] = {prog, version, nullptr};
  testing::internal::CaptureStdout();
  EXPECT_TRUE(HandleCommandLine(2, v, &code));
  EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("zrvmon ", 0), 0u);
  EXPECT_EQ(code, 0);
  // --help ends with the current mapping, naming the variable behind a port.
  char help[] = "--help";
  char* h[] = {prog, help, nullptr};
  ::setenv("ZRVMON_COM7", "/dev/pts/77", 1);
  testing::internal::CaptureStdout();
  EXPECT_TRUE(HandleCommandLine(2, h, &code));
  std::string text = testing::internal::GetCapturedStdout();
  ::unsetenv("ZRVMON_COM7");
  EXPECT_EQ(code, 0);
  EXPECT_NE(text.find("COM7    /dev/pts/77  (set by ZRVMON_COM7)\n"),
            std::string::npos)
      << text;
  char* b[] = {prog, bad, nullptr};
  testing::internal::CaptureStderr();
  EXPECT_TRUE(HandleCommandLine(2, b, &code));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("--frobnicate"),
            std::string::npos);
  EXPECT_EQ(code, 2);
}

namespace {

class PtySerial : public testing::Test {
 protected:
  void SetUp() override {
    char name[256];
    int slave = -1;
    ASSERT_EQ(::openpty(&master_, &slave, name, nullptr, nullptr), 0);
    ::close(slave);
    slavePath_ = name;
    ::setenv("ZRVMON_COM5", name, 1);
    // The far end reads raw bytes too.
    termios t{};
    ::tcgetattr(master_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(master_, TCSANOW, &t);
  }
  void TearDown() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    if (master_ >= 0) ::close(master_);
    ::unsetenv("ZRVMON_COM5");
  }

  void Open() {
    SetLastError(ERROR_GEN_FAILURE);
    handle_ = CreateFileA("COM5", GENERIC_READ | GENERIC_WRITE, 0,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(handle_, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  }

  // The receive-queue count, once it reaches `want` (or after a second).
  std::uint32_t WaitInQueue(std::uint32_t want) {
    COMSTAT st{};
    std::uint32_t errors = 0;
    for (int i = 0; i < 200; ++i) {
      if (ClearCommError(handle_, &errors, &st) && st.cbInQue >= want) break;
      ::usleep(5000);
    }
    return st.cbInQue;
  }

  void MasterSends(const std::string& s) {
    ASSERT_EQ(::write(master_, s.data(), s.size()),
              static_cast<ssize_t>(s.size()));
  }

  int master_ = -1;
  std::string slavePath_;
  Handle handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace

TEST_F(PtySerial, OpensAndSetsTheLine) {
  Open();
  DCB dcb{};
  ASSERT_TRUE(GetCommState(handle_, &dcb));
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.ByteSize, 8);
  dcb.BaudRate = 9600;
  dcb.Flags = 0x1011;
  dcb.ByteSize = 8;
  dcb.Parity = EVENPARITY;
  dcb.StopBits = ONESTOPBIT;
  // Kernels that refuse parity on a pty must not make this fail.
  ASSERT_TRUE(SetCommState(handle_, &dcb));
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  DCB back{};
  ASSERT_TRUE(GetCommState(handle_, &back));
  EXPECT_EQ(back.Parity, EVENPARITY);
  EXPECT_EQ(back.Flags, 0x1011u);

  termios t{};  // a pty master reports its slave's settings
  ASSERT_EQ(::tcgetattr(master_, &t), 0);
  EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B9600));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_TRUE(t.c_cflag & CLOCAL);
  EXPECT_TRUE(t.c_cflag & CREAD);
  // A pty has no modem lines to drop at the end.
  EXPECT_FALSE(t.c_cflag & (CRTSCTS | HUPCL | CSTOPB));
  // Only a pty may run without the parity it was asked for.
  const int slave = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
  const int null = ::open("/dev/null", O_RDWR);
  EXPECT_TRUE(plat::posix::IsPseudoTerminal(slave));
  EXPECT_FALSE(plat::posix::IsPseudoTerminal(null));
  ::close(slave);
  ::close(null);
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
  EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);

  COMMTIMEOUTS to{0, 0, 52, 7, 9};
  EXPECT_TRUE(SetCommTimeouts(handle_, &to));
  COMMTIMEOUTS got{};
  EXPECT_TRUE(GetCommTimeouts(handle_, &got));
  EXPECT_EQ(got.ReadTotalTimeoutConstant, 52u);
  EXPECT_EQ(got.WriteTotalTimeoutConstant, 9u);

  dcb.ByteSize = 9;
  EXPECT_FALSE(SetCommState(handle_, &dcb));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(PtySerial, BytesGoThroughBothWays) {
  Open();
  DCB dcb{};
  GetCommState(handle_, &dcb);
  dcb.Parity = EVENPARITY;
  ASSERT_TRUE(SetCommState(handle_, &dcb));

  std::uint32_t n = 0;
  ASSERT_TRUE(WriteFile(handle_, "RD DM992\r", 9, &n));
  EXPECT_EQ(n, 9u);
  char buf[64] = {};
  std::string got;
  for (int i = 0; i < 100 && got.size() < 9; ++i) {
    ssize_t r = ::read(master_, buf, sizeof buf);
    if (r > 0)
      got.append(buf, static_cast<std::size_t>(r));
    else
      ::usleep(5000);
  }
  EXPECT_EQ(got, "RD DM992\r");

  MasterSends("12345\r\n");
  EXPECT_EQ(WaitInQueue(7), 7u);
  ASSERT_TRUE(ReadFile(handle_, buf, 3, &n));
  EXPECT_EQ(std::string(buf, n), "123");
  ASSERT_TRUE(ReadFile(handle_, buf, sizeof buf, &n));
  EXPECT_EQ(std::string(buf, n), "45\r\n");
  // Nothing waiting: at once, no bytes, no failure.
  ASSERT_TRUE(ReadFile(handle_, buf, sizeof buf, &n));
  EXPECT_EQ(n, 0u);
  // What a query took in comes back first, then what arrived after it.
  MasterSends("ab");
  EXPECT_EQ(WaitInQueue(2), 2u);
  MasterSends("c");
  ::usleep(20000);
  ASSERT_TRUE(ReadFile(handle_, buf, sizeof buf, &n));
  EXPECT_EQ(std::string(buf, n), "abc");

  MasterSends("junk");
  EXPECT_EQ(WaitInQueue(4), 4u);
  EXPECT_TRUE(PurgeComm(handle_, PURGE_RXCLEAR | PURGE_TXCLEAR));
  COMSTAT st{};
  std::uint32_t errors = 0;
  ASSERT_TRUE(ClearCommError(handle_, &errors, &st));
  EXPECT_EQ(st.cbInQue, 0u);
}

TEST_F(PtySerial, SecondOpenIsRefusedUntilClosed) {
  Open();
  Handle second = CreateFileA("COM5", GENERIC_READ | GENERIC_WRITE, 0,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(second, INVALID_HANDLE_VALUE);
  std::uint32_t err = GetLastError();
  EXPECT_TRUE(err == ERROR_SHARING_VIOLATION || err == ERROR_ACCESS_DENIED)
      << err;
  ASSERT_TRUE(CloseHandle(handle_));
  EXPECT_FALSE(CloseHandle(handle_));  // already gone
  handle_ = INVALID_HANDLE_VALUE;
  Open();
}

TEST_F(PtySerial, MissingDevicesAreNotFound) {
  ::setenv("ZRVMON_COM6", "/nonexistent/ttyX", 1);
  EXPECT_EQ(CreateFileA("\\\\.\\COM6", GENERIC_READ | GENERIC_WRITE, 0,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  ::unsetenv("ZRVMON_COM6");
  EXPECT_EQ(CreateFileA("LPT1", GENERIC_READ, 0, OPEN_EXISTING, 0),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  DCB dcb{};
  EXPECT_FALSE(GetCommState(0x1234, &dcb));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(PtySerial, VanishedFarEndAnswersNothingAndNeverHangs) {
  Open();
  DCB dcb{};
  GetCommState(handle_, &dcb);
  ASSERT_TRUE(SetCommState(handle_, &dcb));
  ::close(master_);
  master_ = -1;

  auto start = std::chrono::steady_clock::now();
  char buf[16];
  for (int i = 0; i < 200; ++i) {
    COMSTAT st{};
    std::uint32_t errors = 0;
    if (ClearCommError(handle_, &errors, &st)) {
      EXPECT_EQ(st.cbInQue, 0u);
    }
    std::uint32_t n = 99;
    ReadFile(handle_, buf, sizeof buf, &n);
    EXPECT_EQ(n, 0u);
  }
  std::uint32_t n = 0;
  WriteFile(handle_, "CQ\r", 3, &n);  // fails or is swallowed, at once
  PurgeComm(handle_, PURGE_RXCLEAR | PURGE_TXCLEAR);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start)
                .count();
  EXPECT_LT(ms, 1500);
  EXPECT_TRUE(CloseHandle(handle_));
  handle_ = INVALID_HANDLE_VALUE;
}

// The device back at its path (a new pty behind the same link) is opened
// again with the settings the program gave the old one.
TEST_F(PtySerial, AReturningDeviceIsReopenedWithItsSettings) {
  const std::string link = "/tmp/zrvlink" + std::to_string(::getpid());
  ::unlink(link.c_str());
  ASSERT_EQ(::symlink(slavePath_.c_str(), link.c_str()), 0);
  ::setenv("ZRVMON_COM5", link.c_str(), 1);
  Open();
  DCB dcb{};
  GetCommState(handle_, &dcb);
  dcb.BaudRate = 19200;
  ASSERT_TRUE(SetCommState(handle_, &dcb));
  ::close(master_);
  ::unlink(link.c_str());
  char buf[8];
  std::uint32_t n = 9;
  EXPECT_TRUE(ReadFile(handle_, buf, sizeof buf, &n));  // gone: nothing
  EXPECT_EQ(n, 0u);

  char name[256];
  int slave = -1;
  ASSERT_EQ(::openpty(&master_, &slave, name, nullptr, nullptr), 0);
  ::close(slave);
  ASSERT_EQ(::symlink(name, link.c_str()), 0);
  ::usleep(300000);  // looked for again at most every 250 ms
  WaitInQueue(0);
  MasterSends("OK\r\n");  // raw now: taken as sent
  EXPECT_EQ(WaitInQueue(4), 4u);
  ASSERT_TRUE(ReadFile(handle_, buf, sizeof buf, &n));
  EXPECT_EQ(std::string(buf, n), "OK\r\n");
  termios t{};
  ::tcgetattr(master_, &t);
  EXPECT_EQ(::cfgetospeed(&t), B19200);
  EXPECT_EQ(t.c_iflag & ICRNL, 0u) << t.c_iflag;
  ::unlink(link.c_str());
}

namespace {

int OpenFdCount() {
  int n = 0;
  for (int fd = 0; fd < 4096; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0) ++n;
  }
  return n;
}

}  // namespace

TEST_F(PtySerial, OpeningAndClosingLeavesNoDescriptorBehind) {
  const int before = OpenFdCount();
  for (int i = 0; i < 20; ++i) {
    Open();
    // Refused opens and bogus handles take nothing either.
    EXPECT_EQ(CreateFileA("COM5", GENERIC_READ | GENERIC_WRITE, 0,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL),
              INVALID_HANDLE_VALUE);
    EXPECT_FALSE(CloseHandle(handle_ + 1000));
    ASSERT_TRUE(CloseHandle(handle_));
    handle_ = INVALID_HANDLE_VALUE;
  }
  EXPECT_EQ(OpenFdCount(), before);
  // Closed handles stay invalid for every call.
  Open();
  Handle old = handle_;
  ASSERT_TRUE(CloseHandle(old));
  handle_ = INVALID_HANDLE_VALUE;
  DCB dcb{};
  std::uint32_t n = 0;
  char buf[4];
  EXPECT_FALSE(GetCommState(old, &dcb));
  EXPECT_FALSE(ReadFile(old, buf, sizeof buf, &n));
  EXPECT_FALSE(WriteFile(old, "x", 1, &n));
  EXPECT_FALSE(PurgeComm(old, PURGE_RXCLEAR));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}
