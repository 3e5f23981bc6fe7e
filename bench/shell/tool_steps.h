// The table-tool steps of the benchmark, over any ChapterTable and Controls: append the rows,
// check all, invert, highlight every second row, delete the highlighted rows, and move every
// second remaining row down by one. Each step is timed on its own.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "shell/chapter_tools.h"
#include "shell/ports.h"

namespace qvbench {

struct Step {
  const char* name;
  double ms;
  int rowsTouched;
};

// `answerMoveBox` makes the controls' input box answer "1" (the benchmark has no user).
// `around`, when given, is called just before and just after each timed step.
inline std::vector<Step> RunToolSteps(qv::ChapterTable& table, qv::Controls& controls, int rows,
                                      const std::function<void()>& answerMoveBox,
                                      const std::function<void()>& around = {}) {
  using Clock = std::chrono::steady_clock;
  std::vector<Step> out;
  const auto timed = [&](const char* name, int touched, const std::function<void()>& f) {
    if (around) around();
    const auto start = Clock::now();
    f();
    const std::chrono::duration<double, std::milli> spent = Clock::now() - start;
    if (around) around();
    out.push_back({name, spent.count(), touched});
  };
  qv::ChapterTools tools{table, controls};
  table.DeleteAllRows();
  const qv::Text status = "\xB5\xC8\xB4\xFD\xCF\xC2\xD4\xD8";  // 等待下载
  timed("append rows", rows, [&] {
    for (int i = 0; i < rows; ++i) {
      const std::string n = std::to_string(i + 1);
      table.AppendChapter(n, "\xB5\xDA" + n + "\xD5\xC2", "/book/" + n + ".html", status, qv::kChecked);
      controls.Pump();
    }
  });
  timed("check all", rows, [&] { tools.CheckAllRows(); });
  timed("invert", rows, [&] { tools.InvertAllRows(); });
  controls.SetText(qv::Ctl::FirstRowBox, "1");
  controls.SetText(qv::Ctl::IntervalBox, "2");
  controls.SetText(qv::Ctl::LastRowBox, "9999999");
  timed("interval highlight (2)", (rows + 1) / 2, [&] { tools.HighlightAtInterval(); });
  const int highlighted = static_cast<int>(table.HighlightedRows().size());
  timed("delete highlighted", rows,
        [&] { tools.ActOnHighlightedRows(qv::HighlightedRowsAction::kDelete); });
  const int left = table.RowCount();
  tools.HighlightAtInterval();
  answerMoveBox();
  const int toMove = static_cast<int>(table.HighlightedRows().size());
  timed("move highlighted down 1", toMove, [&] { tools.MoveHighlightedRows(qv::MoveDirection::Down); });
  if (highlighted != (rows + 1) / 2 || left != rows - highlighted) {
    std::fprintf(stderr, "unexpected table state: %d highlighted, %d left\n", highlighted, left);
  }
  return out;
}

inline void PrintSteps(const char* table, const std::vector<Step>& steps) {
  for (const auto& s : steps) {
    std::printf("%-10s %-26s %10.1f ms  %8.2f us/row\n", table, s.name, s.ms,
                s.rowsTouched ? 1000.0 * s.ms / s.rowsTouched : 0.0);
  }
}

}  // namespace qvbench
