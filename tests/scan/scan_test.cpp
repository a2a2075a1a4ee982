// The batch scanner against the demo database: the planted duplicates are found, the JSON report
// parses, and every failure is one clear line with exit status 1.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "demodb.h"
#include "scan/scan.h"
#include "scheme/scheme.h"
#include "support/sqlite_file.h"

namespace dupsweep {
namespace {

namespace fs = std::filesystem;

struct ProgramResult {
  int status;
  std::string output;
};

ProgramResult runProgram(const std::string& args, const char* program = SCAN_PROGRAM) {
  std::string cmd = std::string(program) + " " + args + " 2>&1";
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
    std::vector<UnitPair> pairs;
    for (const auto& c : plan_->cases) {
      if (c.unitB.empty()) continue;
      pairs.emplace_back(TUnitData{0, c.unitA, 2, c.nameA}, TUnitData{0, c.unitB, 2, c.nameB});
    }
    scheme::saveScheme((*dir_ / "planted.Unitdata").string(), pairs);
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

  // The planted case whose two units differ (the first one with a second unit).
  static const demodb::PlantedCase& pairCase() {
    for (const auto& c : plan_->cases)
      if (!c.unitB.empty()) return c;
    throw std::logic_error("no planted pair");
  }
  // A scheme file of the pairs (code S, code D), with names as a scheme would carry them.
  std::string writeScheme(const std::string& name,
                          const std::vector<std::pair<std::string, std::string>>& codes) const {
    std::vector<UnitPair> pairs;
    for (const auto& [s, d] : codes)
      pairs.emplace_back(TUnitData{0, s, 0, "S" + s}, TUnitData{0, d, 0, "D" + d});
    const std::string path = (*dir_ / (name + ".Unitdata")).string();
    scheme::saveScheme(path, pairs);
    return path;
  }
  // A copy of the demo database for a test that changes or damages it, and the figures table of
  // the planted period's second sheet in it.
  fs::path demoCopy(const std::string& name) const {
    const fs::path copy = *dir_ / name;
    fs::copy_file(*dir_ / "demo.db", copy, fs::copy_options::overwrite_existing);
    return copy;
  }
  std::string secondSheetTable(const fs::path& db) const {
    sqlite3* h = nullptr;
    sqlite3_open(db.c_str(), &h);
    sqlite3_stmt* st = nullptr;
    const std::string like = "DataNum" + plan_->taskCode + "_" + plan_->sampleCodes[1] + "_%";
    sqlite3_prepare_v2(h, "SELECT name FROM sqlite_master WHERE name LIKE ? ORDER BY name", -1,
                       &st, nullptr);
    sqlite3_bind_text(st, 1, like.c_str(), -1, SQLITE_TRANSIENT);
    std::string name = sqlite3_step(st) == SQLITE_ROW
                           ? reinterpret_cast<const char*>(sqlite3_column_text(st, 0))
                           : "";
    sqlite3_finalize(st);
    sqlite3_close(h);
    return name;
  }
  std::string args(const std::string& connection, const std::string& scheme) const {
    return "--conn 'Provider=SQLite;Data Source=" + connection + "' --task " + plan_->taskCode +
           " --level " + std::to_string(plan_->sampleLevel) + " --period " +
           plan_->plantedPeriods[0] + " --scheme '" + scheme + "'";
  }
  static void expectOneLineFailure(const ProgramResult& r, const std::string& part) {
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_EQ(r.output.find('\n'), r.output.size() - 1) << r.output;
    EXPECT_EQ(r.output.rfind("dupsweep-scan: ", 0), 0u) << r.output;
    EXPECT_NE(r.output.find(part), std::string::npos) << r.output;
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

TEST_F(Scan, DiscoveryListsEveryPlantedPairAndNothingElse) {
  using Sheets = std::vector<std::string>;
  // A higher limit of differing cells finds the same: more would be no near-copy on these sheets.
  for (const std::string limit : {"3", "60", "1000"})
  for (const std::string& period : plan_->plantedPeriods) {
    const auto r = runProgram("--discover --conn '" + conn() + "' --task " + plan_->taskCode +
                              " --level 1 --unitcls " + plan_->unitClsCode + " --period " +
                              period + " --near " + limit + " --json");
    ASSERT_EQ(r.status, 0) << r.output;
    QJsonParseError error{};
    const QJsonObject root =
        QJsonDocument::fromJson(QByteArray::fromStdString(r.output), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.output;
    EXPECT_EQ(root["period"].toString().toStdString(), period);

    // code S|code D -> identical sheets, near-copy sheets with their differing cells
    std::map<std::string, std::pair<Sheets, Sheets>> expected, found;
    std::size_t identicalSheets = 0;
    for (const auto& c : plan_->cases) {
      if (c.unitB.empty()) continue;
      const bool oneCell = c.kind == demodb::CaseKind::OneCell ||
                           c.kind == demodb::CaseKind::LetterCase ||
                           c.kind == demodb::CaseKind::TrailingBlank ||
                           c.kind == demodb::CaseKind::NullVersusZero;
      Sheets near;
      for (const std::string& sheet : oneCell ? c.differentSheets : Sheets{})
        near.push_back(sheet + ":1");
      expected[std::min(c.unitA, c.unitB) + "|" + std::max(c.unitA, c.unitB)] = {c.sameSheets,
                                                                                near};
      identicalSheets += c.sameSheets.size();
    }
    // Rescaled copies are pairs too, without identical or near sheets.
    for (const auto& f : plan_->findings)
      if (f.kind == demodb::CaseKind::Rescaled)
        expected[std::min(f.unitA, f.unitB) + "|" + std::max(f.unitA, f.unitB)] = {};
    for (const auto& value : root["pairs"].toArray()) {
      const QJsonObject pair = value.toObject();
      auto code = [](const QJsonValue& v) { return v.toObject()["code"].toString().toStdString(); };
      auto& [identical, near] = found[code(pair["unitS"]) + "|" + code(pair["unitD"])];
      for (const auto& sheet : pair["identical"].toArray()) identical.push_back(code(sheet));
      for (const auto& sheet : pair["near"].toArray())
        near.push_back(code(sheet) + ":" + std::to_string(sheet.toObject()["cells"].toInt()));
    }
    EXPECT_EQ(found, expected) << period << " --near " << limit;
    EXPECT_TRUE(root["nearGroups"].toArray().isEmpty()) << period << " --near " << limit;
    EXPECT_EQ(found.size(), root["pairs"].toArray().size());  // each pair once
    // Every group is one planted pair on one sheet; nothing is common content.
    EXPECT_EQ(static_cast<std::size_t>(root["groups"].toArray().size()), identicalSheets);
    for (const auto& group : root["groups"].toArray()) {
      EXPECT_EQ(group.toObject()["units"].toArray().size(), 2);
      EXPECT_FALSE(group.toObject()["common"].toBool());
    }
  }
  expectOneLineFailure(runProgram("--discover --conn '" + conn() + "' --task T01 --level 1"),
                       "--unitcls");
  expectOneLineFailure(runProgram("--discover --conn '" + conn() +
                                  "' --task T01 --level 1 --unitcls 01 --near -1"),
                       "--near");
  // What the database does not know is refused, not searched for nothing.
  const std::string known = "--discover --conn '" + conn() + "' --task " + plan_->taskCode;
  const std::string period = " --period " + plan_->plantedPeriods[0];
  const std::string cls = " --unitcls " + plan_->unitClsCode;
  expectOneLineFailure(runProgram(known + " --level 1 --period 1999N" + cls), "period 1999N");
  expectOneLineFailure(runProgram(known + " --level 7" + period + cls), "level 7");
  expectOneLineFailure(runProgram("--discover --conn '" + conn() + "' --task T99 --level 1" +
                                  period + cls),
                       "task T99");
  expectOneLineFailure(runProgram(known + " --level 1" + period + " --unitcls 99"),
                       "unit classification 99");
}

// Every finding of a discovery's JSON as one line: "S|D|kind|sheet[|cells|factor|period]".
std::set<std::string> findingLines(const std::string& json) {
  const QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
  std::set<std::string> lines;
  auto text = [](const QJsonValue& v) { return v.toString().toStdString(); };
  for (const auto& value : root["pairs"].toArray()) {
    const QJsonObject pair = value.toObject();
    const std::string units = text(pair["unitS"].toObject()["code"]) + "|" +
                              text(pair["unitD"].toObject()["code"]);
    for (const char* kind :
         {"identical", "near", "carried", "copiedFrom", "carriedNear", "copiedFromNear", "scaled"})
      for (const auto& sheet : pair[kind].toArray()) {
        const QJsonObject o = sheet.toObject();
        std::string line = units + "|" + kind + "|" + text(o["code"]);
        if (o.contains("cells")) line += "|" + std::to_string(o["cells"].toInt());
        if (o.contains("factor")) line += "|" + QString::number(o["factor"].toDouble()).toStdString();
        if (o.contains("period")) line += "|" + text(o["period"]);
        lines.insert(line);
      }
  }
  return lines;
}

TEST_F(Scan, AgainstAnEarlierPeriodListsThePlantedFindingsAndNothingElseNew) {
  const std::string discover = "--discover --conn '" + conn() + "' --task " + plan_->taskCode +
                               " --level 1 --unitcls " + plan_->unitClsCode + " --period 2024N";
  const auto alone = runProgram(discover + " --json");
  const auto against = runProgram(discover + " --against 2023N --json");
  ASSERT_EQ(alone.status, 0) << alone.output;
  ASSERT_EQ(against.status, 0) << against.output;
  const QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(against.output)).object();
  EXPECT_EQ(root["against"].toString().toStdString(), "2023N");
  EXPECT_TRUE(QJsonDocument::fromJson(QByteArray::fromStdString(alone.output))
                  .object()["against"].isNull());
  EXPECT_TRUE(root["warnings"].toArray().isEmpty());

  std::set<std::string> expectedNew, expectedScaled;
  for (const auto& f : plan_->findings)
    for (const std::string& sheet : f.sheets) {
      if (f.kind == demodb::CaseKind::Rescaled) {
        // Within the period the smaller code is S: the original, whose figures are the copy's
        // times 10^-exponent.
        const bool copyFirst = f.unitA < f.unitB;
        const int exponent = copyFirst ? f.exponent : -f.exponent;
        expectedScaled.insert(std::min(f.unitA, f.unitB) + "|" + std::max(f.unitA, f.unitB) +
                              "|scaled|" + sheet + "|" +
                              QString::number(std::pow(10.0, exponent)).toStdString());
      } else {
        expectedNew.insert(f.unitA + "|" + f.unitB + "|" +
                           (f.kind == demodb::CaseKind::CarriedForward ? "carried" : "copiedFrom") +
                           "|" + sheet + "|" + f.earlierPeriod);
      }
    }
  ASSERT_EQ(expectedNew.size(), 16u);
  ASSERT_EQ(expectedScaled.size(), 3u);
  const std::set<std::string> before = findingLines(alone.output);
  const std::set<std::string> after = findingLines(against.output);
  std::set<std::string> added, scaled;
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                      std::inserter(added, added.end()));
  EXPECT_EQ(added, expectedNew);
  EXPECT_TRUE(std::includes(after.begin(), after.end(), before.begin(), before.end()));
  for (const std::string& line : after)
    if (line.find("|scaled|") != std::string::npos) scaled.insert(line);
  EXPECT_EQ(scaled, expectedScaled);

  // An earlier period the task does not have, or one without --discover, is refused.
  expectOneLineFailure(runProgram(discover + " --against 1999N"), "period 1999N");
  expectOneLineFailure(runProgram("--conn '" + conn() + "' --task T01 --level 1 --scheme '" +
                                  schemeFile() + "' --against 2023N"),
                       "--against");
}

TEST_F(Scan, TheTableReportEscapesControlCharactersOfNames) {
  const fs::path db = demoCopy("controls.db");
  const auto& c = pairCase();
  sqlite3* h = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
  const std::string sql =
      "UPDATE Unit SET sUnitName = 'A' || char(27) || ']0;x' || char(7) || char(27) || '[2J' || "
      "char(155) || char(127) || 'B' WHERE nUnitID = (SELECT nUnitID FROM UnitClsAndUnit WHERE "
      "sUnitCode = '" + c.unitA + "')";
  ASSERT_EQ(sqlite3_exec(h, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_changes(h), 1);
  sqlite3_close(h);
  const auto r = runProgram("--discover --conn 'Provider=SQLite;Data Source=" + db.string() +
                            "' --task " + plan_->taskCode + " --level 1 --unitcls " +
                            plan_->unitClsCode + " --period " + plan_->plantedPeriods[0]);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("A\\x1b]0;x\\x07\\x1b[2J\\u009b\\x7fB"), std::string::npos) << r.output;
  for (char bad : {'\x1b', '\x07', '\x7f'}) EXPECT_EQ(r.output.find(bad), std::string::npos);
  EXPECT_EQ(r.output.find("\xc2\x9b"), std::string::npos);
  EXPECT_EQ(scan::escapeControls("\n\t"), "\\x0a\\x09");
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

TEST_F(Scan, APairOfAUnitWithItselfIsRefusedBeforeAnythingIsCompared) {
  const auto& c = pairCase();
  const std::string file = writeScheme("self", {{c.unitA, c.unitB}, {c.unitA, c.unitA}});
  expectOneLineFailure(runProgram(args((*dir_ / "demo.db").string(), file)),
                       "pairs the unit " + c.unitA + " with itself");
}

TEST_F(Scan, UnknownCodesAndMissingTablesAreWarningsAndTheDatabasesNamesAreReported) {
  const auto& c = pairCase();
  const fs::path db = demoCopy("missing-table.db");
  const std::string table = secondSheetTable(db);
  ASSERT_FALSE(table.empty());
  sqlite3* h = nullptr;
  sqlite3_open(db.c_str(), &h);
  ASSERT_EQ(sqlite3_exec(h, ("DROP TABLE " + table).c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(h);
  const std::string file = writeScheme("unknown", {{c.unitA, c.unitB}, {c.unitA, "NOPE"}});

  auto r = runProgram(args(db.string(), file) + " --json");
  ASSERT_EQ(r.status, 0) << r.output;
  const QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(r.output)).object();
  const QJsonArray pairs = root["pairs"].toArray();
  ASSERT_EQ(pairs.size(), 2);
  // The file's names "S..."/"D..." give way to the names the database has for the codes.
  EXPECT_EQ(pairs[0].toObject()["unitS"].toObject()["name"].toString().toStdString(), c.nameA);
  EXPECT_FALSE(pairs[0].toObject().contains("skipped"));
  EXPECT_NE(pairs[1].toObject()["skipped"].toString().toStdString().find("'NOPE'"),
            std::string::npos);
  EXPECT_TRUE(pairs[1].toObject()["identical"].toArray().isEmpty());
  EXPECT_EQ(root["summary"].toObject()["pairsSkipped"].toInt(), 1);
  std::string warnings;
  for (const auto& w : root["warnings"].toArray()) warnings += w.toString().toStdString() + "\n";
  EXPECT_NE(warnings.find("unit code 'NOPE' is not in the database"), std::string::npos)
      << warnings;
  EXPECT_NE(warnings.find("table " + table + " does not exist"), std::string::npos) << warnings;

  r = runProgram(args(db.string(), file));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("  not compared: unit code 'NOPE'"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("warning: sheet " + plan_->sampleCodes[1]), std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("1 pairs not compared."), std::string::npos) << r.output;
}

TEST_F(Scan, ADamagedDatabaseEndsTheScanWithStatusOneInsteadOfFewerFindings) {
  const auto& c = pairCase();
  const fs::path db = demoCopy("damaged.db");
  const std::string table = secondSheetTable(db);
  ASSERT_FALSE(table.empty());
  testing::corruptSqliteTable(db, table);
  const std::string file = writeScheme("damaged", {{c.unitA, c.unitB}});
  expectOneLineFailure(runProgram(args(db.string(), file)), "database disk image is malformed");
}

TEST_F(Scan, SchemeFilesThatCannotBeUsedSayWhy) {
  const auto& c = pairCase();
  const std::string good = writeScheme("good", {{c.unitA, c.unitB}});
  std::ifstream in(good, std::ios::binary);
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto write = [&](const std::string& name, const std::string& bytes) {
    const std::string path = (*dir_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  };
  const std::string db = (*dir_ / "demo.db").string();
  expectOneLineFailure(runProgram(args(db, write("bom.Unitdata", "\xEF\xBB\xBF" + content))),
                       "UTF-8 byte-order mark");
  expectOneLineFailure(runProgram(args(db, write("gb.Unitdata", content + "\xFF\xFF\r\n"))),
                       "not GB18030 text");
  expectOneLineFailure(runProgram(args(db, write("nosection.Unitdata", "UnitcodeS=1\r\n"))),
                       "has no section");
  expectOneLineFailure(runProgram(args(db, write("twice.Unitdata", content + content))),
                       "] appears more than once");
  const std::string large = write("large.Unitdata", content);
  fs::resize_file(large, scheme::kMaxSchemeFileSize + 1);
  expectOneLineFailure(runProgram(args(db, large)), "larger than the limit of 16 MiB");
  const fs::path folder = *dir_ / "folder.Unitdata";
  fs::create_directories(folder);
  expectOneLineFailure(runProgram(args(db, folder.string())), "not a regular file");
}

// The review tool marks and deletes what discovery finds now, also against an earlier period;
// a finding it does not find is refused in one line.
TEST_F(Scan, TheReviewToolMarksAndDeletesWhatDiscoveryFinds) {
  const fs::path copy = *dir_ / "review.db";
  fs::copy_file(*dir_ / "demo.db", copy, fs::copy_options::overwrite_existing);
  const std::string options = "--conn 'Provider=SQLite;Data Source=" + copy.string() +
                              "' --task " + plan_->taskCode + " --level 1 --period 2024N" +
                              " --unitcls " + plan_->unitClsCode + " --journal '" +
                              (*dir_ / "review-journal.db").string() + "' ";
  const auto review = [&](const std::string& verb) {
    return runProgram(options + verb, REVIEW_PROGRAM);
  };
  EXPECT_EQ(review("mark --units 010103 010103 --sheet B01 --as legitimate --against 2023N").status,
            0);
  const ProgramResult listed = review("list --against 2023N");
  EXPECT_NE(listed.output.find("010103\t010103\tB01\tcarried\t2023N\tlegitimate"),
            std::string::npos)
      << listed.output;
  const ProgramResult missing = review("mark --units 010103 010104 --sheet B01 --as confirmed");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.output.find('\n'), missing.output.size() - 1) << missing.output;
  EXPECT_EQ(review("delete --units 010101 010102 --sheet B01 --copy-of 010102").status, 0);
  EXPECT_EQ(review("delete --units 010101 010102 --sheet B01 --copy-of 010102").status, 1);
}

}  // namespace
}  // namespace dupsweep
