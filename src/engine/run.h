#pragma once
// ComparisonRun: the whole comparison run without widgets. It reads the period's sample tables and
// template workbook, compares every pair over every sheet in order, reports each identical sheet
// with its pair as it is found, and counts its steps the way the dialog's progress bar does. The
// dialog, the showing of one pair and the batch scanner all drive it; what only a window does
// (loading the template into grids, captions, the lists) comes in through RunObserver.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "data/dmdupsweep.h"
#include "engine/compare.h"
#include "model/records.h"
#include "platform/errors.h"

namespace dupsweep {

// Progress of a run, in the steps the dialog counts: the number of pairs plus four.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  // Before the first step: how many there will be.
  virtual void begin(int /*steps*/) {}
  // One step done.
  virtual void step() {}
  // Asked before every sheet (by the discovery also within one); true ends the run with
  // RunCancelled. Callers that offer no way to cancel keep the default.
  virtual bool cancelled() { return false; }
};

// Thrown when the progress sink asked to stop; what was found before stays reported.
class RunCancelled : public Error {
 public:
  RunCancelled() : Error("The comparison run was cancelled") {}
};

// What a caller adds to a run besides the work on each sheet (SheetObserver).
class RunObserver : public SheetObserver {
 public:
  // The period's template workbook, written to `file`, which the run deletes when this returns
  // (also when it throws).
  virtual void TemplateReady(const std::string& /*file*/) {}
  // After each pair's last sheet.
  virtual void PairDone(const TUnitGroup& /*pair*/) {}
  // After the last pair, before the step that follows it.
  virtual void PairsDone() {}
  // Last: `lastPair` is the pair of the run's last entry (null when it has none).
  virtual void Finish(const TUnitGroup* /*lastPair*/) {}
};

// One entry of the pair list: the pair, and whether it is compared (a pair marked unusable still
// counts as a step, as every entry of the list does).
struct RunEntry {
  const TUnitGroup* pair = nullptr;
  bool compare = true;
};

class ComparisonRun {
 public:
  ComparisonRun(TdmDupsweep& dataModule, std::string periodId, std::string taskCode,
                std::int32_t level);

  // The run over `entries` in their order. Reads the sample tables (their failure propagates),
  // then the template: without one nothing is compared and the result is false (`templateFailure`
  // says why when it could not be read rather than not being there). Otherwise, with a step after
  // each: the template goes to the observer; every entry that is compared is compared over every
  // sheet, each identical sheet reaching `onFound` at once with the pair's name and units; then
  // PairsDone; then Finish; the result is true. Every failure of a read (other than a missing
  // table), of the observer or of `onFound` ends the run there and propagates.
  bool Run(const std::vector<RunEntry>& entries, RunObserver& observer, ProgressSink& progress,
           const std::function<void(DifferenceData)>& onFound);

  // The showing of one pair: the template (false, nothing else done, without one), the sample
  // tables, the pair over every sheet with nothing recorded, then PairDone and Finish. Failures
  // propagate as in Run.
  bool Show(const TUnitGroup& pair, RunObserver& observer);

  // The sample tables of the last Run or Show, in their order.
  const SampleList& samples() const noexcept { return samples_; }
  // Why the template could not be read (empty when there was none, or it was read).
  const std::string& templateFailure() const noexcept { return templateFailure_; }

 private:
  // Extracts the template and hands it to the observer (after a step of `progress`, when given),
  // deleting the file afterwards; false, with nothing handed over, without one.
  bool loadTemplate(RunObserver& observer, ProgressSink* progress);

  TdmDupsweep& dm_;
  std::string periodId_;
  std::string taskCode_;
  std::int32_t level_;
  SampleList samples_;
  std::string templateFailure_;
};

}  // namespace dupsweep
