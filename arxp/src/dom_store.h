// What a document keeps beside its nodes: the text it was parsed from, which its
// nodes' strings view, an arena for the strings the parser had to change, the
// live child lists made so far, and its namespace names.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "arxp/dom.h"
#include "arxp/memory.h"
#include "arxp/xstring.h"

namespace arxp::detail {

// Strings that live as long as the document, copied into blocks that are never
// freed one by one: no allocation and no slack per string.
class StringArena {
 public:
  // A view of a zero-terminated copy of the units.
  Xstring keep(const char16_t* units, int length);

 private:
  std::vector<Block<char16_t>> blocks_;
  char16_t* next_ = nullptr;  // free units of the last block
  std::size_t left_ = 0;
};

class DocumentStore {
 public:
  // Whether `units` lie in the parsed text (its terminating zero excluded).
  bool inText(const char16_t* units) const {
    const auto at = reinterpret_cast<std::uintptr_t>(units);
    const auto begin = reinterpret_cast<std::uintptr_t>(text.data());
    return at >= begin && at < begin + text.size() * sizeof(char16_t);
  }
  // The document's copy of a namespace name.
  const Xstring* namespaceName(const Xstring& uri);

  UnitText text;  // the document as parsed
  StringArena arena;
  std::unordered_map<const Node*, std::unique_ptr<NodeList>> child_lists;

 private:
  // Views into their keys.
  std::unordered_map<std::u16string, Xstring> namespaces_;
  const Xstring* last_namespace_ = nullptr;
};

}  // namespace arxp::detail
