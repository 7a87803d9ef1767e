#include "session.h"

#include <algorithm>
#include <cstdio>

namespace printersim {
namespace {

using packet::Command;

constexpr std::uint8_t Code(Command c) { return static_cast<std::uint8_t>(c); }
constexpr std::uint8_t ReplyCode(Command c) {
  return static_cast<std::uint8_t>(Code(c) | packet::kReplyBit);
}

// Every command and reply of the printer grants the host one packet, as the
// host does: that is the credit the other side needs for its answer.
constexpr std::uint8_t kTransactionCredit = 1;

// Retry pause after the host granted no credit to a CreditRequest.
constexpr Millis kCreditRetry{20};

// Management bytes a channel may hold while the host grants no credit.
constexpr std::size_t kMaxQueuedPerChannel = 256 * 1024;

std::string ChannelCounter(std::uint8_t secondary_socket, const char* what) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "channel.%02X.%s", secondary_socket, what);
  return buf;
}

bool IsManagementSocket(std::uint8_t secondary_socket) {
  return secondary_socket == packet::kSharedManagementSocket ||
         secondary_socket == packet::kManagementSocket;
}

}  // namespace

Session::Session(Printer& printer, std::string link, HostWriter to_host)
    : printer_(printer),
      bytes_in_(printer.counters().Slot("host.bytes_in")),
      bytes_out_(printer.counters().Slot("host.bytes_out")),
      packets_in_(printer.counters().Slot("host.packets_in")),
      packets_out_(printer.counters().Slot("host.packets_out")),
      link_(std::move(link)),
      to_host_(std::move(to_host)),
      timers_(printer.scheduler()) {
  transaction_.host_credit = packet::kTransactionInitialCredit;
  transaction_.printer_credit = packet::kTransactionInitialCredit;
  transaction_.counters = CountersFor(packet::kTransactionSocket);
  printer_.Attach(this);
}

Session::~Session() {
  timers_.CancelAll();
  if (raw_job_open_) printer_.sink().EndJob(false);
  for (auto& [key, channel] : channels_) {
    if (key.second == packet::kPrintJobSocket) printer_.sink().EndJob(false);
  }
  printer_.Detach(this);
}

void Session::FromHost(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return;
  bytes_in_ += bytes.size();
  if (printer_.packet_protocol()) {
    FromHostPackets(bytes);
  } else {
    FromHostRaw(bytes);
  }
}

void Session::FromHostRaw(std::span<const std::uint8_t> bytes) {
  if (!raw_job_open_) {
    printer_.sink().BeginJob();
    raw_job_open_ = true;
  }
  printer_.sink().Write(bytes);
}

void Session::HostClosed() {
  if (raw_job_open_) {
    printer_.sink().EndJob(false);
    raw_job_open_ = false;
  }
  if (!printer_.packet_protocol()) return;
  Reset();
  initialized_ = false;
  pending_.clear();
  skip_ = 0;
}

// Splits the stream into packets. Whole packets are handled straight from the
// caller's bytes; only an unfinished tail is kept.
void Session::FromHostPackets(std::span<const std::uint8_t> bytes) {
  std::span<const std::uint8_t> data = bytes;
  const bool buffered = !pending_.empty();
  if (buffered) {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    data = pending_;
  }
  std::size_t offset = 0;
  while (offset < data.size()) {
    const std::size_t remaining = data.size() - offset;
    if (skip_ > 0) {
      const std::size_t n = std::min(skip_, remaining);
      skip_ -= n;
      offset += n;
      continue;
    }
    if (remaining < packet::kPacketHeaderSize) break;
    const packet::Header header = packet::ReadHeader(&data[offset]);
    if (header.length < packet::kPacketHeaderSize) {
      // Nothing tells where the next packet starts: drop what is buffered.
      printer_.Violation("short_length", "packet length " + std::to_string(header.length));
      SendError(packet::kErrorMalformedHeader);
      offset = data.size();
      break;
    }
    const bool transaction = header.primary_socket == packet::kTransactionSocket &&
                             header.secondary_socket == packet::kTransactionSocket;
    const Channel* channel =
        transaction ? &transaction_ : FindChannel({header.primary_socket, header.secondary_socket});
    if (channel != nullptr && header.length > channel->host_to_printer_size) {
      printer_.Violation("oversize", "packet length " + std::to_string(header.length) +
                                         " beyond the channel's " +
                                         std::to_string(channel->host_to_printer_size));
      SendError(packet::kErrorPacketTooLarge);
      skip_ = header.length;
      continue;
    }
    if (remaining < header.length) break;
    HandlePacket(data.subspan(offset, header.length));
    offset += header.length;
  }
  if (buffered) {
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(offset));
  } else {
    pending_.assign(data.begin() + static_cast<std::ptrdiff_t>(offset), data.end());
  }
}

void Session::HandlePacket(std::span<const std::uint8_t> bytes) {
  const packet::Header header = packet::ReadHeader(bytes.data());
  if (printer_.tracing()) printer_.Trace(link_ + " host>printer " + packet::DescribePacket(bytes));
  const bool transaction = header.primary_socket == packet::kTransactionSocket &&
                           header.secondary_socket == packet::kTransactionSocket;
  Channel* channel =
      transaction ? &transaction_ : FindChannel({header.primary_socket, header.secondary_socket});
  const ChannelCounters counted =
      channel != nullptr ? channel->counters : CountersFor(header.secondary_socket);
  ++packets_in_;
  ++*counted.packets_in;
  *counted.bytes_in += bytes.size() - packet::kPacketHeaderSize;
  if (header.control != 0) {
    printer_.Violation("bad_control", "control byte " + std::to_string(header.control));
    return;
  }
  const std::uint8_t code =
      transaction && bytes.size() > packet::kCommandOffset ? bytes[packet::kCommandOffset] : 0xFF;
  const bool init = transaction && code == Code(Command::kInit);
  const bool exit = transaction && code == Code(Command::kExit);
  if (init) {
    // Init starts a conversation: the transaction channel's credit starts afresh.
    transaction_.host_credit = packet::kTransactionInitialCredit;
    transaction_.printer_credit = packet::kTransactionInitialCredit;
    packets_from_host_ = 0;
  }
  ++packets_from_host_;
  if (!initialized_ && !init && !exit) {
    printer_.Violation("before_init", packet::DescribePacket(bytes));
    return;
  }
  if (errored_ && !init && !exit) {
    printer_.counters().Add("dropped_after_error");
    return;
  }
  if (channel == nullptr) {
    printer_.Violation("unknown_channel", packet::DescribePacket(bytes));
    return;
  }
  if (channel->host_credit == 0) {
    printer_.Violation("no_credit", packet::DescribePacket(bytes));
  } else {
    --channel->host_credit;
  }
  channel->printer_credit += header.credit;
  if (transaction) {
    HandleTransaction(bytes);
  } else {
    const ChannelKey key{header.primary_socket, header.secondary_socket};
    HandleData(*channel, bytes.subspan(packet::kPacketHeaderSize));
    // Handling may have closed the channel (a fault); look it up again.
    if (Channel* still = FindChannel(key)) FlushChannel(*still);
  }
  FlushTransactions();
  CheckPacketFaults();
}

void Session::CheckPacketFaults() {
  const FaultState& faults = printer_.faults();
  if (faults.error_after_packets && packets_from_host_ == *faults.error_after_packets) {
    SendError(packet::kErrorInjected);
  }
  if (faults.exit_after_packets && packets_from_host_ == *faults.exit_after_packets) {
    SendExit();
  }
}

void Session::HandleTransaction(std::span<const std::uint8_t> bytes) {
  if (bytes.size() <= packet::kCommandOffset) {
    printer_.Violation("empty_transaction", packet::DescribePacket(bytes));
    return;
  }
  const std::uint8_t code = bytes[packet::kCommandOffset];
  const auto expected = packet::FixedLength(code);
  if (!expected || code == Code(Command::kError)) {
    printer_.Violation("unknown_command", packet::DescribePacket(bytes));
    return;
  }
  if (bytes.size() != *expected) {
    printer_.Violation("bad_command_length", packet::DescribePacket(bytes));
    return;
  }
  if (code & packet::kReplyBit) {
    HandleReply(code, bytes);
  } else {
    printer_.counters().Add("command." + packet::CommandName(code));
    HandleCommand(code, bytes);
  }
}

void Session::HandleCommand(std::uint8_t code, std::span<const std::uint8_t> bytes) {
  switch (code) {
    case Code(Command::kInit): {
      const packet::Init init = packet::DecodeInit(bytes);
      const auto wanted = printer_.config().revision;
      if (wanted && init.revision != *wanted) {
        SendReply(packet::Encode(packet::InitReply{packet::kResultRevisionUnsupported, *wanted},
                                 kTransactionCredit));
        return;
      }
      Reset();
      initialized_ = true;
      SendReply(packet::Encode(packet::InitReply{packet::kResultSuccess, init.revision},
                               kTransactionCredit));
      return;
    }
    case Code(Command::kOpenChannel):
      SendReply(OpenChannelReply(packet::DecodeOpenChannel(bytes)));
      return;
    case Code(Command::kCloseChannel): {
      const packet::ChannelRef ref = packet::DecodeChannelRef(bytes);
      const ChannelKey key{ref.primary_socket, ref.secondary_socket};
      const bool open = FindChannel(key) != nullptr;
      if (open) CloseChannel(key);
      SendReply(packet::EncodeCloseChannelReply(
          {open ? packet::kResultSuccess : packet::kResultUnknownChannel, ref.primary_socket,
           ref.secondary_socket},
          kTransactionCredit));
      return;
    }
    case Code(Command::kCredit): {
      const packet::Credit credit = packet::DecodeCredit(bytes);
      Channel* channel = FindChannel({credit.primary_socket, credit.secondary_socket});
      if (channel != nullptr) channel->printer_credit += credit.credit;
      SendReply(packet::EncodeCreditReply(
          {channel ? packet::kResultSuccess : packet::kResultUnknownChannel, credit.primary_socket,
           credit.secondary_socket},
          kTransactionCredit));
      if (channel != nullptr) FlushChannel(*channel);
      return;
    }
    case Code(Command::kCreditRequest): {
      const packet::CreditRequest request = packet::DecodeCreditRequest(bytes);
      Channel* channel = FindChannel({request.primary_socket, request.secondary_socket});
      printer_.counters().Add("credit.requests");
      std::uint16_t grant = 0;
      if (channel != nullptr) {
        std::uint16_t wanted = request.wanted;
        if (wanted == 0xFFFF && request.max_outstanding != 0 && request.max_outstanding != 0xFFFF) {
          wanted = request.max_outstanding;
        }
        grant = CreditGrant(*channel, wanted);
        channel->host_credit += grant;
        printer_.counters().Add("credit.granted", grant);
      }
      SendReply(packet::Encode(
          packet::CreditRequestReply{
              channel ? packet::kResultSuccess : packet::kResultUnknownChannel,
              request.primary_socket, request.secondary_socket, grant},
          kTransactionCredit));
      return;
    }
    case Code(Command::kExit):
      Reset();
      initialized_ = false;
      SendReply(packet::Encode(packet::ExitReply{packet::kResultSuccess}, kTransactionCredit));
      return;
    default: printer_.Violation("unknown_command", packet::DescribePacket(bytes));
  }
}

void Session::HandleReply(std::uint8_t code, std::span<const std::uint8_t> bytes) {
  Counters& counters = printer_.counters();
  const std::string name = packet::CommandName(code);
  counters.Add("reply." + name);
  counters.Set("reply." + name + ".result", bytes[packet::kCommandOffset + 1]);
  switch (code) {
    case ReplyCode(Command::kCredit): {
      const packet::ChannelResult result = packet::DecodeChannelResult(bytes);
      if (Channel* channel = FindChannel({result.primary_socket, result.secondary_socket})) {
        channel->credit_command_outstanding = false;
      }
      return;
    }
    case ReplyCode(Command::kCreditRequest): {
      const packet::CreditRequestReply reply = packet::DecodeCreditRequestReply(bytes);
      const ChannelKey key{reply.primary_socket, reply.secondary_socket};
      Channel* channel = FindChannel(key);
      if (channel == nullptr) return;
      if (reply.credit > 0) {
        channel->printer_credit += reply.credit;
        channel->credit_request_pending = false;
        FlushChannel(*channel);
      } else {
        // The host has no room yet: ask again a little later.
        timers_.After(kCreditRetry, [this, key] {
          if (Channel* again = FindChannel(key)) {
            again->credit_request_pending = false;
            FlushChannel(*again);
            FlushTransactions();
          }
        });
      }
      return;
    }
    case ReplyCode(Command::kExit):
      // The host accepted the printer's Exit: the conversation is over.
      Reset();
      initialized_ = false;
      return;
    default: return;
  }
}

std::vector<std::uint8_t> Session::OpenChannelReply(const packet::OpenChannel& request) {
  packet::OpenChannelReply reply;
  reply.primary_socket = request.primary_socket;
  reply.secondary_socket = request.secondary_socket;
  const auto& refuse = printer_.faults().refuse_channel;
  if (auto it = refuse.find(request.secondary_socket); it != refuse.end()) {
    printer_.counters().Add("channels.refused");
    reply.result = it->second;
    return packet::Encode(reply, kTransactionCredit);
  }
  const std::uint16_t max = printer_.config().max_packet;
  const std::uint16_t to_printer = std::min(request.max_host_to_printer, max);
  const std::uint16_t to_host = std::min(request.max_printer_to_host, max);
  if (to_printer <= packet::kPacketHeaderSize || to_host <= packet::kPacketHeaderSize) {
    printer_.Violation("bad_packet_size", "OpenChannel sizes " +
                                              std::to_string(request.max_host_to_printer) + "/" +
                                              std::to_string(request.max_printer_to_host));
    reply.result = packet::kResultInsufficientResources;
    return packet::Encode(reply, kTransactionCredit);
  }
  const ChannelKey key{request.primary_socket, request.secondary_socket};
  if (FindChannel(key) != nullptr) CloseChannel(key);
  Channel& channel = channels_[key];
  channel.primary_socket = request.primary_socket;
  channel.secondary_socket = request.secondary_socket;
  channel.host_to_printer_size = to_printer;
  channel.printer_to_host_size = to_host;
  channel.counters = CountersFor(request.secondary_socket);
  channel.host_credit = CreditGrant(channel, 0xFFFF);
  printer_.counters().Add("channels.opened");
  printer_.counters().Add("credit.granted", channel.host_credit);
  if (request.secondary_socket == packet::kPrintJobSocket) printer_.sink().BeginJob();
  reply.result = packet::kResultSuccess;
  reply.host_to_printer_size = to_printer;
  reply.printer_to_host_size = to_host;
  reply.credit = static_cast<std::uint16_t>(channel.host_credit);
  return packet::Encode(reply, kTransactionCredit);
}

std::uint16_t Session::CreditGrant(const Channel& channel, std::uint16_t wanted) const {
  std::uint32_t grant = 0;
  switch (printer_.faults().credit) {
    case CreditPolicy::kGenerous: {
      const std::uint32_t window = printer_.config().credit_window;
      grant = channel.host_credit < window ? window - channel.host_credit : 0;
      break;
    }
    case CreditPolicy::kOneAtATime: grant = channel.host_credit == 0 ? 1 : 0; break;
    case CreditPolicy::kWithheld: grant = 0; break;
  }
  return static_cast<std::uint16_t>(std::min<std::uint32_t>(grant, wanted));
}

// After consuming a packet the printer has room again and says so with a
// Credit command, one outstanding per channel.
void Session::GrantAfterConsuming(Channel& channel) {
  if (channel.credit_command_outstanding) return;
  const bool low = printer_.faults().credit == CreditPolicy::kGenerous
                       ? channel.host_credit <= printer_.config().credit_window / 2u
                       : channel.host_credit == 0;
  if (!low) return;
  const std::uint16_t grant = CreditGrant(channel, 0xFFFF);
  if (grant == 0) return;
  SendCredit(channel.primary_socket, channel.secondary_socket, grant);
}

void Session::ApplyCreditPolicy() {
  for (auto& [key, channel] : channels_) GrantAfterConsuming(channel);
  FlushTransactions();
}

void Session::HandleData(Channel& channel, std::span<const std::uint8_t> payload) {
  if (channel.secondary_socket == packet::kPrintJobSocket) {
    printer_.sink().Write(payload);
  } else if (IsManagementSocket(channel.secondary_socket)) {
    HandleManagement(channel, payload);
  }
  GrantAfterConsuming(channel);
}

void Session::HandleManagement(Channel& channel, std::span<const std::uint8_t> payload) {
  const ChannelKey key{channel.primary_socket, channel.secondary_socket};
  channel.splitter.Feed(payload);
  std::vector<std::uint8_t> request;
  for (;;) {
    const auto status = channel.splitter.Next(request);
    if (status == devpkt::Splitter::Status::kNeedMore) return;
    if (status == devpkt::Splitter::Status::kBroken) {
      printer_.Violation("bad_device_packet", "management stream on channel " +
                                                  std::to_string(channel.secondary_socket) +
                                                  " lost its framing");
      return;
    }
    auto answer = printer_.AnswerManagement(request);
    if (!answer) continue;
    const Millis delay = printer_.AnswerDelay();
    if (delay.count() == 0) {
      QueueChannelData(key, *answer);
    } else {
      timers_.After(delay, [this, key, bytes = std::move(*answer)] {
        QueueChannelData(key, bytes);
        FlushTransactions();
      });
    }
  }
}

void Session::SendReply(std::vector<std::uint8_t> bytes) {
  const unsigned slow_ms = printer_.faults().slow_ms;
  if (slow_ms == 0) {
    QueueTransaction(std::move(bytes), TransactionKind::kReply);
    return;
  }
  timers_.After(Millis(slow_ms), [this, reply = std::move(bytes)]() mutable {
    QueueTransaction(std::move(reply), TransactionKind::kReply);
  });
}

void Session::QueueTransaction(std::vector<std::uint8_t> bytes, TransactionKind kind) {
  (kind == TransactionKind::kReply ? queued_replies_ : queued_commands_)
      .push_back(std::move(bytes));
  FlushTransactions();
}

void Session::FlushTransactions() {
  while (transaction_.printer_credit > 0 &&
         (!queued_replies_.empty() || !queued_commands_.empty())) {
    auto& queue = queued_replies_.empty() ? queued_commands_ : queued_replies_;
    std::vector<std::uint8_t> bytes = std::move(queue.front());
    queue.pop_front();
    --transaction_.printer_credit;
    transaction_.host_credit += bytes[packet::kCreditOffset];
    Write(bytes);
  }
}

void Session::QueueChannelData(const ChannelKey& key, std::span<const std::uint8_t> bytes) {
  Channel* channel = FindChannel(key);
  if (channel == nullptr) {
    printer_.counters().Add("mgmt.answers_dropped");
    return;
  }
  if (channel->outgoing.size() + bytes.size() > kMaxQueuedPerChannel) {
    // A host that never grants credit must not make the printer grow without bound.
    printer_.counters().Add("mgmt.answers_dropped");
    return;
  }
  channel->outgoing.insert(channel->outgoing.end(), bytes.begin(), bytes.end());
  FlushChannel(*channel);
}

void Session::FlushChannel(Channel& channel) {
  const std::size_t room = channel.printer_to_host_size - packet::kPacketHeaderSize;
  std::vector<std::uint8_t> payload;
  while (!channel.outgoing.empty() && channel.printer_credit > 0) {
    const std::size_t n = std::min(room, channel.outgoing.size());
    payload.assign(channel.outgoing.begin(),
                   channel.outgoing.begin() + static_cast<std::ptrdiff_t>(n));
    channel.outgoing.erase(channel.outgoing.begin(),
                           channel.outgoing.begin() + static_cast<std::ptrdiff_t>(n));
    --channel.printer_credit;
    Write(packet::EncodeData(channel.primary_socket, channel.secondary_socket, 0, payload));
  }
  if (!channel.outgoing.empty() && channel.printer_credit == 0 && !channel.credit_request_pending) {
    channel.credit_request_pending = true;
    const auto packets = static_cast<std::uint16_t>(
        std::min<std::size_t>((channel.outgoing.size() + room - 1) / room, 0xFFFF));
    SendCreditRequest(channel.primary_socket, channel.secondary_socket, packets);
  }
}

unsigned Session::Notify(std::span<const std::uint8_t> payload) {
  devpkt::Header header;
  header.opcode = devpkt::kOpNotification;
  const std::vector<std::uint8_t> notification = devpkt::Encode(header, payload);
  std::vector<ChannelKey> keys;
  for (const auto& [key, channel] : channels_) {
    if (IsManagementSocket(key.second)) keys.push_back(key);
  }
  for (const ChannelKey& key : keys) QueueChannelData(key, notification);
  FlushTransactions();
  return static_cast<unsigned>(keys.size());
}

void Session::SendError(std::uint8_t code) {
  printer_.counters().Add("sent.Error");
  // An Error goes out whatever the credit; afterwards both sides start the
  // transaction channel over as the host does (it grants 1, keeps 2).
  Write(packet::Encode(packet::Error{0, 0, code}, 0));
  errored_ = true;
  queued_replies_.clear();
  queued_commands_.clear();
  transaction_.printer_credit = 1;
  transaction_.host_credit = packet::kTransactionInitialCredit;
}

void Session::SendExit() {
  printer_.counters().Add("sent.Exit");
  QueueTransaction(packet::EncodeExit(kTransactionCredit), TransactionKind::kCommand);
}

void Session::SendInit(std::uint8_t revision) {
  printer_.counters().Add("sent.Init");
  QueueTransaction(packet::Encode(packet::Init{revision}, kTransactionCredit),
                   TransactionKind::kCommand);
}

void Session::SendOpenChannel(std::uint8_t primary_socket, std::uint8_t secondary_socket) {
  printer_.counters().Add("sent.OpenChannel");
  const std::uint16_t size = printer_.config().max_packet;
  QueueTransaction(packet::Encode(packet::OpenChannel{primary_socket, secondary_socket, size, size,
                                                      0xFFFF, 0xFFFF},
                                  kTransactionCredit),
                   TransactionKind::kCommand);
}

void Session::SendCloseChannel(std::uint8_t primary_socket, std::uint8_t secondary_socket) {
  printer_.counters().Add("sent.CloseChannel");
  QueueTransaction(
      packet::EncodeCloseChannel({primary_socket, secondary_socket}, kTransactionCredit),
      TransactionKind::kCommand);
}

void Session::SendCredit(std::uint8_t primary_socket, std::uint8_t secondary_socket,
                         std::uint16_t credit) {
  printer_.counters().Add("sent.Credit");
  if (Channel* channel = FindChannel({primary_socket, secondary_socket})) {
    channel->host_credit += credit;
    channel->credit_command_outstanding = true;
    printer_.counters().Add("credit.granted", credit);
  }
  QueueTransaction(
      packet::Encode(packet::Credit{primary_socket, secondary_socket, credit}, kTransactionCredit),
      TransactionKind::kCommand);
}

void Session::SendCreditRequest(std::uint8_t primary_socket, std::uint8_t secondary_socket,
                                std::uint16_t wanted) {
  printer_.counters().Add("sent.CreditRequest");
  QueueTransaction(
      packet::Encode(packet::CreditRequest{primary_socket, secondary_socket, wanted, wanted},
                     kTransactionCredit),
      TransactionKind::kCommand);
}

void Session::SendMalformed(MalformedKind kind) {
  printer_.counters().Add("sent.malformed");
  switch (kind) {
    case MalformedKind::kShortLength: {
      std::vector<std::uint8_t> bytes(packet::kPacketHeaderSize);
      packet::WriteHeader(bytes.data(), packet::Header{0, 0, 3, 0, 0});
      Write(bytes);
      return;
    }
    case MalformedKind::kTruncated: {
      // Announces 40 bytes, delivers a Credit command's 11.
      std::vector<std::uint8_t> bytes = packet::Encode(packet::Credit{0, 0, 0}, 0);
      packet::WriteHeader(bytes.data(), packet::Header{0, 0, 40, 0, 0});
      Write(bytes);
      return;
    }
    case MalformedKind::kUnknownCommand: {
      std::vector<std::uint8_t> bytes(packet::kCommandOffset + 1);
      packet::WriteHeader(
          bytes.data(),
          packet::Header{0, 0, static_cast<std::uint16_t>(bytes.size()), kTransactionCredit, 0});
      bytes[packet::kCommandOffset] = 0x55;
      QueueTransaction(std::move(bytes), TransactionKind::kCommand);
      return;
    }
  }
}

void Session::Write(std::span<const std::uint8_t> bytes) {
  if (bytes.size() >= packet::kPacketHeaderSize) {
    const ChannelCounters counted = CountersFor(bytes[packet::kSecondarySocketOffset]);
    ++packets_out_;
    ++*counted.packets_out;
    *counted.bytes_out += bytes.size() - packet::kPacketHeaderSize;
  }
  bytes_out_ += bytes.size();
  if (printer_.tracing()) printer_.Trace(link_ + " printer>host " + packet::DescribePacket(bytes));
  to_host_(bytes);
}

void Session::Reset() {
  std::vector<ChannelKey> keys;
  for (const auto& [key, channel] : channels_) keys.push_back(key);
  for (const ChannelKey& key : keys) CloseChannel(key);
  queued_replies_.clear();
  queued_commands_.clear();
  timers_.CancelAll();
  errored_ = false;
}

void Session::CloseChannel(const ChannelKey& key) {
  if (key.second == packet::kPrintJobSocket) printer_.sink().EndJob(false);
  channels_.erase(key);
  printer_.counters().Add("channels.closed");
}

Session::ChannelCounters Session::CountersFor(std::uint8_t secondary_socket) {
  Counters& counters = printer_.counters();
  return ChannelCounters{&counters.Slot(ChannelCounter(secondary_socket, "packets_in")),
                         &counters.Slot(ChannelCounter(secondary_socket, "bytes_in")),
                         &counters.Slot(ChannelCounter(secondary_socket, "packets_out")),
                         &counters.Slot(ChannelCounter(secondary_socket, "bytes_out"))};
}

Session::Channel* Session::FindChannel(const ChannelKey& key) {
  auto it = channels_.find(key);
  return it == channels_.end() ? nullptr : &it->second;
}

}  // namespace printersim
