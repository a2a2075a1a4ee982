#include "platform/spreadsheet/bookwidget.h"

#include <QShowEvent>

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMetaObject>
#include <QScrollBar>
#include <QTabBar>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "platform/spreadsheet/bookdelegate.h"
#include "platform/spreadsheet/booktablemodel.h"

namespace dupsweep::sheet {

BookWidget::BookWidget(F1Book& book, QWidget* parent)
    : QWidget(parent), book_(&book), table_(new QTableView(this)), tabs_(new QTabBar(this)) {
  model_ = new BookTableModel(book_, font(), this);
  delegate_ = new BookDelegate(*model_, this);
  table_->setModel(model_);
  table_->setItemDelegate(delegate_);
  table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                          QAbstractItemView::AnyKeyPressed);
  table_->setWordWrap(false);
  table_->horizontalHeader()->setMinimumSectionSize(0);
  table_->verticalHeader()->setMinimumSectionSize(0);
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  table_->verticalHeader()->setSectionResizeMode(QHeaderView::Interactive);

  tabs_->setShape(QTabBar::RoundedSouth);
  tabs_->setExpanding(false);
  tabs_->setUsesScrollButtons(true);
  tabs_->setDocumentMode(true);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(table_, 1);
  layout->addWidget(tabs_);

  connect(tabs_, &QTabBar::currentChanged, this, &BookWidget::onTabChanged);
  connect(
      table_->selectionModel(), &QItemSelectionModel::currentChanged, this,
      [this](const QModelIndex& current, const QModelIndex&) { onCurrentCellChanged(current); });

  book_->setView(this);
  tabsPending_ = true;
  sheetPending_ = true;
  flush();
}

BookWidget::~BookWidget() {
  if (book_ && book_->view() == this) book_->setView(nullptr);
}

void BookWidget::scheduleFlush() {
  if (flushQueued_) return;
  flushQueued_ = true;
  QMetaObject::invokeMethod(this, &BookWidget::flushIfVisible, Qt::QueuedConnection);
}

void BookWidget::flushIfVisible() {
  if (isVisible()) {
    flush();
  } else {
    flushQueued_ = false;
    hiddenChanges_ = true;
  }
}

void BookWidget::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (hiddenChanges_) flush();
}

void BookWidget::workbookReplaced() {
  tabsPending_ = true;
  sheetPending_ = true;
  scheduleFlush();
}

void BookWidget::currentSheetChanged() {
  sheetPending_ = true;
  scheduleFlush();
}

void BookWidget::cellChanged(int row, int col) {
  if (dirtyFirstRow_ == 0) {
    dirtyFirstRow_ = dirtyLastRow_ = row;
    dirtyFirstCol_ = dirtyLastCol_ = col;
  } else {
    dirtyFirstRow_ = std::min(dirtyFirstRow_, row);
    dirtyLastRow_ = std::max(dirtyLastRow_, row);
    dirtyFirstCol_ = std::min(dirtyFirstCol_, col);
    dirtyLastCol_ = std::max(dirtyLastCol_, col);
  }
  scheduleFlush();
}

void BookWidget::activeCellChanged() {
  if (syncing_) return;
  activePending_ = true;
  scheduleFlush();
}

void BookWidget::showActiveCell() {
  flush();
  if (!book_) return;
  const QModelIndex index = model_->index(book_->Row() - 1, book_->Col() - 1);
  if (index.isValid()) table_->scrollTo(index);
}

void BookWidget::takeFocus() {
  flush();
  table_->setFocus(Qt::OtherFocusReason);
}

void BookWidget::bookDestroyed() {
  book_ = nullptr;
  model_->setBook(nullptr);
  table_->clearSpans();
  const bool blocked = tabs_->blockSignals(true);
  while (tabs_->count() > 0) tabs_->removeTab(0);
  tabs_->blockSignals(blocked);
}

void BookWidget::flush() {
  flushQueued_ = false;
  hiddenChanges_ = false;
  if (!book_) return;
  if (tabsPending_) rebuildTabs();
  if (sheetPending_) {
    model_->resetSheet();
    applySheetLayout();
    const bool blocked = tabs_->blockSignals(true);
    tabs_->setCurrentIndex(book_->Sheet() - 1);
    tabs_->blockSignals(blocked);
    activePending_ = true;
  } else if (dirtyFirstRow_ != 0 || activePending_) {
    // Grows the grid to a new extent or active cell and repaints the changed rectangle.
    if (dirtyFirstRow_ != 0) {
      model_->refresh(dirtyFirstRow_, dirtyFirstCol_, dirtyLastRow_, dirtyLastCol_);
    } else {
      model_->refresh(1, 1, 0, 0);
    }
  }
  if (activePending_) selectActiveCell();
  tabsPending_ = sheetPending_ = activePending_ = false;
  dirtyFirstRow_ = dirtyFirstCol_ = dirtyLastRow_ = dirtyLastCol_ = 0;
}

void BookWidget::rebuildTabs() {
  const bool blocked = tabs_->blockSignals(true);
  while (tabs_->count() > 0) tabs_->removeTab(0);
  for (int sheet = 1; sheet <= book_->NumSheets(); ++sheet) tabs_->addTab(QString());
  tabs_->blockSignals(blocked);
  applyTabCaptions();
}

void BookWidget::applyTabCaptions() {
  if (!book_) return;
  const int sheets = std::min(tabs_->count(), book_->NumSheets());
  for (int sheet = 1; sheet <= sheets; ++sheet) {
    QString caption = QString::fromStdString(book_->sheetName(sheet));
    const auto index = static_cast<std::size_t>(sheet - 1);
    if (index < sheetCounts_.size() && sheetCounts_[index] > 0)
      caption += QStringLiteral(" (%1)").arg(sheetCounts_[index]);
    tabs_->setTabText(sheet - 1, caption);
  }
}

void BookWidget::setSheetCounts(std::vector<int> counts) {
  sheetCounts_ = std::move(counts);
  // Tabs about to be rebuilt take the counts then.
  if (!tabsPending_) applyTabCaptions();
}

void BookWidget::showSheet(int sheet) {
  if (!book_ || sheet < 1 || sheet > book_->NumSheets()) return;
  book_->setSheet(sheet);
  flush();
}

void BookWidget::applySheetLayout() {
  const Worksheet& sheet = book_->workbook().current();
  const double pixelsPerPoint = logicalDpiX() / 72.0;
  const double pixelsPerPointY = logicalDpiY() / 72.0;
  auto* hHeader = table_->horizontalHeader();
  auto* vHeader = table_->verticalHeader();
  hHeader->setDefaultSectionSize(
      static_cast<int>(std::lround(Worksheet::kDefaultColumnWidth * pixelsPerPoint)));
  vHeader->setDefaultSectionSize(
      static_cast<int>(std::lround(Worksheet::kDefaultRowHeight * pixelsPerPointY)));
  const int cols = model_->columnCount();
  for (int col = 1; col <= cols; ++col) {
    if (!sheet.hasColumnWidth(col)) continue;
    const double points = sheet.columnWidth(col);
    if (points <= 0) {
      table_->setColumnHidden(col - 1, true);
    } else {
      table_->setColumnWidth(col - 1, static_cast<int>(std::lround(points * pixelsPerPoint)));
    }
  }
  const int rows = model_->rowCount();
  for (int row = 1; row <= rows; ++row) {
    if (!sheet.hasRowHeight(row)) continue;
    const double points = sheet.rowHeight(row);
    if (points <= 0) {
      table_->setRowHidden(row - 1, true);
    } else {
      table_->setRowHeight(row - 1, static_cast<int>(std::lround(points * pixelsPerPointY)));
    }
  }
  table_->clearSpans();
  for (const CellRange& merge : sheet.merges()) {
    const int rowSpan = merge.lastRow - merge.firstRow + 1;
    const int colSpan = merge.lastCol - merge.firstCol + 1;
    if (rowSpan > 1 || colSpan > 1) {
      table_->setSpan(merge.firstRow - 1, merge.firstCol - 1, rowSpan, colSpan);
    }
  }
}

void BookWidget::selectActiveCell() {
  const QModelIndex index = model_->index(book_->Row() - 1, book_->Col() - 1);
  if (!index.isValid()) return;
  syncing_ = true;
  table_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  syncing_ = false;
}

void BookWidget::onTabChanged(int index) {
  if (!book_ || index < 0) return;
  book_->setSheet(index + 1);
  flush();
  emit sheetPicked(index + 1);
}

void BookWidget::onCurrentCellChanged(const QModelIndex& current) {
  if (!book_ || syncing_ || !current.isValid()) return;
  // The operator moved the cursor: the control's active cell follows.
  syncing_ = true;
  book_->setRow(current.row() + 1);
  book_->setCol(current.column() + 1);
  syncing_ = false;
}

}  // namespace dupsweep::sheet

namespace dupsweep::sheet {

BookScrollLink::BookScrollLink(BookWidget& first, BookWidget& second, QObject* parent)
    : QObject(parent), first_(first), second_(second) {
  for (BookWidget* grid : {&first_, &second_}) {
    QTableView* table = grid->tableView();
    connect(table->verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this, grid] { mirrorScroll(*grid, Qt::Vertical); });
    connect(table->horizontalScrollBar(), &QScrollBar::valueChanged, this,
            [this, grid] { mirrorScroll(*grid, Qt::Horizontal); });
    connect(grid, &BookWidget::sheetPicked, this,
            [this, grid](int sheet) { mirrorSheet(*grid, sheet); });
    BookTableModel* model = grid->tableModel();
    connect(model, &QAbstractItemModel::modelReset, this, &BookScrollLink::matchExtents);
    connect(model, &QAbstractItemModel::rowsInserted, this, &BookScrollLink::matchExtents);
    connect(model, &QAbstractItemModel::columnsInserted, this, &BookScrollLink::matchExtents);
  }
  matchExtents();
}

void BookScrollLink::setOn(bool on) {
  on_ = on;
  if (!on_) {
    // Each grid back to its own extent when it next shows a sheet.
    first_.tableModel()->setFloor(0, 0);
    second_.tableModel()->setFloor(0, 0);
    return;
  }
  matchExtents();
  if (F1Book* book = first_.book()) {
    if (second_.book() && second_.book()->Sheet() != book->Sheet()) {
      mirroring_ = true;
      second_.showSheet(book->Sheet());
      mirroring_ = false;
    }
  }
  mirrorScroll(first_, Qt::Vertical);
  mirrorScroll(first_, Qt::Horizontal);
}

void BookScrollLink::mirrorScroll(BookWidget& from, Qt::Orientation orientation) {
  if (!on_ || mirroring_) return;
  BookWidget& to = &from == &first_ ? second_ : first_;
  const auto bar = [orientation](BookWidget& grid) {
    QTableView* table = grid.tableView();
    return orientation == Qt::Vertical ? table->verticalScrollBar() : table->horizontalScrollBar();
  };
  mirroring_ = true;
  bar(to)->setValue(bar(from)->value());
  mirroring_ = false;
}

void BookScrollLink::mirrorSheet(BookWidget& from, int sheet) {
  if (!on_ || mirroring_) return;
  BookWidget& to = &from == &first_ ? second_ : first_;
  mirroring_ = true;
  to.showSheet(sheet);
  mirroring_ = false;
  matchExtents();
  mirrorScroll(from, Qt::Vertical);
  mirrorScroll(from, Qt::Horizontal);
}

void BookScrollLink::matchExtents() {
  if (!on_ || mirroring_) return;
  // Each grid at least as large as the other's own extent; the floors never feed on each other,
  // so the two grids shrink back together when both show a smaller sheet.
  BookTableModel* first = first_.tableModel();
  BookTableModel* second = second_.tableModel();
  mirroring_ = true;
  first->setFloor(second->naturalRows(), second->naturalCols());
  second->setFloor(first->naturalRows(), first->naturalCols());
  mirroring_ = false;
}

}  // namespace dupsweep::sheet
