// Page capture through a browser that loads pages from memory.
#include <map>
#include <optional>

#include "engine_fixture.h"

namespace qvtest {
namespace {

// Loads from a map: each address has the texts of its successive loads (the last repeats);
// std::nullopt is a load that never finishes. With `deferred` a load finishes at the next
// Deliver() (the tests call it from the pump hook) instead of inside Navigate.
class FakeBrowser : public qv::PageBrowser {
 public:
  std::map<Text, std::vector<std::optional<Text>>> pages;
  bool deferred = false;
  std::vector<Text> navigations;
  int stops = 0;
  std::map<Text, Text> problems;  // the load problem reported for an address

  void Navigate(const Text& address) override {
    navigations.push_back(address);
    const auto& loads = pages[address];
    const size_t k = loadCount_[address]++;
    pending_.reset();
    current_.clear();
    const std::optional<Text> load =
        loads.empty() ? std::optional<Text>(Text()) : loads[std::min(k, loads.size() - 1)];
    if (!load) return;  // never finishes
    pending_ = *load;
    if (!deferred) Deliver();
  }
  void Deliver() {
    if (!pending_) return;
    current_ = *pending_;
    pending_.reset();
    if (handler_) handler_();
  }
  void StopLoading() override {
    ++stops;
    pending_.reset();
  }
  Text PageText() override { return current_; }
  Text LoadProblem() override {
    return navigations.empty() ? Text() : problems[navigations.back()];
  }
  void SetLoadFinishedHandler(std::function<void()> handler) override {
    handler_ = std::move(handler);
  }
  void Forget() {
    pages.clear();
    navigations.clear();
    loadCount_.clear();
    pending_.reset();
  }
  int NavigationsTo(const Text& address) {
    return static_cast<int>(std::count(navigations.begin(), navigations.end(), address));
  }

 private:
  std::map<Text, size_t> loadCount_;
  std::optional<Text> pending_;
  Text current_;
  std::function<void()> handler_;
};

// The markers of the rule 2345小说（仅测试）.
const char* kLeft = "正在玩命为您加载中，请稍后！";
const char* kRight = "上一章";

class CaptureTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    controls.SetChecked(Ctl::CaptureCheck, true);
    controls.SetChecked(Ctl::MergeCheck, false);
    controls.SetText(Ctl::BaseAddressBox, "http://novel.test/");
    SetMarkers(G(kLeft), G(kRight));
    Engine(&browser);
  }

  // A checked row whose page shows `body` (UTF-8) between the markers.
  Text AddCapturedRow(const char* title, std::vector<std::optional<std::string>> bodies) {
    const Text link = "c" + qv::Decimal(table.RowCount() + 1) + ".html";
    AddRow(G(title), link);
    auto& loads = browser.pages["http://novel.test/" + link];
    for (const auto& b : bodies) {
      if (!b) {
        loads.push_back(std::nullopt);
      } else {
        loads.push_back(G("菜单 ") + G(kLeft) + G(b->c_str()) + G(kRight) + G(" 下一章"));
      }
    }
    return "http://novel.test/" + link;
  }

  std::vector<Text> History(int row) { return table.StatusHistory(row); }
  std::vector<Text> G_(std::initializer_list<const char*> list) {
    std::vector<Text> out;
    for (const char* s : list) out.push_back(G(s));
    return out;
  }

  FakeBrowser browser;
};

TEST_F(CaptureTest, AcceptsTwentyBytesBesidesSpacesAndRefusesNineteen) {
  // 19 bytes once spaces (ASCII and full-width) are removed; tabs and line ends count.
  const Text shortRow = AddCapturedRow("短", {"  一二三四五六七八九 　 x  　"});
  AddCapturedRow("长", {"  一二三四五六七八九 　 xy  　"});
  AddCapturedRow("行", {"一二三四五六七八九\r\n"});
  Engine().StartDownload();

  EXPECT_EQ(History(0), G_({"等待下载", "正在下载", "重试下载2", "重试下载3", "重试下载4",
                            "重试下载5", "失败3次：未找到正文"}));
  EXPECT_EQ(table.CheckState(0), 1);
  EXPECT_FALSE(table.IsHighlighted(0));
  EXPECT_EQ(browser.navigations.size(), 5u + 1u + 1u);
  EXPECT_EQ(browser.NavigationsTo(shortRow), 5);
  EXPECT_FALSE(qv::RegularFileExists(Engine().ChapterFilePath(0)));

  EXPECT_EQ(History(1), G_({"等待下载", "正在下载", "下载完毕"}));
  EXPECT_EQ(FileUtf8(G("天玄记/2.txt")), "长\r\n  一二三四五六七八九 　 xy  　");
  EXPECT_EQ(History(2).back(), G("下载完毕"));
  EXPECT_EQ(qv::TheDownloadState().failedCount->Get(), 1);
  EXPECT_EQ(controls.Progress(), std::make_pair(3, 3));
  EXPECT_EQ(controls.GetText(Ctl::StatusLabel),
            G("有1个章节的内容下载失败，请点击继续下载，或直接手动合并小说"));
}

TEST_F(CaptureTest, ASuccessAtTheFifthAttemptIsSavedAndNotAFailure) {
  controls.SetChecked(Ctl::MergeCheck, true);
  const Text row =
      AddCapturedRow("第五次", {"", "短", "", "短短", "<p>第五次才等到的正文，足够长了</p>"});
  Engine().StartDownload();
  EXPECT_EQ(History(0), G_({"等待下载", "正在下载", "重试下载2", "重试下载3", "重试下载4",
                            "重试下载5", "下载完毕"}));
  EXPECT_EQ(browser.NavigationsTo(row), 5);
  EXPECT_EQ(FileUtf8(G("天玄记/1.txt")), "第五次\r\n  第五次才等到的正文，足够长了\r\n");
  EXPECT_EQ(qv::TheDownloadState().failedCount->Get(), 0);
  EXPECT_EQ(controls.GetText(Ctl::StatusLabel), G("整本小说下载完毕"));
  EXPECT_EQ(FileUtf8(G("天玄记(张三).txt")), "第五次\r\n  第五次才等到的正文，足够长了\r\n");
}

TEST_F(CaptureTest, UndecodedUtf8PagesAreConvertedAndCp936PagesLeftAlone) {
  const std::string body = "中文正文一二三四五六七八九十";
  struct Case {
    const char* name;
    std::string pageText;  // as the browser hands it over
  };
  const Case cases[] = {
      {"charset=utf-8 in UTF-8 bytes",
       "x charset=utf-8 " + std::string(kLeft) + body + kRight},
      {"CHARSET=UTF-8 in capitals, right after a UTF-8 character",
       std::string("中CHARSET=UTF-8 ") + kLeft + body + kRight},
      {"charset=\"utf-8 quoted", "charset=\"UTF-8\" " + std::string(kLeft) + body + kRight},
      {"declared UTF-8 but already CP936",
       G("charset=utf-8 ") + G(kLeft) + G(body.c_str()) + G(kRight)},
      {"CP936 without a declaration", G(kLeft) + G(body.c_str()) + G(kRight)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    table.DeleteAllRows();
    AddRow(G("章"), "p.html");
    browser.pages["http://novel.test/p.html"] = {c.pageText};
    Engine().StartDownload();
    EXPECT_EQ(Status(0), G("下载完毕"));
    EXPECT_EQ(FileUtf8(G("天玄记/1.txt")), "章\r\n" + body);
  }
  // UTF-8 bytes without the declaration stay as they are: the markers are not found.
  table.DeleteAllRows();
  AddRow(G("章"), "p.html");
  browser.pages["http://novel.test/p.html"] = {std::string(kLeft) + body + kRight};
  Engine().StartDownload();
  EXPECT_EQ(Status(0), G("失败3次：未找到正文"));
}

TEST_F(CaptureTest, StopDuringARowEndsTheLoopAfterThatRow) {
  for (bool deferred : {false, true}) {
    SCOPED_TRACE(deferred ? "page delivered during the wait" : "page loaded at once");
    table.DeleteAllRows();
    browser.Forget();
    browser.deferred = deferred;
    const Text first = AddCapturedRow("一", {"", "<p>第一章的正文，足够长了吧</p>"});
    const Text second = AddCapturedRow("二", {"<p>第二章的正文，足够长了吧</p>"});
    bool stopped = false;
    // Loaded at once, the first pump is the one after attempt 1. Delivered later, the stop
    // comes in the same pump as the page of attempt 1, and attempt 2 (no longer waited for
    // once stopped) can only end the row.
    OnPump([&] {
      browser.Deliver();
      if (!stopped && !browser.navigations.empty()) {
        stopped = true;
        Engine().StopDownload();
      }
    });
    Engine().StartDownload();
    EXPECT_EQ(browser.NavigationsTo(first), 2);
    EXPECT_EQ(History(0), deferred ? G_({"等待下载", "正在下载", "重试下载2", "失败3次：已停止"})
                                   : G_({"等待下载", "正在下载", "重试下载2", "下载完毕"}));
    EXPECT_EQ(table.CheckState(0), deferred ? 1 : 0);
    // The next row was not begun, and no finish step ran.
    EXPECT_EQ(browser.NavigationsTo(second), 0);
    EXPECT_EQ(History(1), G_({"等待下载"}));
    EXPECT_TRUE(controls.Notices().empty());
    EXPECT_FALSE(controls.IsEnabled(Ctl::StopButton));
    EXPECT_TRUE(controls.IsEnabled(Ctl::CaptureCheck));
  }
}

TEST_F(CaptureTest, AStopWhileAPageHangsGivesTheRowUpAndTheNextRunFetchesBoth) {
  const Text first = AddCapturedRow("一", {std::nullopt});
  const Text second = AddCapturedRow("二", {"第二章的正文，足够长了吧"});
  bool stopped = false;
  OnPump([&] {
    if (!stopped && !browser.navigations.empty()) {
      stopped = true;
      Engine().StopDownload();
    }
  });
  Engine().StartDownload();
  EXPECT_TRUE(stopped);
  // The row under way ends (its page never came: given up, still checked); no next row.
  EXPECT_EQ(History(0), G_({"等待下载", "正在下载", "失败3次：已停止"}));
  EXPECT_EQ(table.CheckState(0), 1);
  EXPECT_EQ(browser.NavigationsTo(first), 1);
  EXPECT_EQ(browser.NavigationsTo(second), 0);
  EXPECT_EQ(History(1), G_({"等待下载"}));
  EXPECT_TRUE(controls.Notices().empty());
  EXPECT_FALSE(controls.IsEnabled(Ctl::StopButton));
  EXPECT_TRUE(controls.IsEnabled(Ctl::DownloadButton));

  // The next run fetches both, the given-up row with its page's new text.
  controls.SetPumpHook({});
  browser.pages[first] = {G("菜单 ") + G(kLeft) + G("第一章的正文，这次加载完了") + G(kRight)};
  Engine().StartDownload();
  EXPECT_EQ(FileUtf8(Engine().ChapterFilePath(0)), "一\r\n第一章的正文，这次加载完了");
  EXPECT_EQ(FileUtf8(Engine().ChapterFilePath(1)), "二\r\n第二章的正文，足够长了吧");
}

TEST_F(CaptureTest, PauseTakesEffectBeforeTheNextRowAndStopEndsAPause) {
  AddCapturedRow("一", {"<p>第一章的正文，足够长了吧</p>"});
  const Text second = AddCapturedRow("二", {"<p>第二章的正文，足够长了吧</p>"});
  const Text third = AddCapturedRow("三", {"<p>第三章的正文，足够长了吧</p>"});
  int pausedPumps = 0;
  OnPump([&] {
    const Text pause = controls.GetText(Ctl::PauseButton);
    if (browser.navigations.size() == 1 && pause == G("暂停") && pausedPumps == 0) {
      Engine().TogglePause();  // pressed during the first row
    } else if (pause == G("继续")) {
      // While paused no row begins.
      EXPECT_EQ(browser.navigations.size(), 1u);
      if (++pausedPumps == 5) Engine().TogglePause();
    }
  });
  Engine().StartDownload();
  EXPECT_GE(pausedPumps, 5);
  EXPECT_EQ(pausedPumps, 5);  // the pause ended at the fifth paused pump
  EXPECT_EQ(controls.TextHistory(Ctl::PauseButton), G_({"暂停", "继续", "暂停"}));
  // The row under way finished all the same.
  EXPECT_EQ(History(0), G_({"等待下载", "正在下载", "下载完毕"}));
  EXPECT_EQ(Status(1), G("下载完毕"));
  EXPECT_EQ(Status(2), G("下载完毕"));
  EXPECT_EQ(browser.NavigationsTo(second), 1);
  EXPECT_EQ(browser.NavigationsTo(third), 1);

  // Stop while paused: the pause ends, no further row, the caption reads "暂停".
  for (int r = 0; r < 3; ++r) table.SetCheckState(r, qv::kChecked);
  browser.navigations.clear();
  int waits = 0;
  OnPump([&] {
    const Text pause = controls.GetText(Ctl::PauseButton);
    if (browser.navigations.size() == 1 && pause == G("暂停") && waits == 0) {
      Engine().TogglePause();
    } else if (pause == G("继续") && ++waits == 3) {
      Engine().StopDownload();
    }
  });
  Engine().StartDownload();
  EXPECT_EQ(waits, 3);
  EXPECT_EQ(browser.navigations.size(), 1u);
  EXPECT_EQ(controls.GetText(Ctl::PauseButton), G("暂停"));
  EXPECT_EQ(qv::TheDownloadState().pauseRequested, 0);
  EXPECT_EQ(table.CheckState(1), 1);
  EXPECT_EQ(controls.Notices().size(), 1u);  // from the first run only
}

TEST_F(CaptureTest, WithoutACheckedRowNothingChanges) {
  AddCapturedRow("一", {"<p>第一章的正文，足够长了吧</p>"});
  AddCapturedRow("二", {"<p>第二章的正文，足够长了吧</p>"});
  table.SetCheckState(0, qv::kUnchecked);
  table.SetCheckState(1, qv::kUnchecked);
  table.SetHighlight(1, true);
  const auto before = table.Snapshot();
  Engine().PageCapture(table.RowCount());
  const auto after = table.Snapshot();
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < after.size(); ++i) {
    for (int c = 0; c < 4; ++c) EXPECT_EQ(after[i].cells[c], before[i].cells[c]);
    EXPECT_EQ(after[i].check, before[i].check);
    EXPECT_EQ(after[i].highlighted, before[i].highlighted);
  }
  EXPECT_TRUE(browser.navigations.empty());
}

// A page the browser reports as failed is no chapter, though its text would pass the threshold.
TEST_F(CaptureTest, APageThatFailedToLoadIsGivenUpWithTheBrowsersReason) {
  const Text gone = AddCapturedRow("缺", {"<p>第一章的正文，足够长了吧</p>"});
  const Text broken = AddCapturedRow("断", {"<p>第二章的正文，足够长了吧</p>"});
  browser.problems[gone] = "HTTP 404";
  browser.problems[broken] = G("页面加载失败");
  Engine().StartDownload();
  EXPECT_EQ(Status(0), G("失败3次：HTTP 404"));
  EXPECT_EQ(Status(1), G("失败3次：页面加载失败"));
  for (int row : {0, 1}) {
    EXPECT_EQ(table.CheckState(row), 1);
    EXPECT_FALSE(qv::RegularFileExists(Engine().ChapterFilePath(row)));
  }
  EXPECT_EQ(qv::TheDownloadState().failedCount->Get(), 2);
}

TEST_F(CaptureTest, APageThatNeverFinishesIsAShortAttemptAfterTheBoundedWait) {
  Engine().SetPageWaitLimit(std::chrono::milliseconds(40));
  AddCapturedRow("慢", {std::nullopt, "<p>第二次就加载完了的正文</p>"});
  AddCapturedRow("死", {std::nullopt});
  Engine().StartDownload();
  EXPECT_EQ(History(0), G_({"等待下载", "正在下载", "重试下载2", "下载完毕"}));
  EXPECT_EQ(History(1).back(), G("失败3次：页面加载超时"));
  EXPECT_EQ(browser.stops, 1 + 5);
  EXPECT_EQ(qv::TheDownloadState().failedCount->Get(), 1);

  // A stop pressed while a page hangs ends the wait at once and gives the row up.
  Engine().SetPageWaitLimit(std::chrono::hours(1));
  table.SetCheckState(1, qv::kChecked);
  browser.navigations.clear();
  OnPump([&] {
    if (!browser.navigations.empty()) Engine().StopDownload();
  });
  Engine().StartDownload();
  EXPECT_EQ(browser.navigations.size(), 1u);
  EXPECT_EQ(Status(1), G("失败3次：已停止"));
  EXPECT_EQ(table.CheckState(1), 1);
}

}  // namespace
}  // namespace qvtest
