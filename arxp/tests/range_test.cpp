// Range: boundary points and their checks, comparison, the content operations,
// and how a range follows changes of its document.
#include "arxp/range.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tree_util.h"

namespace arxp {
namespace {

using test::Ascii;
using test::DomCode;
using test::Dump;
using test::Label;
using test::ParsedTree;

constexpr const char16_t* kTree =
    u"<r><a>hello</a><b>mid<![CDATA[cd]]></b><!--note--><c>world</c></r>";

// The range code and message of the RangeException an operation throws; 0 when none.
int RangeCode(const std::function<void()>& operation, std::string* message = nullptr) {
  try {
    operation();
  } catch (const RangeException& e) {
    EXPECT_EQ(e.getCode(), ARXPException::DOM_ERR);
    if (message) *message = Ascii(e.getMessage());
    return e.getRangeCode();
  }
  return 0;
}

// "container:offset-container:offset".
std::string Where(const Range* range) {
  return Label(range->getStartContainer()) + ":" + std::to_string(range->getStartOffset()) + "-" +
         Label(range->getEndContainer()) + ":" + std::to_string(range->getEndOffset());
}

std::unique_ptr<Range> MakeRange(Document* doc, Node* start, int start_offset, Node* end,
                                 int end_offset) {
  std::unique_ptr<Range> range(doc->createRange());
  range->setStart(start, start_offset);
  range->setEnd(end, end_offset);
  return range;
}

TEST(RangeTest, BoundaryPointsKeepTheStartBeforeTheEnd) {
  ParsedTree tree(kTree);
  std::unique_ptr<Range> range(tree.doc()->createRange());
  EXPECT_EQ(Where(range.get()), "#document:0-#document:0");
  EXPECT_TRUE(range->getCollapsed());

  range->setStart(tree.text("a"), 1);
  EXPECT_EQ(Where(range.get()), "'hello':1-'hello':1");  // an end before the start follows it
  range->setEnd(tree.text("c"), 2);
  EXPECT_EQ(Where(range.get()), "'hello':1-'world':2");
  EXPECT_FALSE(range->getCollapsed());
  EXPECT_EQ(range->getCommonAncestorContainer(), tree.root());
  range->setEnd(tree.doc(), 0);  // an end before the start takes the start along
  EXPECT_EQ(Where(range.get()), "#document:0-#document:0");

  range->setStartBefore(tree.element("b"));
  range->setEndAfter(tree.element("c"));
  EXPECT_EQ(Where(range.get()), "r:1-r:4");
  range->setStartAfter(tree.element("b"));
  range->setEndBefore(tree.element("c"));
  EXPECT_EQ(Where(range.get()), "r:2-r:3");
  range->selectNode(tree.element("a"));
  EXPECT_EQ(Where(range.get()), "r:0-r:1");
  range->selectNodeContents(tree.element("b"));
  EXPECT_EQ(Where(range.get()), "b:0-b:2");
  range->selectNodeContents(tree.text("c"));
  EXPECT_EQ(Where(range.get()), "'world':0-'world':5");
  range->collapse(false);
  EXPECT_EQ(Where(range.get()), "'world':5-'world':5");
  range->setStart(tree.root(), 0);
  range->collapse(true);
  EXPECT_EQ(Where(range.get()), "r:0-r:0");

  std::unique_ptr<Range> copy(range->cloneRange());
  copy->setEnd(tree.root(), 2);
  EXPECT_EQ(Where(range.get()), "r:0-r:0");
  EXPECT_EQ(Where(copy.get()), "r:0-r:2");
}

TEST(RangeTest, BadBoundaryPointsAreRefused) {
  ParsedTree tree(u"<!DOCTYPE r [<!ENTITY e 'e'>]><r><a>hi&e;</a></r>");
  std::unique_ptr<Range> range(tree.doc()->createRange());
  range->setStart(tree.text("a"), 1);
  std::string message;

  EXPECT_EQ(DomCode([&] { range->setStart(tree.text("a"), 3); }, &message),
            DOMException::INDEX_SIZE_ERR);
  EXPECT_EQ(message, "invalid offset");
  EXPECT_EQ(DomCode([&] { range->setEnd(tree.root(), -1); }), DOMException::INDEX_SIZE_ERR);
  EXPECT_EQ(DomCode([&] { range->setEnd(tree.root(), 2); }), DOMException::INDEX_SIZE_ERR);
  EXPECT_EQ(RangeCode([&] { range->setStart(tree.doc()->getDoctype(), 0); }, &message),
            RangeException::INVALID_NODE_TYPE_ERR);
  EXPECT_EQ(message, "invalid node type");
  EXPECT_EQ(RangeCode([&] { range->setEnd(nullptr, 0); }), RangeException::INVALID_NODE_TYPE_ERR);

  // Nothing below an entity can hold a point.
  Node* entity = tree.doc()->getDoctype()->getEntities()->getNamedItem("e");
  ASSERT_NE(entity, nullptr);
  Node* inside = entity->getFirstChild();
  ASSERT_NE(inside, nullptr);
  EXPECT_EQ(RangeCode([&] { range->setStart(inside, 0); }, &message),
            RangeException::INVALID_NODE_TYPE_ERR);
  EXPECT_EQ(message, "invalid ancestor type");
  EXPECT_EQ(RangeCode([&] { range->selectNodeContents(inside); }),
            RangeException::INVALID_NODE_TYPE_ERR);

  // Selecting: the node must have a parent in a document, fragment or attribute.
  EXPECT_EQ(RangeCode([&] { range->selectNode(tree.doc()); }, &message),
            RangeException::INVALID_NODE_TYPE_ERR);
  EXPECT_EQ(message, "invalid select node type");
  std::unique_ptr<Attr> attribute(tree.doc()->createAttribute("x"));
  EXPECT_EQ(RangeCode([&] { range->setStartBefore(attribute.get()); }),
            RangeException::INVALID_NODE_TYPE_ERR);
  std::unique_ptr<Element> loose(tree.doc()->createElement("loose"));
  Node* loose_child = loose->appendChild(tree.doc()->createElement("child"));
  EXPECT_EQ(RangeCode([&] { range->setEndAfter(loose_child); }, &message),
            RangeException::INVALID_NODE_TYPE_ERR);
  EXPECT_EQ(message, "invalid ancestor type");
  EXPECT_EQ(RangeCode([&] { range->selectNode(nullptr); }), RangeException::INVALID_NODE_TYPE_ERR);

  // Another document's nodes.
  ParsedTree other(u"<o/>");
  EXPECT_EQ(DomCode([&] { range->setStart(other.root(), 0); }, &message),
            DOMException::WRONG_DOCUMENT_ERR);
  EXPECT_EQ(message, "different owner document");
  EXPECT_EQ(DomCode([&] { range->selectNode(other.root()); }), DOMException::WRONG_DOCUMENT_ERR);

  // A loose subtree of the document may hold points, and the range moves there whole.
  range->setEnd(loose_child, 0);
  EXPECT_EQ(Where(range.get()), "child:0-child:0");
  range->setStart(tree.text("a"), 1);
  EXPECT_EQ(Where(range.get()), "'hi':1-'hi':1");
}

TEST(RangeTest, DetachedRangeRefusesEverything) {
  ParsedTree tree(kTree);
  std::unique_ptr<Range> range(tree.doc()->createRange());
  std::unique_ptr<Range> other(tree.doc()->createRange());
  std::unique_ptr<Comment> comment(tree.doc()->createComment("x"));
  range->detach();
  std::string message;
  EXPECT_EQ(DomCode([&] { range->detach(); }, &message), DOMException::INVALID_STATE_ERR);
  EXPECT_EQ(message, "range already detached");
  const std::function<void()> operations[] = {
      [&] { range->getStartContainer(); },
      [&] { range->getEndOffset(); },
      [&] { range->getCollapsed(); },
      [&] { range->getCommonAncestorContainer(); },
      [&] { range->setStart(tree.root(), 0); },
      [&] { range->selectNode(tree.root()); },
      [&] { range->collapse(true); },
      [&] { range->toString(); },
      [&] { range->cloneRange(); },
      [&] { delete range->cloneContents(); },
      [&] { range->deleteContents(); },
      [&] { range->insertNode(comment.get()); },
      [&] { range->compareBoundaryPoints(Range::START_TO_START, other.get()); },
      [&] { other->compareBoundaryPoints(Range::START_TO_START, range.get()); },
  };
  for (const auto& operation : operations)
    EXPECT_EQ(DomCode(operation), DOMException::INVALID_STATE_ERR);
}

TEST(RangeTest, ComparesBoundaryPoints) {
  ParsedTree tree(kTree);
  // this: 'hello':2 .. 'world':1   source: b:0 .. b:2
  std::unique_ptr<Range> outer = MakeRange(tree.doc(), tree.text("a"), 2, tree.text("c"), 1);
  std::unique_ptr<Range> inner = MakeRange(tree.doc(), tree.element("b"), 0, tree.element("b"), 2);
  EXPECT_EQ(outer->compareBoundaryPoints(Range::START_TO_START, inner.get()), -1);
  EXPECT_EQ(outer->compareBoundaryPoints(Range::START_TO_END, inner.get()), 1);
  EXPECT_EQ(outer->compareBoundaryPoints(Range::END_TO_END, inner.get()), 1);
  EXPECT_EQ(outer->compareBoundaryPoints(Range::END_TO_START, inner.get()), -1);
  EXPECT_EQ(inner->compareBoundaryPoints(Range::START_TO_START, outer.get()), 1);
  EXPECT_EQ(inner->compareBoundaryPoints(Range::END_TO_START, outer.get()), -1);
  EXPECT_EQ(outer->compareBoundaryPoints(Range::END_TO_END, outer.get()), 0);

  // A point in a container against a point inside one of its children.
  std::unique_ptr<Range> at_b = MakeRange(tree.doc(), tree.root(), 1, tree.root(), 2);
  std::unique_ptr<Range> in_b =
      MakeRange(tree.doc(), tree.element("b")->getFirstChild(), 1, tree.root(), 4);
  EXPECT_EQ(at_b->compareBoundaryPoints(Range::START_TO_START, in_b.get()), -1);
  EXPECT_EQ(at_b->compareBoundaryPoints(Range::END_TO_START, in_b.get()), -1);
  EXPECT_EQ(at_b->compareBoundaryPoints(Range::START_TO_END, in_b.get()), 1);
  EXPECT_EQ(in_b->compareBoundaryPoints(Range::START_TO_END, at_b.get()), 1);

  std::string message;
  ParsedTree other(u"<o/>");
  std::unique_ptr<Range> foreign(other.doc()->createRange());
  EXPECT_EQ(DomCode([&] { outer->compareBoundaryPoints(Range::START_TO_START, foreign.get()); },
                    &message),
            DOMException::WRONG_DOCUMENT_ERR);
  EXPECT_EQ(message, "different root container");
  EXPECT_EQ(DomCode([&] { outer->compareBoundaryPoints(Range::START_TO_START, nullptr); }),
            DOMException::WRONG_DOCUMENT_ERR);
  EXPECT_EQ(DomCode([&] { outer->compareBoundaryPoints(4, inner.get()); }),
            DOMException::NOT_SUPPORTED_ERR);
}

TEST(RangeTest, ToStringHoldsOnlyText) {
  ParsedTree tree(kTree);
  std::unique_ptr<Range> range = MakeRange(tree.doc(), tree.text("a"), 3, tree.text("c"), 2);
  EXPECT_EQ(Ascii(range->toString()), "lomidcdwo");
  range->setStart(tree.text("c"), 1);
  EXPECT_EQ(Ascii(range->toString()), "o");
  range->selectNodeContents(tree.doc());
  EXPECT_EQ(Ascii(range->toString()), "hellomidcdworld");
  range->selectNode(tree.element("b"));
  EXPECT_EQ(Ascii(range->toString()), "midcd");
  range->collapse(true);
  EXPECT_EQ(Ascii(range->toString()), "");
}

TEST(RangeTest, CloneContentsCopiesAndLeavesTheTree) {
  ParsedTree tree(kTree);
  const std::string before = Dump(tree.doc());
  std::unique_ptr<Range> range = MakeRange(tree.doc(), tree.text("a"), 2, tree.text("c"), 3);
  std::unique_ptr<DocumentFragment> copy(range->cloneContents());
  EXPECT_EQ(Dump(copy.get()), "#document-fragment(a('llo') b('mid' [cd]) !note c('wor'))");
  EXPECT_EQ(Dump(tree.doc()), before);
  EXPECT_EQ(Where(range.get()), "'hello':2-'world':3");

  // Within one text node, and a collapsed range.
  range->setEnd(tree.text("a"), 4);
  copy.reset(range->cloneContents());
  EXPECT_EQ(Dump(copy.get()), "#document-fragment('ll')");
  range->collapse(true);
  copy.reset(range->cloneContents());
  EXPECT_FALSE(copy->hasChildNodes());
}

TEST(RangeTest, ExtractContentsMovesAndCollapses) {
  ParsedTree tree(kTree);
  Element* b = tree.element("b");
  std::unique_ptr<Range> range = MakeRange(tree.doc(), tree.text("a"), 2, tree.text("c"), 3);
  std::unique_ptr<DocumentFragment> moved(range->extractContents());
  EXPECT_EQ(Dump(moved.get()), "#document-fragment(a('llo') b('mid' [cd]) !note c('wor'))");
  EXPECT_EQ(Dump(tree.root()), "r(a('he') c('ld'))");
  EXPECT_EQ(Where(range.get()), "r:1-r:1");
  EXPECT_EQ(moved->getFirstChild()->getNextSibling(), b);  // wholly selected nodes move

  // Start holding the end: the range stays at its start.
  range->selectNodeContents(tree.root());
  range->setStart(tree.root(), 1);
  moved.reset(range->extractContents());
  EXPECT_EQ(Dump(moved.get()), "#document-fragment(c('ld'))");
  EXPECT_EQ(Where(range.get()), "r:1-r:1");
}

TEST(RangeTest, DeleteContentsRemovesAndFreesTheSelection) {
  ParsedTree tree(u"<!DOCTYPE r><r><a>hello</a><b>mid</b><c>world</c></r>");
  std::unique_ptr<Range> range = MakeRange(tree.doc(), tree.text("a"), 4, tree.text("c"), 1);
  std::unique_ptr<Range> watcher = MakeRange(tree.doc(), tree.text("b"), 1, tree.text("b"), 2);
  range->deleteContents();
  EXPECT_EQ(Dump(tree.root()), "r(a('hell') c('orld'))");
  EXPECT_EQ(Where(range.get()), "r:1-r:1");
  // Another range inside the deleted part lands where it was.
  EXPECT_EQ(Where(watcher.get()), "r:1-r:1");

  // Deleting may take a document type, copying and extracting may not.
  range->selectNodeContents(tree.doc());
  std::string message;
  EXPECT_EQ(DomCode([&] { delete range->cloneContents(); }, &message),
            DOMException::HIERARCHY_REQUEST_ERR);
  EXPECT_EQ(message, "document type can't clone");
  EXPECT_EQ(DomCode([&] { delete range->extractContents(); }), DOMException::HIERARCHY_REQUEST_ERR);
  EXPECT_EQ(Dump(tree.doc()), "#document(r r(a('hell') c('orld')))");
  range->deleteContents();
  EXPECT_FALSE(tree.doc()->hasChildNodes());
  EXPECT_EQ(Where(range.get()), "#document:0-#document:0");
}

TEST(RangeTest, InsertNodeSplitsTextAndTakesFragments) {
  ParsedTree tree(kTree);
  std::unique_ptr<Range> range = MakeRange(tree.doc(), tree.text("a"), 2, tree.text("a"), 4);
  range->insertNode(tree.doc()->createElement("x"));
  EXPECT_EQ(Dump(tree.element("a")), "a('he' x 'llo')");
  // The end kept its place in the text that moved to the new node.
  EXPECT_EQ(Where(range.get()), "'he':2-'llo':2");
  EXPECT_EQ(Ascii(range->toString()), "ll");

  std::unique_ptr<DocumentFragment> fragment(tree.doc()->createDocumentFragment());
  fragment->appendChild(tree.doc()->createElement("f1"));
  fragment->appendChild(tree.doc()->createTextNode("f2"));
  range->setStart(tree.root(), 1);
  range->insertNode(fragment.get());
  EXPECT_EQ(Dump(tree.root()), "r(a('he' x 'llo') f1 'f2' b('mid' [cd]) !note c('world'))");
  EXPECT_FALSE(fragment->hasChildNodes());
  EXPECT_EQ(Where(range.get()), "r:1-r:1");  // the new start took the end along

  // A node already in the tree moves to the start.
  Element* c = tree.element("c");
  range->setStart(tree.root(), 0);
  range->insertNode(c);
  EXPECT_EQ(Label(tree.root()->getFirstChild()), "c");
}

TEST(RangeTest, InsertNodeRefusals) {
  ParsedTree tree(kTree);
  std::unique_ptr<Range> range(tree.doc()->createRange());
  range->selectNodeContents(tree.element("a"));
  const std::string before = Dump(tree.doc());
  std::string message;

  std::unique_ptr<Attr> attribute(tree.doc()->createAttribute("x"));
  EXPECT_EQ(RangeCode([&] { range->insertNode(attribute.get()); }, &message),
            RangeException::INVALID_NODE_TYPE_ERR);
  EXPECT_EQ(message, "invalid insert node type");
  EXPECT_EQ(RangeCode([&] { range->insertNode(tree.doc()); }),
            RangeException::INVALID_NODE_TYPE_ERR);
  EXPECT_EQ(RangeCode([&] { range->insertNode(nullptr); }), RangeException::INVALID_NODE_TYPE_ERR);

  ParsedTree other(u"<o/>");
  std::unique_ptr<Element> foreign(other.doc()->createElement("f"));
  EXPECT_EQ(DomCode([&] { range->insertNode(foreign.get()); }, &message),
            DOMException::WRONG_DOCUMENT_ERR);
  EXPECT_EQ(message, "different owner document");

  // Into its own descendant, into a comment, or a second element into the document.
  EXPECT_EQ(DomCode([&] { range->insertNode(tree.root()); }, &message),
            DOMException::HIERARCHY_REQUEST_ERR);
  EXPECT_EQ(message, "start container is not acceptable as child node");
  range->setStart(tree.root()->getChildNodes()->item(2), 1);
  std::unique_ptr<Element> element(tree.doc()->createElement("e"));
  EXPECT_EQ(DomCode([&] { range->insertNode(element.get()); }),
            DOMException::HIERARCHY_REQUEST_ERR);
  range->setStart(tree.doc(), 0);
  EXPECT_EQ(DomCode([&] { range->insertNode(element.get()); }),
            DOMException::HIERARCHY_REQUEST_ERR);
  EXPECT_EQ(Dump(tree.doc()), before);
}

TEST(RangeTest, SurroundContentsWrapsTheSelection) {
  ParsedTree tree(kTree);
  std::unique_ptr<Range> range = MakeRange(tree.doc(), tree.text("a"), 1, tree.text("a"), 4);
  Element* wrap = tree.doc()->createElement("w");
  range->surroundContents(wrap);
  EXPECT_EQ(Dump(tree.element("a")), "a('h' w('ell') 'o')");
  EXPECT_EQ(Where(range.get()), "a:1-a:2");

  // Across siblings, texts may be cut; the wrapper's own children stay first.
  range->setStart(tree.element("b")->getFirstChild(), 1);
  range->setEnd(tree.element("b"), 2);
  Element* box = tree.doc()->createElement("box");
  box->appendChild(tree.doc()->createElement("first"));
  range->surroundContents(box);
  EXPECT_EQ(Dump(tree.element("b")), "b('m' box(first 'id' [cd]))");
  EXPECT_EQ(Where(range.get()), "b:1-b:2");
}

TEST(RangeTest, SurroundContentsRefusalsChangeNothing) {
  ParsedTree tree(kTree);
  const std::string before = Dump(tree.doc());
  std::unique_ptr<Range> range = MakeRange(tree.doc(), tree.text("a"), 2, tree.text("c"), 3);
  std::unique_ptr<Element> wrap(tree.doc()->createElement("w"));
  std::string message;
  EXPECT_EQ(RangeCode([&] { range->surroundContents(wrap.get()); }, &message),
            RangeException::BAD_BOUNDARYPOINTS_ERR);
  EXPECT_EQ(message, "surround range is partially selected");

  range->selectNodeContents(tree.element("b"));
  std::unique_ptr<DocumentFragment> fragment(tree.doc()->createDocumentFragment());
  EXPECT_EQ(RangeCode([&] { range->surroundContents(fragment.get()); }, &message),
            RangeException::INVALID_NODE_TYPE_ERR);
  EXPECT_EQ(message, "invalid insert node type");
  // A text node takes no children.
  std::unique_ptr<Text> text(tree.doc()->createTextNode("t"));
  EXPECT_EQ(DomCode([&] { range->surroundContents(text.get()); }),
            DOMException::HIERARCHY_REQUEST_ERR);
  // Nor may the wrapper hold its own new position.
  EXPECT_EQ(DomCode([&] { range->surroundContents(tree.root()); }),
            DOMException::HIERARCHY_REQUEST_ERR);
  EXPECT_EQ(Dump(tree.doc()), before);
  EXPECT_EQ(Where(range.get()), "b:0-b:2");
}

// Entity references and all below them are read-only: a range may hold points
// there and copy from there, but nothing that would change them happens.
TEST(RangeTest, ReadOnlyEntityContentIsNotModified) {
  ParsedTree tree(u"<!DOCTYPE r [<!ENTITY e 'x<i>yz</i>'>]><r><a>pre</a>&e;<c>post</c></r>");
  const std::string before = Dump(tree.root());
  ASSERT_EQ(before, "r(a('pre') e('x' i('yz')) c('post'))");
  Node* reference = tree.root()->getFirstChild()->getNextSibling();
  Node* inner_element = reference->getLastChild();
  Text* inner = static_cast<Text*>(inner_element->getFirstChild());
  std::unique_ptr<Range> range(tree.doc()->createRange());
  std::unique_ptr<Element> made(tree.doc()->createElement("m"));
  std::string message;

  // Inside the reference: copying works, changing does not.
  range->setStart(inner, 1);
  range->setEnd(inner, 2);
  std::unique_ptr<DocumentFragment> copy(range->cloneContents());
  EXPECT_EQ(Dump(copy.get()), "#document-fragment('z')");
  EXPECT_EQ(DomCode([&] { range->deleteContents(); }, &message),
            DOMException::NO_MODIFICATION_ALLOWED_ERR);
  EXPECT_EQ(message, "read-only node cannot be modified");
  EXPECT_EQ(DomCode([&] { delete range->extractContents(); }),
            DOMException::NO_MODIFICATION_ALLOWED_ERR);
  EXPECT_EQ(DomCode([&] { range->insertNode(made.get()); }),
            DOMException::NO_MODIFICATION_ALLOWED_ERR);
  EXPECT_EQ(DomCode([&] { range->surroundContents(made.get()); }),
            DOMException::NO_MODIFICATION_ALLOWED_ERR);
  EXPECT_EQ(made->getParentNode(), nullptr);
  EXPECT_EQ(DomCode([&] { inner->splitText(1); }), DOMException::NO_MODIFICATION_ALLOWED_ERR);

  // From writable text into the reference: the partly selected text is not cut.
  range->setStart(tree.text("a"), 1);
  EXPECT_EQ(DomCode([&] { range->deleteContents(); }), DOMException::NO_MODIFICATION_ALLOWED_ERR);
  EXPECT_EQ(DomCode([&] { range->surroundContents(made.get()); }),
            DOMException::NO_MODIFICATION_ALLOWED_ERR);

  // A reference wholly inside is read-only content too.
  range->setStart(tree.text("a"), 1);
  range->setEnd(tree.text("c"), 2);
  EXPECT_EQ(DomCode([&] { delete range->extractContents(); }),
            DOMException::NO_MODIFICATION_ALLOWED_ERR);
  // The reference itself may not be wrapped.
  EXPECT_EQ(DomCode([&] { range->surroundContents(reference); }),
            DOMException::NO_MODIFICATION_ALLOWED_ERR);
  EXPECT_EQ(Dump(tree.root()), before);
  EXPECT_EQ(Where(range.get()), "'pre':1-'post':2");

  // A node taken out of read-only content may not be inserted elsewhere.
  range->setStart(tree.root(), 0);
  range->collapse(true);
  EXPECT_EQ(DomCode([&] { range->insertNode(inner_element); }),
            DOMException::NO_MODIFICATION_ALLOWED_ERR);

  // Around the reference, writable content still changes, and the whole reference
  // may be copied.
  range->setStart(tree.root(), 1);
  range->setEnd(tree.root(), 2);
  std::unique_ptr<DocumentFragment> whole(range->cloneContents());
  EXPECT_EQ(Dump(whole.get()), "#document-fragment(e('x' i('yz')))");
  range->setStart(tree.text("c"), 0);
  range->setEnd(tree.text("c"), 2);
  range->deleteContents();
  EXPECT_EQ(Dump(tree.root()), "r(a('pre') e('x' i('yz')) c('st'))");
  range->insertNode(made.release());
  EXPECT_EQ(Dump(tree.root()), "r(a('pre') e('x' i('yz')) c('' m 'st'))");

  // The reference as a whole may leave its writable parent; a point inside it
  // follows to where it was.
  range->setStart(inner, 1);
  range->collapse(true);
  tree.parser().freeNode(tree.root()->removeChild(reference));
  EXPECT_EQ(Where(range.get()), "r:1-r:1");
  EXPECT_EQ(Dump(tree.root()), "r(a('pre') c('' m 'st'))");
}

TEST(RangeTest, FollowsInsertionsAndRemovals) {
  ParsedTree tree(u"<r><a/><b><x/><y/></b><c/></r>");
  Element* b = tree.element("b");
  std::unique_ptr<Range> range = MakeRange(tree.doc(), tree.root(), 1, b, 1);
  std::unique_ptr<Range> around_b = MakeRange(tree.doc(), tree.root(), 1, tree.root(), 2);

  // Inserting at a point's offset leaves it; before it moves it on.
  tree.root()->insertBefore(tree.doc()->createElement("n"), b);
  EXPECT_EQ(Where(range.get()), "r:1-b:1");
  EXPECT_EQ(Where(around_b.get()), "r:1-r:3");
  tree.root()->insertBefore(tree.doc()->createElement("m"), tree.element("a"));
  EXPECT_EQ(Where(range.get()), "r:2-b:1");
  b->insertBefore(tree.doc()->createElement("p"), b->getFirstChild());
  EXPECT_EQ(Where(range.get()), "r:2-b:2");

  // Removing a node before a point moves it back; removing a point's container
  // moves the point to where the container was.
  delete tree.root()->removeChild(tree.element("m"));
  EXPECT_EQ(Where(range.get()), "r:1-b:2");
  delete tree.root()->removeChild(b);
  EXPECT_EQ(Where(range.get()), "r:1-r:2");
  EXPECT_EQ(Where(around_b.get()), "r:1-r:2");

  // Replacing counts as insertion then removal.
  std::unique_ptr<Node> old(
      tree.root()->replaceChild(tree.doc()->createElement("z"), tree.element("a")));
  EXPECT_EQ(Where(range.get()), "r:1-r:2");
}

TEST(RangeTest, FollowsTextChanges) {
  ParsedTree tree(u"<r>abcdef</r>");
  Text* text = static_cast<Text*>(tree.root()->getFirstChild());
  std::unique_ptr<Range> range = MakeRange(tree.doc(), text, 2, text, 4);  // "cd"
  text->insertData(1, "XY");                                               // before: both move
  EXPECT_EQ(Where(range.get()), "'aXYbcdef':4-'aXYbcdef':6");
  text->insertData(6, "-");  // at the end point: stays
  EXPECT_EQ(Where(range.get()), "'aXYbcd-ef':4-'aXYbcd-ef':6");
  EXPECT_EQ(Ascii(range->toString()), "cd");
  text->deleteData(3, 2);  // takes "bc": the start falls to the cut
  EXPECT_EQ(Where(range.get()), "'aXYd-ef':3-'aXYd-ef':4");
  // A point at the replaced part's end falls to its start; one after keeps its text.
  text->replaceData(0, 3, "Q");
  EXPECT_EQ(Where(range.get()), "'Qd-ef':0-'Qd-ef':2");
  EXPECT_EQ(Ascii(range->toString()), "Qd");
  text->appendData("gh");
  EXPECT_EQ(Where(range.get()), "'Qd-efgh':0-'Qd-efgh':2");

  // A split sends points past the cut into the new node.
  range->setEnd(text, 6);
  Text* tail = text->splitText(3);
  EXPECT_EQ(Label(tail), "'efgh'");
  EXPECT_EQ(Where(range.get()), "'Qd-':0-'efgh':3");
  EXPECT_EQ(Ascii(range->toString()), "Qd-efg");
  std::unique_ptr<Range> after_text = MakeRange(tree.doc(), tree.root(), 2, tree.root(), 2);
  tail->splitText(1);
  EXPECT_EQ(Where(after_text.get()), "r:3-r:3");

  // Setting the data anew sends points inside to its start.
  text->setData("new");
  EXPECT_EQ(range->getStartOffset(), 0);
  tree.root()->normalize();
  EXPECT_EQ(Dump(tree.root()), "r('newefgh')");
  EXPECT_EQ(Where(range.get()), "'newefgh':0-r:1");

  std::string message;
  EXPECT_EQ(DomCode([&] { text->splitText(9); }, &message), DOMException::INDEX_SIZE_ERR);
  EXPECT_EQ(message, "invalid index");
}

TEST(RangeTest, UnitsOfCdataAndProcessingInstructions) {
  ParsedTree tree(u"<r><![CDATA[abcd]]><?pi data?></r>");
  Node* cdata = tree.root()->getFirstChild();
  Node* pi = tree.root()->getLastChild();
  std::unique_ptr<Range> range = MakeRange(tree.doc(), pi, 1, pi, 3);
  EXPECT_EQ(DomCode([&] { range->setEnd(pi, 5); }), DOMException::INDEX_SIZE_ERR);
  std::unique_ptr<DocumentFragment> moved(range->extractContents());
  EXPECT_EQ(Dump(moved.get()), "#document-fragment(?pi)");
  EXPECT_EQ(Ascii(moved->getFirstChild()->getNodeValue()), "at");
  EXPECT_EQ(Ascii(pi->getNodeValue()), "da");
  EXPECT_EQ(Where(range.get()), "?pi:1-?pi:1");
  range->setEnd(pi, 2);
  static_cast<ProcessingInstruction*>(pi)->setData("x");  // new data: points go to its start
  EXPECT_EQ(Where(range.get()), "?pi:0-?pi:0");

  // A CDATA section splits into two CDATA sections.
  range->setStart(cdata, 3);
  range->setEnd(cdata, 4);
  Node* tail = static_cast<Text*>(cdata)->splitText(2);
  EXPECT_EQ(Dump(tree.root()), "r([ab] [cd] ?pi)");
  EXPECT_EQ(tail->getNodeType(), Node::CDATA_SECTION_NODE);
  EXPECT_EQ(Where(range.get()), "[cd]:1-[cd]:2");
}

TEST(RangeTest, FreedNodesAndDocumentsDetachRanges) {
  DOMParser parser;
  Document* doc = parser.parse(kTree);
  Node* a = doc->getDocumentElement()->getFirstChild();
  std::unique_ptr<Element> loose(doc->createElement("loose"));
  loose->appendChild(doc->createTextNode("text"));
  std::unique_ptr<Range> in_loose = MakeRange(doc, loose->getFirstChild(), 1, loose.get(), 1);
  std::unique_ptr<Range> in_tree = MakeRange(doc, a, 0, a, 1);
  EXPECT_EQ(Ascii(in_loose->toString()), "ext");
  parser.freeNode(loose.release());
  EXPECT_EQ(DomCode([&] { in_loose->getStartContainer(); }), DOMException::INVALID_STATE_ERR);
  EXPECT_EQ(Ascii(in_tree->toString()), "hello");
  parser.free(doc);
  EXPECT_EQ(DomCode([&] { in_tree->toString(); }), DOMException::INVALID_STATE_ERR);
}

// Random edits of a tree with several live ranges and an iterator: after every
// step each range must still lie in the tree, with offsets inside their
// containers and the start not after the end.
TEST(RangeTest, StaysValidThroughRandomEdits) {
  ParsedTree tree(u"<r><a>alpha<b>beta</b></a><!--c--><d>delta<e/>eps</d><f>phi</f></r>");
  Document* doc = tree.doc();
  std::mt19937 random(20021);
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  // Every node from the document element down, in document order.
  auto nodes = [&] {
    std::vector<Node*> all;
    std::unique_ptr<NodeIterator> it(
        doc->createNodeIterator(tree.root(), NodeFilter::SHOW_ALL, nullptr, true));
    while (Node* n = it->nextNode()) all.push_back(n);
    return all;
  };
  auto length = [](const Node* n) {
    if (n->getNodeType() == Node::ELEMENT_NODE) return n->getChildNodes()->getLength();
    return n->getNodeValue().length();
  };
  std::vector<std::unique_ptr<Range>> ranges;
  for (int i = 0; i < 4; ++i) ranges.emplace_back(doc->createRange());
  std::unique_ptr<NodeIterator> walker(
      doc->createNodeIterator(doc, NodeFilter::SHOW_ALL, nullptr, true));

  int done = 0;  // steps that did not throw
  for (int step = 0; step < 3000; ++step) {
    const std::vector<Node*> all = nodes();
    Node* node = all[pick(static_cast<int>(all.size()))];
    Range* range = ranges[pick(4)].get();
    const bool is_element = node->getNodeType() == Node::ELEMENT_NODE;
    try {
      switch (pick(12)) {
        case 0:
        case 10:
        case 11:  // inserting more often than removing keeps the tree from dwindling
          if (is_element)
            node->insertBefore(
                pick(2) ? static_cast<Node*>(doc->createElement("n")) : doc->createTextNode("txt"),
                node->getChildNodes()->item(pick(length(node) + 1)));
          break;
        case 1:
          if (node != tree.root()) delete node->getParentNode()->removeChild(node);
          break;
        case 2:
          if (node->getNodeType() == Node::TEXT_NODE)
            static_cast<Text*>(node)->splitText(pick(length(node) + 1));
          break;
        case 3:
          if (node->getNodeType() == Node::TEXT_NODE || node->getNodeType() == Node::COMMENT_NODE) {
            const int offset = pick(length(node) + 1);
            static_cast<CharacterData*>(node)->replaceData(offset, pick(3), pick(2) ? "xy" : "");
          }
          break;
        case 4: range->setStart(node, pick(length(node) + 1)); break;
        case 5: range->setEnd(node, pick(length(node) + 1)); break;
        case 6:
          switch (pick(3)) {
            case 0: delete range->extractContents(); break;
            case 1: range->deleteContents(); break;
            default: delete range->cloneContents(); break;
          }
          break;
        case 7: {
          std::unique_ptr<Element> made(doc->createElement("i"));
          range->insertNode(made.get());
          made.release();
          break;
        }
        case 8: {
          std::unique_ptr<Element> made(doc->createElement("s"));
          range->surroundContents(made.get());
          made.release();
          break;
        }
        default: {
          tree.root()->normalize();
          Node* seen = pick(2) ? walker->nextNode() : walker->previousNode();
          if (!seen)
            walker.reset(doc->createNodeIterator(doc, NodeFilter::SHOW_ALL, nullptr, true));
          while (seen && seen->getParentNode()) seen = seen->getParentNode();
          ASSERT_TRUE(!seen || seen == doc) << "step " << step;
          break;
        }
      }
      ++done;
    } catch (const DOMException&) {
    } catch (const RangeException&) {
    }
    for (const auto& r : ranges) {
      for (const auto& [container, offset] :
           {std::pair{r->getStartContainer(), r->getStartOffset()},
            std::pair{r->getEndContainer(), r->getEndOffset()}}) {
        Node* top = container;
        while (top->getParentNode()) top = top->getParentNode();
        ASSERT_EQ(top, doc) << "step " << step;
        ASSERT_GE(offset, 0) << "step " << step;
        ASSERT_LE(offset, container == doc ? doc->getChildNodes()->getLength() : length(container))
            << "step " << step;
      }
      ASSERT_GE(r->compareBoundaryPoints(Range::START_TO_END, r.get()), 0) << "step " << step;
    }
  }
  // Most steps must have done something for the run to mean anything.
  EXPECT_GT(done, 2000);
}

TEST(RangeExceptionTest, CodesAndNames) {
  RangeException bad(RangeException::BAD_BOUNDARYPOINTS_ERR, "m");
  EXPECT_EQ(bad.getCode(), ARXPException::DOM_ERR);
  EXPECT_EQ(bad.getRangeCode(), 1);
  EXPECT_EQ(Ascii(bad.toString()), "<RangeException::BAD_BOUNDARYPOINTS_ERR>");
  EXPECT_EQ(Ascii(RangeException(2, "m").toString()), "<RangeException::INVALID_NODE_TYPE_ERR>");
  EXPECT_EQ(Ascii(RangeException(7, "m").toString()), "<RangeException::\?\?\?>");
  const ARXPException& base = bad;
  EXPECT_EQ(Ascii(base.toString()), "<RangeException::BAD_BOUNDARYPOINTS_ERR>");
}

}  // namespace
}  // namespace arxp
