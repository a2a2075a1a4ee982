#pragma once
// ComparisonRun: the whole comparison run without widgets. It reads the period's sample tables and
// template workbook, compares every pair over every sheet in order, and counts its steps the way
// the dialog's progress bar does. It returns what it found per pair and sheet; the dialog, the
// showing of one pair and the batch scanner each make of that what they show.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "data/dmdupsweep.h"
#include "engine/compare.h"
#include "model/pair.h"
#include "model/records.h"
#include "platform/errors.h"
#include "platform/spreadsheet/workbook.h"

namespace dupsweep {

// Progress of a run, in the steps the run counts.
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

// Thrown when the progress sink asked to stop; what was found before stays in the result.
class RunCancelled : public Error {
 public:
  RunCancelled() : Error("The comparison run was cancelled") {}
};

// One entry of the pair list: the pair, and whether it is compared (a pair marked unusable still
// counts as a step, as every entry of the list does).
struct RunEntry {
  const TUnitGroup* pair = nullptr;
  bool compare = true;
};

// What the run found on one sheet of one pair.
enum class Verdict : std::uint8_t {
  Different,  // the two units' rows are not identical (SameRows)
  Identical,
  NoTable,  // the sheet's figures table does not exist (or cannot be named): not identical
};

// One compared pair: its place among the run's entries, the pair, and a verdict per sheet of the
// run's samples, in their order (fewer when a failure ended the run on this pair).
struct PairFindings {
  std::size_t entry = 0;
  UnitPair pair;
  std::vector<Verdict> sheets;
};

struct RunResult {
  bool compared = false;            // false without a template: nothing was compared
  std::vector<PairFindings> pairs;  // the pairs compared, in the entries' order
};

// Whether a run checks the rows against what the viewer's grids can take (GridFit) over the
// template, which it then reads: the dialog's run fails where filling the grids would fail.
enum class GridCheck { None, TemplateGrids };

// One sheet of a pair being shown: its sample and both units' rows on their first row (null when
// the sheet's figures table does not exist).
struct ShownSheet {
  const TSampleData* sample = nullptr;
  BySide<std::unique_ptr<db::RowSet>> rows;
};

// What the viewer shows of one pair: the template and every sheet's rows, in the samples' order.
struct PairRows {
  sheet::Workbook book;
  std::vector<ShownSheet> sheets;
};

// The template workbook last read, with the bytes (and the extension) of its file: the same bytes
// read again give the same workbook, so that a dialog parses a period's template once, however
// often it runs and shows.
class TemplateCache {
 public:
  // The workbook in the file at `path` as sheet::readWorkbook reads it, raising what it raises;
  // valid until the next read.
  const sheet::Workbook& read(const std::string& path);

 private:
  std::optional<std::string> bytes_;
  std::string extension_;
  std::optional<sheet::Workbook> book_;
};

class ComparisonRun {
 public:
  // `templates` keeps the template read between runs (null: this run reads its own).
  ComparisonRun(TdmDupsweep& dataModule, std::string periodId, std::string taskCode,
                std::int32_t level, TemplateCache* templates = nullptr);

  // The run over `entries` in their order, announcing entries + 2 steps: reads the sample tables
  // (their failure propagates), then the template: without one nothing is compared and
  // result().compared is false (`templateFailure` says why when it could not be read rather than
  // not being there). Otherwise, with a step after each: the template (read when `check` asks
  // for the grids, failing as the grids' reading does), then every entry, each one that is
  // compared over every sheet. Every failure of a read (other than a missing table), of the check
  // or a cancellation ends the run there and propagates; result() then holds what was found
  // before it.
  const RunResult& Run(const std::vector<RunEntry>& entries, ProgressSink& progress,
                       GridCheck check);

  // The showing of one pair: the template (nullopt, nothing else done, without one), the sample
  // tables, and the pair's rows of every sheet, checked as the dialog's run checks them. Failures
  // propagate as in Run.
  std::optional<PairRows> Show(const TUnitGroup& pair);

  const RunResult& result() const noexcept { return result_; }
  // The sample tables of the last Run or Show, in their order.
  const SampleList& samples() const noexcept { return samples_; }
  // Why the template could not be read (empty when there was none, or it was read).
  const std::string& templateFailure() const noexcept { return templateFailure_; }

 private:
  // Extracts the template and deletes it again; false without one. `extracted` runs once the
  // file is there; then, when `book` is given, the workbook is read into it.
  template <class Extracted>
  bool loadTemplate(Extracted&& extracted, const sheet::Workbook** book);
  // Both units' rows of `sample`'s figures table, the right unit's read first; null for a table
  // that does not exist.
  BySide<std::unique_ptr<db::RowSet>> openRows(const TSampleData& sample, const TUnitGroup& pair);

  TdmDupsweep& dm_;
  std::string periodId_;
  std::string taskCode_;
  std::int32_t level_;
  SampleList samples_;
  std::string templateFailure_;
  RunResult result_;
  TemplateCache ownTemplates_;
  TemplateCache& templates_;
};

}  // namespace dupsweep
