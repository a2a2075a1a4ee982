// Schemes through the dialog: saving the pair list under the name in cmbPrecept, picking a name to
// load its pairs, deleting a scheme, the names refused, and failures of writing. The file format
// itself is tested with the scheme module.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <QApplication>

#include "dialog/dialog_harness.h"

namespace dupsweep {
namespace {

namespace fs = std::filesystem;
using testing::DialogHarness;
using testing::fields;

// GBK bytes of the Chinese texts of the installed file.
const std::string kBeijingGbk = "\xB1\xB1\xBE\xA9\xB7\xD6\xB9\xAB\xCB\xBE";  // 北京分公司
const std::string kShanghaiGbk = "\xC9\xCF\xBA\xA3";                         // 上海

// A scheme file as the existing installations write it: GBK bytes, CR LF, the writer's keys.
const std::string kInstalledFile = "[" + kBeijingGbk + "=>" + kShanghaiGbk + "]\r\n" +
                                   "UnitcodeS=0001\r\n" + "UnitNameS=" + kBeijingGbk + "\r\n" +
                                   "UnitIDS=12\r\n" + "nLevelS=0\r\n" + "UnitcodeD=0001002\r\n" +
                                   "UnitNameD=" + kShanghaiGbk + "\r\n" + "UnitIDD=-7\r\n" +
                                   "nLevelD=1\r\n";

const ui::Message kSaved{"方案保存完毕", "系统提示", ui::MB_OK};
const ui::Message kRefused{"方案名称不能包含路径分隔符或控制字符", "系统提示",
                           ui::MB_OK | ui::MB_ICONINFORMATION};

// The installed file's two units are units of the host (filed where the tree does not reach
// them), so loading it finds them by their codes.
class SchemeDialogTest : public DialogHarness {
 protected:
  void SetUp() override {
    DialogHarness::SetUp();
    db.exec(R"(INSERT INTO Unit VALUES (112,'北京分公司'),(-7,'上海');
               INSERT INTO UnitClsAndUnit VALUES ('01',112,0,'ELSEWHERE','0001'),
                                                 ('01',-7,1,'0001','0001002');)");
  }
};

TEST_F(SchemeDialogTest, SavingAndLoadingGivesBackEveryUnitsCodeNameIdAndLevel) {
  ui::ScopedScriptedMessages messages;
  std::vector<std::string> savedTexts;
  std::vector<std::tuple<std::int32_t, std::string, std::int32_t, std::string>> saved;
  run([&] {
    clickExpandButton(top(0));
    clickExpandButton(top(0)->child(1));
    addPair(top(0), top(0)->child(0));
    addPair(top(0)->child(1)->child(0), top(1));
    typeSchemeName("方案一");
    press("cmdSave");
    savedTexts = pairTexts();
    for (int row = 0; row < pairs->count(); ++row) {
      saved.push_back(fields(*dialog->pairAt(row)->UnitS));
      saved.push_back(fields(*dialog->pairAt(row)->UnitD));
    }
    EXPECT_EQ(schemeNames(), (std::vector<std::string>{"方案一"}));
    EXPECT_EQ(pairTexts(), savedTexts);  // saving leaves the list as it is
  });
  EXPECT_EQ(messages->shown, (std::vector<ui::Message>{kSaved}));
  EXPECT_EQ(filesIn(schemeDir), (std::vector<std::string>{"方案一.Unitdata"}));
  ASSERT_EQ(saved.size(), 4u);
  EXPECT_EQ(saved[0], fields({9, "Z0101", 1, "北京分公司"}));
  EXPECT_EQ(saved[1], fields({7, "Z01", 0, "总公司"}));
  EXPECT_EQ(saved[2], fields({3, "A01", 0, "华东分部"}));
  EXPECT_EQ(saved[3], fields({12, "Z010201", 2, "浦东支公司"}));

  // The next dialog lists the scheme and loads it.
  run([&] {
    ASSERT_EQ(schemeNames(), (std::vector<std::string>{"方案一"}));
    EXPECT_TRUE(pairTexts().empty());
    pickScheme(0);
    EXPECT_EQ(pairTexts(), savedTexts);
    for (int row = 0; row < pairs->count(); ++row) {
      EXPECT_EQ(fields(*dialog->pairAt(row)->UnitS), saved[2 * row]);
      EXPECT_EQ(fields(*dialog->pairAt(row)->UnitD), saved[2 * row + 1]);
      EXPECT_EQ(dialog->pairAt(row)->GroupName, savedTexts[row]);
    }
    EXPECT_EQ(buttonStates(), "-++");
  });
}

TEST_F(SchemeDialogTest, AFileWrittenByAnInstallationIsListedAndLoads) {
  writeBytes(schemeFile("Installed"), kInstalledFile);
  // Its last section lacks "UnitcodeD": not a scheme.
  writeBytes(schemeFile("Broken"), kInstalledFile + "[B]\r\nUnitcodeS=1\r\n");
  run([&] {
    ASSERT_EQ(schemeNames(), (std::vector<std::string>{"Installed"}));
    pickScheme(0);
    ASSERT_EQ(pairTexts(), (std::vector<std::string>{"北京分公司=>上海"}));
    // The identifier is the database's (the file says 12).
    EXPECT_EQ(fields(*dialog->pairAt(0)->UnitS), fields({112, "0001", 0, "北京分公司"}));
    EXPECT_EQ(fields(*dialog->pairAt(0)->UnitD), fields({-7, "0001002", 1, "上海"}));
  });
}

TEST_F(SchemeDialogTest, PairsOfTheSameNameAreAllSavedAndAPairLostByTheFileIsNamed) {
  // A second 北京分公司 and 上海 elsewhere: a pair of them has the installed pair's name.
  db.exec(R"(INSERT INTO Unit VALUES (113,'北京分公司'),(-8,'上海');
             INSERT INTO UnitClsAndUnit VALUES ('01',113,0,'ELSEWHERE','0002'),
                                               ('01',-8,1,'0002','0002002');)");
  const std::string twin = "[Twin]\r\nUnitcodeS=0002\r\nUnitcodeD=0002002\r\n";
  writeBytes(schemeFile("Twins"), kInstalledFile + twin);
  // A hand-edited file whose section name stands twice: the reader keeps the last.
  writeBytes(schemeFile("Twice"), twin + "[Twin]\r\nUnitcodeS=0001\r\nUnitcodeD=0001002\r\n");
  ui::ScopedScriptedMessages messages;
  run([&] {
    ASSERT_EQ(schemeNames(), (std::vector<std::string>{"Twice", "Twins"}));
    pickScheme(1);
    typeSchemeName("Saved");
    press("cmdSave");
    pickScheme(2);
    EXPECT_EQ(pairTexts(),
              (std::vector<std::string>{"北京分公司=>上海", "北京分公司=>上海（0002/0002002）"}));
    EXPECT_EQ(dialog->pairAt(1)->UnitS->sUnitCode, "0002");
    pickScheme(0);
    EXPECT_EQ(pairTexts(), (std::vector<std::string>{"Twin"}));
    EXPECT_EQ(dialog->pairAt(0)->UnitS->sUnitCode, "0001");
  });
  EXPECT_EQ(messages->shown,
            (std::vector<ui::Message>{
                {"方案保存完毕\n以下单位组与前面的单位组同名，保存时在名称后加上了两个单位的代码："
                 "\n北京分公司=>上海（0002/0002002）",
                 "系统提示", ui::MB_OK},
                {"方案文件中以下单位组与后面的单位组同名，没有载入：\nTwin（0002/0002002）",
                 "系统提示", ui::MB_OK | ui::MB_ICONINFORMATION}}));
}

TEST_F(SchemeDialogTest, PickingASchemeReplacesThePairsAndEmptiesTheRepeatedSheets) {
  writeBytes(schemeFile("Installed"), kInstalledFile);
  run([&] {
    addPair(top(0), top(1));
    addPair(top(1), top(2));
    // What a comparison run leaves behind.
    auto* sheets = dialog->findChild<QListWidget*>("lsbDifference");
    DifferenceData found;
    found.sGroupName = "总公司=>华东分部";
    found.Sample.sSampleName = "资产负债表";
    sheets->addItem(new SampleEntry(found));
    button("cmdDelRepetition")->setEnabled(true);

    pickScheme(0);
    EXPECT_EQ(pairTexts(), (std::vector<std::string>{"北京分公司=>上海"}));
    EXPECT_EQ(sheets->count(), 0);
    EXPECT_FALSE(button("cmdDelRepetition")->isEnabled());
    EXPECT_EQ(buttonStates(), "-++");
  });
}

TEST_F(SchemeDialogTest, SavingUnderAListedNameInOtherLetterCaseListsItOnce) {
  ui::ScopedScriptedMessages messages;
  writeBytes(schemeFile("Alpha"), kInstalledFile);
  run([&] {
    addPair(top(0), top(1));
    typeSchemeName("ALPHA");
    press("cmdSave");
    EXPECT_EQ(schemeNames(), (std::vector<std::string>{"Alpha"}));
    typeSchemeName("Alpha");
    press("cmdSave");
    EXPECT_EQ(schemeNames(), (std::vector<std::string>{"Alpha"}));
  });
  EXPECT_EQ(messages->shown, (std::vector<ui::Message>{kSaved, kSaved}));
  // The file now holds the pair of the list, and nothing of its earlier content.
  const std::string content = readBytes(schemeFile("Alpha"));
  EXPECT_NE(content.find("UnitcodeS=A01"), std::string::npos);
  EXPECT_EQ(content.find("0001002"), std::string::npos);
}

TEST_F(SchemeDialogTest, SavingAnEmptyListDeletesTheFileButListsTheName) {
  ui::ScopedScriptedMessages messages;
  writeBytes(schemeFile("Old"), kInstalledFile);
  run([&] {
    typeSchemeName("Old");
    press("cmdSave");
    typeSchemeName("New");
    press("cmdSave");
    EXPECT_EQ(schemeNames(), (std::vector<std::string>{"Old", "New"}));
    addPair(top(0), top(1));
    pickScheme(1);  // no file behind it: an empty pair list
    EXPECT_TRUE(pairTexts().empty());
    EXPECT_EQ(buttonStates(), "+--");
  });
  EXPECT_EQ(messages->shown, (std::vector<ui::Message>{kSaved, kSaved}));
  EXPECT_TRUE(filesIn(schemeDir).empty());
}

TEST_F(SchemeDialogTest, ABlankNameSavesAndDeletesNothing) {
  ui::ScopedScriptedMessages messages;
  writeBytes(schemeFile("Installed"), kInstalledFile);
  run([&] {
    addPair(top(0), top(1));
    for (const QString& name : {QString(""), QString("   "), QString(" \t ")}) {
      precept->setEditText(name);
      press("cmdSave");
      press("cmdDel");
      EXPECT_EQ(pairTexts(), (std::vector<std::string>{"华东分部=>总公司"}));
      EXPECT_EQ(buttonStates(), "+++");
      EXPECT_EQ(schemeNames(), (std::vector<std::string>{"Installed"}));
    }
  });
  EXPECT_TRUE(messages->shown.empty());
  EXPECT_EQ(filesIn(schemeDir), (std::vector<std::string>{"Installed.Unitdata"}));
}

TEST_F(SchemeDialogTest, ANameThatIsNotABareFileNameIsRefusedAndNothingIsWrittenOrDeleted) {
  ui::ScopedScriptedMessages messages;
  // A scheme beside the scheme directory, which a name with a path would reach.
  const std::string outside = (db.dir() / "victim.Unitdata").string();
  writeBytes(outside, kInstalledFile);
  writeBytes(schemeFile("Installed"), kInstalledFile);
  const std::vector<std::string> outsideBefore = filesIn(db.dir().string());
  const std::vector<QString> names = {
      "../victim", "sub/victim", "sub\\victim", ".", "..", "a\tb", QString("a") + QChar(0x7F) + "b",
      "/tmp/x"};
  run([&] {
    addPair(top(0), top(1));
    for (const QString& name : names) {
      SCOPED_TRACE(name.toStdString());
      precept->setEditText(name);
      press("cmdSave");
      press("cmdDel");
      EXPECT_EQ(pairTexts(), (std::vector<std::string>{"华东分部=>总公司"}));
      EXPECT_EQ(buttonStates(), "+++");
      EXPECT_EQ(schemeNames(), (std::vector<std::string>{"Installed"}));
    }
  });
  EXPECT_EQ(messages->shown, std::vector<ui::Message>(2 * names.size(), kRefused));
  EXPECT_EQ(readBytes(outside), kInstalledFile);
  EXPECT_EQ(filesIn(db.dir().string()), outsideBefore);
  EXPECT_EQ(filesIn(schemeDir), (std::vector<std::string>{"Installed.Unitdata"}));
  EXPECT_FALSE(fs::exists("/tmp/x.Unitdata"));
}

TEST_F(SchemeDialogTest, SavingIntoAMissingDirectoryShowsTheWriteFailure) {
  ui::ScopedScriptedMessages messages;
  QGuiApplication::setApplicationDisplayName("报表系统");
  schemeDir = (db.dir() / "missing").string() + "/";
  run([&] {
    addPair(top(0), top(1));
    typeSchemeName("S");
    press("cmdSave");
    EXPECT_TRUE(schemeNames().empty());  // not listed
    EXPECT_EQ(pairTexts(), (std::vector<std::string>{"华东分部=>总公司"}));
  });
  QGuiApplication::setApplicationDisplayName({});
  EXPECT_EQ(messages->shown,
            (std::vector<ui::Message>{{"Unable to write to " + schemeDir + "S.Unitdata.",
                                       "报表系统", ui::MB_OK | ui::MB_ICONSTOP}}));
  EXPECT_FALSE(fs::exists(schemeDir));
}

TEST_F(SchemeDialogTest, AWriteThatFailsHalfWayLeavesTheOldSchemeIntact) {
  ui::ScopedScriptedMessages messages;
  writeBytes(schemeFile("Old"), kInstalledFile);
  // A scheme large enough that writing it outgrows the file size limit set below.
  std::string big;
  for (int i = 0; i < 200; ++i) {
    const std::string n = std::to_string(i);
    big += "[Unit" + n + "=>Other]\r\nUnitcodeS=C" + n + "\r\nUnitNameS=Unit" + n +
           "\r\nUnitIDS=" + n + "\r\nnLevelS=0\r\nUnitcodeD=D\r\nUnitNameD=Other\r\n" +
           "UnitIDD=1\r\nnLevelD=0\r\n";
  }
  writeBytes(schemeFile("Big"), big);
  run([&] {
    ASSERT_EQ(schemeNames(), (std::vector<std::string>{"Big", "Old"}));
    pickScheme(0);
    ASSERT_EQ(pairs->count(), 200);
    typeSchemeName("Old");
    // The file size limit stands in for a full disk (root ignores permission bits).
    struct rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    press("cmdSave");
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, oldHandler);
  });
  // The load names the pairs whose units the host does not have; then the failure, and no
  // confirmation.
  ASSERT_EQ(messages->shown.size(), 2u);
  EXPECT_EQ(messages->shown[0].text.rfind("方案中以下单位组不能比对", 0), 0u);
  EXPECT_EQ(messages->shown[1].text, "Unable to write to " + schemeFile("Old") + ".");
  EXPECT_EQ(messages->shown[1].style, ui::MB_OK | ui::MB_ICONSTOP);
  EXPECT_EQ(readBytes(schemeFile("Old")), kInstalledFile);
  EXPECT_EQ(filesIn(schemeDir), (std::vector<std::string>{"Big.Unitdata", "Old.Unitdata"}));
}

TEST_F(SchemeDialogTest, DeletingASchemeRemovesItsFileThePairsAndTheSelectedEntry) {
  ui::ScopedScriptedMessages messages;
  for (const char* name : {"A", "B", "C"}) writeBytes(schemeFile(name), kInstalledFile);
  run([&] {
    ASSERT_EQ(schemeNames(), (std::vector<std::string>{"A", "B", "C"}));
    auto* sheets = dialog->findChild<QListWidget*>("lsbDifference");
    pickScheme(1);
    ASSERT_EQ(pairs->count(), 1);
    sheets->addItem(new SampleEntry(DifferenceData()));
    button("cmdDelRepetition")->setEnabled(true);

    press("cmdDel");
    EXPECT_FALSE(fs::exists(schemeFile("B")));
    EXPECT_EQ(schemeNames(), (std::vector<std::string>{"A", "C"}));
    EXPECT_EQ(precept->currentText(), "B");  // the name stays in the box
    EXPECT_TRUE(pairTexts().empty());
    EXPECT_EQ(buttonStates(), "+--");
    EXPECT_FALSE(button("cmdDelRepetition")->isEnabled());
    EXPECT_EQ(sheets->count(), 0);

    // The entry removed is the selected one, found by position, whatever name was typed; also
    // when the typed name is listed and the click on the button ends the typing.
    activate();
    pickScheme(0);
    precept->lineEdit()->setFocus();
    typeSchemeName("C");
    press("cmdDel");
    EXPECT_EQ(QApplication::focusWidget(), button("cmdDel"));
    EXPECT_FALSE(fs::exists(schemeFile("C")));
    EXPECT_TRUE(fs::exists(schemeFile("A")));
    EXPECT_EQ(schemeNames(), (std::vector<std::string>{"C"}));

    // A typed name with no entry selected: its file goes, the list stays.
    typeSchemeName("A");
    press("cmdDel");
    EXPECT_FALSE(fs::exists(schemeFile("A")));
    EXPECT_EQ(schemeNames(), (std::vector<std::string>{"C"}));
  });
  EXPECT_TRUE(messages->shown.empty());  // no confirmation, no message
  EXPECT_TRUE(filesIn(schemeDir).empty());
}

TEST_F(SchemeDialogTest, TypingAListedNameIsNoPickAndSavingKeepsTheHandBuiltPairs) {
  ui::ScopedScriptedMessages messages;
  writeBytes(schemeFile("Alpha"), kInstalledFile);
  run([&] {
    activate();
    addPair(top(0), top(2));
    precept->lineEdit()->setFocus();
    typeSchemeName("Alpha");
    // The click on the save button takes the focus from the name.
    press("cmdSave");
    EXPECT_EQ(QApplication::focusWidget(), button("cmdSave"));
    EXPECT_EQ(pairTexts(), (std::vector<std::string>{"西部公司=>总公司"}));
    EXPECT_EQ(buttonStates(), "+++");
    // Enter in the name, also after the name was completed from the list, loads nothing.
    precept->lineEdit()->setFocus();
    typeSchemeName("Alpha");
    QTest::keyClick(precept->lineEdit(), Qt::Key_Return);
    typeSchemeName("Al");
    EXPECT_EQ(precept->currentText(), "Alpha");  // completed inline
    QTest::keyClick(precept->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(pairTexts(), (std::vector<std::string>{"西部公司=>总公司"}));
    EXPECT_EQ(buttonStates(), "+++");
    // Picking the entry loads it: the pair just saved, as a loaded scheme.
    pickScheme(0);
    EXPECT_EQ(pairTexts(), (std::vector<std::string>{"西部公司=>总公司"}));
    EXPECT_EQ(buttonStates(), "-++");
  });
  EXPECT_EQ(messages->shown, (std::vector<ui::Message>{kSaved}));
  const std::string content = readBytes(schemeFile("Alpha"));
  EXPECT_NE(content.find("UnitcodeS=M01"), std::string::npos);
  EXPECT_EQ(content.find("0001002"), std::string::npos);
}

}  // namespace
}  // namespace dupsweep
