#include "scan/scan.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <charconv>
#include <deque>
#include <filesystem>
#include <ostream>

#include "data/dmdupsweep.h"
#include "engine/compare.h"
#include "platform/errors.h"
#include "platform/files/files.h"
#include "scheme/scheme.h"

namespace dupsweep::scan {
namespace {

struct PairResult {
  const TUnitGroup* pair;
  std::vector<TSampleData> identical;
};

QString q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

std::int32_t parseLevel(const std::string& text) {
  std::int32_t value = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size() || text.empty())
    throw Error("--level takes a whole number, not '" + text + "'");
  return value;
}

void writeJson(std::ostream& out, const Options& o, const std::string& period,
               const SampleList& samples, const std::vector<PairResult>& results) {
  QJsonArray pairs;
  int withIdentical = 0, identicalSheets = 0;
  for (const auto& r : results) {
    QJsonArray sheets;
    for (const auto& t : r.identical)
      sheets.append(QJsonObject{{"code", q(t.sSampleCode)}, {"name", q(t.sSampleName)}});
    auto unit = [](const TUnitData* u) {
      return QJsonObject{{"code", q(u->sUnitCode)}, {"name", q(u->sUnitName)}};
    };
    pairs.append(QJsonObject{{"name", q(r.pair->GroupName)},
                             {"unitS", unit(r.pair->UnitS)},
                             {"unitD", unit(r.pair->UnitD)},
                             {"identical", sheets}});
    withIdentical += r.identical.empty() ? 0 : 1;
    identicalSheets += static_cast<int>(r.identical.size());
  }
  QJsonObject root{
      {"period", q(period)},
      {"task", q(o.task)},
      {"level", o.level},
      {"sampleTables", static_cast<int>(samples.size())},
      {"pairs", pairs},
      {"summary", QJsonObject{{"pairs", static_cast<int>(results.size())},
                              {"pairsWithIdenticalSheets", withIdentical},
                              {"identicalSheets", identicalSheets}}},
  };
  out << QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
}

void writeTable(std::ostream& out, const Options& o, const std::string& period,
                const SampleList& samples, const std::vector<PairResult>& results) {
  out << "Period " << period << ", task " << o.task << ", level " << o.level << ": "
      << results.size() << " pairs, " << samples.size() << " sample tables\n\n";
  int withIdentical = 0, identicalSheets = 0;
  for (const auto& r : results) {
    out << r.pair->GroupName << "  (" << r.pair->UnitS->sUnitCode << " / "
        << r.pair->UnitD->sUnitCode << ")\n";
    if (r.identical.empty()) out << "  no identical sheets\n";
    for (const auto& t : r.identical) out << "  " << t.sSampleCode << "  " << t.sSampleName << "\n";
    withIdentical += r.identical.empty() ? 0 : 1;
    identicalSheets += static_cast<int>(r.identical.size());
  }
  out << "\nSummary: " << withIdentical << " of " << results.size()
      << " pairs have identical sheets; " << identicalSheets << " identical sheets in all.\n";
}

}  // namespace

std::string usage() {
  return "usage: dupsweep-scan --conn CONNECTION --task TASK --level N [--period ID]\n"
         "                     --scheme FILE [--scheme FILE ...] [--json]\n";
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
    else if (a == "--level") { o.level = parseLevel(value()); haveLevel = true; }
    else if (a == "--period") o.period = value();
    else if (a == "--scheme") o.schemes.push_back(value());
    else if (a == "--json") o.json = true;
    else throw Error("unknown option '" + a + "'");
  }
  if (o.conn.empty()) throw Error("--conn is required");
  if (o.task.empty()) throw Error("--task is required");
  if (!haveLevel) throw Error("--level is required");
  if (o.schemes.empty()) throw Error("at least one --scheme FILE is required");
  return o;
}

void run(const Options& o, std::ostream& out, std::ostream& progress) {
  // The pairs first: a missing scheme file is the operator's mistake, reported before any work.
  std::deque<TUnitData> units;
  std::deque<TUnitGroup> pairs;
  for (const auto& file : o.schemes) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
      throw Error("scheme file not found: " + file);
    if (!scheme::isSchemeFile(file)) throw Error("not a valid scheme file: " + file);
    for (auto& p : scheme::loadScheme(file)) {
      units.push_back(p.unitS);
      const TUnitData& s = units.back();
      units.push_back(p.unitD);
      pairs.emplace_back(s, units.back());
    }
  }

  TdmDupsweep dm;
  dm.SetConnection(o.conn);
  try {
    dm.Dialect();
  } catch (const Error& e) {
    throw Error(std::string("cannot open the database: ") + e.what());
  }

  std::string period = o.period;
  if (period.empty()) {
    auto periods = dm.GetPeriodList(o.task, o.level);
    if (!periods) throw Error("the periods of task " + o.task + " could not be read");
    if (periods->empty())
      throw Error("task " + o.task + " has no period for level " + std::to_string(o.level));
    period = periods->front().period->sPeriodID;
  }

  SampleList samples = dm.GetSampleList(period, o.task, o.level);
  // The dialog compares nothing without a template workbook; say so instead of reporting that
  // no pair has identical sheets.
  std::string templateFile = dm.ExtractTemplate(period, o.task, o.level);
  if (templateFile.empty())
    throw Error("period " + period + " has no template workbook for task " + o.task +
                " and level " + std::to_string(o.level));
  files::deleteFileQuietly(templateFile);

  ComparisonEngine engine(dm);
  SheetObserver plain;
  std::vector<PairResult> results;
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (o.progress) progress << "\rcomparing pair " << i + 1 << " of " << pairs.size() << std::flush;
    PairResult r{&pairs[i], {}};
    engine.ComparePair(samples, pairs[i], plain,
                       [&](const TSampleData& t) { r.identical.push_back(t); });
    results.push_back(std::move(r));
  }
  if (o.progress) progress << "\r\033[K" << std::flush;

  if (o.json)
    writeJson(out, o, period, samples, results);
  else
    writeTable(out, o, period, samples, results);
}

}  // namespace dupsweep::scan
