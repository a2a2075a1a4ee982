#pragma once
// TfrmDupsweep: the modal duplicate-cleanup dialog. It owns the data module, the difference viewer
// and the list of repeated sheets of the last comparison run, and translates the operator's
// actions into calls of the data module; it holds no statement text and no file format.

#include <QDialog>
#include <QIcon>
#include <QListWidgetItem>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
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

// An entry of the pair list lsbSelectUnit: the entry's text and the pair it owns. Removing the
// entry from the list (deleting the item) releases the pair; the pair's units belong to the
// dialog.
class PairEntry : public QListWidgetItem {
 public:
  PairEntry(const QString& text, std::unique_ptr<TUnitGroup> group)
      : QListWidgetItem(text, nullptr, QListWidgetItem::UserType), group_(std::move(group)) {}
  const TUnitGroup& group() const noexcept { return *group_; }

 private:
  std::unique_ptr<TUnitGroup> group_;
};

// An entry of the list of repeated sheets lsbDifference: the sheet's name and a copy of its
// sample record, which the entry owns; removing the entry or emptying the list releases it.
class SampleEntry : public QListWidgetItem {
 public:
  explicit SampleEntry(const TSampleData& sample)
      : QListWidgetItem(QString::fromStdString(sample.sSampleName), nullptr,
                        QListWidgetItem::UserType + 1),
        sample_(sample) {}
  const TSampleData& sample() const noexcept { return sample_; }

 private:
  TSampleData sample_;
};

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

  // The pair carried by entry `row` of lsbSelectUnit; null when there is no such entry.
  const TUnitGroup* pairAt(int row) const;
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

 private:
  void FormCreate();
  void FormShow();
  void FormClose();
  void cmbPeriodClick();

  // The unit tree and the pair list.
  void tvUnitExpanding(QTreeWidgetItem* node);
  void cmdAddClick();
  void AddUnitPair(QTreeWidgetItem* first, QTreeWidgetItem* second);
  void cmdRemoveClick();
  void RemoveSelectedPair();

  // Schemes.
  void LoadSchemeList();
  void cmdSaveClick();
  void cmbPreceptClick();
  void cmdDelClick();
  // The scheme name in cmbPrecept, for saving and deleting: nullopt, after telling the operator,
  // when it is not a bare file name; the caller then does nothing.
  std::optional<std::string> schemeNameToChange() const;
  // Replaces the entries of lsbSelectUnit by the pairs of the scheme file at `path`.
  void loadPairs(const std::string& path);

  // Empties lsbDifference, releasing the sample copies its entries carry.
  void emptyDifferenceBox();

  std::unique_ptr<Ui::TfrmDupsweep> ui_;
  Parts parts_;
  QIcon nodeImage_;  // the one image of ImageList1
  // The unit records of the tree's nodes and of the pairs loaded from schemes; they live as long
  // as the dialog, so that every pair may refer to them.
  std::deque<TUnitData> units_;
  std::vector<std::unique_ptr<TPeriod>> periods_;  // parallel to the entries of cmbPeriod
  // While cmbPrecept's edit field reports the end of typing: whether it does, and the entry
  // chosen before.
  bool typingEnds_ = false;
  int chosenBeforeTyping_ = -1;

  std::unique_ptr<TdmDupsweep> FDataModule;
  std::unique_ptr<TfrmShowDifference> FShowForm;
  std::int32_t FLevel = 0;
  std::string FPeriodID;
  std::string FTaskCode;
  std::string FUnitClsCode;
  std::unique_ptr<std::vector<std::unique_ptr<DifferenceData>>> FDifferenceList;
};

}  // namespace dupsweep
