#include "gui/chapter_model.h"

#include <QEvent>
#include <QItemSelectionModel>
#include <QTableView>

#include "gui/box_text.h"
#include "text/encoding.h"

namespace qv {
namespace {

bool ValidColumn(int column) { return column >= 0 && column < 4; }

const QString& ColumnTitle(int column) {
  static const QString titles[4] = {
      QStringFromGbk(Utf8ToGbk("选择")), QStringFromGbk(Utf8ToGbk("章节名")),
      QStringFromGbk(Utf8ToGbk("章节网址")), QStringFromGbk(Utf8ToGbk("下载状态"))};
  return titles[column];
}

QVariant AlignmentOf(int column) {
  const Qt::Alignment a =
      column == kColStatus ? Qt::AlignCenter : (Qt::AlignLeft | Qt::AlignVCenter);
  return QVariant::fromValue(a);
}

}  // namespace

ChapterModel::ChapterModel(QObject* parent) : QAbstractTableModel(parent) {
  syncTimer_.setSingleShot(true);
  syncTimer_.setInterval(kViewSyncInterval);
  connect(&syncTimer_, &QTimer::timeout, this, &ChapterModel::SyncView);
}

void ChapterModel::AttachView(QTableView* view) {
  view_ = view;
  view->setModel(this);
  connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &ChapterModel::TakeUserSelection);
  // The user's clicks and keys act on an up-to-date view.
  view->installEventFilter(this);
  view->viewport()->installEventFilter(this);
}

bool ChapterModel::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::FocusIn:
      SyncView();
      break;
    default:
      break;
  }
  return QAbstractTableModel::eventFilter(watched, event);
}

int ChapterModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : shown_;
}

int ChapterModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 4; }

QVariant ChapterModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= shown_ || !ValidColumn(index.column())) return {};
  const Row& r = rows_[static_cast<size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
      return QStringFromGbk(r.cells[index.column()]);
    case Qt::ToolTipRole:
      if (index.column() != kColTitle) return {};
      return QStringFromGbk(r.cells[index.column()]);
    case Qt::CheckStateRole:
      if (index.column() != kColNumber) return {};
      return QVariant::fromValue(r.check == kChecked ? Qt::Checked : Qt::Unchecked);
    case Qt::TextAlignmentRole:
      return AlignmentOf(index.column());
    default:
      return {};
  }
}

QVariant ChapterModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || !ValidColumn(section)) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  if (role == Qt::DisplayRole) return ColumnTitle(section);
  if (role == Qt::TextAlignmentRole) return AlignmentOf(section);
  return {};
}

Qt::ItemFlags ChapterModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == kColNumber) f |= Qt::ItemIsUserCheckable;
  return f;
}

bool ChapterModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || !index.isValid() || index.column() != kColNumber) return false;
  SetCheck(index.row(), value.toInt() == Qt::Checked ? kChecked : kUnchecked);
  return true;
}

void ChapterModel::Append(Row row) {
  if (row.highlighted) selectionStale_ = true;
  rows_.push_back(std::move(row));
  ScheduleSync();
}

void ChapterModel::Insert(int index, Row row) {
  if (index < 0 || index > Count()) return;
  AnnounceRows();
  changingSelection_ = true;
  beginInsertRows(QModelIndex(), index, index);
  rows_.insert(rows_.begin() + index, std::move(row));
  ++shown_;
  endInsertRows();
  changingSelection_ = false;
  // The view may widen a selected range over the new row: copy the highlight again.
  selectionStale_ = true;
  ScheduleSync();
}

void ChapterModel::Remove(int row) {
  if (!Valid(row)) return;
  AnnounceRows();
  changingSelection_ = true;
  beginRemoveRows(QModelIndex(), row, row);
  rows_.erase(rows_.begin() + row);
  --shown_;
  endRemoveRows();
  changingSelection_ = false;
}

void ChapterModel::Clear() {
  changingSelection_ = true;
  beginResetModel();
  rows_.clear();
  rows_.shrink_to_fit();
  shown_ = 0;
  endResetModel();
  changingSelection_ = false;
  selectionStale_ = false;
}

void ChapterModel::Restore(std::vector<Row> rows) {
  changingSelection_ = true;
  beginResetModel();
  rows_ = std::move(rows);
  shown_ = Count();
  endResetModel();
  changingSelection_ = false;
  selectionStale_ = true;
  ScheduleSync();
}

Text ChapterModel::Cell(int row, int column) const {
  if (!Valid(row) || !ValidColumn(column)) return {};
  return rows_[static_cast<size_t>(row)].cells[column];
}

void ChapterModel::SetCell(int row, int column, const Text& text) {
  if (!Valid(row) || !ValidColumn(column)) return;
  rows_[static_cast<size_t>(row)].cells[column] = text;
  if (row < shown_) {
    const QModelIndex i = index(row, column);
    emit dataChanged(i, i, {Qt::DisplayRole});
  }
}

CheckMark ChapterModel::Check(int row) const {
  return Valid(row) ? rows_[static_cast<size_t>(row)].check : kUnchecked;
}

void ChapterModel::SetCheck(int row, CheckMark state) {
  if (!Valid(row)) return;
  rows_[static_cast<size_t>(row)].check = state;
  if (row < shown_) {
    const QModelIndex i = index(row, kColNumber);
    emit dataChanged(i, i, {Qt::CheckStateRole});
  }
}

bool ChapterModel::Highlighted(int row) const {
  return Valid(row) && rows_[static_cast<size_t>(row)].highlighted;
}

void ChapterModel::SetHighlighted(int row, bool on) {
  if (!Valid(row) || rows_[static_cast<size_t>(row)].highlighted == on) return;
  rows_[static_cast<size_t>(row)].highlighted = on;
  selectionStale_ = true;
  ScheduleSync();
}

std::vector<int> ChapterModel::HighlightedRows() const {
  std::vector<int> out;
  for (int r = 0; r < Count(); ++r) {
    if (rows_[static_cast<size_t>(r)].highlighted) out.push_back(r);
  }
  return out;
}

void ChapterModel::SyncView() {
  syncTimer_.stop();
  AnnounceRows();
  SyncSelection();
}

void ChapterModel::ScheduleSync() {
  if (!syncTimer_.isActive()) syncTimer_.start();
}

void ChapterModel::AnnounceRows() {
  if (shown_ >= Count()) return;
  beginInsertRows(QModelIndex(), shown_, Count() - 1);
  shown_ = Count();
  endInsertRows();
}

void ChapterModel::SyncSelection() {
  if (!selectionStale_) return;
  selectionStale_ = false;
  if (!view_) return;
  QItemSelectionModel* selection = view_->selectionModel();
  // Whole runs of highlighted rows as ranges; cleared and selected in two calls, each of which
  // Qt handles without comparing old and new ranges one by one.
  QItemSelection wanted;
  for (int r = 0; r < shown_;) {
    if (!rows_[static_cast<size_t>(r)].highlighted) {
      ++r;
      continue;
    }
    int end = r;
    while (end + 1 < shown_ && rows_[static_cast<size_t>(end + 1)].highlighted) ++end;
    wanted.append(QItemSelectionRange(index(r, 0), index(end, columnCount() - 1)));
    r = end + 1;
  }
  changingSelection_ = true;
  selection->clearSelection();
  if (!wanted.isEmpty()) selection->select(wanted, QItemSelectionModel::Select);
  changingSelection_ = false;
}

void ChapterModel::TakeUserSelection(const QItemSelection& selected,
                                     const QItemSelection& deselected) {
  if (changingSelection_) return;
  for (const QItemSelectionRange& range : deselected) {
    for (int r = range.top(); r <= range.bottom(); ++r) {
      if (Valid(r)) rows_[static_cast<size_t>(r)].highlighted = false;
    }
  }
  for (const QItemSelectionRange& range : selected) {
    for (int r = range.top(); r <= range.bottom(); ++r) {
      if (Valid(r)) rows_[static_cast<size_t>(r)].highlighted = true;
    }
  }
}

}  // namespace qv
