// The viewer's deferred fills: rows kept typed during a run and entered only when something looks
// at the grids give exactly the grids that writing every value at once gives, and fail where the
// writing fails.
#include <gtest/gtest.h>

#include <QLabel>
#include <QTreeWidget>
#include <random>

#include "platform/errors.h"
#include "platform/spreadsheet/bookwidget.h"
#include "platform/spreadsheet/workbook.h"
#include "viewer/viewer_fixture.h"

namespace dupsweep {
namespace {

using testing::contents;
using testing::writeTemplate;

// A unit's rows of one sheet: the five leading columns, then four figures of mixed kinds, some
// NULL; rows at distinct nRow values in ascending order, 1 to rowCount when `denseRows`, as every
// unit's rows of a sheet are in a run.
db::RowSet randomRows(std::mt19937& random, int rowCount, bool denseRows = false) {
  std::vector<std::string> names = {"sPeriodID", "sUnitCode", "nRow", "sTaskCode", "nLevel",
                                    "f1",        "f2",        "f3",   "f4"};
  std::vector<db::Value> cells;
  int nRow = 0;
  for (int r = 0; r < rowCount; ++r) {
    nRow += denseRows ? 1 : 1 + static_cast<int>(random() % 3);
    for (db::Value v : {db::Value(std::string("2024N")), db::Value(std::string("U")),
                        db::Value(std::int64_t{nRow}), db::Value(std::string("T01")),
                        db::Value(std::int64_t{1})})
      cells.push_back(std::move(v));
    for (int c = 0; c < 4; ++c) {
      switch (random() % 6) {
        case 0: cells.emplace_back(db::Null{}); break;
        case 1: cells.emplace_back(static_cast<std::int64_t>(random() % 1000)); break;
        case 2: cells.emplace_back(static_cast<double>(random() % 100000) / 100.0); break;
        case 3: cells.emplace_back(db::Decimal{std::to_string(random() % 90) + ".50"}); break;
        case 4: cells.emplace_back(std::string("文本") + std::to_string(random() % 5)); break;
        default: cells.emplace_back(std::string());
      }
    }
  }
  return db::RowSet(names, cells);
}

// The same rows as a backend fills them, value by value from views, with the masks of their NULLs
// and texts.
db::RowSet appendedCopy(const db::RowSet& rows) {
  std::vector<std::string> names;
  for (int c = 0; c < rows.columnCount(); ++c) names.push_back(rows.columnName(c));
  db::RowSet copy(names);
  for (int r = 0; r < rows.rowCount(); ++r) copy.appendRow([&](int c) { return rows.view(r, c); });
  return copy;
}

class DeferredFills : public testing::ViewerTest {
 protected:
  void SetUp() override {
    writeTemplate(dir_ / "t.xlsx", {{"一", {{1, 1, "表一"}, {3, 2, "模板值"}}},
                                    {"二", {{1, 1, "表二"}}},
                                    {"三", {}}});
    for (TfrmShowDifference* form : {form_.get(), &deferred_}) form->LoadTemplate(path());
    deferred_.DeferFills(true);
  }
  std::string path() const { return (dir_ / "t.xlsx").string(); }
  // Fills copies of S and D into sheet index `sheetIndex` of both viewers, the eager one first;
  // `appended`: as a backend fills them, value by value from views.
  void fillBoth(int sheetIndex, const db::RowSet& s, const db::RowSet& d, bool appended) {
    for (TfrmShowDifference* form : {form_.get(), &deferred_}) {
      form->SetSheet(sheetIndex);
      db::RowSet copyS = appended ? appendedCopy(s) : s;
      db::RowSet copyD = appended ? appendedCopy(d) : d;
      copyS.first();
      copyD.first();
      TSampleData sample;
      form->FillBooks(copyS, copyD, sample);
    }
  }

  TfrmShowDifference deferred_;
};

TEST_F(DeferredFills, GiveTheGridsThatWritingEveryValueGives) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    // Pairs over the sheets in turn, as a run does; later pairs overwrite some cells of earlier
    // ones and leave others.
    for (int pair = 0; pair < 6; ++pair) {
      for (int sheetIndex = 0; sheetIndex < 3; ++sheetIndex) {
        const int rowsS = static_cast<int>(random() % 6);
        const int rowsD = static_cast<int>(random() % 6);
        db::RowSet s = randomRows(random, rowsS), d = randomRows(random, rowsD);
        // Odd seeds fill from rows as a backend appends them.
        fillBoth(sheetIndex, s, d, seed % 2 == 1);
      }
      for (TfrmShowDifference* form : {form_.get(), &deferred_}) form->SetSheet(0);
    }
    EXPECT_EQ(contents(deferred_.F1Book1()), contents(form_->F1Book1()));
    EXPECT_EQ(contents(deferred_.F1Book2()), contents(form_->F1Book2()));
    EXPECT_EQ(deferred_.F1Book1().Sheet(), form_->F1Book1().Sheet());
    for (TfrmShowDifference* form : {form_.get(), &deferred_}) form->LoadTemplate(path());
  }
}

TEST_F(DeferredFills, OfRowsWithTheSameRowNumbersKeepWhatEarlierRowsLeftUnderTheirNulls) {
  // Every pair's rows of a sheet go to the same grid rows, so each later fill replaces the kept
  // rows but for its NULL figures; a cell NULL in several pairs in turn must keep the value of
  // the last pair that had one.
  for (unsigned seed = 1; seed <= 20; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    for (int pair = 0; pair < 8; ++pair) {
      for (int sheetIndex = 0; sheetIndex < 2; ++sheetIndex) {
        db::RowSet s = randomRows(random, 3 + sheetIndex, true);
        db::RowSet d = randomRows(random, 3 + sheetIndex, true);
        // Odd seeds fill from rows as a backend appends them.
        fillBoth(sheetIndex, s, d, seed % 2 == 1);
      }
    }
    EXPECT_EQ(contents(deferred_.F1Book1()), contents(form_->F1Book1()));
    EXPECT_EQ(contents(deferred_.F1Book2()), contents(form_->F1Book2()));
    for (TfrmShowDifference* form : {form_.get(), &deferred_}) form->LoadTemplate(path());
  }
}

// The list's lines as "number|sheet|row|col|left|right".
std::vector<std::string> listLines(TfrmShowDifference& form) {
  std::vector<std::string> lines;
  QTreeWidget* list = form.lsvDifferenace();
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    QStringList fields;
    for (int c = 0; c < 6; ++c) fields << list->topLevelItem(i)->text(c);
    lines.push_back(fields.join('|').toStdString());
  }
  return lines;
}

// The current sheet, then every cell of every sheet that holds text, with its format.
std::vector<std::pair<std::string, sheet::CellFormat>> marked(sheet::F1Book& book) {
  std::vector<std::pair<std::string, sheet::CellFormat>> out{{std::to_string(book.Sheet()), {}}};
  const int current = book.Sheet();
  for (const auto& [place, text] : contents(book)) {
    const auto [s, r, c] = place;
    book.setSheet(s);
    out.emplace_back(std::to_string(s) + "," + std::to_string(r) + "," + std::to_string(c) + ":" +
                         text,
                     testing::formatAt(book, r, c));
  }
  book.setSheet(current);
  return out;
}

TEST_F(DeferredFills, AndTheScanThatWaitsGiveTheListMarksAndCountsOfDoingEverythingAtOnce) {
  for (unsigned seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    // A run's pairs, its closing scan, and then (for some seeds) a showing's further rows and
    // scan on the same grids, as the dialog may do before anybody looks.
    const int rounds = 1 + static_cast<int>(seed % 2);
    for (int round = 0; round < rounds; ++round) {
      for (int pair = 0; pair < 3; ++pair)
        for (int sheetIndex = 0; sheetIndex < 3; ++sheetIndex) {
          db::RowSet s = randomRows(random, static_cast<int>(random() % 5));
          db::RowSet d = randomRows(random, static_cast<int>(random() % 5));
          for (TfrmShowDifference* form : {form_.get(), &deferred_}) {
            // After a scan both grids are on sheet 1: the first rows go there without a turn.
            if (round == 0 || pair > 0 || sheetIndex > 0) form->SetSheet(sheetIndex);
            db::RowSet copyS = s, copyD = d;
            copyS.first();
            copyD.first();
            TSampleData sample;
            form->FillBooks(copyS, copyD, sample);
            form->ClearDifferences();
          }
        }
      for (TfrmShowDifference* form : {form_.get(), &deferred_}) form->FindAllDifferences();
    }
    EXPECT_EQ(listLines(deferred_), listLines(*form_));
    EXPECT_EQ(marked(deferred_.F1Book1()), marked(form_->F1Book1()));
    EXPECT_EQ(marked(deferred_.F1Book2()), marked(form_->F1Book2()));
    EXPECT_EQ(deferred_.grid(viewer::kLeft)->sheetCounts(),
              form_->grid(viewer::kLeft)->sheetCounts());
    EXPECT_EQ(deferred_.statusPanel()->text(), form_->statusPanel()->text());
    for (TfrmShowDifference* form : {form_.get(), &deferred_}) form->LoadTemplate(path());
  }
}

TEST_F(DeferredFills, AFreshTemplateDropsWhatWaitedForTheOldOne) {
  std::mt19937 random(7);
  db::RowSet s = randomRows(random, 4), d = randomRows(random, 4);
  TSampleData sample;
  deferred_.FillBooks(s, d, sample);
  deferred_.FindAllDifferences();
  deferred_.LoadTemplateAfresh(path());
  form_->LoadTemplateAfresh(path());
  EXPECT_TRUE(listLines(deferred_).empty());
  EXPECT_EQ(marked(deferred_.F1Book1()), marked(form_->F1Book1()));
  EXPECT_EQ(marked(deferred_.F1Book2()), marked(form_->F1Book2()));
  // A template that cannot be read replaces nothing, and what waits still comes.
  deferred_.FillBooks(s = randomRows(random, 4), d = randomRows(random, 4), sample);
  deferred_.FindAllDifferences();
  EXPECT_THROW(deferred_.LoadTemplateAfresh((dir_ / "missing.xlsx").string()), FileError);
  EXPECT_FALSE(listLines(deferred_).empty());
}

TEST_F(DeferredFills, FailWhereWritingFailsAndKeepWhatCameBefore) {
  // Row 2 is written, then a row whose nRow is no row of a sheet ends the fill.
  std::vector<std::string> names = {"sPeriodID", "sUnitCode", "nRow", "sTaskCode", "nLevel", "f1"};
  const auto rowsWithRow = [&](std::int64_t second) {
    return db::RowSet(names, {std::string("P"), std::string("U"), std::int64_t{2},
                              std::string("T"), std::int64_t{1}, std::int64_t{7},
                              std::string("P"), std::string("U"), std::int64_t{second},
                              std::string("T"), std::int64_t{1}, std::int64_t{8}});
  };
  for (TfrmShowDifference* form : {form_.get(), &deferred_}) {
    db::RowSet s = rowsWithRow(sheet::kMaxRows + 1), d = rowsWithRow(3);
    TSampleData sample;
    EXPECT_THROW(form->FillBooks(s, d, sample), sheet::RangeError);
    EXPECT_FALSE(sample.bRepeated);
  }
  EXPECT_EQ(contents(deferred_.F1Book1()), contents(form_->F1Book1()));
  EXPECT_EQ(contents(deferred_.F1Book2()), contents(form_->F1Book2()));
  EXPECT_EQ(deferred_.F1Book1().text(2, 1), "7");  // figure column 5 is grid column 1

  // Text that is not UTF-8 fails as entering it fails.
  db::RowSet bad(names, {std::string("P"), std::string("U"), std::int64_t{4}, std::string("T"),
                         std::int64_t{1}, std::string("\xff\xfe")});
  db::RowSet none(names, {});
  TSampleData sample;
  EXPECT_THROW(deferred_.FillBooks(bad, none, sample), FormatError);
  db::RowSet badAppended = appendedCopy(bad);
  EXPECT_THROW(deferred_.FillBooks(badAppended, none, sample), FormatError);
}

TEST_F(DeferredFills, AreEnteredBeforeTheScanAndBeforeATemplateLoad) {
  std::vector<std::string> names = {"sPeriodID", "sUnitCode", "nRow", "sTaskCode", "nLevel", "f1"};
  db::RowSet s(names, {std::string("P"), std::string("U"), std::int64_t{4}, std::string("T"),
                       std::int64_t{1}, std::int64_t{1}});
  db::RowSet d(names, {std::string("P"), std::string("U"), std::int64_t{4}, std::string("T"),
                       std::int64_t{1}, std::int64_t{2}});
  TSampleData sample;
  deferred_.FillBooks(s, d, sample);
  deferred_.FindAllDifferences();
  EXPECT_EQ(deferred_.lsvDifferenace()->topLevelItemCount(), 1);
  // Writing, then loading a template, leaves the template's cells: nothing kept survives a load.
  db::RowSet s2 = s, d2 = d;
  s2.first();
  d2.first();
  deferred_.FillBooks(s2, d2, sample);
  deferred_.LoadTemplate(path());
  EXPECT_EQ(deferred_.F1Book1().text(4, 1), "");
}

}  // namespace
}  // namespace dupsweep
