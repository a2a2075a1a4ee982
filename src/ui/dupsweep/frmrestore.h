#pragma once
// TfrmRestore: the window that lists the deletion journal's entries of the dialog's database
// (when, pair, unit, sheet, rows, state) and puts the rows of the chosen entry back with "恢复".
// It translates the operator's actions into calls of Cleanup and holds no statement
// text and no journal format.

#include <QDialog>
#include <memory>

#include "cleanup/cleanup.h"

namespace Ui {
class TfrmRestore;
}

namespace dupsweep {

class TfrmRestore : public QDialog {
  Q_OBJECT

 public:
  // A window over `dataModule`'s database, which must outlive it. Lists nothing until
  // LoadEntries.
  explicit TfrmRestore(TdmDupsweep& dataModule, QWidget* parent = nullptr);
  ~TfrmRestore() override;

  // Fills lsvDeletions with the journal's entries of the database, newest first; each item
  // carries its entry's id. Throws Error with the reason when the journal cannot be read.
  void LoadEntries();

 private:
  // Restores the chosen entry, says how many rows went back and lists the entries again. A
  // refusal or failure escapes to the handler wrapper, which shows its text.
  void btnRestoreClick();
  // btnRestore is enabled while the chosen entry can be restored.
  void lsvDeletionsChange();

  std::unique_ptr<Ui::TfrmRestore> ui_;
  Cleanup cleanup_;
};

}  // namespace dupsweep
