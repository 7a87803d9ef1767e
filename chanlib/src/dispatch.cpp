#include "chanlib/dispatch.h"

#include "chanlib/credit.h"
#include "chanlib/result_codes.h"
#include "chanlib/ring.h"
#include "tgx/wire/packet_1284.h"

namespace tgx::chanlib {
namespace {

constexpr int kRestReads = 4;
constexpr int kReadsAfterError = 2;

// Writes a reply (or any host packet) on the transaction channel: it grants the
// printer one packet and uses one of the host's sending credits.
int SendOnTransactionChannel(PortChannels& port, const TransactionPacket& packet) {
  const int written = port.WritePacket(packet.view());
  if (written != static_cast<int>(packet.size)) return kProtocolFailure;
  if (const int tx = port.TransactionChannel(); tx != 0) {
    port.WithChannel(tx, [](ChannelRecord& record, std::span<std::byte>) {
      record.recv.credit = AddCredit(record.recv.credit, kHostTransactionCredit);
      record.send.credit = UseCredit(record.send.credit);
      return kOk;
    });
  }
  return kOk;
}

template <class Reply>
int Answer(PortChannels& port, const Reply& reply) {
  return SendOnTransactionChannel(port, EncodeTransaction(reply));
}

int AnswerCredit(PortChannels& port, const CreditCommand& command) {
  const int channel = port.FindChannel(command.primarySocket, command.secondarySocket);
  std::uint8_t result = kResultUnknownChannel;
  if (channel != 0) {
    port.WithChannel(channel, [&](ChannelRecord& record, std::span<std::byte>) {
      record.send.credit = AddCredit(record.send.credit, command.credit);
      return kOk;
    });
    result = kResultSuccess;
  }
  return Answer(port, CreditReply{result, command.primarySocket, command.secondarySocket});
}

int AnswerCreditRequest(PortChannels& port, const CreditRequestCommand& command) {
  const int channel = port.FindChannel(command.primarySocket, command.secondarySocket);
  CreditRequestReply reply{kResultUnknownChannel, command.primarySocket, command.secondarySocket,
                           0};
  if (channel != 0) {
    const int grant = port.WithChannel(channel, [&](ChannelRecord& record, std::span<std::byte>) {
      const std::uint16_t granted =
          CreditRequestGrant(record.recv.slotCount, record.recv.packetsHeld, record.recv.credit,
                             command.creditWanted, command.maxOutstandingCredit);
      record.recv.credit = AddCredit(record.recv.credit, granted);
      return int{granted};
    });
    reply.result = kResultSuccess;
    reply.credit = static_cast<std::uint16_t>(grant);
  }
  return Answer(port, reply);
}

bool IsExitCommand(std::span<const std::uint8_t> packet) {
  const PacketHeader header = DecodeHeader(packet);
  return header.primarySocket == 0 && header.secondarySocket == 0 &&
         TransactionCode(packet) == ExitCommand::kCode;
}

// The printer reported an error: the transaction channel gets fresh credit, an
// Exit that follows is answered, and the session is over.
int HandleError(PortChannels& port) {
  if (const int tx = port.TransactionChannel(); tx != 0) {
    port.WithChannel(tx, [](ChannelRecord& record, std::span<std::byte>) {
      record.recv.credit = 1;
      record.send.credit = 2;
      return kOk;
    });
  }
  std::vector<std::uint8_t> packet;
  for (int i = 0; i < kReadsAfterError; ++i) {
    if (ReadPacket(port, packet) < 0) break;
    if (IsExitCommand(packet)) Answer(port, ExitReply{kResultSuccess});
  }
  port.SetPortState(kPortPrinterError);
  return kSessionEnded;
}

int AnswerCommand(PortChannels& port, std::span<const std::uint8_t> packet, std::uint8_t code) {
  switch (code) {
    case InitCommand::kCode: return Answer(port, InitReply{kResultRefused, kHostRevision});
    case OpenChannelCommand::kCode: {
      const auto command = DecodeTransaction<OpenChannelCommand>(packet);
      if (!command) return kProtocolFailure;
      return Answer(port, OpenChannelReply{kResultRefused, command->primarySocket,
                                           command->secondarySocket, 0, 0, 0});
    }
    case CloseChannelCommand::kCode: {
      const auto command = DecodeTransaction<CloseChannelCommand>(packet);
      if (!command) return kProtocolFailure;
      return Answer(port, CloseChannelReply{kResultRefused, command->primarySocket,
                                            command->secondarySocket});
    }
    case CreditCommand::kCode: {
      const auto command = DecodeTransaction<CreditCommand>(packet);
      return command ? AnswerCredit(port, *command) : kProtocolFailure;
    }
    case CreditRequestCommand::kCode: {
      const auto command = DecodeTransaction<CreditRequestCommand>(packet);
      return command ? AnswerCreditRequest(port, *command) : kProtocolFailure;
    }
    case ExitCommand::kCode: Answer(port, ExitReply{kResultSuccess}); return kSessionEnded;
    case ErrorNotice::kCode: return HandleError(port);
    default: return kProtocolFailure;
  }
}

}  // namespace

bool IsServiceSocket(std::uint8_t secondarySocket) {
  return secondarySocket == 0x10 || secondarySocket == 0x20 || secondarySocket == 0x30;
}

int ReadPacket(PortReader& reader, std::vector<std::uint8_t>& packet) {
  packet.resize(kPacketHeaderSize);
  const int got = reader.Read(packet);
  if (got < 0) return got;
  if (got == 0) return kNothingRead;
  if (got < static_cast<int>(kPacketHeaderSize)) return kBrokenHeader;
  const std::size_t length = DecodeHeader(packet).length;
  if (length < kPacketHeaderSize) return kBrokenHeader;
  packet.resize(length);
  std::size_t have = kPacketHeaderSize;
  for (int i = 0; i < kRestReads && have < length; ++i) {
    const int more = reader.Read(std::span(packet).subspan(have));
    if (more < 0) break;
    have += static_cast<std::size_t>(more);
  }
  if (have < length) return kShortPacket;
  return static_cast<int>(length);
}

int PumpReadResult(int readResult) {
  switch (readResult) {
    case kPortNotOpen: return kSessionEnded;
    case kBrokenHeader:
    case kShortPacket: return kProtocolFailure;
    case kWorkerTimeout: return kWorkerTimeout;
    default: return readResult >= 0 ? readResult : kNothingRead;
  }
}

int DispatchPacket(PortChannels& port, std::span<const std::uint8_t> packet, int waitingChannel) {
  if (packet.size() < kPacketHeaderSize) return kProtocolFailure;
  const PacketHeader header = DecodeHeader(packet);
  const bool transaction = header.primarySocket == 0 && header.secondarySocket == 0;
  const int channel = transaction ? port.TransactionChannel()
                                  : port.FindChannel(header.primarySocket, header.secondarySocket);
  if (channel == 0)
    return IsServiceSocket(header.secondarySocket) ? kNothingRead : kProtocolFailure;

  const auto code = TransactionCode(packet);
  const bool command = transaction && code && (*code & kReplyBit) == 0;
  const bool holdsData = !command && packet.size() > kPacketHeaderSize;
  const int stored =
      port.WithChannel(channel, [&](ChannelRecord& record, std::span<std::byte> recvRing) {
        record.send.credit = AddCredit(record.send.credit, header.credit);
        record.recv.credit = UseCredit(record.recv.credit);
        if (!holdsData) return kOk;
        Ring ring(record.recv, recvRing, record.head.recvPacketSize);
        return ring.Store(packet);
      });
  if (stored < 0) return stored;
  if (command) return AnswerCommand(port, packet, *code);
  return holdsData && channel == waitingChannel ? static_cast<int>(packet.size()) : 0;
}

}  // namespace tgx::chanlib
