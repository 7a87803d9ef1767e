#include "job_queue.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <vector>

#include "chanlib/result_codes.h"
#include "engine.h"
#include "local_handles.h"
#include "records.h"
#include "tgx/kobj.h"
#include "tgx/named_objects.h"

namespace tgx::chanlib {
namespace {

// The connection record's names of the queue's objects: all zero once they
// are closed.
void NameQueueObjects(ConnectionRecord& record, std::uint32_t startedEvent, std::uint32_t stopEvent,
                      DWORD senderThread, std::uint32_t queueMutex) {
  record.queueStartedEvent = startedEvent;
  record.queueStopEvent = stopEvent;
  record.senderThread = senderThread;
  record.queueMutex = queueMutex;
}

}  // namespace

bool JobQueue::CreateObjects() {
  queueMutex_ = CreateMutexA(nullptr, FALSE, nullptr);
  startedEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  stopEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  dataQueued_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  roomMade_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (!queueMutex_ || !startedEvent_ || !stopEvent_ || !dataQueued_ || !roomMade_) {
    CloseObjects();
    return false;
  }
  LocalHandles& handles = ProcessLocalHandles();
  queueMutexNumber_ = handles.Add(queueMutex_);
  startedEventNumber_ = handles.Add(startedEvent_);
  stopEventNumber_ = handles.Add(stopEvent_);
  return true;
}

void JobQueue::CloseObjects() {
  LocalHandles& handles = ProcessLocalHandles();
  for (std::uint32_t* number : {&queueMutexNumber_, &startedEventNumber_, &stopEventNumber_}) {
    if (*number != 0) handles.Remove(*number);
    *number = 0;
  }
  queueMutex_.reset();
  startedEvent_.reset();
  stopEvent_.reset();
  dataQueued_.reset();
  roomMade_.reset();
  senderThreadId_ = 0;
}

bool JobQueue::Start(SharedSet& set, int connection) {
  ConnectionRecord record = LoadConnection(set, connection);
  const std::uint32_t capacity = record.payloadSize * kQueuePackets;
  if (capacity == 0 || !CreateObjects()) return false;
  {
    NamedMutexLock lock(set.buffersMutex());
    const int entry = AllocateBlocks(set.mainPool(), capacity);
    if (entry < 0) {
      CloseObjects();
      return false;
    }
    set.FlushTable();
    record.queueAllocation = entry;
  }
  record.queueCapacity = capacity;
  record.bytesQueued = 0;
  record.senderResult = 0;
  StoreQueueFields(set, connection, record);
  set_ = &set;
  connection_ = connection;
  try {
    sender_ = std::thread(&JobQueue::Run, this);
  } catch (const std::system_error&) {
    NamedMutexLock lock(set.buffersMutex());
    FreeBlocks(set.mainPool(), record.queueAllocation);
    set.FlushTable();
    record.queueAllocation = -1;
    StoreQueueFields(set, connection, record);
    CloseObjects();
    return false;
  }
  // The sender is a thread of this process: its answer always comes.
  WaitForSingleObject(startedEvent_, INFINITE);
  NamedMutexLock lock(queueMutex_);
  record = LoadConnection(set, connection);
  NameQueueObjects(record, startedEventNumber_, stopEventNumber_, senderThreadId_,
                   queueMutexNumber_);
  StoreQueueFields(set, connection, record);
  return true;
}

int JobQueue::Append(SharedSet& set, int connection, std::span<const std::uint8_t> data) {
  NamedMutexLock lock(queueMutex_);
  ConnectionRecord record = LoadConnection(set, connection);
  if (record.senderResult < 0) return record.senderResult;
  const std::span<std::byte> queue = AllocationBytes(set.mainPool(), record.queueAllocation);
  const std::size_t queued = std::min<std::size_t>(record.bytesQueued, queue.size());
  const std::size_t room = std::min<std::size_t>(record.queueCapacity, queue.size()) - queued;
  const std::size_t n = std::min(room, data.size());
  if (n > 0) std::memcpy(queue.data() + queued, data.data(), n);
  record.bytesQueued = static_cast<std::uint32_t>(queued + n);
  StoreQueueFields(set, connection, record);
  if (n > 0) SetEvent(dataQueued_);
  return static_cast<int>(n);
}

void JobQueue::AwaitRoom(DWORD milliseconds) const { WaitForSingleObject(roomMade_, milliseconds); }

void JobQueue::Cancel(SharedSet& set, int connection) {
  if (!running()) return;  // nothing was ever queued
  NamedMutexLock lock(queueMutex_);
  ConnectionRecord record = LoadConnection(set, connection);
  record.bytesQueued = 0;
  StoreQueueFields(set, connection, record);
}

void JobQueue::Run() {
  SharedSet& set = *set_;
  std::vector<std::uint8_t> chunk;
  chunk.reserve(LoadConnection(set, connection_).payloadSize);
  senderThreadId_ = GetCurrentThreadId();
  SetEvent(startedEvent_);
  for (;;) {
    const bool stopping = WaitForSingleObject(stopEvent_, 0) == WAIT_OBJECT_0;
    ConnectionRecord record;
    {
      NamedMutexLock lock(queueMutex_);
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
      // Less than a payload: pause a millisecond, less when more comes.
      WaitForSingleObject(dataQueued_, 1);
      continue;
    }
    int sent = ChannelSend(set, static_cast<int>(record.port.get()),
                           static_cast<int>(record.channel.get()), chunk);
    // A printer that takes nothing while the connection closes would hold
    // the close forever.
    if (sent == 0 && stopping) sent = kProtocolFailure;
    NamedMutexLock lock(queueMutex_);
    record = LoadConnection(set, connection_);
    if (sent < 0) {
      record.senderResult = sent;
      StoreQueueFields(set, connection_, record);
      return;
    }
    const std::span<std::byte> queue = AllocationBytes(set.mainPool(), record.queueAllocation);
    const std::size_t queued = std::min<std::size_t>(record.bytesQueued, queue.size());
    const std::size_t removed = std::min<std::size_t>(queued, static_cast<std::size_t>(sent));
    std::memmove(queue.data(), queue.data() + removed, queued - removed);
    record.bytesQueued = static_cast<std::uint32_t>(queued - removed);
    StoreQueueFields(set, connection_, record);
    // A caller facing a full queue goes on once half of it is free: it then
    // fills several payloads at once instead of waking for each packet.
    if (record.bytesQueued <= record.queueCapacity / 2) SetEvent(roomMade_);
  }
}

int JobQueue::Stop() {
  if (!sender_.joinable()) return 0;
  SetEvent(stopEvent_);
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
  NameQueueObjects(record, 0, 0, 0, 0);
  StoreQueueFields(set, connection_, record);
  CloseObjects();
  return result;
}

}  // namespace tgx::chanlib
