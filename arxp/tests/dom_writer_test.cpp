// DOMParser::write: encodings, escaping, layout and buffer semantics.
#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "arxp/dom.h"
#include "test_util.h"
#include "testsupport.h"

namespace arxp {
namespace {

using test::Ascii;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class DOMWriterTest : public ::testing::Test {
 protected:
  std::string path(const char* name) { return (dir_ / name).string(); }
  Document* parse(const std::u16string& text) { return parser_.parse(text.c_str()); }

  DOMParser parser_;
  std::filesystem::path dir_ = tgx::test::MakeTempDir("arxp_writer");
};

TEST_F(DOMWriterTest, ShiftJisFileNamesItsEncodingOnlyWhileWriting) {
  Document* doc = parse(u"<?xml version=\"1.0\"?><r a='x\"y'>\u3042<e/></r>");
  parser_.write(doc, path("out.xml").c_str(), "shift_jis");
  EXPECT_EQ(ReadFile(path("out.xml")),
            "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><r a=\"x&quot;y\">\x82\xa0<e/></r>");
  auto* decl = static_cast<ProcessingInstruction*>(doc->getFirstChild());
  EXPECT_EQ(Ascii(decl->getData()), "version=\"1.0\"");
  // The written file parses back to the same tree.
  Document* again = parser_.parse(path("out.xml").c_str());
  EXPECT_EQ(Ascii(again->getDocumentElement()->getAttribute("a")), "x\"y");
  EXPECT_EQ(again->getDocumentElement()->getFirstChild()->getNodeValue().data()[0], u'\u3042');
  parser_.free(again);
  parser_.free(doc);
}

TEST_F(DOMWriterTest, FileEncodingFollowsTheDeclaration) {
  Document* doc = parse(u"<?xml version=\"1.0\"?><r>\u3042</r>");
  static_cast<ProcessingInstruction*>(doc->getFirstChild())
      ->setData("version=\"1.0\" encoding=\"EUC-JP\"");
  parser_.write(doc, path("euc.xml").c_str());
  EXPECT_EQ(ReadFile(path("euc.xml")),
            "<?xml version=\"1.0\" encoding=\"EUC-JP\"?><r>\xa4\xa2</r>");
  parser_.free(doc);

  doc = parse(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><r/>");
  parser_.write(doc, path("u16.xml").c_str());
  const std::string bytes = ReadFile(path("u16.xml"));
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(bytes.substr(0, 4), std::string("\xFF\xFE<\0", 4));
  Document* again = parser_.parse(path("u16.xml").c_str());
  EXPECT_EQ(Ascii(again->getDocumentElement()->getTagName()), "r");
  parser_.free(again);
  parser_.free(doc);
}

TEST_F(DOMWriterTest, OsEncodedFileNamesTheOsEncoding) {
  // Without an encoding the declaration would mean UTF-8: the file would not read back.
  Document* doc = parse(u"<?xml version=\"1.0\"?><r>\u3042</r>");
  parser_.write(doc, path("os.xml").c_str());
  EXPECT_EQ(ReadFile(path("os.xml")),
            "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><r>\x82\xa0</r>");
  EXPECT_EQ(Ascii(static_cast<ProcessingInstruction*>(doc->getFirstChild())->getData()),
            "version=\"1.0\"");
  parser_.free(doc);
}

TEST_F(DOMWriterTest, BufferHasNoMarkAndCountsTheTerminatingZero) {
  Document* doc = parse(u"<?xml version=\"1.0\"?><r>a&amp;b</r>");
  const std::u16string expected = u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><r>a&amp;b</r>";
  char16_t buffer[128];
  int length = sizeof buffer;
  parser_.write(doc, buffer, &length);
  EXPECT_EQ(length, static_cast<int>((expected.size() + 1) * 2));
  EXPECT_EQ(std::u16string(buffer), expected);

  char16_t small[4] = {u'x', u'x', u'x', u'x'};
  length = 6;  // three units
  parser_.write(doc, small, &length);
  EXPECT_EQ(length, static_cast<int>((expected.size() + 1) * 2));
  EXPECT_EQ(std::u16string(small, 4), std::u16string(u"<?xx"));
  parser_.free(doc);
}

TEST_F(DOMWriterTest, StandardOutputIsIndented) {
  Document* doc = parse(u"<r><a>text</a><b><c/></b><!--k--></r>");
  std::ostringstream captured;
  std::streambuf* saved = std::cout.rdbuf(captured.rdbuf());
  parser_.write(doc, static_cast<const char*>(nullptr));
  std::cout.rdbuf(saved);
  EXPECT_EQ(captured.str(),
            "<r>\r\n  <a>text</a>\r\n  <b>\r\n    <c/>\r\n  </b>\r\n  <!--k-->\r\n</r>\r\n");
  parser_.free(doc);
}

TEST_F(DOMWriterTest, UnwritableFileFailsClearly) {
  test::CapturedDiagnostics quiet;
  Document* doc = parse(u"<r/>");
  try {
    parser_.write(doc, "/nonexistent/dir/out.xml");
    ADD_FAILURE();
  } catch (const ARXPException& e) {
    EXPECT_EQ(e.getCode(), ARXPException::FILE_OPEN_ERR);
    EXPECT_EQ(Ascii(e.getMessage()), "file (/nonexistent/dir/out.xml) cannot open");
  }
  parser_.free(doc);
}

}  // namespace
}  // namespace arxp

namespace arxp {
namespace {

// The document as the parser writes it into a caller's UTF-16 buffer.
std::u16string WrittenInUtf16(DOMParser& parser, Document* doc) {
  char16_t buffer[256];
  int length = sizeof buffer;
  parser.write(doc, buffer, &length);
  return buffer;
}

TEST(DOMWriterRoundTripTest, CharactersAParseWouldChangeAreReferenced) {
  DOMParser parser;
  parser.setFeature(sax_names::kExternalParameterEntities, false);  // no file "a\"b"
  Document* doc = parser.parse(u"<!DOCTYPE r SYSTEM 'a\"b'><r v='a&#9;b&#10;c&#13;'>x&#13;y</r>");
  const std::u16string written = WrittenInUtf16(parser, doc);
  EXPECT_EQ(written, u"<!DOCTYPE r SYSTEM 'a\"b'><r v=\"a&#9;b&#10;c&#13;\">x&#13;y</r>");
  Document* again = parser.parse(written.c_str());
  EXPECT_EQ(again->getDocumentElement()->getAttribute("v"),
            doc->getDocumentElement()->getAttribute("v"));
  EXPECT_EQ(again->getDocumentElement()->getFirstChild()->getNodeValue(),
            doc->getDocumentElement()->getFirstChild()->getNodeValue());
  parser.free(again);
  parser.free(doc);
}

// An "&" in a replacement text stays one only before a name and ";"; otherwise it
// is written as a reference, so that the declaration parses to the same text.
TEST(DOMWriterRoundTripTest, AmpersandsOfEntityValuesThatStartNoReference) {
  DOMParser parser;
  Document* doc =
      parser.parse(u"<!DOCTYPE r [<!ENTITY e 'v&#38;a\u2600;w&#38;1;&\u540D;&#38;x'>]><r/>");
  const std::u16string written = WrittenInUtf16(parser, doc);
  EXPECT_EQ(written, u"<!DOCTYPE r [<!ENTITY e \"v&#38;a\u2600;w&#38;1;&\u540D;&#38;x\">]><r/>");
  Document* again = parser.parse(written.c_str());
  auto replacement = [](Document* d) {
    return static_cast<Entity*>(d->getDoctype()->getEntities()->getNamedItem("e"))
        ->getReplacementText();
  };
  EXPECT_EQ(replacement(again), replacement(doc));
  EXPECT_EQ(std::u16string(replacement(doc).data(), replacement(doc).length()),
            u"v&a\u2600;w&1;&\u540D;&x");
  parser.free(again);
  parser.free(doc);
}

}  // namespace
}  // namespace arxp
