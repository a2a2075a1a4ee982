#pragma once
// TfrmShowDifference: the difference viewer: F1Book1 (left unit) and F1Book2 (right) over the
// period's template, a tool bar, and the list of differing cells, lsvDifferenace. Created once,
// hidden, and filled only to show one pair; it speaks to its grids only through SheetControl.

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
  // Hidden, with restored bounds 791 x 608 at (214, 109); every showing opens it maximised.
  explicit TfrmShowDifference(QWidget* parent = nullptr);
  ~TfrmShowDifference() override;

  // Both grids' workbooks are replaced by the file at `path` (UTF-8), read once. Raises FileError
  // or FormatError with nothing replaced.
  void LoadTemplate(const std::string& path);
  // Sheet index + 1 in both grids, left first. Raises sheet::RangeError beyond the workbook.
  void SetSheet(std::int32_t index);
  // viewer::fillBooks: S into F1Book1, D into F1Book2. Requires both on their first row.
  void FillBooks(db::RowSet& S, db::RowSet& D);

  // Lists and marks every sheet's differing cells, then shows sheet 1.
  void FindAllDifferences();
  // Cells whose differences a finding explains (a rescaled copy's): not listed or marked by the
  // scans that follow.
  void SetExplainedCells(viewer::ExplainedCell explained) { explained_ = std::move(explained); }
  // Appends and marks the differing cells of the sheets shown, numbered from 1.
  void FindSheetDifferences();
  // Active in both grids, red and bold with the left cell's format.
  void MarkCell(std::int32_t row, std::int32_t col);

  // Both grids take the pair's template and the list is emptied; each sheet's rows are written
  // (a sheet without a figures table keeps the template's cells), then every difference is listed
  // and marked and sheet 1 shown. Failures reach the caller.
  void FillPair(PairRows pair, const TUnitData& unitS, const TUnitData& unitD);

  void SetUnitCaptions(const std::string& captionS, const std::string& captionD);
  // sUnitName + "[" + sUnitCode + "]".
  void SetUnitCaptions(const TUnitData& unitS, const TUnitData& unitD);
  // The pair's GroupName followed directly by "数据差异".
  void SetPairCaption(const std::string& groupName);
  // As the export names it.
  void SetPeriodCaption(const std::string& period);
  // Also the counts in the sheet tabs and the status bar's panel.
  void ClearDifferences();
  // Modal and maximised until closed; the callers do not use the result.
  int ShowModal();

  // "退出".
  void ToolButton1Click();
  // "显示不同": empties the list and scans the sheets shown.
  void ToolButton3Click();
  // With a line selected, shows its cell in both grids; else nothing.
  void lsvDifferenaceDblClick();
  // Refuses every edit.
  void F1Book1StartEdit(SheetControl& sender, const std::string& editText, std::int16_t& Cancel);
  // "下一处"/F3, "上一处"/Shift+F3: the next / previous line (none selected: first / last), shown
  // as a click does. At the end the selection stays and the status bar says so.
  void btnNextDifferenceClick();
  void btnPrevDifferenceClick();
  // "同步滚动": the grids scroll together while it is on.
  void btnSyncScrollClick(bool on);
  // Asks for a file name (setExportFileChooser) and writes ExportDifferences to it.
  void btnExportDifferencesClick();

  // viewer::exportDifferences. Raises FileError when the file cannot be written.
  void ExportDifferences(const std::string& path);
  // Returns UTF-8, empty when the operator cancels. The default is a save-file dialog.
  using ExportFileChooser =
      std::function<std::string(QWidget* parent, const std::string& suggested)>;
  void setExportFileChooser(ExportFileChooser chooser) { exportFileChooser_ = std::move(chooser); }

  sheet::F1Book& F1Book1() noexcept { return books_[viewer::kLeft]; }
  sheet::F1Book& F1Book2() noexcept { return books_[viewer::kRight]; }
  sheet::BookWidget* grid(viewer::Side side) noexcept { return grids_[side]; }
  QTreeWidget* lsvDifferenace();
  QLabel* statusPanel() noexcept { return statusPanel_; }
  const viewer::DifferenceNavigator& navigator() const noexcept { return navigator_; }
  QGroupBox* GroupBox1() const noexcept;
  QGroupBox* GroupBox2() const noexcept;
  QToolButton* syncScrollButton() const noexcept;

  void setVisible(bool visible) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void addDifference(const viewer::DifferenceLine& line) override;

  void replaceWorkbooks(sheet::Workbook book);

  SheetControl& left() noexcept { return controls_[viewer::kLeft]; }
  SheetControl& right() noexcept { return controls_[viewer::kRight]; }

  std::optional<std::size_t> selectedLine() const;
  // Selects and shows where `step` leads, or tells on the status bar why not.
  void takeStep(const viewer::Step& step);
  // With the reason of a step that went nowhere.
  void showPosition(viewer::StepEnd end = viewer::StepEnd::none);
  // The counts in the tabs and the status bar follow the list.
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
  viewer::ExplainedCell explained_;
};

}  // namespace dupsweep
