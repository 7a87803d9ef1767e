// The exported CBT functions over the engine. Built once per family: the 9x
// build (TGX_CHANLIB_9X) differs in its worker program, the device-ID control
// code, control code 7 and the end of a worker whose first open failed.
#include "chanlib/cbt.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "chanlib/result_codes.h"
#include "engine.h"
#include "job_queue.h"
#include "port_requests.h"
#include "records.h"
#include "tgx/named_objects.h"
#include "tgx/port_name.h"
#include "tgx/wire/channel_descriptor.h"

namespace tgx::chanlib {
namespace {

#ifdef TGX_CHANLIB_9X
constexpr Family kFamily = Family::k9x;
#else
constexpr Family kFamily = Family::kNt;
#endif

constexpr std::uint16_t kNoSocket = 0xFFFF;
constexpr int kMaxIdsInUseBeforeFree = 30;
constexpr std::uint8_t kJobChannel = 0x10;
constexpr DWORD kEmptyJobQueueCode = 7;
constexpr DWORD kErrorReadFault = 30;  // ERROR_READ_FAULT

// What this process holds of the library: the shared set once started, and
// the job queues of the connections it opened.
class Library {
 public:
  ~Library() {
    for (JobQueue& queue : queues_) queue.Stop();
  }
  SharedSet* set() {
    std::lock_guard lock(mutex_);
    return set_.get();
  }
  SharedSet* Start() {
    std::lock_guard lock(mutex_);
    if (!set_) set_ = SharedSet::Open(kFamily);
    return set_.get();
  }
  JobQueue& queue(int connection) { return queues_[connection]; }

 private:
  std::mutex mutex_;
  std::unique_ptr<SharedSet> set_;
  std::array<JobQueue, kConnectionCount> queues_;
};

Library& TheLibrary() {
  static Library library;
  return library;
}

bool ValidHandle(SharedSet& set, std::uint16_t socket) {
  return socket < kSocketCount && LoadSocket(set, socket).state == kSocketCreated;
}

std::string BoundName(const SocketRecord& socket) {
  return std::string(socket.portName, strnlen(socket.portName, sizeof socket.portName));
}

// The connection of a socket: its index, or -1.
int ConnectionOf(const SocketRecord& socket) { return socket.connectionPlusOne - 1; }

// A worker that did not answer in time is as good as lost: its port fails
// with it, and nobody asks it anything more.
bool IsPortFailure(int result) {
  return result == kSessionEnded || result == kProtocolFailure || result == kConnectionGone ||
         result == kWorkerTimeout;
}

void FailPort(SharedSet& set, int port, int result) {
  NamedMutexLock ports(set.portsLock());
  HandlePortFailure(set, port, result != kWorkerTimeout);
}

void MarkSocketId(SharedSet& set, int id, std::uint8_t state) {
  NamedMutexLock lock(set.socketsMutex());
  set.table().socketIdMap()[id] = state;
  set.FlushTable();
}

// Drops a connection's count on its port, closing the port with the last one.
// The caller holds the ports lock.
void LeavePort(SharedSet& set, int port) {
  const int left = UpdatePort(set, port, [](PortRecord& record) {
    if (record.connectionCount > 0) record.connectionCount = record.connectionCount - 1;
    return static_cast<int>(record.connectionCount.get());
  });
  if (left == 0) ClosePort(set, port);
}

// Closes a connection: its sender first, then its channel and its port's
// count. The close result, or the sender's failure when the close went well.
int CloseConnection(SharedSet& set, int connection) {
  const int senderResult = TheLibrary().queue(connection).Stop();
  NamedMutexLock ports(set.portsLock());
  const ConnectionRecord record = LoadConnection(set, connection);
  const int port = static_cast<int>(record.port.get());
  int result = kOk;
  if (record.state == kConnectionConnected) {
    result = CloseDataChannel(set, port, static_cast<int>(record.channel.get()));
  }
  LeavePort(set, port);
  StoreConnection(set, connection, ConnectionRecord{});
  return result == kOk && senderResult < 0 ? senderResult : result;
}

// Finds the open port of that name or opens a free port record for it. The
// port index, or an error. The caller holds the ports lock.
int AcquirePort(SharedSet& set, const std::string& name) {
  int free = -1;
  for (int port = 0; port < kPortCount; ++port) {
    const PortRecord record = LoadPort(set, port);
    if (record.state == kPortOpen &&
        name == std::string(record.name, strnlen(record.name, sizeof record.name))) {
      return port;
    }
    if (free < 0 && record.state == kPortFree) free = port;
  }
  if (free < 0) return kNoRecordFree;
  UpdatePort(set, free, [&](PortRecord& record) {
    record = PortRecord{};
    record.deviceIdAllocation = -1;
    record.state = kPortOpening;
    name.copy(record.name, sizeof record.name - 1);
  });
  if (StartPortWorker(set, free) != kOk) {
    ReleasePortWorker(set, free);
    UpdatePort(set, free, [](PortRecord& record) { record = PortRecord{}; });
    return kNotInitialised;
  }
  const int opened = OpenPort(set, free, name);
  if (opened != kOk) {
    if (kFamily == Family::k9x) PortEndWorker(set, free);
    ReleasePortWorker(set, free);
    UpdatePort(set, free, [](PortRecord& record) { record = PortRecord{}; });
    return opened;
  }
  UpdatePort(set, free, [](PortRecord& record) { record.state = kPortOpen; });
  return free;
}

int ConnectResult(std::uint8_t mode) {
  if ((mode & (kModeReadable | kModeWritable | kModePacketProtocol)) ==
      (kModeReadable | kModeWritable | kModePacketProtocol)) {
    return 0;
  }
  if ((mode & (kModeReadable | kModeWritable)) == kModeWritable) return 1;
  if ((mode & (kModeReadable | kModeWritable)) == (kModeReadable | kModeWritable)) return 2;
  return kProtocolFailure;
}

// The connection of a connected socket in state 1, or the error.
struct Connected {
  int error;
  int connection;
  ConnectionRecord record;
};
Connected LiveConnection(SharedSet& set, std::uint16_t socket) {
  const int connection = ConnectionOf(LoadSocket(set, socket));
  if (connection < 0) return {kNoConnection, -1, {}};
  const ConnectionRecord record = LoadConnection(set, connection);
  if (record.state != kConnectionConnected) return {kNoConnection, connection, record};
  return {kOk, connection, record};
}

}  // namespace
}  // namespace tgx::chanlib

using namespace tgx;
using namespace tgx::chanlib;

extern "C" {

std::uint16_t CBT_CreateSocket() {
  SharedSet* set = TheLibrary().Start();
  if (set == nullptr) return kNoSocket;
  NamedMutexLock sockets(set->socketsLock());

  int id = 0;
  {
    NamedMutexLock lock(set->socketsMutex());
    std::uint8_t* ids = set->table().socketIdMap();
    int inUse = 0;
    for (int candidate = 1; candidate < kSocketIdCount && id == 0; ++candidate) {
      if (ids[candidate] == kSocketIdFree) {
        id = candidate;
      } else if (ids[candidate] == kSocketIdInUse && ++inUse > kMaxIdsInUseBeforeFree) {
        return kNoSocket;
      }
    }
    if (id == 0) {
      for (int candidate = 1; candidate < kSocketIdCount; ++candidate) {
        if (ids[candidate] != kSocketIdReleased) continue;
        ids[candidate] = kSocketIdFree;
        if (id == 0) id = candidate;
      }
    }
    if (id == 0) return kNoSocket;
    ids[id] = kSocketIdInUse;
    set->FlushTable();
  }

  int handle = -1;
  {
    NamedMutexLock lock(set->socketsMutex());
    for (int n = 0; n < kSocketCount && handle < 0; ++n) {
      if (set->table().socket(n).state == kSocketFree) handle = n;
    }
    if (handle < 0) {
      for (int n = 0; n < kSocketCount; ++n) {
        if (set->table().socket(n).state != kSocketClosed) continue;
        set->table().socket(n) = SocketRecord{};
        if (handle < 0) handle = n;
      }
    }
    if (handle >= 0) {
      SocketRecord record{};
      record.state = kSocketCreated;
      record.socketId = static_cast<std::uint16_t>(id);
      set->table().socket(handle) = record;
    }
    set->FlushTable();
  }
  if (handle < 0) {
    MarkSocketId(*set, id, kSocketIdFree);
    return kNoSocket;
  }
  return static_cast<std::uint16_t>(handle);
}

int CBT_Bind(std::uint16_t socket, void* bindInfo) {
  SharedSet* set = TheLibrary().set();
  if (set == nullptr) return kNotInitialised;
  if (bindInfo == nullptr || !ValidHandle(*set, socket)) return kBadSocket;
  auto* info = static_cast<std::uint8_t*>(bindInfo);
  char* name = reinterpret_cast<char*>(info + wire::channel_descriptor::kPortName);
  const std::size_t length = strnlen(name, kPortNameBindSize);
  if (length == 5 && ParallelPortDigit({name, length})) name[4] = '\0';
  NamedMutexLock sockets(set->socketsLock());
  UpdateSocket(*set, socket, [&](SocketRecord& record) {
    std::memset(record.portName, 0, sizeof record.portName);
    std::memcpy(record.portName, name,
                std::min(strnlen(name, kPortNameBindSize), kPortNameBindSize - 1));
    record.bindFlag = info[wire::channel_descriptor::kBindFlag];
  });
  return kOk;
}

int CBT_GetSocketID(std::uint16_t socket) {
  SharedSet* set = TheLibrary().set();
  if (set == nullptr) return kNotInitialised;
  if (!ValidHandle(*set, socket)) return kBadSocket;
  return LoadSocket(*set, socket).socketId;
}

int CBT_Connect(std::uint16_t socket, const void* connectInfo) {
  SharedSet* set = TheLibrary().set();
  if (set == nullptr) return kNotInitialised;
  if (connectInfo == nullptr || !ValidHandle(*set, socket)) return kBadSocket;
  const auto* info = static_cast<const std::uint8_t*>(connectInfo);
  const SocketRecord socketRecord = UpdateSocket(*set, socket, [&](SocketRecord& record) {
    std::memcpy(record.connectInfo, info, kConnectInfoSize);
    return record;
  });
  if (ConnectionOf(socketRecord) >= 0) return kBadSocket;  // already connected

  NamedMutexLock ports(set->portsLock());
  const int port = AcquirePort(*set, BoundName(socketRecord));
  if (port < 0) return port;

  int connection = -1;
  for (int n = 0; n < kConnectionCount && connection < 0; ++n) {
    if (LoadConnection(*set, n).state == kConnectionFree) connection = n;
  }
  UpdatePort(*set, port,
             [](PortRecord& record) { record.connectionCount = record.connectionCount + 1; });
  if (connection < 0) {
    LeavePort(*set, port);
    return kNoRecordFree;
  }
  ConnectionRecord record{};
  record.state = kConnectionConnected;
  record.port = static_cast<std::uint32_t>(port);
  record.queueAllocation = -1;
  StoreConnection(*set, connection, record);

  const std::uint8_t service = info[wire::channel_descriptor::kServiceChannel];
  const int channel =
      OpenDataChannel(*set, port, static_cast<std::uint8_t>(socketRecord.socketId), service);
  if (channel < 0) {
    if (channel == kChannelRefused7) MarkSocketId(*set, socketRecord.socketId, kSocketIdInUse);
    StoreConnection(*set, connection, ConnectionRecord{});
    if (IsPortFailure(channel)) HandlePortFailure(*set, port, channel != kWorkerTimeout);
    LeavePort(*set, port);
    return channel;
  }
  const std::uint16_t sendSize = LoadChannel(*set, channel).head.sendPacketSize;
  record.channel = static_cast<std::uint32_t>(channel);
  record.payloadSize = sendSize > kPacketHeaderSize ? sendSize - kPacketHeaderSize : 0;
  record.queueCapacity = record.payloadSize * kQueuePackets;
  StoreConnection(*set, connection, record);
  UpdateSocket(*set, socket, [&](SocketRecord& shared) {
    shared.connectionPlusOne = static_cast<std::uint8_t>(connection + 1);
  });
  return ConnectResult(LoadPort(*set, port).mode);
}

int CBT_CloseSocket(std::uint16_t socket) {
  SharedSet* set = TheLibrary().set();
  if (set == nullptr) return kNotInitialised;
  if (!ValidHandle(*set, socket)) return kBadSocket;
  const SocketRecord record = LoadSocket(*set, socket);
  int result = kOk;
  if (const int connection = ConnectionOf(record); connection >= 0) {
    result = CloseConnection(*set, connection);
    if (result == -12 || result == -30) result = kConnectionGone;
  }
  NamedMutexLock sockets(set->socketsLock());
  UpdateSocket(*set, socket, [](SocketRecord& shared) {
    shared.state = kSocketClosed;
    shared.connectionPlusOne = 0;
  });
  MarkSocketId(*set, record.socketId, kSocketIdReleased);
  return result;
}

int CBT_Recv(std::uint16_t socket, void* buffer, int length) {
  SharedSet* set = TheLibrary().set();
  if (set == nullptr) return kNotInitialised;
  if (!ValidHandle(*set, socket)) return kBadSocket;
  if (buffer == nullptr || length < 0) return kBadSocket;
  const Connected live = LiveConnection(*set, socket);
  if (live.error != kOk) return kConnectionGone;
  const int port = static_cast<int>(live.record.port.get());
  const int result =
      ChannelRecv(*set, port, static_cast<int>(live.record.channel.get()),
                  {static_cast<std::uint8_t*>(buffer), static_cast<std::size_t>(length)});
  if (IsPortFailure(result)) FailPort(*set, port, result);
  return result == -30 || result == kNoConnection ? kConnectionGone : result;
}

int CBT_Send(std::uint16_t socket, const void* buffer, int length) {
  SharedSet* set = TheLibrary().set();
  if (set == nullptr) return kNotInitialised;
  if (!ValidHandle(*set, socket)) return kBadSocket;
  if (buffer == nullptr || length < 0) return kBadSocket;
  const Connected live = LiveConnection(*set, socket);
  if (live.error != kOk) return kNoConnection;
  const int port = static_cast<int>(live.record.port.get());
  const int channel = static_cast<int>(live.record.channel.get());
  const std::span<const std::uint8_t> data(static_cast<const std::uint8_t*>(buffer),
                                           static_cast<std::size_t>(length));
  const std::uint8_t mode = LoadPort(*set, port).mode;
  int result;
  if ((mode & kModePacketProtocol) == 0) {
    result = (mode & kModeWritable) ? RawSend(*set, port, channel, data) : kConnectionGone;
  } else if (LoadChannel(*set, channel).head.secondarySocket != kJobChannel ||
             (mode & kModeUsbHs)) {
    result = ChannelSend(*set, port, channel, data);
  } else {
    JobQueue& queue = TheLibrary().queue(live.connection);
    if (!queue.running() && !queue.Start(*set, live.connection)) {
      result = ChannelSend(*set, port, channel, data);
    } else {
      result = queue.Append(*set, live.connection, data);
      if (result == 0 && length > 0) queue.AwaitRoom(1);
    }
  }
  if (IsPortFailure(result) || result == -30) FailPort(*set, port, result);
  return result == -30 ? kConnectionGone : result;
}

int CBT_GetDataSizeInSocket(std::uint16_t socket, int mode) {
  SharedSet* set = TheLibrary().set();
  if (set == nullptr) return kNotInitialised;
  if (!ValidHandle(*set, socket)) return kBadSocket;
  const Connected live = LiveConnection(*set, socket);
  if (live.connection < 0) return kBadSocket;
  if (live.record.state == kConnectionPortLost) return kProtocolFailure;  // -90 inside
  if (live.error != kOk) return kBadSocket;
  const int port = static_cast<int>(live.record.port.get());
  const int channel = static_cast<int>(live.record.channel.get());
  if (mode == 1 && (LoadPort(*set, port).mode & kModePacketProtocol)) {
    for (int idle = 0; idle < 3;) {
      const int pumped = PumpPort(*set, port, channel);
      if (pumped == kNothingRead) break;
      if (pumped < 0) {
        if (IsPortFailure(pumped)) FailPort(*set, port, pumped);
        return pumped == -30 || pumped == kNoConnection ? kBadSocket : kProtocolFailure;
      }
      idle = pumped > 0 ? 0 : idle + 1;
    }
  }
  const int pending = ChannelPending(*set, channel);
  return pending < 0 ? kProtocolFailure : pending;
}

int CBT_GetChannelCapability(std::uint16_t socket, std::uint32_t controlCode, const void* input,
                             std::uint32_t inputLength, void* output, std::uint32_t outputLength,
                             std::uint32_t* bytesReturned) {
  SharedSet* set = TheLibrary().set();
  if (set == nullptr) return kNotInitialised;
  if (!ValidHandle(*set, socket)) return kBadSocket;
  const SocketRecord socketRecord = LoadSocket(*set, socket);
  int port = -1;
  const Connected live = LiveConnection(*set, socket);
  if (live.connection >= 0) {
    if (live.record.state == kConnectionPortLost) return kSessionEnded;
    if (live.error != kOk) return kConnectionGone;
    port = static_cast<int>(live.record.port.get());
  } else {
    const std::string name = BoundName(socketRecord);
    if (name.empty()) return kConnectionGone;
    NamedMutexLock ports(set->portsLock());
    for (int n = 0; n < kPortCount && port < 0; ++n) {
      const PortRecord record = LoadPort(*set, n);
      if (record.state == kPortOpen &&
          name == std::string(record.name, strnlen(record.name, sizeof record.name))) {
        port = n;
      }
    }
    if (port < 0) return kConnectionGone;
  }
  if (bytesReturned != nullptr) *bytesReturned = 0;

  if (controlCode == DeviceIdControlCode(kFamily)) {
    const PortRecord record = LoadPort(*set, port);
    if (record.deviceIdAllocation < 0 || record.deviceIdLength == 0) {
      SetLastError(kErrorReadFault);
      return kNoDeviceId;
    }
    NamedMutexLock lock(set->buffersMutex());
    const std::span<std::byte> id = AllocationBytes(set->mainPool(), record.deviceIdAllocation);
    const std::size_t n =
        std::min({std::size_t{outputLength}, std::size_t{record.deviceIdLength}, id.size()});
    if (n > 0 && output != nullptr) std::memcpy(output, id.data(), n);
    if (bytesReturned != nullptr) *bytesReturned = static_cast<std::uint32_t>(n);
    return kOk;
  }
  if (kFamily == Family::k9x && controlCode == kEmptyJobQueueCode && live.connection >= 0) {
    TheLibrary().queue(live.connection).Cancel(*set, live.connection);
    return kOk;
  }
  const std::uint16_t state = LoadPort(*set, port).state;
  if (state != kPortOpen && state != kPortOpening && state != kPortReceiveFailure) {
    return kPortNotOpen;
  }
  DWORD returned = 0;
  const int result = PortIoControl(
      *set, port, controlCode, {static_cast<const std::uint8_t*>(input), input ? inputLength : 0},
      {static_cast<std::uint8_t*>(output), output ? outputLength : 0}, &returned);
  if (bytesReturned != nullptr) *bytesReturned = returned;
  if (result == kNoPoolSpace) return kNoPoolSpace;
  if (IsPortFailure(result)) FailPort(*set, port, result);
  return result == -30 || result == kNoConnection ? kConnectionGone : result;
}

void CBT_EnumChannel() {}

int CBT_SetTimeout(std::uint16_t socket, std::uint32_t recvTimeoutMs, std::uint32_t sendTimeoutMs) {
  SharedSet* set = TheLibrary().set();
  if (set == nullptr || !ValidHandle(*set, socket)) return 0;
  const Connected live = LiveConnection(*set, socket);
  if (live.connection < 0) return 0;
  const int channel = static_cast<int>(live.record.channel.get());
  if (channel < kFirstChannel || channel > kLastChannel) return 0;
  NamedMutexLock channelLock(set->channelLock(channel));
  return UpdateChannel(*set, channel, [&](ChannelRecord& record) {
    if (record.head.inUse != 1) return 0;
    record.head.recvTimeout = recvTimeoutMs;
    record.head.sendTimeout = sendTimeoutMs;
    return 1;
  });
}

int CBT_GetTimeout(std::uint16_t socket, std::uint32_t* recvTimeoutMs,
                   std::uint32_t* sendTimeoutMs) {
  SharedSet* set = TheLibrary().set();
  if (set == nullptr || !ValidHandle(*set, socket)) return 0;
  if (recvTimeoutMs == nullptr || sendTimeoutMs == nullptr) return 0;
  const Connected live = LiveConnection(*set, socket);
  if (live.connection < 0) return 0;
  const int channel = static_cast<int>(live.record.channel.get());
  if (channel < kFirstChannel || channel > kLastChannel) return 0;
  const ChannelRecord record = LoadChannel(*set, channel);
  if (record.head.inUse != 1) return 0;
  *recvTimeoutMs = record.head.recvTimeout;
  *sendTimeoutMs = record.head.sendTimeout;
  return 1;
}

int CBT_GetPacketSizeFromSocket(std::uint16_t socket, std::uint16_t* sendSize,
                                std::uint16_t* recvSize) {
  SharedSet* set = TheLibrary().set();
  if (set == nullptr) return kNotInitialised;
  if (!ValidHandle(*set, socket) || sendSize == nullptr || recvSize == nullptr) return kBadSocket;
  const Connected live = LiveConnection(*set, socket);
  if (live.connection < 0) return kNoConnection;
  if (live.error != kOk) return kConnectionGone;
  const ChannelRecord record = LoadChannel(*set, static_cast<int>(live.record.channel.get()));
  *sendSize = record.head.sendPacketSize;
  *recvSize = record.head.recvPacketSize;
  return kOk;
}

int CBT_CheckOpenedJobCH(std::uint16_t socket) {
  SharedSet* set = TheLibrary().set();
  if (set == nullptr || !ValidHandle(*set, socket)) return 0;
  const int own = ConnectionOf(LoadSocket(*set, socket));
  if (own < 0) return 0;
  const std::uint32_t port = LoadConnection(*set, own).port;
  for (int n = 0; n < kSocketCount; ++n) {
    const SocketRecord other = LoadSocket(*set, n);
    const int connection = ConnectionOf(other);
    if (other.state != kSocketCreated || connection < 0) continue;
    const std::uint16_t service = static_cast<std::uint16_t>(
        other.connectInfo[wire::channel_descriptor::kServiceChannel] |
        other.connectInfo[wire::channel_descriptor::kServiceChannel + 1] << 8);
    const ConnectionRecord record = LoadConnection(*set, connection);
    if (service == kJobChannel && record.state == kConnectionConnected && record.port == port) {
      return 1;
    }
  }
  return 0;
}

int CBT_JobCancel(std::uint16_t socket) {
  SharedSet* set = TheLibrary().set();
  if (set == nullptr || !ValidHandle(*set, socket)) return kOk;
  const Connected live = LiveConnection(*set, socket);
  if (live.connection < 0) return kNoConnection;
  const int port = static_cast<int>(live.record.port.get());
  const int channel = static_cast<int>(live.record.channel.get());
  if ((LoadPort(*set, port).mode & kModePacketProtocol) == 0 ||
      LoadChannel(*set, channel).head.secondarySocket != kJobChannel) {
    return kConnectionGone;
  }
  TheLibrary().queue(live.connection).Cancel(*set, live.connection);
  return kOk;
}

}  // extern "C"
