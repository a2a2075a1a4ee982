#pragma once
// The host reporting system's tables that this component reads and writes, without the per-sheet
// data tables (whose figure columns differ from sheet to sheet). One text for the demonstration
// database, the load-test databases of the benchmarks and the tests' databases.
//
// The tables carry no constraints: the component must cope with what a host database may hold
// (a sheet without a name, a unit code listed twice, a NULL flag), and the tests store such
// rows. The keys a well-kept host database has come separately, in kHostKeys.

namespace dupsweep::demodb {

inline constexpr const char* kHostSchema = R"(
CREATE TABLE Unit (
  nUnitID INTEGER,
  sUnitName VARCHAR(100));
CREATE TABLE UnitClsAndUnit (
  sUnitClsCode VARCHAR(20),
  nUnitID INTEGER,
  nLevel INTEGER,
  sParentCode VARCHAR(40),
  sUnitCode VARCHAR(40));
CREATE TABLE Period (
  sPeriodID VARCHAR(20),
  sPeriodName VARCHAR(60),
  nPeriodType INTEGER);
CREATE TABLE PeriodTable (
  sPeriodID VARCHAR(20),
  sTaskCode VARCHAR(20),
  nSampleLevel INTEGER,
  sSampleCode VARCHAR(20),
  sSampleName VARCHAR(100),
  nSheetOrder INTEGER,
  bIsBaseSample INTEGER DEFAULT 0);
CREATE TABLE SampleTableVts (
  sPeriodID VARCHAR(20),
  sTaskCode VARCHAR(20),
  nSampleLevel INTEGER,
  bIsBaseSample INTEGER DEFAULT 0,
  bUseTarget INTEGER DEFAULT 0,
  OleVTS BLOB);
CREATE TABLE Status (
  sPeriodID VARCHAR(20),
  sUnitCode VARCHAR(40),
  sTaskCode VARCHAR(20),
  nLevel INTEGER);
)";

// The keys of a well-kept host database, for the demonstration and load-test databases.
inline constexpr const char* kHostKeys = R"(
CREATE UNIQUE INDEX UnitKey ON Unit (nUnitID);
CREATE UNIQUE INDEX UnitClsAndUnitKey ON UnitClsAndUnit (sUnitClsCode, sUnitCode);
CREATE UNIQUE INDEX PeriodKey ON Period (sPeriodID);
CREATE UNIQUE INDEX PeriodTableKey ON PeriodTable (sPeriodID, sTaskCode, nSampleLevel, sSampleCode);
CREATE UNIQUE INDEX StatusKey ON Status (sPeriodID, sUnitCode, sTaskCode, nLevel);
)";

}  // namespace dupsweep::demodb
