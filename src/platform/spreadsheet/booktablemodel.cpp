#include "platform/spreadsheet/booktablemodel.h"

#include <QBrush>
#include <QColor>
#include <algorithm>
#include <charconv>

namespace dupsweep::sheet {
namespace {

// Rows and columns a grid shows beyond the sheet's content, and at least.
constexpr int kMinRows = 100;
constexpr int kMinCols = 26;
constexpr int kMarginRows = 20;
constexpr int kMarginCols = 5;

QColor toQColor(const Color& c) {
  return QColor(c.red, c.green, c.blue);
}

// Whether a cell text reads as a number, which the general alignment puts to the right.
bool looksNumeric(std::string_view text) {
  if (text.empty()) return false;
  const char* first = text.data();
  const char* last = first + text.size();
  if (*first == '+') ++first;
  if (first == last) return false;
  const char c = *first;
  if (!(c == '-' || c == '.' || (c >= '0' && c <= '9'))) return false;
  double value = 0;
  const auto result = std::from_chars(first, last, value);
  return result.ec == std::errc() && result.ptr == last;
}

Qt::BrushStyle brushStyle(FillPattern pattern) {
  switch (pattern) {
    case FillPattern::none:
      return Qt::NoBrush;
    case FillPattern::solid:
      return Qt::SolidPattern;
    case FillPattern::darkGray:
      return Qt::Dense2Pattern;
    case FillPattern::mediumGray:
      return Qt::Dense4Pattern;
    case FillPattern::lightGray:
      return Qt::Dense5Pattern;
    case FillPattern::gray125:
      return Qt::Dense6Pattern;
    case FillPattern::gray0625:
      return Qt::Dense7Pattern;
    case FillPattern::darkHorizontal:
    case FillPattern::lightHorizontal:
      return Qt::HorPattern;
    case FillPattern::darkVertical:
    case FillPattern::lightVertical:
      return Qt::VerPattern;
    case FillPattern::darkDown:
    case FillPattern::lightDown:
      return Qt::FDiagPattern;
    case FillPattern::darkUp:
    case FillPattern::lightUp:
      return Qt::BDiagPattern;
    case FillPattern::darkGrid:
    case FillPattern::lightGrid:
      return Qt::CrossPattern;
    case FillPattern::darkTrellis:
    case FillPattern::lightTrellis:
      return Qt::DiagCrossPattern;
  }
  return Qt::NoBrush;
}

Qt::Alignment alignmentOf(const CellFormat& format, std::string_view text) {
  Qt::Alignment h;
  switch (format.horizontal) {
    case HorizontalAlignment::general:
      h = looksNumeric(text) ? Qt::AlignRight : Qt::AlignLeft;
      break;
    case HorizontalAlignment::left:
    case HorizontalAlignment::filled:
      h = Qt::AlignLeft;
      break;
    case HorizontalAlignment::center:
      h = Qt::AlignHCenter;
      break;
    case HorizontalAlignment::right:
      h = Qt::AlignRight;
      break;
    case HorizontalAlignment::justified:
    case HorizontalAlignment::distributed:
      h = Qt::AlignJustify;
      break;
  }
  Qt::Alignment v;
  switch (format.vertical) {
    case VerticalAlignment::top:
      v = Qt::AlignTop;
      break;
    case VerticalAlignment::center:
    case VerticalAlignment::justified:
    case VerticalAlignment::distributed:
      v = Qt::AlignVCenter;
      break;
    case VerticalAlignment::bottom:
      v = Qt::AlignBottom;
      break;
  }
  return h | v;
}

}  // namespace

BookTableModel::BookTableModel(F1Book* book, const QFont& baseFont, QObject* parent)
    : QAbstractTableModel(parent), book_(book), baseFont_(baseFont) {
  rows_ = wantedRows();
  cols_ = wantedCols();
}

void BookTableModel::setBook(F1Book* book) {
  book_ = book;
  resetSheet();
}

int BookTableModel::naturalRows() const {
  if (!book_) return 0;
  const Worksheet& sheet = book_->workbook().current();
  const int rows = std::max({kMinRows, sheet.extentRows() + kMarginRows, sheet.activeRow()});
  return std::min(rows, kMaxRows);
}

int BookTableModel::naturalCols() const {
  if (!book_) return 0;
  const Worksheet& sheet = book_->workbook().current();
  const int cols = std::max({kMinCols, sheet.extentCols() + kMarginCols, sheet.activeCol()});
  return std::min(cols, kMaxCols);
}

int BookTableModel::wantedRows() const {
  if (!book_) return 0;
  return std::min(std::max(naturalRows(), floorRows_), kMaxRows);
}

int BookTableModel::wantedCols() const {
  if (!book_) return 0;
  return std::min(std::max(naturalCols(), floorCols_), kMaxCols);
}

void BookTableModel::setFloor(int rows, int cols) {
  floorRows_ = std::max(rows, 0);
  floorCols_ = std::max(cols, 0);
  grow();
}

void BookTableModel::grow() {
  const int rows = wantedRows();
  if (rows > rows_) {
    beginInsertRows(QModelIndex(), rows_, rows - 1);
    rows_ = rows;
    endInsertRows();
  }
  const int cols = wantedCols();
  if (cols > cols_) {
    beginInsertColumns(QModelIndex(), cols_, cols - 1);
    cols_ = cols;
    endInsertColumns();
  }
}

void BookTableModel::resetSheet() {
  beginResetModel();
  fonts_.clear();
  rows_ = wantedRows();
  cols_ = wantedCols();
  endResetModel();
}

void BookTableModel::refresh(int firstRow, int firstCol, int lastRow, int lastCol) {
  grow();
  lastRow = std::min(lastRow, rows_);
  lastCol = std::min(lastCol, cols_);
  if (firstRow <= lastRow && firstCol <= lastCol) {
    emit dataChanged(index(firstRow - 1, firstCol - 1), index(lastRow - 1, lastCol - 1));
  }
}

const QFont& BookTableModel::fontFor(FormatId id) const {
  if (id >= fonts_.size()) fonts_.resize(id + 1);
  auto& cached = fonts_[id];
  if (!cached) {
    const Font& f = book_->workbook().formats().at(id).font;
    QFont font = baseFont_;
    if (!f.name.empty()) font.setFamily(QString::fromStdString(f.name));
    if (f.size > 0) font.setPointSizeF(f.size);
    font.setBold(f.bold);
    font.setItalic(f.italic);
    font.setUnderline(f.underline);
    font.setStrikeOut(f.strikeout);
    cached = font;
  }
  return *cached;
}

int BookTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

int BookTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : cols_;
}

QVariant BookTableModel::data(const QModelIndex& index, int role) const {
  if (!book_ || !index.isValid()) return {};
  const Workbook& workbook = book_->workbook();
  const Worksheet& sheet = workbook.current();
  const int row = index.row() + 1;
  const int col = index.column() + 1;
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: {
      const std::string_view text = sheet.text(row, col);
      return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }
    case Qt::FontRole:
      return fontFor(sheet.format(row, col));
    case Qt::ForegroundRole: {
      const Color& color = workbook.formats().at(sheet.format(row, col)).font.color;
      if (color.automatic) return {};
      return QBrush(toQColor(color));
    }
    case Qt::BackgroundRole: {
      // A solid fill in its colour; a pattern in its foreground colour (the delegate paints the
      // pattern's background colour underneath).
      const Fill& fill = workbook.formats().at(sheet.format(row, col)).fill;
      if (fill.pattern == FillPattern::none) return {};
      if (fill.pattern == FillPattern::solid) {
        const Color& color = fill.foreground.automatic ? fill.background : fill.foreground;
        return color.automatic ? QVariant() : QVariant(QBrush(toQColor(color)));
      }
      const QColor color =
          fill.foreground.automatic ? QColor(Qt::black) : toQColor(fill.foreground);
      return QBrush(color, brushStyle(fill.pattern));
    }
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(
          alignmentOf(workbook.formats().at(sheet.format(row, col)), sheet.text(row, col)));
    case FormatIdRole:
      return QVariant::fromValue(sheet.format(row, col));
    default:
      return {};
  }
}

bool BookTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!book_ || !index.isValid() || role != Qt::EditRole) return false;
  try {
    // The control notifies the widget, which repaints the cell with the next refresh.
    book_->EntryRC(index.row() + 1, index.column() + 1, value.toString().toStdString());
  } catch (const Error&) {
    return false;
  }
  return true;
}

Qt::ItemFlags BookTableModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}

QVariant BookTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return QAbstractTableModel::headerData(section, orientation, role);
  if (orientation == Qt::Horizontal) return columnName(section + 1);
  return QString::number(section + 1);
}

QString BookTableModel::columnName(int col) {
  QString name;
  while (col > 0) {
    const int digit = (col - 1) % 26;
    name.prepend(QChar('A' + digit));
    col = (col - 1) / 26;
  }
  return name;
}

}  // namespace dupsweep::sheet
