// A parsed document's strings view the text it keeps: text runs with references
// gathered in place, zero-terminated strings, copies on change, clones and imports
// that outlive the source, the child links and lists, and namespace names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "arxp/dom.h"
#include "arxp/memory.h"
#include "arxp/sax.h"
#include "test_util.h"

namespace arxp {
namespace {

using test::Ascii;

std::u16string Units(const Xstring& s) {
  return s.isNull() ? u"<null>" : std::u16string(s.data(), static_cast<std::size_t>(s.length()));
}

// Parses in the constructor, frees at the end of the test.
class Parsed {
 public:
  explicit Parsed(const char16_t* text, bool entity_references = true) {
    parser_.setCreateEntityReferenceNodes(entity_references);
    doc_ = parser_.parse(text);
  }
  ~Parsed() { parser_.free(doc_); }
  Document* doc() const { return doc_; }
  Element* root() const { return doc_->getDocumentElement(); }
  DOMParser& parser() { return parser_; }

 private:
  DOMParser parser_;
  Document* doc_ = nullptr;
};

// Every string a node holds by reference is zero-terminated after its units.
void ExpectTerminated(const Xstring& s, const std::string& what) {
  if (s.isNull()) return;
  EXPECT_EQ(s.c_str()[s.length()], 0) << what;
}

void ExpectAllTerminated(const Node* node) {
  switch (node->getNodeType()) {
    case Node::ELEMENT_NODE: {
      auto* element = static_cast<const Element*>(node);
      ExpectTerminated(element->getTagName(), "element");
      const NamedNodeMap* attributes = element->getAttributes();
      for (int i = 0; i < attributes->getLength(); ++i) {
        auto* a = static_cast<const Attr*>(attributes->item(i));
        ExpectTerminated(a->getName(), "attribute name " + Ascii(a->getName()));
        ExpectTerminated(a->getValue(), "attribute value of " + Ascii(a->getName()));
      }
      break;
    }
    case Node::TEXT_NODE:
    case Node::CDATA_SECTION_NODE:
    case Node::COMMENT_NODE:
      ExpectTerminated(static_cast<const CharacterData*>(node)->getData(),
                       Ascii(node->getNodeValue()));
      break;
    case Node::PROCESSING_INSTRUCTION_NODE: {
      auto* pi = static_cast<const ProcessingInstruction*>(node);
      ExpectTerminated(pi->getTarget(), "target");
      ExpectTerminated(pi->getData(), "data");
      break;
    }
    default: break;
  }
  for (const Node* c = node->getFirstChild(); c; c = c->getNextSibling()) ExpectAllTerminated(c);
}

// The children read forwards and backwards agree, and each knows its parent.
void ExpectLinksAgree(const Node* parent) {
  std::vector<const Node*> forwards, backwards;
  for (const Node* c = parent->getFirstChild(); c; c = c->getNextSibling()) {
    EXPECT_EQ(c->getParentNode(), parent);
    forwards.push_back(c);
  }
  for (const Node* c = parent->getLastChild(); c; c = c->getPreviousSibling())
    backwards.insert(backwards.begin(), c);
  EXPECT_EQ(forwards, backwards);
  EXPECT_EQ(parent->getChildNodes()->getLength(), static_cast<int>(forwards.size()));
  EXPECT_EQ(parent->hasChildNodes(), !forwards.empty());
}

std::string Names(const Node* parent) {
  std::string out;
  for (const Node* c = parent->getFirstChild(); c; c = c->getNextSibling())
    out += Ascii(c->getNodeName());
  return out;
}

TEST(DomStoreTest, TextWithReferencesIsOneNodeWithTheReplacements) {
  const struct {
    const char16_t* document;
    const char16_t* text;
  } cases[] = {
      {u"<r>a&amp;b&#233;c&#x1F600;d&lt;e</r>", u"a&b\u00E9c\U0001F600d<e"},
      {u"<r>&lt;&#65;x</r>", u"<Ax"},                    // references first
      {u"<r>x&gt;&#x42;</r>", u"x>B"},                   // references last
      {u"<r>&amp;&#65;&#x10000;</r>", u"&A\U00010000"},  // references only
      {u"<r>&quot;</r>", u"\""},
      {u"<r>\n  a &apos;q&apos; \n</r>", u"\n  a 'q' \n"},
      {u"<r>&#10;a&#13;&#10;b</r>", u"\na\r\nb"},
      // The predefined entities keep their one character, whatever a declaration
      // says: their replacement never outgrows the reference.
      {u"<!DOCTYPE r [<!ENTITY lt 'longer than the reference'><!ENTITY amp '&#38;#38;'>]>"
       u"<r>a&lt;b&amp;c</r>",
       u"a<b&c"},
  };
  for (const auto& c : cases) {
    Parsed parsed(c.document);
    Node* text = parsed.root()->getFirstChild();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->getNodeType(), Node::TEXT_NODE);
    EXPECT_EQ(text->getNextSibling(), nullptr);
    EXPECT_EQ(Units(text->getNodeValue()), c.text);
    ExpectAllTerminated(parsed.doc());
  }
}

TEST(DomStoreTest, RunsEndAtEveryOtherNode) {
  Parsed parsed(
      u"<?xml version='1.0'?><!DOCTYPE r [<!ENTITY e 'in&#233;'>]>"
      u"<r a='1&amp;2' b=\"x\ny\">p&amp;<e/>q&lt;<!--c-->r&gt;<?t d?>s&#65;<![CDATA[&amp;]]>"
      u"t&e;u&quot;</r>");
  Element* r = parsed.root();
  std::vector<std::u16string> values;
  for (const Node* c = r->getFirstChild(); c; c = c->getNextSibling())
    values.push_back(Units(c->getNodeValue()));
  const std::vector<std::u16string> expected = {u"p&", u"<null>", u"q<", u"c",      u"r>", u"d",
                                                u"sA", u"&amp;",  u"t",  u"<null>", u"u\""};
  EXPECT_EQ(values, expected);
  EXPECT_EQ(Units(r->getAttribute("a")), u"1&2");
  EXPECT_EQ(Units(r->getAttribute("b")), u"x y");
  const Node* reference = r->getLastChild()->getPreviousSibling();
  ASSERT_EQ(reference->getNodeType(), Node::ENTITY_REFERENCE_NODE);
  EXPECT_EQ(Units(reference->getFirstChild()->getNodeValue()), u"in\u00E9");
  ExpectAllTerminated(parsed.doc());
}

TEST(DomStoreTest, TextOfEntitiesTakenInJoinsTheRunAround) {
  Parsed parsed(u"<!DOCTYPE r [<!ENTITY e 'in&#233;&lt;'>]><r>a&amp;&e;b&gt;<x/>&e;</r>", false);
  Element* r = parsed.root();
  ASSERT_EQ(r->getFirstChild()->getNodeType(), Node::TEXT_NODE);
  EXPECT_EQ(Units(r->getFirstChild()->getNodeValue()), u"a&in\u00E9<b>");
  EXPECT_EQ(Units(r->getLastChild()->getNodeValue()), u"in\u00E9<");
  EXPECT_EQ(r->getChildNodes()->getLength(), 3);
  ExpectAllTerminated(parsed.doc());
}

// The text is rewritten behind the parse: reports after it still count the lines
// of the input as it was.
TEST(DomStoreTest, ErrorsAfterRewrittenTextKeepTheirPlace) {
  const std::u16string document =
      u"<r\n a='1'\n>x&#10;&#10;y&amp;z\n<e\n/>&lt;\n<f>\n&#x41;</f>\n</r>\n<r/>";
  std::string from_sax;
  {
    test::CapturedDiagnostics diagnostics;
    SAXParser parser;
    const std::u16string bytes = u"\uFEFF" + document;
    EXPECT_THROW(parser.parseBuffer(bytes.data(), bytes.size() * sizeof(char16_t), "buffer"),
                 ARXPException);
    from_sax = diagnostics.text();
  }
  test::CapturedDiagnostics diagnostics;
  DOMParser parser;
  EXPECT_THROW(parser.parse(document.c_str()), ARXPException);
  EXPECT_EQ(diagnostics.text(), from_sax);
  EXPECT_NE(from_sax.find("at line 9, col 1"), std::string::npos) << from_sax;
}

TEST(DomStoreTest, ChangedStringsBecomeCopiesAndLeaveTheRestAlone) {
  Parsed parsed(u"<r a='v'><b>one</b><c>two&amp;three</c><d>four</d></r>");
  Element* r = parsed.root();
  auto* one = static_cast<Text*>(r->getFirstChild()->getFirstChild());
  auto* two = static_cast<Text*>(one->getParentNode()->getNextSibling()->getFirstChild());
  auto* four = static_cast<Text*>(r->getLastChild()->getFirstChild());
  one->appendData("+more");
  two->replaceData(0, 3, "2");
  four->insertData(0, "<");
  r->setAttribute("a", "changed value that is longer");
  static_cast<Attr*>(r->getAttributes()->item(0))->setValue("w");
  Text* tail = one->splitText(3);
  EXPECT_EQ(Ascii(one->getData()), "one");
  EXPECT_EQ(Ascii(tail->getData()), "+more");
  EXPECT_EQ(Ascii(two->getData()), "2&three");
  EXPECT_EQ(Ascii(four->getData()), "<four");
  EXPECT_EQ(Ascii(r->getAttribute("a")), "w");
  EXPECT_EQ(Names(r), "bcd");
  r->getFirstChild()->normalize();
  EXPECT_EQ(Ascii(r->getFirstChild()->getFirstChild()->getNodeValue()), "one+more");
  EXPECT_EQ(r->getFirstChild()->getChildNodes()->getLength(), 1);

  std::vector<char16_t> written(256);
  int length = static_cast<int>(written.size() * sizeof(char16_t));
  parsed.parser().write(parsed.doc(), written.data(), &length);
  const std::u16string out(written.data());
  EXPECT_NE(out.find(u"<r a=\"w\"><b>one+more</b><c>2&amp;three</c><d>&lt;four</d></r>"),
            std::u16string::npos);
}

TEST(DomStoreTest, ClonesAndImportsOutliveTheirSource) {
  DOMParser parser;
  Document* target = parser.createDocument();
  Node* imported = nullptr;
  Node* cloned_document = nullptr;
  {
    Parsed source(u"<r xmlns:p='urn:p' p:a='v&amp;w'>text&lt;<p:e>x</p:e><!--c--><?t d?></r>");
    imported = target->importNode(source.root(), true);
    target->appendChild(imported);
    cloned_document = source.doc()->cloneNode(true);
    Node* clone = source.root()->cloneNode(true);
    EXPECT_EQ(Ascii(clone->getFirstChild()->getNodeValue()), "text<");
    parser.freeNode(clone);
  }
  // Another parse takes the memory the source gave back.
  Parsed other(
      u"<zzzzzzzzzzzzzz q='qqqqqqqqqqqqqqqqqqqq'>yyyyyyyyyyyyyyyyyyyyyyyyyyyy</zzzzzzzzzzzzzz>");
  for (Node* root : std::vector<Node*>{
           imported, static_cast<Document*>(cloned_document)->getDocumentElement()}) {
    auto* r = static_cast<Element*>(root);
    EXPECT_EQ(Ascii(r->getTagName()), "r");
    EXPECT_EQ(Ascii(r->getAttributeNS("urn:p", "a")), "v&w");
    EXPECT_EQ(Ascii(r->getFirstChild()->getNodeValue()), "text<");
    Node* e = r->getFirstChild()->getNextSibling();
    EXPECT_EQ(Ascii(e->getNamespaceURI()), "urn:p");
    EXPECT_EQ(Ascii(e->getLocalName()), "e");
    EXPECT_EQ(Ascii(e->getFirstChild()->getNodeValue()), "x");
    EXPECT_EQ(Ascii(r->getLastChild()->getNodeValue()), "d");
    ExpectAllTerminated(r);
  }
  parser.free(static_cast<Document*>(cloned_document));
  parser.free(target);
}

TEST(DomStoreTest, NodesMadeByTheApiCopyTheirStrings) {
  Parsed parsed(u"<r>parsed</r>");
  char16_t name[] = u"made";
  char16_t data[] = u"-text";
  Element* made = parsed.doc()->createElement(Xstring(name, 4));
  Text* text = parsed.doc()->createTextNode(Xstring(data, 5));
  made->setAttribute(Xstring(name, 4), Xstring(data, 5));
  name[0] = u'X';
  data[1] = u'X';
  EXPECT_EQ(Ascii(made->getTagName()), "made");
  EXPECT_FALSE(made->getTagName().isBulk());
  EXPECT_EQ(Ascii(made->getAttribute("made")), "-text");
  parsed.root()->appendChild(text);
  parsed.root()->appendChild(made);
  parsed.root()->normalize();
  EXPECT_EQ(Ascii(parsed.root()->getFirstChild()->getNodeValue()), "parsed-text");
  EXPECT_EQ(Names(parsed.root()), "#textmade");
}

TEST(DomStoreTest, ChildLinksHoldThroughInsertsAndRemovals) {
  Parsed parsed(u"<r><a/><b/><c/></r>");
  Document* doc = parsed.doc();
  Element* r = parsed.root();
  NodeList* list = r->getChildNodes();
  EXPECT_EQ(list, r->getChildNodes());
  Node* a = r->getFirstChild();
  Node* c = r->getLastChild();
  EXPECT_EQ(a->getPreviousSibling(), nullptr);
  EXPECT_EQ(c->getNextSibling(), nullptr);

  r->insertBefore(doc->createElement("f"), a);  // a new first child
  r->insertBefore(doc->createElement("m"), c);  // in the middle
  r->appendChild(doc->createElement("l"));
  EXPECT_EQ(Names(r), "fabmcl");
  ExpectLinksAgree(r);
  EXPECT_EQ(list->getLength(), 6);
  EXPECT_EQ(Ascii(list->item(5)->getNodeName()), "l");

  for (const char* name : {"f", "l", "m"}) {
    Node* gone = nullptr;
    for (Node* n = r->getFirstChild(); n; n = n->getNextSibling())
      if (n->getNodeName() == name) gone = n;
    parsed.parser().freeNode(r->removeChild(gone));
    ExpectLinksAgree(r);
  }
  EXPECT_EQ(Names(r), "abc");
  r->appendChild(a);  // moves the first child to the end
  EXPECT_EQ(Names(r), "bca");
  ExpectLinksAgree(r);
  parsed.parser().freeNode(r->replaceChild(doc->createElement("z"), r->getFirstChild()));
  EXPECT_EQ(Names(r), "zca");
  ExpectLinksAgree(r);
  while (Node* n = r->getLastChild()) parsed.parser().freeNode(r->removeChild(n));
  ExpectLinksAgree(r);
  EXPECT_EQ(list->getLength(), 0);
  EXPECT_EQ(list->item(0), nullptr);
}

TEST(DomStoreTest, ChildListsGoWithTheirNodes) {
  Parsed parsed(u"<r><a><x/></a></r>");
  Node* a = parsed.root()->getFirstChild();
  EXPECT_EQ(a->getChildNodes()->getLength(), 1);
  EXPECT_EQ(parsed.doc()->getChildNodes()->item(0), parsed.root());
  parsed.parser().freeNode(parsed.root()->removeChild(a));
  // Nodes made now may take the freed one's address: they get lists of their own.
  for (int i = 0; i < 8; ++i) {
    Element* made = parsed.doc()->createElement("n");
    EXPECT_EQ(made->getChildNodes()->getLength(), 0);
    parsed.root()->appendChild(made);
  }
  EXPECT_EQ(parsed.root()->getChildNodes()->getLength(), 8);

  DOMImplementation* implementation = parsed.parser().getImplementation();
  DocumentType* type = implementation->createDocumentType("t", Xstring(), Xstring());
  EXPECT_EQ(type->getChildNodes()->getLength(), 0);
  EXPECT_EQ(type->getChildNodes()->item(0), nullptr);
  Document* doc = implementation->createDocument(Xstring(), "t", type);
  EXPECT_EQ(type->getChildNodes()->getLength(), 0);
  EXPECT_EQ(doc->getChildNodes()->getLength(), 2);
  parsed.parser().free(doc);
}

TEST(DomStoreTest, NamespaceNamesMatchAcrossPrefixesAndDocuments) {
  Parsed parsed(u"<r xmlns='urn:d' xmlns:p='urn:a' xmlns:q='urn:a' p:x='1'><e q:y='2'/></r>");
  Element* r = parsed.root();
  EXPECT_EQ(Ascii(r->getNamespaceURI()), "urn:d");
  // q:x names the same attribute as p:x.
  r->setAttributeNS("urn:a", "q:x", "3");
  EXPECT_EQ(Ascii(r->getAttributeNS("urn:a", "x")), "3");
  EXPECT_EQ(r->getAttributes()->getLength(), 4);
  Element* e = static_cast<Element*>(r->getFirstChild());
  EXPECT_EQ(Ascii(e->getNamespaceURI()), "urn:d");
  EXPECT_EQ(Ascii(e->getAttributeNS("urn:a", "y")), "2");

  Document* other = parsed.parser().createDocument();
  auto* copy = static_cast<Element*>(other->importNode(e, true));
  other->appendChild(copy);
  copy->setAttributeNS("urn:a", "p:y", "4");
  EXPECT_EQ(copy->getAttributes()->getLength(), 1);
  EXPECT_EQ(Ascii(copy->getAttributeNS("urn:a", "y")), "4");
  EXPECT_EQ(Ascii(copy->getNamespaceURI()), "urn:d");
  EXPECT_TRUE(copy->getAttributeNode("p:y") != nullptr);
  parsed.parser().free(other);
}

// Names, values and text are views of the document's text: the tree takes a block
// per node, none per string.
TEST(DomStoreTest, ParsedStringsTakeNoBlocksOfTheirOwn) {
  std::u16string document = u"<r>";
  constexpr int kElements = 500;
  for (int i = 0; i < kElements; ++i) document += u"<e a='v'>t&amp;u</e>\n";
  document += u"</r>";
  const long before = Memory::statistics().heap_blocks;
  Parsed parsed(document.c_str());
  const long blocks = Memory::statistics().heap_blocks - before;
  // Each element, its attribute, its text and the white space after it.
  EXPECT_GE(blocks, 4 * kElements);
  EXPECT_LE(blocks, 4 * kElements + 8);
  ExpectAllTerminated(parsed.doc());
}

// Generated documents: the tree holds the same names, values and character data
// as the events tell, with no two text nodes side by side.

// The transcript of a document: tags with their attributes, and character data.
class Transcript final : public DefaultHandler {
 public:
  void startElement(const Xstring&, const Xstring&, const Xstring& qname,
                    const Attributes& attributes) override {
    text += u"<" + Units(qname);
    for (int i = 0; i < attributes.getLength(); ++i)
      text += u" " + Units(attributes.getQName(i)) + u"=" + Units(attributes.getValue(i));
    text += u">";
  }
  void endElement(const Xstring&, const Xstring&, const Xstring&) override { text += u"</>"; }
  void characters(const char16_t* units, int start, int length) override {
    text.append(units + start, static_cast<std::size_t>(length));
  }
  std::u16string text;
};

void Transcribe(const Node* node, std::u16string& out) {
  const Node* previous = nullptr;
  for (const Node* c = node->getFirstChild(); c; previous = c, c = c->getNextSibling()) {
    switch (c->getNodeType()) {
      case Node::ELEMENT_NODE: {
        out += u"<" + Units(c->getNodeName());
        const NamedNodeMap* attributes = c->getAttributes();
        for (int i = 0; i < attributes->getLength(); ++i)
          out += u" " + Units(attributes->item(i)->getNodeName()) + u"=" +
                 Units(attributes->item(i)->getNodeValue());
        out += u">";
        Transcribe(c, out);
        out += u"</>";
        break;
      }
      case Node::TEXT_NODE:
        EXPECT_FALSE(previous && previous->getNodeType() == Node::TEXT_NODE) << "adjacent text";
        [[fallthrough]];
      case Node::CDATA_SECTION_NODE: out += Units(c->getNodeValue()); break;
      case Node::ENTITY_REFERENCE_NODE: Transcribe(c, out); break;
      default: break;
    }
  }
}

class Generator {
 public:
  explicit Generator(unsigned seed) : state_(seed) {}

  std::u16string document() {
    std::u16string out =
        u"<!DOCTYPE r [<!ENTITY e 'in&#233;&amp;x'><!ENTITY m '<i a=\"&#38;lt;\">m&lt;</i>t'>]>";
    element(out, 0);
    return out;
  }

 private:
  unsigned below(unsigned range) {
    state_ = state_ * 1103515245u + 12345u;
    return (state_ >> 16) % range;
  }
  template <std::size_t N>
  const char16_t* pick(const char16_t* const (&items)[N]) {
    return items[below(N)];
  }

  void element(std::u16string& out, int depth) {
    static constexpr const char16_t* kNames[] = {u"r", u"e", u"long-name", u"\u540D"};
    static constexpr const char16_t* kSpaces[] = {u" ", u"\n", u"\r\n ", u"\t"};
    static constexpr const char16_t* kValues[] = {u"v",       u"a&amp;b", u"x\ny",   u"&#x20;t",
                                                  u"&e;&lt;", u"",        u"\u65E5", u"p\r\nq"};
    const std::u16string name = pick(kNames);
    out += u"<" + name;
    const unsigned attributes = below(4);
    for (unsigned i = 0; i < attributes; ++i)
      out += pick(kSpaces) + std::u16string(1, static_cast<char16_t>(u'a' + i)) + u"='" +
             pick(kValues) + u"'";
    if (below(2)) out += pick(kSpaces);
    if (depth > 3 || below(6) == 0) {
      out += u"/>";
      return;
    }
    out += u">";
    content(out, depth);
    out += u"</" + name + u">";
  }

  void content(std::u16string& out, int depth) {
    static constexpr const char16_t* kPieces[] = {
        u"ab",       u"x y",          u"\n  ",
        u"\r\n",     u"\u00E9\u65E5", u"&amp;",
        u"&lt;",     u"&gt;",         u"&quot;",
        u"&apos;",   u"&#65;",        u"&#x42;",
        u"&#233;",   u"&#x1F600;",    u"&#10;",
        u"&#13;",    u"&e;",          u"&m;",
        u"<!--c-->", u"<?p d?>",      u"<![CDATA[c&amp;\n]]>"};
    const unsigned pieces = below(12);
    for (unsigned i = 0; i < pieces; ++i) {
      if (below(5) == 0)
        element(out, depth + 1);
      else
        out += pick(kPieces);
    }
  }

  unsigned state_;
};

TEST(DomStoreTest, GeneratedDocumentsHoldWhatTheEventsTell) {
  for (unsigned seed = 1; seed <= 200; ++seed) {
    const std::u16string document = Generator(seed).document();
    Transcript events;
    SAXParser sax;
    sax.setContentHandler(&events);
    const std::u16string bytes = u"\uFEFF" + document;
    sax.parseBuffer(bytes.data(), bytes.size() * sizeof(char16_t), "generated");
    for (const bool entity_references : {true, false}) {
      Parsed parsed(document.c_str(), entity_references);
      std::u16string tree;
      Transcribe(parsed.doc(), tree);
      EXPECT_EQ(tree, events.text) << "seed " << seed;
      ExpectAllTerminated(parsed.doc());
    }
  }
}

}  // namespace
}  // namespace arxp
