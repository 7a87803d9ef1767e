// The printer's side of one data path (the pty, a monitor connection or a TCP
// connection): bytes from the host go in, bytes for the host come out. A raw
// printer sinks everything; a packet-protocol printer parses packets, answers
// the transaction channel, keeps credit in both directions, sinks the print-job
// channel and answers management packets.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "printer.h"
#include "printersim/device_packet.h"
#include "printersim/packet.h"
#include "scheduler.h"

namespace printersim {

// Kinds of broken packet the printer can be told to send.
enum class MalformedKind {
  kShortLength,     // a header whose length is below the header size
  kTruncated,       // a header announcing more bytes than follow
  kUnknownCommand,  // a transaction packet with an unknown command code
};

class Session {
 public:
  using HostWriter = std::function<void(std::span<const std::uint8_t>)>;

  // `link` names the data path in traces ("pty", "tcp#3", "monitor#1").
  Session(Printer& printer, std::string link, HostWriter to_host);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Bytes written by the host.
  void FromHost(std::span<const std::uint8_t> bytes);
  // The host let go of the data path: a raw job ends, packet state is forgotten.
  void HostClosed();

  // Printer-initiated traffic (faults and tests).
  void SendError(std::uint8_t code);
  void SendExit();
  void SendInit(std::uint8_t revision);
  void SendOpenChannel(std::uint8_t primary_socket, std::uint8_t secondary_socket);
  void SendCloseChannel(std::uint8_t primary_socket, std::uint8_t secondary_socket);
  void SendCredit(std::uint8_t primary_socket, std::uint8_t secondary_socket, std::uint16_t credit);
  void SendCreditRequest(std::uint8_t primary_socket, std::uint8_t secondary_socket,
                         std::uint16_t wanted);
  void SendMalformed(MalformedKind kind);
  // Queues an opcode-10 notification on every open management channel; returns the count.
  unsigned Notify(std::span<const std::uint8_t> payload);
  // Re-applies the printer's credit policy to every open channel.
  void ApplyCreditPolicy();

  bool initialized() const { return initialized_; }
  std::size_t open_channels() const { return channels_.size(); }

 private:
  using ChannelKey = std::pair<std::uint8_t, std::uint8_t>;  // primary, secondary
  // The counters of one secondary socket ("channel.XX.*").
  struct ChannelCounters {
    std::uint64_t* packets_in = nullptr;
    std::uint64_t* bytes_in = nullptr;
    std::uint64_t* packets_out = nullptr;
    std::uint64_t* bytes_out = nullptr;
  };
  struct Channel {
    std::uint8_t primary_socket = 0;
    std::uint8_t secondary_socket = 0;
    std::uint16_t host_to_printer_size = packet::kTransactionPacketSize;
    std::uint16_t printer_to_host_size = packet::kTransactionPacketSize;
    std::uint32_t host_credit = 0;      // granted to the host, not yet used
    std::uint32_t printer_credit = 0;   // granted by the host, not yet used
    std::deque<std::uint8_t> outgoing;  // management bytes waiting for credit
    bool credit_request_pending = false;
    bool credit_command_outstanding = false;
    devpkt::Splitter splitter{devpkt::Answers::kAccepted};
    ChannelCounters counters;
  };

  void FromHostRaw(std::span<const std::uint8_t> bytes);
  void FromHostPackets(std::span<const std::uint8_t> bytes);
  void HandlePacket(std::span<const std::uint8_t> packet);
  void HandleTransaction(std::span<const std::uint8_t> packet);
  void HandleCommand(std::uint8_t code, std::span<const std::uint8_t> packet);
  void HandleReply(std::uint8_t code, std::span<const std::uint8_t> packet);
  void HandleData(Channel& channel, std::span<const std::uint8_t> payload);
  void HandleManagement(Channel& channel, std::span<const std::uint8_t> payload);

  std::vector<std::uint8_t> ReplyTo(std::uint8_t code, std::span<const std::uint8_t> packet);
  std::vector<std::uint8_t> OpenChannelReply(const packet::OpenChannel& request);
  std::uint16_t CreditGrant(const Channel& channel, std::uint16_t wanted) const;
  void GrantAfterConsuming(Channel& channel);

  // Transaction packets wait for the host's credit, replies before the printer's
  // own commands; data waits per channel.
  enum class TransactionKind { kReply, kCommand };
  void QueueTransaction(std::vector<std::uint8_t> packet, TransactionKind kind);
  void SendReply(std::vector<std::uint8_t> packet);
  void FlushTransactions();
  void QueueChannelData(const ChannelKey& key, std::span<const std::uint8_t> bytes);
  void FlushChannel(Channel& channel);

  void Write(std::span<const std::uint8_t> packet);
  void Reset();
  void CloseChannel(const ChannelKey& key);
  void CheckPacketFaults();
  Channel* FindChannel(const ChannelKey& key);
  ChannelCounters CountersFor(std::uint8_t secondary_socket);

  Printer& printer_;
  std::uint64_t& bytes_in_;
  std::uint64_t& bytes_out_;
  std::uint64_t& packets_in_;
  std::uint64_t& packets_out_;
  std::string link_;
  HostWriter to_host_;
  TimerGroup timers_;

  // Bytes of an unfinished packet, and bytes still to skip of an oversized one.
  std::vector<std::uint8_t> pending_;
  std::size_t skip_ = 0;
  bool initialized_ = false;
  bool errored_ = false;  // after an Error packet: only Exit and Init are taken
  std::uint64_t packets_from_host_ = 0;
  Channel transaction_;
  std::deque<std::vector<std::uint8_t>> queued_replies_;
  std::deque<std::vector<std::uint8_t>> queued_commands_;
  std::map<ChannelKey, Channel> channels_;
  bool raw_job_open_ = false;
};

}  // namespace printersim
