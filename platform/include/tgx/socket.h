// Winsock over POSIX sockets: the start-up state machine and the few socket
// calls whose Winsock behaviour differs from POSIX. Other calls (bind, listen,
// connect, select, setsockopt) are the POSIX ones.
//
// What the wrappers add: every socket is close-on-exec, so that no started
// worker inherits a listener or a client connection; TCP sockets have
// TCP_NODELAY and SO_REUSEADDR set (a restarted service binds its port at once);
// sending never raises SIGPIPE; reading and accepting re-enable the FD_READ and
// FD_ACCEPT notifications of WSAAsyncSelect (msgthread.h). Failures set the
// last error (WSAGetLastError) to the nearest Winsock code.
#pragma once

#include <netinet/in.h>
#include <sys/ioctl.h>  // FIONREAD
#include <sys/socket.h>

#include "tgx/msgthread.h"
#include "tgx/win32.h"

namespace tgx {

inline constexpr SOCKET INVALID_SOCKET = -1;
inline constexpr int SOCKET_ERROR = -1;

// Winsock error codes.
inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEBADF = 10009;
inline constexpr int WSAEACCES = 10013;
inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEMSGSIZE = 10040;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAEADDRNOTAVAIL = 10049;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAESHUTDOWN = 10058;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSASYSNOTREADY = 10091;
inline constexpr int WSAVERNOTSUPPORTED = 10092;
inline constexpr int WSANOTINITIALISED = 10093;

inline constexpr WORD MAKEWORD(BYTE low, BYTE high) {
  return static_cast<WORD>(low | (static_cast<WORD>(high) << 8));
}
inline constexpr BYTE LOBYTE(WORD value) { return static_cast<BYTE>(value); }
inline constexpr BYTE HIBYTE(WORD value) { return static_cast<BYTE>(value >> 8); }

struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
  char szDescription[257];
  char szSystemStatus[129];
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
};

// Winsock 2.2 is the highest version offered. A request for a major version 0
// fails with WSAVERNOTSUPPORTED (wHighVersion still filled); otherwise the
// agreed version is the lower of the request and 2.2, and the process's start
// count goes up. Returns 0 or the error code (as Winsock does, not through the
// last error).
int WSAStartup(WORD versionRequested, WSADATA* data);
// Undoes one WSAStartup: 0, or SOCKET_ERROR with WSANOTINITIALISED when none is
// outstanding.
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);

// A new socket (close-on-exec; TCP: TCP_NODELAY and SO_REUSEADDR).
// INVALID_SOCKET with WSANOTINITIALISED before WSAStartup.
SOCKET socket(int family, int type, int protocol);
// Accepts a connection (close-on-exec, TCP_NODELAY) and re-enables FD_ACCEPT.
SOCKET accept(SOCKET listener, sockaddr* address, socklen_t* addressLength);
// Receives (MSG_PEEK allowed) and re-enables FD_READ. Returns the byte count, 0
// when the peer has closed, or SOCKET_ERROR (WSAEWOULDBLOCK when nothing is
// waiting on a non-blocking socket).
int recv(SOCKET socket, void* buffer, int length, int flags);
// Sends the whole buffer as one message: a non-blocking socket whose buffer is
// full is waited on until the peer has room, up to ScaledTimeout(30000) ms
// (then WSAETIMEDOUT). Returns length or SOCKET_ERROR.
int send(SOCKET socket, const void* buffer, int length, int flags);
// FIONREAD: stores in *argument the byte count waiting to be read. Returns 0 or
// SOCKET_ERROR (WSAEINVAL for any other command).
int ioctlsocket(SOCKET socket, long command, unsigned long* argument);
// Waits up to milliseconds (INFINITE: without limit) until the socket can be
// read without blocking (data, the peer's close or an error). Returns 1 when it
// can, 0 when the time ran out or a signal handler ran, or SOCKET_ERROR.
int WaitForReadable(SOCKET socket, DWORD milliseconds);
// Cancels the socket's WSAAsyncSelect, drops its queued notifications and
// closes it.
int closesocket(SOCKET socket);

// 127.0.0.1:port, ready for bind or connect.
sockaddr_in LoopbackAddress(WORD port);

// A blocking TCP connection to 127.0.0.1:port with TCP_NODELAY, close-on-exec,
// as a plain descriptor for tests and benchmarks that speak raw bytes; -1 when
// nothing accepts.
int ConnectLoopback(WORD port);

}  // namespace tgx
