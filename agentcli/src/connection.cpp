#include "connection.h"

#include <algorithm>
#include <cstdlib>

#include "tgx/wire/agent_wire.h"

namespace tgx::agentcli {
namespace {

// The byte count waiting to be read, or -1.
int WaitingBytes(SOCKET socket) {
  unsigned long waiting = 0;
  return tgx::ioctlsocket(socket, FIONREAD, &waiting) == 0 ? static_cast<int>(waiting) : -1;
}

// Throws away what has arrived and not been read.
void DiscardWaiting(SOCKET socket) {
  const int waiting = WaitingBytes(socket);
  if (waiting > 0) tgx::recv(socket, nullptr, waiting, MSG_TRUNC);
}

}  // namespace

WORD ServicePort() {
  const char* text = std::getenv(agent::kPortVariable);
  if (text && *text) {
    char* end = nullptr;
    const unsigned long port = std::strtoul(text, &end, 10);
    if (*end == '\0' && port >= 1 && port <= 0xFFFF) return static_cast<WORD>(port);
  }
  return agent::kServicePort;
}

SOCKET OpenServiceConnection() {
  const SOCKET socket = tgx::socket(AF_INET, SOCK_STREAM, 0);
  if (socket == INVALID_SOCKET) return INVALID_SOCKET;
  const sockaddr_in address = LoopbackAddress(ServicePort());
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    tgx::closesocket(socket);
    return INVALID_SOCKET;
  }
  return socket;
}

int SendRequest(SOCKET socket, std::span<const std::uint8_t> request) {
  if (socket == INVALID_SOCKET || request.empty()) return -1;
  DiscardWaiting(socket);
  return tgx::send(socket, request.data(), static_cast<int>(request.size()), 0);
}

int WaitForReply(SOCKET socket, std::span<std::uint8_t> reply, DWORD limitMs) {
  const std::size_t wanted = reply.size();
  std::size_t received = 0;
  DWORD elapsed = 0;
  for (;;) {
    const DWORD sliceStart = GetTickCount();
    // A signal handled by the application only ends the slice early.
    const int ready = tgx::WaitForReadable(socket, kWaitSliceMs);
    if (ready == SOCKET_ERROR) return -1;
    if (ready > 0) {
      const int waiting = WaitingBytes(socket);
      if (waiting < 0) return -1;
      // Readable with nothing to read: the service closed the connection (or it
      // failed), so nothing more can arrive.
      if (waiting == 0) return static_cast<int>(received);
      const std::size_t take = std::min(static_cast<std::size_t>(waiting), wanted - received);
      const int got = tgx::recv(socket, reply.data() + received, static_cast<int>(take), 0);
      if (got > 0) {
        received += static_cast<std::size_t>(got);
        if (received == wanted) return static_cast<int>(wanted);
      }
    }
    elapsed += GetTickCount() - sliceStart;
    if (elapsed > limitMs) return static_cast<int>(received);
  }
}

void CloseServiceConnection(SOCKET socket) {
  DiscardWaiting(socket);
  ::shutdown(socket, SHUT_RDWR);
  tgx::closesocket(socket);
}

Exchange Transact(SOCKET socket, std::span<const std::uint8_t> request,
                  std::span<std::uint8_t> reply, DWORD limitMs) {
  if (SendRequest(socket, request) != static_cast<int>(request.size())) {
    return Exchange::kTransportFailed;
  }
  if (WaitForReply(socket, reply, limitMs) != static_cast<int>(reply.size())) {
    return Exchange::kTransportFailed;
  }
  return agent::MessageCode(reply.data()) == agent::MessageCode(request.data())
             ? Exchange::kDone
             : Exchange::kWrongCode;
}

}  // namespace tgx::agentcli
