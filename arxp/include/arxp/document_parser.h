// DocumentParser: the well-formedness-checking, non-validating XML 1.0 parser under
// both faces of the library (SAXParser and DOMParser). It reads one input through
// the character readers, checks the XML declaration and switches the encoding it
// names, keeps the entity and attribute-list declarations, reads the external
// subset and external entities where the options allow, expands entities within a
// bounded budget and depth, and delivers what it finds to a ParseEvents sink. Every error is a
// report (Diagnostics) with the place in the document, thrown as ARXPException.
#pragma once

#include <memory>
#include <vector>

#include "arxp/export.h"
#include "arxp/input.h"
#include "arxp/memory.h"
#include "arxp/xstring.h"

namespace arxp {

// One attribute of a start tag after normalisation and namespace processing. The
// strings are views that stay valid only during the call that delivers them.
struct ParsedAttribute {
  Xstring qname;
  Xstring uri;    // null without namespace processing or without a prefix
  Xstring local;  // null without namespace processing
  Xstring value;
  Xstring type;           // "CDATA" unless the attribute-list declaration says otherwise
  bool specified = true;  // false for a default taken from the declaration
  bool is_xmlns = false;  // "xmlns" or "xmlns:" + prefix
};

// Where the parser is, for locators: line from 1 and column of the next unit.
class ARXP_EXPORT ParsePosition {
 public:
  virtual ~ParsePosition();
  virtual int line() const = 0;
  virtual int column() const = 0;
  virtual const Xstring& systemId() const = 0;
};

// The sink of the parser's events; every operation has an empty default. Strings
// are views that stay valid only during the call.
class ARXP_EXPORT ParseEvents {
 public:
  virtual ~ParseEvents();
  virtual void setPosition(const ParsePosition& position);
  // The empty text the document is to be decoded into, when the sink keeps it:
  // then the strings it receives that lie in the text stay valid as long as the
  // text. The parser reads the text forward only, so the sink may rewrite units the
  // parse has passed, once it has asked the position for its line (which counts
  // the lines up to there). nullptr (the default): the parser keeps a text of its own.
  virtual UnitText* documentText();
  virtual void startDocument();
  virtual void endDocument();
  // The XML declaration; encoding and standalone are null when absent.
  virtual void xmlDeclaration(const Xstring& version, const Xstring& encoding,
                              const Xstring& standalone);
  virtual void startDoctype(const Xstring& name, const Xstring& public_id,
                            const Xstring& system_id);
  virtual void endDoctype();
  virtual void elementDecl(const Xstring& name, const Xstring& model);
  virtual void attributeDecl(const Xstring& element, const Xstring& name, const Xstring& type,
                             const Xstring& mode, const Xstring& value);
  virtual void internalEntityDecl(const Xstring& name, const Xstring& value);
  virtual void externalEntityDecl(const Xstring& name, const Xstring& public_id,
                                  const Xstring& system_id);
  virtual void unparsedEntityDecl(const Xstring& name, const Xstring& public_id,
                                  const Xstring& system_id, const Xstring& notation);
  virtual void notationDecl(const Xstring& name, const Xstring& public_id,
                            const Xstring& system_id);
  virtual void startPrefixMapping(const Xstring& prefix, const Xstring& uri);
  virtual void endPrefixMapping(const Xstring& prefix);
  virtual void startElement(const Xstring& uri, const Xstring& local, const Xstring& qname,
                            const std::vector<ParsedAttribute>& attributes);
  virtual void endElement(const Xstring& uri, const Xstring& local, const Xstring& qname);
  virtual void characters(const Xstring& text);
  virtual void startCDATA();
  virtual void endCDATA();
  virtual void comment(const Xstring& text);
  virtual void processingInstruction(const Xstring& target, const Xstring& data);
  // A general entity whose replacement follows (between startEntity and endEntity)
  // or that is not read (skippedEntity). Parameter entities are named with their
  // "%", the external subset "[dtd]".
  virtual void startEntity(const Xstring& name);
  virtual void endEntity(const Xstring& name);
  virtual void skippedEntity(const Xstring& name);
};

// Opens external entities (the external subset, external general and parameter
// entities) in place of the file their resolved system id names.
class ARXP_EXPORT EntityOpener {
 public:
  virtual ~EntityOpener();
  // The input of the entity, or nullptr to read the file `resolved_system_id`.
  virtual std::unique_ptr<ByteInput> open(const Xstring& public_id, const Xstring& system_id,
                                          const Xstring& resolved_system_id) = 0;
};

// A system id as a file name: one starting "/" as it is, "file://" removed, any
// other relative to the directory of `base` (the system id of the input that
// declares it; the current directory when that has no "/").
ARXP_EXPORT Xstring resolveSystemId(const Xstring& system_id, const Xstring& base);

struct ParseOptions {
  bool namespaces = true;
  // Whether external general entities, and external parameter entities and the
  // external subset, are read; an entity that is not read is skipped.
  bool external_general_entities = false;
  bool external_parameter_entities = false;
  EntityOpener* opener = nullptr;  // nullptr: files only
  // Limits that keep hostile input bounded.
  int max_element_depth = 10000;
  int max_entity_depth = 64;
  long max_entity_expansion = 8L * 1024 * 1024;  // units of replacement text, all references
};

class ARXP_EXPORT DocumentParser {
 public:
  explicit DocumentParser(const ParseOptions& options = ParseOptions());
  DocumentParser(const DocumentParser&) = delete;
  DocumentParser& operator=(const DocumentParser&) = delete;
  ~DocumentParser();

  // Parses the whole input, delivering its events to `events`.
  void parse(ByteInput& input, ParseEvents& events);

 private:
  ParseOptions options_;
};

}  // namespace arxp
