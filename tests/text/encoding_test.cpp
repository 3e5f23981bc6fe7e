#include "text/encoding.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

TEST(Encoding, RoundTripsChineseThroughEveryForm) {
  const std::string utf8 = "第一章 天玄记（上）“引号”…";
  const Text gbk = Utf8ToGbk(utf8);
  EXPECT_EQ(gbk.substr(0, 2), "\xB5\xDA");  // 第
  EXPECT_EQ(GbkToUtf8(gbk), utf8);
  EXPECT_EQ(Utf16ToGbk(GbkToUtf16(gbk)), gbk);
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(utf8)), utf8);
}

TEST(Encoding, UnrepresentableBecomesQuestionMark) {
  // An emoji (four UTF-8 bytes, a surrogate pair in UTF-16) is one "?".
  EXPECT_EQ(Utf8ToGbk("a\xF0\x9F\x98\x80" "b"), "a?b");
  EXPECT_EQ(Utf16ToGbk(u"x\U0001F600"), "x?");
  // Korean Hangul is not in CP936.
  EXPECT_EQ(Utf8ToGbk("\xED\x95\x9C"), "?");
}

TEST(Encoding, MalformedInputNeverStopsConversion) {
  EXPECT_EQ(Utf8ToGbk("a\x80" "b\xE4\xB8" "c"), "a?b?c");
  // A lead byte with an invalid trail: one "?", then the next byte reads on its own.
  EXPECT_EQ(GbkToUtf8("\x81\x20z"), "? z");
  EXPECT_EQ(GbkToUtf8("end\xD6"), "end?");
  EXPECT_EQ(GbkToUtf8("\x80"), "\xE2\x82\xAC");  // the euro sign of code page 936
}

TEST(Encoding, FileSystemNamesAreUtf8) {
  EXPECT_EQ(FsPath(Utf8ToGbk("下载配置.xml")).string(), "下载配置.xml");
}

}  // namespace
}  // namespace qv
