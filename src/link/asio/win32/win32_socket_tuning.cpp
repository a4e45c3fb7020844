// Station sockets on Windows, through Winsock 2 (see socket_tuning.h).
// Sockets are not inherited by child processes here unless asked for.
#include "link/asio/socket_tuning.h"

#include <mstcpip.h>

namespace rotavox::station {
namespace {

template <typename Socket>
void KeepPortOurs(Socket& socket, std::error_code& error) {
  const BOOL on = TRUE;
  if (setsockopt(socket.native_handle(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                 sizeof on) != 0) {
    error = std::error_code(WSAGetLastError(), std::system_category());
  }
}

}  // namespace

void PrepareListener(asio::ip::tcp::acceptor& acceptor, std::error_code& error) {
  KeepPortOurs(acceptor, error);
}

void PrepareDatagramSocket(asio::ip::udp::socket& socket, std::error_code& error) {
  KeepPortOurs(socket, error);
}

void PrepareSharedDatagramSocket(asio::ip::udp::socket& socket, std::error_code& error) {
  socket.set_option(asio::socket_base::reuse_address(true), error);
}

std::size_t UnsentBytes(asio::ip::tcp::socket&) { return 0; }

void PrepareConnection(asio::ip::tcp::socket& socket) {
  std::error_code ignored;
  socket.set_option(asio::ip::tcp::no_delay(true), ignored);
  socket.set_option(asio::socket_base::keep_alive(true), ignored);
  tcp_keepalive values{};
  values.onoff = 1;
  values.keepalivetime = static_cast<ULONG>(std::chrono::milliseconds(kKeepAliveIdle).count());
  values.keepaliveinterval = static_cast<ULONG>(std::chrono::milliseconds(kKeepAliveInterval).count());
  DWORD returned = 0;
  // Without it (older stacks, Wine) SO_KEEPALIVE keeps the system's times.
  WSAIoctl(socket.native_handle(), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned,
           nullptr, nullptr);
}

bool ConnectionGone(const std::error_code& error) {
  if (error.category() != std::system_category()) return false;
  switch (error.value()) {
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAEINTR:
    case WSAENETDOWN:
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
      return true;
    default:
      return false;
  }
}

// FormatMessage's text without its closing full stop and line end, with a
// few words of our own where the system has none (Wine has few).
std::string Reason(const std::error_code& error) {
  if (error.category() != std::system_category()) return error.message();
  char text[256] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                      static_cast<DWORD>(error.value()), 0, text, sizeof text, nullptr);
  std::string reason(text, length);
  while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n' || reason.back() == ' ' ||
                             reason.back() == '.')) {
    reason.pop_back();
  }
  if (!reason.empty()) return reason;
  switch (error.value()) {
    case WSAEADDRINUSE:
      return "address already in use";
    case WSAEADDRNOTAVAIL:
      return "address not available";
    case WSAEACCES:
      return "permission denied";
    default:
      return "Winsock error " + std::to_string(error.value());
  }
}

}  // namespace rotavox::station
