// The chapter-list fetch of a 10,000-chapter page (or the first argument's number) into the
// real table view, shown offscreen, side by side with the in-memory table and with the regular
// expressions alone over the same text, in the same run. During the offscreen fill a 5 ms
// timer records the longest gap between its ticks: how long the window went without handling
// its events. Medians of 3 runs; the gap is the largest of them.
#include <QApplication>
#include <QEventLoop>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "gui/chapter_model.h"
#include "gui/qt_ports.h"
#include "gui/window_bridge.h"
#include "shell/memory_ports.h"
#include "test_site.h"
#include "text/regex_object.h"
#include "toc/chapter_list_fetch.h"
#include "toc_page.h"

namespace {

using Clock = std::chrono::steady_clock;
double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The real table, noting when the last chapter row was in.
class TimedQtTable : public qv::QtChapterTable {
 public:
  using QtChapterTable::QtChapterTable;
  void AppendChapter(const qv::Text& number, const qv::Text& title, const qv::Text& link,
                     const qv::Text& status, qv::CheckMark checkState) override {
    QtChapterTable::AppendChapter(number, title, link, status, checkState);
    last = Clock::now();
  }
  Clock::time_point last{};
};

class TimedMemoryTable : public qv::MemoryTable {
 public:
  void AppendChapter(const qv::Text& number, const qv::Text& title, const qv::Text& link,
                     const qv::Text& status, qv::CheckMark checkState) override {
    MemoryTable::AppendChapter(number, title, link, status, checkState);
    last = Clock::now();
  }
  Clock::time_point last{};
};

void SetPatterns(qv::Controls& c, const std::string& address) {
  c.SetText(qv::Ctl::AddressBox, address);
  c.SetText(qv::Ctl::ListPatternBox, qv::bench::ListPattern());
  c.SetText(qv::Ctl::TitlePatternBox, qv::bench::TitlePattern());
  c.SetText(qv::Ctl::AuthorPatternBox, qv::bench::AuthorPattern());
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int chapters = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
  constexpr int kRuns = 3;

  const qv::Text page = qv::bench::ChapterListPage(chapters);
  qvtest::TestSite site;
  site.Serve("/book/12/index.html", page);
  const std::string address = site.Address("/book/12/index.html");

  // A window with the table and every control the fetch reads or writes.
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* model = new qv::ChapterModel(&window);
  auto* view = new QTableView;
  view->setModel(model);
  view->verticalHeader()->hide();
  view->setColumnWidth(0, 70);
  view->setColumnWidth(1, 300);
  view->setColumnHidden(2, true);
  view->setColumnWidth(3, 80);
  layout->addWidget(view);
  qv::QtControls controls;
  for (qv::Ctl role : {qv::Ctl::AddressBox, qv::Ctl::BaseAddressBox, qv::Ctl::LastRowBox,
                       qv::Ctl::ListPatternBox, qv::Ctl::TitlePatternBox,
                       qv::Ctl::AuthorPatternBox}) {
    auto* box = new QLineEdit;
    layout->addWidget(box);
    controls.RegisterBox(role, box);
  }
  for (qv::Ctl role : {qv::Ctl::StatusLabel, qv::Ctl::TitleLabel, qv::Ctl::AuthorLabel}) {
    auto* label = new QLabel;
    layout->addWidget(label);
    controls.RegisterBox(role, label);
  }
  for (qv::Ctl role : {qv::Ctl::FetchButton, qv::Ctl::DownloadButton, qv::Ctl::PauseButton,
                       qv::Ctl::StopButton, qv::Ctl::DeleteSelectedButton, qv::Ctl::MoveUpButton,
                       qv::Ctl::MoveDownButton}) {
    auto* button = new QPushButton;
    layout->addWidget(button);
    controls.RegisterBox(role, button);
  }
  QWidget ruleWindow;
  controls.RegisterBox(qv::Ctl::RuleWindow, &ruleWindow);
  window.resize(600, 700);
  window.show();
  qv::OpenWindowBridge();
  QCoreApplication::processEvents();
  TimedQtTable table(model, view);
  SetPatterns(controls, address);

  // The 5 ms timer that measures the window's event gaps, and closes the result notice.
  bool measuring = false;
  double maxGap = 0;
  Clock::time_point lastTick = Clock::now();
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const auto now = Clock::now();
    if (measuring) maxGap = std::max(maxGap, Ms(now - lastTick));
    lastTick = now;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
        box->accept();
      }
    }
  });
  ticker.start(5);

  std::vector<double> qtToLast, memToLast, regexFloor;
  double worstGap = 0;
  for (int r = 0; r < kRuns; ++r) {
    // Offscreen window.
    {
      qv::ChapterListFetch fetch(table, controls);
      maxGap = 0;
      lastTick = Clock::now();
      measuring = true;
      const auto t0 = Clock::now();
      fetch.Start();
      QEventLoop loop;
      QTimer poll;
      QObject::connect(&poll, &QTimer::timeout, [&] {
        if (model->Count() >= chapters && measuring) {
          measuring = false;
          const auto now = Clock::now();
          maxGap = std::max(maxGap, Ms(now - lastTick));
        }
        if (!fetch.Running()) loop.quit();
      });
      poll.start(1);
      loop.exec();
      if (model->Count() != chapters) {
        std::fprintf(stderr, "expected %d rows, got %d\n", chapters, model->Count());
        return 1;
      }
      qtToLast.push_back(Ms(table.last - t0));
      worstGap = std::max(worstGap, maxGap);
      fetch.Shutdown();
    }
    // In memory, same run.
    {
      TimedMemoryTable mt;
      qv::MemoryControls mc;
      SetPatterns(mc, address);
      qv::ChapterListFetch fetch(mt, mc);
      const auto t0 = Clock::now();
      fetch.Start();
      while (fetch.Running()) std::this_thread::sleep_for(std::chrono::microseconds(200));
      memToLast.push_back(Ms(mt.last - t0));
    }
    // The regular expressions alone.
    {
      qv::RegexObject re;
      const auto t0 = Clock::now();
      re.Run(qv::bench::TitlePattern(), page);
      re.Run(qv::bench::AuthorPattern(), page);
      re.Run(qv::bench::ListPattern(), page);
      regexFloor.push_back(Ms(Clock::now() - t0));
    }
  }

  const double floorMs = Median(regexFloor);
  std::printf("chapter-list page: %d chapters, %zu bytes, median of %d runs\n", chapters,
              page.size(), kRuns);
  std::printf("  offscreen window, Start to last row: %8.1f ms  (%.1fx the regex floor)\n",
              Median(qtToLast), Median(qtToLast) / floorMs);
  std::printf("  headless, Start to last row        : %8.1f ms  (%.1fx the regex floor)\n",
              Median(memToLast), Median(memToLast) / floorMs);
  std::printf("  PCRE2 alone, three patterns        : %8.1f ms\n", floorMs);
  std::printf("  longest gap between 5 ms ticks during the offscreen fill: %.1f ms\n", worstGap);
  qv::CloseWindowBridge();
  return 0;
}
