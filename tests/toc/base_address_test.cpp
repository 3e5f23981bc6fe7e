#include "toc/base_address.h"

#include <gtest/gtest.h>

#include "text/encoding.h"

namespace qv {
namespace {

TEST(DeriveBaseAddress, WorkedExamples) {
  const Text page = "http://host/book/12/index.html";
  struct Case {
    Text link, base;
  } cases[] = {
      {"345.html", "http://host/book/12/"},
      {"12/345.html", "http://host/book/"},
      {"/book/12/345.html", "http://host"},
      {"http://host/book/12/345.html", ""},  // six steps, the address has five "/"
      {"", "http://host/book/12/"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DeriveBaseAddress(page, c.link), c.base) << c.link;
    if (!c.link.empty()) {
      EXPECT_EQ(DeriveBaseAddress(page, c.link) + c.link, "http://host/book/12/345.html");
    }
  }
}

TEST(DeriveBaseAddress, EdgesOfTheAddress) {
  // More levels than the address has: nothing left.
  EXPECT_EQ(DeriveBaseAddress("http://host/index.html", "a/b/c/d.html"), "");
  EXPECT_EQ(DeriveBaseAddress("http://host/index.html", "/a/b/c/d.html"), "");
  // An address ending in "/" keeps it for a relative link.
  EXPECT_EQ(DeriveBaseAddress("http://host/book/12/", "345.html"), "http://host/book/12/");
  // Absolute link of one level: the host alone.
  EXPECT_EQ(DeriveBaseAddress("http://host/b/", "/b/1.html"), "http://host");
  // No "/" at all in the address.
  EXPECT_EQ(DeriveBaseAddress("index.html", "1.html"), "");
  EXPECT_EQ(DeriveBaseAddress("", ""), "");
  // Chinese characters in the address and the link count as whole characters.
  const Text address = Utf8ToGbk("http://host/书/12/目录.html");
  EXPECT_EQ(DeriveBaseAddress(address, Utf8ToGbk("12/第一章.html")), Utf8ToGbk("http://host/书/"));
}

TEST(CountOccurrences, NonOverlappingIgnoringCase) {
  EXPECT_EQ(CountOccurrences("a/B/c/", "/"), 3);
  EXPECT_EQ(CountOccurrences("aAaA", "aa"), 2);
  EXPECT_EQ(CountOccurrences("aaa", "aa"), 1);
  EXPECT_EQ(CountOccurrences("", "/"), 0);
  EXPECT_EQ(CountOccurrences("abc", ""), 0);
}

}  // namespace
}  // namespace qv
