// DOMParser and the document tree: what a parse builds, the tree operations and
// their exceptions, and the rules of free and freeNode.
#include "arxp/dom.h"

#include <gtest/gtest.h>

#include <string>

#include "arxp/memory.h"
#include "test_util.h"
#include "tree_util.h"

namespace arxp {
namespace {

using test::Ascii;
using test::DomCode;

Document* ParseText(DOMParser& parser, const std::u16string& text) {
  return parser.parse(text.c_str());
}

// The subtree as nested text: names, attributes and values.
std::string Dump(const Node* node) {
  std::string out;
  switch (node->getNodeType()) {
    case Node::ELEMENT_NODE: {
      out += "<" + Ascii(node->getNodeName());
      const NamedNodeMap* attributes = node->getAttributes();
      for (int i = 0; i < attributes->getLength(); ++i)
        out += " " + Ascii(attributes->item(i)->getNodeName()) + "=" +
               Ascii(attributes->item(i)->getNodeValue());
      out += ">";
      break;
    }
    case Node::DOCUMENT_NODE: break;
    case Node::DOCUMENT_TYPE_NODE: out += "!" + Ascii(node->getNodeName()); break;
    default: out += Ascii(node->getNodeName()) + "[" + Ascii(node->getNodeValue()) + "]";
  }
  for (const Node* c = node->getFirstChild(); c; c = c->getNextSibling()) out += Dump(c);
  if (node->getNodeType() == Node::ELEMENT_NODE) out += "</>";
  return out;
}

TEST(DOMParserTest, BuildsTheTree) {
  DOMParser parser;
  EXPECT_EQ(parser.getType(), Parser::DOM_PARSER);
  Document* doc = ParseText(parser,
                            u"<?xml version='1.0' standalone='yes'?><!DOCTYPE r>"
                            u"<r xmlns:p='urn:p' p:a='1'>x&amp;y<![CDATA[<c>]]><!--k--><?t d?>"
                            u"<p:e/></r>");
  EXPECT_EQ(Dump(doc),
            "xml[version=\"1.0\" standalone=\"yes\"]!r<r xmlns:p=urn:p p:a=1>#text[x&y]"
            "#cdata-section[<c>]#comment[k]t[d]<p:e></></>");
  Element* root = doc->getDocumentElement();
  EXPECT_EQ(Ascii(root->getAttributeNS("urn:p", "a")), "1");
  const Node* e = root->getLastChild();
  EXPECT_EQ(Ascii(e->getNamespaceURI()), "urn:p");
  EXPECT_EQ(Ascii(e->getLocalName()), "e");
  EXPECT_EQ(Ascii(e->getPrefix()), "p");
  EXPECT_EQ(Ascii(doc->getDoctype()->getName()), "r");
  EXPECT_EQ(doc->getNodeName(), "#document");
  parser.free(doc);
}

TEST(DOMParserTest, BadInputThrowsAndKeepsNothing) {
  test::CapturedDiagnostics quiet;
  DOMParser parser;
  parser.free(ParseText(parser, u"<r/>"));  // the parser keeps its last input source
  Xstring::releaseScratch();                // the reports convert text through the scratch buffer
  const long blocks = Memory::statistics().heap_blocks;
  try {
    ParseText(parser, u"<r><a></r>");
    ADD_FAILURE();
  } catch (const ARXPException& e) {
    EXPECT_EQ(e.getCode(), ARXPException::UNBALANCED_TAG_ERR);
  }
  Xstring::releaseScratch();
  EXPECT_EQ(Memory::statistics().heap_blocks, blocks);
  EXPECT_THROW(parser.parse("/nonexistent/file.xml"), ARXPException);
}

TEST(DOMParserTest, FreeNodeRefusesAttachedNodes) {
  test::CapturedDiagnostics diagnostics;
  DOMParser parser;
  Document* doc = ParseText(parser, u"<r><a/></r>");
  Node* a = doc->getDocumentElement()->getFirstChild();
  try {
    parser.freeNode(a);
    ADD_FAILURE();
  } catch (const ARXPException& e) {
    EXPECT_EQ(e.getCode(), ARXPException::FREE_ERR);
    EXPECT_EQ(Ascii(e.getMessage()), "attempt to free node with parent");
  }
  EXPECT_EQ(Dump(doc), "<r><a></></>");
  parser.freeNode(doc->getDocumentElement()->removeChild(a));
  EXPECT_EQ(Dump(doc), "<r></>");

  NodeList* live = doc->getChildNodes();
  EXPECT_THROW(parser.free(live), ARXPException);
  NodeList* found = doc->getElementsByTagName("r");
  EXPECT_EQ(found->getLength(), 1);
  parser.free(found);
  parser.free(doc);
}

TEST(DOMTreeTest, ChildOperationsCheckTheirArguments) {
  DOMParser parser;
  Document* doc = parser.createDocument();
  Document* other = parser.createDocument();
  Element* root = doc->createElement("r");
  doc->appendChild(root);
  std::string message;
  // A refused node stays with the caller, who frees it.
  Element* second = doc->createElement("s");
  EXPECT_EQ(DomCode([&] { doc->appendChild(second); }, &message),
            DOMException::HIERARCHY_REQUEST_ERR);
  EXPECT_EQ(message, "new child node is not acceptable");
  EXPECT_EQ(second->getParentNode(), nullptr);
  parser.freeNode(second);
  Text* foreign = other->createTextNode("t");
  EXPECT_EQ(DomCode([&] { root->appendChild(foreign); }, &message),
            DOMException::WRONG_DOCUMENT_ERR);
  EXPECT_EQ(message, "new child node document is different");
  parser.freeNode(foreign);
  Element* child = doc->createElement("c");
  root->appendChild(child);
  EXPECT_EQ(DomCode([&] { child->appendChild(root); }), DOMException::HIERARCHY_REQUEST_ERR);
  Text* loose = doc->createTextNode("x");
  EXPECT_EQ(DomCode([&] { root->insertBefore(loose, loose); }, &message),
            DOMException::NOT_FOUND_ERR);
  EXPECT_EQ(message, "ref child node not found");
  EXPECT_EQ(DomCode([&] { root->removeChild(loose); }, &message), DOMException::NOT_FOUND_ERR);
  EXPECT_EQ(message, "old child node not found");
  root->insertBefore(loose, child);
  EXPECT_EQ(root->getChildNodes()->getLength(), 2);
  EXPECT_EQ(root->getChildNodes()->item(0), loose);
  EXPECT_EQ(root->replaceChild(doc->createComment("k"), loose), loose);
  EXPECT_EQ(Dump(doc), "<r>#comment[k]<c></></>");
  parser.freeNode(loose);
  EXPECT_EQ(DomCode([&] { doc->createElement("1x"); }, &message),
            DOMException::INVALID_CHARACTER_ERR);
  EXPECT_EQ(message, "invalid element name");
  parser.free(other);
  parser.free(doc);
}

TEST(DOMTreeTest, AttributesBelongToOneElement) {
  DOMParser parser;
  Document* doc = parser.createDocument();
  Element* a = doc->createElement("a");
  Element* b = doc->createElement("b");
  a->setAttribute("x", "1");
  a->setAttribute("x", "2");
  EXPECT_EQ(Ascii(a->getAttribute("x")), "2");
  EXPECT_EQ(Ascii(a->getAttribute("none")), "");
  Attr* x = a->getAttributeNode("x");
  std::string message;
  EXPECT_EQ(DomCode([&] { b->setAttributeNode(x); }, &message), DOMException::INUSE_ATTRIBUTE_ERR);
  EXPECT_EQ(message, "attribute is already used by other element");
  EXPECT_EQ(DomCode([&] { a->getAttributes()->removeNamedItem("y"); }, &message),
            DOMException::NOT_FOUND_ERR);
  EXPECT_EQ(message, "named node not found");
  a->removeAttribute("x");
  EXPECT_FALSE(a->hasAttributes());
  Node* copy = b->cloneNode(true);
  parser.freeNode(copy);
  parser.freeNode(a);
  parser.freeNode(b);
  parser.free(doc);
}

TEST(DOMTreeTest, CharacterDataEditsAndNormalize) {
  DOMParser parser;
  Document* doc = ParseText(parser, u"<r>abc</r>");
  Element* r = doc->getDocumentElement();
  auto* text = static_cast<Text*>(r->getFirstChild());
  text->insertData(1, "XY");
  text->deleteData(0, 1);
  text->replaceData(2, 1, "-");
  EXPECT_EQ(Ascii(text->getData()), "XY-c");
  EXPECT_EQ(Ascii(text->substringData(1, 2)), "Y-");
  EXPECT_EQ(DomCode([&] { text->substringData(5, 1); }), DOMException::INDEX_SIZE_ERR);
  r->appendChild(doc->createTextNode("!"));
  r->appendChild(doc->createTextNode(""));
  r->normalize();
  EXPECT_EQ(Dump(doc), "<r>#text[XY-c!]</>");
  Node* copy = doc->cloneNode(true);
  EXPECT_EQ(Dump(copy), Dump(doc));
  parser.free(static_cast<Document*>(copy));
  parser.free(doc);
}

TEST(DOMExceptionTest, ShowsItsName) {
  EXPECT_EQ(Ascii(DOMException(DOMException::NAMESPACE_ERR, "m").toString()),
            "<DOMException::NAMESPACE_ERR>");
  EXPECT_EQ(Ascii(DOMException(99, "m").toString()), "<DOMException::\?\?\?>");
}

}  // namespace
}  // namespace arxp

namespace arxp {
namespace {

TEST(DOMImplementationTest, AnswersForItsFeaturesAndCreatesDocuments) {
  DOMParser parser;
  DOMImplementation* implementation = parser.getImplementation();
  for (const char* feature : {"CORE", "HTML", "Range", "Traversal"})
    EXPECT_TRUE(implementation->hasFeature(feature, "2.0")) << feature;
  EXPECT_FALSE(implementation->hasFeature("Events", "2.0"));
  DocumentType* type = implementation->createDocumentType("p:r", Xstring(), "r.dtd");
  EXPECT_EQ(type->getOwnerDocument(), nullptr);
  Document* doc = implementation->createDocument("urn:p", "p:r", type);
  EXPECT_EQ(type->getOwnerDocument(), doc);
  EXPECT_EQ(doc->getDoctype(), type);
  EXPECT_EQ(test::Ascii(doc->getDocumentElement()->getNamespaceURI()), "urn:p");
  EXPECT_THROW(implementation->createDocument("urn:p", "p:s", type), DOMException);
  parser.free(doc);
}

}  // namespace
}  // namespace arxp
