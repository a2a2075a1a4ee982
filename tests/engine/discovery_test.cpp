// Duplicate discovery over a real SQLite host database of 44 units with planted copies, checked
// against the comparison run over every pair as the oracle; the same database read through the
// ODBC driver manager; the tree's rule of levels and parents; progress and cancelling.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <tuple>

#include "engine/compare.h"
#include "engine/discovery.h"
#include "support/sqlite_file.h"

namespace dupsweep {
namespace {

using Hit = std::tuple<std::string, std::string, std::string>;  // unit S, unit D, sheet
using NearHit = std::tuple<std::string, std::string, std::string, int>;

std::string unitCode(int i) { return (i < 10 ? "U0" : "U") + std::to_string(i); }

// Rows nRow 1 to 6 of figures f1..f3 and text t, distinct per unit in every cell, with the edits
// that plant the cases; `edits` maps (nRow, column) to the literal stored instead.
std::string rowsOf(const std::string& sheet, const std::string& code, int base,
                   const std::map<std::pair<int, int>, std::string>& edits = {}, int rows = 6) {
  std::string sql;
  for (int r = 1; r <= rows; ++r) {
    sql += "INSERT INTO DataNumT01_" + sheet + "_1 VALUES ('P1','" + code + "'," +
           std::to_string(r) + ",'T01',1";
    for (int c = 1; c <= 4; ++c) {
      const auto edit = edits.find({r, c});
      const std::string plain = c == 4 ? "'t" + std::to_string(base + r) + "'"
                                       : std::to_string(base * 10 + r * 3 + c);
      sql += "," + (edit != edits.end() ? edit->second : plain);
    }
    sql += ");";
  }
  return sql;
}

class Discovery : public ::testing::Test {
 protected:
  static constexpr const char* kSheets[] = {"S1", "S2", "S3", "S4", "S6"};

  void SetUp() override {
    db.createHostSchema();
    std::string sql = "INSERT INTO Period VALUES ('P1','期',1);"
                      "INSERT INTO SampleTableVts VALUES ('P1','T01',1,1,0,X'504B0304');";
    // S5 is listed but its table does not exist; S6 exists without any row.
    for (int order = 1; order <= 6; ++order) {
      const std::string s = "S" + std::to_string(order);
      sql += "INSERT INTO PeriodTable VALUES ('P1','T01',1,'" + s + "','表" + s + "'," +
             std::to_string(order) + "," + (order == 1 ? "1" : "0") + ");";
    }
    for (const char* s : kSheets)
      sql += std::string("CREATE TABLE DataNumT01_") + s +
             "_1 (sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER, sTaskCode TEXT, nLevel INTEGER, "
             "f1, f2, f3, t);";
    // Four top-level units R1..R4, forty units U01..U40 under them; X1 sits at level 2 under a
    // top-level unit (the tree never shows it), Q1 belongs to another classification.
    for (int r = 1; r <= 4; ++r)
      sql += "INSERT INTO Unit VALUES (" + std::to_string(r) + ",'区" + std::to_string(r) +
             "'); INSERT INTO UnitClsAndUnit VALUES ('01'," + std::to_string(r) + ",0,NULL,'R" +
             std::to_string(r) + "');";
    for (int i = 1; i <= 40; ++i)
      sql += "INSERT INTO Unit VALUES (" + std::to_string(100 + i) + ",'单位" + unitCode(i) +
             "'); INSERT INTO UnitClsAndUnit VALUES ('01'," + std::to_string(100 + i) + ",1,'R" +
             std::to_string(1 + i % 4) + "','" + unitCode(i) + "');";
    sql += "INSERT INTO Unit VALUES (200,'错层'),(201,'他类');"
           "INSERT INTO UnitClsAndUnit VALUES ('01',200,2,'R1','X1'),('02',201,0,NULL,'Q1');";

    for (const char* sheetName : {"S1", "S2", "S3", "S4"}) {
      const std::string s = sheetName;
      for (int i = 1; i <= 40; ++i) {
        int base = i * 100 + static_cast<int>(s[1] - '0');
        std::map<std::pair<int, int>, std::string> edits;
        int rows = 6;
        if (i == 2 || i == 4 || i == 6 || i == 8 || i == 10 || i == 12 || i == 13)
          base = (i == 13 ? 11 : i - 1) * 100 + static_cast<int>(s[1] - '0');  // a copy
        if (i == 4 && s == "S2") edits = {{{2, 1}, "0.25"}};
        if (i == 4 && s == "S3") edits = {{{1, 1}, "0.25"}, {{6, 4}, "'z'"}};
        if (i == 4 && s == "S4") edits = {{{1, 2}, "7"}, {{3, 3}, "8"}, {{5, 1}, "9"}};
        if (i == 6 && s == "S1") edits = {{{1, 1}, "1"}, {{2, 1}, "2"}, {{3, 1}, "3"}, {{4, 1}, "4"}};
        if (i == 7 || i == 8) {  // letter case on S1, a trailing blank on S2
          if (s == "S1") edits = {{{3, 4}, i == 7 ? "'abc'" : "'ABC'"}};
          if (s == "S2") edits = {{{3, 4}, i == 7 ? "'abc'" : "'abc '"}};
        }
        if (i == 9 || i == 10) {  // NULL against 0; 1 against 1.0; 0 against -0.0
          if (s == "S1") edits = {{{2, 2}, i == 9 ? "NULL" : "0"}};
          if (s == "S2") edits = {{{2, 2}, i == 9 ? "1" : "1.0"}};
          if (s == "S3") edits = {{{2, 2}, i == 9 ? "0" : "-0.0"}};
        }
        if ((i == 14 || i == 15) && s == "S2") continue;  // no rows: never identical
        if (i == 17 && s == "S1") rows = 5;               // U16's rows but the last
        if (i == 17 && s == "S1") base = 16 * 100 + 1;
        if (s == "S3" && i >= 20 && i <= 35) {            // all zeros: common content
          for (int r = 1; r <= 6; ++r)
            for (int c = 1; c <= 4; ++c) edits[{r, c}] = "0";
          if (i == 35) edits[{1, 1}] = "1";  // all but one zero
        }
        sql += rowsOf(s, unitCode(i), base, edits, rows);
      }
      sql += rowsOf(s, "X1", 101) + rowsOf(s, "Q1", 101);  // copies of U01 the tree does not show
    }
    db.exec("BEGIN;" + sql + "COMMIT;");
    dm.SetConnection(db.connectionString());
  }

  // The identical (pair, sheet) set: every pair of a group, common or not, is identical.
  static std::set<Hit> identicalOf(const DiscoveryResult& r) {
    std::set<Hit> hits;
    for (const DiscoveredPair& p : r.pairs)
      for (int s : p.identical)
        hits.insert({p.units[Left].sUnitCode, p.units[Right].sUnitCode, r.sheets[s].sSampleCode});
    for (const DiscoveredGroup& g : r.groups)
      for (std::size_t i = 0; i < g.unitCodes.size(); ++i)
        for (std::size_t j = i + 1; j < g.unitCodes.size(); ++j)
          hits.insert({g.unitCodes[i], g.unitCodes[j], r.sheets[g.sheet].sSampleCode});
    return hits;
  }
  static std::set<NearHit> nearOf(const DiscoveryResult& r) {
    std::set<NearHit> hits;
    for (const DiscoveredPair& p : r.pairs)
      for (const NearSheet& n : p.near)
        hits.insert({p.units[Left].sUnitCode, p.units[Right].sUnitCode,
                     r.sheets[n.sheet].sSampleCode, n.cells});
    return hits;
  }

  testing::SqliteFile db;
  TdmDupsweep dm;
};

TEST_F(Discovery, FindsWhatTheComparisonRunFindsOverEveryPair) {
  ProgressSink quiet;
  const DiscoveryResult found = DuplicateDiscovery(dm, "P1", "T01", 1, "01").Run(quiet);
  ASSERT_EQ(found.units.size(), 44u);  // R1..R4 and U01..U40; neither X1 nor Q1
  EXPECT_EQ(found.warnings.size(), 1u);

  // The oracle: the comparison run over every pair of the tree's units, and the differing cells
  // of every pair with the same row count counted from the rows OpenUnitData gives.
  std::vector<TUnitGroup> groups;
  for (std::size_t i = 0; i < found.units.size(); ++i)
    for (std::size_t j = i + 1; j < found.units.size(); ++j)
      groups.emplace_back(found.units[i], found.units[j]);
  std::vector<RunEntry> entries;
  for (const TUnitGroup& g : groups) entries.push_back({&g, true});
  std::set<Hit> identical;
  ComparisonRun run(dm, "P1", "T01", 1);
  ASSERT_TRUE(run.Run(entries, quiet, GridCheck::None).compared);
  for (const PairFindings& p : run.result().pairs)
    for (std::size_t i = 0; i < p.sheets.size(); ++i)
      if (p.sheets[i] == Verdict::Identical)
        identical.insert({p.pair[Left].sUnitCode, p.pair[Right].sUnitCode,
                          run.samples()[i]->sSampleCode});
  EXPECT_EQ(identicalOf(found), identical);

  std::set<std::pair<std::string, std::string>> common;  // (sheet, unit) of common content
  for (const DiscoveredGroup& g : found.groups)
    if (g.common)
      for (const std::string& code : g.unitCodes) common.insert({found.sheets[g.sheet].sSampleCode, code});
  std::set<NearHit> near;
  for (const TUnitGroup& g : groups)
    for (const char* sheet : kSheets) {
      const std::string table = std::string("DataNumT01_") + sheet + "_1";
      auto s = dm.OpenUnitData(table, g.UnitS->sUnitCode, "P1");
      auto d = dm.OpenUnitData(table, g.UnitD->sUnitCode, "P1");
      if (s->rowCount() == 0 || s->rowCount() != d->rowCount()) continue;
      if (common.count({sheet, g.UnitS->sUnitCode}) || common.count({sheet, g.UnitD->sUnitCode}))
        continue;
      const int cells = DifferingCells(*s, *d, 3);
      if (cells >= 1 && cells <= 3) near.insert({g.UnitS->sUnitCode, g.UnitD->sUnitCode, sheet, cells});
    }
  EXPECT_EQ(nearOf(found), near);

  // The planted cases, as the oracle must have seen them too.
  EXPECT_TRUE(identical.count({"U09", "U10", "S2"}));  // 1 against 1.0
  EXPECT_TRUE(identical.count({"U09", "U10", "S3"}));  // 0 against -0.0
  EXPECT_FALSE(identical.count({"U14", "U15", "S2"}));  // both without rows
  EXPECT_EQ(near, (std::set<NearHit>{{"U03", "U04", "S2", 1},
                                     {"U03", "U04", "S3", 2},
                                     {"U03", "U04", "S4", 3},
                                     {"U07", "U08", "S1", 1},
                                     {"U07", "U08", "S2", 1},
                                     {"U09", "U10", "S1", 1}}));
  // All zeros on S3 is one common group of 15 units, and none of its pairs is listed.
  ASSERT_EQ(common.size(), 15u);
  for (const DiscoveredPair& p : found.pairs)
    for (int s : p.identical)
      EXPECT_FALSE(common.count({found.sheets[s].sSampleCode, p.units[Left].sUnitCode}))
          << p.units[Left].sUnitCode;
  // Ranked: the whole copy first, the three-unit group's pairs on S1 after the pairs with more.
  ASSERT_FALSE(found.pairs.empty());
  EXPECT_EQ(found.pairs.front().units[Left].sUnitCode, "U01");
  EXPECT_EQ(found.pairs.front().identical.size(), 4u);
}

TEST_F(Discovery, ReadsTheSameThroughTheOdbcDriverManager) {
  ProgressSink quiet;
  const DiscoveryResult direct = DuplicateDiscovery(dm, "P1", "T01", 1, "01").Run(quiet);
  TdmDupsweep odbc;
  odbc.SetConnection("Provider=MSDASQL;Driver=SQLite3;Database=" + db.path().string());
  const DiscoveryResult viaOdbc = DuplicateDiscovery(odbc, "P1", "T01", 1, "01").Run(quiet);
  EXPECT_EQ(identicalOf(viaOdbc), identicalOf(direct));
  EXPECT_EQ(nearOf(viaOdbc), nearOf(direct));
}

TEST_F(Discovery, SettingsChangeNearCopiesAndCommonContent) {
  ProgressSink quiet;
  DiscoverySettings settings;
  settings.nearCells = 1;
  settings.commonGroupSize = 20;  // the 15 zero units are an ordinary group now
  const DiscoveryResult found = DuplicateDiscovery(dm, "P1", "T01", 1, "01", settings).Run(quiet);
  for (const NearHit& hit : nearOf(found)) EXPECT_EQ(std::get<3>(hit), 1);
  EXPECT_TRUE(nearOf(found).count({"U03", "U04", "S2", 1}));
  EXPECT_TRUE(nearOf(found).count({"U20", "U35", "S3", 1}));
  for (const DiscoveredGroup& g : found.groups) EXPECT_FALSE(g.common);
  settings.nearCells = -1;
  EXPECT_THROW(DuplicateDiscovery(dm, "P1", "T01", 1, "01", settings).Run(quiet), Error);
}

TEST_F(Discovery, RaisingTheLimitNeverLosesANearCopy) {
  ProgressSink quiet;
  DiscoverySettings settings;
  const std::set<NearHit> atThree = nearOf(DuplicateDiscovery(dm, "P1", "T01", 1, "01").Run(quiet));
  ASSERT_EQ(atThree.size(), 6u);
  for (int limit : {11, 12, 24, 1000}) {  // a sheet has 24 figure cells
    settings.nearCells = limit;
    const DiscoveryResult found = DuplicateDiscovery(dm, "P1", "T01", 1, "01", settings).Run(quiet);
    const std::set<NearHit> near = nearOf(found);
    for (const NearHit& hit : atThree) EXPECT_TRUE(near.count(hit)) << limit << " " << std::get<0>(hit);
    EXPECT_TRUE(found.nearGroups.empty()) << limit;
  }
}

TEST_F(Discovery, NearCopiesOfManyUnitsAreOneNearContentGroup) {
  // U21..U32 take U01's rows of S4 but for one cell holding their own code: with U01 and its
  // copy U02, fourteen units near one another, found as one group instead of 91 pairs.
  std::string sql = "BEGIN;";
  for (int i = 21; i <= 32; ++i)
    sql += "DELETE FROM DataNumT01_S4_1 WHERE sUnitCode = '" + unitCode(i) + "';" +
           rowsOf("S4", unitCode(i), 104, {{{2, 4}, "'" + unitCode(i) + "'"}});
  db.exec(sql + "COMMIT;");
  ProgressSink quiet;
  const DiscoveryResult found = DuplicateDiscovery(dm, "P1", "T01", 1, "01").Run(quiet);
  ASSERT_EQ(found.nearGroups.size(), 1u);
  const DiscoveredNearGroup& group = found.nearGroups[0];
  EXPECT_EQ(found.sheets[group.sheet].sSampleCode, "S4");
  EXPECT_EQ(group.cells, 1);
  std::vector<std::string> expected = {"U01", "U02"};
  for (int i = 21; i <= 32; ++i) expected.push_back(unitCode(i));
  EXPECT_EQ(group.unitCodes, expected);
  for (const NearHit& hit : nearOf(found)) {  // a pair of other units stays a pair
    if (std::get<2>(hit) == "S4") {
      EXPECT_EQ(hit, (NearHit{"U03", "U04", "S4", 3}));
    }
  }
  // Below the group size the same units are pairs again, each of them once.
  DiscoverySettings settings;
  settings.commonGroupSize = 15;
  const DiscoveryResult pairs = DuplicateDiscovery(dm, "P1", "T01", 1, "01", settings).Run(quiet);
  EXPECT_TRUE(pairs.nearGroups.empty());
  int onS4 = 0;
  for (const NearHit& hit : nearOf(pairs)) onS4 += std::get<2>(hit) == "S4" ? 1 : 0;
  EXPECT_EQ(onS4, 14 * 13 / 2 - 1 + 1);  // every pair but U01/U02 (identical), and U03/U04
}

TEST_F(Discovery, AFiguresTableWithoutItsKeyColumnsNamesTheTableAndTheSheet) {
  for (const char* missing : {"sUnitCode", "nRow"}) {
    db.exec(std::string("DROP TABLE DataNumT01_S6_1; CREATE TABLE DataNumT01_S6_1 (sPeriodID TEXT, ") +
            (std::string(missing) == "nRow" ? "sUnitCode" : "nRow") +
            " TEXT, sTaskCode TEXT, nLevel INTEGER, f1, f2, f3, t);");
    ProgressSink quiet;
    try {
      DuplicateDiscovery(dm, "P1", "T01", 1, "01").Run(quiet);
      ADD_FAILURE() << missing;
    } catch (const DatabaseError& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find("DataNumT01_S6_1"), std::string::npos) << message;
      EXPECT_NE(message.find("表S6"), std::string::npos) << message;
    }
  }
}

TEST_F(Discovery, CancellingIsAskedInsideOneLargeSheet) {
  // Large enough that the run asks more than once while its worker reads the sheet.
  db.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200000) "
          "INSERT INTO DataNumT01_S6_1 SELECT 'P1', 'U01', i, 'T01', 1, i, i, i, 't' FROM n;");
  // Asked once before S6 (after five steps), then never again before the next step.
  struct StopInS6 : ProgressSink {
    void step() override { ++steps; }
    bool cancelled() override { return steps == 5 && ++asked > 1; }
    int steps = 0, asked = 0;
  } stop;
  EXPECT_THROW(DuplicateDiscovery(dm, "P1", "T01", 1, "01").Run(stop), RunCancelled);
  EXPECT_EQ(stop.steps, 5);
}

TEST_F(Discovery, CountsASheetPerStepAndStopsWhenCancelled) {
  struct Steps : ProgressSink {
    void begin(int n) override { total = n; }
    void step() override { ++steps; }
    bool cancelled() override { return steps == stopAt; }
    int total = 0, steps = 0, stopAt = -1;
  } steps;
  DuplicateDiscovery(dm, "P1", "T01", 1, "01").Run(steps);
  EXPECT_EQ(steps.total, 7);  // six sheets and the ranking
  EXPECT_EQ(steps.steps, 7);
  Steps cancel;
  cancel.stopAt = 2;
  EXPECT_THROW(DuplicateDiscovery(dm, "P1", "T01", 1, "01").Run(cancel), RunCancelled);
  EXPECT_EQ(cancel.steps, 2);
}

TEST(TreeUnits, FollowTheTreesRuleOfLevelsAndParents) {
  auto row = [](const char* code, int level, std::optional<std::string> parent) {
    return ClassificationUnit{TUnitData{0, code, level, code}, std::move(parent)};
  };
  const std::vector<TUnitData> units = treeUnits({
      row("A", 0, std::nullopt), row("B", 0, "A"),  // level 0 with a parent: not shown
      row("A1", 1, "A"), row("A11", 2, "A1"), row("A2", 2, "A"),  // A2 skips a level
      row("C1", 1, "C"),                                         // no parent C shown
  });
  std::vector<std::pair<std::string, int>> shown;
  for (const TUnitData& u : units) shown.emplace_back(u.sUnitCode, u.nLevel);
  EXPECT_EQ(shown, (std::vector<std::pair<std::string, int>>{{"A", 0}, {"A1", 1}, {"A11", 2}}));
}

}  // namespace
}  // namespace dupsweep
