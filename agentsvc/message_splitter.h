// Cuts the byte stream of one client connection into whole agent wire messages.
// A message split over several reads is kept until it is complete; a header
// that cannot be sound (see HeaderIsSound) stops the stream for good, so that
// the connection can be closed. What the splitter holds is bounded by the
// largest message plus one read.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tgx::agent {

class MessageSplitter {
 public:
  enum class Status {
    kMessage,    // `message` holds the next whole message
    kNeedMore,   // no whole message yet; the partial one is kept
    kMalformed,  // an unsound header: the connection must be closed
  };

  void Append(std::span<const std::uint8_t> bytes);

  // Takes the next whole message off the front. The span stays valid until the
  // next call of Append or Next.
  Status Next(std::span<const std::uint8_t>& message);

  std::size_t buffered() const { return buffer_.size() - consumed_; }

 private:
  std::vector<std::uint8_t> buffer_;
  std::size_t consumed_ = 0;
  bool malformed_ = false;
};

}  // namespace tgx::agent
