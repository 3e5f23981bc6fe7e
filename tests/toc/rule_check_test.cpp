// The rule check against the test site: what it shows for a good rule, and the sentence each
// kind of fault gives.
#include "toc/rule_check.h"

#include <gtest/gtest.h>

#include <string>

#include "book_site.h"
#include "raw_servers.h"
#include "rules/default_rules.h"
#include "text/encoding.h"
#include "text/markers.h"
#include "text/regex_object.h"

namespace qv {
namespace {

Text G(std::string_view utf8) { return Utf8ToGbk(utf8); }

SiteRule DefaultRule(std::string_view nameUtf8) {
  for (const SiteRule& r : DefaultRuleSet()) {
    if (TextDecode(r.ruleName) != G(nameUtf8)) continue;
    SiteRule plain;
    for (RuleField f : kRuleFields) plain.Field(f) = TextDecode(r.Field(f));
    return plain;
  }
  ADD_FAILURE() << "no default rule";
  return {};
}

bool HasProblem(const RuleCheckResult& r, std::string_view startUtf8) {
  for (const Text& p : r.problems) {
    if (p.rfind(G(startUtf8), 0) == 0) return true;
  }
  return false;
}

class RuleCheckTest : public ::testing::Test {
 protected:
  RuleCheckTest() : book(4) {
    std::vector<std::string> titles, bodies;
    for (int i = 1; i <= 12; ++i) {
      titles.push_back(G("第") + std::to_string(i) + G("章 山门"));
      bodies.push_back(G("&nbsp;&nbsp;甲乙丙") + std::to_string(i) + "<br /><br />" + G("丁戊&hellip;"));
    }
    book.SetBook(G("天玄记"), G("张三"), titles, bodies);
  }
  qvtest::BookSite book;
  SiteRule rule = DefaultRule("笔趣阁");
};

TEST_F(RuleCheckTest, GoodRuleShowsBookChaptersAndTheTextTheDownloadSaves) {
  const RuleCheckResult r = CheckRule(rule, book.IndexAddress());
  EXPECT_TRUE(r.Ok()) << (r.problems.empty() ? "" : GbkToUtf8(r.problems.front()));
  EXPECT_EQ(r.listStatus, 200);
  EXPECT_GT(r.listBytes, 0u);
  EXPECT_FALSE(r.gzip);
  EXPECT_FALSE(r.utf8);
  EXPECT_EQ(r.title, G("天玄记"));
  EXPECT_EQ(r.author, G("张三"));
  EXPECT_EQ(r.chapterCount, 12);
  ASSERT_EQ(r.firstChapters.size(), 5u);
  ASSERT_EQ(r.lastChapters.size(), 5u);
  EXPECT_EQ(r.firstChapters[0].title, G("第1章 山门"));
  EXPECT_EQ(r.firstChapters[0].address, book.Base() + "book/1.html");
  EXPECT_EQ(r.lastChapters[0].title, G("第8章 山门"));
  EXPECT_EQ(r.lastChapters[4].address, book.Base() + "book/12.html");
  EXPECT_EQ(r.chapterStatus, 200);
  const std::string page = book.ChapterPage(1);
  EXPECT_EQ(r.leftMarkerAt, static_cast<int>(page.find(rule.leftMarker)));
  EXPECT_TRUE(r.rightMarkerFound);
  // The file the download writes for chapter 1: its title line, then the cleaned body.
  EXPECT_EQ(r.savedText, G("第1章 山门\r\n  甲乙丙1\r\n丁戊…"));
  EXPECT_EQ(r.cutLength, (G("&nbsp;&nbsp;甲乙丙1<br /><br />丁戊&hellip;")).size());

  const Text shown = FormatRuleCheck(r);
  for (const char* piece : {"天玄记", "张三", "章节数：12", "第1章 山门", "甲乙丙1", "规则可用"}) {
    EXPECT_NE(shown.find(G(piece)), std::string::npos) << piece;
  }
  EXPECT_NE(shown.find(book.Base() + "book/12.html"), std::string::npos);
}

TEST_F(RuleCheckTest, GzipAndUtf8PagesAreReported) {
  qvtest::TestSite site;
  const std::string utf8Page = GbkToUtf8(book.IndexPage());
  site.Serve("/book/index.html", qvtest::SiteAnswer{.body = utf8Page,
                                                    .contentType = "text/html; charset=utf-8",
                                                    .gzip = true});
  const RuleCheckResult r = CheckRule(rule, site.Address("/book/index.html"));
  EXPECT_TRUE(r.gzip);
  EXPECT_TRUE(r.utf8);
  EXPECT_EQ(r.title, G("天玄记"));
  EXPECT_EQ(r.chapterCount, 12);
}

// Each fault gives its own sentence, and the steps before it still show.
TEST_F(RuleCheckTest, EachFaultGivesItsSentence) {
  qvtest::TestSite site;
  site.Serve("/missing.html", qvtest::SiteAnswer{.body = "not here", .status = 404});
  const std::string closed = "http://127.0.0.1:" + std::to_string(qvtest::ClosedPort()) + "/book/";

  SiteRule badLeft = rule;
  badLeft.leftMarker = G("<div id=\"nothing-like-this\">");
  SiteRule noList = rule;
  noList.listPattern = G("<dt><a href=\"(.*?)\">(.*?)</a></dt>");
  SiteRule invalid = rule;
  invalid.listPattern = G("<dd><a href=\"(.*?\">(.*?)</a>");
  SiteRule badRight = rule;
  badRight.rightMarker = G("</never>");

  const struct {
    const char* what;
    const SiteRule* rule;
    std::string address;
    const char* sentence;
  } cases[] = {
      {"left marker", &badLeft, book.IndexAddress(),
       "左侧标记在页面中未找到：页面可能已改版，或需要勾选页面抓取"},
      {"right marker", &badRight, book.IndexAddress(), "右侧标记在左侧标记之后未找到"},
      {"list matches nothing", &noList, book.IndexAddress(), "章节列表正则表达式没有匹配："},
      {"invalid pattern", &invalid, book.IndexAddress(), "章节列表正则表达式无法编译："},
      {"404 page", &rule, site.Address("/missing.html"), "章节列表页返回 HTTP 404："},
      {"closed port", &rule, closed, "章节列表页无法连接："},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const RuleCheckResult r = CheckRule(*c.rule, c.address);
    EXPECT_TRUE(HasProblem(r, c.sentence))
        << (r.problems.empty() ? "no problem" : GbkToUtf8(r.problems.front()));
    EXPECT_EQ(r.problems.size(), 1u);
    const Text shown = FormatRuleCheck(r);
    EXPECT_NE(shown.find(G(c.sentence)), std::string::npos);
  }

  // The failing step still shows what was found before it.
  const RuleCheckResult left = CheckRule(badLeft, book.IndexAddress());
  EXPECT_EQ(left.title, G("天玄记"));
  EXPECT_EQ(left.chapterCount, 12);
  EXPECT_EQ(left.leftMarkerAt, -1);
  // The compile error names where the pattern stopped.
  const RuleCheckResult bad = CheckRule(invalid, book.IndexAddress());
  ASSERT_FALSE(bad.problems.empty());
  EXPECT_NE(bad.problems.front().find(G("个字符处")), std::string::npos);
  EXPECT_EQ(bad.chapterCount, 0);
}

TEST(PatternCheck, ErrorsCarryAPositionInCharacters) {
  EXPECT_TRUE(CheckPattern(G("<h1>(.*?)</h1>")).ok);
  const PatternCheck c = CheckPattern(G("书名(.*"));
  EXPECT_FALSE(c.ok);
  EXPECT_FALSE(c.message.empty());
  EXPECT_EQ(c.position, 6);  // after the five characters 书 名 ( . *
}

TEST(LeadingCharacters, CountsDoubleByteCharactersOnce) {
  EXPECT_EQ(LeadingCharacters(G("甲乙a丙"), 3), G("甲乙a"));
  EXPECT_EQ(LeadingCharacters("ab", 5), "ab");
}

}  // namespace
}  // namespace qv
