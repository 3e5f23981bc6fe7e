#include "gui/qt_ports.h"

#include <QScrollBar>

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QInputDialog>
#include <QUrl>
#include <algorithm>

#include "gui/box_text.h"
#include "gui/notices.h"
#include "gui/window_bridge.h"
#include "text/encoding.h"

namespace qv {

// ---- QtChapterTable ----

QtChapterTable::QtChapterTable(ChapterModel* model, QTableView* view)
    : model_(model), view_(view) {
  if (view_ != nullptr) {
    QObject::connect(view_->verticalScrollBar(), &QScrollBar::valueChanged, view_,
                     [this] { UserScrolled(); });
  }
}

void QtChapterTable::UserScrolled() {
  if (programScroll_ || !view_ || !model_) return;
  if (lastShown_ < 0 || lastShown_ >= model_->Count()) {
    following_ = true;
    return;
  }
  // Following again once the row the program last showed is in sight.
  const int top = view_->rowAt(0);
  int bottom = view_->rowAt(view_->viewport()->height() - 1);
  if (bottom < 0) bottom = model_->Count() - 1;
  following_ = top >= 0 && top <= lastShown_ && lastShown_ <= bottom;
}

int QtChapterTable::RowCount() {
  return OnWindowThread([&] { return model_ ? model_->Count() : 0; }, 0);
}

void QtChapterTable::AppendRow(const Text& number) {
  RunOnWindowThread([&] {
    if (!model_) return;
    ChapterModel::Row r;
    r.cells[kColNumber] = number;
    model_->Append(std::move(r));
  });
}

void QtChapterTable::AppendChapter(const Text& number, const Text& title, const Text& link,
                                   const Text& status, CheckMark checkState) {
  RunOnWindowThread([&] {
    if (!model_) return;
    ChapterModel::Row r;
    r.cells[kColNumber] = number;
    r.cells[kColTitle] = title;
    r.cells[kColLink] = link;
    r.cells[kColStatus] = status;
    r.check = checkState;
    model_->Append(std::move(r));
  });
}

void QtChapterTable::InsertRow(int index, const Text& number) {
  RunOnWindowThread([&] {
    if (!model_) return;
    ChapterModel::Row r;
    r.cells[kColNumber] = number;
    model_->Insert(index, std::move(r));
  });
}

void QtChapterTable::DeleteRow(int index) {
  RunOnWindowThread([&] {
    if (model_) model_->Remove(index);
  });
}

void QtChapterTable::DeleteAllRows() {
  RunOnWindowThread([&] {
    if (model_) model_->Clear();
  });
}

Text QtChapterTable::CellText(int row, int column) {
  return OnWindowThread([&] { return model_ ? model_->Cell(row, column) : Text(); }, Text());
}

void QtChapterTable::SetCellText(int row, int column, const Text& text) {
  RunOnWindowThread([&] {
    if (model_) model_->SetCell(row, column, text);
  });
}

CheckMark QtChapterTable::CheckState(int row) {
  return OnWindowThread([&] { return model_ ? model_->Check(row) : kUnchecked; }, kUnchecked);
}

void QtChapterTable::SetCheckState(int row, CheckMark state) {
  RunOnWindowThread([&] {
    if (model_) model_->SetCheck(row, state);
  });
}

void QtChapterTable::SetHighlight(int row, bool on) {
  RunOnWindowThread([&] {
    if (model_) model_->SetHighlighted(row, on);
  });
}

bool QtChapterTable::IsHighlighted(int row) {
  return OnWindowThread([&] { return model_ && model_->Highlighted(row); }, false);
}

std::vector<int> QtChapterTable::HighlightedRows() {
  return OnWindowThread([&] { return model_ ? model_->HighlightedRows() : std::vector<int>(); },
                        std::vector<int>());
}

void QtChapterTable::ScrollIntoView(int row) {
  RunOnWindowThread([&] {
    if (!model_ || !view_ || !model_->Valid(row)) return;
    lastShown_ = row;
    if (!following_) return;
    model_->SyncView();
    programScroll_ = true;
    view_->scrollTo(model_->index(row, kColNumber));
    programScroll_ = false;
  });
}

bool QtChapterTable::HitTest(int x, int y, int& row, int& column) {
  struct Hit {
    bool ok = false;
    int row = -1, column = -1;
  };
  const Hit hit = OnWindowThread(
      [&] {
        Hit h;
        if (!model_ || !view_) return h;
        model_->SyncView();
        const QModelIndex i = view_->indexAt(QPoint(x, y));
        if (!i.isValid()) return h;
        h = {true, i.row(), i.column()};
        return h;
      },
      Hit());
  if (!hit.ok) return false;
  row = hit.row;
  column = hit.column;
  return true;
}

// ---- QtControls ----

void QtControls::RegisterBox(Ctl role, QWidget* widget) { boxes_[role] = widget; }

void QtControls::RegisterProgressBar(QProgressBar* bar) { progress_ = bar; }

QWidget* QtControls::Widget(Ctl role) const {
  auto it = boxes_.find(role);
  return it == boxes_.end() ? nullptr : it->second.data();
}

Text QtControls::GetText(Ctl c) {
  return OnWindowThread([&] { return WidgetText(Widget(c)); }, Text());
}

void QtControls::SetText(Ctl c, const Text& text) {
  RunOnWindowThread([&] { SetWidgetText(Widget(c), text); });
}

bool QtControls::IsChecked(Ctl c) {
  return OnWindowThread(
      [&] {
        auto* b = qobject_cast<QAbstractButton*>(Widget(c));
        return b != nullptr && b->isChecked();
      },
      false);
}

void QtControls::SetChecked(Ctl c, bool on) {
  RunOnWindowThread([&] {
    if (auto* b = qobject_cast<QAbstractButton*>(Widget(c))) b->setChecked(on);
  });
}

bool QtControls::IsEnabled(Ctl c) {
  return OnWindowThread(
      [&] {
        QWidget* w = Widget(c);
        return w != nullptr && w->isEnabled();
      },
      false);
}

void QtControls::SetEnabled(Ctl c, bool on) {
  RunOnWindowThread([&] {
    if (QWidget* w = Widget(c)) w->setEnabled(on);
  });
}

NoticeAnswer QtControls::Notice(const Text& title, const Text& text, int timeoutMs,
                                NoticeStyle style) {
  return TimedNotice(title, text, timeoutMs, style);
}

bool QtControls::InputBox(const Text& prompt, const Text& title, const Text& initial,
                          Text& entered) {
  struct Answer {
    bool ok = false;
    Text text;
  };
  const Answer a = OnWindowThread(
      [&] {
        Answer out;
        QInputDialog dialog(QApplication::activeWindow());
        dialog.setInputMode(QInputDialog::TextInput);
        dialog.setWindowTitle(CaptionFromGbk(title));
        dialog.setLabelText(CaptionFromGbk(prompt));
        const QString shownInitial = QStringFromGbk(initial);
        dialog.setTextValue(shownInitial);
        if (dialog.exec() != QDialog::Accepted) return out;
        out.ok = true;
        // Untouched, the initial bytes come back exactly.
        out.text =
            dialog.textValue() == shownInitial ? initial : GbkFromQString(dialog.textValue());
        return out;
      },
      Answer());
  if (a.ok) entered = a.text;
  return a.ok;
}

void QtControls::Pump() {
  if (!IsWindowThread()) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - lastPump_ < kPumpInterval) return;
  QCoreApplication::processEvents();
  lastPump_ = std::chrono::steady_clock::now();
}

void QtControls::Wait(double count, WaitUnit unit) { ResponsiveWait(count, unit); }

bool QtControls::OpenWithDesktop(const Text& path) {
  bool opened = false;
  RunOnWindowThread([&] {
    std::error_code ec;
    const std::filesystem::path fs = std::filesystem::absolute(FsPath(path), ec);
    if (ec) return;
    opened = QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(fs.string())));
  });
  return opened;
}

void QtControls::SetProgress(int done, int total) {
  RunOnWindowThread([&] {
    if (!progress_) return;
    progress_->setRange(0, std::max(total, 1));
    progress_->setValue(total > 0 ? std::clamp(done, 0, total) : 0);
    progress_->setTextVisible(total > 0);
  });
}

}  // namespace qv
