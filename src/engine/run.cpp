#include "engine/run.h"

#include <map>

#include <filesystem>
#include <utility>

#include "model/pairs.h"
#include "platform/files/files.h"
#include "platform/spreadsheet/reader.h"

namespace dupsweep {

const sheet::Workbook& TemplateCache::read(const std::string& path) {
  std::optional<std::string> bytes;
  try {
    bytes = files::readFile(path);
  } catch (const FileError&) {
    // Reading the workbook fails too, and says why.
  }
  const std::string extension = std::filesystem::path(path).extension().string();
  if (book_ && bytes && bytes == bytes_ && extension == extension_) return *book_;
  book_.reset();
  book_ = sheet::readWorkbook(std::filesystem::path(path));
  bytes_ = std::move(bytes);  // none: never matched
  extension_ = extension;
  return *book_;
}

ComparisonRun::ComparisonRun(TdmDupsweep& dataModule, std::string periodId, std::string taskCode,
                             std::int32_t level, TemplateCache* templates)
    : dm_(dataModule),
      periodId_(std::move(periodId)),
      taskCode_(std::move(taskCode)),
      level_(level),
      templates_(templates ? *templates : ownTemplates_) {}

template <class Extracted>
bool ComparisonRun::loadTemplate(Extracted&& extracted, const sheet::Workbook** book) {
  templateFailure_.clear();
  const std::string file = dm_.ExtractTemplate(periodId_, taskCode_, level_, &templateFailure_);
  if (file.empty()) return false;
  struct Remove {
    const std::string& file;
    ~Remove() { files::deleteFileQuietly(file); }
  } remove{file};
  extracted();
  if (book) *book = &templates_.read(file);
  return true;
}

BySide<std::unique_ptr<db::RowSet>> ComparisonRun::openRows(const TSampleData& sample,
                                                            const TUnitGroup& pair) {
  const std::string table = NumTableName(sample);
  BySide<std::unique_ptr<db::RowSet>> rows;
  rows[Right] = dm_.OpenUnitData(table, pair.UnitD->sUnitCode, sample.sPeriodID);
  rows[Left] = dm_.OpenUnitData(table, pair.UnitS->sUnitCode, sample.sPeriodID);
  return rows;
}

namespace {

void refuseSelfPair(const TUnitGroup& pair) {
  if (isSelfPair(pair))
    throw Error("The pair " + pair.GroupName + " pairs the unit " + pair.UnitS->sUnitCode +
                " with itself and is never compared");
}

}  // namespace

const RunResult& ComparisonRun::Run(const std::vector<RunEntry>& entries, ProgressSink& progress,
                                    GridCheck check) {
  result_ = RunResult{};
  progress.begin(static_cast<int>(entries.size()) + 2);
  samples_ = dm_.GetSampleList(periodId_, taskCode_, level_);
  const bool checked = check == GridCheck::TemplateGrids;
  const sheet::Workbook* book = nullptr;
  if (!loadTemplate([&] { progress.step(); }, checked ? &book : nullptr)) return result_;
  result_.compared = true;
  progress.step();

  const std::optional<GridFit> grids =
      checked ? std::optional<GridFit>(std::in_place, *book) : std::nullopt;
  for (std::size_t e = 0; e < entries.size(); ++e) {
    const RunEntry& entry = entries[e];
    if (entry.pair && entry.compare) {
      const TUnitGroup& pair = *entry.pair;
      refuseSelfPair(pair);
      PairFindings& found = result_.pairs.emplace_back();
      found.entry = e;
      found.pair = UnitPair(pair);
      found.sheets.reserve(samples_.size());
      for (const auto& sample : samples_) {
        if (progress.cancelled()) throw RunCancelled();
        if (grids) grids->checkSheet(sample->nSheetOrder);
        const std::optional<bool> same =
            SameRowsStreamed(dm_, NumTableName(*sample), pair.UnitS->sUnitCode,
                             pair.UnitD->sUnitCode, sample->sPeriodID, grids.has_value());
        found.sheets.push_back(!same   ? Verdict::NoTable
                               : *same ? Verdict::Identical
                                       : Verdict::Different);
      }
    }
    progress.step();
  }
  return result_;
}

std::optional<PairRows> ComparisonRun::Show(const TUnitGroup& pair,
                                            const std::string& rightPeriod) {
  const sheet::Workbook* book = nullptr;
  if (!loadTemplate([] {}, &book)) return std::nullopt;
  PairRows shown{book->copy(), {}};
  samples_ = dm_.GetSampleList(periodId_, taskCode_, level_);
  std::map<std::string, std::string> rightTables;  // by sample code, in rightPeriod
  if (rightPeriod.empty())
    refuseSelfPair(pair);
  else
    for (const auto& sample : dm_.GetSampleList(rightPeriod, taskCode_, level_))
      rightTables.try_emplace(sample->sSampleCode, NumTableName(*sample));
  const GridFit grids(shown.book);
  for (const auto& sample : samples_) {
    grids.checkSheet(sample->nSheetOrder);
    ShownSheet& sheet = shown.sheets.emplace_back();
    sheet.sample = sample.get();
    if (rightPeriod.empty()) {
      sheet.rows = openRows(*sample, pair);
    } else if (const auto table = rightTables.find(sample->sSampleCode);
               table != rightTables.end()) {
      sheet.rows[Right] = dm_.OpenUnitData(table->second, pair.UnitD->sUnitCode, rightPeriod);
      sheet.rows[Left] =
          dm_.OpenUnitData(NumTableName(*sample), pair.UnitS->sUnitCode, sample->sPeriodID);
    }
    if (!sheet.rows[Left] || !sheet.rows[Right]) continue;
    GridFit::checkRows(*sheet.rows[Left], *sheet.rows[Right]);
    sheet.rows[Left]->first();
    sheet.rows[Right]->first();
  }
  return shown;
}

}  // namespace dupsweep
