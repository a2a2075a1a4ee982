// The dupsweep-workbook program: its listing of a workbook and its exit status on bad files.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "sheet_files.h"

namespace dupsweep::sheet {
namespace {

using testing::TempDir;

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

ToolRun runTool(const TempDir& dir, const std::string& argument) {
  const std::string out = (dir / "stdout").string();
  const std::string err = (dir / "stderr").string();
  const std::string command = std::string("'") + DUPSWEEP_WORKBOOK_TOOL + "' '" + argument +
                              "' >'" + out + "' 2>'" + err + "'";
  const int raw = std::system(command.c_str());
  ToolRun run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = testing::readBytes(dir / "stdout");
  run.err = testing::readBytes(dir / "stderr");
  return run;
}

TEST(WorkbookTool, ListsSheetsRangesMergesAndCells) {
  TempDir dir;
  testing::writeSampleXlsx(dir / "sample.xlsx");
  const ToolRun run = runTool(dir, (dir / "sample.xlsx").string());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "sheets\t2\n"
            "sheet\t1\t甲表\n"
            "last-row\t6\n"
            "last-col\t3\n"
            "merged\tR1C1:R1C3\n"
            "R1C1\t单位名称\n"
            "R2C1\t文本\n"
            "R2C2\t数值\n"
            "R3C1\t北京\n"
            "R3C2\t1234.5\n"
            "R3C3\t100\n"
            "R4C1\t上海\n"
            "R4C2\t0.1\n"
            "R4C3\t-7\n"
            "R6C1\t合计\n"
            "sheet\t2\t乙表 数据\n"
            "last-row\t5\n"
            "last-col\t4\n"
            "R1C1\tx\n"
            "R2C2\t42\n"
            "R5C4\tlast\n");
}

TEST(WorkbookTool, EscapesLineBreaksAndTabsInCellText) {
  TempDir dir;
  testing::writeBytes(dir / "cells.csv", "\"a\tb\",\"line1\nline2\",c\\d\n");
  const ToolRun run = runTool(dir, (dir / "cells.csv").string());
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("R1C1\ta\\tb\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("R1C2\tline1\\nline2\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("R1C3\tc\\\\d\n"), std::string::npos) << run.out;
}

TEST(WorkbookTool, UnreadableFilesGiveOneErrorLineAndStatusOne) {
  TempDir dir;
  testing::writeSampleXlsx(dir / "sample.xlsx");
  const std::string good = testing::readBytes(dir / "sample.xlsx");
  testing::writeBytes(dir / "cut.xlsx", good.substr(0, good.size() / 2));
  testing::writeBytes(dir / "empty.xlsx", "");
  for (const char* name : {"cut.xlsx", "empty.xlsx", "missing.xlsx"}) {
    SCOPED_TRACE(name);
    const ToolRun run = runTool(dir, (dir / name).string());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    ASSERT_FALSE(run.err.empty());
    EXPECT_EQ(run.err.rfind("dupsweep-workbook: ", 0), 0u) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    EXPECT_NE(run.err.find(name), std::string::npos) << run.err;
  }
}

}  // namespace
}  // namespace dupsweep::sheet
