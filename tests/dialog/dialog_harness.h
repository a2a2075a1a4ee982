#pragma once
// A harness for driving the dialog the way an operator does: a real SQLite host database, a
// connection that counts (and can refuse) the statements the data module sends, a scratch scheme
// directory, and real mouse clicks and key presses on the tree, the lists and the buttons.

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "data/dmdupsweep.h"
#include "dialog/qt_environment.h"
#include "platform/db/db.h"
#include "platform/db/forwarding_connection.h"
#include "platform/errors.h"
#include "support/scripted_messages.h"
#include "support/sqlite_file.h"
#include "ui/dupsweep/frmdupsweep.h"
#include "ui/dupsweep/unittree.h"

namespace dupsweep::testing {

// What the counting connection saw; discovery's workers send statements from several threads.
struct StatementLog {
  std::mutex lock;
  std::vector<std::string> texts;  // every statement sent, oldest first
  bool refuse = false;             // when set, every statement fails as a refused one would
};

// A real connection that records every statement before passing it on.
class CountingConnection : public db::ForwardingConnection {
 public:
  CountingConnection(std::unique_ptr<db::Connection> inner, StatementLog& log)
      : ForwardingConnection(std::move(inner)), log_(log) {}
  std::unique_ptr<db::RowSet> query(std::string_view sql) override {
    sent(sql);
    return inner().query(sql);
  }
  std::int64_t execute(std::string_view sql) override {
    sent(sql);
    return inner().execute(sql);
  }
  std::int64_t executeWith(std::string_view sql, const std::vector<db::Value>& params) override {
    sent(sql);
    return inner().executeWith(sql, params);
  }

 private:
  void sent(std::string_view sql) {
    const std::lock_guard<std::mutex> hold(log_.lock);
    log_.texts.emplace_back(sql);
    if (log_.refuse) throw DatabaseError("refused by the test");
  }
  StatementLog& log_;
};

// Host database: classification 01 with three top-level units, two children under the first and
// a grandchild; a unit filed at the wrong level under the first; a unit of another
// classification.
//   总公司 (Z01)          北京分公司 (Z0101), 上海分公司 (Z0102) -> 浦东支公司 (Z010201)
//   华东分部 (A01)        no children
//   西部公司 (M01)        no children
inline void fillUnits(SqliteFile& db) {
  db.createHostSchema();
  db.exec(R"(
    INSERT INTO Unit VALUES (7,'总公司'),(3,'华东分部'),(5,'西部公司'),(9,'北京分公司'),
                            (11,'上海分公司'),(12,'浦东支公司'),(13,'错层单位'),(6,'其他分类');
    INSERT INTO UnitClsAndUnit VALUES ('01',7,0,NULL,'Z01'),('01',3,0,NULL,'A01'),
      ('01',5,0,NULL,'M01'),('01',9,1,'Z01','Z0101'),('01',11,1,'Z01','Z0102'),
      ('01',12,2,'Z0102','Z010201'),('01',13,2,'Z01','Z0199'),('02',6,0,NULL,'Q01');
    INSERT INTO Period VALUES ('2024N','2024',0);
    INSERT INTO PeriodTable VALUES ('2024N','T01',1,'B01','资产负债表',1,1);
  )");
}

class DialogHarness : public ::testing::Test {
 protected:
  void SetUp() override {
    fillUnits(db);
    schemeDir = (db.dir() / "host").string() + "/";
    std::filesystem::create_directory(schemeDir);
  }

  TfrmDupsweep::Parts parts() {
    TfrmDupsweep::Parts p;
    p.dataModule = [this] {
      return std::make_unique<TdmDupsweep>(
          [this](const std::string& conn) -> std::unique_ptr<db::Connection> {
            auto counted = std::make_unique<CountingConnection>(db::open(conn), log);
            if (wrap) return wrap(std::move(counted));
            return counted;
          });
    };
    p.schemeDirectory = schemeDir;
    return p;
  }

  // Opens the dialog through Execute (on `conn`, the test's database when empty), lets `act`
  // work in it, then closes it. The dialog is closed also when an assertion ends `act` early.
  void run(const std::function<void()>& act, const std::string& conn = {}) {
    whenModal<TfrmDupsweep>([this, act](TfrmDupsweep* shown) {
      dialog = shown;
      tree = shown->findChild<UnitTree*>("tvUnit");
      pairs = shown->findChild<QListWidget*>("lsbSelectUnit");
      precept = shown->findChild<QComboBox*>("cmbPrecept");
      act();
      shown->findChild<QPushButton*>("cmdClose")->click();
    });
    TfrmDupsweep::Execute(conn.empty() ? db.connectionString() : conn, "01", "", "T01", 1, parts());
    dialog = nullptr;
    tree = nullptr;
  }

  // Makes the dialog the active window, so that a click on a button takes the focus from the
  // field that has it, as it does for the operator.
  void activate() {
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
  }

  // ---- the tree ----
  QTreeWidgetItem* top(int row) const { return tree->topLevelItem(row); }
  void click(QTreeWidgetItem* node, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    tree->scrollToItem(node);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, modifiers,
                      tree->visualItemRect(node).center());
  }
  // A click on the node's expand button, left of its image and text.
  void clickExpandButton(QTreeWidgetItem* node) {
    tree->scrollToItem(node);
    const QRect rect = tree->visualItemRect(node);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(rect.left() - tree->indentation() / 2, rect.center().y()));
  }
  std::vector<std::string> selectionNames() const {
    std::vector<std::string> names;
    for (QTreeWidgetItem* node : tree->selectionList())
      names.push_back(node->text(0).toStdString());
    return names;
  }
  std::vector<std::string> childNames(QTreeWidgetItem* node) const {
    std::vector<std::string> names;
    for (int i = 0; i < node->childCount(); ++i)
      names.push_back(node->child(i)->text(0).toStdString());
    return names;
  }

  // ---- buttons and lists ----
  QPushButton* button(const char* name) const {
    return dialog->findChild<QPushButton*>(QString::fromUtf8(name));
  }
  void press(const char* name) { QTest::mouseClick(button(name), Qt::LeftButton); }
  // Enabled states of cmdAdd, cmdRemove, cmdCompare, as "+" or "-".
  std::string buttonStates() const {
    std::string states;
    for (const char* name : {"cmdAdd", "cmdRemove", "cmdCompare"})
      states += button(name)->isEnabled() ? '+' : '-';
    return states;
  }
  std::vector<std::string> pairTexts() const {
    std::vector<std::string> texts;
    for (int i = 0; i < pairs->count(); ++i) texts.push_back(pairs->item(i)->text().toStdString());
    return texts;
  }
  void clickPair(int row) {
    QTest::mouseClick(pairs->viewport(), Qt::LeftButton, Qt::NoModifier,
                      pairs->visualItemRect(pairs->item(row)).center());
  }
  // Selects `first` with a click and `second` with a Ctrl+click, then presses ">>".
  void addPair(QTreeWidgetItem* first, QTreeWidgetItem* second) {
    click(first);
    click(second, Qt::ControlModifier);
    press("cmdAdd");
  }

  // ---- schemes ----
  std::vector<std::string> schemeNames() const {
    std::vector<std::string> names;
    for (int i = 0; i < precept->count(); ++i) names.push_back(precept->itemText(i).toStdString());
    return names;
  }
  // Types `name` into cmbPrecept as the operator does (replacing what is there): keys for
  // ASCII characters, the input method's committed text for Chinese ones.
  void typeSchemeName(const QString& name) {
    QLineEdit* edit = precept->lineEdit();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    for (const QChar c : name) {
      if (c.unicode() < 0x80) {
        QTest::keyClick(edit, c.toLatin1());
      } else {
        QInputMethodEvent commit;
        commit.setCommitString(QString(c));
        QApplication::sendEvent(edit, &commit);
      }
    }
  }
  // Picks entry `index` from the list of cmbPrecept with the mouse, as the operator does.
  void pickScheme(int index) {
    precept->showPopup();
    QAbstractItemView* view = precept->view();
    const QRect rect = view->visualRect(view->model()->index(index, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
  }
  std::string schemeFile(const std::string& name) const { return schemeDir + name + ".Unitdata"; }
  void writeBytes(const std::string& path, const std::string& bytes) const {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::string readBytes(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  std::vector<std::string> filesIn(const std::string& dir) const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  SqliteFile db;
  StatementLog log;
  // When set, wraps every connection the data module opens (after the counting one), for
  // injecting faults.
  std::function<std::unique_ptr<db::Connection>(std::unique_ptr<db::Connection>)> wrap;
  std::string schemeDir;
  TfrmDupsweep* dialog = nullptr;
  UnitTree* tree = nullptr;
  QListWidget* pairs = nullptr;
  QComboBox* precept = nullptr;
};

// The fields of a unit record, for comparing records.
inline std::tuple<std::int32_t, std::string, std::int32_t, std::string> fields(const TUnitData& u) {
  return {u.nUnitID, u.sUnitCode, u.nLevel, u.sUnitName};
}

}  // namespace dupsweep::testing
