// The rows of the chapter table 超级列表框1, held as CP936 cells in one vector, and kept in
// step with its view.
//
// The rows, their check marks and their highlight live here; the program reads and writes
// only this. The view learns about them in batches: rows appended in a burst (a chapter list
// arriving row by row from a worker) are announced to the view together at most every
// kViewSyncInterval, and the highlight set by the program is copied into the view's selection
// the same way, so long loops do not repaint and re-select once per row. What the user
// selects in the view comes back at once; before the user's input reaches the view, the
// view is brought up to date.
#pragma once

#include <QAbstractTableModel>
#include <QPointer>
#include <QTimer>
#include <vector>

#include "shell/ports.h"

class QItemSelection;
class QTableView;

namespace qv {

class ChapterModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  struct Row {
    Text cells[4];
    CheckMark check = kUnchecked;
    bool highlighted = false;
  };

  static constexpr int kViewSyncInterval = 30;  // ms

  explicit ChapterModel(QObject* parent = nullptr);

  // The view that shows these rows; its selection is the highlight. Call once.
  void AttachView(QTableView* view);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // The user's click on a check box.
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

  // The program's operations, by 0-based row; a row or column outside the table does nothing
  // and reads as empty.
  int Count() const { return static_cast<int>(rows_.size()); }
  bool Valid(int row) const { return row >= 0 && row < Count(); }
  void Append(Row row);
  void Insert(int index, Row row);  // 0..Count()
  void Remove(int row);
  void Clear();
  Text Cell(int row, int column) const;
  void SetCell(int row, int column, const Text& text);
  CheckMark Check(int row) const;
  void SetCheck(int row, CheckMark state);
  bool Highlighted(int row) const;
  void SetHighlighted(int row, bool on);
  std::vector<int> HighlightedRows() const;
  // Every row as it is, and all rows replaced by `rows` (undo).
  const std::vector<Row>& Rows() const { return rows_; }
  void Restore(std::vector<Row> rows);

  // Brings the view up to date now: announces appended rows, copies the highlight.
  void SyncView();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void AnnounceRows();
  void SyncSelection();
  void ScheduleSync();
  void TakeUserSelection(const QItemSelection& selected, const QItemSelection& deselected);

  std::vector<Row> rows_;
  int shown_ = 0;  // rows the view knows about: rows_[0, shown_)
  bool selectionStale_ = false;
  bool changingSelection_ = false;  // the program, not the user, is changing the selection
  QTimer syncTimer_;
  QPointer<QTableView> view_;
};

}  // namespace qv
