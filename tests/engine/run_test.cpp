// The comparison run over a real SQLite host database and a real two-sheet template: its steps,
// what it finds per pair and sheet, entries passed over, cancelling, a period without a template,
// the showing of one pair, and a run that fails where the viewer's grids could not take the rows.
#include <gtest/gtest.h>

#include "engine/run.h"
#include "platform/spreadsheet/workbook.h"
#include "support/sqlite_file.h"

namespace dupsweep {
namespace {

using Verdicts = std::vector<Verdict>;
constexpr Verdict I = Verdict::Identical;
constexpr Verdict X = Verdict::Different;

class Run : public ::testing::Test {
 protected:
  void SetUp() override {
    db.createHostSchema();
    // An Excel 2003 XML workbook of two sheets: the template the grids are checked against.
    std::string sql = R"(
      INSERT INTO PeriodTable VALUES ('2024N','T01',1,'B01','表一',1,1),
                                     ('2024N','T01',1,'B02','表二',2,0),
                                     ('2023N','T01',1,'B01','表一',1,1);
      INSERT INTO SampleTableVts VALUES ('2024N','T01',1,1,NULL,CAST('<?xml version="1.0"?>
        <Workbook xmlns="urn:schemas-microsoft-com:office:spreadsheet"
                  xmlns:ss="urn:schemas-microsoft-com:office:spreadsheet">
          <Worksheet ss:Name="一"><Table/></Worksheet><Worksheet ss:Name="二"><Table/></Worksheet>
        </Workbook>' AS BLOB));)";
    for (const char* sheet : {"B01", "B02"}) {
      sql += std::string("CREATE TABLE DataNumT01_") + sheet +
             "_1(sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER, sTaskCode TEXT, nLevel INTEGER, "
             "nF1 NUMERIC, sF2 TEXT);";
      // A and B are identical on both sheets, C differs from them on B02.
      for (const char* unit : {"A", "B", "C"}) {
        const bool differs = std::string(unit) == "C" && std::string(sheet) == "B02";
        sql += std::string("INSERT INTO DataNumT01_") + sheet + "_1 VALUES ('2024N','" + unit +
               "',4,'T01',1," + (differs ? "2" : "1") + ",'文字');";
      }
    }
    db.exec(sql);
    dm.SetConnection(db.connectionString());
  }

  struct Steps : ProgressSink {
    void begin(int n) override { text += "steps " + std::to_string(n) + ";"; }
    void step() override { text += "+"; }
    bool cancelled() override { return cancelAfterSheets >= 0 && sheets++ >= cancelAfterSheets; }
    std::string text;
    int sheets = 0;
    int cancelAfterSheets = -1;
  };

  // The result as "entry:pair name:verdicts" per compared pair.
  static std::vector<std::string> found(const RunResult& result) {
    std::vector<std::string> lines;
    for (const PairFindings& p : result.pairs) {
      std::string line = std::to_string(p.entry) + ":" + p.pair.name + ":";
      for (Verdict v : p.sheets) line += v == I ? "I" : v == X ? "X" : "-";
      lines.push_back(line);
    }
    return lines;
  }

  testing::SqliteFile db;
  TdmDupsweep dm;
  TUnitData a{1, "A", 0, "甲"}, b{2, "B", 0, "乙"}, c{3, "C", 0, "丙"};
  TUnitGroup ab{a, b}, ac{a, c}, bc{b, c};
};

TEST_F(Run, FindsEveryPairsVerdictPerSheetAndStepsOncePerEntry) {
  Steps steps;
  ComparisonRun run(dm, "2024N", "T01", 1);
  // The middle entry is passed over, yet counted.
  const RunResult& result =
      run.Run({{&ab, true}, {&bc, false}, {&ac, true}}, steps, GridCheck::TemplateGrids);
  EXPECT_TRUE(result.compared);
  EXPECT_EQ(steps.text, "steps 5;+++++");
  EXPECT_EQ(found(result), (std::vector<std::string>{"0:甲=>乙:II", "2:甲=>丙:IX"}));
  EXPECT_EQ(result.pairs[1].pair[Right].sUnitCode, "C");
  EXPECT_EQ(run.samples().size(), 2u);
  EXPECT_FALSE(run.samples()[0]->bRepeated);  // the run records nothing in the samples

  // A missing figures table is not identical, and said so.
  db.exec("DROP TABLE DataNumT01_B02_1");
  EXPECT_EQ(found(run.Run({{&ab, true}}, steps, GridCheck::None)),
            std::vector<std::string>{"0:甲=>乙:I-"});
}

TEST_F(Run, RowsOneUnitLacksDifferOnEitherSideAndAWalkThatPassesKeepsTheVerdict) {
  // A has a row more on B01; A and B share a row without nRow or figures on B02, which the
  // grids take although no quick check can say so.
  db.exec("INSERT INTO DataNumT01_B01_1 VALUES ('2024N','A',5,'T01',1,1,NULL);"
          "INSERT INTO DataNumT01_B02_1 VALUES ('2024N','A',NULL,'T01',1,NULL,NULL),"
          "                                    ('2024N','B',NULL,'T01',1,NULL,NULL);");
  Steps steps;
  TUnitGroup ba{b, a};
  ComparisonRun run(dm, "2024N", "T01", 1);
  EXPECT_EQ(found(run.Run({{&ab, true}, {&ba, true}}, steps, GridCheck::TemplateGrids)),
            (std::vector<std::string>{"0:甲=>乙:XI", "1:乙=>甲:XI"}));
}

TEST_F(Run, FindsTheSameThroughTheOdbcDriverManager) {
  // One unit's rows stream through the driver while the other's are held.
  db.exec("INSERT INTO DataNumT01_B01_1 VALUES ('2024N','A',5,'T01',1,1,NULL);");
  TdmDupsweep odbc;
  odbc.SetConnection("Provider=MSDASQL;Driver=SQLite3;Database=" + db.path().string());
  Steps steps;
  const std::vector<RunEntry> entries = {{&ab, true}, {&bc, true}};
  ComparisonRun direct(dm, "2024N", "T01", 1), viaOdbc(odbc, "2024N", "T01", 1);
  const auto expected = found(direct.Run(entries, steps, GridCheck::TemplateGrids));
  EXPECT_EQ(expected, (std::vector<std::string>{"0:甲=>乙:XI", "1:乙=>丙:IX"}));
  EXPECT_EQ(found(viaOdbc.Run(entries, steps, GridCheck::TemplateGrids)), expected);
}

TEST_F(Run, CancellingStopsBeforeTheNextSheetAndKeepsWhatWasFound) {
  Steps steps;
  steps.cancelAfterSheets = 3;
  ComparisonRun run(dm, "2024N", "T01", 1);
  EXPECT_THROW(run.Run({{&ab, true}, {&ac, true}}, steps, GridCheck::TemplateGrids), RunCancelled);
  EXPECT_EQ(found(run.result()), (std::vector<std::string>{"0:甲=>乙:II", "1:甲=>丙:I"}));
}

TEST_F(Run, WithoutATemplateNothingIsComparedAndAFailureSaysWhy) {
  Steps steps;
  ComparisonRun none(dm, "2023N", "T01", 1);
  EXPECT_FALSE(none.Run({{&ab, true}}, steps, GridCheck::TemplateGrids).compared);
  EXPECT_EQ(steps.text, "steps 3;");
  EXPECT_TRUE(none.result().pairs.empty());
  EXPECT_EQ(none.templateFailure(), "");
  EXPECT_FALSE(none.Show(ab));

  db.exec("DROP TABLE SampleTableVts");
  ComparisonRun broken(dm, "2024N", "T01", 1);
  EXPECT_FALSE(broken.Show(ab));
  EXPECT_NE(broken.templateFailure().find("SampleTableVts"), std::string::npos)
      << broken.templateFailure();
}

TEST_F(Run, ShowingHandsOverTheTemplateAndBothUnitsRowsOfEverySheet) {
  ComparisonRun run(dm, "2024N", "T01", 1);
  std::optional<PairRows> shown = run.Show(bc);
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->book.sheetCount(), 2);
  ASSERT_EQ(shown->sheets.size(), 2u);
  EXPECT_EQ(shown->sheets[1].sample->sSampleCode, "B02");
  EXPECT_EQ(shown->sheets[1].rows[Left]->field("sUnitCode").asText(), "B");
  EXPECT_EQ(shown->sheets[1].rows[Right]->field("nF1").asInteger(), 2);
  // A pair of a unit with itself is never compared.
  TUnitGroup aa(a, a);
  EXPECT_THROW(run.Show(aa), Error);
}

TEST_F(Run, FailsWhereTheGridsCouldNotTakeTheRowsAndKeepsWhatCameBefore) {
  // A sheet order beyond the template's sheets, before that sheet's rows are read.
  db.exec("UPDATE PeriodTable SET nSheetOrder = 3 WHERE sSampleCode = 'B02'");
  ComparisonRun run(dm, "2024N", "T01", 1);
  Steps steps;
  try {
    run.Run({{&ab, true}}, steps, GridCheck::TemplateGrids);
    ADD_FAILURE() << "the run went through";
  } catch (const sheet::RangeError& e) {
    EXPECT_STREQ(e.what(), "Sheet 3 does not exist (the workbook has 2 sheets)");
  }
  EXPECT_EQ(found(run.result()), std::vector<std::string>{"0:甲=>乙:I"});
  EXPECT_THROW(run.Show(ab), sheet::RangeError);
  // The scanner shows nothing and checks nothing.
  EXPECT_EQ(found(run.Run({{&ab, true}}, steps, GridCheck::None)),
            std::vector<std::string>{"0:甲=>乙:II"});

  // Text that is not UTF-8, in the right unit's rows of the first sheet.
  db.exec("UPDATE PeriodTable SET nSheetOrder = 2 WHERE sSampleCode = 'B02'");
  db.exec("UPDATE DataNumT01_B01_1 SET sF2 = CAST(X'E6FF' AS TEXT) WHERE sUnitCode = 'C'");
  EXPECT_THROW(run.Run({{&ab, true}, {&bc, true}}, steps, GridCheck::TemplateGrids), FormatError);
  EXPECT_EQ(found(run.result()), (std::vector<std::string>{"0:甲=>乙:II", "1:乙=>丙:"}));
}

TEST_F(Run, ATemplateKeptBetweenRunsIsReadAgainOnceItsBytesChange) {
  TemplateCache templates;
  Steps steps;
  ComparisonRun first(dm, "2024N", "T01", 1, &templates);
  EXPECT_EQ(found(first.Run({{&ab, true}}, steps, GridCheck::TemplateGrids)),
            std::vector<std::string>{"0:甲=>乙:II"});
  db.exec(R"(UPDATE SampleTableVts SET OleVTS = CAST('<?xml version="1.0"?>
    <Workbook xmlns="urn:schemas-microsoft-com:office:spreadsheet"
              xmlns:ss="urn:schemas-microsoft-com:office:spreadsheet">
      <Worksheet ss:Name="一"><Table/></Worksheet></Workbook>' AS BLOB))");
  ComparisonRun second(dm, "2024N", "T01", 1, &templates);
  EXPECT_THROW(second.Run({{&ab, true}}, steps, GridCheck::TemplateGrids), sheet::RangeError);
  EXPECT_EQ(found(second.result()), std::vector<std::string>{"0:甲=>乙:I"});
}

}  // namespace
}  // namespace dupsweep
