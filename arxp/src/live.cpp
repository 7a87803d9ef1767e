#include "live.h"

#include <algorithm>

#include "tree.h"

namespace arxp::detail {

LiveSet::~LiveSet() {
  for (Range* range : ranges_) range->live_ = nullptr;
  for (NodeIterator* iterator : iterators_) {
    iterator->live_ = nullptr;
    iterator->reference_ = nullptr;
  }
  for (TreeWalker* walker : walkers_) {
    walker->live_ = nullptr;
    walker->root_ = walker->current_ = nullptr;
  }
}

void LiveSet::remove(const Range* range) { std::erase(ranges_, range); }
void LiveSet::remove(const NodeIterator* iterator) { std::erase(iterators_, iterator); }
void LiveSet::remove(const TreeWalker* walker) { std::erase(walkers_, walker); }

void LiveSet::inserted(Node* child) {
  if (ranges_.empty()) return;
  const Node* parent = child->getParentNode();
  const int index = IndexOf(child);
  for (Range* range : ranges_) range->inserted(parent, index);
}

void LiveSet::removing(Node* child) {
  for (NodeIterator* iterator : iterators_) iterator->removing(child);
  if (ranges_.empty()) return;
  Node* parent = child->getParentNode();
  const int index = IndexOf(child);
  for (Range* range : ranges_) range->removing(parent, index, child);
}

void LiveSet::replacing(Node* node, int offset, int count, int added) {
  for (Range* range : ranges_) range->replacing(node, offset, count, added);
}

void LiveSet::splitting(Text* text, int offset, Text* tail) {
  if (ranges_.empty()) return;
  const Node* parent = text->getParentNode();
  const int index = IndexOf(text);
  for (Range* range : ranges_) range->splitting(text, offset, tail, parent, index);
}

void LiveSet::destroying(const Node* node) {
  std::erase_if(ranges_, [node](Range* range) { return range->destroying(node); });
  std::erase_if(iterators_, [node](NodeIterator* it) { return it->destroying(node); });
  std::erase_if(walkers_, [node](TreeWalker* walker) { return walker->destroying(node); });
}

}  // namespace arxp::detail
