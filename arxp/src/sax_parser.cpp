// SAXParser: delivers the parser core's events to the SAX2 handlers.
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "arxp/diagnostics.h"
#include "arxp/encoding.h"
#include "arxp/input.h"
#include "arxp/parser.h"

namespace arxp {
namespace {

class ParsedAttributes final : public Attributes {
 public:
  std::vector<const ParsedAttribute*> list;

  int getIndex(const Xstring& qname) const override {
    for (std::size_t i = 0; i < list.size(); ++i)
      if (list[i]->qname == qname) return static_cast<int>(i);
    return -1;
  }
  int getIndex(const Xstring& uri, const Xstring& local) const override {
    for (std::size_t i = 0; i < list.size(); ++i)
      if (list[i]->local == local && SameUri(list[i]->uri, uri)) return static_cast<int>(i);
    return -1;
  }
  int getLength() const override { return static_cast<int>(list.size()); }
  Xstring getLocalName(int i) const override { return valid(i) ? list[i]->local : Xstring(); }
  Xstring getQName(int i) const override { return valid(i) ? list[i]->qname : Xstring(); }
  Xstring getType(int i) const override { return valid(i) ? list[i]->type : Xstring(); }
  Xstring getType(const Xstring& qname) const override { return getType(getIndex(qname)); }
  Xstring getURI(int i) const override { return valid(i) ? list[i]->uri : Xstring(); }
  Xstring getValue(int i) const override { return valid(i) ? list[i]->value : Xstring(); }
  Xstring getValue(const Xstring& qname) const override { return getValue(getIndex(qname)); }
  Xstring getValue(const Xstring& uri, const Xstring& local) const override {
    return getValue(getIndex(uri, local));
  }

 private:
  // An empty URI stands for no namespace.
  static bool SameUri(const Xstring& a, const Xstring& b) {
    return (a.isNull() ? 0 : a.length()) == 0 ? (b.isNull() || b.length() == 0) : a == b;
  }
  bool valid(int i) const { return i >= 0 && i < static_cast<int>(list.size()); }
};

class PositionLocator final : public Locator {
 public:
  const ParsePosition* position = nullptr;
  Xstring public_id;

  int getColumnNumber() const override { return position ? position->column() : 0; }
  int getLineNumber() const override { return position ? position->line() : 0; }
  const Xstring& getPublicId() const override { return public_id; }
  const Xstring& getSystemId() const override {
    return position ? position->systemId() : Xstring::Null;
  }
};

}  // namespace

// Turns the core's events into handler calls, and the library's reports into
// error-handler calls. An exception out of a handler ends the parse with the
// report "parser catch user throw (%s)".
class SAXParser::Bridge final : public ParseEvents, public ReportListener, public EntityOpener {
 public:
  Bridge(SAXParser& parser) : parser_(parser), previous_(Diagnostics::listener()) {
    lexical_ = static_cast<LexicalHandler*>(parser.propertyValue(sax_names::kLexicalHandler));
    decl_ = static_cast<DeclHandler*>(parser.propertyValue(sax_names::kDeclHandler));
    prefixes_ = parser.Parser::getFeature(sax_names::kNamespacePrefixes);
    namespaces_ = parser.Parser::getFeature(sax_names::kNamespaces);
    Diagnostics::setListener(this);
  }
  ~Bridge() override { Diagnostics::setListener(previous_); }

  void onReport(int severity, int code, const Xstring& message, const Location* where) override {
    ErrorHandler* handler = parser_.error_;
    if (!handler) return;
    const SAXParseException exception(code, message, locator_.public_id,
                                      where ? where->file : Xstring::Null, where ? where->line : 0,
                                      where ? where->column : 0);
    user([&] {
      if (severity == kSeverityWarning) {
        handler->warning(exception);
      } else if (severity == kSeverityError) {
        handler->error(exception);
      } else {
        handler->fatalError(exception);
      }
    });
  }

  // The entity resolver's source for an external entity, when it names one.
  std::unique_ptr<ByteInput> open(const Xstring& public_id, const Xstring&,
                                  const Xstring& resolved_system_id) override {
    EntityResolver* resolver = parser_.resolver_;
    if (!resolver) return nullptr;
    std::unique_ptr<InputSource> source;
    user([&] { source.reset(resolver->resolveEntity(public_id, resolved_system_id)); });
    if (!source) return nullptr;
    std::vector<char> path(source->getSystemId().mbcsCapacity(osEncoding()));
    source->getSystemId().os_str(path.data());
    return std::make_unique<ByteInput>(path.data());
  }

  void setPosition(const ParsePosition& position) override {
    locator_.position = &position;
    if (ContentHandler* h = parser_.content_) user([&] { h->setDocumentLocator(&locator_); });
  }
  void startDocument() override {
    if (ContentHandler* h = parser_.content_) user([&] { h->startDocument(); });
  }
  void endDocument() override {
    if (ContentHandler* h = parser_.content_) user([&] { h->endDocument(); });
  }
  void startDoctype(const Xstring& name, const Xstring& pub, const Xstring& sys) override {
    if (lexical_) user([&] { lexical_->startDTD(name, pub, sys); });
  }
  void endDoctype() override {
    if (lexical_) user([&] { lexical_->endDTD(); });
  }
  void elementDecl(const Xstring& name, const Xstring& model) override {
    if (decl_) user([&] { decl_->elementDecl(name, model); });
  }
  void attributeDecl(const Xstring& element, const Xstring& name, const Xstring& type,
                     const Xstring& mode, const Xstring& value) override {
    if (decl_) user([&] { decl_->attributeDecl(element, name, type, mode, value); });
  }
  void internalEntityDecl(const Xstring& name, const Xstring& value) override {
    if (decl_) user([&] { decl_->internalEntityDecl(name, value); });
  }
  void externalEntityDecl(const Xstring& name, const Xstring& pub, const Xstring& sys) override {
    if (decl_) user([&] { decl_->externalEntityDecl(name, pub, sys); });
  }
  void unparsedEntityDecl(const Xstring& name, const Xstring& pub, const Xstring& sys,
                          const Xstring& notation) override {
    if (DTDHandler* h = parser_.dtd_)
      user([&] { h->unparsedEntityDecl(name, pub, sys, notation); });
  }
  void notationDecl(const Xstring& name, const Xstring& pub, const Xstring& sys) override {
    if (DTDHandler* h = parser_.dtd_) user([&] { h->notationDecl(name, pub, sys); });
  }
  void startPrefixMapping(const Xstring& prefix, const Xstring& uri) override {
    if (ContentHandler* h = parser_.content_) user([&] { h->startPrefixMapping(prefix, uri); });
  }
  void endPrefixMapping(const Xstring& prefix) override {
    if (ContentHandler* h = parser_.content_) user([&] { h->endPrefixMapping(prefix); });
  }
  void startElement(const Xstring& uri, const Xstring& local, const Xstring& qname,
                    const std::vector<ParsedAttribute>& attributes) override {
    ContentHandler* h = parser_.content_;
    if (!h) return;
    attributes_.list.clear();
    for (const ParsedAttribute& a : attributes)
      if (!a.is_xmlns || prefixes_ || !namespaces_) attributes_.list.push_back(&a);
    user([&] { h->startElement(uri, local, qname, attributes_); });
  }
  void endElement(const Xstring& uri, const Xstring& local, const Xstring& qname) override {
    if (ContentHandler* h = parser_.content_) user([&] { h->endElement(uri, local, qname); });
  }
  void characters(const Xstring& text) override {
    if (ContentHandler* h = parser_.content_)
      user([&] { h->characters(text.data(), 0, text.length()); });
  }
  void startCDATA() override {
    if (lexical_) user([&] { lexical_->startCDATA(); });
  }
  void endCDATA() override {
    if (lexical_) user([&] { lexical_->endCDATA(); });
  }
  void comment(const Xstring& text) override {
    if (lexical_) user([&] { lexical_->comment(text.data(), 0, text.length()); });
  }
  void processingInstruction(const Xstring& target, const Xstring& data) override {
    if (ContentHandler* h = parser_.content_) user([&] { h->processingInstruction(target, data); });
  }
  void startEntity(const Xstring& name) override {
    if (lexical_) user([&] { lexical_->startEntity(name); });
  }
  void endEntity(const Xstring& name) override {
    if (lexical_) user([&] { lexical_->endEntity(name); });
  }
  void skippedEntity(const Xstring& name) override {
    if (ContentHandler* h = parser_.content_) user([&] { h->skippedEntity(name); });
  }

 private:
  // The call is taken by reference: copying its closure costs more than the call.
  template <typename Call>
  void user(const Call& call) {
    try {
      call();
    } catch (const ARXPException& e) {
      userThrow(e.getCode(), e.getMessage());
    } catch (const std::exception& e) {
      userThrow(ARXPException::INTERNAL_ERR, Xstring(e.what()));
    } catch (...) {
      userThrow(ARXPException::INTERNAL_ERR, Xstring("unknown exception"));
    }
  }

  [[noreturn]] void userThrow(int code, const Xstring& what) {
    Diagnostics::setListener(previous_);  // the handler does not hear of its own throw
    Xstring message("parser catch user throw (");
    message += what;
    message += ")\n";
    Diagnostics::error(code, message);
  }

  SAXParser& parser_;
  ReportListener* previous_;
  LexicalHandler* lexical_ = nullptr;
  DeclHandler* decl_ = nullptr;
  bool prefixes_ = false;
  bool namespaces_ = true;
  PositionLocator locator_;
  ParsedAttributes attributes_;
};

SAXParser::SAXParser() : Parser(SAX_PARSER) {}
SAXParser::SAXParser(const SAXParser& other) = default;
SAXParser& SAXParser::operator=(const SAXParser& other) = default;
SAXParser::~SAXParser() = default;

bool SAXParser::getFeature(const Xstring& name) const { return Parser::getFeature(name); }
void SAXParser::setFeature(const Xstring& name, bool value) { Parser::setFeature(name, value); }
void* SAXParser::getProperty(const Xstring& name) const { return propertyValue(name); }
void SAXParser::setProperty(const Xstring& name, void* value) { setPropertyValue(name, value); }

void SAXParser::parse(InputSource& input) {
  Bridge bridge(*this);
  run(input, bridge, &bridge);
}

void SAXParser::parse(const Xstring& system_id) {
  InputSource input(system_id);
  parse(input);
}

void SAXParser::parseBuffer(const void* data, std::size_t size, const Xstring& name) {
  Bridge bridge(*this);
  run(data, size, name, bridge, &bridge);
}

}  // namespace arxp
