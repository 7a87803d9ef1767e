// The parser core: what it delivers for well-formed documents, and the errors it
// reports for documents that are not.
#include "arxp/document_parser.h"

#include <gtest/gtest.h>

#include <string>

#include "arxp/encoding.h"
#include "test_util.h"

namespace arxp {
namespace {

using test::Ascii;

// Records the events as one line of text each, names in the ASCII range.
class Trace : public ParseEvents {
 public:
  std::string text;

  void xmlDeclaration(const Xstring& v, const Xstring& e, const Xstring& s) override {
    add("decl " + Ascii(v) + " " + Opt(e) + " " + Opt(s));
  }
  void startDoctype(const Xstring& name, const Xstring& pub, const Xstring& sys) override {
    add("doctype " + Ascii(name) + " " + Opt(pub) + " " + Opt(sys));
  }
  void internalEntityDecl(const Xstring& name, const Xstring& value) override {
    add("entity " + Ascii(name) + "=" + Ascii(value));
  }
  void startPrefixMapping(const Xstring& prefix, const Xstring& uri) override {
    add("map " + Ascii(prefix) + "=" + Ascii(uri));
  }
  void endPrefixMapping(const Xstring& prefix) override { add("unmap " + Ascii(prefix)); }
  void startElement(const Xstring& uri, const Xstring& local, const Xstring& qname,
                    const std::vector<ParsedAttribute>& attributes) override {
    std::string line = "start {" + Opt(uri) + "}" + Opt(local) + " " + Ascii(qname);
    for (const ParsedAttribute& a : attributes)
      line += " " + Ascii(a.qname) + "{" + Opt(a.uri) + "}=[" + Ascii(a.value) + "]" +
              (a.specified ? "" : "*");
    add(line);
  }
  void endElement(const Xstring&, const Xstring&, const Xstring& qname) override {
    add("end " + Ascii(qname));
  }
  void characters(const Xstring& s) override { add("text [" + Ascii(s) + "]"); }
  void startCDATA() override { add("cdata"); }
  void comment(const Xstring& s) override { add("comment [" + Ascii(s) + "]"); }
  void processingInstruction(const Xstring& target, const Xstring& data) override {
    add("pi " + Ascii(target) + " [" + Ascii(data) + "]");
  }
  void skippedEntity(const Xstring& name) override { add("skipped " + Ascii(name)); }

 private:
  static std::string Opt(const Xstring& s) { return s.isNull() ? "-" : Ascii(s); }
  void add(const std::string& line) { text += line + "\n"; }
};

std::string Parse(const std::string& document, bool namespaces = true) {
  ByteInput input(document.data(), document.size(), "doc.xml");
  Trace trace;
  ParseOptions options;
  options.namespaces = namespaces;
  DocumentParser(options).parse(input, trace);
  return trace.text;
}

struct Failure {
  int code = 0;
  std::string message;
};

Failure ParseFailure(const std::string& document) {
  test::CapturedDiagnostics quiet;
  Failure failure;
  try {
    Parse(document);
  } catch (const ARXPException& e) {
    failure.code = e.getCode();
    failure.message = Ascii(e.getMessage());
  }
  return failure;
}

TEST(DocumentParserTest, DeliversPrologElementsTextCommentsAndInstructions) {
  EXPECT_EQ(Parse("<?xml version=\"1.0\" standalone='yes'?>\n<!-- c --><?p  d ?>"
                  "<a x='1'>t<b/><![CDATA[<&>]]></a>\n<?q?>"),
            "decl 1.0 - yes\ncomment [ c ]\npi p [d ]\nstart {-}a a x{-}=[1]\ntext [t]\n"
            "start {-}b b\nend b\ncdata\ntext [<&>]\nend a\npi q []\n");
}

TEST(DocumentParserTest, ExpandsReferencesAndNormalisesAttributes) {
  EXPECT_EQ(Parse("<!DOCTYPE a [<!ENTITY e 'x&#38;amp;y'>"
                  "<!ATTLIST a t NMTOKENS #IMPLIED d CDATA 'dv'>]>"
                  "<a t='  p\t&amp;lt; ' v='1\n2&lt;&#x41;&e;'>&e;&#65;</a>"),
            "doctype a - -\nentity e=x&amp;y\n"
            "start {-}a a t{-}=[p &lt;] v{-}=[1 2<Ax&y] d{-}=[dv]*\n"
            "text [x]\ntext [&]\ntext [y]\ntext [A]\nend a\n");
}

TEST(DocumentParserTest, ResolvesNamespacesAndScopesThem) {
  EXPECT_EQ(Parse("<p:a xmlns:p='urn:p' xmlns='urn:d' p:x='1' y='2'><b xmlns=''/></p:a>"),
            "map p=urn:p\nmap =urn:d\n"
            "start {urn:p}a p:a xmlns:p{http://www.w3.org/2000/xmlns/}=[urn:p] "
            "xmlns{http://www.w3.org/2000/xmlns/}=[urn:d] p:x{urn:p}=[1] y{-}=[2]\n"
            "map =\nstart {-}b b xmlns{http://www.w3.org/2000/xmlns/}=[]\nend b\nunmap \n"
            "end p:a\nunmap \nunmap p\n");
  EXPECT_EQ(Parse("<a:b xmlns:c='u'/>", false), "start {-}- a:b xmlns:c{-}=[u]\nend a:b\n");
}

TEST(DocumentParserTest, SwitchesToTheDeclaredEncoding) {
  // "<a>" + U+3042 in Shift_JIS.
  EXPECT_EQ(Parse("<?xml version='1.0' encoding='shift_jis'?><a>\x82\xa0</a>"),
            "decl 1.0 shift_jis -\nstart {-}a a\ntext [B]\nend a\n");
}

TEST(DocumentParserTest, SkipsEntitiesItDoesNotRead) {
  EXPECT_EQ(Parse("<!DOCTYPE a SYSTEM 'a.dtd' [<!ENTITY x SYSTEM 'x.xml'>]><a>&x;&y;</a>"),
            "doctype a - a.dtd\nstart {-}a a\nskipped x\nskipped y\nend a\n");
}

TEST(DocumentParserTest, ReportsMalformedDocumentsWithTheirMessages) {
  const struct {
    const char* document;
    int code;
    const char* message;
  } cases[] = {
      {"<a><b></a>", ARXPException::UNBALANCED_TAG_ERR, "end tag (a) not match to start tag (b)"},
      {"<a><b>", ARXPException::UNBALANCED_TAG_ERR, "tag stack abnormal end : sp = 2"},
      {"<abc", ARXPException::UNEXPECTED_EOF_ERR, "parse error"},
      {"<a x='1", ARXPException::UNEXPECTED_EOF_ERR, "unterminated literal"},
      {"<a><!-- x", ARXPException::UNEXPECTED_EOF_ERR, "unterminated comment"},
      {"<a><!-- x -- y --></a>", ARXPException::SYNTAX_ERR, "'--' found in comment"},
      {"<a><?p x", ARXPException::UNEXPECTED_EOF_ERR, "unterminated processing instruction"},
      {"<a><![CDATA[x", ARXPException::UNEXPECTED_EOF_ERR, "unterminated cdsect"},
      {"<a>&#0;</a>", ARXPException::INVALID_CHAR_ERR, "illegal character reference value"},
      {"<a>&#x4g;</a>", ARXPException::INVALID_ENTITY_REF_ERR, "illegal character reference"},
      {"<a>& </a>", ARXPException::INVALID_ENTITY_REF_ERR, "illegal reference"},
      {"<a>&nope;</a>", ARXPException::INVALID_ENTITY_REF_ERR, "entity name (nope) not found"},
      {"<a x='1' x='2'/>", ARXPException::SYNTAX_ERR, "duplicate attribute (x)"},
      {"<1a/>", ARXPException::SYNTAX_ERR, "unexpected token found"},
      {"<a/><b/>", ARXPException::SYNTAX_ERR, "unexpected token found"},
      {"<a>]]></a>", ARXPException::SYNTAX_ERR, "unexpected token found"},
      {"<a x='<'/>", ARXPException::SYNTAX_ERR, "unexpected token found"},
      {"<a/><?xml version='1.0'?>", ARXPException::INVALID_XML_DECL_ERR,
       "xml decl must appear first line"},
      {"<?xml version='1.0' encoding='UTF-16'?><a/>", ARXPException::INVALID_XML_DECL_ERR,
       "encoding decl not match to XML file format"},
      {"<?xml version='1.0' standalone='maybe'?><a/>", ARXPException::INVALID_XML_DECL_ERR,
       "illegal standalone value"},
      {"<!DOCTYPE a [<!ELEMENT a ANY><!ELEMENT a EMPTY>]><a/>", ARXPException::SYNTAX_ERR,
       "element decl name (a) already registered"},
      {"<!DOCTYPE a [<!ENTITY e '<b>'>]><a>&e;</a>", ARXPException::UNBALANCED_TAG_ERR,
       "unbalanced end tag (b)"},
      {"<p:a/>", ARXPException::SYNTAX_ERR, "namespace prefix (p) not declared"},
      {"<a xmlns:p='u' p:.='1'/>", ARXPException::SYNTAX_ERR, "illegal qualified name (p:.)"},
      {"", ARXPException::FORMAT_ERR, "not XML file"},
  };
  for (const auto& c : cases) {
    const Failure failure = ParseFailure(c.document);
    EXPECT_EQ(failure.code, c.code) << c.document;
    EXPECT_EQ(failure.message, c.message) << c.document;
  }
}

TEST(DocumentParserTest, PrintsErrorsWithTheirPlace) {
  test::CapturedDiagnostics diagnostics;
  EXPECT_THROW(Parse("<a>\n  <b></c>\n</a>"), ARXPException);
  EXPECT_EQ(diagnostics.text(),
            "ARXP error : end tag (c) not match to start tag (b) : doc.xml () at line 2, col 10\n");
}

TEST(DocumentParserTest, EntityLoopsFail) {
  EXPECT_EQ(ParseFailure("<!DOCTYPE a [<!ENTITY x '&y;'><!ENTITY y '&x;'>]><a>&x;</a>").message,
            "recursive entity reference (x)");
  EXPECT_EQ(ParseFailure("<!DOCTYPE a [<!ENTITY x 'a&x;'>]><a v='&x;'/>").message,
            "recursive entity reference (x)");
}

TEST(DocumentParserTest, BillionLaughsFailsWithinItsBudget) {
  std::string document = "<!DOCTYPE a [<!ENTITY l0 'lol'>";
  for (int i = 1; i < 10; ++i) {
    document += "<!ENTITY l" + std::to_string(i) + " '";
    for (int j = 0; j < 10; ++j) document += "&l" + std::to_string(i - 1) + ";";
    document += "'>";
  }
  const Failure content = ParseFailure(document + "]><a>&l9;</a>");
  EXPECT_EQ(content.code, ARXPException::INVALID_ENTITY_REF_ERR);
  EXPECT_EQ(content.message.rfind("entity expansion limit exceeded (", 0), 0u) << content.message;
  const Failure attribute = ParseFailure(document + "]><a v='&l9;'/>");
  EXPECT_EQ(attribute.message.rfind("entity expansion limit exceeded (", 0), 0u);
}

TEST(DocumentParserTest, DeepNestingIsBounded) {
  const int depth = 200000;
  std::string document;
  for (int i = 0; i < depth; ++i) document += "<a>";
  const Failure failure = ParseFailure(document);
  EXPECT_EQ(failure.message, "parser stack overflow");
  // Within the bound, nesting works.
  std::string fine;
  for (int i = 0; i < 1000; ++i) fine += "<a>";
  for (int i = 0; i < 1000; ++i) fine += "</a>";
  EXPECT_NO_THROW(Parse(fine));
}

TEST(DocumentParserTest, TruncatedDocumentsAlwaysFail) {
  const std::string document =
      "<?xml version='1.0'?><!DOCTYPE a [<!ENTITY e 'v'>]><a x='1'><!--c--><?p d?>"
      "<![CDATA[z]]>&e;&#65;<b/></a>";
  for (std::size_t n = 0; n < document.size(); ++n) {
    const Failure failure = ParseFailure(document.substr(0, n));
    EXPECT_NE(failure.code, 0) << n;
  }
  EXPECT_EQ(ParseFailure(document).code, 0);
}

}  // namespace
}  // namespace arxp
