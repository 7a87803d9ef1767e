// Positions in the document tree, shared by the traversal and range code.
#pragma once

#include "arxp/dom.h"

namespace arxp::detail {

// Whether `ancestor` is `node` or one of its ancestors.
inline bool IsInclusiveAncestor(const Node* ancestor, const Node* node) {
  for (; node; node = node->getParentNode())
    if (node == ancestor) return true;
  return false;
}

// The topmost ancestor of a node (the node itself without a parent).
inline Node* RootOf(Node* node) {
  while (Node* parent = node->getParentNode()) node = parent;
  return node;
}

inline int IndexOf(const Node* node) {
  int index = 0;
  for (const Node* n = node->getPreviousSibling(); n; n = n->getPreviousSibling()) ++index;
  return index;
}

inline Node* ChildAt(const Node* parent, int index) {
  Node* child = parent->getFirstChild();
  for (; child && index > 0; --index) child = child->getNextSibling();
  return child;
}

// Text and CDATA sections.
inline bool IsText(const Node* node) {
  return node->getNodeType() == Node::TEXT_NODE || node->getNodeType() == Node::CDATA_SECTION_NODE;
}

// Whether offsets in the node count 16-bit units of its data rather than children.
inline bool HoldsUnits(const Node* node) {
  switch (node->getNodeType()) {
    case Node::TEXT_NODE:
    case Node::CDATA_SECTION_NODE:
    case Node::COMMENT_NODE:
    case Node::PROCESSING_INSTRUCTION_NODE: return true;
    default: return false;
  }
}

// The number of units or children in a node: the largest offset in it.
inline int LengthOf(const Node* node) {
  if (node->getNodeType() == Node::PROCESSING_INSTRUCTION_NODE) {
    const Xstring& data = static_cast<const ProcessingInstruction*>(node)->getData();
    return data.isNull() ? 0 : data.length();
  }
  if (HoldsUnits(node)) {
    const Xstring& data = static_cast<const CharacterData*>(node)->getData();
    return data.isNull() ? 0 : data.length();
  }
  int count = 0;
  for (const Node* n = node->getFirstChild(); n; n = n->getNextSibling()) ++count;
  return count;
}

// The child of `ancestor` that is `node` or holds it; nullptr when `node` is not
// below `ancestor`.
inline Node* ChildHolding(const Node* ancestor, Node* node) {
  for (; node; node = node->getParentNode())
    if (node->getParentNode() == ancestor) return node;
  return nullptr;
}

// The first node after the subtree of `node` in document order.
inline Node* NextAfterSubtree(const Node* node) {
  for (; node; node = node->getParentNode())
    if (Node* next = node->getNextSibling()) return next;
  return nullptr;
}

// The node after `node` in document order.
inline Node* NextInOrder(const Node* node) {
  return node->getFirstChild() ? node->getFirstChild() : NextAfterSubtree(node);
}

}  // namespace arxp::detail
