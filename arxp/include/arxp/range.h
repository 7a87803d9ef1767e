// Range: a live selection of a document's content between two boundary points,
// made by a document through DocumentRange, and its RangeException.
#pragma once

#include "arxp/exception.h"
#include "arxp/export.h"
#include "arxp/xstring.h"

namespace arxp {

class Document;
class DocumentFragment;
class Node;
namespace detail {
class LiveSet;
}

class ARXP_EXPORT RangeException : public ARXPException {
 public:
  enum Code {
    BAD_BOUNDARYPOINTS_ERR = 1,
    INVALID_NODE_TYPE_ERR = 2,
  };
  // The library code is DOM_ERR; `code` is the range's own.
  RangeException(int code, const Xstring& message);
  int getRangeCode() const { return range_code_; }
  // "<RangeException::" followed by the code's name ("???" for another code) and ">".
  Xstring toString() const override;
  static const char* codeName(int code);

 private:
  int range_code_;
};

// A boundary point is a container node and an offset in it: a count of 16-bit
// units in text, comment and processing-instruction nodes, of children in others.
// The start never follows the end. A range follows the changes of its document:
// its points keep their place around inserted and removed nodes and changed text.
// Owned by its creator; freeing a node that holds one of its points detaches it.
class ARXP_EXPORT Range {
 public:
  enum CompareHow : unsigned short {
    START_TO_START = 0,
    START_TO_END = 1,
    END_TO_END = 2,
    END_TO_START = 3,
  };

  Range(const Range&) = delete;
  Range& operator=(const Range&) = delete;
  virtual ~Range();
  // A copy of the content; the tree is unchanged.
  virtual DocumentFragment* cloneContents();
  // A new range of the same document at the same points.
  virtual Range* cloneRange();
  virtual void collapse(bool to_start);
  // -1, 0 or 1 as this range's point named by `how` (the end for START_TO_END and
  // END_TO_END, the start otherwise) is before, at or after the source range's
  // other point (its start for START_TO_*, its end for END_TO_*).
  virtual short compareBoundaryPoints(unsigned short how, Range* source) const;
  virtual void deleteContents();
  // Afterwards every operation fails with INVALID_STATE_ERR.
  virtual void detach();
  // Moves the content into a new fragment; the range collapses where it was.
  virtual DocumentFragment* extractContents();
  virtual bool getCollapsed() const;
  virtual Node* getCommonAncestorContainer() const;
  virtual Node* getEndContainer() const;
  virtual int getEndOffset() const;
  virtual Node* getStartContainer() const;
  virtual int getStartOffset() const;
  // Inserts a node (a fragment: its children) at the start, splitting a text start
  // container.
  virtual void insertNode(Node* node);
  virtual void selectNode(Node* node);
  virtual void selectNodeContents(Node* node);
  virtual void setEnd(Node* node, int offset);
  virtual void setEndAfter(Node* node);
  virtual void setEndBefore(Node* node);
  virtual void setStart(Node* node, int offset);
  virtual void setStartAfter(Node* node);
  virtual void setStartBefore(Node* node);
  // Moves the content into `parent`, puts `parent` where the content was and selects it.
  virtual void surroundContents(Node* parent);
  // The text of the text and CDATA nodes in the range.
  virtual Xstring toString() const;

  struct Point {
    Node* node;
    int offset;
  };

 private:
  friend class Document;
  friend class detail::LiveSet;
  Range(Document* document, detail::LiveSet* live, Point start, Point end);

  void checkAttached() const;
  // Checks a node and offset as a boundary point of this range.
  void checkPoint(Node* node, int offset) const;
  // Checks a node whose parent is to hold a boundary point.
  void checkSelected(Node* node) const;
  // Checks that `node` may go in at the start; returns its future parent.
  Node* checkInsertion(Node* node) const;
  void moveStart(Point point);
  void moveEnd(Point point);
  bool partiallySelectsNonText() const;

  // Mutations of the document, told through its live set.
  void inserted(const Node* parent, int index);
  void removing(Node* parent, int index, const Node* child);
  void replacing(const Node* node, int offset, int count, int added);
  void splitting(const Node* text, int offset, Node* tail, const Node* parent, int index);
  // True when the node held a boundary point: the range is then detached.
  bool destroying(const Node* node);

  Document* document_;
  detail::LiveSet* live_;  // nullptr once detached
  Point start_;
  Point end_;
};

// The range factory of a document.
class ARXP_EXPORT DocumentRange {
 public:
  virtual ~DocumentRange();
  // A range at the start of the document, collapsed.
  virtual Range* createRange() = 0;
};

}  // namespace arxp
