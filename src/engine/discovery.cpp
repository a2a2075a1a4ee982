#include "engine/discovery.h"

#include <xxhash.h>

#include <algorithm>
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

// The columns before the figures: neither compared nor fingerprinted.
constexpr int kFirstFigure = 5;

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

  explicit SheetRows(const std::unordered_map<std::string, int>& unitIndex)
      : unitIndex_(unitIndex) {}

  void reset() {
    names_.clear();
    figures_.clear();
    units_.clear();
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
    const db::CellView& code = row[static_cast<std::size_t>(codeColumn_)];
    Unit* unit = code.kind == db::ValueKind::Text
                     ? unitFor(code.bytes)
                     : unitFor(db::displayText(db::valueOf(code)));
    if (!unit) return;
    unit->rows.push_back(figures_.size());
    key_.clear();
    const std::size_t columns = row.size();
    for (std::size_t k = kFirstFigure; k < columns; ++k) {
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
  int figureColumns() const noexcept {
    return std::max(0, static_cast<int>(names_.size()) - kFirstFigure);
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
  std::vector<std::string> names_;
  int codeColumn_ = -1;
  ByteRun figures_;        // every kept row's figures, encoded one after the other
  ByteRun key_;            // the value keys of the row being read
  std::string otherKey_;   // the key of one value that is not a number
  std::vector<db::CellView> views_;  // a row handed as values, seen as views
  std::vector<Unit> units_;
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
  SheetAnalysis(const SheetRows& rows, int sheet, const DiscoverySettings& settings)
      : rows_(rows), sheet_(sheet), settings_(settings) {}

  void run(PairBook& book, std::vector<DiscoveredGroup>& groups,
           const std::vector<TUnitData>& units) {
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
    if (settings_.nearCells > 0) findNearCopies(book);
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

  // Two classes whose rows differ in at most nearCells cells agree on at least one of
  // nearCells + 1 bands (of rows, or of cells when there are fewer rows than bands): only classes
  // that share a band's fingerprint are compared.
  void findNearCopies(PairBook& book) {
    const int limit = settings_.nearCells;
    const std::size_t bands = static_cast<std::size_t>(limit) + 1;
    const std::size_t figures = static_cast<std::size_t>(rows_.figureColumns());
    std::unordered_map<std::uint64_t, std::vector<int>> byBand;
    for (int c = 0; c < static_cast<int>(classes_.size()); ++c) {
      if (static_cast<int>(classes_[c].size()) >= settings_.commonGroupSize) continue;
      const int rep = classes_[c].front();
      const std::vector<std::uint64_t>& hashes = at(rep).hashes;
      const std::size_t rows = hashes.size();
      // With no more cells than the limit every pair of that shape would be a near-copy.
      if (rows * figures <= static_cast<std::size_t>(limit)) continue;
      for (std::size_t b = 0; b < bands; ++b) {
        const std::uint64_t seed = rows * 1000003u + b;
        std::uint64_t key = 0;
        if (rows >= bands) {
          const std::size_t lo = b * rows / bands, hi = (b + 1) * rows / bands;
          key = hashOf(hashes.data() + lo, (hi - lo) * sizeof(std::uint64_t), seed);
        } else {
          key = cellBandKey(rep, b, bands, figures, seed);
        }
        byBand[key].push_back(c);
      }
    }
    std::unordered_set<std::uint64_t> tried;
    for (const auto& [key, members] : byBand)
      for (std::size_t i = 0; i < members.size(); ++i)
        for (std::size_t j = i + 1; j < members.size(); ++j) {
          const int x = members[i], y = members[j];
          const std::uint64_t pair = (static_cast<std::uint64_t>(std::min(x, y)) << 32) |
                                     static_cast<std::uint32_t>(std::max(x, y));
          if (tried.insert(pair).second) tryNear(x, y, book);
        }
  }

  std::uint64_t cellBandKey(int rep, std::size_t band, std::size_t bands, std::size_t figures,
                            std::uint64_t seed) {
    const db::RowSet& rows = rowSet(rep);
    const std::size_t cells = static_cast<std::size_t>(rows.rowCount()) * figures;
    const std::size_t lo = band * cells / bands, hi = (band + 1) * cells / bands;
    std::string keys;
    for (std::size_t i = lo; i < hi; ++i)
      db::appendValueKey(rows.at(static_cast<int>(i / figures),
                                 kFirstFigure + static_cast<int>(i % figures)),
                         keys);
    return hashOf(keys.data(), keys.size(), seed);
  }

  void tryNear(int x, int y, PairBook& book) {
    const int limit = settings_.nearCells;
    const auto& hx = at(classes_[x].front()).hashes;
    const auto& hy = at(classes_[y].front()).hashes;
    if (hx.size() != hy.size()) return;
    // Rows whose fingerprints differ differ in a cell at least.
    int rowsDiffering = 0;
    for (std::size_t r = 0; r < hx.size() && rowsDiffering <= limit; ++r)
      if (hx[r] != hy[r]) ++rowsDiffering;
    if (rowsDiffering > limit) return;
    const int cells = DifferingCells(rowSet(classes_[x].front()), rowSet(classes_[y].front()), limit);
    if (cells < 1 || cells > limit) return;
    for (int a : classes_[x])
      for (int b : classes_[y])
        book[ordered(unitOf(a), unitOf(b))].near.push_back({sheet_, cells});
  }

  const SheetRows& rows_;
  int sheet_;
  const DiscoverySettings& settings_;
  std::vector<std::vector<int>> classes_;  // members: indexes into rows_.units()
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
  result.units = treeUnits(dm_.GetClassificationUnits(unitClsCode_));
  for (const auto& sample : dm_.GetSampleList(periodId_, taskCode_, level_)) {
    result.sheets.push_back(*sample);
    result.sheets.back().nSheetOrder = sample->nSheetOrder;  // the copy leaves it out
  }
  std::unordered_map<std::string, int> unitIndex;
  for (std::size_t i = 0; i < result.units.size(); ++i)
    unitIndex.emplace(result.units[i].sUnitCode, static_cast<int>(i));

  progress.begin(static_cast<int>(result.sheets.size()) + 1);
  SheetRows rows(unitIndex);
  PairBook book;
  for (std::size_t s = 0; s < result.sheets.size(); ++s) {
    if (progress.cancelled()) throw RunCancelled();
    const TSampleData& sheet = result.sheets[s];
    rows.reset();
    const std::string table = NumTableName(sheet);
    if (dm_.StreamSheetData(table, periodId_, rows))
      SheetAnalysis(rows, static_cast<int>(s), settings_).run(book, result.groups, result.units);
    else
      result.warnings.push_back("sheet " + sheet.sSampleCode + " " + sheet.sSampleName +
                                ": table " + table +
                                " does not exist or cannot be named; no pair is identical on it");
    progress.step();
  }

  for (auto& [units, found] : book) {
    DiscoveredPair pair;
    pair.UnitS = result.units[static_cast<std::size_t>(units.first)];
    pair.UnitD = result.units[static_cast<std::size_t>(units.second)];
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
