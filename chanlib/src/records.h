// Shared records read whole and written whole under their own mutex, each
// write flushed so that the other processes see it.
#pragma once

#include "shared_set.h"
#include "tgx/named_objects.h"

namespace tgx::chanlib {

template <class Record>
Record Load(const Handle& mutex, const Record& shared) {
  NamedMutexLock lock(mutex);
  return shared;
}

// Reads the record, lets change() alter the copy, writes it back.
template <class Record, class Change>
auto Update(const SharedSet& set, const Handle& mutex, Record& shared, Change change) {
  NamedMutexLock lock(mutex);
  Record copy = shared;
  if constexpr (std::is_void_v<decltype(change(copy))>) {
    change(copy);
    shared = copy;
    set.FlushTable();
  } else {
    auto result = change(copy);
    shared = copy;
    set.FlushTable();
    return result;
  }
}

inline PortRecord LoadPort(SharedSet& set, int port) {
  return Load(set.portRecordsMutex(), set.table().port(port));
}
template <class Change>
auto UpdatePort(SharedSet& set, int port, Change change) {
  return Update(set, set.portRecordsMutex(), set.table().port(port), change);
}

inline ChannelRecord LoadChannel(SharedSet& set, int channel) {
  return Load(set.channelRecordsMutex(), set.table().channel(channel));
}
template <class Change>
auto UpdateChannel(SharedSet& set, int channel, Change change) {
  return Update(set, set.channelRecordsMutex(), set.table().channel(channel), change);
}

inline SocketRecord LoadSocket(SharedSet& set, int handle) {
  return Load(set.socketsMutex(), set.table().socket(handle));
}
template <class Change>
auto UpdateSocket(SharedSet& set, int handle, Change change) {
  return Update(set, set.socketsMutex(), set.table().socket(handle), change);
}

// Connection records are guarded by the ports lock (or, for the job queue's
// fields, the connection's own queue mutex), which the callers hold.
inline ConnectionRecord LoadConnection(SharedSet& set, int index) {
  return set.table().connection(index);
}
inline void StoreConnection(SharedSet& set, int index, const ConnectionRecord& record) {
  set.table().connection(index) = record;
  set.FlushTable();
}

// A live connection record has two writers: the ports lock's holder changes its
// state, the job queue (under the queue mutex) its queue fields. Each writes
// only its own fields, so that neither undoes a change the other made meanwhile
// (a port loss reverted to connected, a sender failure forgotten).
inline void StoreConnectionState(SharedSet& set, int index, std::uint32_t state) {
  set.table().connection(index).state = state;
  set.FlushTable();
}
inline void StoreQueueFields(SharedSet& set, int index, const ConnectionRecord& record) {
  ConnectionRecord& shared = set.table().connection(index);
  shared.queueStartedEvent = record.queueStartedEvent;
  shared.queueStopEvent = record.queueStopEvent;
  shared.senderThread = record.senderThread;
  shared.queueMutex = record.queueMutex;
  shared.queueCapacity = record.queueCapacity;
  shared.bytesQueued = record.bytesQueued;
  shared.queueAllocation = record.queueAllocation;
  shared.senderResult = record.senderResult;
  set.FlushTable();
}

}  // namespace tgx::chanlib
