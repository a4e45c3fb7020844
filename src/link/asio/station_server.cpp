// The station-program server on Asio (see station_server.h). Reads as the
// life of the server: the ports are opened and bound before Start, Start
// sets the accept and datagram chains going on the server's threads, and
// the destructor closes everything and lets the threads run out.
#include "link/asio/station_server.h"

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ip/udp.hpp>
#include <asio/ip/v6_only.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/thread_pool.hpp>

#include <array>
#include <atomic>
#include <bit>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "link/asio/multicast.h"
#include "link/asio/slot_manager.h"
#include "link/asio/socket_tuning.h"
#include "link/udp_aim.h"

namespace rotavox {
namespace {

using asio::ip::tcp;
using asio::ip::udp;

// How many connections may wait in the listen queue: as many as there
// are slots.
constexpr int kListenBacklog = kStationMaxClients;
// Threads that serve the connections, each running an io_context of its
// own: on a machine with two cores or more, two clients are answered at
// once, as a daemon with a thread per client answers them, and each
// connection's work stays on the one thread it was given.
constexpr std::size_t kServerThreads = 2;

// "127.0.0.1:4533", "[::1]:4533".
std::string Where(const std::string& address, int port) {
  const bool v6 = address.find(':') != std::string::npos;
  return (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

// Opens, binds and (for TCP) listens on `address`:`port`, for `option`
// ("--rotctld"); false with the reason in `error`.
template <typename Socket>
bool Open(Socket& socket, const std::string& option, const std::string& address, int port, std::string* error,
          void (*prepare)(Socket&, std::error_code&)) {
  std::error_code failure;
  const std::string host = address == "localhost" ? "127.0.0.1" : address;
  const asio::ip::address ip = asio::ip::make_address(host, failure);
  if (failure) {
    *error = option + ": " + address + " is no IP address";
    return false;
  }
  const typename Socket::endpoint_type at(ip, static_cast<unsigned short>(port));
  socket.open(at.protocol(), failure);
  if (!failure) prepare(socket, failure);
  // Linux would take IPv4 on an IPv6 socket too; Windows would not.
  if (!failure && ip.is_v6()) socket.set_option(asio::ip::v6_only(true), failure);
  if (!failure) socket.bind(at, failure);
  if constexpr (std::is_same_v<Socket, tcp::acceptor>) {
    if (!failure) socket.listen(kListenBacklog, failure);
  }
  if (failure) {
    *error = option + ": cannot listen on " + Where(address, port) + ": " + station::Reason(failure);
    return false;
  }
  return true;
}

// A sender's address as UdpAims keeps it, and back.
// (Both keep an IPv4 address's bytes in network order.)
PeerAddress Peer(const asio::ip::address& address) {
  if (!address.is_v4()) return PeerAddress{address.to_v6().to_bytes()};
  return PeerAddress::FromIpv4(std::bit_cast<std::uint32_t>(address.to_v4().to_bytes()));
}

asio::ip::address Address(const PeerAddress& peer) {
  using Ipv4Bytes = asio::ip::address_v4::bytes_type;
  if (peer.IsIpv4()) return asio::ip::address_v4(std::bit_cast<Ipv4Bytes>(peer.Ipv4()));
  return asio::ip::address_v6(peer.bytes);
}

// One UDP port: its socket, the datagram being received, and the wait
// after a receive that failed.
struct DatagramPort {
  explicit DatagramPort(const asio::any_io_executor& strand) : socket(strand), pause(strand) {}
  udp::socket socket;
  asio::steady_timer pause;
  udp::endpoint from;
  // One byte more than any aim, so that a longer datagram shows.
  std::array<char, kUdpMaxDatagram + 1> buffer;
};

// WSJT-X's port: its socket, the datagram being received (as long as a
// datagram may be, so that none comes cut), and its reader.
struct WsjtxSocket {
  explicit WsjtxSocket(const asio::any_io_executor& strand) : socket(strand), pause(strand) {}
  udp::socket socket;
  asio::steady_timer pause;
  udp::endpoint from;
  std::vector<char> buffer = std::vector<char>(64 * 1024);
  WsjtxListener listener;
  std::function<void(const WsjtxStatus&)> status;
};

// One of the server's threads and what runs on it.
struct Lane {
  asio::io_context io{1};
  // Keeps io.run() going between events, whatever is outstanding.
  asio::executor_work_guard<asio::io_context::executor_type> running = asio::make_work_guard(io);
  // A socket made now makes the lane's reactor now, with the descriptors
  // it needs, rather than with its first connection, when the process may
  // have none left to give.
  tcp::socket ready{io};
};

}  // namespace

struct StationServer::Impl {
  Impl(std::function<void(const RemoteAim&)> aim, std::chrono::milliseconds idleLimit)
      : answers(std::move(aim)), slots(home, idleLimit) {}
  ~Impl() { Stop(); }

  void Accept();
  void Receive(std::size_t port);
  void ReceiveWsjtx();
  // After a receive: the next one at once, or after kReceivePause when
  // the port failed in a way that would fail again at once.
  void ReceiveAgain(asio::steady_timer& pause, const std::error_code& error, std::function<void()> receive);
  void Take(const LinkSnapshot& snapshot);
  // Closes the listener, the datagram ports and every connection, and
  // returns once nothing is left outstanding on any thread: the members
  // may then go in any order.
  void Stop();

  // Every socket and timer below is served by one of these.
  std::array<Lane, kServerThreads> lanes;
  std::size_t nextLane = 0;
  // The listener, the datagrams and the slots are served on the last lane.
  asio::any_io_executor home = lanes.back().io.get_executor();
  tcp::acceptor acceptor{home};
  asio::steady_timer acceptPause{home};
  std::deque<DatagramPort> udp;  // each stays where it is while receiving
  std::optional<WsjtxSocket> wsjtx;
  std::atomic<std::uint64_t> wsjtxIgnored{0};
  station::Answers answers;
  station::SlotManager slots;
  std::optional<UdpAims> datagrams;
  std::atomic<std::uint64_t> ignored{0};
  bool started = false;  // on the window's thread
  bool stopped = false;  // on the home lane: no chain is armed again
  std::optional<asio::thread_pool> threads;  // the server's threads, once started
};

void StationServer::Impl::Stop() {
  const auto close = [this] {
    stopped = true;
    std::error_code ignoredError;
    acceptor.close(ignoredError);
    acceptPause.cancel();
    for (DatagramPort& p : udp) {
      p.socket.close(ignoredError);
      p.pause.cancel();
    }
    if (wsjtx) {
      wsjtx->socket.close(ignoredError);
      wsjtx->pause.cancel();
    }
    slots.StopAll();
  };
  if (threads) {
    // On the home lane, which these belong to. With the work guards gone,
    // each thread ends once its lane has nothing left to do.
    asio::post(home, close);
    for (Lane& lane : lanes) lane.running.reset();
    threads->join();
  } else {
    close();
  }
  // What reached a lane after its thread had ended (a connection giving
  // its slot back, say) runs here, now that no other thread does.
  for (bool ran = true; ran;) {
    ran = false;
    for (Lane& lane : lanes) {
      lane.io.restart();
      ran = lane.io.poll() > 0 || ran;
    }
  }
}

void StationServer::Impl::Accept() {
  if (stopped) return;
  // Each connection on the next thread in turn.
  asio::io_context& lane = lanes[nextLane++ % lanes.size()].io;
  acceptor.async_accept(lane, [this](std::error_code error, tcp::socket socket) {
    if (error == asio::error::operation_aborted) return;
    if (!error) {
      station::PrepareConnection(socket);
      slots.Admit(std::move(socket), answers, StationClock::now());
    } else if (!station::ConnectionGone(error)) {
      // Out of descriptors or memory (EMFILE, ENFILE, ENOBUFS, ENOMEM;
      // WSAEMFILE, WSAENOBUFS), or anything unforeseen: the connection
      // is still queued, so wait a while before trying it again.
      acceptPause.expires_after(kAcceptPause);
      acceptPause.async_wait([this](std::error_code stopped) {
        if (!stopped) Accept();
      });
      return;
    }
    Accept();
  });
}

void StationServer::Impl::Receive(std::size_t port) {
  if (stopped) return;
  DatagramPort& p = udp[port];
  p.socket.async_receive_from(asio::buffer(p.buffer), p.from, [this, port, &p](std::error_code error,
                                                                                std::size_t got) {
    if (error == asio::error::operation_aborted) return;
    // A datagram longer than the buffer comes cut to its size (POSIX) or
    // as message_size (Windows); either way it is longer than any aim.
    // Other errors (a logger's port closed, reported by Windows on the
    // next receive) concern no datagram.
    if (!error || error == asio::error::message_size) {
      const std::size_t size = error ? p.buffer.size() : got;
      const std::string_view bytes(p.buffer.data(), size);
      const auto aim = datagrams->Receive(port, Peer(p.from.address()), bytes, size, UdpAims::Clock::now());
      ignored = datagrams->Ignored();
      if (aim) answers.aim(*aim);
    }
    ReceiveAgain(p.pause, error, [this, port] { Receive(port); });
  });
}

void StationServer::Impl::ReceiveAgain(asio::steady_timer& pause, const std::error_code& error,
                                       std::function<void()> receive) {
  if (!error || error == asio::error::message_size || station::ConnectionGone(error)) {
    receive();
    return;
  }
  // No buffers or memory (ENOBUFS, ENOMEM), or anything unforeseen, would
  // fail again at once: wait a while before receiving again. A status
  // datagram's refusal (Windows reports it here) concerns no datagram to
  // come.
  pause.expires_after(kReceivePause);
  pause.async_wait([receive = std::move(receive)](std::error_code stopped) {
    if (!stopped) receive();
  });
}

void StationServer::Impl::ReceiveWsjtx() {
  if (stopped) return;
  WsjtxSocket& p = *wsjtx;
  p.socket.async_receive_from(asio::buffer(p.buffer), p.from, [this, &p](std::error_code error, std::size_t got) {
    if (error == asio::error::operation_aborted) return;
    if (!error) {
      if (const std::optional<WsjtxStatus> status = p.listener.Receive(std::string_view(p.buffer.data(), got))) {
        p.status(*status);
      }
      wsjtxIgnored = p.listener.Ignored();
    }
    ReceiveAgain(p.pause, error, [this] { ReceiveWsjtx(); });
  });
}

void StationServer::Impl::Take(const LinkSnapshot& snapshot) {
  answers.Publish(snapshot);
  for (const UdpAims::Status& status : datagrams->Publish(snapshot)) {
    std::error_code ignoredError;  // a logger that is gone misses nothing it needs
    udp[status.socket].socket.send_to(asio::buffer(status.text),
                                      udp::endpoint(Address(status.to), kN1mmStatusPort), 0, ignoredError);
  }
}

StationServer::StationServer(std::function<void(const RemoteAim&)> aim, std::chrono::milliseconds idleLimit)
    : impl_(std::make_unique<Impl>(std::move(aim), idleLimit)) {}

StationServer::~StationServer() = default;

// Why a call came out of turn.
constexpr const char* kAlreadyStarted = "station server: already started";

bool StationServer::ListenTcp(const std::string& address, int port, std::string* error) {
  if (impl_->started) {
    *error = kAlreadyStarted;
    return false;
  }
  if (!Open(impl_->acceptor, "--rotctld", address, port, error, &station::PrepareListener)) return false;
  tcpPort_ = impl_->acceptor.local_endpoint().port();
  return true;
}

bool StationServer::ListenUdp(const std::string& address, int port, std::string* error) {
  if (impl_->started) {
    *error = kAlreadyStarted;
    return false;
  }
  DatagramPort& p = impl_->udp.emplace_back(impl_->home);
  if (!Open(p.socket, "--udp", address, port, error, &station::PrepareDatagramSocket)) {
    impl_->udp.pop_back();
    return false;
  }
  // Status datagrams are sent from the server's threads and must never
  // hold them up.
  std::error_code ignored;
  p.socket.non_blocking(true, ignored);
  udpPorts_.push_back(p.socket.local_endpoint().port());
  return true;
}

bool StationServer::ListenWsjtx(const std::string& address, int port,
                                std::function<void(const WsjtxStatus&)> status, std::string* error) {
  Impl& s = *impl_;
  if (s.started || s.wsjtx) {
    *error = s.started ? kAlreadyStarted : "--wsjtx: one port only";
    return false;
  }
  WsjtxSocket& p = s.wsjtx.emplace(s.home);
  p.status = std::move(status);
  std::error_code failure;
  const asio::ip::address ip = asio::ip::make_address(address == "localhost" ? "127.0.0.1" : address, failure);
  bool opened = false;
  if (!failure && ip.is_multicast()) {
    // Shared with the other programs that hear the group: bound to the
    // port on any address, the group joined on every interface.
    const udp::endpoint any(ip.is_v4() ? asio::ip::address(asio::ip::address_v4::any())
                                       : asio::ip::address(asio::ip::address_v6::any()),
                            static_cast<unsigned short>(port));
    p.socket.open(any.protocol(), failure);
    if (!failure) station::PrepareSharedDatagramSocket(p.socket, failure);
    if (!failure && ip.is_v6()) p.socket.set_option(asio::ip::v6_only(true), failure);
    if (!failure) p.socket.bind(any, failure);
    if (!failure) station::JoinEverywhere(p.socket, ip, failure);
    if (failure) {
      *error = "--wsjtx: cannot join " + Where(address, port) + ": " + station::Reason(failure);
    }
    opened = !failure;
  } else {
    opened = Open(p.socket, "--wsjtx", address, port, error, &station::PrepareDatagramSocket);
  }
  if (!opened) {
    s.wsjtx.reset();
    return false;
  }
  wsjtxPort_ = p.socket.local_endpoint().port();
  return true;
}

bool StationServer::Start(std::string* error) {
  Impl& s = *impl_;
  if (s.started) {
    *error = kAlreadyStarted;
    return false;
  }
  s.started = true;
  s.datagrams.emplace(s.udp.size());
  if (s.acceptor.is_open()) s.Accept();
  for (std::size_t port = 0; port < s.udp.size(); ++port) s.Receive(port);
  if (s.wsjtx) s.ReceiveWsjtx();
  try {
    // Asio's own threads, which both systems' toolchains can start (the
    // Windows one has no std::thread).
    s.threads.emplace(kServerThreads);
  } catch (const std::system_error& e) {
    *error = std::string("station server: cannot start its threads: ") + e.what();
    return false;
  }
  for (Lane& lane : s.lanes) asio::post(*s.threads, [&lane] { lane.io.run(); });
  return true;
}

bool StationServer::Publish(const LinkSnapshot& snapshot) {
  if (!impl_->started) return false;
  // Only news crosses to the server.
  if (snapshot == published_) return true;
  published_ = snapshot;
  asio::post(impl_->home, [impl = impl_.get(), snapshot] { impl->Take(snapshot); });
  return true;
}

std::uint64_t StationServer::Ignored() const { return impl_->ignored; }

std::uint64_t StationServer::WsjtxIgnored() const { return impl_->wsjtxIgnored; }

}  // namespace rotavox
