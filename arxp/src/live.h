// The ranges, node iterators and tree walkers that follow one document's changes.
// The tree tells the set of every mutation; the set passes it on to each member.
#pragma once

#include <vector>

#include "arxp/dom.h"
#include "arxp/range.h"
#include "arxp/traversal.h"

namespace arxp::detail {

class LiveSet {
 public:
  LiveSet() = default;
  LiveSet(const LiveSet&) = delete;
  LiveSet& operator=(const LiveSet&) = delete;
  // Detaches every member: the document is going.
  ~LiveSet();

  void add(Range* range) { ranges_.push_back(range); }
  void add(NodeIterator* iterator) { iterators_.push_back(iterator); }
  void add(TreeWalker* walker) { walkers_.push_back(walker); }
  void remove(const Range* range);
  void remove(const NodeIterator* iterator);
  void remove(const TreeWalker* walker);

  // `child` has just been linked under its parent.
  void inserted(Node* child);
  // `child` is about to leave its parent.
  void removing(Node* child);
  // `count` units at `offset` of a text-holding node are replaced by `added` units.
  void replacing(Node* node, int offset, int count, int added);
  // `text` has been split at `offset`; `tail`, holding the rest, is its next sibling
  // (when it has a parent) and `text` is not yet cut.
  void splitting(Text* text, int offset, Text* tail);
  // `node`, which has no parent, is about to be destroyed with its subtree.
  void destroying(const Node* node);

 private:
  std::vector<Range*> ranges_;
  std::vector<NodeIterator*> iterators_;
  std::vector<TreeWalker*> walkers_;
};

}  // namespace arxp::detail
