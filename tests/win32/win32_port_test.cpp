// The COM device serial port. The tests that need a real line run when
// ROTAVOX_TEST_COM names a port whose far end echoes every byte back and
// hangs up on receiving "BYE" (run_wine_tests.sh sets one up on a
// pseudo-terminal); without it they are skipped.
#include "link/win32/win32_serial_port.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace rotavox::testing {
namespace {

namespace fs = std::filesystem;

// Without the \\.\ prefix COM10 and above are file names, not ports.
TEST(Win32SerialPortName, ComAndDigitsGoThroughTheDeviceNamespace) {
  EXPECT_EQ(Win32SerialPort::DevicePath("COM3"), "\\\\.\\COM3");
  EXPECT_EQ(Win32SerialPort::DevicePath("COM12"), "\\\\.\\COM12");
  // Anything else is passed as it is and names no port.
  EXPECT_EQ(Win32SerialPort::DevicePath("COM 3"), "COM 3");
  EXPECT_EQ(Win32SerialPort::DevicePath("COM3 "), "COM3 ");
  EXPECT_EQ(Win32SerialPort::DevicePath("COM"), "COM");
}

TEST(Win32SerialPort, MissingPortStaysClosedAndEveryCallIsHarmless) {
  Win32SerialPort port;
  port.Open("COM 3");
  EXPECT_FALSE(port.IsOpen());
  port.Open("COM250");
  EXPECT_FALSE(port.IsOpen());
  port.SetLine();
  port.Send("\x02" "AM\r");
  const WaitingBytes waiting = port.BytesWaiting();
  EXPECT_EQ(waiting.count, 0u);
  EXPECT_FALSE(waiting.failed);
  EXPECT_EQ(port.Receive(10), "");
  port.Close();
  port.Close();
}

// A port text that names a file in the working directory must not make the
// program write its frames into that file.
TEST(Win32SerialPort, DiskFileIsNoPort) {
  const fs::path old = fs::current_path();
  const fs::path dir = fs::temp_directory_path() / ("rotavox-port-" + std::to_string(GetTickCount64()));
  fs::create_directory(dir);
  fs::current_path(dir);
  { std::ofstream("COMX") << "keep"; }
  Win32SerialPort port;
  port.Open("COMX");
  EXPECT_FALSE(port.IsOpen());
  port.Send("\x02" "AM\r");
  fs::current_path(old);
  std::ifstream in(dir / "COMX");
  std::string content;
  in >> content;
  in.close();
  EXPECT_EQ(content, "keep");
  std::error_code ec;
  fs::remove_all(dir, ec);
}

const char* EchoPort() { return std::getenv("ROTAVOX_TEST_COM"); }

// Polls as the 80 ms tick does until `want` bytes have come or 3 s pass.
std::string ReceiveAbout(Win32SerialPort& port, std::size_t want) {
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
    const WaitingBytes waiting = port.BytesWaiting();
    EXPECT_FALSE(waiting.failed);
    if (waiting.failed) break;
    if (waiting.count > 0) {
      const std::string part = port.Receive(waiting.count);
      EXPECT_EQ(part.size(), waiting.count);
      got += part;
    } else {
      Sleep(20);
    }
  }
  return got;
}

TEST(Win32SerialPortLine, EveryByteValueGoesBothWays) {
  if (EchoPort() == nullptr) GTEST_SKIP() << "ROTAVOX_TEST_COM not set";
  Win32SerialPort port;
  port.Open(EchoPort());
  ASSERT_TRUE(port.IsOpen());
  port.SetLine();
  std::string all;
  for (int value = 0; value < 256; ++value) all += static_cast<char>(value);
  port.Send(all);
  EXPECT_EQ(ReceiveAbout(port, all.size()), all);
  // Nothing waits now, and asking does not block.
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(port.BytesWaiting().count, 0u);
  EXPECT_EQ(port.Receive(1), "");
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(500));
  port.Close();
  EXPECT_FALSE(port.IsOpen());
  // The same port opens again with a new handle after a close.
  port.Open(EchoPort());
  EXPECT_TRUE(port.IsOpen());
}

// A device that goes away is told apart from a quiet one.
TEST(Win32SerialPortLine, HungUpDeviceIsReportedFailed) {
  if (EchoPort() == nullptr) GTEST_SKIP() << "ROTAVOX_TEST_COM not set";
  Win32SerialPort port;
  port.Open(EchoPort());
  ASSERT_TRUE(port.IsOpen());
  port.SetLine();
  EXPECT_FALSE(port.BytesWaiting().failed);
  port.Send("BYE");
  bool failed = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (!failed && std::chrono::steady_clock::now() < deadline) {
    const WaitingBytes waiting = port.BytesWaiting();
    failed = waiting.failed;
    if (!failed && waiting.count > 0) port.Receive(waiting.count);
    if (!failed) Sleep(20);
  }
  EXPECT_TRUE(failed);
  EXPECT_EQ(port.Receive(10), "");
  port.Close();
}

}  // namespace
}  // namespace rotavox::testing
