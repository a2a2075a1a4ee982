#pragma once
// TfrmDupsweep: the modal duplicate-cleanup dialog. It owns the data module, the difference viewer
// and the list of repeated sheets of the last comparison run, and translates the operator's
// actions into calls of the data module; it holds no statement text and no file format.

#include <QDialog>
#include <QIcon>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/run.h"
#include "model/records.h"
#include "ui/dupsweep/pairlist.h"
#include "ui/dupsweep/resultmenu.h"
#include "ui/dupsweep/runpresenter.h"
#include "ui/dupsweep/runreport.h"
#include "ui/dupsweep/schemebox.h"

class QCloseEvent;
class QKeyEvent;
class QPoint;
class QShowEvent;
class QTreeWidgetItem;
namespace Ui {
class TfrmDupsweep;
}

namespace dupsweep {

class TdmDupsweep;
class TfrmShowDifference;
using SampleList = std::vector<std::unique_ptr<TSampleData>>;

class TfrmDupsweep : public QDialog {
  Q_OBJECT

 public:
  // Makers of the parts the dialog creates in FormCreate. An empty maker makes the real part
  // (TdmDupsweep with its default connection factory, a hidden TfrmShowDifference); tests give
  // their own to reach a database through a connection of theirs or to make creation fail.
  struct Parts {
    std::function<std::unique_ptr<TdmDupsweep>()> dataModule;
    std::function<std::unique_ptr<TfrmShowDifference>()> viewer;
    // The directory of the scheme files; empty: the host executable's directory.
    std::string schemeDirectory;
  };

  // Builds the controls of the layout (fixed client size 652 x 495, centred on the primary
  // screen) and runs FormCreate inside the handler wrapper: a failure there is shown by the
  // default error display and the dialog is made without the parts not yet created.
  explicit TfrmDupsweep(Parts parts = {});
  ~TfrmDupsweep() override;

  // The entry operation: a dialog over `conn`, its unit tree's top level loaded, shown modally and
  // destroyed afterwards. Failures outside its event handlers propagate (no QApplication, no data
  // module, loading the tree, FormClose).
  static void Execute(const std::string& conn, const std::string& unitClsCode,
                      const std::string& periodId, const std::string& taskCode, std::int32_t level,
                      Parts parts = {});

  // Runs the modal loop (FormShow runs as the dialog becomes visible) and then FormClose, outside
  // the handler wrapper, so that its failure propagates. Returns QDialog::Accepted when cmdClose
  // ended the loop, QDialog::Rejected for the close box.
  int showModal();

  // LoadUnitNodes(null, FUnitClsCode, 0).
  void LoadRootUnits();
  // Appends one node per unit of the level under `parent` (at the top level when null), in the
  // statement's order: text sUnitName, the unit record as data, the expand button shown. Adds
  // nothing when the data module is missing or the statement fails.
  void LoadUnitNodes(QTreeWidgetItem* parent, const std::string& unitClsCode, std::int32_t level);

  // The unit record of a node of tvUnit (owned by the dialog); null for another item.
  static TUnitData* unitOf(const QTreeWidgetItem* node);

  // The pair carried by entry `row` of lsbSelectUnit; null when there is no such entry.
  const TUnitGroup* pairAt(int row) const;

  // Asks the operator for the workbook file the result of the last run is exported to, starting
  // from `suggested`; returns the chosen path, or the empty text when the operator cancels.
  using ExportFileChooser = dupsweep::ExportFileChooser;
  // Installs the chooser every dialog asks (a save dialog of QFileDialog when empty) and returns
  // the one it replaces. Tests install their own so that no file dialog waits for an operator.
  static ExportFileChooser setExportFileChooser(ExportFileChooser chooser);
  // The pairs and period of the last comparison run that ran to its end; nullopt before the first
  // such run and after a run that ended early.
  const std::optional<ComparisonRunRecord>& lastRun() const noexcept { return lastRun_; }
  // The directory the scheme files are listed, read, written and deleted in: the one given in
  // Parts, else the host executable's directory. Throws FileError when that cannot be found.
  std::string schemeDirectory() const;

  // State, for the dialog's later handlers and for tests.
  TdmDupsweep* dataModule() const noexcept { return FDataModule.get(); }
  TfrmShowDifference* showForm() const noexcept { return FShowForm.get(); }
  const std::vector<std::unique_ptr<DifferenceData>>* differenceList() const noexcept {
    return FDifferenceList.get();
  }
  const std::string& periodId() const noexcept { return FPeriodID; }
  // The period carried by entry `index` of cmbPeriod; null when there is no such entry.
  const TPeriod* periodAt(int index) const noexcept;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
  // While a comparison run or the filling of the viewer is under way, the close box is refused:
  // the work ends by itself, and the dialog is closed afterwards.
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormCreate();
  void FormShow();
  void FormClose();
  void cmbPeriodClick();

  // The unit tree and the pair list.
  void tvUnitExpanding(QTreeWidgetItem* node);
  void cmdAddClick();
  void AddUnitPair(QTreeWidgetItem* first, QTreeWidgetItem* second);
  // Appends the pair (UnitS, UnitD), as ">>" does, and enables cmdRemove and cmdCompare.
  void appendPair(const TUnitData& unitS, const TUnitData& unitD);
  void cmdRemoveClick();
  void RemoveSelectedPair();
  // Enables or disables cmdAdd, cmdRemove and cmdCompare.
  void setPairButtons(bool add, bool remove, bool compare);

  // Schemes.
  void LoadSchemeList();
  void cmdSaveClick();
  void cmbPreceptClick();
  void cmdDelClick();
  // The scheme name in cmbPrecept, for saving and deleting: nullopt, after telling the operator,
  // when it is not a bare file name; the caller then does nothing.
  std::optional<std::string> schemeNameToChange() const;
  // The comparison run and its lists, made of the run's findings.
  void cmdCompareClick();
  void FillDuplicateUnits();
  void cmbUnitsChange();

  // The context menu of cmbUnits and lsbDifference, at `global` (screen coordinates): the export
  // of the last run's result, disabled while there is none, and the restore of deleted data.
  void showResultMenu(const QPoint& global);
  // Opens TfrmRestore over the journal's entries of this database.
  void restoreDeletedClick();

  // The context menu of tvUnit and lsbSelectUnit, at `global`: finding repeated data over the
  // whole classification.
  void showUnitMenu(const QPoint& global);
  // Opens TfrmFindDuplicates for the period, task and level (after the message that no period
  // is chosen, when none is); the pairs it hands back are appended as ">>" appends a pair.
  void findDuplicatesClick();

  // Deleting one unit's copy of a repeated sheet.
  void cmdDelRepetitionClick();

  // Showing one pair's differences.
  void btnShowDifferenceClick();

  std::unique_ptr<Ui::TfrmDupsweep> ui_;
  Parts parts_;
  QIcon nodeImage_;  // the one image of ImageList1
  // The pair list, with the unit records of the tree's nodes and of the pairs; they live as long
  // as the dialog, so that every pair may refer to them.
  std::unique_ptr<PairList> pairs_;
  // The run's result as cmbUnits and lsbDifference show it.
  std::unique_ptr<RunPresenter> presenter_;
  std::vector<std::unique_ptr<TPeriod>> periods_;  // parallel to the entries of cmbPeriod
  std::unique_ptr<SchemeBox> schemes_;             // cmbPrecept
  bool busy_ = false;
  // What the last complete comparison run compared, for the export of its result.
  std::optional<ComparisonRunRecord> lastRun_;
  // The template the last run or showing read, so that the next one reads the same bytes once.
  TemplateCache templates_;

  std::unique_ptr<TdmDupsweep> FDataModule;
  std::unique_ptr<TfrmShowDifference> FShowForm;
  std::int32_t FLevel = 0;
  std::string FPeriodID;
  std::string FTaskCode;
  std::string FUnitClsCode;
  std::unique_ptr<std::vector<std::unique_ptr<DifferenceData>>> FDifferenceList;
};

}  // namespace dupsweep
