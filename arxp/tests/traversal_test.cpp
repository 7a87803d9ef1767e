// NodeIterator and TreeWalker: the order they show, masks and filters, entity
// references, and how they keep their place while the tree changes.
#include "arxp/traversal.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include "tree_util.h"

namespace arxp {
namespace {

using test::DomCode;
using test::Dump;
using test::Label;
using test::ParsedTree;

constexpr const char16_t* kTree = u"<r><a><b/>t1</a><!--k--><c>t2<d/></c><e/></r>";

// Answers by element name: rejected and skipped names, the rest accepted.
class NameFilter : public NodeFilter {
 public:
  NameFilter(std::set<std::string> reject, std::set<std::string> skip)
      : reject_(std::move(reject)), skip_(std::move(skip)) {}
  short acceptNode(Node* node) override {
    const std::string label = Label(node);
    if (reject_.count(label)) return FILTER_REJECT;
    if (skip_.count(label)) return FILTER_SKIP;
    return FILTER_ACCEPT;
  }

 private:
  std::set<std::string> reject_, skip_;
};

std::string Forward(NodeIterator* it) {
  std::string out;
  while (Node* n = it->nextNode()) out += Label(n) + " ";
  return out;
}

std::string Backward(NodeIterator* it) {
  std::string out;
  while (Node* n = it->previousNode()) out += Label(n) + " ";
  return out;
}

TEST(NodeIteratorTest, WalksTheSubtreeBothWays) {
  ParsedTree tree(kTree);
  std::unique_ptr<NodeIterator> it(
      tree.doc()->createNodeIterator(tree.root(), NodeFilter::SHOW_ALL, nullptr, true));
  EXPECT_EQ(it->getRoot(), tree.root());
  EXPECT_EQ(it->getWhatToShow(), NodeFilter::SHOW_ALL);
  EXPECT_EQ(it->getFilter(), nullptr);
  EXPECT_TRUE(it->getExpandEntityReferences());
  EXPECT_EQ(it->previousNode(), nullptr);  // nothing before the root
  EXPECT_EQ(Forward(it.get()), "r a b 't1' !k c 't2' d e ");
  EXPECT_EQ(it->nextNode(), nullptr);
  EXPECT_EQ(Backward(it.get()), "e d 't2' c !k 't1' b a r ");
  // Turning round shows the same node again, as the iterator sits between nodes.
  EXPECT_EQ(Label(it->nextNode()), "r");
  EXPECT_EQ(Label(it->nextNode()), "a");
  EXPECT_EQ(Label(it->previousNode()), "a");
}

TEST(NodeIteratorTest, MaskAndFilterChooseNodesButNeverPruneChildren) {
  ParsedTree tree(kTree);
  std::unique_ptr<NodeIterator> texts(
      tree.doc()->createNodeIterator(tree.doc(), NodeFilter::SHOW_TEXT, nullptr, true));
  EXPECT_EQ(Forward(texts.get()), "'t1' 't2' ");

  std::unique_ptr<NodeIterator> comments_and_elements(tree.doc()->createNodeIterator(
      tree.root(), NodeFilter::SHOW_COMMENT | NodeFilter::SHOW_ELEMENT, nullptr, true));
  EXPECT_EQ(Forward(comments_and_elements.get()), "r a b !k c d e ");

  // For an iterator a rejected node's children are still shown.
  NameFilter filter({"a", "c"}, {"e"});
  std::unique_ptr<NodeIterator> filtered(
      tree.doc()->createNodeIterator(tree.root(), NodeFilter::SHOW_ALL, &filter, true));
  EXPECT_EQ(filtered->getFilter(), &filter);
  EXPECT_EQ(Forward(filtered.get()), "r b 't1' !k 't2' d ");
  EXPECT_EQ(Backward(filtered.get()), "d 't2' !k 't1' b r ");
}

TEST(NodeIteratorTest, ErrorsAndDetach) {
  ParsedTree tree(kTree);
  std::string message;
  EXPECT_EQ(DomCode([&] { tree.doc()->createNodeIterator(nullptr, 0, nullptr, true); }, &message),
            DOMException::NOT_SUPPORTED_ERR);
  EXPECT_EQ(message, "NodeIterator root is null");
  EXPECT_EQ(DomCode([&] { tree.doc()->createTreeWalker(nullptr, 0, nullptr, true); }, &message),
            DOMException::NOT_SUPPORTED_ERR);
  EXPECT_EQ(message, "TreeWalker root is null");

  std::unique_ptr<NodeIterator> it(
      tree.doc()->createNodeIterator(tree.root(), NodeFilter::SHOW_ALL, nullptr, true));
  ASSERT_NE(it->nextNode(), nullptr);
  it->detach();
  EXPECT_EQ(DomCode([&] { it->nextNode(); }, &message), DOMException::INVALID_STATE_ERR);
  EXPECT_EQ(message, "NodeIterator already detached");
  EXPECT_EQ(DomCode([&] { it->previousNode(); }), DOMException::INVALID_STATE_ERR);
}

TEST(NodeIteratorTest, RemovingTheReferenceNodeKeepsThePlace) {
  ParsedTree tree(kTree);
  std::unique_ptr<NodeIterator> it(
      tree.doc()->createNodeIterator(tree.root(), NodeFilter::SHOW_ELEMENT, nullptr, true));
  // After b: removing a (b's parent) moves the reference to the node before a.
  EXPECT_EQ(Label(it->nextNode()), "r");
  EXPECT_EQ(Label(it->nextNode()), "a");
  EXPECT_EQ(Label(it->nextNode()), "b");
  std::unique_ptr<Node> a(tree.root()->removeChild(tree.element("a")));
  EXPECT_EQ(Label(it->nextNode()), "c");
  EXPECT_EQ(Label(it->previousNode()), "c");

  // Before c (just turned round): removing c moves to the next node after c's
  // subtree, which is then the next shown.
  std::unique_ptr<Node> c(tree.root()->removeChild(tree.element("c")));
  EXPECT_EQ(Label(it->nextNode()), "e");

  // Before the last node with nothing after: it flips to after the previous one.
  EXPECT_EQ(Label(it->previousNode()), "e");
  std::unique_ptr<Node> e(tree.root()->removeChild(tree.element("e")));
  EXPECT_EQ(it->nextNode(), nullptr);
  EXPECT_EQ(Label(it->previousNode()), "r");
}

TEST(NodeIteratorTest, RemovingTheRootLeavesTheIteratorInTheLooseSubtree) {
  ParsedTree tree(kTree);
  Element* c = tree.element("c");
  std::unique_ptr<NodeIterator> it(
      tree.doc()->createNodeIterator(c, NodeFilter::SHOW_ALL, nullptr, true));
  EXPECT_EQ(Label(it->nextNode()), "c");
  tree.root()->removeChild(c);
  EXPECT_EQ(Label(it->nextNode()), "'t2'");
  EXPECT_EQ(Label(it->nextNode()), "d");
  EXPECT_EQ(it->nextNode(), nullptr);
  // Freeing the root detaches the iterator rather than leaving it on freed nodes.
  tree.parser().freeNode(c);
  EXPECT_EQ(DomCode([&] { it->previousNode(); }), DOMException::INVALID_STATE_ERR);
}

TEST(NodeIteratorTest, InsertedNodesAheadAreSeen) {
  ParsedTree tree(kTree);
  std::unique_ptr<NodeIterator> it(
      tree.doc()->createNodeIterator(tree.root(), NodeFilter::SHOW_ELEMENT, nullptr, true));
  EXPECT_EQ(Label(it->nextNode()), "r");
  EXPECT_EQ(Label(it->nextNode()), "a");
  tree.element("c")->appendChild(tree.doc()->createElement("new"));
  tree.root()->insertBefore(tree.doc()->createElement("old"), tree.element("a"));
  EXPECT_EQ(Forward(it.get()), "b c d new e ");
}

TEST(TreeWalkerTest, MovesOverTheTreeAndStaysUnderTheRoot) {
  ParsedTree tree(kTree);
  std::unique_ptr<TreeWalker> walker(
      tree.doc()->createTreeWalker(tree.root(), NodeFilter::SHOW_ALL, nullptr, true));
  EXPECT_EQ(walker->getCurrentNode(), tree.root());
  EXPECT_EQ(walker->parentNode(), nullptr);  // never above the root
  EXPECT_EQ(walker->nextSibling(), nullptr);
  EXPECT_EQ(Label(walker->lastChild()), "e");
  EXPECT_EQ(Label(walker->previousSibling()), "c");
  EXPECT_EQ(Label(walker->previousSibling()), "!k");
  EXPECT_EQ(Label(walker->previousSibling()), "a");
  EXPECT_EQ(walker->previousSibling(), nullptr);
  EXPECT_EQ(Label(walker->getCurrentNode()), "a");
  EXPECT_EQ(Label(walker->firstChild()), "b");
  EXPECT_EQ(walker->firstChild(), nullptr);
  EXPECT_EQ(Label(walker->nextSibling()), "'t1'");
  EXPECT_EQ(Label(walker->parentNode()), "a");
  EXPECT_EQ(Label(walker->parentNode()), "r");

  std::string order;
  while (Node* n = walker->nextNode()) order += Label(n) + " ";
  EXPECT_EQ(order, "a b 't1' !k c 't2' d e ");
  order.clear();
  while (Node* n = walker->previousNode()) order += Label(n) + " ";
  EXPECT_EQ(order, "d 't2' c !k 't1' b a r ");
}

TEST(TreeWalkerTest, RejectHidesChildrenSkipDoesNot) {
  ParsedTree tree(kTree);
  NameFilter filter({"a"}, {"c"});
  std::unique_ptr<TreeWalker> walker(
      tree.doc()->createTreeWalker(tree.root(), NodeFilter::SHOW_ALL, &filter, true));
  std::string order;
  while (Node* n = walker->nextNode()) order += Label(n) + " ";
  EXPECT_EQ(order, "!k 't2' d e ");
  order.clear();
  while (Node* n = walker->previousNode()) order += Label(n) + " ";
  EXPECT_EQ(order, "d 't2' !k r ");

  // The children of a skipped node count as children of its parent.
  EXPECT_EQ(Label(walker->firstChild()), "!k");
  EXPECT_EQ(Label(walker->nextSibling()), "'t2'");
  EXPECT_EQ(Label(walker->nextSibling()), "d");
  EXPECT_EQ(Label(walker->nextSibling()), "e");
  EXPECT_EQ(Label(walker->previousSibling()), "d");
  EXPECT_EQ(Label(walker->parentNode()), "r");  // c is skipped
  EXPECT_EQ(Label(walker->lastChild()), "e");

  // A mask hides a kind the way a skip does.
  std::unique_ptr<TreeWalker> texts(
      tree.doc()->createTreeWalker(tree.root(), NodeFilter::SHOW_TEXT, nullptr, true));
  EXPECT_EQ(Label(texts->firstChild()), "'t1'");
  EXPECT_EQ(Label(texts->nextSibling()), "'t2'");
  EXPECT_EQ(texts->parentNode(), nullptr);
}

TEST(TreeWalkerTest, CurrentNodeCanBeSetAnywhere) {
  ParsedTree tree(kTree);
  std::unique_ptr<TreeWalker> walker(
      tree.doc()->createTreeWalker(tree.element("c"), NodeFilter::SHOW_ALL, nullptr, true));
  std::string message;
  EXPECT_EQ(DomCode([&] { walker->setCurrentNode(nullptr); }, &message),
            DOMException::NOT_SUPPORTED_ERR);
  EXPECT_EQ(message, "TreeWalker current node is null");
  // Outside the root the walker still moves, but never past the root's level.
  walker->setCurrentNode(tree.element("b"));
  EXPECT_EQ(Label(walker->nextSibling()), "'t1'");
  EXPECT_EQ(Label(walker->parentNode()), "a");
  EXPECT_EQ(Label(walker->parentNode()), "r");
}

TEST(TreeWalkerTest, FreedNodesDoNotLeaveTheWalkerDangling) {
  ParsedTree tree(kTree);
  std::unique_ptr<TreeWalker> walker(
      tree.doc()->createTreeWalker(tree.root(), NodeFilter::SHOW_ALL, nullptr, true));
  Element* a = tree.element("a");
  walker->setCurrentNode(a->getLastChild());
  tree.root()->removeChild(a);
  // A removed current node stays current.
  EXPECT_EQ(Label(walker->getCurrentNode()), "'t1'");
  tree.parser().freeNode(a);
  EXPECT_EQ(walker->getCurrentNode(), tree.root());
  EXPECT_EQ(Label(walker->firstChild()), "!k");

  // Merging texts frees the second one: a walker on it goes back to the root.
  Element* c = tree.element("c");
  Node* extra = c->insertBefore(tree.doc()->createTextNode("+"), c->getLastChild());
  walker->setCurrentNode(extra);
  c->normalize();
  EXPECT_EQ(Label(c->getFirstChild()), "'t2+'");
  EXPECT_EQ(walker->getCurrentNode(), tree.root());

  // A walker whose root is freed shows nothing more.
  std::unique_ptr<TreeWalker> on_c(
      tree.doc()->createTreeWalker(c, NodeFilter::SHOW_ALL, nullptr, true));
  tree.parser().freeNode(tree.root()->removeChild(c));
  EXPECT_EQ(on_c->getRoot(), nullptr);
  EXPECT_EQ(on_c->nextNode(), nullptr);
}

TEST(TraversalTest, EntityReferenceChildrenShowOnlyWhenExpanded) {
  ParsedTree tree(u"<!DOCTYPE r [<!ENTITY ref '<inside/>'>]><r><a/>&ref;<x/></r>");
  Node* reference = tree.element("a")->getNextSibling();
  ASSERT_EQ(reference->getNodeType(), Node::ENTITY_REFERENCE_NODE);

  for (const bool expand : {false, true}) {
    std::unique_ptr<NodeIterator> it(
        tree.doc()->createNodeIterator(tree.root(), NodeFilter::SHOW_ALL, nullptr, expand));
    EXPECT_EQ(Forward(it.get()), expand ? "r a ref inside x " : "r a ref x ");
    EXPECT_EQ(Backward(it.get()), expand ? "x inside ref a r " : "x ref a r ");

    std::unique_ptr<TreeWalker> walker(
        tree.doc()->createTreeWalker(tree.root(), NodeFilter::SHOW_ALL, nullptr, expand));
    std::string order;
    while (Node* n = walker->nextNode()) order += Label(n) + " ";
    EXPECT_EQ(order, expand ? "a ref inside x " : "a ref x ");
    walker->setCurrentNode(reference);
    EXPECT_EQ(walker->firstChild() != nullptr, expand);
  }

  // The mask bit of the kind hides the reference itself.
  std::unique_ptr<NodeIterator> no_refs(tree.doc()->createNodeIterator(
      tree.root(), NodeFilter::SHOW_ALL & ~NodeFilter::SHOW_ENTITY_REFERENCE, nullptr, true));
  EXPECT_EQ(Forward(no_refs.get()), "r a inside x ");
}

TEST(TraversalTest, FreeingTheDocumentDetachesItsIterators) {
  DOMParser parser;
  Document* doc = parser.parse(kTree);
  std::unique_ptr<NodeIterator> it(
      doc->createNodeIterator(doc, NodeFilter::SHOW_ALL, nullptr, true));
  std::unique_ptr<TreeWalker> walker(
      doc->createTreeWalker(doc, NodeFilter::SHOW_ALL, nullptr, true));
  EXPECT_EQ(Dump(it->nextNode()), "#document(r(a(b 't1') !k c('t2' d) e))");
  parser.free(doc);
  EXPECT_EQ(DomCode([&] { it->nextNode(); }), DOMException::INVALID_STATE_ERR);
  EXPECT_EQ(walker->getCurrentNode(), nullptr);
  EXPECT_EQ(walker->nextNode(), nullptr);
}

}  // namespace
}  // namespace arxp
