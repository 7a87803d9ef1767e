#include "arxp/parser.h"

#include <mutex>
#include <string>
#include <vector>

#include "arxp/diagnostics.h"
#include "arxp/input.h"

namespace arxp {
namespace {

std::mutex g_count_lock;
int g_live_parsers = 0;

void CountUp() {
  std::lock_guard<std::mutex> lock(g_count_lock);
  ++g_live_parsers;
}

void CountDown() {
  std::lock_guard<std::mutex> lock(g_count_lock);
  if (g_live_parsers == 0) Diagnostics::abortInvariant("parser count underflow");
  if (--g_live_parsers == 0) Xstring::releaseScratch();
}

Xstring Named(const char* format, const Xstring& name) {
  const std::string f(format);
  const std::size_t at = f.find("%s");
  Xstring text(f.substr(0, at).c_str());
  text += name;
  text += f.substr(at + 2).c_str();
  return text;
}

}  // namespace

struct Parser::Entry {
  const char* name;
  bool property;
  bool idle_change;
  bool parsing_change;
  bool flag;     // a feature's value
  void* object;  // a property's value
};

namespace {
constexpr int kTableSize = 7;
}

Parser::Parser(Type type) : type_(type), table_(new Entry[kTableSize]) {
  const Entry initial[kTableSize] = {
      {sax_names::kNamespaces, false, true, false, true, nullptr},
      {sax_names::kNamespacePrefixes, false, true, false, false, nullptr},
      {sax_names::kValidation, false, false, false, false, nullptr},
      {sax_names::kExternalGeneralEntities, false, true, false, true, nullptr},
      {sax_names::kExternalParameterEntities, false, true, false, true, nullptr},
      {sax_names::kLexicalHandler, true, true, true, false, nullptr},
      {sax_names::kDeclHandler, true, true, true, false, nullptr},
  };
  for (int i = 0; i < kTableSize; ++i) table_[i] = initial[i];
  CountUp();
}

Parser::Parser(const Parser& other)
    : type_(other.type_),
      input_source_(other.input_source_ ? new InputSource(*other.input_source_) : nullptr),
      table_(new Entry[kTableSize]) {
  for (int i = 0; i < kTableSize; ++i) table_[i] = other.table_[i];
  CountUp();
}

Parser& Parser::operator=(const Parser& other) {
  if (this == &other) return *this;
  type_ = other.type_;
  input_source_.reset(other.input_source_ ? new InputSource(*other.input_source_) : nullptr);
  for (int i = 0; i < kTableSize; ++i) table_[i] = other.table_[i];
  return *this;
}

Parser::~Parser() { CountDown(); }

int Parser::liveCount() {
  std::lock_guard<std::mutex> lock(g_count_lock);
  return g_live_parsers;
}

Parser::Entry* Parser::find(const Xstring& name, bool property) const {
  for (int i = 0; i < kTableSize; ++i)
    if (table_[i].property == property && name == table_[i].name) return &table_[i];
  return nullptr;
}

bool Parser::getFeature(const Xstring& name) const {
  const Entry* entry = find(name, false);
  if (!entry) throw SAXNotRecognizedException(Named("feature %s not recognized", name));
  return entry->flag;
}

void Parser::setFeature(const Xstring& name, bool value) {
  Entry* entry = find(name, false);
  if (!entry) throw SAXNotRecognizedException(Named("feature %s not recognized", name));
  if (parsing_ && !entry->parsing_change)
    throw SAXNotSupportedException(Named("feature %s is not supported in parsing", name));
  if (!parsing_ && !entry->idle_change)
    throw SAXNotSupportedException(Named("feature %s is not supported", name));
  entry->flag = value;
}

void* Parser::propertyValue(const Xstring& name) const {
  if (name == sax_names::kDomNode)
    throw SAXNotSupportedException("property dom-node is not supported");
  const Entry* entry = find(name, true);
  if (!entry) throw SAXNotRecognizedException(Named("property %s not recognized", name));
  if (parsing_ && !entry->parsing_change)
    throw SAXNotSupportedException(Named("property %s is not supported in parsing", name));
  if (!parsing_ && !entry->idle_change)
    throw SAXNotSupportedException(Named("property %s is not supported", name));
  return entry->object;
}

void Parser::setPropertyValue(const Xstring& name, void* value) {
  if (name == sax_names::kDomNode)
    throw SAXNotSupportedException("property dom-node is not supported");
  Entry* entry = find(name, true);
  if (!entry) throw SAXNotRecognizedException(Named("property %s not recognized", name));
  if (parsing_ && !entry->parsing_change)
    throw SAXNotSupportedException(Named("to set property %s is not supported in parsing", name));
  if (!parsing_ && !entry->idle_change)
    throw SAXNotSupportedException(Named("to set property %s is not supported", name));
  entry->object = value;
}

void Parser::run(const InputSource& source, ParseEvents& events, EntityOpener* opener) {
  input_source_.reset(new InputSource(source));
  std::vector<char> path(source.getSystemId().mbcsCapacity(osEncoding()));
  source.getSystemId().os_str(path.data());
  ByteInput input(path.data());
  if (!input.isOpen())
    Diagnostics::error(ARXPException::FILE_OPEN_ERR,
                       Named("file (%s) cannot open", source.getSystemId()));
  parseInput(input, events, opener);
}

void Parser::run(const void* data, std::size_t size, const Xstring& name, ParseEvents& events,
                 EntityOpener* opener) {
  input_source_.reset(new InputSource(name));
  ByteInput input(data, size, name);
  parseInput(input, events, opener);
}

void Parser::parseInput(ByteInput& input, ParseEvents& events, EntityOpener* opener) {
  ParseOptions options;
  options.namespaces = getFeature(sax_names::kNamespaces);
  options.external_general_entities = getFeature(sax_names::kExternalGeneralEntities);
  options.external_parameter_entities = getFeature(sax_names::kExternalParameterEntities);
  options.opener = opener;
  parsing_ = true;
  struct Idle {
    bool& parsing;
    ~Idle() { parsing = false; }
  } idle{parsing_};
  DocumentParser(options).parse(input, events);
}

}  // namespace arxp
