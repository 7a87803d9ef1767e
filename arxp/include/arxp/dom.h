// The DOM Level 2 document tree: nodes, node lists and maps, the DOM exception,
// and DOMParser, which builds a Document from an input.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "arxp/exception.h"
#include "arxp/export.h"
#include "arxp/parser.h"
#include "arxp/range.h"
#include "arxp/traversal.h"
#include "arxp/xstring.h"

namespace arxp {

class Attr;
class Document;
class DocumentFragment;
class DocumentType;
class Entity;
class EntityReference;
class Notation;
class Element;
class NamedNodeMap;
class NodeList;
namespace detail {
class DocumentStore;
class LiveSet;
class TreeBuilder;
}  // namespace detail

class ARXP_EXPORT DOMException : public ARXPException {
 public:
  enum Code {
    INDEX_SIZE_ERR = 1,
    DOMSTRING_SIZE_ERR = 2,
    HIERARCHY_REQUEST_ERR = 3,
    WRONG_DOCUMENT_ERR = 4,
    INVALID_CHARACTER_ERR = 5,
    NO_DATA_ALLOWED_ERR = 6,
    NO_MODIFICATION_ALLOWED_ERR = 7,
    NOT_FOUND_ERR = 8,
    NOT_SUPPORTED_ERR = 9,
    INUSE_ATTRIBUTE_ERR = 10,
    INVALID_STATE_ERR = 11,
    SYNTAX_ERR = 12,
    INVALID_MODIFICATION_ERR = 13,
    NAMESPACE_ERR = 14,
    INVALID_ACCESS_ERR = 15,
  };
  // The library code is DOM_ERR; `code` is the DOM's own.
  DOMException(int code, const Xstring& message);
  int getDOMCode() const { return dom_code_; }
  // "<DOMException::" followed by the code's name ("???" for another code) and ">".
  Xstring toString() const override;
  static const char* codeName(int code);

 private:
  int dom_code_;
};

class ARXP_EXPORT Node {
 public:
  enum NodeType {
    ELEMENT_NODE = 1,
    ATTRIBUTE_NODE = 2,
    TEXT_NODE = 3,
    CDATA_SECTION_NODE = 4,
    ENTITY_REFERENCE_NODE = 5,
    ENTITY_NODE = 6,
    PROCESSING_INSTRUCTION_NODE = 7,
    COMMENT_NODE = 8,
    DOCUMENT_NODE = 9,
    DOCUMENT_TYPE_NODE = 10,
    DOCUMENT_FRAGMENT_NODE = 11,
    NOTATION_NODE = 12,
  };

  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;
  // Deletes the children too.
  virtual ~Node();
  virtual Node* appendChild(Node* child);
  virtual Node* cloneNode(bool deep) const = 0;
  virtual NamedNodeMap* getAttributes() const;
  // The live list of the children; it lives as long as the node.
  virtual NodeList* getChildNodes() const;
  virtual Node* getFirstChild() const { return first_; }
  virtual Node* getLastChild() const { return first_ ? first_->previous_ : nullptr; }
  virtual Xstring getLocalName() const;
  virtual Xstring getNamespaceURI() const;
  virtual Node* getNextSibling() const { return next_; }
  virtual Xstring getNodeName() const = 0;
  virtual short getNodeType() const = 0;
  virtual Xstring getNodeValue() const;
  virtual Document* getOwnerDocument() const { return owner_; }
  virtual Node* getParentNode() const { return parent_; }
  virtual Xstring getPrefix() const;
  virtual Node* getPreviousSibling() const {
    return parent_ && parent_->first_ != this ? previous_ : nullptr;
  }
  virtual bool hasAttributes() const;
  virtual bool hasChildNodes() const { return first_ != nullptr; }
  virtual Node* insertBefore(Node* child, Node* reference);
  virtual bool isSupported(const Xstring& feature, const Xstring& version) const;
  virtual void normalize();
  virtual Node* removeChild(Node* child);
  virtual Node* replaceChild(Node* child, Node* old);
  virtual void setNodeValue(const Xstring& value);
  virtual void setPrefix(const Xstring& prefix);

  // Nodes live in the library's allocator.
  static void* operator new(std::size_t size);
  static void operator delete(void* block);

  // Entities, notations, entity references and everything below them may not be
  // changed (NO_MODIFICATION_ALLOWED_ERR).
  bool isReadOnly() const { return read_only_; }

 protected:
  explicit Node(Document* owner) : owner_(owner) {}
  // Whether a node of `type` may be a child of this node.
  bool acceptsChild(short type) const;
  // Whether all the children of a fragment may become children of this node.
  bool acceptsChildrenOf(const Node* fragment) const;
  // Throws unless `child` (or each child of a fragment) may be inserted here.
  void checkInsertion(const Node* child) const;
  // Throws NO_MODIFICATION_ALLOWED_ERR for a read-only node.
  void checkWritable() const;
  // Makes this node and its descendants read-only.
  void setReadOnly();
  // Puts `child` before `reference` (at the end for nullptr); no checks.
  void link(Node* child, Node* reference);
  // The document this node belongs to (the document itself for a Document).
  Document* document() const;
  // The ranges and iterators to tell of a change here, nullptr when there are none.
  detail::LiveSet* liveSet() const;

 private:
  friend class Document;
  friend class DocumentType;
  friend class DOMImplementation;
  friend class NamedNodeMap;
  friend class Range;
  void unlink(Node* child);
  void deleteChildren();

  // Trees hold many nodes: a node keeps no more than it must. The first child's
  // previous_ is the last child; the list of getChildNodes is the document's.
  Document* owner_;
  Node* parent_ = nullptr;
  Node* first_ = nullptr;
  Node* previous_ = nullptr;
  Node* next_ = nullptr;
  bool read_only_ = false;
  mutable bool has_child_list_ = false;  // getChildNodes has made the list
};

// An ordered list of nodes: the live children of a node, or a temporary snapshot
// made by a search (handed back with DOMParser::free).
class ARXP_EXPORT NodeList {
 public:
  // The children of `parent`; none for nullptr.
  explicit NodeList(const Node* parent) : parent_(parent) {}
  explicit NodeList(std::vector<Node*> nodes) : nodes_(std::move(nodes)), tmp_(true) {}
  virtual ~NodeList();
  virtual int getLength() const;
  virtual Node* item(int index) const;
  bool isTemporary() const { return tmp_; }

 private:
  const Node* parent_ = nullptr;
  std::vector<Node*> nodes_;
  bool tmp_ = false;
};

// Nodes by name: the attributes of an element, or the read-only entities or
// notations of a document type. The map owns its nodes.
class ARXP_EXPORT NamedNodeMap {
 public:
  // The attributes of `owner`.
  explicit NamedNodeMap(Element* owner) : owner_(owner) {}
  // A read-only map of a document type.
  NamedNodeMap() = default;
  virtual ~NamedNodeMap();
  virtual int getLength() const { return static_cast<int>(nodes_.size()); }
  virtual Node* getNamedItem(const Xstring& name) const;
  virtual Node* getNamedItemNS(const Xstring& uri, const Xstring& local) const;
  virtual Node* item(int index) const;
  virtual Node* removeNamedItem(const Xstring& name);
  virtual Node* setNamedItem(Node* node);

 private:
  friend class Document;
  friend class DocumentType;
  friend class Element;
  friend class Node;
  void checkWritable() const;

  Element* owner_ = nullptr;
  std::vector<Node*> nodes_;
};

class ARXP_EXPORT Attr : public Node {
 public:
  ~Attr() override;
  Node* cloneNode(bool deep) const override;
  Xstring getLocalName() const override {
    return local_start_ < 0 ? Xstring() : name_.substr(local_start_);
  }
  Xstring getNamespaceURI() const override { return uri_ ? *uri_ : Xstring(); }
  Xstring getNodeName() const override { return name_; }
  short getNodeType() const override { return ATTRIBUTE_NODE; }
  Xstring getNodeValue() const override { return value_; }
  Xstring getPrefix() const override;
  void setNodeValue(const Xstring& value) override { setValue(value); }
  Node* getParentNode() const override { return nullptr; }

  const Xstring& getName() const { return name_; }
  const Xstring& getValue() const { return value_; }
  void setValue(const Xstring& value);
  bool getSpecified() const { return specified_; }
  Element* getOwnerElement() const { return element_; }

 private:
  friend class Document;
  friend class Element;
  friend class NamedNodeMap;
  // The strings are taken as they are: a view must live as long as the document.
  Attr(Document* owner, Xstring name, const Xstring* uri, int local_start, Xstring value);

  bool specified_ = true;
  int local_start_;  // where the local name begins in name_; -1: made without namespace
  Xstring name_;
  const Xstring* uri_;  // the document's copy; nullptr: no namespace
  Xstring value_;
  Element* element_ = nullptr;
};

class ARXP_EXPORT Element : public Node {
 public:
  friend class Document;
  ~Element() override;
  Node* cloneNode(bool deep) const override;
  NamedNodeMap* getAttributes() const override;
  Xstring getLocalName() const override {
    return local_start_ < 0 ? Xstring() : name_.substr(local_start_);
  }
  Xstring getNamespaceURI() const override { return uri_ ? *uri_ : Xstring(); }
  Xstring getNodeName() const override { return name_; }
  short getNodeType() const override { return ELEMENT_NODE; }
  Xstring getPrefix() const override;
  bool hasAttributes() const override { return attributes_ && !attributes_->nodes_.empty(); }

  const Xstring& getTagName() const { return name_; }
  // The value, or an empty string when absent.
  Xstring getAttribute(const Xstring& name) const;
  Xstring getAttributeNS(const Xstring& uri, const Xstring& local) const;
  Attr* getAttributeNode(const Xstring& name) const;
  bool hasAttribute(const Xstring& name) const { return getAttributeNode(name) != nullptr; }
  void setAttribute(const Xstring& name, const Xstring& value);
  void setAttributeNS(const Xstring& uri, const Xstring& qname, const Xstring& value);
  // Adds or replaces; returns the replaced attribute (now the caller's) or nullptr.
  Attr* setAttributeNode(Attr* attribute);
  void removeAttribute(const Xstring& name);
  // A temporary list of the descendants named `name` ("*": all), in document order.
  NodeList* getElementsByTagName(const Xstring& name) const;

 private:
  friend class Document;
  friend class Node;
  friend class detail::TreeBuilder;
  // The name is taken as it is: a view must live as long as the document.
  Element(Document* owner, Xstring name, const Xstring* uri, int local_start);
  // The map, made on first use.
  NamedNodeMap& attributeMap() const;
  // For the tree builder: room for `count` attributes.
  void reserveAttributes(std::size_t count) { attributeMap().nodes_.reserve(count); }

  int local_start_;  // where the local name begins in name_; -1: made without namespace
  Xstring name_;
  const Xstring* uri_;  // the document's copy; nullptr: no namespace
  mutable std::unique_ptr<NamedNodeMap> attributes_;
};

class ARXP_EXPORT CharacterData : public Node {
 public:
  Xstring getNodeValue() const override { return data_; }
  void setNodeValue(const Xstring& value) override { setData(value); }
  virtual void appendData(const Xstring& data);
  virtual void deleteData(int offset, int count);
  virtual const Xstring& getData() const { return data_; }
  virtual int getLength() const { return data_.length(); }
  virtual void insertData(int offset, const Xstring& data);
  virtual void replaceData(int offset, int count, const Xstring& data);
  virtual void setData(const Xstring& data);
  virtual Xstring substringData(int offset, int count) const;

 protected:
  // The data is taken as it is: a view must live as long as the document.
  CharacterData(Document* owner, Xstring data) : Node(owner), data_(std::move(data)) {}

 private:
  void checkOffset(int offset) const;
  Xstring data_;
};

class ARXP_EXPORT Text : public CharacterData {
 public:
  Node* cloneNode(bool deep) const override;
  Xstring getNodeName() const override { return "#text"; }
  short getNodeType() const override { return TEXT_NODE; }
  // Cuts the data at `offset`; a new node of the same kind takes the rest and
  // follows this one. INDEX_SIZE_ERR "invalid index" for an offset outside the data.
  virtual Text* splitText(int offset);

 protected:
  friend class Document;
  Text(Document* owner, Xstring data) : CharacterData(owner, std::move(data)) {}
};

class ARXP_EXPORT CDATASection : public Text {
 public:
  Node* cloneNode(bool deep) const override;
  Xstring getNodeName() const override { return "#cdata-section"; }
  short getNodeType() const override { return CDATA_SECTION_NODE; }

 private:
  friend class Document;
  CDATASection(Document* owner, Xstring data) : Text(owner, std::move(data)) {}
};

class ARXP_EXPORT Comment : public CharacterData {
 public:
  Node* cloneNode(bool deep) const override;
  Xstring getNodeName() const override { return "#comment"; }
  short getNodeType() const override { return COMMENT_NODE; }

 private:
  friend class Document;
  Comment(Document* owner, Xstring data) : CharacterData(owner, std::move(data)) {}
};

class ARXP_EXPORT ProcessingInstruction : public Node {
 public:
  Node* cloneNode(bool deep) const override;
  Xstring getNodeName() const override { return target_; }
  short getNodeType() const override { return PROCESSING_INSTRUCTION_NODE; }
  Xstring getNodeValue() const override { return data_; }
  void setNodeValue(const Xstring& value) override { setData(value); }
  const Xstring& getTarget() const { return target_; }
  const Xstring& getData() const { return data_; }
  void setData(const Xstring& data);

 private:
  friend class Document;
  ProcessingInstruction(Document* owner, Xstring target, Xstring data)
      : Node(owner), target_(std::move(target)), data_(std::move(data)) {}
  Xstring target_, data_;
};

// A lightweight holder of nodes: inserting it inserts its children instead.
class ARXP_EXPORT DocumentFragment : public Node {
 public:
  Node* cloneNode(bool deep) const override;
  Xstring getNodeName() const override { return "#document-fragment"; }
  short getNodeType() const override { return DOCUMENT_FRAGMENT_NODE; }

 private:
  friend class Document;
  explicit DocumentFragment(Document* owner) : Node(owner) {}
};

// A parsed general entity of the document type, internal, external or unparsed.
// Its children are the nodes of its replacement, filled when the document first
// refers to it.
class ARXP_EXPORT Entity : public Node {
 public:
  Node* cloneNode(bool deep) const override;
  Xstring getNodeName() const override { return name_; }
  short getNodeType() const override { return ENTITY_NODE; }
  // Null for an internal entity.
  const Xstring& getPublicId() const { return public_id_; }
  const Xstring& getSystemId() const { return system_id_; }
  // Null unless the entity is unparsed.
  const Xstring& getNotationName() const { return notation_; }
  // The replacement text of an internal entity as declared; null for an external one.
  const Xstring& getReplacementText() const { return value_; }
  // Whether the declaration is in the document's internal subset (which the
  // writer writes) rather than in an external one.
  bool isDeclaredInternally() const { return internal_subset_; }

 private:
  friend class Document;
  Entity(Document* owner, const Xstring& name) : Node(owner), name_(name) {}
  Xstring name_, public_id_, system_id_, notation_, value_;
  bool internal_subset_ = true;
};

// A reference to a general entity; its read-only children are the entity's nodes.
class ARXP_EXPORT EntityReference : public Node {
 public:
  Node* cloneNode(bool deep) const override;
  Xstring getNodeName() const override { return name_; }
  short getNodeType() const override { return ENTITY_REFERENCE_NODE; }

 private:
  friend class Document;
  EntityReference(Document* owner, const Xstring& name) : Node(owner), name_(name) {}
  Xstring name_;
};

class ARXP_EXPORT Notation : public Node {
 public:
  Node* cloneNode(bool deep) const override;
  Xstring getNodeName() const override { return name_; }
  short getNodeType() const override { return NOTATION_NODE; }
  const Xstring& getPublicId() const { return public_id_; }
  const Xstring& getSystemId() const { return system_id_; }
  bool isDeclaredInternally() const { return internal_subset_; }

 private:
  friend class Document;
  Notation(Document* owner, const Xstring& name) : Node(owner), name_(name) {}
  Xstring name_, public_id_, system_id_;
  bool internal_subset_ = true;
};

// An element type declaration of the internal subset; the model without spaces.
struct ElementDeclaration {
  Xstring name, model;
};

// A parameter-entity reference of the internal subset whose entity was not read,
// with the entity's identifiers when it is declared (null otherwise).
struct ParameterEntityReference {
  Xstring name, public_id, system_id;
};

// An attribute-list declaration of the internal subset, one attribute: mode is
// "#REQUIRED", "#IMPLIED", "#FIXED" or null; value is the default or null.
struct AttributeDeclaration {
  Xstring element, name, type, mode, value;
};

class ARXP_EXPORT DocumentType : public Node {
 public:
  friend class DOMImplementation;
  Node* cloneNode(bool deep) const override;
  Xstring getNodeName() const override { return name_; }
  short getNodeType() const override { return DOCUMENT_TYPE_NODE; }
  const Xstring& getName() const { return name_; }
  const Xstring& getPublicId() const { return public_id_; }
  const Xstring& getSystemId() const { return system_id_; }
  // The general entities and the notations: read-only maps owned by the type.
  NamedNodeMap* getEntities() const { return &entities_; }
  NamedNodeMap* getNotations() const { return &notations_; }
  const std::vector<ElementDeclaration>& getElementDeclarations() const { return elements_; }
  const std::vector<AttributeDeclaration>& getAttributeDeclarations() const { return attributes_; }
  const std::vector<ParameterEntityReference>& getUnreadParameterEntities() const {
    return unread_parameter_entities_;
  }

  // Building the type (the parser does). The first declaration of a name binds,
  // as in XML: these return whether the node was taken; the type owns what it takes.
  bool addEntity(Entity* entity);
  bool addNotation(Notation* notation);
  void addElementDeclaration(const ElementDeclaration& declaration);
  void addAttributeDeclaration(const AttributeDeclaration& declaration);
  void addUnreadParameterEntity(const ParameterEntityReference& reference);
  // Gives the entity of that name, while it has no nodes, copies of the children
  // of `source` (the parser does at the entity's first reference).
  void fillEntity(const Xstring& name, const Node* source);

 private:
  friend class Document;
  DocumentType(Document* owner, const Xstring& name, const Xstring& public_id,
               const Xstring& system_id)
      : Node(owner), name_(name), public_id_(public_id), system_id_(system_id) {}
  Xstring name_, public_id_, system_id_;
  mutable NamedNodeMap entities_, notations_;
  std::vector<ElementDeclaration> elements_;
  std::vector<AttributeDeclaration> attributes_;
  std::vector<ParameterEntityReference> unread_parameter_entities_;
};

// Loose nodes of a document (made by it but in no tree) are to be freed before it:
// the strings of a parsed document's nodes may be views into the document.
class ARXP_EXPORT Document : public Node, public DocumentRange, public DocumentTraversal {
 public:
  Document();
  // Detaches the document's ranges and iterators.
  ~Document() override;
  Node* cloneNode(bool deep) const override;
  Xstring getNodeName() const override { return "#document"; }
  short getNodeType() const override { return DOCUMENT_NODE; }

  // Names are checked as XML names ("invalid element name", ...: INVALID_CHARACTER_ERR).
  Element* createElement(const Xstring& name);
  Element* createElementNS(const Xstring& uri, const Xstring& qname);
  DocumentFragment* createDocumentFragment();
  Attr* createAttribute(const Xstring& name);
  Attr* createAttributeNS(const Xstring& uri, const Xstring& qname);
  Text* createTextNode(const Xstring& data);
  Comment* createComment(const Xstring& data);
  // Children copied from the document type's entity of that name, when it has one
  // ("invalid entity name": INVALID_CHARACTER_ERR).
  EntityReference* createEntityReference(const Xstring& name);
  // Declared entities and notations, for a document type's maps. An external
  // entity has a system id; an unparsed one a notation too; an internal one a
  // replacement text.
  Entity* createEntity(const Xstring& name, const Xstring& public_id, const Xstring& system_id,
                       const Xstring& notation, const Xstring& replacement_text,
                       bool declared_internally = true);
  Notation* createNotation(const Xstring& name, const Xstring& public_id, const Xstring& system_id,
                           bool declared_internally = true);
  CDATASection* createCDATASection(const Xstring& data);
  ProcessingInstruction* createProcessingInstruction(const Xstring& target, const Xstring& data);
  DocumentType* createDocumentType(const Xstring& name, const Xstring& public_id,
                                   const Xstring& system_id);
  Element* getDocumentElement() const;
  DocumentType* getDoctype() const;
  NodeList* getElementsByTagName(const Xstring& name) const;
  // A copy of a node of any document, belonging to this one and without a parent.
  Node* importNode(const Node* node, bool deep);

  Range* createRange() override;
  // The iterator and the walker follow the changes of the root's document.
  NodeIterator* createNodeIterator(Node* root, unsigned int what_to_show, NodeFilter* filter,
                                   bool expand_entity_references) override;
  TreeWalker* createTreeWalker(Node* root, unsigned int what_to_show, NodeFilter* filter,
                               bool expand_entity_references) override;

 private:
  friend class Node;
  friend class detail::TreeBuilder;
  // The live set of the document of a node, made on first use; nullptr for a node
  // of no document.
  static detail::LiveSet* liveSetOf(const Node* node);

  // Appends copies of the children of `from` to `to`.
  void importChildren(const Node* from, Node* to);

  // For the tree builder: a node whose strings are taken as they are (views of the
  // parsed text or the arena stay views); names are not checked again.
  template <typename T, typename... Args>
  T* make(Args&&... args) {
    return new T(this, std::forward<Args>(args)...);
  }

  // The parsed text, the string arena, the child lists and the namespace names,
  // made on first use.
  detail::DocumentStore& store();
  // The document's copy of a namespace name; nullptr for a null one.
  const Xstring* namespaceName(const Xstring& uri);
  // The live list of the children of `node` (which has this document).
  NodeList* childList(const Node* node);

  detail::LiveSet* live_ = nullptr;
  std::unique_ptr<detail::DocumentStore> store_;
};

// Creates documents and document types, and tells which features the tree has.
class ARXP_EXPORT DOMImplementation {
 public:
  virtual ~DOMImplementation();
  // "CORE", "HTML", "Range" and "Traversal" (any version).
  virtual bool hasFeature(const Xstring& feature, const Xstring& version) const;
  // A document type that belongs to no document until createDocument takes it.
  virtual DocumentType* createDocumentType(const Xstring& qname, const Xstring& public_id,
                                           const Xstring& system_id) const;
  // A document with `doctype` (nullptr: none) and a document element named `qname`.
  virtual Document* createDocument(const Xstring& uri, const Xstring& qname,
                                   DocumentType* doctype) const;
};

// The tree face of the parser.
class ARXP_EXPORT DOMParser : public Parser {
 public:
  DOMParser();
  DOMParser(const DOMParser& other);
  DOMParser& operator=(const DOMParser& other);
  ~DOMParser() override;

  Document* parse(InputSource& input);
  Document* parse(const char* file_name);
  // A zero-terminated UTF-16 text in machine byte order.
  Document* parse(const char16_t* buffer);
  Document* createDocument();
  DOMImplementation* getImplementation();

  // Whether a reference to a parsed general entity becomes an EntityReference
  // node holding the entity's nodes (the default) or the nodes themselves. The
  // entity's nodes are read-only either way; a reference to an entity that is not
  // read is always kept as an EntityReference.
  void setCreateEntityReferenceNodes(bool create) { entity_references_ = create; }
  bool getCreateEntityReferenceNodes() const { return entity_references_; }

  void free(Document* document);
  // Only temporary lists ("attempt to free NodeList that is not tmp-node-list").
  void free(NodeList* list);
  // Only a node without a parent (FREE_ERR "attempt to free node with parent").
  void freeNode(Node* node);

  // Writes a document as XML. With no file name: indented, in the OS encoding, to
  // the standard output stream; to a file: without added white space, in the
  // encoding of the document's XML declaration (UTF-16, Shift_JIS or EUC-JP; the
  // OS encoding otherwise). FILE_OPEN_ERR "file (%s) cannot open", FILE_WRITE_ERR
  // "file write fail".
  void write(Document* document, const char* file_name);
  // The same in the named encoding, which the declaration names while writing.
  void write(Document* document, const char* file_name, const char* encoding);
  // UTF-16 into a buffer of *length bytes; *length becomes the bytes produced,
  // terminating zero unit included (units beyond the capacity are counted only).
  void write(Document* document, char16_t* buffer, int* length);

 private:
  bool entity_references_ = true;
};

}  // namespace arxp
