#include "restore/restore.h"

#include <charconv>
#include <ostream>

#include "cleanup/cleanup.h"
#include "data/dmdupsweep.h"
#include "journal/journal.h"
#include "platform/errors.h"
#include "ui/texts.h"

namespace dupsweep::restore {
namespace {

std::int64_t entryId(const std::string& text) {
  std::int64_t id = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), id);
  if (ec != std::errc() || end != text.data() + text.size() || id <= 0)
    throw Error("the entry id must be a positive number: " + text);
  return id;
}

std::filesystem::path journalOf(const Options& options) {
  return options.journal.empty() ? journal::defaultPath() : std::filesystem::path(options.journal);
}

std::string unitOf(const journal::Entry& e) {
  return e.unitName.empty() ? e.unitCode : e.unitName + " (" + e.unitCode + ")";
}

}  // namespace

std::string failureText(const std::exception& error) {
  const auto* own = dynamic_cast<const Error*>(&error);
  std::string message = own ? texts::cleanupFailure(*own, texts::Operation::Restore) : error.what();
  for (char& c : message)
    if (c == '\n' || c == '\r') c = ' ';
  return message;
}

std::string usage() {
  return "usage: dupsweep-restore [--journal FILE] list\n"
         "       dupsweep-restore [--journal FILE] show ID\n"
         "       dupsweep-restore [--journal FILE] [--conn CONNECTION] restore ID\n"
         "       dupsweep-restore [--journal FILE] [--conn CONNECTION] restore-batch ID\n"
         "       dupsweep-restore [--journal FILE] prune --before YYYY-MM-DD\n"
         "The journal is $DUPSWEEP_JOURNAL, else $XDG_DATA_HOME/dupsweep/journal.db\n"
         "(~/.local/share/dupsweep/journal.db). restore puts the entry's rows back into the\n"
         "database it names, or into CONNECTION (an OLE DB connection string); restore-batch\n"
         "puts back every entry of a batch (the last column of list) in one step, or none.\n";
}

Options parseArguments(const std::vector<std::string>& args) {
  Options o;
  std::vector<std::string> words;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw Error("option " + a + " needs a value");
      return args[++i];
    };
    if (a == "--journal")
      o.journal = value();
    else if (a == "--conn")
      o.conn = value();
    else if (a == "--before")
      o.before = value();
    else if (a.starts_with("--"))
      throw Error("unknown option " + a);
    else
      words.push_back(a);
  }
  if (words.empty()) throw Error("no command given (list, show, restore or prune)");
  const std::string& command = words[0];
  const auto expect = [&](std::size_t n) {
    if (words.size() != n)
      throw Error(command + (n == 2 ? " takes one entry id" : " takes no arguments"));
  };
  if (command == "list") {
    o.command = Options::Command::List;
    expect(1);
  } else if (command == "show" || command == "restore" || command == "restore-batch") {
    o.command = command == "show"      ? Options::Command::Show
                : command == "restore" ? Options::Command::Restore
                                       : Options::Command::RestoreBatch;
    expect(2);
    o.id = entryId(words[1]);
  } else if (command == "prune") {
    o.command = Options::Command::Prune;
    expect(1);
    if (o.before.empty()) throw Error("prune needs --before YYYY-MM-DD");
  } else {
    throw Error("unknown command " + command);
  }
  if (!o.conn.empty() && o.command != Options::Command::Restore &&
      o.command != Options::Command::RestoreBatch)
    throw Error("--conn serves only restore and restore-batch");
  if (!o.before.empty() && o.command != Options::Command::Prune)
    throw Error("--before serves only prune");
  return o;
}

void run(const Options& options, std::ostream& out) {
  const std::filesystem::path path = journalOf(options);
  switch (options.command) {
    case Options::Command::List: {
      journal::Journal log(path, journal::Journal::Mode::ReadOnly);
      const std::vector<journal::Entry> entries = log.list();
      if (entries.empty()) {
        out << "no entries in " << path.string() << "\n";
        return;
      }
      for (const journal::Entry& e : entries)
        out << e.id << "\t" << e.when << "\t" << journal::stateToken(e.state) << "\t" << e.periodId
            << "\t" << e.pairName << "\t" << unitOf(e) << "\t"
            << (e.sampleName.empty() ? e.sampleCode : e.sampleName) << "\t" << e.savedRows()
            << " rows\t" << e.database << "\t" << (e.batch ? std::to_string(e.batch) : "-")
            << "\n";
      return;
    }
    case Options::Command::Show: {
      journal::Journal log(path, journal::Journal::Mode::ReadOnly);
      const journal::Entry e = log.get(options.id);
      out << "entry " << e.id << " (" << journal::stateToken(e.state) << ")\n"
          << "when      " << e.when << "\n"
          << "database  " << e.database << "\n"
          << "period    " << e.periodId << ", task " << e.taskCode << ", level " << e.level << "\n"
          << "pair      " << e.pairName << " (kept: " << e.otherUnitName << " " << e.otherUnitCode
          << ")\n"
          << "unit      " << unitOf(e) << "\n"
          << "sheet     " << e.sampleName << " (" << e.sampleCode << ")\n";
      if (!e.restoredWhen.empty()) out << "restored  " << e.restoredWhen << "\n";
      for (const journal::SavedTable& t : e.tables) {
        out << "table " << t.name << ": " << t.savedRows << " rows saved";
        if (t.deletedRows >= 0) out << ", " << t.deletedRows << " deleted";
        out << "\n ";
        for (const std::string& c : t.columns) out << " " << c;
        out << "\n";
        for (const auto& row : t.rows) {
          out << " ";
          for (const db::Value& v : row)
            out << " " << (db::kindOf(v) == db::ValueKind::Null ? "NULL" : db::displayText(v));
          out << "\n";
        }
      }
      return;
    }
    case Options::Command::Restore: {
      std::string conn = options.conn;
      if (conn.empty()) {
        journal::Journal log(path, journal::Journal::Mode::ReadOnly);
        conn = log.get(options.id).database;
      }
      TdmDupsweep dm;
      dm.SetConnection(conn);
      const std::int64_t rows = Cleanup(dm, path).RestoreDeletion(options.id);
      out << "entry " << options.id << ": " << rows << " rows restored\n";
      return;
    }
    case Options::Command::RestoreBatch: {
      std::string conn = options.conn;
      if (conn.empty()) {
        journal::Journal log(path, journal::Journal::Mode::ReadOnly);
        const std::vector<journal::Entry> entries = log.batchEntries(options.id);
        if (entries.empty()) throw BatchNotFound(options.id);
        conn = entries.front().database;
      }
      TdmDupsweep dm;
      dm.SetConnection(conn);
      std::int64_t rows = 0;
      try {
        rows = Cleanup(dm, path).RestoreBatch(options.id);
      } catch (const DeletionNeverTookEffect&) {
        throw;
      } catch (const RestoreRefused& e) {
        throw Error(texts::batchRestoreRefusal(options.id, e));
      }
      out << "batch " << options.id << ": " << rows << " rows restored\n";
      return;
    }
    case Options::Command::Prune: {
      // A mistyped path must not become a new, empty journal.
      std::error_code ec;
      if (!std::filesystem::exists(path, ec))
        throw Error("删除日志 " + path.string() + " 不存在，没有可以删除的记录");
      journal::Journal log(path, journal::Journal::Mode::ReadWrite);
      const int removed = log.prune(options.before);
      out << removed << " entries made before " << options.before << " removed\n";
      return;
    }
  }
}

}  // namespace dupsweep::restore
