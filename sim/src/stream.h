// A non-blocking byte stream on one descriptor (pty master or socket) inside the
// event loop: reads are handed to a callback, writes are buffered until the peer
// takes them, and reading can be paused (a stalled printer).
#pragma once

#include <sys/types.h>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "event_loop.h"
#include "tgx/unique_fd.h"

namespace printersim {

class Stream {
 public:
  using DataHandler = std::function<void(std::span<const std::uint8_t>)>;
  using ClosedHandler = std::function<void()>;

  // on_closed runs once when the peer closes or the descriptor fails; it may
  // destroy the Stream.
  Stream(EventLoop& loop, tgx::UniqueFd fd, DataHandler on_data, ClosedHandler on_closed);
  ~Stream();
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  void Write(std::span<const std::uint8_t> bytes);
  void SetReading(bool reading);
  // Forgets output not yet taken by the peer.
  void DiscardOutput();
  std::size_t pending_output() const { return out_.size() - out_offset_; }
  int fd() const { return fd_.get(); }
  // Reads whatever the descriptor holds now, even while reading is paused.
  void Drain();

 private:
  void OnEvents(std::uint32_t events);
  ssize_t WriteSome(const std::uint8_t* bytes, std::size_t size);
  bool ReadAvailable(std::size_t max_reads);
  void FlushOutput();
  void UpdateInterest();
  void Close();

  EventLoop& loop_;
  tgx::UniqueFd fd_;
  DataHandler on_data_;
  ClosedHandler on_closed_;
  std::vector<std::uint8_t> buffer_;  // reads land here (one stream, one reader)
  bool is_socket_ = false;
  std::vector<std::uint8_t> out_;
  std::size_t out_offset_ = 0;
  bool reading_ = true;
  bool closed_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace printersim
