// SAXParser: the features and properties table, handler calls, errors delivered
// to the error handler, and the live-parser count.
#include "arxp/parser.h"

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>
#include <string>

#include "test_util.h"
#include "testsupport.h"

namespace arxp {
namespace {

using test::Ascii;

class Recorder : public DefaultHandler, public LexicalHandler {
 public:
  std::string events;
  std::string errors;
  SAXParser* parser = nullptr;
  const Locator* locator = nullptr;

  void setDocumentLocator(const Locator* l) override { locator = l; }
  void startElement(const Xstring& uri, const Xstring& local, const Xstring& qname,
                    const Attributes& attributes) override {
    events += "<" + Ascii(qname) + "{" + (uri.isNull() ? "-" : Ascii(uri)) + "}" + Ascii(local);
    for (int i = 0; i < attributes.getLength(); ++i)
      events += " " + Ascii(attributes.getQName(i)) + "=" + Ascii(attributes.getValue(i));
    events += "@" + std::to_string(locator->getLineNumber()) + ">";
    if (parser) {
      try {
        parser->setFeature(sax_names::kNamespaces, false);
      } catch (const SAXNotSupportedException& e) {
        events += "[" + Ascii(e.getMessage()) + "]";
      }
    }
  }
  void endElement(const Xstring&, const Xstring&, const Xstring& qname) override {
    events += "</" + Ascii(qname) + ">";
  }
  void characters(const char16_t* ch, int start, int length) override {
    events += Ascii(Xstring(std::u16string(ch + start, length).c_str()));
  }
  void startPrefixMapping(const Xstring& prefix, const Xstring& uri) override {
    events += "(" + Ascii(prefix) + "=" + Ascii(uri) + ")";
  }
  void error(const SAXParseException& e) override {
    errors += Ascii(e.getMessage()) + "@" + std::to_string(e.getLineNumber()) + ":" +
              std::to_string(e.getColumnNumber()) + ";";
  }
  void comment(const char16_t* ch, int start, int length) override {
    events += "#" + Ascii(Xstring(std::u16string(ch + start, length).c_str()));
  }
  void endCDATA() override { events += "]"; }
  void endDTD() override { events += "!"; }
  void endEntity(const Xstring& name) override { events += "/" + Ascii(name); }
  void startCDATA() override { events += "["; }
  void startDTD(const Xstring& name, const Xstring&, const Xstring&) override {
    events += "!" + Ascii(name);
  }
  void startEntity(const Xstring& name) override { events += "&" + Ascii(name); }
};

void Parse(SAXParser& parser, const std::string& document) {
  parser.parseBuffer(document.data(), document.size(), "doc.xml");
}

TEST(SAXParserTest, FeatureTableStartsWithItsInitialValues) {
  SAXParser parser;
  EXPECT_EQ(parser.getType(), Parser::SAX_PARSER);
  EXPECT_TRUE(parser.getFeature(sax_names::kNamespaces));
  EXPECT_FALSE(parser.getFeature(sax_names::kNamespacePrefixes));
  EXPECT_FALSE(parser.getFeature(sax_names::kValidation));
  EXPECT_TRUE(parser.getFeature(sax_names::kExternalGeneralEntities));
  EXPECT_TRUE(parser.getFeature(sax_names::kExternalParameterEntities));
  EXPECT_EQ(parser.getProperty(sax_names::kLexicalHandler), nullptr);
  EXPECT_FALSE(parser.isParsing());
}

TEST(SAXParserTest, RefusesUnknownAndFixedEntriesWithTheirMessages) {
  SAXParser parser;
  try {
    parser.setFeature("http://example.org/f", true);
    ADD_FAILURE();
  } catch (const SAXNotRecognizedException& e) {
    EXPECT_EQ(Ascii(e.getMessage()), "feature http://example.org/f not recognized");
    EXPECT_EQ(e.getCode(), ARXPException::FEATURE_NOT_RECOGNIZED_ERR);
    EXPECT_EQ(Ascii(e.toString()), "<SAXNotRecognizedException>");
  }
  EXPECT_THROW(parser.getFeature("x"), SAXNotRecognizedException);
  try {
    parser.setFeature(sax_names::kValidation, true);
    ADD_FAILURE();
  } catch (const SAXNotSupportedException& e) {
    EXPECT_EQ(Ascii(e.getMessage()),
              "feature http://xml.org/sax/features/validation is not supported");
    EXPECT_EQ(e.getCode(), ARXPException::FEATURE_NOT_SUPPORTED_ERR);
  }
  try {
    parser.setProperty("p", nullptr);
    ADD_FAILURE();
  } catch (const SAXNotRecognizedException& e) {
    EXPECT_EQ(Ascii(e.getMessage()), "property p not recognized");
  }
  try {
    parser.getProperty(sax_names::kDomNode);
    ADD_FAILURE();
  } catch (const SAXNotSupportedException& e) {
    EXPECT_EQ(Ascii(e.getMessage()), "property dom-node is not supported");
  }
  parser.setFeature(sax_names::kNamespacePrefixes, true);
  EXPECT_TRUE(parser.getFeature(sax_names::kNamespacePrefixes));
}

TEST(SAXParserTest, SettingAFeatureDuringAParseIsRefused) {
  SAXParser parser;
  Recorder recorder;
  recorder.parser = &parser;
  parser.setContentHandler(&recorder);
  Parse(parser, "<a/>");
  EXPECT_EQ(recorder.events,
            "<a{-}a@1>[feature http://xml.org/sax/features/namespaces is not supported in "
            "parsing]</a>");
  EXPECT_TRUE(parser.getFeature(sax_names::kNamespaces));
  EXPECT_FALSE(parser.isParsing());
}

TEST(SAXParserTest, DeliversContentLexicalEventsAndNamespaces) {
  SAXParser parser;
  Recorder recorder;
  parser.setContentHandler(&recorder);
  parser.setProperty(sax_names::kLexicalHandler, static_cast<LexicalHandler*>(&recorder));
  Parse(parser,
        "<!DOCTYPE a [<!ENTITY e 'E'>]>\n<a xmlns:p='u' p:x='1'><!--c-->&e;"
        "<![CDATA[d]]>\n<p:b/></a>");
  EXPECT_EQ(recorder.events, "!a!(p=u)<a{-}a p:x=1@2>#c&eE/e[d]\n<p:b{u}b@3></p:b></a>");

  recorder.events.clear();
  parser.setFeature(sax_names::kNamespacePrefixes, true);
  Parse(parser, "<a xmlns:p='u'/>");
  EXPECT_EQ(recorder.events, "(p=u)<a{-}a xmlns:p=u@1></a>");
  recorder.events.clear();
  Parse(parser, "<a xmlns='d' xmlnsx='1'/>");
  EXPECT_EQ(recorder.events, "(=d)<a{d}a xmlns=d xmlnsx=1@1></a>");
}

TEST(SAXParserTest, ErrorsReachTheErrorHandlerAndAreThrown) {
  test::CapturedDiagnostics quiet;
  SAXParser parser;
  Recorder recorder;
  parser.setErrorHandler(&recorder);
  try {
    Parse(parser, "<a>\n</b>");
    ADD_FAILURE();
  } catch (const ARXPException& e) {
    EXPECT_EQ(e.getCode(), ARXPException::UNBALANCED_TAG_ERR);
  }
  EXPECT_EQ(recorder.errors, "end tag (b) not match to start tag (a)@2:5;");
  EXPECT_FALSE(parser.isParsing());

  recorder.errors.clear();
  EXPECT_THROW(parser.parse(Xstring("/nonexistent/x.xml")), ARXPException);
  EXPECT_EQ(recorder.errors, "file (/nonexistent/x.xml) cannot open@0:0;");
}

TEST(SAXParserTest, AHandlerThrowEndsTheParseWithAReport) {
  struct Thrower : DefaultHandler {
    void startElement(const Xstring&, const Xstring&, const Xstring&, const Attributes&) override {
      throw std::runtime_error("stop here");
    }
  } thrower;
  test::CapturedDiagnostics diagnostics;
  SAXParser parser;
  parser.setContentHandler(&thrower);
  try {
    Parse(parser, "<a/>");
    ADD_FAILURE();
  } catch (const ARXPException& e) {
    EXPECT_EQ(Ascii(e.getMessage()), "parser catch user throw (stop here)\n");
  }
  EXPECT_FALSE(parser.isParsing());
}

TEST(SAXParserTest, ParsesAFileByItsSystemId) {
  const std::string path = (tgx::test::MakeTempDir("arxp") / "doc.xml").string();
  std::ofstream(path) << "<?xml version='1.0' encoding='EUC-JP'?><r>t</r>";
  SAXParser parser;
  Recorder recorder;
  parser.setContentHandler(&recorder);
  parser.parse(Xstring(path.c_str()));
  EXPECT_EQ(recorder.events, "<r{-}r@1>t</r>");
  EXPECT_EQ(Ascii(parser.getInputSource()->getSystemId()), path);
}

TEST(SAXParserTest, CountsLiveParsers) {
  const int before = Parser::liveCount();
  {
    SAXParser a;
    SAXParser b(a);
    EXPECT_EQ(Parser::liveCount(), before + 2);
  }
  EXPECT_EQ(Parser::liveCount(), before);
}

}  // namespace
}  // namespace arxp
