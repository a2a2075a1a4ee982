// The statement texts SQL Server receives, pinned character for character.
#include <gtest/gtest.h>

#include "data/dmdupsweep.h"
#include "data/statements.h"

namespace dupsweep {
namespace {

using Lines = std::vector<std::string>;

TEST(UnitStatement, TopLevelIgnoresTheParentCode) {
  TdmDupsweep dm;
  EXPECT_EQ(dm.BuildUnitSQL("01", "X9", 0),
            (Lines{"SELECT dbo.Unit.nUnitID,\tdbo.Unit.sUnitName,\tdbo.UnitClsAndUnit.nLevel,",
                   "        dbo.UnitClsAndUnit.sUnitCode",
                   "  FROM  dbo.UnitClsAndUnit,dbo.Unit",
                   "  WHERE  (dbo.UnitClsAndUnit.sUnitClsCode = '01'",
                   "      AND   dbo.UnitClsAndUnit.nUnitID = dbo.Unit.nUnitID",
                   "      AND   dbo.UnitClsAndUnit.nLevel = 0",
                   "      AND   dbo.UnitClsAndUnit.sParentCode is Null)"}));
}

TEST(UnitStatement, OtherLevelsUseTheParentCodeEvenWhenEmpty) {
  TdmDupsweep dm;
  Lines two = dm.BuildUnitSQL("01", "", 2);
  ASSERT_EQ(two.size(), 7u);
  EXPECT_EQ(two[5], "      AND   dbo.UnitClsAndUnit.nLevel = 2");
  EXPECT_EQ(two[6], "   AND   dbo.UnitClsAndUnit.sParentCode = '')");
  Lines negative = dm.BuildUnitSQL("01", "P1", -1);
  EXPECT_EQ(negative[5], "      AND   dbo.UnitClsAndUnit.nLevel = -1");
  EXPECT_EQ(negative[6], "   AND   dbo.UnitClsAndUnit.sParentCode = 'P1')");
}

TEST(UnitStatement, SchemeUnitsAreLookedUpByCodeInOneStatement) {
  EXPECT_EQ(sql::unitsByCode(db::Dialect::SqlServer, "01", {"A1", "O'B"}),
            (Lines{"SELECT dbo.Unit.nUnitID,\tdbo.Unit.sUnitName,\tdbo.UnitClsAndUnit.nLevel,",
                   "        dbo.UnitClsAndUnit.sUnitCode",
                   "  FROM  dbo.UnitClsAndUnit,dbo.Unit",
                   "  WHERE  (dbo.UnitClsAndUnit.nUnitID = dbo.Unit.nUnitID",
                   "      AND   dbo.UnitClsAndUnit.sUnitClsCode = '01'",
                   "      AND   dbo.UnitClsAndUnit.sUnitCode IN ('A1','O''B'))",
                   "  ORDER BY dbo.UnitClsAndUnit.sUnitCode, dbo.UnitClsAndUnit.nLevel"}));
  // Without a classification (the scanner's default) every classification is searched.
  const Lines any = sql::unitsByCode(db::Dialect::SQLite, "", {"A1"});
  ASSERT_EQ(any.size(), 6u);
  EXPECT_EQ(any[3], "  WHERE  (UnitClsAndUnit.nUnitID = Unit.nUnitID");
  EXPECT_EQ(any[4], "      AND   UnitClsAndUnit.sUnitCode IN ('A1'))");
}

TEST(UnitStatement, ApostrophesAreDoubled) {
  TdmDupsweep dm;
  Lines lines = dm.BuildUnitSQL("0'1", "a' OR '1'='1", 1);
  EXPECT_EQ(lines[3], "  WHERE  (dbo.UnitClsAndUnit.sUnitClsCode = '0''1'");
  EXPECT_EQ(lines[6], "   AND   dbo.UnitClsAndUnit.sParentCode = 'a'' OR ''1''=''1')");
}

TEST(UnitStatement, TheWholeClassificationInOneStatement) {
  EXPECT_EQ(sql::classificationUnits(db::Dialect::SqlServer, "0'1"),
            (Lines{"SELECT dbo.Unit.nUnitID,\tdbo.Unit.sUnitName,\tdbo.UnitClsAndUnit.nLevel,",
                   "        dbo.UnitClsAndUnit.sUnitCode,\tdbo.UnitClsAndUnit.sParentCode",
                   "  FROM  dbo.UnitClsAndUnit,dbo.Unit",
                   "  WHERE  (dbo.UnitClsAndUnit.sUnitClsCode = '0''1'",
                   "      AND   dbo.UnitClsAndUnit.nUnitID = dbo.Unit.nUnitID",
                   "      AND   dbo.UnitClsAndUnit.nLevel >= 0)",
                   "  ORDER BY dbo.UnitClsAndUnit.nLevel, dbo.UnitClsAndUnit.sUnitCode"}));
  EXPECT_EQ(sql::classificationUnits(db::Dialect::SQLite, "01")[2], "  FROM  UnitClsAndUnit,Unit");
}

TEST(PeriodStatement, SqlServerText) {
  TdmDupsweep dm;
  EXPECT_EQ(
      sql::joined(dm.BuildPeriodSQL("T01", 1)),
      "SELECT pd.sPeriodId,  sPeriodName=(CASE WHEN nPeriodType=-1 THEN '模板样表'\r\n"
      "       ELSE( sPeriodName +'('+(CASE RIGHT(PD.sPeriodId,1) WHEN 'N' THEN '年报' WHEN 'Q' "
      "THEN '季报' WHEN 'M' THEN '月报' WHEN 'X' THEN '旬报' WHEN 'W' THEN '周报' ELSE '日报' "
      "END)+')')END)\r\n"
      "\t\t\tFROM\tPeriod pd,PeriodTable p\r\n"
      "\t\t\tWHERE\tpd.sPeriodID=p.sPeriodID\r\n"
      "\t\t\t\t\tAND p.sTaskCode='T01' AND nPeriodType<>-1\r\n"
      "\t\t\t   AND nPeriodType<>-2 AND nSheetOrder=1 AND p.nSampleLevel= 1  AND bIsBaseSample=1\r\n"
      "\t\t\t\tORDER BY sPeriodName\r\n");
}

TEST(SampleStatement, SqlServerText) {
  EXPECT_EQ(sql::joined(sql::sampleList(db::Dialect::SqlServer, "2024N", "T01", 1)),
            "Select *, (Select bUseTarget from SampleTableVts \r\n"
            "       where sPeriodID = '2024N'\r\n"
            "   And sTaskCode = 'T01'\r\n"
            "   And  nSampleLevel = 1\r\n"
            "  and bIsBaseSample = 1) as bUseTarget from dbo.PeriodTable\r\n"
            "   Where sPeriodID = '2024N'\r\n"
            "    And sTaskCode = 'T01'\r\n"
            " And nSampleLevel = 1\r\n"
            " And  SubString(sSampleCode,1,1)<>'^'\r\n");
}

TEST(DataStatements, UnitRowsAndTemplateTexts) {
  EXPECT_EQ(sql::joined(sql::unitData(db::Dialect::SqlServer, "DataNumT01_B02_1", "U'1", "2024N")),
            "Select * from DataNumT01_B02_1\r\n"
            "  Where sPeriodID = '2024N'\r\n"
            "    And sUnitCode = 'U''1'\r\n"
            "   Order by nRow\r\n");
  EXPECT_EQ(sql::joined(sql::templateWorkbook(db::Dialect::SqlServer, "2024N", "T01", -1)),
            "Select OleVTS from SampleTableVts\r\n"
            "   Where sPeriodID = '2024N'\r\n"
            "    And sTaskCode = 'T01'\r\n"
            " And nSampleLevel = -1\r\n"
            " And bIsBaseSample = 1\r\n");
}

TEST(DataStatements, EveryUnitsRowsOfASheetInOneStatement) {
  EXPECT_EQ(sql::sheetData(db::Dialect::SqlServer, "DataNumT01_B02_1_2024", "2024N"),
            (Lines{"Select * from DataNumT01_B02_1_2024", "  Where sPeriodID = '2024N'",
                   "   Order by sUnitCode, nRow"}));
  EXPECT_EQ(sql::sheetData(db::Dialect::SqlServer, "DataNumT01_B02_-1", "O'N")[0],
            "Select * from [DataNumT01_B02_-1]");
  EXPECT_EQ(sql::sheetData(db::Dialect::SQLite, "DataNumT01_B02_-1", "O'N"),
            (Lines{"Select * from \"DataNumT01_B02_-1\"", "  Where sPeriodID = 'O''N'",
                   "   Order by sUnitCode, nRow"}));
}

TEST(TableNames, StemTaskSampleLevelAndPrefix) {
  TSampleData s;
  s.sTaskCode = "T01";
  s.sSampleCode = "B02";
  s.nSampleLevel = 1;
  EXPECT_EQ(NumTableName(s), "DataNumT01_B02_1");
  EXPECT_EQ(BalanceTableName(s), "DataBalanceT01_B02_1");
  s.TablePrefix = "2005";
  EXPECT_EQ(NumTableName(s), "DataNumT01_B02_1_2005");
  EXPECT_EQ(BalanceTableName(s), "DataBalanceT01_B02_1_2005");
  s.TablePrefix.clear();
  s.nSampleLevel = -1;
  EXPECT_EQ(NumTableName(s), "DataNumT01_B02_-1");
}

TEST(TableNames, ANameThatCannotStandBareIsDelimitedInEachDialect) {
  for (db::Dialect d : {db::Dialect::SqlServer, db::Dialect::SQLite}) {
    EXPECT_EQ(sql::tableName(d, "DataNumT01_B02_1"), "DataNumT01_B02_1");
    EXPECT_EQ(sql::tableName(d, "_x9"), "_x9");
  }
  EXPECT_EQ(sql::tableName(db::Dialect::SqlServer, "DataNumT01_B02_-1"), "[DataNumT01_B02_-1]");
  EXPECT_EQ(sql::tableName(db::Dialect::SqlServer, "1Data"), "[1Data]");
  EXPECT_EQ(sql::tableName(db::Dialect::SqlServer, "a]b"), "[a]]b]");
  EXPECT_EQ(sql::tableName(db::Dialect::SqlServer, "a\"b"), "[a\"b]");
  EXPECT_EQ(sql::tableName(db::Dialect::SQLite, "DataNumT01_B02_-1"), "\"DataNumT01_B02_-1\"");
  EXPECT_EQ(sql::tableName(db::Dialect::SQLite, "a\"b"), "\"a\"\"b\"");
  EXPECT_EQ(sql::tableName(db::Dialect::SQLite, "a]b"), "\"a]b\"");
}

TEST(DataStatements, ANegativeLevelsTableIsBracketedAndEveryOtherLevelsTextIsUnchanged) {
  TSampleData s;
  s.sTaskCode = "T01";
  s.sSampleCode = "B02";
  s.nSampleLevel = -1;
  EXPECT_EQ(sql::joined(sql::unitData(db::Dialect::SqlServer, NumTableName(s), "U1", "2024N")),
            "Select * from [DataNumT01_B02_-1]\r\n"
            "  Where sPeriodID = '2024N'\r\n"
            "    And sUnitCode = 'U1'\r\n"
            "   Order by nRow\r\n");
  s.TablePrefix = "2024";
  EXPECT_EQ(sql::unitData(db::Dialect::SqlServer, NumTableName(s), "U1", "2024N")[0],
            "Select * from [DataNumT01_B02_-1_2024]");
  for (int level : {0, 1, 2, 99}) {
    s.nSampleLevel = level;
    for (const char* prefix : {"", "2024"}) {
      s.TablePrefix = prefix;
      const std::string name = NumTableName(s);
      EXPECT_EQ(sql::joined(sql::unitData(db::Dialect::SqlServer, name, "U1", "2024N")),
                "Select * from " + name + "\r\n"
                "  Where sPeriodID = '2024N'\r\n"
                "    And sUnitCode = 'U1'\r\n"
                "   Order by nRow\r\n");
    }
  }
}

TEST(TableNames, OnlyPlainNamesAreSafe) {
  EXPECT_TRUE(sql::isSafeTableName("DataNumT01_B02_-1"));
  EXPECT_FALSE(sql::isSafeTableName(""));
  EXPECT_FALSE(sql::isSafeTableName("DataNum;DROP TABLE Unit"));
  EXPECT_FALSE(sql::isSafeTableName("DataNum T"));
  EXPECT_FALSE(sql::isSafeTableName("DataNum数据"));
  EXPECT_FALSE(sql::isSafeTableName("Data]Num"));
}

TEST(SampleCopy, AssignmentLeavesTheSheetOrder) {
  TSampleData a;
  a.bRepeated = true;
  a.sSampleCode = "B01";
  a.nSheetOrder = 5;
  a.TablePrefix = "2024";
  TSampleData copy(a);
  EXPECT_TRUE(copy.bRepeated);
  EXPECT_EQ(copy.sSampleCode, "B01");
  EXPECT_EQ(copy.TablePrefix, "2024");
  EXPECT_EQ(copy.nSheetOrder, 0);
  TSampleData other;
  other.nSheetOrder = 3;
  other = a;
  EXPECT_EQ(other.nSheetOrder, 3);
}

}  // namespace
}  // namespace dupsweep
