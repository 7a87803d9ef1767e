// The SAX2 interfaces of the library: input sources, handlers, attributes, the
// locator, the reader interface and the SAX exceptions.
#pragma once

#include "arxp/exception.h"
#include "arxp/export.h"
#include "arxp/xstring.h"

namespace arxp {

class ARXP_EXPORT InputSource {
 public:
  InputSource();
  // A file name in the OS encoding.
  explicit InputSource(const char* system_id);
  explicit InputSource(const Xstring& system_id);
  InputSource(const InputSource&);
  InputSource& operator=(const InputSource&);
  virtual ~InputSource();

  const Xstring& getSystemId() const { return system_id_; }
  const Xstring& getPublicId() const { return public_id_; }
  const Xstring& getEncoding() const { return encoding_; }
  void setSystemId(const Xstring& id) { system_id_ = id; }
  void setPublicId(const Xstring& id) { public_id_ = id; }
  void setEncoding(const Xstring& encoding) { encoding_ = encoding; }

 private:
  Xstring system_id_, public_id_, encoding_;
};

class ARXP_EXPORT SAXException : public ARXPException {
 public:
  SAXException(int code, const Xstring& message);
  // "<SAXException::" followed by the code's name and ">".
  Xstring toString() const override;
};

class ARXP_EXPORT SAXParseException : public SAXException {
 public:
  SAXParseException(int code, const Xstring& message, const Xstring& public_id,
                    const Xstring& system_id, int line, int column);
  const Xstring& getPublicId() const { return public_id_; }
  const Xstring& getSystemId() const { return system_id_; }
  int getLineNumber() const { return line_; }
  int getColumnNumber() const { return column_; }
  // "<SAXParseException::" followed by the code's name and ">".
  Xstring toString() const override;

 private:
  Xstring public_id_, system_id_;
  int line_, column_;
};

// A feature or property name outside the parser's table (FEATURE_NOT_RECOGNIZED_ERR).
class ARXP_EXPORT SAXNotRecognizedException : public SAXException {
 public:
  explicit SAXNotRecognizedException(const Xstring& message);
  Xstring toString() const override;  // "<SAXNotRecognizedException>"
};

// A refused read or change of a feature or property (FEATURE_NOT_SUPPORTED_ERR).
class ARXP_EXPORT SAXNotSupportedException : public SAXException {
 public:
  explicit SAXNotSupportedException(const Xstring& message);
  Xstring toString() const override;  // "<SAXNotSupportedException>"
};

class ARXP_EXPORT Locator {
 public:
  virtual ~Locator();
  virtual int getColumnNumber() const = 0;
  virtual int getLineNumber() const = 0;
  virtual const Xstring& getPublicId() const = 0;
  virtual const Xstring& getSystemId() const = 0;
};

// The attributes of one start tag; indexes from 0, -1 for a name not present.
// Absent strings are null.
class ARXP_EXPORT Attributes {
 public:
  virtual ~Attributes();
  virtual int getIndex(const Xstring& qname) const = 0;
  virtual int getIndex(const Xstring& uri, const Xstring& local) const = 0;
  virtual int getLength() const = 0;
  virtual Xstring getLocalName(int index) const = 0;
  virtual Xstring getQName(int index) const = 0;
  virtual Xstring getType(int index) const = 0;
  virtual Xstring getType(const Xstring& qname) const = 0;
  virtual Xstring getURI(int index) const = 0;
  virtual Xstring getValue(int index) const = 0;
  virtual Xstring getValue(const Xstring& qname) const = 0;
  virtual Xstring getValue(const Xstring& uri, const Xstring& local) const = 0;
};

class ARXP_EXPORT ContentHandler {
 public:
  virtual ~ContentHandler();
  virtual void characters(const char16_t* ch, int start, int length) = 0;
  virtual void endDocument() = 0;
  virtual void endElement(const Xstring& uri, const Xstring& local, const Xstring& qname) = 0;
  virtual void endPrefixMapping(const Xstring& prefix) = 0;
  virtual void ignorableWhiteSpace(const char16_t* ch, int start, int length) = 0;
  virtual void processingInstruction(const Xstring& target, const Xstring& data) = 0;
  virtual void setDocumentLocator(const Locator* locator) = 0;
  virtual void skippedEntity(const Xstring& name) = 0;
  virtual void startDocument() = 0;
  virtual void startElement(const Xstring& uri, const Xstring& local, const Xstring& qname,
                            const Attributes& attributes) = 0;
  virtual void startPrefixMapping(const Xstring& prefix, const Xstring& uri) = 0;
};

class ARXP_EXPORT DTDHandler {
 public:
  virtual ~DTDHandler();
  virtual void notationDecl(const Xstring& name, const Xstring& public_id,
                            const Xstring& system_id) = 0;
  virtual void unparsedEntityDecl(const Xstring& name, const Xstring& public_id,
                                  const Xstring& system_id, const Xstring& notation) = 0;
};

class ARXP_EXPORT EntityResolver {
 public:
  virtual ~EntityResolver();
  // The source to read an external entity from (the parser deletes it when read),
  // or nullptr to read the file of its system id, which comes resolved against
  // the input that declares it.
  virtual InputSource* resolveEntity(const Xstring& public_id, const Xstring& system_id) = 0;
};

class ARXP_EXPORT ErrorHandler {
 public:
  virtual ~ErrorHandler();
  virtual void error(const SAXParseException& exception) = 0;
  virtual void fatalError(const SAXParseException& exception) = 0;
  virtual void warning(const SAXParseException& exception) = 0;
};

class ARXP_EXPORT LexicalHandler {
 public:
  virtual ~LexicalHandler();
  virtual void comment(const char16_t* ch, int start, int length) = 0;
  virtual void endCDATA() = 0;
  virtual void endDTD() = 0;
  virtual void endEntity(const Xstring& name) = 0;
  virtual void startCDATA() = 0;
  virtual void startDTD(const Xstring& name, const Xstring& public_id,
                        const Xstring& system_id) = 0;
  virtual void startEntity(const Xstring& name) = 0;
};

class ARXP_EXPORT DeclHandler {
 public:
  virtual ~DeclHandler();
  virtual void attributeDecl(const Xstring& element, const Xstring& name, const Xstring& type,
                             const Xstring& mode, const Xstring& value) = 0;
  virtual void elementDecl(const Xstring& name, const Xstring& model) = 0;
  virtual void externalEntityDecl(const Xstring& name, const Xstring& public_id,
                                  const Xstring& system_id) = 0;
  virtual void internalEntityDecl(const Xstring& name, const Xstring& value) = 0;
};

// Empty operations for the four basic handlers.
class ARXP_EXPORT DefaultHandler : public ContentHandler,
                                   public DTDHandler,
                                   public EntityResolver,
                                   public ErrorHandler {
 public:
  ~DefaultHandler() override;
  void characters(const char16_t* ch, int start, int length) override;
  void endDocument() override;
  void endElement(const Xstring& uri, const Xstring& local, const Xstring& qname) override;
  void endPrefixMapping(const Xstring& prefix) override;
  void ignorableWhiteSpace(const char16_t* ch, int start, int length) override;
  void processingInstruction(const Xstring& target, const Xstring& data) override;
  void setDocumentLocator(const Locator* locator) override;
  void skippedEntity(const Xstring& name) override;
  void startDocument() override;
  void startElement(const Xstring& uri, const Xstring& local, const Xstring& qname,
                    const Attributes& attributes) override;
  void startPrefixMapping(const Xstring& prefix, const Xstring& uri) override;
  void notationDecl(const Xstring& name, const Xstring& public_id,
                    const Xstring& system_id) override;
  void unparsedEntityDecl(const Xstring& name, const Xstring& public_id, const Xstring& system_id,
                          const Xstring& notation) override;
  InputSource* resolveEntity(const Xstring& public_id, const Xstring& system_id) override;
  void error(const SAXParseException& exception) override;
  void fatalError(const SAXParseException& exception) override;
  void warning(const SAXParseException& exception) override;
};

class ARXP_EXPORT XMLReader {
 public:
  virtual ~XMLReader();
  virtual ContentHandler* getContentHandler() const = 0;
  virtual DTDHandler* getDTDHandler() const = 0;
  virtual EntityResolver* getEntityResolver() const = 0;
  virtual ErrorHandler* getErrorHandler() const = 0;
  virtual bool getFeature(const Xstring& name) const = 0;
  virtual void* getProperty(const Xstring& name) const = 0;
  virtual void parse(InputSource& input) = 0;
  virtual void parse(const Xstring& system_id) = 0;
  virtual void setContentHandler(ContentHandler* handler) = 0;
  virtual void setDTDHandler(DTDHandler* handler) = 0;
  virtual void setEntityResolver(EntityResolver* resolver) = 0;
  virtual void setErrorHandler(ErrorHandler* handler) = 0;
  virtual void setFeature(const Xstring& name, bool value) = 0;
  virtual void setProperty(const Xstring& name, void* value) = 0;
};

// A reader that takes its events from a parent reader.
class ARXP_EXPORT XMLFilter : public XMLReader {
 public:
  ~XMLFilter() override;
  virtual XMLReader* getParent() const = 0;
  virtual void setParent(XMLReader* parent) = 0;
};

}  // namespace arxp
