#pragma once
// The table model of the grid widget: the current sheet of an F1Book seen through
// QAbstractTableModel, so that a QTableView draws only the cells in view and no widget or item
// exists per cell. Texts, fonts, colours, fills and alignment come from the workbook; the size of
// the grid is the sheet's extent plus a margin.

#include <QAbstractTableModel>
#include <QFont>
#include <optional>
#include <vector>

#include "platform/spreadsheet/f1book.h"

namespace dupsweep::sheet {

class BookTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // Role under which data() gives a cell's FormatId (an unsigned int).
  static constexpr int FormatIdRole = Qt::UserRole + 1;

  // Shows `book` (may be null: an empty grid); `baseFont` is the font of cells whose format names
  // no font or size.
  BookTableModel(F1Book* book, const QFont& baseFont, QObject* parent = nullptr);

  // Shows another control (or none) from now on.
  void setBook(F1Book* book);
  F1Book* book() const noexcept { return book_; }

  // Re-reads everything: the current sheet's size and every cell (a new workbook or sheet).
  void resetSheet();
  // Grows the grid when the sheet's extent or active cell grew, and repaints the cells from
  // (firstRow, firstCol) to (lastRow, lastCol) (1-based, inclusive; an empty rectangle repaints
  // nothing).
  void refresh(int firstRow, int firstCol, int lastRow, int lastCol);

  // The grid shows at least `rows` rows and `cols` columns (0: no floor), so that two grids that
  // scroll together have the same extent. A larger floor grows the grid at once; a smaller one
  // takes effect with the next resetSheet().
  void setFloor(int rows, int cols);
  // The rows and columns the sheet itself asks for (its extent and active cell plus a margin),
  // without the floor.
  int naturalRows() const;
  int naturalCols() const;

  // The font for cells of format `id` of the shown workbook.
  const QFont& fontFor(FormatId id) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // The column's name as headers show it: A..Z, AA.., (1-based).
  static QString columnName(int col);

 private:
  int wantedRows() const;
  int wantedCols() const;
  // Inserts rows and columns up to wantedRows() / wantedCols().
  void grow();

  F1Book* book_;
  QFont baseFont_;
  int rows_ = 0;
  int cols_ = 0;
  int floorRows_ = 0;
  int floorCols_ = 0;
  mutable std::vector<std::optional<QFont>> fonts_;  // by FormatId
};

}  // namespace dupsweep::sheet
