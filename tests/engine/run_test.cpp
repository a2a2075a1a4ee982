// The comparison run over a real SQLite host database: its steps, the order in which the caller
// hears of the template, the sheets, the pairs and the end, entries passed over, cancelling, and a
// period without a template.
#include <gtest/gtest.h>

#include "engine/run.h"
#include "support/sqlite_file.h"

namespace dupsweep {
namespace {

class Run : public ::testing::Test {
 protected:
  void SetUp() override {
    db.createHostSchema();
    std::string sql = R"(
      INSERT INTO PeriodTable VALUES ('2024N','T01',1,'B01','表一',1,1),
                                     ('2024N','T01',1,'B02','表二',2,0),
                                     ('2023N','T01',1,'B01','表一',1,1);
      INSERT INTO SampleTableVts VALUES ('2024N','T01',1,1,NULL,X'504B0304');)";
    for (const char* sheet : {"B01", "B02"}) {
      sql += std::string("CREATE TABLE DataNumT01_") + sheet +
             "_1(sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER, sTaskCode TEXT, nLevel INTEGER, "
             "nF1 NUMERIC);";
      // A and B are identical on both sheets, C differs from them on B02.
      for (const char* unit : {"A", "B", "C"}) {
        const bool differs = std::string(unit) == "C" && std::string(sheet) == "B02";
        sql += std::string("INSERT INTO DataNumT01_") + sheet + "_1 VALUES ('2024N','" + unit +
               "',4,'T01',1," + (differs ? "2" : "1") + ");";
      }
    }
    db.exec(sql);
    dm.SetConnection(db.connectionString());
  }

  // Hears everything the run tells, in order.
  struct Log : RunObserver, ProgressSink {
    void TemplateReady(const std::string& file) override {
      text += "template;";
      templateExisted = std::filesystem::exists(file);
      templateFile = file;
    }
    void BeginSheet(const TSampleData& t, const TUnitGroup& p) override {
      text += p.UnitS->sUnitCode + p.UnitD->sUnitCode + ":" + t.sSampleCode + ";";
    }
    void PairDone(const TUnitGroup& p) override { text += "done " + p.GroupName + ";"; }
    void PairsDone() override { text += "pairs;"; }
    void Finish(const TUnitGroup* last) override {
      text += "finish " + (last ? last->GroupName : std::string("-")) + ";";
    }
    void begin(int n) override { text += "steps " + std::to_string(n) + ";"; }
    void step() override {
      text += "+;";
      ++steps;
    }
    bool cancelled() override { return cancelAfterSheets >= 0 && sheets++ >= cancelAfterSheets; }

    std::string text;
    int steps = 0;
    int sheets = 0;
    int cancelAfterSheets = -1;
    bool templateExisted = false;
    std::string templateFile;
  };

  std::vector<std::string> found;
  std::function<void(DifferenceData)> record() {
    return [this](DifferenceData d) {
      found.push_back(d.sGroupName + "|" + d.UnitS.sUnitCode + "|" + d.Sample.sSampleCode);
    };
  }

  testing::SqliteFile db;
  TdmDupsweep dm;
  TUnitData a{1, "A", 0, "甲"}, b{2, "B", 0, "乙"}, c{3, "C", 0, "丙"};
  TUnitGroup ab{a, b}, ac{a, c}, bc{b, c};
};

TEST_F(Run, StepsAndCallsComeInTheOrderOfTheProgressBar) {
  Log log;
  ComparisonRun run(dm, "2024N", "T01", 1);
  // The middle entry is passed over, yet counted.
  ASSERT_TRUE(run.Run({{&ab, true}, {&bc, false}, {&ac, true}}, log, log, record()));
  EXPECT_EQ(log.text,
            "steps 7;+;template;+;AB:B01;AB:B02;done 甲=>乙;+;+;AC:B01;AC:B02;done 甲=>丙;+;"
            "pairs;+;finish 甲=>丙;+;");
  EXPECT_EQ(log.steps, 7);
  EXPECT_EQ(found, (std::vector<std::string>{"甲=>乙|A|B01", "甲=>乙|A|B02", "甲=>丙|A|B01"}));
  EXPECT_TRUE(log.templateExisted);
  EXPECT_FALSE(std::filesystem::exists(log.templateFile));  // deleted once handed over
  EXPECT_EQ(run.samples().size(), 2u);
}

TEST_F(Run, CancellingStopsBeforeTheNextSheetAndKeepsWhatWasFound) {
  Log log;
  log.cancelAfterSheets = 3;
  ComparisonRun run(dm, "2024N", "T01", 1);
  EXPECT_THROW(run.Run({{&ab, true}, {&ac, true}}, log, log, record()), RunCancelled);
  EXPECT_EQ(found, (std::vector<std::string>{"甲=>乙|A|B01", "甲=>乙|A|B02", "甲=>丙|A|B01"}));
  EXPECT_EQ(log.text.find("pairs;"), std::string::npos);
}

TEST_F(Run, WithoutATemplateNothingIsComparedAndAFailureSaysWhy) {
  Log log;
  ComparisonRun none(dm, "2023N", "T01", 1);
  EXPECT_FALSE(none.Run({{&ab, true}}, log, log, record()));
  EXPECT_EQ(log.text, "steps 5;");
  EXPECT_TRUE(found.empty());
  EXPECT_EQ(none.templateFailure(), "");
  EXPECT_EQ(none.samples().size(), 1u);

  db.exec("DROP TABLE SampleTableVts");
  ComparisonRun broken(dm, "2024N", "T01", 1);
  EXPECT_FALSE(broken.Show(ab, log));
  EXPECT_NE(broken.templateFailure().find("SampleTableVts"), std::string::npos)
      << broken.templateFailure();
}

TEST_F(Run, ShowingFillsOnePairAndRecordsNothing) {
  Log log;
  ComparisonRun run(dm, "2024N", "T01", 1);
  ASSERT_TRUE(run.Show(bc, log));
  EXPECT_EQ(log.text, "template;BC:B01;BC:B02;done 乙=>丙;finish 乙=>丙;");
  // A pair of a unit with itself is never compared.
  TUnitGroup aa(a, a);
  EXPECT_THROW(run.Show(aa, log), Error);
}

}  // namespace
}  // namespace dupsweep
