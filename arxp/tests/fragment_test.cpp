// DocumentFragment: inserting a fragment moves its children, all or none.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "arxp/dom.h"
#include "test_util.h"

namespace arxp {
namespace {

using test::Ascii;

std::string Names(const Node* parent) {
  std::string out;
  for (const Node* n = parent->getFirstChild(); n; n = n->getNextSibling())
    out += Ascii(n->getNodeName()) + " ";
  return out;
}

TEST(DocumentFragmentTest, InsertingMovesTheChildrenInOrder) {
  Document doc;
  Element* root = doc.createElement("r");
  doc.appendChild(root);
  Node* last = root->appendChild(doc.createElement("z"));
  std::unique_ptr<DocumentFragment> fragment(doc.createDocumentFragment());
  EXPECT_EQ(fragment->getNodeName(), "#document-fragment");
  EXPECT_EQ(fragment->getNodeType(), Node::DOCUMENT_FRAGMENT_NODE);
  fragment->appendChild(doc.createElement("a"));
  fragment->appendChild(doc.createTextNode("t"));
  fragment->appendChild(doc.createElement("b"));

  EXPECT_EQ(root->insertBefore(fragment.get(), last), fragment.get());
  EXPECT_EQ(Names(root), "a #text b z ");
  EXPECT_FALSE(fragment->hasChildNodes());
  EXPECT_EQ(root->getFirstChild()->getParentNode(), root);
}

TEST(DocumentFragmentTest, RefusedFragmentKeepsItsChildren) {
  Document doc;
  std::unique_ptr<DocumentFragment> fragment(doc.createDocumentFragment());
  fragment->appendChild(doc.createElement("a"));
  fragment->appendChild(doc.createElement("b"));
  // A document takes one element only.
  try {
    doc.appendChild(fragment.get());
    FAIL() << "two elements went into a document";
  } catch (const DOMException& e) {
    EXPECT_EQ(e.getDOMCode(), DOMException::HIERARCHY_REQUEST_ERR);
    EXPECT_EQ(Ascii(e.getMessage()), "new child node is not acceptable");
  }
  EXPECT_EQ(Names(fragment.get()), "a b ");
  EXPECT_FALSE(doc.hasChildNodes());

  // Nor may a fragment go into one of its own descendants.
  Node* a = fragment->getFirstChild();
  EXPECT_THROW(a->appendChild(fragment.get()), DOMException);
  EXPECT_EQ(Names(fragment.get()), "a b ");

  // One element alone is fine.
  delete fragment->removeChild(fragment->getLastChild());
  doc.appendChild(fragment.get());
  EXPECT_EQ(Ascii(doc.getDocumentElement()->getNodeName()), "a");
}

TEST(DocumentFragmentTest, CloneCopiesTheChildrenWhenDeep) {
  Document doc;
  std::unique_ptr<DocumentFragment> fragment(doc.createDocumentFragment());
  Element* a = doc.createElement("a");
  fragment->appendChild(a);
  a->appendChild(doc.createTextNode("x"));
  std::unique_ptr<Node> deep(fragment->cloneNode(true));
  std::unique_ptr<Node> shallow(fragment->cloneNode(false));
  EXPECT_EQ(deep->getNodeType(), Node::DOCUMENT_FRAGMENT_NODE);
  ASSERT_NE(deep->getFirstChild(), nullptr);
  EXPECT_NE(deep->getFirstChild(), a);
  EXPECT_EQ(Ascii(deep->getFirstChild()->getFirstChild()->getNodeValue()), "x");
  EXPECT_FALSE(shallow->hasChildNodes());
}

}  // namespace
}  // namespace arxp
