#pragma once
// RunPresenter: what the dialog shows of a comparison run. It turns the run's findings into the
// entries of the dialog's list of repeated sheets, fills the combo box of pairs (cmbUnits) and the
// list of the chosen pair's sheets (lsbDifference) from that list, and keeps the findings listed
// there, from which the deletion learns whether a sheet is the last one listed for its pair.

#include <QListWidgetItem>
#include <memory>
#include <vector>

#include "engine/run.h"
#include "model/records.h"

class QComboBox;
class QListWidget;
class QProgressBar;

namespace dupsweep {

using FindingList = std::vector<std::unique_ptr<DifferenceData>>;

// An entry of lsbDifference: the sheet's name, and a copy of what the run found (the sheet's
// sample record and its pair), which the entry owns; removing the entry or emptying the list
// releases it.
class SampleEntry : public QListWidgetItem {
 public:
  explicit SampleEntry(const DifferenceData& found)
      : QListWidgetItem(QString::fromStdString(found.Sample.sSampleName), nullptr,
                        QListWidgetItem::UserType + 1),
        found_(found) {}
  const TSampleData& sample() const noexcept { return found_.Sample; }
  const DifferenceData& found() const noexcept { return found_; }

 private:
  DifferenceData found_;
};

// The run's steps on the dialog's progress bar, and `extraSteps` of the dialog's own after them.
// Every step is painted at once.
class BarProgress : public ProgressSink {
 public:
  BarProgress(QProgressBar& bar, int extraSteps) : bar_(bar), extraSteps_(extraSteps) {}
  void begin(int steps) override;
  void step() override;

 private:
  QProgressBar& bar_;
  int extraSteps_;
};

class RunPresenter {
 public:
  RunPresenter(QComboBox& units, QListWidget& sheets) : units_(units), sheets_(sheets) {}

  // Runs `entries` with `run`, checking the rows against what the viewer's grids can take, so
  // that it fails where showing them would; nothing is shown while it goes. Appends to `found`
  // one entry per sheet found identical, pair by pair in the run's order, each with the pair and
  // a copy of the sheet's record; after a failure, which then propagates, those found before it.
  // Returns whether the run compared (false without a template).
  static bool compare(ComparisonRun& run, const std::vector<RunEntry>& entries,
                      ProgressSink& progress, FindingList& found);

  // Lists each pair name of `found` once in cmbUnits (names that differ only in letter case
  // count as one, as the combo box's exact-string search has it) and chooses the first.
  void fillUnits(const FindingList& found);
  // Lists in lsbDifference every entry of `found` whose pair name is the text of cmbUnits, letter
  // case significant; nothing when `found` is null.
  void listSheets(const FindingList* found);
  // Empties lsbDifference, releasing the copies its entries carry.
  void clearSheets();

  // Whether the sheet listed at `row` is the last one listed for its pair: no other listed entry
  // stands for the same pair (a pair listed twice in the pair list lists its sheets twice).
  bool lastOfPair(int row) const;
  // After the sheet listed at `row` is dealt with: every entry of `found` for the same sheet of
  // the same pair goes (both, when the pair was listed twice), and so does the listed entry
  // (only that one); once nothing is listed, the pair's name leaves cmbUnits and none is chosen.
  void removeSheet(int row, FindingList& found);

 private:
  QComboBox& units_;
  QListWidget& sheets_;
  std::vector<DifferenceData> listed_;  // the findings lsbDifference lists, row by row
};

}  // namespace dupsweep
