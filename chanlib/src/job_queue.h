// The background job queue of a print-job connection: sends on channel 0x10
// are appended to a pool buffer and a sender thread of this process hands them
// to the printer a packet payload at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>
#include <thread>

#include "shared_set.h"

namespace tgx::chanlib {

inline constexpr std::uint32_t kQueuePackets = 15;

class JobQueue {
 public:
  JobQueue() = default;
  JobQueue(const JobQueue&) = delete;
  JobQueue& operator=(const JobQueue&) = delete;
  ~JobQueue() { Stop(); }

  bool running() const { return sender_.joinable(); }
  // Allocates the queue of the connection and starts its sender. False when
  // either could not be had (the caller then sends directly).
  bool Start(SharedSet& set, int connection);
  // Appends what fits: the count appended, or the recorded sender failure.
  int Append(SharedSet& set, int connection, std::span<const std::uint8_t> data);
  // Forgets what is queued and not yet sent.
  void Cancel(SharedSet& set, int connection);
  // Lets the sender send what remains, waits for it and frees the queue. The
  // recorded sender failure, or 0.
  int Stop();

 private:
  void Run();

  SharedSet* set_ = nullptr;
  int connection_ = -1;
  std::mutex mutex_;  // the connection's queue mutex
  std::atomic<bool> stop_{false};
  std::thread sender_;
};

}  // namespace tgx::chanlib
