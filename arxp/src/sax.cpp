#include "arxp/sax.h"

namespace arxp {

InputSource::InputSource() = default;
InputSource::InputSource(const char* system_id) : system_id_(system_id) {}
InputSource::InputSource(const Xstring& system_id) : system_id_(system_id) {}
InputSource::InputSource(const InputSource&) = default;
InputSource& InputSource::operator=(const InputSource&) = default;
InputSource::~InputSource() = default;

namespace {
Xstring Shown(const char* kind, int code) {
  Xstring text(kind);
  text += ARXPException::codeName(code);
  text += ">";
  return text;
}
}  // namespace

SAXException::SAXException(int code, const Xstring& message) : ARXPException(code, message) {}
Xstring SAXException::toString() const { return Shown("<SAXException::", getCode()); }

SAXParseException::SAXParseException(int code, const Xstring& message, const Xstring& public_id,
                                     const Xstring& system_id, int line, int column)
    : SAXException(code, message),
      public_id_(public_id),
      system_id_(system_id),
      line_(line),
      column_(column) {}
Xstring SAXParseException::toString() const { return Shown("<SAXParseException::", getCode()); }

SAXNotRecognizedException::SAXNotRecognizedException(const Xstring& message)
    : SAXException(FEATURE_NOT_RECOGNIZED_ERR, message) {}
Xstring SAXNotRecognizedException::toString() const { return "<SAXNotRecognizedException>"; }

SAXNotSupportedException::SAXNotSupportedException(const Xstring& message)
    : SAXException(FEATURE_NOT_SUPPORTED_ERR, message) {}
Xstring SAXNotSupportedException::toString() const { return "<SAXNotSupportedException>"; }

Locator::~Locator() = default;
Attributes::~Attributes() = default;
ContentHandler::~ContentHandler() = default;
DTDHandler::~DTDHandler() = default;
EntityResolver::~EntityResolver() = default;
ErrorHandler::~ErrorHandler() = default;
LexicalHandler::~LexicalHandler() = default;
DeclHandler::~DeclHandler() = default;
XMLReader::~XMLReader() = default;
XMLFilter::~XMLFilter() = default;

DefaultHandler::~DefaultHandler() = default;
void DefaultHandler::characters(const char16_t*, int, int) {}
void DefaultHandler::endDocument() {}
void DefaultHandler::endElement(const Xstring&, const Xstring&, const Xstring&) {}
void DefaultHandler::endPrefixMapping(const Xstring&) {}
void DefaultHandler::ignorableWhiteSpace(const char16_t*, int, int) {}
void DefaultHandler::processingInstruction(const Xstring&, const Xstring&) {}
void DefaultHandler::setDocumentLocator(const Locator*) {}
void DefaultHandler::skippedEntity(const Xstring&) {}
void DefaultHandler::startDocument() {}
void DefaultHandler::startElement(const Xstring&, const Xstring&, const Xstring&,
                                  const Attributes&) {}
void DefaultHandler::startPrefixMapping(const Xstring&, const Xstring&) {}
void DefaultHandler::notationDecl(const Xstring&, const Xstring&, const Xstring&) {}
void DefaultHandler::unparsedEntityDecl(const Xstring&, const Xstring&, const Xstring&,
                                        const Xstring&) {}
InputSource* DefaultHandler::resolveEntity(const Xstring&, const Xstring&) { return nullptr; }
void DefaultHandler::error(const SAXParseException&) {}
void DefaultHandler::fatalError(const SAXParseException&) {}
void DefaultHandler::warning(const SAXParseException&) {}

}  // namespace arxp
