// The whole program offscreen: the real main window built as the program builds it, the rule
// found by typing the book's address, the chapter list fetched and the book downloaded through
// the real buttons against a book site on 127.0.0.1, notices answered as a user answers them.
// Actions during a run (pause, stop, close) are taken inside the run's waits, as clicks of a
// user are.
#include <stdlib.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QProgressBar>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gui/box_text.h"
#include "shell/ports.h"
#include "book_site.h"
#include "download/book_files.h"
#include "download/download_state.h"
#include "program_window.h"
#include "rules/site_rule.h"
#include "gui/rule_window/rule_window.h"
#include "gui/rule_window/rule_window_hooks.h"
#include "text/encoding.h"
#include "url_catcher.h"
#include "web/http_fetch.h"

namespace qvtest {
namespace {

using qvtest::SiteAnswer;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using qv::Text;

Text G(const std::string& utf8) { return qv::Utf8ToGbk(utf8); }

std::string ChapterTitle(int n) {
  static const char* names[] = {"初入江湖", "夜雨孤灯", "山门试剑", "远行", "旧友重逢"};
  return "第" + std::to_string(n) + "章 " + names[(n - 1) % 5];
}

// The chapter's HTML on the page, and the chapter file it gives: the title line on top, the
// spaces and line breaks of the markup turned into text.
std::string ChapterBody(int n) {
  return "&nbsp;&nbsp;&nbsp;&nbsp;第" + std::to_string(n) +
         "章的第一段。<br /><br />&nbsp;&nbsp;&nbsp;&nbsp;第二段：山风吹过天玄峰。";
}
std::string ChapterFileText(int n) {
  return ChapterTitle(n) + "\r\n    第" + std::to_string(n) + "章的第一段。\r\n    第二段：山风吹过天玄峰。";
}

// Steps taken on the window thread while a handler works inside its waits: each waits for its
// condition, then acts once; the next one starts after it.
class Script {
 public:
  Script() {
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { Tick(); });
    timer_.start(2);
  }
  void Then(std::function<bool()> when, std::function<void()> act) {
    steps_.push_back({std::move(when), std::move(act)});
  }
  bool Done() const { return steps_.empty() && !busy_; }

 private:
  struct Step {
    std::function<bool()> when;
    std::function<void()> act;
  };
  void Tick() {
    if (busy_ || steps_.empty() || !steps_.front().when()) return;
    std::function<void()> act = std::move(steps_.front().act);
    steps_.pop_front();
    busy_ = true;
    act();
    busy_ = false;
  }
  QTimer timer_;
  std::deque<Step> steps_;
  bool busy_ = false;
};

// Accepts every input box the program shows (as it opens them, with its initial text) and
// counts them; the table tools ask their row counts through such boxes.
class InputBoxAnswerer {
 public:
  InputBoxAnswerer() {
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QInputDialog*>(w);
        if (dialog == nullptr || !dialog->isVisible()) continue;
        ++shown;
        dialog->accept();
      }
    });
    timer_.start(5);
  }
  int shown = 0;

 private:
  QTimer timer_;
};

class E2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "qv_e2e_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fs::current_path(dir_);
    site = std::make_unique<BookSite>();
  }

  void TearDown() override {
    site->OpenGate();
    program.reset();
    notices.reset();
    site.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    fs::current_path(old_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // A book of `chapters` chapters on the site, the rule file with a rule for the site, and the
  // program's window. The page shows the title and the author with spaces the fetch removes.
  void Open(int chapters) {
    chapters_ = chapters;
    std::vector<std::string> titles, bodies;
    for (int n = 1; n <= chapters; ++n) {
      titles.push_back(G(ChapterTitle(n)));
      bodies.push_back(G(ChapterBody(n)));
    }
    site->SetBook(G(" 天玄记　"), G("张 三"), titles, bodies);
    WriteRuleFile(site->Base());
    notices = std::make_unique<NoticeLog>();
    program = std::make_unique<ProgramWindow>();
  }

  // The user's way to a filled table: the address typed, the fetch button, its notice answered.
  void FetchBook() {
    program->TypeAddress(site->IndexAddress());
    ASSERT_TRUE(program->FetchChapters());
    ASSERT_EQ(table().RowCount(), chapters_);
    notices->Clear();
  }

  // Returns once the run has ended.
  void Download() { program->Click("按钮_下载章节内容"); }

  qv::ChapterTable& table() { return program->window().table(); }
  Text Status(int row) { return table().CellText(row, qv::kColStatus); }
  std::string FileUtf8(const std::string& pathUtf8) {
    return qv::GbkToUtf8(qv::ReadFileBytes(G(pathUtf8)));
  }
  bool FileExists(const std::string& pathUtf8) { return qv::RegularFileExists(G(pathUtf8)); }
  std::string ChapterPath(int n) { return "天玄记/" + std::to_string(n) + ".txt"; }
  static constexpr const char* kBookPath = "天玄记(张三).txt";

  // The whole book as the merge writes it: every chapter, a blank line between chapters.
  std::string WholeBook() {
    std::string book;
    for (int n = 1; n <= chapters_; ++n) {
      book += ChapterFileText(n);
      if (n != chapters_) book += "\r\n\r\n";
    }
    return book;
  }

  // A row saved by the run: unchecked, "下载完毕", its file holds the chapter.
  void ExpectSaved(int n) {
    SCOPED_TRACE("chapter " + std::to_string(n));
    EXPECT_EQ(Status(n - 1), G("下载完毕"));
    EXPECT_EQ(table().CheckState(n - 1), 0);
    EXPECT_EQ(FileUtf8(ChapterPath(n)), ChapterFileText(n));
  }
  // A row the run never touched.
  void ExpectUntouched(int n) {
    SCOPED_TRACE("chapter " + std::to_string(n));
    EXPECT_EQ(Status(n - 1), G("等待下载"));
    EXPECT_EQ(table().CheckState(n - 1), 1);
    EXPECT_FALSE(FileExists(ChapterPath(n)));
  }

  // The controls as a run leaves them.
  void ExpectIdleControls() {
    EXPECT_TRUE(program->Enabled("按钮_下载章节内容"));
    EXPECT_FALSE(program->Enabled("按钮_暂停继续"));
    EXPECT_FALSE(program->Enabled("按钮_停止"));
    EXPECT_TRUE(program->Enabled("选择框_页面抓取"));
    EXPECT_TRUE(program->Enabled("选择框_合并"));
    EXPECT_TRUE(program->RuleWindowEnabled());
    EXPECT_TRUE(program->Enabled("按钮_获取章节标题"));
    for (const char* tool : {"按钮_删除选择", "按钮_上移", "按钮_下移"}) {
      EXPECT_TRUE(program->Enabled(tool)) << tool;
    }
    EXPECT_EQ(program->Text("按钮_暂停继续"), G("暂停"));
  }

  std::unique_ptr<BookSite> site;
  std::unique_ptr<NoticeLog> notices;
  std::unique_ptr<ProgramWindow> program;
  int chapters_ = 0;
  fs::path dir_, old_;
};

TEST_F(E2eTest, TheTypedAddressFindsTheRuleAndTheFetchFillsTheTable) {
  Open(5);
  EXPECT_FALSE(program->Enabled("按钮_下载章节内容"));
  program->TypeAddress(site->IndexAddress());
  EXPECT_EQ(program->Text("标签4"), G("已找到此网站的下载规则，可直接点击下载"));
  qv::RuleWindow* rules = qv::RuleWindowOf(program->window());
  ASSERT_NE(rules, nullptr);
  EXPECT_EQ(qv::WidgetText(rules->FieldBox(qv::RuleField::kSite)), site->Base());
  EXPECT_EQ(qv::WidgetText(rules->FieldBox(qv::RuleField::kListPattern)),
            "<dd.*?><a href=\"(.*?)\">(.*?)</a></dd>");

  ASSERT_TRUE(program->FetchChapters());
  ASSERT_EQ(table().RowCount(), 5);
  for (int r = 0; r < 5; ++r) {
    SCOPED_TRACE(r);
    EXPECT_EQ(table().CellText(r, qv::kColNumber), qv::Decimal(r + 1));
    EXPECT_EQ(table().CellText(r, qv::kColTitle), G(ChapterTitle(r + 1)));
    EXPECT_EQ(table().CellText(r, qv::kColLink), std::to_string(r + 1) + ".html");
    EXPECT_EQ(Status(r), G("等待下载"));
    EXPECT_EQ(table().CheckState(r), 1);
  }
  EXPECT_TRUE(program->window().chapterView()->isColumnHidden(qv::kColLink));
  EXPECT_EQ(program->Text("标签_书名"), G("天玄记"));
  EXPECT_EQ(program->Text("标签_作者"), G("张三"));
  EXPECT_EQ(program->Text("编辑框_尾行"), "5");
  EXPECT_EQ(program->Text("编辑框_相对网址"), site->Base() + "book/");
  EXPECT_EQ(program->Text("标签4"), G("小说章节名获取成功，请点击下载章节内容！"));
  ASSERT_EQ(notices->Seen().size(), 1u);
  EXPECT_EQ(notices->Seen()[0].title, Shown("提示"));
  EXPECT_EQ(notices->Seen()[0].text, Shown("小说章节名获取完毕\r\n(3秒后自动关闭)"));
  EXPECT_EQ(notices->Seen()[0].icon, QMessageBox::Information);

  EXPECT_TRUE(program->Enabled("按钮_下载章节内容"));
  EXPECT_TRUE(program->Enabled("按钮_获取章节标题"));
  EXPECT_TRUE(program->RuleWindowEnabled());
  EXPECT_FALSE(program->Enabled("按钮_暂停继续"));
  EXPECT_FALSE(program->Enabled("按钮_停止"));
  EXPECT_EQ(site->Requests("/book/index.html"), 1);
}

TEST_F(E2eTest, AFullRunWithAutoMergeWritesTheBookAndSaysSoUntilAnswered) {
  Open(3);
  FetchBook();
  ASSERT_TRUE(program->Checked("选择框_合并"));
  // Held past the three seconds after which the fetch's notices close themselves.
  notices->SetHold(3300);
  Download();

  ASSERT_EQ(notices->Seen().size(), 1u);
  const SeenNotice& done = notices->Seen()[0];
  EXPECT_EQ(done.title, Shown("提示"));
  EXPECT_EQ(done.text, Shown("整本小说下载完毕"));
  EXPECT_EQ(done.icon, QMessageBox::Information);
  EXPECT_EQ(done.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_TRUE(done.answered);  // it was still open: no time-out
  EXPECT_EQ(program->Text("标签4"), G("整本小说下载完毕"));

  for (int n = 1; n <= 3; ++n) ExpectSaved(n);
  EXPECT_EQ(FileUtf8(kBookPath),
            "第1章 初入江湖\r\n    第1章的第一段。\r\n    第二段：山风吹过天玄峰。\r\n\r\n"
            "第2章 夜雨孤灯\r\n    第2章的第一段。\r\n    第二段：山风吹过天玄峰。\r\n\r\n"
            "第3章 山门试剑\r\n    第3章的第一段。\r\n    第二段：山风吹过天玄峰。");
  EXPECT_FALSE(FileExists(std::string(kBookPath) + ".part"));
  ExpectIdleControls();
  EXPECT_TRUE(program->Checked("选择框_合并"));
  EXPECT_FALSE(program->Enabled("按钮_合并"));
  auto* progress = program->Find<QProgressBar>("进度条1");
  EXPECT_EQ(progress->value(), 3);
  EXPECT_EQ(progress->maximum(), 3);
  for (int n = 1; n <= 3; ++n) EXPECT_EQ(site->Requests(n), 1);
}

TEST_F(E2eTest, WithoutAutoMergeTheRunReportsAndTheMergeButtonJoinsTheBook) {
  Open(3);
  FetchBook();
  program->Click("选择框_合并");
  ASSERT_FALSE(program->Checked("选择框_合并"));
  EXPECT_TRUE(program->Enabled("按钮_合并"));
  Download();

  EXPECT_EQ(program->Text("标签4"),
            G("有0个章节的内容下载失败，请点击继续下载，或直接手动合并小说"));
  ASSERT_EQ(notices->Seen().size(), 1u);
  EXPECT_EQ(notices->Seen()[0].title, Shown("提示"));
  EXPECT_EQ(notices->Seen()[0].text, Shown("章节内容已下载完毕"));
  EXPECT_EQ(notices->Seen()[0].icon, QMessageBox::Information);
  for (int n = 1; n <= 3; ++n) ExpectSaved(n);
  EXPECT_FALSE(FileExists(kBookPath));
  ExpectIdleControls();
  EXPECT_FALSE(program->Checked("选择框_合并"));
  EXPECT_TRUE(program->Enabled("按钮_合并"));

  notices->Clear();
  program->Click("按钮_合并");
  EXPECT_EQ(FileUtf8(kBookPath), WholeBook());
  EXPECT_EQ(program->Text("标签4"), G("整本小说下载完毕"));
  ASSERT_EQ(notices->Texts(), std::vector<QString>{Shown("整本小说下载完毕")});
  EXPECT_TRUE(program->Enabled("按钮_合并"));
}

TEST_F(E2eTest, ThreeFailuresWithAutoMergeLeaveTheBookUnmergedAndTheMergeButtonOn) {
  Open(5);
  for (int n : {2, 3, 5}) site->SetEmpty(n);
  FetchBook();
  Download();

  for (int n : {1, 4}) ExpectSaved(n);
  for (int n : {2, 3, 5}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(Status(n - 1), G("失败3次：HTTP 404"));
    EXPECT_EQ(table().CheckState(n - 1), 1);
    EXPECT_EQ(site->Requests(n), 3);
    EXPECT_FALSE(FileExists(ChapterPath(n)));
  }
  EXPECT_EQ(program->Text("标签4"),
            G("有3个章节的内容下载失败，请点击继续下载，或直接手动合并小说"));
  EXPECT_TRUE(notices->Seen().empty());
  EXPECT_FALSE(FileExists(kBookPath));
  EXPECT_FALSE(program->Checked("选择框_合并"));
  EXPECT_TRUE(program->Enabled("选择框_合并"));
  EXPECT_TRUE(program->Enabled("按钮_合并"));
  ExpectIdleControls();
}

// A run against a site that misbehaves in several ways: the failed rows stay checked with their
// reasons, no book is written and the whole book is not announced.
TEST_F(E2eTest, AMixedRunKeepsTheFailedRowsCheckedWithTheirReasonsAndMakesNoBook) {
  Open(5);
  site->SetEmpty(2);  // 404
  site->Serve("/book/3.html", SiteAnswer{.body = "busy", .status = 503});
  site->Serve("/book/4.html", G("<html><body>访问过于频繁，请稍后再试</body></html>"));
  FetchBook();
  ASSERT_TRUE(program->Checked("选择框_合并"));
  Download();

  for (int n : {1, 5}) ExpectSaved(n);
  const std::pair<int, const char*> failed[] = {
      {2, "失败3次：HTTP 404"}, {3, "失败3次：HTTP 503"}, {4, "失败3次：未找到正文"}};
  for (const auto& [n, status] : failed) {
    SCOPED_TRACE(n);
    EXPECT_EQ(Status(n - 1), G(status));
    EXPECT_EQ(table().CheckState(n - 1), 1);
    EXPECT_FALSE(FileExists(ChapterPath(n)));
  }
  EXPECT_EQ(program->Text("标签4"),
            G("有3个章节的内容下载失败，请点击继续下载，或直接手动合并小说"));
  EXPECT_FALSE(FileExists(kBookPath));
  for (const QString& text : notices->Texts()) EXPECT_NE(text, Shown("整本小说下载完毕"));
}

// A failed chapter-list fetch shows its reason and leaves nothing to download; an address
// without a rule fetches nothing and says how to add one.
TEST_F(E2eTest, AFailedListFetchAndAnAddressWithoutARule) {
  Open(3);
  site->Serve("/book/index.html", SiteAnswer{.body = "<h1>404 Not Found</h1>", .status = 404});
  program->TypeAddress(site->IndexAddress());
  ASSERT_TRUE(program->FetchChapters());
  EXPECT_EQ(program->Text("标签4"), G("章节获取失败：HTTP 404"));
  EXPECT_EQ(program->Text("标签_书名"), "");
  EXPECT_EQ(table().RowCount(), 0);
  EXPECT_FALSE(program->Enabled("按钮_下载章节内容"));

  const int before = site->TotalRequests();
  program->TypeAddress("http://127.0.0.2:1/book/index.html");
  EXPECT_EQ(program->Text("标签4"), G("未找到此网站的下载规则，请自行增加规则"));
  notices->Clear();
  program->Click("按钮_获取章节标题");
  EXPECT_EQ(program->Text("标签4"), G("没有此网站的下载规则：请在规则设定中增加规则"));
  ASSERT_EQ(notices->Seen().size(), 1u);
  EXPECT_EQ(notices->Seen()[0].text, Shown("没有此网站的下载规则：请在规则设定中增加规则"));
  EXPECT_EQ(site->TotalRequests(), before);
  EXPECT_FALSE(program->Enabled("按钮_下载章节内容"));
}

TEST_F(E2eTest, PauseAndResumeOnTheRealButtonHoldAndReleaseThePool) {
  // More chapters than the pool has workers, so some wait in the queue at the pause.
  Open(40);
  FetchBook();
  site->HoldChapters(true);
  std::vector<Text> captions;
  int atPause = -1;
  int afterWait = -1;
  Clock::time_point pausedAt;
  Script script;
  script.Then([&] { return site->Held() >= 5; },
              [&] {
                captions.push_back(program->Text("按钮_暂停继续"));
                program->Click("按钮_暂停继续");
                captions.push_back(program->Text("按钮_暂停继续"));
                site->OpenGate();  // the chapters under way finish while paused
              });
  script.Then([&] { return site->Held() == 0 && qv::DownloadPool().BusyCount() == 0; },
              [&] {
                atPause = site->ChapterRequests();
                pausedAt = Clock::now();
              });
  script.Then([&] { return Clock::now() - pausedAt >= 300ms; },
              [&] {
                afterWait = site->ChapterRequests();
                program->Click("按钮_暂停继续");
                captions.push_back(program->Text("按钮_暂停继续"));
              });
  Download();

  ASSERT_TRUE(script.Done());
  EXPECT_EQ(captions, (std::vector<Text>{G("暂停"), G("继续"), G("暂停")}));
  EXPECT_EQ(afterWait, atPause);  // no chapter began while paused
  EXPECT_GE(atPause, 5);
  EXPECT_LT(atPause, 40);
  for (int n = 1; n <= 40; ++n) ExpectSaved(n);
  EXPECT_EQ(notices->Texts(), std::vector<QString>{Shown("整本小说下载完毕")});
  ExpectIdleControls();
}

TEST_F(E2eTest, StopDropsTheQueueAndLaterRunsRestartThenReuseThePool) {
  Open(40);
  FetchBook();
  site->HoldChapters(true);
  bool stopped = false;
  Script script;
  script.Then([&] { return site->Held() >= 5; },
              [&] {
                program->Click("按钮_停止");
                stopped = true;
                site->OpenGate();  // the chapters under way finish
              });
  Download();

  ASSERT_TRUE(stopped);
  int fetched = 0;
  for (int n = 1; n <= 40; ++n) {
    ASSERT_LE(site->Requests(n), 1) << n;
    if (site->Requests(n) == 1) {
      ++fetched;
      ExpectSaved(n);
    } else {
      ExpectUntouched(n);
    }
  }
  EXPECT_GE(fetched, 5);
  EXPECT_LT(fetched, 40);
  // No finish step: no notice, no book; the status says the run stopped, with its counts.
  EXPECT_TRUE(notices->Seen().empty());
  EXPECT_FALSE(FileExists(kBookPath));
  EXPECT_EQ(program->Text("标签4"),
            G("已停止：已下载 ") + qv::Decimal(fetched) + G(" 个章节，失败 0 个"));
  ExpectIdleControls();
  ASSERT_TRUE(QTest::qWaitFor(
      [] { return qv::DownloadPool().CurrentState() == qv::ThreadPool::kStopped; }, 5000));

  // The next run starts the stopped pool again and fetches exactly the rows still checked.
  site->HoldChapters(false);
  Download();
  for (int n = 1; n <= 40; ++n) {
    EXPECT_EQ(site->Requests(n), 1) << n;
    ExpectSaved(n);
  }
  EXPECT_EQ(notices->Texts(), std::vector<QString>{Shown("整本小说下载完毕")});
  EXPECT_EQ(FileUtf8(kBookPath), WholeBook());
  ASSERT_TRUE(qv::DownloadPool().IsRunning());

  // After a completed run the pool still runs, and the next run works on it as it is.
  notices->Clear();
  program->Click("按钮_全选");
  bool leftRunning = true;
  Script watch;
  watch.Then([&] { return !program->Enabled("按钮_下载章节内容"); },
             [&] { leftRunning = qv::DownloadPool().IsRunning(); });
  Download();
  EXPECT_TRUE(watch.Done());
  EXPECT_TRUE(leftRunning);
  EXPECT_TRUE(qv::DownloadPool().IsRunning());
  for (int n = 1; n <= 40; ++n) {
    EXPECT_EQ(site->Requests(n), 2) << n;
    ExpectSaved(n);
  }
  EXPECT_EQ(notices->Texts(), std::vector<QString>{Shown("整本小说下载完毕")});
}

// An address of another site typed during a run shows that site's rule: other markers, page
// capture on. The run goes on with the rule it started with and saves every chapter whole.
TEST_F(E2eTest, AnAddressTypedDuringARunLeavesTheRunWithTheRuleItStartedWith) {
  Open(3);
  FetchBook();
  site->HoldChapters(true);
  Script script;
  script.Then([&] { return site->Held() >= 3; },
              [&] {
                program->TypeAddress("http://book.2345.com/book/1.html");
                site->OpenGate();
              });
  Download();

  ASSERT_TRUE(script.Done());
  qv::RuleWindow* rules = qv::RuleWindowOf(program->window());
  ASSERT_NE(rules, nullptr);
  EXPECT_EQ(qv::WidgetText(rules->FieldBox(qv::RuleField::kSite)), "http://book.2345.com/");
  EXPECT_TRUE(program->Checked("选择框_页面抓取"));
  for (int n = 1; n <= 3; ++n) ExpectSaved(n);
  EXPECT_EQ(notices->Texts(), std::vector<QString>{Shown("整本小说下载完毕")});
  EXPECT_EQ(FileUtf8(kBookPath), WholeBook());
}

TEST_F(E2eTest, TheRowToolsAndTheFetchAreOffDuringARunAndOnAfter) {
  Open(6);
  FetchBook();
  site->HoldChapters(true);
  std::vector<Text> titlesBefore;
  for (int r = 0; r < 6; ++r) titlesBefore.push_back(table().CellText(r, qv::kColTitle));
  const char* locked[] = {"按钮_删除选择", "按钮_上移", "按钮_下移", "按钮_获取章节标题",
                          "按钮_下载章节内容", "选择框_页面抓取"};
  std::vector<bool> lockedEnabled;
  bool pauseOn = false, stopOn = false, mergeCheckOn = false, ruleWindowOn = true;
  InputBoxAnswerer inputs;
  Script script;
  script.Then([&] { return site->Held() >= 1; },
              [&] {
                for (const char* name : locked) lockedEnabled.push_back(program->Enabled(name));
                pauseOn = program->Enabled("按钮_暂停继续");
                stopOn = program->Enabled("按钮_停止");
                mergeCheckOn = program->Enabled("选择框_合并");
                ruleWindowOn = program->RuleWindowEnabled();
                // Pressed all the same: nothing moves, nothing goes, no fetch starts.
                program->window().chapterView()->selectRow(2);
                for (const char* name : {"按钮_上移", "按钮_下移", "按钮_删除选择",
                                         "按钮_获取章节标题"}) {
                  program->Click(name);
                }
                site->OpenGate();
              });
  Download();

  ASSERT_TRUE(script.Done());
  EXPECT_EQ(inputs.shown, 0);
  EXPECT_EQ(lockedEnabled, std::vector<bool>(6, false));
  EXPECT_TRUE(pauseOn);
  EXPECT_TRUE(stopOn);
  EXPECT_TRUE(mergeCheckOn);
  EXPECT_FALSE(ruleWindowOn);
  ASSERT_EQ(table().RowCount(), 6);
  for (int r = 0; r < 6; ++r) EXPECT_EQ(table().CellText(r, qv::kColTitle), titlesBefore[r]);
  EXPECT_EQ(site->Requests("/book/index.html"), 1);
  for (int n = 1; n <= 6; ++n) ExpectSaved(n);
  ExpectIdleControls();

  // Working again: the highlighted row moves up by the one row the tool asks for.
  program->window().chapterView()->clearSelection();
  program->window().chapterView()->selectRow(2);
  program->Click("按钮_上移");
  EXPECT_EQ(inputs.shown, 1);
  EXPECT_EQ(table().CellText(1, qv::kColTitle), titlesBefore[2]);
  EXPECT_EQ(table().CellText(2, qv::kColTitle), titlesBefore[1]);
}

TEST_F(E2eTest, ADoubleClickOnADownloadedRowOpensItsChapterFile) {
  Open(3);
  site->SetEmpty(2);
  FetchBook();
  Download();
  ASSERT_EQ(Status(0), G("下载完毕"));
  ASSERT_EQ(Status(1), G("失败3次：HTTP 404"));

  UrlCatcher catcher;
  QTableView* view = program->window().chapterView();
  auto doubleClick = [&](int row, int column) {
    const QModelIndex index = view->model()->index(row, column);
    view->scrollTo(index);
    // As a mouse sends it: press, release, then the second press as a double-click.
    const QPoint at = view->visualRect(index).center();
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at);
  };
  auto urlOf = [&](int n) {
    return QUrl::fromLocalFile(
        QString::fromStdString((dir_ / qv::FsPath(G(ChapterPath(n)))).string()));
  };

  doubleClick(0, qv::kColTitle);
  ASSERT_EQ(catcher.opened.size(), 1u);
  EXPECT_EQ(catcher.opened[0], urlOf(1));
  EXPECT_EQ(catcher.opened[0].toLocalFile().toStdString(), (dir_ / "天玄记" / "1.txt").string());
  doubleClick(0, qv::kColNumber);  // the check-box column opens nothing
  doubleClick(1, qv::kColTitle);   // given up: no file
  EXPECT_EQ(catcher.opened.size(), 1u);
  doubleClick(2, qv::kColStatus);
  ASSERT_EQ(catcher.opened.size(), 2u);
  EXPECT_EQ(catcher.opened[1], urlOf(3));
}

TEST_F(E2eTest, ClosingTheWindowMidRunDropsTheQueueAndWaitsForTheRunningChapters) {
  Open(30);
  FetchBook();
  site->HoldChapters(true);
  bool closed = false;
  bool idleAfterClose = false;
  std::vector<Text> statusAfterClose;
  Script script;
  // Closing asks first; the user says yes, stop.
  notices->AnswerWith(QMessageBox::Yes);
  script.Then([&] { return site->Held() >= 5; },
              [&] {
                // The held chapters are let through while the close waits for them.
                QTimer::singleShot(300, [&] { site->OpenGate(); });
                program->window().close();
                closed = true;
                idleAfterClose = qv::DownloadPool().IsIdle();
                for (int r = 0; r < 30; ++r) statusAfterClose.push_back(Status(r));
              });
  Download();

  ASSERT_TRUE(closed);
  EXPECT_FALSE(program->window().isVisible());
  EXPECT_TRUE(idleAfterClose);
  int fetched = 0;
  for (int n = 1; n <= 30; ++n) {
    ASSERT_LE(site->Requests(n), 1) << n;
    if (site->Requests(n) == 1) {
      ++fetched;
      EXPECT_EQ(statusAfterClose[n - 1], G("下载完毕")) << n;  // saved before the close ended
      ExpectSaved(n);
    } else {
      ExpectUntouched(n);
    }
  }
  EXPECT_GE(fetched, 5);
  EXPECT_LT(fetched, 30);
  // The one question, answered yes.
  ASSERT_EQ(notices->Seen().size(), 1u);
  EXPECT_EQ(notices->Seen()[0].buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_TRUE(notices->Seen()[0].answered);
  notices->Clear();
  notices->AnswerWith(QMessageBox::NoButton);
  EXPECT_FALSE(FileExists(kBookPath));

  // The program-level objects outlive the window and serve the next one.
  ASSERT_TRUE(qv::ProcessObjectsExist());
  EXPECT_NE(qv::TheDownloadState().failedCount, nullptr);
  EXPECT_NE(qv::TheDownloadState().countLock, nullptr);
  EXPECT_TRUE(qv::DownloadPool().IsIdle());
  program.reset();
  program = std::make_unique<ProgramWindow>();
  site->HoldChapters(false);
  FetchBook();
  Download();
  for (int n = 1; n <= 30; ++n) ExpectSaved(n);
  EXPECT_EQ(FileUtf8(kBookPath), WholeBook());
  EXPECT_EQ(notices->Texts(), std::vector<QString>{Shown("整本小说下载完毕")});
}

TEST_F(E2eTest, ClosingTheWindowWhileTheListFetchWaitsOnASilentServerEndsIt) {
  Open(3);
  site->Silence("/book/silent.html");
  program->TypeAddress(site->Base() + "book/silent.html");
  program->Click("按钮_获取章节标题");
  ASSERT_TRUE(QTest::qWaitFor([&] { return site->Held() == 1; }, 5000));
  ASSERT_TRUE(program->session().fetch().Running());

  const auto t0 = Clock::now();
  program->window().close();
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0);
  RecordProperty("close_ms", static_cast<int>(took.count()));

  EXPECT_FALSE(program->session().fetch().Running());
  // The server still holds the request: the close ended the transfer, no answer or time-out.
  EXPECT_EQ(site->Held(), 1);
  // Nothing reached the closed window: no notice, the fetch's texts as the press left them.
  QTest::qWait(100);
  EXPECT_TRUE(notices->Seen().empty());
  EXPECT_EQ(program->Text("标签4"), G("正在获取小说章节名，请稍等..."));
  // The fetch button still offers to cancel, as the press left it.
  EXPECT_EQ(program->Text("按钮_获取章节标题"), G("取消"));
  program.reset();
  // Closing ends every later transfer of the process too; the tests go on fetching.
  qv::ResumeFetchesForTesting();
}

TEST_F(E2eTest, ACancelledFetchLeavesTheTableEmptyAndTheButtonsIdle) {
  Open(3);
  site->Silence("/book/silent.html");
  program->TypeAddress(site->Base() + "book/silent.html");
  // Enter in the address box fetches, as the button does.
  QTest::keyClick(program->Find("编辑框_章节列表网址"), Qt::Key_Return);
  ASSERT_TRUE(QTest::qWaitFor([&] { return site->Held() == 1; }, 5000));
  ASSERT_TRUE(program->session().fetch().Running());
  // While it runs the button offers to cancel and the bar is busy.
  EXPECT_EQ(program->Text("按钮_获取章节标题"), G("取消"));
  EXPECT_TRUE(program->Enabled("按钮_获取章节标题"));
  EXPECT_EQ(program->Find<QProgressBar>("进度条1")->maximum(), 0);
  // Enter again does not cancel it.
  QTest::keyClick(program->Find("编辑框_章节列表网址"), Qt::Key_Return);
  EXPECT_TRUE(program->session().fetch().Running());

  program->Click("按钮_获取章节标题");
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return !program->session().fetch().Running() && program->Text("按钮_获取章节标题") == G("获取章节标题"); },
      5000));
  EXPECT_EQ(table().RowCount(), 0);
  EXPECT_EQ(program->Text("标签_书名"), "");
  EXPECT_EQ(program->Text("编辑框_相对网址"), "");
  EXPECT_EQ(program->Text("标签4"), G("已取消获取章节列表"));
  EXPECT_TRUE(program->Enabled("按钮_获取章节标题"));
  EXPECT_TRUE(program->RuleWindowEnabled());
  EXPECT_EQ(program->Find<QProgressBar>("进度条1")->maximum(), 1);
  EXPECT_TRUE(notices->Seen().empty());  // a cancel is no failure
  // The server still holds the request: the transfer was ended by the cancel, not answered.
  EXPECT_EQ(site->Held(), 1);

  // The next fetch works as ever.
  FetchBook();
  EXPECT_EQ(table().RowCount(), 3);
}

TEST_F(E2eTest, CtrlZUndoesARowDeleteOnceAndAFetchForgetsIt) {
  Open(6);
  FetchBook();
  QTableView* view = program->window().chapterView();
  table().SetHighlight(1, true);
  table().SetHighlight(3, true);
  QApplication::setActiveWindow(&program->window());
  view->setFocus();
  QTest::keyClick(view, Qt::Key_Delete);
  ASSERT_EQ(table().RowCount(), 4);
  EXPECT_EQ(table().CellText(1, qv::kColTitle), G(ChapterTitle(3)));
  table().SetCheckState(0, qv::kUnchecked);  // changed after the delete: the undo puts back the rows before it
  QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
  ASSERT_EQ(table().RowCount(), 6);
  for (int r = 0; r < 6; ++r) {
    EXPECT_EQ(table().CellText(r, qv::kColNumber), std::to_string(r + 1));
    EXPECT_EQ(table().CellText(r, qv::kColTitle), G(ChapterTitle(r + 1)));
    EXPECT_EQ(table().CheckState(r), 1);
  }
  // Once only.
  EXPECT_FALSE(program->session().UndoRowEdit());
  // A fetch forgets the edit before it.
  table().SetHighlight(0, true);
  program->Click("按钮_删除选择");
  EXPECT_TRUE(program->session().CanUndo());
  FetchBook();
  EXPECT_FALSE(program->session().CanUndo());
  EXPECT_EQ(table().RowCount(), 6);
}

TEST_F(E2eTest, ADownloadIntoAChosenFolderLandsThere) {
  Open(3);
  const fs::path folder = dir_ / "书库";
  fs::create_directories(folder);
  qv::MainWindow::SetFolderPickerForTesting(
      [&](QWidget*, const QString&) { return QString::fromStdString(folder.string()); });
  program->Click("按钮_保存到");
  qv::MainWindow::SetFolderPickerForTesting({});
  FetchBook();
  Download();
  for (int n = 1; n <= 3; ++n) {
    EXPECT_EQ(FileUtf8((folder / ChapterPath(n)).string()), ChapterFileText(n)) << n;
    EXPECT_FALSE(FileExists(ChapterPath(n))) << n;  // nothing beside the program
  }
  EXPECT_TRUE(FileExists((folder / kBookPath).string()));
  EXPECT_FALSE(FileExists(kBookPath));
  EXPECT_EQ(notices->Texts(), std::vector<QString>{Shown("整本小说下载完毕")});
}

TEST_F(E2eTest, ClosingMidRunAndAnsweringNoKeepsTheRunGoing) {
  Open(6);
  FetchBook();
  site->SetChapterDelay(100);
  bool stillOpen = false;
  Script script;
  script.Then([&] { return site->ChapterRequests() >= 1; },
              [&] { stillOpen = !program->window().close() && program->window().isVisible(); });
  Download();  // the notice log answers the question with its default: No
  EXPECT_TRUE(stillOpen);
  ASSERT_GE(notices->Seen().size(), 1u);
  EXPECT_EQ(notices->Seen()[0].buttons, QMessageBox::Yes | QMessageBox::No);
  for (int n = 1; n <= 6; ++n) ExpectSaved(n);
}

}  // namespace
}  // namespace qvtest
