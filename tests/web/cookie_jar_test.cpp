#include "web/cookie_jar.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

TEST(CookieJarMerge, Cases) {
  struct Case {
    Text oldText, newText, want, newAfter;
  } cases[] = {
      {"a=1; b=2", "b=3", "b=3; a=1", "b=3"},
      {"a=1", "a=deleted", "", "a=deleted"},
      {"", "x=1; y=2", "x=1; y=2", "x=1;y=2"},
      {"a=1; a=1", "", "a=1", ""},
      {"", "a=1; a=2", "a=1; a=2", "a=1;a=2"},  // two Set-Cookie lines for one name
      {"A=1", "a=2", "a=2; A=1", "a=2"},
      {"s=x y", "", "s=xy", ""},
      {"s=x\xA1\xA1y", "t = 1", "t=1; s=xy", "t=1"},  // the full-width space goes too
      {"a=1;", "", "a=1", ""},                   // no empty entry after a final ";"
      {"a=1;;b=2", "", "a=1; ; b=2", ""},        // an empty entry survives between separators
      {"a=1; b=deleted; c=3", "c=deleted", "a=1", "c=deleted"},
      {"a=1", "b=2; b=2", "b=2; a=1", "b=2;b=2"},  // exact repeats dropped at the end
      {"", "", "", ""},
  };
  for (const Case& c : cases) {
    Text cookies = c.oldText, fresh = c.newText;
    const Text got = CookieJar::Merge(cookies, fresh);
    EXPECT_EQ(got, c.want) << "old '" << c.oldText << "' new '" << c.newText << "'";
    EXPECT_EQ(cookies, c.want) << "stored back";
    EXPECT_EQ(fresh, c.newAfter) << "new text loses its spaces";
  }
}

TEST(CookieJarParts, NameIndexAndDuplicates) {
  EXPECT_EQ(CookieJar::NameOf(" sid =abc=d"), "sid");
  EXPECT_EQ(CookieJar::NameOf("flag"), "flag");
  EXPECT_EQ(CookieJar::NameOf("=v"), "");
  const std::vector<Text> list = {"a=1", " b =2", "a=1"};
  EXPECT_TRUE(CookieJar::ContainsName(list, "b"));
  EXPECT_FALSE(CookieJar::ContainsName(list, "A"));
  EXPECT_EQ(CookieJar::IndexOf(list, "a=1"), 1);
  EXPECT_EQ(CookieJar::IndexOf(list, " b =2"), 2);
  EXPECT_EQ(CookieJar::IndexOf(list, "b=2"), -1);
  EXPECT_EQ(CookieJar::RemoveDuplicates("a=1; b=2; a=1; a=2", "; "), "a=1; b=2; a=2");
  EXPECT_EQ(CookieJar::RemoveDuplicates("x|y|x|", "|"), "x|y");
  EXPECT_EQ(CookieJar::RemoveDuplicates("", "; "), "");
}

}  // namespace
}  // namespace qv
