#include "engine/discovery.h"

#include <xxhash.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "engine/compare.h"
#include "engine/rescale.h"
#include "platform/errors.h"

namespace dupsweep {
namespace {

constexpr std::size_t kFirstFigure = kFirstFigureColumn;

// Bytes written one after the other through a pointer, so that putting a value of a fixed size
// is a few stores rather than a call (a sheet has millions of values).
class ByteRun {
 public:
  char* grow(std::size_t n) {
    if (n > capacity_ - size_) expand(n);
    char* p = data_ + size_;
    size_ += n;
    return p;
  }
  void append(const void* data, std::size_t n) {
    if (n > 0) std::memcpy(grow(n), data, n);
  }
  void clear() noexcept { size_ = 0; }
  // Takes back the last n bytes grown.
  void drop(std::size_t n) noexcept { size_ -= n; }
  const char* data() const noexcept { return data_; }
  std::size_t size() const noexcept { return size_; }

 private:
  [[gnu::noinline]] void expand(std::size_t n) {
    bytes_.resize(std::max(2 * bytes_.size(), size_ + n + 4096));
    data_ = bytes_.data();
    capacity_ = bytes_.size();
  }

  std::vector<char> bytes_;
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

std::uint64_t hashOf(const void* data, std::size_t size, std::uint64_t seed) {
  return XXH3_64bits_withSeed(data, size, seed);
}

// ---- Asking whether to stop --------------------------------------------------------------------

// A worker's check of the run's stop flag, every 64 steps of work (a row read, a comparison) and
// before each sheet; the thread that called Run sets the flag when the progress sink asks to stop
// or a worker failed.
class Pace {
 public:
  explicit Pace(const std::atomic<bool>& stop) : stop_(stop) {}
  void tick() {
    if ((++steps_ & 63u) == 0) ask();
  }
  void ask() const {
    if (stop_.load(std::memory_order_relaxed)) throw RunCancelled();
  }

 private:
  const std::atomic<bool>& stop_;
  std::uint64_t steps_ = 0;
};

// ---- One sheet's fingerprints ------------------------------------------------------------------

// Receives a sheet's rows for all units (ordered by unit code and nRow) and keeps, for each unit
// of the tree, a few words: the fingerprint of its rows, the fingerprints of its row bands (rows
// whose positions agree modulo the number of bands), the scale-invariant fingerprint, its largest
// magnitude and its count of non-zero numbers. The rows themselves are not kept: a unit that is a
// candidate is read again, with the one-unit statement of the comparison. Rows of units the tree
// does not show are passed over.
class SheetRows : public db::RowSink {
 public:
  struct Unit {
    int unit = 0;                       // index into the tree's units
    std::size_t rows = 0;               // its row count
    std::uint64_t fingerprint = 0;      // of every row's figures' value keys, in nRow order
    std::vector<std::uint64_t> bands;   // of the rows of each band, min(rows, bands) of them
    // Of the figures' scale-invariant keys (rescale.h), row by row: what a rescaled copy shares.
    std::uint64_t scaleFingerprint = 0;
    double largest = 0;  // the largest magnitude of a number
    int nonZero = 0;     // numbers other than zero
  };

  SheetRows(TdmDupsweep& dm, const std::vector<TUnitData>& units,
            const std::unordered_map<std::string, int>& unitIndex, std::size_t bands,
            bool scaleKeys, Pace& pace)
      : dm_(dm),
        treeUnits_(units),
        unitIndex_(unitIndex),
        bandCount_(bands),
        scaleKeys_(scaleKeys),
        pace_(pace) {}

  // Empties the rows for the sheet whose figures table is `table`, read for `period`.
  void reset(std::string table, std::string period) {
    table_ = std::move(table);
    period_ = std::move(period);
    names_.clear();
    units_.clear();
    used_.clear();
    present_.clear();
    lastCode_.clear();
    last_ = -1;
  }

  void columns(const std::vector<std::string>& names) override {
    names_ = names;
    codeColumn_ = -1;
    for (std::size_t i = 0; i < names.size(); ++i) {
      std::string lower = names[i];
      for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (lower == "sunitcode") codeColumn_ = static_cast<int>(i);
    }
    if (codeColumn_ < 0) throw DatabaseError("The data table has no column sUnitCode");
  }

  void row(const std::vector<db::Value>& values) override {
    views_.clear();
    for (const db::Value& v : values) views_.push_back(db::viewOf(v));
    cells(views_);
  }

  void cells(const std::vector<db::CellView>& row) override {
    pace_.tick();
    const db::CellView& code = row[static_cast<std::size_t>(codeColumn_)];
    Unit* unit = code.kind == db::ValueKind::Text
                     ? unitFor(code.bytes)
                     : unitFor(db::displayText(db::valueOf(code)));
    if (!unit) return;
    const std::size_t width = row.size() > kFirstFigure ? row.size() - kFirstFigure : 0;
    const std::size_t place = unit->rows * width;
    if (used_.size() < place + width) used_.resize(place + width, 0);
    key_.clear();
    scaleKey_.clear();
    const std::size_t columns = row.size();
    for (std::size_t k = kFirstFigure; k < columns; ++k) {
      if (row[k].kind != db::ValueKind::Null) used_[place + k - kFirstFigure] = 1;
      if (scaleKeys_) scaleKey(row[k], *unit);
      if (db::writeNumberKey(row[k], key_.grow(db::kNumberKeySize))) continue;
      key_.drop(db::kNumberKeySize);
      otherKey_.clear();
      db::appendValueKey(row[k], otherKey_);
      key_.append(otherKey_.data(), otherKey_.size());
    }
    const std::uint64_t rowHash = hashOf(key_.data(), key_.size(), 0);
    const std::size_t position = unit->rows++;
    unit->fingerprint = hashOf(&rowHash, sizeof rowHash, unit->fingerprint + position);
    const std::size_t band = position % bandCount_;
    if (band == unit->bands.size()) unit->bands.push_back(band + 1);
    unit->bands[band] = hashOf(&rowHash, sizeof rowHash, unit->bands[band]);
    unit->scaleFingerprint =
        hashOf(scaleKey_.data(), scaleKey_.size(), unit->scaleFingerprint + position);
  }

  // The value's scale-invariant key (appendScaleInvariantKey), counted into the unit's non-zero
  // numbers and largest magnitude; integers and finite doubles, most figures, without a call.
  void scaleKey(const db::CellView& v, Unit& unit) {
    double magnitude = 0;
    if (v.kind == db::ValueKind::Floating && v.floating == v.floating) {
      magnitude = std::fabs(v.floating);
      scaleKey_ += v.floating == 0 ? 'Z' : v.floating > 0 ? 'P' : 'M';
    } else if (v.kind == db::ValueKind::Integer) {
      magnitude = std::fabs(static_cast<double>(v.integer));
      scaleKey_ += v.integer == 0 ? 'Z' : v.integer > 0 ? 'P' : 'M';
    } else {
      appendScaleInvariantKey(v, scaleKey_);
      if (!isNonZeroNumber(v)) return;
      magnitude = magnitudeOf(v);
      ++unit.nonZero;
      unit.largest = std::max(unit.largest, magnitude);
      return;
    }
    if (magnitude == 0) return;
    ++unit.nonZero;
    unit.largest = std::max(unit.largest, magnitude);
  }

  const std::vector<Unit>& units() const noexcept { return units_; }
  // Per row place and figure column: 1 where some unit has a value.
  const std::vector<char>& used() const noexcept { return used_; }
  // The figure cells of the first `rows` rows that hold a value in some unit's rows: a column
  // left empty by every unit is no figure of the sheet.
  std::size_t figureCells(std::size_t rows) const {
    const std::size_t end = std::min(used_.size(), rows * static_cast<std::size_t>(figureColumns()));
    return static_cast<std::size_t>(
        std::count(used_.begin(), used_.begin() + static_cast<std::ptrdiff_t>(end), 1));
  }
  int figureColumns() const noexcept {
    return std::max(0, static_cast<int>(names_.size()) - kFirstFigureColumn);
  }

  // The unit's rows, read again with the one-unit statement of the comparison. Throws
  // DatabaseError when the table is gone since it was read, naming it.
  std::unique_ptr<db::RowSet> rowSet(const Unit& unit) const {
    const std::string& code = treeUnits_[static_cast<std::size_t>(unit.unit)].sUnitCode;
    std::unique_ptr<db::RowSet> rows = dm_.OpenUnitData(table_, code, period_);
    if (!rows)
      throw DatabaseError("table " + table_ + " is gone while the units of period " + period_ +
                          " were compared");
    return rows;
  }

 private:
  Unit* unitFor(std::string_view code) {
    if (last_ >= 0 && code == lastCode_) return &units_[static_cast<std::size_t>(last_)];
    const auto known = unitIndex_.find(std::string(code));
    if (known == unitIndex_.end()) {
      last_ = -1;
      return nullptr;
    }
    // A unit's rows normally come together; under a collation that ignores letter case the rows
    // of two codes may interleave, and each code's rows still come in nRow order.
    auto [place, added] = present_.try_emplace(known->second, static_cast<int>(units_.size()));
    if (added) {
      units_.emplace_back();
      units_.back().unit = known->second;
    }
    lastCode_ = code;
    last_ = place->second;
    return &units_[static_cast<std::size_t>(last_)];
  }

  TdmDupsweep& dm_;
  const std::vector<TUnitData>& treeUnits_;
  const std::unordered_map<std::string, int>& unitIndex_;
  std::size_t bandCount_;
  bool scaleKeys_;  // whether the scale-invariant fingerprint is made
  Pace& pace_;
  std::string table_;
  std::string period_;
  std::vector<std::string> names_;
  int codeColumn_ = -1;
  ByteRun key_;            // the value keys of the row being read
  std::string otherKey_;   // the key of one value that is not a number
  std::string scaleKey_;   // the scale-invariant keys of the row being read
  std::vector<db::CellView> views_;  // a row handed as values, seen as views
  std::vector<Unit> units_;
  std::vector<char> used_;  // per row place and figure column: 1 when some unit has a value there
  std::unordered_map<int, int> present_;  // tree unit -> index into units_
  std::string lastCode_;
  int last_ = -1;
};


// ---- What is found, pair by pair ---------------------------------------------------------------

struct Found {
  std::vector<int> identical;
  std::vector<NearSheet> near;
  std::vector<ScaledSheet> scaled;
};
// Keyed by the two units' indexes and whether the right one's sheets are of the earlier period:
// within the period the smaller (the smaller code) first, against it the unit of the period.
using PairKey = std::tuple<int, int, bool>;
using PairBook = std::map<PairKey, Found>;

PairKey ordered(int a, int b) { return a < b ? PairKey(a, b, false) : PairKey(b, a, false); }

// One (unit, sheet) of the sheets analysed together: a unit of the rows of one period.
struct Member {
  const SheetRows* rows = nullptr;
  int entry = 0;         // index into rows->units()
  bool earlier = false;  // of the earlier period
};

// Finds the identical classes, the near-copy sets and the rescaled copies among the members of
// one sheet: the units of one period, or of two periods together.
class SheetAnalysis {
 public:
  SheetAnalysis(std::vector<Member> members, int sheet, const DiscoverySettings& settings,
                Pace& pace)
      : members_(std::move(members)), sheet_(sheet), settings_(settings), pace_(pace) {}

  // Within one period: groups and pairs of identical sheets, near-copies and rescaled copies.
  void samePeriod(PairBook& book, std::vector<DiscoveredGroup>& groups,
                  std::vector<DiscoveredNearGroup>& nearGroups,
                  const std::vector<TUnitData>& units) {
    formClasses();
    const std::size_t firstGroup = groups.size();
    for (const std::vector<int>& members : classes_) {
      if (members.size() < 2) continue;
      DiscoveredGroup group;
      group.sheet = sheet_;
      group.common = isCommon(members);
      for (int m : members) group.unitCodes.push_back(units[unitOf(m)].sUnitCode);
      groups.push_back(std::move(group));
      if (groups.back().common) continue;
      for (std::size_t i = 0; i < members.size(); ++i)
        for (std::size_t j = i + 1; j < members.size(); ++j)
          book[ordered(unitOf(members[i]), unitOf(members[j]))].identical.push_back(sheet_);
    }
    sortByFirstCode(groups, firstGroup);
    if (settings_.nearCells > 0) {
      const std::size_t firstNear = nearGroups.size();
      findNearSets([&](const std::vector<int>& set, int cells, int limit) {
        if (unitsIn(set) >= static_cast<std::size_t>(settings_.commonGroupSize)) {
          nearGroups.push_back(nearGroup(set, cells, units));
          return;
        }
        for (std::size_t i = 0; i < set.size(); ++i)
          for (std::size_t j = i + 1; j < set.size(); ++j) {
            const int near = distance(set[i], set[j], limit);
            if (near < 1 || near > limit) continue;
            for (int a : classes_[set[i]])
              for (int b : classes_[set[j]])
                book[ordered(unitOf(a), unitOf(b))].near.push_back({sheet_, near});
          }
      });
      sortByFirstCode(nearGroups, firstNear);
    }
    findRescaled([](int, int) { return true; },
                 [&](int x, int y, int exponent) {
                   for (int a : classes_[x])
                     for (int b : classes_[y]) {
                       const int s = unitOf(a), d = unitOf(b);
                       book[ordered(s, d)].scaled.push_back({sheet_, s < d ? exponent : -exponent});
                     }
                 });
  }

  // Against the earlier period: the period's units whose sheet is identical to, near or a
  // rescaled copy of a unit's sheet of the earlier period. Content that at least commonGroupSize
  // units of both periods share, identical or near, is one group instead of pairs.
  void againstEarlier(PairBook& book, std::vector<DiscoveredGroup>& groups,
                      std::vector<DiscoveredNearGroup>& nearGroups,
                      const std::vector<TUnitData>& units) {
    formClasses();
    const std::size_t firstGroup = groups.size();
    for (const std::vector<int>& members : classes_) {
      if (!spansPeriods(members)) continue;
      if (isCommon(members)) {
        DiscoveredGroup group;
        group.sheet = sheet_;
        group.common = true;
        for (int m : members)
          (isEarlier(m) ? group.earlierUnitCodes : group.unitCodes)
              .push_back(units[unitOf(m)].sUnitCode);
        groups.push_back(std::move(group));
        continue;
      }
      for (int x : members)
        for (int y : members)
          if (!isEarlier(x) && isEarlier(y))
            book[{unitOf(x), unitOf(y), true}].identical.push_back(sheet_);
    }
    sortByFirstCode(groups, firstGroup);
    // Each unit of the period with each unit of the earlier period of two classes, and the
    // other way round: `exponent` and `cells` are those of class x against class y.
    const auto across = [&](int x, int y, auto&& record) {
      for (int a : classes_[x])
        for (int b : classes_[y]) {
          if (!isEarlier(a) && isEarlier(b)) record(unitOf(a), unitOf(b), false);
          if (isEarlier(a) && !isEarlier(b)) record(unitOf(b), unitOf(a), true);
        }
    };
    if (settings_.nearCells > 0) {
      const std::size_t firstNear = nearGroups.size();
      findNearSets([&](const std::vector<int>& set, int cells, int limit) {
        bool now = false, before = false;
        for (int c : set)
          for (int m : classes_[c]) (isEarlier(m) ? before : now) = true;
        if (!now || !before) return;  // within one period, or the earlier one only
        if (unitsIn(set) >= static_cast<std::size_t>(settings_.commonGroupSize)) {
          nearGroups.push_back(nearGroup(set, cells, units));
          return;
        }
        for (std::size_t i = 0; i < set.size(); ++i)
          for (std::size_t j = i + 1; j < set.size(); ++j) {
            if (!(spans(set[i], set[j]) || spans(set[j], set[i]))) continue;
            const int near = distance(set[i], set[j], limit);
            if (near < 1 || near > limit) continue;
            across(set[i], set[j], [&](int s, int d, bool) {
              book[{s, d, true}].near.push_back({sheet_, near});
            });
          }
      });
      sortByFirstCode(nearGroups, firstNear);
    }
    findRescaled([this](int x, int y) { return spans(x, y) || spans(y, x); },
                 [&](int x, int y, int exponent) {
                   across(x, y, [&](int s, int d, bool swapped) {
                     book[{s, d, true}].scaled.push_back({sheet_, swapped ? -exponent : exponent});
                   });
                 });
  }

 private:
  int unitOf(int member) const { return at(member).unit; }
  bool isEarlier(int member) const { return members_[static_cast<std::size_t>(member)].earlier; }
  const SheetRows::Unit& at(int member) const {
    const Member& m = members_[static_cast<std::size_t>(member)];
    return m.rows->units()[static_cast<std::size_t>(m.entry)];
  }
  // Lets go of the rows read again, once a group of candidates is done: what is held stays that
  // of one group, however many groups a sheet has.
  void forget() { decoded_.clear(); }
  db::RowSet& rowSet(int member) {
    std::unique_ptr<db::RowSet>& kept = decoded_[member];
    if (!kept) kept = members_[static_cast<std::size_t>(member)].rows->rowSet(at(member));
    return *kept;
  }
  bool isCommon(const std::vector<int>& members) const {
    return static_cast<int>(members.size()) >= settings_.commonGroupSize;
  }
  bool spansPeriods(const std::vector<int>& members) const {
    bool now = false, before = false;
    for (int m : members) (isEarlier(m) ? before : now) = true;
    return now && before;
  }
  // Whether class x has a unit of the period and class y one of the earlier period.
  bool spans(int x, int y) const {
    const auto has = [this](int c, bool earlier) {
      for (int m : classes_[c])
        if (isEarlier(m) == earlier) return true;
      return false;
    };
    return has(x, false) && has(y, true);
  }
  std::size_t unitsIn(const std::vector<int>& set) const {
    std::size_t size = 0;
    for (int c : set) size += classes_[c].size();
    return size;
  }
  DiscoveredNearGroup nearGroup(const std::vector<int>& set, int cells,
                                const std::vector<TUnitData>& units) const {
    DiscoveredNearGroup group;
    group.sheet = sheet_;
    group.cells = cells;
    for (int c : set)
      for (int m : classes_[c])
        (isEarlier(m) ? group.earlierUnitCodes : group.unitCodes)
            .push_back(units[unitOf(m)].sUnitCode);
    std::sort(group.unitCodes.begin(), group.unitCodes.end());
    std::sort(group.earlierUnitCodes.begin(), group.earlierUnitCodes.end());
    return group;
  }
  template <class Group>
  static void sortByFirstCode(std::vector<Group>& groups, std::size_t first) {
    std::sort(groups.begin() + static_cast<std::ptrdiff_t>(first), groups.end(),
              [](const Group& a, const Group& b) {
                const auto& x = a.unitCodes.empty() ? a.earlierUnitCodes : a.unitCodes;
                const auto& y = b.unitCodes.empty() ? b.earlierUnitCodes : b.unitCodes;
                return x.front() < y.front();
              });
  }

  // The figure cells of the first `rows` rows that hold a value in some member's rows.
  std::size_t figureCells(std::size_t rows) const {
    std::vector<const SheetRows*> sources;
    for (const Member& m : members_)
      if (std::find(sources.begin(), sources.end(), m.rows) == sources.end())
        sources.push_back(m.rows);
    if (sources.size() == 1) return sources.front()->figureCells(rows);
    const std::size_t end = rows * static_cast<std::size_t>(sources.front()->figureColumns());
    std::size_t cells = 0;
    for (std::size_t i = 0; i < end; ++i)
      for (const SheetRows* source : sources)
        if (i < source->used().size() && source->used()[i]) {
          ++cells;
          break;
        }
    return cells;
  }

  // Members with equal fingerprints, split into classes whose members SameRows finds identical
  // to the class's first member; members in code order, those of the period first.
  void formClasses() {
    std::unordered_map<std::uint64_t, std::vector<int>> buckets;
    std::vector<std::uint64_t> order;
    for (int m = 0; m < static_cast<int>(members_.size()); ++m) {
      const std::uint64_t fingerprint = at(m).fingerprint ^ (at(m).rows * 0x9E3779B97F4A7C15ull);
      auto& bucket = buckets[fingerprint];
      if (bucket.empty()) order.push_back(fingerprint);
      bucket.push_back(m);
    }
    for (std::uint64_t fingerprint : order) {
      std::vector<int>& bucket = buckets[fingerprint];
      std::sort(bucket.begin(), bucket.end(), [this](int a, int b) {
        return std::pair(isEarlier(a), unitOf(a)) < std::pair(isEarlier(b), unitOf(b));
      });
      const std::size_t first = classes_.size();
      for (int m : bucket) {
        pace_.tick();
        bool placed = false;
        for (std::size_t c = first; c < classes_.size() && !placed && bucket.size() > 1; ++c)
          if (SameRows(rowSet(classes_[c].front()), rowSet(m))) {
            classes_[c].push_back(m);
            placed = true;
          }
        if (!placed) classes_.push_back({m});
      }
      forget();
    }
  }

  // The number of figure cells in which two classes differ, counted up to cap + 1 (counting
  // stops there, so an unrelated pair costs a few cells).
  int distance(int x, int y, int cap) {
    pace_.tick();
    if (at(classes_[x].front()).rows != at(classes_[y].front()).rows) return cap + 1;
    return DifferingCells(rowSet(classes_[x].front()), rowSet(classes_[y].front()), cap);
  }

  int root(int c) {
    while (parent_[c] != c) c = parent_[c] = parent_[parent_[c]];
    return c;
  }
  void unite(int x, int y, int cells) {
    const int a = root(x), b = root(y);
    const int keep = std::min(a, b), gone = std::max(a, b);
    parent_[gone] = keep;
    linkCells_[keep] = std::max({linkCells_[keep], linkCells_[gone], cells});
  }

  // Near-copy sets of the classes that are not common content, shape by shape (the same row
  // count), each handed to `handle(classes, cells, limit)` with at least two classes. On a sheet
  // of C figure cells (those that hold a value in some unit) a limit of C / 2 or more would make
  // any two units near, so the limit is taken down to the largest below half of C there. Two
  // classes that differ in at most L cells agree on at least one of L + 1 bands of rows, so only
  // classes that share a band's fingerprint are compared. Within one band the classes are joined
  // into near-content sets (connected by near-copies) without comparing every pair: each class
  // is compared with the band's leaders (classes near no earlier leader) and, when within 2L of a
  // leader it is not near, with that leader's followers, which finds every near-copy link to an
  // earlier class.
  template <class Handle>
  void findNearSets(Handle&& handle) {
    parent_.resize(classes_.size());
    linkCells_.assign(classes_.size(), 0);
    limitOf_.assign(classes_.size(), 0);
    for (int c = 0; c < static_cast<int>(classes_.size()); ++c) parent_[c] = c;
    std::map<std::size_t, std::vector<int>> shapes;  // row count -> classes, in class order
    for (int c = 0; c < static_cast<int>(classes_.size()); ++c)
      if (!isCommon(classes_[c])) shapes[at(classes_[c].front()).rows].push_back(c);
    for (const auto& [rows, members] : shapes) {
      const std::size_t cells = figureCells(rows);
      if (cells < 3 || members.size() < 2) continue;
      const int limit =
          static_cast<int>(std::min<std::size_t>(settings_.nearCells, (cells - 1) / 2));
      for (int c : members) limitOf_[c] = limit;
      // With fewer rows than limit + 1, bands of a few cells would each be shared by many
      // classes and only multiply the work: the shape's classes are joined as one band.
      if (rows < static_cast<std::size_t>(limit) + 1) {
        joinBand(members, limit);
        continue;
      }
      // The rows are cut into nearCells + 1 bands (by position modulo that number): a pair that
      // differs in at most limit <= nearCells cells leaves at least one band alone.
      std::unordered_map<std::uint64_t, std::vector<int>> byBand;
      std::vector<std::uint64_t> bandOrder;
      for (int c : members) {
        const std::vector<std::uint64_t>& bands = at(classes_[c].front()).bands;
        for (std::size_t b = 0; b < bands.size(); ++b) {
          pace_.tick();
          const std::uint64_t key = hashOf(&bands[b], sizeof bands[b], rows * 1000003u + b);
          std::vector<int>& band = byBand[key];
          if (band.empty()) bandOrder.push_back(key);
          band.push_back(c);
        }
      }
      for (std::uint64_t key : bandOrder) joinBand(byBand[key], limit);
    }

    std::map<int, std::vector<int>> sets;  // root -> classes, in class order
    for (int c = 0; c < static_cast<int>(classes_.size()); ++c)
      if (limitOf_[c] > 0) sets[root(c)].push_back(c);
    for (const auto& [top, members] : sets)
      if (members.size() >= 2) {
        handle(members, linkCells_[top], limitOf_[members.front()]);
        forget();
      }
  }

  // Joins the near-copies among the classes that share one band (see findNearSets).
  void joinBand(const std::vector<int>& band, int limit) {
    if (band.size() < 2) return;
    std::vector<int> leaders;
    std::unordered_map<int, std::vector<int>> followers;
    for (int y : band) {
      int joined = -1;
      for (int leader : leaders) {
        const int cells = distance(y, leader, 2 * limit);
        if (cells <= limit) {
          unite(y, leader, cells);
          if (joined < 0) joined = leader;
        } else if (cells <= 2 * limit && root(y) != root(leader)) {
          for (int x : followers[leader]) {
            const int near = distance(y, x, limit);
            if (near > limit) continue;
            unite(y, x, near);
            break;
          }
        }
      }
      if (joined < 0)
        leaders.push_back(y);
      else
        followers[joined].push_back(y);
    }
    forget();
  }

  // Rescaled copies among the classes that are not common content, each pair for which
  // wanted(x, y) holds handed to found(x, y, exponent) once (class x's figures are class y's
  // times 10^exponent). Candidates share the scale-invariant fingerprint and the row count, have
  // at least three non-zero numbers, and the largest magnitude of one lies within 0.5 of the
  // other's times 10^k for some k: no rounding moves a value by more than half a unit, so no
  // copy is missed. Within a fingerprint the classes are sorted by their largest magnitude and
  // each looks up the few whose magnitude fits, never every other class.
  template <class Wanted, class Found>
  void findRescaled(Wanted&& wanted, Found&& found) {
    if (!settings_.rescaled) return;
    std::unordered_map<std::uint64_t, std::vector<int>> buckets;
    std::vector<std::uint64_t> order;
    for (int c = 0; c < static_cast<int>(classes_.size()); ++c) {
      const SheetRows::Unit& unit = at(classes_[c].front());
      if (isCommon(classes_[c]) || unit.nonZero < 3) continue;
      const std::uint64_t key = unit.scaleFingerprint ^ (unit.rows * 0x9E3779B97F4A7C15ull);
      auto& bucket = buckets[key];
      if (bucket.empty()) order.push_back(key);
      bucket.push_back(c);
    }
    std::set<std::pair<int, int>> tried;
    for (std::uint64_t key : order) {
      std::vector<int>& bucket = buckets[key];
      if (bucket.size() < 2) continue;
      const auto largest = [this](int c) { return at(classes_[c].front()).largest; };
      std::sort(bucket.begin(), bucket.end(),
                [&](int a, int b) { return std::pair(largest(a), a) < std::pair(largest(b), b); });
      for (int a : bucket) {
        const double m = largest(a);
        for (int k = -kMaxScaleExponent; k <= kMaxScaleExponent; ++k) {
          if (k == 0) continue;
          // a as the copy of b: b's largest is within [(m - 0.5), (m + 0.5)] x 10^-k, widened by
          // a little for the doubles the magnitudes are.
          const double lo = (m - 0.5) * std::pow(10.0, -k) * (1 - 1e-9);
          const double hi = (m + 0.5) * std::pow(10.0, -k) * (1 + 1e-9);
          auto it = std::lower_bound(bucket.begin(), bucket.end(), lo,
                                     [&](int c, double v) { return largest(c) < v; });
          for (; it != bucket.end() && largest(*it) <= hi; ++it) {
            const int b = *it;
            pace_.tick();
            if (b == a || !wanted(a, b) || !tried.insert(std::minmax(a, b)).second) continue;
            const int x = std::min(a, b), y = std::max(a, b);
            if (const std::optional<int> e =
                    rescaleExponent(rowSet(classes_[x].front()), rowSet(classes_[y].front())))
              found(x, y, *e);
          }
        }
      }
      forget();
    }
  }

  std::vector<Member> members_;
  int sheet_;
  const DiscoverySettings& settings_;
  Pace& pace_;
  std::vector<std::vector<int>> classes_;  // members: indexes into members_
  std::vector<int> parent_;     // per class: the near-content set it was joined to (union-find)
  std::vector<int> linkCells_;  // per set's root: the most cells of a link that joined it
  std::vector<int> limitOf_;    // per class: the limit of near-copies on its shape; 0 for none
  std::unordered_map<int, std::unique_ptr<db::RowSet>> decoded_;
};

// The members of one period's rows.
std::vector<Member> membersOf(const SheetRows& rows, bool earlier) {
  std::vector<Member> members;
  for (int e = 0; e < static_cast<int>(rows.units().size()); ++e)
    members.push_back({&rows, e, earlier});
  return members;
}

}  // namespace

std::vector<TUnitData> treeUnits(const std::vector<ClassificationUnit>& rows) {
  std::map<std::pair<std::int32_t, std::string>, std::vector<const ClassificationUnit*>> children;
  std::deque<std::pair<const ClassificationUnit*, std::int32_t>> queue;
  for (const ClassificationUnit& row : rows) {
    if (row.unit.nLevel == 0 && !row.parentCode) queue.emplace_back(&row, 0);
    if (row.unit.nLevel > 0 && row.parentCode)
      children[{row.unit.nLevel, *row.parentCode}].push_back(&row);
  }
  std::map<std::string, TUnitData> shown;
  std::set<std::pair<std::string, std::int32_t>> expanded;
  while (!queue.empty()) {
    const auto [row, depth] = queue.front();
    queue.pop_front();
    TUnitData unit = row->unit;
    unit.nLevel = depth;
    shown.try_emplace(unit.sUnitCode, unit);
    if (!expanded.insert({unit.sUnitCode, depth}).second) continue;
    if (const auto found = children.find({depth + 1, unit.sUnitCode}); found != children.end())
      for (const ClassificationUnit* child : found->second) queue.emplace_back(child, depth + 1);
  }
  std::vector<TUnitData> units;
  for (auto& [code, unit] : shown) units.push_back(std::move(unit));
  return units;
}

DuplicateDiscovery::DuplicateDiscovery(TdmDupsweep& dataModule, std::string periodId,
                                       std::string taskCode, std::int32_t level,
                                       std::string unitClsCode, DiscoverySettings settings)
    : dm_(dataModule),
      periodId_(std::move(periodId)),
      taskCode_(std::move(taskCode)),
      level_(level),
      unitClsCode_(std::move(unitClsCode)),
      settings_(settings) {}

namespace {

// The sheet's name and table, as warnings and messages name them.
std::string sheetTitle(const TSampleData& sheet) {
  return "sheet " + sheet.sSampleCode + " " + sheet.sSampleName;
}

// Streams one sheet of a period into `rows`; false when its table does not exist.
bool readSheet(TdmDupsweep& dm, const TSampleData& sheet, const std::string& period,
               SheetRows& rows) {
  const std::string table = NumTableName(sheet);
  rows.reset(table, period);
  try {
    return dm.StreamSheetData(table, period, rows);
  } catch (const DatabaseError& e) {
    // The database's own message names neither (say, a column the statement orders by).
    throw DatabaseError(sheetTitle(sheet) + ", table " + table + ": " + e.what(), e);
  }
}

std::string missingTable(const TSampleData& sheet, const std::string& period) {
  return sheetTitle(sheet) + ": table " + NumTableName(sheet) + " of period " + period +
         " does not exist or cannot be named; no pair is identical on it";
}

// What one sheet gives, kept apart until every sheet is done and then merged in sheet order, so
// that the result does not depend on which worker took which sheet.
struct SheetOutcome {
  PairBook book;
  std::vector<DiscoveredGroup> groups;
  std::vector<DiscoveredNearGroup> nearGroups;
  std::vector<std::string> warnings;
};

// One worker: its own connection (a data module over the same database), the rows of the period
// and of the earlier period, and the sheets it takes in turn.
class SheetWorker {
 public:
  SheetWorker(TdmDupsweep& dm, const DiscoveryResult& result,
              const std::unordered_map<std::string, int>& unitIndex,
              const std::map<std::string, TSampleData>& earlierSheets,
              const DiscoverySettings& settings, const std::atomic<bool>& stop)
      : reader_(dm.NewReader()),
        result_(result),
        earlierSheets_(earlierSheets),
        settings_(settings),
        pace_(stop),
        rows_(*reader_, result.units, unitIndex, bandCount(settings), settings.rescaled, pace_),
        earlierRows_(*reader_, result.units, unitIndex, bandCount(settings), settings.rescaled,
                     pace_) {}

  SheetOutcome run(std::size_t s) {
    pace_.ask();
    SheetOutcome out;
    const TSampleData& sheet = result_.sheets[s];
    const int index = static_cast<int>(s);
    const bool streamed = readSheet(*reader_, sheet, result_.periodId, rows_);
    if (streamed)
      SheetAnalysis(membersOf(rows_, false), index, settings_, pace_)
          .samePeriod(out.book, out.groups, out.nearGroups, result_.units);
    else
      out.warnings.push_back(sheetTitle(sheet) + ": table " + NumTableName(sheet) +
                             " does not exist or cannot be named; no pair is identical on it");
    // Without the period's figures there is nothing to find against the earlier period.
    const auto earlier = earlierSheets_.find(sheet.sSampleCode);
    if (!streamed || earlier == earlierSheets_.end()) return out;
    const std::string& against = result_.againstPeriodId;
    pace_.ask();
    if (!readSheet(*reader_, earlier->second, against, earlierRows_)) {
      out.warnings.push_back(missingTable(earlier->second, against));
    } else if (earlierRows_.figureColumns() != rows_.figureColumns()) {
      // Figures are compared by position: with another number of columns no sheet is the same
      // across the periods, which is said rather than passed over.
      out.warnings.push_back(sheetTitle(sheet) + ": " + std::to_string(rows_.figureColumns()) +
                             " figure columns in period " + result_.periodId + ", " +
                             std::to_string(earlierRows_.figureColumns()) + " in period " +
                             against + "; no sheet is identical across the two periods");
    } else {
      std::vector<Member> members = membersOf(rows_, false);
      const std::vector<Member> before = membersOf(earlierRows_, true);
      members.insert(members.end(), before.begin(), before.end());
      SheetAnalysis(std::move(members), index, settings_, pace_)
          .againstEarlier(out.book, out.groups, out.nearGroups, result_.units);
    }
    return out;
  }

 private:
  static std::size_t bandCount(const DiscoverySettings& settings) {
    return static_cast<std::size_t>(settings.nearCells) + 1;
  }

  std::unique_ptr<TdmDupsweep> reader_;
  const DiscoveryResult& result_;
  const std::map<std::string, TSampleData>& earlierSheets_;
  const DiscoverySettings& settings_;
  Pace pace_;
  SheetRows rows_;
  SheetRows earlierRows_;
};

}  // namespace

DiscoveryResult DuplicateDiscovery::Run(ProgressSink& progress) {
  if (settings_.nearCells < 0)
    throw Error("The number of differing cells of a near-copy cannot be negative");
  if (settings_.commonGroupSize < 2)
    throw Error("Common content needs a group of at least two units");
  const std::string& against = settings_.againstPeriod;
  if (!against.empty() && against == periodId_)
    throw Error("The earlier period to compare with must be another period than " + periodId_);
  DiscoveryResult result;
  result.periodId = periodId_;
  result.againstPeriodId = against;
  // The task's periods for the level: none means the task or the level is unknown, and a period
  // not among them is unknown; either would find nothing, which would read as no repeated data.
  const std::optional<std::vector<PeriodEntry>> periods = dm_.GetPeriodList(taskCode_, level_);
  if (!periods)
    throw DatabaseError("The periods of task " + taskCode_ + " could not be read");
  using What = UnknownDiscoveryInput::What;
  if (periods->empty())
    throw UnknownDiscoveryInput(What::TaskLevel, "task " + taskCode_ + " has no period for level " +
                                                     std::to_string(level_));
  const auto nameOf = [&](const std::string& period) -> std::optional<std::string> {
    for (const PeriodEntry& p : *periods)
      if (p.period && p.period->sPeriodID == period) return p.text;
    return std::nullopt;
  };
  for (const std::string* period : {static_cast<const std::string*>(&periodId_), &against}) {
    if (period->empty()) continue;
    const std::optional<std::string> name = nameOf(*period);
    if (!name)
      throw UnknownDiscoveryInput(What::Period, "period " + *period +
                                                    " is not a period of task " + taskCode_ +
                                                    " for level " + std::to_string(level_));
    (period == &against ? result.againstPeriodName : result.periodName) = *name;
  }
  result.units = treeUnits(dm_.GetClassificationUnits(unitClsCode_));
  if (result.units.empty())
    throw UnknownDiscoveryInput(What::Classification,
                                "unit classification " + unitClsCode_ + " has no units");
  for (const auto& sample : dm_.GetSampleList(periodId_, taskCode_, level_)) {
    result.sheets.push_back(*sample);
    result.sheets.back().nSheetOrder = sample->nSheetOrder;  // the copy leaves it out
  }
  // The earlier period's sheets by sample code, each with its own table prefix.
  std::map<std::string, TSampleData> earlierSheets;
  if (!against.empty())
    for (const auto& sample : dm_.GetSampleList(against, taskCode_, level_))
      earlierSheets.try_emplace(sample->sSampleCode, *sample);
  if (!against.empty())
    for (const TSampleData& sheet : result.sheets) {
      const auto earlier = earlierSheets.find(sheet.sSampleCode);
      result.againstSheets.push_back(earlier == earlierSheets.end() ? TSampleData{}
                                                                    : earlier->second);
    }
  std::unordered_map<std::string, int> unitIndex;
  for (std::size_t i = 0; i < result.units.size(); ++i)
    unitIndex.emplace(result.units[i].sUnitCode, static_cast<int>(i));

  progress.begin(static_cast<int>(result.sheets.size()) + 1);
  // One worker per core, each with its own connection, takes the next sheet until none is left.
  // This thread hands the progress sink a step per finished sheet and asks it whether to stop
  // at least every 25 ms; stopping (or a worker's failure) raises the flag every worker looks at.
  const std::size_t sheetCount = result.sheets.size();
  std::vector<std::optional<SheetOutcome>> outcomes(sheetCount);
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  std::mutex lock;
  std::condition_variable changed;
  std::size_t done = 0;
  std::exception_ptr failure;
  const auto work = [&] {
    try {
      SheetWorker worker(dm_, result, unitIndex, earlierSheets, settings_, stop);
      for (std::size_t s = next++; s < sheetCount; s = next++) {
        SheetOutcome outcome = worker.run(s);
        const std::lock_guard<std::mutex> hold(lock);
        outcomes[s] = std::move(outcome);
        ++done;
        changed.notify_all();
      }
    } catch (const RunCancelled&) {
      // stopped by this run's flag: the calling thread knows why
    } catch (...) {
      // handed to the calling thread, which throws it
      const std::lock_guard<std::mutex> hold(lock);
      if (!failure) failure = std::current_exception();
      stop = true;
      changed.notify_all();
    }
  };
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t workers = std::max<std::size_t>(1, std::min<std::size_t>(cores, sheetCount));
  std::vector<std::thread> threads;
  const auto joinAll = [&] {
    stop = true;  // every sheet is done, or the run stops
    for (std::thread& t : threads)
      if (t.joinable()) t.join();
  };
  bool cancelled = false;
  try {
    for (std::size_t w = 0; w < workers && sheetCount > 0; ++w) threads.emplace_back(work);
    std::size_t stepped = 0;
    std::unique_lock<std::mutex> hold(lock);
    while (!failure && !cancelled && stepped < sheetCount) {
      if (stepped < done) {
        hold.unlock();
        progress.step();
        ++stepped;
        cancelled = progress.cancelled();
        hold.lock();
        continue;
      }
      changed.wait_for(hold, std::chrono::milliseconds(25));
      if (stepped == done && !failure) {
        hold.unlock();
        cancelled = progress.cancelled();
        hold.lock();
      }
    }
    if (cancelled) stop = true;
  } catch (...) {
    stop = true;
    joinAll();
    throw;
  }
  joinAll();
  if (failure) std::rethrow_exception(failure);
  if (cancelled) throw RunCancelled();

  PairBook book;
  for (std::optional<SheetOutcome>& outcome : outcomes) {
    for (auto& [key, found] : outcome->book) {
      Found& kept = book[key];
      kept.identical.insert(kept.identical.end(), found.identical.begin(), found.identical.end());
      kept.near.insert(kept.near.end(), found.near.begin(), found.near.end());
      kept.scaled.insert(kept.scaled.end(), found.scaled.begin(), found.scaled.end());
    }
    for (DiscoveredGroup& g : outcome->groups) result.groups.push_back(std::move(g));
    for (DiscoveredNearGroup& g : outcome->nearGroups) result.nearGroups.push_back(std::move(g));
    for (std::string& w : outcome->warnings) result.warnings.push_back(std::move(w));
  }

  for (auto& [units, found] : book) {
    const auto& [left, right, earlier] = units;
    DiscoveredPair pair;
    pair.units = UnitPair(result.units[static_cast<std::size_t>(left)],
                          result.units[static_cast<std::size_t>(right)]);
    pair.identical = std::move(found.identical);
    pair.near = std::move(found.near);
    pair.scaled = std::move(found.scaled);
    pair.earlier = earlier;
    std::sort(pair.identical.begin(), pair.identical.end());
    std::sort(pair.near.begin(), pair.near.end(),
              [](const NearSheet& a, const NearSheet& b) { return a.sheet < b.sheet; });
    std::sort(pair.scaled.begin(), pair.scaled.end(),
              [](const ScaledSheet& a, const ScaledSheet& b) { return a.sheet < b.sheet; });
    result.pairs.push_back(std::move(pair));
  }
  // The book is in code order, which stays the order among pairs of the same rank.
  std::stable_sort(result.pairs.begin(), result.pairs.end(),
                   [](const DiscoveredPair& a, const DiscoveredPair& b) {
                     if (a.identical.size() != b.identical.size())
                       return a.identical.size() > b.identical.size();
                     if (a.near.size() != b.near.size()) return a.near.size() > b.near.size();
                     return a.scaled.size() > b.scaled.size();
                   });
  progress.step();
  return result;
}

}  // namespace dupsweep
