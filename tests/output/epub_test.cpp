// The EPUB book: what the merge writes beside the text book, checked against the text book and
// by epubcheck; the chapter split, the identifier, and a failed write.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <zip.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "download/book_files.h"
#include "download/download_engine.h"
#include "download/download_state.h"
#include "output/epub_writer.h"
#include "shell/memory_ports.h"
#include "text/encoding.h"
#include "text/markers.h"
#include "file_size_limit.h"

namespace {

namespace fs = std::filesystem;
using qv::Ctl;
using qv::Text;

Text G(const std::string& utf8) { return qv::Utf8ToGbk(utf8); }

// The entries of a zip archive, in the order they are stored.
struct Archive {
  std::vector<std::string> names;
  std::map<std::string, std::string> files;
  std::map<std::string, int> method;
};

struct ZipClose {
  void operator()(zip_t* z) const { zip_discard(z); }
};
struct ZipFileClose {
  void operator()(zip_file_t* f) const { zip_fclose(f); }
};

Archive ReadArchive(const fs::path& path) {
  Archive a;
  int err = 0;
  std::unique_ptr<zip_t, ZipClose> z(zip_open(path.c_str(), ZIP_RDONLY, &err));
  if (!z) {
    ADD_FAILURE() << "cannot open " << path << ": " << err;
    return a;
  }
  const zip_int64_t n = zip_get_num_entries(z.get(), 0);
  for (zip_int64_t i = 0; i < n; ++i) {
    zip_stat_t st;
    zip_stat_index(z.get(), static_cast<zip_uint64_t>(i), 0, &st);
    std::unique_ptr<zip_file_t, ZipFileClose> f(zip_fopen_index(z.get(), static_cast<zip_uint64_t>(i), 0));
    std::string bytes(st.size, '\0');
    if (!f || zip_fread(f.get(), bytes.data(), st.size) != static_cast<zip_int64_t>(st.size)) {
      ADD_FAILURE() << "cannot read " << st.name;
    }
    a.names.push_back(st.name);
    a.files[st.name] = bytes;
    a.method[st.name] = st.comp_method;
  }
  return a;
}

std::string Unescape(std::string s) {
  const std::pair<const char*, const char*> entities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}};
  for (const auto& [from, to] : entities) {
    for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += std::strlen(to)) {
      s.replace(at, std::strlen(from), to);
    }
  }
  return s;
}

std::vector<std::string> AllMatches(const std::string& text, const std::string& pattern) {
  std::vector<std::string> out;
  const std::regex re(pattern);
  for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator();
       ++it) {
    out.push_back(Unescape((*it)[1].str()));
  }
  return out;
}

std::string FirstMatch(const std::string& text, const std::string& pattern) {
  const auto all = AllMatches(text, pattern);
  return all.empty() ? std::string() : all.front();
}

// The chapter pages in reading order, from the package document's spine.
std::vector<std::string> SpineChapterPages(const Archive& a) {
  const std::string opf = a.files.at("OEBPS/content.opf");
  std::vector<std::string> pages;
  for (const std::string& id : AllMatches(opf, "<itemref idref=\"([^\"]+)\"/>")) {
    const std::string href = FirstMatch(opf, "<item id=\"" + id + "\" href=\"([^\"]+)\"");
    if (id != "titlepage") pages.push_back("OEBPS/" + href);
  }
  return pages;
}

// Lines of a CP936 chapter that hold more than white space: what the EPUB shows of it.
std::vector<Text> ShownLines(const Text& chapter) {
  std::vector<Text> out;
  size_t start = 0;
  bool first = true;
  while (start <= chapter.size()) {
    size_t end = chapter.find("\r\n", start);
    if (end == Text::npos) end = chapter.size();
    const Text line = chapter.substr(start, end - start);
    if (first || line.find_first_not_of(" \t") != Text::npos) out.push_back(line);
    first = false;
    if (end == chapter.size()) break;
    start = end + 2;
  }
  return out;
}

// Runs epubcheck on `file`; the output, and whether it found nothing at all to report.
bool EpubCheckClean(const fs::path& file, std::string& output) {
  // The Debian command is the jar itself; where the system cannot start a jar directly, the
  // same jar runs through java.
  for (const std::string cmd : {"epubcheck", "java -jar /usr/share/java/epubcheck.jar"}) {
    output.clear();
    std::string quoted = "'";
    for (char c : file.string()) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    const std::string line = cmd + " " + quoted + "' 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(line.c_str(), "r"), pclose);
    if (!pipe) continue;
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, pipe.get())) output.append(buf, n);
    const int status = pclose(pipe.release());
    if (output.find("EPUBCheck") == std::string::npos) continue;  // this way did not start it
    return status == 0 && output.find("No errors or warnings detected") != std::string::npos &&
           output.find("WARNING") == std::string::npos && output.find("ERROR") == std::string::npos;
  }
  output = "epubcheck could not be started";
  return false;
}

class EpubTest : public ::testing::Test {
 protected:
  void SetUp() override {
    oldCwd_ = fs::current_path();
    char pattern[] = "/tmp/qv_epub_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::current_path(dir_);
    qv::CreateProcessObjects();
    controls.SetText(Ctl::AddressBox, "http://127.0.0.1:8080/book/1/");
    controls.SetChecked(Ctl::MergeCheck, true);
    controls.SetWaitScale(0.01);
  }
  void TearDown() override {
    engine.reset();
    qv::ExitCleanup();
    fs::current_path(oldCwd_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  qv::DownloadEngine& Engine() {
    if (!engine) engine = std::make_unique<qv::DownloadEngine>(table, controls);
    return *engine;
  }
  void SetBook(const std::string& title, const std::string& author) {
    controls.SetText(Ctl::TitleLabel, G(title));
    controls.SetText(Ctl::AuthorLabel, G(author));
    fs::create_directory(qv::FsPath(qv::BookFolderPath(G(title))));
  }
  // A row stored as the engine stores a downloaded chapter: title line and cleaned body.
  void AddChapter(const std::string& title, const std::string& html, bool downloaded = true) {
    const int row = table.RowCount();
    table.AppendChapter(qv::Decimal(row + 1), G(title), "x", G("等待下载"), qv::kChecked);
    if (downloaded) {
      const qv::ChapterJob job{row, G(title), "x",
                               qv::ChapterFilePathFor(controls.GetText(Ctl::TitleLabel), row)};
      ASSERT_TRUE(Engine().SaveChapterFile(job, qv::CleanChapterText(G(title) + "\r\n" + G(html))));
    }
  }

  qv::MemoryTable table;
  qv::MemoryControls controls;
  std::unique_ptr<qv::DownloadEngine> engine;
  fs::path dir_;

 private:
  fs::path oldCwd_;
};

// The whole book: both formats from one merge, compared chapter by chapter, and checked.
TEST_F(EpubTest, TheEpubShowsTheTextBooksChaptersInOrderAndPassesEpubcheck) {
  const std::string bookTitle = "天<玄>&\"记'";
  SetBook(bookTitle, "张&三");
  controls.SetChecked(Ctl::EpubCheck, true);
  AddChapter("第1章 <开始> & \"序\"", "<p>第一段&hellip;&ldquo;好&rdquo;</p><p>  </p><p>a < b && c > d</p>");
  AddChapter("第2章 未下载", "<p>不在书里</p>", false);
  AddChapter("第3章 夜", "第一行<br />第二行<br/>　　全角缩进的一行<br /><br />&nbsp;");
  AddChapter("第4章 ' 单引号", "<p>&lsquo;引&rsquo;&mdash;&mdash;完</p>");

  Engine().MergeButtonHandler();
  ASSERT_EQ(controls.Notices().size(), 1u);
  // Chapter 2 is still checked, not downloaded: the book is not the whole book.
  EXPECT_EQ(controls.Notices()[0].text, G("小说已合并，但有1个章节未下载"));
  EXPECT_EQ(controls.Notices()[0].style, qv::NoticeStyle::kInfo);

  const Text base = qv::SafeFileName(G(bookTitle)) + "(" + G("张&三") + ")";
  const Text book = qv::ReadFileBytes(base + ".txt");
  const fs::path epubPath = qv::FsPath(base + ".epub");
  ASSERT_TRUE(fs::is_regular_file(epubPath));
  EXPECT_EQ(qv::EpubFilePathFor(G(bookTitle), G("张&三")), base + ".epub");

  // The text book's chapters (no chapter body here holds an empty line).
  std::vector<Text> textChapters;
  for (size_t start = 0;;) {
    const size_t end = book.find("\r\n\r\n", start);
    Text piece = book.substr(start, end == Text::npos ? Text::npos : end - start);
    // A chapter that ends in a line end leaves it at the start of the next piece.
    while (piece.rfind("\r\n", 0) == 0) piece.erase(0, 2);
    textChapters.push_back(piece);
    if (end == Text::npos) break;
    start = end + 4;
  }
  ASSERT_EQ(textChapters.size(), 3u);

  const Archive a = ReadArchive(epubPath);
  ASSERT_FALSE(a.names.empty());
  EXPECT_EQ(a.names.front(), "mimetype");
  EXPECT_EQ(a.method.at("mimetype"), ZIP_CM_STORE);
  // Stored first with no extra field: the type reads at a fixed offset of the file.
  const std::string raw = qv::ReadFileBytes(base + ".epub");
  EXPECT_EQ(raw.substr(30, 28), "mimetypeapplication/epub+zip");

  const std::vector<std::string> pages = SpineChapterPages(a);
  ASSERT_EQ(pages.size(), textChapters.size());
  std::vector<std::string> headings;
  for (size_t i = 0; i < pages.size(); ++i) {
    SCOPED_TRACE(pages[i]);
    const std::string& page = a.files.at(pages[i]);
    std::vector<Text> shown = {G(FirstMatch(page, "<h2>([^<]*)</h2>"))};
    headings.push_back(FirstMatch(page, "<h2>([^<]*)</h2>"));
    for (const std::string& p : AllMatches(page, "<p>([^<]*)</p>")) shown.push_back(G(p));
    EXPECT_EQ(shown, ShownLines(textChapters[i]));
  }
  const std::vector<std::string> expectHeadings = {"第1章 <开始> & \"序\"", "第3章 夜",
                                                   "第4章 ' 单引号"};
  EXPECT_EQ(headings, expectHeadings);
  // Both tables of contents list the same chapters in the same order.
  EXPECT_EQ(AllMatches(a.files.at("OEBPS/nav.xhtml"), "<li><a href=\"[^\"]+\">([^<]*)</a></li>"),
            expectHeadings);
  EXPECT_EQ(AllMatches(a.files.at("OEBPS/toc.ncx"), "<navLabel><text>([^<]*)</text>"),
            expectHeadings);

  const std::string opf = a.files.at("OEBPS/content.opf");
  EXPECT_EQ(FirstMatch(opf, "<dc:title>([^<]*)</dc:title>"), bookTitle);
  EXPECT_EQ(FirstMatch(opf, "<dc:creator>([^<]*)</dc:creator>"), "张&三");
  EXPECT_EQ(FirstMatch(opf, "<dc:language>([^<]*)</dc:language>"), "zh-CN");
  const std::string id = FirstMatch(opf, "<dc:identifier id=\"bookid\">([^<]*)</dc:identifier>");
  EXPECT_EQ(id, qv::IdentifierForAddress("http://127.0.0.1:8080/book/1/"));
  EXPECT_TRUE(std::regex_match(FirstMatch(opf, "<meta property=\"dcterms:modified\">([^<]*)</meta>"),
                               std::regex("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ")));

  std::string report;
  EXPECT_TRUE(EpubCheckClean(epubPath, report)) << report;

  // Merged again: the same identifier, and no temporary file is left behind.
  Engine().MergeButtonHandler();
  EXPECT_EQ(FirstMatch(ReadArchive(epubPath).files.at("OEBPS/content.opf"),
                       "<dc:identifier id=\"bookid\">([^<]*)</dc:identifier>"),
            id);
  std::set<std::string> tree;
  for (const auto& e : fs::directory_iterator(".")) tree.insert(e.path().filename().string());
  EXPECT_EQ(tree.size(), 3u) << "the folder, the text book and the EPUB only";
}

// A book with no downloaded chapter is no book: neither format is written.
TEST_F(EpubTest, ABookWithoutChaptersIsNotWritten) {
  SetBook("空书", "");
  controls.SetChecked(Ctl::EpubCheck, true);
  controls.SetChecked(Ctl::TxtCheck, false);
  AddChapter("第1章", "<p>x</p>", false);
  EXPECT_FALSE(Engine().MergeBook());
  EXPECT_FALSE(qv::RegularFileExists(G("空书().txt")));
  EXPECT_FALSE(qv::RegularFileExists(G("空书().epub")));
}

TEST_F(EpubTest, OnlyTheChosenFormatsAreWrittenAndNoneChosenSaysSo) {
  SetBook("书", "某");
  AddChapter("章", "<p>文</p>");
  struct Case {
    bool txt, epub;
  };
  for (const Case c : {Case{true, false}, Case{false, true}, Case{true, true}}) {
    SCOPED_TRACE(std::to_string(c.txt) + std::to_string(c.epub));
    fs::remove(qv::FsPath(G("书(某).txt")));
    fs::remove(qv::FsPath(G("书(某).epub")));
    controls.SetChecked(Ctl::TxtCheck, c.txt);
    controls.SetChecked(Ctl::EpubCheck, c.epub);
    ASSERT_TRUE(Engine().MergeBook());
    EXPECT_EQ(qv::RegularFileExists(G("书(某).txt")), c.txt);
    EXPECT_EQ(qv::RegularFileExists(G("书(某).epub")), c.epub);
  }

  // Neither: nothing is written and the notice says that nothing was merged.
  fs::remove(qv::FsPath(G("书(某).txt")));
  fs::remove(qv::FsPath(G("书(某).epub")));
  controls.SetChecked(Ctl::TxtCheck, false);
  controls.SetChecked(Ctl::EpubCheck, false);
  Engine().MergeButtonHandler();
  EXPECT_FALSE(qv::RegularFileExists(G("书(某).txt")));
  EXPECT_FALSE(qv::RegularFileExists(G("书(某).epub")));
  EXPECT_EQ(controls.GetText(Ctl::StatusLabel), G("未选择生成TXT或生成EPUB，没有合并小说"));
  ASSERT_EQ(controls.Notices().size(), 1u);
  EXPECT_EQ(controls.Notices()[0].text, G("未选择生成TXT或生成EPUB，没有合并小说"));
  EXPECT_EQ(controls.Notices()[0].style, qv::NoticeStyle::kError);

  // The same after a finished run with auto-merge: no merge is claimed, the button is free.
  controls.SetEnabled(Ctl::MergeButton, false);
  Engine().FinishDownload(true);
  EXPECT_EQ(controls.GetText(Ctl::StatusLabel), G("未选择生成TXT或生成EPUB，没有合并小说"));
  ASSERT_EQ(controls.Notices().size(), 2u);
  EXPECT_EQ(controls.Notices()[1].text, G("未选择生成TXT或生成EPUB，没有合并小说"));
  EXPECT_TRUE(controls.IsEnabled(Ctl::MergeButton));
  EXPECT_FALSE(qv::RegularFileExists(G("书(某).txt")));
}

using qvtest::FileSizeLimit;

TEST_F(EpubTest, AFailedWriteKeepsTheOldEpubAndSaysWhy) {
  const fs::path path = "book.epub";
  auto chapterAt = [](size_t i) {
    qv::EpubChapter c{"第" + std::to_string(i + 1) + "章", {}};
    // Text that hardly compresses, so that the book is far larger than the limit below.
    unsigned x = static_cast<unsigned>(i) * 2654435761u + 1;
    for (int p = 0; p < 20; ++p) {
      std::string line;
      for (int k = 0; k < 60; ++k) {
        x = x * 1103515245u + 12345u;
        line += std::to_string(x >> 8);
      }
      c.paragraphs.push_back(line);
    }
    return c;
  };
  qv::EpubMetadata meta{"书", "某", qv::IdentifierForAddress("a"), ""};
  ASSERT_TRUE(qv::WriteEpub(path, meta, 1, chapterAt).ok);
  const std::string old = qv::ReadFileBytes("book.epub");
  ASSERT_LT(old.size(), 60000u);
  {
    FileSizeLimit limit(old.size() + 1000);
    const qv::EpubResult r = qv::WriteEpub(path, meta, 40, chapterAt);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.error.empty());
  }
  EXPECT_EQ(qv::ReadFileBytes("book.epub"), old);
  EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 1)
      << "no temporary file stays";

  // Through the merge: the text book is written, the EPUB is not, and the notice says why.
  SetBook("书", "某");
  controls.SetChecked(Ctl::EpubCheck, true);
  AddChapter("章", "<p>文</p>");
  fs::create_directory(qv::FsPath(G("书(某).epub")));  // a folder holds the EPUB's name
  Engine().MergeButtonHandler();
  EXPECT_TRUE(qv::RegularFileExists(G("书(某).txt")));
  EXPECT_EQ(controls.GetText(Ctl::StatusLabel), G("合并失败,请手动重新合并!"));
  ASSERT_EQ(controls.Notices().size(), 1u);
  const std::string notice = qv::GbkToUtf8(controls.Notices()[0].text);
  EXPECT_EQ(notice.rfind("合并失败,请手动重新合并\r\n生成EPUB失败：", 0), 0u) << notice;
  EXPECT_GT(notice.size(), std::string("合并失败,请手动重新合并\r\n生成EPUB失败：").size());
  EXPECT_EQ(controls.Notices()[0].style, qv::NoticeStyle::kError);
}

TEST(EpubChapterTest, AChapterFileBecomesHeadingAndParagraphs) {
  struct Case {
    const char* name;
    std::string file;  // UTF-8, converted to CP936 for the call
    std::string title;
    std::vector<std::string> paragraphs;
  };
  const Case cases[] = {
      {"title only", "第1章", "第1章", {}},
      {"empty file", "", "", {}},
      {"blank lines dropped, others kept as they are",
       "章 \r\n  一\r\n\r\n \t \r\n　　\r\n　　二\r\n", "章 ", {"  一", "　　二"}},
      {"bare line feeds", "章\n甲\n\n乙", "章", {"甲", "乙"}},
      {"control characters dropped", std::string("章\x01\r\n\x02甲\x1f\t乙"), "章",
       {"甲\t乙"}},
      {"markup stays text", "<b>&amp;</b>\r\n<p>", "<b>&amp;</b>", {"<p>"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const qv::EpubChapter got = qv::ChapterFromFile(G(c.file));
    EXPECT_EQ(got.title, c.title);
    EXPECT_EQ(got.paragraphs, c.paragraphs);
  }
  EXPECT_EQ(qv::XmlEscape("<a href=\"x\">'&'</a>"),
            "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;");
}

TEST(EpubChapterTest, TheIdentifierIsAStableUuidOfTheAddress) {
  const std::string a = qv::IdentifierForAddress("http://www.biquge.com/0_1/");
  EXPECT_EQ(a, qv::IdentifierForAddress("http://www.biquge.com/0_1/"));
  EXPECT_NE(a, qv::IdentifierForAddress("http://www.biquge.com/0_2/"));
  EXPECT_NE(qv::IdentifierForAddress(""), qv::IdentifierForAddress(" "));
  EXPECT_TRUE(std::regex_match(
      a, std::regex("urn:uuid:[0-9a-f]{8}-[0-9a-f]{4}-8[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")))
      << a;
}

}  // namespace
