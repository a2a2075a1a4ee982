#include "ui/dupsweep/pairlist.h"

#include <QListWidget>
#include <QPalette>

#include "engine/unitcheck.h"
#include "platform/errors.h"
#include "scheme/scheme.h"

namespace dupsweep {

void PairEntry::markUnusable(const std::string& reason) {
  problem_ = reason.empty() ? std::string("?") : reason;
  setForeground(QPalette().brush(QPalette::Disabled, QPalette::Text));
  setToolTip(QString::fromStdString(problem_));
}

void PairList::append(const TUnitData& unitS, const TUnitData& unitD) {
  auto group = std::make_unique<TUnitGroup>(unitS, unitD);
  const QString text = QString::fromStdString(group->GroupName);
  box_.addItem(new PairEntry(text, std::move(group)));
}

bool PairList::removeSelected() {
  const QList<QListWidgetItem*> chosen = box_.selectedItems();
  if (chosen.isEmpty()) return false;
  delete box_.takeItem(box_.row(chosen.front()));  // the entry's pair goes with it
  box_.clearSelection();
  box_.setCurrentItem(nullptr, QItemSelectionModel::NoUpdate);
  return true;
}

void PairList::replace(std::vector<Loaded> pairs) {
  box_.clear();
  for (Loaded& pair : pairs) {
    const TUnitData& unitS = keep(std::move(pair.units[Left]));
    const TUnitData& unitD = keep(std::move(pair.units[Right]));
    auto* entry = new PairEntry(QString::fromStdString(pair.section),
                                std::make_unique<TUnitGroup>(unitS, unitD));
    if (!pair.problem.empty()) entry->markUnusable(pair.problem);
    box_.addItem(entry);
  }
}

std::vector<std::string> PairList::loadScheme(const std::string& path, TdmDupsweep* dataModule,
                                              const std::string& unitClsCode,
                                              std::vector<std::string>& dropped) {
  // A missing or unreadable file gives no pairs. The file is not tested for validity: every
  // section becomes a pair, listed under the section's name.
  std::vector<scheme::SchemePair> lost;
  std::vector<scheme::SchemePair> pairs = scheme::loadScheme(path, &lost);
  dropped.clear();
  for (const scheme::SchemePair& pair : lost)
    dropped.push_back(pair.section + "（" + pair.units[Left].sUnitCode + "/" +
                      pair.units[Right].sUnitCode + "）");

  // The file's names may no longer belong to its codes (a file edited by hand, units renamed by
  // the host): the deletion question and the viewer name the units the database knows by those
  // codes, and a code it does not know is never compared or deleted from.
  std::vector<UnitPair*> refs;
  for (scheme::SchemePair& pair : pairs) refs.push_back(&pair.units);
  std::vector<PairCheck> checks(pairs.size());
  std::string lookupFailure;
  if (!pairs.empty()) {
    try {
      if (!dataModule) throw DatabaseError("the dialog has no data module");
      checks = checkPairUnits(*dataModule, unitClsCode, refs);
    } catch (const DatabaseError& e) {
      lookupFailure = e.what();
    }
  }

  std::vector<std::string> unusable;
  std::vector<Loaded> loaded;
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    scheme::SchemePair& pair = pairs[i];
    std::string problem;
    if (isSelfPair(pair.units)) {
      problem = "两个单位的代码相同（" + pair.units[Left].sUnitCode + "）";
    } else if (!lookupFailure.empty()) {
      problem = "无法核对单位代码（" + lookupFailure + "）";
    } else {
      for (const std::string& code : checks[i].unknownCodes) {
        if (!problem.empty()) problem += "；";
        problem += "单位代码“" + code + "”不在单位分类“" + unitClsCode + "”中";
      }
    }
    if (!problem.empty()) unusable.push_back(pair.section + "：" + problem);
    loaded.push_back({std::move(pair.section), std::move(pair.units), std::move(problem)});
  }
  replace(std::move(loaded));
  return unusable;
}

void PairList::clear() {
  box_.clear();
}

int PairList::count() const {
  return box_.count();
}

const PairEntry* PairList::entryAt(int row) const {
  return dynamic_cast<const PairEntry*>(box_.item(row));
}

const PairEntry* PairList::selected() const {
  const QList<QListWidgetItem*> chosen = box_.selectedItems();
  return chosen.isEmpty() ? nullptr : dynamic_cast<const PairEntry*>(chosen.front());
}

std::vector<RunEntry> PairList::runEntries() const {
  std::vector<RunEntry> entries;
  for (int row = 0; row < box_.count(); ++row) {
    const PairEntry* entry = entryAt(row);
    entries.push_back({entry ? &entry->group() : nullptr, entry && entry->usable()});
  }
  return entries;
}

std::vector<UnitPair> PairList::pairs() const {
  std::vector<UnitPair> all;
  for (int row = 0; row < box_.count(); ++row)
    if (const PairEntry* entry = entryAt(row)) all.emplace_back(entry->group());
  return all;
}

}  // namespace dupsweep
