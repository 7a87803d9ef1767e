// Traversal of a document tree: NodeFilter, NodeIterator and TreeWalker, made by a
// document through DocumentTraversal.
#pragma once

#include "arxp/export.h"

namespace arxp {

class Document;
class Node;
namespace detail {
class LiveSet;
}

// Decides which nodes a traversal shows. Nodes of a kind outside the traversal's
// whatToShow mask are skipped before the filter is asked.
class ARXP_EXPORT NodeFilter {
 public:
  static constexpr short FILTER_ACCEPT = 1;
  static constexpr short FILTER_REJECT = 2;
  static constexpr short FILTER_SKIP = 3;
  // whatToShow bits: bit (node type - 1) shows nodes of that type.
  static constexpr unsigned int SHOW_ALL = 0xFFFFFFFF;
  static constexpr unsigned int SHOW_ELEMENT = 0x1;
  static constexpr unsigned int SHOW_ATTRIBUTE = 0x2;
  static constexpr unsigned int SHOW_TEXT = 0x4;
  static constexpr unsigned int SHOW_CDATA_SECTION = 0x8;
  static constexpr unsigned int SHOW_ENTITY_REFERENCE = 0x10;
  static constexpr unsigned int SHOW_ENTITY = 0x20;
  static constexpr unsigned int SHOW_PROCESSING_INSTRUCTION = 0x40;
  static constexpr unsigned int SHOW_COMMENT = 0x80;
  static constexpr unsigned int SHOW_DOCUMENT = 0x100;
  static constexpr unsigned int SHOW_DOCUMENT_TYPE = 0x200;
  static constexpr unsigned int SHOW_DOCUMENT_FRAGMENT = 0x400;
  static constexpr unsigned int SHOW_NOTATION = 0x800;

  virtual ~NodeFilter();
  virtual short acceptNode(Node* node) = 0;
};

// Steps through the subtree of a root as a flat list in document order. The
// iterator stays valid while the tree changes: when its reference node is removed
// it moves to a neighbour outside the removed subtree. Owned by its creator.
class ARXP_EXPORT NodeIterator {
 public:
  NodeIterator(const NodeIterator&) = delete;
  NodeIterator& operator=(const NodeIterator&) = delete;
  virtual ~NodeIterator();
  // Afterwards nextNode and previousNode fail with INVALID_STATE_ERR.
  virtual void detach();
  virtual bool getExpandEntityReferences() const { return expand_; }
  virtual NodeFilter* getFilter() const { return filter_; }
  virtual Node* getRoot() const { return root_; }
  virtual unsigned int getWhatToShow() const { return what_to_show_; }
  // The next or previous shown node, nullptr at the end. Filter rejection and
  // skipping are the same here: the children of a rejected node are still seen.
  virtual Node* nextNode();
  virtual Node* previousNode();

 private:
  friend class Document;
  friend class detail::LiveSet;
  NodeIterator(detail::LiveSet* live, Node* root, unsigned int what_to_show, NodeFilter* filter,
               bool expand);
  void checkAttached() const;
  // Told by the tree before `child` leaves its parent.
  void removing(Node* child);
  // Told before `node`, which has no parent, is destroyed; true when that detached
  // the iterator.
  bool destroying(const Node* node);

  detail::LiveSet* live_;  // nullptr once detached
  Node* root_;
  unsigned int what_to_show_;
  NodeFilter* filter_;
  bool expand_;
  Node* reference_;
  bool before_reference_ = true;
};

// Moves over the subtree of a root, one shown node at a time. A rejected node
// hides its children; a skipped one does not. Owned by its creator.
class ARXP_EXPORT TreeWalker {
 public:
  TreeWalker(const TreeWalker&) = delete;
  TreeWalker& operator=(const TreeWalker&) = delete;
  virtual ~TreeWalker();
  virtual Node* firstChild();
  virtual Node* getCurrentNode() const { return current_; }
  virtual bool getExpandEntityReferences() const { return expand_; }
  virtual NodeFilter* getFilter() const { return filter_; }
  virtual Node* getRoot() const { return root_; }
  virtual unsigned int getWhatToShow() const { return what_to_show_; }
  virtual Node* lastChild();
  virtual Node* nextNode();
  virtual Node* nextSibling();
  virtual Node* parentNode();
  virtual Node* previousNode();
  virtual Node* previousSibling();
  // Any node; nullptr is refused (NOT_SUPPORTED_ERR).
  virtual void setCurrentNode(Node* node);

 private:
  friend class Document;
  friend class detail::LiveSet;
  TreeWalker(detail::LiveSet* live, Node* root, unsigned int what_to_show, NodeFilter* filter,
             bool expand);
  short accept(Node* node) const;
  Node* firstOf(const Node* node) const;
  Node* lastOf(const Node* node) const;
  Node* moveToChild(bool first);
  Node* moveToSibling(bool next);
  // Told before `node`, which has no parent, is destroyed: a walker whose root goes
  // shows nothing more (true: it leaves the document's set); one whose current node
  // goes returns to the root.
  bool destroying(const Node* node);

  detail::LiveSet* live_;  // nullptr once the root is gone
  Node* root_;
  unsigned int what_to_show_;
  NodeFilter* filter_;
  bool expand_;
  Node* current_;
};

// The traversal factory of a document.
class ARXP_EXPORT DocumentTraversal {
 public:
  virtual ~DocumentTraversal();
  // NOT_SUPPORTED_ERR "NodeIterator root is null" without a root.
  virtual NodeIterator* createNodeIterator(Node* root, unsigned int what_to_show,
                                           NodeFilter* filter, bool expand_entity_references) = 0;
  // NOT_SUPPORTED_ERR "TreeWalker root is null" without a root.
  virtual TreeWalker* createTreeWalker(Node* root, unsigned int what_to_show, NodeFilter* filter,
                                       bool expand_entity_references) = 0;
};

}  // namespace arxp
