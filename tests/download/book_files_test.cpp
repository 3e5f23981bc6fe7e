// Names of the book folder, the chapter files and the book file.
#include <gtest/gtest.h>

#include "download/book_files.h"
#include "text/encoding.h"

namespace {

using qv::Text;

TEST(SafeFileName, ReplacesWhatCannotNameAFileAndKeepsEverythingElse) {
  struct Case {
    Text title, safe;
  };
  const Case cases[] = {
      {qv::Utf8ToGbk("天玄记"), qv::Utf8ToGbk("天玄记")},
      {qv::Utf8ToGbk("斗破苍穹 (修订版) 1-2.x"), qv::Utf8ToGbk("斗破苍穹 (修订版) 1-2.x")},
      {"\\/:*?\"<>|", "_________"},
      {std::string("a\0b", 3), "a_b"},
      {"a\tb\x7F" "c\x1F", "a_b_c_"},
      {"", "_"},
      {".", "_"},
      {"..", "_"},
      {"...", "..."},
      {"../..", ".._.."},
      // Double-byte characters whose trail byte is "\" or "|" stay whole.
      {"\x81\x5C\x81\x7C", "\x81\x5C\x81\x7C"},
      // A lead byte before a byte that cannot be its trail is no character: the separator
      // after it must not survive on its own.
      {"\x81/", "__"},
      {"\x81:x", "__x"},
      {"ab\xB0", "ab_"},  // lead byte at the end
      {"\xFF", "_"},
      {"\x80", "\x80"},  // the euro sign
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(qv::GbkToUtf8(c.title));
    EXPECT_EQ(qv::SafeFileName(c.title), c.safe);
    // The file-system name never holds a separator.
    EXPECT_EQ(qv::FsPath(qv::SafeFileName(c.title)).string().find('/'), std::string::npos);
  }
}

TEST(SafeFileName, EveryPathIsBuiltOnTheSameName) {
  const Text title = "../x";
  EXPECT_EQ(qv::BookFolderPath(title), ".._x");
  EXPECT_EQ(qv::ChapterFilePathFor(title, 0), ".._x/1.txt");
  EXPECT_EQ(qv::ChapterFilePathFor(title, 11), ".._x/12.txt");
  EXPECT_EQ(qv::BookFilePathFor(title, "a/b"), ".._x(a_b).txt");
  EXPECT_EQ(qv::BookFilePathFor(qv::Utf8ToGbk("天玄记"), qv::Utf8ToGbk("张三")),
            qv::Utf8ToGbk("天玄记(张三).txt"));
  EXPECT_EQ(qv::BookFilePathFor("", ""), "_().txt");
}

}  // namespace
