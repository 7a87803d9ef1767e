// Well-formedness rules of the document type declaration and of references, where
// the parser once strayed from XML 1.0: character references of any length, entity
// redeclarations, the content-model grammar, and declarations after a parameter
// entity that is not read.
#include <gtest/gtest.h>

#include <string>

#include "arxp/document_parser.h"
#include "test_util.h"

namespace arxp {
namespace {

using test::Ascii;

// Records declarations, attributes, text and skipped entities, one line each.
class Trace : public ParseEvents {
 public:
  std::string text;

  void elementDecl(const Xstring& name, const Xstring& model) override {
    add("element " + Ascii(name) + " " + Ascii(model));
  }
  void internalEntityDecl(const Xstring& name, const Xstring& value) override {
    add("entity " + Ascii(name) + "=" + Ascii(value));
  }
  void attributeDecl(const Xstring& element, const Xstring& name, const Xstring&, const Xstring&,
                     const Xstring&) override {
    add("attlist " + Ascii(element) + " " + Ascii(name));
  }
  void startElement(const Xstring&, const Xstring&, const Xstring& qname,
                    const std::vector<ParsedAttribute>& attributes) override {
    std::string line = "start " + Ascii(qname);
    for (const ParsedAttribute& a : attributes) line += " " + Ascii(a.qname) + "=" + Ascii(a.value);
    add(line);
  }
  void characters(const Xstring& s) override { add("text " + Ascii(s)); }
  void skippedEntity(const Xstring& name) override { add("skipped " + Ascii(name)); }

 private:
  void add(const std::string& line) { text += line + "\n"; }
};

std::string Parse(const std::string& document) {
  ByteInput input(document.data(), document.size(), "doc.xml");
  Trace trace;
  DocumentParser().parse(input, trace);
  return trace.text;
}

// The message of the error a document raises, or "" when it is accepted.
std::string Rejection(const std::string& document) {
  test::CapturedDiagnostics quiet;
  try {
    Parse(document);
  } catch (const ARXPException& e) {
    return Ascii(e.getMessage());
  }
  return "";
}

TEST(WellFormednessTest, CharacterReferencesMayHaveAnyNumberOfDigits) {
  EXPECT_EQ(Parse("<a>&#0000000000000000000000000000065;&#x000000000000000000000042;</a>"),
            "start a\ntext A\ntext B\n");
  EXPECT_EQ(Parse("<a v='&#0000000000000000000000000000065;'/>"), "start a v=A\n");
  // Digits beyond the range of characters stay out of range however many there are.
  EXPECT_EQ(Rejection("<a>&#x1000000000000000000000041;</a>"), "illegal character reference value");
  EXPECT_EQ(Rejection("<a>&#65</a>"), "illegal character reference");
}

TEST(WellFormednessTest, FirstEntityDeclarationBindsAndARedeclarationIsAWarning) {
  test::CapturedDiagnostics diagnostics;
  EXPECT_EQ(Parse("<!DOCTYPE a [<!ENTITY e 'first'><!ENTITY e 'second'>"
                  "<!ENTITY % p 'x'><!ENTITY % p 'y'>]><a>&e;</a>"),
            "entity e=first\nentity %p=x\nstart a\ntext first\n");
  EXPECT_EQ(diagnostics.text(),
            "ARXP warning : entity decl name (e) already registered : doc.xml "
            "(<!ENTITY % p 'x') at line 1, col 53\n"
            "ARXP warning : entity decl name (p) already registered : doc.xml "
            "(]><a>&e;</a>) at line 1, col 87\n");
}

TEST(WellFormednessTest, ContentModelsFollowTheGrammar) {
  const struct {
    const char* declared;
    const char* reported;
  } accepted[] = {
      {"EMPTY", "EMPTY"},
      {"ANY", "ANY"},
      {"(#PCDATA)", "(#PCDATA)"},
      {"( #PCDATA )*", "(#PCDATA)*"},
      {"(#PCDATA | b |c)*", "(#PCDATA|b|c)*"},
      {"( b )", "(b)"},
      {"(b, (c | d)*, e?)+", "(b,(c|d)*,e?)+"},
      {"((b|c),d*)?", "((b|c),d*)?"},
  };
  for (const auto& c : accepted) {
    EXPECT_EQ(Parse(std::string("<!DOCTYPE a [<!ELEMENT a ") + c.declared + ">]><a/>"),
              std::string("element a ") + c.reported + "\nstart a\n")
        << c.declared;
  }
  const char* rejected[] = {
      "(b, (c) | d)?",  // separators mixed in one group
      "((b?)))",        // unbalanced
      "(b|#PCDATA)*",   // #PCDATA not first
      "((#PCDATA))",    // #PCDATA nested
      "(#PCDATA)+",     // mixed content ends in ")" or ")*"
      "(#PCDATA)?",
      "(#PCDATA|b)",    // names in mixed content need ")*"
      "(#PCDATA|b*)*",  // no occurrence marks inside mixed content
      "(#PCDATA|(b))*",  "CDATA",    "- - (#PCDATA)", "(b) +(c)",
      "(b) *",  // no space before an occurrence mark
      "(b *)",           "(b & c)?", "(b*?)",         "()",       "EMPTY (b)",
      "(#PCDATA) --c--", "(b",
  };
  for (const char* model : rejected) {
    EXPECT_NE(Rejection(std::string("<!DOCTYPE a [<!ELEMENT a ") + model + ">]><a/>"), "") << model;
  }
  // Parameter references may not stand inside declarations of the internal subset.
  EXPECT_NE(Rejection("<!DOCTYPE a [<!ENTITY % e '#PCDATA'><!ELEMENT a (%e;)>]><a/>"), "");
}

TEST(WellFormednessTest, DeeplyNestedContentModelsAreBounded) {
  const std::string deep(100000, '(');
  EXPECT_EQ(Rejection("<!DOCTYPE a [<!ELEMENT a " + deep + "b>]><a/>"), "parser stack overflow");
}

TEST(WellFormednessTest, DeclarationsAfterAnUnreadParameterEntityAreNotProcessed) {
  const std::string subset =
      "<!DOCTYPE a [<!ENTITY % p SYSTEM 'p.ent'><!ATTLIST a x CDATA 'v'>%p;"
      "<!ATTLIST a y CDATA 'w'><!ENTITY e 'z'><!ELEMENT a ANY>]><a>&e;</a>";
  // The unread entity may declare y and e first: neither declaration is used.
  EXPECT_EQ(Parse(subset), "attlist a x\nskipped %p\nelement a ANY\nstart a x=v\nskipped e\n");
  // A standalone document does not depend on it.
  EXPECT_EQ(Parse("<?xml version='1.0' standalone='yes'?>" + subset),
            "attlist a x\nskipped %p\nattlist a y\nentity e=z\nelement a ANY\nstart a x=v "
            "y=w\ntext z\n");
  // The declarations after it must still be well-formed.
  EXPECT_NE(Rejection("<!DOCTYPE a [<!ENTITY % p SYSTEM 'p.ent'>%p;<!ATTLIST a>>]><a/>"), "");
}

}  // namespace
}  // namespace arxp
