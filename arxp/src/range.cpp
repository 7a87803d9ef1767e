#include "arxp/range.h"

#include <memory>
#include <vector>

#include "arxp/dom.h"
#include "live.h"
#include "tree.h"

namespace arxp {
namespace {

using detail::ChildAt;
using detail::ChildHolding;
using detail::HoldsUnits;
using detail::IndexOf;
using detail::IsInclusiveAncestor;
using detail::IsText;
using detail::LengthOf;
using detail::RootOf;
using Point = Range::Point;

// Whether `x` comes before `y` in document order; neither holds the other.
bool Precedes(const Node* x, const Node* y) {
  std::vector<const Node*> xs, ys;
  for (const Node* n = x; n; n = n->getParentNode()) xs.push_back(n);
  for (const Node* n = y; n; n = n->getParentNode()) ys.push_back(n);
  // From the root down to where the two lines part; then sibling order decides.
  auto xi = xs.rbegin(), yi = ys.rbegin();
  while (xi != xs.rend() && yi != ys.rend() && *xi == *yi) ++xi, ++yi;
  if (xi == xs.rend() || yi == ys.rend()) return false;
  for (const Node* n = *xi; n; n = n->getNextSibling())
    if (n == *yi) return true;
  return false;
}

// -1, 0 or 1 as `a` is before, at or after `b`; both lie in one tree.
int Compare(const Point& a, const Point& b) {
  if (a.node == b.node) return (a.offset > b.offset) - (a.offset < b.offset);
  if (const Node* child = ChildHolding(a.node, b.node)) return IndexOf(child) < a.offset ? 1 : -1;
  if (const Node* child = ChildHolding(b.node, a.node)) return IndexOf(child) < b.offset ? -1 : 1;
  return Precedes(a.node, b.node) ? -1 : 1;
}

// Kinds that never hold a boundary point, nor are above one.
bool IsOutsideContent(const Node* node) {
  const short type = node->getNodeType();
  return type == Node::DOCUMENT_TYPE_NODE || type == Node::ENTITY_NODE ||
         type == Node::NOTATION_NODE;
}

// Throws NO_MODIFICATION_ALLOWED_ERR when `node` or one of its ancestors is
// read-only (inside an entity or an entity reference).
void CheckWritableContainer(const Node* node) {
  for (; node; node = node->getParentNode())
    if (node->isReadOnly())
      throw DOMException(DOMException::NO_MODIFICATION_ALLOWED_ERR,
                         "read-only node cannot be modified");
}

// Throws NO_MODIFICATION_ALLOWED_ERR when any content between two points of one
// tree, or any node that holds some of it, is read-only: the boundary containers
// with their ancestors, and every node after the start and before the end.
void CheckWritableContent(const Point& start, const Point& end) {
  CheckWritableContainer(start.node);
  CheckWritableContainer(end.node);
  Node* node = ChildAt(start.node, start.offset);
  if (!node) node = detail::NextAfterSubtree(start.node);
  for (; node && Compare({node, 0}, end) < 0; node = detail::NextInOrder(node))
    if (node->isReadOnly())
      throw DOMException(DOMException::NO_MODIFICATION_ALLOWED_ERR,
                         "read-only node cannot be modified");
}

enum class Action { kDelete, kExtract, kClone };

// Appends a node made here, freeing it if the parent refuses it.
Node* AppendMade(Node* parent, Node* made) {
  std::unique_ptr<Node> owned(made);
  parent->appendChild(made);
  return owned.release();
}

// Copies and/or cuts `count` units at `offset` of a text-holding node.
void TakeUnits(Action action, Node* node, int offset, int count, Node* into) {
  const Xstring data = node->getNodeValue();
  if (into) AppendMade(into, node->cloneNode(false))->setNodeValue(data.substr(offset, count));
  if (action == Action::kClone) return;
  if (node->getNodeType() == Node::PROCESSING_INSTRUCTION_NODE) {
    Xstring kept = data.substr(0, offset);
    kept += data.substr(offset + count);
    node->setNodeValue(kept);
  } else {
    static_cast<CharacterData*>(node)->deleteData(offset, count);
  }
}

void Transfer(Action action, const Point& start, const Point& end, Node* into);

// Handles a node the range holds only part of: its copy (without children) takes
// the copied or moved part of its content.
void TakePart(Action action, Node* partial, const Point& start, const Point& end, Node* into) {
  Node* copy = into ? AppendMade(into, partial->cloneNode(false)) : nullptr;
  Transfer(action, start, end, copy);
}

// Deletes, moves or copies the content between two points of one tree, `start`
// not after `end`; what is moved or copied goes to `into` (nullptr when deleting).
// Everything that can fail is checked before the tree changes.
void Transfer(Action action, const Point& start, const Point& end, Node* into) {
  if (start.node == end.node && start.offset == end.offset) return;
  if (start.node == end.node && HoldsUnits(start.node)) {
    TakeUnits(action, start.node, start.offset, end.offset - start.offset, into);
    return;
  }
  Node* common = start.node;
  while (!IsInclusiveAncestor(common, end.node)) common = common->getParentNode();
  Node* first_partial =
      IsInclusiveAncestor(start.node, end.node) ? nullptr : ChildHolding(common, start.node);
  Node* last_partial =
      IsInclusiveAncestor(end.node, start.node) ? nullptr : ChildHolding(common, end.node);
  // The children of the common container that lie wholly inside.
  std::vector<Node*> contained;
  const Node* stop = last_partial ? last_partial : ChildAt(common, end.offset);
  for (Node* n = first_partial ? first_partial->getNextSibling() : ChildAt(common, start.offset);
       n && n != stop; n = n->getNextSibling()) {
    if (into && n->getNodeType() == Node::DOCUMENT_TYPE_NODE)
      throw DOMException(DOMException::HIERARCHY_REQUEST_ERR, "document type can't clone");
    contained.push_back(n);
  }

  if (first_partial) {
    if (HoldsUnits(first_partial))
      TakeUnits(action, first_partial, start.offset, LengthOf(first_partial) - start.offset, into);
    else
      TakePart(action, first_partial, start, {first_partial, LengthOf(first_partial)}, into);
  }
  for (Node* n : contained) {
    switch (action) {
      case Action::kClone: AppendMade(into, n->cloneNode(true)); break;
      case Action::kExtract: into->appendChild(n); break;
      case Action::kDelete: delete common->removeChild(n); break;
    }
  }
  if (last_partial) {
    if (HoldsUnits(last_partial))
      TakeUnits(action, last_partial, 0, end.offset, into);
    else
      TakePart(action, last_partial, {last_partial, 0}, end, into);
  }
}

// Where a range collapses once its content is gone: the start, or just after the
// start's highest ancestor that does not hold the end.
Point CollapsePoint(const Point& start, const Point& end) {
  if (IsInclusiveAncestor(start.node, end.node)) return start;
  Node* top = start.node;
  while (!IsInclusiveAncestor(top->getParentNode(), end.node)) top = top->getParentNode();
  return {top->getParentNode(), IndexOf(top) + 1};
}

}  // namespace

// ---- RangeException ----

RangeException::RangeException(int code, const Xstring& message)
    : ARXPException(DOM_ERR, message), range_code_(code) {}

const char* RangeException::codeName(int code) {
  switch (code) {
    case BAD_BOUNDARYPOINTS_ERR: return "BAD_BOUNDARYPOINTS_ERR";
    case INVALID_NODE_TYPE_ERR: return "INVALID_NODE_TYPE_ERR";
    default: return "???";
  }
}

Xstring RangeException::toString() const {
  Xstring text("<RangeException::");
  text += codeName(range_code_);
  text += ">";
  return text;
}

DocumentRange::~DocumentRange() = default;

// ---- Range ----

Range::Range(Document* document, detail::LiveSet* live, Point start, Point end)
    : document_(document), live_(live), start_(start), end_(end) {
  live_->add(this);
}

Range::~Range() {
  if (live_) live_->remove(this);
}

void Range::checkAttached() const {
  if (!live_) throw DOMException(DOMException::INVALID_STATE_ERR, "range already detached");
}

void Range::detach() {
  checkAttached();
  live_->remove(this);
  live_ = nullptr;
}

void Range::checkPoint(Node* node, int offset) const {
  if (!node) throw RangeException(RangeException::INVALID_NODE_TYPE_ERR, "invalid node type");
  if (node->document() != document_)
    throw DOMException(DOMException::WRONG_DOCUMENT_ERR, "different owner document");
  if (IsOutsideContent(node))
    throw RangeException(RangeException::INVALID_NODE_TYPE_ERR, "invalid node type");
  for (const Node* up = node->getParentNode(); up; up = up->getParentNode())
    if (IsOutsideContent(up))
      throw RangeException(RangeException::INVALID_NODE_TYPE_ERR, "invalid ancestor type");
  if (offset < 0 || offset > LengthOf(node))
    throw DOMException(DOMException::INDEX_SIZE_ERR, "invalid offset");
}

void Range::checkSelected(Node* node) const {
  if (!node)
    throw RangeException(RangeException::INVALID_NODE_TYPE_ERR, "invalid select node type");
  if (node->document() != document_)
    throw DOMException(DOMException::WRONG_DOCUMENT_ERR, "different owner document");
  switch (node->getNodeType()) {
    case Node::DOCUMENT_NODE:
    case Node::DOCUMENT_FRAGMENT_NODE:
    case Node::ATTRIBUTE_NODE:
    case Node::ENTITY_NODE:
    case Node::NOTATION_NODE:
      throw RangeException(RangeException::INVALID_NODE_TYPE_ERR, "invalid select node type");
    default: break;
  }
  switch (RootOf(node)->getNodeType()) {
    case Node::DOCUMENT_NODE:
    case Node::DOCUMENT_FRAGMENT_NODE:
    case Node::ATTRIBUTE_NODE: break;
    default: throw RangeException(RangeException::INVALID_NODE_TYPE_ERR, "invalid ancestor type");
  }
}

void Range::moveStart(Point point) {
  if (RootOf(point.node) != RootOf(end_.node) || Compare(point, end_) > 0) end_ = point;
  start_ = point;
}

void Range::moveEnd(Point point) {
  if (RootOf(point.node) != RootOf(start_.node) || Compare(point, start_) < 0) start_ = point;
  end_ = point;
}

void Range::setStart(Node* node, int offset) {
  checkAttached();
  checkPoint(node, offset);
  moveStart({node, offset});
}

void Range::setEnd(Node* node, int offset) {
  checkAttached();
  checkPoint(node, offset);
  moveEnd({node, offset});
}

void Range::setStartBefore(Node* node) {
  checkAttached();
  checkSelected(node);
  moveStart({node->getParentNode(), IndexOf(node)});
}

void Range::setStartAfter(Node* node) {
  checkAttached();
  checkSelected(node);
  moveStart({node->getParentNode(), IndexOf(node) + 1});
}

void Range::setEndBefore(Node* node) {
  checkAttached();
  checkSelected(node);
  moveEnd({node->getParentNode(), IndexOf(node)});
}

void Range::setEndAfter(Node* node) {
  checkAttached();
  checkSelected(node);
  moveEnd({node->getParentNode(), IndexOf(node) + 1});
}

void Range::selectNode(Node* node) {
  checkAttached();
  checkSelected(node);
  const int index = IndexOf(node);
  start_ = {node->getParentNode(), index};
  end_ = {node->getParentNode(), index + 1};
}

void Range::selectNodeContents(Node* node) {
  checkAttached();
  checkPoint(node, 0);
  start_ = {node, 0};
  end_ = {node, LengthOf(node)};
}

void Range::collapse(bool to_start) {
  checkAttached();
  if (to_start)
    end_ = start_;
  else
    start_ = end_;
}

bool Range::getCollapsed() const {
  checkAttached();
  return start_.node == end_.node && start_.offset == end_.offset;
}

Node* Range::getStartContainer() const {
  checkAttached();
  return start_.node;
}

int Range::getStartOffset() const {
  checkAttached();
  return start_.offset;
}

Node* Range::getEndContainer() const {
  checkAttached();
  return end_.node;
}

int Range::getEndOffset() const {
  checkAttached();
  return end_.offset;
}

Node* Range::getCommonAncestorContainer() const {
  checkAttached();
  Node* common = start_.node;
  while (!IsInclusiveAncestor(common, end_.node)) common = common->getParentNode();
  return common;
}

short Range::compareBoundaryPoints(unsigned short how, Range* source) const {
  checkAttached();
  if (!source) throw DOMException(DOMException::WRONG_DOCUMENT_ERR, "different root container");
  source->checkAttached();
  if (RootOf(start_.node) != RootOf(source->start_.node))
    throw DOMException(DOMException::WRONG_DOCUMENT_ERR, "different root container");
  switch (how) {
    case START_TO_START: return Compare(start_, source->start_);
    case START_TO_END: return Compare(end_, source->start_);
    case END_TO_END: return Compare(end_, source->end_);
    case END_TO_START: return Compare(start_, source->end_);
    default: throw DOMException(DOMException::NOT_SUPPORTED_ERR, "invalid compare type");
  }
}

Range* Range::cloneRange() {
  checkAttached();
  return new Range(document_, live_, start_, end_);
}

Xstring Range::toString() const {
  checkAttached();
  Xstring text("");
  if (IsText(start_.node)) {
    const Xstring data = start_.node->getNodeValue();
    if (start_.node == end_.node) return data.substr(start_.offset, end_.offset - start_.offset);
    text += data.substr(start_.offset);
  }
  // The text nodes wholly inside, from the first node after the start.
  Node* node = ChildAt(start_.node, start_.offset);
  if (!node) node = detail::NextAfterSubtree(start_.node);
  for (; node && Compare({node, 0}, end_) < 0; node = detail::NextInOrder(node))
    if (IsText(node) && node != end_.node) text += node->getNodeValue();
  if (IsText(end_.node)) text += end_.node->getNodeValue().substr(0, end_.offset);
  return text;
}

DocumentFragment* Range::cloneContents() {
  checkAttached();
  std::unique_ptr<DocumentFragment> fragment(document_->createDocumentFragment());
  Transfer(Action::kClone, start_, end_, fragment.get());
  return fragment.release();
}

DocumentFragment* Range::extractContents() {
  checkAttached();
  CheckWritableContent(start_, end_);
  std::unique_ptr<DocumentFragment> fragment(document_->createDocumentFragment());
  const Point collapsed = CollapsePoint(start_, end_);
  Transfer(Action::kExtract, start_, end_, fragment.get());
  start_ = end_ = collapsed;
  return fragment.release();
}

void Range::deleteContents() {
  checkAttached();
  CheckWritableContent(start_, end_);
  const Point collapsed = CollapsePoint(start_, end_);
  Transfer(Action::kDelete, start_, end_, nullptr);
  start_ = end_ = collapsed;
}

Node* Range::checkInsertion(Node* node) const {
  if (node->document() != document_)
    throw DOMException(DOMException::WRONG_DOCUMENT_ERR, "different owner document");
  Node* start = start_.node;
  Node* parent = IsText(start) ? start->getParentNode() : start;
  const bool accepted = parent && !HoldsUnits(parent) && !IsInclusiveAncestor(node, parent) &&
                        (node->getNodeType() == Node::DOCUMENT_FRAGMENT_NODE
                             ? parent->acceptsChildrenOf(node)
                             : parent->acceptsChild(node->getNodeType()));
  if (!accepted)
    throw DOMException(DOMException::HIERARCHY_REQUEST_ERR,
                       "start container is not acceptable as child node");
  return parent;
}

void Range::insertNode(Node* node) {
  checkAttached();
  if (!node || node->getNodeType() == Node::ATTRIBUTE_NODE ||
      node->getNodeType() == Node::ENTITY_NODE || node->getNodeType() == Node::NOTATION_NODE ||
      node->getNodeType() == Node::DOCUMENT_NODE)
    throw RangeException(RangeException::INVALID_NODE_TYPE_ERR, "invalid insert node type");
  // Checked before the start's text is split: where the node goes and where it leaves.
  CheckWritableContainer(start_.node);
  CheckWritableContainer(node->getParentNode());
  Node* parent = checkInsertion(node);
  Node* reference = IsText(start_.node) ? static_cast<Text*>(start_.node)->splitText(start_.offset)
                                        : ChildAt(start_.node, start_.offset);
  if (reference == node) reference = node->getNextSibling();
  parent->insertBefore(node, reference);
}

bool Range::partiallySelectsNonText() const {
  const Node* common = getCommonAncestorContainer();
  for (const Node* n : {start_.node, end_.node})
    for (; n != common; n = n->getParentNode())
      if (!IsText(n)) return true;
  return false;
}

void Range::surroundContents(Node* parent) {
  checkAttached();
  if (!parent || IsOutsideContent(parent) || parent->getNodeType() == Node::ATTRIBUTE_NODE ||
      parent->getNodeType() == Node::DOCUMENT_NODE ||
      parent->getNodeType() == Node::DOCUMENT_FRAGMENT_NODE)
    throw RangeException(RangeException::INVALID_NODE_TYPE_ERR, "invalid insert node type");
  CheckWritableContainer(start_.node);
  CheckWritableContainer(end_.node);
  CheckWritableContainer(parent);
  if (partiallySelectsNonText())
    throw RangeException(RangeException::BAD_BOUNDARYPOINTS_ERR,
                         "surround range is partially selected");
  checkInsertion(parent);
  // A text-holding node takes no children: refuse before anything moves.
  if (HoldsUnits(parent) && !getCollapsed())
    throw DOMException(DOMException::HIERARCHY_REQUEST_ERR, "new child node is not acceptable");
  std::unique_ptr<DocumentFragment> content(extractContents());
  insertNode(parent);
  parent->appendChild(content.get());
  selectNode(parent);
}

// ---- mutations ----

void Range::inserted(const Node* parent, int index) {
  for (Point* p : {&start_, &end_})
    if (p->node == parent && p->offset > index) ++p->offset;
}

void Range::removing(Node* parent, int index, const Node* child) {
  for (Point* p : {&start_, &end_}) {
    if (IsInclusiveAncestor(child, p->node))
      *p = {parent, index};
    else if (p->node == parent && p->offset > index)
      --p->offset;
  }
}

void Range::replacing(const Node* node, int offset, int count, int added) {
  for (Point* p : {&start_, &end_}) {
    if (p->node != node || p->offset <= offset) continue;
    p->offset = p->offset <= offset + count ? offset : p->offset + added - count;
  }
}

void Range::splitting(const Node* text, int offset, Node* tail, const Node* parent, int index) {
  for (Point* p : {&start_, &end_}) {
    if (p->node == text && p->offset > offset)
      *p = {tail, p->offset - offset};
    else if (p->node == parent && p->offset == index + 1)
      ++p->offset;
  }
}

bool Range::destroying(const Node* node) {
  if (!IsInclusiveAncestor(node, start_.node) && !IsInclusiveAncestor(node, end_.node))
    return false;
  live_ = nullptr;
  return true;
}

Range* Document::createRange() { return new Range(this, liveSetOf(this), {this, 0}, {this, 0}); }

}  // namespace arxp
