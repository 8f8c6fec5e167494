#include "platform/xml_document.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> Names(const std::vector<XmlNode>& nodes) {
  std::vector<std::string> names;
  for (const auto& node : nodes) names.push_back(node.NodeName());
  return names;
}

TEST(XmlDocumentWrite, DeclarationAndElementsAsCharacters) {
  XmlDocument doc;
  XmlNode root = doc.CreateDocumentElement("controllers");
  XmlNode item = root.AppendElement("controller");
  item.AppendElement("name", "Вход <главный> & \"склад\"");
  item.AppendElement("id");
  const std::string text = doc.SaveToXML();
  EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"windows-1251\"?>", 0), 0u) << text;
  EXPECT_NE(text.find("Вход &lt;главный&gt; &amp;"), std::string::npos) << text;
  EXPECT_NE(text.find("<id/>"), std::string::npos) << text;
  EXPECT_EQ(text.find("&#x"), std::string::npos) << text;
}

TEST(XmlDocumentWrite, TextWithControlCharactersStillReadsBack) {
  XmlDocument doc;
  XmlNode root = doc.CreateDocumentElement("a");
  root.AppendElement("n", std::string("Дверь\x01 \x1F№1\t\r\n") + std::string(1, '\0') + "x");
  XmlDocument back;
  ASSERT_NO_THROW(back.LoadFromXML(doc.SaveToXML()));
  EXPECT_EQ(back.DocumentElement().ChildElement("n").Text(), "Дверь №1\t\r\nx");
}

TEST(XmlDocumentWrite, EmptyDocumentElementAndRoundTrip) {
  XmlDocument doc;
  doc.CreateDocumentElement("controllers");
  XmlDocument back;
  back.LoadFromXML(doc.SaveToXML());
  ASSERT_TRUE(back.DocumentElement());
  EXPECT_EQ(back.DocumentElement().NodeName(), "controllers");
  EXPECT_FALSE(back.DocumentElement().FirstChild());
}

TEST(XmlDocumentRead, DeclaredEncodingIsIgnored) {
  XmlDocument doc;
  doc.LoadFromXML("<?xml version=\"1.0\" encoding=\"windows-1251\"?><a><b>Дверь №1</b></a>");
  EXPECT_EQ(doc.DocumentElement().ChildElement("b").Text(), "Дверь №1");
  doc.LoadFromXML("<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>ж</a>");
  EXPECT_EQ(doc.DocumentElement().Text(), "ж");
}

TEST(XmlDocumentRead, IndentationBetweenElementsIsDropped) {
  XmlDocument doc;
  doc.LoadFromXML("<?xml version=\"1.0\"?>\n<a>\n  <b> </b>\n  <!-- note -->\n  <c>x</c>\n  tail\n</a>\n");
  const XmlNode root = doc.DocumentElement();
  EXPECT_EQ(Names(root.ChildNodes()), (std::vector<std::string>{"b", "#comment", "c", "#text"}));
  EXPECT_EQ(root.ChildElement("b").Text(), " ");  // only blanks, but no element beside them
}

TEST(XmlDocumentRead, BlankContentOfTheDocumentElementIsIndentation) {
  XmlDocument doc;
  doc.LoadFromXML("<?xml version=\"1.0\"?>\r\n<controllers>\r\n</controllers>\r\n");
  EXPECT_FALSE(doc.DocumentElement().FirstChild());
  doc.LoadFromXML("<a> x </a>");
  EXPECT_EQ(doc.DocumentElement().Text(), " x ");
}

TEST(XmlDocumentRead, ChildElementIsExactAndFirst) {
  XmlDocument doc;
  doc.LoadFromXML("<a><ID>1</ID><id>2</id><id>3</id></a>");
  EXPECT_EQ(doc.DocumentElement().ChildElement("id").Text(), "2");
  EXPECT_EQ(doc.DocumentElement().ChildElement("ID").Text(), "1");
  EXPECT_FALSE(doc.DocumentElement().ChildElement("Id"));
  EXPECT_FALSE(XmlNode().ChildElement("id"));
}

TEST(XmlDocumentRead, TextNeedsASingleTextNode) {
  XmlDocument doc;
  doc.LoadFromXML("<a><e/><t>v</t><c><![CDATA[<x>]]></c><n><b>1</b></n><m>1<b/></m><k><!--c-->1</k></a>");
  const XmlNode root = doc.DocumentElement();
  EXPECT_EQ(root.ChildElement("e").Text(), "");
  EXPECT_EQ(root.ChildElement("t").Text(), "v");
  EXPECT_EQ(root.ChildElement("c").Text(), "<x>");
  EXPECT_THROW(root.ChildElement("n").Text(), EXMLDocError);
  EXPECT_THROW(root.ChildElement("m").Text(), EXMLDocError);
  EXPECT_THROW(root.ChildElement("k").Text(), EXMLDocError);
}

TEST(XmlDocumentRead, MalformedTextRaisesParseErrorWithTheParsersMessage) {
  XmlDocument doc;
  for (const char* bad : {"", "<a>", "<a></b>", "<a><b></a>", "text", "<a/><b/>", "<a x=1/>"}) {
    try {
      doc.LoadFromXML(bad);
      ADD_FAILURE() << "parsed: " << bad;
    } catch (const EDOMParseError& e) {
      EXPECT_FALSE(std::string(e.what()).empty());
      EXPECT_NE(std::string(e.what()).back(), '\n');
    }
  }
}

TEST(XmlDocumentRead, ParseErrorNamesTheFirstFault) {
  XmlDocument doc;
  try {
    doc.LoadFromXML("<a><b></a>");
    FAIL();
  } catch (const EDOMParseError& e) {
    EXPECT_NE(std::string(e.what()).find("mismatch"), std::string::npos) << e.what();
  }
}

TEST(XmlDocumentRead, ExternalEntitiesAreNotLoaded) {
  XmlDocument doc;
  const char* text =
      "<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><a><b>&x;</b></a>";
  try {
    doc.LoadFromXML(text);
    EXPECT_EQ(doc.DocumentElement().ChildElement("b").FirstChild().Text().find("root"), std::string::npos);
  } catch (const Exception&) {
    SUCCEED();
  }
}

}  // namespace
