// The background job queue of a print-job connection: sends on channel 0x10
// are appended to a pool buffer and a sender thread of this process hands them
// to the printer a packet payload at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <thread>

#include "shared_set.h"
#include "tgx/handle.h"

namespace tgx::chanlib {

inline constexpr std::uint32_t kQueuePackets = 15;

class JobQueue {
 public:
  JobQueue() = default;
  JobQueue(const JobQueue&) = delete;
  JobQueue& operator=(const JobQueue&) = delete;
  ~JobQueue() { Stop(); }

  bool running() const { return sender_.joinable(); }
  // Allocates the queue of the connection, creates its mutex and events and
  // starts its sender, then names them in the connection record: the handle
  // numbers of this process (ProcessLocalHandles) and the sender's thread id.
  // False when any of them could not be had (the caller then sends directly).
  bool Start(SharedSet& set, int connection);
  // Appends what fits: the count appended, or the recorded sender failure.
  int Append(SharedSet& set, int connection, std::span<const std::uint8_t> data);
  // Waits until the sender has emptied half of the queue, at most
  // `milliseconds`: what a caller whose send found the queue full does before
  // it returns.
  void AwaitRoom(DWORD milliseconds) const;
  // Forgets what is queued and not yet sent.
  void Cancel(SharedSet& set, int connection);
  // Lets the sender send what remains, waits for it, frees the queue and
  // closes its objects. The recorded sender failure, or 0.
  int Stop();

 private:
  bool CreateObjects();
  void CloseObjects();
  void Run();

  SharedSet* set_ = nullptr;
  int connection_ = -1;
  Handle queueMutex_;    // guards the record's queue fields and the queue's bytes
  Handle startedEvent_;  // manual-reset: the sender has its work buffer and runs
  Handle stopEvent_;     // manual-reset: send what remains, then end
  // Auto-reset, this process only: bytes were queued (the sender's pause ends
  // early), half of the queue is free (a full queue's caller goes on early).
  Handle dataQueued_;
  Handle roomMade_;
  std::uint32_t queueMutexNumber_ = 0;
  std::uint32_t startedEventNumber_ = 0;
  std::uint32_t stopEventNumber_ = 0;
  std::atomic<DWORD> senderThreadId_{0};
  std::thread sender_;
};

}  // namespace tgx::chanlib
