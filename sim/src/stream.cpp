#include "stream.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>

namespace printersim {
namespace {
// One read takes what a pty or socket holds at once; a few in a row keep a
// busy writer moving without starving the other descriptors.
constexpr std::size_t kReadSize = 64 * 1024;
constexpr std::size_t kReadsPerEvent = 16;
}  // namespace

Stream::Stream(EventLoop& loop, tgx::UniqueFd fd, DataHandler on_data, ClosedHandler on_closed)
    : loop_(loop),
      fd_(std::move(fd)),
      on_data_(std::move(on_data)),
      on_closed_(std::move(on_closed)),
      buffer_(kReadSize) {
  struct stat st {};
  is_socket_ = fstat(fd_.get(), &st) == 0 && S_ISSOCK(st.st_mode);
  loop_.Add(fd_.get(), EPOLLIN, [this](std::uint32_t events) { OnEvents(events); });
}

Stream::~Stream() {
  *alive_ = false;
  loop_.Remove(fd_.get());
}

void Stream::Write(std::span<const std::uint8_t> bytes) {
  if (closed_ || bytes.empty()) return;
  if (pending_output() == 0) {
    // Fast path: straight to the descriptor, buffering only the rest.
    ssize_t n;
    do {
      n = WriteSome(bytes.data(), bytes.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0 && errno != EAGAIN) return;  // the peer is gone; the read side reports it
    const std::size_t written = n < 0 ? 0 : static_cast<std::size_t>(n);
    if (written == bytes.size()) return;
    out_.assign(bytes.begin() + static_cast<std::ptrdiff_t>(written), bytes.end());
    out_offset_ = 0;
  } else {
    out_.insert(out_.end(), bytes.begin(), bytes.end());
  }
  UpdateInterest();
}

ssize_t Stream::WriteSome(const std::uint8_t* bytes, std::size_t size) {
  // MSG_NOSIGNAL: a peer that went away must not kill the simulator.
  return is_socket_ ? ::send(fd_.get(), bytes, size, MSG_NOSIGNAL | MSG_DONTWAIT)
                    : ::write(fd_.get(), bytes, size);
}

void Stream::SetReading(bool reading) {
  if (reading_ == reading) return;
  reading_ = reading;
  UpdateInterest();
}

void Stream::DiscardOutput() {
  out_.clear();
  out_offset_ = 0;
  UpdateInterest();
}

void Stream::UpdateInterest() {
  if (closed_) return;
  std::uint32_t events = 0;
  if (reading_) events |= EPOLLIN;
  if (pending_output() > 0) events |= EPOLLOUT;
  loop_.Modify(fd_.get(), events);
}

void Stream::Drain() {
  if (!closed_) ReadAvailable(SIZE_MAX);
}

// Returns false when the stream closed (and may be destroyed).
bool Stream::ReadAvailable(std::size_t max_reads) {
  auto alive = alive_;
  for (std::size_t i = 0; i < max_reads; ++i) {
    const ssize_t n = ::read(fd_.get(), buffer_.data(), buffer_.size());
    if (n > 0) {
      on_data_(std::span<const std::uint8_t>(buffer_.data(), static_cast<std::size_t>(n)));
      if (!*alive || closed_) return false;
      // A short read emptied the descriptor: the next read would only say so
      // (EAGAIN); the level-triggered poll reports whatever comes next.
      if (static_cast<std::size_t>(n) < buffer_.size() && max_reads != SIZE_MAX) return true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return true;
    Close();
    return false;
  }
  return true;
}

void Stream::FlushOutput() {
  while (pending_output() > 0) {
    const ssize_t n = WriteSome(out_.data() + out_offset_, pending_output());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out_offset_ += static_cast<std::size_t>(n);
  }
  if (pending_output() == 0) {
    out_.clear();
    out_offset_ = 0;
  }
  UpdateInterest();
}

void Stream::OnEvents(std::uint32_t events) {
  if (events & EPOLLOUT) FlushOutput();
  if (reading_ && (events & (EPOLLIN | EPOLLHUP | EPOLLERR))) {
    ReadAvailable(kReadsPerEvent);
  } else if (events & (EPOLLERR | EPOLLHUP)) {
    Close();  // a stalled stream's peer went away: nothing will take its data
  }
}

void Stream::Close() {
  if (closed_) return;
  closed_ = true;
  loop_.Remove(fd_.get());
  if (on_closed_) on_closed_();
}

}  // namespace printersim
