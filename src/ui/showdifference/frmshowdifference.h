#pragma once
// TfrmShowDifference: the difference viewer. Two grids side by side, F1Book1 for the first unit
// of a pair (left) and F1Book2 for the second (right), over the period's template workbook; a
// tool bar; and below them the list of differing cells, lsvDifferenace. The duplicate-cleanup
// dialog creates it once, hidden, and fills it only to show one pair (FillPair, with the rows the
// comparison run hands over), listing and marking the differences, and shows it modally. The
// grids keep their contents between calls until a template replaces them.
//
// The window speaks to its grids only through the spreadsheet control operations (SheetControl);
// the work over rows and grids lives in comparison.h. Every event handler of the window runs
// inside the handler wrapper, so a failure is shown by the default error display; the operations
// the dialog calls let their failures reach the dialog's own handler.
//
// Beyond the comparison the viewer is a tool for walking the differences: the two grids scroll
// together while "同步滚动" is on; "上一处" / "下一处" (Shift+F3 / F3) step through the list across
// sheets; the status bar's panel gives the selected line's place in the whole list; each sheet tab
// shows how many differences its sheet has; and "导出差异…" writes the list and both units' sheets
// into an xlsx workbook. What the list holds is kept beside it in a viewer::DifferenceNavigator,
// which does the stepping and the counting.

#include <QDialog>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/run.h"
#include "model/records.h"
#include "platform/spreadsheet/f1book.h"
#include "ui/showdifference/comparison.h"
#include "ui/showdifference/navigation.h"
#include "ui/showdifference/sheetcontrol.h"

class QGroupBox;
class QKeyEvent;
class QLabel;
class QToolButton;
class QTreeWidget;
namespace Ui {
class TfrmShowDifference;
}
namespace dupsweep::db {
class RowSet;
}
namespace dupsweep::sheet {
class BookScrollLink;
class BookWidget;
}  // namespace dupsweep::sheet

namespace dupsweep {

class TfrmShowDifference : public QDialog, private viewer::DifferenceSink {
  Q_OBJECT

 public:
  // The viewer with empty grids and an empty list, hidden, with restored bounds 791 x 608 at
  // (214, 109); every showing opens it maximised.
  explicit TfrmShowDifference(QWidget* parent = nullptr);
  ~TfrmShowDifference() override;

  // ---- loading ----

  // Both grids read the workbook file at `path` (UTF-8): it is read once and each grid's
  // workbook, with everything written into it, is replaced by it. Raises the reader's failure
  // (FileError, FormatError) for a file that cannot be read, with nothing replaced.
  void LoadTemplate(const std::string& path);
  // Makes sheet index + 1 current in both grids, the left one first. Raises sheet::RangeError
  // for a sheet the workbook does not have.
  void SetSheet(std::int32_t index);
  // Writes S's rows into F1Book1 and D's into F1Book2 (viewer::fillBooks). Whether they are
  // identical is the comparison run's verdict, not the viewer's. Requires both row sets on their
  // first row; leaves both at their ends. Failures of the grids and row sets reach the caller.
  void FillBooks(db::RowSet& S, db::RowSet& D);

  // ---- differences ----

  // Lists and marks the differing cells of every sheet, then shows sheet 1 in both grids.
  void FindAllDifferences();
  // Appends one line per differing cell of the sheet each grid currently shows, numbered from 1,
  // and marks each such cell.
  void FindSheetDifferences();
  // Makes (row, col) the active cell of both grids and marks it red and bold in both, with the
  // left cell's format.
  void MarkCell(std::int32_t row, std::int32_t col);

  // ---- showing one pair ----

  // Both grids take the template of `pair` and the list is emptied; then for every sheet, in
  // order, both grids show its sheet, the group boxes the units' captions, and the sheet's rows
  // are written (FillBooks; a sheet without a figures table keeps the
  // template's cells); then every difference is listed and marked, and both grids show sheet 1.
  // The rows are those the comparison run checked against the grids; a failure still reaches the
  // caller.
  void FillPair(PairRows pair, const TUnitData& unitS, const TUnitData& unitD);

  // ---- captions and the list ----

  // Captions of GroupBox1 and GroupBox2 as given.
  void SetUnitCaptions(const std::string& captionS, const std::string& captionD);
  // Captions of GroupBox1 and GroupBox2 from the pair's units: sUnitName + "[" + sUnitCode + "]".
  void SetUnitCaptions(const TUnitData& unitS, const TUnitData& unitD);
  // Window caption: the pair's GroupName followed directly by "数据差异".
  void SetPairCaption(const std::string& groupName);
  // The period the pair is shown in, as the export names it.
  void SetPeriodCaption(const std::string& period);
  // Empties lsvDifferenace (the callers do so after writing each sheet's rows), and with it the
  // counts in the sheet tabs and the status bar's panel.
  void ClearDifferences();
  // Shows the viewer modally, maximised, until the operator closes it; returns the dialog's
  // result, which the callers do not use.
  int ShowModal();

  // ---- event handlers ----

  // ToolButton1 ("退出"): closes the viewer, ending a modal showing.
  void ToolButton1Click();
  // ToolButton3 ("显示不同"): empties the list and scans the sheet the grids currently show.
  void ToolButton3Click();
  // A click on lsvDifferenace: with a line selected, shows its cell in both grids (its sheet
  // selected, the cell active, the left grid focused, both scrolled to it); else nothing.
  void lsvDifferenaceDblClick();
  // The start-edit event of both grids: refuses every edit.
  void F1Book1StartEdit(SheetControl& sender, const std::string& editText, std::int16_t& Cancel);
  // "下一处" and F3, "上一处" and Shift+F3: selects the next / previous line of the list (with none
  // selected, the first / the last) and shows its cell as a click on it does. At the last / first
  // line the selection stays and the status bar says so.
  void btnNextDifferenceClick();
  void btnPrevDifferenceClick();
  // "同步滚动": the grids scroll together while it is on.
  void btnSyncScrollClick(bool on);
  // "导出差异…": asks for a file name (see setExportFileChooser) and writes ExportDifferences to
  // it; no name, nothing written.
  void btnExportDifferencesClick();

  // ---- export ----

  // Writes the difference list and both grids' sheets into an xlsx workbook at `path`
  // (viewer::exportDifferences). Raises FileError when the file cannot be written.
  void ExportDifferences(const std::string& path);
  // Asks the operator for the file to export to, given a suggested name; returns UTF-8, empty
  // when the operator cancels. The default asks with a save-file dialog; tests put in their own.
  using ExportFileChooser =
      std::function<std::string(QWidget* parent, const std::string& suggested)>;
  void setExportFileChooser(ExportFileChooser chooser) { exportFileChooser_ = std::move(chooser); }

  // ---- for the dialog and tests ----
  sheet::F1Book& F1Book1() noexcept { return books_[viewer::kLeft]; }
  sheet::F1Book& F1Book2() noexcept { return books_[viewer::kRight]; }
  sheet::BookWidget* grid(viewer::Side side) noexcept { return grids_[side]; }
  // The list, the status bar's panel and what the list holds.
  QTreeWidget* lsvDifferenace();
  QLabel* statusPanel() noexcept { return statusPanel_; }
  const viewer::DifferenceNavigator& navigator() const noexcept { return navigator_; }
  QGroupBox* GroupBox1() const noexcept;
  QGroupBox* GroupBox2() const noexcept;
  QToolButton* syncScrollButton() const noexcept;

  // Every way of showing the viewer opens it maximised.
  void setVisible(bool visible) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // DifferenceSink: appends a line to lsvDifferenace.
  void addDifference(const viewer::DifferenceLine& line) override;

  // Gives each grid its own copy of `book`.
  void replaceWorkbooks(sheet::Workbook book);

  SheetControl& left() noexcept { return controls_[viewer::kLeft]; }
  SheetControl& right() noexcept { return controls_[viewer::kRight]; }

  // The position of the selected line in the list, if any.
  std::optional<std::size_t> selectedLine() const;
  // Goes where `step` leads: selects and shows that line, or tells on the status bar why not.
  void takeStep(const viewer::Step& step);
  // The status bar's panel for the selected line, with the reason of a step that went nowhere.
  void showPosition(viewer::StepEnd end = viewer::StepEnd::none);
  // After the list was filled or emptied: the counts in the tabs and the status bar follow it.
  void listChanged();

  std::unique_ptr<Ui::TfrmShowDifference> ui_;
  std::array<sheet::F1Book, 2> books_;
  std::array<F1BookControl, 2> controls_;
  std::array<sheet::BookWidget*, 2> grids_{};
  sheet::BookScrollLink* scrollLink_ = nullptr;
  QLabel* statusPanel_ = nullptr;
  viewer::DifferenceNavigator navigator_;
  std::string pairCaption_;
  std::string periodCaption_;
  ExportFileChooser exportFileChooser_;
};

}  // namespace dupsweep
