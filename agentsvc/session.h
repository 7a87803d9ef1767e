// The state of one session: the clients that address one printer channel
// (service channel and port name), the one channel socket they share, and the
// handling of every agent wire command on it. Free of I/O of its own: the
// session server feeds it the bytes of each client connection and writes back
// the replies it produces; the channel is reached through the ChannelApi table.
// Runs on its session's thread only.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "channel_api.h"
#include "client_link.h"
#include "message_splitter.h"
#include "multiplexer.h"
#include "tgx/wire/agent_wire.h"

namespace tgx::agent {

using ChannelDescriptor = std::array<std::uint8_t, descriptor::kSize>;

// The service channel of a descriptor and the number of clients a session on it
// admits: 1 on the print-job and single management channels, 16 on the shared
// management channel, none on any other.
std::uint16_t ServiceChannelOf(const ChannelDescriptor& d);
std::size_t ClientLimit(std::uint16_t service_channel);

class Session {
 public:
  enum class Outcome { kOk, kClose };

  // `api` is null while the channel library is not bound.
  Session(const ChannelDescriptor& descriptor, const ChannelApi* api, TickSource ticks);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Bytes arrived on a client's connection: whole messages are handled in
  // order and their replies appended to `replies`. kClose: the connection sent
  // a message that cannot be sound and must be closed (after the replies).
  Outcome Receive(ClientId client, std::span<const std::uint8_t> bytes,
                  std::vector<std::uint8_t>& replies);

  // The client's connection closed.
  void Disconnect(ClientId client);

  bool has_clients() const { return !links_.empty(); }
  const ChannelDescriptor& descriptor() const { return descriptor_; }
  std::uint16_t service_channel() const { return service_channel_; }
  bool connected() const { return connected_; }
  const PacketMultiplexer& multiplexer() const { return mux_; }

 private:
  ClientLink* FindLink(ClientId client);
  ClientLink* Attach(ClientId client);
  void Detach(ClientId client);
  void CloseChannel();
  // Closes the channel socket after a failed transfer; the clients stay.
  void FailChannel();

  void Handle(ClientId client, std::span<const std::uint8_t> message,
              std::vector<std::uint8_t>& replies);

  // Command handlers: each gets the request (already of its fixed size and
  // validated) and fills the reply.
  void CreateSocket(ClientLink& link, std::vector<std::uint8_t>& reply);
  void Connect(ClientLink& link, std::vector<std::uint8_t>& reply);
  void DeleteSocket(ClientLink& link, std::vector<std::uint8_t>& reply);
  void Send(ClientLink& link, std::span<const std::uint8_t> request,
            std::vector<std::uint8_t>& reply);
  void Recv(ClientLink& link, std::span<const std::uint8_t> request,
            std::vector<std::uint8_t>& reply);
  void GetDataSize(ClientLink& link, std::vector<std::uint8_t>& reply);
  void SetTimeout(std::vector<std::uint8_t>& reply);
  void GetTimeout(std::vector<std::uint8_t>& reply);
  void GetChannelCapability(std::span<const std::uint8_t> request,
                            std::vector<std::uint8_t>& reply);
  void GetPacketSize(std::vector<std::uint8_t>& reply);
  void CheckOpenedJobCh(std::vector<std::uint8_t>& reply);

  // 0 when the command may call the channel: the library is bound and the
  // channel connected; else the result that answers it.
  std::uint32_t ChannelReady() const;
  // Sends all of `data` on a print-job channel.
  std::uint32_t SendRaw(std::span<const std::uint8_t> data);
  // Hands one packet to the channel for the multiplexer.
  std::uint32_t TransmitPacket(std::span<const std::uint8_t> packet);
  // Reads what the channel holds, paced, and routes it to the clients' queues.
  std::uint32_t ReadChannel();

  ChannelDescriptor descriptor_;
  const std::uint16_t service_channel_;
  const ChannelApi* const api_;
  TickSource ticks_;

  // Channel state.
  static constexpr std::uint16_t kNoSocket = 0xFFFF;
  std::uint16_t socket_ = kNoSocket;
  std::uint8_t socket_id_ = 0;
  bool connected_ = false;
  std::uint32_t connect_result_ = result::kChannelNotOpen;
  std::uint16_t sending_packet_size_ = 1024;
  std::uint16_t receiving_packet_size_ = 1024;
  bool cancel_on_close_ = false;
  packet::Splitter read_buffer_{packet::Answers::kAccepted};
  std::uint32_t last_active_read_ = 0;

  ClientLinks links_;
  std::map<ClientId, MessageSplitter> inputs_;  // per connection, attached or not
  PacketMultiplexer mux_;
};

}  // namespace tgx::agent
