// Helpers of the traversal and range tests: small parsed trees and compact dumps.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "arxp/dom.h"
#include "test_util.h"

namespace arxp::test {

// Parses a small document; frees it at the end of the test.
class ParsedTree {
 public:
  explicit ParsedTree(const char16_t* text) : doc_(parser_.parse(text)) {}
  ~ParsedTree() { parser_.free(doc_); }
  Document* doc() const { return doc_; }
  Element* root() const { return doc_->getDocumentElement(); }
  // The first element named `name` (fails the test when absent).
  Element* element(const char* name) const {
    NodeList* found = doc_->getElementsByTagName(name);
    Node* first = found->item(0);
    parser_.free(found);
    EXPECT_NE(first, nullptr) << name;
    return static_cast<Element*>(first);
  }
  // The text node that is the first child of the element named `name`.
  Text* text(const char* name) const { return static_cast<Text*>(element(name)->getFirstChild()); }
  DOMParser& parser() { return parser_; }

 private:
  mutable DOMParser parser_;
  Document* doc_;
};

// A node's short name: the element name, '...' for text, [...] for CDATA, !... for
// a comment, ?target for a processing instruction, #... for the rest.
inline std::string Label(const Node* node) {
  const std::string value = node->getNodeValue().isNull() ? "" : Ascii(node->getNodeValue());
  switch (node->getNodeType()) {
    case Node::ELEMENT_NODE: return Ascii(node->getNodeName());
    case Node::TEXT_NODE: return "'" + value + "'";
    case Node::CDATA_SECTION_NODE: return "[" + value + "]";
    case Node::COMMENT_NODE: return "!" + value;
    case Node::PROCESSING_INSTRUCTION_NODE: return "?" + Ascii(node->getNodeName());
    default: return Ascii(node->getNodeName());
  }
}

// The subtree as labels with the children in parentheses.
inline std::string Dump(const Node* node) {
  std::string out = Label(node);
  if (!node->hasChildNodes()) return out;
  out += "(";
  for (const Node* c = node->getFirstChild(); c; c = c->getNextSibling())
    out += (c == node->getFirstChild() ? "" : " ") + Dump(c);
  return out + ")";
}

// The DOM code and message of the DOMException an operation throws; 0 when none.
inline int DomCode(const std::function<void()>& operation, std::string* message = nullptr) {
  try {
    operation();
  } catch (const DOMException& e) {
    EXPECT_EQ(e.getCode(), ARXPException::DOM_ERR);
    if (message) *message = Ascii(e.getMessage());
    return e.getDOMCode();
  }
  return 0;
}

}  // namespace arxp::test
