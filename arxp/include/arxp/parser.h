// The two parsers of the library and their common base: the table of features and
// properties, the current input source, and the library-wide count of live parsers.
#pragma once

#include <memory>

#include "arxp/document_parser.h"
#include "arxp/export.h"
#include "arxp/sax.h"
#include "arxp/xstring.h"

namespace arxp {

class ARXP_EXPORT Parser {
 public:
  enum Type { SAX_PARSER = 1, DOM_PARSER = 2 };

  Parser(const Parser& other);
  Parser& operator=(const Parser& other);
  virtual ~Parser();

  Type getType() const { return type_; }
  // Features and properties by their SAX2 names. Unknown names throw
  // SAXNotRecognizedException, refused changes SAXNotSupportedException.
  virtual bool getFeature(const Xstring& name) const;
  virtual void setFeature(const Xstring& name, bool value);
  bool isParsing() const { return parsing_; }
  // The source of the running or last parse, or nullptr.
  InputSource* getInputSource() { return input_source_.get(); }

  // Live parsers in this process.
  static int liveCount();

 protected:
  explicit Parser(Type type);

  void* propertyValue(const Xstring& name) const;
  void setPropertyValue(const Xstring& name, void* value);

  // Opens the source's file ("file (%s) cannot open"), and parses it into
  // `events` with the options of the feature table, marking the parser busy;
  // external entities are opened by `opener` when it gives an input.
  void run(const InputSource& source, ParseEvents& events, EntityOpener* opener = nullptr);
  // The same for a buffer already in memory.
  void run(const void* data, std::size_t size, const Xstring& name, ParseEvents& events,
           EntityOpener* opener = nullptr);

 private:
  struct Entry;
  void parseInput(ByteInput& input, ParseEvents& events, EntityOpener* opener);
  Entry* find(const Xstring& name, bool property) const;

  Type type_;
  bool parsing_ = false;
  std::unique_ptr<InputSource> input_source_;
  std::unique_ptr<Entry[]> table_;
};

// The event face of the parser.
class ARXP_EXPORT SAXParser : public Parser, public XMLReader {
 public:
  SAXParser();
  SAXParser(const SAXParser& other);
  SAXParser& operator=(const SAXParser& other);
  ~SAXParser() override;

  ContentHandler* getContentHandler() const override { return content_; }
  DTDHandler* getDTDHandler() const override { return dtd_; }
  EntityResolver* getEntityResolver() const override { return resolver_; }
  ErrorHandler* getErrorHandler() const override { return error_; }
  bool getFeature(const Xstring& name) const override;
  void* getProperty(const Xstring& name) const override;
  void parse(InputSource& input) override;
  void parse(const Xstring& system_id) override;
  void setContentHandler(ContentHandler* handler) override { content_ = handler; }
  void setDTDHandler(DTDHandler* handler) override { dtd_ = handler; }
  void setEntityResolver(EntityResolver* resolver) override { resolver_ = resolver; }
  void setErrorHandler(ErrorHandler* handler) override { error_ = handler; }
  void setFeature(const Xstring& name, bool value) override;
  void setProperty(const Xstring& name, void* value) override;

  // Parses a document held in memory; `name` stands for it in reports.
  void parseBuffer(const void* data, std::size_t size, const Xstring& name = Xstring(""));

 private:
  class Bridge;

  ContentHandler* content_ = nullptr;
  DTDHandler* dtd_ = nullptr;
  EntityResolver* resolver_ = nullptr;
  ErrorHandler* error_ = nullptr;
};

// SAX2 feature and property names.
namespace sax_names {
inline constexpr const char* kNamespaces = "http://xml.org/sax/features/namespaces";
inline constexpr const char* kNamespacePrefixes = "http://xml.org/sax/features/namespace-prefixes";
inline constexpr const char* kValidation = "http://xml.org/sax/features/validation";
inline constexpr const char* kExternalGeneralEntities =
    "http://xml.org/sax/features/external-general-entities";
inline constexpr const char* kExternalParameterEntities =
    "http://xml.org/sax/features/external-parameter-entities";
inline constexpr const char* kLexicalHandler = "http://xml.org/sax/properties/lexical-handler";
inline constexpr const char* kDeclHandler = "http://xml.org/sax/properties/declaration-handler";
inline constexpr const char* kDomNode = "http://xml.org/sax/properties/dom-node";
}  // namespace sax_names

}  // namespace arxp
