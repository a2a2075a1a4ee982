#pragma once
// The grid widget of the spreadsheet control: a QTableView over the current sheet of an F1Book,
// with row and column headers, the sheet's column widths, row heights, merged cells and cell
// formats, and a tab per sheet below the grid. It attaches itself to the control as its view and
// gathers the control's change notices, applying them once control returns to the event loop
// (or at once when the control asks to show the active cell), so that many EntryRC calls cost one
// repaint.
//
// BookScrollLink, below, makes two grids scroll together, for showing two versions of one
// workbook side by side.

#include <QWidget>
#include <vector>

#include "platform/spreadsheet/f1book.h"

class QTabBar;
class QTableView;

namespace dupsweep::sheet {

class BookDelegate;
class BookTableModel;

class BookWidget : public QWidget, public BookView {
  Q_OBJECT

 public:
  // Shows `book` and attaches itself as its view. The control may be destroyed first: the widget
  // then shows an empty grid.
  explicit BookWidget(F1Book& book, QWidget* parent = nullptr);
  ~BookWidget() override;

  F1Book* book() const noexcept { return book_; }
  QTableView* tableView() const noexcept { return table_; }
  QTabBar* tabBar() const noexcept { return tabs_; }
  BookTableModel* tableModel() const noexcept { return model_; }

  // Applies the control's pending changes now.
  void flush();

  // Counts shown in the sheet tabs: the tab of sheet s reads "name (counts[s - 1])" where that
  // count is above 0, else the sheet's name. Kept over a new workbook; sheets beyond `counts`
  // show their names. Only the tabs change: the sheets keep their names.
  void setSheetCounts(std::vector<int> counts);
  const std::vector<int>& sheetCounts() const noexcept { return sheetCounts_; }

  // Makes `sheet` the control's current sheet and shows it now; a sheet the workbook does not
  // have is ignored.
  void showSheet(int sheet);

 signals:
  // The operator chose sheet `sheet` (1-based) by its tab.
  void sheetPicked(int sheet);

 public:
  // BookView
  void workbookReplaced() override;
  void currentSheetChanged() override;
  void cellChanged(int row, int col) override;
  void activeCellChanged() override;
  void showActiveCell() override;
  void takeFocus() override;
  void bookDestroyed() override;

 protected:
  // Applies what changed while the widget was hidden.
  void showEvent(QShowEvent* event) override;

 private:
  void scheduleFlush();
  // The queued flush: skipped while the widget is hidden (a viewer filled many times over
  // before anyone looks at it), kept pending until it is shown.
  void flushIfVisible();
  void rebuildTabs();
  void applyTabCaptions();
  void applySheetLayout();
  void selectActiveCell();
  void onTabChanged(int index);
  void onCurrentCellChanged(const QModelIndex& current);

  F1Book* book_;
  QTableView* table_;
  QTabBar* tabs_;
  BookTableModel* model_;
  BookDelegate* delegate_;

  bool flushQueued_ = false;
  bool hiddenChanges_ = false;  // changes waiting for the widget to be shown
  bool tabsPending_ = false;
  bool sheetPending_ = false;
  bool activePending_ = false;
  int dirtyFirstRow_ = 0;  // 0: no cell changed
  int dirtyFirstCol_ = 0;
  int dirtyLastRow_ = 0;
  int dirtyLastCol_ = 0;
  bool syncing_ = false;  // the widget itself is updating the control or the view
  std::vector<int> sheetCounts_;
};

// Two grids that scroll together: while the link is on, scrolling either grid (vertically or
// horizontally) moves the other to the same position, choosing a sheet by its tab in either grid
// shows that sheet in the other, and each grid's extent is at least the other's, so that a cell
// and the cell at the same row and column of the other grid stay side by side. While it is off
// the grids scroll independently. Both grids must outlive the link.
class BookScrollLink : public QObject {
  Q_OBJECT

 public:
  // A link between `first` and `second`, on.
  BookScrollLink(BookWidget& first, BookWidget& second, QObject* parent = nullptr);

  bool isOn() const noexcept { return on_; }
  // Turning the link on brings `second` to the position and sheet of `first`.
  void setOn(bool on);

 private:
  void mirrorScroll(BookWidget& from, Qt::Orientation orientation);
  void mirrorSheet(BookWidget& from, int sheet);
  void matchExtents();

  BookWidget& first_;
  BookWidget& second_;
  bool on_ = true;
  bool mirroring_ = false;  // a change made by the link itself is not mirrored back
};

}  // namespace dupsweep::sheet
