#pragma once
// A host database for comparison runs, deletions and the showing of one pair, on top of the
// dialog harness: sample tables with a template workbook and per-sheet data tables whose rows
// make some pairs identical on chosen sheets, and helpers to pick from the dialog's lists as the
// operator does.
//
// Period 2024N (listed first) has five sample tables, in sheet order:
//   B01 资产负债表, B02 利润表, B03 现金流量表, B04 附表 (rows for 戊 only), B05 缺表 (no data
//   tables at all).
// Period 2023N (空期间) lists only a "^" sample, so it has no sample tables; it has a template.
// Period 2022N (模板缺失) has a sample table but no template.
//
// Top-level units besides those of the dialog harness, with the sheets on which the pairs the
// tests build are identical:
//   甲 J1 / 乙 Y1          B01, B03
//   丙 B1 / 丁 D1          B01, B02, B03
//   戊 W1 / 己 G1          none
//   营业部 P1 / 营业部 P2  B01
//   营业部 P3 / 营业部 P4  B02, B03
//   abc C1 / k K1          B01
//   ABC C2 / k K1          B01, B02
//   奥 O'1 / 澳 O2         B01

#include <xlsxwriter.h>

#include <QComboBox>
#include <QListWidget>
#include <QProgressBar>
#include <map>
#include <set>

#include "dialog/dialog_harness.h"
#include "ui/showdifference/frmshowdifference.h"

namespace dupsweep::testing {

struct RunUnit {
  int id;
  const char* name;
  const char* code;
};

inline const std::vector<RunUnit>& runUnits() {
  static const std::vector<RunUnit> units = {
      {21, "甲", "J1"},     {22, "乙", "Y1"},     {23, "丙", "B1"},     {24, "丁", "D1"},
      {25, "戊", "W1"},     {26, "己", "G1"},     {27, "营业部", "P1"}, {28, "营业部", "P2"},
      {29, "营业部", "P3"}, {30, "营业部", "P4"}, {31, "abc", "C1"},    {32, "ABC", "C2"},
      {33, "k", "K1"},      {34, "奥", "O'1"},    {35, "澳", "O2"},
  };
  return units;
}

// The sample tables of 2024N: code, name; the data tables of the first four exist.
inline const std::vector<std::pair<std::string, std::string>>& runSheets() {
  static const std::vector<std::pair<std::string, std::string>> sheets = {{"B01", "资产负债表"},
                                                                          {"B02", "利润表"},
                                                                          {"B03", "现金流量表"},
                                                                          {"B04", "附表"},
                                                                          {"B05", "缺表"}};
  return sheets;
}

// Which rows a unit has on a sheet: units with the same variant have identical rows; no entry
// means no rows.
inline const std::map<std::string, std::map<std::string, int>>& runVariants() {
  static const std::map<std::string, std::map<std::string, int>> variants = {
      {"B01",
       {{"J1", 1},
        {"Y1", 1},
        {"B1", 2},
        {"D1", 2},
        {"W1", 3},
        {"G1", 4},
        {"P1", 5},
        {"P2", 5},
        {"P3", 6},
        {"P4", 7},
        {"C1", 8},
        {"C2", 8},
        {"K1", 8},
        {"O'1", 9},
        {"O2", 9}}},
      {"B02",
       {{"J1", 12},
        {"Y1", 13},
        {"B1", 2},
        {"D1", 2},
        {"W1", 3},
        {"G1", 4},
        {"P1", 5},
        {"P2", 6},
        {"P3", 7},
        {"P4", 7},
        {"C1", 10},
        {"C2", 11},
        {"K1", 11},
        {"O'1", 14},
        {"O2", 15}}},
      {"B03",
       {{"J1", 1},
        {"Y1", 1},
        {"B1", 2},
        {"D1", 2},
        {"W1", 3},
        {"G1", 4},
        {"P1", 5},
        {"P2", 6},
        {"P3", 7},
        {"P4", 7},
        {"C1", 10},
        {"C2", 12},
        {"K1", 11},
        {"O'1", 14},
        {"O2", 15}}},
      {"B04", {{"W1", 3}}},
  };
  return variants;
}

inline std::string sqlText(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  return quoted + "'";
}

// An xlsx workbook with one sheet per name: a title in A1, column headers in row 3 and row
// labels in A4 and A5, where the data rows land.
inline std::vector<unsigned char> templateBytes(const std::filesystem::path& file,
                                                const std::vector<std::string>& names) {
  lxw_workbook* book = workbook_new(file.c_str());
  if (!book) throw std::runtime_error("cannot create " + file.string());
  for (const std::string& name : names) {
    lxw_worksheet* sheet = workbook_add_worksheet(book, name.c_str());
    worksheet_write_string(sheet, 0, 0, name.c_str(), nullptr);
    worksheet_write_string(sheet, 2, 2, "本期", nullptr);
    worksheet_write_string(sheet, 2, 3, "上期", nullptr);
    worksheet_write_string(sheet, 2, 4, "备注", nullptr);
    worksheet_write_string(sheet, 3, 0, "项目一", nullptr);
    worksheet_write_string(sheet, 4, 0, "项目二", nullptr);
  }
  if (workbook_close(book) != LXW_NO_ERROR) throw std::runtime_error("cannot write the template");
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class RunHarness : public DialogHarness {
 protected:
  void SetUp() override {
    DialogHarness::SetUp();
    std::string sql;
    for (const RunUnit& u : runUnits()) {
      sql += "INSERT INTO Unit VALUES (" + std::to_string(u.id) + "," + sqlText(u.name) + ");";
      sql += "INSERT INTO UnitClsAndUnit VALUES ('01'," + std::to_string(u.id) + ",0,NULL," +
             sqlText(u.code) + ");";
      // Status rows: the compared period, another period and another level.
      for (const char* row : {"'2024N'%s,'T01',1", "'2023N'%s,'T01',1", "'2024N'%s,'T01',2"}) {
        std::string values = row;
        values.replace(values.find("%s"), 2, "," + sqlText(u.code));
        sql += "INSERT INTO Status VALUES (" + values + ");";
      }
    }
    sql += "INSERT INTO Period VALUES ('2023N','空期间',0),('2022N','模板缺失',0);";
    // The harness lists B01 of 2024N already.
    for (std::size_t i = 1; i < runSheets().size(); ++i)
      sql += "INSERT INTO PeriodTable VALUES ('2024N','T01',1,'" + runSheets()[i].first + "'," +
             sqlText(runSheets()[i].second) + "," + std::to_string(i + 1) + ",0);";
    sql += "INSERT INTO PeriodTable VALUES ('2023N','T01',1,'^B09','隐藏表',1,1);";
    sql += "INSERT INTO PeriodTable VALUES ('2022N','T01',1,'B01','资产负债表',1,1);";

    std::vector<std::string> names;
    for (const auto& sheet : runSheets()) names.push_back(sheet.second);
    const std::vector<unsigned char> bytes = templateBytes(db.dir() / "template.xlsx", names);
    db.execBlob("INSERT INTO SampleTableVts VALUES ('2024N','T01',1,1,NULL,?)", &bytes);
    db.execBlob("INSERT INTO SampleTableVts VALUES ('2023N','T01',1,1,NULL,?)", &bytes);

    for (const auto& [code, units] : runVariants()) {
      for (const char* stem : {"DataNum", "DataBalance"}) {
        sql += std::string("CREATE TABLE ") + stem + "T01_" + code +
               "_1 (sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER, sTaskCode TEXT, nLevel "
               "INTEGER, cA TEXT, cB TEXT, cC REAL, cD REAL, cE TEXT);";
      }
      for (const RunUnit& u : runUnits()) {
        const std::string unit = sqlText(u.code);
        const auto found = units.find(u.code);
        if (found != units.end()) {
          const std::string v = std::to_string(found->second);
          sql += "INSERT INTO DataNumT01_" + code + "_1 VALUES ('2024N'," + unit +
                 ",4,'T01',1,NULL,NULL," + v + "01.5," + v + "02,'t" + v + "'),('2024N'," + unit +
                 ",5,'T01',1,NULL,NULL," + v + "0,NULL,'x');";
        }
        // Every unit has balance rows on every sheet, and rows of another period.
        sql += "INSERT INTO DataBalanceT01_" + code + "_1 VALUES ('2024N'," + unit +
               ",4,'T01',1,NULL,NULL,1,2,'b'),('2024N'," + unit +
               ",5,'T01',1,NULL,NULL,3,4,'b'),('2023N'," + unit + ",4,'T01',1,NULL,NULL,1,2,'b');";
        sql += "INSERT INTO DataNumT01_" + code + "_1 VALUES ('2023N'," + unit +
               ",4,'T01',1,NULL,NULL,9,9,'old');";
      }
    }
    db.exec("BEGIN;" + sql + "COMMIT;");
  }

  // ---- the database ----
  long long rows(const std::string& table, const std::string& unit,
                 const std::string& period = "2024N") {
    return db.scalar("SELECT count(*) FROM " + table + " WHERE sUnitCode = " + sqlText(unit) +
                     " AND sPeriodID = '" + period + "'");
  }
  long long statusRows(const std::string& unit) {
    return db.scalar("SELECT count(*) FROM Status WHERE sUnitCode = " + sqlText(unit));
  }
  // Every row count of the database's data and Status tables, for checking that nothing changed.
  std::map<std::string, long long> everyCount() {
    std::map<std::string, long long> counts;
    for (const auto& [code, units] : runVariants()) {
      for (const char* stem : {"DataNum", "DataBalance"}) {
        const std::string table = stem + std::string("T01_") + code + "_1";
        for (const RunUnit& u : runUnits())
          for (const char* period : {"2024N", "2023N"})
            counts[table + "/" + u.code + "/" + period] = rows(table, u.code, period);
      }
    }
    for (const RunUnit& u : runUnits())
      counts[std::string("Status/") + u.code] = statusRows(u.code);
    return counts;
  }

  // ---- the dialog ----
  QComboBox* combo(const char* name) const {
    return dialog->findChild<QComboBox*>(QString::fromUtf8(name));
  }
  QListWidget* list(const char* name) const {
    return dialog->findChild<QListWidget*>(QString::fromUtf8(name));
  }
  QProgressBar* progressBar() const { return dialog->findChild<QProgressBar*>("ProgressBar1"); }
  TfrmShowDifference& viewer() const { return *dialog->showForm(); }

  // The top-level node of the unit with `code`.
  QTreeWidgetItem* node(const std::string& code) const {
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
      if (TfrmDupsweep::unitOf(tree->topLevelItem(i))->sUnitCode == code)
        return tree->topLevelItem(i);
    ADD_FAILURE() << "no node for " << code;
    return nullptr;
  }
  // Adds the pair (S, D): the tree lists the unit selected last first, so D is clicked first and
  // S added with Ctrl.
  void addPairOf(const std::string& codeS, const std::string& codeD) {
    addPair(node(codeD), node(codeS));
  }
  // Picks entry `index` from the list of a combo box with the mouse.
  void pickFrom(QComboBox* box, int index) {
    box->showPopup();
    QAbstractItemView* view = box->view();
    const QRect rect = view->visualRect(view->model()->index(index, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
  }
  void pickPeriod(const QString& text) {
    const int index = combo("cmbPeriod")->findText(text);
    ASSERT_GE(index, 0) << text.toStdString();
    pickFrom(combo("cmbPeriod"), index);
    ASSERT_EQ(combo("cmbPeriod")->currentText(), text);
  }
  // Clicks item `row` of lsbDifference (with modifiers, e.g. Ctrl to add to the selection).
  void clickSheet(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QListWidget* sheets = list("lsbDifference");
    QTest::mouseClick(sheets->viewport(), Qt::LeftButton, modifiers,
                      sheets->visualItemRect(sheets->item(row)).center());
  }

  std::vector<std::string> comboTexts(const char* name) const {
    std::vector<std::string> texts;
    for (int i = 0; i < combo(name)->count(); ++i)
      texts.push_back(combo(name)->itemText(i).toStdString());
    return texts;
  }
  std::vector<std::string> listTexts(const char* name) const {
    std::vector<std::string> texts;
    for (int i = 0; i < list(name)->count(); ++i)
      texts.push_back(list(name)->item(i)->text().toStdString());
    return texts;
  }
  // The entries of FDifferenceList as "group|S code|D code|sample code".
  std::vector<std::string> found() const {
    std::vector<std::string> entries;
    for (const auto& entry : *dialog->differenceList())
      entries.push_back(entry->sGroupName + "|" + entry->pair[Left].sUnitCode + "|" +
                        entry->pair[Right].sUnitCode + "|" + entry->Sample.sSampleCode);
    return entries;
  }
  // The units and table the entry of lsbDifference at `row` stands for, as in found().
  std::string sheetEntry(int row) const {
    const auto* entry = dynamic_cast<const SampleEntry*>(list("lsbDifference")->item(row));
    if (!entry) return "(none)";
    const DifferenceData& f = entry->found();
    return f.sGroupName + "|" + f.pair[Left].sUnitCode + "|" + f.pair[Right].sUnitCode + "|" +
           f.Sample.sSampleCode;
  }
  // The lines of the viewer's difference list as "sheet!row,col:left/right".
  std::vector<std::string> differenceLines() const {
    std::vector<std::string> lines;
    QTreeWidget* list = viewer().lsvDifferenace();
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
      const QTreeWidgetItem* line = list->topLevelItem(i);
      lines.push_back((line->text(1) + "!" + line->text(2) + "," + line->text(3) + ":" +
                       line->text(4) + "/" + line->text(5))
                          .toStdString());
    }
    return lines;
  }
};

}  // namespace dupsweep::testing
