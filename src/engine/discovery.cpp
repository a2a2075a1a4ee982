#include "engine/discovery.h"

#include <xxhash.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "engine/compare.h"
#include "platform/errors.h"

namespace dupsweep {
namespace {

constexpr std::size_t kFirstFigure = kFirstFigureColumn;

// ---- Values kept exactly, in a few bytes each ------------------------------------------------

enum Tag : char { kNull, kInteger, kDecimal, kFloating, kText, kBytes, kDateTime, kFalse, kTrue };

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

void putSized(ByteRun& out, Tag tag, const void* data, std::size_t size) {
  const auto length = static_cast<std::uint32_t>(size);
  char* head = out.grow(1 + sizeof length);
  head[0] = tag;
  std::memcpy(head + 1, &length, sizeof length);
  out.append(data, size);
}

template <class T>
void putFixed(ByteRun& out, Tag tag, T value) {
  char* p = out.grow(1 + sizeof value);
  p[0] = tag;
  std::memcpy(p + 1, &value, sizeof value);
}

void encode(const db::CellView& v, ByteRun& out) {
  switch (v.kind) {
    case db::ValueKind::Integer:
      return putFixed(out, kInteger, v.integer);
    case db::ValueKind::Floating:
      return putFixed(out, kFloating, v.floating);
    case db::ValueKind::Text:
      return putSized(out, kText, v.bytes.data(), v.bytes.size());
    case db::ValueKind::Decimal:
      return putSized(out, kDecimal, v.bytes.data(), v.bytes.size());
    case db::ValueKind::Bytes:
      return putSized(out, kBytes, v.bytes.data(), v.bytes.size());
    case db::ValueKind::DateTime:
      return putSized(out, kDateTime, v.bytes.data(), v.bytes.size());
    case db::ValueKind::Boolean:
      *out.grow(1) = v.integer != 0 ? kTrue : kFalse;
      return;
    case db::ValueKind::Null:
      break;
  }
  *out.grow(1) = kNull;
}

db::Value decode(const char*& p) {
  const Tag tag = static_cast<Tag>(*p++);
  auto fixed = [&p]<class T>(T value) {
    std::memcpy(&value, p, sizeof value);
    p += sizeof value;
    return value;
  };
  auto sized = [&p] {
    std::uint32_t length = 0;
    std::memcpy(&length, p, sizeof length);
    p += sizeof length;
    std::string bytes(p, length);
    p += length;
    return bytes;
  };
  switch (tag) {
    case kInteger:
      return fixed(std::int64_t{});
    case kFloating:
      return fixed(double{});
    case kText:
      return sized();
    case kDecimal:
      return db::Decimal{sized()};
    case kBytes: {
      const std::string bytes = sized();
      return db::Bytes(bytes.begin(), bytes.end());
    }
    case kDateTime:
      return db::DateTime{sized()};
    case kFalse:
      return false;
    case kTrue:
      return true;
    case kNull:
      break;
  }
  return db::Null{};
}

std::uint64_t hashOf(const void* data, std::size_t size, std::uint64_t seed) {
  return XXH3_64bits_withSeed(data, size, seed);
}

// ---- Asking whether to stop --------------------------------------------------------------------

// Asks the progress sink whether to stop often enough for a prompt stop, also inside one large
// sheet: at least every 25 ms of work (the clock is looked at every 64 steps of work: a row read,
// a comparison), and in any case every 65,536 steps.
class Pace {
 public:
  explicit Pace(ProgressSink& progress) : progress_(progress) {}
  void tick() {
    if ((++steps_ & 63u) != 0) return;
    const auto now = std::chrono::steady_clock::now();
    if ((steps_ & 0xFFFFu) != 0 && now - last_ < std::chrono::milliseconds(25)) return;
    ask();
  }
  // Asks now (before each sheet).
  void ask() {
    if (progress_.cancelled()) throw RunCancelled();
    last_ = std::chrono::steady_clock::now();
  }

 private:
  ProgressSink& progress_;
  std::uint64_t steps_ = 0;
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

// ---- One sheet's rows --------------------------------------------------------------------------

// Receives a sheet's rows for all units (ordered by unit code and nRow) and keeps, for each unit
// of the tree, its rows' figures exactly (compact, in one buffer) and one fingerprint per row.
// Rows of units the tree does not show are passed over.
class SheetRows : public db::RowSink {
 public:
  struct Unit {
    int unit = 0;                        // index into the tree's units
    std::vector<std::size_t> rows;       // offsets of its rows' figures, in nRow order
    std::vector<std::uint64_t> hashes;   // one per row: of the figures' value keys
  };

  SheetRows(const std::unordered_map<std::string, int>& unitIndex, Pace& pace)
      : unitIndex_(unitIndex), pace_(pace) {}

  void reset() {
    names_.clear();
    figures_.clear();
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
    const std::size_t place = unit->rows.size() * width;
    if (used_.size() < place + width) used_.resize(place + width, 0);
    unit->rows.push_back(figures_.size());
    key_.clear();
    const std::size_t columns = row.size();
    for (std::size_t k = kFirstFigure; k < columns; ++k) {
      if (row[k].kind != db::ValueKind::Null) used_[place + k - kFirstFigure] = 1;
      encode(row[k], figures_);
      if (db::writeNumberKey(row[k], key_.grow(db::kNumberKeySize))) continue;
      key_.drop(db::kNumberKeySize);
      otherKey_.clear();
      db::appendValueKey(row[k], otherKey_);
      key_.append(otherKey_.data(), otherKey_.size());
    }
    unit->hashes.push_back(hashOf(key_.data(), key_.size(), 0));
  }

  const std::vector<Unit>& units() const noexcept { return units_; }
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

  // The unit's rows as a row set with the table's columns, the figures as read and the first
  // five columns NULL: what SameRows compares of the rows OpenUnitData gives.
  std::unique_ptr<db::RowSet> rowSet(const Unit& unit) const {
    const std::size_t width = names_.size();
    std::vector<db::Value> cells;
    cells.reserve(unit.rows.size() * width);
    for (std::size_t offset : unit.rows) {
      cells.resize(cells.size() + std::min<std::size_t>(width, kFirstFigure));
      const char* p = figures_.data() + offset;
      for (std::size_t k = kFirstFigure; k < width; ++k) cells.push_back(decode(p));
    }
    return std::make_unique<db::RowSet>(names_, std::move(cells));
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
    if (added) units_.push_back(Unit{known->second, {}, {}});
    lastCode_ = code;
    last_ = place->second;
    return &units_[static_cast<std::size_t>(last_)];
  }

  const std::unordered_map<std::string, int>& unitIndex_;
  Pace& pace_;
  std::vector<std::string> names_;
  int codeColumn_ = -1;
  ByteRun figures_;        // every kept row's figures, encoded one after the other
  ByteRun key_;            // the value keys of the row being read
  std::string otherKey_;   // the key of one value that is not a number
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
};
// Keyed by the two units' indexes, the smaller (the smaller code) first.
using PairBook = std::map<std::pair<int, int>, Found>;

std::pair<int, int> ordered(int a, int b) { return a < b ? std::pair(a, b) : std::pair(b, a); }

// Finds the identical groups and the near-copies of one sheet.
class SheetAnalysis {
 public:
  SheetAnalysis(const SheetRows& rows, int sheet, const DiscoverySettings& settings, Pace& pace)
      : rows_(rows), sheet_(sheet), settings_(settings), pace_(pace) {}

  void run(PairBook& book, std::vector<DiscoveredGroup>& groups,
           std::vector<DiscoveredNearGroup>& nearGroups, const std::vector<TUnitData>& units) {
    formClasses();
    const std::size_t firstGroup = groups.size();
    for (const std::vector<int>& members : classes_) {
      if (members.size() < 2) continue;
      DiscoveredGroup group;
      group.sheet = sheet_;
      group.common = static_cast<int>(members.size()) >= settings_.commonGroupSize;
      for (int m : members) group.unitCodes.push_back(units[unitOf(m)].sUnitCode);
      groups.push_back(std::move(group));
      if (groups.back().common) continue;
      for (std::size_t i = 0; i < members.size(); ++i)
        for (std::size_t j = i + 1; j < members.size(); ++j)
          book[ordered(unitOf(members[i]), unitOf(members[j]))].identical.push_back(sheet_);
    }
    std::sort(groups.begin() + static_cast<std::ptrdiff_t>(firstGroup), groups.end(),
              [](const DiscoveredGroup& a, const DiscoveredGroup& b) {
                return a.unitCodes.front() < b.unitCodes.front();
              });
    if (settings_.nearCells > 0) findNearCopies(book, nearGroups, units);
  }

 private:
  int unitOf(int member) const { return rows_.units()[static_cast<std::size_t>(member)].unit; }
  const SheetRows::Unit& at(int member) const {
    return rows_.units()[static_cast<std::size_t>(member)];
  }
  db::RowSet& rowSet(int member) {
    std::unique_ptr<db::RowSet>& kept = decoded_[member];
    if (!kept) kept = rows_.rowSet(at(member));
    return *kept;
  }

  // Units with equal fingerprints, split into classes whose members SameRows finds identical to
  // the class's first member; members in code order.
  void formClasses() {
    std::unordered_map<std::uint64_t, std::vector<int>> buckets;
    std::vector<std::uint64_t> order;
    for (int m = 0; m < static_cast<int>(rows_.units().size()); ++m) {
      const std::vector<std::uint64_t>& hashes = at(m).hashes;
      const std::uint64_t fingerprint =
          hashOf(hashes.data(), hashes.size() * sizeof(std::uint64_t), hashes.size());
      auto& bucket = buckets[fingerprint];
      if (bucket.empty()) order.push_back(fingerprint);
      bucket.push_back(m);
    }
    for (std::uint64_t fingerprint : order) {
      std::vector<int>& bucket = buckets[fingerprint];
      std::sort(bucket.begin(), bucket.end(),
                [this](int a, int b) { return unitOf(a) < unitOf(b); });
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
    }
  }

  // The number of figure cells in which two classes differ, counted up to cap + 1: rows whose
  // fingerprints agree are passed over first, so most unrelated pairs cost one look at the row
  // fingerprints.
  int distance(int x, int y, int cap) {
    pace_.tick();
    const auto& hx = at(classes_[x].front()).hashes;
    const auto& hy = at(classes_[y].front()).hashes;
    if (hx.size() != hy.size()) return cap + 1;
    int rowsDiffering = 0;
    for (std::size_t r = 0; r < hx.size() && rowsDiffering <= cap; ++r)
      if (hx[r] != hy[r]) ++rowsDiffering;
    if (rowsDiffering > cap) return cap + 1;
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

  // Near-copies of the classes that are not common content, shape by shape (the same row count).
  // On a sheet of C figure cells (those that hold a value in some unit) a limit of C / 2 or more
  // would make any two units near, so the limit is taken down to the largest below half of C
  // there. Two classes that differ in at most L cells agree on at least one of L + 1 bands of
  // rows, so only classes that share a band's fingerprint are compared. Within one band
  // the classes are joined into near-content sets (connected by near-copies) without comparing
  // every pair: each class is compared with the band's leaders (classes near no earlier leader)
  // and, when within 2L of a leader it is not near, with that leader's followers, which finds
  // every near-copy link to an earlier class. A set of at least commonGroupSize units is one
  // near-content group; the pairs of a smaller set are compared one by one and listed.
  void findNearCopies(PairBook& book, std::vector<DiscoveredNearGroup>& nearGroups,
                      const std::vector<TUnitData>& units) {
    parent_.resize(classes_.size());
    linkCells_.assign(classes_.size(), 0);
    limitOf_.assign(classes_.size(), 0);
    for (int c = 0; c < static_cast<int>(classes_.size()); ++c) parent_[c] = c;
    std::map<std::size_t, std::vector<int>> shapes;  // row count -> classes, in class order
    for (int c = 0; c < static_cast<int>(classes_.size()); ++c)
      if (static_cast<int>(classes_[c].size()) < settings_.commonGroupSize)
        shapes[at(classes_[c].front()).hashes.size()].push_back(c);
    for (const auto& [rows, members] : shapes) {
      const std::size_t cells = rows_.figureCells(rows);
      if (cells < 3 || members.size() < 2) continue;
      const int limit =
          static_cast<int>(std::min<std::size_t>(settings_.nearCells, (cells - 1) / 2));
      for (int c : members) limitOf_[c] = limit;
      const std::size_t bands = static_cast<std::size_t>(limit) + 1;
      // With fewer rows than bands, bands of a few cells would each be shared by many classes
      // and only multiply the work: the shape's classes are joined as one band.
      if (rows < bands) {
        joinBand(members, limit);
        continue;
      }
      std::unordered_map<std::uint64_t, std::vector<int>> byBand;
      std::vector<std::uint64_t> bandOrder;
      for (int c : members) {
        const std::vector<std::uint64_t>& hashes = at(classes_[c].front()).hashes;
        for (std::size_t b = 0; b < bands; ++b) {
          pace_.tick();
          const std::size_t lo = b * rows / bands, hi = (b + 1) * rows / bands;
          const std::uint64_t key = hashOf(hashes.data() + lo, (hi - lo) * sizeof(std::uint64_t),
                                           rows * 1000003u + b);
          std::vector<int>& band = byBand[key];
          if (band.empty()) bandOrder.push_back(key);
          band.push_back(c);
        }
      }
      for (std::uint64_t key : bandOrder) joinBand(byBand[key], limit);
    }

    const std::size_t firstGroup = nearGroups.size();
    std::map<int, std::vector<int>> sets;  // root -> classes, in class order
    for (int c = 0; c < static_cast<int>(classes_.size()); ++c)
      if (limitOf_[c] > 0) sets[root(c)].push_back(c);
    for (const auto& [top, members] : sets) {
      if (members.size() < 2) continue;
      std::size_t size = 0;
      for (int c : members) size += classes_[c].size();
      if (size >= static_cast<std::size_t>(settings_.commonGroupSize)) {
        DiscoveredNearGroup group;
        group.sheet = sheet_;
        group.cells = linkCells_[top];
        for (int c : members)
          for (int m : classes_[c]) group.unitCodes.push_back(units[unitOf(m)].sUnitCode);
        std::sort(group.unitCodes.begin(), group.unitCodes.end());
        nearGroups.push_back(std::move(group));
        continue;
      }
      const int limit = limitOf_[members.front()];
      for (std::size_t i = 0; i < members.size(); ++i)
        for (std::size_t j = i + 1; j < members.size(); ++j) {
          const int cells = distance(members[i], members[j], limit);
          if (cells < 1 || cells > limit) continue;
          for (int a : classes_[members[i]])
            for (int b : classes_[members[j]])
              book[ordered(unitOf(a), unitOf(b))].near.push_back({sheet_, cells});
        }
    }
    std::sort(nearGroups.begin() + static_cast<std::ptrdiff_t>(firstGroup), nearGroups.end(),
              [](const DiscoveredNearGroup& a, const DiscoveredNearGroup& b) {
                return a.unitCodes.front() < b.unitCodes.front();
              });
  }

  // Joins the near-copies among the classes that share one band (see findNearCopies).
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
  }

  const SheetRows& rows_;
  int sheet_;
  const DiscoverySettings& settings_;
  Pace& pace_;
  std::vector<std::vector<int>> classes_;  // members: indexes into rows_.units()
  std::vector<int> parent_;     // per class: the near-content set it was joined to (union-find)
  std::vector<int> linkCells_;  // per set's root: the most cells of a link that joined it
  std::vector<int> limitOf_;    // per class: the limit of near-copies on its shape; 0 for none
  std::unordered_map<int, std::unique_ptr<db::RowSet>> decoded_;
};

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

DiscoveryResult DuplicateDiscovery::Run(ProgressSink& progress) {
  if (settings_.nearCells < 0)
    throw Error("The number of differing cells of a near-copy cannot be negative");
  if (settings_.commonGroupSize < 2)
    throw Error("Common content needs a group of at least two units");
  DiscoveryResult result;
  result.periodId = periodId_;
  // The task's periods for the level: none means the task or the level is unknown, and a period
  // not among them is unknown; either would find nothing, which would read as no repeated data.
  const std::optional<std::vector<PeriodEntry>> periods = dm_.GetPeriodList(taskCode_, level_);
  if (!periods)
    throw DatabaseError("The periods of task " + taskCode_ + " could not be read");
  using What = UnknownDiscoveryInput::What;
  if (periods->empty())
    throw UnknownDiscoveryInput(What::TaskLevel, "task " + taskCode_ + " has no period for level " +
                                                     std::to_string(level_));
  if (std::none_of(periods->begin(), periods->end(), [this](const PeriodEntry& p) {
        return p.period && p.period->sPeriodID == periodId_;
      }))
    throw UnknownDiscoveryInput(What::Period, "period " + periodId_ + " is not a period of task " +
                                                  taskCode_ + " for level " +
                                                  std::to_string(level_));
  result.units = treeUnits(dm_.GetClassificationUnits(unitClsCode_));
  if (result.units.empty())
    throw UnknownDiscoveryInput(What::Classification,
                                "unit classification " + unitClsCode_ + " has no units");
  for (const auto& sample : dm_.GetSampleList(periodId_, taskCode_, level_)) {
    result.sheets.push_back(*sample);
    result.sheets.back().nSheetOrder = sample->nSheetOrder;  // the copy leaves it out
  }
  std::unordered_map<std::string, int> unitIndex;
  for (std::size_t i = 0; i < result.units.size(); ++i)
    unitIndex.emplace(result.units[i].sUnitCode, static_cast<int>(i));

  progress.begin(static_cast<int>(result.sheets.size()) + 1);
  Pace pace(progress);
  SheetRows rows(unitIndex, pace);
  PairBook book;
  for (std::size_t s = 0; s < result.sheets.size(); ++s) {
    pace.ask();
    const TSampleData& sheet = result.sheets[s];
    rows.reset();
    const std::string table = NumTableName(sheet);
    bool streamed = false;
    try {
      streamed = dm_.StreamSheetData(table, periodId_, rows);
    } catch (const DatabaseError& e) {
      // The database's own message names neither (say, a column the statement orders by).
      throw DatabaseError("sheet " + sheet.sSampleCode + " " + sheet.sSampleName + ", table " +
                              table + ": " + e.what(),
                          e);
    }
    if (streamed)
      SheetAnalysis(rows, static_cast<int>(s), settings_, pace)
          .run(book, result.groups, result.nearGroups, result.units);
    else
      result.warnings.push_back("sheet " + sheet.sSampleCode + " " + sheet.sSampleName +
                                ": table " + table +
                                " does not exist or cannot be named; no pair is identical on it");
    progress.step();
  }

  for (auto& [units, found] : book) {
    DiscoveredPair pair;
    pair.units = UnitPair(result.units[static_cast<std::size_t>(units.first)],
                          result.units[static_cast<std::size_t>(units.second)]);
    pair.identical = std::move(found.identical);
    pair.near = std::move(found.near);
    result.pairs.push_back(std::move(pair));
  }
  // The book is in code order, which stays the order among pairs of the same rank.
  std::stable_sort(result.pairs.begin(), result.pairs.end(),
                   [](const DiscoveredPair& a, const DiscoveredPair& b) {
                     if (a.identical.size() != b.identical.size())
                       return a.identical.size() > b.identical.size();
                     return a.near.size() > b.near.size();
                   });
  progress.step();
  return result;
}

}  // namespace dupsweep
