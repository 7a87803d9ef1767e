// DOMParser: builds a Document from the parser core's events.
#include <cstring>
#include <memory>
#include <vector>

#include "arxp/diagnostics.h"
#include "arxp/dom.h"

namespace arxp {
namespace {

class TreeBuilder final : public ParseEvents {
 public:
  explicit TreeBuilder(Document* document) : document_(document), current_(document) {}

  void xmlDeclaration(const Xstring& version, const Xstring& encoding,
                      const Xstring& standalone) override {
    Xstring data("version=\"");
    data += version;
    data += "\"";
    if (!encoding.isNull()) {
      data += " encoding=\"";
      data += encoding;
      data += "\"";
    }
    if (!standalone.isNull()) {
      data += " standalone=\"";
      data += standalone;
      data += "\"";
    }
    append(document_->createProcessingInstruction("xml", data));
  }
  void startDoctype(const Xstring& name, const Xstring& public_id,
                    const Xstring& system_id) override {
    append(document_->createDocumentType(name, public_id, system_id));
  }
  void startElement(const Xstring& uri, const Xstring& local, const Xstring& qname,
                    const std::vector<ParsedAttribute>& attributes) override {
    Element* element =
        local.isNull() ? document_->createElement(qname) : document_->createElementNS(uri, qname);
    append(element);  // owned by the tree from here, also when an attribute fails
    current_ = element;
    for (const ParsedAttribute& a : attributes) {
      std::unique_ptr<Attr> attribute(a.local.isNull()
                                          ? document_->createAttribute(a.qname)
                                          : document_->createAttributeNS(a.uri, a.qname));
      attribute->setValue(a.value);
      element->setAttributeNode(attribute.get());
      attribute.release();
    }
  }
  void endElement(const Xstring&, const Xstring&, const Xstring&) override {
    current_ = current_->getParentNode();
  }
  void characters(const Xstring& text) override {
    if (in_cdata_) {
      append(document_->createCDATASection(text));
      return;
    }
    Node* last = current_->getLastChild();
    if (last && last->getNodeType() == Node::TEXT_NODE) {
      static_cast<Text*>(last)->appendData(text);
    } else {
      append(document_->createTextNode(text));
    }
  }
  void startCDATA() override { in_cdata_ = true; }
  void endCDATA() override { in_cdata_ = false; }
  void comment(const Xstring& text) override { append(document_->createComment(text)); }
  void processingInstruction(const Xstring& target, const Xstring& data) override {
    append(document_->createProcessingInstruction(target, data));
  }

 private:
  void append(Node* node) {
    std::unique_ptr<Node> owned(node);
    current_->appendChild(node);
    owned.release();
  }

  Document* document_;
  Node* current_;
  bool in_cdata_ = false;
};

// Owns a document until the parse has succeeded.
struct PendingDocument {
  Document* document = new Document();
  ~PendingDocument() { delete document; }
  Document* release() {
    Document* done = document;
    document = nullptr;
    return done;
  }
};

}  // namespace

DOMParser::DOMParser() : Parser(DOM_PARSER) {}
DOMParser::DOMParser(const DOMParser& other) = default;
DOMParser& DOMParser::operator=(const DOMParser& other) = default;
DOMParser::~DOMParser() = default;

Document* DOMParser::parse(InputSource& input) {
  PendingDocument pending;
  TreeBuilder builder(pending.document);
  run(input, builder);
  return pending.release();
}

Document* DOMParser::parse(const char* file_name) {
  InputSource input(file_name);
  return parse(input);
}

Document* DOMParser::parse(const char16_t* buffer) {
  std::size_t units = 0;
  while (buffer[units]) ++units;
  // The buffer is read as UTF-16 of this machine's order; a byte-order mark says so.
  std::vector<char16_t> text;
  text.reserve(units + 1);
  if (units == 0 || buffer[0] != 0xFEFF) text.push_back(0xFEFF);
  text.insert(text.end(), buffer, buffer + units);
  PendingDocument pending;
  TreeBuilder builder(pending.document);
  run(text.data(), text.size() * sizeof(char16_t), Xstring("buffer"), builder);
  return pending.release();
}

Document* DOMParser::createDocument() { return new Document(); }

DOMImplementation* DOMParser::getImplementation() {
  static DOMImplementation implementation;
  return &implementation;
}

void DOMParser::free(Document* document) { delete document; }

void DOMParser::free(NodeList* list) {
  if (!list) return;
  if (!list->isTemporary())
    Diagnostics::error(ARXPException::FREE_ERR,
                       "attempt to free NodeList that is not tmp-node-list");
  delete list;
}

void DOMParser::freeNode(Node* node) {
  if (!node) return;
  if (node->getParentNode() ||
      (node->getNodeType() == Node::ATTRIBUTE_NODE && static_cast<Attr*>(node)->getOwnerElement()))
    Diagnostics::error(ARXPException::FREE_ERR, "attempt to free node with parent");
  delete node;
}

}  // namespace arxp
