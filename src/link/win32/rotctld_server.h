// The station-program server on Windows: TCP sockets through Winsock 2,
// served on a thread of their own, so that answers never wait behind the
// window's thread, which may be speaking for seconds.
//
// Answers come from the latest snapshot the window's thread published
// (Publish); a set_pos is handed back through the turn callback, which
// must post it to the window's thread. At most kMaxClients connections at
// once (more are closed at once), each line at most kRotctldMaxLine bytes
// (a longer one is answered "RPRT -1" and dropped), and a client that does
// not read its answers is dropped once kMaxPending bytes wait for it.
//
// The server owns its use of Winsock (WSAStartup in Start, WSACleanup when
// it goes). No Windows header here: sockets are kept as their integer
// values, and the lock lives in the implementation.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/rotctld.h"

namespace rotavox {

class RotctldServer {
 public:
  static constexpr int kMaxClients = 16;
  static constexpr std::size_t kMaxPending = kRotctldMaxPending;

  // `turn` runs on the server's thread.
  explicit RotctldServer(std::function<void(std::int32_t)> turn);
  ~RotctldServer();
  RotctldServer(const RotctldServer&) = delete;
  RotctldServer& operator=(const RotctldServer&) = delete;

  // Listens on address:port (an IPv4 address or "localhost") and starts
  // serving. False, with a reason, when the address cannot be had.
  bool Start(const std::string& address, int port, std::string* error);
  // The port actually listened on (useful with port 0 in tests).
  int Port() const { return port_; }

  void Publish(const LinkSnapshot& snapshot);

 private:
  struct Shared;
  static unsigned long __stdcall ThreadMain(void* self);
  void Serve();
  LinkSnapshot Snapshot();

  std::function<void(std::int32_t)> turn_;
  std::unique_ptr<Shared> shared_;  // the snapshot under its lock
  bool winsock_ = false;
  std::uintptr_t listener_ = ~std::uintptr_t{0};  // INVALID_SOCKET
  std::uintptr_t wake_ = ~std::uintptr_t{0};  // loopback datagram socket, connected to itself
  int port_ = 0;
  void* thread_ = nullptr;
};

}  // namespace rotavox
