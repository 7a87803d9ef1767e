// Entities, notations and entity references in the tree: the document type's maps,
// references kept or expanded, the read-only rule, copies, and the writer.
#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <sstream>
#include <string>

#include "arxp/dom.h"
#include "test_util.h"

namespace arxp {
namespace {

using test::Ascii;

// The subtree as text: elements as <name>...</>, entity references as &name{...},
// other nodes as name[value].
std::string Dump(const Node* node) {
  std::string out;
  for (const Node* c = node->getFirstChild(); c; c = c->getNextSibling()) {
    switch (c->getNodeType()) {
      case Node::ELEMENT_NODE: out += "<" + Ascii(c->getNodeName()) + ">" + Dump(c) + "</>"; break;
      case Node::ENTITY_REFERENCE_NODE:
        out += "&" + Ascii(c->getNodeName()) + "{" + Dump(c) + "}";
        break;
      default: out += Ascii(c->getNodeName()) + "[" + Ascii(c->getNodeValue()) + "]";
    }
  }
  return out;
}

int DomCode(const std::function<void()>& operation, std::string* message = nullptr) {
  try {
    operation();
  } catch (const DOMException& e) {
    if (message) *message = Ascii(e.getMessage());
    return e.getDOMCode();
  }
  return 0;
}

std::string Written(DOMParser& parser, Document* doc) {
  char16_t buffer[1024];
  int length = sizeof buffer;
  parser.write(doc, buffer, &length);
  return Ascii(Xstring(buffer));
}

constexpr char16_t kDocument[] =
    u"<!DOCTYPE r [<!ELEMENT r (#PCDATA|i)*><!ATTLIST r k CDATA #IMPLIED m (x|y) 'x'>"
    u"<!NOTATION png PUBLIC 'image/png'><!NOTATION gif SYSTEM 'viewer'>"
    u"<!ENTITY % pe 'unused'><!ENTITY e 'x<i a=\"1\">y</i>'><!ENTITY n '[&e;]'>"
    u"<!ENTITY pic SYSTEM 'pic.png' NDATA png><!ENTITY ext PUBLIC 'p' 'ext.xml'>"
    u"]>"
    u"<r>a&e;b&n;&lt;</r>";

class DOMEntityTest : public ::testing::Test {
 protected:
  Document* parse(const char16_t* text) { return parser_.parse(text); }
  // Nothing outside the document is read here.
  void SetUp() override { parser_.setFeature(sax_names::kExternalGeneralEntities, false); }
  DOMParser parser_;
};

TEST_F(DOMEntityTest, DocumentTypeMapsHoldTheGeneralEntitiesAndNotations) {
  Document* doc = parse(kDocument);
  const DocumentType* type = doc->getDoctype();
  NamedNodeMap* entities = type->getEntities();
  ASSERT_EQ(entities->getLength(), 4);  // not the parameter entity
  EXPECT_EQ(Ascii(entities->item(0)->getNodeName()), "e");
  auto* pic = static_cast<Entity*>(entities->getNamedItem("pic"));
  ASSERT_NE(pic, nullptr);
  EXPECT_EQ(pic->getNodeType(), Node::ENTITY_NODE);
  EXPECT_EQ(Ascii(pic->getSystemId()), "pic.png");
  EXPECT_TRUE(pic->getPublicId().isNull());
  EXPECT_EQ(Ascii(pic->getNotationName()), "png");
  auto* ext = static_cast<Entity*>(entities->getNamedItem("ext"));
  EXPECT_EQ(Ascii(ext->getPublicId()), "p");
  EXPECT_TRUE(ext->getNotationName().isNull());
  auto* e = static_cast<Entity*>(entities->getNamedItem("e"));
  EXPECT_EQ(Ascii(e->getReplacementText()), "x<i a=\"1\">y</i>");
  EXPECT_TRUE(e->getSystemId().isNull());

  NamedNodeMap* notations = type->getNotations();
  ASSERT_EQ(notations->getLength(), 2);
  auto* png = static_cast<Notation*>(notations->getNamedItem("png"));
  EXPECT_EQ(png->getNodeType(), Node::NOTATION_NODE);
  EXPECT_EQ(Ascii(png->getPublicId()), "image/png");
  EXPECT_TRUE(png->getSystemId().isNull());
  EXPECT_EQ(Ascii(static_cast<Notation*>(notations->getNamedItem("gif"))->getSystemId()), "viewer");
  EXPECT_TRUE(png->isReadOnly());

  std::string message;
  EXPECT_EQ(DomCode([&] { entities->removeNamedItem("e"); }, &message),
            DOMException::NO_MODIFICATION_ALLOWED_ERR);
  EXPECT_EQ(message, "read-only node cannot be modified");
  Attr* loose = doc->createAttribute("z");
  EXPECT_EQ(DomCode([&] { notations->setNamedItem(loose); }),
            DOMException::NO_MODIFICATION_ALLOWED_ERR);
  parser_.freeNode(loose);
  EXPECT_EQ(entities->getLength(), 4);
  parser_.free(doc);
}

TEST_F(DOMEntityTest, ReferencesBecomeReadOnlyEntityReferenceNodes) {
  EXPECT_TRUE(parser_.getCreateEntityReferenceNodes());
  Document* doc = parse(kDocument);
  Element* r = doc->getDocumentElement();
  // Predefined entities are characters; a reference inside an entity is a node too.
  EXPECT_EQ(Dump(r),
            "#text[a]&e{#text[x]<i>#text[y]</>}#text[b]&n{#text[[]&e{#text[x]<i>#text[y]</>}"
            "#text[]]}#text[<]");
  Node* ref = r->getFirstChild()->getNextSibling();
  ASSERT_EQ(ref->getNodeType(), Node::ENTITY_REFERENCE_NODE);
  EXPECT_TRUE(ref->isReadOnly());
  EXPECT_TRUE(ref->getNodeValue().isNull());
  auto* inner_text = static_cast<Text*>(ref->getFirstChild());
  auto* inner_element = static_cast<Element*>(inner_text->getNextSibling());
  EXPECT_TRUE(inner_text->isReadOnly());
  EXPECT_TRUE(inner_element->getAttributeNode("a")->isReadOnly());

  const int kReadOnly = DOMException::NO_MODIFICATION_ALLOWED_ERR;
  Comment* comment = doc->createComment("c");  // refused everywhere below: stays ours
  EXPECT_EQ(DomCode([&] { ref->appendChild(comment); }), kReadOnly);
  EXPECT_EQ(DomCode([&] { ref->removeChild(inner_text); }), kReadOnly);
  EXPECT_EQ(DomCode([&] { inner_text->appendData("!"); }), kReadOnly);
  EXPECT_EQ(DomCode([&] { inner_text->setNodeValue("!"); }), kReadOnly);
  EXPECT_EQ(DomCode([&] { inner_element->setAttribute("a", "2"); }), kReadOnly);
  EXPECT_EQ(DomCode([&] { inner_element->getAttributeNode("a")->setValue("2"); }), kReadOnly);
  EXPECT_EQ(DomCode([&] { inner_element->removeAttribute("a"); }), kReadOnly);
  EXPECT_EQ(DomCode([&] { r->appendChild(inner_element); }), kReadOnly);
  EXPECT_EQ(Ascii(inner_text->getData()), "x");
  EXPECT_EQ(Ascii(inner_element->getAttribute("a")), "1");
  // The reference itself is an ordinary child of a writable element.
  parser_.freeNode(r->removeChild(ref));
  EXPECT_EQ(Dump(r).substr(0, 16), "#text[a]#text[b]");

  // The entity holds its own read-only copy of the nodes.
  Node* e = doc->getDoctype()->getEntities()->getNamedItem("e");
  EXPECT_EQ(Dump(e), "#text[x]<i>#text[y]</>");
  EXPECT_TRUE(e->getFirstChild()->isReadOnly());
  EXPECT_EQ(DomCode([&] { e->appendChild(comment); }), kReadOnly);
  parser_.freeNode(comment);
  parser_.free(doc);
}

TEST_F(DOMEntityTest, ExpandedReferencesLeaveWritableNodesInTheirPlace) {
  parser_.setCreateEntityReferenceNodes(false);
  Document* doc = parse(kDocument);
  Element* r = doc->getDocumentElement();
  EXPECT_EQ(Dump(r), "#text[ax]<i>#text[y]</>#text[b[x]<i>#text[y]</>#text[]<]");
  auto* text = static_cast<Text*>(r->getFirstChild());
  text->appendData("!");
  EXPECT_EQ(Ascii(text->getData()), "ax!");
  EXPECT_FALSE(r->getFirstChild()->getNextSibling()->isReadOnly());
  // The entity's nodes are filled all the same, read-only.
  const Node* e = doc->getDoctype()->getEntities()->getNamedItem("e");
  EXPECT_EQ(Dump(e), "#text[x]<i>#text[y]</>");
  EXPECT_TRUE(e->getFirstChild()->isReadOnly());
  parser_.free(doc);
}

TEST_F(DOMEntityTest, UnreadAndUndeclaredReferencesStayReferences) {
  for (const bool references : {true, false}) {
    parser_.setCreateEntityReferenceNodes(references);
    Document* doc = parse(u"<!DOCTYPE r [<!ENTITY ext SYSTEM 'no-such-file.xml'>]><r>[&ext;]</r>");
    EXPECT_EQ(Dump(doc->getDocumentElement()), "#text[[]&ext{}#text[]]") << references;
    EXPECT_EQ(Written(parser_, doc),
              "<!DOCTYPE r [<!ENTITY ext SYSTEM \"no-such-file.xml\">]>"
              "<r>[&ext;]</r>");
    parser_.free(doc);
  }
}

TEST_F(DOMEntityTest, CreateEntityReferenceCopiesTheEntityNodes) {
  Document* doc = parse(kDocument);
  EntityReference* made = doc->createEntityReference("e");
  EXPECT_EQ(Dump(made), "#text[x]<i>#text[y]</>");
  EXPECT_TRUE(made->getFirstChild()->isReadOnly());
  EXPECT_NE(made->getFirstChild(),
            doc->getDoctype()->getEntities()->getNamedItem("e")->getFirstChild());
  doc->getDocumentElement()->appendChild(made);
  EntityReference* unknown = doc->createEntityReference("nothing");
  EXPECT_FALSE(unknown->hasChildNodes());
  parser_.freeNode(unknown);
  std::string message;
  EXPECT_EQ(DomCode([&] { doc->createEntityReference("1x"); }, &message),
            DOMException::INVALID_CHARACTER_ERR);
  EXPECT_EQ(message, "invalid entity name");
  parser_.free(doc);
}

TEST_F(DOMEntityTest, CopiesKeepDeclarationsAndReferences) {
  Document* doc = parse(kDocument);
  Node* ref = doc->getDocumentElement()->getFirstChild()->getNextSibling();
  // A shallow clone of a reference still holds the entity's nodes.
  Node* clone = ref->cloneNode(false);
  EXPECT_EQ(Dump(clone), Dump(ref));
  EXPECT_TRUE(clone->isReadOnly());
  EXPECT_EQ(clone->getParentNode(), nullptr);
  parser_.freeNode(clone);

  auto* copy = static_cast<Document*>(doc->cloneNode(true));
  EXPECT_EQ(Dump(copy->getDocumentElement()), Dump(doc->getDocumentElement()));
  EXPECT_EQ(copy->getDoctype()->getEntities()->getLength(), 4);
  EXPECT_EQ(copy->getDoctype()->getNotations()->getLength(), 2);
  EXPECT_EQ(Written(parser_, copy), Written(parser_, doc));

  // Into a document without the entity, a reference arrives empty.
  Document* other = parser_.createDocument();
  Node* imported = other->importNode(ref, true);
  EXPECT_EQ(imported->getOwnerDocument(), other);
  EXPECT_FALSE(imported->hasChildNodes());
  parser_.freeNode(imported);
  Node* entity = other->importNode(doc->getDoctype()->getEntities()->getNamedItem("pic"), true);
  EXPECT_EQ(Ascii(static_cast<Entity*>(entity)->getNotationName()), "png");
  EXPECT_TRUE(entity->isReadOnly());
  parser_.freeNode(entity);
  Node* notation = other->importNode(doc->getDoctype()->getNotations()->getNamedItem("png"), false);
  EXPECT_EQ(Ascii(static_cast<Notation*>(notation)->getPublicId()), "image/png");
  parser_.freeNode(notation);
  parser_.free(other);
  parser_.free(copy);
  parser_.free(doc);
}

TEST_F(DOMEntityTest, ADocumentTypeWithoutADocumentClones) {
  DocumentType* type = parser_.getImplementation()->createDocumentType("r", "p", "r.dtd");
  Node* copy = type->cloneNode(true);
  EXPECT_EQ(copy->getOwnerDocument(), nullptr);
  EXPECT_EQ(Ascii(static_cast<DocumentType*>(copy)->getSystemId()), "r.dtd");
  EXPECT_EQ(static_cast<DocumentType*>(copy)->getEntities()->getLength(), 0);
  parser_.freeNode(copy);
  parser_.freeNode(type);
}

TEST_F(DOMEntityTest, WriterWritesTheInternalSubsetAndReferences) {
  parser_.setFeature(sax_names::kExternalParameterEntities, false);
  Document* doc = parse(
      u"<!DOCTYPE r SYSTEM 'r.dtd' [<!ELEMENT r ANY><!ATTLIST r k CDATA #FIXED 'a&lt;\"'"
      u" m (x|y) #REQUIRED><!NOTATION png PUBLIC 'image/png'>"
      u"<!ENTITY q 'say \"&#37;&#38;#60;&#38;amp;\" &e;'><!ENTITY e 'x'>"
      u"<!ENTITY pic SYSTEM 'pic.png' NDATA png>]><r m='x'>&q;</r>");
  const std::string written = Written(parser_, doc);
  EXPECT_EQ(written,
            "<!DOCTYPE r SYSTEM \"r.dtd\" [<!ELEMENT r ANY>"
            "<!ATTLIST r k CDATA #FIXED \"a&lt;&quot;\"><!ATTLIST r m (x|y) #REQUIRED>"
            "<!ENTITY q \"say &#34;&#37;&#38;#60;&amp;&#34; &e;\"><!ENTITY e \"x\">"
            "<!ENTITY pic SYSTEM \"pic.png\" NDATA png><!NOTATION png PUBLIC \"image/png\">]>"
            "<r m=\"x\" k=\"a&lt;&quot;\">&q;</r>");
  // Parsed again, the declarations and the replacement texts are the same.
  const std::u16string again_text(written.begin(), written.end());
  Document* again = parse(again_text.c_str());
  EXPECT_EQ(Written(parser_, again), written);
  auto* q = static_cast<Entity*>(again->getDoctype()->getEntities()->getNamedItem("q"));
  EXPECT_EQ(Ascii(q->getReplacementText()), "say \"%&#60;&amp;\" &e;");
  EXPECT_EQ(Dump(again->getDocumentElement()), "&q{#text[say \"%<&\" ]&e{#text[x]}}");
  parser_.free(again);
  parser_.free(doc);
}

TEST_F(DOMEntityTest, IndentedOutputPutsEntityDeclarationsOnTheirOwnLines) {
  Document* doc = parse(u"<!DOCTYPE r [<!ENTITY a 'A'><!ENTITY b 'B'>]><r><s>&a;</s></r>");
  std::ostringstream captured;
  std::streambuf* saved = std::cout.rdbuf(captured.rdbuf());
  parser_.write(doc, static_cast<const char*>(nullptr));
  std::cout.rdbuf(saved);
  EXPECT_EQ(captured.str(),
            "<!DOCTYPE r [\r\n<!ENTITY a \"A\">\r\n<!ENTITY b \"B\">]>\r\n<r>\r\n  <s>&a;</s>\r\n"
            "</r>\r\n");
  parser_.free(doc);
}

}  // namespace
}  // namespace arxp

namespace arxp {
namespace {

// Documents whose written form must parse back to the same written form.
TEST(DOMEntityRoundTripTest, UnreadPartsOfTheSubsetAreReferredToAgain) {
  DOMParser parser;
  parser.setFeature(sax_names::kExternalGeneralEntities, false);
  parser.setFeature(sax_names::kExternalParameterEntities, false);
  const struct {
    const char16_t* document;
    const char* written;
  } cases[] = {
      // An unread parameter entity lets undeclared general entities be skipped, and
      // an entity declared after it is not processed (the unread part may declare it).
      {u"<!DOCTYPE r [<!ENTITY % p PUBLIC 'id' 'p.ent'>%p;%q;%p;<!ENTITY e 'E'>]><r>&u;&e;</r>",
       "<!DOCTYPE r [<!ENTITY % p PUBLIC \"id\" \"p.ent\">%p;%q;%p;]><r>&u;&e;</r>"},
      {u"<!DOCTYPE r SYSTEM 'r.dtd' [%q;]><r>&u;</r>",
       "<!DOCTYPE r SYSTEM \"r.dtd\" [%q;]><r>&u;</r>"},
      {u"<!DOCTYPE r [<!ENTITY a '&b;&#38;c;'><!ENTITY b '<x/>'><!ENTITY c 'C'>]><r>&a;</r>",
       "<!DOCTYPE r [<!ENTITY a \"&b;&c;\"><!ENTITY b \"<x/>\"><!ENTITY c \"C\">]><r>&a;</r>"},
  };
  for (const auto& c : cases) {
    Document* doc = parser.parse(c.document);
    const std::string written = Written(parser, doc);
    EXPECT_EQ(written, c.written);
    const std::u16string text(written.begin(), written.end());
    Document* again = parser.parse(text.c_str());
    EXPECT_EQ(Written(parser, again), written);
    parser.free(again);
    parser.free(doc);
  }
}

}  // namespace
}  // namespace arxp
