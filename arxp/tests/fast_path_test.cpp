// The fast paths of the parser give what the general ones give: block decoding of
// ASCII, start tags held as views into the document, local names kept as an
// offset into the qualified name, and exactly sized string copies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "arxp/dom.h"
#include "arxp/encoding.h"
#include "arxp/input.h"
#include "arxp/parser.h"
#include "test_util.h"

namespace arxp {
namespace {

using test::Ascii;
using test::CapturedDiagnostics;

// ASCII lines of varied length with tabs, so that line feeds fall at every place
// within a 16-byte block, and a multibyte character now and then.
std::string MixedLines() {
  std::string text;
  for (int line = 0; line < 60; ++line) {
    text += std::string(static_cast<std::size_t>(line % 37), 'a' + line % 26);
    if (line % 5 == 0) text += "\t";
    if (line % 7 == 0) text += "\xC3\xA9";  // U+00E9
    text += "\n";
  }
  return text;
}

struct Read {
  std::u16string units;
  int line, column;
};

Read ReadInChunks(const std::string& bytes, std::size_t chunk, int encoding = kEncodingUtf8,
                  int order = kByteOrderNone) {
  ByteInput input(bytes.data(), bytes.size());
  CharReader reader(input, encoding, order);
  std::vector<char16_t> buffer(chunk);
  Read result;
  while (const std::size_t n = reader.read(buffer.data(), chunk))
    result.units.append(buffer.data(), n);
  result.line = reader.line();
  result.column = reader.column();
  return result;
}

TEST(AsciiBlocks, DecodeAndCountLinesAsUnitByUnit) {
  // In Shift_JIS the two bytes of the UTF-8 U+00E9 are two half-width katakana.
  const std::string text = MixedLines() + "tail";
  for (const int encoding : {kEncodingUtf8, kEncodingShiftJis}) {
    const Read one_by_one = ReadInChunks(text, 1, encoding);
    for (const std::size_t chunk : {7u, 16u, 17u, 4096u}) {
      const Read blocks = ReadInChunks(text, chunk, encoding);
      EXPECT_EQ(one_by_one.units, blocks.units) << encoding << " " << chunk;
      EXPECT_EQ(61, blocks.line) << encoding << " " << chunk;
      EXPECT_EQ(4, blocks.column) << encoding << " " << chunk;
    }
    EXPECT_EQ(61, one_by_one.line);
    EXPECT_EQ(4, one_by_one.column);
  }
}

TEST(AsciiBlocks, StopAtControlsAndCarriageReturns) {
  // A CR LF and a lone CR deep inside blocks still become LF; a control byte
  // there is still reported where it lies.
  const std::string crlf = std::string(20, 'x') + "\r\n" + std::string(20, 'y') + "\r" + "z";
  EXPECT_EQ(std::u16string(20, u'x') + u"\n" + std::u16string(20, u'y') + u"\nz",
            ReadInChunks(crlf, 4096).units);

  CapturedDiagnostics diagnostics;
  const std::string control = std::string(40, 'a') + "\n" + std::string(21, 'b') + "\x01";
  ByteInput input(control.data(), control.size(), "doc.xml");
  CharReader reader(input, kEncodingUtf8);
  char16_t units[128];
  EXPECT_EQ(62u, reader.read(units, 128));
  EXPECT_THROW(reader.read(units, 128), ARXPException);
  EXPECT_EQ("ARXP error : not xml char (1) : doc.xml () at line 2, col 22\n", diagnostics.text());
}

std::string Utf16Bytes(const std::u16string& units, bool big_endian) {
  std::string bytes;
  for (const char16_t unit : units) {
    const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    bytes += big_endian ? high : low;
    bytes += big_endian ? low : high;
  }
  return bytes;
}

TEST(Utf16Blocks, DecodeAndCountLinesAsUnitByUnit) {
  const std::u16string units = ReadInChunks(MixedLines(), 4096).units + u"\U0001F600tail";
  for (const bool big : {false, true}) {
    const std::string bytes = Utf16Bytes(units, big);
    const int order = big ? kByteOrderBig : kByteOrderLittle;
    const Read one_by_one = ReadInChunks(bytes, 1, kEncodingUtf16, order);
    EXPECT_EQ(units, one_by_one.units);
    for (const std::size_t chunk : {5u, 8u, 9u, 4096u}) {
      const Read blocks = ReadInChunks(bytes, chunk, kEncodingUtf16, order);
      EXPECT_EQ(units, blocks.units) << chunk;
      EXPECT_EQ(61, blocks.line) << chunk;
      EXPECT_EQ(one_by_one.column, blocks.column) << chunk;
    }
  }
  // A lone surrogate and a non-character inside a block are still faults.
  for (const char16_t bad : {u'\xDC00', u'\xFFFE'}) {
    CapturedDiagnostics diagnostics;
    const std::string bytes = Utf16Bytes(std::u16string(19, u'a') + bad + u"bb", false);
    ByteInput input(bytes.data(), bytes.size(), "doc.xml");
    CharReader reader(input, kEncodingUtf16, kByteOrderLittle);
    char16_t out[64];
    EXPECT_EQ(19u, reader.read(out, 64));
    EXPECT_THROW(reader.read(out, 64), ARXPException);
  }
}

class AttributeRecorder : public DefaultHandler {
 public:
  std::vector<std::string> seen;
  void startElement(const Xstring&, const Xstring& local, const Xstring& qname,
                    const Attributes& attributes) override {
    std::string line = Ascii(qname) + "|" + Ascii(local);
    for (int i = 0; i < attributes.getLength(); ++i)
      line += " " + Ascii(attributes.getQName(i)) + "=[" + Ascii(attributes.getValue(i)) + "]";
    seen.push_back(line);
  }
  void endElement(const Xstring&, const Xstring& local, const Xstring& qname) override {
    seen.push_back("/" + Ascii(qname) + "|" + Ascii(local));
  }
};

TEST(StartTag, PlainAndNormalisedValuesSideBySide) {
  const std::string document =
      "<!DOCTYPE r [<!ENTITY e 'x&amp;y'>"
      "<!ATTLIST t tok NMTOKENS #IMPLIED def CDATA 'd&#x41;'>]>"
      "<r><t a='plain' b='tab\there' c=\"&e;&lt;\" tok='  p   q  ' d='line\nfeed' z=\"q'\"/>"
      "<t def='mine'/></r>";
  SAXParser parser;
  AttributeRecorder recorder;
  parser.setContentHandler(&recorder);
  parser.parseBuffer(document.data(), document.size(), "doc.xml");
  const std::vector<std::string> expected = {
      "r|r",  "t|t a=[plain] b=[tab here] c=[x&y<] tok=[p q] d=[line feed] z=[q'] def=[dA]",
      "/t|t", "t|t def=[mine]",
      "/t|t", "/r|r"};
  EXPECT_EQ(expected, recorder.seen);
}

TEST(StartTag, NamesFromEntitiesAndPrefixesEndWhereTheyBegan) {
  const std::string document =
      "<!DOCTYPE d [<!ENTITY part '<p:in xmlns:p=\"urn:p\" p:k=\"v\">t</p:in>'>]>"
      "<d>&part;<déjà vu='1'/></d>";
  SAXParser parser;
  AttributeRecorder recorder;
  parser.setContentHandler(&recorder);
  parser.parseBuffer(document.data(), document.size(), "doc.xml");
  ASSERT_EQ(6u, recorder.seen.size());
  EXPECT_EQ("p:in|in p:k=[v]", recorder.seen[1]);
  EXPECT_EQ("/p:in|in", recorder.seen[2]);
  EXPECT_EQ("d\xE9j\xE0|d\xE9j\xE0 vu=[1]", recorder.seen[3]);  // low bytes of the units
  EXPECT_EQ("/d|d", recorder.seen[5]);
}

std::u16string Units(const Xstring& s) {
  return s.isNull() ? u"(null)" : std::u16string(s.data(), static_cast<std::size_t>(s.length()));
}

// The units of the first attribute of every start tag, and each element's
// namespace and local name.
class FirstValueRecorder : public DefaultHandler {
 public:
  std::vector<std::u16string> values;
  std::vector<std::u16string> names;
  void startElement(const Xstring& uri, const Xstring& local, const Xstring&,
                    const Attributes& attributes) override {
    if (attributes.getLength() > 0) values.push_back(Units(attributes.getValue(0)));
    names.push_back(Units(uri) + u" " + Units(local));
    for (int i = 0; i < attributes.getLength(); ++i)
      names.push_back(u"@" + Units(attributes.getURI(i)) + u" " +
                      Units(attributes.getLocalName(i)));
  }
};

// Parses a UTF-8 document; the report text, empty when it is well-formed.
std::string ReportOf(const std::string& document, DefaultHandler* handler = nullptr) {
  CapturedDiagnostics diagnostics;
  SAXParser parser;
  if (handler) parser.setContentHandler(handler);
  try {
    parser.parseBuffer(document.data(), document.size(), "doc.xml");
  } catch (const ARXPException&) {
    return diagnostics.text().empty() ? "(thrown without a report)" : diagnostics.text();
  }
  return "";
}

TEST(StartTag, EverySpecialUnitAtEveryPlaceOfAValue) {
  // What each inserted text becomes in the value ("<" is an error).
  struct Insert {
    std::string text;
    std::u16string value;
  };
  const std::vector<Insert> inserts = {{"&amp;", u"&"},
                                       {"\t", u" "},
                                       {"\n", u" "},
                                       {"\r\n", u" "},
                                       {"\r", u" "},
                                       {"&#9;", u"\t"},
                                       {"&#x20AC;", u"\u20AC"},
                                       {"\xC3\xA9", u"\u00E9"},
                                       {"\xE6\x9D\xB1", u"\u6771"},
                                       {">", u">"},
                                       {"\"", u"\""},
                                       {"'", u"'"},
                                       {" ", u" "},
                                       {"=", u"="}};
  for (const char quote : {'"', '\''}) {
    for (const Insert& insert : inserts) {
      if (insert.text == std::string(1, quote)) continue;
      for (std::size_t at = 0; at <= 17; ++at) {
        const std::string before(at, 'v'), after(17 - at, 'w');
        const std::string document =
            std::string("<r a=") + quote + before + insert.text + after + quote + " b='x'/>";
        FirstValueRecorder recorder;
        ASSERT_EQ("", ReportOf(document, &recorder)) << document;
        ASSERT_EQ(1u, recorder.values.size());
        EXPECT_EQ(std::u16string(at, u'v') + insert.value + std::u16string(17 - at, u'w'),
                  recorder.values[0])
            << document;
      }
    }
  }
  for (std::size_t at = 0; at <= 17; ++at) {
    const std::string document = "<r a='" + std::string(at, 'v') + "<" + "'/>";
    EXPECT_NE(std::string::npos, ReportOf(document).find("unexpected token found")) << document;
    // A duplicate is reported before what is wrong in its value.
    const std::string duplicate = "<r a='1' a='" + std::string(at, 'v') + "<'/>";
    EXPECT_NE(std::string::npos, ReportOf(duplicate).find("duplicate attribute (a)")) << duplicate;
  }
  EXPECT_NE(std::string::npos, ReportOf("<r a='abc").find("unterminated literal"));
  EXPECT_NE(std::string::npos, ReportOf("<r a=abc/>").find("parse error"));
}

TEST(StartTag, PrefixesWhereverTheColonFalls) {
  // Colons after ASCII and non-ASCII units, on elements and attributes; names
  // without a colon, ASCII or not, have no namespace unless a default applies.
  const std::string document =
      "<r xmlns:p='urn:p' xmlns:\xC3\xA9='urn:e' p:a='1' \xC3\xA9:b='2' "
      "\xC3\xA9t\xC3\xA9='3' long_prefix_name:c='4' xmlns:long_prefix_name='urn:l'>"
      "<p:\xC3\xA9l\xC3\xA8ve/><\xC3\xA9:x/><y xmlns='urn:d'><z:w xmlns:z='urn:z'/></y>"
      "</r>";
  FirstValueRecorder recorder;
  ASSERT_EQ("", ReportOf(document, &recorder));
  // (Declarations are not attributes: the namespace-prefixes feature is off.)
  const std::vector<std::u16string> expected = {u"(null) r", u"@urn:p a",
                                                u"@urn:e b", u"@(null) \u00E9t\u00E9",
                                                u"@urn:l c", u"urn:p \u00E9l\u00E8ve",
                                                u"urn:e x",  u"urn:d y",
                                                u"urn:z w"};
  EXPECT_EQ(expected, recorder.names);

  // Declarations may come from defaults of the attribute-list declarations.
  FirstValueRecorder defaults;
  ASSERT_EQ("", ReportOf("<!DOCTYPE r [<!ATTLIST r xmlns:d CDATA 'urn:dd' xmlns CDATA 'urn:df'>]>"
                         "<r><d:x d:k='1'/><y/></r>",
                         &defaults));
  const std::vector<std::u16string> from_defaults = {u"urn:df r", u"urn:dd x", u"@urn:dd k",
                                                     u"urn:df y"};
  EXPECT_EQ(from_defaults, defaults.names);

  EXPECT_NE(std::string::npos, ReportOf("<q:x/>").find("namespace prefix (q) not declared"));
  EXPECT_NE(std::string::npos, ReportOf("<r \xC3\xA9:a='1'/>").find(") not declared"));
  EXPECT_NE(std::string::npos, ReportOf("<r :a='1'/>").find("illegal qualified name (:a)"));
  EXPECT_NE(std::string::npos, ReportOf("<a:/>").find("illegal qualified name (a:)"));
  EXPECT_NE(std::string::npos,
            ReportOf("<r xmlns:p='urn:p' p:a='1' p:a='2'/>").find("duplicate attribute (p:a)"));
  EXPECT_NE(std::string::npos, ReportOf("<r xmlns:p='urn:s' xmlns:q='urn:s' p:a='1' q:a='2'/>")
                                   .find("duplicate attribute (q:a)"));
}

TEST(EndTag, NamesCloseToTheOpenOne) {
  EXPECT_EQ("", ReportOf("<a></a>"));
  EXPECT_EQ("", ReportOf("<a></a \n\t>"));
  EXPECT_EQ("", ReportOf("<\xC3\xA9\xE6\x9D\xB1></\xC3\xA9\xE6\x9D\xB1>"));
  EXPECT_EQ("", ReportOf("<p:a xmlns:p='urn:p'></p:a>"));
  EXPECT_NE(std::string::npos,
            ReportOf("<ab></a>").find("end tag (a) not match to start tag (ab)"));
  EXPECT_NE(std::string::npos,
            ReportOf("<a></ab>").find("end tag (ab) not match to start tag (a)"));
  EXPECT_NE(std::string::npos, ReportOf("<a></a\xC3\xA9>").find(") not match to start tag (a)"));
  EXPECT_NE(std::string::npos, ReportOf("<a></a/>").find("parse error"));
  EXPECT_NE(std::string::npos, ReportOf("<a></a").find("parse error"));
  EXPECT_NE(std::string::npos, ReportOf("<a></").find("parse error"));
  // Where the report points: just behind the end tag.
  EXPECT_NE(std::string::npos, ReportOf("<r>\n <b>\n</c></r>").find("at line 3, col 5"));
}

class TextRecorder : public DefaultHandler {
 public:
  std::u16string text;
  void characters(const char16_t* ch, int start, int length) override {
    text.append(ch + start, static_cast<std::size_t>(length));
  }
};

TEST(CharacterData, EndsAtMarkupWhereverItFallsInABlock) {
  for (int pad = 0; pad < 17; ++pad) {
    const std::string filler(static_cast<std::size_t>(pad), 'f');
    const std::string document =
        "<a>" + filler + "x]y]]z>w" + filler + "&amp;" + filler + "<b/>" + filler + "</a>";
    SAXParser parser;
    TextRecorder recorder;
    parser.setContentHandler(&recorder);
    parser.parseBuffer(document.data(), document.size(), "doc.xml");
    const std::u16string f(static_cast<std::size_t>(pad), u'f');
    EXPECT_EQ(f + u"x]y]]z>w" + f + u"&" + f + f, recorder.text) << pad;

    CapturedDiagnostics diagnostics;
    const std::string bad = "<a>" + filler + "]]>" + "</a>";
    SAXParser failing;
    EXPECT_THROW(failing.parseBuffer(bad.data(), bad.size(), "doc.xml"), ARXPException) << pad;
    EXPECT_NE(std::string::npos, diagnostics.text().find("unexpected token found")) << pad;
  }
}

class EndRecorder : public DefaultHandler {
 public:
  std::vector<std::string> ends;
  void endElement(const Xstring& uri, const Xstring& local, const Xstring&) override {
    ends.push_back(Ascii(uri) + " " + Ascii(local));
  }
};

TEST(EndTag, NamespacesFoundAtTheStartSurviveDeeperDeclarations) {
  // Twenty levels, each binding a prefix and the default namespace anew, so that
  // the bindings grow well past their first storage while outer elements are open.
  std::string document, closing;
  for (int level = 0; level < 20; ++level) {
    const std::string n = std::to_string(level);
    document += "<p" + n + ":e" + n + " xmlns:p" + n + "='urn:p" + n + "' xmlns='urn:d" + n +
                "'><d" + n + "/>";
    closing = "</p" + n + ":e" + n + ">" + closing;
  }
  document += closing;
  SAXParser parser;
  EndRecorder recorder;
  parser.setContentHandler(&recorder);
  parser.parseBuffer(document.data(), document.size(), "doc.xml");
  ASSERT_EQ(40u, recorder.ends.size());
  for (int level = 0; level < 20; ++level) {
    const std::string n = std::to_string(level);
    EXPECT_EQ("urn:d" + n + " d" + n, recorder.ends[static_cast<std::size_t>(level)]);
    EXPECT_EQ("urn:p" + n + " e" + n, recorder.ends[static_cast<std::size_t>(39 - level)]);
  }
}

TEST(DomNames, LocalNamesAndPrefixesOfParsedAndMadeNodes) {
  DOMParser parser;
  const std::u16string text = u"<a:root xmlns:a='urn:a' a:x='1' y='2'><plain/></a:root>";
  Document* document = parser.parse(text.c_str());
  Element* root = document->getDocumentElement();
  EXPECT_EQ("root", Ascii(root->getLocalName()));
  EXPECT_EQ("a", Ascii(root->getPrefix()));
  EXPECT_EQ("urn:a", Ascii(root->getNamespaceURI()));
  const Node* x = root->getAttributes()->getNamedItemNS("urn:a", "x");
  ASSERT_NE(nullptr, x);
  EXPECT_EQ("x", Ascii(x->getLocalName()));
  EXPECT_EQ("a:x", Ascii(x->getNodeName()));
  EXPECT_EQ("plain", Ascii(root->getFirstChild()->getLocalName()));

  // Clones and imports keep the split; nodes made without a namespace have none.
  Node* clone = root->cloneNode(true);
  EXPECT_EQ("root", Ascii(clone->getLocalName()));
  EXPECT_EQ("x", Ascii(clone->getAttributes()->getNamedItemNS("urn:a", "x")->getLocalName()));
  parser.freeNode(clone);
  Element* made = document->createElement("m:n");
  EXPECT_TRUE(made->getLocalName().isNull());
  EXPECT_TRUE(made->getPrefix().isNull());
  parser.freeNode(made);

  // An attribute of the same namespace and local name replaces the old one.
  root->setAttributeNS("urn:a", "a:x", "3");
  EXPECT_EQ("3", Ascii(root->getAttributeNS("urn:a", "x")));
  EXPECT_EQ(3, root->getAttributes()->getLength());
  parser.free(document);
}

TEST(XstringCopy, ExactCopiesStillGrow) {
  const Xstring original("abc");
  Xstring copy(original);
  for (int i = 0; i < 100; ++i) copy += u'd';
  EXPECT_EQ(103, copy.length());
  EXPECT_EQ("abc", Ascii(original));
  EXPECT_EQ(u'd', copy.data()[102]);
  EXPECT_EQ(0, copy.data()[103]);
  const Xstring empty_copy{Xstring("")};
  EXPECT_FALSE(empty_copy.isNull());
  EXPECT_EQ(0, empty_copy.length());
  EXPECT_EQ(0, empty_copy.data()[0]);
  EXPECT_TRUE(Xstring(Xstring()).isNull());
}

}  // namespace
}  // namespace arxp
