#include "message_splitter.h"

#include "tgx/wire/agent_wire.h"

namespace tgx::agent {

void MessageSplitter::Append(std::span<const std::uint8_t> bytes) {
  if (malformed_) return;
  // Drop what earlier messages consumed before growing, so the buffer holds at
  // most one partial message and the new bytes.
  if (consumed_ != 0) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(consumed_));
    consumed_ = 0;
  }
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

MessageSplitter::Status MessageSplitter::Next(std::span<const std::uint8_t>& message) {
  if (malformed_) return Status::kMalformed;
  const std::size_t available = buffer_.size() - consumed_;
  if (available < header::kSize) return Status::kNeedMore;
  const std::uint8_t* front = buffer_.data() + consumed_;
  if (!HeaderIsSound(front)) {
    malformed_ = true;
    buffer_.clear();
    consumed_ = 0;
    return Status::kMalformed;
  }
  const std::uint32_t length = MessageLength(front);
  if (available < length) return Status::kNeedMore;
  message = {front, length};
  consumed_ += length;
  return Status::kMessage;
}

}  // namespace tgx::agent
