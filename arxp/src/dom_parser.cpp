// DOMParser: builds a Document from the parser core's events.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "arxp/diagnostics.h"
#include "arxp/dom.h"
#include "dom_store.h"

namespace arxp {
namespace {

bool IsPredefinedEntity(const Xstring& name) {
  return name == "lt" || name == "gt" || name == "amp" || name == "apos" || name == "quot";
}

bool IsParameterEntity(const Xstring& name) { return name.length() > 0 && name.data()[0] == '%'; }

std::u16string Units(const Xstring& s) { return std::u16string(s.data(), s.length()); }

// Where the local part of a parsed name begins; -1 without namespace processing.
int LocalStart(const Xstring& qname, const Xstring& local) {
  return local.isNull() ? -1 : qname.length() - local.length();
}

}  // namespace

namespace detail {

// Builds a document from the parser's events. The document keeps the text it is
// parsed from: strings that lie in it stay views of it, the others (from entities,
// declarations, normalised attribute values) are copied into the document's arena.
// Either way they are zero-terminated, as owned strings are.
//
// Character data between two nodes becomes one text node. Its pieces in the text
// are moved together there, and the replacements of the character and predefined
// entity references between them take the place of the references' own source,
// which is never shorter (a declaration does not change a predefined entity): the
// node's data is then one view of the text. A run without a piece in the text (all
// from references or an entity) goes to the arena.
class TreeBuilder final : public ParseEvents {
 public:
  TreeBuilder(Document* document, bool entity_references)
      : document_(document),
        store_(document->store()),
        current_(document),
        entity_references_(entity_references) {}

  void setPosition(const ParsePosition& position) override { position_ = &position; }
  UnitText* documentText() override { return &store_.text; }
  void endDocument() override { endText(); }

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
    doctype_ = document_->createDocumentType(name, public_id, system_id);
    append(doctype_);
  }

  // Declarations. The entity and notation maps take all; the element and
  // attribute-list declarations are kept from the internal subset only, which is
  // what the writer writes.
  void elementDecl(const Xstring& name, const Xstring& model) override {
    if (external_dtd_depth_ == 0) doctype_->addElementDeclaration({name, model});
  }
  // The first declaration of an attribute binds: a later one, which would bind
  // if the written subset (without the external parts) were parsed, is left out.
  void attributeDecl(const Xstring& element, const Xstring& name, const Xstring& type,
                     const Xstring& mode, const Xstring& value) override {
    const bool first = declared_attributes_.insert(Units(element) + u' ' + Units(name)).second;
    if (first && external_dtd_depth_ == 0)
      doctype_->addAttributeDeclaration({element, name, type, mode, value});
  }
  void internalEntityDecl(const Xstring& name, const Xstring& value) override {
    declareEntity(name, Xstring(), Xstring(), Xstring(), value);
  }
  void externalEntityDecl(const Xstring& name, const Xstring& public_id,
                          const Xstring& system_id) override {
    if (IsParameterEntity(name))
      external_parameter_entities_.emplace(
          Units(name), ParameterEntityReference{name.substr(1), public_id, system_id});
    declareEntity(name, public_id, system_id, Xstring(), Xstring());
  }
  void unparsedEntityDecl(const Xstring& name, const Xstring& public_id, const Xstring& system_id,
                          const Xstring& notation) override {
    declareEntity(name, public_id, system_id, notation, Xstring());
  }
  void notationDecl(const Xstring& name, const Xstring& public_id,
                    const Xstring& system_id) override {
    std::unique_ptr<Notation> notation(
        document_->createNotation(name, public_id, system_id, external_dtd_depth_ == 0));
    if (doctype_->addNotation(notation.get())) notation.release();
  }

  // A general entity's nodes are built in a fragment, which then fills the
  // entity and becomes an entity reference or, without those, the nodes
  // themselves. Parameter entities only tell whether declarations are external.
  void startEntity(const Xstring& name) override {
    if (IsPredefinedEntity(name)) return;  // its text continues the run
    endText();
    if (name == "[dtd]" || external_parameter_entities_.count(Units(name))) {
      ++external_dtd_depth_;
      return;
    }
    if (IsParameterEntity(name)) return;
    DocumentFragment* fragment = document_->createDocumentFragment();
    expansions_.push_back({std::unique_ptr<DocumentFragment>(fragment), current_});
    current_ = fragment;
  }
  void endEntity(const Xstring& name) override {
    if (IsPredefinedEntity(name)) return;
    endText();
    if (name == "[dtd]" || external_parameter_entities_.count(Units(name))) {
      --external_dtd_depth_;
      return;
    }
    if (IsParameterEntity(name)) return;
    Expansion expansion = std::move(expansions_.back());
    expansions_.pop_back();
    current_ = expansion.parent;
    if (doctype_) doctype_->fillEntity(name, expansion.nodes.get());
    if (entity_references_) {
      append(document_->createEntityReference(name));
      return;
    }
    while (Node* node = expansion.nodes->getFirstChild()) {
      Node* last = current_->getLastChild();
      if (node->getNodeType() == Node::TEXT_NODE && last &&
          last->getNodeType() == Node::TEXT_NODE) {
        static_cast<Text*>(last)->appendData(node->getNodeValue());
        delete expansion.nodes->removeChild(node);
      } else {
        current_->appendChild(node);
      }
    }
  }
  // An entity that was not read stays a reference, whatever the setting: there is
  // nothing to put in its place. A parameter entity that was not read is noted in
  // the document type, so that the written subset refers to it again.
  void skippedEntity(const Xstring& name) override {
    endText();
    if (!IsParameterEntity(name)) {
      append(document_->createEntityReference(name));
      return;
    }
    if (external_dtd_depth_ > 0) return;
    const auto declared = external_parameter_entities_.find(Units(name));
    doctype_->addUnreadParameterEntity(
        declared != external_parameter_entities_.end()
            ? declared->second
            : ParameterEntityReference{name.substr(1), Xstring(), Xstring()});
  }
  // The parser has checked the names and made the attributes distinct.
  void startElement(const Xstring& uri, const Xstring& local, const Xstring& qname,
                    const std::vector<ParsedAttribute>& attributes) override {
    endText();
    Element* element = document_->make<Element>(keep(qname), document_->namespaceName(uri),
                                                LocalStart(qname, local));
    append(element);  // owned by the tree from here, also when an attribute fails
    current_ = element;
    if (attributes.empty()) return;
    element->reserveAttributes(attributes.size());
    for (const ParsedAttribute& a : attributes) {
      std::unique_ptr<Attr> attribute(
          document_->make<Attr>(keep(a.qname), document_->namespaceName(a.uri),
                                LocalStart(a.qname, a.local), keep(a.value)));
      element->setAttributeNode(attribute.get());
      attribute.release();
    }
  }
  void endElement(const Xstring&, const Xstring&, const Xstring&) override {
    endText();
    current_ = current_->getParentNode();
  }
  void characters(const Xstring& text) override {
    if (in_cdata_) {
      append(document_->make<CDATASection>(keep(text)));
      return;
    }
    if (!in_run_) {
      Node* last = current_->getLastChild();
      if (last && last->getNodeType() == Node::TEXT_NODE) {  // after an entity's nodes taken in
        static_cast<Text*>(last)->appendData(text);
        return;
      }
      in_run_ = true;
      run_begin_ = run_end_ = nullptr;
    }
    if (store_.inText(text.data()))
      gather(text);
    else
      loose_.append(text.data(), static_cast<std::size_t>(text.length()));
  }
  void startCDATA() override {
    endText();
    in_cdata_ = true;
  }
  void endCDATA() override { in_cdata_ = false; }
  void comment(const Xstring& text) override {
    endText();
    append(document_->make<Comment>(keep(text)));
  }
  void processingInstruction(const Xstring& target, const Xstring& data) override {
    endText();
    append(document_->make<ProcessingInstruction>(keep(target), keep(data)));
  }

 private:
  // A string of an event as the document keeps it. One in the text stays a view,
  // ended by a zero written over the unit after it, which the parse has passed.
  Xstring keep(const Xstring& s) {
    if (s.isNull()) return Xstring();
    if (!store_.inText(s.data())) return store_.arena.keep(s.data(), s.length());
    terminate(writable(s.data()) + s.length());
    return Xstring(s.data(), s.length());
  }

  char16_t* writable(const char16_t* in_text) {
    return store_.text.data() + (in_text - store_.text.data());
  }

  void terminate(char16_t* end) {
    if (*end == '\n') countLines();
    *end = 0;
  }

  // Adds a piece of the run that lies in the text after what the run has so far.
  void gather(const Xstring& piece) {
    char16_t* at = writable(piece.data());
    // References before the run's first piece in the text were just before it.
    if (!run_begin_) run_begin_ = run_end_ = at - loose_.size();
    placeLoose();
    const auto length = static_cast<std::size_t>(piece.length());
    if (run_end_ != at) {
      countLines();
      std::memmove(run_end_, at, length * sizeof(char16_t));
    }
    run_end_ += length;
  }

  // Writes the replacements gathered since the last piece in the text over their
  // references, which the parse has passed.
  void placeLoose() {
    if (loose_.empty()) return;
    countLines();
    run_end_ = std::copy(loose_.begin(), loose_.end(), run_end_);
    loose_.clear();
  }

  // The parser counts lines in the text lazily: it must have counted them up to
  // its place before units behind it change.
  void countLines() const {
    if (position_) position_->line();
  }

  // Makes the text node of the run of character data, if one is open.
  void endText() {
    if (!in_run_) return;
    in_run_ = false;
    Xstring data;
    if (run_begin_) {
      placeLoose();
      terminate(run_end_);
      data = Xstring(run_begin_, static_cast<int>(run_end_ - run_begin_));
    } else {
      data = store_.arena.keep(loose_.data(), static_cast<int>(loose_.size()));
      loose_.clear();
    }
    append(document_->make<Text>(std::move(data)));
  }

  void append(Node* node) {
    std::unique_ptr<Node> owned(node);
    current_->appendChild(node);
    owned.release();
  }

  void declareEntity(const Xstring& name, const Xstring& public_id, const Xstring& system_id,
                     const Xstring& notation, const Xstring& value) {
    if (IsParameterEntity(name)) return;
    std::unique_ptr<Entity> entity(document_->createEntity(name, public_id, system_id, notation,
                                                           value, external_dtd_depth_ == 0));
    if (doctype_->addEntity(entity.get())) entity.release();
  }

  struct Expansion {
    std::unique_ptr<DocumentFragment> nodes;
    Node* parent;
  };

  Document* document_;
  DocumentStore& store_;
  Node* current_;
  bool entity_references_;
  const ParsePosition* position_ = nullptr;
  // The open run of character data: its units so far, where it has pieces in the
  // text, and the units from elsewhere not yet written.
  bool in_run_ = false;
  char16_t* run_begin_ = nullptr;
  char16_t* run_end_ = nullptr;
  std::u16string loose_;
  DocumentType* doctype_ = nullptr;
  bool in_cdata_ = false;
  int external_dtd_depth_ = 0;  // inside the external subset or an external parameter entity
  std::unordered_map<std::u16string, ParameterEntityReference> external_parameter_entities_;
  std::vector<Expansion> expansions_;
  std::unordered_set<std::u16string> declared_attributes_;  // element, space, attribute
};

}  // namespace detail

namespace {

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
  detail::TreeBuilder builder(pending.document, entity_references_);
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
  detail::TreeBuilder builder(pending.document, entity_references_);
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
