#pragma once
// RunPresenter: what the dialog shows of a comparison run. It turns the run's findings into the
// entries of the dialog's list of repeated sheets, fills the combo box of pairs (cmbUnits) and the
// list of the chosen pair's sheets (lsbDifference) from that list, and keeps the findings listed
// there, from which the deletion learns whether a sheet is the last one listed for its pair.

#include <QListWidgetItem>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/run.h"
#include "model/records.h"
#include "ui/dupsweep/runreport.h"

class QComboBox;
class QListWidget;
class QProgressBar;

namespace dupsweep {

class TdmDupsweep;
class TfrmShowDifference;

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

// What a deletion asked for by the operator came to: the message to show, and whether the sheet
// leaves the run's result (deleted, or no longer identical).
struct DeletionOutcome {
  std::string message;
  bool leavesList = false;
};

class RunPresenter {
 public:
  RunPresenter(QComboBox& units, QListWidget& sheets) : units_(units), sheets_(sheets) {}

  // Runs `entries` with `run`, checking the rows against what the viewer's grids can take, so
  // that it fails where showing them would; nothing is shown while it goes. Appends to `found`
  // one entry per sheet found identical, pair by pair in the run's order, each with the pair and
  // a copy of the sheet's record; after a failure, which then propagates, those found before it.
  // Runs `run` over `entries` and appends its identical sheets to `found`, also those found
  // before a failure (which is rethrown). Returns the record of what was compared in the period
  // `periodId` shown as `periodText`, or nothing when the run compared nothing (no template).
  static std::optional<ComparisonRunRecord> compare(ComparisonRun& run,
                                                    const std::vector<RunEntry>& entries,
                                                    std::string periodId, std::string periodText,
                                                    ProgressSink& progress, FindingList& found);
  // Fills `viewer` with `group`'s sheets over the period's template, captioned with the pair and
  // `periodText`; false when the period has no readable template (run.templateFailure() says
  // why, empty when there is none).
  static bool show(ComparisonRun& run, const TUnitGroup& group, const std::string& periodText,
                   TfrmShowDifference& viewer);

  // Lists each pair name of `found` once in cmbUnits (names that differ only in letter case
  // count as one, as the combo box's exact-string search has it) and chooses the first.
  // Deletes `side`'s copy of `found`'s sheet, with the unit's Status row when `withStatus`,
  // journaled and re-checked. A failure other than a changed copy propagates in the operator's
  // words.
  static DeletionOutcome deleteCopy(TdmDupsweep& dataModule, const DifferenceData& found,
                                    Side side, bool withStatus, const std::string& taskCode,
                                    std::int32_t level);

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
