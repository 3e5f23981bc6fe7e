#include "app/gui/chapter_model.h"

#include "app/gui/box_text.h"
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
  const Qt::Alignment a = column == kColStatus ? Qt::AlignCenter : (Qt::AlignLeft | Qt::AlignVCenter);
  return QVariant::fromValue(a);
}

}  // namespace

ChapterModel::ChapterModel(QObject* parent) : QAbstractTableModel(parent) {}

int ChapterModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : Count();
}

int ChapterModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 4; }

QVariant ChapterModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || !Valid(index.row()) || !ValidColumn(index.column())) return {};
  const Row& r = rows_[static_cast<size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      if (role == Qt::ToolTipRole && index.column() != kColTitle) return {};
      return QStringFromGbk(r.cells[index.column()]);
    case Qt::CheckStateRole:
      if (index.column() != kColNumber) return {};
      return QVariant::fromValue(r.check == 1 ? Qt::Checked : Qt::Unchecked);
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
  SetCheck(index.row(), value.toInt() == Qt::Checked ? 1 : 0);
  return true;
}

void ChapterModel::Append(Row row) { Insert(Count(), std::move(row)); }

void ChapterModel::Insert(int index, Row row) {
  if (index < 0 || index > Count()) return;
  beginInsertRows(QModelIndex(), index, index);
  rows_.insert(rows_.begin() + index, std::move(row));
  endInsertRows();
}

void ChapterModel::Remove(int row) {
  if (!Valid(row)) return;
  beginRemoveRows(QModelIndex(), row, row);
  rows_.erase(rows_.begin() + row);
  endRemoveRows();
}

void ChapterModel::Clear() {
  beginResetModel();
  rows_.clear();
  rows_.shrink_to_fit();
  endResetModel();
}

Text ChapterModel::Cell(int row, int column) const {
  if (!Valid(row) || !ValidColumn(column)) return {};
  return rows_[static_cast<size_t>(row)].cells[column];
}

void ChapterModel::SetCell(int row, int column, const Text& text) {
  if (!Valid(row) || !ValidColumn(column)) return;
  rows_[static_cast<size_t>(row)].cells[column] = text;
  const QModelIndex i = index(row, column);
  emit dataChanged(i, i, {Qt::DisplayRole});
}

int ChapterModel::Check(int row) const { return Valid(row) ? rows_[static_cast<size_t>(row)].check : 0; }

void ChapterModel::SetCheck(int row, int state) {
  if (!Valid(row)) return;
  rows_[static_cast<size_t>(row)].check = state;
  const QModelIndex i = index(row, kColNumber);
  emit dataChanged(i, i, {Qt::CheckStateRole});
}

}  // namespace qv
