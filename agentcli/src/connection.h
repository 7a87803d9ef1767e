// The client end of one connection to the agent service: opening and closing
// it, sending a request and collecting its reply of fixed size within a time
// limit. Every request is preceded by discarding whatever has arrived and not
// been read, so that a reply that came too late never shifts the stream.
#pragma once

#include <cstdint>
#include <span>

#include "tgx/socket.h"

namespace tgx::agentcli {

// Reply waits: the fixed limits of the protocol, before TGX_TIMEOUT_DIVISOR.
inline constexpr DWORD kReplyWaitMs = 5000;
inline constexpr DWORD kRecvReplyWaitMs = 30000;
// Each wait for readability lasts at most this long; never scaled.
inline constexpr int kWaitSliceMs = 50;

// The TCP port of the service: TGX_AGENT_PORT when it holds a port number,
// else 50229.
WORD ServicePort();

// A new blocking connection to the service on the loopback address, or
// INVALID_SOCKET.
SOCKET OpenServiceConnection();

// Discards waiting bytes, then sends the whole request with one call. Returns
// what send returned (the request size, or SOCKET_ERROR); -1 for a missing
// socket or an empty request.
int SendRequest(SOCKET socket, std::span<const std::uint8_t> request);

// Collects exactly reply.size() bytes in slices of 50 ms, giving up once more
// than `limitMs` has passed. Returns the byte count received (reply.size() when
// whole), or -1 when waiting or asking for the waiting count failed. A
// connection that the service has closed ends the wait at once.
int WaitForReply(SOCKET socket, std::span<std::uint8_t> reply, DWORD limitMs);

// Discards waiting bytes, shuts the connection down both ways and closes it.
void CloseServiceConnection(SOCKET socket);

// Outcome of one request and its reply.
enum class Exchange {
  kDone,             // the whole reply arrived with the request's command code
  kTransportFailed,  // short send, or the reply not whole in time
  kWrongCode,        // the reply carried another command code
};

// Sends `request` and collects `reply` (its whole size) within `limitMs`.
Exchange Transact(SOCKET socket, std::span<const std::uint8_t> request,
                  std::span<std::uint8_t> reply, DWORD limitMs);

}  // namespace tgx::agentcli
