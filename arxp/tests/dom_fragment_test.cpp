// DocumentFragment: insertion moves its children, cloning and importing copy them.
#include <gtest/gtest.h>

#include <string>

#include "arxp/dom.h"
#include "test_util.h"

namespace arxp {
namespace {

using test::Ascii;

std::string Names(const Node* parent) {
  std::string out;
  for (const Node* c = parent->getFirstChild(); c; c = c->getNextSibling())
    out += Ascii(c->getNodeName()) + (c->getNextSibling() ? "," : "");
  return out;
}

int DomCode(Node* parent, Node* child) {
  try {
    parent->appendChild(child);
  } catch (const DOMException& e) {
    return e.getDOMCode();
  }
  return 0;
}

class DocumentFragmentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    doc_ = parser_.createDocument();
    root_ = doc_->createElement("r");
    doc_->appendChild(root_);
    root_->appendChild(doc_->createElement("z"));
    fragment_ = doc_->createDocumentFragment();
    fragment_->appendChild(doc_->createElement("a"));
    fragment_->appendChild(doc_->createTextNode("t"));
    fragment_->appendChild(doc_->createElement("b"));
  }
  void TearDown() override {
    parser_.freeNode(fragment_);
    parser_.free(doc_);
  }

  DOMParser parser_;
  Document* doc_ = nullptr;
  Element* root_ = nullptr;
  DocumentFragment* fragment_ = nullptr;
};

TEST_F(DocumentFragmentTest, IsNamedAndTyped) {
  EXPECT_EQ(Ascii(fragment_->getNodeName()), "#document-fragment");
  EXPECT_EQ(fragment_->getNodeType(), Node::DOCUMENT_FRAGMENT_NODE);
  EXPECT_TRUE(fragment_->getNodeValue().isNull());
  EXPECT_EQ(fragment_->getOwnerDocument(), doc_);
  EXPECT_EQ(fragment_->getParentNode(), nullptr);
}

TEST_F(DocumentFragmentTest, InsertingMovesItsChildrenInOrder) {
  EXPECT_EQ(root_->insertBefore(fragment_, root_->getFirstChild()), fragment_);
  EXPECT_EQ(Names(root_), "a,#text,b,z");
  EXPECT_FALSE(fragment_->hasChildNodes());
  EXPECT_EQ(fragment_->getChildNodes()->getLength(), 0);
  for (Node* c = root_->getFirstChild(); c; c = c->getNextSibling())
    EXPECT_EQ(c->getParentNode(), root_);
  EXPECT_EQ(root_->getLastChild()->getPreviousSibling()->getNodeName(), "b");
  // An empty fragment inserts nothing.
  root_->appendChild(fragment_);
  EXPECT_EQ(Names(root_), "a,#text,b,z");
}

TEST_F(DocumentFragmentTest, ReplaceChildPutsTheChildrenInThePlaceOfTheOld) {
  Node* z = root_->getFirstChild();
  EXPECT_EQ(root_->replaceChild(fragment_, z), z);
  EXPECT_EQ(Names(root_), "a,#text,b");
  parser_.freeNode(z);
}

TEST_F(DocumentFragmentTest, UnacceptableContentLeavesBothSidesUnchanged) {
  // Nor may a fragment go into one of its own children.
  EXPECT_EQ(DomCode(fragment_->getFirstChild(), fragment_), DOMException::HIERARCHY_REQUEST_ERR);
  EXPECT_EQ(Names(fragment_), "a,#text,b");
  // Text and two elements cannot become children of the document.
  parser_.freeNode(doc_->removeChild(root_));
  EXPECT_EQ(DomCode(doc_, fragment_), DOMException::HIERARCHY_REQUEST_ERR);
  EXPECT_EQ(Names(fragment_), "a,#text,b");
  EXPECT_FALSE(doc_->hasChildNodes());
  root_ = nullptr;
  // A fragment with one element and a comment may.
  parser_.freeNode(fragment_->removeChild(fragment_->getLastChild()));
  parser_.freeNode(fragment_->removeChild(fragment_->getLastChild()));
  fragment_->appendChild(doc_->createComment("c"));
  EXPECT_EQ(DomCode(doc_, fragment_), 0);
  EXPECT_EQ(Names(doc_), "a,#comment");
  EXPECT_EQ(Ascii(doc_->getDocumentElement()->getTagName()), "a");
  // A fragment is never a child, and belongs to one document.
  DocumentFragment* inner = doc_->createDocumentFragment();
  EXPECT_EQ(DomCode(inner, fragment_), 0);
  EXPECT_EQ(DomCode(doc_->getDocumentElement(), doc_), DOMException::HIERARCHY_REQUEST_ERR);
  Document* other = parser_.createDocument();
  DocumentFragment* foreign = other->createDocumentFragment();
  EXPECT_EQ(DomCode(doc_->getDocumentElement(), foreign), DOMException::WRONG_DOCUMENT_ERR);
  parser_.freeNode(foreign);
  parser_.free(other);
  parser_.freeNode(inner);
}

TEST_F(DocumentFragmentTest, CloneAndImportCopyTheChildrenWhenDeep) {
  Node* shallow = fragment_->cloneNode(false);
  EXPECT_EQ(shallow->getNodeType(), Node::DOCUMENT_FRAGMENT_NODE);
  EXPECT_FALSE(shallow->hasChildNodes());
  parser_.freeNode(shallow);
  Node* deep = fragment_->cloneNode(true);
  EXPECT_EQ(Names(deep), "a,#text,b");
  EXPECT_NE(deep->getFirstChild(), fragment_->getFirstChild());
  parser_.freeNode(deep);

  Document* other = parser_.createDocument();
  Node* imported = other->importNode(fragment_, true);
  EXPECT_EQ(imported->getOwnerDocument(), other);
  EXPECT_EQ(imported->getFirstChild()->getOwnerDocument(), other);
  EXPECT_EQ(Names(imported), "a,#text,b");
  parser_.freeNode(imported);
  parser_.free(other);
}

TEST_F(DocumentFragmentTest, WrittenAsItsChildren) {
  parser_.freeNode(root_->removeChild(root_->getFirstChild()));
  root_->appendChild(fragment_);
  char16_t buffer[64];
  int length = sizeof buffer;
  parser_.write(doc_, buffer, &length);
  EXPECT_EQ(Ascii(Xstring(buffer)), "<r><a/>t<b/></r>");
}

}  // namespace
}  // namespace arxp
