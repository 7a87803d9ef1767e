// DOMParser::write: a document back to XML text in UTF-16, Shift_JIS or EUC-JP.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "arxp/diagnostics.h"
#include "arxp/dom.h"
#include "arxp/encoding.h"

namespace arxp {
namespace {

bool SameName(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    const char x = (*a >= 'a' && *a <= 'z') ? *a - 32 : *a;
    const char y = (*b >= 'a' && *b <= 'z') ? *b - 32 : *b;
    if (x != y) return false;
  }
  return *a == *b;
}

// The output encoding an encoding name selects, 0 for another name.
int NamedEncoding(const char* name) {
  if (name && SameName(name, "UTF-16")) return kEncodingUtf16;
  if (name && SameName(name, "Shift_JIS")) return kEncodingShiftJis;
  if (name && SameName(name, "EUC-JP")) return kEncodingEucJp;
  return 0;
}

int OutputEncoding(const char* name) {
  const int named = NamedEncoding(name);
  return named ? named : osEncoding();
}

ProcessingInstruction* XmlDeclaration(Document* document) {
  Node* first = document->getFirstChild();
  if (first && first->getNodeType() == Node::PROCESSING_INSTRUCTION_NODE &&
      first->getNodeName() == "xml")
    return static_cast<ProcessingInstruction*>(first);
  return nullptr;
}

// The value of a pseudo-attribute in a declaration's data, with its place.
bool FindPseudoAttribute(const std::u16string& data, const std::u16string& name,
                         std::size_t& value_begin, std::size_t& value_end) {
  const std::size_t at = data.find(name + u"=");
  if (at == std::u16string::npos || at + name.size() + 1 >= data.size()) return false;
  const char16_t quote = data[at + name.size() + 1];
  value_begin = at + name.size() + 2;
  value_end = data.find(quote, value_begin);
  return value_end != std::u16string::npos;
}

// Names the output encoding in the XML declaration while it lives.
class DeclaredEncoding {
 public:
  DeclaredEncoding(Document* document, const char* encoding_name)
      : decl_(XmlDeclaration(document)) {
    if (!decl_) return;
    saved_ = decl_->getData();
    std::u16string data(saved_.data(), saved_.length());
    std::u16string name;
    for (const char* c = encoding_name; *c; ++c) name += static_cast<char16_t>(*c);
    std::size_t begin, end;
    if (FindPseudoAttribute(data, u"encoding", begin, end)) {
      data.replace(begin, end - begin, name);
    } else {
      std::size_t vbegin, vend;
      const std::size_t after =
          FindPseudoAttribute(data, u"version", vbegin, vend) ? vend + 1 : data.size();
      data.insert(after, u" encoding=\"" + name + u"\"");
    }
    decl_->setData(Xstring(data.c_str()));
  }
  ~DeclaredEncoding() {
    if (decl_) decl_->setData(saved_);
  }
  DeclaredEncoding(const DeclaredEncoding&) = delete;
  DeclaredEncoding& operator=(const DeclaredEncoding&) = delete;

 private:
  ProcessingInstruction* decl_;
  Xstring saved_;
};

// Name characters of XML in the basic plane: 1 may start a name, 2 only continue
// one. Surrogates count as neither: a name outside the plane is written with the
// "&" as a character reference, which declares the same replacement text.
int NameClass(char16_t c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':') return 1;
  if ((c >= '0' && c <= '9') || c == '-' || c == '.' || c == 0xB7) return 2;
  if ((c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
      (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || c == 0x200C || c == 0x200D ||
      (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) ||
      (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD))
    return 1;
  if ((c >= 0x300 && c <= 0x36F) || c == 0x203F || c == 0x2040) return 2;
  return 0;
}

// Whether a name and ";" follow (the rest of an entity reference "&name;").
bool StartsEntityReference(const char16_t* p, const char16_t* end) {
  const char16_t* name = p;
  for (; p < end && *p != ';'; ++p) {
    const int kind = NameClass(*p);
    if (kind == 0 || (kind == 2 && p == name)) return false;
  }
  return p < end && p != name;
}

// Serialises nodes into UTF-16 units; `indent` lays them out for reading.
class Serializer {
 public:
  explicit Serializer(bool indent) : indent_(indent) {}

  void node(const Node* n) {
    switch (n->getNodeType()) {
      case Node::ELEMENT_NODE: element(static_cast<const Element*>(n)); break;
      case Node::TEXT_NODE:
        escaped(n->getNodeValue());
        after_text_ = true;
        return;
      case Node::ENTITY_REFERENCE_NODE:
        // Stands in the text like the characters it holds.
        raw("&");
        raw(n->getNodeName());
        raw(";");
        after_text_ = true;
        return;
      case Node::CDATA_SECTION_NODE:
        breakLine();
        raw("<![CDATA[");
        raw(n->getNodeValue());
        raw("]]>");
        break;
      case Node::PROCESSING_INSTRUCTION_NODE:
        breakLine();
        raw("<?");
        raw(n->getNodeName());
        raw(" ");
        raw(n->getNodeValue());
        raw("?>");
        break;
      case Node::COMMENT_NODE:
        breakLine();
        raw("<!--");
        raw(n->getNodeValue());
        raw("-->");
        break;
      case Node::DOCUMENT_TYPE_NODE: doctype(static_cast<const DocumentType*>(n)); break;
      case Node::DOCUMENT_NODE:
      case Node::DOCUMENT_FRAGMENT_NODE:
        for (const Node* c = n->getFirstChild(); c; c = c->getNextSibling()) node(c);
        if (indent_) out_ += u'\n';
        break;
      default: break;
    }
    after_text_ = false;
  }

  const std::u16string& text() const { return out_; }

 private:
  void element(const Element* e) {
    breakLine();
    raw("<");
    raw(e->getTagName());
    const NamedNodeMap* attributes = e->getAttributes();
    for (int i = 0; i < attributes->getLength(); ++i) {
      const Node* a = attributes->item(i);
      raw(" ");
      raw(a->getNodeName());
      raw("=\"");
      escaped(a->getNodeValue(), true);
      raw("\"");
    }
    if (!e->hasChildNodes()) {
      raw("/>");
      return;
    }
    raw(">");
    ++depth_;
    after_text_ = false;
    for (const Node* c = e->getFirstChild(); c; c = c->getNextSibling()) node(c);
    --depth_;
    if (!after_text_) breakLine();
    raw("</");
    raw(e->getTagName());
    raw(">");
  }

  void doctype(const DocumentType* d) {
    breakLine();
    raw("<!DOCTYPE ");
    raw(d->getName());
    externalId(d->getPublicId(), d->getSystemId());
    const std::vector<ElementDeclaration>& elements = d->getElementDeclarations();
    const std::vector<AttributeDeclaration>& attributes = d->getAttributeDeclarations();
    std::vector<const Entity*> entities;
    std::vector<const Notation*> notations;
    for (int i = 0; i < d->getEntities()->getLength(); ++i) {
      auto* entity = static_cast<const Entity*>(d->getEntities()->item(i));
      if (entity->isDeclaredInternally()) entities.push_back(entity);
    }
    for (int i = 0; i < d->getNotations()->getLength(); ++i) {
      auto* notation = static_cast<const Notation*>(d->getNotations()->item(i));
      if (notation->isDeclaredInternally()) notations.push_back(notation);
    }
    const std::vector<ParameterEntityReference>& unread = d->getUnreadParameterEntities();
    if (elements.empty() && attributes.empty() && entities.empty() && notations.empty() &&
        unread.empty()) {
      raw(">");
      return;
    }
    raw(" [");
    for (const ElementDeclaration& e : elements) {
      raw("<!ELEMENT ");
      raw(e.name);
      raw(" ");
      raw(e.model);
      raw(">");
    }
    for (const AttributeDeclaration& a : attributes) {
      raw("<!ATTLIST ");
      raw(a.element);
      raw(" ");
      raw(a.name);
      raw(" ");
      raw(a.type);
      if (!a.mode.isNull()) {
        raw(" ");
        raw(a.mode);
      }
      if (!a.value.isNull()) {
        raw(" \"");
        escaped(a.value, true);
        raw("\"");
      }
      raw(">");
    }
    for (const Entity* e : entities) {
      breakLine();
      raw("<!ENTITY ");
      raw(e->getNodeName());
      if (e->getSystemId().isNull()) {
        raw(" ");
        entityValue(e->getReplacementText());
      } else {
        externalId(e->getPublicId(), e->getSystemId());
      }
      if (!e->getNotationName().isNull()) {
        raw(" NDATA ");
        raw(e->getNotationName());
      }
      raw(">");
    }
    for (const Notation* n : notations) {
      raw("<!NOTATION ");
      raw(n->getNodeName());
      externalId(n->getPublicId(), n->getSystemId());
      raw(">");
    }
    // Each declared once, before its first reference.
    std::vector<const Xstring*> declared;
    for (const ParameterEntityReference& r : unread) {
      bool seen = false;
      for (const Xstring* name : declared) seen = seen || *name == r.name;
      if (!seen && !r.system_id.isNull()) {
        raw("<!ENTITY % ");
        raw(r.name);
        externalId(r.public_id, r.system_id);
        raw(">");
        declared.push_back(&r.name);
      }
      raw("%");
      raw(r.name);
      raw(";");
    }
    raw("]>");
  }

  // " PUBLIC " and both literals (the system one may be absent for a notation),
  // or " SYSTEM " and the system literal, or nothing.
  void externalId(const Xstring& public_id, const Xstring& system_id) {
    if (!public_id.isNull()) {
      raw(" PUBLIC ");
      literal(public_id);
      if (system_id.isNull()) return;
      raw(" ");
      literal(system_id);
    } else if (!system_id.isNull()) {
      raw(" SYSTEM ");
      literal(system_id);
    }
  }

  // An entity value literal that declares the same replacement text: references
  // to general entities stay (they are not expanded in a declaration), and the
  // characters a declaration would interpret are character references.
  void entityValue(const Xstring& text) {
    raw("\"");
    const char16_t* units = text.data();
    for (int i = 0; i < text.length(); ++i) {
      switch (units[i]) {
        case '"': raw("&#34;"); break;
        case '%': raw("&#37;"); break;
        case '\r': raw("&#13;"); break;
        case '&':
          raw(StartsEntityReference(units + i + 1, units + text.length()) ? "&" : "&#38;");
          break;
        default: out_ += units[i];
      }
    }
    raw("\"");
  }

  // A line feed and two spaces per enclosing element, in indented output, unless
  // text comes just before.
  void breakLine() {
    if (!indent_ || after_text_ || out_.empty()) return;
    out_ += u'\n';
    out_.append(static_cast<std::size_t>(depth_) * 2, u' ');
  }

  void raw(const char* ascii) {
    for (; *ascii; ++ascii) out_ += static_cast<char16_t>(*ascii);
  }
  void raw(const Xstring& s) { out_.append(s.data(), static_cast<std::size_t>(s.length())); }

  // The five markup characters as entity references. Characters that a parse
  // would change are written as character references too: CR anywhere (line-end
  // normalisation), TAB and LF in attribute values (value normalisation).
  void escaped(const Xstring& s, bool attribute = false) {
    for (int i = 0; i < s.length(); ++i) {
      switch (const char16_t c = s.data()[i]) {
        case '<': raw("&lt;"); break;
        case '>': raw("&gt;"); break;
        case '&': raw("&amp;"); break;
        case '\'': raw("&apos;"); break;
        case '"': raw("&quot;"); break;
        case '\r': raw("&#13;"); break;
        case '\t':
        case '\n':
          if (attribute) {
            raw(c == '\t' ? "&#9;" : "&#10;");
            break;
          }
          [[fallthrough]];
        default: out_ += c;
      }
    }
  }

  // A literal in double quotation marks, or in apostrophes when it holds a double one.
  void literal(const Xstring& s) {
    bool has_double = false;
    for (int i = 0; i < s.length(); ++i) has_double = has_double || s.data()[i] == '"';
    raw(has_double ? "'" : "\"");
    raw(s);
    raw(has_double ? "'" : "\"");
  }

  bool indent_;
  int depth_ = 0;
  bool after_text_ = false;
  std::u16string out_;
};

// The bytes of `text` in `encoding`: UTF-16 in machine order, LF as CR LF.
std::string Encode(const std::u16string& text, int encoding) {
  std::string bytes;
  if (encoding == kEncodingUtf16) {
    bytes.reserve(text.size() * 2);
    for (const char16_t unit : text) {
      if (unit == u'\n') bytes.append("\r\0", 2);
      bytes += static_cast<char>(unit & 0xFF);
      bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
  }
  bytes.resize(multibyteCapacity(text.size(), encoding));
  bytes.resize(toMultibyte(text.data(), text.size(), encoding, bytes.data()));
  return bytes;
}

void WriteFile(const Document* document, const char* file_name, int encoding) {
  Serializer serializer(false);
  serializer.node(document);
  std::string bytes = Encode(serializer.text(), encoding);
  if (encoding == kEncodingUtf16) bytes.insert(0, "\xFF\xFE", 2);
  std::FILE* file = std::fopen(file_name, "wb");
  if (!file) {
    Xstring message("file (");
    message += file_name;
    message += ") cannot open";
    Diagnostics::error(ARXPException::FILE_OPEN_ERR, message);
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) Diagnostics::error(ARXPException::FILE_WRITE_ERR, "file write fail");
}

}  // namespace

void DOMParser::write(Document* document, const char* file_name) {
  if (!file_name) {
    Serializer serializer(true);
    serializer.node(document);
    const std::string bytes = Encode(serializer.text(), osEncoding());
    std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::cout.flush();
    if (!std::cout) Diagnostics::error(ARXPException::FILE_WRITE_ERR, "file write fail");
    return;
  }
  std::u16string declared;
  if (const ProcessingInstruction* decl = XmlDeclaration(document)) {
    const std::u16string data(decl->getData().data(), decl->getData().length());
    std::size_t begin, end;
    if (FindPseudoAttribute(data, u"encoding", begin, end))
      declared = data.substr(begin, end - begin);
  }
  std::string name;
  for (const char16_t c : declared) name += static_cast<char>(c < 0x80 ? c : '?');
  if (NamedEncoding(name.c_str())) {
    WriteFile(document, file_name, NamedEncoding(name.c_str()));
    return;
  }
  // Any other declared encoding (or none, which means UTF-8) would misname the
  // OS-encoded output: the declaration names the OS encoding while writing.
  const DeclaredEncoding renamed(document, encodingName(osEncoding()));
  WriteFile(document, file_name, osEncoding());
}

void DOMParser::write(Document* document, const char* file_name, const char* encoding) {
  const int chosen = OutputEncoding(encoding);
  const DeclaredEncoding declared(document, encodingName(chosen));
  WriteFile(document, file_name, chosen);
}

void DOMParser::write(Document* document, char16_t* buffer, int* length) {
  const DeclaredEncoding declared(document, "UTF-16");
  Serializer serializer(false);
  serializer.node(document);
  const std::string bytes = Encode(serializer.text(), kEncodingUtf16);
  const std::size_t capacity_units = *length > 0 ? static_cast<std::size_t>(*length) / 2 : 0;
  const std::size_t units = bytes.size() / 2;
  for (std::size_t i = 0; i < units && i < capacity_units; ++i)
    buffer[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                      static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  if (units < capacity_units) buffer[units] = 0;
  *length = static_cast<int>((units + 1) * 2);
}

}  // namespace arxp
