// The W3C XML Conformance Test Suite against the parser in non-validating mode: its
// xmltest, japanese and oasis sets, one case per set and category. Every not-wf
// document must be rejected and every valid or invalid one accepted; documents with
// a canonical output file must produce it; the Japanese documents must give the
// same canonical form in every encoding. Each case prints its score and fails on a
// failure that is not in its list of known failures; a known failure that now
// passes is printed so that the list can shrink.
//
// The suite is not part of the tree: scripts/fetch-xml-suite.sh puts it in
// <build dir>/xmlconf (TGX_XMLCONF_DIR overrides the place).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "arxp/diagnostics.h"
#include "arxp/dom.h"
#include "arxp/exception.h"
#include "arxp/parser.h"
#include "arxp/sax.h"

namespace arxp {
namespace {

namespace fs = std::filesystem;

// Known failures by test id, each with the reason.
using KnownFailures = std::map<std::string, std::string>;

constexpr const char* kFourByteUtf8 =
    "UTF-8 sequences of four bytes (characters above U+FFFF) are not read";

// Known failures that share one reason.
KnownFailures Because(const char* reason, std::initializer_list<const char*> ids) {
  KnownFailures known;
  for (const char* id : ids) known.emplace(id, reason);
  return known;
}

std::string Utf8(const char16_t* units, int length) {
  std::string out;
  for (int i = 0; i < length; ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < length && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string Utf8(const Xstring& s) {
  return s.isNull() ? std::string() : Utf8(s.data(), s.length());
}

std::optional<std::string> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

fs::path SuiteDir() {
  if (const char* dir = std::getenv("TGX_XMLCONF_DIR")) return dir;
  return ARXP_XMLCONF_DIR;
}

// One TEST entry of a catalogue.
struct SuiteCase {
  std::string id;
  std::string type;  // valid, invalid, not-wf, error
  fs::path document;
  fs::path output;  // the canonical form, or empty
  bool namespaces = true;
};

// The diagnostics of one parse go to a string; the first report is kept as the reason.
class QuietDiagnostics {
 public:
  QuietDiagnostics() { Diagnostics::setStream(&out_); }
  ~QuietDiagnostics() { Diagnostics::setStream(nullptr); }
  // The first error report (warnings may come before it).
  std::string firstError() const {
    std::istringstream lines(out_.str());
    for (std::string line; std::getline(lines, line);)
      if (line.rfind("ARXP warning", 0) != 0) return line;
    return {};
  }

 private:
  std::ostringstream out_;
};

// Reads a catalogue with the library's own DOM parser.
std::vector<SuiteCase> ReadCatalogue(const fs::path& catalogue) {
  std::vector<SuiteCase> cases;
  QuietDiagnostics quiet;
  DOMParser parser;
  Document* document = parser.parse(catalogue.c_str());
  NodeList* tests = document->getElementsByTagName("TEST");
  for (int i = 0; i < tests->getLength(); ++i) {
    const auto* test = static_cast<const Element*>(tests->item(i));
    SuiteCase c;
    c.id = Utf8(test->getAttribute("ID"));
    c.type = Utf8(test->getAttribute("TYPE"));
    c.document = catalogue.parent_path() / Utf8(test->getAttribute("URI"));
    if (test->hasAttribute("OUTPUT"))
      c.output = catalogue.parent_path() / Utf8(test->getAttribute("OUTPUT"));
    c.namespaces = Utf8(test->getAttribute("NAMESPACE")) != "no";
    const std::string edition = Utf8(test->getAttribute("EDITION"));
    // The parser takes the name characters of the fifth edition, which makes the
    // entries limited to earlier editions well-formed.
    if (!edition.empty() && edition.find('5') == std::string::npos) continue;
    cases.push_back(std::move(c));
  }
  parser.free(tests);
  parser.free(document);
  return cases;
}

// Parses a document into a DOM; the reason of the rejection, or nothing when accepted.
std::optional<std::string> Reject(const SuiteCase& c) {
  QuietDiagnostics quiet;
  DOMParser parser;
  parser.setFeature(sax_names::kNamespaces, c.namespaces);
  try {
    parser.free(parser.parse(c.document.c_str()));
    return std::nullopt;
  } catch (const ARXPException& e) {
    const std::string line = quiet.firstError();
    return line.empty() ? Utf8(e.getMessage()) : line;
  }
}

// Writes the canonical form of the suite's output files from the SAX events:
// notations in a document type declaration, elements with their attributes in name
// order, character data with the markup characters and TAB, LF, CR as references,
// processing instructions; no comments, no XML declaration.
class CanonicalWriter final : public DefaultHandler {
 public:
  const std::string& text() const { return out_; }

  void notationDecl(const Xstring& name, const Xstring& public_id,
                    const Xstring& system_id) override {
    std::string decl = "<!NOTATION " + Utf8(name);
    if (!public_id.isNull()) {
      decl += " PUBLIC '" + Utf8(public_id) + "'";
      if (!system_id.isNull()) decl += " '" + Utf8(system_id) + "'";
    } else {
      decl += " SYSTEM '" + Utf8(system_id) + "'";
    }
    notations_[Utf8(name)] = decl + ">\n";
  }
  void startElement(const Xstring&, const Xstring&, const Xstring& qname,
                    const Attributes& attributes) override {
    if (!root_seen_ && !notations_.empty()) {
      out_ += "<!DOCTYPE " + Utf8(qname) + " [\n";
      for (const auto& [name, decl] : notations_) out_ += decl;
      out_ += "]>\n";
    }
    root_seen_ = true;
    std::map<std::u16string, std::u16string> sorted;
    for (int i = 0; i < attributes.getLength(); ++i) {
      const Xstring name = attributes.getQName(i), value = attributes.getValue(i);
      sorted[std::u16string(name.data(), name.length())] =
          std::u16string(value.data(), value.length());
    }
    out_ += "<" + Utf8(qname);
    for (const auto& [name, value] : sorted) {
      out_ += " " + Utf8(name.data(), static_cast<int>(name.size())) + "=\"";
      Escape(value.data(), static_cast<int>(value.size()));
      out_ += "\"";
    }
    out_ += ">";
  }
  void endElement(const Xstring&, const Xstring&, const Xstring& qname) override {
    out_ += "</" + Utf8(qname) + ">";
  }
  void characters(const char16_t* ch, int start, int length) override {
    Escape(ch + start, length);
  }
  void ignorableWhiteSpace(const char16_t* ch, int start, int length) override {
    Escape(ch + start, length);
  }
  void processingInstruction(const Xstring& target, const Xstring& data) override {
    out_ += "<?" + Utf8(target) + " " + Utf8(data) + "?>";
  }

 private:
  void Escape(const char16_t* units, int length) {
    int from = 0;
    for (int i = 0; i < length; ++i) {
      const char* reference = nullptr;
      switch (units[i]) {
        case u'&': reference = "&amp;"; break;
        case u'<': reference = "&lt;"; break;
        case u'>': reference = "&gt;"; break;
        case u'"': reference = "&quot;"; break;
        case u'\t': reference = "&#9;"; break;
        case u'\n': reference = "&#10;"; break;
        case u'\r': reference = "&#13;"; break;
        default: continue;
      }
      out_ += Utf8(units + from, i - from) + reference;
      from = i + 1;
    }
    out_ += Utf8(units + from, length - from);
  }

  std::string out_;
  std::map<std::string, std::string> notations_;
  bool root_seen_ = false;
};

// The canonical form of a document, or the reason it was rejected.
struct Canonical {
  std::string text;
  std::optional<std::string> rejected;
};

Canonical CanonicalForm(const fs::path& document) {
  QuietDiagnostics quiet;
  CanonicalWriter writer;
  SAXParser parser;
  // Without namespace processing every attribute, xmlns ones included, is reported.
  parser.setFeature(sax_names::kNamespaces, false);
  parser.setContentHandler(&writer);
  parser.setDTDHandler(&writer);
  try {
    parser.parse(Xstring(document.c_str()));
  } catch (const ARXPException& e) {
    const std::string line = quiet.firstError();
    return {writer.text(), line.empty() ? Utf8(e.getMessage()) : line};
  }
  return {writer.text(), std::nullopt};
}

// The outcome of one suite case: nothing when it passed, otherwise why not.
using Check = std::optional<std::string>;

// Scores the cases, prints the score, the failures and the known failures that now
// pass, and fails the test on a failure that is not known.
void Score(const std::string& title, const std::vector<SuiteCase>& cases,
           const KnownFailures& known, Check (*check)(const SuiteCase&)) {
  ASSERT_FALSE(cases.empty()) << title << ": no cases in the catalogue";
  int passed = 0;
  std::set<std::string> ids;
  std::ostringstream unexpected, fixed, expected;
  for (const SuiteCase& c : cases) {
    ids.insert(c.id);
    const Check failure = check(c);
    const auto entry = known.find(c.id);
    if (!failure) {
      ++passed;
      if (entry != known.end()) fixed << "  " << c.id << " (was: " << entry->second << ")\n";
    } else if (entry == known.end()) {
      unexpected << "  " << c.id << " " << c.document.filename().string() << ": " << *failure
                 << "\n";
    } else {
      expected << "  " << c.id << ": " << entry->second << "\n";
    }
  }
  for (const auto& [id, reason] : known)
    EXPECT_TRUE(ids.count(id)) << title << ": known failure " << id << " is not a case here";
  std::cout << title << ": " << passed << "/" << cases.size() << " passed\n";
  if (!expected.str().empty()) std::cout << "known failures:\n" << expected.str();
  if (!fixed.str().empty())
    std::cout << "known failures that now pass (take them off the list):\n" << fixed.str();
  ::testing::Test::RecordProperty("passed", passed);
  ::testing::Test::RecordProperty("total", static_cast<int>(cases.size()));
  EXPECT_TRUE(unexpected.str().empty()) << title << ": failures not in the known list:\n"
                                        << unexpected.str();
}

Check MustReject(const SuiteCase& c) {
  if (Reject(c)) return std::nullopt;
  return "accepted";
}

Check MustAccept(const SuiteCase& c) { return Reject(c); }

Check MustMatchOutput(const SuiteCase& c) {
  const Canonical canonical = CanonicalForm(c.document);
  if (canonical.rejected) return "rejected: " + *canonical.rejected;
  const std::optional<std::string> expected = ReadFile(c.output);
  if (!expected) return "cannot read " + c.output.string();
  if (canonical.text == *expected) return std::nullopt;
  return "canonical form differs:\n    got      " + canonical.text.substr(0, 200) +
         "\n    expected " + expected->substr(0, 200);
}

class XmlConformance : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(SuiteDir() / "xmlconf.xml"))
      FAIL() << "the XML conformance suite is not in " << SuiteDir()
             << ": fetch it with scripts/fetch-xml-suite.sh";
  }

  // The cases of one set's catalogue of one type (all types when empty).
  static std::vector<SuiteCase> Cases(const std::string& catalogue, const std::string& type) {
    std::vector<SuiteCase> cases = ReadCatalogue(SuiteDir() / catalogue);
    std::erase_if(cases, [&](const SuiteCase& c) { return !type.empty() && c.type != type; });
    return cases;
  }
};

constexpr const char* kXmltest = "xmltest/xmltest.xml";
constexpr const char* kOasis = "oasis/oasis.xml";
constexpr const char* kJapanese = "japanese/japanese.xml";

TEST_F(XmlConformance, XmltestNotWellFormedRejected) {
  const KnownFailures known = {};
  Score("xmltest not-wf", Cases(kXmltest, "not-wf"), known, MustReject);
}

TEST_F(XmlConformance, XmltestValidAccepted) {
  const KnownFailures known = Because(kFourByteUtf8, {"valid-sa-052"});
  Score("xmltest valid", Cases(kXmltest, "valid"), known, MustAccept);
}

TEST_F(XmlConformance, XmltestInvalidAccepted) {
  const KnownFailures known = {};
  Score("xmltest invalid", Cases(kXmltest, "invalid"), known, MustAccept);
}

TEST_F(XmlConformance, XmltestCanonicalOutput) {
  std::vector<SuiteCase> cases = Cases(kXmltest, "");
  std::erase_if(cases, [](const SuiteCase& c) { return c.output.empty(); });
  const KnownFailures known = Because(kFourByteUtf8, {"valid-sa-052"});
  Score("xmltest canonical output", cases, known, MustMatchOutput);
}

TEST_F(XmlConformance, OasisNotWellFormedRejected) {
  const KnownFailures known = {};
  Score("oasis not-wf", Cases(kOasis, "not-wf"), known, MustReject);
}

TEST_F(XmlConformance, OasisValidAccepted) {
  const KnownFailures known = {};
  Score("oasis valid", Cases(kOasis, "valid"), known, MustAccept);
}

TEST_F(XmlConformance, OasisInvalidAccepted) {
  const KnownFailures known = {};
  Score("oasis invalid", Cases(kOasis, "invalid"), known, MustAccept);
}

// Every Japanese document is accepted: the library reads all of their encodings,
// so the suite's "error" entries (encodings a processor may refuse) must parse too.
TEST_F(XmlConformance, JapaneseDocumentsAccepted) {
  const KnownFailures known = {};
  Score("japanese", Cases(kJapanese, ""), known, MustAccept);
}

// A document in several encodings gives one canonical form. The suite's UTF-16
// copies of "pr-xml" were made by a conversion that turned every byte 0x0D into
// 0x0A (doubling each line end and changing some characters), so they agree with
// each other only.
TEST_F(XmlConformance, JapaneseCanonicalFormsAgree) {
  const std::vector<std::vector<std::string>> groups = {
      {"pr-xml-utf-8", "pr-xml-shift_jis", "pr-xml-euc-jp", "pr-xml-iso-2022-jp"},
      {"pr-xml-utf-16", "pr-xml-little-endian"},
      {"weekly-utf-8", "weekly-shift_jis", "weekly-euc-jp", "weekly-iso-2022-jp", "weekly-utf-16",
       "weekly-little-endian"},
  };
  const fs::path dir = SuiteDir() / "japanese";
  for (const auto& group : groups) {
    const Canonical reference = CanonicalForm(dir / (group[0] + ".xml"));
    ASSERT_FALSE(reference.rejected) << group[0] << ": " << *reference.rejected;
    // Most of each document is Japanese text: a form without it is no form.
    ASSERT_NE(reference.text.find("\xe3\x81\xae"), std::string::npos)  // U+306E
        << group[0] << " gave no Japanese text";
    for (std::size_t i = 1; i < group.size(); ++i) {
      const Canonical other = CanonicalForm(dir / (group[i] + ".xml"));
      ASSERT_FALSE(other.rejected) << group[i] << ": " << *other.rejected;
      const auto [mismatch, _] = std::mismatch(reference.text.begin(), reference.text.end(),
                                               other.text.begin(), other.text.end());
      const std::size_t at = mismatch - reference.text.begin();
      EXPECT_TRUE(mismatch == reference.text.end() && at == other.text.size())
          << group[i] << " differs from " << group[0] << " at byte " << at << ": "
          << reference.text.substr(at, 60) << " / " << other.text.substr(at, 60);
    }
  }
}

}  // namespace
}  // namespace arxp
