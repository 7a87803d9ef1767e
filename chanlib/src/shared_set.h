// The named objects through which every process that loads the channel library
// shares its sockets, ports and channels, and reaches the port workers: the
// main table, the channel count, the overflow pools, the per-port events and
// the lock mutexes. One SharedSet per process, from start-up to detach.
//
// Lock order, outermost first: ports lock or sockets lock (never both); the
// port's transaction lock; the port's request lock; a channel's lock; then at
// most one record mutex (port commands, channel records, buffers, sockets,
// channel count, port records) at a time.
#pragma once

#include <array>
#include <memory>
#include <optional>

#include "chanlib/buffer_pool.h"
#include "chanlib/family.h"
#include "chanlib/shared_layout.h"
#include "tgx/handle.h"
#include "tgx/kobj.h"

namespace tgx::chanlib {

class SharedSet : public OverflowPools {
 public:
  // Creates the set (first process: the one that creates the "_Init" mutex,
  // which also zero-fills the table) or joins it. Null on any failure, with
  // everything opened so far closed again.
  static std::unique_ptr<SharedSet> Open(Family family);
  ~SharedSet() override;

  Family family() const { return family_; }
  bool creator() const { return creator_; }
  MainTableView table() const { return MainTableView(mainView_.data()); }
  const PoolView& mainPool() const { return *mainPool_; }
  // Pool 0 (main) or an overflow pool 1 to 10, mapped on first use; null when it
  // cannot be had. Callers hold the buffers mutex.
  const PoolView* PoolAt(int number);
  std::optional<OverflowPools::Pool> Acquire(int pool) override;

  Le<std::uint32_t>& channelCount() const {
    return *static_cast<Le<std::uint32_t>*>(channelCountView_.data());
  }
  // Makes writes to shared records visible to the other processes.
  void FlushTable() const { FlushViewOfFile(mainView_); }
  void FlushPool(int number) const;

  const Handle& wakeUp(int port) const { return wakeUp_[port]; }
  const Handle& done(int port) const { return done_[port]; }
  const Handle& portCommandsMutex() const { return recordMutexes_[0]; }
  const Handle& channelRecordsMutex() const { return recordMutexes_[1]; }
  const Handle& buffersMutex() const { return recordMutexes_[2]; }
  const Handle& socketsMutex() const { return recordMutexes_[3]; }
  const Handle& channelCountMutex() const { return recordMutexes_[4]; }
  const Handle& portRecordsMutex() const { return recordMutexes_[5]; }
  const Handle& portsLock() const { return portsLock_; }
  const Handle& socketsLock() const { return socketsLock_; }
  const Handle& portRequestLock(int port) const { return portRequest_[port]; }
  const Handle& portTransactionLock(int port) const { return portTransaction_[port]; }
  const Handle& channelLock(int channel) const { return channelLocks_[channel]; }

  // The keep-alive mutex this process holds for the worker of a port.
  Handle& keepAlive(int port) { return keepAlive_[port]; }

 private:
  explicit SharedSet(Family family) : family_(family) {}
  bool OpenObjects();

  struct OverflowPool {
    Handle mapping;
    MappedView view;
    std::optional<PoolView> pool;
  };

  Family family_;
  bool creator_ = false;
  // Declared in the order of start-up: destruction closes them in reverse.
  Handle mainMapping_;
  MappedView mainView_;
  std::optional<PoolView> mainPool_;
  Handle initMutex_;
  Handle channelCountMapping_;
  MappedView channelCountView_;
  std::array<Handle, kPortCount> wakeUp_;
  std::array<Handle, kPortCount> done_;
  std::array<Handle, 6> recordMutexes_;
  Handle portsLock_;
  Handle socketsLock_;
  std::array<Handle, kPortCount> portRequest_;
  std::array<Handle, kPortCount> portTransaction_;
  std::array<Handle, kChannelSlots> channelLocks_;
  std::array<OverflowPool, kOverflowPoolCount + 1> overflow_;  // index 0 unused
  std::array<Handle, kPortCount> keepAlive_;
};

}  // namespace tgx::chanlib
