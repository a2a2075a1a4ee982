#include "ui/dupsweep/runpresenter.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QListWidget>
#include <QProgressBar>
#include <algorithm>

#include "cleanup/cleanup.h"
#include "model/pairs.h"
#include "platform/errors.h"
#include "ui/showdifference/frmshowdifference.h"
#include "ui/texts.h"

namespace dupsweep {

void BarProgress::begin(int steps) {
  bar_.setRange(0, steps + extraSteps_);
  bar_.setValue(0);
}

void BarProgress::step() {
  bar_.setValue(bar_.value() + 1);
  bar_.repaint();
  // The window stays painted while the run goes: everything but the operator's input is
  // dispatched.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

namespace {

void appendFindings(const ComparisonRun& run, FindingList& found) {
  for (const PairFindings& pair : run.result().pairs)
    for (std::size_t sheet = 0; sheet < pair.sheets.size(); ++sheet) {
      if (pair.sheets[sheet] != Verdict::Identical) continue;
      auto entry = std::make_unique<DifferenceData>();
      entry->sGroupName = pair.pair.name;
      // The copying rule: every field but the sheet number.
      entry->Sample = *run.samples()[sheet];
      entry->Sample.bRepeated = true;
      entry->pair = pair.pair;
      found.push_back(std::move(entry));
    }
}

}  // namespace

std::optional<ComparisonRunRecord> RunPresenter::compare(ComparisonRun& run,
                                                        const std::vector<RunEntry>& entries,
                                                        std::string periodId,
                                                        std::string periodText,
                                                        ProgressSink& progress,
                                                        FindingList& found) {
  // A pair marked unusable when its scheme was loaded is passed over (and still counted).
  ComparisonRunRecord record{std::move(periodId), std::move(periodText), {}};
  for (const RunEntry& entry : entries)
    if (entry.pair && entry.compare) record.pairs.emplace_back(*entry.pair);
  try {
    run.Run(entries, progress, GridCheck::TemplateGrids);
  } catch (...) {
    appendFindings(run, found);
    throw;
  }
  appendFindings(run, found);
  if (!run.result().compared) return std::nullopt;
  return record;
}

bool RunPresenter::show(ComparisonRun& run, const TUnitGroup& group, const std::string& periodText,
                        TfrmShowDifference& viewer) {
  std::optional<PairRows> rows = run.Show(group);
  if (!rows) return false;
  viewer.FillPair(std::move(*rows), *group.UnitS, *group.UnitD);
  viewer.SetPairCaption(group.GroupName);
  viewer.SetPeriodCaption(periodText);
  return true;
}

DeletionOutcome RunPresenter::deleteCopy(TdmDupsweep& dataModule, const DifferenceData& found,
                                         Side side, bool withStatus, const std::string& taskCode,
                                         std::int32_t level) {
  const TUnitData& unit = found.pair[side];
  const TUnitData& other = found.pair[side == Left ? Right : Left];
  try {
    // The sample's period is the one the table was compared in.
    const std::int64_t total = Cleanup(dataModule).DeleteRepeatedCopy(
        found.Sample, unit.sUnitCode, withStatus, taskCode, level,
        {unit.sUnitName, found.sGroupName, other.sUnitCode, other.sUnitName});
    if (total < 0) return {texts::kDeletionFailed, false};
    return {texts::kDeleted, true};
  } catch (const CopyChanged&) {
    // The finding is stale: the sheet is no longer repeated data, so it leaves the lists as if
    // the run had not found it.
    return {texts::kCopyChanged, true};
  } catch (const Error& e) {
    throw Error(texts::cleanupFailure(e, texts::Operation::Deletion));
  }
}

void RunPresenter::fillUnits(const FindingList& found) {
  units_.clear();
  for (const auto& entry : found) {
    const QString name = QString::fromStdString(entry->sGroupName);
    if (units_.findText(name, Qt::MatchFixedString) < 0) units_.addItem(name);
  }
  if (units_.count() > 0) units_.setCurrentIndex(0);
}

void RunPresenter::listSheets(const FindingList* found) {
  clearSheets();
  if (!found) return;
  // No choice gives the empty text, which no pair's name equals.
  const std::string chosen = units_.currentText().toStdString();
  for (const auto& entry : *found)
    if (entry->sGroupName == chosen) {
      listed_.push_back(*entry);
      sheets_.addItem(new SampleEntry(*entry));
    }
}

void RunPresenter::clearSheets() {
  sheets_.clear();  // deletes the entries and the sample copies they own
  listed_.clear();
}

bool RunPresenter::lastOfPair(int row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= listed_.size())
    throw Error("No repeated sheet is listed at row " + std::to_string(row));
  const DifferenceData& sheet = listed_[static_cast<std::size_t>(row)];
  for (std::size_t other = 0; other < listed_.size(); ++other)
    if (other != static_cast<std::size_t>(row) && samePair(listed_[other], sheet)) return false;
  return true;
}

void RunPresenter::removeSheet(int row, FindingList& found) {
  if (row < 0 || static_cast<std::size_t>(row) >= listed_.size())
    throw Error("No repeated sheet is listed at row " + std::to_string(row));
  const auto at = listed_.begin() + row;
  const DifferenceData& sheet = *at;
  std::erase_if(found, [&sheet](const auto& entry) { return sameFinding(*entry, sheet); });
  listed_.erase(at);
  delete sheets_.takeItem(row);
  if (sheets_.count() == 0) {
    units_.removeItem(units_.currentIndex());
    // As in the desktop combo box, removing the chosen item leaves none chosen.
    units_.setCurrentIndex(-1);
  }
}

}  // namespace dupsweep
