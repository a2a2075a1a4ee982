#pragma once
// TfrmRestore: the window that lists the deletion journal's entries of the dialog's database
// (when, pair, unit, sheet, rows, state; the batch as a tooltip) and puts the rows of the chosen entry back with
// "恢复", or those of every entry of its batch, in one step, with "恢复整批".
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
  // Restores every entry of the chosen entry's batch in one transaction, or none of them.
  void btnRestoreBatchClick();
  // btnRestore is enabled while the chosen entry can be restored, btnRestoreBatch while it
  // belongs to a batch.
  void lsvDeletionsChange();

  std::unique_ptr<Ui::TfrmRestore> ui_;
  Cleanup cleanup_;
};

}  // namespace dupsweep
