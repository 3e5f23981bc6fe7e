#include "text/regex_object.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "text/encoding.h"

namespace qv {
namespace {

Text G(std::string_view utf8) { return Utf8ToGbk(utf8); }

// Patterns of the download rules, in their plain (decoded) form.
const char* const k52ZwList =
    "<li style=.*?><a.*?href=['\"](.*?)[\"'].*?>(.*?)</a>.*?<a.*?href=['\"](.*?)['\"].*?>(.*?)"
    "</a>\\s*?</li>";
const char* const kLingdianAuthor = "<p>作\\S*?者[：:](.*?)</p>";
const char* const kYoudu =
    "<li><a href=\".*?/(\\d+?\\..*?)\" title=\"(.*?)\" target=\"_blank\">\\2</a></li>";
const char* const kWuduTitle = "<h1>(.*?)</h1>\r\n";
const char* const kYiduList = "<a href='(.*?)' >(.*?)</A><BR>";

TEST(RegexObject, FourGroupsInPairsOverThreeMatches) {
  RegexObject re;
  ASSERT_TRUE(re.Run("<(a)(\\d)><(b)(\\d)>", "<a1><b2> <a3><b4> <a5><b6>"));
  EXPECT_EQ(re.GetMatchCount(), 3);
  EXPECT_EQ(re.GetGroupCount(), 4);
  EXPECT_EQ(re.GetSubmatch(2, 3), "b");
  EXPECT_EQ(re.GetSubmatch(2, 4), "4");
  EXPECT_EQ(re.GetSubmatch(3, 2), "5");
  // Out of range on every side.
  EXPECT_EQ(re.GetSubmatch(0, 1), "");
  EXPECT_EQ(re.GetSubmatch(4, 1), "");
  EXPECT_EQ(re.GetSubmatch(1, 0), "");
  EXPECT_EQ(re.GetSubmatch(1, 5), "");
}

TEST(RegexObject, NoMatchAndUnsetGroups) {
  RegexObject re;
  EXPECT_TRUE(re.Run("<h1>(.*?)</h1>", "no heading here"));
  EXPECT_EQ(re.GetMatchCount(), 0);
  EXPECT_EQ(re.GetGroupCount(), 0);
  EXPECT_EQ(re.GetSubmatch(1, 1), "");

  ASSERT_TRUE(re.Run("a(b)?(c)", "ac abc"));
  ASSERT_EQ(re.GetMatchCount(), 2);
  EXPECT_EQ(re.GetSubmatch(1, 1), "");
  EXPECT_EQ(re.GetSubmatch(1, 2), "c");
  EXPECT_EQ(re.GetSubmatch(2, 1), "b");
  // A trailing optional group that did not take part.
  ASSERT_TRUE(re.Run("(x)(y)?", "x"));
  EXPECT_EQ(re.GetGroupCount(), 2);
  EXPECT_EQ(re.GetSubmatch(1, 2), "");
}

TEST(RegexObject, DotStopsAtLineFeedButNotCarriageReturn) {
  RegexObject re;
  re.Run("<h1>(.*?)</h1>", "<h1>a\nb</h1>");
  EXPECT_EQ(re.GetMatchCount(), 0);
  re.Run("<h1>(.*?)</h1>", "<h1>a\rb</h1>");
  ASSERT_EQ(re.GetMatchCount(), 1);
  EXPECT_EQ(re.GetSubmatch(1, 1), "a\rb");
  // A title pattern that names the CR LF of its page's line end.
  re.Run(G(kWuduTitle), G("<html>\r\n<h1>斗破苍穹</h1>\r\n<p>"));
  ASSERT_EQ(re.GetMatchCount(), 1);
  EXPECT_EQ(re.GetSubmatch(1, 1), G("斗破苍穹"));
  re.Run(G(kWuduTitle), G("<h1>斗破苍穹</h1>\n"));
  EXPECT_EQ(re.GetMatchCount(), 0);
  // "^" and "$" at every line break.
  re.Run("^(\\w+)$", "ab\ncd\n");
  ASSERT_EQ(re.GetMatchCount(), 2);
  EXPECT_EQ(re.GetSubmatch(2, 1), "cd");
}

TEST(RegexObject, LettersMatchRegardlessOfCase) {
  RegexObject re;
  re.Run(G(kYiduList), G("<a href='1.html' >第一章</a><br>\n<a href='2.html' >第二章</a><Br>"));
  ASSERT_EQ(re.GetMatchCount(), 2);
  EXPECT_EQ(re.GetSubmatch(1, 1), "1.html");
  EXPECT_EQ(re.GetSubmatch(2, 2), G("第二章"));
}

TEST(RegexObject, InvalidPatternGivesNoMatchesAndClearsTheLastRun) {
  RegexObject re;
  ASSERT_TRUE(re.Run("(a)", "aaa"));
  ASSERT_EQ(re.GetMatchCount(), 3);
  for (const char* bad : {"(a", "a[b", "a{2,1}", "(?<n>a)\\k<m>"}) {
    EXPECT_FALSE(re.Run(bad, "aaa")) << bad;
    EXPECT_EQ(re.GetMatchCount(), 0) << bad;
    EXPECT_EQ(re.GetGroupCount(), 0) << bad;
    EXPECT_EQ(re.GetSubmatch(1, 1), "") << bad;
  }
}

TEST(RegexObject, CharactersNotBytes) {
  RegexObject re;
  // "." takes one Chinese character.
  re.Run(G("第(.)章"), G("第一章 第二章"));
  ASSERT_EQ(re.GetMatchCount(), 2);
  EXPECT_EQ(re.GetSubmatch(2, 1), G("二"));
  // A bracket class with a full-width and an ASCII colon matches either.
  const Text page = G("<p>作者：张三</p>\n<p>作&nbsp;者:李四</p>");
  re.Run(G(kLingdianAuthor), page);
  ASSERT_EQ(re.GetMatchCount(), 2);
  EXPECT_EQ(re.GetSubmatch(1, 1), G("张三"));
  EXPECT_EQ(re.GetSubmatch(2, 1), G("李四"));
  // A letter never matches the trail byte of a double-byte character: "乤" is 81 61.
  re.Run("(A)", "\x81\x61");
  EXPECT_EQ(re.GetMatchCount(), 0);
  re.Run("(.)", "\x81\x61" "a");
  ASSERT_EQ(re.GetMatchCount(), 2);
  EXPECT_EQ(re.GetSubmatch(1, 1), "\x81\x61");
}

TEST(RegexObject, ShorthandClassesStayAscii) {
  RegexObject re;
  re.Run("(\\d+)", G("１２3"));  // full-width digits are not \d
  ASSERT_EQ(re.GetMatchCount(), 1);
  EXPECT_EQ(re.GetSubmatch(1, 1), "3");
  re.Run("(\\w+)", G("中abc"));
  ASSERT_EQ(re.GetMatchCount(), 1);
  EXPECT_EQ(re.GetSubmatch(1, 1), "abc");
  re.Run("a\\sb", G("a　b a b"));  // the full-width space is not \s
  EXPECT_EQ(re.GetMatchCount(), 1);
  re.Run("\\u4E2D(.)", G("中文"));  // \u with four hex digits names a character
  ASSERT_EQ(re.GetMatchCount(), 1);
  EXPECT_EQ(re.GetSubmatch(1, 1), G("文"));
}

TEST(RegexObject, BackReferences) {
  RegexObject re;
  const Text page = G(
      "<li><a href=\"/book/12/345.html\" title=\"第一章\" target=\"_blank\">第一章</a></li>\n"
      "<li><a href=\"/book/12/346.html\" title=\"第二章\" target=\"_blank\">别的</a></li>\n"
      "<li><a href=\"/book/12/347.html\" title=\"第三章\" target=\"_blank\">第三章</a></li>");
  re.Run(G(kYoudu), page);
  ASSERT_EQ(re.GetMatchCount(), 2);
  EXPECT_EQ(re.GetSubmatch(1, 1), "345.html");
  EXPECT_EQ(re.GetSubmatch(2, 2), G("第三章"));
  // A back-reference to a group that took no part matches the empty string.
  re.Run("(a)?b\\1c", "bc");
  EXPECT_EQ(re.GetMatchCount(), 1);
}

TEST(RegexObject, GlobalMatchingWithEmptyMatches) {
  RegexObject re;
  re.Run("(x*)", "axxb");
  ASSERT_EQ(re.GetMatchCount(), 4);  // "" before a, "xx", "" before b, "" at the end
  EXPECT_EQ(re.GetSubmatch(1, 1), "");
  EXPECT_EQ(re.GetSubmatch(2, 1), "xx");
  re.Run("()", G("中文"));  // empty matches step over whole characters
  EXPECT_EQ(re.GetMatchCount(), 3);
  re.Run("(a)", "");
  EXPECT_EQ(re.GetMatchCount(), 0);
}

TEST(RegexObject, FourGroupPatternOfTwoChaptersPerMatch) {
  const Text page = G(
      "<ul>\r\n"
      "<li style=\"w\"><a href=\"1.html\">第一章</a><a href='2.html'>第二章</a> </li>\r\n"
      "<li style=\"w\"><a class=\"c\" href=\"3.html\" t=\"x\">第三章</a>"
      "<a href=\"4.html\">第四章</a></li>\r\n"
      "</ul>");
  RegexObject re;
  re.Run(G(k52ZwList), page);
  ASSERT_EQ(re.GetMatchCount(), 2);
  EXPECT_EQ(re.GetGroupCount(), 4);
  EXPECT_EQ(re.GetSubmatch(1, 3), "2.html");
  EXPECT_EQ(re.GetSubmatch(1, 4), G("第二章"));
  EXPECT_EQ(re.GetSubmatch(2, 1), "3.html");
  EXPECT_EQ(re.GetSubmatch(2, 4), G("第四章"));
}

TEST(RegexObject, CatastrophicBacktrackingEndsWithTheMatchesFoundSoFar) {
  Text page = "x x ";
  page.append(100'000, 'a');
  page += "b";
  RegexObject re;
  const auto t0 = std::chrono::steady_clock::now();
  re.Run("(x)|(a+)+$", page);
  const auto elapsed = std::chrono::steady_clock::now() - t0;
  EXPECT_TRUE(re.LimitReached());
  EXPECT_EQ(re.GetMatchCount(), 2);
  EXPECT_EQ(re.GetSubmatch(2, 1), "x");
  // Not a timing assertion in the strict sense: without the limits this run would not end.
  EXPECT_LT(elapsed, std::chrono::seconds(30));

  // The same object runs an ordinary pattern normally afterwards.
  re.Run("(b)", page);
  EXPECT_FALSE(re.LimitReached());
  EXPECT_EQ(re.GetMatchCount(), 1);
}

TEST(RegexObject, TimeBudgetBoundsSlowFailuresAtEveryStart) {
  // Each starting position fails within the per-start limits, but slowly: without a bound on the
  // whole run the interpreter needs minutes for this.
  Text page = "7 ";
  page.append(200'000, 'a');
  for (bool jit : {false, true}) {
    RegexObject::Limits limits;
    limits.jit = jit;
    limits.runBudgetMs = 200;
    RegexObject re(limits);
    const auto t0 = std::chrono::steady_clock::now();
    re.Run("(\\d)|a.*\\d", page);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(30));
    ASSERT_GE(re.GetMatchCount(), 1) << jit;
    EXPECT_EQ(re.GetSubmatch(1, 1), "7");
    if (!jit) {
      EXPECT_TRUE(re.LimitReached());
    }
  }
  // A pattern that opens with a verb cannot be wrapped for the budget and still runs.
  RegexObject re;
  EXPECT_TRUE(re.Run("(*NOTEMPTY)(a)", "aa"));
  EXPECT_EQ(re.GetMatchCount(), 2);
}

TEST(RegexObject, LongLineWithLazyGroupsIsNotCutOff) {
  // A minified page: 20,000 chapter links on one line; lazy groups must not trip the limits.
  Text page;
  for (int i = 0; i < 20000; ++i) {
    page += "<dd><a href=\"" + std::to_string(i) + ".html\">" + G("第") + std::to_string(i) +
            G("章") + "</a></dd><link rel=\"x\">";
  }
  RegexObject re;
  re.Run("<dd><a href=\"(.*?)\">(.*?)</a></dd>", page);
  EXPECT_FALSE(re.LimitReached());
  ASSERT_EQ(re.GetMatchCount(), 20000);
  EXPECT_EQ(re.GetSubmatch(20000, 1), "19999.html");
  // Here every "<link" starts a lazy scan that fails only at the end of the megabyte-long
  // line: the run is cut off instead of going quadratic.
  const auto t0 = std::chrono::steady_clock::now();
  re.Run("<li.*?><a href=\"(.*?)\">([^<>]*?)</a></li>", page);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(30));
  EXPECT_EQ(re.GetMatchCount(), 0);
}

}  // namespace
}  // namespace qv
