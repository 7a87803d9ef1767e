#include "arxp/document_parser.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "arxp/diagnostics.h"
#include "arxp/encoding.h"
#include "arxp/exception.h"
#include "arxp/memory.h"
#include "arxp/xmldecl.h"

namespace arxp {

EntityOpener::~EntityOpener() = default;

Xstring resolveSystemId(const Xstring& system_id, const Xstring& base) {
  const std::u16string_view id(system_id.data(), system_id.length());
  constexpr std::u16string_view kFileScheme = u"file://";
  if (id.substr(0, kFileScheme.size()) == kFileScheme)
    return Xstring(system_id.data() + kFileScheme.size(),
                   system_id.length() - static_cast<int>(kFileScheme.size()));
  const std::u16string_view from(base.data(), base.isNull() ? 0 : base.length());
  const std::size_t slash = from.rfind(u'/');
  if ((!id.empty() && id[0] == '/') || slash == std::u16string_view::npos)
    return Xstring(std::u16string(id).c_str());
  return Xstring((std::u16string(from.substr(0, slash + 1)) + std::u16string(id)).c_str());
}

ParsePosition::~ParsePosition() = default;

ParseEvents::~ParseEvents() = default;
void ParseEvents::setPosition(const ParsePosition&) {}
UnitText* ParseEvents::documentText() { return nullptr; }
void ParseEvents::startDocument() {}
void ParseEvents::endDocument() {}
void ParseEvents::xmlDeclaration(const Xstring&, const Xstring&, const Xstring&) {}
void ParseEvents::startDoctype(const Xstring&, const Xstring&, const Xstring&) {}
void ParseEvents::endDoctype() {}
void ParseEvents::elementDecl(const Xstring&, const Xstring&) {}
void ParseEvents::attributeDecl(const Xstring&, const Xstring&, const Xstring&, const Xstring&,
                                const Xstring&) {}
void ParseEvents::internalEntityDecl(const Xstring&, const Xstring&) {}
void ParseEvents::externalEntityDecl(const Xstring&, const Xstring&, const Xstring&) {}
void ParseEvents::unparsedEntityDecl(const Xstring&, const Xstring&, const Xstring&,
                                     const Xstring&) {}
void ParseEvents::notationDecl(const Xstring&, const Xstring&, const Xstring&) {}
void ParseEvents::startPrefixMapping(const Xstring&, const Xstring&) {}
void ParseEvents::endPrefixMapping(const Xstring&) {}
void ParseEvents::startElement(const Xstring&, const Xstring&, const Xstring&,
                               const std::vector<ParsedAttribute>&) {}
void ParseEvents::endElement(const Xstring&, const Xstring&, const Xstring&) {}
void ParseEvents::characters(const Xstring&) {}
void ParseEvents::startCDATA() {}
void ParseEvents::endCDATA() {}
void ParseEvents::comment(const Xstring&) {}
void ParseEvents::processingInstruction(const Xstring&, const Xstring&) {}
void ParseEvents::startEntity(const Xstring&) {}
void ParseEvents::endEntity(const Xstring&) {}
void ParseEvents::skippedEntity(const Xstring&) {}

namespace {

using Units = std::u16string;
using View = std::u16string_view;

constexpr View kXmlNamespace = u"http://www.w3.org/XML/1998/namespace";
constexpr View kXmlnsNamespace = u"http://www.w3.org/2000/xmlns/";
constexpr View kCdata = u"CDATA";
constexpr View kXml = u"xml";
constexpr View kXmlns = u"xmlns";
constexpr View kXmlnsPrefixed = u"xmlns:";

Xstring X(View v) { return Xstring(v.data(), static_cast<int>(v.size())); }
Xstring NullOr(const Units& s, bool present) { return present ? X(s) : Xstring(); }

// A message whose format has one "%s", filled with a string of any characters.
Xstring Message(const char* format, View arg) {
  const std::string_view f(format);
  const std::size_t at = f.find("%s");
  if (at == std::string_view::npos) return Xstring(format);
  Xstring text(std::string(f.substr(0, at)).c_str());
  text += X(arg);
  text += std::string(f.substr(at + 2)).c_str();
  return text;
}

bool IsSpace(char32_t c) { return c == 0x20 || c == 0x9 || c == 0xA || c == 0xD; }
bool IsAsciiAlnum(char32_t c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The first '<', '&' or ']' from p on (end when none): where character data may
// end. Eight units at a time.
const char16_t* FindTextEnd(const char16_t* p, const char16_t* end) {
#if defined(__SSE2__)
  const __m128i less = _mm_set1_epi16('<'), amp = _mm_set1_epi16('&'),
                bracket = _mm_set1_epi16(']');
  for (; end - p >= 8; p += 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hits =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(units, less), _mm_cmpeq_epi16(units, amp)),
                     _mm_cmpeq_epi16(units, bracket));
    if (const int mask = _mm_movemask_epi8(hits)) return p + __builtin_ctz(mask) / 2;
  }
#endif
  while (p < end && *p != '<' && *p != '&' && *p != ']') ++p;
  return p;
}

// Name characters below 0x80: kNameStart may start a name, kNameChar may only
// continue one; the colon is marked as well, for namespace processing.
enum AsciiNameClass : std::uint8_t { kNameStart = 1, kNameChar = 2, kNameColon = 4 };

constexpr std::array<std::uint8_t, 0x80> kAsciiName = [] {
  std::array<std::uint8_t, 0x80> classes{};
  for (int c = 'a'; c <= 'z'; ++c) classes[c] = kNameStart;
  for (int c = 'A'; c <= 'Z'; ++c) classes[c] = kNameStart;
  classes['_'] = kNameStart;
  classes[':'] = kNameStart | kNameColon;
  for (int c = '0'; c <= '9'; ++c) classes[c] = kNameChar;
  classes['-'] = classes['.'] = kNameChar;
  return classes;
}();

// Whether two names hold the same units: the common library compare, where
// names are compared often (views order units one by one).
bool SameName(View a, View b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0;
}

// What an attribute name says of a namespace declaration.
enum class Declares : std::uint8_t {
  kNothing,
  kDefaultNamespace,  // "xmlns"
  kPrefix,            // "xmlns:" and the prefix
};

// `prefixed`: the name holds a colon.
Declares DeclarationOf(View qname, bool prefixed) {
  if (prefixed) return qname.starts_with(kXmlnsPrefixed) ? Declares::kPrefix : Declares::kNothing;
  return qname == kXmlns ? Declares::kDefaultNamespace : Declares::kNothing;
}

bool IsNameStart(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
  return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
         (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || c == 0x200C || c == 0x200D ||
         (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) ||
         (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
         (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool IsNameChar(char32_t c) {
  if (IsNameStart(c)) return true;
  return (c >= '0' && c <= '9') || c == '-' || c == '.' || c == 0xB7 ||
         (c >= 0x300 && c <= 0x36F) || c == 0x203F || c == 0x2040;
}

bool IsXmlChar(char32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

void AppendCodePoint(Units& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  }
}

// The decoded document, in the library allocator.
using DocumentText = UnitText;

struct Entity {
  Units name;
  Units value;  // replacement text: an internal entity's, an external one's once loaded
  Units public_id, system_id, notation;
  Units base;      // the system id its own is resolved against: of the declaring input
  Units resolved;  // an external entity's resolved system id, once loaded
  bool parameter = false;
  bool external = false;
  bool loaded = false;  // an external entity's text has been read into `value`
  bool in_use = false;  // its replacement is being read: a reference now is a loop
};

// The name under which an entity's start and end are reported.
Units ReportedName(const Entity& entity) {
  return entity.parameter ? u"%" + entity.name : entity.name;
}

struct AttributeDecl {
  Units name, type, default_value;
  bool has_default = false;
};

struct Binding {
  Units prefix, uri;
};

// An entity's replacement on the input stack, with the depth of the tag stack
// where it began: its elements must end inside it.
struct InputFrame {
  const char16_t* resume;  // where the including input continues
  const char16_t* resume_end;
  Entity* entity;
  std::size_t tag_depth;
};

// Its name is a view into the document or an entity's replacement text, which
// outlive the parse.
struct OpenElement {
  View qname;
  std::size_t bindings;  // namespace bindings in force before its own
  // Its namespace and local name, found at the start tag (views into the
  // bindings, which stay in place while it is open).
  View uri, local;
  bool has_uri = false;
};

class Scanner final : public ParsePosition {
 public:
  Scanner(const ParseOptions& options, ByteInput& input, ParseEvents& events)
      : options_(options),
        input_(input),
        events_(events),
        system_id_(input.name()),
        text_(events.documentText() ? *events.documentText() : own_text_) {}

  void run() {
    events_.setPosition(*this);
    readPrologAndText();
    events_.startDocument();
    predefine(u"lt", u"&#x3c;");
    predefine(u"gt", u"&#x3e;");
    predefine(u"amp", u"&#x26;");
    predefine(u"apos", u"&#x27;");
    predefine(u"quot", u"&#x22;");
    parseProlog();
    parseContent();
    parseMisc();
    if (p_ != end_) fail(ARXPException::SYNTAX_ERR, "unexpected token found");
    events_.endDocument();
  }

  int line() const override {
    advanceLines();
    return line_;
  }
  int column() const override {
    advanceLines();
    return static_cast<int>(documentPos() - line_start_) + 1;
  }
  const Xstring& systemId() const override { return system_id_; }

 private:
  // ---- input ----

  // Reads the XML declaration unit by unit (it may switch the encoding), then the
  // rest of the input in bulk.
  void readPrologAndText() {
    const DetectedEncoding detected = detectEncoding(input_);
    CharReader reader(input_, detected.encoding, detected.byte_order);
    std::size_t decl_end = 0;
    const Declaration found = readDeclaration(reader, text_);
    if (found == kUnterminated) {
      setText(text_.size());
      fail(ARXPException::UNEXPECTED_EOF_ERR, "unterminated processing instruction");
    }
    if (found == kDeclaration) {
      decl_end = text_.size();
      setText(0);
      p_ = begin_ + 6;
      end_ = begin_ + decl_end - 2;
      parseXmlDeclaration(detected.encoding, reader);
    }
    // Decoded straight into the text, which is made large enough for the whole
    // input at once when its size is known: never more units than bytes.
    const std::size_t bytes = input_.sizeHint();
    text_.reserve(reader.encoding() == kEncodingUtf16 ? bytes / 2 + 1 : bytes + 1);
    constexpr std::size_t kChunk = 16 * 1024;
    for (;;) {
      const std::size_t size = text_.size(), room = text_.capacity() - size;
      const std::size_t chunk = room > 0 ? std::min(room, kChunk) : kChunk;  // no move if it fits
      text_.resize(size + chunk);
      const std::size_t n = reader.read(text_.data() + size, chunk);
      text_.resize(size + n);
      if (n == 0) break;
    }
    // Multibyte text takes fewer units than bytes: give back what was set aside
    // for nothing before the document's own data grows.
    if (text_.capacity() > text_.size() + text_.size() / 4) text_.shrink_to_fit();
    setText(decl_end);
  }

  enum Declaration { kNone, kDeclaration, kUnterminated };

  // Reads units while they may begin an XML or text declaration, and all of one
  // that does, unit by unit: the declaration may switch the encoding.
  template <typename Text>  // the document's text or an external entity's
  static Declaration readDeclaration(CharReader& reader, Text& text) {
    const View start = u"<?xml";
    while (text.size() < 6) {
      const int unit = reader.getc();
      if (unit < 0) return kNone;
      text += static_cast<char16_t>(unit);
      if (text.size() <= 5 && text.back() != start[text.size() - 1]) return kNone;
    }
    if (!IsSpace(text[5])) return kNone;
    for (;;) {
      const int unit = reader.getc();
      if (unit < 0) return kUnterminated;
      text += static_cast<char16_t>(unit);
      if (text[text.size() - 2] == '?' && unit == '>') return kDeclaration;
    }
  }

  // ---- external entities ----

  // The system id relative ones are resolved against: the innermost external
  // entity being read, or the document.
  Units currentBase() const {
    for (auto frame = frames_.rbegin(); frame != frames_.rend(); ++frame)
      if (frame->entity->external) return frame->entity->resolved;
    return Units(system_id_.data(), system_id_.length());
  }

  bool inExternalEntity() const {
    for (const InputFrame& frame : frames_)
      if (frame.entity->external) return true;
    return false;
  }

  // Reads an external entity's text once into its value: the text declaration is
  // checked and switches the encoding; the text counts against the expansion
  // budget as it is read.
  void load(Entity& entity) {
    if (entity.loaded) return;
    const Xstring resolved = resolveSystemId(X(entity.system_id), X(entity.base));
    std::unique_ptr<ByteInput> input;
    if (options_.opener)
      input = options_.opener->open(NullOr(entity.public_id, !entity.public_id.empty()),
                                    X(entity.system_id), resolved);
    if (!input) {
      std::vector<char> path(resolved.mbcsCapacity(osEncoding()));
      resolved.os_str(path.data());
      input = std::make_unique<ByteInput>(path.data());
    }
    if (!input->isOpen())
      fail(ARXPException::FILE_OPEN_ERR, "system id (%s) can't open", entity.system_id);
    // Reports while reading point at the reference in the document.
    frames_.push_back({p_, end_, &entity, open_.size()});
    // An entity may be shorter than the four bytes that tell a document's encoding:
    // then it is UTF-8.
    const DetectedEncoding detected = input->fill(4)
                                          ? detectEncoding(*input)
                                          : DetectedEncoding{kEncodingUtf8, kByteOrderNone, 0};
    CharReader reader(*input, detected.encoding, detected.byte_order);
    Units text;
    const Declaration found = readDeclaration(reader, text);
    if (found == kUnterminated)
      fail(ARXPException::UNEXPECTED_EOF_ERR, "unterminated processing instruction");
    if (found == kDeclaration) {
      p_ = text.data() + 6;
      end_ = text.data() + text.size() - 2;
      parseTextDeclaration(detected.encoding, reader);
      text.clear();
    }
    char16_t chunk[4 * 1024];
    while (const std::size_t n = reader.read(chunk, sizeof chunk / sizeof chunk[0])) {
      text.append(chunk, n);
      if (expanded_ + static_cast<long>(text.size()) > options_.max_entity_expansion)
        fail(ARXPException::INVALID_ENTITY_REF_ERR, "entity expansion limit exceeded (%s)",
             entity.name);
    }
    p_ = frames_.back().resume;
    end_ = frames_.back().resume_end;
    frames_.pop_back();
    entity.value = std::move(text);
    entity.resolved.assign(resolved.data(), resolved.length());
    entity.loaded = true;
  }

  // An external entity's text declaration: an optional version, then the encoding,
  // which is required.
  void parseTextDeclaration(int detected, CharReader& reader) {
    Location where;
    where.file = system_id_;
    where.line = line();
    where.column = column();
    const char16_t* before = p_;
    const View version = declAttribute("version");
    if (p_ != before) checkVersionNum(X(version), &where);
    before = p_;
    const View encoding = declAttribute("encoding");
    if (p_ == before) fail(ARXPException::INVALID_XML_DECL_ERR, "parse error");
    const int chosen = checkEncodingDecl(X(encoding), detected, &where);
    if (chosen != reader.encoding()) reader.select(chosen);
    skipSpace();
    if (!atEnd()) fail(ARXPException::INVALID_XML_DECL_ERR, "parse error");
  }

  void setText(std::size_t position) {
    begin_ = text_.data();
    end_ = begin_ + text_.size();
    p_ = begin_ + position;
    scanned_ = begin_;
    line_start_ = begin_;
    line_ = 1;
  }

  // The place in the document itself, also while reading an entity's replacement.
  const char16_t* documentPos() const { return frames_.empty() ? p_ : frames_.front().resume; }

  void advanceLines() const {
    const char16_t* to = documentPos();
    for (; scanned_ < to; ++scanned_) {
      if (*scanned_ == '\n') {
        ++line_;
        line_start_ = scanned_ + 1;
      }
    }
  }

  // The place of a report: the document position and the text that starts there.
  Location here() const {
    Location where;
    where.file = system_id_;
    const char16_t* at = documentPos();
    const char16_t* stop = at;
    while (stop < begin_ + text_.size() && stop - at < 16 && *stop != '\n') ++stop;
    where.text = Xstring(Units(at, stop).c_str());
    where.line = line();
    where.column = column();
    return where;
  }
  [[noreturn]] void fail(int code, const Xstring& message) {
    const Location where = here();
    Diagnostics::error(code, message, &where);
  }
  [[noreturn]] void fail(int code, const char* message) { fail(code, Xstring(message)); }
  [[noreturn]] void fail(int code, const char* format, View arg) {
    fail(code, Message(format, arg));
  }

  bool atEnd() const { return p_ >= end_; }
  bool lookingAt(View s) const {
    return static_cast<std::size_t>(end_ - p_) >= s.size() && View(p_, s.size()) == s;
  }
  bool skip(View s) {
    if (!lookingAt(s)) return false;
    p_ += s.size();
    return true;
  }
  void expect(View s, int code, const char* message) {
    if (!skip(s)) fail(code, message);
  }
  // The same with a literal: its length known, the comparison unrolls.
  template <std::size_t N>
  bool lookingAt(const char16_t (&s)[N]) const {
    if (static_cast<std::size_t>(end_ - p_) < N - 1) return false;
    for (std::size_t i = 0; i < N - 1; ++i)
      if (p_[i] != s[i]) return false;
    return true;
  }
  template <std::size_t N>
  bool skip(const char16_t (&s)[N]) {
    if (!lookingAt(s)) return false;
    p_ += N - 1;
    return true;
  }
  template <std::size_t N>
  void expect(const char16_t (&s)[N], int code, const char* message) {
    if (!skip(s)) fail(code, message);
  }
  bool skipSpace() {
    const char16_t* from = p_;
    while (p_ < end_ && IsSpace(*p_)) ++p_;
    return p_ != from;
  }
  void requireSpace() {
    if (!skipSpace()) fail(ARXPException::SYNTAX_ERR, "parse error");
  }

  // The code point at p_ and its length in units.
  char32_t peekCodePoint(int& units) const {
    const char32_t c = *p_;
    units = 1;
    if (c >= 0xD800 && c <= 0xDBFF && p_ + 1 < end_ && p_[1] >= 0xDC00 && p_[1] <= 0xDFFF) {
      units = 2;
      return 0x10000 + ((c - 0xD800) << 10) + (p_[1] - 0xDC00);
    }
    return c;
  }

  bool atNameStart() const {
    if (atEnd()) return false;
    int n;
    return IsNameStart(peekCodePoint(n));
  }

  View parseName() {
    bool has_colon;
    return parseName(has_colon);
  }

  // Also tells whether the name holds a colon: only those need splitting into
  // prefix and local part.
  View parseName(bool& has_colon) {
    const char16_t* from = p_;
    // ASCII names, the most of them, without decoding code points.
    if (p_ < end_ && *p_ < 0x80 && (kAsciiName[*p_] & kNameStart)) {
      unsigned classes = 0;
      do classes |= kAsciiName[*p_++];
      while (p_ < end_ && *p_ < 0x80 && kAsciiName[*p_] != 0);
      if (p_ == end_ || *p_ < 0x80) {
        has_colon = classes & kNameColon;
        return View(from, p_ - from);
      }
    } else if (!atNameStart()) {
      if (atEnd()) fail(ARXPException::UNEXPECTED_EOF_ERR, "parse error");
      fail(ARXPException::SYNTAX_ERR, "unexpected token found");
    }
    int n;
    while (p_ < end_ && IsNameChar(peekCodePoint(n))) p_ += n;
    const View name(from, p_ - from);
    has_colon = name.find(u':') != View::npos;
    return name;
  }

  View parseNmtoken() {
    const char16_t* from = p_;
    int n;
    while (p_ < end_ && IsNameChar(peekCodePoint(n))) p_ += n;
    if (p_ == from) fail(ARXPException::SYNTAX_ERR, "unexpected token found");
    return View(from, p_ - from);
  }

  // A quoted literal's contents, without interpretation.
  View parseQuoted() {
    if (atEnd()) fail(ARXPException::UNEXPECTED_EOF_ERR, "unterminated literal");
    const char16_t quote = *p_;
    if (quote != '"' && quote != '\'') fail(ARXPException::SYNTAX_ERR, "parse error");
    const char16_t* from = ++p_;
    while (p_ < end_ && *p_ != quote) ++p_;
    if (atEnd()) fail(ARXPException::UNEXPECTED_EOF_ERR, "unterminated literal");
    return View(from, p_++ - from);
  }

  // ---- XML declaration ----

  // A pseudo-attribute of the XML declaration; p_ stays put when it is not there.
  View declAttribute(const char* name) {
    const char16_t* from = p_;
    skipSpace();
    for (const char* c = name; *c; ++c) {
      if (atEnd() || *p_ != static_cast<char16_t>(*c)) {
        p_ = from;
        return View();
      }
      ++p_;
    }
    skipSpace();
    expect(u"=", ARXPException::INVALID_XML_DECL_ERR, "parse error");
    skipSpace();
    return parseQuoted();
  }

  void parseXmlDeclaration(int detected, CharReader& reader) {
    const char16_t* before = p_;
    const View version = declAttribute("version");
    if (p_ == before) fail(ARXPException::INVALID_XML_DECL_ERR, "parse error");
    Location where;
    where.file = system_id_;
    where.line = 1;
    where.column = static_cast<int>(p_ - begin_);
    checkVersionNum(X(version), &where);
    before = p_;
    if (!atEnd() && !IsSpace(*p_)) fail(ARXPException::INVALID_XML_DECL_ERR, "parse error");
    const View encoding = declAttribute("encoding");
    const bool has_encoding = p_ != before;
    if (has_encoding) {
      where.column = static_cast<int>(p_ - begin_);
      const int chosen = checkEncodingDecl(X(encoding), detected, &where);
      if (chosen != reader.encoding()) reader.select(chosen);
      before = p_;
      if (!atEnd() && !IsSpace(*p_)) fail(ARXPException::INVALID_XML_DECL_ERR, "parse error");
    }
    const View standalone = declAttribute("standalone");
    const bool has_standalone = p_ != before;
    if (has_standalone) standalone_ = checkStandalone(X(standalone), &where);
    skipSpace();
    if (!atEnd()) fail(ARXPException::INVALID_XML_DECL_ERR, "parse error");
    decl_version_ = version;
    decl_encoding_ = encoding;
    decl_standalone_ = standalone;
    has_decl_ = true;
    has_encoding_ = has_encoding;
    has_standalone_ = has_standalone;
  }

  // ---- prolog and DTD ----

  void predefine(const char16_t* name, const char16_t* value) {
    Entity& e = general_[name];
    e.name = name;
    e.value = value;
  }

  void parseProlog() {
    if (has_decl_) {
      events_.xmlDeclaration(X(decl_version_), has_encoding_ ? X(decl_encoding_) : Xstring(),
                             has_standalone_ ? X(decl_standalone_) : Xstring());
    }
    bool seen_doctype = false;
    for (;;) {
      parseMisc();
      if (lookingAt(u"<!DOCTYPE")) {
        if (seen_doctype) fail(ARXPException::SYNTAX_ERR, "unexpected token found");
        seen_doctype = true;
        parseDoctype();
        continue;
      }
      break;
    }
    if (atEnd()) fail(ARXPException::UNEXPECTED_EOF_ERR, "parse error");
    if (*p_ != '<') fail(ARXPException::SYNTAX_ERR, "unexpected token found");
  }

  // Comments, processing instructions and white space.
  void parseMisc() {
    for (;;) {
      skipSpace();
      if (lookingAt(u"<!--")) {
        parseComment();
      } else if (lookingAt(u"<?")) {
        parsePI();
      } else {
        return;
      }
    }
  }

  void parseComment() {
    p_ += 4;
    const char16_t* from = p_;
    for (;;) {
      if (end_ - p_ < 3) fail(ARXPException::UNEXPECTED_EOF_ERR, "unterminated comment");
      if (p_[0] == '-' && p_[1] == '-') {
        if (p_[2] != '>') fail(ARXPException::SYNTAX_ERR, "'--' found in comment");
        break;
      }
      ++p_;
    }
    const View text(from, p_ - from);
    p_ += 3;
    if (!in_dtd_) events_.comment(X(text));
  }

  void parsePI() {
    p_ += 2;
    const View target = parseName();
    if (target.size() == 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' &&
        (target[2] | 0x20) == 'l')
      fail(ARXPException::INVALID_XML_DECL_ERR, "xml decl must appear first line");
    const char16_t* from = p_;
    if (!skipSpace() && !lookingAt(u"?>"))
      fail(ARXPException::SYNTAX_ERR, "unterminated processing instruction");
    from = p_;
    while (!lookingAt(u"?>")) {
      if (atEnd()) fail(ARXPException::UNEXPECTED_EOF_ERR, "unterminated processing instruction");
      ++p_;
    }
    const View data(from, p_ - from);
    p_ += 2;
    if (!in_dtd_) events_.processingInstruction(X(target), X(data));
  }

  // ExternalID; with `public_only`, a PUBLIC id may lack its system literal (notations).
  bool parseExternalId(View& public_id, View& system_id, bool public_only = false) {
    if (skip(u"SYSTEM")) {
      requireSpace();
      system_id = parseQuoted();
      return true;
    }
    if (!skip(u"PUBLIC")) return false;
    requireSpace();
    public_id = parseQuoted();
    Location where;
    where.file = system_id_;
    where.line = line();
    where.column = column();
    checkPubidLiteral(X(public_id), &where);
    const char16_t* before = p_;
    const bool spaced = skipSpace();
    if (public_only && (atEnd() || (*p_ != '"' && *p_ != '\''))) {
      p_ = before;
      return true;
    }
    if (!spaced) fail(ARXPException::SYNTAX_ERR, "parse error");
    system_id = parseQuoted();
    return true;
  }

  void parseDoctype() {
    p_ += 9;
    requireSpace();
    const View name = parseName();
    View public_id, system_id;
    bool external = false;
    if (skipSpace()) external = parseExternalId(public_id, system_id);
    has_external_subset_ = external;
    events_.startDoctype(X(name), external && public_id.data() ? X(public_id) : Xstring(),
                         external ? X(system_id) : Xstring());
    skipSpace();
    in_dtd_ = true;
    if (skip(u"[")) {
      parseMarkupDeclarations();
      skipSpace();
    }
    if (atEnd()) fail(ARXPException::UNEXPECTED_EOF_ERR, "parse error");
    expect(u">", ARXPException::SYNTAX_ERR, "parse error");
    // The external subset follows the internal one, which takes precedence.
    if (external && options_.external_parameter_entities) {
      external_subset_.name = u"[dtd]";
      external_subset_.public_id = public_id;
      external_subset_.system_id = system_id;
      external_subset_.base = currentBase();
      external_subset_.external = true;
      load(external_subset_);
      pushFrame(external_subset_);
      events_.startEntity(X(external_subset_.name));
      parseMarkupDeclarations();
    }
    in_dtd_ = false;
    events_.endDoctype();
  }

  // Markup declarations up to the "]" of the internal subset, or to the end of
  // the external subset when its frame is on top.
  void parseMarkupDeclarations() {
    const bool internal = frames_.empty();
    const std::size_t outside = internal ? 0 : frames_.size() - 1;
    for (;;) {
      skipSpace();
      if (atEnd()) {
        if (frames_.size() <= outside) fail(ARXPException::UNEXPECTED_EOF_ERR, "parse error");
        const Entity& ended = *frames_.back().entity;
        popFrame();
        if (&ended != &expanded_declaration_) events_.endEntity(X(ReportedName(ended)));
        if (frames_.size() > outside || internal) continue;
        if (conditional_depth_ > 0) fail(ARXPException::UNEXPECTED_EOF_ERR, "parse error");
        return;
      }
      if (conditional_depth_ > 0 && skip(u"]]>")) {
        --conditional_depth_;
        continue;
      }
      if (*p_ == ']') {
        if (!internal || frames_.size() != outside)
          fail(ARXPException::SYNTAX_ERR, "unexpected token found");
        ++p_;
        return;
      }
      if (inExternalEntity() && lookingAt(u"<!") && !lookingAt(u"<!--") && !lookingAt(u"<![") &&
          expandDeclarationReferences())
        continue;
      if (lookingAt(u"<!--")) {
        parseComment();
      } else if (lookingAt(u"<?")) {
        parsePI();
      } else if (skip(u"<!ELEMENT")) {
        parseElementDecl();
      } else if (skip(u"<!ATTLIST")) {
        parseAttlistDecl();
      } else if (skip(u"<!ENTITY")) {
        parseEntityDecl();
      } else if (skip(u"<!NOTATION")) {
        parseNotationDecl();
      } else if (skip(u"%")) {
        parseParameterReference();
      } else if (inExternalEntity() && skip(u"<![")) {
        parseConditionalSection();
      } else {
        fail(ARXPException::SYNTAX_ERR, "unexpected token found");
      }
    }
  }

  // A parameter entity for use inside markup, read if it is external and the
  // features allow; nullptr when it is not read.
  Entity* parameterEntity(View name) {
    const auto found = parameter_.find(Units(name));
    if (found == parameter_.end())
      fail(ARXPException::INVALID_ENTITY_REF_ERR, "entity name (%s) not found", name);
    Entity& entity = found->second;
    if (entity.external) {
      if (!options_.external_parameter_entities) {
        unread_parameter_entities_ = true;
        return nullptr;
      }
      load(entity);
    }
    return &entity;
  }

  // Whether a parameter-entity reference starts at `at` (not the "%" of a
  // parameter-entity declaration).
  bool referenceAt(const char16_t* at) const {
    return *at == '%' && at + 1 < end_ && !IsSpace(at[1]);
  }

  // In external entities, parameter-entity references may stand inside a markup
  // declaration, and even bring its end. When the declaration at p_ has some, it
  // is read with them replaced (each padded with a space) and then parsed from
  // that copy; returns whether it was. A declaration that refers to an entity not
  // read is skipped.
  bool expandDeclarationReferences() {
    char16_t quote = 0;
    bool references = false;
    for (const char16_t* scan = p_ + 2; !references && scan < end_ && (quote || *scan != '>');
         ++scan) {
      if (quote) {
        if (*scan == quote) quote = 0;
      } else if (*scan == '"' || *scan == '\'') {
        quote = *scan;
      } else {
        references = referenceAt(scan);
      }
    }
    if (!references) return false;
    Units expanded;
    bool complete = true;
    bool closed = false;
    quote = 0;
    // One unit of the declaration; a ">" outside literals ends it.
    const auto take = [&](char16_t c) {
      expanded += c;
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else {
        closed = c == '>';
      }
    };
    while (!closed) {
      if (atEnd()) fail(ARXPException::UNEXPECTED_EOF_ERR, "parse error");
      if (quote || !referenceAt(p_)) {
        take(*p_++);
        continue;
      }
      ++p_;
      const View name = parseName();
      if (!skip(u";"))
        fail(ARXPException::INVALID_ENTITY_REF_ERR, "illegal parameter entity reference");
      const Entity* entity = parameterEntity(name);
      if (!entity) {
        complete = false;
        continue;
      }
      chargeExpansion(*entity);
      take(u' ');
      for (std::size_t i = 0; i < entity->value.size() && !closed; ++i) take(entity->value[i]);
      if (!closed) take(u' ');
    }
    if (!complete) return true;
    // A replacement that brings a reference again would expand without end.
    if (expanded_declaration_.in_use)
      fail(ARXPException::INVALID_ENTITY_REF_ERR, "illegal parameter entity reference");
    expanded_declaration_.value = std::move(expanded);
    pushFrame(expanded_declaration_);
    return true;
  }

  // "<![" INCLUDE or IGNORE "[": the keyword, and even the "[", may come from a
  // parameter entity.
  void parseConditionalSection() {
    skipSpace();
    Entity* keyword_entity = nullptr;
    if (skip(u"%")) {
      const View name = parseName();
      if (!skip(u";"))
        fail(ARXPException::INVALID_ENTITY_REF_ERR, "illegal parameter entity reference");
      keyword_entity = parameterEntity(name);
      if (!keyword_entity)
        fail(ARXPException::INVALID_ENTITY_REF_ERR, "illegal parameter entity reference");
      pushFrame(*keyword_entity);
      events_.startEntity(X(ReportedName(*keyword_entity)));
      skipSpace();
    }
    const Units keyword(parseName());
    skipSpace();
    if (keyword_entity && atEnd() && frames_.back().entity == keyword_entity) {
      popFrame();
      events_.endEntity(X(ReportedName(*keyword_entity)));
      skipSpace();
    }
    expect(u"[", ARXPException::SYNTAX_ERR, "parse error");
    if (keyword == u"INCLUDE") {
      ++conditional_depth_;
      return;
    }
    if (keyword != u"IGNORE") fail(ARXPException::SYNTAX_ERR, "unexpected token found");
    for (int depth = 1; depth > 0;) {
      if (atEnd()) fail(ARXPException::UNEXPECTED_EOF_ERR, "unterminated ignore section");
      if (skip(u"<![")) {
        ++depth;
      } else if (skip(u"]]>")) {
        --depth;
      } else {
        ++p_;
      }
    }
  }

  // A parameter-entity reference between declarations: the entity's declarations
  // are read. One that is not read (external with the feature off, or undeclared
  // where an unread part may declare it) is skipped, and from then on undeclared
  // general entities are no error (they may be declared there) and, unless the
  // document is standalone, later entity and attribute-list declarations are not
  // processed (the unread entity may hold declarations that take precedence).
  void parseParameterReference() {
    if (!atNameStart()) fail(ARXPException::INVALID_ENTITY_REF_ERR, "illegal parameter reference");
    const View name = parseName();
    if (!skip(u";")) fail(ARXPException::INVALID_ENTITY_REF_ERR, "illegal parameter reference");
    const auto found = parameter_.find(Units(name));
    if (found == parameter_.end()) {
      if (!has_external_subset_ && !unread_parameter_entities_)
        fail(ARXPException::INVALID_ENTITY_REF_ERR, "entity name (%s) not found", name);
      unread_parameter_entities_ = true;
      events_.skippedEntity(X(u"%" + Units(name)));
      return;
    }
    Entity& entity = found->second;
    if (entity.external) {
      if (!options_.external_parameter_entities) {
        unread_parameter_entities_ = true;
        events_.skippedEntity(X(ReportedName(entity)));
        return;
      }
      load(entity);
    }
    pushFrame(entity);
    events_.startEntity(X(ReportedName(entity)));
  }

  void endDecl() {
    skipSpace();
    if (atEnd()) fail(ARXPException::UNEXPECTED_EOF_ERR, "parse error");
    expect(u">", ARXPException::SYNTAX_ERR, "parse error");
  }

  void parseElementDecl() {
    requireSpace();
    const View name = parseName();
    requireSpace();
    const Units model = parseContentSpec();
    if (!declared_elements_.emplace(name).second)
      fail(ARXPException::SYNTAX_ERR, "element decl name (%s) already registered", name);
    endDecl();
    events_.elementDecl(X(name), X(model));
  }

  // An element declaration's content: EMPTY, ANY, mixed content or element content. The
  // model comes back without white space, as the declaration handler reports it.
  Units parseContentSpec() {
    if (skip(u"EMPTY")) return u"EMPTY";
    if (skip(u"ANY")) return u"ANY";
    if (atEnd()) fail(ARXPException::UNEXPECTED_EOF_ERR, "parse error");
    if (*p_ != '(') fail(ARXPException::SYNTAX_ERR, "unexpected token found");
    const char16_t* open = p_++;
    skipSpace();
    const bool mixed = lookingAt(u"#PCDATA");
    p_ = open;
    Units model;
    if (mixed) {
      parseMixed(model);
    } else {
      parseGroup(model, 0);
    }
    return model;
  }

  // "(#PCDATA)" or "(#PCDATA|a|b)*": with element names the group must end in "*".
  void parseMixed(Units& model) {
    ++p_;
    skipSpace();
    p_ += View(u"#PCDATA").size();
    model = u"(#PCDATA";
    bool names = false;
    for (;;) {
      skipSpace();
      if (skip(u")")) break;
      if (atEnd()) fail(ARXPException::UNEXPECTED_EOF_ERR, "parse error");
      expect(u"|", ARXPException::SYNTAX_ERR, "parse error");
      skipSpace();
      model += u'|';
      model += parseName();
      names = true;
    }
    model += u')';
    if (skip(u"*")) {
      model += u'*';
    } else if (names) {
      fail(ARXPException::SYNTAX_ERR, "parse error");
    }
  }

  // A choice "(a|b)" or a sequence "(a,b)" of content particles, each a name or a
  // nested group, with an occurrence mark; one kind of separator per group.
  void parseGroup(Units& model, int depth) {
    if (depth >= options_.max_element_depth)
      fail(ARXPException::SYNTAX_ERR, "parser stack overflow");
    ++p_;
    model += u'(';
    char16_t separator = 0;
    for (;;) {
      skipSpace();
      if (lookingAt(u"(")) {
        parseGroup(model, depth + 1);
      } else {
        model += parseName();
        parseOccurrence(model);
      }
      skipSpace();
      if (skip(u")")) break;
      if (atEnd()) fail(ARXPException::UNEXPECTED_EOF_ERR, "parse error");
      if ((*p_ != '|' && *p_ != ',') || (separator && *p_ != separator))
        fail(ARXPException::SYNTAX_ERR, "parse error");
      separator = *p_++;
      model += separator;
    }
    model += u')';
    parseOccurrence(model);
  }

  void parseOccurrence(Units& model) {
    if (!atEnd() && (*p_ == '?' || *p_ == '*' || *p_ == '+')) model += *p_++;
  }

  void parseAttlistDecl() {
    requireSpace();
    const Units element(parseName());
    auto& decls = attribute_decls_[element];
    for (;;) {
      const bool spaced = skipSpace();
      if (atEnd() || *p_ == '>') break;
      if (!spaced) fail(ARXPException::SYNTAX_ERR, "parse error");
      AttributeDecl decl;
      decl.name = parseName();
      requireSpace();
      if (skip(u"(")) {
        decl.type = u"(";
        for (;;) {
          skipSpace();
          decl.type += parseNmtoken();
          skipSpace();
          if (skip(u")")) break;
          expect(u"|", ARXPException::SYNTAX_ERR, "parse error");
          decl.type += u'|';
        }
        decl.type += u')';
      } else {
        decl.type = parseName();
        static const View kTypes[] = {u"CDATA",    u"ID",      u"IDREF",    u"IDREFS",  u"ENTITY",
                                      u"ENTITIES", u"NMTOKEN", u"NMTOKENS", u"NOTATION"};
        bool known = false;
        for (const View t : kTypes) known = known || decl.type == t;
        if (!known) fail(ARXPException::SYNTAX_ERR, "unexpected token found");
        if (decl.type == u"NOTATION") {
          requireSpace();
          expect(u"(", ARXPException::SYNTAX_ERR, "parse error");
          decl.type += u" (";
          for (;;) {
            skipSpace();
            decl.type += parseName();
            skipSpace();
            if (skip(u")")) break;
            expect(u"|", ARXPException::SYNTAX_ERR, "parse error");
            decl.type += u'|';
          }
          decl.type += u')';
        }
      }
      requireSpace();
      Units mode;
      if (skip(u"#REQUIRED")) {
        mode = u"#REQUIRED";
      } else if (skip(u"#IMPLIED")) {
        mode = u"#IMPLIED";
      } else {
        if (skip(u"#FIXED")) {
          mode = u"#FIXED";
          requireSpace();
        }
        decl.default_value = attributeValue(parseQuoted(), decl.type != u"CDATA");
        decl.has_default = true;
      }
      if (declarationsIgnored()) continue;
      events_.attributeDecl(X(element), X(decl.name), X(decl.type),
                            mode.empty() ? Xstring() : X(mode),
                            decl.has_default ? X(decl.default_value) : Xstring());
      // The first declaration of an attribute binds.
      bool seen = false;
      for (const AttributeDecl& d : decls) seen = seen || d.name == decl.name;
      if (!seen) decls.push_back(std::move(decl));
    }
    endDecl();
  }

  void parseEntityDecl() {
    requireSpace();
    const bool parameter = skip(u"%");
    if (parameter) requireSpace();
    const Units name(parseName());
    requireSpace();
    Entity entity;
    entity.name = name;
    entity.parameter = parameter;
    entity.base = currentBase();
    View public_id, system_id;
    if (parseExternalId(public_id, system_id)) {
      entity.external = true;
      entity.public_id = public_id;
      entity.system_id = system_id;
      const bool spaced = skipSpace();
      if (skip(u"NDATA")) {
        if (!spaced || parameter) fail(ARXPException::SYNTAX_ERR, "parse error");
        requireSpace();
        entity.notation = parseName();
      }
    } else {
      entity.value = entityValue(parseQuoted());
    }
    endDecl();
    if (declarationsIgnored()) return;
    auto& table = parameter ? parameter_ : general_;
    const bool predefined = !parameter && (name == u"lt" || name == u"gt" || name == u"amp" ||
                                           name == u"apos" || name == u"quot");
    if (predefined) return;
    // The first declaration of an entity binds (the internal subset, read first,
    // wins over an external entity); a later one is reported, not an error.
    if (table.count(name)) {
      const Location where = here();
      Diagnostics::warning(ARXPException::SYNTAX_ERR,
                           Message("entity decl name (%s) already registered", name), &where);
      return;
    }
    const Units reported = ReportedName(entity);
    if (!entity.notation.empty()) {
      events_.unparsedEntityDecl(X(reported), NullOr(entity.public_id, public_id.data()),
                                 X(entity.system_id), X(entity.notation));
    } else if (entity.external) {
      events_.externalEntityDecl(X(reported), NullOr(entity.public_id, public_id.data()),
                                 X(entity.system_id));
    } else {
      events_.internalEntityDecl(X(reported), X(entity.value));
    }
    table.emplace(name, std::move(entity));
  }

  // The replacement text of an entity value literal: character references are
  // replaced, general entity references kept as written (checked for form only);
  // parameter references are replaced by their text in external entities and not
  // allowed in the internal subset.
  Units entityValue(View literal) {
    Units value;
    for (std::size_t i = 0; i < literal.size();) {
      const char16_t c = literal[i];
      if (c == '%') {
        const std::size_t semi = literal.find(u';', i);
        if (!inExternalEntity() || semi == View::npos)
          fail(ARXPException::INVALID_ENTITY_REF_ERR, "illegal parameter reference");
        const View name = literal.substr(i + 1, semi - i - 1);
        checkName(name, "illegal parameter entity reference");
        i = semi + 1;
        if (const Entity* entity = parameterEntity(name)) {
          if (entity->in_use)
            fail(ARXPException::INVALID_ENTITY_REF_ERR, "recursive entity reference (%s)", name);
          chargeExpansion(*entity);
          value += entity->value;
        }
        continue;
      }
      if (c != '&') {
        value += c;
        ++i;
        continue;
      }
      const std::size_t semi = literal.find(u';', i);
      if (semi == View::npos) fail(ARXPException::INVALID_ENTITY_REF_ERR, "illegal reference");
      const View ref = literal.substr(i + 1, semi - i - 1);
      if (!ref.empty() && ref[0] == '#') {
        AppendCodePoint(value, characterReference(ref.substr(1)));
      } else {
        checkName(ref, "illegal reference");
        value += literal.substr(i, semi - i + 1);
      }
      i = semi + 1;
    }
    return value;
  }

  void checkName(View name, const char* message) {
    bool ok = !name.empty();
    for (std::size_t i = 0; ok && i < name.size(); ++i)
      ok = (i == 0 ? IsNameStart(name[i]) : IsNameChar(name[i])) ||
           (name[i] >= 0xD800 && name[i] <= 0xDFFF);
    if (!ok) fail(ARXPException::INVALID_ENTITY_REF_ERR, message);
  }

  // The code point of a character reference after its "#".
  char32_t characterReference(View ref) {
    char32_t value = 0;
    const bool hex = !ref.empty() && ref[0] == 'x';
    if (hex) ref.remove_prefix(1);
    if (ref.empty()) fail(ARXPException::INVALID_ENTITY_REF_ERR, "illegal character reference");
    for (const char16_t c : ref) {
      int digit;
      if (c >= '0' && c <= '9') {
        digit = c - '0';
      } else if (hex && c >= 'a' && c <= 'f') {
        digit = c - 'a' + 10;
      } else if (hex && c >= 'A' && c <= 'F') {
        digit = c - 'A' + 10;
      } else {
        fail(ARXPException::INVALID_ENTITY_REF_ERR, "illegal character reference");
      }
      value = value * (hex ? 16 : 10) + digit;
      if (value > 0x10FFFF) value = 0x110000;  // stays out of range
    }
    if (!IsXmlChar(value))
      fail(ARXPException::INVALID_CHAR_ERR, "illegal character reference value");
    return value;
  }

  void parseNotationDecl() {
    requireSpace();
    const View name = parseName();
    requireSpace();
    View public_id, system_id;
    if (!parseExternalId(public_id, system_id, true))
      fail(ARXPException::SYNTAX_ERR, "parse error");
    endDecl();
    events_.notationDecl(X(name), public_id.data() ? X(public_id) : Xstring(),
                         system_id.data() ? X(system_id) : Xstring());
  }

  // ---- entity expansion ----

  void pushFrame(Entity& entity) {
    if (entity.in_use)
      fail(ARXPException::INVALID_ENTITY_REF_ERR, "recursive entity reference (%s)", entity.name);
    if (static_cast<int>(frames_.size()) >= options_.max_entity_depth)
      fail(ARXPException::INVALID_ENTITY_REF_ERR, "entity nesting too deep (%s)", entity.name);
    chargeExpansion(entity);
    frames_.push_back({p_, end_, &entity, open_.size()});
    entity.in_use = true;
    p_ = entity.value.data();
    end_ = p_ + entity.value.size();
  }

  void popFrame() {
    const InputFrame frame = frames_.back();
    frames_.pop_back();
    frame.entity->in_use = false;
    p_ = frame.resume;
    end_ = frame.resume_end;
  }

  void chargeExpansion(const Entity& entity) {
    expanded_ += static_cast<long>(entity.value.size()) + 1;
    if (expanded_ > options_.max_entity_expansion)
      fail(ARXPException::INVALID_ENTITY_REF_ERR, "entity expansion limit exceeded (%s)",
           entity.name);
  }

  // Whether a reference to an undeclared entity may be skipped: the declaration
  // may be in what a non-validating parser does not read.
  bool undeclaredAllowed() const {
    return (has_external_subset_ || unread_parameter_entities_) && !standalone_;
  }

  // Whether entity and attribute-list declarations are checked but not processed:
  // they follow a parameter entity that was not read.
  bool declarationsIgnored() const { return unread_parameter_entities_ && !standalone_; }

  // ---- attribute values ----

  // Normalises an attribute value literal: white space to spaces, references
  // replaced; tokenized types collapse spaces too.
  Units attributeValue(View literal, bool tokenized) {
    Units value;
    appendAttributeText(literal, value, 0);
    return tokenized ? Collapse(value) : value;
  }

  // Drops leading and trailing spaces and reduces runs of spaces to one.
  static Units Collapse(const Units& value) {
    Units collapsed;
    for (const char16_t c : value) {
      if (c == ' ' && (collapsed.empty() || collapsed.back() == ' ')) continue;
      collapsed += c;
    }
    if (!collapsed.empty() && collapsed.back() == ' ') collapsed.pop_back();
    return collapsed;
  }

  void appendAttributeText(View text, Units& out, int depth) {
    for (std::size_t i = 0; i < text.size();) {
      const char16_t c = text[i];
      if (c == '<') fail(ARXPException::SYNTAX_ERR, "unexpected token found");
      if (c != '&') {
        out += IsSpace(c) ? u' ' : c;
        ++i;
        continue;
      }
      const std::size_t semi = text.find(u';', i);
      if (semi == View::npos) fail(ARXPException::INVALID_ENTITY_REF_ERR, "illegal reference");
      const View ref = text.substr(i + 1, semi - i - 1);
      i = semi + 1;
      if (!ref.empty() && ref[0] == '#') {
        AppendCodePoint(out, characterReference(ref.substr(1)));
        continue;
      }
      checkName(ref, "illegal entity reference");
      const auto found = general_.find(Units(ref));
      if (found == general_.end()) {
        if (undeclaredAllowed()) continue;
        fail(ARXPException::INVALID_ENTITY_REF_ERR, "entity name (%s) not found", ref);
      }
      Entity& entity = found->second;
      if (entity.external) fail(ARXPException::INVALID_ENTITY_REF_ERR, "illegal entity reference");
      if (entity.in_use)
        fail(ARXPException::INVALID_ENTITY_REF_ERR, "recursive entity reference (%s)", ref);
      if (depth >= options_.max_entity_depth)
        fail(ARXPException::INVALID_ENTITY_REF_ERR, "entity nesting too deep (%s)", ref);
      chargeExpansion(entity);
      entity.in_use = true;
      appendAttributeText(entity.value, out, depth + 1);
      entity.in_use = false;
    }
  }

  // ---- content ----

  void parseContent() {
    if (!lookingAt(u"<") || atNameStartAfter(1) == false)
      fail(ARXPException::SYNTAX_ERR, "unexpected token found");
    parseStartTag();
    while (!open_.empty()) {
      if (atEnd()) {
        if (frames_.empty())
          fail(ARXPException::UNBALANCED_TAG_ERR,
               Diagnostics::format("tag stack abnormal end : sp = %d",
                                   static_cast<int>(open_.size())));
        if (open_.size() != frames_.back().tag_depth)
          fail(ARXPException::UNBALANCED_TAG_ERR, "unbalanced end tag (%s)", open_.back().qname);
        const Units name = frames_.back().entity->name;
        popFrame();
        events_.endEntity(X(name));
        continue;
      }
      const char16_t c = *p_;
      if (c == '<') {
        const char16_t next = end_ - p_ >= 2 ? p_[1] : 0;
        if (next == '/') {
          parseEndTag();
        } else if (next == '!' && lookingAt(u"<!--")) {
          parseComment();
        } else if (next == '!' && lookingAt(u"<![CDATA[")) {
          parseCData();
        } else if (next == '?') {
          parsePI();
        } else if (atNameStartAfter(1)) {
          parseStartTag();
        } else {
          fail(ARXPException::SYNTAX_ERR, "unexpected token found");
        }
      } else if (c == '&') {
        parseContentReference();
      } else {
        parseCharData();
      }
    }
  }

  bool atNameStartAfter(std::ptrdiff_t offset) {
    if (end_ - p_ <= offset) return false;
    p_ += offset;
    const bool yes = atNameStart();
    p_ -= offset;
    return yes;
  }

  void parseCharData() {
    const char16_t* from = p_;
    for (;;) {
      p_ = FindTextEnd(p_, end_);
      if (p_ == end_ || *p_ != ']') break;
      if (lookingAt(u"]]>")) fail(ARXPException::SYNTAX_ERR, "unexpected token found");
      ++p_;
    }
    events_.characters(X(View(from, p_ - from)));
  }

  void parseCData() {
    p_ += 9;
    const char16_t* from = p_;
    while (!lookingAt(u"]]>")) {
      if (atEnd()) fail(ARXPException::UNEXPECTED_EOF_ERR, "unterminated cdsect");
      ++p_;
    }
    const View text(from, p_ - from);
    p_ += 3;
    events_.startCDATA();
    events_.characters(X(text));
    events_.endCDATA();
  }

  void parseContentReference() {
    ++p_;
    if (skip(u"#")) {
      const char16_t* from = p_;
      // Any number of digits (leading zeros included); the value saturates.
      while (p_ < end_ && IsAsciiAlnum(*p_)) ++p_;
      if (!skip(u";")) fail(ARXPException::INVALID_ENTITY_REF_ERR, "illegal character reference");
      Units text;
      AppendCodePoint(text, characterReference(View(from, p_ - 1 - from)));
      events_.characters(X(text));
      return;
    }
    if (!atNameStart()) fail(ARXPException::INVALID_ENTITY_REF_ERR, "illegal reference");
    const View name = parseName();
    if (!skip(u";")) fail(ARXPException::INVALID_ENTITY_REF_ERR, "illegal entity reference");
    const auto found = general_.find(Units(name));
    if (found == general_.end()) {
      if (!undeclaredAllowed())
        fail(ARXPException::INVALID_ENTITY_REF_ERR, "entity name (%s) not found", name);
      events_.skippedEntity(X(name));
      return;
    }
    Entity& entity = found->second;
    if (!entity.notation.empty())
      fail(ARXPException::INVALID_ENTITY_REF_ERR, "illegal entity reference");
    if (entity.external) {
      if (!options_.external_general_entities) {
        events_.skippedEntity(X(name));
        return;
      }
      load(entity);
    }
    pushFrame(entity);
    events_.startEntity(X(entity.name));
  }

  void parseStartTag() {
    ++p_;
    bool qualified;
    const View qname = parseName(qualified);
    attributes_.clear();
    if (!normalized_.empty()) normalized_.clear();
    for (;;) {
      const bool spaced = skipSpace();
      if (atEnd()) fail(ARXPException::UNEXPECTED_EOF_ERR, "parse error");
      if (*p_ == '>' || lookingAt(u"/>")) break;
      if (!spaced) fail(ARXPException::SYNTAX_ERR, "unexpected token found");
      bool prefixed;
      const View name = parseName(prefixed);
      skipSpace();
      expect(u"=", ARXPException::SYNTAX_ERR, "parse error");
      skipSpace();
      bool plain;
      const View literal = parseAttributeLiteral(plain);
      for (const RawAttribute& seen : attributes_)
        if (SameName(seen.qname, name))
          fail(ARXPException::SYNTAX_ERR, "duplicate attribute (%s)", name);
      attributes_.emplace_back(name, plain ? literal : keep(attributeValue(literal, false)), kCdata,
                               true, prefixed);
    }
    const bool empty = skip(u"/>");
    if (!empty) ++p_;
    completeAttributes(qname);
    if (static_cast<int>(open_.size()) >= options_.max_element_depth)
      fail(ARXPException::SYNTAX_ERR, "parser stack overflow");
    open_.push_back({qname, bindings_.size(), {}, {}, false});
    declareNamespaces();
    reportStartElement(qualified);
    if (empty) closeElement();
  }

  // A start tag's attribute value literal, found in one pass that also tells
  // whether it is `plain`: most values hold no reference and no white space but
  // spaces, and are then their own normalised value.
  View parseAttributeLiteral(bool& plain) {
    if (atEnd()) fail(ARXPException::UNEXPECTED_EOF_ERR, "unterminated literal");
    const char16_t quote = *p_;
    if (quote != '"' && quote != '\'') fail(ARXPException::SYNTAX_ERR, "parse error");
    // The units below 0x40 that normalisation changes or rejects.
    constexpr std::uint64_t kSpecial =
        1ull << '&' | 1ull << '<' | 1ull << '\t' | 1ull << '\n' | 1ull << '\r';
    const char16_t* from = ++p_;
    std::uint64_t seen = 0;
    for (; p_ < end_ && *p_ != quote; ++p_)
      if (*p_ < 0x40) seen |= 1ull << *p_;
    if (atEnd()) fail(ARXPException::UNEXPECTED_EOF_ERR, "unterminated literal");
    plain = (seen & kSpecial) == 0;
    return View(from, p_++ - from);
  }

  // Holds a normalised value until the start tag has been delivered.
  View keep(Units&& value) { return normalized_.emplace_back(std::move(value)); }

  // Adds declared defaults and normalises tokenized types.
  void completeAttributes(View element) {
    if (attribute_decls_.empty()) return;
    const auto decls = attribute_decls_.find(Units(element));
    if (decls == attribute_decls_.end()) return;
    for (RawAttribute& a : attributes_) {
      for (const AttributeDecl& d : decls->second) {
        if (d.name != a.qname) continue;
        a.type = d.type;
        if (a.type != kCdata) a.value = keep(Collapse(Units(a.value)));
      }
    }
    for (const AttributeDecl& d : decls->second) {
      if (!d.has_default) continue;
      bool present = false;
      for (const auto& a : attributes_) present = present || a.qname == d.name;
      if (!present)
        attributes_.emplace_back(d.name, d.default_value, d.type, false,
                                 d.name.find(u':') != Units::npos);
    }
  }

  void declareNamespaces() {
    if (!options_.namespaces) return;
    for (const RawAttribute& a : attributes_) {
      View prefix;
      if (a.declares == Declares::kDefaultNamespace) {
        prefix = View();
      } else if (a.declares == Declares::kPrefix) {
        prefix = a.qname.substr(kXmlnsPrefixed.size());
        checkNcName(prefix, a.qname);
        if (a.value.empty())
          fail(ARXPException::SYNTAX_ERR, "namespace prefix (%s) bound to empty name", prefix);
        if (prefix == kXmlns || (prefix == kXml) != (a.value == kXmlNamespace))
          fail(ARXPException::SYNTAX_ERR, "illegal namespace binding (%s)", a.qname);
      } else {
        continue;
      }
      if (a.value == kXmlnsNamespace)
        fail(ARXPException::SYNTAX_ERR, "illegal namespace binding (%s)", a.qname);
      bindings_.push_back({Units(prefix), Units(a.value)});
      events_.startPrefixMapping(X(prefix), X(a.value));
    }
  }

  void checkNcName(View name, View qname) {
    if (name.empty() || name.find(u':') != View::npos || !IsNameStart(name[0]))
      fail(ARXPException::SYNTAX_ERR, "illegal qualified name (%s)", qname);
  }

  // Splits a qualified name (`prefixed`: it holds a colon) and finds its
  // namespace; `element` names use the default namespace. (Small, to be inlined
  // where names are delivered.)
  void resolve(View qname, bool prefixed, bool element, View& uri, View& local, bool& has_uri) {
    has_uri = false;
    if (prefixed) {
      resolvePrefixed(qname, uri, local, has_uri);
    } else {
      local = qname;
      if (element && !bindings_.empty()) defaultNamespace(uri, has_uri);
    }
  }

  void defaultNamespace(View& uri, bool& has_uri) const {
    for (auto b = bindings_.rbegin(); b != bindings_.rend(); ++b) {
      if (!b->prefix.empty()) continue;
      uri = b->uri;
      has_uri = !uri.empty();
      return;
    }
  }

  void resolvePrefixed(View qname, View& uri, View& local, bool& has_uri) {
    const std::size_t colon = qname.find(u':');
    const View prefix = qname.substr(0, colon);
    local = qname.substr(colon + 1);
    checkNcName(prefix, qname);
    checkNcName(local, qname);
    if (prefix == kXml) {
      uri = kXmlNamespace;
      has_uri = true;
      return;
    }
    if (prefix == kXmlns) {
      uri = kXmlnsNamespace;
      has_uri = true;
      return;
    }
    for (auto b = bindings_.rbegin(); b != bindings_.rend(); ++b) {
      if (b->prefix != prefix) continue;
      uri = b->uri;
      has_uri = true;
      return;
    }
    fail(ARXPException::SYNTAX_ERR, "namespace prefix (%s) not declared", prefix);
  }

  // `prefixed`: the element's name holds a colon.
  void reportStartElement(bool prefixed) {
    const View qname = open_.back().qname;
    parsed_.clear();
    if (!options_.namespaces) {
      for (const RawAttribute& a : attributes_) addParsed(a, Xstring(), Xstring());
      events_.startElement(Xstring(), Xstring(), X(qname), parsed_);
      return;
    }
    for (const RawAttribute& a : attributes_) {
      View uri, local;
      bool has_uri;
      if (a.declares == Declares::kDefaultNamespace) {
        uri = kXmlnsNamespace;
        local = a.qname;
        has_uri = true;
      } else {
        resolve(a.qname, a.prefixed, false, uri, local, has_uri);
      }
      // Only names in a namespace can clash beyond the qualified names checked
      // in the tag.
      if (has_uri) {
        for (const ParsedAttribute& seen : parsed_) {
          if (!seen.uri.isNull() && SameName(View(seen.uri.data(), seen.uri.length()), uri) &&
              SameName(View(seen.local.data(), seen.local.length()), local))
            fail(ARXPException::SYNTAX_ERR, "duplicate attribute (%s)", a.qname);
        }
      }
      addParsed(a, has_uri ? X(uri) : Xstring(), X(local));
    }
    OpenElement& element = open_.back();
    resolve(qname, prefixed, true, element.uri, element.local, element.has_uri);
    events_.startElement(element.has_uri ? X(element.uri) : Xstring(), X(element.local), X(qname),
                         parsed_);
  }

  void parseEndTag() {
    p_ += 2;
    const View name = parseEndTagName();
    skipSpace();
    if (atEnd()) fail(ARXPException::UNEXPECTED_EOF_ERR, "parse error");
    expect(u">", ARXPException::SYNTAX_ERR, "parse error");
    if (open_.empty() || (!frames_.empty() && open_.size() <= frames_.back().tag_depth))
      fail(ARXPException::UNBALANCED_TAG_ERR, "unbalanced end tag (%s)", name);
    if (name != open_.back().qname) {
      Xstring message = Message("end tag (%s) not match to start tag (", name);
      message += X(open_.back().qname);
      message += ")";
      fail(ARXPException::UNBALANCED_TAG_ERR, message);
    }
    closeElement();
  }

  // Mostly the name of the open element: recognised by comparing, without
  // classifying its characters again.
  View parseEndTagName() {
    if (!open_.empty()) {
      const View open = open_.back().qname;
      const std::size_t n = open.size();
      if (static_cast<std::size_t>(end_ - p_) > n && (p_[n] == '>' || IsSpace(p_[n])) &&
          SameName(View(p_, n), open)) {
        const View name(p_, n);
        p_ += n;
        return name;
      }
    }
    return parseName();
  }

  void closeElement() {
    const OpenElement& element = open_.back();
    if (options_.namespaces) {
      events_.endElement(element.has_uri ? X(element.uri) : Xstring(), X(element.local),
                         X(element.qname));
      while (bindings_.size() > element.bindings) {
        events_.endPrefixMapping(X(bindings_.back().prefix));
        bindings_.pop_back();
      }
    } else {
      events_.endElement(Xstring(), Xstring(), X(element.qname));
    }
    open_.pop_back();
  }

  // Views into the document, an entity's replacement, a declaration or
  // normalized_.
  struct RawAttribute {
    RawAttribute(View qname, View value, View type, bool specified, bool prefixed)
        : qname(qname),
          value(value),
          type(type),
          specified(specified),
          prefixed(prefixed),
          declares(DeclarationOf(qname, prefixed)) {}
    View qname, value, type;
    bool specified;
    bool prefixed;  // the name holds a colon
    Declares declares;
  };

  void addParsed(const RawAttribute& a, Xstring&& uri, Xstring&& local) {
    parsed_.push_back({X(a.qname), std::move(uri), std::move(local), X(a.value), X(a.type),
                       a.specified, a.declares != Declares::kNothing});
  }

  const ParseOptions& options_;
  ByteInput& input_;
  ParseEvents& events_;
  Xstring system_id_;

  DocumentText own_text_;  // the text when the events do not keep it
  DocumentText& text_;     // the whole document in units
  const char16_t* begin_ = nullptr;
  const char16_t* p_ = nullptr;
  const char16_t* end_ = nullptr;
  mutable const char16_t* scanned_ = nullptr;  // line counting has reached here
  mutable const char16_t* line_start_ = nullptr;
  mutable int line_ = 1;

  Units decl_version_, decl_encoding_, decl_standalone_;
  bool has_decl_ = false, has_encoding_ = false, has_standalone_ = false;
  bool standalone_ = false;
  bool in_dtd_ = false;
  bool has_external_subset_ = false;
  bool unread_parameter_entities_ = false;

  std::unordered_map<Units, Entity> general_, parameter_;
  std::unordered_map<Units, std::vector<AttributeDecl>> attribute_decls_;
  std::unordered_set<Units> declared_elements_;
  long expanded_ = 0;

  std::vector<InputFrame> frames_;
  Entity external_subset_;
  Entity expanded_declaration_;  // a declaration of an external entity, references replaced
  int conditional_depth_ = 0;    // INCLUDE sections open
  std::vector<OpenElement> open_;
  std::deque<Binding> bindings_;  // never moved: open elements hold views into them
  std::vector<RawAttribute> attributes_;
  std::deque<Units> normalized_;  // values that differ from their literal; never moved
  std::vector<ParsedAttribute> parsed_;
};

}  // namespace

DocumentParser::DocumentParser(const ParseOptions& options) : options_(options) {}
DocumentParser::~DocumentParser() = default;

void DocumentParser::parse(ByteInput& input, ParseEvents& events) {
  Scanner scanner(options_, input, events);
  scanner.run();
}

}  // namespace arxp
