// Byte layouts of everything the channel library shares between processes: the
// main table "QRS_NBcbt_port_filemap", the overflow data pools and the records in
// them. All integers are little-endian. Records have alignment 1 and are read and
// written whole by copying them (under the lock each record names).
#pragma once

#include <cstddef>
#include <cstdint>

#include "tgx/wire/endian_field.h"

namespace tgx::chanlib {

using wire::Be;
using wire::Le;

// Limits.
inline constexpr int kPortCount = 5;           // port indexes 0 to 4
inline constexpr int kSocketCount = 30;        // socket handles 0 to 29
inline constexpr int kSocketRecordSlots = 31;  // the table has room for one more
inline constexpr int kSocketIdCount = 256;     // identifiers 1 to 255; 0 reserved
inline constexpr int kConnectionCount = 30;
inline constexpr int kChannelSlots = 36;  // channel numbers 1 to 35; record 0 reserved
inline constexpr int kFirstChannel = 1;
inline constexpr int kLastChannel = 35;
inline constexpr int kBlocksPerPool = 384;
inline constexpr std::size_t kBlockSize = 512;
inline constexpr int kOverflowPoolCount = 10;  // pools 1 to 10; pool 0 is the main pool
inline constexpr int kPoolCount = 1 + kOverflowPoolCount;

// Port command record: the request and answer between library and worker.
enum class PortCommand : std::uint32_t {
  kNone = 0,
  kRead = 2,
  kWriteTransaction = 3,
  kIoControl = 4,
  kWriteData = 5,
  kOpen = 7,
  kClose = 8,
  kExit = 9,
};

struct PortCommandRecord {
  Le<std::uint32_t> command;
  Le<std::uint32_t> readLength;   // read: bytes to read; I/O control: output size
  Le<std::uint32_t> writeLength;  // writes: bytes; I/O control: input size; open/close: name length
  Le<std::uint32_t> transferred;  // set by the worker
  Le<std::uint32_t> controlCode;
  Le<std::uint32_t> status;  // 1 success, 0 failure, set by the worker
  Le<std::uint32_t> extra;   // open: 1 when opened write-only; read without buffer: 7
  Le<std::uint32_t> error;   // Win32 error of a failure
  Le<std::int32_t> bufferA;  // locator: read buffer, control input
  Le<std::int32_t> bufferB;  // locator: write buffer, control output, port name
  Le<std::uint32_t> offsetA;
  Le<std::uint32_t> offsetB;
};
static_assert(sizeof(PortCommandRecord) == 48);
static_assert(offsetof(PortCommandRecord, status) == 20);
static_assert(offsetof(PortCommandRecord, bufferA) == 32);
static_assert(offsetof(PortCommandRecord, offsetB) == 44);

inline constexpr std::uint32_t kStatusFailure = 0;
inline constexpr std::uint32_t kStatusSuccess = 1;
inline constexpr std::uint32_t kExtraOpenedWriteOnly = 1;
inline constexpr std::uint32_t kExtraNoReadBuffer = 7;

// Socket-identifier map states.
inline constexpr std::uint8_t kSocketIdFree = 0;
inline constexpr std::uint8_t kSocketIdInUse = 1;
inline constexpr std::uint8_t kSocketIdReleased = 3;

inline constexpr std::size_t kPortNameBindSize = 20;
inline constexpr std::size_t kConnectInfoSize = 26;

// Socket record. The bind data keeps the 20-byte port name and the flag byte;
// its padding is one byte, so that the connect data ends inside the record's
// 56 bytes.
struct SocketRecord {
  std::uint8_t state;              // 0 free, 1 created, 3 closed and reusable
  std::uint8_t connectionPlusOne;  // 0: not connected
  Le<std::uint16_t> unused1;
  Le<std::uint16_t> unused2;
  Le<std::uint16_t> socketId;  // 1 to 255
  char portName[kPortNameBindSize];
  std::uint8_t bindFlag;
  std::uint8_t bindPad;
  std::uint8_t connectInfo[kConnectInfoSize];
};
static_assert(sizeof(SocketRecord) == 56);
static_assert(offsetof(SocketRecord, socketId) == 6);
static_assert(offsetof(SocketRecord, connectInfo) == 30);

inline constexpr std::uint8_t kSocketFree = 0;
inline constexpr std::uint8_t kSocketCreated = 1;
inline constexpr std::uint8_t kSocketClosed = 3;

// Connection record. The three object handles are numbers of the process
// that opened the connection (its local handle table), the sender thread is
// named by its thread id; all four are 0 while the connection has no job queue.
struct ConnectionRecord {
  Le<std::uint32_t> state;  // 0 free, 1 connected, 8 port lost
  Le<std::uint32_t> channel;
  Le<std::uint32_t> port;
  Le<std::uint32_t> queueStartedEvent;
  Le<std::uint32_t> queueStopEvent;
  Le<std::uint32_t> senderThread;
  Le<std::uint32_t> queueMutex;
  Le<std::uint32_t> payloadSize;    // sending packet size minus 6
  Le<std::uint32_t> queueCapacity;  // payload size x 15
  Le<std::uint32_t> bytesQueued;
  Le<std::int32_t> queueAllocation;  // -1 none
  Le<std::int32_t> senderResult;     // 0, or the last failed background send
};
static_assert(sizeof(ConnectionRecord) == 48);

inline constexpr std::uint32_t kConnectionFree = 0;
inline constexpr std::uint32_t kConnectionConnected = 1;
inline constexpr std::uint32_t kConnectionPortLost = 8;

inline constexpr std::size_t kPortNameSize = 40;

struct PortRecord {
  Le<std::uint32_t> transactionChannel;
  Le<std::uint32_t> channelCount;
  Le<std::uint32_t> connectionCount;
  char name[kPortNameSize];
  Le<std::uint16_t> deviceIdLength;
  Le<std::int16_t> deviceIdAllocation;  // entry of the main pool, -1 none
  std::uint8_t mode;
  std::uint8_t unused;
  Le<std::uint16_t> state;
};
static_assert(sizeof(PortRecord) == 60);
static_assert(offsetof(PortRecord, deviceIdLength) == 52);
static_assert(offsetof(PortRecord, state) == 58);

// Port mode flags.
inline constexpr std::uint8_t kModeReadable = 0x01;
inline constexpr std::uint8_t kModeWritable = 0x02;
inline constexpr std::uint8_t kModePacketProtocol = 0x10;
inline constexpr std::uint8_t kModeUsbHs = 0x20;

// Port states.
inline constexpr std::uint16_t kPortFree = 0;
inline constexpr std::uint16_t kPortOpen = 1;
inline constexpr std::uint16_t kPortOpening = 2;
inline constexpr std::uint16_t kPortReceiveFailure = 8;
inline constexpr std::uint16_t kPortPrinterError = 9;
inline constexpr std::uint16_t kPortShut = 10;

struct ChannelHead {
  Le<std::uint32_t> inUse;
  std::uint8_t primarySocket;
  std::uint8_t secondarySocket;
  Le<std::uint16_t> reserved;
  Le<std::uint16_t> creditLimit1;  // 2 for the transaction channel, 0xFFFF for data
  Le<std::uint16_t> sendPacketSize;
  Le<std::uint16_t> recvPacketSize;
  Le<std::uint16_t> creditLimit2;
  Le<std::uint32_t> recvTimeout;  // ms
  Le<std::uint32_t> sendTimeout;  // ms
  Le<std::uint32_t> unused1;
  Le<std::uint32_t> unused2;
};
static_assert(sizeof(ChannelHead) == 32);

struct RingDescriptor {
  // Receiving ring: credit granted to the printer and not yet used.
  // Sending ring: credit received from the printer.
  Le<std::uint16_t> credit;
  Le<std::uint16_t> packetsHeld;
  Le<std::uint16_t> slotCount;  // 10 receiving, 5 sending
  Le<std::uint16_t> reserved;
  Le<std::uint32_t> readOffset;
  Le<std::uint32_t> writeOffset;
  Le<std::uint16_t> partialBytes;  // payload bytes of the front packet already taken
  Le<std::uint16_t> pool;
  Le<std::int32_t> allocation;  // -1 none
};
static_assert(sizeof(RingDescriptor) == 24);

struct ChannelRecord {
  ChannelHead head;
  RingDescriptor recv;
  RingDescriptor send;
};
static_assert(sizeof(ChannelRecord) == 80);
static_assert(offsetof(ChannelRecord, send) == 56);

inline constexpr std::uint16_t kRecvSlots = 10;
inline constexpr std::uint16_t kSendSlots = 5;
inline constexpr std::uint32_t kDefaultTimeoutMs = 5000;

// Allocation table entry of a pool.
struct AllocEntry {
  Le<std::uint16_t> inUse;  // 1 used
  Le<std::uint16_t> firstBlock;
  Le<std::uint16_t> blockCount;
  Le<std::uint16_t> reserved;
};
static_assert(sizeof(AllocEntry) == 8);

// Main table "QRS_NBcbt_port_filemap".
namespace main_table {
inline constexpr std::size_t kSize = 0x40000;
inline constexpr std::size_t kPortCommands = 0x0000;
inline constexpr std::size_t kSocketIdMap = 0x0400;
inline constexpr std::size_t kSockets = 0x0600;
inline constexpr std::size_t kConnections = 0x1C00;
inline constexpr std::size_t kPorts = 0x3000;
inline constexpr std::size_t kChannels = 0x4500;
inline constexpr std::size_t kAllocTable = 0x6C00;
inline constexpr std::size_t kBlockMap = 0x7800;
inline constexpr std::size_t kBlocks = 0x10000;

static_assert(kPortCommands + kPortCount * sizeof(PortCommandRecord) <= kSocketIdMap);
static_assert(kSocketIdMap + kSocketIdCount <= kSockets);
static_assert(kSockets + kSocketRecordSlots * sizeof(SocketRecord) <= kConnections);
static_assert(kConnections + kConnectionCount * sizeof(ConnectionRecord) <= kPorts);
static_assert(kPorts + kPortCount * sizeof(PortRecord) <= kChannels);
static_assert(kChannels + kChannelSlots * sizeof(ChannelRecord) <= kAllocTable);
static_assert(kAllocTable + kBlocksPerPool * sizeof(AllocEntry) <= kBlockMap);
static_assert(kBlockMap + kBlocksPerPool <= kBlocks);
static_assert(kBlocks + kBlocksPerPool * kBlockSize == kSize);
}  // namespace main_table

// Overflow pool "QRS_NBcbt_port_filemap_%d".
namespace overflow_pool {
inline constexpr std::size_t kSize = 0x39400;
inline constexpr std::size_t kAllocTable = 0x0000;
inline constexpr std::size_t kBlockMap = 0x0C00;
inline constexpr std::size_t kBlocks = 0x9400;

static_assert(kAllocTable + kBlocksPerPool * sizeof(AllocEntry) <= kBlockMap);
static_assert(kBlockMap + kBlocksPerPool <= kBlocks);
static_assert(kBlocks + kBlocksPerPool * kBlockSize == kSize);
}  // namespace overflow_pool

// Typed access to the records of a mapped main table.
class MainTableView {
 public:
  explicit MainTableView(void* base) : base_(static_cast<std::byte*>(base)) {}

  PortCommandRecord& portCommand(int port) const {
    return At<PortCommandRecord>(main_table::kPortCommands, port);
  }
  std::uint8_t* socketIdMap() const {
    return reinterpret_cast<std::uint8_t*>(base_ + main_table::kSocketIdMap);
  }
  SocketRecord& socket(int handle) const { return At<SocketRecord>(main_table::kSockets, handle); }
  ConnectionRecord& connection(int index) const {
    return At<ConnectionRecord>(main_table::kConnections, index);
  }
  PortRecord& port(int index) const { return At<PortRecord>(main_table::kPorts, index); }
  ChannelRecord& channel(int number) const {
    return At<ChannelRecord>(main_table::kChannels, number);
  }
  std::byte* base() const { return base_; }

 private:
  template <class Record>
  Record& At(std::size_t offset, int index) const {
    return *reinterpret_cast<Record*>(base_ + offset +
                                      static_cast<std::size_t>(index) * sizeof(Record));
  }
  std::byte* base_;
};

}  // namespace tgx::chanlib
