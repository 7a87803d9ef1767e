// The fifteen exported AuCbt functions: each checks the library's readiness and
// the socket handle, sends one request to the agent service and turns its reply
// into the result of the call.
#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

#include "connection.h"
#include "library_state.h"
#include "replies.h"
#include "tgx/agentcli.h"
#include "tgx/wire/agent_wire.h"

namespace {

using tgx::agentcli::Admission;
using tgx::agentcli::Exchange;
using tgx::agentcli::LibraryState;
namespace wire = tgx::agent;

constexpr std::int32_t kFailed = -1;

template <std::size_t N>
using Message = std::array<std::uint8_t, N>;

// A zero-filled request of its full size with its header filled in.
template <std::size_t N>
Message<N> NewRequest(std::uint32_t code) {
  Message<N> request{};
  wire::WriteHeader(request.data(), N, code, 0);
  return request;
}

tgx::SOCKET AsSocket(AuCbtSocket socket) { return static_cast<tgx::SOCKET>(socket); }

// One request and its reply on a registered socket; the wait is a failure
// time-out, shortened in tests by TGX_TIMEOUT_DIVISOR.
Exchange Transact(AuCbtSocket socket, std::span<const std::uint8_t> request,
                  std::span<std::uint8_t> reply, tgx::DWORD waitMs = tgx::agentcli::kReplyWaitMs) {
  return tgx::agentcli::Transact(AsSocket(socket), request, reply, tgx::ScaledTimeout(waitMs));
}

// The result of the calls that answer with the reply status.
std::int32_t StatusOf(Exchange exchange, std::span<const std::uint8_t> reply) {
  switch (exchange) {
    case Exchange::kDone: return tgx::agentcli::ReplyStatus(reply);
    case Exchange::kTransportFailed: return AUCBT_TRANSPORT_FAILED;
    case Exchange::kWrongCode: return AUCBT_WRONG_REPLY;
  }
  return AUCBT_TRANSPORT_FAILED;
}

// Whether an exchange brought a reply with a status that is not negative.
bool Succeeded(Exchange exchange, std::span<const std::uint8_t> reply) {
  return exchange == Exchange::kDone && tgx::agentcli::ReplyStatus(reply) >= 0;
}

// For the calls that answer with a status: the not-ready or unknown-socket
// result when the socket may not be used, else nothing.
std::optional<std::int32_t> Refusal(AuCbtSocket socket) {
  switch (LibraryState::Instance().Admit(socket)) {
    case Admission::kAdmitted: return std::nullopt;
    case Admission::kNotReady: return AUCBT_NOT_READY;
    case Admission::kUnknownSocket: return AUCBT_UNKNOWN_SOCKET;
  }
  return AUCBT_NOT_READY;
}

}  // namespace

extern "C" {

int32_t AuCbtInitialize(void) {
  LibraryState& state = LibraryState::Instance();
  std::lock_guard lifecycle(state.lifecycle());
  return state.Initialize();
}

int32_t AuCbtShutdown(void) {
  LibraryState& state = LibraryState::Instance();
  std::lock_guard lifecycle(state.lifecycle());
  std::int32_t status = 0;
  if (!state.Release(&status)) return status;
  while (const auto socket = state.SmallestSocket()) {
    if (AuCbtDeleteSocket(*socket, 0) == AUCBT_NOT_READY) break;
  }
  state.Finish();
  return 0;
}

AuCbtSocket AuCbtCreateSocket(const void* descriptor, uint32_t* socketId) {
  LibraryState& state = LibraryState::Instance();
  if (!state.Ready() || !descriptor || !socketId) return AUCBT_INVALID_SOCKET;
  const tgx::SOCKET connection = tgx::agentcli::OpenServiceConnection();
  if (connection == tgx::INVALID_SOCKET) return AUCBT_INVALID_SOCKET;
  const auto socket = static_cast<AuCbtSocket>(connection);

  namespace create = wire::create_socket;
  auto request = NewRequest<create::kRequestSize>(wire::code::kCreateSocket);
  std::memcpy(request.data() + create::kDescriptor, descriptor, wire::descriptor::kSize);
  Message<create::kReplySize> reply{};
  if (!Succeeded(Transact(socket, request, reply), reply)) {
    tgx::agentcli::CloseServiceConnection(connection);
    return AUCBT_INVALID_SOCKET;
  }
  *socketId = wire::LoadLe32(reply.data() + create::kSocketId);
  state.Register(socket);
  return socket;
}

int32_t AuCbtConnect(AuCbtSocket socket) {
  if (const auto refused = Refusal(socket)) return *refused;
  namespace c = wire::connect;
  const auto request = NewRequest<c::kRequestSize>(wire::code::kConnect);
  Message<c::kReplySize> reply{};
  return StatusOf(Transact(socket, request, reply), reply);
}

int32_t AuCbtDeleteSocket(AuCbtSocket socket, int32_t cancelJob) {
  switch (LibraryState::Instance().AdmitAndRemove(socket)) {
    case Admission::kAdmitted: break;
    case Admission::kNotReady: return AUCBT_NOT_READY;
    case Admission::kUnknownSocket: return AUCBT_UNKNOWN_SOCKET;
  }
  namespace del = wire::delete_socket;
  auto request = NewRequest<del::kRequestSize>(wire::code::kDeleteSocket);
  wire::StoreLe32(request.data() + del::kCancelFlag, static_cast<std::uint32_t>(cancelJob));
  Message<del::kReplySize> reply{};
  const std::int32_t status = StatusOf(Transact(socket, request, reply), reply);
  tgx::agentcli::CloseServiceConnection(AsSocket(socket));
  return status;
}

int32_t AuCbtSend(AuCbtSocket socket, const void* data, int32_t length) {
  if (LibraryState::Instance().Admit(socket) != Admission::kAdmitted) return kFailed;
  if (!data || length <= 0) return kFailed;
  namespace snd = wire::send;
  const auto count = std::min(static_cast<std::uint32_t>(length), snd::kMaxCount);
  std::vector<std::uint8_t> request(count + snd::kOverhead);
  wire::WriteHeader(request.data(), static_cast<std::uint32_t>(request.size()), wire::code::kSend,
                    count);
  std::memcpy(request.data() + snd::kData, data, count);
  Message<snd::kReplySize> reply{};
  if (Transact(socket, request, reply) != Exchange::kDone) return kFailed;
  return tgx::agentcli::SendResult(tgx::agentcli::ReplyStatus(reply), count);
}

int32_t AuCbtRecv(AuCbtSocket socket, void* buffer, int32_t size) {
  if (LibraryState::Instance().Admit(socket) != Admission::kAdmitted) return kFailed;
  if (!buffer || size <= 0) return kFailed;
  namespace rcv = wire::recv;
  auto request = NewRequest<rcv::kRequestSize>(wire::code::kRecv);
  wire::StoreLe32(request.data() + rcv::kLargestCount, static_cast<std::uint32_t>(size));
  Message<rcv::kReplySize> reply{};
  if (Transact(socket, request, reply, tgx::agentcli::kRecvReplyWaitMs) != Exchange::kDone) {
    return kFailed;
  }
  return tgx::agentcli::TakeReceivedData(reply, static_cast<std::uint8_t*>(buffer), size);
}

int32_t AuCbtGetDataSizeInSocket(AuCbtSocket socket, int32_t mode) {
  if (LibraryState::Instance().Admit(socket) != Admission::kAdmitted) return kFailed;
  namespace ds = wire::get_data_size;
  auto request = NewRequest<ds::kRequestSize>(wire::code::kGetDataSizeInSocket);
  wire::StoreLe32(request.data() + ds::kMode, static_cast<std::uint32_t>(mode));
  Message<ds::kReplySize> reply{};
  if (!Succeeded(Transact(socket, request, reply), reply)) return kFailed;
  return static_cast<std::int32_t>(wire::LoadLe32(reply.data() + ds::kSize));
}

int32_t AuCbtWakeupRead(AuCbtSocket socket) { return Refusal(socket).value_or(0); }

int32_t AuCbtSetPollingTime(AuCbtSocket socket, int32_t pollingTime) {
  if (const auto refused = Refusal(socket)) return *refused;
  namespace pt = wire::set_polling_time;
  auto request = NewRequest<pt::kRequestSize>(wire::code::kSetPollingTime);
  wire::StoreLe32(request.data() + pt::kPollingTime, static_cast<std::uint32_t>(pollingTime));
  Message<pt::kReplySize> reply{};
  return StatusOf(Transact(socket, request, reply), reply);
}

int32_t AuCbtSetTimeout(AuCbtSocket socket, int32_t receiveTimeout, int32_t sendTimeout) {
  if (LibraryState::Instance().Admit(socket) != Admission::kAdmitted) return 0;
  namespace st = wire::set_timeout;
  auto request = NewRequest<st::kRequestSize>(wire::code::kSetTimeout);
  wire::StoreLe32(request.data() + st::kReceiveTimeout, static_cast<std::uint32_t>(receiveTimeout));
  wire::StoreLe32(request.data() + st::kSendTimeout, static_cast<std::uint32_t>(sendTimeout));
  Message<st::kReplySize> reply{};
  return Succeeded(Transact(socket, request, reply), reply) ? 1 : 0;
}

int32_t AuCbtGetTimeout(AuCbtSocket socket, int32_t* receiveTimeout, int32_t* sendTimeout) {
  if (LibraryState::Instance().Admit(socket) != Admission::kAdmitted) return 0;
  if (!receiveTimeout || !sendTimeout) return 0;
  *receiveTimeout = 0;
  *sendTimeout = 0;
  namespace gt = wire::get_timeout;
  const auto request = NewRequest<gt::kRequestSize>(wire::code::kGetTimeout);
  Message<gt::kReplySize> reply{};
  if (!Succeeded(Transact(socket, request, reply), reply)) return 0;
  *receiveTimeout = static_cast<std::int32_t>(wire::LoadLe32(reply.data() + gt::kReceiveTimeout));
  *sendTimeout = static_cast<std::int32_t>(wire::LoadLe32(reply.data() + gt::kSendTimeout));
  return 1;
}

int32_t AuCbtGetChannelCapability(AuCbtSocket socket, uint32_t controlCode, const void* input,
                                  uint32_t inputLength, void* output, uint32_t outputSize,
                                  uint32_t* outputLength) {
  if (const auto refused = Refusal(socket)) return *refused;
  const bool inputConsistent = input ? inputLength != 0 : inputLength == 0;
  if (!inputConsistent || !output || outputSize == 0 || !outputLength) return AUCBT_BAD_ARGUMENT;
  *outputLength = 0;
  std::memset(output, 0, outputSize);
  namespace cap = wire::get_channel_capability;
  if (inputLength > cap::kDataCapacity) return AUCBT_INPUT_TOO_LONG;

  auto request = NewRequest<cap::kRequestSize>(wire::code::kGetChannelCapability);
  wire::StoreLe32(request.data() + cap::kControlCode, controlCode);
  if (inputLength != 0) std::memcpy(request.data() + cap::kInput, input, inputLength);
  wire::StoreLe32(request.data() + cap::kInputLength, inputLength);
  wire::StoreLe32(request.data() + cap::kOutputCapacity, outputSize);
  Message<cap::kReplySize> reply{};
  const Exchange exchange = Transact(socket, request, reply);
  if (exchange != Exchange::kDone) return StatusOf(exchange, reply);
  return tgx::agentcli::TakeCapabilityOutput(reply, static_cast<std::uint8_t*>(output), outputSize,
                                             outputLength);
}

int32_t AuCbtGetPacketSizeFromSocket(AuCbtSocket socket, uint16_t* sendSize,
                                     uint16_t* receiveSize) {
  if (const auto refused = Refusal(socket)) return *refused;
  if (!sendSize || !receiveSize) return AUCBT_BAD_ARGUMENT;
  *sendSize = 0;
  *receiveSize = 0;
  namespace ps = wire::get_packet_size;
  const auto request = NewRequest<ps::kRequestSize>(wire::code::kGetPacketSizeFromSocket);
  Message<ps::kReplySize> reply{};
  const Exchange exchange = Transact(socket, request, reply);
  const std::int32_t status = StatusOf(exchange, reply);
  if (exchange == Exchange::kDone && status >= 0) {
    *sendSize = wire::LoadLe16(reply.data() + ps::kSendingSize);
    *receiveSize = wire::LoadLe16(reply.data() + ps::kReceivingSize);
  }
  return status;
}

int32_t AuCbtCheckOpenedJobCH(AuCbtSocket socket) {
  if (LibraryState::Instance().Admit(socket) != Admission::kAdmitted) return 0;
  namespace job = wire::check_opened_job_ch;
  const auto request = NewRequest<job::kRequestSize>(wire::code::kCheckOpenedJobCH);
  Message<job::kReplySize> reply{};
  if (!Succeeded(Transact(socket, request, reply), reply)) return 0;
  return static_cast<std::int32_t>(wire::LoadLe32(reply.data() + job::kValue));
}

}  // extern "C"
