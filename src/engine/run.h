#pragma once
// ComparisonRun: the whole comparison run without widgets: reads the period's sample tables and
// template, compares every pair over every sheet, counts steps as the progress bar does, and
// returns what it found per pair and sheet.

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

class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  // Before the first step.
  virtual void begin(int /*steps*/) {}
  virtual void step() {}
  // Asked before every sheet (by the discovery also within one); true ends the run with
  // RunCancelled.
  virtual bool cancelled() { return false; }
};

// What was found before stays in the result.
class RunCancelled : public Error {
 public:
  RunCancelled() : Error("The comparison run was cancelled") {}
};

// A pair and whether it is compared; a pair marked unusable still counts as a step.
struct RunEntry {
  const TUnitGroup* pair = nullptr;
  bool compare = true;
};

enum class Verdict : std::uint8_t {
  Different,  // the two units' rows are not identical (SameRows)
  Identical,
  NoTable,  // the sheet's figures table does not exist (or cannot be named): not identical
};

// A verdict per sheet of the run's samples, in order (fewer when a failure ended the run there).
struct PairFindings {
  std::size_t entry = 0;
  UnitPair pair;
  std::vector<Verdict> sheets;
};

struct RunResult {
  bool compared = false;            // false without a template: nothing was compared
  std::vector<PairFindings> pairs;  // the pairs compared, in the entries' order
};

// TemplateGrids: the run checks rows against the grids (GridFit) over the template, failing where
// filling the grids would fail.
enum class GridCheck { None, TemplateGrids };

// Both units' rows on their first row; null when the sheet's figures table does not exist.
struct ShownSheet {
  const TSampleData* sample = nullptr;
  BySide<std::unique_ptr<db::RowSet>> rows;
};

// The template and every sheet's rows, in the samples' order.
struct PairRows {
  sheet::Workbook book;
  std::vector<ShownSheet> sheets;
};

// The template last read with its file's bytes, so a dialog parses a period's template once
// however often it runs and shows.
class TemplateCache {
 public:
  // As sheet::readWorkbook reads it, raising what it raises; valid until the next read.
  const sheet::Workbook& read(const std::string& path);

 private:
  std::optional<std::string> bytes_;
  std::string extension_;
  std::optional<sheet::Workbook> book_;
};

class ComparisonRun {
 public:
  // `templates` keeps the template between runs (null: this run reads its own).
  ComparisonRun(TdmDupsweep& dataModule, std::string periodId, std::string taskCode,
                std::int32_t level, TemplateCache* templates = nullptr);

  // Announces entries + 2 steps: the sample tables, the template (none: result().compared is false;
  // `templateFailure` says why when unreadable), every entry. A failure other than a missing table,
  // or a cancellation, ends the run and propagates; result() holds what was found before.
  const RunResult& Run(const std::vector<RunEntry>& entries, ProgressSink& progress,
                       GridCheck check);

  // The template (nullopt, nothing else done, without one), the sample tables and the pair's rows
  // of every sheet, checked as Run checks them; failures propagate as in Run.
  // With `rightPeriod`, the right unit's rows are those of that period's sheet of the same sample
  // code (none where it has no such sheet), and a unit may be shown against itself.
  std::optional<PairRows> Show(const TUnitGroup& pair, const std::string& rightPeriod = {});

  const RunResult& result() const noexcept { return result_; }
  // Of the last Run or Show.
  const SampleList& samples() const noexcept { return samples_; }
  // Empty when there was none, or it was read.
  const std::string& templateFailure() const noexcept { return templateFailure_; }

 private:
  // False without a template. `extracted` runs once the file is there; then `book`, when given,
  // is read. The file is deleted again.
  template <class Extracted>
  bool loadTemplate(Extracted&& extracted, const sheet::Workbook** book);
  // The right unit's read first; null for a table that does not exist.
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
