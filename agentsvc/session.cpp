#include "session.h"

#include <algorithm>

namespace tgx::agent {

namespace {

constexpr std::size_t kMaxClients = 16;
constexpr std::uint16_t kSlotStep = 0x1000;

// Connect results of the channel library.
constexpr int kConnectedProtocol = 0;
constexpr int kConnectedWriteOnly = 1;
constexpr int kConnectedRaw = 2;
constexpr bool IsBusy(int rc) { return rc == -50 || rc == -51 || rc == -402; }
// The channel library counts a 6-byte packet header in its sizes.
constexpr std::uint16_t kPacketHeaderSize = 6;
constexpr std::uint16_t kDefaultPacketSize = 1024;
constexpr int kChannelTimeoutMs = 100;

// Read pacing: an active poll of the printer at most every 100 ms, every
// 1000 ms while a print-job channel is open on the port.
constexpr std::uint32_t kActivePollGapMs = 99;
constexpr std::uint32_t kActivePollGapWithJobMs = 999;
constexpr int kModeCollect = 0;
constexpr int kModeActivePoll = 1;
// One channel read takes at most this much; the rest waits for the next Recv.
constexpr std::size_t kLargestChannelRead = 0x10000;

std::vector<std::uint8_t> BlankReply(const CommandInfo& info, std::uint32_t result) {
  std::vector<std::uint8_t> reply(info.reply_size, 0);
  WriteHeader(reply.data(), static_cast<std::uint32_t>(info.reply_size), info.code, result);
  return reply;
}

void AppendReply(std::vector<std::uint8_t>& replies, const std::vector<std::uint8_t>& reply) {
  replies.insert(replies.end(), reply.begin(), reply.end());
}

}  // namespace

std::uint16_t ServiceChannelOf(const ChannelDescriptor& d) {
  return LoadLe16(d.data() + descriptor::kServiceChannel);
}

std::size_t ClientLimit(std::uint16_t service_channel) {
  switch (service_channel) {
    case kPrintJobChannel:
    case kSingleManagementChannel: return 1;
    case kSharedManagementChannel: return kMaxClients;
    default: return 0;
  }
}

Session::Session(const ChannelDescriptor& descriptor, const ChannelApi* api, TickSource ticks)
    : descriptor_(descriptor),
      service_channel_(ServiceChannelOf(descriptor)),
      api_(api),
      ticks_(ticks),
      mux_(service_channel_, std::move(ticks)) {}

Session::~Session() { CloseChannel(); }

// ---- Clients -------------------------------------------------------------------------

Session::Outcome Session::Receive(ClientId client, std::span<const std::uint8_t> bytes,
                                  std::vector<std::uint8_t>& replies) {
  MessageSplitter& input = inputs_[client];
  input.Append(bytes);
  std::span<const std::uint8_t> message;
  for (;;) {
    switch (input.Next(message)) {
      case MessageSplitter::Status::kMessage: Handle(client, message, replies); break;
      case MessageSplitter::Status::kNeedMore: return Outcome::kOk;
      case MessageSplitter::Status::kMalformed: return Outcome::kClose;
    }
  }
}

void Session::Disconnect(ClientId client) {
  inputs_.erase(client);
  Detach(client);
}

ClientLink* Session::FindLink(ClientId client) {
  for (ClientLink& link : links_) {
    if (link.socket == client) return &link;
  }
  return nullptr;
}

ClientLink* Session::Attach(ClientId client) {
  if (links_.size() >= ClientLimit(service_channel_)) return nullptr;
  for (std::uint16_t i = 0; i < kMaxClients; ++i) {
    const auto slot = static_cast<std::uint16_t>(i * kSlotStep);
    const bool used = std::any_of(links_.begin(), links_.end(),
                                  [slot](const ClientLink& l) { return l.slot == slot; });
    if (!used) return &links_.emplace_back(client, slot);
  }
  return nullptr;
}

void Session::Detach(ClientId client) {
  const auto link = std::find_if(links_.begin(), links_.end(),
                                 [client](const ClientLink& l) { return l.socket == client; });
  if (link == links_.end()) return;
  mux_.Depart(client);
  links_.erase(link);
  if (links_.empty()) CloseChannel();
}

// ---- Channel -------------------------------------------------------------------------

void Session::CloseChannel() {
  if (api_ && socket_ != kNoSocket) {
    if (cancel_on_close_ && api_->job_cancel) {
      api_->job_cancel(socket_);
      cancel_on_close_ = false;
    }
    api_->close_socket(socket_);
    socket_ = kNoSocket;
  }
  connected_ = false;
  read_buffer_.Clear();
}

void Session::FailChannel() {
  api_->close_socket(socket_);
  socket_ = kNoSocket;
  connected_ = false;
  read_buffer_.Clear();
}

std::uint32_t Session::ChannelReady() const {
  if (!api_) return result::kNoLibrary;
  if (!connected_) return result::kChannelNotOpen;
  return result::kSuccess;
}

std::uint32_t Session::SendRaw(std::span<const std::uint8_t> data) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    const int rc = api_->send(socket_, data.data() + sent, static_cast<int>(data.size() - sent));
    if (rc < 0) {
      FailChannel();
      return result::kChannelNotOpen;
    }
    if (rc == 0) return result::kPartialSend + static_cast<std::uint32_t>(sent);
    sent += std::min(static_cast<std::size_t>(rc), data.size() - sent);
  }
  return result::kSuccess;
}

std::uint32_t Session::TransmitPacket(std::span<const std::uint8_t> packet) {
  std::size_t sent = 0;
  while (sent < packet.size()) {
    const int rc =
        api_->send(socket_, packet.data() + sent, static_cast<int>(packet.size() - sent));
    if (rc < 0) {
      FailChannel();
      return result::kChannelNotOpen;
    }
    if (rc == 0) return result::kBusy;
    sent += std::min(static_cast<std::size_t>(rc), packet.size() - sent);
  }
  return result::kSuccess;
}

std::uint32_t Session::ReadChannel() {
  const std::uint32_t now = ticks_();
  if (last_active_read_ >= now) last_active_read_ = 0;
  const std::uint32_t elapsed = now - last_active_read_;
  const bool active = elapsed > kActivePollGapMs && (elapsed > kActivePollGapWithJobMs ||
                                                     api_->check_opened_job_ch(socket_) == 0);

  int value = api_->get_data_size(socket_, active ? kModeActivePoll : kModeCollect);
  if (value > 0) {
    std::vector<std::uint8_t> buffer(
        std::min(static_cast<std::size_t>(value), kLargestChannelRead));
    value = api_->recv(socket_, buffer.data(), static_cast<int>(buffer.size()));
    if (value < 0) {
      FailChannel();
    } else if (value > 0) {
      const std::size_t got = std::min(static_cast<std::size_t>(value), buffer.size());
      read_buffer_.Feed(std::span(buffer).first(got));
      mux_.Incoming(read_buffer_, links_);
    }
  }
  if (active) last_active_read_ = ticks_();
  return value < 0 ? result::kChannelNotOpen : result::kSuccess;
}

// ---- Commands ------------------------------------------------------------------------

void Session::Handle(ClientId client, std::span<const std::uint8_t> message,
                     std::vector<std::uint8_t>& replies) {
  ClientLink* link = FindLink(client);
  if (!link) link = Attach(client);
  const std::uint32_t code = MessageCode(message.data());
  const CommandInfo* info = FindCommand(code);
  if (!info) return;  // unknown codes get no reply
  if (!link) {
    AppendReply(replies, BlankReply(*info, info->refusal_result));
    return;
  }
  if (info->request_size != 0 && message.size() != info->request_size) {
    AppendReply(replies, BlankReply(*info, result::kMalformed));
    return;
  }

  // Commands whose request and reply sizes agree answer in a copy of the
  // request, so that input fields come back as sent; the others start blank.
  std::vector<std::uint8_t> reply;
  if (info->request_size == info->reply_size) {
    reply.assign(message.begin(), message.end());
  } else {
    reply = BlankReply(*info, result::kSuccess);
  }
  switch (code) {
    case code::kCreateSocket: CreateSocket(*link, reply); break;
    case code::kConnect: Connect(*link, reply); break;
    case code::kDeleteSocket: DeleteSocket(*link, reply); break;
    case code::kSend: Send(*link, message, reply); break;
    case code::kRecv: Recv(*link, message, reply); break;
    case code::kGetDataSizeInSocket: GetDataSize(*link, reply); break;
    case code::kSetPollingTime: SetMessageResult(reply.data(), result::kSuccess); break;
    case code::kSetTimeout: SetTimeout(reply); break;
    case code::kGetTimeout: GetTimeout(reply); break;
    case code::kGetChannelCapability: GetChannelCapability(message, reply); break;
    case code::kGetPacketSizeFromSocket: GetPacketSize(reply); break;
    case code::kCheckOpenedJobCH: CheckOpenedJobCh(reply); break;
  }
  AppendReply(replies, reply);
}

void Session::CreateSocket(ClientLink& link, std::vector<std::uint8_t>& reply) {
  std::uint32_t r = result::kSuccess;
  if (!api_) {
    r = result::kNoLibrary;
  } else if (socket_ == kNoSocket) {
    const std::uint16_t created = api_->create_socket();
    if (created == kNoSocket) {
      r = result::kChannelNotOpen;
    } else {
      socket_ = created;
      if (api_->bind(socket_, descriptor_.data()) != 0) {
        r = result::kChannelNotOpen;
      } else {
        socket_id_ = static_cast<std::uint8_t>(api_->get_socket_id(socket_));
      }
    }
  }
  SetMessageResult(reply.data(), r);
  StoreLe32(reply.data() + create_socket::kSocketId, socket_id_);
  if (r != result::kSuccess) Detach(link.socket);
}

void Session::Connect(ClientLink& link, std::vector<std::uint8_t>& reply) {
  if (!api_) {
    SetMessageResult(reply.data(), result::kNoLibrary);
    return;
  }
  if (connected_) {
    link.SetConnected(true);
    SetMessageResult(reply.data(), connect_result_);
    return;
  }
  if (socket_ == kNoSocket) {
    SetMessageResult(reply.data(), result::kChannelNotOpen);
    Detach(link.socket);
    return;
  }
  const int rc = api_->connect(socket_, descriptor_.data());
  if (rc == kConnectedWriteOnly || rc == kConnectedRaw) {
    api_->set_timeout(socket_, kChannelTimeoutMs, kChannelTimeoutMs);
    connect_result_ = result::kRawPort;
    connected_ = true;
  } else if (rc == kConnectedProtocol) {
    std::uint16_t sending = 0, receiving = 0;
    if (api_->get_packet_size(socket_, &sending, &receiving) == 0) {
      sending_packet_size_ = sending > kPacketHeaderSize ? sending - kPacketHeaderSize : 0;
      receiving_packet_size_ = receiving > kPacketHeaderSize ? receiving - kPacketHeaderSize : 0;
    } else {
      sending_packet_size_ = receiving_packet_size_ = kDefaultPacketSize;
    }
    api_->set_timeout(socket_, kChannelTimeoutMs, kChannelTimeoutMs);
    connect_result_ = result::kSuccess;
    connected_ = true;
  } else {
    connect_result_ = IsBusy(rc) ? result::kBusy : result::kChannelNotOpen;
  }
  SetMessageResult(reply.data(), connect_result_);
  if (connected_) {
    link.SetConnected(true);
  } else {
    Detach(link.socket);
  }
}

void Session::DeleteSocket(ClientLink& link, std::vector<std::uint8_t>& reply) {
  cancel_on_close_ = LoadLe32(reply.data() + delete_socket::kCancelFlag) != 0;
  link.SetConnected(false);
  const bool last = links_.size() == 1;
  SetMessageResult(reply.data(), last && !api_ ? result::kNoLibrary : result::kSuccess);
  Detach(link.socket);
}

void Session::Send(ClientLink& link, std::span<const std::uint8_t> request,
                   std::vector<std::uint8_t>& reply) {
  const std::uint32_t count = LoadLe32(request.data() + send::kCount);
  const auto data = request.subspan(send::kData, count);
  std::uint32_t r = count == 0 ? result::kSuccess : ChannelReady();
  if (count != 0 && r == result::kSuccess) {
    if (service_channel_ == kPrintJobChannel) {
      r = SendRaw(data);
    } else {
      r = mux_.Outgoing(link, data, links_,
                        [this](std::span<const std::uint8_t> p) { return TransmitPacket(p); });
    }
  }
  SetMessageResult(reply.data(), r);
}

void Session::Recv(ClientLink& link, std::span<const std::uint8_t> request,
                   std::vector<std::uint8_t>& reply) {
  std::uint32_t r = ChannelReady();
  if (r == result::kSuccess) r = ReadChannel();
  if (r == result::kSuccess) {
    const std::size_t wanted =
        std::min<std::size_t>(LoadLe32(request.data() + recv::kLargestCount), recv::kDataCapacity);
    const std::size_t count = link.queue.Take(reply.data() + recv::kData, wanted);
    StoreLe32(reply.data() + recv::kCount, static_cast<std::uint32_t>(count));
  }
  SetMessageResult(reply.data(), r);
}

void Session::GetDataSize(ClientLink& link, std::vector<std::uint8_t>& reply) {
  const std::uint32_t r = ChannelReady();
  if (r == result::kSuccess) {
    const int mode = static_cast<int>(LoadLe32(reply.data() + get_data_size::kMode));
    const int held = api_->get_data_size(socket_, mode);
    StoreLe32(reply.data() + get_data_size::kSize,
              static_cast<std::uint32_t>(held) + static_cast<std::uint32_t>(link.queue.size()));
  }
  SetMessageResult(reply.data(), r);
}

void Session::SetTimeout(std::vector<std::uint8_t>& reply) {
  std::uint32_t r = ChannelReady();
  if (r == result::kSuccess) {
    const std::uint32_t receive = LoadLe32(reply.data() + set_timeout::kReceiveTimeout);
    const std::uint32_t send = LoadLe32(reply.data() + set_timeout::kSendTimeout);
    if (api_->set_timeout(socket_, receive, send) != 1) r = result::kChannelCall;
  }
  SetMessageResult(reply.data(), r);
}

void Session::GetTimeout(std::vector<std::uint8_t>& reply) {
  std::uint32_t r = ChannelReady();
  if (r == result::kSuccess) {
    std::uint32_t receive = 0, send = 0;
    if (api_->get_timeout(socket_, &receive, &send) != 1) {
      r = result::kChannelCall;
    } else {
      StoreLe32(reply.data() + get_timeout::kReceiveTimeout, receive);
      StoreLe32(reply.data() + get_timeout::kSendTimeout, send);
    }
  }
  SetMessageResult(reply.data(), r);
}

void Session::GetChannelCapability(std::span<const std::uint8_t> request,
                                   std::vector<std::uint8_t>& reply) {
  namespace cap = get_channel_capability;
  std::uint32_t r = ChannelReady();
  if (r == result::kSuccess) {
    // Both lengths are limited to the message's data areas, so the channel
    // library never reads or writes beyond them.
    const std::uint32_t input_length = LoadLe32(request.data() + cap::kInputLength);
    const std::uint32_t capacity = std::min<std::uint32_t>(
        LoadLe32(request.data() + cap::kOutputCapacity), cap::kDataCapacity);
    std::uint32_t returned = 0;
    if (input_length > cap::kDataCapacity ||
        api_->get_channel_capability(socket_, LoadLe32(request.data() + cap::kControlCode),
                                     request.data() + cap::kInput, input_length,
                                     reply.data() + cap::kOutput, capacity, &returned) != 0) {
      r = result::kParameter;
    } else {
      StoreLe32(reply.data() + cap::kOutputLength, std::min(returned, capacity));
    }
  }
  SetMessageResult(reply.data(), r);
}

void Session::GetPacketSize(std::vector<std::uint8_t>& reply) {
  if (!connected_) {
    SetMessageResult(reply.data(), result::kChannelNotOpen);
    return;
  }
  StoreLe16(reply.data() + get_packet_size::kSendingSize, sending_packet_size_);
  StoreLe16(reply.data() + get_packet_size::kReceivingSize, receiving_packet_size_);
  SetMessageResult(reply.data(), result::kSuccess);
}

void Session::CheckOpenedJobCh(std::vector<std::uint8_t>& reply) {
  const std::uint32_t r = ChannelReady();
  if (r == result::kSuccess) {
    StoreLe32(reply.data() + check_opened_job_ch::kValue,
              static_cast<std::uint32_t>(api_->check_opened_job_ch(socket_)));
  }
  SetMessageResult(reply.data(), r);
}

}  // namespace tgx::agent
