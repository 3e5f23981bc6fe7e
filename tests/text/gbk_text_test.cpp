#include "text/gbk_text.h"

#include <gtest/gtest.h>

#include "text/encoding.h"

namespace qv {
namespace {

Text G(std::string_view utf8) { return Utf8ToGbk(utf8); }

TEST(FindText, OnlyMatchesOnCharacterBoundaries) {
  // 中 is D6 D0; 誠 (C8 A1... ) not needed: build a text whose trail byte equals the piece.
  // "\xB0\x41" is a double-byte character whose trail byte is 'A'.
  const Text text = "\xB0" "AxA";
  EXPECT_EQ(FindText(text, "A"), 4);
  EXPECT_EQ(FindText(text, "x"), 3);
  // A marker of one byte equal to a trail byte of a Chinese character is not found inside it.
  const Text chinese = G("中文") + "]";
  EXPECT_EQ(FindText(chinese, "\xD0"), -1);  // D0 is the trail byte of 中
  EXPECT_EQ(FindText(chinese, "]"), 5);
}

TEST(FindText, StartIgnoreCaseAndEmpty) {
  struct Case {
    const char* text;
    const char* piece;
    int start;
    bool ignoreCase;
    int want;
  } cases[] = {
      {"abcabc", "abc", 1, false, 1}, {"abcabc", "abc", 2, false, 4},
      {"abcabc", "abc", 0, false, 1}, {"abcabc", "abc", -5, false, 1},
      {"abcABC", "ABC", 1, false, 4}, {"abcABC", "ABC", 1, true, 1},
      {"abc", "", 1, false, 1},       {"", "", 1, false, -1},
      {"abc", "abcd", 1, false, -1},  {"abc", "c", 9, false, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindText(c.text, c.piece, c.start, c.ignoreCase), c.want)
        << c.text << " / " << c.piece << " from " << c.start;
  }
}

TEST(FindText, IgnoreCaseDoesNotFoldTrailBytes) {
  // B0 61 and B0 41 are different characters; folding must not make them equal.
  EXPECT_EQ(FindText("\xB0\x61", "\xB0\x41", 1, true), -1);
  EXPECT_EQ(FindText("X\xB0\x41", "x", 1, true), 1);
}

TEST(ReplaceText, LeftToRightWithoutRescanning) {
  EXPECT_EQ(ReplaceText("aaaa", "aa", "a"), "aa");
  EXPECT_EQ(ReplaceText("abab", "ab", "abab"), "abababab");
  EXPECT_EQ(ReplaceText("Set-Cookie set-cookie SET-COOKIE", "set-cookie", "Set-Cookie", true),
            "Set-Cookie Set-Cookie Set-Cookie");
  EXPECT_EQ(ReplaceText("abc", "", "x"), "abc");
  EXPECT_EQ(RemoveText(G("中 文 "), " "), G("中文"));
  // The trail byte 'A' of B0 41 is not replaced.
  EXPECT_EQ(ReplaceText("\xB0" "AA", "A", "b"), "\xB0" "Ab");
}

TEST(SplitText, PiecesBetweenSeparators) {
  struct Case {
    const char* text;
    std::vector<Text> want;
  } cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a;b", {"a", "b"}},
      {"a;", {"a"}},
      {"a;;b", {"a", "", "b"}},
      {";a", {"", "a"}},
      {";", {""}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitText(c.text, ";"), c.want) << c.text;
  EXPECT_EQ(SplitText("a\r\nb\r\n", "\r\n"), (std::vector<Text>{"a", "b"}));
}

TEST(Spaces, BothKindsTrimmedAndRemoved) {
  const Text wide(kWideSpace);
  EXPECT_EQ(TrimSpaces(wide + G("书 名") + " "), G("书 名"));
  EXPECT_EQ(TrimSpaces(" \t" + G("书") + "\r\n "), "\t" + G("书") + "\r\n");
  EXPECT_EQ(TrimSpaces("   "), "");
  EXPECT_EQ(RemoveSpaces(G("张 三") + wide + "x"), G("张三") + "x");
  // A1 A1 spanning two characters (trail of one, lead of the next) is not a space.
  const Text tricky = "\xB0\xA1\xA1\x41";
  EXPECT_EQ(RemoveSpaces(tricky), tricky);
  EXPECT_EQ(TrimSpaces(tricky), tricky);
}

TEST(ReadInteger, BoxAndPlainForms) {
  struct Case {
    std::string_view text;
    int box;
    int plain;
  } cases[] = {
      {"12", 12, 12},
      {"  7rows", 7, 7},
      {"-3", -3, -3},
      {"+4", 4, 4},
      {"abc", 0, 0},
      {"", 0, 0},
      {"\xA3\xB1\xA3\xB2", 12, 0},          // full-width 12
      {"\xA3\xAD\xA3\xB5", -5, 0},          // full-width -5
      {"1\xA3\xB0", 10, 1},                 // half then full-width digit
      {"99999999999999", 2147483647, 2147483647},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadBoxInteger(c.text), c.box) << c.text;
    EXPECT_EQ(ReadPlainInteger(c.text), c.plain) << c.text;
  }
}

TEST(ReadInteger, LeadingFullWidthSpacesAreSpaces) {
  struct Case {
    std::string_view text;
    int box;
    int plain;
  } cases[] = {
      {"\xA1\xA1\xA3\xB4", 4, 0},              // full-width space, full-width 4
      {"\xA1\xA1 \xA1\xA1" "12", 12, 12},       // both kinds mixed before the digits
      {"\xA1\xA1-3", -3, -3},
      {"\xA1\xA1\xA3\xAD\xA3\xB5", -5, 0},    // full-width space and full-width -5
      {"\xA1\xA1", 0, 0},
      {"\xA1\xA2" "7", 0, 0},                    // another double-byte character is no space
      {"\xB0\xA1\xA1" "7", 0, 0},               // the A1 A1 inside two characters is none
      {"\xA1", 0, 0},                             // a lone lead byte at the end
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadBoxInteger(c.text), c.box) << c.text;
    EXPECT_EQ(ReadPlainInteger(c.text), c.plain) << c.text;
  }
}

}  // namespace
}  // namespace qv
