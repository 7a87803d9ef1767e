#include "engine.h"

#include <algorithm>
#include <cstring>

#include "chanlib/credit.h"
#include "chanlib/device_id.h"
#include "chanlib/dispatch.h"
#include "chanlib/result_codes.h"
#include "chanlib/ring.h"
#include "port_requests.h"
#include "records.h"
#include "tgx/named_objects.h"

namespace tgx::chanlib {
namespace {

constexpr DWORD kDeviceIdCodeNt = 0x16000C;
constexpr DWORD kDeviceIdCode9x = 17;
constexpr DWORD kErrorCrc = 23;  // ERROR_CRC

// The bytes of a ring's allocation; empty when it has none.
std::span<std::byte> RingBytes(SharedSet& set, const RingDescriptor& ring) {
  if (ring.allocation < 0) return {};
  NamedMutexLock lock(set.buffersMutex());
  const PoolView* pool = set.PoolAt(ring.pool);
  return pool ? AllocationBytes(*pool, ring.allocation) : std::span<std::byte>{};
}

// The locator of a ring's allocation (its first block).
std::int32_t RingLocator(SharedSet& set, const RingDescriptor& ring) {
  NamedMutexLock lock(set.buffersMutex());
  const PoolView* pool = set.PoolAt(ring.pool);
  if (pool == nullptr || ring.allocation < 0 || ring.allocation >= kBlocksPerPool) return -1;
  const AllocEntry entry = pool->table[static_cast<std::size_t>(ring.allocation)];
  return BufferLocator{ring.pool, entry.firstBlock}.value();
}

void FreeRing(SharedSet& set, RingDescriptor& ring) {
  if (ring.allocation < 0) return;
  NamedMutexLock lock(set.buffersMutex());
  if (const PoolView* pool = set.PoolAt(ring.pool)) {
    FreeBlocks(*pool, ring.allocation);
    set.FlushPool(ring.pool);
  }
  ring.allocation = -1;
}

// The dispatcher's view of one port of the shared table.
class SharedPort : public PortChannels {
 public:
  SharedPort(SharedSet& set, int port) : set_(set), port_(port) {}

  int Read(std::span<std::uint8_t> into) override { return PortRead(set_, port_, into); }
  int TransactionChannel() override {
    return static_cast<int>(LoadPort(set_, port_).transactionChannel.get());
  }
  int FindChannel(std::uint8_t primarySocket, std::uint8_t secondarySocket) override {
    NamedMutexLock lock(set_.channelRecordsMutex());
    for (int n = kFirstChannel; n <= kLastChannel; ++n) {
      const ChannelHead& head = set_.table().channel(n).head;
      if (head.inUse == 1 && head.primarySocket == primarySocket &&
          head.secondarySocket == secondarySocket) {
        return n;
      }
    }
    return 0;
  }
  int WithChannel(int channel, const ChannelUpdate& update) override {
    NamedMutexLock channelLock(set_.channelLock(channel));
    ChannelRecord record = LoadChannel(set_, channel);
    const std::span<std::byte> ring = RingBytes(set_, record.recv);
    const int result = update(record, ring);
    UpdateChannel(set_, channel, [&](ChannelRecord& shared) { shared = record; });
    if (!ring.empty()) set_.FlushPool(record.recv.pool);
    return result;
  }
  int WritePacket(std::span<const std::uint8_t> packet) override {
    return PortWrite(set_, port_, PortCommand::kWriteTransaction, packet);
  }
  void SetPortState(std::uint16_t state) override {
    UpdatePort(set_, port_, [&](PortRecord& record) { record.state = state; });
  }

 private:
  SharedSet& set_;
  int port_;
};

struct ChannelSpec {
  std::uint8_t primarySocket;
  std::uint8_t secondarySocket;
  std::uint16_t sendPacketSize;
  std::uint16_t recvPacketSize;
  std::uint16_t creditLimit;
  std::uint16_t sendCredit;
  bool withRings;
};

// Claims a free channel record for the port and gives it its rings. The
// channel number, or 0 when none is free.
int CreateChannel(SharedSet& set, int port, const ChannelSpec& spec) {
  {
    NamedMutexLock lock(set.channelCountMutex());
    if (set.channelCount() == 0) {
      NamedMutexLock records(set.channelRecordsMutex());
      for (int n = 0; n < kChannelSlots; ++n) set.table().channel(n) = ChannelRecord{};
      set.FlushTable();
    }
  }
  ChannelRecord fresh{};
  fresh.head.inUse = 1;
  fresh.head.primarySocket = spec.primarySocket;
  fresh.head.secondarySocket = spec.secondarySocket;
  fresh.head.creditLimit1 = spec.creditLimit;
  fresh.head.creditLimit2 = spec.creditLimit;
  fresh.head.sendPacketSize = spec.sendPacketSize;
  fresh.head.recvPacketSize = spec.recvPacketSize;
  fresh.head.recvTimeout = kDefaultTimeoutMs;
  fresh.head.sendTimeout = kDefaultTimeoutMs;
  fresh.recv.slotCount = kRecvSlots;
  fresh.recv.allocation = -1;
  fresh.send.slotCount = kSendSlots;
  fresh.send.allocation = -1;
  fresh.send.credit = spec.sendCredit;
  int channel = 0;
  {
    NamedMutexLock lock(set.channelRecordsMutex());
    for (int n = kFirstChannel; n <= kLastChannel && channel == 0; ++n) {
      if (set.table().channel(n).head.inUse == 1) continue;
      set.table().channel(n) = fresh;
      set.FlushTable();
      channel = n;
    }
  }
  if (channel == 0) return 0;

  if (spec.withRings) {
    NamedMutexLock channelLock(set.channelLock(channel));
    ChannelRecord record = LoadChannel(set, channel);
    const auto place = [&](RingDescriptor& ring, std::uint32_t size) {
      NamedMutexLock lock(set.buffersMutex());
      const RingResult result = AllocateRing(set.mainPool(), set, size);
      if (result.error != 0) return;  // the channel goes without this ring
      ring.pool = static_cast<std::uint16_t>(result.allocation.pool);
      ring.allocation = result.allocation.entry;
      set.FlushPool(result.allocation.pool);
    };
    place(record.recv, std::uint32_t{spec.recvPacketSize} * kRecvSlots);
    place(record.send, std::uint32_t{spec.sendPacketSize} * kSendSlots);
    UpdateChannel(set, channel, [&](ChannelRecord& shared) { shared = record; });
  }
  UpdatePort(set, port, [](PortRecord& record) { record.channelCount = record.channelCount + 1; });
  NamedMutexLock lock(set.channelCountMutex());
  set.channelCount() = set.channelCount() + 1;
  return channel;
}

// Grants the printer credit on a channel with a Credit command.
int GrantCredit(SharedSet& set, int port, int channel, std::uint16_t credit) {
  const ChannelRecord record = LoadChannel(set, channel);
  std::vector<std::uint8_t> reply;
  const int result =
      RunTransaction(set, port,
                     EncodeTransaction(CreditCommand{record.head.primarySocket,
                                                     record.head.secondarySocket, credit}),
                     reply);
  if (result != kOk) return result;
  const auto answer = DecodeTransaction<CreditReply>(reply);
  if (!answer) return kProtocolFailure;
  if (answer->result == kResultSuccess) {
    NamedMutexLock channelLock(set.channelLock(channel));
    UpdateChannel(set, channel, [&](ChannelRecord& shared) {
      shared.recv.credit = AddCredit(shared.recv.credit, credit);
    });
  }
  return kOk;
}

// Reads the device ID into a pool allocation of the port record.
int ReadDeviceId(SharedSet& set, int port, std::vector<std::uint8_t>& id) {
  id.assign(kDeviceIdSize, 0);
  DWORD returned = 0;
  const int result = PortIoControl(set, port, DeviceIdControlCode(set.family()), {}, id, &returned);
  id.resize(result == kOk ? returned : 0);
  return result;
}

void KeepDeviceId(SharedSet& set, int port, const std::vector<std::uint8_t>& id) {
  if (id.empty()) return;
  int entry;
  {
    NamedMutexLock lock(set.buffersMutex());
    entry = AllocateBlocks(set.mainPool(), static_cast<std::uint32_t>(id.size()));
    if (entry < 0) return;
    std::memcpy(AllocationBytes(set.mainPool(), entry).data(), id.data(), id.size());
    set.FlushTable();
  }
  UpdatePort(set, port, [&](PortRecord& record) {
    record.deviceIdLength = static_cast<std::uint16_t>(id.size());
    record.deviceIdAllocation = static_cast<std::int16_t>(entry);
  });
}

void DropDeviceId(SharedSet& set, int port) {
  const int entry = UpdatePort(set, port, [](PortRecord& record) {
    const int kept = record.deviceIdAllocation;
    record.deviceIdAllocation = -1;
    record.deviceIdLength = 0;
    return kept;
  });
  if (entry < 0) return;
  NamedMutexLock lock(set.buffersMutex());
  FreeBlocks(set.mainPool(), entry);
  set.FlushTable();
}

// Init on the transaction channel; a reply that names another revision is
// taken up once.
int InitProtocol(SharedSet& set, int port) {
  std::uint8_t revision = kInitRevision;
  int result = kProtocolFailure;
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::vector<std::uint8_t> reply;
    result = RunTransaction(set, port, EncodeTransaction(InitCommand{revision}), reply);
    if (result != kOk) continue;
    const auto answer = DecodeTransaction<InitReply>(reply);
    if (!answer) {
      result = kProtocolFailure;
      continue;
    }
    if (answer->result == kResultSuccess) return kOk;
    if (answer->result == kResultRevisionUnsupported) revision = answer->revision;
    result = kProtocolFailure;
  }
  return result;
}

// Errors with which the port access library reports a device that went away
// (and then closes it): the port is gone, not merely quiet.
bool DeviceGone(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == kErrorCrc || error == ERROR_GEN_FAILURE ||
         error == ERROR_DEVICE_NOT_CONNECTED;
}

// A port write's failure code; one that found the device gone ends the session.
int WriteFailure(int written) {
  if (written == kWriteFailed && DeviceGone(GetLastError())) return kSessionEnded;
  return written;
}

}  // namespace

DWORD DeviceIdControlCode(Family family) {
  return family == Family::k9x ? kDeviceIdCode9x : kDeviceIdCodeNt;
}

int PumpPort(SharedSet& set, int port, int waitingChannel) {
  NamedMutexLock request(set.portRequestLock(port));
  const std::uint16_t state = LoadPort(set, port).state;
  if (state != kPortOpen && state != kPortOpening) return PumpReadResult(kPortNotOpen);
  SharedPort shared(set, port);
  std::vector<std::uint8_t> packet;
  const int read = ReadPacket(shared, packet);
  if (read == kBrokenHeader || read == kShortPacket) shared.SetPortState(kPortReceiveFailure);
  // A printer that is unplugged would otherwise look like one with nothing to say.
  if (read == kReadFailed && DeviceGone(GetLastError())) return PumpReadResult(kPortNotOpen);
  if (read < 0) return PumpReadResult(read);
  return DispatchPacket(shared, packet, waitingChannel);
}

int RunTransaction(SharedSet& set, int port, const TransactionPacket& command,
                   std::vector<std::uint8_t>& reply) {
  NamedMutexLock transaction(set.portTransactionLock(port));
  const int tx = static_cast<int>(LoadPort(set, port).transactionChannel.get());
  if (tx < kFirstChannel || tx > kLastChannel) return kProtocolFailure;

  int sendError = kOk;
  {
    NamedMutexLock channelLock(set.channelLock(tx));
    if (LoadChannel(set, tx).send.credit == 0) sendError = kNoSendCredit;
  }
  if (sendError == kOk) {
    const int written = PortWrite(set, port, PortCommand::kWriteTransaction, command.view());
    if (written < 0) {
      sendError = written;
    } else if (written != static_cast<int>(command.size)) {
      sendError = kShortWrite;
    }
  }
  if (sendError != kOk) {
    const bool protocol =
        sendError == kPortNotOpen || sendError == kShortWrite || sendError == kNoSendCredit;
    return protocol ? kProtocolFailure : kSendFailed;
  }
  {
    NamedMutexLock channelLock(set.channelLock(tx));
    UpdateChannel(set, tx, [&](ChannelRecord& record) {
      record.recv.credit = AddCredit(record.recv.credit, command.bytes[4]);
      record.send.credit = UseCredit(record.send.credit);
    });
  }

  const std::uint8_t wanted = static_cast<std::uint8_t>(command.bytes[kCommandOffset] | kReplyBit);
  DWORD lastPacket = GetTickCount();
  int emptyReads = 0;
  std::vector<std::uint8_t> packet(kTransactionPacketSize);
  for (;;) {
    // Replies already stored, by this pump or another caller's.
    for (;;) {
      NamedMutexLock channelLock(set.channelLock(tx));
      ChannelRecord record = LoadChannel(set, tx);
      Ring ring(record.recv, RingBytes(set, record.recv), record.head.recvPacketSize);
      const int length = ring.PopPacket(packet);
      if (length == 0) break;
      UpdateChannel(set, tx, [&](ChannelRecord& shared) { shared.recv = record.recv; });
      if (length < 0) return kReplyFailed;
      if (TransactionCode(std::span(packet).first(length)) == wanted) {
        reply.assign(packet.begin(), packet.begin() + length);
        return kOk;
      }
    }
    const int pumped = PumpPort(set, port, tx);
    if (pumped == kSessionEnded || pumped == kProtocolFailure) return pumped;
    if (pumped < 0 && pumped != kNothingRead) return kReplyFailed;
    if (pumped == kNothingRead) {
      ++emptyReads;
    } else {
      lastPacket = GetTickCount();
      emptyReads = 0;
    }
    if (GetTickCount() - lastPacket > kTransactionQuietMs && emptyReads > kTransactionEmptyReads) {
      return kNoReply;
    }
  }
}

int OpenPort(SharedSet& set, int port, std::string_view name) {
  bool writeOnly = false;
  const int opened = PortOpen(set, port, name, &writeOnly);
  if (opened != kOk) return kOpenPortShift + opened;
  const auto setMode = [&](std::uint8_t mode) {
    UpdatePort(set, port, [&](PortRecord& record) { record.mode = mode; });
  };
  if (writeOnly) {
    setMode(kModeWritable);
    return kOk;
  }
  std::vector<std::uint8_t> id;
  if (ReadDeviceId(set, port, id) != kOk) {
    setMode(kModeWritable);
    return kOk;
  }
  const std::uint8_t mode = ModeFromDeviceId({reinterpret_cast<const char*>(id.data()), id.size()});
  if ((mode & kModePacketProtocol) == 0) {
    setMode(mode & (kModeReadable | kModeWritable | kModeUsbHs));
    return kOk;
  }

  UpdatePort(set, port, [](PortRecord& record) { record.channelCount = 0; });
  const int tx = CreateChannel(set, port,
                               {0, 0, kTransactionPacketSize, kTransactionPacketSize,
                                kTransactionCreditLimit, kTransactionCreditLimit, true});
  if (tx == 0) {
    PortClose(set, port, name);
    return kNoTransactionChannel;
  }
  UpdatePort(set, port, [&](PortRecord& record) { record.transactionChannel = tx; });
  {
    NamedMutexLock channelLock(set.channelLock(tx));
    UpdateChannel(set, tx, [](ChannelRecord& record) { record.recv.credit = 2; });
  }
  if (const int init = InitProtocol(set, port); init != kOk) {
    FreeChannel(set, port, tx);
    UpdatePort(set, port, [](PortRecord& record) { record.transactionChannel = 0; });
    PortClose(set, port, name);
    return init;
  }
  KeepDeviceId(set, port, id);
  setMode(mode);
  return kOk;
}

void ClosePort(SharedSet& set, int port) {
  const PortRecord record = LoadPort(set, port);
  DropDeviceId(set, port);
  const int tx = static_cast<int>(record.transactionChannel.get());
  // A port shut after a failure was closed already: Exit could not reach the
  // printer, and a dead worker would only make it wait.
  if ((record.mode & kModePacketProtocol) && record.state != kPortPrinterError &&
      record.state != kPortShut && tx >= kFirstChannel && tx <= kLastChannel &&
      LoadChannel(set, tx).head.inUse == 1) {
    std::vector<std::uint8_t> reply;
    RunTransaction(set, port, EncodeTransaction(ExitCommand{}), reply);
  }
  if (tx >= kFirstChannel && tx <= kLastChannel) FreeChannel(set, port, tx);
  const std::string name(record.name, strnlen(record.name, sizeof record.name));
  if (record.state != kPortShut) PortClose(set, port, name);
  ReleasePortWorker(set, port);
  UpdatePort(set, port, [](PortRecord& shared) { shared = PortRecord{}; });
}

void FreeChannel(SharedSet& set, int port, int channel) {
  if (channel < kFirstChannel || channel > kLastChannel) return;
  {
    NamedMutexLock channelLock(set.channelLock(channel));
    ChannelRecord record = LoadChannel(set, channel);
    if (record.head.inUse != 1) return;
    FreeRing(set, record.recv);
    FreeRing(set, record.send);
    UpdateChannel(set, channel, [](ChannelRecord& shared) { shared = ChannelRecord{}; });
  }
  UpdatePort(set, port, [](PortRecord& record) {
    if (record.channelCount > 0) record.channelCount = record.channelCount - 1;
  });
  NamedMutexLock lock(set.channelCountMutex());
  if (set.channelCount() > 0) set.channelCount() = set.channelCount() - 1;
}

int OpenDataChannel(SharedSet& set, int port, std::uint8_t primarySocket,
                    std::uint8_t secondarySocket) {
  if ((LoadPort(set, port).mode & kModePacketProtocol) == 0) {
    const int channel =
        CreateChannel(set, port, {primarySocket, secondarySocket, 0, 0, 0, 0, false});
    return channel == 0 ? kChannelRefused3 : channel;
  }
  if (!IsServiceSocket(secondarySocket)) return kBadServiceChannel;

  std::vector<std::uint8_t> reply;
  const int result = RunTransaction(
      set, port,
      EncodeTransaction(OpenChannelCommand{primarySocket, secondarySocket, kDataPacketSize,
                                           kDataPacketSize, kUnlimitedCredit, kUnlimitedCredit}),
      reply);
  switch (result) {
    case kOk: break;
    case kReplyFailed:
    case kSendFailed: return kProtocolFailure;
    case kNoPoolSpace: return kOpenChannelNoMemory;
    case kNoSendCredit: return kOpenChannelNoCredit;
    default: return kOpenChannelOther;
  }
  const auto answer = DecodeTransaction<OpenChannelReply>(reply);
  if (!answer) return kOpenChannelOther;
  if (answer->result == kResultInsufficientResources) return kChannelRefused3;
  if (answer->result == kResultChannelUnavailable) return kChannelRefused7;
  if (answer->result != kResultSuccess) return kOpenChannelOther;
  // A packet size that leaves no room for data could never carry anything.
  if (answer->sendPacketSize <= kPacketHeaderSize || answer->recvPacketSize <= kPacketHeaderSize) {
    return kOpenChannelOther;
  }
  const int channel =
      CreateChannel(set, port,
                    {primarySocket, secondarySocket, answer->sendPacketSize, answer->recvPacketSize,
                     kUnlimitedCredit, answer->credit, true});
  if (channel == 0) return kChannelRefused3;
  if (secondarySocket == kSharedManagementSocket) {
    const ChannelRecord record = LoadChannel(set, channel);
    const int free =
        FreeReceiveSlots(record.recv.slotCount, record.recv.packetsHeld, record.recv.credit);
    if (free > 0) GrantCredit(set, port, channel, static_cast<std::uint16_t>(free));
  }
  return channel;
}

int CloseDataChannel(SharedSet& set, int port, int channel) {
  const ChannelRecord record = LoadChannel(set, channel);
  if (record.head.inUse != 1) return kOk;
  if (LoadPort(set, port).mode & kModePacketProtocol) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      std::vector<std::uint8_t> reply;
      const int result =
          RunTransaction(set, port,
                         EncodeTransaction(CloseChannelCommand{record.head.primarySocket,
                                                               record.head.secondarySocket}),
                         reply);
      const auto answer = DecodeTransaction<CloseChannelReply>(reply);
      if (result != kOk || !answer || answer->result == kResultSuccess) break;
      if (attempt == 1) {
        // Refused twice: the printer keeps its end, but this side must not
        // lose the channel record for good.
        FreeChannel(set, port, channel);
        return kCloseRefused;
      }
    }
  }
  FreeChannel(set, port, channel);
  return kOk;
}

int ChannelPending(SharedSet& set, int channel) {
  NamedMutexLock channelLock(set.channelLock(channel));
  ChannelRecord record = LoadChannel(set, channel);
  Ring ring(record.recv, RingBytes(set, record.recv), record.head.recvPacketSize);
  const long held = ring.PayloadHeld();
  return held < 0 ? kPacketTooLong : static_cast<int>(held);
}

int ChannelRecv(SharedSet& set, int port, int channel, std::span<std::uint8_t> out) {
  const DWORD start = GetTickCount();
  const ChannelRecord head = LoadChannel(set, channel);
  const DWORD timeout = head.head.recvTimeout;
  const bool raw = (LoadPort(set, port).mode & kModePacketProtocol) == 0;
  std::size_t copied = 0;
  while (copied < out.size()) {
    if (raw) {
      const int read = PortRead(set, port, out.subspan(copied));
      if (read < 0) return copied > 0 ? static_cast<int>(copied) : read;
      copied += static_cast<std::size_t>(read);
      if (copied > 0) break;
    } else {
      int taken;
      {
        NamedMutexLock channelLock(set.channelLock(channel));
        ChannelRecord record = LoadChannel(set, channel);
        Ring ring(record.recv, RingBytes(set, record.recv), record.head.recvPacketSize);
        taken = ring.Take(out.subspan(copied));
        if (taken > 0) {
          UpdateChannel(set, channel, [&](ChannelRecord& shared) { shared.recv = record.recv; });
        }
      }
      if (taken < 0) return taken;
      copied += static_cast<std::size_t>(taken);
      if (copied == out.size()) break;
      if (taken == 0) {
        if (GetTickCount() - start >= timeout) break;
        const int pumped = PumpPort(set, port, channel);
        if (pumped == kSessionEnded) return kSessionEnded;
        if (pumped == kWorkerTimeout || pumped == kProtocolFailure) return kProtocolFailure;
        continue;
      }
    }
    if (GetTickCount() - start >= timeout) break;
  }
  return static_cast<int>(copied);
}

int ChannelSend(SharedSet& set, int port, int channel, std::span<const std::uint8_t> data) {
  data = data.first(std::min(data.size(), kMaxSendPerCall));
  const ChannelRecord head = LoadChannel(set, channel);
  const std::size_t packetSize = head.head.sendPacketSize;
  if (packetSize <= kPacketHeaderSize) return kNoRing;
  const DWORD start = GetTickCount();
  DWORD allowance = head.head.sendTimeout;
  int creditRequests = 0;
  int error = kOk;
  std::size_t sent = 0;
  std::vector<std::uint8_t> reply;
  while (sent < data.size() && GetTickCount() - start <= allowance) {
    std::uint16_t credit;
    {
      NamedMutexLock channelLock(set.channelLock(channel));
      credit = LoadChannel(set, channel).send.credit;
    }
    if (credit == 0) {
      if (creditRequests >= kMaxCreditRequests) break;
      Sleep(creditRequests == 0 ? 10 : 5);
      ++creditRequests;
      const DWORD asked = GetTickCount();
      const int result = RunTransaction(
          set, port,
          EncodeTransaction(CreditRequestCommand{head.head.primarySocket, head.head.secondarySocket,
                                                 kUnlimitedCredit, kUnlimitedCredit}),
          reply);
      if (result != kOk) {
        error = result;
        break;
      }
      const auto answer = DecodeTransaction<CreditRequestReply>(reply);
      if (!answer || answer->result == kResultUnknownChannel) {
        error = kProtocolFailure;
        break;
      }
      if (answer->credit > 0) {
        NamedMutexLock channelLock(set.channelLock(channel));
        UpdateChannel(set, channel, [&](ChannelRecord& record) {
          record.send.credit = AddCredit(record.send.credit, answer->credit);
        });
        allowance += GetTickCount() - asked;
      }
      continue;
    }

    // One packet, built in the sending ring and written from there.
    const std::size_t payload = std::min(data.size() - sent, packetSize - kPacketHeaderSize);
    const std::size_t length = kPacketHeaderSize + payload;
    NamedMutexLock request(set.portRequestLock(port));  // before the channel lock
    NamedMutexLock channelLock(set.channelLock(channel));
    ChannelRecord record = LoadChannel(set, channel);
    Ring ring(record.send, RingBytes(set, record.send), record.head.sendPacketSize);
    const std::uint8_t creditByte =
        OutgoingCreditByte(record.head.secondarySocket, record.recv.slotCount, record.recv.credit,
                           record.recv.packetsHeld);
    const std::size_t offset = record.send.writeOffset;
    const Ring::Pieces pieces = ring.Reserve(length);
    if (pieces.first.empty()) {
      error = kNoRing;
      break;
    }
    PacketHeader header{record.head.primarySocket, record.head.secondarySocket,
                        static_cast<std::uint16_t>(length), creditByte, 0};
    ring.CopyIn(offset, {reinterpret_cast<const std::uint8_t*>(&header), sizeof header});
    ring.CopyIn((offset + kPacketHeaderSize) % ring.capacity(), data.subspan(sent, payload));
    set.FlushPool(record.send.pool);
    const std::int32_t locator = RingLocator(set, record.send);
    int written = PortWriteFrom(set, port, PortCommand::kWriteData, locator,
                                static_cast<std::uint32_t>(offset),
                                static_cast<std::uint32_t>(pieces.first.size()));
    if (written == static_cast<int>(pieces.first.size()) && !pieces.second.empty()) {
      const int rest = PortWriteFrom(set, port, PortCommand::kWriteData, locator, 0,
                                     static_cast<std::uint32_t>(pieces.second.size()));
      written = rest < 0 ? rest : written + rest;
    }
    if (written != static_cast<int>(length)) {
      error = written < 0 ? WriteFailure(written) : kWriteFailed;
      break;
    }
    ring.Release(length);
    record.send.credit = UseCredit(record.send.credit);
    record.recv.credit = AddCredit(record.recv.credit, creditByte);
    UpdateChannel(set, channel, [&](ChannelRecord& shared) {
      shared.send = record.send;
      shared.recv.credit = record.recv.credit;
    });
    sent += payload;
  }
  return sent > 0 || error == kOk ? static_cast<int>(sent) : error;
}

int RawSend(SharedSet& set, int port, int channel, std::span<const std::uint8_t> data) {
  const DWORD start = GetTickCount();
  const DWORD timeout = LoadChannel(set, channel).head.sendTimeout;
  std::size_t sent = 0;
  while (sent < data.size()) {
    const std::size_t piece = std::min(data.size() - sent, kMaxSendPerCall);
    const int written = PortWrite(set, port, PortCommand::kWriteData, data.subspan(sent, piece));
    if (written < 0) return sent > 0 ? static_cast<int>(sent) : WriteFailure(written);
    sent += static_cast<std::size_t>(written);
    if (GetTickCount() - start > timeout) break;
  }
  return static_cast<int>(sent);
}

void HandlePortFailure(SharedSet& set, int port, bool askWorker) {
  for (int index = 0; index < kConnectionCount; ++index) {
    const ConnectionRecord connection = LoadConnection(set, index);
    if (connection.state == kConnectionFree || static_cast<int>(connection.port.get()) != port) {
      continue;
    }
    FreeChannel(set, port, static_cast<int>(connection.channel.get()));
    StoreConnectionState(set, index, kConnectionPortLost);
  }
  const PortRecord record = LoadPort(set, port);
  // A worker that is gone or did not answer cannot answer now: asking it
  // would only wait out the worker time-out twice more.
  if (askWorker && record.state != kPortFree && record.state != kPortShut &&
      PortWorkerRunning(port)) {
    if ((record.mode & kModePacketProtocol) && record.state != kPortPrinterError) {
      std::vector<std::uint8_t> id;
      ReadDeviceId(set, port, id);
    }
    PortClose(set, port, std::string(record.name, strnlen(record.name, sizeof record.name)));
  }
  UpdatePort(set, port, [](PortRecord& shared) { shared.state = kPortShut; });
  FreeChannel(set, port, static_cast<int>(record.transactionChannel.get()));
}

}  // namespace tgx::chanlib
