#include "tgx/wire/device_packet.h"

namespace tgx::wire::device_packet {

bool HeaderValid(const std::uint8_t* p, Answers answers) {
  if (LoadBe16(p + kMagic) != kMagicValue || p[kVersion] != kVersionValue) return false;
  const std::uint16_t opcode = Opcode(p);
  if (opcode < kFirstOpcode || opcode > kLastOpcode) return false;
  return answers == Answers::kAccepted || (Flags(p) & kFlagAnswer) == 0;
}

void Splitter::Feed(std::span<const std::uint8_t> bytes) {
  if (consumed_ > 0) {
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(consumed_));
    consumed_ = 0;
  }
  held_.insert(held_.end(), bytes.begin(), bytes.end());
}

Splitter::Status Splitter::Next(std::vector<std::uint8_t>& out) {
  const std::size_t available = Buffered();
  if (available < kHeaderSize) return Status::kNeedMore;
  const std::uint8_t* head = held_.data() + consumed_;
  if (!HeaderValid(head, answers_)) {
    out.assign(head, head + available);
    Clear();
    return Status::kBroken;
  }
  const std::size_t total = kHeaderSize + PayloadLength(head);
  if (available < total) return Status::kNeedMore;
  out.assign(head, head + total);
  consumed_ += total;
  if (consumed_ == held_.size()) Clear();
  return Status::kPacket;
}

void Splitter::Clear() {
  held_.clear();
  consumed_ = 0;
}

}  // namespace tgx::wire::device_packet
