#include "arxp/dom.h"

#include <algorithm>

#include "arxp/memory.h"
#include "dom_store.h"
#include "live.h"

namespace arxp {
namespace {

const char* const kDomCodeNames[] = {
    "INDEX_SIZE_ERR",
    "DOMSTRING_SIZE_ERR",
    "HIERARCHY_REQUEST_ERR",
    "WRONG_DOCUMENT_ERR",
    "INVALID_CHARACTER_ERR",
    "NO_DATA_ALLOWED_ERR",
    "NO_MODIFICATION_ALLOWED_ERR",
    "NOT_FOUND_ERR",
    "NOT_SUPPORTED_ERR",
    "INUSE_ATTRIBUTE_ERR",
    "INVALID_STATE_ERR",
    "SYNTAX_ERR",
    "INVALID_MODIFICATION_ERR",
    "NAMESPACE_ERR",
    "INVALID_ACCESS_ERR",
};

bool IsNameStartUnit(char16_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0xC0;
}
bool IsNameUnit(char16_t c) {
  return IsNameStartUnit(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == 0xB7;
}

bool IsName(const Xstring& name) {
  if (name.isNull() || name.length() == 0 || !IsNameStartUnit(name.data()[0])) return false;
  for (int i = 1; i < name.length(); ++i)
    if (!IsNameUnit(name.data()[i])) return false;
  return true;
}

void CheckName(const Xstring& name, const char* message) {
  if (!IsName(name)) throw DOMException(DOMException::INVALID_CHARACTER_ERR, message);
}

// Where the part of a qualified name after its colon begins (0 without one).
int LocalStart(const Xstring& qname) {
  for (int i = 0; i < qname.length(); ++i)
    if (qname.data()[i] == ':') return i + 1;
  return 0;
}

Xstring PrefixPart(const Xstring& qname) {
  for (int i = 0; i < qname.length(); ++i)
    if (qname.data()[i] == ':') return qname.substr(0, i);
  return Xstring();
}

// The units of a string, none for a null one.
int UnitCount(const Xstring& s) { return s.isNull() ? 0 : s.length(); }

void CollectElements(const Node* root, const Xstring& name, std::vector<Node*>& out) {
  for (Node* n = root->getFirstChild(); n; n = n->getNextSibling()) {
    if (n->getNodeType() != Node::ELEMENT_NODE) continue;
    if (name == "*" || n->getNodeName() == name) out.push_back(n);
    CollectElements(n, name, out);
  }
}

}  // namespace

DOMException::DOMException(int code, const Xstring& message)
    : ARXPException(DOM_ERR, message), dom_code_(code) {}

const char* DOMException::codeName(int code) {
  return code >= 1 && code <= 15 ? kDomCodeNames[code - 1] : "???";
}

Xstring DOMException::toString() const {
  Xstring text("<DOMException::");
  text += codeName(dom_code_);
  text += ">";
  return text;
}

// ---- Node ----

void* Node::operator new(std::size_t size) { return Memory::allocate(size); }
void Node::operator delete(void* block) { Memory::release(block); }

Node::~Node() {
  // Only the top of a freed subtree tells, and not through a virtual call: the
  // derived parts are gone. A document has detached its live set already.
  if (!parent_ && owner_ && owner_->live_) owner_->live_->destroying(this);
  deleteChildren();
  // A document drops its lists with its store.
  if (has_child_list_ && owner_) owner_->store_->child_lists.erase(this);
}

void Node::deleteChildren() {
  for (Node* child = first_; child;) {
    Node* next = child->next_;
    delete child;
    child = next;
  }
  first_ = nullptr;
}

Document* Node::document() const {
  return getNodeType() == DOCUMENT_NODE ? static_cast<Document*>(const_cast<Node*>(this)) : owner_;
}

detail::LiveSet* Node::liveSet() const {
  const Document* owner = owner_ ? owner_ : document();  // most nodes skip the virtual call
  return owner ? owner->live_ : nullptr;
}

bool Node::acceptsChild(short type) const {
  switch (getNodeType()) {
    case ELEMENT_NODE:
    case DOCUMENT_FRAGMENT_NODE:
    case ENTITY_NODE:
    case ENTITY_REFERENCE_NODE:
      return type == ELEMENT_NODE || type == TEXT_NODE || type == COMMENT_NODE ||
             type == PROCESSING_INSTRUCTION_NODE || type == CDATA_SECTION_NODE ||
             type == ENTITY_REFERENCE_NODE;
    case DOCUMENT_NODE:
      if (type == ELEMENT_NODE)
        return static_cast<const Document*>(this)->getDocumentElement() == nullptr;
      if (type == DOCUMENT_TYPE_NODE)
        return static_cast<const Document*>(this)->getDoctype() == nullptr;
      return type == PROCESSING_INSTRUCTION_NODE || type == COMMENT_NODE;
    default: return false;
  }
}

Node* Node::appendChild(Node* child) { return insertBefore(child, nullptr); }

bool Node::acceptsChildrenOf(const Node* fragment) const {
  int elements = 0;
  for (const Node* n = fragment->first_; n; n = n->next_) {
    if (!acceptsChild(n->getNodeType())) return false;
    // A document takes one element, so a fragment may bring it one at most.
    if (n->getNodeType() == ELEMENT_NODE && ++elements > 1 && getNodeType() == DOCUMENT_NODE)
      return false;
  }
  return true;
}

void Node::checkInsertion(const Node* child) const {
  if (child->document() != document())
    throw DOMException(DOMException::WRONG_DOCUMENT_ERR, "new child node document is different");
  for (const Node* up = this; up; up = up->parent_)
    if (up == child)
      throw DOMException(DOMException::HIERARCHY_REQUEST_ERR, "new child node is not acceptable");
  const bool acceptable = child->getNodeType() == DOCUMENT_FRAGMENT_NODE
                              ? acceptsChildrenOf(child)
                              : acceptsChild(child->getNodeType());
  if (!acceptable)
    throw DOMException(DOMException::HIERARCHY_REQUEST_ERR, "new child node is not acceptable");
}

void Node::checkWritable() const {
  if (read_only_)
    throw DOMException(DOMException::NO_MODIFICATION_ALLOWED_ERR,
                       "read-only node cannot be modified");
}

void Node::setReadOnly() {
  read_only_ = true;
  if (getNodeType() == ELEMENT_NODE)
    if (const NamedNodeMap* attributes = static_cast<const Element*>(this)->attributes_.get())
      for (Node* a : attributes->nodes_) a->read_only_ = true;
  for (Node* child = first_; child; child = child->next_) child->setReadOnly();
}

Node* Node::insertBefore(Node* child, Node* reference) {
  checkWritable();
  if (child->parent_) child->parent_->checkWritable();
  checkInsertion(child);
  if (reference && reference->parent_ != this)
    throw DOMException(DOMException::NOT_FOUND_ERR, "ref child node not found");
  if (child->getNodeType() == DOCUMENT_FRAGMENT_NODE) {
    while (Node* moved = child->first_) {
      child->unlink(moved);
      link(moved, reference);
    }
    return child;
  }
  if (child == reference) return child;
  if (child->parent_) child->parent_->unlink(child);
  link(child, reference);
  return child;
}

void Node::link(Node* child, Node* reference) {
  child->parent_ = this;
  child->next_ = reference;
  if (!first_) {
    first_ = child->previous_ = child;
  } else if (!reference) {
    Node* last = first_->previous_;
    child->previous_ = last;
    last->next_ = child;
    first_->previous_ = child;
  } else {
    child->previous_ = reference->previous_;  // the last child when reference is the first
    (reference == first_ ? first_ : child->previous_->next_) = child;
    reference->previous_ = child;
  }
  if (detail::LiveSet* live = liveSet()) live->inserted(child);
}

void Node::unlink(Node* child) {
  if (detail::LiveSet* live = liveSet()) live->removing(child);
  Node* previous = child->previous_;
  Node* next = child->next_;
  if (child == first_) {
    first_ = next;
    if (next) next->previous_ = previous;  // the last child
  } else {
    previous->next_ = next;
    (next ? next : first_)->previous_ = previous;
  }
  child->parent_ = child->previous_ = child->next_ = nullptr;
}

Node* Node::removeChild(Node* child) {
  checkWritable();
  if (!child || child->parent_ != this)
    throw DOMException(DOMException::NOT_FOUND_ERR, "old child node not found");
  unlink(child);
  return child;
}

Node* Node::replaceChild(Node* child, Node* old) {
  checkWritable();
  if (!old || old->parent_ != this)
    throw DOMException(DOMException::NOT_FOUND_ERR, "old child node not found");
  if (child == old) return old;
  // The document's one element may be replaced by another.
  if (getNodeType() == DOCUMENT_NODE && child->getNodeType() == old->getNodeType()) {
    Node* next = old->next_;
    unlink(old);
    try {
      insertBefore(child, next);
    } catch (...) {
      insertBefore(old, next);
      throw;
    }
    return old;
  }
  insertBefore(child, old);
  unlink(old);
  return old;
}

NamedNodeMap* Node::getAttributes() const { return nullptr; }
NodeList* Node::getChildNodes() const {
  Document* owner = document();
  if (!owner) {  // a document type no document has taken yet, which has no children
    static NodeList none(static_cast<const Node*>(nullptr));
    return &none;
  }
  has_child_list_ = true;
  return owner->childList(this);
}
Xstring Node::getLocalName() const { return Xstring(); }
Xstring Node::getNamespaceURI() const { return Xstring(); }
Xstring Node::getNodeValue() const { return Xstring(); }
Xstring Node::getPrefix() const { return Xstring(); }
bool Node::hasAttributes() const { return false; }
bool Node::isSupported(const Xstring& feature, const Xstring&) const {
  return feature == "CORE" || feature == "Core" || feature == "XML" || feature == "Range" ||
         feature == "Traversal";
}
void Node::setNodeValue(const Xstring&) {}
void Node::setPrefix(const Xstring&) {
  throw DOMException(DOMException::NAMESPACE_ERR, "namespaceURI is null");
}

void Node::normalize() {
  if (read_only_) return;
  for (Node* child = first_; child;) {
    Node* next = child->next_;
    if (child->getNodeType() == TEXT_NODE) {
      auto* text = static_cast<Text*>(child);
      while (next && next->getNodeType() == TEXT_NODE) {
        text->appendData(static_cast<Text*>(next)->getData());
        Node* gone = next;
        next = next->next_;
        unlink(gone);
        delete gone;
      }
      if (text->getLength() == 0) {
        unlink(text);
        delete text;
      }
    } else {
      child->normalize();
    }
    child = next;
  }
}

// ---- NodeList, NamedNodeMap ----

NodeList::~NodeList() = default;

int NodeList::getLength() const {
  if (tmp_) return static_cast<int>(nodes_.size());
  int count = 0;
  for (const Node* n = parent_ ? parent_->getFirstChild() : nullptr; n; n = n->getNextSibling())
    ++count;
  return count;
}

Node* NodeList::item(int index) const {
  if (index < 0) return nullptr;
  if (tmp_) return index < static_cast<int>(nodes_.size()) ? nodes_[index] : nullptr;
  Node* n = parent_ ? parent_->getFirstChild() : nullptr;
  for (; n && index > 0; --index) n = n->getNextSibling();
  return n;
}

NamedNodeMap::~NamedNodeMap() {
  for (Node* n : nodes_) delete n;
}

void NamedNodeMap::checkWritable() const {
  if (!owner_)
    throw DOMException(DOMException::NO_MODIFICATION_ALLOWED_ERR,
                       "read-only node cannot be modified");
  owner_->checkWritable();
}

Node* NamedNodeMap::getNamedItem(const Xstring& name) const {
  for (Node* n : nodes_)
    if (n->getNodeName() == name) return n;
  return nullptr;
}

Node* NamedNodeMap::getNamedItemNS(const Xstring& uri, const Xstring& local) const {
  for (Node* n : nodes_)
    if (n->getLocalName() == local && n->getNamespaceURI() == uri) return n;
  return nullptr;
}

Node* NamedNodeMap::item(int index) const {
  return index >= 0 && index < getLength() ? nodes_[index] : nullptr;
}

Node* NamedNodeMap::removeNamedItem(const Xstring& name) {
  checkWritable();
  for (auto it = nodes_.begin(); it != nodes_.end(); ++it) {
    if ((*it)->getNodeName() != name) continue;
    auto* removed = static_cast<Attr*>(*it);
    nodes_.erase(it);
    removed->element_ = nullptr;
    return removed;
  }
  throw DOMException(DOMException::NOT_FOUND_ERR, "named node not found");
}

Node* NamedNodeMap::setNamedItem(Node* node) {
  checkWritable();
  if (node->getNodeType() != Node::ATTRIBUTE_NODE)
    throw DOMException(DOMException::HIERARCHY_REQUEST_ERR, "child node is not acceptable");
  return owner_->setAttributeNode(static_cast<Attr*>(node));
}

// ---- Attr, Element ----

Attr::Attr(Document* owner, Xstring name, const Xstring* uri, int local_start, Xstring value)
    : Node(owner),
      local_start_(local_start),
      name_(std::move(name)),
      uri_(uri),
      value_(std::move(value)) {}
Attr::~Attr() = default;

void Attr::setValue(const Xstring& value) {
  checkWritable();
  value_ = value;
}

Node* Attr::cloneNode(bool) const { return getOwnerDocument()->importNode(this, true); }

Xstring Attr::getPrefix() const { return uri_ ? PrefixPart(name_) : Xstring(); }

Element::Element(Document* owner, Xstring name, const Xstring* uri, int local_start)
    : Node(owner), local_start_(local_start), name_(std::move(name)), uri_(uri) {}
Element::~Element() = default;

Node* Element::cloneNode(bool deep) const { return getOwnerDocument()->importNode(this, deep); }

NamedNodeMap& Element::attributeMap() const {
  if (!attributes_) attributes_ = std::make_unique<NamedNodeMap>(const_cast<Element*>(this));
  return *attributes_;
}

NamedNodeMap* Element::getAttributes() const { return &attributeMap(); }
Xstring Element::getPrefix() const { return uri_ ? PrefixPart(name_) : Xstring(); }

Attr* Element::getAttributeNode(const Xstring& name) const {
  return attributes_ ? static_cast<Attr*>(attributes_->getNamedItem(name)) : nullptr;
}

Xstring Element::getAttribute(const Xstring& name) const {
  const Attr* a = getAttributeNode(name);
  return a ? a->getValue() : Xstring("");
}

Xstring Element::getAttributeNS(const Xstring& uri, const Xstring& local) const {
  const Node* a = attributes_ ? attributes_->getNamedItemNS(uri, local) : nullptr;
  return a ? a->getNodeValue() : Xstring("");
}

void Element::setAttribute(const Xstring& name, const Xstring& value) {
  checkWritable();
  if (Attr* a = getAttributeNode(name)) {
    a->setValue(value);
    return;
  }
  CheckName(name, "invalid attribute name");
  Attr* a = getOwnerDocument()->createAttribute(name);
  a->setValue(value);
  setAttributeNode(a);
}

void Element::setAttributeNS(const Xstring& uri, const Xstring& qname, const Xstring& value) {
  checkWritable();
  Attr* a = getOwnerDocument()->createAttributeNS(uri, qname);
  a->setValue(value);
  delete setAttributeNode(a);
}

Attr* Element::setAttributeNode(Attr* attribute) {
  checkWritable();
  if (attribute->getOwnerDocument() != getOwnerDocument())
    throw DOMException(DOMException::WRONG_DOCUMENT_ERR, "new child node document is different");
  if (attribute->element_ && attribute->element_ != this)
    throw DOMException(DOMException::INUSE_ATTRIBUTE_ERR,
                       "attribute is already used by other element");
  if (attribute->element_ == this) return nullptr;
  attribute->element_ = this;
  std::vector<Node*>& attributes = attributeMap().nodes_;
  for (Node*& slot : attributes) {
    auto* old = static_cast<Attr*>(slot);
    // Namespace names are the document's copies: one per name.
    const bool same = !attribute->uri_ ? old->name_ == attribute->name_
                                       : old->uri_ == attribute->uri_ &&
                                             old->getLocalName() == attribute->getLocalName();
    if (!same) continue;
    old->element_ = nullptr;
    slot = attribute;
    return old;
  }
  attributes.push_back(attribute);
  return nullptr;
}

void Element::removeAttribute(const Xstring& name) {
  if (getAttributeNode(name)) delete attributes_->removeNamedItem(name);
}

NodeList* Element::getElementsByTagName(const Xstring& name) const {
  std::vector<Node*> found;
  CollectElements(this, name, found);
  return new NodeList(std::move(found));
}

// ---- character data ----

void CharacterData::checkOffset(int offset) const {
  if (offset < 0 || offset > data_.length())
    throw DOMException(DOMException::INDEX_SIZE_ERR, "invalid index");
}

void CharacterData::appendData(const Xstring& data) {
  checkWritable();
  data_ += data;
}

void CharacterData::insertData(int offset, const Xstring& data) { replaceData(offset, 0, data); }

void CharacterData::deleteData(int offset, int count) { replaceData(offset, count, ""); }

void CharacterData::setData(const Xstring& data) {
  checkWritable();
  if (detail::LiveSet* live = liveSet())
    live->replacing(this, 0, UnitCount(data_), UnitCount(data));
  data_ = data;
}

void CharacterData::replaceData(int offset, int count, const Xstring& data) {
  checkWritable();
  checkOffset(offset);
  if (count < 0) throw DOMException(DOMException::INDEX_SIZE_ERR, "invalid index");
  if (detail::LiveSet* live = liveSet())
    live->replacing(this, offset, std::min(count, UnitCount(data_) - offset), UnitCount(data));
  Xstring result = data_.substr(0, offset);
  result += data;
  if (offset + count < data_.length()) result += data_.substr(offset + count);
  data_ = result;
}

Xstring CharacterData::substringData(int offset, int count) const {
  checkOffset(offset);
  if (count < 0) throw DOMException(DOMException::INDEX_SIZE_ERR, "invalid index");
  return data_.substr(offset, count);
}

Node* Text::cloneNode(bool) const { return getOwnerDocument()->createTextNode(getData()); }

Text* Text::splitText(int offset) {
  checkWritable();
  if (offset < 0 || offset > getLength())
    throw DOMException(DOMException::INDEX_SIZE_ERR, "invalid index");
  Text* tail = static_cast<Text*>(cloneNode(false));
  tail->setData(getData().substr(offset));
  if (Node* parent = getParentNode()) {
    parent->insertBefore(tail, getNextSibling());
    if (detail::LiveSet* live = liveSet()) live->splitting(this, offset, tail);
  }
  deleteData(offset, getLength() - offset);
  return tail;
}
Node* CDATASection::cloneNode(bool) const {
  return getOwnerDocument()->createCDATASection(getData());
}
Node* Comment::cloneNode(bool) const { return getOwnerDocument()->createComment(getData()); }
void ProcessingInstruction::setData(const Xstring& data) {
  checkWritable();
  if (detail::LiveSet* live = liveSet())
    live->replacing(this, 0, UnitCount(data_), UnitCount(data));
  data_ = data;
}

Node* ProcessingInstruction::cloneNode(bool) const {
  return getOwnerDocument()->createProcessingInstruction(target_, data_);
}
Node* DocumentFragment::cloneNode(bool deep) const {
  return getOwnerDocument()->importNode(this, deep);
}
Node* DocumentType::cloneNode(bool) const {
  if (getOwnerDocument()) return getOwnerDocument()->importNode(this, true);
  // A type made by DOMImplementation that no document has taken yet: its maps are
  // empty, as only a document makes entities and notations.
  auto* copy = new DocumentType(nullptr, name_, public_id_, system_id_);
  copy->elements_ = elements_;
  copy->attributes_ = attributes_;
  return copy;
}

bool DocumentType::addEntity(Entity* entity) {
  if (entities_.getNamedItem(entity->getNodeName())) return false;
  entity->setReadOnly();
  entities_.nodes_.push_back(entity);
  return true;
}

bool DocumentType::addNotation(Notation* notation) {
  if (notations_.getNamedItem(notation->getNodeName())) return false;
  notation->setReadOnly();
  notations_.nodes_.push_back(notation);
  return true;
}

void DocumentType::fillEntity(const Xstring& name, const Node* source) {
  Node* entity = entities_.getNamedItem(name);
  if (!entity || entity->hasChildNodes()) return;
  for (const Node* child = source->getFirstChild(); child; child = child->getNextSibling())
    entity->link(child->cloneNode(true), nullptr);
  entity->setReadOnly();
}

void DocumentType::addElementDeclaration(const ElementDeclaration& declaration) {
  elements_.push_back(declaration);
}

void DocumentType::addAttributeDeclaration(const AttributeDeclaration& declaration) {
  attributes_.push_back(declaration);
}

void DocumentType::addUnreadParameterEntity(const ParameterEntityReference& reference) {
  unread_parameter_entities_.push_back(reference);
}

// Whatever the depth asked for, an entity reference brings the entity's nodes
// (it means nothing without them); an entity and a notation copy their own.
Node* Entity::cloneNode(bool deep) const { return getOwnerDocument()->importNode(this, deep); }
Node* Notation::cloneNode(bool) const { return getOwnerDocument()->importNode(this, false); }

Node* EntityReference::cloneNode(bool) const {
  EntityReference* copy = new EntityReference(getOwnerDocument(), name_);
  for (const Node* child = getFirstChild(); child; child = child->getNextSibling())
    copy->link(child->cloneNode(true), nullptr);
  copy->setReadOnly();
  return copy;
}

// ---- Document ----

Document::Document() : Node(nullptr) {}

Document::~Document() {
  delete live_;
  live_ = nullptr;
  deleteChildren();  // while the store, which their strings may view, is still there
}

detail::DocumentStore& Document::store() {
  if (!store_) store_ = std::make_unique<detail::DocumentStore>();
  return *store_;
}

const Xstring* Document::namespaceName(const Xstring& uri) {
  return uri.isNull() ? nullptr : store().namespaceName(uri);
}

NodeList* Document::childList(const Node* node) {
  std::unique_ptr<NodeList>& list = store().child_lists[node];
  if (!list) list = std::make_unique<NodeList>(node);
  return list.get();
}

detail::LiveSet* Document::liveSetOf(const Node* node) {
  Document* owner = node->document();
  if (owner && !owner->live_) owner->live_ = new detail::LiveSet();
  return owner ? owner->live_ : nullptr;
}

Node* Document::cloneNode(bool deep) const {
  Document* copy = new Document();
  if (deep) copy->importChildren(this, copy);
  return copy;
}

Node* Document::importNode(const Node* node, bool deep) {
  switch (node->getNodeType()) {
    case ELEMENT_NODE: {
      auto* from = static_cast<const Element*>(node);
      Element* made = new Element(this, from->name_, namespaceName(from->getNamespaceURI()),
                                  from->local_start_);
      if (from->attributes_)
        for (const Node* a : from->attributes_->nodes_)
          made->setAttributeNode(static_cast<Attr*>(importNode(a, true)));
      if (deep) importChildren(node, made);
      return made;
    }
    case DOCUMENT_FRAGMENT_NODE: {
      DocumentFragment* made = createDocumentFragment();
      if (deep) importChildren(node, made);
      return made;
    }
    case ATTRIBUTE_NODE: {
      auto* from = static_cast<const Attr*>(node);
      return new Attr(this, from->name_, namespaceName(from->getNamespaceURI()), from->local_start_,
                      from->value_);
    }
    case ENTITY_REFERENCE_NODE: return createEntityReference(node->getNodeName());
    case ENTITY_NODE: {
      auto* from = static_cast<const Entity*>(node);
      Entity* made = createEntity(from->name_, from->public_id_, from->system_id_, from->notation_,
                                  from->value_, from->internal_subset_);
      if (deep)
        for (const Node* child = node->getFirstChild(); child; child = child->getNextSibling())
          made->link(importNode(child, true), nullptr);
      made->setReadOnly();
      return made;
    }
    case NOTATION_NODE: {
      auto* from = static_cast<const Notation*>(node);
      Notation* made =
          createNotation(from->name_, from->public_id_, from->system_id_, from->internal_subset_);
      made->setReadOnly();
      return made;
    }
    case TEXT_NODE: return createTextNode(node->getNodeValue());
    case CDATA_SECTION_NODE: return createCDATASection(node->getNodeValue());
    case COMMENT_NODE: return createComment(node->getNodeValue());
    case PROCESSING_INSTRUCTION_NODE:
      return createProcessingInstruction(node->getNodeName(), node->getNodeValue());
    case DOCUMENT_TYPE_NODE: {
      auto* from = static_cast<const DocumentType*>(node);
      DocumentType* made =
          createDocumentType(from->getName(), from->getPublicId(), from->getSystemId());
      for (const Node* entity : from->entities_.nodes_)
        made->entities_.nodes_.push_back(importNode(entity, true));
      for (const Node* notation : from->notations_.nodes_)
        made->notations_.nodes_.push_back(importNode(notation, false));
      made->elements_ = from->elements_;
      made->attributes_ = from->attributes_;
      made->unread_parameter_entities_ = from->unread_parameter_entities_;
      return made;
    }
    default: throw DOMException(DOMException::NOT_SUPPORTED_ERR, "invalid node type");
  }
}

void Document::importChildren(const Node* from, Node* to) {
  for (const Node* child = from->getFirstChild(); child; child = child->getNextSibling())
    to->appendChild(importNode(child, true));
}

DocumentFragment* Document::createDocumentFragment() { return new DocumentFragment(this); }

Element* Document::createElement(const Xstring& name) {
  CheckName(name, "invalid element name");
  return new Element(this, name, nullptr, -1);
}

Element* Document::createElementNS(const Xstring& uri, const Xstring& qname) {
  CheckName(qname, "invalid element name");
  if (!PrefixPart(qname).isNull() && uri.isNull())
    throw DOMException(DOMException::NAMESPACE_ERR, "namespaceURI is null");
  return new Element(this, qname, namespaceName(uri), LocalStart(qname));
}

Attr* Document::createAttribute(const Xstring& name) {
  CheckName(name, "invalid attribute name");
  return new Attr(this, name, nullptr, -1, Xstring());
}

Attr* Document::createAttributeNS(const Xstring& uri, const Xstring& qname) {
  CheckName(qname, "invalid attribute name");
  const int local_start = LocalStart(qname);
  const Xstring local(qname.data() + local_start, qname.length() - local_start);
  if (!IsName(local))
    throw DOMException(DOMException::NAMESPACE_ERR, "invalid attribute local name");
  if (!PrefixPart(qname).isNull() && uri.isNull())
    throw DOMException(DOMException::NAMESPACE_ERR, "namespaceURI is null");
  return new Attr(this, qname, namespaceName(uri), local_start, Xstring());
}

Text* Document::createTextNode(const Xstring& data) { return new Text(this, data); }
Comment* Document::createComment(const Xstring& data) { return new Comment(this, data); }

EntityReference* Document::createEntityReference(const Xstring& name) {
  CheckName(name, "invalid entity name");
  auto* made = new EntityReference(this, name);
  if (const DocumentType* type = getDoctype())
    if (const Node* entity = type->getEntities()->getNamedItem(name))
      for (const Node* child = entity->getFirstChild(); child; child = child->getNextSibling())
        made->link(importNode(child, true), nullptr);
  made->setReadOnly();
  return made;
}

Entity* Document::createEntity(const Xstring& name, const Xstring& public_id,
                               const Xstring& system_id, const Xstring& notation,
                               const Xstring& replacement_text, bool declared_internally) {
  CheckName(name, "invalid entity name");
  auto* made = new Entity(this, name);
  made->public_id_ = public_id;
  made->system_id_ = system_id;
  made->notation_ = notation;
  made->value_ = replacement_text;
  made->internal_subset_ = declared_internally;
  return made;
}

Notation* Document::createNotation(const Xstring& name, const Xstring& public_id,
                                   const Xstring& system_id, bool declared_internally) {
  CheckName(name, "invalid entity name");
  auto* made = new Notation(this, name);
  made->public_id_ = public_id;
  made->system_id_ = system_id;
  made->internal_subset_ = declared_internally;
  return made;
}
CDATASection* Document::createCDATASection(const Xstring& data) {
  return new CDATASection(this, data);
}

ProcessingInstruction* Document::createProcessingInstruction(const Xstring& target,
                                                             const Xstring& data) {
  CheckName(target, "invalid processing instruction target name");
  return new ProcessingInstruction(this, target, data);
}

DocumentType* Document::createDocumentType(const Xstring& name, const Xstring& public_id,
                                           const Xstring& system_id) {
  return new DocumentType(this, name, public_id, system_id);
}

Element* Document::getDocumentElement() const {
  for (Node* n = getFirstChild(); n; n = n->getNextSibling())
    if (n->getNodeType() == ELEMENT_NODE) return static_cast<Element*>(n);
  return nullptr;
}

DocumentType* Document::getDoctype() const {
  for (Node* n = getFirstChild(); n; n = n->getNextSibling())
    if (n->getNodeType() == DOCUMENT_TYPE_NODE) return static_cast<DocumentType*>(n);
  return nullptr;
}

NodeList* Document::getElementsByTagName(const Xstring& name) const {
  std::vector<Node*> found;
  CollectElements(this, name, found);
  return new NodeList(std::move(found));
}

}  // namespace arxp

namespace arxp {

DOMImplementation::~DOMImplementation() = default;

bool DOMImplementation::hasFeature(const Xstring& feature, const Xstring&) const {
  return feature == "CORE" || feature == "HTML" || feature == "Range" || feature == "Traversal";
}

DocumentType* DOMImplementation::createDocumentType(const Xstring& qname, const Xstring& public_id,
                                                    const Xstring& system_id) const {
  if (!IsName(qname))
    throw DOMException(DOMException::INVALID_CHARACTER_ERR, "invalid element name");
  return new DocumentType(nullptr, qname, public_id, system_id);
}

Document* DOMImplementation::createDocument(const Xstring& uri, const Xstring& qname,
                                            DocumentType* doctype) const {
  if (doctype && doctype->getOwnerDocument())
    throw DOMException(DOMException::WRONG_DOCUMENT_ERR, "new child node document is different");
  Document* document = new Document();
  try {
    Element* root = document->createElementNS(uri, qname);
    if (doctype) {
      doctype->owner_ = document;
      document->appendChild(doctype);
    }
    document->appendChild(root);
  } catch (...) {
    delete document;
    throw;
  }
  return document;
}

}  // namespace arxp
