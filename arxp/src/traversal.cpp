#include "arxp/traversal.h"

#include "arxp/dom.h"
#include "live.h"
#include "tree.h"

namespace arxp {
namespace {

// What a traversal makes of a node: kinds outside the mask are skipped unseen by
// the filter.
short Accept(Node* node, unsigned int what_to_show, NodeFilter* filter) {
  if (!(what_to_show & (1u << (node->getNodeType() - 1)))) return NodeFilter::FILTER_SKIP;
  return filter ? filter->acceptNode(node) : NodeFilter::FILTER_ACCEPT;
}

// Without expansion the children of an entity reference are not part of the view.
bool ShowsChildren(const Node* node, bool expand) {
  return expand || node->getNodeType() != Node::ENTITY_REFERENCE_NODE;
}

// The node after `node` in document order within the subtree of `root`.
Node* Following(const Node* root, Node* node, bool expand) {
  if (ShowsChildren(node, expand) && node->getFirstChild()) return node->getFirstChild();
  for (; node && node != root; node = node->getParentNode())
    if (Node* next = node->getNextSibling()) return next;
  return nullptr;
}

// The node before `node` in document order within the subtree of `root`.
Node* Preceding(const Node* root, Node* node, bool expand) {
  if (node == root) return nullptr;
  Node* previous = node->getPreviousSibling();
  if (!previous) return node->getParentNode();
  while (ShowsChildren(previous, expand) && previous->getLastChild())
    previous = previous->getLastChild();
  return previous;
}

}  // namespace

NodeFilter::~NodeFilter() = default;
DocumentTraversal::~DocumentTraversal() = default;

// ---- NodeIterator ----

NodeIterator::NodeIterator(detail::LiveSet* live, Node* root, unsigned int what_to_show,
                           NodeFilter* filter, bool expand)
    : live_(live),
      root_(root),
      what_to_show_(what_to_show),
      filter_(filter),
      expand_(expand),
      reference_(root) {
  if (live_) live_->add(this);
}

NodeIterator::~NodeIterator() {
  if (live_) live_->remove(this);
}

void NodeIterator::detach() {
  if (live_) live_->remove(this);
  live_ = nullptr;
  reference_ = nullptr;
}

void NodeIterator::checkAttached() const {
  if (!reference_)
    throw DOMException(DOMException::INVALID_STATE_ERR, "NodeIterator already detached");
}

Node* NodeIterator::nextNode() {
  checkAttached();
  Node* node = reference_;
  bool before = before_reference_;
  do {
    if (before)
      before = false;
    else if (!(node = Following(root_, node, expand_)))
      return nullptr;
  } while (Accept(node, what_to_show_, filter_) != NodeFilter::FILTER_ACCEPT);
  reference_ = node;
  before_reference_ = false;
  return node;
}

Node* NodeIterator::previousNode() {
  checkAttached();
  Node* node = reference_;
  bool before = before_reference_;
  do {
    if (!before)
      before = true;
    else if (!(node = Preceding(root_, node, expand_)))
      return nullptr;
  } while (Accept(node, what_to_show_, filter_) != NodeFilter::FILTER_ACCEPT);
  reference_ = node;
  before_reference_ = true;
  return node;
}

void NodeIterator::removing(Node* child) {
  if (child == root_ || !detail::IsInclusiveAncestor(child, reference_)) return;
  if (before_reference_) {
    // Stay before the first node after the removed subtree, if the root has one.
    for (Node* n = child; n && n != root_; n = n->getParentNode()) {
      if (Node* next = n->getNextSibling()) {
        reference_ = next;
        return;
      }
    }
    before_reference_ = false;
  }
  // Otherwise stay after the last node before the removed subtree.
  Node* previous = child->getPreviousSibling();
  if (!previous) {
    reference_ = child->getParentNode();
    return;
  }
  while (previous->getLastChild()) previous = previous->getLastChild();
  reference_ = previous;
}

bool NodeIterator::destroying(const Node* node) {
  if (!detail::IsInclusiveAncestor(node, root_)) return false;
  live_ = nullptr;
  reference_ = nullptr;
  return true;
}

// ---- TreeWalker ----

TreeWalker::TreeWalker(detail::LiveSet* live, Node* root, unsigned int what_to_show,
                       NodeFilter* filter, bool expand)
    : live_(live),
      root_(root),
      what_to_show_(what_to_show),
      filter_(filter),
      expand_(expand),
      current_(root) {
  if (live_) live_->add(this);
}

TreeWalker::~TreeWalker() {
  if (live_) live_->remove(this);
}

short TreeWalker::accept(Node* node) const { return Accept(node, what_to_show_, filter_); }

Node* TreeWalker::firstOf(const Node* node) const {
  return ShowsChildren(node, expand_) ? node->getFirstChild() : nullptr;
}

Node* TreeWalker::lastOf(const Node* node) const {
  return ShowsChildren(node, expand_) ? node->getLastChild() : nullptr;
}

void TreeWalker::setCurrentNode(Node* node) {
  if (!node) throw DOMException(DOMException::NOT_SUPPORTED_ERR, "TreeWalker current node is null");
  current_ = node;
}

Node* TreeWalker::parentNode() {
  for (Node* node = current_; node && node != root_;) {
    node = node->getParentNode();
    if (node && accept(node) == NodeFilter::FILTER_ACCEPT) return current_ = node;
  }
  return nullptr;
}

Node* TreeWalker::firstChild() { return moveToChild(true); }
Node* TreeWalker::lastChild() { return moveToChild(false); }

// The first (last) shown node among the children of the current node, looking
// through skipped children into theirs.
Node* TreeWalker::moveToChild(bool first) {
  if (!current_) return nullptr;
  Node* node = first ? firstOf(current_) : lastOf(current_);
  while (node) {
    const short result = accept(node);
    if (result == NodeFilter::FILTER_ACCEPT) return current_ = node;
    if (result == NodeFilter::FILTER_SKIP) {
      if (Node* child = first ? firstOf(node) : lastOf(node)) {
        node = child;
        continue;
      }
    }
    // On to the next sibling, climbing out of skipped nodes when there is none.
    for (;;) {
      if (Node* sibling = first ? node->getNextSibling() : node->getPreviousSibling()) {
        node = sibling;
        break;
      }
      Node* parent = node->getParentNode();
      if (!parent || parent == root_ || parent == current_) return nullptr;
      node = parent;
    }
  }
  return nullptr;
}

Node* TreeWalker::nextSibling() { return moveToSibling(true); }
Node* TreeWalker::previousSibling() { return moveToSibling(false); }

// The next (previous) shown sibling of the current node in the view, which may be
// a child of a skipped sibling or of a skipped ancestor's sibling.
Node* TreeWalker::moveToSibling(bool next) {
  Node* node = current_;
  if (!node || node == root_) return nullptr;
  for (;;) {
    Node* sibling = next ? node->getNextSibling() : node->getPreviousSibling();
    while (sibling) {
      node = sibling;
      const short result = accept(node);
      if (result == NodeFilter::FILTER_ACCEPT) return current_ = node;
      sibling = next ? firstOf(node) : lastOf(node);
      if (result == NodeFilter::FILTER_REJECT || !sibling)
        sibling = next ? node->getNextSibling() : node->getPreviousSibling();
    }
    node = node->getParentNode();
    if (!node || node == root_ || accept(node) == NodeFilter::FILTER_ACCEPT) return nullptr;
  }
}

Node* TreeWalker::previousNode() {
  Node* node = current_;
  while (node && node != root_) {
    while (Node* sibling = node->getPreviousSibling()) {
      node = sibling;
      short result = accept(node);
      // The last shown descendant of the sibling comes before the sibling itself.
      while (result != NodeFilter::FILTER_REJECT && lastOf(node)) {
        node = lastOf(node);
        result = accept(node);
      }
      if (result == NodeFilter::FILTER_ACCEPT) return current_ = node;
    }
    node = node->getParentNode();
    if (!node) return nullptr;
    if (accept(node) == NodeFilter::FILTER_ACCEPT) return current_ = node;
  }
  return nullptr;
}

Node* TreeWalker::nextNode() {
  Node* node = current_;
  if (!node) return nullptr;
  short result = NodeFilter::FILTER_ACCEPT;
  for (;;) {
    while (result != NodeFilter::FILTER_REJECT && firstOf(node)) {
      node = firstOf(node);
      result = accept(node);
      if (result == NodeFilter::FILTER_ACCEPT) return current_ = node;
    }
    // The next sibling of the node or of its nearest ancestor below the root.
    Node* following = nullptr;
    for (Node* up = node; up && up != root_ && !following; up = up->getParentNode())
      following = up->getNextSibling();
    if (!following) return nullptr;
    node = following;
    result = accept(node);
    if (result == NodeFilter::FILTER_ACCEPT) return current_ = node;
  }
}

bool TreeWalker::destroying(const Node* node) {
  if (detail::IsInclusiveAncestor(node, root_)) {
    root_ = current_ = nullptr;
    live_ = nullptr;
    return true;
  }
  if (detail::IsInclusiveAncestor(node, current_)) current_ = root_;
  return false;
}

// ---- Document ----

NodeIterator* Document::createNodeIterator(Node* root, unsigned int what_to_show,
                                           NodeFilter* filter, bool expand_entity_references) {
  if (!root) throw DOMException(DOMException::NOT_SUPPORTED_ERR, "NodeIterator root is null");
  return new NodeIterator(liveSetOf(root), root, what_to_show, filter, expand_entity_references);
}

TreeWalker* Document::createTreeWalker(Node* root, unsigned int what_to_show, NodeFilter* filter,
                                       bool expand_entity_references) {
  if (!root) throw DOMException(DOMException::NOT_SUPPORTED_ERR, "TreeWalker root is null");
  return new TreeWalker(liveSetOf(root), root, what_to_show, filter, expand_entity_references);
}

}  // namespace arxp
