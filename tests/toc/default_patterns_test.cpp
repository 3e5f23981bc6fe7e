// Every pattern of the default rules compiles and runs with the regular-expression object.
#include <gtest/gtest.h>

#include "rules/default_rules.h"
#include "rules/site_rule.h"
#include "text/regex_object.h"

namespace qv {
namespace {

TEST(DefaultRulePatterns, AllCompile) {
  const auto& rules = DefaultRuleSet();
  ASSERT_EQ(rules.size(), 20u);
  RegexObject re;
  for (const SiteRule& rule : rules) {
    for (const Text* stored :
         {&rule.listPattern, &rule.titlePattern, &rule.authorPattern}) {
      EXPECT_TRUE(re.Run(TextDecode(*stored), "<html></html>"))
          << rule.ruleName << ": " << TextDecode(*stored);
    }
  }
}

}  // namespace
}  // namespace qv
