#include "job_queue.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "chanlib/result_codes.h"
#include "engine.h"
#include "records.h"
#include "tgx/named_objects.h"

namespace tgx::chanlib {

bool JobQueue::Start(SharedSet& set, int connection) {
  ConnectionRecord record = LoadConnection(set, connection);
  const std::uint32_t capacity = record.payloadSize * kQueuePackets;
  if (capacity == 0) return false;
  {
    NamedMutexLock lock(set.buffersMutex());
    const int entry = AllocateBlocks(set.mainPool(), capacity);
    if (entry < 0) return false;
    set.FlushTable();
    record.queueAllocation = entry;
  }
  record.queueCapacity = capacity;
  record.bytesQueued = 0;
  record.senderResult = 0;
  record.queueMutex = 1;
  record.queueStartedEvent = 1;
  record.queueStopEvent = 1;
  record.senderThread = 1;
  StoreConnection(set, connection, record);
  set_ = &set;
  connection_ = connection;
  stop_ = false;
  sender_ = std::thread(&JobQueue::Run, this);
  return true;
}

int JobQueue::Append(SharedSet& set, int connection, std::span<const std::uint8_t> data) {
  std::lock_guard lock(mutex_);
  ConnectionRecord record = LoadConnection(set, connection);
  if (record.senderResult < 0) return record.senderResult;
  const std::span<std::byte> queue = AllocationBytes(set.mainPool(), record.queueAllocation);
  const std::size_t queued = std::min<std::size_t>(record.bytesQueued, queue.size());
  const std::size_t room = std::min<std::size_t>(record.queueCapacity, queue.size()) - queued;
  const std::size_t n = std::min(room, data.size());
  if (n > 0) std::memcpy(queue.data() + queued, data.data(), n);
  record.bytesQueued = static_cast<std::uint32_t>(queued + n);
  StoreConnection(set, connection, record);
  return static_cast<int>(n);
}

void JobQueue::Cancel(SharedSet& set, int connection) {
  std::lock_guard lock(mutex_);
  ConnectionRecord record = LoadConnection(set, connection);
  record.bytesQueued = 0;
  StoreConnection(set, connection, record);
}

void JobQueue::Run() {
  SharedSet& set = *set_;
  std::vector<std::uint8_t> chunk;
  for (;;) {
    const bool stopping = stop_;
    ConnectionRecord record;
    {
      std::lock_guard lock(mutex_);
      record = LoadConnection(set, connection_);
      const std::span<std::byte> queue = AllocationBytes(set.mainPool(), record.queueAllocation);
      const std::size_t queued = std::min<std::size_t>(record.bytesQueued, queue.size());
      if (queued == 0 && stopping) return;
      chunk.clear();
      if (queued >= record.payloadSize || (stopping && queued > 0)) {
        const std::size_t n = std::min<std::size_t>(queued, record.payloadSize);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(queue.data());
        chunk.assign(bytes, bytes + n);
      }
    }
    if (chunk.empty()) {
      Sleep(1);
      continue;
    }
    int sent = ChannelSend(set, static_cast<int>(record.port.get()),
                           static_cast<int>(record.channel.get()), chunk);
    // A printer that takes nothing while the connection closes would hold
    // the close forever.
    if (sent == 0 && stopping) sent = kProtocolFailure;
    std::lock_guard lock(mutex_);
    record = LoadConnection(set, connection_);
    if (sent < 0) {
      record.senderResult = sent;
      StoreConnection(set, connection_, record);
      return;
    }
    const std::span<std::byte> queue = AllocationBytes(set.mainPool(), record.queueAllocation);
    const std::size_t queued = std::min<std::size_t>(record.bytesQueued, queue.size());
    const std::size_t removed = std::min<std::size_t>(queued, static_cast<std::size_t>(sent));
    std::memmove(queue.data(), queue.data() + removed, queued - removed);
    record.bytesQueued = static_cast<std::uint32_t>(queued - removed);
    StoreConnection(set, connection_, record);
  }
}

int JobQueue::Stop() {
  if (!sender_.joinable()) return 0;
  stop_ = true;
  sender_.join();
  SharedSet& set = *set_;
  ConnectionRecord record = LoadConnection(set, connection_);
  {
    NamedMutexLock lock(set.buffersMutex());
    FreeBlocks(set.mainPool(), record.queueAllocation);
    set.FlushTable();
  }
  const int result = record.senderResult;
  record.queueAllocation = -1;
  record.bytesQueued = 0;
  StoreConnection(set, connection_, record);
  return result;
}

}  // namespace tgx::chanlib
