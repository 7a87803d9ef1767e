#include "dom_store.h"

#include <algorithm>
#include <cstring>

namespace arxp::detail {
namespace {

// Blocks double with the document, from a size that suits a small one, up to
// 128 KiB.
constexpr std::size_t kFirstBlockUnits = 512;
constexpr std::size_t kMaxDoublings = 7;

}  // namespace

Xstring StringArena::keep(const char16_t* units, int length) {
  if (length <= 0) return Xstring(u"", 0);
  const auto size = static_cast<std::size_t>(length) + 1;
  if (size > left_) {
    const std::size_t block = kFirstBlockUnits << std::min(blocks_.size(), kMaxDoublings);
    left_ = std::max(size, block);
    next_ = blocks_.emplace_back(left_).get();
  }
  char16_t* copy = next_;
  std::memcpy(copy, units, (size - 1) * sizeof(char16_t));
  copy[size - 1] = 0;
  next_ += size;
  left_ -= size;
  return Xstring(copy, length);
}

const Xstring* DocumentStore::namespaceName(const Xstring& uri) {
  // A document mostly uses one namespace for long stretches.
  if (last_namespace_ && *last_namespace_ == uri) return last_namespace_;
  auto [entry, added] =
      namespaces_.try_emplace(std::u16string(uri.data(), static_cast<std::size_t>(uri.length())));
  if (added) entry->second = Xstring(entry->first.data(), static_cast<int>(entry->first.size()));
  last_namespace_ = &entry->second;
  return last_namespace_;
}

}  // namespace arxp::detail
