#include "text/markers.h"

#include <gtest/gtest.h>

#include "text/encoding.h"

namespace qv {
namespace {

Text G(std::string_view utf8) { return Utf8ToGbk(utf8); }

TEST(ExtractBetween, Cases) {
  const Text page = "<div id=\"content\">body</div><div>x</div>";
  struct Case {
    Text text, left, right, want;
  } cases[] = {
      {page, "<div id=\"content\">", "</div>", "body"},
      {page, G("<div id=#引号content#引号>"), "</div>", "body"},
      {page, "<div id=\"content\">", "</span>", ""},
      {"</div>x<div>", "<div>", "</div>", ""},  // right marker only before the left one
      {page, "<p>", "</div>", ""},
      {"<a></a>", "<a>", "</a>", ""},
      {"[1][2]", "[", "]", "1"},
      {"abc]def]", "", "]", "abc"},
      {"abc", "a", "", ""},
      {"", "", "x", ""},
      {"a\"b\"", G("#引号"), G("#引号"), "b"},
      {G("中文]") + "]", "", "]", G("中文")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExtractBetween(c.text, c.left, c.right), c.want) << c.text << " | " << c.left;
  }
  // A one-byte marker equal to the trail byte of a Chinese character is not matched inside it.
  EXPECT_EQ(ExtractBetween(G("中") + "x\xD0y\xD0", "\xD0", "\xD0"), "y");
  EXPECT_EQ(ExtractBetween("aXbXc", "x", "x", 1, true), "b");
  EXPECT_EQ(ExtractBetween("[1][2]", "[", "]", 3), "2");
}

TEST(CleanChapterText, Replacements) {
  struct Case {
    Text in, want;
  } cases[] = {
      {"<p>text</p>", "  text\r\n"},
      {"a<br>b<BR>c", "a<br>b<BR>c"},
      {"a<br />b<br/>c</br>d", "a\r\nb\r\nc\r\nd"},
      {"x\r\n\r\n\r\n\r\n\r\ny", "x\r\n\r\ny"},
      {"x\r\n\r\n\r\ny", "x\r\ny"},
      {"x\r\n\r\ny", "x\r\ny"},
      {"x\r\n\r\n\r\n\r\ny", "x\r\ny"},
      {"?????", "    ?"},
      {"", ""},
      {"&lsquo;&rsquo;&mdash;&hellip;&ldquo;&rdquo;",
       "\xA1\xAE\xA1\xAF\xA1\xAA\xA1\xAD\xA1\xB0\xA1\xB1"},
      {"&nbsp;&quot;&amp;&lt;&#20013;", " \"&amp;&lt;&#20013;"},
      {"<P>x</P><div>y</div>", "<P>x</P><div>y</div>"},
      {"a</p><p>b", "a\r\n  b"},
  };
  for (const Case& c : cases) EXPECT_EQ(CleanChapterText(c.in), c.want) << c.in;
}

}  // namespace
}  // namespace qv
