// What the station server asks of each system's sockets that Asio leaves
// to the system: who may share a port, what children inherit, keep-alive
// times, which errors of accept are a vanished connection, and the
// system's words for an error. CMake picks posix/posix_socket_tuning.cpp or
// win32/win32_socket_tuning.cpp; the server itself is the same on both.
#pragma once

#include <asio/ip/tcp.hpp>
#include <asio/ip/udp.hpp>

#include <chrono>
#include <cstddef>
#include <string>
#include <system_error>

namespace rotavox::station {

// Keep-alive: after kKeepAliveIdle without traffic the peer is probed
// every kKeepAliveInterval; after kKeepAliveProbes unanswered (Windows
// keeps its own count, 10) the connection fails, so a peer that vanished
// without closing gives its slot back within minutes.
inline constexpr std::chrono::seconds kKeepAliveIdle{60};
inline constexpr std::chrono::seconds kKeepAliveInterval{10};
inline constexpr int kKeepAliveProbes = 6;

// An opened socket, before bind. The port stays ours alone, and a new run
// can have it again at once after this one ends: SO_REUSEADDR for TCP on
// POSIX (where it only steps past connections left in TIME_WAIT), and
// SO_EXCLUSIVEADDRUSE on Windows (whose SO_REUSEADDR would let another
// program take the port from under us). On POSIX no child process
// inherits it.
void PrepareListener(asio::ip::tcp::acceptor& acceptor, std::error_code& error);
void PrepareDatagramSocket(asio::ip::udp::socket& socket, std::error_code& error);
// The same for a port shared with other programs (a multicast group that
// several hear): SO_REUSEADDR on both systems, so that each may bind it.
void PrepareSharedDatagramSocket(asio::ip::udp::socket& socket, std::error_code& error);

// Bytes the system still holds for the peer: not yet sent, or sent and
// not yet acknowledged (SIOCOUTQ on Linux); 0 where the system cannot
// tell (Windows).
std::size_t UnsentBytes(asio::ip::tcp::socket& socket);

// A connection just accepted (or made): not inherited by child processes, answers
// sent at once (no Nagle delay), and keep-alive as above where the system
// lets us set it (not under Wine). Failures leave the system's defaults.
void PrepareConnection(asio::ip::tcp::socket& socket);

// Whether an error of accept concerns only the connection it was taking,
// which is gone, so that the next one can be taken at once. Linux passes
// a connection's pending network error this way.
bool ConnectionGone(const std::error_code& error);

// "Address already in use": the system's own wording.
std::string Reason(const std::error_code& error);

}  // namespace rotavox::station
