#include "rules/xml_tree.h"

#include <gtest/gtest.h>

#include "rules_test_util.h"

namespace qv {
namespace {

using testing::G;

constexpr std::string_view kDecl = "<?xml version=\"1.0\" encoding=\"gb18030\"?>";

Text Decl(std::string_view rest) { return Text(kDecl) + Text(rest); }

// The one child of the root, which must exist.
const XmlElement& OnlyChild(const XmlDocument& doc) {
  EXPECT_EQ(doc.elements.size(), 1u);
  EXPECT_EQ(doc.elements.at(0).children.size(), 1u);
  return doc.elements.at(0).children.at(0);
}

TEST(XmlWriter, WritesTheRuleFileLayoutExactly) {
  XmlDocument doc;
  XmlElement root{G("小说站点"), {}, {}, {}};
  root.children.push_back({G("甲"), {{"a", "1"}, {"b", ""}}, {}, {}});
  root.children.push_back({"r2", {{"v", "x\r\ny\r"}}, {}, {}});
  root.children.push_back({"t", {}, "text", {}});
  doc.elements.push_back(root);
  EXPECT_EQ(WriteXml(doc), Decl(G("\r\n<小说站点>"
                                  "\r\n\t<甲 a=\"1\" b=\"\"/>"
                                  "\r\n\t<r2 v=\"x\r\ny\r\"/>"
                                  "\r\n\t<t>text</t>"
                                  "\r\n</小说站点>")));

  // A root without children is one self-closing element; the file has no final line end.
  doc.elements[0].children.clear();
  EXPECT_EQ(WriteXml(doc), Decl(G("\r\n<小说站点/>")));
  EXPECT_EQ(WriteXml(XmlDocument{}), Text(kDecl));
}

TEST(XmlReader, AcceptsTheDialectAroundTheWriterForm) {
  struct Case {
    const char* what;
    std::string input;
    std::string canonical;  // what the writer makes of it
  } cases[] = {
      {"writer form", Decl("\r\n<r>\r\n\t<a x=\"1\"/>\r\n</r>"),
       Decl("\r\n<r>\r\n\t<a x=\"1\"/>\r\n</r>")},
      {"comments anywhere, inside values too",
       "<!-- head --><r><!--a--><a x=\"1<!-- in -->2\"/><!---->\r\n</r><!-- tail -->",
       Decl("\r\n<r>\r\n\t<a x=\"12\"/>\r\n</r>")},
      {"declarations and document types skipped",
       "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!DOCTYPE r>\n<r><?pi x?><!X><a/></r>\n",
       Decl("\r\n<r>\r\n\t<a/>\r\n</r>")},
      {"start and end tag, white space between rules",
       "<r>\r\n\t\t<a x=\"1\">  \r\n </a>\n\n<b></b>   </r>",
       Decl("\r\n<r>\r\n\t<a x=\"1\"/>\r\n\t<b/>\r\n</r>")},
      {"several spaces between attributes", "<r><a   x=\"1\"  y=\"2\"   /></r>",
       Decl("\r\n<r>\r\n\t<a x=\"1\" y=\"2\"/>\r\n</r>")},
      {"valueless attribute", "<r><a flag x=\"2\" last/></r>",
       Decl("\r\n<r>\r\n\t<a flag=\"1\" x=\"2\" last=\"1\"/>\r\n</r>")},
      {"values hold < > / = CR LF and entities as written",
       "<r><a v=\"<b x='1'>/>\r\n&nbsp;&lt;\"/></r>",
       Decl("\r\n<r>\r\n\t<a v=\"<b x='1'>/>\r\n&nbsp;&lt;\"/>\r\n</r>")},
      {"names may hold / @ = TAB", "<r><a/b c/d=\"1\"/><@1/><x=y\tz/></r>",
       Decl("\r\n<r>\r\n\t<a/b c/d=\"1\"/>\r\n\t<@1/>\r\n\t<x=y\tz/>\r\n</r>")},
      {"element text trimmed", "<r><a> \t\r\nsome text\r\n</a></r>",
       Decl("\r\n<r>\r\n\t<a>some text</a>\r\n</r>")},
  };
  for (const Case& c : cases) {
    const std::optional<XmlDocument> doc = ParseXml(c.input);
    ASSERT_TRUE(doc.has_value()) << c.what;
    EXPECT_EQ(WriteXml(*doc), c.canonical) << c.what;
  }
}

TEST(XmlReader, CdataCountsAsTextAndSurvivesASave) {
  const std::optional<XmlDocument> doc =
      ParseXml("<r><a>\r\n  <![CDATA[ x<y>&amp; ]]>\r\n</a></r>");
  ASSERT_TRUE(doc.has_value());
  EXPECT_EQ(OnlyChild(*doc).text, " x<y>&amp; ");

  // Written back, such text stays readable and reads the same.
  const std::optional<XmlDocument> again = ParseXml(WriteXml(*doc));
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(OnlyChild(*again).text, " x<y>&amp; ");

  XmlDocument tricky;
  tricky.elements.push_back({"r", {}, "a]]>b<c", {}});
  const std::optional<XmlDocument> back = ParseXml(WriteXml(tricky));
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->elements.at(0).text, "a]]>b<c");
}

TEST(XmlReader, ChineseNamesAndValuesKeepTheirBytes) {
  // The trail byte of 竇 is 0x5D ("]"): with the "]>" after it, it must not close the CDATA.
  const Text input = G("<小说站点><规则 网址=\"竇]>\"><![CDATA[竇]>x]]></规则></小说站点>");
  const std::optional<XmlDocument> doc = ParseXml(input);
  ASSERT_TRUE(doc.has_value());
  const XmlElement& rule = OnlyChild(*doc);
  EXPECT_EQ(rule.name, G("规则"));
  ASSERT_NE(rule.FindAttribute(G("网址")), nullptr);
  EXPECT_EQ(rule.FindAttribute(G("网址"))->value, G("竇]>"));
  EXPECT_EQ(rule.text, G("竇]>x"));
  EXPECT_EQ(doc->FindRoot(G("小说站点")), &doc->elements[0]);
  EXPECT_EQ(doc->FindRoot("other"), nullptr);
}

TEST(XmlReader, RefusesWhatItCannotRead) {
  struct Case {
    const char* what;
    const char* input;
  } cases[] = {
      {"mismatched end tag", "<r><a></b></r>"},
      {"end tag of the parent first", "<r><a></r></a>"},
      {"element left open", "<r><a/>"},
      {"stray end tag", "<r/></r>"},
      {"same attribute twice", "<r><a x=\"1\" y=\"2\" x=\"1\"/></r>"},
      {"valueless attribute given twice", "<r><a x x/></r>"},
      {"value without closing quote", "<r><a x=\"1/></r>"},
      {"single-quoted value", "<r><a x='1'/></r>"},
      {"attributes without a space", "<r><a x=\"1\"y=\"2\"/></r>"},
      {"line break between attributes", "<r><a\r\nx=\"1\"/></r>"},
      {"comment never closed", "<r><!-- x </r>"},
      {"CDATA never closed", "<r><![CDATA[ x </r>"},
      {"text outside the root", "<r/>junk"},
      {"byte-order mark", "\xEF\xBB\xBF<r/>"},
      {"empty element name", "<r>< x=\"1\"/></r>"},
      {"tag cut off", "<r><a x=\"1\""},
  };
  for (const Case& c : cases) EXPECT_FALSE(ParseXml(c.input).has_value()) << c.what;
}

TEST(XmlReader, EmptyInputHasNoElements) {
  const std::optional<XmlDocument> doc = ParseXml("  \r\n");
  ASSERT_TRUE(doc.has_value());
  EXPECT_TRUE(doc->elements.empty());
}

}  // namespace
}  // namespace qv
