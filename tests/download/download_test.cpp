// The HTTP download: chapter task, chapter files, merge, finish step, pause, stop, pool life.
#include <chrono>
#include <optional>
#include <thread>

#include "engine_fixture.h"
#include "file_size_limit.h"
#include "raw_servers.h"
#include "text/markers.h"
#include "web/http_fetch.h"

namespace qvtest {
namespace {

// A chapter page in the markup of one default rule. Texts in UTF-8.
struct Markup {
  const char* rule;
  const char* left;
  const char* right;
  const char* before;
  const char* after;
};

const Markup kLingdian = {"零点看书", "<div id=\"content\">", "</div>",
                          "<html><head><meta charset=\"gbk\"></head><body><h1>第1章</h1>"
                          "<div id=\"content\">",
                          "</div><div class=\"bottem\">上一章 下一章</div></body></html>"};
const Markup k58 = {"58看书", "<div id=\"content\" class=\"content\">", "</div>",
                    "<html><head><meta charset=\"utf-8\"></head><body>"
                    "<div id=\"content\" class=\"content\">",
                    "</div><div>推荐</div></body></html>"};
const Markup kYoudu = {"悠读文学", "<script>chap_1();</script></center>", "<center class=\"bad\"",
                       "<html><body><center><script>chap_1();</script></center>",
                       "<center class=\"bad\">广告</center></body></html>"};
const Markup kDingdian = {"顶点小说", "<dd id=\"contents\">", "</dd>",
                          "<dl><dt>第1章</dt><dd id=\"contents\">", "</dd></dl>"};

const char* kBody = "<p>第一段</p><p>第二段&hellip;&ldquo;好&rdquo;</p>";
// What the file holds for kBody under the title "第1章 开始".
const char* kChapterFile = "第1章 开始\r\n  第一段\r\n  第二段…“好”\r\n";

enum class Enc { Gbk, Utf8 };

std::string PageBytes(const Markup& m, Enc enc, const char* body = kBody) {
  const std::string utf8 = std::string(m.before) + body + m.after;
  return enc == Enc::Gbk ? qv::Utf8ToGbk(utf8) : utf8;
}

class DownloadTest : public EngineTest {
 protected:
  void UseMarkup(const Markup& m) { SetMarkers(G(m.left), G(m.right)); }

  // A page at /book/<n>.html and a checked row for it, with an absolute link.
  void AddPage(int n, PageReply reply, const char* title = "第1章 开始") {
    const std::string path = "/book/" + std::to_string(n) + ".html";
    site.Set(path, AnswersOf(reply));
    AddRow(G(title), site.Address(path));
  }

  std::vector<Text> History(int row) { return table.StatusHistory(row); }
  std::vector<Text> G_(std::initializer_list<const char*> list) {
    std::vector<Text> out;
    for (const char* s : list) out.push_back(G(s));
    return out;
  }

  // Unknown pages answer 404 with a text, as a site's error page does.
  void SetUp() override {
    EngineTest::SetUp();
    site.SetMissing({.body = "missing", .contentType = "text/plain", .status = 404});
  }

  TestSite site;
};

TEST_F(DownloadTest, PagesOfSeveralRulesEncodingsAndPackingAreSavedAsTheirChapterFile) {
  struct Case {
    const Markup* markup;
    Enc enc;
    bool gzip;
  };
  const Case cases[] = {
      {&kLingdian, Enc::Gbk, false}, {&k58, Enc::Utf8, false},  {&kYoudu, Enc::Utf8, true},
      {&kDingdian, Enc::Gbk, true},  {&kLingdian, Enc::Utf8, true},
  };
  controls.SetChecked(Ctl::MergeCheck, false);
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.markup->rule) + (c.enc == Enc::Gbk ? " gbk" : " utf8") +
                 (c.gzip ? " gzip" : ""));
    table.DeleteAllRows();
    controls.SetText(Ctl::TitleLabel, G("书") + qv::Decimal(++n));
    UseMarkup(*c.markup);
    AddPage(n, {.body = PageBytes(*c.markup, c.enc), .gzip = c.gzip});
    Engine().StartDownload();

    EXPECT_EQ(History(0), G_({"等待下载", "正在下载", "下载完毕"}));
    EXPECT_EQ(FileUtf8(G("书") + qv::Decimal(n) + "/1.txt"), kChapterFile);
    EXPECT_EQ(table.CheckState(0), 0);
    EXPECT_FALSE(table.IsHighlighted(0));
    EXPECT_EQ(table.LastScrolledRow(), 0);
    EXPECT_EQ(controls.Progress(), std::make_pair(1, 1));
  }
  // Each run counted from 1 again.
  const auto labels = controls.TextHistory(Ctl::StatusLabel);
  EXPECT_EQ(std::count(labels.begin(), labels.end(),
                       G("1个章节内容已下载，请等候章节内容下载完毕...")),
            static_cast<long>(std::size(cases)));
}

TEST_F(DownloadTest, EmptyAnswersAreRetriedUpToThreeAttemptsThenGivenUp) {
  UseMarkup(kLingdian);
  AddPage(1, {.body = PageBytes(kLingdian, Enc::Gbk), .emptyFirst = 2});
  AddPage(2, {.body = PageBytes(kLingdian, Enc::Gbk), .emptyFirst = 3});
  AddRow(G("第3章"), "http://127.0.0.1:1/closed.html");  // nobody listens there
  Engine().StartDownload();

  EXPECT_EQ(History(0), G_({"等待下载", "正在下载", "重试下载2", "重试下载3", "下载完毕"}));
  EXPECT_EQ(site.Requests("/book/1.html"), 3);
  EXPECT_EQ(FileUtf8(G("天玄记/1.txt")), kChapterFile);

  const char* reasons[] = {"", "失败3次：页面为空", "失败3次：无法连接"};
  for (int row : {1, 2}) {
    SCOPED_TRACE(row);
    EXPECT_EQ(History(row), G_({"等待下载", "正在下载", "重试下载2", "重试下载3", reasons[row]}));
    EXPECT_EQ(table.CheckState(row), 1);
    EXPECT_TRUE(table.IsHighlighted(row));
    EXPECT_FALSE(qv::RegularFileExists(Engine().ChapterFilePath(row)));
  }
  EXPECT_EQ(site.Requests("/book/2.html"), 3);
  EXPECT_EQ(qv::TheDownloadState().failedCount->Get(), 2);
  EXPECT_EQ(controls.Progress(), std::make_pair(3, 3));
  // Auto-merge is on, but chapters failed: no merge.
  EXPECT_EQ(controls.GetText(Ctl::StatusLabel),
            G("有2个章节的内容下载失败，请点击继续下载，或直接手动合并小说"));
  EXPECT_FALSE(qv::RegularFileExists(Engine().BookFilePath()));
}

// Each kind of answer that is no chapter is retried and then given up with its reason: not
// saved, still checked, counted as failed; an earlier file of the chapter stays as it was.
TEST_F(DownloadTest, AnswersThatAreNoChapterAreGivenUpWithTheirReason) {
  UseMarkup(kLingdian);
  const std::string page = PageBytes(kLingdian, Enc::Gbk);
  const std::string noLeft = qv::Utf8ToGbk("<html><body>访问过于频繁，请稍后再试</body></html>");
  const std::string noRight =
      qv::Utf8ToGbk("<html><body><div id=\"content\"><p>第一段</p></body></html>");
  const std::string blank = PageBytes(kLingdian, Enc::Gbk, "&nbsp;<br /><br />");
  site.Serve("/gone.html", SiteAnswer{.status = 404});
  site.Set("/moved.html", {SiteAnswer{.status = 302, .headers = {{"Location", "/gone.html"}}}});
  struct Case {
    const char* name;
    std::vector<SiteAnswer> answers;  // empty: the address below is used as it is
    std::string address;
    const char* status;  // UTF-8
  };
  const std::string closed = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/c.html";
  const std::vector<Case> cases = {
      {"200 with text", {{.body = page}}, "", "下载完毕"},
      {"200 empty", {{.body = ""}}, "", "失败3次：页面为空"},
      {"200 without left marker", {{.body = noLeft}}, "", "失败3次：未找到正文"},
      {"200 without right marker", {{.body = noRight}}, "", "失败3次：未找到正文"},
      {"200 blank body", {{.body = blank}}, "", "失败3次：未找到正文"},
      {"404", {{.body = "<h1>404 Not Found</h1>", .status = 404}}, "", "失败3次：HTTP 404"},
      {"429", {{.body = noLeft, .status = 429}}, "", "失败3次：HTTP 429"},
      {"500", {{.body = page, .status = 500}}, "", "失败3次：HTTP 500"},
      {"503", {{.body = "busy", .status = 503}}, "", "失败3次：HTTP 503"},
      {"closed port", {}, closed, "失败3次：无法连接"},
      {"time-out", {{.body = page, .delayMs = 2000}}, "", "失败3次：连接超时"},
      {"redirect to a 404", {}, site.Address("/moved.html"), "失败3次：HTTP 404"},
      {"503 then text", {{.body = "busy", .status = 503}, {.body = page}}, "", "下载完毕"},
  };
  qv::SetFetchTotalTimeoutForTesting(300);
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    std::string address = c.address;
    if (address.empty()) {
      const std::string path = "/case/" + std::to_string(i) + ".html";
      site.Set(path, c.answers);
      address = site.Address(path);
    }
    table.DeleteAllRows();
    AddRow(G("第1章 开始"), address);
    const bool saved = std::string(c.status) == "下载完毕";
    // A file left by an earlier run: kept when the chapter is given up.
    fs::create_directories(qv::FsPath(G("天玄记")));
    ASSERT_TRUE(qv::WriteFileBytes(G("天玄记/1.txt"), "EARLIER"));
    fs::remove(qv::FsPath(G("天玄记(张三).txt")));
    controls.SetChecked(Ctl::MergeCheck, true);  // a run with failures unchecks it
    Engine().StartDownload();
    EXPECT_EQ(History(0).back(), G(c.status));
    EXPECT_EQ(table.CheckState(0), saved ? 0 : 1);
    EXPECT_EQ(FileUtf8(G("天玄记/1.txt")), saved ? kChapterFile : "EARLIER");
    EXPECT_EQ(qv::TheDownloadState().failedCount->Get(), saved ? 0 : 1);
    // Auto-merge is on: only a run without failure makes a book.
    EXPECT_EQ(qv::RegularFileExists(G("天玄记(张三).txt")), saved);
  }
  qv::SetFetchTotalTimeoutForTesting(0);
}

TEST_F(DownloadTest, TheLinkIsTheBaseAddressFollowedByTheRowsLink) {
  UseMarkup(kLingdian);
  site.Serve("/book/7.html", PageBytes(kLingdian, Enc::Gbk));
  site.Serve("/dir/8.html", PageBytes(kLingdian, Enc::Gbk));
  // Empty base address: the row's link is used exactly as it stands.
  AddRow(G("第1章 开始"), site.Address("/book/7.html"));
  Engine().StartDownload();
  EXPECT_EQ(site.Requests("/book/7.html"), 1);
  EXPECT_EQ(History(0).back(), G("下载完毕"));

  // A base address is put directly in front of the link, no separator added.
  controls.SetText(Ctl::BaseAddressBox, site.Address("/di"));
  AddRow(G("第1章 开始"), "r/8.html");
  Engine().StartDownload();
  EXPECT_EQ(site.Requests("/dir/8.html"), 1);
  EXPECT_EQ(History(1).back(), G("下载完毕"));
  EXPECT_EQ(site.Requests("/book/7.html"), 1);  // row 0 was unchecked by its save
}

TEST_F(DownloadTest, ChapterFilesAreNamedByTablePosition) {
  UseMarkup(kLingdian);
  controls.SetChecked(Ctl::MergeCheck, false);
  AddPage(1, {.body = PageBytes(kLingdian, Enc::Gbk, "<p>一</p>")}, "甲");
  AddPage(2, {.body = PageBytes(kLingdian, Enc::Gbk, "<p>二</p>")}, "乙");
  AddPage(3, {.body = "", .emptyFirst = 99}, "丙");
  AddPage(4, {.body = PageBytes(kLingdian, Enc::Gbk, "<p>四</p>")}, "丁");
  table.SetCheckState(1, qv::kUnchecked);
  Engine().StartDownload();

  EXPECT_EQ(TreeOf("."), (std::set<std::string>{"天玄记", "天玄记/1.txt", "天玄记/4.txt"}));
  EXPECT_EQ(FileUtf8(G("天玄记/1.txt")), "甲\r\n  一\r\n");
  EXPECT_EQ(FileUtf8(G("天玄记/4.txt")), "丁\r\n  四\r\n");
  EXPECT_EQ(site.Requests("/book/2.html"), 0);
  EXPECT_EQ(History(1), G_({"等待下载"}));
  EXPECT_EQ(controls.Progress(), std::make_pair(3, 3));
}

TEST_F(DownloadTest, MergeJoinsTheDownloadedRowsWithSeparators) {
  struct Row {
    const char* status;
    const char* file;  // nullptr: no file
  };
  struct Case {
    const char* name;
    std::vector<Row> rows;
    std::string book;
  };
  const Case cases[] = {
      {"last row downloaded",
       {{"下载完毕", "A"}, {"下载完毕", "B"}, {"下载完毕", "C"}},
       "A\r\n\r\nB\r\n\r\nC"},
      {"last row not downloaded",
       {{"下载完毕", "A"}, {"下载完毕", "B"}, {"失败3次", "C"}},
       "A\r\n\r\nB\r\n\r\n"},
      {"deleted chapter file", {{"下载完毕", "A"}, {"下载完毕", nullptr}, {"下载完毕", "C"}},
       "A\r\n\r\n\r\n\r\nC"},
      {"other statuses skipped",
       {{"下载完毕", "A"},
        {"等待下载", "x"},
        {"正在下载", "x"},
        {"重试下载2", "x"},
        {"保存失败", "x"},
        {"下载完毕 ", "x"},
        {"下载完毕", "G"}},
       "A\r\n\r\nG"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    table.DeleteAllRows();
    fs::remove_all(qv::FsPath(G("天玄记")));
    fs::create_directory(qv::FsPath(G("天玄记")));
    for (size_t i = 0; i < c.rows.size(); ++i) {
      AddRow(G("章"), "x", 0);
      table.SetCellText(static_cast<int>(i), qv::kColStatus, G(c.rows[i].status));
      if (c.rows[i].file) {
        ASSERT_TRUE(qv::WriteFileBytes(Engine().ChapterFilePath(static_cast<int>(i)),
                                       c.rows[i].file));
      }
    }
    ASSERT_TRUE(Engine().MergeBook());
    EXPECT_EQ(qv::ReadFileBytes(G("天玄记(张三).txt")), c.book);
    // Merging again rewrites the same bytes.
    ASSERT_TRUE(Engine().MergeBook());
    EXPECT_EQ(qv::ReadFileBytes(G("天玄记(张三).txt")), c.book);
  }
  // The book lies beside the folder, named in UTF-8 on disk; no temporary file stays.
  fs::remove_all(qv::FsPath(G("天玄记")));
  fs::create_directory(qv::FsPath(G("天玄记")));
  EXPECT_TRUE(fs::is_regular_file(fs::u8path("天玄记(张三).txt")));
  EXPECT_EQ(TreeOf("."), (std::set<std::string>{"天玄记", "天玄记(张三).txt"}));
}

// Without a saved chapter no book is written, not even an empty one, and the merge says so.
TEST_F(DownloadTest, AMergeWithoutASavedChapterWritesNoBook) {
  fs::create_directory(fs::u8path("天玄记"));
  for (bool withRows : {false, true}) {
    SCOPED_TRACE(withRows ? "nothing downloaded" : "no rows");
    table.DeleteAllRows();
    if (withRows) {
      AddRow(G("章"), "x", 1);
      AddRow(G("章"), "y", 1);
      table.SetCellText(1, qv::kColStatus, G("失败3次：HTTP 404"));
      ASSERT_TRUE(qv::WriteFileBytes(Engine().ChapterFilePath(1), "B"));
    }
    EXPECT_FALSE(Engine().MergeBook());
    EXPECT_FALSE(fs::exists(fs::u8path("天玄记(张三).txt")));
    controls.SetEnabled(Ctl::MergeButton, true);
    Engine().MergeButtonHandler();
    EXPECT_FALSE(fs::exists(fs::u8path("天玄记(张三).txt")));
    ASSERT_FALSE(controls.Notices().empty());
    EXPECT_EQ(controls.Notices().back().text,
              G("合并失败,请手动重新合并\r\n没有已下载的章节，没有合并小说"));
    EXPECT_NE(controls.GetText(Ctl::StatusLabel), G("整本小说下载完毕"));
  }
  // A book with chapters still to download is merged but not announced as the whole book.
  table.SetCellText(0, qv::kColStatus, G("下载完毕"));
  table.SetCheckState(0, qv::kUnchecked);
  ASSERT_TRUE(qv::WriteFileBytes(Engine().ChapterFilePath(0), "A"));
  Engine().MergeButtonHandler();
  EXPECT_EQ(qv::ReadFileBytes(G("天玄记(张三).txt")), "A\r\n\r\n");
  EXPECT_EQ(controls.GetText(Ctl::StatusLabel), G("小说已合并，但有1个章节未下载"));
  EXPECT_EQ(controls.Notices().back().text, G("小说已合并，但有1个章节未下载"));
}

// A download without a checked row makes no folder and no book.
TEST_F(DownloadTest, ADownloadWithoutACheckedRowDoesNothingAndSaysSo) {
  AddRow(G("章"), site.Address("/book/1.html"), 0);
  Engine().StartDownload();
  EXPECT_EQ(TreeOf("."), (std::set<std::string>{}));
  EXPECT_EQ(site.TotalRequests(), 0);
  EXPECT_EQ(controls.GetText(Ctl::StatusLabel), G("没有需要下载的章节"));
  ASSERT_EQ(controls.Notices().size(), 1u);
  EXPECT_EQ(controls.Notices()[0].text, G("没有需要下载的章节"));
  EXPECT_TRUE(controls.IsEnabled(Ctl::DownloadButton));
}

TEST_F(DownloadTest, AFailedMergeKeepsThePreviousBookAndSaysSo) {
  fs::create_directory(fs::u8path("天玄记"));
  AddRow(G("章"), "x", 0);
  table.SetCellText(0, qv::kColStatus, G("下载完毕"));
  ASSERT_TRUE(qv::WriteFileBytes(G("天玄记/1.txt"), "NEW"));
  ASSERT_TRUE(qv::WriteFileBytes(G("天玄记(张三).txt"), "OLD BOOK"));
  // The disk takes no more than two bytes of the new book.
  auto full = std::make_unique<FileSizeLimit>(2);

  Engine().MergeButtonHandler();
  EXPECT_EQ(qv::ReadFileBytes(G("天玄记(张三).txt")), "OLD BOOK");
  EXPECT_EQ(controls.GetText(Ctl::StatusLabel), G("合并失败,请手动重新合并!"));
  ASSERT_EQ(controls.Notices().size(), 1u);
  EXPECT_EQ(controls.Notices()[0].title, G("提示"));
  EXPECT_EQ(controls.Notices()[0].text, G("合并失败,请手动重新合并"));
  EXPECT_EQ(controls.Notices()[0].timeoutMs, 0);
  EXPECT_EQ(controls.Notices()[0].style, qv::NoticeStyle::kError);
  EXPECT_TRUE(controls.IsEnabled(Ctl::MergeButton));

  // A download without a checked row does nothing and says so: no finish step, no merge.
  controls.SetChecked(Ctl::MergeCheck, true);
  Engine().StartDownload();
  EXPECT_EQ(controls.GetText(Ctl::StatusLabel), G("没有需要下载的章节"));
  ASSERT_EQ(controls.Notices().size(), 2u);
  EXPECT_EQ(controls.Notices()[1].text, G("没有需要下载的章节"));
  EXPECT_TRUE(controls.IsChecked(Ctl::MergeCheck));
  // The automatic merge at the end of a run reports it the same way.
  Engine().FinishDownload(true);
  EXPECT_EQ(qv::ReadFileBytes(G("天玄记(张三).txt")), "OLD BOOK");
  EXPECT_EQ(controls.GetText(Ctl::StatusLabel), G("合并失败,请手动重新合并!"));
  EXPECT_FALSE(controls.IsChecked(Ctl::MergeCheck));
  EXPECT_TRUE(controls.IsEnabled(Ctl::MergeButton));
  ASSERT_EQ(controls.Notices().size(), 3u);
  EXPECT_EQ(controls.Notices()[2].style, qv::NoticeStyle::kError);

  full.reset();
  EXPECT_EQ(TreeOf("."), (std::set<std::string>{"天玄记", "天玄记/1.txt", "天玄记(张三).txt"}));
  controls.SetEnabled(Ctl::MergeButton, false);
  Engine().MergeButtonHandler();
  EXPECT_EQ(qv::ReadFileBytes(G("天玄记(张三).txt")), "NEW");
  EXPECT_EQ(controls.GetText(Ctl::StatusLabel), G("整本小说下载完毕"));
  ASSERT_EQ(controls.Notices().size(), 4u);
  EXPECT_EQ(controls.Notices()[3].text, G("整本小说下载完毕"));
  EXPECT_EQ(controls.Notices()[3].timeoutMs, 0);
  EXPECT_EQ(controls.Notices()[3].style, qv::NoticeStyle::kInfo);
  EXPECT_TRUE(controls.IsEnabled(Ctl::MergeButton));
}

TEST_F(DownloadTest, HostileTitlesStayInsideTheDirectoryAndEveryPathAgrees) {
  struct Case {
    Text title;
    std::string folder;  // UTF-8 name on disk
  };
  const Case cases[] = {
      {"../../x", ".._.._x"},
      {"a/b", "a_b"},
      {"..", "_"},
      {".", "_"},
      {"?", "_"},
      {"a\x01" "b", "a_b"},
      {"", "_"},
      {"C:\\x*<>|\"", "C__x_____"},
      {"\x81/etc", "__etc"},  // a lead byte must not swallow the separator
      {G("天玄记"), "天玄记"},
  };
  UseMarkup(kLingdian);
  site.Serve("/book/1.html", PageBytes(kLingdian, Enc::Gbk));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    for (const auto& e : fs::directory_iterator(".")) fs::remove_all(e.path());
    table.DeleteAllRows();
    AddRow(G("第1章 开始"), site.Address("/book/1.html"));
    controls.SetText(Ctl::TitleLabel, c.title);
    controls.SetText(Ctl::AuthorLabel, "../y");
    Engine().StartDownload();

    const std::string book = c.folder + "(.._y).txt";
    EXPECT_EQ(TreeOf(sandbox_), (std::set<std::string>{"a", "a/b", "a/b/" + c.folder,
                                                       "a/b/" + c.folder + "/1.txt",
                                                       "a/b/" + book}));
    EXPECT_EQ(qv::GbkToUtf8(Engine().ChapterFilePath(0)), c.folder + "/1.txt");
    EXPECT_EQ(qv::GbkToUtf8(Engine().BookFilePath()), book);
    EXPECT_EQ(FileUtf8(Engine().BookFilePath()), kChapterFile);
    const size_t opened = controls.OpenedFiles().size();
    Engine().OpenChapterFile(100, 5);
    ASSERT_EQ(controls.OpenedFiles().size(), opened + 1);
    EXPECT_EQ(controls.OpenedFiles().back(), Engine().ChapterFilePath(0));
  }
}

TEST_F(DownloadTest, AChapterFileThatCannotBeWrittenIsAFailureNotASave) {
  UseMarkup(kLingdian);
  AddPage(1, {.body = PageBytes(kLingdian, Enc::Gbk)});
  AddPage(2, {.body = PageBytes(kLingdian, Enc::Gbk)});
  fs::create_directories(fs::u8path("天玄记/1.txt"));  // a folder holds the file's name
  Engine().StartDownload();

  EXPECT_EQ(History(0), G_({"等待下载", "正在下载", "保存失败"}));
  EXPECT_EQ(table.CheckState(0), 1);
  EXPECT_EQ(History(1).back(), G("下载完毕"));
  EXPECT_EQ(qv::TheDownloadState().failedCount->Get(), 1);
  EXPECT_EQ(qv::TheDownloadState().savedCount, 1);
  EXPECT_EQ(controls.Progress(), std::make_pair(2, 2));
  EXPECT_EQ(controls.GetText(Ctl::StatusLabel),
            G("有1个章节的内容下载失败，请点击继续下载，或直接手动合并小说"));
  EXPECT_FALSE(controls.IsChecked(Ctl::MergeCheck));
  EXPECT_TRUE(controls.IsEnabled(Ctl::MergeButton));
  EXPECT_TRUE(controls.Notices().empty());
  EXPECT_FALSE(qv::RegularFileExists(Engine().BookFilePath()));
}

TEST_F(DownloadTest, AChapterPageBeyond16MiBIsRefusedWithItsReason) {
  UseMarkup(kLingdian);
  const std::string padding((16 << 20) - 4096, ' ');
  const std::string big = PageBytes(kLingdian, Enc::Gbk) + std::string((16 << 20) + 1, ' ');
  AddPage(1, {.body = big});
  AddPage(2, {.body = PageBytes(kLingdian, Enc::Gbk) + padding});  // just below the limit
  Engine().StartDownload();

  EXPECT_EQ(History(0), G_({"等待下载", "正在下载", "页面超过16MB"}));
  EXPECT_EQ(site.Requests("/book/1.html"), 1);  // not fetched again
  EXPECT_EQ(table.CheckState(0), 1);
  EXPECT_FALSE(qv::RegularFileExists(Engine().ChapterFilePath(0)));
  EXPECT_EQ(History(1).back(), G("下载完毕"));
  EXPECT_EQ(qv::TheDownloadState().failedCount->Get(), 1);
  EXPECT_EQ(qv::TheDownloadState().savedCount, 1);
}

TEST_F(DownloadTest, FinishStepWithAndWithoutAutoMerge) {
  UseMarkup(kLingdian);
  for (int n = 1; n <= 4; ++n) {
    AddPage(n, {.body = PageBytes(kLingdian, Enc::Gbk, "<p>正文</p>")}, "章");
  }
  // The run's controls, looked at while it works.
  std::optional<std::vector<bool>> during;
  const std::vector<Ctl> runOff = {Ctl::DownloadButton, Ctl::RuleWindow,
                                   Ctl::CaptureCheck,   Ctl::FetchButton,
                                   Ctl::DeleteSelectedButton, Ctl::MoveUpButton,
                                   Ctl::MoveDownButton};
  auto states = [&] {
    std::vector<bool> v;
    for (Ctl c : runOff) v.push_back(controls.IsEnabled(c));
    v.push_back(controls.IsEnabled(Ctl::PauseButton));
    v.push_back(controls.IsEnabled(Ctl::StopButton));
    return v;
  };
  OnPump([&] {
    if (!during) during = states();
  });
  Engine().StartDownload();
  std::vector<bool> expectDuring(runOff.size(), false);
  expectDuring.insert(expectDuring.end(), {true, true});
  ASSERT_TRUE(during.has_value());
  EXPECT_EQ(*during, expectDuring);
  std::vector<bool> expectAfter(runOff.size(), true);
  expectAfter.insert(expectAfter.end(), {false, false});
  EXPECT_EQ(states(), expectAfter);

  // Auto-merge, nothing failed: merged and announced.
  const auto labels = controls.TextHistory(Ctl::StatusLabel);
  ASSERT_GE(labels.size(), 3u);
  EXPECT_EQ(labels.front(), G("正在下载小说章节内容，请等候..."));
  EXPECT_EQ(labels[labels.size() - 2], G("章节内容已下载完毕，正在合并小说中..."));
  EXPECT_EQ(labels.back(), G("整本小说下载完毕"));
  ASSERT_EQ(controls.Notices().size(), 1u);
  EXPECT_EQ(controls.Notices()[0].title, G("提示"));
  EXPECT_EQ(controls.Notices()[0].text, G("整本小说下载完毕"));
  EXPECT_EQ(controls.Notices()[0].timeoutMs, 0);
  EXPECT_EQ(controls.Notices()[0].style, qv::NoticeStyle::kInfo);
  EXPECT_EQ(FileUtf8(G("天玄记(张三).txt")),
            "章\r\n  正文\r\n\r\n\r\n章\r\n  正文\r\n\r\n\r\n章\r\n  正文\r\n\r\n\r\n章\r\n  正文\r\n");
  EXPECT_TRUE(controls.IsChecked(Ctl::MergeCheck));
  EXPECT_TRUE(controls.IsEnabled(Ctl::MergeCheck));
  EXPECT_FALSE(controls.IsEnabled(Ctl::MergeButton));

  // Auto-merge, three failures: no merge, no notice, the box unchecked, the button enabled.
  fs::remove(fs::u8path("天玄记(张三).txt"));
  for (int n = 5; n <= 7; ++n) AddPage(n, {.body = "", .emptyFirst = 99}, "章");
  table.SetCheckState(0, qv::kChecked);
  Engine().StartDownload();
  EXPECT_EQ(controls.GetText(Ctl::StatusLabel),
            G("有3个章节的内容下载失败，请点击继续下载，或直接手动合并小说"));
  EXPECT_EQ(controls.Notices().size(), 1u);
  EXPECT_FALSE(controls.IsChecked(Ctl::MergeCheck));
  EXPECT_TRUE(controls.IsEnabled(Ctl::MergeButton));
  EXPECT_TRUE(controls.IsEnabled(Ctl::MergeCheck));
  EXPECT_FALSE(qv::RegularFileExists(G("天玄记(张三).txt")));

  // No auto-merge: the count (0 too) and a notice that the chapters are done.
  for (int row = 4; row <= 6; ++row) table.SetCheckState(row, qv::kUnchecked);
  table.SetCheckState(1, qv::kChecked);
  Engine().StartDownload();
  EXPECT_EQ(controls.GetText(Ctl::StatusLabel),
            G("有0个章节的内容下载失败，请点击继续下载，或直接手动合并小说"));
  ASSERT_EQ(controls.Notices().size(), 2u);
  EXPECT_EQ(controls.Notices()[1].title, G("提示"));
  EXPECT_EQ(controls.Notices()[1].text, G("章节内容已下载完毕"));
  EXPECT_EQ(controls.Notices()[1].timeoutMs, 0);
  EXPECT_EQ(controls.Notices()[1].style, qv::NoticeStyle::kInfo);
  EXPECT_FALSE(qv::RegularFileExists(G("天玄记(张三).txt")));
}

// Forty slow chapters: more than the pool's twenty workers can take at once.
class SlowSiteTest : public DownloadTest {
 protected:
  void AddSlowRows(int n, int delayMs) {
    UseMarkup(kLingdian);
    for (int i = 1; i <= n; ++i) {
      AddPage(i, {.body = PageBytes(kLingdian, Enc::Gbk), .delayMs = delayMs});
    }
  }
  std::string PathOf(int row) { return "/book/" + std::to_string(row + 1) + ".html"; }
  // Every row is saved and was fetched once, or untouched and never fetched.
  void ExpectSavedOrUntouched(int& saved, int& untouched) {
    saved = untouched = 0;
    for (int r = 0; r < table.RowCount(); ++r) {
      SCOPED_TRACE(r);
      if (Status(r) == G("下载完毕")) {
        ++saved;
        EXPECT_EQ(site.Requests(PathOf(r)), 1);
      } else {
        ++untouched;
        EXPECT_EQ(History(r), G_({"等待下载"}));
        EXPECT_EQ(site.Requests(PathOf(r)), 0);
        EXPECT_EQ(table.CheckState(r), 1);
      }
    }
  }
};

TEST_F(SlowSiteTest, PauseHoldsTheQueueAndResumeGoesOn) {
  AddSlowRows(40, 100);
  int pumps = 0;
  int atPause = -1;
  // One pump per submitted row, then one per wait slice.
  OnPump([&] {
    ++pumps;
    if (pumps == 1) {
      Engine().TogglePause();
    } else if (pumps == 60) {
      atPause = site.TotalRequests();
    } else if (pumps == 90) {
      EXPECT_EQ(site.TotalRequests(), atPause);  // nothing new started while paused
      EXPECT_FALSE(qv::DownloadPool().IsIdle());
      Engine().TogglePause();
    }
  });
  Engine().StartDownload();
  EXPECT_EQ(controls.TextHistory(Ctl::PauseButton), G_({"暂停", "继续", "暂停"}));
  EXPECT_LT(atPause, 40);
  int saved = 0, untouched = 0;
  ExpectSavedOrUntouched(saved, untouched);
  EXPECT_EQ(saved, 40);
}

TEST_F(SlowSiteTest, StopDropsTheQueueLetsRunningChaptersFinishAndSkipsTheFinishStep) {
  AddSlowRows(40, 300);
  bool stopped = false;
  OnPump([&] {
    if (!stopped && table.CellText(39, qv::kColStatus) == G("等待下载") &&
        qv::DownloadPool().BusyCount() > 0 && qv::DownloadPool().QueuedCount() > 0) {
      stopped = true;
      Engine().TogglePause();  // a paused pool stops as well; the caption comes back
      Engine().StopDownload();
    }
  });
  Engine().StartDownload();
  ASSERT_TRUE(stopped);
  int saved = 0, untouched = 0;
  ExpectSavedOrUntouched(saved, untouched);
  EXPECT_GT(saved, 0);
  EXPECT_GT(untouched, 0);
  EXPECT_EQ(qv::TheDownloadState().savedCount, saved);
  EXPECT_TRUE(controls.Notices().empty());
  // At once "stopping", at the end "stopped" with the counts; never the running text again.
  const auto labels = controls.TextHistory(Ctl::StatusLabel);
  const auto stopping = std::find_if(labels.begin(), labels.end(), [](const Text& l) {
    return l.starts_with(G("正在停止，等待 "));
  });
  ASSERT_NE(stopping, labels.end());
  for (auto it = stopping + 1; it != labels.end(); ++it) {
    EXPECT_EQ(it->find(G("请等候")), Text::npos);
  }
  EXPECT_EQ(controls.GetText(Ctl::StatusLabel),
            G("已停止：已下载 ") + qv::Decimal(saved) + G(" 个章节，失败 0 个"));
  EXPECT_EQ(controls.GetText(Ctl::PauseButton), G("暂停"));
  EXPECT_TRUE(controls.IsEnabled(Ctl::DownloadButton));
  EXPECT_FALSE(controls.IsEnabled(Ctl::PauseButton));
  EXPECT_FALSE(controls.IsEnabled(Ctl::StopButton));
  EXPECT_FALSE(qv::DownloadPool().IsRunning());
  EXPECT_FALSE(qv::RegularFileExists(Engine().BookFilePath()));

  // The next run starts the pool anew and fetches exactly the rows still checked.
  controls.SetPumpHook({});
  Engine().StartDownload();
  for (int r = 0; r < 40; ++r) {
    EXPECT_EQ(site.Requests(PathOf(r)), 1) << r;
    EXPECT_EQ(Status(r), G("下载完毕")) << r;
  }
  EXPECT_EQ(controls.Progress(), std::make_pair(untouched, untouched));
  EXPECT_TRUE(qv::DownloadPool().IsRunning());
  EXPECT_EQ(controls.Notices().size(), 1u);  // merged this time

  // After a completed run the pool still runs, and the next run uses it as it is.
  const int32_t workers = qv::DownloadPool().ThreadCount();
  EXPECT_GT(workers, 0);
  table.SetCheckState(0, qv::kChecked);
  Engine().StartDownload();
  EXPECT_EQ(site.Requests(PathOf(0)), 2);
  EXPECT_TRUE(qv::DownloadPool().IsRunning());
  EXPECT_EQ(controls.Progress(), std::make_pair(1, 1));
}

TEST_F(SlowSiteTest, ClosingTheWindowDropsTheQueueAndWaitsForRunningChapters) {
  // With no run since start the pool is stopped and nothing is waited for.
  Engine();
  const long pumpsBefore = controls.PumpCount();
  qv::StopPoolOnClose(controls);
  EXPECT_EQ(controls.PumpCount(), pumpsBefore);

  AddSlowRows(40, 300);
  bool closed = false;
  int running = 0;
  OnPump([&] {
    if (!closed && qv::DownloadPool().BusyCount() > 0) {
      closed = true;
      Engine().StopPoolOnClose();
      // Back from it: nothing runs any more, and every chapter that ran was saved.
      EXPECT_TRUE(qv::DownloadPool().IsIdle());
      for (int r = 0; r < 40; ++r) {
        const Text s = Status(r);
        EXPECT_TRUE(s == G("下载完毕") || s == G("等待下载")) << r;
        running += s == G("下载完毕") ? 1 : 0;
      }
    }
  });
  Engine().StartDownload();
  ASSERT_TRUE(closed);
  int saved = 0, untouched = 0;
  ExpectSavedOrUntouched(saved, untouched);
  EXPECT_EQ(saved, running);
  EXPECT_GT(untouched, 0);
  EXPECT_TRUE(controls.Notices().empty());  // no finish step
}

// Typing another address during a run shows another site's rule: other markers, another base
// address, another page-capture flag. The run goes on with the rule it started with: every
// chapter is fetched from its own address and cut with the first site's markers.
TEST_F(DownloadTest, ARunKeepsTheRuleItStartedWithWhenAnotherRuleIsShown) {
  UseMarkup(kLingdian);
  controls.SetChecked(Ctl::MergeCheck, false);
  const char* bodies[] = {"<p>一</p>", "<p>二</p>", "<p>三</p>", "<p>四</p>"};
  const char* titles[] = {"甲", "乙", "丙", "丁"};
  for (int i = 0; i < 4; ++i) {
    AddPage(i + 1, {.body = PageBytes(kLingdian, Enc::Gbk, bodies[i]), .delayMs = 40},
            titles[i]);
  }
  bool switched = false;
  OnPump([&] {
    if (switched) return;
    switched = true;  // right after the first chapter was queued
    UseMarkup(kDingdian);
    controls.SetText(Ctl::BaseAddressBox, "http://127.0.0.1:1/");
    controls.SetChecked(Ctl::CaptureCheck, true);
  });
  Engine().StartDownload();
  ASSERT_TRUE(switched);
  const char* expected[] = {"甲\r\n  一\r\n", "乙\r\n  二\r\n", "丙\r\n  三\r\n", "丁\r\n  四\r\n"};
  for (int r = 0; r < 4; ++r) {
    SCOPED_TRACE(r);
    EXPECT_EQ(Status(r), G("下载完毕"));
    EXPECT_EQ(site.Requests("/book/" + std::to_string(r + 1) + ".html"), 1);
    EXPECT_EQ(FileUtf8(Engine().ChapterFilePath(r)), expected[r]);
  }
  ASSERT_EQ(controls.Notices().size(), 1u);
  EXPECT_EQ(controls.Notices()[0].text, G("章节内容已下载完毕"));
}

// The pause and stop buttons act on the mode the run started in, whatever the check box shows
// by now: a stop still drops the queued chapters of an HTTP run.
TEST_F(SlowSiteTest, StopActsOnTheRunsModeWhenAnotherRuleIsShown) {
  AddSlowRows(40, 300);
  bool stopped = false;
  OnPump([&] {
    if (!stopped && qv::DownloadPool().BusyCount() > 0 && qv::DownloadPool().QueuedCount() > 0) {
      stopped = true;
      controls.SetChecked(Ctl::CaptureCheck, true);  // the rule of a page-capture site shows
      Engine().TogglePause();
      EXPECT_EQ(qv::TheDownloadState().pauseRequested, 0);
      Engine().TogglePause();
      Engine().StopDownload();
    }
  });
  Engine().StartDownload();
  ASSERT_TRUE(stopped);
  int saved = 0, untouched = 0;
  ExpectSavedOrUntouched(saved, untouched);
  EXPECT_GT(untouched, 0);
  EXPECT_FALSE(qv::DownloadPool().IsRunning());
  EXPECT_TRUE(controls.Notices().empty());
}

TEST_F(DownloadTest, DoubleClickOpensTheRowsChapterFileFromColumnOneOn) {
  fs::create_directory(fs::u8path("天玄记"));
  for (int i = 0; i < 3; ++i) AddRow(G("章"), "x", 0);
  ASSERT_TRUE(qv::WriteFileBytes(G("天玄记/3.txt"), "c"));
  auto& e = Engine();
  e.OpenChapterFile(10, 45);    // column 0 of the third row
  e.OpenChapterFile(100, 25);   // column 1 of the second row: no file
  e.OpenChapterFile(100, 500);  // below the rows
  EXPECT_TRUE(controls.OpenedFiles().empty());
  e.OpenChapterFile(100, 45);   // column 1 of the third row
  e.OpenChapterFile(400, 41);   // column 3 of the third row
  EXPECT_EQ(controls.OpenedFiles(), (std::vector<Text>{G("天玄记/3.txt"), G("天玄记/3.txt")}));
}

}  // namespace
}  // namespace qvtest

namespace qvtest {
namespace {

// While paused the status line says so; after the resume the run reports its progress again, and
// a run with failures and without auto-merge names them in its notice.
TEST_F(DownloadTest, PausedStatusAndTheFailureNoticeWithoutAutoMerge) {
  UseMarkup(kLingdian);
  controls.SetChecked(Ctl::MergeCheck, false);
  AddPage(1, {.body = PageBytes(kLingdian, Enc::Gbk)});
  AddPage(2, {.body = "", .emptyFirst = 99});
  std::optional<Text> paused;
  OnPump([&] {
    if (paused) return;
    Engine().TogglePause();
    paused = controls.GetText(Ctl::StatusLabel);
    Engine().TogglePause();
  });
  Engine().StartDownload();
  ASSERT_TRUE(paused.has_value());
  EXPECT_TRUE(paused->starts_with(G("已暂停：已下载 "))) << qv::GbkToUtf8(*paused);
  ASSERT_EQ(controls.Notices().size(), 1u);
  EXPECT_EQ(controls.Notices()[0].text,
            G("有1个章节的内容下载失败，请点击继续下载，或直接手动合并小说"));
  EXPECT_EQ(controls.Notices()[0].style, qv::NoticeStyle::kError);
}

}  // namespace
}  // namespace qvtest
