// The rows of the chapter table 超级列表框1, held as CP936 cells in one vector.
#pragma once

#include <QAbstractTableModel>

#include <vector>

#include "app/ports.h"

namespace qv {

class ChapterModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  struct Row {
    Text cells[4];
    int check = 0;  // 1 = checked (to download), 0 = not
  };

  explicit ChapterModel(QObject* parent = nullptr);

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
  int Check(int row) const;
  void SetCheck(int row, int state);

 private:
  std::vector<Row> rows_;
};

}  // namespace qv
