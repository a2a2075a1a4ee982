// Discovery against an earlier period and of rescaled copies, over a real SQLite host database of
// 40 units in two periods (each with its own table prefix), checked against a brute-force oracle
// that reads every unit's rows with the one-unit statement and compares every pair of units of
// both periods on every sheet with every factor 10^k.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <tuple>

#include "engine/compare.h"
#include "engine/discovery.h"
#include "support/sqlite_file.h"

namespace dupsweep {
namespace {

constexpr const char* kNow = "2025N";
constexpr const char* kBefore = "2024N";
constexpr int kRows = 4;
constexpr int kGroup = 10;

std::string unitCode(int i) { return (i < 10 ? "U0" : "U") + std::to_string(i); }

// A cell: a number of cents, a literal kept as it stands (a rescaled copy's figure), NULL or a text.
struct Cell {
  enum Kind { Cents, Literal, Null, Text } kind = Null;
  long long cents = 0;
  std::string text;
};
using Rows = std::vector<std::vector<Cell>>;  // kRows rows of f1, f2, f3, t

std::string literalOf(const Cell& c) {
  switch (c.kind) {
    case Cell::Cents: {
      const long long a = c.cents < 0 ? -c.cents : c.cents;
      std::string cents = std::to_string(a % 100);
      return (c.cents < 0 ? "-" : "") + std::to_string(a / 100) + "." +
             (cents.size() < 2 ? "0" : "") + cents;
    }
    case Cell::Literal:
      return c.text;
    case Cell::Text:
      return "'" + c.text + "'";
    case Cell::Null:
      break;
  }
  return "NULL";
}

// Distinct figures per unit, period, sheet and cell: from 1,000.00 to 99,999.99, some negative,
// never a tie of the roundings the copies make; a zero in row 3's f3 and a NULL in row 4's f1
// for every third unit.
Rows baseRows(int unit, int period, int sheet) {
  Rows rows(kRows);
  for (int r = 0; r < kRows; ++r) {
    for (int c = 0; c < 3; ++c) {
      unsigned h = static_cast<unsigned>(unit * 7919 + period * 104729 + sheet * 1299709 +
                                         r * 15485863 + c * 32452843);
      h ^= h >> 13;
      h *= 0x5bd1e995u;
      h ^= h >> 15;
      long long cents = 100000 + h % 9899999;
      if (cents % 1000 == 500 || cents % 10000 == 5000) ++cents;
      if (h % 5 == 0) cents = -cents;
      Cell cell{Cell::Cents, cents, {}};
      if (r == 2 && c == 2) cell.cents = 0;
      if (r == 3 && c == 0 && unit % 3 == 0) cell = Cell{};
      rows[r].push_back(cell);
    }
    rows[r].push_back(Cell{Cell::Text, 0,
                           "t" + std::to_string(unit) + "_" + std::to_string(period) + "_" +
                               std::to_string(sheet) + "_" + std::to_string(r)});
  }
  return rows;
}

// cents x 10^exponent, rounded half away from zero to `decimals`, as a literal.
std::string rescaled(long long cents, int exponent, int decimals) {
  // value in units of 10^-decimals: cents x 10^(exponent + decimals - 2)
  const int shift = exponent + decimals - 2;
  long long v = cents;
  if (shift >= 0) {
    for (int i = 0; i < shift; ++i) v *= 10;
  } else {
    long long d = 1;
    for (int i = 0; i < -shift; ++i) d *= 10;
    const long long a = v < 0 ? -v : v;
    long long q = a / d;
    if ((a % d) * 2 >= d) ++q;
    v = v < 0 ? -q : q;
  }
  if (decimals == 0) return std::to_string(v);
  const long long a = v < 0 ? -v : v;
  long long p = 1;
  for (int i = 0; i < decimals; ++i) p *= 10;
  std::string frac = std::to_string(a % p);
  frac.insert(0, static_cast<std::size_t>(decimals) - frac.size(), '0');
  return (v < 0 ? "-" : "") + std::to_string(a / p) + "." + frac;
}

Rows rescaledRows(Rows rows, int exponent, int decimals) {
  for (auto& row : rows)
    for (Cell& c : row)
      if (c.kind == Cell::Cents) c = Cell{Cell::Literal, 0, rescaled(c.cents, exponent, decimals)};
  return rows;
}

// ---- The oracle's own reading of the rule ------------------------------------------------------

int shownDecimals(const db::CellView& v) {
  if (v.kind == db::ValueKind::Integer) return 0;
  std::string text;
  if (v.kind == db::ValueKind::Decimal) {
    text = std::string(v.bytes);
  } else {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v.floating, std::chars_format::fixed);
    text.assign(buf, end);
  }
  const auto point = text.find('.');
  const int decimals = point == std::string::npos ? 0 : static_cast<int>(text.size() - point - 1);
  return v.kind == db::ValueKind::Decimal ? decimals : std::min(decimals, 6);
}

long double numberOf(const db::CellView& v) {
  if (v.kind == db::ValueKind::Integer) return static_cast<long double>(v.integer);
  if (v.kind == db::ValueKind::Floating) return v.floating;
  return std::stold(std::string(v.bytes));
}

bool isNumber(const db::CellView& v) {
  return v.kind == db::ValueKind::Integer || v.kind == db::ValueKind::Floating ||
         v.kind == db::ValueKind::Decimal;
}

bool oracleCopy(const db::RowSet& a, const db::RowSet& b, int k) {
  if (a.rowCount() != b.rowCount() || a.columnCount() != b.columnCount()) return false;
  int nonZero = 0;
  for (int r = 0; r < a.rowCount(); ++r)
    for (int c = kFirstFigureColumn; c < a.columnCount(); ++c) {
      const db::CellView x = a.view(r, c), y = b.view(r, c);
      if (isNumber(x) != isNumber(y)) return false;
      if (!isNumber(x)) {
        if (!db::sameValue(x, y)) return false;
        continue;
      }
      const long double p = numberOf(x), q = numberOf(y);
      if ((p == 0) != (q == 0)) return false;
      if (p == 0) continue;
      const long double scale = std::pow(10.0L, shownDecimals(x));
      const long double want = std::round(q * std::pow(10.0L, k) * scale) / scale;
      if (std::fabs(want - p) > 1e-9L * std::max(1.0L, std::fabs(p))) return false;
      ++nonZero;
    }
  return nonZero >= 3;
}

std::optional<int> oracleExponent(const db::RowSet& s, const db::RowSet& d) {
  for (int k = 1; k <= 4; ++k)
    for (int e : {k, -k})
      if (oracleCopy(s, d, e)) return e;
  for (int k = 1; k <= 4; ++k)
    for (int e : {k, -k})
      if (oracleCopy(d, s, e)) return -e;
  return std::nullopt;
}

// ---- Findings as sets ------------------------------------------------------------------------

// (unit S, unit D, against the earlier period, sheet)
using Hit = std::tuple<std::string, std::string, bool, std::string>;
using NearHit = std::tuple<std::string, std::string, bool, std::string, int>;
using ScaledHit = std::tuple<std::string, std::string, bool, std::string, int>;
using CommonHit = std::tuple<std::string, std::vector<std::string>, std::vector<std::string>>;

struct Findings {
  std::set<Hit> identical;
  std::set<NearHit> near;
  std::set<ScaledHit> scaled;
  std::set<CommonHit> common;  // content shared across the periods by at least kGroup units
  bool operator==(const Findings&) const = default;
};

Findings findingsOf(const DiscoveryResult& r) {
  Findings f;
  for (const DiscoveredPair& p : r.pairs) {
    const std::string& s = p.units[Left].sUnitCode;
    const std::string& d = p.units[Right].sUnitCode;
    for (int sheet : p.identical) f.identical.insert({s, d, p.earlier, r.sheets[sheet].sSampleCode});
    for (const NearSheet& n : p.near)
      f.near.insert({s, d, p.earlier, r.sheets[n.sheet].sSampleCode, n.cells});
    for (const ScaledSheet& x : p.scaled)
      f.scaled.insert({s, d, p.earlier, r.sheets[x.sheet].sSampleCode, x.exponent});
  }
  for (const DiscoveredGroup& g : r.groups) {
    const std::string sheet = r.sheets[g.sheet].sSampleCode;
    if (!g.earlierUnitCodes.empty()) {
      f.common.insert({sheet, g.unitCodes, g.earlierUnitCodes});
      continue;
    }
    if (g.common) continue;
    for (std::size_t i = 0; i < g.unitCodes.size(); ++i)
      for (std::size_t j = i + 1; j < g.unitCodes.size(); ++j)
        f.identical.insert({g.unitCodes[i], g.unitCodes[j], false, sheet});
  }
  return f;
}

struct Node {
  std::string code;
  bool earlier = false;
  std::unique_ptr<db::RowSet> rows;
};

bool same(Node& a, Node& b) {
  a.rows->first();
  b.rows->first();
  return SameRows(*a.rows, *b.rows);
}

// Every pair of one sheet's nodes (the units of one period, or of both), by brute force.
void oracleSheet(std::vector<Node>& nodes, const std::string& sheet, bool across, Findings& f) {
  const std::size_t n = nodes.size();
  // Identical classes: a node's class is its first identical node.
  std::vector<std::size_t> cls(n);
  std::map<std::size_t, std::vector<std::size_t>> members;
  for (std::size_t i = 0; i < n; ++i) {
    cls[i] = i;
    for (std::size_t j = 0; j < i; ++j)
      if (cls[j] == j && same(nodes[j], nodes[i])) {
        cls[i] = j;
        break;
      }
    members[cls[i]].push_back(i);
  }
  const auto common = [&](std::size_t i) { return members[cls[i]].size() >= kGroup; };
  // Whether a finding between nodes i and j is one of this pool's, and with which unit as S.
  const auto wanted = [&](std::size_t i, std::size_t j) {
    return across ? nodes[i].earlier != nodes[j].earlier : true;
  };
  const auto key = [&](std::size_t i, std::size_t j) {  // (S, D, swapped)
    if (across) return nodes[i].earlier ? std::tuple(j, i, true) : std::tuple(i, j, false);
    return nodes[i].code < nodes[j].code ? std::tuple(i, j, false) : std::tuple(j, i, true);
  };
  for (auto& [first, list] : members) {
    bool now = false, before = false;
    for (std::size_t m : list) (nodes[m].earlier ? before : now) = true;
    if (across && now && before && list.size() >= kGroup) {
      std::vector<std::string> a, b;
      for (std::size_t m : list) (nodes[m].earlier ? b : a).push_back(nodes[m].code);
      std::sort(a.begin(), a.end());
      std::sort(b.begin(), b.end());
      f.common.insert({sheet, a, b});
    }
  }
  // Near links between non-common nodes of the same row count; components over them.
  std::vector<std::size_t> parent(n);
  for (std::size_t i = 0; i < n; ++i) parent[i] = cls[i];
  std::function<std::size_t(std::size_t)> root = [&](std::size_t i) {
    return parent[i] == i ? i : parent[i] = root(parent[i]);
  };
  std::map<std::pair<std::size_t, std::size_t>, int> cells;
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j) {
      if (common(i) || common(j) || cls[i] == cls[j]) continue;
      if (nodes[i].rows->rowCount() != nodes[j].rows->rowCount()) continue;
      const int d = DifferingCells(*nodes[i].rows, *nodes[j].rows, 3);
      if (d < 1 || d > 3) continue;
      cells[{i, j}] = d;
      parent[root(i)] = root(j);
    }
  std::map<std::size_t, std::size_t> size;
  for (std::size_t i = 0; i < n; ++i)
    if (!common(i)) ++size[root(i)];
  for (const auto& [ij, d] : cells) {
    const auto [i, j] = ij;
    EXPECT_LT(size[root(i)], static_cast<std::size_t>(kGroup)) << "no near group is planted";
    if (!wanted(i, j)) continue;
    const auto [s, dd, swapped] = key(i, j);
    f.near.insert({nodes[s].code, nodes[dd].code, across, sheet, d});
  }
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j) {
      if (!wanted(i, j)) continue;
      const auto [s, d, swapped] = key(i, j);
      if (cls[i] == cls[j]) {
        if (!common(i)) f.identical.insert({nodes[s].code, nodes[d].code, across, sheet});
        continue;
      }
      if (common(i) || common(j)) continue;
      if (const auto e = oracleExponent(*nodes[s].rows, *nodes[d].rows))
        f.scaled.insert({nodes[s].code, nodes[d].code, across, sheet, *e});
    }
}

class DiscoveryAgainst : public ::testing::Test {
 protected:
  void SetUp() override {
    db.createHostSchema();
    std::string sql =
        "INSERT INTO Period VALUES ('2025N','2025年',1),('2024N','2024年',1);"
        // The chosen period's tables carry the prefix 2025, the earlier period's none.
        "INSERT INTO SampleTableVts VALUES ('2025N','T01',1,1,1,X'504B0304'),"
        "('2024N','T01',1,1,0,X'504B0304');";
    for (const std::string p : {kNow, kBefore})
      for (int s = 1; s <= 5; ++s) {
        if (p == kBefore && s == 4) continue;  // S4 is a sheet of the chosen period only
        sql += "INSERT INTO PeriodTable VALUES ('" + p + "','T01',1,'S" + std::to_string(s) +
               "','表S" + std::to_string(s) + "'," + std::to_string(s) + ",1);";
      }
    for (int s = 1; s <= 5; ++s)
      for (const std::string suffix : {"_2025", ""}) {
        // S5 of the earlier period has one figure column less.
        const bool fewer = s == 5 && suffix.empty();
        sql += "CREATE TABLE DataNumT01_S" + std::to_string(s) + "_1" + suffix +
               " (sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER, sTaskCode TEXT, nLevel INTEGER, "
               "f1, f2, " + (fewer ? "" : "f3, ") + "t);";
      }
    for (int i = 1; i <= 40; ++i)
      sql += "INSERT INTO Unit VALUES (" + std::to_string(i) + ",'单位" + unitCode(i) +
             "'); INSERT INTO UnitClsAndUnit VALUES ('01'," + std::to_string(i) + ",0,NULL,'" +
             unitCode(i) + "');";

    // rows[period][sheet][unit]; period 0 is the chosen one, 1 the earlier one.
    std::map<int, std::map<int, std::map<int, Rows>>> rows;
    for (int p = 0; p < 2; ++p)
      for (int s = 1; s <= 5; ++s)
        for (int i = 1; i <= 40; ++i) rows[p][s][i] = baseRows(i, p, s);
    auto& now = rows[0];
    auto& before = rows[1];
    now[1][1] = before[1][1];  // U01 carries S1 and S2 forward
    now[2][1] = before[2][1];
    now[1][2] = before[1][3];  // U02 hands in U03's earlier S1
    now[1][4] = before[1][4];  // U04 carries S1 forward but for one cell
    now[1][4][0][1] = Cell{Cell::Cents, 12345, {}};
    now[2][5] = before[2][6];  // U05 hands in U06's earlier S2 but for two cells
    now[2][5][1][0] = Cell{Cell::Cents, 2, {}};
    now[2][5][3][3] = Cell{Cell::Text, 0, "other"};
    for (int i = 20; i <= 27; ++i)  // zeros: 8 units now (a group) and 6 before (14: common)
      for (auto* period : {&now, &before}) {
        if (period == &before && i > 25) continue;
        for (auto& row : (*period)[3][i]) {
          for (int c = 0; c < 3; ++c) row[c] = Cell{Cell::Cents, 0, {}};
          row[3] = Cell{Cell::Text, 0, "z"};
        }
      }
    // Rescaled copies within the period: U07 is U08 in thousands (rounded to 2 decimals, with
    // 42,945.81 -> 42.95 and 9,999.61 -> 10.00 at a digit boundary), U09 is U10 in yuan, U11 is
    // U12 in ten thousands rounded to 2 decimals, U16 is U17 times 3 (never a rescaled copy),
    // U18 and U19 hold one non-zero number each, U19's a thousandth of U18's (never either).
    now[1][8][0][0] = Cell{Cell::Cents, 4294581, {}};
    now[1][8][1][1] = Cell{Cell::Cents, 999961, {}};
    now[1][8][2][0] = Cell{Cell::Cents, -3500012, {}};
    now[1][7] = rescaledRows(now[1][8], -3, 2);
    now[2][9] = rescaledRows(now[2][10], 3, 0);
    now[1][11] = rescaledRows(now[1][12], -4, 2);
    now[1][16] = now[1][17];
    for (auto& row : now[1][16])
      for (Cell& c : row)
        if (c.kind == Cell::Cents) c.cents *= 3;
    for (auto& row : now[2][18])
      for (int c = 0; c < 3; ++c) row[c] = Cell{Cell::Cents, 0, {}};
    now[2][19] = now[2][18];
    now[2][18][0][0] = Cell{Cell::Literal, 0, "5000"};
    now[2][19][0][0] = Cell{Cell::Literal, 0, "5"};
    // Rescaled copies against the earlier period: U13 carries S2 forward in thousands, U14 hands
    // in U15's earlier S1 times ten.
    now[2][13] = rescaledRows(before[2][13], -3, 2);
    now[1][14] = rescaledRows(before[1][15], 1, 1);
    now[2][30] = now[2][31];  // a copy within the period
    now[5][32] = before[5][32];  // S5's columns differ: never identical across the periods

    for (int p = 0; p < 2; ++p)
      for (int s = 1; s <= 5; ++s) {
        const bool fewer = s == 5 && p == 1;
        const std::string table =
            "DataNumT01_S" + std::to_string(s) + "_1" + (p == 0 ? "_2025" : "");
        for (int i = 1; i <= 40; ++i)
          for (int r = 0; r < kRows; ++r) {
            sql += "INSERT INTO " + table + " VALUES ('" + (p == 0 ? kNow : kBefore) + "','" +
                   unitCode(i) + "'," + std::to_string(r + 1) + ",'T01',1";
            const auto& row = rows[p][s][i][r];
            for (int c = 0; c < 4; ++c)
              if (!(fewer && c == 2)) sql += "," + literalOf(row[c]);
            sql += ");";
          }
      }
    db.exec("BEGIN;" + sql + "COMMIT;");
    dm.SetConnection(db.connectionString());
  }

  // The oracle: every sheet's nodes read with the one-unit statement, compared pair by pair.
  Findings oracle() {
    Findings f;
    for (int s = 1; s <= 5; ++s) {
      const std::string sheet = "S" + std::to_string(s);
      std::vector<Node> nowNodes, allNodes;
      for (int i = 1; i <= 40; ++i) {
        nowNodes.push_back({unitCode(i), false,
                            dm.OpenUnitData("DataNumT01_" + sheet + "_1_2025", unitCode(i), kNow)});
        allNodes.push_back({unitCode(i), false,
                            dm.OpenUnitData("DataNumT01_" + sheet + "_1_2025", unitCode(i), kNow)});
      }
      oracleSheet(nowNodes, sheet, false, f);
      if (s == 4 || s == 5) continue;  // only now; figure columns differ
      for (int i = 1; i <= 40; ++i)
        allNodes.push_back({unitCode(i), true,
                            dm.OpenUnitData("DataNumT01_" + sheet + "_1", unitCode(i), kBefore)});
      oracleSheet(allNodes, sheet, true, f);
    }
    return f;
  }

  testing::SqliteFile db;
  TdmDupsweep dm;
};

TEST_F(DiscoveryAgainst, FindsWhatComparingEveryPairOfBothPeriodsFinds) {
  ProgressSink quiet;
  DiscoverySettings settings;
  settings.againstPeriod = kBefore;
  const DiscoveryResult found = DuplicateDiscovery(dm, kNow, "T01", 1, "01", settings).Run(quiet);
  const Findings expected = oracle();
  const Findings got = findingsOf(found);
  EXPECT_EQ(got.identical, expected.identical);
  EXPECT_EQ(got.near, expected.near);
  EXPECT_EQ(got.scaled, expected.scaled);
  EXPECT_EQ(got.common, expected.common);
  EXPECT_TRUE(found.nearGroups.empty());

  // The planted cases, as the oracle must have seen them too.
  EXPECT_TRUE(expected.identical.count({"U01", "U01", true, "S1"}));  // carried forward
  EXPECT_TRUE(expected.identical.count({"U01", "U01", true, "S2"}));
  EXPECT_TRUE(expected.identical.count({"U02", "U03", true, "S1"}));  // copied
  EXPECT_TRUE(expected.identical.count({"U30", "U31", false, "S2"}));
  EXPECT_TRUE(expected.near.count({"U04", "U04", true, "S1", 1}));
  EXPECT_TRUE(expected.near.count({"U05", "U06", true, "S2", 2}));
  EXPECT_TRUE(expected.near.count({"U18", "U19", false, "S2", 1}));  // one number: not rescaled
  EXPECT_EQ(expected.scaled, (std::set<ScaledHit>{{"U07", "U08", false, "S1", -3},
                                                  {"U09", "U10", false, "S2", 3},
                                                  {"U11", "U12", false, "S1", -4},
                                                  {"U13", "U13", true, "S2", -3},
                                                  {"U14", "U15", true, "S1", 1}}));
  std::vector<std::string> zerosNow, zerosBefore;
  for (int i = 20; i <= 27; ++i) (i <= 25 ? zerosBefore : zerosNow).push_back(unitCode(i));
  zerosNow.insert(zerosNow.begin(), zerosBefore.begin(), zerosBefore.end());
  EXPECT_EQ(expected.common, (std::set<CommonHit>{{"S3", zerosNow, zerosBefore}}));

  // S5's columns differ between the periods: said, and U32's copy there is no finding.
  EXPECT_EQ(std::count_if(found.warnings.begin(), found.warnings.end(),
                          [](const std::string& w) {
                            return w.find("S5") != std::string::npos &&
                                   w.find("figure columns") != std::string::npos;
                          }),
            1);
  EXPECT_EQ(found.againstPeriodId, kBefore);
  EXPECT_EQ(found.periodName, "2025年(年报)");
  EXPECT_EQ(found.againstPeriodName, "2024年(年报)");
}

TEST_F(DiscoveryAgainst, WithoutAnEarlierPeriodNothingAcrossPeriodsIsFound) {
  ProgressSink quiet;
  const DiscoveryResult found = DuplicateDiscovery(dm, kNow, "T01", 1, "01").Run(quiet);
  Findings expected = oracle();
  std::erase_if(expected.identical, [](const Hit& h) { return std::get<2>(h); });
  std::erase_if(expected.near, [](const NearHit& h) { return std::get<2>(h); });
  std::erase_if(expected.scaled, [](const ScaledHit& h) { return std::get<2>(h); });
  expected.common.clear();
  EXPECT_EQ(findingsOf(found), expected);
  EXPECT_TRUE(found.warnings.empty());
  // An earlier period the task does not have is refused, not searched.
  DiscoverySettings settings;
  settings.againstPeriod = "2019N";
  EXPECT_THROW(DuplicateDiscovery(dm, kNow, "T01", 1, "01", settings).Run(quiet),
               UnknownDiscoveryInput);
}

}  // namespace
}  // namespace dupsweep
