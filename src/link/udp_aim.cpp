// Aiming by UDP datagram (see udp_aim.h).
#include "link/udp_aim.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/number.h"
#include "common/text.h"
#include "target/aim.h"

namespace rotavox {
namespace {

// Where the start tag <tag> or <tag attributes...> that begins at `start`
// ends (just past its '>'); npos when the name at `start` is another one
// (<tagX>), the tag is empty (<tag/>) or it never ends. Quoted attribute
// values may hold '>'.
std::size_t StartTagEnd(std::string_view xml, std::size_t start, std::string_view tag) {
  std::size_t at = start + 1 + tag.size();
  if (at >= xml.size() || (xml[at] != '>' && !IsBlank(xml[at]))) return std::string_view::npos;
  char quote = 0;
  for (; at < xml.size(); ++at) {
    const char c = xml[at];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return xml[at - 1] == '/' ? std::string_view::npos : at + 1;
    }
  }
  return std::string_view::npos;
}

// The text of the first element named `tag`, blanks around it trimmed;
// nothing when there is no such element with an end tag.
std::optional<std::string_view> Element(std::string_view xml, std::string_view tag) {
  std::string open = "<";
  open.append(tag);
  std::string close = "</";
  close.append(tag).append(">");
  std::size_t from = std::string_view::npos;
  for (std::size_t start = xml.find(open); start != std::string_view::npos;
       start = xml.find(open, start + 1)) {
    from = StartTagEnd(xml, start, tag);
    if (from != std::string_view::npos) break;
  }
  if (from == std::string_view::npos) return std::nullopt;
  const std::size_t end = xml.find(close, from);
  if (end == std::string_view::npos) return std::nullopt;
  return Trimmed(xml.substr(from, end - from));
}

// A whole element read as a decimal number.
std::optional<double> Number(std::optional<std::string_view> text) {
  return text ? ReadDecimal(*text) : std::nullopt;
}

// A heading of 0 to 360 (an offset may take it past either end) as a
// whole degree of 0 to 359.
std::int32_t Heading(double degrees) {
  const std::int32_t whole = AimBearing(degrees);
  return ((whole % 360) + 360) % 360;
}

bool Printable(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

}  // namespace

std::optional<UdpAim> ParseUdpAim(std::string_view datagram) {
  if (datagram.size() > kUdpMaxDatagram) return std::nullopt;
  if (const auto n1mm = Element(datagram, "N1MMRotor")) {
    UdpAim out;
    out.n1mm = true;
    if (const auto stop = Element(*n1mm, "stop")) {
      out.rotor = std::string(Element(*stop, "rotor").value_or(""));
      out.aim = RemoteAim{RemoteAim::Kind::kStop, 0};
    } else {
      const auto azimuth = Number(Element(*n1mm, "goazi"));
      const auto offsetText = Element(*n1mm, "offset");
      const auto offset = offsetText ? Number(offsetText) : std::optional<double>(0.0);
      if (!azimuth || !offset || *azimuth < 0 || *azimuth > 360 || std::abs(*offset) > 360) {
        return std::nullopt;
      }
      out.rotor = std::string(Element(*n1mm, "rotor").value_or(""));
      out.aim = RemoteAim{RemoteAim::Kind::kTurn, Heading(*azimuth + *offset)};
    }
    // The name goes back out in the status datagram: keep it one short line.
    if (out.rotor.size() > 64 || !Printable(out.rotor)) out.rotor.clear();
    return out;
  }
  if (const auto pst = Element(datagram, "PST")) {
    if (const auto stop = Element(*pst, "STOP")) {
      if (*stop != "1") return std::nullopt;
      return UdpAim{RemoteAim{RemoteAim::Kind::kStop, 0}, false, {}};
    }
    const auto azimuth = Number(Element(*pst, "AZIMUTH"));
    if (!azimuth || *azimuth < 0 || *azimuth > 360) return std::nullopt;
    return UdpAim{RemoteAim{RemoteAim::Kind::kTurn, Heading(*azimuth)}, false, {}};
  }
  return std::nullopt;
}

std::string N1mmStatus(std::string_view rotor, std::int32_t bearing) {
  std::string status(rotor);
  status.append(" @ ").append(std::to_string(static_cast<std::int64_t>(bearing) * 10));
  return status;
}

bool StatusWatch::Changed(const LinkSnapshot& snapshot) {
  const bool news = snapshot.linked &&
                    (!last_ || last_->bearing != snapshot.bearing || (last_->turning && !snapshot.turning));
  last_ = snapshot;
  return news;
}

bool AimRate::Allow(Clock::time_point now) {
  if (last_) {
    const double earned = std::chrono::duration<double>(now - *last_) / std::chrono::duration<double>(every_);
    tokens_ = std::min<double>(burst_, tokens_ + earned);
  }
  last_ = now;
  if (tokens_ < 1) return false;
  tokens_ -= 1;
  return true;
}

PeerAddress PeerAddress::FromIpv4(std::uint32_t networkOrder) {
  PeerAddress address;
  address.bytes[10] = 0xff;
  address.bytes[11] = 0xff;
  std::memcpy(address.bytes.data() + 12, &networkOrder, 4);
  return address;
}

bool PeerAddress::IsIpv4() const {
  static constexpr std::array<std::uint8_t, 12> kMapped{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  return std::equal(kMapped.begin(), kMapped.end(), bytes.begin());
}

std::uint32_t PeerAddress::Ipv4() const {
  std::uint32_t networkOrder = 0;
  if (IsIpv4()) std::memcpy(&networkOrder, bytes.data() + 12, 4);
  return networkOrder;
}

bool UdpAims::Allow(const PeerAddress& from, Clock::time_point now) {
  auto sender = std::find_if(senders_.begin(), senders_.end(),
                             [&](const Sender& s) { return s.address == from; });
  if (sender == senders_.end()) {
    if (senders_.size() < kMaxSenders) {
      senders_.push_back({from, AimRate(kBurst, kEvery), now});
      sender = senders_.end() - 1;
    } else {
      sender = std::min_element(senders_.begin(), senders_.end(),
                                [](const Sender& a, const Sender& b) { return a.heard < b.heard; });
      *sender = {from, AimRate(kBurst, kEvery), now};
    }
  }
  sender->heard = now;
  return sender->rate.Allow(now);
}

std::optional<RemoteAim> UdpAims::Receive(std::size_t socket, const PeerAddress& from,
                                          std::string_view bytes, std::size_t size,
                                          Clock::time_point now) {
  const std::optional<UdpAim> parsed = size == bytes.size() ? ParseUdpAim(bytes) : std::nullopt;
  if (!parsed || socket >= sockets_ || !Allow(from, now)) {
    ++ignored_;
    return std::nullopt;
  }
  if (parsed->n1mm) {
    std::erase_if(peers_, [&](const Peer& p) { return p.address == from; });
    if (peers_.size() >= kMaxPeers) peers_.erase(peers_.begin());
    peers_.push_back({socket, from, parsed->rotor});
  }
  return parsed->aim;
}

std::vector<UdpAims::Status> UdpAims::Publish(const LinkSnapshot& snapshot) {
  std::vector<Status> out;
  if (!watch_.Changed(snapshot)) return out;
  for (const Peer& p : peers_) out.push_back({p.socket, p.address, N1mmStatus(p.rotor, snapshot.bearing)});
  return out;
}

}  // namespace rotavox
