#include "toc/chapter_list_fetch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "shell/memory_ports.h"
#include "rules/default_rules.h"
#include "text/encoding.h"
#include "web/http_fetch.h"

#include "book_site.h"
#include "gzip.h"
#include "raw_servers.h"
#include "test_site.h"

namespace qv {
namespace {

using qvtest::GzipBytes;
using qvtest::SiteAnswer;

Text G(std::string_view utf8) { return Utf8ToGbk(utf8); }

// The plain patterns of a default rule, by its name.
struct Patterns {
  Text list, title, author;
};
Patterns RulePatterns(std::string_view nameUtf8) {
  for (const SiteRule& r : DefaultRuleSet()) {
    if (TextDecode(r.ruleName) == G(nameUtf8)) {
      return {TextDecode(r.listPattern), TextDecode(r.titlePattern),
              TextDecode(r.authorPattern)};
    }
  }
  ADD_FAILURE() << "no default rule " << nameUtf8;
  return {};
}

// A page in the markup of 零点看书: two groups per match, "<h1>" title, "<p>作者：" author.
std::string LingdianPage() {
  return G("<html>\r\n<head><title>x</title></head>\r\n"
           "<h1>　斗破苍穹 外传 </h1>\r\n"
           "<p>作者：张 三</p>\r\n"
           "<dl>\r\n"
           "<dd><a href=\"345.html\">第一章 陨落的天才</a></dd>\r\n"
           "<dd><a href=\"346.html\">第二章 斗气大陆</a></dd>\r\n"
           "<dd><a href=\"347.html\">第三章 客人</a></dd>\r\n"
           "</dl>\r\n</html>");
}

// The markup of 52中文网: two chapters per list item.
std::string Zw52Page() {
  return G("<html>\r\n<h1 class=\"t\">星辰变</h1>\r\n"
           "<a href=\"/x?author=我吃西红柿\">作者</a>\r\n<ul>\r\n"
           "<li style=\"w\"><a href=\"1.html\">第一章</a><a href='2.html'>第二章</a> </li>\r\n"
           "<li style=\"w\"><a href=\"3.html\">第三章</a><a href=\"4.html\">第四章</a></li>\r\n"
           "</ul>");
}

// The markup of 吾读小说网, whose title pattern ends in CR LF.
std::string WuduPage() {
  return "<html>\r\n<h1>凡人修仙传</h1>\r\n<p>作者:忘语</p>\r\n<ul>\r\n"
         "<li class=\"c\"><a href=\"/b/7/1.html\">第一章 山边小村</a></li>\r\n"
         "<li class=\"c\"><a href=\"/b/7/2.html\">第二章 青牛镇</a></li>\r\n</ul>";
}

class ChapterListFetchTest : public ::testing::Test {
 protected:
  void UseRule(std::string_view nameUtf8) {
    const Patterns p = RulePatterns(nameUtf8);
    UsePatterns(p.list, p.title, p.author);
  }
  void UsePatterns(const Text& list, const Text& title, const Text& author) {
    controls.SetText(Ctl::ListPatternBox, list);
    controls.SetText(Ctl::TitlePatternBox, title);
    controls.SetText(Ctl::AuthorPatternBox, author);
  }
  void SetAddress(const std::string& address) { controls.SetText(Ctl::AddressBox, address); }

  // Starts a fetch and waits for its worker to end.
  void RunFetch() {
    fetch.Start();
    WaitIdle();
  }
  void WaitIdle() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (fetch.Running() && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_FALSE(fetch.Running());
  }

  // The download button only after a fetch that found chapters.
  void ExpectControlsBack(bool fetched = true) {
    EXPECT_TRUE(controls.IsEnabled(Ctl::FetchButton));
    EXPECT_EQ(controls.IsEnabled(Ctl::DownloadButton), fetched);
    EXPECT_TRUE(controls.IsEnabled(Ctl::RuleWindow));
    EXPECT_TRUE(controls.IsEnabled(Ctl::DeleteSelectedButton));
    EXPECT_TRUE(controls.IsEnabled(Ctl::MoveUpButton));
    EXPECT_TRUE(controls.IsEnabled(Ctl::MoveDownButton));
    EXPECT_FALSE(controls.IsEnabled(Ctl::PauseButton));
    EXPECT_FALSE(controls.IsEnabled(Ctl::StopButton));
  }
  // `noticeCount`: the notices shown so far, the failure's the last.
  void ExpectFailure(const char* status = "章节获取失败，请重试！", size_t noticeCount = 1) {
    EXPECT_EQ(controls.GetText(Ctl::StatusLabel), G(status));
    const auto notices = controls.Notices();
    ASSERT_EQ(notices.size(), noticeCount);
    EXPECT_EQ(notices.back().title, G("提示"));
    EXPECT_EQ(notices.back().text, G("章节获取失败\r\n(3秒后自动关闭)"));
    EXPECT_EQ(notices.back().timeoutMs, 3000);
    EXPECT_EQ(notices.back().style, NoticeStyle::kError);
    EXPECT_EQ(table.RowCount(), 0);
    EXPECT_EQ(controls.GetText(Ctl::TitleLabel), "");
    EXPECT_EQ(controls.GetText(Ctl::AuthorLabel), "");
    ExpectControlsBack(false);
  }
  void ExpectSuccessNotice() {
    EXPECT_EQ(controls.GetText(Ctl::StatusLabel), G("小说章节名获取成功，请点击下载章节内容！"));
    const auto notices = controls.Notices();
    ASSERT_FALSE(notices.empty());
    EXPECT_EQ(notices.back().title, G("提示"));
    EXPECT_EQ(notices.back().text, G("小说章节名获取完毕\r\n(3秒后自动关闭)"));
    EXPECT_EQ(notices.back().timeoutMs, 3000);
    EXPECT_EQ(notices.back().style, NoticeStyle::kInfo);
    ExpectControlsBack();
  }
  // Rows as (number, title, link, status, check).
  void ExpectRows(const std::vector<std::pair<Text, Text>>& linkTitle) {
    const auto rows = table.Snapshot();
    ASSERT_EQ(rows.size(), linkTitle.size());
    for (size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i].cells[kColNumber], Decimal(static_cast<long long>(i) + 1)) << i;
      EXPECT_EQ(rows[i].cells[kColLink], linkTitle[i].first) << i;
      EXPECT_EQ(rows[i].cells[kColTitle], linkTitle[i].second) << i;
      EXPECT_EQ(rows[i].cells[kColStatus], G("等待下载")) << i;
      EXPECT_EQ(rows[i].check, 1) << i;
    }
  }

  qvtest::TestSite site;
  MemoryTable table;
  MemoryControls controls;
  ChapterListFetch fetch{table, controls};
};

TEST_F(ChapterListFetchTest, TwoGroupRuleOnGbkPage) {
  site.Serve("/book/12/index.html", LingdianPage());
  UseRule("零点看书");
  SetAddress(site.Address("/book/12/index.html"));
  std::vector<int> rowsAtPump;
  controls.SetPumpHook([&] { rowsAtPump.push_back(table.RowCount()); });
  RunFetch();

  ExpectRows({{"345.html", G("第一章 陨落的天才")},
              {"346.html", G("第二章 斗气大陆")},
              {"347.html", G("第三章 客人")}});
  EXPECT_EQ(rowsAtPump, (std::vector<int>{1, 2, 3}));  // messages pumped after every match
  // Full-width space before, half-width after: trimmed; the inner space stays.
  EXPECT_EQ(controls.GetText(Ctl::TitleLabel), G("斗破苍穹 外传"));
  EXPECT_EQ(controls.GetText(Ctl::AuthorLabel), G("张三"));
  EXPECT_EQ(controls.GetText(Ctl::BaseAddressBox), site.Address("/book/12/"));
  EXPECT_EQ(controls.GetText(Ctl::LastRowBox), "3");
  ExpectSuccessNotice();
}

// The shared book site in each markup it offers reads back under its rule, and a chapter added
// to the book shows at the next fetch.
TEST_F(ChapterListFetchTest, BookSiteMarkupsReadUnderTheirRulesAndTheListGrows) {
  const struct {
    qvtest::BookMarkup markup;
    const char* rule;
  } cases[] = {{qvtest::BookMarkup::Biquge, "笔趣阁"}, {qvtest::BookMarkup::Lingdian, "零点看书"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rule);
    qvtest::BookSite book(4, false, c.markup);
    book.SetBook(G("天玄记"), G("张三"), {G("第一章 山门"), G("第二章 下山")}, {G("甲"), G("乙")});
    UseRule(c.rule);
    SetAddress(book.IndexAddress());
    table.DeleteAllRows();
    RunFetch();
    ExpectRows({{"1.html", G("第一章 山门")}, {"2.html", G("第二章 下山")}});
    EXPECT_EQ(controls.GetText(Ctl::TitleLabel), G("天玄记"));
    EXPECT_EQ(controls.GetText(Ctl::AuthorLabel), G("张三"));
    EXPECT_EQ(controls.GetText(Ctl::BaseAddressBox), book.Base() + "book/");

    book.AddChapter(G("第三章 入城"), G("丙"));
    table.DeleteAllRows();
    RunFetch();
    ExpectRows({{"1.html", G("第一章 山门")}, {"2.html", G("第二章 下山")},
                {"3.html", G("第三章 入城")}});
    EXPECT_EQ(book.Requests("/book/index.html"), 2);
    EXPECT_EQ(book.ChapterPage(3).find(G("丙")) != std::string::npos, true);
  }
}

TEST_F(ChapterListFetchTest, FourGroupRuleGivesTwoRowsPerMatchInOrder) {
  site.Serve("/52/index.html", Zw52Page());
  UseRule("52中文网");
  SetAddress(site.Address("/52/index.html"));
  std::vector<int> rowsAtPump;
  controls.SetPumpHook([&] { rowsAtPump.push_back(table.RowCount()); });
  RunFetch();

  ExpectRows({{"1.html", G("第一章")},
              {"2.html", G("第二章")},
              {"3.html", G("第三章")},
              {"4.html", G("第四章")}});
  EXPECT_EQ(rowsAtPump, (std::vector<int>{2, 4}));
  EXPECT_EQ(controls.GetText(Ctl::TitleLabel), G("星辰变"));
  EXPECT_EQ(controls.GetText(Ctl::AuthorLabel), G("我吃西红柿"));
  EXPECT_EQ(controls.GetText(Ctl::LastRowBox), "4");
  ExpectSuccessNotice();
}

TEST_F(ChapterListFetchTest, ThreeGroupsIgnoreTheUnpairedGroup) {
  site.Serve("/book/12/index.html", LingdianPage());
  const Patterns p = RulePatterns("零点看书");
  UsePatterns("<dd><a href=\"(.*?)\">(.*?)</a>(</dd>)", p.title, p.author);
  SetAddress(site.Address("/book/12/index.html"));
  RunFetch();
  ExpectRows({{"345.html", G("第一章 陨落的天才")},
              {"346.html", G("第二章 斗气大陆")},
              {"347.html", G("第三章 客人")}});
}

TEST_F(ChapterListFetchTest, Utf8PageWithCrLfTitlePattern) {
  site.Serve("/b/7/", WuduPage());  // UTF-8 bytes as written in this source
  UseRule("吾读小说网");
  SetAddress(site.Address("/b/7/"));
  RunFetch();
  ExpectRows({{"/b/7/1.html", G("第一章 山边小村")}, {"/b/7/2.html", G("第二章 青牛镇")}});
  EXPECT_EQ(controls.GetText(Ctl::TitleLabel), G("凡人修仙传"));
  EXPECT_EQ(controls.GetText(Ctl::AuthorLabel), G("忘语"));
  // An absolute link strips three levels: the scheme and host remain.
  EXPECT_EQ(controls.GetText(Ctl::BaseAddressBox), site.Address(""));
  ExpectSuccessNotice();
}

TEST_F(ChapterListFetchTest, GzipEncodedPages) {
  // The marker is found in any letter case; the unpacked UTF-8 is converted too.
  site.Serve("/gz/index.html",
             {.body = GzipBytes(LingdianPage()), .headers = {{"content-encoding", "GZIP"}}});
  site.Serve("/gz8/", {.body = GzipBytes(WuduPage()), .headers = {{"Content-Encoding", "gzip"}}});
  UseRule("零点看书");
  SetAddress(site.Address("/gz/index.html"));
  RunFetch();
  EXPECT_EQ(table.RowCount(), 3);
  EXPECT_EQ(table.CellText(2, kColTitle), G("第三章 客人"));
  EXPECT_EQ(controls.GetText(Ctl::TitleLabel), G("斗破苍穹 外传"));

  UseRule("吾读小说网");
  SetAddress(site.Address("/gz8/"));
  RunFetch();
  EXPECT_EQ(table.RowCount(), 2);
  EXPECT_EQ(table.CellText(1, kColTitle), G("第二章 青牛镇"));
  ExpectSuccessNotice();
}

TEST_F(ChapterListFetchTest, NoTitleIsTheFailurePath) {
  site.Serve("/book/12/index.html", LingdianPage());
  const Patterns p = RulePatterns("零点看书");
  UsePatterns(p.list, "<h2>(.*?)</h2>", p.author);
  SetAddress(site.Address("/book/12/index.html"));
  RunFetch();
  ExpectFailure();
  EXPECT_EQ(controls.GetText(Ctl::TitleLabel), "");
  EXPECT_EQ(controls.GetText(Ctl::AuthorLabel), "");
  // A title that is only spaces counts as none.
  site.Serve("/blank/", G("<h1>　 </h1>\r\n<dd><a href=\"1.html\">x</a></dd>"));
  UseRule("零点看书");
  SetAddress(site.Address("/blank/"));
  RunFetch();
  EXPECT_EQ(table.RowCount(), 0);
  EXPECT_EQ(controls.GetText(Ctl::StatusLabel), G("章节获取失败，请重试！"));
}

TEST_F(ChapterListFetchTest, InvalidTitlePatternFails) {
  site.Serve("/book/12/index.html", LingdianPage());
  const Patterns p = RulePatterns("零点看书");
  UsePatterns(p.list, "<h1>(.*?</h1>", p.author);
  SetAddress(site.Address("/book/12/index.html"));
  RunFetch();
  ExpectFailure();
}

TEST_F(ChapterListFetchTest, UnreachableAddressFails) {
  UseRule("零点看书");
  SetAddress("http://127.0.0.1:" + std::to_string(qvtest::ClosedPort()) + "/book/1/");
  RunFetch();
  ExpectFailure("章节获取失败：无法连接");
}

TEST_F(ChapterListFetchTest, NoChapterIsAFailedFetch) {
  site.Serve("/book/12/index.html", LingdianPage());
  const Patterns p = RulePatterns("零点看书");
  UsePatterns("<li>(.*?)</li>", p.title, p.author);  // one group: no pair
  SetAddress(site.Address("/book/12/index.html"));
  RunFetch();
  EXPECT_EQ(controls.GetText(Ctl::BaseAddressBox), "");
  ExpectFailure("章节获取失败：未找到章节，请检查规则");
}

// An error page is a failed fetch with its reason, though its markup fits the rule; so is a
// page whose title matches and whose chapter list does not.
TEST_F(ChapterListFetchTest, ErrorAnswersAreFailedFetchesWithTheirReason) {
  UseRule("零点看书");
  const std::string notFound = "<html><h1>404 Not Found</h1><hr><center>nginx</center></html>";
  site.Serve("/404/", SiteAnswer{.body = notFound, .status = 404});
  site.Serve("/500/", SiteAnswer{.body = LingdianPage(), .status = 500});
  site.Serve("/notitle/", SiteAnswer{.body = notFound});
  site.Serve("/nolist/", G("<h1>斗破苍穹</h1>\r\n<p>作者：张三</p>\r\n<p>没有目录</p>"));
  site.Serve("/ok/", LingdianPage());
  struct Case {
    std::string address;
    const char* status;  // nullptr: success
  };
  const std::vector<Case> cases = {
      {site.Address("/404/"), "章节获取失败：HTTP 404"},
      {site.Address("/500/"), "章节获取失败：HTTP 500"},
      {"http://127.0.0.1:" + std::to_string(qvtest::ClosedPort()) + "/", "章节获取失败：无法连接"},
      {site.Address("/notitle/"), "章节获取失败：未找到章节，请检查规则"},  // "404 Not Found" as title
      {site.Address("/nolist/"), "章节获取失败：未找到章节，请检查规则"},
      {site.Address("/ok/"), nullptr},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.address);
    SetAddress(c.address);
    RunFetch();
    if (c.status != nullptr) {
      ExpectFailure(c.status, i + 1);
    } else {
      EXPECT_EQ(controls.GetText(Ctl::TitleLabel), G("斗破苍穹 外传"));
      EXPECT_EQ(table.RowCount(), 3);
      ExpectSuccessNotice();
    }
  }
}

TEST_F(ChapterListFetchTest, SecondStartClearsEverythingFirstAndOneFetchRunsAtATime) {
  site.Serve("/book/12/index.html", LingdianPage());
  UseRule("零点看书");
  SetAddress(site.Address("/book/12/index.html"));
  RunFetch();
  ASSERT_EQ(table.RowCount(), 3);
  controls.SetEnabled(Ctl::PauseButton, true);
  controls.SetEnabled(Ctl::StopButton, true);

  site.Serve("/52/index.html", {.body = Zw52Page(), .held = true});
  UseRule("52中文网");
  SetAddress(site.Address("/52/index.html"));
  fetch.Start();
  ASSERT_TRUE(site.WaitHeld(1, 10000));
  // While the page is on its way: everything of the first fetch is gone, the controls are off.
  EXPECT_TRUE(fetch.Running());
  EXPECT_EQ(table.RowCount(), 0);
  EXPECT_EQ(controls.GetText(Ctl::TitleLabel), "");
  EXPECT_EQ(controls.GetText(Ctl::AuthorLabel), "");
  EXPECT_EQ(controls.GetText(Ctl::BaseAddressBox), "");
  EXPECT_EQ(controls.GetText(Ctl::StatusLabel), G("正在获取小说章节名，请稍等..."));
  for (Ctl c : {Ctl::FetchButton, Ctl::DownloadButton, Ctl::RuleWindow, Ctl::PauseButton,
                Ctl::StopButton, Ctl::DeleteSelectedButton, Ctl::MoveUpButton,
                Ctl::MoveDownButton}) {
    EXPECT_FALSE(controls.IsEnabled(c)) << static_cast<int>(c);
  }
  // A second press meanwhile starts nothing.
  const int requests = site.TotalRequests();
  const size_t statusWrites = controls.TextHistory(Ctl::StatusLabel).size();
  fetch.Start();
  EXPECT_EQ(controls.TextHistory(Ctl::StatusLabel).size(), statusWrites);

  site.OpenGate();
  WaitIdle();
  EXPECT_EQ(site.TotalRequests(), requests);
  EXPECT_EQ(table.RowCount(), 4);
  EXPECT_EQ(controls.GetText(Ctl::TitleLabel), G("星辰变"));
  ExpectSuccessNotice();
}

TEST_F(ChapterListFetchTest, AddressReadAgainForTheBaseAddress) {
  site.Serve("/book/12/index.html", {.body = LingdianPage(), .held = true});
  UseRule("零点看书");
  SetAddress(site.Address("/book/12/index.html"));
  fetch.Start();
  ASSERT_TRUE(site.WaitHeld(1, 10000));
  SetAddress("http://other/a/b/c.html");  // edited during the fetch
  site.OpenGate();
  WaitIdle();
  EXPECT_EQ(controls.GetText(Ctl::BaseAddressBox), "http://other/a/b/");
}

TEST_F(ChapterListFetchTest, ShutdownWhileTheTransferHangsEndsPromptly) {
  site.Serve("/book/12/index.html", {.body = LingdianPage(), .held = true});
  UseRule("零点看书");
  SetAddress(site.Address("/book/12/index.html"));
  fetch.Start();
  ASSERT_TRUE(site.WaitHeld(1, 10000));
  const auto t0 = std::chrono::steady_clock::now();
  fetch.Shutdown();
  const auto waited = std::chrono::steady_clock::now() - t0;
  ResumeFetchesForTesting();
  EXPECT_FALSE(fetch.Running());
  EXPECT_LT(waited, std::chrono::seconds(20));  // the server never answers by itself
  // Nothing was written after the close, and no notice was raised for the aborted fetch.
  EXPECT_EQ(table.RowCount(), 0);
  EXPECT_TRUE(controls.Notices().empty());
  // A closed fetch starts no more.
  fetch.Start();
  EXPECT_FALSE(fetch.Running());
  site.OpenGate();
}

TEST_F(ChapterListFetchTest, DestroyedRightAfterStartIsClean) {
  site.Serve("/book/12/index.html", LingdianPage());
  UseRule("零点看书");
  SetAddress(site.Address("/book/12/index.html"));
  for (int i = 0; i < 20; ++i) {
    MemoryTable t;
    MemoryControls c;
    c.SetText(Ctl::AddressBox, controls.GetText(Ctl::AddressBox));
    c.SetText(Ctl::TitlePatternBox, controls.GetText(Ctl::TitlePatternBox));
    c.SetText(Ctl::ListPatternBox, controls.GetText(Ctl::ListPatternBox));
    {
      ChapterListFetch f(t, c);
      f.Start();
    }  // destroyed at once: the worker is ended and joined before t and c go
  }
  ResumeFetchesForTesting();
}

}  // namespace
}  // namespace qv

namespace qv {
namespace {

// Without a rule for the address nothing is fetched: the patterns shown are another site's.
TEST(ChapterListFetchRule, WithoutARuleForTheAddressNothingIsFetched) {
  qvtest::TestSite site;
  site.Serve("/book/12/index.html", "<h1>x</h1>");
  MemoryTable table;
  MemoryControls controls;
  table.AppendChapter("1", "old", "old.html", Utf8ToGbk("等待下载"), qv::kChecked);
  controls.SetText(Ctl::AddressBox, site.Address("/book/12/index.html"));
  controls.SetEnabled(Ctl::DownloadButton, true);
  bool hasRule = false;
  ChapterListFetch fetch{table, controls};
  fetch.SetRuleCheck([&] { return hasRule; });
  fetch.Start();
  EXPECT_FALSE(fetch.Running());
  EXPECT_EQ(site.TotalRequests(), 0);
  const Text noRule = Utf8ToGbk("没有此网站的下载规则：请在规则设定中增加规则");
  EXPECT_EQ(controls.GetText(Ctl::StatusLabel), noRule);
  ASSERT_EQ(controls.Notices().size(), 1u);
  EXPECT_EQ(controls.Notices()[0].text, noRule);
  EXPECT_EQ(controls.Notices()[0].style, NoticeStyle::kError);
  EXPECT_EQ(table.RowCount(), 1);  // nothing touched
  EXPECT_TRUE(controls.IsEnabled(Ctl::FetchButton));
  EXPECT_TRUE(controls.IsEnabled(Ctl::DownloadButton));
  // With the rule the fetch goes ahead.
  hasRule = true;
  fetch.Start();
  while (fetch.Running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(site.TotalRequests(), 1);
}

}  // namespace
}  // namespace qv
