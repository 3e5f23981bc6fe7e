// The run-time budget of RegexObject: it cuts off runs that would take too long, and never
// costs a match that a run without it finds in time.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "text/encoding.h"
#include "text/regex_object.h"

namespace qv {
namespace {

Text G(std::string_view utf8) { return Utf8ToGbk(utf8); }

// Every match and group of a run, as one comparable list.
std::vector<Text> AllGroups(const RegexObject& re) {
  std::vector<Text> out;
  for (int m = 1; m <= re.GetMatchCount(); ++m) {
    out.push_back("#");
    for (int g = 1; g <= re.GetGroupCount(); ++g) out.push_back(re.GetSubmatch(m, g));
  }
  return out;
}

TEST(RegexBudget, GreedyScanOverALongLineFindsItsMatchQuickly) {
  Text page(200'000, 'a');
  page += "\na1";
  RegexObject re;  // default limits, budget on
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(re.Run("(a.*\\d)", page));
  const auto elapsed = std::chrono::steady_clock::now() - t0;
  EXPECT_FALSE(re.LimitReached());
  ASSERT_EQ(re.GetMatchCount(), 1);
  EXPECT_EQ(re.GetSubmatch(1, 1), "a1");
  // Well inside the budget of 5 s (the run without a budget takes milliseconds).
  EXPECT_LT(elapsed, std::chrono::seconds(4));
}

TEST(RegexBudget, BudgetedRunsFindWhatUnboundedRunsFind) {
  // Long subjects, so the matches cross the spans of starting positions a budgeted run searches.
  Text chinese;
  for (int i = 0; i < 3000; ++i) chinese += G("第") + std::to_string(i) + G("章，正文。");
  Text links;
  for (int i = 0; i < 5000; ++i) {
    links += "<dd><a href=\"" + std::to_string(i) + ".html\">" + G("第") + std::to_string(i) +
             G("章") + "</a></dd>";
  }
  Text sparse(50'000, ' ');
  sparse += "<b>x</b>";
  sparse.append(50'000, ' ');
  struct Case {
    const char* name;
    Text pattern;
    const Text* subject;
  } cases[] = {
      {"chapters", G("第(\\d+)章"), &chinese},
      {"single characters", G("(。)"), &chinese},
      {"empty matches", "(x*)", &sparse},
      {"long matches", "(<dd>.*?</dd>)", &links},
      {"links", "<dd><a href=\"(.*?)\">(.*?)</a></dd>", &links},
      {"one far match", "<b>(.*?)</b>", &sparse},
      {"whole line", "^(.*)$", &links},
  };
  for (const Case& c : cases) {
    RegexObject::Limits unbounded;
    unbounded.runBudgetMs = 0;
    RegexObject plain(unbounded);
    RegexObject budgeted;
    ASSERT_TRUE(plain.Run(c.pattern, *c.subject)) << c.name;
    ASSERT_TRUE(budgeted.Run(c.pattern, *c.subject)) << c.name;
    EXPECT_GT(plain.GetMatchCount(), 0) << c.name;
    EXPECT_EQ(budgeted.GetMatchCount(), plain.GetMatchCount()) << c.name;
    EXPECT_EQ(AllGroups(budgeted), AllGroups(plain)) << c.name;
    EXPECT_FALSE(budgeted.LimitReached()) << c.name;
  }
}

TEST(RegexBudget, PatternsThatCannotBeWrappedAreBoundedToo) {
  // Every start fails slowly; the interpreter would need minutes without a bound on the run.
  Text page = "7 ";
  page.append(200'000, 'a');
  const char* const patterns[] = {
      "(\\d)|a.*\\d",
      "(?x)(\\d)|a.*\\d  # a comment to the end",
      "(\\d)|a.*\\d\\Q",
      "(*NOTEMPTY)(\\d)|a.*\\d",
  };
  for (const char* pattern : patterns) {
    RegexObject::Limits limits;
    limits.jit = false;
    limits.runBudgetMs = 200;
    RegexObject re(limits);
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(re.Run(pattern, page)) << pattern;
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(30)) << pattern;
    EXPECT_TRUE(re.LimitReached()) << pattern;
    ASSERT_GE(re.GetMatchCount(), 1) << pattern;
    EXPECT_EQ(re.GetSubmatch(1, 1), "7") << pattern;
  }
}

}  // namespace
}  // namespace qv
