#include "rules/site_rule.h"

#include <gtest/gtest.h>

#include "rules_test_util.h"

namespace qv {
namespace {

using testing::G;

TEST(TextEncode, EscapesTheFiveMarkupCharactersOnly) {
  EXPECT_EQ(TextEncode("<a href=\"x\">'&'</a>"),
            "&lt;a href=&quot;x&quot;&gt;&apos;&amp;&apos;&lt;/a&gt;");
  // CR, LF, TAB, backslashes and Chinese pass unchanged.
  EXPECT_EQ(TextEncode(G("作者：\\s*\t\r\n")), G("作者：\\s*\t\r\n"));
  // An entity already in the text is encoded again, never kept.
  EXPECT_EQ(TextEncode("&lt;"), "&amp;lt;");
  EXPECT_EQ(TextEncode(""), "");
}

TEST(TextDecode, DecodesTheKnownEntitiesInOnePass) {
  struct Case {
    const char* stored;
    const char* plain;
  } cases[] = {
      {"&lt;&gt;&amp;&apos;&quot;", "<>&'\""},
      {"&quote;", "\""},               // the misspelt form is read as a quote too
      {"a&amp;lt;b", "a&lt;b"},        // one pass: the produced "&lt;" stays
      {"&nbsp;x", "&nbsp;x"},          // other named entities stay as written
      {"&#34;&#x22;", "&#34;&#x22;"},  // numeric references stay as written
      {"R&D", "R&D"},                  // "&" with no ";" after it
      {"a & b; &lt;", "a & b; <"},     // the run "& b;" is no entity
      {"&LT;", "&LT;"},                // names are case-sensitive
      {"\r\n&gt;\r", "\r\n>\r"},
  };
  for (const Case& c : cases) EXPECT_EQ(TextDecode(c.stored), c.plain) << c.stored;
}

TEST(TextDecode, LeavesChineseUntouched) {
  EXPECT_EQ(TextDecode(G("作者[:：]&lt;br /&gt;")), G("作者[:：]<br />"));
}

TEST(TextEncodeDecode, RoundTripsAnyText) {
  const Text texts[] = {
      "",
      "plain",
      "<li class=\"chapter\"><a href='(.*?)'>(.*?)</a></li>\r\n",
      "&amp; & &lt;",
      G("正在玩命为您加载中，请稍后！"),
      G("《(.*?)》&nbsp;\r"),
      "\"\"''<<>>&&",
  };
  for (const Text& t : texts) EXPECT_EQ(TextDecode(TextEncode(t)), t) << t;
}

TEST(SiteRule, FieldsByNameInFileOrder) {
  const char* names[] = {"网址",         "章节列表正则表达式", "小说名正则表达式", "作者正则表达式",
                         "章节内容左侧", "章节内容右侧",       "页面抓取"};
  SiteRule rule;
  for (size_t i = 0; i < kRuleFields.size(); ++i) {
    EXPECT_EQ(RuleFieldName(kRuleFields[i]), G(names[i]));
    rule.Field(kRuleFields[i]) = std::to_string(i);
  }
  EXPECT_EQ(rule.site, "0");
  EXPECT_EQ(rule.rightMarker, "5");
  EXPECT_EQ(rule.pageCapture, "6");
}

}  // namespace
}  // namespace qv
