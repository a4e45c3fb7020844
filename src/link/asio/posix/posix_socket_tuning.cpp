// Station sockets on Linux and other POSIX systems (see socket_tuning.h).
#include "link/asio/socket_tuning.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>

namespace rotavox::station {
namespace {

// The speech server that libspeechd may start is a child of this process:
// a listening socket it inherited would keep the port taken after we end.
void CloseOnExec(int fd) { fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC); }

void Set(int fd, int level, int name, int value) { setsockopt(fd, level, name, &value, sizeof value); }

}  // namespace

void PrepareListener(asio::ip::tcp::acceptor& acceptor, std::error_code& error) {
  CloseOnExec(acceptor.native_handle());
  acceptor.set_option(asio::socket_base::reuse_address(true), error);
}

void PrepareDatagramSocket(asio::ip::udp::socket& socket, std::error_code&) {
  CloseOnExec(socket.native_handle());
}

void PrepareSharedDatagramSocket(asio::ip::udp::socket& socket, std::error_code& error) {
  CloseOnExec(socket.native_handle());
  socket.set_option(asio::socket_base::reuse_address(true), error);
}

void PrepareConnection(asio::ip::tcp::socket& socket) {
  const int fd = socket.native_handle();
  CloseOnExec(fd);
  Set(fd, IPPROTO_TCP, TCP_NODELAY, 1);
  Set(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
  Set(fd, IPPROTO_TCP, TCP_KEEPIDLE, static_cast<int>(kKeepAliveIdle.count()));
  Set(fd, IPPROTO_TCP, TCP_KEEPINTVL, static_cast<int>(kKeepAliveInterval.count()));
  Set(fd, IPPROTO_TCP, TCP_KEEPCNT, kKeepAliveProbes);
}

std::size_t UnsentBytes(asio::ip::tcp::socket& socket) {
  int unsent = 0;
  if (ioctl(socket.native_handle(), TIOCOUTQ, &unsent) != 0 || unsent < 0) return 0;
  return static_cast<std::size_t>(unsent);
}

bool ConnectionGone(const std::error_code& error) {
  if (error.category() != std::system_category()) return false;
  switch (error.value()) {
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
      return true;
    default:
      return false;
  }
}

std::string Reason(const std::error_code& error) { return error.message(); }

}  // namespace rotavox::station
