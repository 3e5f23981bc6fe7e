#include "text/address.h"

#include <gtest/gtest.h>

#include "text/encoding.h"

namespace qv {
namespace {

TEST(HostOfAddress, Cases) {
  struct Case {
    Text address;
    bool keepPort;
    Text want;
  } cases[] = {
      {"HTTPS://A.B.C:8080/Path/X.html", false, "a.b.c"},
      {"HTTPS://A.B.C:8080/Path/X.html", true, "a.b.c:8080"},
      {"http://www.Example.com/book/1/", false, "www.example.com"},
      {"www.example.com", false, "www.example.com"},
      {"www.example.com:81", false, "www.example.com"},
      {"www.example.com:81", true, "www.example.com:81"},
      {"Example.com/book/1.html", false, "example.com"},
      // Not starting with "https://": the host follows the first "http://", wherever it is.
      {"ftp://x.org/?u=http://inner.org/a", false, "inner.org"},
      {"https://outer.org/?u=http://inner.org/a", false, "outer.org"},
      // Starting with "http://": the text up to the next "/", whatever it holds.
      {"http://a.com?x=1", false, "a.com?x=1"},
      {"http://a.com?x=1:2", true, "a.com?x=1:2"},
      {"https://", false, ""},
      {"", false, ""},
      {"", true, ""},
      {"http://a.com:8080:9090/", true, "a.com:8080:9090"},
      {"http://a.com:8080:9090/", false, "a.com"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HostOfAddress(c.address, c.keepPort), c.want)
        << c.address << (c.keepPort ? " (keep port)" : "");
  }
}

TEST(HostOfAddress, DoubleByteCharactersAreKeptAndNotLowered) {
  // Only ASCII letters are lowered; the trail byte 0x41 ('A') of a double-byte character is not.
  const Text address = "HTTP://\xB0" "A.Cn/x";
  EXPECT_EQ(HostOfAddress(address), "\xB0" "A.cn");
  const Text chinese = Utf8ToGbk("http://中文.COM/");
  EXPECT_EQ(HostOfAddress(chinese), Utf8ToGbk("中文.com"));
}

}  // namespace
}  // namespace qv
