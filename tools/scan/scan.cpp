#include "scan/scan.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <algorithm>
#include <charconv>
#include <deque>
#include <filesystem>
#include <ostream>

#include "data/dmdupsweep.h"
#include "engine/compare.h"
#include "engine/discovery.h"
#include "engine/rescale.h"
#include "engine/run.h"
#include "engine/unitcheck.h"
#include "model/pair.h"
#include "platform/errors.h"
#include "cli/options.h"
#include "scan/decisions.h"
#include "scheme/scheme.h"
#include "ui/dupsweep/discoveryreport.h"

namespace dupsweep::scan {
namespace {

struct PairResult {
  UnitPair pair;
  std::vector<TSampleData> identical;
  std::string skipped;  // why the pair was not compared; empty when it was
};

// One line per sheet whose figures table does not exist, once per table, in the order the run met
// them: the run counts such a sheet as not identical, and the report says so instead of passing
// over it in silence.
std::vector<std::string> missingTables(const RunResult& result, const SampleList& samples) {
  std::vector<std::string> tables;
  std::vector<std::string> warnings;
  for (const PairFindings& pair : result.pairs)
    for (std::size_t i = 0; i < pair.sheets.size(); ++i) {
      if (pair.sheets[i] != Verdict::NoTable) continue;
      const TSampleData& sample = *samples[i];
      const std::string table = NumTableName(sample);
      if (std::find(tables.begin(), tables.end(), table) != tables.end()) continue;
      tables.push_back(table);
      warnings.push_back("sheet " + sample.sSampleCode + " " + sample.sSampleName + ": table " +
                         table + " does not exist or cannot be named; no pair is identical on it");
    }
  return warnings;
}

// The progress line on a terminal: the pair being compared, counted from the run's steps (two
// for the template, then one per pair).
class PairProgress : public ProgressSink {
 public:
  PairProgress(std::ostream* out, std::size_t pairs) : out_(out), pairs_(pairs) {}
  void step() override {
    ++steps_;
    if (out_ && steps_ >= 2 && steps_ < 2 + pairs_)
      *out_ << "\rcomparing pair " << steps_ - 1 << " of " << pairs_ << std::flush;
  }

 private:
  std::ostream* out_;
  std::size_t pairs_;
  std::size_t steps_ = 0;
};

}  // namespace

std::string escapeControls(std::string_view text) {
  static const char* const kHex = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else if (c == 0xC2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {  // U+0080..U+009F in UTF-8
      const auto d = static_cast<unsigned char>(text[++i]);
      out += "\\u00";
      out += kHex[d >> 4];
      out += kHex[d & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

namespace {

std::string shown(std::string_view text) { return escapeControls(text); }

QString q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

int parseCount(const char* option, const std::string& text) {
  int value = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size() || text.empty() || value < 0 ||
      value > 1000)
    throw Error(std::string(option) + " takes a whole number from 0 to 1000, not '" + text + "'");
  return value;
}

// The keys of a pair's left and right unit in the JSON output.
constexpr BySide<const char*> kUnitKeys{"unitS", "unitD"};

QJsonObject unitJson(const TUnitData& u) {
  return QJsonObject{{"code", q(u.sUnitCode)}, {"name", q(u.sUnitName)}};
}

void writeJson(std::ostream& out, const Options& o, const std::string& period,
               const SampleList& samples, const std::vector<PairResult>& results,
               const std::vector<std::string>& warnings) {
  QJsonArray pairs;
  int withIdentical = 0, identicalSheets = 0, skipped = 0;
  for (const auto& r : results) {
    QJsonArray sheets;
    for (const auto& t : r.identical)
      sheets.append(QJsonObject{{"code", q(t.sSampleCode)}, {"name", q(t.sSampleName)}});
    QJsonObject pair{{"name", q(r.pair.name)}, {"identical", sheets}};
    for (Side side : {Left, Right}) pair.insert(kUnitKeys[side], unitJson(r.pair[side]));
    if (!r.skipped.empty()) pair.insert("skipped", q(r.skipped));
    pairs.append(pair);
    withIdentical += r.identical.empty() ? 0 : 1;
    identicalSheets += static_cast<int>(r.identical.size());
    skipped += r.skipped.empty() ? 0 : 1;
  }
  QJsonArray warningList;
  for (const std::string& w : warnings) warningList.append(q(w));
  QJsonObject root{
      {"period", q(period)},
      {"task", q(o.task)},
      {"level", o.level},
      {"sampleTables", static_cast<int>(samples.size())},
      {"pairs", pairs},
      {"summary", QJsonObject{{"pairs", static_cast<int>(results.size())},
                              {"pairsSkipped", skipped},
                              {"pairsWithIdenticalSheets", withIdentical},
                              {"identicalSheets", identicalSheets}}},
      {"warnings", warningList},
  };
  out << QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
}

void writeTable(std::ostream& out, const Options& o, const std::string& period,
                const SampleList& samples, const std::vector<PairResult>& results,
                const std::vector<std::string>& warnings) {
  out << "Period " << shown(period) << ", task " << shown(o.task) << ", level " << o.level << ": "
      << results.size() << " pairs, " << samples.size() << " sample tables\n\n";
  int withIdentical = 0, identicalSheets = 0, skipped = 0;
  for (const auto& r : results) {
    out << shown(r.pair.name) << "  (" << shown(r.pair[Left].sUnitCode) << " / "
        << shown(r.pair[Right].sUnitCode) << ")\n";
    if (!r.skipped.empty())
      out << "  not compared: " << shown(r.skipped) << "\n";
    else if (r.identical.empty())
      out << "  no identical sheets\n";
    for (const auto& t : r.identical)
      out << "  " << shown(t.sSampleCode) << "  " << shown(t.sSampleName) << "\n";
    withIdentical += r.identical.empty() ? 0 : 1;
    identicalSheets += static_cast<int>(r.identical.size());
    skipped += r.skipped.empty() ? 0 : 1;
  }
  if (!warnings.empty()) {
    out << "\n";
    for (const std::string& w : warnings) out << "warning: " << shown(w) << "\n";
  }
  out << "\nSummary: " << withIdentical << " of " << results.size()
      << " pairs have identical sheets; " << identicalSheets << " identical sheets in all.";
  if (skipped > 0) out << " " << skipped << " pairs not compared.";
  out << "\n";
}

// The progress line of a discovery: the sheet being read.
class SheetProgress : public ProgressSink {
 public:
  explicit SheetProgress(std::ostream* out) : out_(out) {}
  void begin(int steps) override { sheets_ = steps - 1; }
  void step() override {
    ++steps_;
    if (out_ && steps_ < sheets_)
      *out_ << "\rreading sheet " << steps_ + 1 << " of " << sheets_ << std::flush;
  }

 private:
  std::ostream* out_;
  int sheets_ = 0;
  int steps_ = 0;
};

QJsonObject sheetJson(const DiscoveryResult& r, int sheet) {
  const TSampleData& t = r.sheets.at(static_cast<std::size_t>(sheet));
  return QJsonObject{{"code", q(t.sSampleCode)}, {"name", q(t.sSampleName)}};
}

// A sheet of the earlier period: the sheet with "period".
QJsonObject earlierSheetJson(const DiscoveryResult& r, int sheet) {
  QJsonObject object = sheetJson(r, sheet);
  object.insert("period", q(r.againstPeriodId));
  return object;
}

QJsonObject discoveryJson(const DiscoveryResult& r) {
  QJsonArray pairs;
  for (const DiscoveredPair& p : r.pairs) {
    // Within the period: identical and near. Against the earlier period: carried forward (the
    // same unit) or copied from an earlier report, identical or near.
    QJsonArray identical, near, carried, copiedFrom, carriedNear, copiedFromNear, scaled;
    QJsonArray& same = !p.earlier ? identical : p.carried() ? carried : copiedFrom;
    QJsonArray& close = !p.earlier ? near : p.carried() ? carriedNear : copiedFromNear;
    for (int sheet : p.identical) same.append(p.earlier ? earlierSheetJson(r, sheet) : sheetJson(r, sheet));
    for (const NearSheet& n : p.near) {
      QJsonObject sheet = p.earlier ? earlierSheetJson(r, n.sheet) : sheetJson(r, n.sheet);
      sheet.insert("cells", n.cells);
      close.append(sheet);
    }
    for (const ScaledSheet& s : p.scaled) {
      QJsonObject sheet = p.earlier ? earlierSheetJson(r, s.sheet) : sheetJson(r, s.sheet);
      sheet.insert("factor", scaleFactor(s.exponent));
      scaled.append(sheet);
    }
    QJsonObject pair{{"identical", identical},         {"near", near},
                     {"carried", carried},             {"copiedFrom", copiedFrom},
                     {"carriedNear", carriedNear},     {"copiedFromNear", copiedFromNear},
                     {"scaled", scaled}};
    for (Side side : {Left, Right}) pair.insert(kUnitKeys[side], unitJson(p.units[side]));
    pairs.append(pair);
  }
  const auto codesJson = [](const std::vector<std::string>& unitCodes) {
    QJsonArray codes;
    for (const std::string& code : unitCodes) codes.append(q(code));
    return codes;
  };
  QJsonArray groups;
  for (const DiscoveredGroup& g : r.groups) {
    QJsonObject group{
        {"sheet", sheetJson(r, g.sheet)}, {"units", codesJson(g.unitCodes)}, {"common", g.common}};
    if (!g.earlierUnitCodes.empty()) group.insert("earlierUnits", codesJson(g.earlierUnitCodes));
    groups.append(group);
  }
  QJsonArray nearGroups;
  for (const DiscoveredNearGroup& g : r.nearGroups) {
    QJsonObject group{
        {"sheet", sheetJson(r, g.sheet)}, {"units", codesJson(g.unitCodes)}, {"cells", g.cells}};
    if (!g.earlierUnitCodes.empty()) group.insert("earlierUnits", codesJson(g.earlierUnitCodes));
    nearGroups.append(group);
  }
  QJsonArray warnings;
  for (const std::string& w : r.warnings) warnings.append(q(w));
  QJsonObject root{{"period", q(r.periodId)},
                   {"against", r.againstPeriodId.empty() ? QJsonValue() : QJsonValue(q(r.againstPeriodId))},
                   {"pairs", pairs},
                   {"groups", groups},
                   {"nearGroups", nearGroups},
                   {"warnings", warnings}};
  return root;
}

void writeDiscoveryTable(std::ostream& out, const Options& o, const DiscoveryResult& r) {
  out << "Period " << shown(r.periodId) << ", task " << shown(o.task) << ", level " << o.level
      << ", unit classification " << shown(o.unitcls) << ": " << r.units.size() << " units, "
      << r.sheets.size() << " sample tables";
  if (!r.againstPeriodId.empty()) out << ", against period " << shown(r.againstPeriodId);
  out << "\n\n";
  for (const DiscoveredPair& p : r.pairs) {
    out << shown(p.units[Left].sUnitName) << " / " << shown(p.units[Right].sUnitName) << "  ("
        << shown(p.units[Left].sUnitCode) << " / " << shown(p.units[Right].sUnitCode);
    if (p.earlier) out << " of " << shown(r.againstPeriodId);
    out << ")\n";
    const std::string kind = !p.earlier ? "identical" : p.carried() ? "carried forward" : "copied";
    if (!p.identical.empty())
      out << "  " << kind << " on " << p.identical.size() << ": "
          << shown(identicalSheetsText(r, p)) << "\n";
    if (!p.near.empty())
      out << "  " << (p.earlier ? kind + " near-copies: " : "near-copies: ")
          << shown(nearSheetsText(r, p)) << "\n";
    if (!p.scaled.empty()) out << "  rescaled: " << shown(scaledSheetsText(r, p)) << "\n";
  }
  for (const DiscoveredGroup& g : r.groups) {
    if (!g.common) continue;
    const TSampleData& t = r.sheets.at(static_cast<std::size_t>(g.sheet));
    out << "common content: " << shown(t.sSampleCode) << " " << shown(t.sSampleName)
        << " shared by " << g.unitCodes.size() << " units";
    if (!g.earlierUnitCodes.empty())
      out << " and " << g.earlierUnitCodes.size() << " units of " << shown(r.againstPeriodId);
    out << "\n";
  }
  for (const DiscoveredNearGroup& g : r.nearGroups) {
    const TSampleData& t = r.sheets.at(static_cast<std::size_t>(g.sheet));
    out << "near content: " << shown(t.sSampleCode) << " " << shown(t.sSampleName) << " shared by "
        << g.unitCodes.size() << " units";
    if (!g.earlierUnitCodes.empty())
      out << " and " << g.earlierUnitCodes.size() << " units of " << shown(r.againstPeriodId);
    out << ", differing in at most " << g.cells << " cells\n";
  }
  if (!r.warnings.empty()) {
    out << "\n";
    for (const std::string& w : r.warnings) out << "warning: " << shown(w) << "\n";
  }
  out << "\nSummary: " << r.pairs.size() << " pairs with repeated data.\n";
}

// Opens the scanner's database, saying so when that fails.
void openDatabase(TdmDupsweep& dm, const Options& o) {
  dm.SetConnection(o.conn);
  try {
    dm.Dialect();
  } catch (const Error& e) {
    throw Error(std::string("cannot open the database: ") + e.what());
  }
}

void discover(const Options& o, std::ostream& out, std::ostream& progress) {
  TdmDupsweep dm;
  openDatabase(dm, o);
  const std::string period = cli::chosenPeriod(dm, o.period, o.task, o.level);
  DiscoverySettings settings;
  settings.nearCells = o.near;
  settings.againstPeriod = o.against;
  SheetProgress bar(o.progress ? &progress : nullptr);
  const DiscoveryResult result =
      DuplicateDiscovery(dm, period, o.task, o.level, o.unitcls, settings).Run(bar);
  if (o.progress) progress << "\r\033[K" << std::flush;
  if (o.json) {
    QJsonObject root = discoveryJson(result);
    addDecisions(root, dm, result, o.task, o.level, o.all);
    out << QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
  } else
    writeDiscoveryTable(out, o, result);
}

}  // namespace

std::string usage() {
  return "usage: dupsweep-scan --conn CONNECTION --task TASK --level N [--period ID]\n"
         "                     [--unitcls CODE] --scheme FILE [--scheme FILE ...] [--json]\n"
         "       dupsweep-scan --discover --conn CONNECTION --task TASK --level N [--period ID]\n"
         "                     --unitcls CODE [--near N] [--against PERIOD] [--json [--all]]\n"
         "With --discover --json every finding has its review decision; those marked legitimate\n"
         "are left out unless --all.\n";
}

Options parseArguments(const std::vector<std::string>& args) {
  Options o;
  bool haveLevel = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw Error(a + " needs a value");
      return args[++i];
    };
    if (a == "--conn") o.conn = value();
    else if (a == "--task") o.task = value();
    else if (a == "--level") { o.level = cli::parseLevel(value()); haveLevel = true; }
    else if (a == "--period") o.period = value();
    else if (a == "--unitcls") o.unitcls = value();
    else if (a == "--scheme") o.schemes.push_back(value());
    else if (a == "--json") o.json = true;
    else if (a == "--discover") o.discover = true;
    else if (a == "--all") o.all = true;
    else if (a == "--near") o.near = parseCount("--near", value());
    else if (a == "--against") o.against = value();
    else throw Error("unknown option '" + a + "'");
  }
  if (o.conn.empty()) throw Error("--conn is required");
  if (o.task.empty()) throw Error("--task is required");
  if (!haveLevel) throw Error("--level is required");
  if (o.all && !(o.discover && o.json)) throw Error("--all serves only --discover --json");
  if (o.discover) {
    if (o.unitcls.empty()) throw Error("--discover needs --unitcls CODE");
    if (!o.schemes.empty()) throw Error("--discover finds the pairs itself and takes no --scheme");
    if (!o.against.empty() && o.against == o.period)
      throw Error("--against names the period itself; name an earlier period");
  } else if (!o.against.empty()) {
    throw Error("--against belongs to --discover");
  } else if (o.schemes.empty()) {
    throw Error("at least one --scheme FILE is required");
  }
  return o;
}

void run(const Options& o, std::ostream& out, std::ostream& progress) {
  if (o.discover) return discover(o, out, progress);
  // The pairs first: a missing scheme file is the operator's mistake, reported before any work.
  std::vector<scheme::SchemePair> loaded;
  for (const auto& file : o.schemes) {
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) throw Error("scheme file not found: " + file);
    if (const std::string why = scheme::schemeFileProblem(file); !why.empty())
      throw Error("not a valid scheme file: " + file + ": " + why);
    // A section name that stands twice would lose the earlier pair without a word.
    std::vector<scheme::SchemePair> dropped;
    std::vector<scheme::SchemePair> pairs = scheme::loadScheme(file, &dropped);
    if (!dropped.empty())
      throw Error("scheme file " + file + ": the section [" + dropped.front().section +
                  "] appears more than once, and only its last pair would be compared");
    for (auto& p : pairs) {
      // Rows are keyed by unit code: a "pair" of one code with itself is one unit's only copy.
      if (isSelfPair(p.units))
        throw Error("scheme file " + file + ": the pair [" + p.section + "] pairs the unit " +
                    p.units[Left].sUnitCode + " with itself");
      loaded.push_back(std::move(p));
    }
  }

  TdmDupsweep dm;
  openDatabase(dm, o);

  // Each pair's units as the database knows them by code, with one statement for all pairs: the
  // report names the units the rows belong to, and a code the database does not know is
  // reported, not compared.
  std::vector<UnitPair*> refs;
  for (auto& p : loaded) refs.push_back(&p.units);
  std::vector<PairCheck> checks;
  try {
    checks = checkPairUnits(dm, o.unitcls, refs);
  } catch (const DatabaseError& e) {
    throw Error(std::string("the units of the schemes cannot be looked up: ") + e.what());
  }
  std::deque<TUnitData> units;
  std::deque<TUnitGroup> pairs;
  std::vector<std::string> unknown;  // per pair: why it is not compared
  for (std::size_t i = 0; i < loaded.size(); ++i) {
    std::string problem;
    for (const std::string& code : checks[i].unknownCodes) {
      if (!problem.empty()) problem += "; ";
      problem += "unit code '" + code + "' is not in " +
                 (o.unitcls.empty() ? std::string("the database")
                                    : "unit classification " + o.unitcls);
    }
    units.push_back(std::move(loaded[i].units[Left]));
    const TUnitData& s = units.back();
    units.push_back(std::move(loaded[i].units[Right]));
    pairs.emplace_back(s, units.back());
    unknown.push_back(std::move(problem));
  }
  std::vector<std::string> warnings;
  for (std::size_t i = 0; i < pairs.size(); ++i)
    if (!unknown[i].empty()) warnings.push_back("pair " + pairs[i].GroupName + ": " + unknown[i]);

  const std::string period = cli::chosenPeriod(dm, o.period, o.task, o.level);

  // The dialog's run, with the same entries: a pair with an unknown code is passed over.
  std::vector<RunEntry> entries;
  std::vector<PairResult> results;
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    entries.push_back({&pairs[i], unknown[i].empty()});
    results.push_back(PairResult{UnitPair(pairs[i]), {}, unknown[i]});
  }
  PairProgress bar(o.progress ? &progress : nullptr, pairs.size());
  ComparisonRun run(dm, period, o.task, o.level);
  const RunResult& result = run.Run(entries, bar, GridCheck::None);
  const bool compared = result.compared;
  // The dialog compares nothing without a template workbook; say so instead of reporting that
  // no pair has identical sheets.
  if (!compared && !run.templateFailure().empty())
    throw Error("the template workbook of period " + period +
                " cannot be read: " + run.templateFailure());
  if (!compared)
    throw Error("period " + period + " has no template workbook for task " + o.task +
                " and level " + std::to_string(o.level));
  const SampleList& samples = run.samples();
  for (const PairFindings& pair : result.pairs)
    for (std::size_t i = 0; i < pair.sheets.size(); ++i)
      if (pair.sheets[i] == Verdict::Identical) {
        TSampleData identical = *samples[i];
        identical.bRepeated = true;
        results[pair.entry].identical.push_back(std::move(identical));
      }
  if (o.progress) progress << "\r\033[K" << std::flush;
  const std::vector<std::string> missing = missingTables(result, samples);
  warnings.insert(warnings.end(), missing.begin(), missing.end());

  if (o.json)
    writeJson(out, o, period, samples, results, warnings);
  else
    writeTable(out, o, period, samples, results, warnings);
}

}  // namespace dupsweep::scan
