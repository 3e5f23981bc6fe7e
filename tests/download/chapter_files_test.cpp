// Chapter files and the book on disk: long titles, atomic chapter saves and stale temporaries.
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "engine_fixture.h"
#include "file_size_limit.h"

namespace qvtest {
namespace {

size_t DiskBytes(const Text& gbk) { return qv::GbkToUtf8(gbk).size(); }

// Whether `s` is made of whole characters of the code page (no lead byte cut from its trail).
bool WholeCharacters(const Text& s) {
  size_t last = 0;
  for (size_t i = 0; i < s.size(); i += qv::CharLenAt(s, i)) last = i;
  return s.empty() || last != s.size() - 1 ||
         !qv::IsLeadByte(static_cast<unsigned char>(s.back()));
}

void WriteBytesTo(const fs::path& p) { std::ofstream(p, std::ios::binary) << "x"; }

Text Repeat(const Text& piece, int times) {
  Text out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

class ChapterFilesTest : public EngineTest {
 protected:
  // The job a run takes for `row` of the table as it stands.
  qv::ChapterJob JobOf(int row) {
    return {row, table.CellText(row, qv::kColTitle), table.CellText(row, qv::kColLink),
            Engine().ChapterFilePath(row)};
  }
  // One downloaded row of the book named by the title label; merges and returns the result.
  bool SaveOneChapterAndMerge() {
    AddRow(G("章"), "x", 1);
    qv::MakeFolder(Engine().BookFolder());
    if (!Engine().SaveChapterFile(JobOf(0), "CHAPTER")) return false;
    return Engine().MergeBook();
  }
};

TEST_F(ChapterFilesTest, BookNamesUpToTheLimitMerge) {
  // "(张三).txt" takes 12 bytes on disk; the title fills the rest up to 251..255 bytes.
  for (size_t total = 251; total <= 255; ++total) {
    SCOPED_TRACE(total);
    table.DeleteAllRows();
    const Text title(total - 12, 'a');
    controls.SetText(Ctl::TitleLabel, title);
    const Text book = Engine().BookFilePath();
    ASSERT_EQ(book, title + G("(张三).txt"));
    ASSERT_EQ(DiskBytes(book), total);
    ASSERT_TRUE(SaveOneChapterAndMerge());
    EXPECT_EQ(qv::ReadFileBytes(book), "CHAPTER");
  }
  // Only the folders and the books are left: no temporary file.
  for (const std::string& entry : TreeOf(".")) EXPECT_EQ(entry.find(".tmp"), std::string::npos);
}

TEST_F(ChapterFilesTest, TooLongTitlesAreShortenedOnWholeCharacters) {
  struct Case {
    const char* name;
    Text title;
  } cases[] = {
      {"ascii", Text(300, 'a')},
      {"chinese", Repeat(G("天"), 120)},              // 360 bytes on disk
      {"odd start", "a" + Repeat(G("玄"), 100)},       // the cut falls inside a character
      {"mixed", Repeat("ab" + G("记"), 60)},
      {"unsafe", Repeat(G("天/") , 90)},                // replaced characters count too
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    table.DeleteAllRows();
    controls.SetText(Ctl::TitleLabel, c.title);
    const Text folder = Engine().BookFolder();
    const Text book = Engine().BookFilePath();
    EXPECT_LE(DiskBytes(folder), 255u);
    EXPECT_GE(DiskBytes(folder), 252u);  // shortened by less than one character
    EXPECT_TRUE(WholeCharacters(folder));
    EXPECT_EQ(qv::ReplaceUnsafeNameChars(c.title).substr(0, folder.size()), folder);
    EXPECT_LE(DiskBytes(book), 255u);
    EXPECT_TRUE(WholeCharacters(book));
    EXPECT_TRUE(book.ends_with(G("(张三).txt")));
    ASSERT_TRUE(SaveOneChapterAndMerge());
    EXPECT_EQ(Status(0), G("下载完毕"));
    EXPECT_EQ(qv::ReadFileBytes(Engine().ChapterFilePath(0)), "CHAPTER");
    EXPECT_EQ(qv::ReadFileBytes(book), "CHAPTER");
  }
}

TEST_F(ChapterFilesTest, ALongAuthorGivesWayAfterTheTitle) {
  controls.SetText(Ctl::TitleLabel, Repeat(G("天"), 100));
  controls.SetText(Ctl::AuthorLabel, Repeat(G("张"), 100));
  const Text book = Engine().BookFilePath();
  EXPECT_LE(DiskBytes(book), 255u);
  EXPECT_TRUE(WholeCharacters(book));
  EXPECT_TRUE(book.starts_with(Repeat(G("天"), 41)));  // at least half of the room
  EXPECT_TRUE(book.ends_with(G("张).txt")));
  ASSERT_TRUE(SaveOneChapterAndMerge());
  EXPECT_EQ(qv::ReadFileBytes(book), "CHAPTER");
}

TEST_F(ChapterFilesTest, AFailedChapterSaveKeepsTheOldChapter) {
  AddRow(G("章"), "x", 1);
  qv::MakeFolder(Engine().BookFolder());
  const Text path = Engine().ChapterFilePath(0);
  const Text oldChapter(300 * 1024, 'o');
  ASSERT_TRUE(qv::WriteFileBytes(path, oldChapter));
  {
    FileSizeLimit full(400 * 1024);  // the disk fills up inside the new chapter
    EXPECT_FALSE(Engine().SaveChapterFile(JobOf(0), Text(700 * 1024, 'n')));
  }
  EXPECT_EQ(Status(0), G("保存失败"));
  EXPECT_EQ(qv::ReadFileBytes(path), oldChapter);
  EXPECT_EQ(TreeOf(qv::FsPath(Engine().BookFolder())), std::set<std::string>{"1.txt"});

  ASSERT_TRUE(Engine().SaveChapterFile(JobOf(0), Text(700 * 1024, 'n')));
  EXPECT_EQ(qv::ReadFileBytes(path), Text(700 * 1024, 'n'));
  EXPECT_EQ(TreeOf(qv::FsPath(Engine().BookFolder())), std::set<std::string>{"1.txt"});
}

// The pid of a process that has ended.
long DeadPid() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  int status = 0;
  waitpid(child, &status, 0);
  return child;
}

TEST_F(ChapterFilesTest, AStartingRunRemovesStaleTemporariesFromTheBookFolder) {
  qv::MakeFolder(Engine().BookFolder());
  const fs::path folder = qv::FsPath(Engine().BookFolder());
  const std::string dead = std::to_string(DeadPid());
  const std::string live = std::to_string(getppid());
  for (const std::string& name : {".1.txt." + dead + ".0.tmp", ".quorvane." + dead + ".4.tmp",
                                  ".2.txt." + live + ".1.tmp", std::string("3.txt")}) {
    WriteBytesTo(folder / name);
  }
  AddRow(G("章"), "http://127.0.0.1:1/closed.html");  // nobody listens there: nothing saved
  Engine().StartDownload();
  EXPECT_EQ(TreeOf(folder), (std::set<std::string>{".2.txt." + live + ".1.tmp", "3.txt"}));
}

TEST_F(ChapterFilesTest, DoubleClickWithoutADesktopProgramSaysWhereTheFileIs) {
  fs::create_directory(fs::u8path("天玄记"));
  for (int i = 0; i < 3; ++i) AddRow(G("章"), "x", 0);
  ASSERT_TRUE(qv::WriteFileBytes(G("天玄记/3.txt"), "c"));
  Engine().OpenChapterFile(100, 45);  // opened: nothing to say
  EXPECT_TRUE(controls.Notices().empty());

  controls.SetDesktopOpens(false);
  Engine().OpenChapterFile(100, 45);
  EXPECT_EQ(controls.OpenedFiles().size(), 2u);
  ASSERT_EQ(controls.Notices().size(), 1u);
  const auto notice = controls.Notices()[0];
  EXPECT_EQ(notice.title, G("提示"));
  const Text where = qv::Utf8ToGbk((fs::current_path() / fs::u8path("天玄记/3.txt")).string());
  EXPECT_EQ(notice.text, G("没有可以打开此文件的程序，文件在：") + where);
  EXPECT_EQ(notice.style, qv::NoticeStyle::kError);
  EXPECT_EQ(notice.timeoutMs, 0);

  Engine().OpenChapterFile(100, 25);  // a row without a file stays silent
  EXPECT_EQ(controls.Notices().size(), 1u);
}

}  // namespace
}  // namespace qvtest
