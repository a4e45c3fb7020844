// The termios serial port against a real pty, and the COM name mapping.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "link/posix/com_names.h"
#include "link/posix/posix_serial_port.h"

namespace rotavox::testing {
namespace {

using namespace std::string_view_literals;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(ComDevicePathTest, MapsNamesToDevices) {
  const PortMap overrides{{"COM7", "/dev/pts/9"}, {"COM2", "/dev/ttyUSB3"}, {"COM 3", "/dev/pts/4"}};
  const struct {
    std::string_view name;
    std::string_view path;
  } cases[] = {
      {"COM1", "/dev/ttyS0"}, {"COM12", "/dev/ttyS11"}, {"COM256", "/dev/ttyS255"},
      {"COMU0", "/dev/ttyUSB0"}, {"COMu12", "/dev/ttyUSB12"}, {"COMA0", "/dev/ttyACM0"},
      {"COMa1", "/dev/ttyACM1"}, {"COM/dev/pts/3", "/dev/pts/3"},
      // Overrides come first and match exactly as given.
      {"COM7", "/dev/pts/9"}, {"COM2", "/dev/ttyUSB3"}, {"COM 3", "/dev/pts/4"},
      {"COM07", ""}, {"com7", ""},
      // No such port.
      {"COM 4", ""}, {"COM", ""}, {"COMx", ""}, {"COM0", ""}, {"COM-1", ""}, {"COM+1", ""},
      {"COM1x", ""}, {"COM01", ""}, {"COM257", ""}, {"COM99999999999", ""}, {"COM4 ", ""},
      {"COMU", ""}, {"COMU-1", ""}, {"COMU01", ""}, {"COMUSB0", ""}, {"COMA256", ""},
      {"COMdev/ttyS0", ""}, {"COM/dev/ttyS0\0x"sv, ""}, {"", ""}, {"LPT1", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ComDevicePath(c.name, overrides), c.path) << '"' << c.name << '"';
  }
}

TEST(ComDevicePathTest, ReadsMapPortValues) {
  const struct {
    std::string_view value;
    std::string_view name;  // empty: refused
    std::string_view device;
  } cases[] = {
      {"COM7=/dev/pts/3", "COM7", "/dev/pts/3"},
      {"COM 3=/dev/ttyUSB0", "COM 3", "/dev/ttyUSB0"},
      {"COM7=/dev/by-id/a=b", "COM7", "/dev/by-id/a=b"},
      {"COM7", "", ""}, {"=/dev/pts/3", "", ""}, {"COM7=", "", ""}, {"", "", ""}, {"=", "", ""},
      {"7=/dev/ttyS0", "", ""}, {"COM=/dev/ttyS0", "", ""}, {"COM7=ttyS0", "", ""},
  };
  for (const auto& c : cases) {
    const PortMapping parsed = ParsePortMapping(c.value);
    if (c.name.empty()) {
      EXPECT_FALSE(parsed.mapping) << c.value;
      EXPECT_NE(parsed.error.find(std::string(c.value)), std::string::npos) << parsed.error;
    } else {
      ASSERT_TRUE(parsed.mapping) << c.value << ": " << parsed.error;
      EXPECT_EQ(parsed.mapping->first, c.name);
      EXPECT_EQ(parsed.mapping->second, c.device);
      EXPECT_EQ(parsed.error, "");
    }
  }
}

// A pty whose slave stands in for the serial device, named COM7.
struct PtyPortTest : ::testing::Test {
  int master = -1;
  std::string slavePath;
  PortMap ports;

  void SetUp() override { OpenPty(); }
  void OpenPty() {
    int slave = -1;
    char name[128] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::close(slave);
    ASSERT_EQ(::fcntl(master, F_SETFL, O_NONBLOCK), 0);
    slavePath = name;
    ports = {{"COM7", slavePath}};
  }
  void TearDown() override { CloseMaster(); }
  void CloseMaster() {
    if (master >= 0) ::close(master);
    master = -1;
  }
  // What the device side has received within `wait`, up to `want` bytes.
  std::string ReadMaster(std::size_t want, milliseconds wait = milliseconds{500}) {
    std::string got;
    const auto deadline = Clock::now() + wait;
    char buffer[4096];
    while (got.size() < want && Clock::now() < deadline) {
      const ssize_t n = ::read(master, buffer, sizeof buffer);
      if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
      else ::usleep(1000);
    }
    return got;
  }
  // The port's count once `want` bytes wait, or the last count seen.
  WaitingBytes WaitFor(PosixSerialPort& port, std::size_t want) {
    WaitingBytes waiting;
    for (int i = 0; i < 500 && !waiting.failed && waiting.count < want; ++i) {
      waiting = port.BytesWaiting();
      if (waiting.count < want) ::usleep(1000);
    }
    return waiting;
  }
  // 1 when the slave is marked exclusive (or refuses a plain open for it).
  int ExclusiveFlag() {
    const int fd = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return errno == EBUSY ? 1 : -1;
    int flag = -1;
    ::ioctl(fd, TIOCGEXCL, &flag);
    ::close(fd);
    return flag;
  }
};

std::string AllByteValues() {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  return bytes;
}

TEST_F(PtyPortTest, SetLineGivesRaw9600EightNoneOneWithoutFlowControl) {
  termios before{};
  ASSERT_EQ(::tcgetattr(master, &before), 0);  // the slave's settings
  before.c_cflag |= CRTSCTS | PARENB | CSTOPB;
  before.c_iflag |= IXON | IXOFF | ICRNL;
  ASSERT_EQ(::tcsetattr(master, TCSANOW, &before), 0);
  PosixSerialPort port(ports);
  port.Open("COM7");
  ASSERT_TRUE(port.IsOpen());
  port.SetLine();
  termios line{};
  ASSERT_EQ(::tcgetattr(master, &line), 0);
  EXPECT_EQ(::cfgetospeed(&line), B9600);
  EXPECT_EQ(::cfgetispeed(&line), B9600);
  EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB | CREAD | CLOCAL | CRTSCTS), CS8 | CREAD | CLOCAL);
  EXPECT_EQ(line.c_iflag & (IXON | IXOFF | ICRNL | INPCK), 0u);
  EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(line.c_oflag & OPOST, 0u);
}

// Frames pass both ways unchanged, however many arrive between two ticks.
TEST_F(PtyPortTest, PassesEveryByteBothWays) {
  PosixSerialPort port(ports);
  port.Open("COM7");
  ASSERT_TRUE(port.IsOpen());
  port.SetLine();
  for (const std::string& frame : {std::string("\x02" "AM\r"), std::string("\x02" "AG090\r\n"), AllByteValues()}) {
    port.Send(frame);
    EXPECT_EQ(ReadMaster(frame.size()), frame);
    ASSERT_EQ(::write(master, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
    const WaitingBytes waiting = WaitFor(port, frame.size());
    EXPECT_FALSE(waiting.failed);
    ASSERT_EQ(waiting.count, frame.size());
    EXPECT_EQ(port.Receive(1), frame.substr(0, 1));  // at most the count asked for
    EXPECT_EQ(port.BytesWaiting().count, frame.size() - 1);
    EXPECT_EQ(port.Receive(frame.size()), frame.substr(1));
    EXPECT_EQ(port.BytesWaiting().count, 0u);
    EXPECT_EQ(port.Receive(8), "");
  }
}

TEST_F(PtyPortTest, HoldsThePortExclusivelyUntilClosed) {
  PosixSerialPort first(ports), second(ports);
  first.Open("COM7");
  ASSERT_TRUE(first.IsOpen());
  first.SetLine();
  EXPECT_EQ(ExclusiveFlag(), 1);
  second.Open("COM7");  // refused even for root, by the lock
  EXPECT_FALSE(second.IsOpen());
  EXPECT_EQ(second.BytesWaiting().count, 0u);
  first.Send("held");
  EXPECT_EQ(ReadMaster(4), "held");
  ASSERT_EQ(::write(master, "xy", 2), 2);
  ASSERT_EQ(WaitFor(first, 2).count, 2u);
  first.Close();
  EXPECT_EQ(ExclusiveFlag(), 0);
  first.Send("lost");  // a closed port sends and receives nothing
  EXPECT_EQ(ReadMaster(1, milliseconds{50}), "");
  EXPECT_EQ(first.Receive(2), "");
  EXPECT_EQ(first.BytesWaiting().count, 0u);
  EXPECT_FALSE(first.BytesWaiting().failed);
  second.Open("COM7");  // as a second START after the alarm
  EXPECT_TRUE(second.IsOpen());
  first.Open("COM7");
  EXPECT_FALSE(first.IsOpen());
  second.Close();
  // A program that marks the terminal exclusive but takes no lock.
  const int other = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::ioctl(other, TIOCEXCL), 0);
  first.Open("COM7");
  EXPECT_FALSE(first.IsOpen());
  ::ioctl(other, TIOCNXCL);
  ::close(other);
  first.Open("COM7");
  EXPECT_TRUE(first.IsOpen());
}

TEST(PosixSerialPortTest, RefusesWhatIsNoTerminal) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("rotavox_port_test_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "STAT.DAT").string(), fifo = (dir / "fifo").string();
  std::ofstream(file) << "\"3\",1\r\n";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const PortMap ports{{"COM1", file}, {"COM2", dir.string()}, {"COM3", fifo}, {"COM4", "/dev/null"},
                      {"COM5", (dir / "missing").string()}};
  for (const char* name : {"COM1", "COM2", "COM3", "COM4", "COM5", "COM 6", "COM"}) {
    PosixSerialPort port(ports);
    port.Open(name);
    EXPECT_FALSE(port.IsOpen()) << name;
    port.SetLine();
    port.Send("\x02" "AM\r");
    EXPECT_EQ(port.BytesWaiting().count, 0u) << name;
    EXPECT_FALSE(port.BytesWaiting().failed) << name;
    EXPECT_EQ(port.Receive(4), "") << name;
    port.Close();
  }
  std::ifstream in(file);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "\"3\",1\r\n");
  std::filesystem::remove_all(dir);
}

// The far end going away (a USB adapter pulled) is a failure, reported at
// once and on every later tick, without any call waiting or looping.
TEST_F(PtyPortTest, VanishedDeviceFailsAtOnceAndForGood) {
  for (const std::string pending : {"", "\x02" "A,090\r"}) {
    if (master < 0) OpenPty();
    PosixSerialPort port(ports);
    port.Open("COM7");
    ASSERT_TRUE(port.IsOpen());
    port.SetLine();
    ASSERT_EQ(::write(master, pending.data(), pending.size()), static_cast<ssize_t>(pending.size()));
    CloseMaster();
    const auto start = Clock::now();
    for (int tick = 0; tick < 100; ++tick) {
      const WaitingBytes waiting = port.BytesWaiting();
      EXPECT_TRUE(waiting.failed);
      EXPECT_EQ(waiting.count, 0u);
      EXPECT_EQ(port.Receive(16), "");
      port.Send("\x02" "AM\r");
    }
    port.Close();
    EXPECT_LT(Clock::now() - start, milliseconds{100});
    EXPECT_FALSE(port.BytesWaiting().failed);
  }
}

// The device side stops reading: no Send waits longer than about its
// frame's time on the wire, what the device reads when it goes on is whole
// frames, a line that stays stalled is reported failed within about a
// second, and the port works again once reopened.
TEST_F(PtyPortTest, StalledLineCarriesWholeFramesAndFails) {
  PosixSerialPort port(ports);
  port.Open("COM7");
  port.SetLine();
  const std::string frames[] = {"\x02" "AG200\r", "\x02" "AG20\r"};
  Clock::duration longest{};
  int sent = 0;
  const auto sendFor = [&](milliseconds time, bool stopOnFailure) {
    const auto start = Clock::now();
    while (Clock::now() - start < time) {
      const auto before = Clock::now();
      port.Send(frames[sent++ % 2]);
      longest = std::max(longest, Clock::now() - before);
      if (stopOnFailure && port.BytesWaiting().failed) return Clock::now() - start;
    }
    return Clock::now() - start;
  };
  sendFor(milliseconds{300}, false);  // fills the pty's buffer many times over
  std::string line;
  for (std::string got; !(got = ReadMaster(1 << 20, milliseconds{50})).empty();) {
    line += got;
    EXPECT_FALSE(port.BytesWaiting().failed);  // and the cut frame's tail follows
  }
  ASSERT_GT(line.size(), 4096u);
  ASSERT_EQ(line.back(), '\r');
  for (std::size_t at = 0; at < line.size();) {
    const std::size_t end = line.find('\r', at) + 1;
    const std::string frame = line.substr(at, end - at);
    ASSERT_TRUE(frame == frames[0] || frame == frames[1]) << "at byte " << at;
    at = end;
  }
  const auto failedAfter = sendFor(milliseconds{5000}, true);
  EXPECT_TRUE(port.BytesWaiting().failed);
  EXPECT_LT(failedAfter, std::chrono::seconds{3});
  // 7 bytes take 7.3 ms at 9600 baud; the rest is scheduling slack.
  EXPECT_LT(longest, milliseconds{30});
  const auto closing = Clock::now();
  port.Close();
  EXPECT_LT(Clock::now() - closing, milliseconds{200});
  while (!ReadMaster(1 << 20, milliseconds{50}).empty()) {
  }
  port.Open("COM7");
  port.Send("\x02" "AM\r");
  EXPECT_EQ(ReadMaster(4), "\x02" "AM\r");
}

}  // namespace
}  // namespace rotavox::testing
