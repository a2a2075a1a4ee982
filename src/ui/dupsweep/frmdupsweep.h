#pragma once
// TfrmDupsweep: the modal duplicate-cleanup dialog. It owns the data module, the difference viewer
// and the list of repeated sheets of the last comparison run, and translates the operator's
// actions into calls of the data module; it holds no statement text and no file format.

#include <QDialog>
#include <QIcon>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/records.h"

class QKeyEvent;
class QShowEvent;
class QTreeWidgetItem;
namespace Ui {
class TfrmDupsweep;
}

namespace dupsweep {

class TdmDupsweep;
class TfrmShowDifference;

class TfrmDupsweep : public QDialog {
  Q_OBJECT

 public:
  // Makers of the parts the dialog creates in FormCreate. An empty maker makes the real part
  // (TdmDupsweep with its default connection factory, a hidden TfrmShowDifference); tests give
  // their own to reach a database through a connection of theirs or to make creation fail.
  struct Parts {
    std::function<std::unique_ptr<TdmDupsweep>()> dataModule;
    std::function<std::unique_ptr<TfrmShowDifference>()> viewer;
  };

  // Builds the controls of the layout (fixed client size 652 x 495, centred on the primary
  // screen) and runs FormCreate inside the handler wrapper: a failure there is shown by the
  // default error display and the dialog is made without the parts not yet created.
  explicit TfrmDupsweep(Parts parts = {});
  ~TfrmDupsweep() override;

  // The entry operation: creates a dialog, stores the host's values, hands the connection string
  // to the data module, loads the top level of the unit tree, shows the dialog modally and
  // destroys it when the modal loop ends (also when something fails). Failures outside the
  // dialog's event handlers propagate: Error when there is no QApplication or the data module
  // could not be created, a failure of loading the tree, a failure of FormClose.
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

  // The unit record carried by a node of tvUnit (owned by the dialog); null for another item.
  static TUnitData* unitOf(const QTreeWidgetItem* node);

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

 private:
  void FormCreate();
  void FormShow();
  void FormClose();
  void cmbPeriodClick();
  // Fills cmbPrecept with the saved schemes (filled in with the scheme files).
  void LoadSchemeList();

  std::unique_ptr<Ui::TfrmDupsweep> ui_;
  Parts parts_;
  QIcon nodeImage_;                                // the one image of ImageList1
  std::deque<TUnitData> units_;                    // the records of the tree's nodes
  std::vector<std::unique_ptr<TPeriod>> periods_;  // parallel to the entries of cmbPeriod

  std::unique_ptr<TdmDupsweep> FDataModule;
  std::unique_ptr<TfrmShowDifference> FShowForm;
  std::int32_t FLevel = 0;
  std::string FPeriodID;
  std::string FTaskCode;
  std::string FUnitClsCode;
  std::unique_ptr<std::vector<std::unique_ptr<DifferenceData>>> FDifferenceList;
};

}  // namespace dupsweep
