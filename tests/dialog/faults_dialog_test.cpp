// The dialog when the database or the file system fails under it: each handler ends with a clear
// message (or the silent empty result its operation gives), the dialog stays usable, and nothing
// is lost.
#include <gtest/gtest.h>

#include "dialog/run_harness.h"
#include "support/faulty_connection.h"

namespace dupsweep {
namespace {

using testing::Faults;
using testing::FaultyConnection;
using testing::RunHarness;
using testing::whenModal;
using Texts = std::vector<std::string>;

// Points TMPDIR elsewhere for the life of the object.
struct TemporaryDirectory {
  explicit TemporaryDirectory(const std::string& dir) {
    if (const char* old = std::getenv("TMPDIR")) old_ = old;
    setenv("TMPDIR", dir.c_str(), 1);
  }
  ~TemporaryDirectory() {
    if (old_)
      setenv("TMPDIR", old_->c_str(), 1);
    else
      unsetenv("TMPDIR");
  }
  std::optional<std::string> old_;
};

class DialogFaults : public RunHarness {
 protected:
  void SetUp() override {
    RunHarness::SetUp();
    wrap = [this](std::unique_ptr<db::Connection> inner) -> std::unique_ptr<db::Connection> {
      return std::make_unique<FaultyConnection>(std::move(inner), faults);
    };
  }
  std::shared_ptr<Faults> faults = std::make_shared<Faults>();
};

TEST_F(DialogFaults, ALinkLostWhenARunStartsIsShownAndTheNextRunConnectsAfresh) {
  ui::ScopedScriptedMessages messages;
  const auto before = everyCount();
  run([&] {
    addPairOf("J1", "Y1");
    faults->failNext(1, Faults::Kind::Dropped);  // the sample tables' statement
    press("cmdCompare");
    EXPECT_TRUE(found().empty());
    EXPECT_FALSE(button("cmdDelRepetition")->isEnabled());
    EXPECT_EQ(progressBar()->value(), 0);
    press("cmdCompare");
    EXPECT_EQ(found(), (Texts{"甲=>乙|J1|Y1|B01", "甲=>乙|J1|Y1|B03"}));
  });
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_EQ(messages->shown[0].text, "Communication link failure.");
  EXPECT_EQ(messages->shown[0].style, ui::MB_OK | ui::MB_ICONSTOP);
  EXPECT_EQ(everyCount(), before);
}

TEST_F(DialogFaults, ABusyDatabaseDuringAShowingIsShownAndTheViewerStaysClosed) {
  ui::ScopedScriptedMessages messages;
  bool viewerShown = false;
  run([&] {
    addPairOf("J1", "Y1");
    pairs->setCurrentRow(0);
    whenModal<TfrmShowDifference>([&](TfrmShowDifference* viewer) {
      viewerShown = true;
      viewer->ToolButton1Click();
    });
    faults->failNext(2, Faults::Kind::Busy);  // the template, then the sample tables
    press("btnShowDifference");
    EXPECT_FALSE(viewerShown);
    press("btnShowDifference");  // the dialog goes on working
    EXPECT_TRUE(viewerShown);
  });
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_EQ(messages->shown[0].text, "database is locked.");
}

TEST_F(DialogFaults, ATemplateThatCannotBeReadIsNamedByTheShowingWhileTheRunStaysSilent) {
  ui::ScopedScriptedMessages messages;
  bool viewerShown = false;
  run([&] {
    addPairOf("J1", "Y1");
    faults->failNext(2);  // the run's sample tables, then its template
    press("cmdCompare");
    EXPECT_TRUE(found().empty());
    EXPECT_TRUE(messages->shown.empty());

    pairs->setCurrentRow(0);
    whenModal<TfrmShowDifference>([&](TfrmShowDifference*) { viewerShown = true; });
    faults->failNext(1);  // the showing's template
    press("btnShowDifference");
  });
  EXPECT_FALSE(viewerShown);
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_EQ(messages->shown[0].text.rfind("无法读取所选期间的报表模板，无法显示对比结果："
                                          "Injected failure of statement ", 0),
            0u)
      << messages->shown[0].text;
  EXPECT_EQ(messages->shown[0].style, ui::MB_OK | ui::MB_ICONINFORMATION);
}

TEST_F(DialogFaults, AnUnwritableTemporaryDirectoryMeansNoTemplateAndNothingDeleted) {
  ui::ScopedScriptedMessages messages;
  const auto before = everyCount();
  const std::string missing = (db.dir() / "no-such-dir").string();
  TemporaryDirectory tmp(missing);
  run([&] {
    addPairOf("J1", "Y1");
    press("cmdCompare");  // the template cannot be written: nothing is compared
    EXPECT_TRUE(found().empty());
    EXPECT_FALSE(button("cmdDelRepetition")->isEnabled());
    EXPECT_EQ(progressBar()->value(), 0);
  });
  EXPECT_TRUE(messages->shown.empty());
  EXPECT_EQ(everyCount(), before);
}

TEST_F(DialogFaults, BrokenTemplateWorkbooksAreShownAsErrorsAndNothingIsCompared) {
  std::vector<unsigned char> good;
  {
    sqlite3* h = nullptr;
    sqlite3_open(db.path().c_str(), &h);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(h, "SELECT OleVTS FROM SampleTableVts WHERE sPeriodID='2024N'", -1, &st,
                       nullptr);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    const auto* p = static_cast<const unsigned char*>(sqlite3_column_blob(st, 0));
    good.assign(p, p + sqlite3_column_bytes(st, 0));
    sqlite3_finalize(st);
    sqlite3_close(h);
  }
  std::vector<unsigned char> garbage(3 << 20);
  for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<unsigned char>(i * 7);
  const std::vector<std::vector<unsigned char>> broken = {
      {}, {good.begin(), good.begin() + static_cast<long>(good.size() / 2)}, garbage};
  const auto before = everyCount();
  for (const auto& bytes : broken) {
    SCOPED_TRACE(bytes.size());
    db.execBlob("UPDATE SampleTableVts SET OleVTS = ? WHERE sPeriodID='2024N'", &bytes);
    ui::ScopedScriptedMessages messages;
    bool viewerShown = false;
    run([&] {
      addPairOf("J1", "Y1");
      press("cmdCompare");
      EXPECT_TRUE(found().empty());
      EXPECT_EQ(progressBar()->value(), 0);
      pairs->setCurrentRow(0);
      whenModal<TfrmShowDifference>([&](TfrmShowDifference* viewer) {
        viewerShown = true;
        viewer->ToolButton1Click();
      });
      press("btnShowDifference");
    });
    EXPECT_FALSE(viewerShown);
    ASSERT_EQ(messages->shown.size(), 2u);  // the run's error and the showing's
    for (const auto& m : messages->shown) EXPECT_EQ(m.style, ui::MB_OK | ui::MB_ICONSTOP);
  }
  EXPECT_EQ(everyCount(), before);
}

}  // namespace
}  // namespace dupsweep
