// The comparison run's check of rows against the viewer's grids fails exactly as writing the rows
// into the grids does: the same error type and message, for every way a fill can fail, on rows
// made in memory and on rows appended as a backend fills them.
#include <gtest/gtest.h>

#include <functional>

#include "engine/compare.h"
#include "platform/errors.h"
#include "platform/spreadsheet/workbook.h"
#include "viewer/viewer_fixture.h"

namespace dupsweep {
namespace {

// The failure of `work` as "type: message", or "none".
std::string failureOf(const std::function<void()>& work) {
  try {
    work();
    return "none";
  } catch (const sheet::RangeError& e) {
    return std::string("RangeError: ") + e.what();
  } catch (const FormatError& e) {
    return std::string("FormatError: ") + e.what();
  } catch (const DatabaseError& e) {
    return std::string("DatabaseError: ") + e.what();
  }
}

// Rows of columns `names`, one row per list of values.
db::RowSet rowsOf(const std::vector<std::string>& names, std::vector<std::vector<db::Value>> rows,
                  bool appended) {
  std::vector<db::Value> cells;
  for (auto& row : rows)
    for (auto& v : row) cells.push_back(std::move(v));
  db::RowSet made(names, cells);
  if (!appended) return made;
  db::RowSet copy(names);
  for (int r = 0; r < made.rowCount(); ++r) copy.appendRow([&](int c) { return made.view(r, c); });
  return copy;
}

using GridFitTest = testing::ViewerTest;

TEST_F(GridFitTest, FailsWhereWritingIntoTheGridsFailsWithTheSameError) {
  loadTemplate(reportTemplate());  // two sheets
  for (std::int32_t order : {0, 3}) {
    const std::string set = failureOf([&] { form_->SetSheet(order - 1); });
    EXPECT_EQ(failureOf([&] { GridFit(left().workbook()).checkSheet(order); }), set);
    EXPECT_NE(set, "none");
  }
  EXPECT_EQ(failureOf([&] { GridFit(left().workbook()).checkSheet(2); }), "none");

  const std::vector<std::string> keys = {"sPeriodID", "sUnitCode", "nRow", "sTaskCode", "nLevel"};
  auto names = [&](std::vector<std::string> figures) {
    std::vector<std::string> all = keys;
    all.insert(all.end(), figures.begin(), figures.end());
    return all;
  };
  auto row = [](db::Value nRow, std::vector<db::Value> figures) {
    std::vector<db::Value> all = {std::string("P"), std::string("U"), std::move(nRow),
                                  std::string("T"), std::int64_t{1}};
    all.insert(all.end(), figures.begin(), figures.end());
    return all;
  };
  const db::Value null = db::Null{};
  std::vector<db::Value> wide(sheet::kMaxCols + 1, null);
  wide.back() = std::int64_t{1};
  std::vector<std::string> wideNames;
  for (int c = 0; c <= sheet::kMaxCols; ++c) wideNames.push_back("f" + std::to_string(c));

  struct Case {
    const char* what;
    std::vector<std::string> namesS, namesD;
    std::vector<std::vector<db::Value>> s, d;
    bool fails;
  };
  const std::vector<std::string> two = names({"f1", "f2"});
  const std::vector<Case> cases = {
      {"rows that fit, a row of NULL figures without a row number among them",
       two,
       two,
       {row(std::int64_t{3}, {std::int64_t{1}, std::string("文字")}),
        row(std::int64_t{0}, {null, null})},
       {row(std::int64_t{sheet::kMaxRows}, {2.5, db::Decimal{"7.50"}})},
       false},
      {"nRow 0", two, two, {row(std::int64_t{0}, {std::int64_t{1}, null})}, {}, true},
      {"nRow beyond the last row",
       two,
       two,
       {},
       {row(std::int64_t{sheet::kMaxRows + 1}, {null, std::int64_t{1}})},
       true},
      {"nRow that is no number",
       two,
       two,
       {row(std::string("x"), {std::int64_t{1}, null})},
       {},
       true},
      {"no nRow column",
       {"a", "b", "c", "d", "e", "f1"},
       {"a", "b", "c", "d", "e", "f1"},
       {{std::string("P"), std::string("U"), std::int64_t{1}, std::string("T"), std::int64_t{1},
         std::int64_t{1}}},
       {},
       true},
      {"a column the right unit lacks",
       two,
       names({"f1"}),
       {row(std::int64_t{1}, {std::int64_t{1}, std::int64_t{2}})},
       {row(std::int64_t{1}, {std::int64_t{1}})},
       true},
      {"more columns than a sheet has",
       names(wideNames),
       names(wideNames),
       {row(std::int64_t{2}, wide)},
       {},
       true},
      {"text that is not UTF-8 after rows that fit",
       two,
       two,
       {row(std::int64_t{1}, {std::int64_t{1}, null}),
        row(std::int64_t{2}, {null, std::string("ab\xff")})},
       {row(std::int64_t{1}, {std::int64_t{1}, null})},
       true},
  };
  for (const Case& c : cases) {
    for (bool appended : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (appended ? ", appended" : ""));
      db::RowSet fillS = rowsOf(c.namesS, c.s, appended), fillD = rowsOf(c.namesD, c.d, appended);
      db::RowSet checkS = rowsOf(c.namesS, c.s, appended), checkD = rowsOf(c.namesD, c.d, appended);
      const std::string filled = failureOf([&] { form_->FillBooks(fillS, fillD); });
      EXPECT_EQ(failureOf([&] { GridFit::checkRows(checkS, checkD); }), filled);
      EXPECT_EQ(filled != "none", c.fails) << filled;
    }
  }
}

}  // namespace
}  // namespace dupsweep
