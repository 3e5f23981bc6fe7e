// Page capture through the real browser engine, offscreen, against the local test site: the
// browser on its own (lazy view, stale loads, addresses), the download engine's capture loop
// over it where only a real engine shows the behaviour (text written by scripts, pages that
// never finish loading, decoding, the view made on first use), and the real main window. The
// capture loop's rules (the length limit, retries, pause and stop) are tested with the
// in-memory browser in the download tests.
#include <QCoreApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>

#include "gui/box_text.h"
#include "gui/main_window.h"
#include "gui/notices.h"
#include "gui/web_page_browser.h"
#include "shell/memory_ports.h"
#include "download/download_engine.h"
#include "download/download_state.h"
#include "test_site.h"
#include "text/encoding.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qv::Ctl;
using qv::Text;

Text G(const std::string& utf8) { return qv::Utf8ToGbk(utf8); }

// Handles events until done() or the limit; true when done.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    QEventLoop loop;
    QTimer::singleShot(1, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

void PumpFor(std::chrono::milliseconds span) {
  PumpUntil([] { return false; }, span);
}

std::string FileUtf8(const Text& gbkPath) {
  std::ifstream in(qv::FsPath(gbkPath), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return qv::GbkToUtf8(bytes);
}

// A JavaScript string literal of UTF-8 text (no quotes or backslashes in the tests' texts
// except line ends).
std::string JsLiteral(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out + "'";
}

// The markers of the rule 2345小说（仅测试）.
const std::string kLeft = "正在玩命为您加载中，请稍后！";
const std::string kRight = "上一章";

// A chapter page whose body between the markers is empty in the HTML and written by a script
// once the page has loaded. `extra` goes into the page's head (UTF-8).
std::string ScriptedPageUtf8(const std::string& body, const std::string& extra = "") {
  return "<html><head><title>章节</title>" + extra +
         "</head><body><div>首页 &gt; 目录</div>"
         "<div>" + kLeft + "<span id=\"c\" style=\"white-space:pre\"></span>" + kRight +
         " 下一章</div>"
         "<script>window.addEventListener('load', function () {"
         " document.getElementById('c').textContent = " + JsLiteral(body) + "; });</script>"
         "</body></html>";
}

// The same page served in GBK, as the sites of the rule do.
qvtest::SiteAnswer Scripted(const std::string& body) {
  return {qv::Utf8ToGbk(ScriptedPageUtf8(body))};
}

// Its start only: the body never ends, so the page never finishes loading.
qvtest::SiteAnswer Hanging(const std::string& body) {
  std::string page = ScriptedPageUtf8(body);
  page.resize(page.find("</body>"));
  // Written by the HTML itself, not by the script, so it shows while loading.
  page += "<div>" + kLeft + body + kRight + "</div>";
  return {qv::Utf8ToGbk(page), "text/html; charset=gbk", true};
}

// The browser's own behaviour: the view made on first use, reports of the latest load only.
class BrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host = std::make_unique<QWidget>();
    new QVBoxLayout(host.get());
    host->setEnabled(false);
    host->hide();
    browser = std::make_unique<qv::WebEnginePageBrowser>(host.get());
    browser->SetLoadFinishedHandler([this] { ++reports; });
  }
  void TearDown() override {
    browser.reset();
    host.reset();
  }

  Text Url(const std::string& path) { return site.Base() + path; }
  // Navigates and waits for the report.
  bool Load(const std::string& path) {
    const int before = reports;
    browser->Navigate(Url(path));
    return PumpUntil([&] { return reports > before; });
  }

  TestSite site;
  std::unique_ptr<QWidget> host;
  std::unique_ptr<qv::WebEnginePageBrowser> browser;
  int reports = 0;
};

// An error status of the page is reported as its load problem, even when the error page shows
// the chapter's text; a page that loads well has none.
TEST_F(BrowserTest, AnErrorStatusIsTheLoadProblem) {
  qvtest::SiteAnswer gone = Scripted("错误页里的正文");
  gone.status = 404;
  site.Set("gone.html", {gone});
  site.Set("ok.html", {Scripted("正文")});
  ASSERT_TRUE(Load("gone.html"));
  EXPECT_EQ(browser->LoadProblem(), "HTTP 404");
  ASSERT_TRUE(Load("ok.html"));
  EXPECT_EQ(browser->LoadProblem(), "");
}

TEST_F(BrowserTest, TheViewIsMadeOnFirstNavigationInsideTheHiddenDisabledContainer) {
  EXPECT_EQ(browser->View(), nullptr);
  EXPECT_EQ(browser->PageText(), "");
  browser->StopLoading();
  EXPECT_EQ(browser->View(), nullptr);
  EXPECT_TRUE(host->findChildren<QWebEngineView*>().empty());

  site.Set("a.html", {Scripted("脚本写出的正文")});
  ASSERT_TRUE(Load("a.html"));
  QWebEngineView* view = browser->View();
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->parentWidget(), host.get());
  EXPECT_FALSE(view->isVisible());
  EXPECT_FALSE(host->isVisible());
  EXPECT_FALSE(host->isEnabled());
  EXPECT_EQ(browser->PageText(),
            G("首页 > 目录\r\n" + kLeft + "脚本写出的正文" + kRight + " 下一章"));
  // One view for every later navigation.
  ASSERT_TRUE(Load("a.html"));
  EXPECT_EQ(browser->View(), view);
  EXPECT_EQ(host->findChildren<QWebEngineView*>().size(), 1u);
}

TEST_F(BrowserTest, AStoppedOrSupersededLoadNeverReportsAsTheNextPage) {
  site.Set("hang.html", {Hanging("挂起页面的正文")});
  site.Set("one.html", {Scripted("第一页的正文")});
  site.Set("two.html", {Scripted("第二页的正文")});

  // Stopped, then the next page: one report, the next page's text.
  browser->Navigate(Url("hang.html"));
  ASSERT_TRUE(PumpUntil([&] { return site.OpenHangs() == 1; }));
  browser->StopLoading();
  EXPECT_EQ(reports, 0);
  ASSERT_TRUE(Load("one.html"));
  PumpFor(300ms);
  EXPECT_EQ(reports, 1);
  EXPECT_NE(browser->PageText().find(G("第一页的正文")), std::string::npos);

  // Superseded while loading: the same.
  browser->Navigate(Url("hang.html"));
  ASSERT_TRUE(PumpUntil([&] { return site.Requests("hang.html") == 2; }));
  ASSERT_TRUE(Load("two.html"));
  PumpFor(300ms);
  EXPECT_EQ(reports, 2);
  EXPECT_NE(browser->PageText().find(G("第二页的正文")), std::string::npos);

  // Stopped and the same address again (a retry): the retry's load is the one reported.
  site.Set("retry.html", {Hanging("第一次挂起"), Scripted("重试时加载完的正文")});
  browser->Navigate(Url("retry.html"));
  ASSERT_TRUE(PumpUntil([&] { return site.Requests("retry.html") == 1; }));
  PumpFor(200ms);  // the hanging page shows its start
  browser->StopLoading();
  ASSERT_TRUE(Load("retry.html"));
  PumpFor(300ms);
  EXPECT_EQ(reports, 3);
  const Text text = browser->PageText();
  EXPECT_NE(text.find(G("重试时加载完的正文")), std::string::npos);
  EXPECT_EQ(text.find(G("第一次挂起")), std::string::npos);
}

TEST_F(BrowserTest, AFailedLoadGivesNoTextNotThePreviousPage) {
  site.Set("one.html", {Scripted("上一页的正文")});
  ASSERT_TRUE(Load("one.html"));
  ASSERT_NE(browser->PageText(), "");

  // Nothing listens on port 1 of 127.0.0.1.
  const int before = reports;
  browser->Navigate("http://127.0.0.1:1/c.html");
  ASSERT_TRUE(PumpUntil([&] { return reports > before; }));
  EXPECT_EQ(browser->PageText(), "");

  // Addresses the browser does not load finish at once, empty, from the event loop.
  for (const char* address : {"file:///etc/hostname", "javascript:alert(1)", ""}) {
    SCOPED_TRACE(address);
    const int n = reports;
    browser->Navigate(address);
    EXPECT_EQ(reports, n);  // not inside Navigate
    ASSERT_TRUE(PumpUntil([&] { return reports > n; }, 2s));
    EXPECT_EQ(browser->PageText(), "");
  }
}

TEST_F(BrowserTest, ScriptDialogsAreAnsweredAndLineBreaksAreCrLf) {
  // A modal box from a hidden browser would stop the capture until someone closed it.
  site.Set("d.html", {{qv::Utf8ToGbk("<html><body><div>第一行</div><div>第二行</div><pre>甲\n乙</pre>"
                                    "<script>alert('广告'); confirm('确定?'); prompt('输入');"
                                    "</script></body></html>")}});
  ASSERT_TRUE(Load("d.html"));
  EXPECT_EQ(browser->PageText(), G("第一行\r\n第二行\r\n甲\r\n乙"));
}

TEST(BrowserAddress, UrlOfAddress) {
  const struct {
    const char* address;
    const char* url;  // empty: not loaded
  } cases[] = {
      {"http://www.example.com/1/2.html", "http://www.example.com/1/2.html"},
      {"HTTPS://Example.com:8443/a.html?x=1", "https://example.com:8443/a.html?x=1"},
      {"www.example.com/3.html", "http://www.example.com/3.html"},
      {"  http://a.test/b.html ", "http://a.test/b.html"},
      {"http://a.test/第一章.html", "http://a.test/%E7%AC%AC%E4%B8%80%E7%AB%A0.html"},
      {"file:///etc/passwd", ""},
      {"javascript:alert(1)", ""},
      {"ftp://a.test/x", ""},
      {"http://", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    const QUrl url = qv::WebEnginePageBrowser::UrlOfAddress(G(c.address));
    EXPECT_EQ(url.toString(QUrl::FullyEncoded).toStdString(), c.url);
  }
}

// The download engine's capture loop over the real browser. One browser for all of them, as in
// the program; the table and controls in memory, their pump handling the window's events.
class EngineCaptureTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    host_ = new QWidget;
    new QVBoxLayout(host_);
    host_->setEnabled(false);
    host_->hide();
    browser_ = new qv::WebEnginePageBrowser(host_);
  }
  static void TearDownTestSuite() {
    delete browser_;
    delete host_;
    browser_ = nullptr;
    host_ = nullptr;
  }

  void SetUp() override {
    oldCwd_ = fs::current_path();
    char pattern[] = "/tmp/qv_capture_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::current_path(dir_);
    qv::CreateProcessObjects();
    controls.SetText(Ctl::PauseButton, G("暂停"));
    controls.SetText(Ctl::TitleLabel, G("天玄记"));
    controls.SetText(Ctl::AuthorLabel, G("张三"));
    controls.SetText(Ctl::BaseAddressBox, site.Base());
    controls.SetText(Ctl::LeftMarkerBox, G(kLeft));
    controls.SetText(Ctl::RightMarkerBox, G(kRight));
    controls.SetChecked(Ctl::CaptureCheck, true);
    controls.SetChecked(Ctl::MergeCheck, false);
    controls.SetEnabled(Ctl::PauseButton, false);
    controls.SetEnabled(Ctl::StopButton, false);
    controls.SetWaitScale(0.001);
    OnPump({});
    engine = std::make_unique<qv::DownloadEngine>(table, controls, browser_);
  }

  void TearDown() override {
    OnPump({});
    engine.reset();
    qv::ExitCleanup();
    browser_->StopLoading();
    fs::current_path(oldCwd_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Every pump handles the window's events for a moment, in an event loop as the window's
  // waits do (a bare processEvents() leaves the browser engine's work waiting), then runs
  // `action` (not nested into itself).
  void OnPump(std::function<void()> action) {
    controls.SetPumpHook([this, action = std::move(action)] {
      PumpFor(1ms);
      if (!action || inAction_) return;
      inAction_ = true;
      action();
      inAction_ = false;
    });
  }

  // A checked row whose page the site answers with `answers`; returns its path.
  std::string AddRow(const std::string& title, std::vector<SiteAnswer> answers) {
    const std::string path = "c" + std::to_string(table.RowCount() + 1) + ".html";
    site.Set(path, std::move(answers));
    table.AppendChapter(qv::Decimal(table.RowCount() + 1), G(title), path, G("等待下载"), qv::kChecked);
    return path;
  }

  std::vector<Text> History(int row) { return table.StatusHistory(row); }
  static std::vector<Text> Texts(std::initializer_list<const char*> list) {
    std::vector<Text> out;
    for (const char* s : list) out.push_back(G(s));
    return out;
  }
  std::string Chapter(int row) { return FileUtf8(engine->ChapterFilePath(row)); }

  static QWidget* host_;
  static qv::WebEnginePageBrowser* browser_;
  TestSite site;
  qv::MemoryTable table;
  qv::MemoryControls controls;
  std::unique_ptr<qv::DownloadEngine> engine;
  fs::path dir_, oldCwd_;
  bool inAction_ = false;
};

QWidget* EngineCaptureTest::host_ = nullptr;
qv::WebEnginePageBrowser* EngineCaptureTest::browser_ = nullptr;

TEST_F(EngineCaptureTest, ABodyWrittenByScriptIsCapturedWhereTheHttpDownloadMissesIt) {
  const std::string body = "　　这一段正文由页面脚本在加载后写出。";
  AddRow("第一章 脚本", {Scripted(body)});
  engine->StartDownload();
  EXPECT_EQ(History(0), Texts({"等待下载", "正在下载", "下载完毕"}));
  EXPECT_EQ(Chapter(0), "第一章 脚本\r\n" + body);
  EXPECT_EQ(table.CheckState(0), 0);
  EXPECT_EQ(controls.GetText(Ctl::StatusLabel),
            G("有0个章节的内容下载失败，请点击继续下载，或直接手动合并小说"));

  // Over HTTP the same page has nothing between the markers but the empty element.
  controls.SetChecked(Ctl::CaptureCheck, false);
  table.SetCheckState(0, qv::kChecked);
  engine->StartDownload();
  EXPECT_EQ(table.CellText(0, qv::kColStatus), G("下载完毕"));
  EXPECT_EQ(Chapter(0).find("这一段正文"), std::string::npos);
  EXPECT_EQ(site.Requests("c1.html"), 2);
}

TEST_F(EngineCaptureTest, APageDeclaringUtf8GivesTheRightTextAndIsNotConvertedTwice) {
  const std::string body = "中文正文：甲乙丙丁戊己庚辛壬癸";
  // Served as UTF-8, declared in capitals, and the declaration also shows in the page's text,
  // which is what the capture looks at.
  const std::string declared =
      "<meta http-equiv=\"Content-Type\" content=\"text/html; CHARSET=UTF-8\">";
  std::string utf8Page = ScriptedPageUtf8(body, declared);
  utf8Page.insert(utf8Page.find("</body>"), "<div>编码 CHARSET=UTF-8</div>");
  AddRow("一", {{utf8Page, "text/html; charset=utf-8"}});
  // Served as GBK while its text names "charset=\"utf-8".
  std::string gbkPage = ScriptedPageUtf8(body);
  gbkPage.insert(gbkPage.find("</body>"), "<div>meta charset=\"utf-8\"</div>");
  AddRow("二", {{qv::Utf8ToGbk(gbkPage)}});
  engine->StartDownload();
  EXPECT_EQ(Chapter(0), "一\r\n" + body);
  EXPECT_EQ(Chapter(1), "二\r\n" + body);
  EXPECT_EQ(qv::TheDownloadState().failedCount->Get(), 0);
}

TEST_F(EngineCaptureTest, WithoutACheckedRowNothingChangesAndNoBrowserIsMade) {
  AddRow("一", {Scripted("第一章的正文，足够长了吧")});
  AddRow("二", {Scripted("第二章的正文，足够长了吧")});
  table.SetCheckState(0, qv::kUnchecked);
  table.SetCheckState(1, qv::kUnchecked);
  table.SetHighlight(1, true);
  // A browser of its own, never used before.
  QWidget host;
  new QVBoxLayout(&host);
  qv::WebEnginePageBrowser fresh(&host);
  engine.reset();
  engine = std::make_unique<qv::DownloadEngine>(table, controls, &fresh);
  const auto before = table.Snapshot();
  engine->PageCapture(table.RowCount());
  const auto after = table.Snapshot();
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < after.size(); ++i) {
    for (int c = 0; c < 4; ++c) EXPECT_EQ(after[i].cells[c], before[i].cells[c]);
    EXPECT_EQ(after[i].check, before[i].check);
    EXPECT_EQ(after[i].highlighted, before[i].highlighted);
  }
  EXPECT_EQ(site.TotalRequests(), 0);
  EXPECT_EQ(fresh.View(), nullptr);
  engine.reset();
}

TEST_F(EngineCaptureTest, APageThatNeverFinishesIsAShortAttemptAfterTheBoundedWait) {
  engine->SetPageWaitLimit(300ms);
  AddRow("慢", {Hanging("挂起页面里已经显示的正文，足够长了"), Scripted("第二次就加载完了的正文")});
  const std::string dead = AddRow("死", {Hanging("永远加载不完的页面里的正文，足够长了")});
  engine->StartDownload();
  EXPECT_EQ(History(0), Texts({"等待下载", "正在下载", "重试下载2", "下载完毕"}));
  EXPECT_EQ(Chapter(0), "慢\r\n第二次就加载完了的正文");
  EXPECT_EQ(History(1).back(), G("失败3次：页面加载超时"));
  EXPECT_EQ(site.Requests(dead), 5);
  EXPECT_EQ(qv::TheDownloadState().failedCount->Get(), 1);
}

// The real main window: its table and controls, the browser in 互联网浏览器1, the exit button.
TEST(WindowCapture, CapturesThroughTheMainWindowAndTheExitButtonStopsTheBrowser) {
  TestSite site;
  site.Set("c1.html", {Scripted("主窗口里抓取到的正文内容")});
  site.Set("hang.html", {Hanging("不会加载完的页面")});
  std::vector<Text> notices;
  qv::SetNoticeObserver([&](QMessageBox* box) {
    notices.push_back(qv::GbkFromQString(box->text()));
    QTimer::singleShot(0, box, [box] { box->accept(); });
  });

  qv::MainWindow window;
  QLineEdit left, right;  // the rule window's marker boxes
  window.controls().RegisterBox(Ctl::LeftMarkerBox, &left);
  window.controls().RegisterBox(Ctl::RightMarkerBox, &right);
  qv::Controls& c = window.controls();
  c.SetText(Ctl::LeftMarkerBox, G(kLeft));
  c.SetText(Ctl::RightMarkerBox, G(kRight));
  c.SetText(Ctl::TitleLabel, G("主窗口书"));
  c.SetText(Ctl::BaseAddressBox, site.Base());
  c.SetChecked(Ctl::CaptureCheck, true);
  c.SetChecked(Ctl::MergeCheck, false);
  window.table().AppendChapter("1", G("第一章"), "c1.html", G("等待下载"), qv::kChecked);
  window.show();

  std::unique_ptr<qv::PageBrowser> browser = qv::MakeLazyPageBrowser(window.browserHost());
  EXPECT_TRUE(window.browserHost()->findChildren<QWebEngineView*>().empty());
  {
    qv::DownloadEngine engine(window.table(), window.controls(), browser.get());
    engine.StartDownload();
    EXPECT_EQ(window.table().CellText(0, qv::kColStatus), G("下载完毕"));
    EXPECT_EQ(FileUtf8(engine.ChapterFilePath(0)), "第一章\r\n主窗口里抓取到的正文内容");
  }
  EXPECT_EQ(notices, std::vector<Text>{G("章节内容已下载完毕")});
  auto views = window.browserHost()->findChildren<QWebEngineView*>();
  ASSERT_EQ(views.size(), 1u);
  EXPECT_FALSE(views[0]->isVisible());
  EXPECT_FALSE(window.browserHost()->isVisible());
  EXPECT_FALSE(window.browserHost()->isEnabled());

  // A page still loading when the exit button is pressed: its load is stopped.
  std::vector<bool> ends;
  QObject::connect(views[0]->page(), &QWebEnginePage::loadFinished, views[0],
                   [&](bool ok) { ends.push_back(ok); });
  browser->Navigate(site.Base() + "hang.html");
  ASSERT_TRUE(PumpUntil([&] { return site.OpenHangs() == 1; }));
  PumpFor(200ms);
  EXPECT_TRUE(ends.empty());
  window.Find<QPushButton>("按钮_退出")->click();
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(PumpUntil([&] { return !ends.empty(); }, 5s));
  EXPECT_EQ(ends, std::vector<bool>{false});
  qv::SetNoticeObserver({});
  browser.reset();
  qv::ExitCleanup();
}

}  // namespace
}  // namespace qvtest
