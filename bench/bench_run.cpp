// dupsweep-bench: the speed and memory figures of the component, printed as one table.
//
//   dupsweep-bench --data DIR --module LIB [--runs N] [--only ID,ID...]
//
// --only measures and prints just the named figures (B1 ... B9, B3b); B3 and B3b need neither
// the scaled databases nor LIB.
// DIR caches the scaled databases between runs (made with the demo generator). Every figure is
// the median of N runs (default 5), each in a child process of its own, so that the peak resident
// memory of one run can be read from the system; the ratios compare figures measured in the same
// child process, where B1, B2, B7 and B8 measure the floor and the run alternately three times
// and take the fastest of each, each after the database file has been read whole. The child
// processes are this program again, started with --child.
//
//   B1  the dialog's run as an operator starts it (real dialog and viewer, offscreen), 100 pairs
//       x 40 sheets x 200 rows x 20 figure columns, against the floor: the same rows read with
//       plain prepared SQLite statements into memory; the first press, which also parses the
//       template that the dialog then keeps, is shown beside it
//   B2  the batch scanner over the same pairs, against the same floor
//   B3  FindAllDifferences over 40 sheets x 200 rows x 25 columns with 1% of cells differing
//   B3b the same over a template whose first sheet also holds one cell at XFD1048576, the last
//       cell of a sheet: the scan must cost what the sheets hold, not their extent
//   B4  peak resident memory of B1 at 10 and at 100 pairs
//   B5  the host's call of Dupsweep until the dialog is shown (demo database); expanding a tree
//       level of 5,000 units
//   B6  loading a 60-sheet template; one million EntryRC calls
//   B7  duplicate discovery over the whole period of the scaled database (220 units, all kinds:
//       identical, near, rescaled), on all cores: its wall time against the wall time of its
//       strict floor on one thread (every sheet's rows for all units read once with plain
//       prepared SQLite statements), its CPU time beside them; the same without looking for
//       rescaled copies (their share of the time); the same at 440 units; its peak memory
//   B8  discovery of the same database against an earlier period of the same size, against the
//       floor of reading both periods once; its peak memory
//   B9  discovery of 2,200 units x 8 sheets x 200 rows x 20 columns against 220 units of the
//       same sheets, CPU time; the peak memory of both

#include <dlfcn.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "demodb.h"
#include "host_schema.h"
#include "engine/discovery.h"
#include "entry/ComDupsweepDM.h"
#include "platform/com/comptr.h"
#include "platform/spreadsheet/f1book.h"
#include "platform/text/text.h"
#include "scan/scan.h"
#include "scheme/scheme.h"
#include "sheet_files.h"
#include "ui/dupsweep/frmdupsweep.h"
#include "ui/showdifference/frmshowdifference.h"

namespace fs = std::filesystem;

// Figures are CPU time (user and system) of the measuring process: the measured work runs on one
// thread, and CPU time stays true when other work shares the machine, where wall time does not.
// The host call (B5) is wall time from the process's start, since it includes loading; discovery
// (B7, B8) runs on several workers, so its wall time is what a user waits for and is set beside
// the wall time of its floor, with the CPU time printed too.
struct Clock {
  using time_point = double;
  static time_point now() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
  }
};
using WallClock = std::chrono::steady_clock;

namespace {

// ---- Shared set-up -----------------------------------------------------------------------------

constexpr int kSheets = 40, kRows = 200, kCols = 20, kUnits = 220, kPairs = 100, kB9Sheets = 8;
const char* const kTask = "T01";
const char* const kPeriod = "2024N";
constexpr int kLevel = 1;

double seconds(Clock::time_point since) { return Clock::now() - since; }
double wallSeconds(WallClock::time_point since) {
  return std::chrono::duration<double>(WallClock::now() - since).count();
}

std::string conn(const fs::path& db) { return "Provider=SQLite;Data Source=" + db.string(); }

fs::path scaledDb(const fs::path& dir, int units = kUnits, int sheets = kSheets,
                  bool earlier = false) {
  return dir / ("scaled-" + std::to_string(units) + "x" + std::to_string(sheets) + "x" +
                std::to_string(kRows) + "x" + std::to_string(kCols) + (earlier ? "-2p" : "") +
                ".db");
}

// The earlier period of the two-period database (B8).
const char* const kEarlierPeriod = "2023N";

// The units of the scaled database in code order, as the tree would give them.
std::vector<dupsweep::TUnitData> unitsOf(const fs::path& db) {
  sqlite3* h = nullptr;
  sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(h,
                     "SELECT c.nUnitID, c.sUnitCode, c.nLevel, u.sUnitName FROM UnitClsAndUnit c "
                     "JOIN Unit u ON u.nUnitID = c.nUnitID WHERE c.sUnitClsCode = '01' "
                     "ORDER BY c.sUnitCode",
                     -1, &st, nullptr);
  std::vector<dupsweep::TUnitData> units;
  while (sqlite3_step(st) == SQLITE_ROW)
    units.push_back({sqlite3_column_int(st, 0),
                     reinterpret_cast<const char*>(sqlite3_column_text(st, 1)),
                     sqlite3_column_int(st, 2),
                     reinterpret_cast<const char*>(sqlite3_column_text(st, 3))});
  sqlite3_finalize(st);
  sqlite3_close(h);
  return units;
}

// Scheme files pairs10.Unitdata and pairs100.Unitdata of disjoint neighbouring units.
void writeSchemes(const fs::path& db, const fs::path& dir) {
  std::vector<dupsweep::TUnitData> units = unitsOf(db);
  if (units.size() < 2 * kPairs) throw std::runtime_error("the scaled database has too few units");
  std::vector<dupsweep::UnitPair> pairs;
  for (int i = 0; i < kPairs; ++i) pairs.emplace_back(units[2 * i], units[2 * i + 1]);
  for (int n : {10, kPairs}) {
    dupsweep::scheme::saveScheme((dir / ("pairs" + std::to_string(n) + ".Unitdata")).string(),
                                 {pairs.begin(), pairs.begin() + n});
  }
}

// A database whose top-level unit has 5,000 children, for expanding one tree level; its keys
// are those of a host database (and of the demo database).
void writeTreeDb(const fs::path& path) {
  sqlite3* h = nullptr;
  sqlite3_open(path.c_str(), &h);
  std::string sql = std::string(dupsweep::demodb::kHostSchema) + dupsweep::demodb::kHostKeys +
                    R"(
    INSERT INTO Period VALUES ('2024N','2024年',1);
    INSERT INTO PeriodTable VALUES ('2024N','T01',1,'B01','表',1,1);
    INSERT INTO Unit VALUES (1,'总部');
    INSERT INTO UnitClsAndUnit VALUES ('01',1,0,NULL,'R');
    WITH RECURSIVE n(i) AS (SELECT 2 UNION ALL SELECT i + 1 FROM n WHERE i < 5001)
      INSERT INTO Unit SELECT i, '分支机构' || i FROM n;
    INSERT INTO UnitClsAndUnit SELECT '01', nUnitID, 1, 'R', 'R' || nUnitID FROM Unit
      WHERE nUnitID > 1;
  )";
  sqlite3_exec(h, sql.c_str(), nullptr, nullptr, nullptr);
  sqlite3_close(h);
}

// ---- The floor ---------------------------------------------------------------------------------

// Reads every value of the statement's current row as the floors do: its type, and its value or
// bytes folded into `checksum`, without allocating. Returns the number of values.
std::size_t touchRow(sqlite3_stmt* st, std::uint64_t& checksum) {
  const int n = sqlite3_column_count(st);
  for (int c = 0; c < n; ++c) {
    switch (sqlite3_column_type(st, c)) {
      case SQLITE_INTEGER:
        checksum += static_cast<std::uint64_t>(sqlite3_column_int64(st, c));
        break;
      case SQLITE_FLOAT: {
        const double d = sqlite3_column_double(st, c);
        std::uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        checksum ^= bits;
        break;
      }
      case SQLITE_TEXT:
      case SQLITE_BLOB: {
        // Eight bytes at a time: the fastest plain touch of every byte.
        const auto* p = static_cast<const unsigned char*>(sqlite3_column_blob(st, c));
        const auto bytes = static_cast<std::size_t>(sqlite3_column_bytes(st, c));
        std::size_t b = 0;
        for (; b + 8 <= bytes; b += 8) {
          std::uint64_t word;
          std::memcpy(&word, p + b, sizeof word);
          checksum += word;
        }
        for (; b < bytes; ++b) checksum += p[b];
        break;
      }
      default:
        ++checksum;  // NULL
    }
  }
  return static_cast<std::size_t>(n);
}

// The strict floor: the fastest plain read of the same rows. Both units' rows of every sheet for
// every pair, the second unit first as the comparison does, with one prepared statement per
// table, reused; the connection opened read-only without SQLite's mutex; every value's type read
// and its value or bytes touched (folded into a checksum, so that nothing is optimised away);
// no allocation per value. Returns seconds.
double readFloor(const fs::path& db, int pairs) {
  std::vector<dupsweep::TUnitData> units = unitsOf(db);
  const auto start = Clock::now();
  sqlite3* h = nullptr;
  if (sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK)
    throw std::runtime_error(sqlite3_errmsg(h));
  std::vector<sqlite3_stmt*> statements;
  for (int s = 1; s <= kSheets; ++s) {
    char table[64];
    std::snprintf(table, sizeof table, "DataNum%s_B%02d_%d", kTask, s, kLevel);
    std::string sql = std::string("SELECT * FROM ") + table +
                      " WHERE sPeriodID = ? AND sUnitCode = ? ORDER BY nRow";
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v3(h, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) !=
        SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(h));
    statements.push_back(st);
  }
  std::uint64_t checksum = 0;
  std::size_t total = 0;
  auto read = [&](sqlite3_stmt* st, const std::string& unit) {
    sqlite3_reset(st);
    sqlite3_bind_text(st, 1, kPeriod, -1, SQLITE_STATIC);
    sqlite3_bind_text(st, 2, unit.c_str(), static_cast<int>(unit.size()), SQLITE_STATIC);
    while (sqlite3_step(st) == SQLITE_ROW) {
      total += touchRow(st, checksum);
    }
  };
  for (int p = 0; p < pairs; ++p)
    for (sqlite3_stmt* st : statements) {
      read(st, units[2 * p + 1].sUnitCode);
      read(st, units[2 * p].sUnitCode);
    }
  for (sqlite3_stmt* st : statements) sqlite3_finalize(st);
  sqlite3_close(h);
  if (total == 0) throw std::runtime_error("the floor read no rows");
  const double elapsed = seconds(start);
  // Printed (and ignored by the parent), so that the compiler cannot drop the reads.
  std::cout << "floor-checksum=" << static_cast<double>(checksum % 1000003) << std::endl;
  return elapsed;
}

// The strict floor of B7 and B8: every sheet's rows for all units of each period read once, as
// discovery asks for them (one statement per sheet, ordered by unit code and nRow), with one
// prepared statement per sheet on a read-only connection without SQLite's mutex, every value's
// type read and its value or bytes touched, no allocation per value, on one thread. Returns
// seconds of wall time.
double readSheetsOnce(const fs::path& db, int sheets, const std::vector<const char*>& periods) {
  const auto start = WallClock::now();
  sqlite3* h = nullptr;
  if (sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK)
    throw std::runtime_error(sqlite3_errmsg(h));
  std::uint64_t checksum = 0;
  std::size_t total = 0;
  for (const char* period : periods)
    for (int s = 1; s <= sheets; ++s) {
      char sql[160];
      std::snprintf(sql, sizeof sql,
                    "SELECT * FROM DataNum%s_B%02d_%d WHERE sPeriodID = ? ORDER BY sUnitCode, nRow",
                    kTask, s, kLevel);
      sqlite3_stmt* st = nullptr;
      if (sqlite3_prepare_v3(h, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK)
        throw std::runtime_error(sqlite3_errmsg(h));
      sqlite3_bind_text(st, 1, period, -1, SQLITE_STATIC);
      while (sqlite3_step(st) == SQLITE_ROW) {
        total += touchRow(st, checksum);
      }
      sqlite3_finalize(st);
    }
  sqlite3_close(h);
  if (total == 0) throw std::runtime_error("the floor read no rows");
  const double elapsed = wallSeconds(start);
  std::cout << "floor-checksum=" << static_cast<double>(checksum % 1000003) << std::endl;
  return elapsed;
}

// ---- Child measurements ------------------------------------------------------------------------

// Reads the whole database file, so that each measurement against the floor starts with it in
// the system's file cache: this machine's memory reclaim may have dropped some of it, and the
// first read after that would pay for bringing it back.
void warmFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<char> buffer(1 << 20);
  while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
  }
}

void report(const std::string& key, double value) { std::cout << key << "=" << value << std::endl; }

// Runs `step` once the modal dialog of Execute is on the screen, then closes the dialog. A
// failure ends the process: nothing may be thrown through Qt's event loop.
void onDialogShown(std::function<void(QWidget&)> step) {
  QTimer::singleShot(0, [step] {
    QWidget* dialog = QApplication::activeModalWidget();
    if (!dialog) return onDialogShown(step);  // not shown yet: look again on the next turn
    try {
      step(*dialog);
    } catch (const std::exception& e) {
      std::cerr << "dupsweep-bench: " << e.what() << std::endl;
      std::_Exit(1);
    }
    dialog->close();
  });
}

// The rounds of a measurement against the floor: the floor and the run alternate, three times
// each, and the fastest of each counts, so that a machine whose speed drifts during a child weighs
// on both, and a round slowed by another process is outvoted.
constexpr int kFloorRounds = 3;

// B1: the operator picks the scheme of `pairs` pairs and presses 比对数据 (with the floor, thrice,
// each press after a read of the floor).
void childDialogRun(const fs::path& data, int pairs, bool floor) {
  const fs::path db = scaledDb(data);
  double floorBest = std::numeric_limits<double>::infinity();
  double run = std::numeric_limits<double>::infinity();
  double first = 0;  // the first press, which also parses the template
  onDialogShown([&](QWidget& dialog) {
    auto* precept = dialog.findChild<QComboBox*>("cmbPrecept");
    const int index = precept->findText(QString("pairs%1").arg(pairs));
    if (index < 0) throw std::runtime_error("the scheme is not listed");
    precept->setCurrentIndex(index);
    emit precept->activated(index);
    auto* compare = dialog.findChild<QPushButton*>("cmdCompare");
    for (int round = 0; round < (floor ? kFloorRounds : 1); ++round) {
      if (floor) {
        warmFile(db);
        floorBest = std::min(floorBest, readFloor(db, pairs));
        warmFile(db);
      }
      const auto start = Clock::now();
      compare->click();
      const double took = seconds(start);
      if (round == 0) first = took;
      run = std::min(run, took);
    }
  });
  dupsweep::TfrmDupsweep::Parts parts;
  parts.schemeDirectory = data.string() + "/";
  dupsweep::TfrmDupsweep::Execute(conn(db), "01", "", kTask, kLevel, parts);
  if (floor) report("floor", floorBest);
  report("run", run);
  report("first", first);
}

// B2: the scanner over the same pairs, three times, each time after a read of the floor.
void childScan(const fs::path& data) {
  const fs::path db = scaledDb(data);
  double floorBest = std::numeric_limits<double>::infinity();
  double run = std::numeric_limits<double>::infinity();
  for (int round = 0; round < kFloorRounds; ++round) {
    warmFile(db);
    floorBest = std::min(floorBest, readFloor(db, kPairs));
    warmFile(db);
    dupsweep::scan::Options o;
    o.conn = conn(db);
    o.task = kTask;
    o.level = kLevel;
    o.period = kPeriod;
    o.schemes = {(data / "pairs100.Unitdata").string()};
    std::ostringstream out, progress;
    const auto start = Clock::now();
    dupsweep::scan::run(o, out, progress);
    run = std::min(run, seconds(start));
  }
  report("floor", floorBest);
  report("run", run);
}

// B7, B8, B9: discovery over the scaled database `db` of `sheets` sheets, against the earlier
// period when `against`, looking for rescaled copies when `rescaled`. Reports the wall time
// ("run") and the CPU time of all threads ("cpu"); with the floor, the floor (one thread, wall
// time) and the run alternate as in B1 and the faster of each counts.
void childDiscovery(const fs::path& db, int sheets, bool against, bool floor, bool rescaled) {
  double floorBest = std::numeric_limits<double>::infinity();
  double run = std::numeric_limits<double>::infinity();
  double cpu = std::numeric_limits<double>::infinity();
  std::size_t pairs = 0;
  std::vector<const char*> periods = {kPeriod};
  if (against) periods.push_back(kEarlierPeriod);
  for (int round = 0; round < (floor ? kFloorRounds : 1); ++round) {
    warmFile(db);
    if (floor) {
      floorBest = std::min(floorBest, readSheetsOnce(db, sheets, periods));
      warmFile(db);
    }
    dupsweep::TdmDupsweep dm;
    dm.SetConnection(conn(db));
    dupsweep::ProgressSink quiet;
    dupsweep::DiscoverySettings settings;
    if (against) settings.againstPeriod = kEarlierPeriod;
    settings.rescaled = rescaled;
    const auto start = WallClock::now();
    const auto startCpu = Clock::now();
    const dupsweep::DiscoveryResult result =
        dupsweep::DuplicateDiscovery(dm, kPeriod, kTask, kLevel, "01", settings).Run(quiet);
    cpu = std::min(cpu, seconds(startCpu));
    run = std::min(run, wallSeconds(start));
    pairs = result.pairs.size();
  }
  if (floor) report("floor", floorBest);
  report("run", run);
  report("cpu", cpu);
  report("pairs", static_cast<double>(pairs));
}

// A report template like writeTemplateXlsx's (a title, a header row, a label column) whose first
// sheet also holds one cell of template text at XFD1048576, the last cell a sheet can have.
void writeFarCellTemplate(const fs::path& path, int sheets, int rows, int cols) {
  lxw_workbook* wb = workbook_new(path.c_str());
  if (!wb) throw std::runtime_error("cannot create " + path.string());
  for (int s = 1; s <= sheets; ++s) {
    lxw_worksheet* ws = workbook_add_worksheet(wb, ("表" + std::to_string(s)).c_str());
    worksheet_write_string(ws, 0, 0, ("统计报表 第" + std::to_string(s) + "表").c_str(), nullptr);
    worksheet_write_string(ws, 1, 0, "项目", nullptr);
    for (int c = 1; c <= cols; ++c)
      worksheet_write_string(ws, 1, static_cast<lxw_col_t>(c), ("指标" + std::to_string(c)).c_str(),
                             nullptr);
    for (int r = 0; r < rows; ++r)
      worksheet_write_string(ws, static_cast<lxw_row_t>(r + 2), 0,
                             ("行目" + std::to_string(r + 1)).c_str(), nullptr);
    if (s == 1) worksheet_write_string(ws, LXW_ROW_MAX - 1, LXW_COL_MAX - 1, "备注", nullptr);
  }
  if (workbook_close(wb) != LXW_NO_ERROR) throw std::runtime_error("cannot write " + path.string());
}

// B3 and B3b: both grids filled with 40 sheets x 200 rows x 25 columns, 1% of the right cells
// differing, over the report template or over the one with a far cell.
void childFindAll(const fs::path& data, bool farCell) {
  const fs::path file = data / (farCell ? "template40-far.xlsx" : "template40.xlsx");
  if (!fs::exists(file)) {
    if (farCell) writeFarCellTemplate(file, 40, 200, 25);
    else dupsweep::sheet::testing::writeTemplateXlsx(file, 40, 200, 25);
  }
  dupsweep::TfrmShowDifference viewer;
  viewer.LoadTemplate(file.string());
  auto& left = viewer.F1Book1();
  auto& right = viewer.F1Book2();
  unsigned seed = 1;
  for (int s = 1; s <= 40; ++s) {
    left.setSheet(s);
    right.setSheet(s);
    for (int r = 3; r < 203; ++r)
      for (int c = 2; c < 27; ++c) {
        const std::string value = std::to_string(r * 1000 + c);
        left.EntryRC(r, c, value);
        seed = seed * 1103515245u + 12345u;
        right.EntryRC(r, c, (seed >> 16) % 100 == 0 ? value + "1" : value);
      }
  }
  viewer.SetSheet(0);
  const auto start = Clock::now();
  viewer.FindAllDifferences();
  report("run", seconds(start));
  report("lines", viewer.lsvDifferenace()->topLevelItemCount());
}

// B5: the host's call until the dialog is shown, through the component's class factory.
void childHostCall(const fs::path& module, const fs::path& demoDb,
                   WallClock::time_point processStart) {
  using namespace dupsweep::com;
  double shown = -1;
  onDialogShown([&](QWidget&) { shown = wallSeconds(processStart); });
  void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) throw std::runtime_error(::dlerror());
  using GetClassObject = HRESULT (*)(const CLSID&, const IID&, void**);
  auto get = reinterpret_cast<GetClassObject>(::dlsym(handle, "DllGetClassObject"));
  ComPtr<IClassFactory> factory;
  if (FAILED(get(dupsweep::CLSID_Dupsweep, IID_IClassFactory, factory.putVoid())))
    throw std::runtime_error("DllGetClassObject failed");
  ComPtr<IUnknown> object;
  if (FAILED(factory->CreateInstance(nullptr, dupsweep::IID_IDupsweep, object.putVoid())))
    throw std::runtime_error("CreateInstance failed");
  BString c(dupsweep::text::utf8ToUtf16(conn(demoDb)));
  BString unitCls(u"01"), task(u"T01");
  HRESULT hr = static_cast<dupsweep::IDupsweep*>(object.get())
                   ->Dupsweep(c.get(), unitCls.get(), task.get(), kLevel);
  if (hr != S_OK) throw std::runtime_error("Dupsweep failed");
  report("run", shown);
}

// B5: expanding the top-level unit, which has 5,000 children.
void childTreeLevel(const fs::path& data) {
  const fs::path db = data / "tree5000-keyed.db";
  double run = -1;
  int nodes = 0;
  onDialogShown([&](QWidget& dialog) {
    auto* tree = dialog.findChild<QTreeWidget*>("tvUnit");
    QTreeWidgetItem* root = tree->topLevelItem(0);
    const auto start = Clock::now();
    root->setExpanded(true);
    QApplication::processEvents();
    run = seconds(start);
    nodes = root->childCount();
  });
  dupsweep::TfrmDupsweep::Execute(conn(db), "01", "", kTask, kLevel);
  if (nodes != 5000) throw std::runtime_error("the level has " + std::to_string(nodes) + " nodes");
  report("run", run);
}

// B6: a 60-sheet template read into a control, and one million EntryRC calls.
void childControl(const fs::path& data) {
  const fs::path file = data / "template60.xlsx";
  if (!fs::exists(file)) dupsweep::sheet::testing::writeTemplateXlsx(file, 60, 60, 14);
  dupsweep::sheet::F1Book book;
  auto start = Clock::now();
  book.read(file);
  report("template", seconds(start));
  start = Clock::now();
  for (int i = 0; i < 1000000; ++i) book.EntryRC(1 + i / 100, 1 + i % 100, "1234.5");
  report("entry", seconds(start));
}

// The peak resident memory of this process's own image, in MiB. Not the wait4 figure: Linux
// carries the high-water mark across exec, so a child started while the driver was large (just
// after it wrote a database) would report the driver's peak instead of its own.
double ownPeakMiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  throw std::runtime_error("no VmHWM in /proc/self/status");
}

int child(const std::vector<std::string>& args, WallClock::time_point processStart) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  int argc = 1;
  char name[] = "dupsweep-bench";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  const std::string what = args.at(0);
  const fs::path data = args.at(1);
  if (what == "b1") childDialogRun(data, std::stoi(args.at(2)), args.at(3) == "floor");
  else if (what == "b2") childScan(data);
  else if (what == "b3") childFindAll(data, false);
  else if (what == "b3b") childFindAll(data, true);
  else if (what == "b5host") childHostCall(args.at(2), data / "demo.db", processStart);
  else if (what == "b5tree") childTreeLevel(data);
  else if (what == "b6") childControl(data);
  else if (what == "b7" || what == "b8" || what == "b9") {
    // units, sheets, "floor" or "nofloor", "rescaled" or "norescaled"
    const int units = std::stoi(args.at(2)), sheets = std::stoi(args.at(3));
    childDiscovery(scaledDb(data, units, sheets, what == "b8"), sheets, what == "b8",
                   args.at(4) == "floor", args.at(5) == "rescaled");
  }
  else if (what == "idle") {}  // the process with nothing measured: its peak memory
  else throw std::runtime_error("unknown measurement " + what);
  report("peak", ownPeakMiB());
  return 0;
}

// ---- The driver --------------------------------------------------------------------------------

struct ChildResult {
  std::map<std::string, double> values;
  double maxRssMiB = 0;
};

ChildResult runChild(const std::string& self, const std::vector<std::string>& args) {
  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::vector<std::string> all = {self, "--child"};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, self.c_str(), &actions, nullptr, argv.data(), environ) != 0)
    throw std::runtime_error("cannot start " + self);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string text;
  char buf[4096];
  ssize_t n;
  while ((n = read(out[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
  close(out[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("measurement " + args.at(0) + " failed");
  ChildResult r;
  r.maxRssMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    if (auto eq = line.find('='); eq != std::string::npos)
      r.values[line.substr(0, eq)] = std::stod(line.substr(eq + 1));
  return r;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Runs a measurement `runs` times and gives the median of each value (and of the peak memory
// as "rss").
std::map<std::string, double> measure(const std::string& self, const std::vector<std::string>& args,
                                      int runs) {
  std::map<std::string, std::vector<double>> all;
  for (int i = 0; i < runs; ++i) {
    ChildResult r = runChild(self, args);
    for (auto& [k, v] : r.values) all[k].push_back(v);
    all["rss"].push_back(r.values.count("peak") ? r.values["peak"] : r.maxRssMiB);
    std::cerr << "." << std::flush;
  }
  std::map<std::string, double> medians;
  for (auto& [k, v] : all) medians[k] = median(v);
  return medians;
}

std::string machine() {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  double kib = 0;
  meminfo >> key >> kib;
  char date[32];
  const std::time_t now = std::time(nullptr);
  std::strftime(date, sizeof date, "%Y-%m-%d", std::localtime(&now));
  std::ostringstream s;
  s << date << ", " << sysconf(_SC_NPROCESSORS_ONLN) << " cores, " << std::fixed;
  s.precision(1);
  s << kib / 1024 / 1024 << " GiB memory";
  return s.str();
}

struct Row {
  std::string id, what, value, target, verdict;
};

std::string fmt(double v, const char* unit, int precision = 3) {
  std::ostringstream s;
  s << std::fixed;
  s.precision(precision);
  s << v << unit;
  return s.str();
}

// The figure ids of --only ("B3,B3b"); empty means every figure.
std::set<std::string> figureIds(const std::string& list) {
  std::set<std::string> ids;
  std::istringstream in(list);
  for (std::string id; std::getline(in, id, ',');)
    if (!id.empty()) ids.insert(id);
  return ids;
}

int driver(const std::vector<std::string>& args) {
  fs::path data = "build/bench-data";
  fs::path module;
  int runs = 5;
  std::set<std::string> only;
  for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
    if (args[i] == "--data") data = args[i + 1];
    else if (args[i] == "--module") module = args[i + 1];
    else if (args[i] == "--runs") runs = std::max(1, std::stoi(args[i + 1]));
    else if (args[i] == "--only") only = figureIds(args[i + 1]);
  }
  auto wanted = [&](const std::string& id) { return only.empty() || only.count(id) > 0; };
  const bool needsDatabases =
      wanted("B1") || wanted("B2") || wanted("B4") || wanted("B5") || wanted("B7") ||
      wanted("B8");
  if (module.empty() && wanted("B5")) throw std::runtime_error("--module LIB is required");
  fs::create_directories(data);
  data = fs::absolute(data);

  // Databases, cached between runs.
  if (needsDatabases && !fs::exists(scaledDb(data))) {
    std::cerr << "writing " << scaledDb(data) << " ..." << std::endl;
    dupsweep::demodb::DemoOptions o;
    o.out = scaledDb(data);
    o.scale = dupsweep::demodb::ScaleOptions{kUnits, kSheets, kRows, kCols};
    dupsweep::demodb::writeDemoDatabase(o);
  }
  const auto writeScaled = [&](int units, int sheets, bool earlier) {
    const fs::path file = scaledDb(data, units, sheets, earlier);
    if (fs::exists(file)) return;
    std::cerr << "writing " << file << " ..." << std::endl;
    dupsweep::demodb::DemoOptions o;
    o.out = file;
    o.scale = dupsweep::demodb::ScaleOptions{units, sheets, kRows, kCols, earlier};
    dupsweep::demodb::writeDemoDatabase(o);
  };
  if (wanted("B7")) writeScaled(2 * kUnits, kSheets, false);
  if (wanted("B8")) writeScaled(kUnits, kSheets, true);
  if (wanted("B9")) writeScaled(kUnits, kB9Sheets, false);
  if (wanted("B9")) writeScaled(10 * kUnits, kB9Sheets, false);
  if (needsDatabases && !fs::exists(data / "demo.db")) {
    dupsweep::demodb::DemoOptions o;
    o.out = data / "demo.db";
    dupsweep::demodb::writeDemoDatabase(o);
  }
  if (needsDatabases && !fs::exists(data / "tree5000-keyed.db"))
    writeTreeDb(data / "tree5000-keyed.db");
  if (needsDatabases) writeSchemes(scaledDb(data), data);

  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const std::string dir = data.string();
  std::cerr << "measuring (" << runs << " runs each)";
  std::map<std::string, double> b1, b1small, b1large, b2, b3, b3b, b5host, b5tree, b6, b7,
      b7plain, b7single, b7double, b8, b9small, b9large;
  if (wanted("B1") || wanted("B2") || wanted("B4") || wanted("B7"))
    runChild(self, {"b2", dir});  // warms the page cache for the scaled database
  if (wanted("B1")) b1 = measure(self, {"b1", dir, std::to_string(kPairs), "floor"}, runs);
  if (wanted("B4")) b1small = measure(self, {"b1", dir, "10", "nofloor"}, runs);
  if (wanted("B4")) b1large = measure(self, {"b1", dir, std::to_string(kPairs), "nofloor"}, runs);
  if (wanted("B2")) b2 = measure(self, {"b2", dir}, runs);
  if (wanted("B3")) b3 = measure(self, {"b3", dir}, runs);
  if (wanted("B3b")) b3b = measure(self, {"b3b", dir}, runs);
  if (wanted("B5")) b5host = measure(self, {"b5host", dir, fs::absolute(module).string()}, runs);
  if (wanted("B5")) b5tree = measure(self, {"b5tree", dir}, runs);
  if (wanted("B6")) b6 = measure(self, {"b6", dir}, runs);
  const std::string sheets = std::to_string(kSheets), b9sheets = std::to_string(kB9Sheets);
  if (wanted("B7")) {
    b7 = measure(self, {"b7", dir, std::to_string(kUnits), sheets, "floor", "rescaled"}, runs);
    // Growth with the units and the share of rescaled copies compare runs measured alike: one
    // round each, in a process of its own, without the floor reads that warm the file for B7's
    // best round.
    b7plain =
        measure(self, {"b7", dir, std::to_string(kUnits), sheets, "nofloor", "norescaled"}, runs);
    b7single =
        measure(self, {"b7", dir, std::to_string(kUnits), sheets, "nofloor", "rescaled"}, runs);
    b7double =
        measure(self, {"b7", dir, std::to_string(2 * kUnits), sheets, "nofloor", "rescaled"}, runs);
  }
  if (wanted("B8"))
    b8 = measure(self, {"b8", dir, std::to_string(kUnits), sheets, "floor", "rescaled"}, runs);
  if (wanted("B9")) {
    b9small =
        measure(self, {"b9", dir, std::to_string(kUnits), b9sheets, "nofloor", "rescaled"}, runs);
    b9large = measure(
        self, {"b9", dir, std::to_string(10 * kUnits), b9sheets, "nofloor", "rescaled"}, runs);
  }
  std::cerr << std::endl;

  auto verdict = [](bool met) { return std::string(met ? "met" : "NOT MET"); };
  const double r1 = b1["run"] / b1["floor"], r2 = b2["run"] / b2["floor"];
  const double growth = b1large["rss"] / b1small["rss"] - 1;
  const double r7 = b7["run"] / b7["floor"], linear7 = b7double["run"] / b7single["run"];
  // The share of rescaled copies in CPU time, which another process's load does not change,
  // between two runs measured alike (one round each, without the floor).
  const double share7 = std::max(0.0, b7single["cpu"] - b7plain["cpu"]) / b7single["cpu"];
  const double linearCpu7 = b7double["cpu"] / b7single["cpu"];
  const double r8 = b8["run"] / b8["floor"];
  const double r9 = b9large["cpu"] / b9small["cpu"];
  const double memory = std::max({b7["rss"], b8["rss"], b9small["rss"], b9large["rss"]});
  const double growth9 = b9large["rss"] - b9small["rss"];
  // Each row belongs to a figure id, so that --only prints the rows it measured.
  const std::vector<std::pair<std::string, Row>> rows = {
      {"B1",
       {"B1", "dialog run, 100 pairs x 40 sheets x 200 rows x 20 columns", fmt(b1["run"], " s"),
        "", ""}},
      {"B1", {"", "strict floor: the same rows, plain prepared reads", fmt(b1["floor"], " s"), "",
              ""}},
      {"B1", {"", "B1 / floor", fmt(r1, "", 2), "<= 1.1", verdict(r1 <= 1.1)}},
      {"B1", {"", "first press (parses the template) / floor",
              fmt(b1["first"] / b1["floor"], "", 2), "", ""}},
      {"B2", {"B2", "dupsweep-scan, the same pairs", fmt(b2["run"], " s"), "", ""}},
      {"B2", {"", "strict floor, measured with B2", fmt(b2["floor"], " s"), "", ""}},
      {"B2", {"", "B2 / floor", fmt(r2, "", 2), "<= 1.15", verdict(r2 <= 1.15)}},
      {"B3", {"B3", "FindAllDifferences, 40 x 200 x 25, 1% differing",
              fmt(b3["run"] * 1000, " ms", 1), "< 50 ms", verdict(b3["run"] < 0.05)}},
      {"B3b", {"B3b", "the same, template with a cell at XFD1048576",
               fmt(b3b["run"] * 1000, " ms", 1), "< 50 ms", verdict(b3b["run"] < 0.05)}},
      {"B4", {"B4", "peak memory of B1 at 10 pairs", fmt(b1small["rss"], " MiB", 1), "", ""}},
      {"B4", {"", "peak memory of B1 at 100 pairs", fmt(b1large["rss"], " MiB", 1), "within 5%",
              verdict(growth <= 0.05)}},
      {"B5", {"B5", "host call until the dialog is shown (demo database)",
              fmt(b5host["run"] * 1000, " ms", 1), "< 1 s", verdict(b5host["run"] < 1.0)}},
      {"B5", {"", "expanding a tree level of 5,000 units", fmt(b5tree["run"] * 1000, " ms", 1),
              "< 0.5 s", verdict(b5tree["run"] < 0.5)}},
      {"B6", {"B6", "loading a 60-sheet template", fmt(b6["template"] * 1000, " ms", 1), "< 1 s",
              verdict(b6["template"] < 1.0)}},
      {"B6", {"", "one million EntryRC calls", fmt(b6["entry"] * 1000, " ms", 1), "", ""}},
      {"B7", {"B7", "discovery, 220 units x 40 sheets x 200 rows x 20 columns, wall",
              fmt(b7["run"], " s"), "", ""}},
      {"B7", {"", "strict floor on one thread: every sheet's rows read once, wall",
              fmt(b7["floor"], " s"), "", ""}},
      {"B7", {"", "B7 / floor (wall)", fmt(r7, "", 2), "<= 0.75", verdict(r7 <= 0.75)}},
      {"B7", {"", "CPU time of B7 (all workers)", fmt(b7["cpu"], " s"), "", ""}},
      {"B7", {"", "rescaled copies' share of B7's time (CPU)", fmt(share7 * 100, " %", 1),
              "<= 15%", verdict(share7 <= 0.15)}},
      {"B7", {"", "B7 at 220 units, one round without the floor", fmt(b7single["run"], " s"), "",
              ""}},
      {"B7", {"", "B7 at 440 units, measured alike", fmt(b7double["run"], " s"), "", ""}},
      {"B7", {"", "B7 at 440 units / B7 at 220 units", fmt(linear7, "", 2), "<= 2.2",
              verdict(linear7 <= 2.2)}},
      {"B7", {"", "the same in CPU time", fmt(linearCpu7, "", 2), "", ""}},
      {"B7", {"", "peak memory of B7", fmt(b7["rss"], " MiB", 1), "<= 96 MiB",
              verdict(b7["rss"] <= 96)}},
      {"B8", {"B8", "discovery against an earlier period, both of B7's size, wall",
              fmt(b8["run"], " s"), "", ""}},
      {"B8", {"", "strict floor on one thread: both periods' rows read once, wall",
              fmt(b8["floor"], " s"), "", ""}},
      {"B8", {"", "B8 / floor (wall)", fmt(r8, "", 2), "<= 0.8", verdict(r8 <= 0.8)}},
      {"B8", {"", "CPU time of B8 (all workers)", fmt(b8["cpu"], " s"), "", ""}},
      {"B8", {"", "peak memory of B8", fmt(b8["rss"], " MiB", 1), "<= 96 MiB",
              verdict(b8["rss"] <= 96)}},
      {"B9", {"B9", "discovery, 220 units x 8 sheets x 200 rows x 20 columns, CPU",
              fmt(b9small["cpu"], " s"), "", ""}},
      {"B9", {"", "the same at 2,200 units, CPU", fmt(b9large["cpu"], " s"), "", ""}},
      {"B9", {"", "2,200 units / 220 units (CPU)", fmt(r9, "", 2), "<= 10.5", verdict(r9 <= 10.5)}},
      {"B9", {"", "peak memory at 220 units", fmt(b9small["rss"], " MiB", 1), "", ""}},
      {"B9", {"", "peak memory at 2,200 units", fmt(b9large["rss"], " MiB", 1),
              "+<= 16 MiB", verdict(growth9 <= 16)}},
      {"B9", {"", "highest peak memory of B7, B8 and B9", fmt(memory, " MiB", 1), "<= 96 MiB",
              verdict(memory <= 96)}},
  };
  std::cout << "dupsweep benchmarks: " << machine() << "; median of " << runs
            << " runs; CPU time of the measuring process (B5's host call, B7 and B8: wall time, "
               "their CPU time beside)\n\n";
  std::printf("%-4s %-60s %12s  %-10s %s\n", "", "measurement", "figure", "target", "");
  for (const auto& [id, r] : rows)
    if (wanted(id))
      std::printf("%-4s %-60s %12s  %-10s %s\n", r.id.c_str(), r.what.c_str(), r.value.c_str(),
                  r.target.c_str(), r.verdict.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const auto processStart = WallClock::now();
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (!args.empty() && args[0] == "--child")
      return child({args.begin() + 1, args.end()}, processStart);
    return driver(args);
  } catch (const std::exception& e) {
    std::cerr << "dupsweep-bench: " << e.what() << std::endl;
    return 1;
  }
}
