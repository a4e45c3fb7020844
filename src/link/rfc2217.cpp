// Telnet with the COM port control option (see rfc2217.h).
#include "link/rfc2217.h"

namespace rotavox {
namespace {

using namespace telnet;

constexpr std::size_t kMaxSubnegotiation = 64;  // the longest the server sends is a few bytes

std::string Say(unsigned char verb, unsigned char option) {
  return {static_cast<char>(kIac), static_cast<char>(verb), static_cast<char>(option)};
}

// Options we take on our side, and on the server's.
bool OursToOffer(unsigned char option) {
  return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}
bool HisToTake(unsigned char option) { return option == kBinary || option == kSuppressGoAhead; }

// One COM port command with its value, 0xFF doubled inside.
std::string ComPortCommand(unsigned char command, std::string_view value) {
  std::string out = {static_cast<char>(kIac), static_cast<char>(kSb), static_cast<char>(kComPort),
                     static_cast<char>(command)};
  for (const char c : value) {
    out += c;
    if (static_cast<unsigned char>(c) == kIac) out += c;
  }
  out += static_cast<char>(kIac);
  out += static_cast<char>(kSe);
  return out;
}

}  // namespace

std::string TelnetComPort::Opening() {
  std::string out;
  for (const unsigned char option : {kBinary, kSuppressGoAhead, kComPort}) {
    us_[option] = Side::kWantYes;
    out += Say(kWill, option);
  }
  for (const unsigned char option : {kBinary, kSuppressGoAhead}) {
    him_[option] = Side::kWantYes;
    out += Say(kDo, option);
  }
  return out;
}

std::string TelnetComPort::Settings() const {
  constexpr std::uint32_t kBaud = 9600;
  const std::string baud = {static_cast<char>(kBaud >> 24), static_cast<char>((kBaud >> 16) & 0xFF),
                            static_cast<char>((kBaud >> 8) & 0xFF), static_cast<char>(kBaud & 0xFF)};
  return ComPortCommand(kSetBaudRate, baud) + ComPortCommand(kSetDataSize, "\x08") +
         ComPortCommand(kSetParity, "\x01") +   // none
         ComPortCommand(kSetStopSize, "\x01") + // one
         ComPortCommand(kSetControl, "\x01");   // no flow control
}

void TelnetComPort::Command(unsigned char verb, unsigned char option, std::string& answers) {
  const bool onOurSide = verb == kDo || verb == kDont;
  Side& side = onOurSide ? us_[option] : him_[option];
  const bool wanted = onOurSide ? OursToOffer(option) : HisToTake(option);
  const unsigned char yes = onOurSide ? kWill : kDo;
  const unsigned char no = onOurSide ? kWont : kDont;
  if (verb == kDo || verb == kWill) {
    if (!wanted) {
      answers += Say(no, option);  // refused, every time it is asked
      return;
    }
    if (side == Side::kNo) answers += Say(yes, option);
    side = Side::kYes;
    if (onOurSide && option == kComPort && !settingsSent_) {
      answers += Settings();
      settingsSent_ = true;
    }
    return;
  }
  // DONT or WONT: agreed to at once; answered only when it was on.
  if (side == Side::kYes) answers += Say(no, option);
  side = Side::kNo;
}

void TelnetComPort::Subnegotiation() {
  if (sub_.size() >= 2 && static_cast<unsigned char>(sub_[0]) == kComPort) {
    const auto command = static_cast<unsigned char>(sub_[1]);
    if (command == kFlowSuspend) suspended_ = true;
    if (command == kFlowResume) suspended_ = false;
  }
  sub_.clear();
}

std::string TelnetComPort::Take(std::string_view wire, std::string& answers) {
  std::string data;
  for (const char c : wire) {
    const auto byte = static_cast<unsigned char>(c);
    switch (read_) {
      case Read::kData:
        if (byte == kIac) {
          read_ = Read::kIac;
          break;
        }
        // Outside binary mode a CR is sent as CR NUL: the NUL is no data.
        if (!(afterCr_ && byte == 0 && him_[kBinary] != Side::kYes)) data += c;
        afterCr_ = byte == '\r';
        break;
      case Read::kIac:
        read_ = Read::kData;
        if (byte == kIac) {
          data += c;
          afterCr_ = false;
        } else if (byte >= kWill && byte <= kDont) {
          verb_ = byte;
          read_ = Read::kOption;
        } else if (byte == kSb) {
          sub_.clear();
          read_ = Read::kSub;
        }
        // Any other command (NOP, go-ahead, ...) carries nothing for us.
        break;
      case Read::kOption:
        Command(verb_, byte, answers);
        read_ = Read::kData;
        break;
      case Read::kSub:
        if (byte == kIac) {
          read_ = Read::kSubIac;
        } else if (sub_.size() < kMaxSubnegotiation) {
          sub_ += c;
        }
        break;
      case Read::kSubIac:
        if (byte == kSe) {
          Subnegotiation();
          read_ = Read::kData;
        } else {
          if (byte == kIac && sub_.size() < kMaxSubnegotiation) sub_ += c;
          read_ = Read::kSub;
        }
        break;
    }
  }
  return data;
}

std::string TelnetComPort::Wrap(std::string_view data) const {
  // A server that refused binary reads our data as text, where a CR
  // stands for itself only when a NUL follows.
  const bool text = us_[kBinary] == Side::kNo;
  std::string out;
  out.reserve(data.size() + 4);
  for (const char c : data) {
    out += c;
    if (static_cast<unsigned char>(c) == kIac) out += c;
    if (text && c == '\r') out += '\0';
  }
  return out;
}

}  // namespace rotavox
