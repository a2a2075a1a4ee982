#include "cleanup/review.h"

#include "data/statements.h"
#include "journal/journal.h"
#include "platform/db/db.h"

namespace dupsweep {

ReviewSession::ReviewSession(TdmDupsweep& data, DiscoveryResult result, std::string taskCode,
                             std::int32_t level, std::optional<std::filesystem::path> journalPath)
    : data_(data),
      result_(std::move(result)),
      taskCode_(std::move(taskCode)),
      level_(level),
      journalPath_(std::move(journalPath)),
      database_(db::databaseIdentity(data.ConnectionString())) {
  journal::Journal log(journalPath_ ? *journalPath_ : journal::defaultPath(),
                       journal::Journal::Mode::ReadOnly);
  findings_ =
      reviewFindings(data_, result_, log.decisions(database_), database_, taskCode_, level_);
  gone_.assign(findings_.size(), false);
}

std::size_t ReviewSession::find(const std::string& a, const std::string& b,
                                const std::string& sheetCode,
                                const std::string& againstPeriod) const {
  for (std::size_t i = 0; i < findings_.size(); ++i) {
    const FindingKey& k = findings_[i].key;
    if (k.sampleCode == sheetCode && k.againstPeriod == againstPeriod &&
        ((k.unitCode1 == a && k.unitCode2 == b) || (k.unitCode1 == b && k.unitCode2 == a)))
      return i;
  }
  throw NoSuchFinding("no finding of units " + a + " and " + b + " on sheet " + sheetCode +
                      (againstPeriod.empty() ? "" : " against period " + againstPeriod) +
                      " in period " + result_.periodId);
}

void ReviewSession::mark(std::size_t index, Mark mark, const std::string& note) {
  ReviewedFinding& r = findings_.at(index);
  Decision d;
  d.key = r.key;
  d.kind = r.finding.kind;
  d.mark = mark;
  d.note = note;
  d.fingerprint = rowsFingerprint(data_, result_, r.finding);
  journal::Journal log(journalPath_ ? *journalPath_ : journal::defaultPath(),
                       journal::Journal::Mode::ReadWrite);
  log.decide(d);
  d.who = journal::currentUser();
  d.when = journal::nowUtc();
  r.decision = std::move(d);
  r.mark = mark;
}

bool ReviewSession::deletable(std::size_t index) const {
  const Finding& f = findings_.at(index).finding;
  return f.kind == kIdenticalKind && f.againstPeriod.empty() && !gone_[index];
}

int ReviewSession::rowsOf(std::size_t index, Side side) const {
  const Finding& f = findings_.at(index).finding;
  const TSampleData& sheet = result_.sheets.at(static_cast<std::size_t>(f.sheet));
  const UnitPair& units = result_.pairs.at(static_cast<std::size_t>(f.pair)).units;
  const auto rows =
      data_.OpenUnitData(NumTableName(sheet), units[side].sUnitCode, result_.periodId);
  return rows ? rows->rowCount() : 0;
}

Cleanup::BatchOutcome ReviewSession::deleteCopies(
    const std::vector<std::pair<std::size_t, Side>>& copies) {
  std::vector<CopyToDelete> order;
  for (const auto& [index, side] : copies) {
    if (!deletable(index))
      throw Error("only an identical sheet of the searched period can be deleted");
    const Finding& f = findings_.at(index).finding;
    order.push_back({f.pair, f.sheet, side});
  }
  std::vector<ReviewedFinding> present;
  for (std::size_t i = 0; i < findings_.size(); ++i)
    if (!gone_[i]) present.push_back(findings_[i]);
  const std::vector<bool> status = statusGoesWith(present, order);
  std::vector<Cleanup::BatchCopy> batch;
  for (std::size_t i = 0; i < order.size(); ++i) {
    const UnitPair& units = result_.pairs.at(static_cast<std::size_t>(order[i].pair)).units;
    const TUnitData& unit = units[order[i].copyOf];
    const TUnitData& other = units[otherSide(order[i].copyOf)];
    Cleanup::BatchCopy c;
    c.sample = result_.sheets.at(static_cast<std::size_t>(order[i].sheet));
    c.sample.sPeriodID = result_.periodId;
    c.unitCode = unit.sUnitCode;
    c.withStatus = status[i];
    c.taskCode = taskCode_;
    c.level = level_;
    c.notes = {unit.sUnitName, units.name, other.sUnitCode, other.sUnitName};
    batch.push_back(std::move(c));
  }
  Cleanup::BatchOutcome outcome = Cleanup(data_, journalPath_).DeleteBatch(batch);
  for (std::size_t i = 0; i < outcome.rows.size(); ++i) gone_[copies[i].first] = true;
  return outcome;
}

}  // namespace dupsweep
