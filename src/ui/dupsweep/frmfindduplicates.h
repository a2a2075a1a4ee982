#pragma once
// TfrmFindDuplicates: the window that finds repeated data over the whole unit classification for
// the dialog's period, task and level. It runs the duplicate discovery of the engine as soon as it
// is shown, with a progress bar and a cancel button, then lists the pairs found in a sortable
// table with a checkbox each; the checked pairs go to the dialog's pair list as ">>" puts them
// there, and the result can be exported to a workbook. "对比期间" (none by default, else one of the
// task's other periods) makes the next search also compare with that earlier period; its rows,
// and rows of rescaled copies only, have no checkbox: they are findings, not copies to delete.
// The engine reads on its own workers; the window's thread dispatches events while it waits. The window only translates events into
// calls of the engine and of the operations the dialog hands it.

#include <QDialog>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/discovery.h"

class QCloseEvent;
class QShowEvent;
namespace Ui {
class TfrmFindDuplicates;
}

namespace dupsweep {

class TdmDupsweep;
class ReviewPanel;

class TfrmFindDuplicates : public QDialog {
  Q_OBJECT

 public:
  // What the window works with, all of it the dialog's.
  struct Context {
    TdmDupsweep* dataModule = nullptr;
    std::string periodId;
    std::string taskCode;
    std::int32_t level = 0;
    std::string unitClsCode;
    // Appends each pair to the dialog's pair list, as ">>" does.
    std::function<void(const std::vector<UnitPair>&)> addPairs;
    // Asks for the workbook file to export to, starting from a suggested path; empty: cancelled.
    std::function<std::string(QWidget*, const std::string&)> chooseExportFile;
  };

  TfrmFindDuplicates(Context context, QWidget* parent = nullptr);
  ~TfrmFindDuplicates() override;

  // The result of the last discovery that ran to its end; nullopt before, and after a cancelled
  // or failed one.
  const std::optional<DiscoveryResult>& result() const noexcept { return result_; }
  // Whether a discovery has ended since the window was shown: found, failed or cancelled.
  bool searched() const noexcept { return searched_; }

 protected:
  // The first showing starts the discovery once the window is on the screen.
  void showEvent(QShowEvent* event) override;
  // While the discovery works, closing (and Escape, through reject) asks it to stop; the window
  // stays, modal, until it has, then closes.
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void cmdFindClick();
  void cmdCancelClick();
  void cmdAddPairsClick();
  void cmdExportClick();
  // Runs the discovery with the settings shown and lists its pairs.
  void findDuplicates();
  void fillTable();
  // Lists the result's findings with their review.
  void reviewResult();
  // Enables the buttons for a window that works or waits.
  void setBusy(bool busy);

  std::unique_ptr<Ui::TfrmFindDuplicates> ui_;
  Context context_;
  ReviewPanel* review_ = nullptr;  // the findings one a row, with their review
  std::optional<DiscoveryResult> result_;
  bool busy_ = false;
  bool cancel_ = false;
  bool closeWhenStopped_ = false;
  bool started_ = false;
  bool searched_ = false;
};

}  // namespace dupsweep
