#include "engine/run.h"

#include <utility>

#include "platform/files/files.h"

namespace dupsweep {
namespace {

// Passes every sheet on to the caller's observer, asking the progress sink before each whether
// to go on.
class CancellableSheets : public SheetObserver {
 public:
  CancellableSheets(SheetObserver& inner, ProgressSink& progress)
      : inner_(inner), progress_(progress) {}
  void BeginSheet(const TSampleData& sample, const TUnitGroup& pair) override {
    if (progress_.cancelled()) throw RunCancelled();
    inner_.BeginSheet(sample, pair);
  }
  void FillSheet(db::RowSet& s, db::RowSet& d, TSampleData& sample) override {
    inner_.FillSheet(s, d, sample);
  }
  void TableMissing(const TSampleData& sample, const std::string& table) override {
    inner_.TableMissing(sample, table);
  }
  void EndSheet(const TSampleData& sample) override { inner_.EndSheet(sample); }

 private:
  SheetObserver& inner_;
  ProgressSink& progress_;
};

}  // namespace

ComparisonRun::ComparisonRun(TdmDupsweep& dataModule, std::string periodId, std::string taskCode,
                             std::int32_t level)
    : dm_(dataModule),
      periodId_(std::move(periodId)),
      taskCode_(std::move(taskCode)),
      level_(level) {}

bool ComparisonRun::loadTemplate(RunObserver& observer, ProgressSink* progress) {
  templateFailure_.clear();
  const std::string file = dm_.ExtractTemplate(periodId_, taskCode_, level_, &templateFailure_);
  if (file.empty()) return false;
  struct Remove {
    const std::string& file;
    ~Remove() { files::deleteFileQuietly(file); }
  } remove{file};
  if (progress) progress->step();
  observer.TemplateReady(file);
  return true;
}

bool ComparisonRun::Run(const std::vector<RunEntry>& entries, RunObserver& observer,
                        ProgressSink& progress,
                        const std::function<void(DifferenceData)>& onFound) {
  progress.begin(static_cast<int>(entries.size()) + 4);
  samples_ = dm_.GetSampleList(periodId_, taskCode_, level_);
  if (!loadTemplate(observer, &progress)) return false;
  progress.step();

  ComparisonEngine engine(dm_);
  CancellableSheets sheets(observer, progress);
  for (const RunEntry& entry : entries) {
    if (entry.pair && entry.compare) {
      const TUnitGroup& pair = *entry.pair;
      engine.ComparePair(samples_, pair, sheets, [&](const TSampleData& t) {
        DifferenceData found;
        found.sGroupName = pair.GroupName;
        found.Sample = t;  // the copying rule: every field but the sheet number
        found.UnitS = *pair.UnitS;
        found.UnitD = *pair.UnitD;
        if (onFound) onFound(std::move(found));
      });
      observer.PairDone(pair);
    }
    progress.step();
  }
  observer.PairsDone();
  progress.step();
  observer.Finish(entries.empty() ? nullptr : entries.back().pair);
  progress.step();
  return true;
}

bool ComparisonRun::Show(const TUnitGroup& pair, RunObserver& observer) {
  if (!loadTemplate(observer, nullptr)) return false;
  samples_ = dm_.GetSampleList(periodId_, taskCode_, level_);
  ComparisonEngine(dm_).ComparePair(samples_, pair, observer, nullptr);
  observer.PairDone(pair);
  observer.Finish(&pair);
  return true;
}

}  // namespace dupsweep
