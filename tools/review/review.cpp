#include "review/review.h"

#include <ostream>

#include "cleanup/review.h"
#include "cli/options.h"
#include "data/dmdupsweep.h"
#include "engine/discovery.h"
#include "platform/errors.h"
#include "ui/texts.h"

namespace dupsweep::review {
namespace {

// Counts nothing and never stops: the command line waits for the discovery.
class NoProgress : public ProgressSink {};

std::string unitText(const TUnitData& u) {
  return u.sUnitCode + " " + u.sUnitName;
}

}  // namespace

std::string usage() {
  return "usage: dupsweep-review OPTIONS list [--against PERIOD]\n"
         "       dupsweep-review OPTIONS mark --units A B --sheet CODE\n"
         "                       --as confirmed|legitimate|pending [--note TEXT] [--against "
         "PERIOD]\n"
         "       dupsweep-review OPTIONS delete --units A B --sheet CODE --copy-of B\n"
         "OPTIONS: --conn CONNECTION --task TASK --level N [--period ID] --unitcls CODE\n"
         "         [--journal FILE] (before or after the verb)\n"
         "Decisions and deletions are kept in the deletion journal: FILE, else $DUPSWEEP_JOURNAL,\n"
         "else $XDG_DATA_HOME/dupsweep/journal.db (~/.local/share/dupsweep/journal.db).\n";
}

Options parseArguments(const std::vector<std::string>& args) {
  Options o;
  bool haveLevel = false, haveMark = false;
  std::vector<std::string> words;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw Error("option " + a + " needs a value");
      return args[++i];
    };
    if (a == "--conn")
      o.conn = value();
    else if (a == "--task")
      o.task = value();
    else if (a == "--level") {
      o.level = cli::parseLevel(value());
      haveLevel = true;
    } else if (a == "--period")
      o.period = value();
    else if (a == "--unitcls")
      o.unitcls = value();
    else if (a == "--journal")
      o.journal = value();
    else if (a == "--units") {
      o.units.push_back(value());
      o.units.push_back(value());
    } else if (a == "--sheet")
      o.sheet = value();
    else if (a == "--as") {
      if (!markOfToken(value(), o.mark))
        throw Error("--as takes confirmed, legitimate or pending, not '" + args[i] + "'");
      haveMark = true;
    } else if (a == "--note")
      o.note = value();
    else if (a == "--against")
      o.against = value();
    else if (a == "--copy-of")
      o.copyOf = value();
    else if (a.starts_with("--"))
      throw Error("unknown option " + a);
    else
      words.push_back(a);
  }
  if (words.size() != 1) throw Error("give one verb: list, mark or delete");
  if (words[0] == "list")
    o.command = Options::Command::List;
  else if (words[0] == "mark")
    o.command = Options::Command::Mark;
  else if (words[0] == "delete")
    o.command = Options::Command::Delete;
  else
    throw Error("unknown verb " + words[0]);
  if (o.conn.empty()) throw Error("--conn is required");
  if (o.task.empty()) throw Error("--task is required");
  if (!haveLevel) throw Error("--level is required");
  if (o.unitcls.empty())
    throw Error("--unitcls CODE is required: discovery searches one classification");
  const bool onFinding = o.command != Options::Command::List;
  if (onFinding && (o.units.size() != 2 || o.sheet.empty()))
    throw Error(words[0] + " needs --units A B and --sheet CODE");
  if (!onFinding && (!o.units.empty() || !o.sheet.empty()))
    throw Error("list takes no --units or --sheet");
  if (o.command == Options::Command::Mark && !haveMark)
    throw Error("mark needs --as confirmed|legitimate|pending");
  if (o.command != Options::Command::Mark && (haveMark || !o.note.empty()))
    throw Error("--as and --note serve only mark");
  if (o.command == Options::Command::Delete && !o.against.empty())
    throw Error("delete removes copies of one period; --against serves list and mark");
  if (o.command == Options::Command::Delete) {
    if (o.copyOf.empty()) throw Error("delete needs --copy-of UNIT");
    if (o.copyOf != o.units[0] && o.copyOf != o.units[1])
      throw Error("--copy-of must name one of the units given with --units");
  } else if (!o.copyOf.empty()) {
    throw Error("--copy-of serves only delete");
  }
  return o;
}

std::string failureText(const std::exception& error) {
  const auto* own = dynamic_cast<const Error*>(&error);
  std::string message =
      own ? texts::cleanupFailure(*own, texts::Operation::Deletion) : error.what();
  for (char& c : message)
    if (c == '\n' || c == '\r') c = ' ';
  return message;
}

void run(const Options& o, std::ostream& out) {
  TdmDupsweep dm;
  dm.SetConnection(o.conn);
  if (const auto failure = dm.ConnectionFailure())
    throw Error("cannot open the database: " + *failure);
  const std::string period = cli::chosenPeriod(dm, o.period, o.task, o.level);
  NoProgress quiet;
  DiscoverySettings settings;
  settings.againstPeriod = o.against;  // also the findings against that earlier period
  DiscoveryResult found =
      DuplicateDiscovery(dm, period, o.task, o.level, o.unitcls, settings).Run(quiet);
  std::optional<std::filesystem::path> journal;
  if (!o.journal.empty()) journal = o.journal;
  ReviewSession session(dm, std::move(found), o.task, o.level, journal);
  const DiscoveryResult& r = session.result();
  switch (o.command) {
    case Options::Command::List: {
      for (const ReviewedFinding& f : session.findings()) {
        const UnitPair& units = r.pairs[static_cast<std::size_t>(f.finding.pair)].units;
        const TSampleData& sheet = r.sheets[static_cast<std::size_t>(f.finding.sheet)];
        out << units[Left].sUnitCode << "\t" << units[Right].sUnitCode << "\t" << sheet.sSampleCode
            << "\t" << f.finding.kind << "\t"
            << (f.finding.againstPeriod.empty() ? period : f.finding.againstPeriod) << "\t"
            << markToken(f.mark);
        if (f.decision) {
          out << "\t"
              << (f.changed()
                      ? std::string("rows changed since ") + markToken(f.decision->mark) + " "
                      : std::string())
              << f.decision->who << " " << f.decision->when;
          if (!f.decision->note.empty()) out << "\t" << f.decision->note;
        }
        out << "\n";
      }
      out << session.findings().size() << " findings in period " << period << "\n";
      return;
    }
    case Options::Command::Mark: {
      const std::size_t i = session.find(o.units[0], o.units[1], o.sheet, o.against);
      session.mark(i, o.mark, o.note);
      out << "marked " << o.units[0] << " " << o.units[1] << " " << o.sheet << " as "
          << markToken(o.mark) << "\n";
      return;
    }
    case Options::Command::Delete: {
      const std::size_t i = session.find(o.units[0], o.units[1], o.sheet);
      if (!session.deletable(i))
        throw Error("the finding of " + o.units[0] + " and " + o.units[1] + " on sheet " + o.sheet +
                    " is not an identical sheet of period " + period +
                    "; only such a copy is deleted");
      const UnitPair& units =
          r.pairs[static_cast<std::size_t>(session.findings()[i].finding.pair)].units;
      const Side side = units[Left].sUnitCode == o.copyOf ? Left : Right;
      const Cleanup::BatchOutcome done = session.deleteCopies({{i, side}});
      if (done.stopped) std::rethrow_exception(done.stopped);
      out << "deleted the copy of " << unitText(units[side]) << " of sheet " << o.sheet << ": "
          << done.rows.front() << " rows (batch " << done.batch << ")\n";
      return;
    }
  }
}

}  // namespace dupsweep::review
