// The batch scanner against the demo database: the planted duplicates are found, the JSON report
// parses, and every failure is one clear line with exit status 1.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <set>
#include <sstream>

#include "demodb.h"
#include "scan/scan.h"
#include "scheme/scheme.h"

namespace dupsweep {
namespace {

namespace fs = std::filesystem;

struct ProgramResult {
  int status;
  std::string output;
};

ProgramResult runProgram(const std::string& args) {
  std::string cmd = std::string(SCAN_PROGRAM) + " " + args + " 2>&1";
  ProgramResult r{0, {}};
  FILE* p = popen(cmd.c_str(), "r");
  char buf[4096];
  while (std::size_t n = fread(buf, 1, sizeof buf, p)) r.output.append(buf, n);
  int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

class Scan : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new fs::path(fs::temp_directory_path() / ("dupsweep-scan-" + std::to_string(getpid())));
    fs::create_directories(*dir_);
    demodb::DemoOptions options;
    options.out = *dir_ / "demo.db";
    demodb::writeDemoDatabase(options);
    plan_ = new demodb::DemoPlan(demodb::planDemo(options));

    // One scheme with every planted pair, units as the tree would give them.
    static std::deque<TUnitData> units;
    std::vector<TUnitGroup> groups;
    for (const auto& c : plan_->cases) {
      if (c.unitB.empty()) continue;
      units.push_back({0, c.unitA, 2, c.nameA});
      const TUnitData& a = units.back();
      units.push_back({0, c.unitB, 2, c.nameB});
      groups.emplace_back(a, units.back());
    }
    std::vector<const TUnitGroup*> pointers;
    for (const auto& g : groups) pointers.push_back(&g);
    scheme::saveScheme((*dir_ / "planted.Unitdata").string(), pointers);
  }
  static void TearDownTestSuite() {
    fs::remove_all(*dir_);
    delete dir_;
    delete plan_;
  }

  std::string conn() const { return "Provider=SQLite;Data Source=" + (*dir_ / "demo.db").string(); }
  std::string schemeFile() const { return (*dir_ / "planted.Unitdata").string(); }

  QJsonObject scanJson(const std::string& period) {
    scan::Options o;
    o.conn = conn();
    o.task = plan_->taskCode;
    o.level = plan_->sampleLevel;
    o.period = period;
    o.schemes = {schemeFile()};
    o.json = true;
    std::ostringstream out, progress;
    scan::run(o, out, progress);
    EXPECT_TRUE(progress.str().empty());
    QJsonParseError error{};
    QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(out.str()), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << out.str();
    return doc.object();
  }

  static fs::path* dir_;
  static demodb::DemoPlan* plan_;
};
fs::path* Scan::dir_ = nullptr;
demodb::DemoPlan* Scan::plan_ = nullptr;

TEST_F(Scan, FindsExactlyThePlantedIdenticalSheets) {
  for (const std::string& period : plan_->plantedPeriods) {
    QJsonObject root = scanJson(period);
    EXPECT_EQ(root["period"].toString().toStdString(), period);
    QJsonArray pairs = root["pairs"].toArray();
    int i = 0, expectedSheets = 0;
    for (const auto& c : plan_->cases) {
      if (c.unitB.empty()) continue;
      QJsonObject pair = pairs[i++].toObject();
      EXPECT_EQ(pair["name"].toString().toStdString(), c.nameA + "=>" + c.nameB);
      std::set<std::string> found;
      for (const auto& sheet : pair["identical"].toArray())
        found.insert(sheet.toObject()["code"].toString().toStdString());
      EXPECT_EQ(found, std::set<std::string>(c.sameSheets.begin(), c.sameSheets.end()))
          << period << " " << c.detail;
      expectedSheets += static_cast<int>(c.sameSheets.size());
    }
    EXPECT_EQ(i, pairs.size());
    EXPECT_EQ(root["summary"].toObject()["identicalSheets"].toInt(), expectedSheets);
  }
}

TEST_F(Scan, DefaultPeriodIsTheFirstTheDialogListsAndTheTableReportSummarises) {
  auto r = runProgram("--conn '" + conn() + "' --task T01 --level 1 --scheme '" + schemeFile() +
                      "'");
  ASSERT_EQ(r.status, 0) << r.output;
  // The first listed period is the one whose name is NULL; it holds no data.
  EXPECT_NE(r.output.find("Period 2022N, task T01, level 1"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Summary: 0 of "), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("comparing pair"), std::string::npos);  // no progress when redirected
}

TEST_F(Scan, FailuresAreOneLineWithStatusOne) {
  const std::string base = "--task T01 --level 1 ";
  const std::vector<std::string> bad = {
      base + "--conn '" + conn() + "' --scheme /nonexistent.Unitdata",
      base + "--conn 'Provider=SQLite;Data Source=/nonexistent.db' --scheme '" + schemeFile() + "'",
      base + "--conn 'Provider=Oracle' --scheme '" + schemeFile() + "'",
      base + "--conn '" + conn() + "' --period 202402M --scheme '" + schemeFile() + "'",
      "--conn x --task T01 --level one --scheme a",
      "--conn x --task T01 --level 1",
      "--bogus",
  };
  for (const auto& args : bad) {
    auto r = runProgram(args);
    EXPECT_EQ(r.status, 1) << args;
    ASSERT_FALSE(r.output.empty()) << args;
    EXPECT_EQ(r.output.find('\n'), r.output.size() - 1) << r.output;
    EXPECT_EQ(r.output.rfind("dupsweep-scan: ", 0), 0u) << r.output;
  }
}

}  // namespace
}  // namespace dupsweep
