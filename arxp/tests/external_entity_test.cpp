// External entities: the external subset and external general and parameter
// entities, read from files relative to the input that declares them, only where
// the features allow, through the same encoding detection and the same bounds.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "arxp/dom.h"
#include "arxp/parser.h"
#include "test_util.h"
#include "testsupport.h"

namespace arxp {
namespace {

using test::Ascii;

// Records SAX events as text, and answers entity resolution from a table.
class Recorder : public DefaultHandler, public LexicalHandler {
 public:
  std::string events;
  std::vector<std::string> resolved;  // "public|system" per call
  std::string redirect_from, redirect_to;

  void startElement(const Xstring&, const Xstring&, const Xstring& qname,
                    const Attributes& attributes) override {
    events += "<" + Ascii(qname);
    for (int i = 0; i < attributes.getLength(); ++i)
      events += " " + Ascii(attributes.getQName(i)) + "=" + Ascii(attributes.getValue(i));
    events += ">";
  }
  void endElement(const Xstring&, const Xstring&, const Xstring&) override { events += "</>"; }
  void characters(const char16_t* ch, int start, int length) override {
    for (int i = 0; i < length; ++i) {
      const char16_t c = ch[start + i];
      events += c < 0x80 ? std::string(1, static_cast<char>(c)) : "U+" + std::to_string(c);
    }
  }
  void skippedEntity(const Xstring& name) override { events += "?" + Ascii(name); }
  void notationDecl(const Xstring& name, const Xstring& pub, const Xstring& sys) override {
    events += "N(" + Ascii(name) + "|" + Opt(pub) + "|" + Opt(sys) + ")";
  }
  void unparsedEntityDecl(const Xstring& name, const Xstring& pub, const Xstring& sys,
                          const Xstring& notation) override {
    events += "U(" + Ascii(name) + "|" + Opt(pub) + "|" + Opt(sys) + "|" + Ascii(notation) + ")";
  }
  InputSource* resolveEntity(const Xstring& pub, const Xstring& sys) override {
    resolved.push_back(Opt(pub) + "|" + Ascii(sys));
    if (!redirect_from.empty() && Ascii(sys).ends_with(redirect_from))
      return new InputSource(redirect_to.c_str());
    return nullptr;
  }
  void startEntity(const Xstring& name) override { events += "{" + Ascii(name); }
  void endEntity(const Xstring& name) override { events += Ascii(name) + "}"; }
  void comment(const char16_t*, int, int) override {}
  void startCDATA() override {}
  void endCDATA() override {}
  void startDTD(const Xstring&, const Xstring&, const Xstring&) override {}
  void endDTD() override {}

 private:
  static std::string Opt(const Xstring& s) { return s.isNull() ? "-" : Ascii(s); }
};

class ExternalEntityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    write("doc.xml",
          "<?xml version='1.0'?>\n"
          "<!DOCTYPE r SYSTEM 'dtd/main.dtd' [<!ENTITY local 'L'>]>\n"
          "<r>&local;&chapter;</r>");
    // The chapter is resolved against the subset that declares it: dtd/text/.
    write("dtd/main.dtd",
          "<?xml version='1.0' encoding='UTF-8'?>"
          "<!ATTLIST r lang CDATA 'ja'><!ENTITY chapter SYSTEM 'text/chapter.xml'>"
          "<!ENTITY local 'ignored: the internal subset comes first'>");
    // "<c>" U+3042 "</c>" in Shift_JIS, named by the text declaration.
    write("dtd/text/chapter.xml", "<?xml encoding='Shift_JIS'?><c>\x82\xa0</c>");
  }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  void write(const std::string& name, const std::string& bytes) {
    std::filesystem::create_directories((dir_ / name).parent_path());
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }

  std::string saxParse(const std::string& name) {
    parser_.setContentHandler(&recorder_);
    parser_.setDTDHandler(&recorder_);
    parser_.setEntityResolver(&recorder_);
    parser_.setProperty(sax_names::kLexicalHandler, static_cast<LexicalHandler*>(&recorder_));
    parser_.parse(Xstring(path(name).c_str()));
    return recorder_.events;
  }

  // The failure of a SAX parse: code and message.
  std::string saxFailure(const std::string& name) {
    test::CapturedDiagnostics quiet;
    try {
      saxParse(name);
    } catch (const ARXPException& e) {
      return std::to_string(e.getCode()) + " " + Ascii(e.getMessage());
    }
    return "no failure";
  }

  std::filesystem::path dir_ = tgx::test::MakeTempDir("arxp_external");
  SAXParser parser_;
  Recorder recorder_;
};

TEST_F(ExternalEntityTest, ByDefaultTheSubsetAndEntitiesAreReadRelativeToTheirDeclarer) {
  EXPECT_EQ(saxParse("doc.xml"),
            "{[dtd][dtd]}<r lang=ja>{localLlocal}{chapter<c>U+12354</>chapter}</>");
  // The resolver heard of each external entity with its system id resolved.
  ASSERT_EQ(recorder_.resolved.size(), 2u);
  EXPECT_EQ(recorder_.resolved[0], "-|" + path("dtd/main.dtd"));
  EXPECT_EQ(recorder_.resolved[1], "-|" + path("dtd/text/chapter.xml"));
}

TEST_F(ExternalEntityTest, GeneralEntitiesAreNotReadWhenTheFeatureIsOff) {
  parser_.setFeature(sax_names::kExternalGeneralEntities, false);
  std::filesystem::remove(dir_ / "dtd/text/chapter.xml");  // reading it would fail
  EXPECT_EQ(saxParse("doc.xml"), "{[dtd][dtd]}<r lang=ja>{localLlocal}?chapter</>");
  ASSERT_EQ(recorder_.resolved.size(), 1u);
}

TEST_F(ExternalEntityTest, TheSubsetIsNotReadWhenParameterEntitiesAreOff) {
  parser_.setFeature(sax_names::kExternalParameterEntities, false);
  std::filesystem::remove(dir_ / "dtd/main.dtd");
  // Without the subset, "chapter" may be declared there: skipped, not an error.
  EXPECT_EQ(saxParse("doc.xml"), "<r>{localLlocal}?chapter</>");
  EXPECT_TRUE(recorder_.resolved.empty());
}

TEST_F(ExternalEntityTest, AMissingFileIsAnErrorOnlyWhereItMustBeRead) {
  std::filesystem::remove(dir_ / "dtd/text/chapter.xml");
  EXPECT_EQ(saxFailure("doc.xml"), "1 system id (text/chapter.xml) can't open");
  // An entity that is declared but never referred to is never read.
  write("unused.xml", "<!DOCTYPE r [<!ENTITY gone SYSTEM 'gone.xml'>]><r/>");
  recorder_.events.clear();
  EXPECT_EQ(saxParse("unused.xml"), "<r></>");
}

TEST_F(ExternalEntityTest, TheResolverMayRedirectAnEntity) {
  write("elsewhere/other.xml", "<o/>");
  recorder_.redirect_from = "chapter.xml";
  recorder_.redirect_to = path("elsewhere/other.xml");
  EXPECT_EQ(saxParse("doc.xml"), "{[dtd][dtd]}<r lang=ja>{localLlocal}{chapter<o></>chapter}</>");
}

TEST_F(ExternalEntityTest, ParameterEntitiesConditionalSectionsAndReferencesInDeclarations) {
  write("p.xml",
        "<!DOCTYPE r [<!ENTITY % decls SYSTEM 'decls.ent'>%decls;"
        "<!NOTATION png PUBLIC 'image/png'><!ENTITY pic SYSTEM 'p.png' NDATA png>]>"
        "<r>&mode;&both;</r>");
  // Little-endian UTF-16 with a byte-order mark, and without a text declaration.
  const std::u16string decls =
      u"<!ENTITY % draft 'INCLUDE'><!ENTITY % final 'IGNORE'>"
      u"<!ENTITY % type 'CDATA'><!ENTITY % dflt '\"v\"'>"
      u"<![%draft;[<!ENTITY mode 'draft'>]]><![%final;[<!ENTITY mode 'final'><![IGNORE[x]]>]]>"
      u"<!ATTLIST r a %type; %dflt;><!ENTITY % half '&#x42;'><!ENTITY both 'A%half;'>";
  std::string bytes = "\xFF\xFE";
  for (const char16_t c : decls) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  write("decls.ent", bytes);
  EXPECT_EQ(saxParse("p.xml"),
            "{%decls{%draft%draft}{%final%final}%decls}N(png|image/png|-)U(pic|-|p.png|png)"
            "<r a=v>{modedraftmode}{bothABboth}</>");
}

TEST_F(ExternalEntityTest, UnreadParameterEntitiesAreReportedAsSkipped) {
  parser_.setFeature(sax_names::kExternalParameterEntities, false);
  write("pe.xml", "<!DOCTYPE r [<!ENTITY % p SYSTEM 'missing.ent'>%p;%q;]><r>&u;</r>");
  EXPECT_EQ(saxParse("pe.xml"), "?%p?%q<r>?u</>");
  EXPECT_TRUE(recorder_.resolved.empty());
}

TEST_F(ExternalEntityTest, AReferenceThatReturnsThroughItsOwnReplacementFails) {
  write("loop.dtd", "<!ENTITY % a '&#37;a;'><!ELEMENT x %a;>");
  write("pe-loop.xml", "<!DOCTYPE r SYSTEM 'loop.dtd'><r/>");
  EXPECT_EQ(saxFailure("pe-loop.xml"), "9 illegal parameter entity reference");
  write("self.dtd", "<!ENTITY % self SYSTEM 'self.dtd'>%self;");
  write("pe-self.xml", "<!DOCTYPE r SYSTEM 'self.dtd'><r/>");
  EXPECT_EQ(saxFailure("pe-self.xml"), "9 recursive entity reference (self)");
}

TEST_F(ExternalEntityTest, ShortEntitiesAndReferencesThatEndADeclarationOrOpenASection) {
  write("short.dtd", "");
  write("x.txt", "ab");  // too short to tell an encoding by: UTF-8
  write("short.xml", "<!DOCTYPE r SYSTEM 'short.dtd' [<!ENTITY x SYSTEM 'x.txt'>]><r>&x;</r>");
  EXPECT_EQ(saxParse("short.xml"), "{[dtd][dtd]}<r>{xabx}</>");
  write("close.dtd",
        "<!ENTITY % end '>'><!ENTITY % open 'INCLUDE['>"
        "<!ELEMENT r ANY %end;<![ %open; <!ATTLIST r a CDATA 'v'> ]]>");
  write("close.xml", "<!DOCTYPE r SYSTEM 'close.dtd'><r/>");
  recorder_.events.clear();
  EXPECT_EQ(saxParse("close.xml"), "{[dtd]{%open%open}[dtd]}<r a=v></>");
}

TEST_F(ExternalEntityTest, TheTextDeclarationIsChecked) {
  write("bad.xml", "<!DOCTYPE r [<!ENTITY e SYSTEM 'e.xml'>]><r>&e;</r>");
  write("e.xml", "<?xml version='1.0'?>text");
  EXPECT_EQ(saxFailure("bad.xml"), "11 parse error");  // the encoding is required
  write("e.xml", "<?xml encoding='UTF-16'?>text");
  EXPECT_EQ(saxFailure("bad.xml"), "11 encoding decl not match to XML file format");
}

TEST_F(ExternalEntityTest, ExternalTextIsBoundedLikeInternalText) {
  write("loop.xml", "<!DOCTYPE r [<!ENTITY self SYSTEM 'self.xml'>]><r>&self;</r>");
  write("self.xml", "again &self;");
  EXPECT_EQ(saxFailure("loop.xml"), "9 recursive entity reference (self)");

  write("big.xml", "<!DOCTYPE r [<!ENTITY big SYSTEM 'big.txt'>]><r>&big;</r>");
  write("big.txt", std::string(4096, 'x'));
  ByteInput input(path("big.xml").c_str());
  ParseOptions options;
  options.external_general_entities = true;
  options.max_entity_expansion = 1000;
  ParseEvents ignored;
  test::CapturedDiagnostics quiet;
  try {
    DocumentParser(options).parse(input, ignored);
    ADD_FAILURE();
  } catch (const ARXPException& e) {
    EXPECT_EQ(e.getCode(), ARXPException::INVALID_ENTITY_REF_ERR);
    EXPECT_EQ(Ascii(e.getMessage()), "entity expansion limit exceeded (big)");
  }
}

TEST_F(ExternalEntityTest, TheTreeKeepsExternalDeclarationsOutOfTheWrittenSubset) {
  DOMParser dom;
  Document* doc = dom.parse(path("doc.xml").c_str());
  const DocumentType* type = doc->getDoctype();
  auto* chapter = static_cast<Entity*>(type->getEntities()->getNamedItem("chapter"));
  ASSERT_NE(chapter, nullptr);
  EXPECT_FALSE(chapter->isDeclaredInternally());
  EXPECT_EQ(Ascii(chapter->getFirstChild()->getNodeName()), "c");
  EXPECT_TRUE(type->getAttributeDeclarations().empty());
  char16_t buffer[512];
  int length = sizeof buffer;
  dom.write(doc, buffer, &length);
  EXPECT_EQ(std::u16string(buffer),
            u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>"
            u"<!DOCTYPE r SYSTEM \"dtd/main.dtd\" [<!ENTITY local \"L\">]>"
            u"<r lang=\"ja\">&local;&chapter;</r>");
  dom.free(doc);
}

}  // namespace
}  // namespace arxp

namespace arxp {
namespace {

TEST(ExternalDeclarationTest, AnAttributeDeclaredExternallyFirstIsNotWrittenFromTheSubset) {
  const std::filesystem::path dir = tgx::test::MakeTempDir("arxp_shadow");
  std::ofstream(dir / "shadow.ent") << "<!ATTLIST r a CDATA #IMPLIED>";
  std::ofstream(dir / "shadow.xml") << "<!DOCTYPE r [<!ENTITY % e SYSTEM 'shadow.ent'>%e;"
                                       "<!ATTLIST r a CDATA 'internal' b CDATA 'v'>]><r/>";
  DOMParser parser;
  Document* doc = parser.parse((dir / "shadow.xml").string().c_str());
  EXPECT_FALSE(doc->getDocumentElement()->hasAttribute("a"));
  char16_t buffer[256];
  int length = sizeof buffer;
  parser.write(doc, buffer, &length);
  EXPECT_EQ(Ascii(Xstring(buffer)), "<!DOCTYPE r [<!ATTLIST r b CDATA \"v\">]><r b=\"v\"/>");
  parser.free(doc);
}

}  // namespace
}  // namespace arxp
