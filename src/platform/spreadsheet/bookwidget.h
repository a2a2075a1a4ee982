#pragma once
// The grid widget of the spreadsheet control: a QTableView over the current sheet of an F1Book,
// with row and column headers, the sheet's column widths, row heights, merged cells and cell
// formats, and a tab per sheet below the grid. It attaches itself to the control as its view and
// gathers the control's change notices, applying them once control returns to the event loop
// (or at once when the control asks to show the active cell), so that many EntryRC calls cost one
// repaint.

#include <QWidget>

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
};

}  // namespace dupsweep::sheet
