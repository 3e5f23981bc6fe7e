// The chapter-table tools on 10,000 rows (or the first argument) through the real table view,
// shown offscreen, side by side with the in-memory table in the same run. Per step it also
// reports the viewport's paint events and the longest gap between two ticks of a 5 ms timer,
// which shows how long the window went without handling its events.
#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QInputDialog>
#include <QLineEdit>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "gui/chapter_model.h"
#include "gui/qt_ports.h"
#include "gui/window_bridge.h"
#include "shell/memory_ports.h"
#include "tool_steps.h"

namespace {

class PaintCounter : public QObject {
 public:
  long paints = 0;

 protected:
  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return QObject::eventFilter(o, e);
  }
};

// Longest time between two ticks of a 5 ms timer since the last Reset().
class GapMeter {
 public:
  GapMeter() {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
    timer_.start(5);
  }
  void Reset() {
    last_ = Clock::now();
    maxMs_ = 0;
  }
  // The gap up to now counts too: a step that never let the timer run is one long gap.
  double MaxMs() {
    Tick();
    return maxMs_;
  }

 private:
  using Clock = std::chrono::steady_clock;
  void Tick() {
    const auto now = Clock::now();
    maxMs_ = std::max(maxMs_, std::chrono::duration<double, std::milli>(now - last_).count());
    last_ = now;
  }
  QTimer timer_;
  Clock::time_point last_ = Clock::now();
  double maxMs_ = 0;
};

// Answers the next move box with "1" as soon as it shows.
void AnswerNextInputBox() {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QInputDialog*>(w);
      if (box == nullptr || !box->isVisible()) continue;
      box->setTextValue("1");
      box->accept();
      timer->stop();
      timer->deleteLater();
      return;
    }
  });
  timer->start(1);
}

std::vector<qvbench::Step> Median(const std::vector<std::vector<qvbench::Step>>& runs) {
  std::vector<qvbench::Step> out = runs[0];
  for (size_t s = 0; s < out.size(); ++s) {
    std::vector<double> ms;
    for (const auto& run : runs) ms.push_back(run[s].ms);
    std::sort(ms.begin(), ms.end());
    out[s].ms = ms[ms.size() / 2];
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int rows = argc > 1 ? std::max(2, std::atoi(argv[1])) : 10000;
  constexpr int kRuns = 3;

  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* model = new qv::ChapterModel(&window);
  auto* view = new QTableView;
  view->setModel(model);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(QAbstractItemView::ExtendedSelection);
  view->verticalHeader()->hide();
  view->setColumnWidth(0, 70);
  view->setColumnWidth(1, 300);
  view->setColumnHidden(2, true);
  view->setColumnWidth(3, 80);
  layout->addWidget(view);
  qv::QtControls controls;
  for (qv::Ctl role : {qv::Ctl::FirstRowBox, qv::Ctl::IntervalBox, qv::Ctl::LastRowBox}) {
    auto* box = new QLineEdit;
    layout->addWidget(box);
    controls.RegisterBox(role, box);
  }
  PaintCounter counter;
  GapMeter gaps;
  view->viewport()->installEventFilter(&counter);
  window.resize(600, 500);
  window.show();
  qv::OpenWindowBridge();
  QCoreApplication::processEvents();
  qv::QtChapterTable table(model, view);

  std::vector<std::vector<qvbench::Step>> memoryRuns, qtRuns;
  std::vector<std::vector<long>> paintRuns;
  std::vector<std::vector<double>> gapRuns;
  for (int r = 0; r < kRuns; ++r) {
    qv::MemoryTable mt;
    qv::MemoryControls mc;
    memoryRuns.push_back(qvbench::RunToolSteps(mt, mc, rows, [&] {
      mc.SetInputHandler([](const qv::Text&, const qv::Text&, const qv::Text&, qv::Text& entered) {
        entered.assign(1, '1');
        return true;
      });
    }));

    std::vector<long> marks;  // paint count before and after each step
    std::vector<double> stepGaps;
    qtRuns.push_back(qvbench::RunToolSteps(table, controls, rows, [] { AnswerNextInputBox(); },
                                           [&] {
                                             marks.push_back(counter.paints);
                                             if (marks.size() % 2 == 1) {
                                               gaps.Reset();
                                             } else {
                                               stepGaps.push_back(gaps.MaxMs());
                                             }
                                           }));
    gapRuns.push_back(stepGaps);
    std::vector<long> perStep;
    for (size_t i = 0; i + 1 < marks.size(); i += 2) perStep.push_back(marks[i + 1] - marks[i]);
    paintRuns.push_back(perStep);
  }
  const auto memory = Median(memoryRuns);
  const auto qt = Median(qtRuns);
  std::printf("%d rows, median of %d runs; paints and longest event gap from the last run\n",
              rows, kRuns);
  std::printf("%-26s %10s %11s %8s %7s %9s\n", "step", "memory ms", "Qt view ms", "ratio",
              "paints", "gap ms");
  for (size_t s = 0; s < qt.size(); ++s) {
    const long paints = s < paintRuns.back().size() ? paintRuns.back()[s] : -1;
    const double gap = s < gapRuns.back().size() ? gapRuns.back()[s] : -1;
    std::printf("%-26s %10.1f %11.1f %8.1f %7ld %9.1f\n", qt[s].name, memory[s].ms, qt[s].ms,
                memory[s].ms > 0 ? qt[s].ms / memory[s].ms : 0.0, paints, gap);
  }
  qv::CloseWindowBridge();
  return 0;
}
