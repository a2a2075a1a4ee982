#pragma once
// PairList: the dialog's pair list (lsbSelectUnit) and the unit records its pairs refer to. The
// list box shows the entries; this class adds, removes and replaces them and hands the pairs to
// the comparison run and to the scheme file.

#include <QListWidgetItem>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "engine/run.h"
#include "model/pair.h"

class QListWidget;

namespace dupsweep {

class TdmDupsweep;

// An entry of the pair list: the entry's text and the pair it owns. Removing the entry from the
// list (deleting the item) releases the pair; the pair's units belong to the PairList.
class PairEntry : public QListWidgetItem {
 public:
  PairEntry(const QString& text, std::unique_ptr<TUnitGroup> group)
      : QListWidgetItem(text, nullptr, QListWidgetItem::UserType), group_(std::move(group)) {}
  const TUnitGroup& group() const noexcept { return *group_; }

  // Why the pair can be neither compared nor deleted from (its two units are one unit, or a
  // unit is not in the host's classification); empty for a usable pair.
  const std::string& problem() const noexcept { return problem_; }
  bool usable() const noexcept { return problem_.empty(); }
  // Marks the pair unusable: greyed out, the reason as its tooltip; the text stays as it is.
  void markUnusable(const std::string& reason);

 private:
  std::unique_ptr<TUnitGroup> group_;
  std::string problem_;
};

class PairList {
 public:
  explicit PairList(QListWidget& box) : box_(box) {}

  // Keeps a unit record for the life of the dialog, so that pairs (and the tree's nodes) may
  // refer to it.
  TUnitData& keep(TUnitData unit) { return units_.emplace_back(std::move(unit)); }

  // Appends the pair (unitS, unitD) under its GroupName. Both records must be kept ones.
  void append(const TUnitData& unitS, const TUnitData& unitD);
  // Appends a pair whose units are copied into kept records.
  void appendCopy(const UnitPair& pair) { append(keep(pair[Left]), keep(pair[Right])); }

  // Removes the selected entry with its pair; false when none is selected. As in the desktop
  // list box, no entry is selected afterwards.
  bool removeSelected();

  // A pair of a scheme file: the section it is listed under, its units, and why it is unusable
  // (empty for a usable pair).
  struct Loaded {
    std::string section;
    UnitPair units;
    std::string problem;
  };
  // Replaces every entry by `pairs` in their order; a pair with a problem is marked unusable.
  void replace(std::vector<Loaded> pairs);
  // Replaces every entry by the pairs of the scheme file at `path` (none when it is missing or
  // unreadable). Each pair's units are looked up by code in classification `unitClsCode` (one
  // statement): a found unit's current name, identifier and level replace what the file says; a
  // pair of one unit with itself, or with a code the classification does not have, is listed but
  // marked unusable, as is every pair when the look-up fails. Returns one line per marked pair
  // ("section: reason"); `dropped` gets one line per pair the file loses to a later section of
  // the same name ("section（code/code）").
  std::vector<std::string> loadScheme(const std::string& path, TdmDupsweep* dataModule,
                                      const std::string& unitClsCode,
                                      std::vector<std::string>& dropped);
  void clear();

  int count() const;
  // The entry at `row`, the selected entry; null when there is none.
  const PairEntry* entryAt(int row) const;
  const PairEntry* selected() const;

  // Every entry for a comparison run, in the list's order: an unusable pair is passed over (and
  // still counted).
  std::vector<RunEntry> runEntries() const;
  // Every pair, in the list's order, for a scheme file.
  std::vector<UnitPair> pairs() const;

 private:
  QListWidget& box_;
  std::deque<TUnitData> units_;
};

}  // namespace dupsweep
