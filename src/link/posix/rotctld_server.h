// The station-program server on Linux: TCP sockets served on a thread of
// their own, so that answers never wait behind the window's thread, which
// may be speaking for seconds.
//
// Answers come from the latest snapshot the window's thread published
// (Publish); a set_pos is handed back through the turn callback, which
// must post it to the window's thread. At most kMaxClients connections at
// once (more are closed at once), each line at most kRotctldMaxLine bytes
// (a longer one is answered "RPRT -1" and dropped), and a client that does
// not read its answers is dropped once kMaxPending bytes wait for it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "link/rotctld.h"

namespace rotavox {

class RotctldServer {
 public:
  static constexpr int kMaxClients = 16;
  static constexpr std::size_t kMaxPending = 64 * 1024;

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
  void Serve();
  LinkSnapshot Snapshot();

  std::function<void(std::int32_t)> turn_;
  std::mutex mutex_;
  LinkSnapshot snapshot_;
  int listener_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  int port_ = 0;
  std::thread thread_;
};

}  // namespace rotavox
